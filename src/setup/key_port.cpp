// Key port, port scan and line monitor.
#include "setup/key_port.h"

namespace dittix::setup {

namespace {

std::string unableText(int number) {
    return "Unable to open COM" + std::to_string(number);
}

}  // namespace

KeyPort::KeyPort(platform::SerialPorts& ports, std::int32_t& number)
    : m_ports(ports), m_number(number) {}

void KeyPort::openKeyPort() {
    platform::SerialOpenResult result = m_ports.open(m_number);
    m_handle = std::move(result.handle);
    m_ownsHandle = m_handle != nullptr;
    m_lastError = result.error;
}

std::uint32_t KeyPort::readKeyLines() {
    return isOpen() ? m_handle->readModemStatus() : 0;
}

void KeyPort::closeKeyPort() {
    if (isOpen()) {
        m_handle->close();  // a found port sharing it sees it closed as well
    }
    for (int i = 0; i < m_found.count; ++i) {
        FoundPort& slot = m_found.entries[static_cast<std::size_t>(i)];
        if (slot.handle == m_handle) {
            slot.handle = nullptr;
        }
    }
    m_handle = nullptr;
    m_ownsHandle = false;
}

PortMessage KeyPort::serialeChange(int position) {
    m_number = position + 1;
    closeKeyPort();
    openKeyPort();
    if (isOpen()) {
        return {};
    }
    return {unableText(m_number), m_lastError.message};
}

void KeyPort::rbComClick(int row) {
    if (row < 0 || row >= m_found.count) {
        return;
    }
    const FoundPort& slot = m_found.entries[static_cast<std::size_t>(row)];
    if (m_ownsHandle && m_handle != slot.handle && isOpen()) {
        m_handle->close();
    }
    m_number = slot.number;
    m_handle = slot.handle;
    m_ownsHandle = false;
}

KeyPort::ScanOutcome KeyPort::scan() {
    const std::atomic<bool> never{false};
    return applyScan(probePorts(m_ports, beginScan(), never));
}

Handles KeyPort::beginScan() {
    // The key port's own port first, then the found ports; a port shared by the two is given
    // once, and a port already closed not at all.
    Handles closing;
    if (isOpen()) {
        closing.push_back(m_handle);
    }
    for (int i = 0; i < m_found.count; ++i) {
        const FoundPort& slot = m_found.entries[static_cast<std::size_t>(i)];
        if (slot.isOpen() && slot.handle != m_handle) {
            closing.push_back(slot.handle);
        }
    }
    m_handle = nullptr;
    m_ownsHandle = false;
    m_found = FoundPorts{};
    return closing;
}

FoundPorts probePorts(platform::SerialPorts& ports, Handles closing,
                      const std::atomic<bool>& stop) {
    for (const auto& handle : closing) {
        handle->close();
    }
    closing.clear();
    FoundPorts found;
    for (int n = platform::kFirstPortNumber;
         n <= platform::kLastPortNumber && found.count < kMaxFoundPorts && !stop.load(); ++n) {
        platform::SerialOpenResult result = ports.open(n);
        if (result.handle == nullptr) {
            continue;
        }
        FoundPort& slot = found.entries[static_cast<std::size_t>(found.count)];
        slot.number = n;
        slot.handle = std::move(result.handle);
        ++found.count;
    }
    return found;
}

KeyPort::ScanOutcome KeyPort::applyScan(FoundPorts found) {
    m_found = std::move(found);
    for (int i = 0; i < m_found.count; ++i) {
        const FoundPort& slot = m_found.entries[static_cast<std::size_t>(i)];
        if (slot.number == m_number && slot.isOpen()) {
            m_handle = slot.handle;
            m_ownsHandle = false;
        }
    }

    ScanOutcome outcome;
    if (!isOpen() && m_found.count > 0) {
        m_number = m_found.entries[0].number;
        m_handle = m_found.entries[0].handle;
        m_ownsHandle = false;
        outcome.fellBack = true;
    }
    if (!isOpen()) {
        m_lastError = {platform::SerialErrorCode::NoDevice,
                       m_ports.devicePath(m_number).empty()
                           ? "COM" + std::to_string(m_number) + ": no such port"
                           : m_ports.devicePath(m_number) + ": not found or not available"};
    }
    return outcome;
}

std::array<bool, kMaxFoundPorts> KeyPort::monitor() {
    std::array<bool, kMaxFoundPorts> active{};
    for (int i = 0; i < m_found.count; ++i) {
        FoundPort& slot = m_found.entries[static_cast<std::size_t>(i)];
        std::uint32_t word = 0;
        if (slot.isOpen()) {
            word = slot.handle->readModemStatus();
        }
        active[static_cast<std::size_t>(i)] = word != 0;
    }
    return active;
}

PortMessage KeyPort::unableMessage() const {
    return {unableText(m_number), m_lastError.message};
}

platform::SerialOpenResult NoSerialPorts::open(int number) {
    return {nullptr,
            {platform::SerialErrorCode::NoDevice,
             "COM" + std::to_string(number) + ": no serial ports"}};
}

}  // namespace dittix::setup
