// The port scan's probe thread.
#include "setup/port_scan.h"

#include <QMetaObject>

namespace dittix::setup {

namespace {

void closeAll(const FoundPorts& found) {
    for (int i = 0; i < found.count; ++i) {
        if (const auto& handle = found.entries[static_cast<std::size_t>(i)].handle) {
            handle->close();
        }
    }
}

}  // namespace

PortScan::PortScan(platform::SerialPorts& ports, std::function<void()> ready)
    : m_ports(ports), m_ready(std::move(ready)) {}

PortScan::~PortScan() {
    m_stop.store(true);
    if (m_thread.joinable()) {
        m_thread.join();
    }
    const std::lock_guard lock(m_lock);
    if (m_result) {
        closeAll(*m_result);
    }
}

void PortScan::start(Handles closing) {
    if (m_running) {
        return;
    }
    if (m_thread.joinable()) {
        m_thread.join();  // the previous probe, ended: its result was taken
    }
    m_running = true;
    if (!m_ports.opensOnAnyThread()) {
        probe(std::move(closing));
        m_ready();
        return;
    }
    m_thread = std::thread([this, closing = std::move(closing)]() mutable {
        probe(std::move(closing));
        QMetaObject::invokeMethod(
            &m_receiver, [this] { m_ready(); }, Qt::QueuedConnection);
    });
}

void PortScan::probe(Handles closing) {
    FoundPorts found = probePorts(m_ports, std::move(closing), m_stop);
    const std::lock_guard lock(m_lock);
    m_result = std::move(found);
}

std::optional<FoundPorts> PortScan::take() {
    std::optional<FoundPorts> result;
    {
        const std::lock_guard lock(m_lock);
        result.swap(m_result);
    }
    if (result) {
        m_running = false;
    }
    return result;
}

void PortScan::finish() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

}  // namespace dittix::setup
