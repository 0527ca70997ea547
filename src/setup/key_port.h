// The serial port that serves as the key input, the ports found by a scan, and the operations
// on them that the setup window's handlers perform. A found port stays open so that its line
// indicator can be read; the key port may share one of them: it is open once, and closing it
// through either side closes it for both.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/key_lines.h"
#include "platform/serial_lines.h"

namespace dittix::setup {

inline constexpr int kMaxFoundPorts = 5;

struct FoundPort {
    int number = 0;
    std::shared_ptr<platform::SerialHandle> handle;

    bool isOpen() const { return handle != nullptr && handle->isOpen(); }
};

struct FoundPorts {
    std::array<FoundPort, kMaxFoundPorts> entries;
    int count = 0;
};

using Handles = std::vector<std::shared_ptr<platform::SerialHandle>>;

// The probing part of a port scan: closes `closing` (each given once), then tries ports 1 to 98
// in order and keeps at most five that open, with DTR raised. It touches nothing but `ports`
// and the handles, so it may run on another thread while the interface thread goes on. When
// `stop` is set it ends before the next port, keeping what it found.
FoundPorts probePorts(platform::SerialPorts& ports, Handles closing, const std::atomic<bool>& stop);

// What opening a picked port gave: empty message on success, otherwise the message line's text
// and, for its tooltip, the device and the reason.
struct PortMessage {
    std::string text;
    std::string detail;
};

class KeyPort : public platform::KeyLines {
  public:
    // `number` is the shared setting "Serial Port", changed here as the operator picks ports.
    KeyPort(platform::SerialPorts& ports, std::int32_t& number);

    // At start-up: opens the port with the stored number and raises DTR; silent on failure.
    void openKeyPort();
    // Once per decode tick: the status word, 0 without an open port or when the read fails.
    std::uint32_t readKeyLines() override;

    // A pick in the port list (position p is port p + 1): the key port's port is closed and the
    // new one opened; the number stays even when the open fails.
    PortMessage serialeChange(int position);
    // A found port's row chosen: the key port shares that row's port. A port that the key port
    // had opened itself is closed, so that it does not stay locked until the program ends.
    void rbComClick(int row);
    // Closes every port held, then probes ports 1 to 98 and keeps at most five that open, with
    // DTR raised. When the key port's number is among them the key port shares it; otherwise the
    // first found port becomes the key port (`fellBack` tells the window to update its list).
    struct ScanOutcome {
        bool fellBack = false;
    };
    ScanOutcome scan();
    // The same scan in three steps, so that the probing can run on another thread: beginScan
    // lets go of every port held and returns them for the probe to close (the key port reads no
    // line and the list is empty until the result is applied); applyScan takes the probe's
    // ports as the found ports and picks the key port among them.
    Handles beginScan();
    ScanOutcome applyScan(FoundPorts found);
    // The line monitor: for each found port, whether any status line is active.
    std::array<bool, kMaxFoundPorts> monitor();

    bool isOpen() const { return m_handle != nullptr && m_handle->isOpen(); }
    std::int32_t number() const { return m_number; }
    const FoundPorts& found() const { return m_found; }
    std::string devicePath(int number) const { return m_ports.devicePath(number); }
    platform::SerialPorts& ports() const { return m_ports; }
    // The message for a key port without a handle, as the setup window shows it.
    PortMessage unableMessage() const;

  private:
    void closeKeyPort();

    platform::SerialPorts& m_ports;
    std::int32_t& m_number;
    std::shared_ptr<platform::SerialHandle> m_handle;
    bool m_ownsHandle = false;  // opened by the key port itself, not shared with a found port
    platform::SerialError m_lastError;
    FoundPorts m_found;
};

// No serial ports at all (tests, and platforms without serial support): every open fails.
class NoSerialPorts : public platform::SerialPorts {
  public:
    platform::SerialOpenResult open(int number) override;
    std::string devicePath(int) const override { return {}; }
    bool opensOnAnyThread() const override { return true; }
};

}  // namespace dittix::setup
