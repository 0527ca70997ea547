// Serial ports used only for their modem-control lines: the key's contacts are fed from DTR and
// read back on CTS, DSR, RING and RLSD. No data is ever sent or received.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace dittix::platform {

// Port numbers name ports as "COM" followed by the number, 1 to 98 in the interface.
inline constexpr int kFirstPortNumber = 1;
inline constexpr int kLastPortNumber = 98;

enum class SerialErrorCode { NoDevice, PermissionDenied, Busy, Other };

struct SerialError {
    SerialErrorCode code = SerialErrorCode::Other;
    std::string message;  // for a tooltip: the device path and the reason
};

// One open port. Several owners may share it (the key port and a found port): closing it through
// any of them closes it for all, and a closed port reads as no line active.
class SerialHandle {
  public:
    virtual ~SerialHandle() = default;
    // The modem status word: CTS 0x10, DSR 0x20, RING 0x40, RLSD 0x80; 0 when the read fails or
    // the port is closed.
    virtual std::uint32_t readModemStatus() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

  protected:
    SerialHandle() = default;
};

struct SerialOpenResult {
    std::shared_ptr<SerialHandle> handle;  // null when the open failed
    SerialError error;                     // set when it failed
};

class SerialPorts {
  public:
    virtual ~SerialPorts() = default;
    // Opens port `number` exclusively (a port already open here or in another program fails)
    // and raises DTR, keeping the rest of the port's configuration. Called by one thread at a
    // time.
    virtual SerialOpenResult open(int number) = 0;
    // The device behind a port number, shown to the operator as a tooltip.
    virtual std::string devicePath(int number) const = 0;
    // Whether open() may run on a thread other than the interface thread, which then reads and
    // closes the handles it gave.
    virtual bool opensOnAnyThread() const = 0;

  protected:
    SerialPorts() = default;
};

// Linux: COM1-COM16 are /dev/ttyUSB0-15, COM17-COM32 /dev/ttyACM0-15, COM33-COM64 /dev/ttyS0-31,
// COM65 and above no device (empty). Windows: \\.\COMn.
std::string devicePathForPort(int number);

// The real ports. On Linux (and other POSIX systems) through the terminal interface, with the
// same lock files as the toolkit's serial support, so that they open on any thread; on Windows
// through the toolkit's serial support, on the interface thread only.
std::unique_ptr<SerialPorts> makeSystemSerialPorts();
// The real ports through the toolkit's serial support (what Windows uses), on every system.
std::unique_ptr<SerialPorts> makeToolkitSerialPorts();

// Opens one device by its path the way SerialPorts::open does for a port number. For tests and
// benchmarks that bring their own pseudo-terminal.
SerialOpenResult openSerialDevicePath(const std::string& path);
SerialOpenResult openToolkitSerialDevicePath(const std::string& path);

}  // namespace dittix::platform
