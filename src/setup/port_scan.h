// The probing part of the port scan on a thread of its own, so that the interface thread (and
// with it the 10 ms decode tick) never waits for a device while ports 1 to 98 are tried.
#pragma once

#include <QObject>

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/serial_lines.h"
#include "setup/key_port.h"

namespace dittix::setup {

class PortScan {
  public:
    // `ready` runs on the interface thread, from its event loop, when a probe has ended and its
    // result can be taken. Ports that may only be opened on the interface thread are probed
    // there, within start(), which then runs `ready` before it returns.
    PortScan(platform::SerialPorts& ports, std::function<void()> ready);
    // A probe still running is stopped before its next port and waited for; every port it
    // opened, and every port of a result not taken, is closed.
    ~PortScan();
    PortScan(const PortScan&) = delete;
    PortScan& operator=(const PortScan&) = delete;

    // Starts a probe that first closes `closing`. Only while none is running.
    void start(Handles closing);
    // From start until the result is taken.
    bool running() const { return m_running; }
    // The result of the probe, once it has ended; nothing while it runs (or none was started).
    std::optional<FoundPorts> take();
    // Waits for the running probe to end, so that take() gives its result.
    void finish();

  private:
    void probe(Handles closing);

    platform::SerialPorts& m_ports;
    std::function<void()> m_ready;
    // Receives the queued call to `ready`; a call still queued goes with it.
    QObject m_receiver;
    std::atomic<bool> m_stop{false};
    std::mutex m_lock;
    std::optional<FoundPorts> m_result;  // guarded by m_lock
    bool m_running = false;
    std::thread m_thread;
};

}  // namespace dittix::setup
