// Tick measurements.
#include "display/tick_stats.h"

#include <algorithm>
#include <ctime>
#include <fstream>

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

double percentile(std::vector<double> values, double q) {
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(q * static_cast<double>(values.size() - 1))];
}

}  // namespace

TickStats::~TickStats() {
    writeSummary();
}

void TickStats::tickStarted() {
    const auto now = std::chrono::steady_clock::now();
    if (m_previousStart) {
        const double gap =
            std::chrono::duration<double, std::milli>(now - *m_previousStart).count();
        m_lateMilliseconds.push_back(gap - 10.0);
    }
    m_previousStart = now;
    m_cpuAtStart = threadCpuNanoseconds();
}

void TickStats::tickEnded() {
    m_cpuMicroseconds.push_back(static_cast<double>(threadCpuNanoseconds() - m_cpuAtStart) /
                                1000.0);
}

void TickStats::writeSummary() const {
    std::ofstream out(m_file);
    const auto late5 = std::count_if(m_lateMilliseconds.begin(), m_lateMilliseconds.end(),
                                     [](double late) { return late > 5.0; });
    out << "ticks " << m_cpuMicroseconds.size() << "\n"
        << "cpu_us_median " << percentile(m_cpuMicroseconds, 0.5) << "\n"
        << "cpu_us_p99 " << percentile(m_cpuMicroseconds, 0.99) << "\n"
        << "cpu_us_worst " << percentile(m_cpuMicroseconds, 1.0) << "\n"
        << "late_ms_median " << percentile(m_lateMilliseconds, 0.5) << "\n"
        << "late_ms_worst " << percentile(m_lateMilliseconds, 1.0) << "\n"
        << "late_over_5ms " << late5 << "\n";
}

}  // namespace dittix::display
