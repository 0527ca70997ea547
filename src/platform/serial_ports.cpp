// Port numbers to devices, and which implementation serves the real ports on this system.
#include <array>

#include "platform/posix_serial_ports.h"
#include "platform/serial_lines.h"

namespace dittix::platform {

namespace {

// Linux device families in port-number order: COM1-16, COM17-32, COM33-64.
struct DeviceFamily {
    int firstPort;
    int lastPort;
    const char* prefix;
};
constexpr std::array<DeviceFamily, 3> kLinuxFamilies{{
    {1, 16, "/dev/ttyUSB"},
    {17, 32, "/dev/ttyACM"},
    {33, 64, "/dev/ttyS"},
}};

}  // namespace

std::string devicePathForPort(int number) {
#ifdef _WIN32
    return number >= 1 ? "\\\\.\\COM" + std::to_string(number) : std::string();
#else
    for (const DeviceFamily& family : kLinuxFamilies) {
        if (number >= family.firstPort && number <= family.lastPort) {
            return family.prefix + std::to_string(number - family.firstPort);
        }
    }
    return {};
#endif
}

std::unique_ptr<SerialPorts> makeSystemSerialPorts() {
#ifdef _WIN32
    return makeToolkitSerialPorts();
#else
    return makePosixSerialPorts();
#endif
}

SerialOpenResult openSerialDevicePath(const std::string& path) {
#ifdef _WIN32
    return openToolkitSerialDevicePath(path);
#else
    return openPosixSerialDevicePath(path);
#endif
}

}  // namespace dittix::platform
