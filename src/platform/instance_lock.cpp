// The instance lock: flock on Linux, LockFileEx on Windows.
#include "platform/instance_lock.h"

#include <cerrno>
#include <utility>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace dittix::platform {

InstanceLock InstanceLock::acquire(const std::filesystem::path& lockFile) {
    InstanceLock lock;
#if defined(_WIN32)
    HANDLE handle = CreateFileW(lockFile.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        // An existing lock file that may only be read can still be locked.
        handle = CreateFileW(lockFile.c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (handle == INVALID_HANDLE_VALUE) {
        lock.m_error = std::error_code(static_cast<int>(GetLastError()), std::system_category());
        return lock;
    }
    OVERLAPPED whole{};
    if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole)) {
        const DWORD error = GetLastError();
        CloseHandle(handle);
        if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) {
            lock.m_state = InstanceLockState::HeldElsewhere;
        } else {
            lock.m_error = std::error_code(static_cast<int>(error), std::system_category());
        }
        return lock;
    }
    lock.m_handle = handle;
    lock.m_state = InstanceLockState::Held;
#else
    int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) {
        // An existing lock file that may only be read can still be locked.
        fd = ::open(lockFile.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    }
    if (fd < 0) {
        lock.m_error = std::error_code(errno, std::generic_category());
        return lock;
    }
    int result = 0;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK) {
            lock.m_state = InstanceLockState::HeldElsewhere;
        } else {
            lock.m_error = std::error_code(error, std::generic_category());
        }
        return lock;
    }
    lock.m_fd = fd;
    lock.m_state = InstanceLockState::Held;
#endif
    return lock;
}

InstanceLock::InstanceLock(InstanceLock&& other) noexcept
    : m_state(std::exchange(other.m_state, InstanceLockState::Unavailable)),
      m_error(other.m_error),
#if defined(_WIN32)
      m_handle(std::exchange(other.m_handle, nullptr)) {
}
#else
      m_fd(std::exchange(other.m_fd, -1)) {
}
#endif

InstanceLock& InstanceLock::operator=(InstanceLock&& other) noexcept {
    if (this != &other) {
        release();
        m_state = std::exchange(other.m_state, InstanceLockState::Unavailable);
        m_error = other.m_error;
#if defined(_WIN32)
        m_handle = std::exchange(other.m_handle, nullptr);
#else
        m_fd = std::exchange(other.m_fd, -1);
#endif
    }
    return *this;
}

InstanceLock::~InstanceLock() {
    release();
}

void InstanceLock::release() {
    // Closing the only descriptor of the file releases the lock.
#if defined(_WIN32)
    if (m_handle != nullptr) {
        CloseHandle(static_cast<HANDLE>(m_handle));
        m_handle = nullptr;
    }
#else
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
#endif
}

std::filesystem::path lockFileFor(const std::filesystem::path& settingsFile) {
    std::filesystem::path lock = settingsFile;
    lock += ".lock";
    return lock;
}

}  // namespace dittix::platform
