// Serial ports in memory: which numbers exist, exclusive opens, status words per port, failing
// reads, and a count of every open and close.
#pragma once

#include <map>
#include <set>

#include "platform/serial_lines.h"

namespace dittix::setup::test {

class FakeSerialPorts : public platform::SerialPorts {
  public:
    std::set<int> existing;
    std::map<int, std::uint32_t> lines;  // status word per port
    std::set<int> failingReads;
    std::map<int, int> opens;
    std::map<int, int> closes;
    std::set<int> openNow;  // held open by this program (or "another program")
    std::vector<int> probed;

    platform::SerialOpenResult open(int number) override {
        probed.push_back(number);
        if (!existing.count(number)) {
            return {nullptr,
                    {platform::SerialErrorCode::NoDevice, devicePath(number) + ": no such file"}};
        }
        if (openNow.count(number)) {
            return {nullptr, {platform::SerialErrorCode::Busy, devicePath(number) + ": busy"}};
        }
        openNow.insert(number);
        ++opens[number];
        return {std::make_shared<Handle>(*this, number), {}};
    }

    std::string devicePath(int number) const override {
        return "/dev/fake" + std::to_string(number);
    }
    bool opensOnAnyThread() const override { return true; }

  private:
    class Handle : public platform::SerialHandle {
      public:
        Handle(FakeSerialPorts& ports, int number) : m_ports(ports), m_number(number) {}
        std::uint32_t readModemStatus() override {
            if (!m_open || m_ports.failingReads.count(m_number)) {
                return 0;
            }
            return m_ports.lines[m_number];
        }
        void close() override {
            if (m_open) {
                m_open = false;
                m_ports.openNow.erase(m_number);
                ++m_ports.closes[m_number];
            }
        }
        bool isOpen() const override { return m_open; }

      private:
        FakeSerialPorts& m_ports;
        int m_number;
        bool m_open = true;
    };
};

}  // namespace dittix::setup::test
