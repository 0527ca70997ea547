// The key port on the POSIX terminal interface: exclusive open with the lock file that the
// toolkit's serial support and other programs use, DTR raised, modem-status lines read back.
#include "platform/posix_serial_ports.h"

#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QString>

#include <array>
#include <cerrno>
#include <cstdint>
#include <utility>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace dittix::platform {
namespace {

// Where lock files are looked for, in this order: the first folder that can be read and either
// holds the port's lock file already or can be written. The same folders in the same order as
// the toolkit's serial support, so that both see each other's locks.
constexpr std::array<const char*, 8> kLockFolders{
    "/var/lock", "/etc/locks", "/var/spool/locks",  "/var/spool/uucp",
    "/tmp",      "/var/tmp",   "/var/lock/lockdev", "/run/lock",
};

// "LCK.." and the device's name below /dev, with every '/' as '_': /dev/ttyUSB0 locks as
// LCK..ttyUSB0, /dev/pts/3 as LCK..pts_3. Empty when no folder will do.
QString lockFilePath(const std::string& device) {
    QString name = QString::fromStdString(device);
    if (name.startsWith(QLatin1String("/dev/"))) {
        name = name.mid(5);
    }
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    name.prepend(QLatin1String("/LCK.."));
    for (const char* folder : kLockFolders) {
        const QString path = QLatin1String(folder) + name;
        const QFileInfo info{QLatin1String(folder)};
        if (info.isReadable() && (QFile::exists(path) || info.isWritable())) {
            return path;
        }
    }
    return {};
}

// The status inputs with their bits in the modem status word.
constexpr std::array<std::pair<int, std::uint32_t>, 4> kStatusBits{{
    {TIOCM_CTS, 0x10},
    {TIOCM_DSR, 0x20},
    {TIOCM_RNG, 0x40},
    {TIOCM_CAR, 0x80},
}};

class PosixSerialHandle final : public SerialHandle {
  public:
    PosixSerialHandle(int fd, const termios& found, std::unique_ptr<QLockFile> lock)
        : m_fd(fd), m_found(found), m_lock(std::move(lock)) {}
    ~PosixSerialHandle() override { close(); }
    PosixSerialHandle(const PosixSerialHandle&) = delete;
    PosixSerialHandle& operator=(const PosixSerialHandle&) = delete;

    std::uint32_t readModemStatus() override {
        int lines = 0;
        if (m_fd < 0 || ::ioctl(m_fd, TIOCMGET, &lines) != 0) {
            return 0;
        }
        std::uint32_t word = 0;
        for (const auto& [line, bit] : kStatusBits) {
            if ((lines & line) != 0) {
                word |= bit;
            }
        }
        return word;
    }

    void close() override {
        if (m_fd < 0) {
            return;
        }
        // The line's settings as they were found, then the device and its lock let go, in that
        // order, so that nobody takes the lock of a port still open.
        ::tcsetattr(m_fd, TCSANOW, &m_found);
        ::ioctl(m_fd, TIOCNXCL);
        ::close(m_fd);
        m_fd = -1;
        m_lock.reset();
    }

    bool isOpen() const override { return m_fd >= 0; }

  private:
    int m_fd;
    termios m_found;
    std::unique_ptr<QLockFile> m_lock;  // unlocks when it goes
};

SerialError failure(const std::string& path, int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
        case ENODEV:
        case ENXIO:
            return {SerialErrorCode::NoDevice, path + ": not found"};
        case EACCES:
        case EPERM:
            return {SerialErrorCode::PermissionDenied, path + ": permission denied"};
        case EBUSY:
            return {SerialErrorCode::Busy, path + ": in use by another program"};
        default:
            return {SerialErrorCode::Other,
                    path + ": cannot be opened (error " + std::to_string(error) + ")"};
    }
}

class PosixSerialPorts final : public SerialPorts {
  public:
    SerialOpenResult open(int number) override {
        const std::string path = devicePathForPort(number);
        if (path.empty()) {
            return {nullptr,
                    {SerialErrorCode::NoDevice, "COM" + std::to_string(number) + ": no device"}};
        }
        return openPosixSerialDevicePath(path);
    }

    std::string devicePath(int number) const override { return devicePathForPort(number); }
    bool opensOnAnyThread() const override { return true; }
};

}  // namespace

SerialOpenResult openPosixSerialDevicePath(const std::string& path) {
    // Most port numbers have no device: those fail here, before any lock file is made.
    struct stat node {};
    if (::stat(path.c_str(), &node) != 0) {
        return {nullptr, failure(path, errno)};
    }
    // The lock first, as every program that honours lock files does, so that a port another
    // program has locked is not even opened (opening it could change its lines).
    const QString lockPath = lockFilePath(path);
    if (lockPath.isEmpty()) {
        return {nullptr, {SerialErrorCode::Other, path + ": no folder for its lock file"}};
    }
    auto lock = std::make_unique<QLockFile>(lockPath);
    if (!lock->tryLock(0)) {
        if (lock->error() == QLockFile::LockFailedError) {
            return {nullptr, failure(path, EBUSY)};
        }
        return {nullptr, {SerialErrorCode::Other, path + ": its lock file cannot be made"}};
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return {nullptr, failure(path, errno)};
    }
    // Exclusive: a further open fails with EBUSY, except for the superuser, whom the lock file
    // stops. A device that refuses it is used all the same.
    ::ioctl(fd, TIOCEXCL);
    termios found{};
    if (::tcgetattr(fd, &found) != 0) {
        ::close(fd);
        return {nullptr, {SerialErrorCode::Other, path + ": not a serial port"}};
    }
    // Raw, so that nothing that arrives is echoed or turned into signals, and local, so that a
    // carrier (RLSD) that drops does not hang the line up: the dot paddle is wired to it. The
    // speed stays as found; the settings found come back on closing.
    termios raw = found;
    ::cfmakeraw(&raw);
    raw.c_cflag |= CLOCAL | CREAD;
    ::tcsetattr(fd, TCSANOW, &raw);
    // DTR feeds the key's contacts. A device without modem control (a pseudo-terminal, some
    // adapters) refuses it; the port stays open and then simply reads as no line active.
    const int dtr = TIOCM_DTR;
    ::ioctl(fd, TIOCMBIS, &dtr);
    return {std::make_shared<PosixSerialHandle>(fd, found, std::move(lock)), {}};
}

std::unique_ptr<SerialPorts> makePosixSerialPorts() {
    return std::make_unique<PosixSerialPorts>();
}

}  // namespace dittix::platform
