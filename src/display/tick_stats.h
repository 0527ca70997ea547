// Measurements of the decode tick in the running program: the processor time of each tick and
// how late each tick came. Written as a summary when the program ends; used by the benchmark.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace dittix::display {

class TickStats {
  public:
    explicit TickStats(std::filesystem::path summaryFile) : m_file(std::move(summaryFile)) {}
    ~TickStats();
    TickStats(const TickStats&) = delete;
    TickStats& operator=(const TickStats&) = delete;

    // Around one run of the tick.
    void tickStarted();
    void tickEnded();

    void writeSummary() const;

  private:
    std::filesystem::path m_file;
    std::vector<double> m_cpuMicroseconds;
    std::vector<double> m_lateMilliseconds;
    std::optional<std::chrono::steady_clock::time_point> m_previousStart;
    std::int64_t m_cpuAtStart = 0;
};

}  // namespace dittix::display
