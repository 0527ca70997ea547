// The real serial ports through the POSIX terminal interface: plain file descriptors, so a port
// opened on one thread is read and closed on another.
#pragma once

#include <memory>
#include <string>

#include "platform/serial_lines.h"

namespace dittix::platform {

std::unique_ptr<SerialPorts> makePosixSerialPorts();
SerialOpenResult openPosixSerialDevicePath(const std::string& path);

}  // namespace dittix::platform
