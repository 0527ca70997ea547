// Measurements of the decode tick in the running program: the processor time of each tick and
// how late each tick came, kept in fixed histograms so that an hour-long run does not grow.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace dittix::display {

// Counts of values in equal bins from `low` to `high`; values outside land in the end bins,
// while the largest value seen is kept exactly.
class Histogram {
  public:
    Histogram(double low, double high, double binWidth);

    void add(double value);
    std::int64_t count() const { return m_count; }
    // The lower edge of the bin that holds the q-quantile (0 ≤ q < 1); q = 1 gives the largest
    // value seen. 0 when empty.
    double quantile(double q) const;
    double largest() const { return m_largest; }

  private:
    double m_low;
    double m_binWidth;
    std::vector<std::int64_t> m_bins;
    std::int64_t m_count = 0;
    double m_largest = 0.0;
};

class TickStats {
  public:
    // `summaryFile` is written when the object ends. With a `logFile`, every tick more than
    // lateLimitMs late is logged at once ("late <monotonic s> <ms>") and every minute a line
    // sums up that minute ("minute <monotonic s> ticks <n> late_over_5ms <k> late_worst_ms <w>
    // cpu_worst_us <c>"); the times are the steady clock's, so a driving script can tell which
    // of its own phases a late tick fell in.
    explicit TickStats(std::filesystem::path summaryFile, std::filesystem::path logFile = {});
    ~TickStats();
    TickStats(const TickStats&) = delete;
    TickStats& operator=(const TickStats&) = delete;

    static constexpr double lateLimitMs = 5.0;

    // Around one run of the tick.
    void tickStarted();
    void tickEnded();

    // One measured tick: when it started and the processor time it took.
    void record(std::chrono::steady_clock::time_point start, double cpuMicroseconds);

    std::string summary() const;

  private:
    struct Minute {
        std::chrono::steady_clock::time_point start;
        std::int64_t ticks = 0;
        std::int64_t late = 0;
        double lateWorstMs = 0.0;
        double cpuWorstUs = 0.0;
    };

    void noteLate(std::chrono::steady_clock::time_point start, double lateMs);
    void closeMinute(std::chrono::steady_clock::time_point now);

    std::filesystem::path m_file;
    std::ofstream m_log;
    Histogram m_cpuMicroseconds{0.0, 20'000.0, 0.25};
    Histogram m_lateMilliseconds{-10.0, 1'000.0, 0.01};
    std::int64_t m_lateCount = 0;
    std::optional<std::chrono::steady_clock::time_point> m_previousStart;
    std::optional<Minute> m_minute;
    std::chrono::steady_clock::time_point m_tickStart;
    std::int64_t m_cpuAtStart = 0;
};

}  // namespace dittix::display
