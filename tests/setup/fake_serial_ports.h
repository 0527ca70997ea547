// Serial ports in memory: which numbers exist, exclusive opens, status words, failing reads, a
// count of every open and close, and opens or closes held until the test lets them go.
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

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
    std::vector<std::thread::id> openedOn;  // the thread of every open
    bool anyThread = true;
    // Opens of these numbers wait until release(), and so does every close when holdCloses is
    // set.
    std::set<int> holdAt;
    bool holdCloses = false;

    // Waits until an open waits at one of holdAt.
    void waitUntilHeld() {
        std::unique_lock lock(m_gate);
        m_changed.wait(lock, [this] { return m_waiting; });
    }
    void release() {
        const std::lock_guard lock(m_gate);
        m_released = true;
        m_changed.notify_all();
    }
    // Waits until `count` opens have been tried.
    void waitForProbes(std::size_t count) {
        std::unique_lock lock(m_gate);
        m_changed.wait(lock, [this, count] { return probed.size() >= count; });
    }

    platform::SerialOpenResult open(int number) override {
        {
            std::unique_lock lock(m_gate);
            probed.push_back(number);
            openedOn.push_back(std::this_thread::get_id());
            m_changed.notify_all();
            if (holdAt.count(number) != 0) {
                holdHere(lock);
            }
        }
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
    bool opensOnAnyThread() const override { return anyThread; }

  private:
    void holdHere(std::unique_lock<std::mutex>& lock) {
        m_waiting = true;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_released; });
        m_waiting = false;
    }
    void closing() {
        std::unique_lock lock(m_gate);
        if (holdCloses) {
            holdHere(lock);
        }
    }

    std::mutex m_gate;
    std::condition_variable m_changed;
    bool m_waiting = false;
    bool m_released = false;

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
            m_ports.closing();
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
