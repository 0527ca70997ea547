// Tick measurements.
#include "display/tick_stats.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <iomanip>
#include <sstream>

namespace dittix::display {

namespace {

std::int64_t threadCpuNanoseconds() {
#if defined(CLOCK_THREAD_CPUTIME_ID)
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return std::int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
#else
    return 0;
#endif
}

double seconds(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(t.time_since_epoch()).count();
}

}  // namespace

Histogram::Histogram(double low, double high, double binWidth)
    : m_low(low),
      m_binWidth(binWidth),
      m_bins(static_cast<std::size_t>(std::ceil((high - low) / binWidth)), 0) {}

void Histogram::add(double value) {
    const double position = std::floor((value - m_low) / m_binWidth);
    const double last = static_cast<double>(m_bins.size() - 1);
    ++m_bins[static_cast<std::size_t>(std::clamp(position, 0.0, last))];
    m_largest = m_count == 0 ? value : std::max(m_largest, value);
    ++m_count;
}

double Histogram::quantile(double q) const {
    if (m_count == 0) {
        return 0.0;
    }
    if (q >= 1.0) {
        return m_largest;
    }
    // The same rank as indexing the sorted values at q × (n − 1).
    const auto rank = static_cast<std::int64_t>(q * static_cast<double>(m_count - 1));
    std::int64_t seen = 0;
    for (std::size_t i = 0; i < m_bins.size(); ++i) {
        seen += m_bins[i];
        if (seen > rank) {
            return m_low + static_cast<double>(i) * m_binWidth;
        }
    }
    return m_largest;
}

TickStats::TickStats(std::filesystem::path summaryFile, std::filesystem::path logFile)
    : m_file(std::move(summaryFile)) {
    if (!logFile.empty()) {
        m_log.open(logFile, std::ios::app);
        m_log << std::fixed << std::setprecision(3);
    }
}

TickStats::~TickStats() {
    if (m_minute) {
        closeMinute(std::chrono::steady_clock::now());
    }
    std::ofstream(m_file) << summary();
}

void TickStats::tickStarted() {
    m_tickStart = std::chrono::steady_clock::now();
    m_cpuAtStart = threadCpuNanoseconds();
}

void TickStats::tickEnded() {
    record(m_tickStart, static_cast<double>(threadCpuNanoseconds() - m_cpuAtStart) / 1000.0);
}

void TickStats::record(std::chrono::steady_clock::time_point start, double cpuMicroseconds) {
    if (!m_minute) {
        m_minute = Minute{start};
    } else if (start - m_minute->start >= std::chrono::minutes(1)) {
        closeMinute(start);
    }
    m_cpuMicroseconds.add(cpuMicroseconds);
    ++m_minute->ticks;
    m_minute->cpuWorstUs = std::max(m_minute->cpuWorstUs, cpuMicroseconds);
    if (m_previousStart) {
        const double late =
            std::chrono::duration<double, std::milli>(start - *m_previousStart).count() - 10.0;
        m_lateMilliseconds.add(late);
        m_minute->lateWorstMs = std::max(m_minute->lateWorstMs, late);
        if (late > lateLimitMs) {
            noteLate(start, late);
        }
    }
    m_previousStart = start;
}

void TickStats::noteLate(std::chrono::steady_clock::time_point start, double lateMs) {
    ++m_lateCount;
    ++m_minute->late;
    if (m_log.is_open()) {
        m_log << "late " << seconds(start) << ' ' << lateMs << std::endl;
    }
}

void TickStats::closeMinute(std::chrono::steady_clock::time_point now) {
    if (m_log.is_open()) {
        m_log << "minute " << seconds(m_minute->start) << " ticks " << m_minute->ticks
              << " late_over_5ms " << m_minute->late << " late_worst_ms " << m_minute->lateWorstMs
              << " cpu_worst_us " << m_minute->cpuWorstUs << std::endl;
    }
    m_minute = Minute{now};
}

std::string TickStats::summary() const {
    std::ostringstream out;
    out << "ticks " << m_cpuMicroseconds.count() << "\n"
        << "cpu_us_median " << m_cpuMicroseconds.quantile(0.5) << "\n"
        << "cpu_us_p99 " << m_cpuMicroseconds.quantile(0.99) << "\n"
        << "cpu_us_worst " << m_cpuMicroseconds.quantile(1.0) << "\n"
        << "late_ms_median " << m_lateMilliseconds.quantile(0.5) << "\n"
        << "late_ms_worst " << m_lateMilliseconds.quantile(1.0) << "\n"
        << "late_over_5ms " << m_lateCount << "\n";
    return out.str();
}

}  // namespace dittix::display
