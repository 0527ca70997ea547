// The tick measurements: bounded histograms, the late-tick threshold and the per-minute log.
#include "display/tick_stats.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../persistence/temp_dir.h"
#include "../support/named_rows.h"

namespace dittix::display {
namespace {

using namespace std::chrono_literals;
using test_support::rowName;
using Clock = std::chrono::steady_clock;

std::vector<std::string> lines(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

TEST(HistogramTest, QuantilesFollowTheSortedValuesToTheBin) {
    Histogram h(0.0, 100.0, 0.5);
    EXPECT_EQ(h.quantile(0.5), 0.0);  // empty
    for (int v = 1; v <= 99; ++v) {
        h.add(v + 0.2);
    }
    EXPECT_EQ(h.count(), 99);
    EXPECT_DOUBLE_EQ(h.quantile(0.5), 50.0);  // 50.2 lies in [50, 50.5)
    EXPECT_DOUBLE_EQ(h.quantile(0.0), 1.0);
    EXPECT_DOUBLE_EQ(h.quantile(1.0), 99.2);
}

TEST(HistogramTest, ValuesOutsideTheRangeLandInTheEndBinsAndTheLargestIsExact) {
    Histogram h(-10.0, 10.0, 1.0);
    h.add(-50.0);
    h.add(5000.0);
    h.add(4000.0);
    h.add(-60.0);
    EXPECT_DOUBLE_EQ(h.quantile(0.0), -10.0);
    EXPECT_DOUBLE_EQ(h.quantile(0.9), 9.0);
    EXPECT_DOUBLE_EQ(h.quantile(1.0), 5000.0);
    Histogram negative(-10.0, 10.0, 1.0);
    negative.add(-3.5);
    EXPECT_DOUBLE_EQ(negative.quantile(1.0), -3.5);  // not 0 from an initial value
}

struct LateRow {
    const char* name;
    Clock::duration gap;
    bool late;
};

class LateThresholdTest : public ::testing::TestWithParam<LateRow> {};

TEST_P(LateThresholdTest, OnlyTicksMoreThanFiveMillisecondsLateCount) {
    const auto& row = GetParam();
    persistence::test::TempDir dir;
    const Clock::time_point t0{10s};
    {
        TickStats stats(dir.file("summary.txt"), dir.file("log.txt"));
        stats.record(t0, 3.0);
        stats.record(t0 + row.gap, 4.0);
    }
    const auto log = lines(dir.file("log.txt"));
    const auto summary = lines(dir.file("summary.txt"));
    ASSERT_EQ(summary.size(), 7u);
    EXPECT_EQ(summary[0], "ticks 2");
    EXPECT_EQ(summary[6], row.late ? "late_over_5ms 1" : "late_over_5ms 0");
    // The late line (if any) and the closing minute line.
    ASSERT_EQ(log.size(), row.late ? 2u : 1u);
    if (row.late) {
        const double at = std::chrono::duration<double>((t0 + row.gap).time_since_epoch()).count();
        std::ostringstream want;
        want.setf(std::ios::fixed);
        want.precision(3);
        want << "late " << at << ' '
             << std::chrono::duration<double, std::milli>(row.gap).count() - 10.0;
        EXPECT_EQ(log[0], want.str());
    }
}

INSTANTIATE_TEST_SUITE_P(Gaps, LateThresholdTest,
                         ::testing::Values(LateRow{"on_time", 10ms, false},
                                           LateRow{"just_under_5ms_late", 14999us, false},
                                           LateRow{"exactly_5ms_late", 15ms, false},
                                           LateRow{"just_over_5ms_late", 15001us, true},
                                           LateRow{"a_second_late", 1010ms, true}),
                         rowName);

TEST(TickStatsTest, EveryMinuteIsSummedUpInTheLog) {
    persistence::test::TempDir dir;
    const Clock::time_point t0{100s};
    {
        TickStats stats(dir.file("summary.txt"), dir.file("log.txt"));
        // 6000 ticks on time in the first minute, one of them 7 ms late and one costly.
        auto t = t0;
        for (int i = 0; i < 6000; ++i) {
            stats.record(t, i == 10 ? 900.0 : 20.0);
            t += i == 2000 ? 17ms : 10ms;
        }
        // The next minute starts at the first tick a minute or more after the first one.
        stats.record(t0 + 60s + 7ms, 20.0);
        stats.record(t0 + 60s + 17ms, 30.0);
    }
    const auto log = lines(dir.file("log.txt"));
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].rfind("late 120.017 7.000", 0), 0u) << log[0];
    EXPECT_EQ(log[1],
              "minute 100.000 ticks 6000 late_over_5ms 1 late_worst_ms 7.000 cpu_worst_us 900.000");
    EXPECT_EQ(log[2],
              "minute 160.007 ticks 2 late_over_5ms 0 late_worst_ms 0.000 cpu_worst_us 30.000");
    const auto summary = lines(dir.file("summary.txt"));
    EXPECT_EQ(summary[0], "ticks 6002");
    EXPECT_EQ(summary[1], "cpu_us_median 20");
    EXPECT_EQ(summary[3], "cpu_us_worst 900");
    EXPECT_EQ(summary[5], "late_ms_worst 7");
}

TEST(TickStatsTest, WithoutALogOnlyTheSummaryIsWritten) {
    persistence::test::TempDir dir;
    {
        TickStats stats(dir.file("summary.txt"));
        stats.tickStarted();
        stats.tickEnded();
    }
    EXPECT_EQ(lines(dir.file("summary.txt")).size(), 7u);
    EXPECT_FALSE(std::filesystem::exists(dir.file("log.txt")));
}

}  // namespace
}  // namespace dittix::display
