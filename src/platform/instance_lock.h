// One running program per settings folder: a lock on a file in that folder, held for the life of
// the process. The system frees it when the process ends, however it ends (a crash included).
#pragma once

#include <filesystem>
#include <system_error>

namespace dittix::platform {

enum class InstanceLockState {
    Held,           // this process holds the lock
    HeldElsewhere,  // another process holds it
    Unavailable     // the lock file cannot be made or locked (e.g. a read-only folder)
};

class InstanceLock {
  public:
    // Takes the lock on `lockFile` without waiting, creating the file when it is missing. The
    // file itself is never removed: its presence means nothing, only the lock does.
    static InstanceLock acquire(const std::filesystem::path& lockFile);

    InstanceLock(InstanceLock&& other) noexcept;
    InstanceLock& operator=(InstanceLock&& other) noexcept;
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;
    ~InstanceLock();  // releases a lock held

    InstanceLockState state() const { return m_state; }
    // Why the lock is Unavailable.
    std::error_code error() const { return m_error; }

  private:
    InstanceLock() = default;
    void release();

    InstanceLockState m_state = InstanceLockState::Unavailable;
    std::error_code m_error;
#if defined(_WIN32)
    void* m_handle = nullptr;
#else
    int m_fd = -1;
#endif
};

// The lock file that guards a settings file: beside it, named after it ("settings.ini.lock").
std::filesystem::path lockFileFor(const std::filesystem::path& settingsFile);

}  // namespace dittix::platform
