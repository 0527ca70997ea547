// Speed to tick-count derivation.
#include "keying/timing.h"

#include <gtest/gtest.h>

#include "support/named_rows.h"

#include <cfloat>
#include <cmath>
#include <limits>
#include <random>

namespace dittix::keying {
namespace {

using test_support::PrintTo;
using test_support::rowName;

struct DotBaseRow {
    const char* name;
    double k;
    std::int32_t dotBase;
};

class DotBaseTest : public ::testing::TestWithParam<DotBaseRow> {};

TEST_P(DotBaseTest, IsExactProductTruncated) {
    EXPECT_EQ(dotBaseFor(GetParam().k), GetParam().dotBase);
}

INSTANTIATE_TEST_SUITE_P(
    Factors, DotBaseTest,
    ::testing::Values(DotBaseRow{"default_0_66", 0.66, 396},
                      DotBaseRow{"k_0_7_lies_below_so_419", 0.7, 419},
                      DotBaseRow{"lower_limit", 0.4, 240}, DotBaseRow{"upper_limit", 1.0, 600},
                      DotBaseRow{"below_limit_0_3", 0.3, 240},
                      DotBaseRow{"above_limit_2", 2.0, 600}, DotBaseRow{"negative", -1.0, 240},
                      DotBaseRow{"infinite", std::numeric_limits<double>::infinity(), 600},
                      DotBaseRow{"not_a_number", std::numeric_limits<double>::quiet_NaN(), 396},
                      DotBaseRow{"just_below_one", std::nextafter(1.0, 0.0), 599},
                      DotBaseRow{"k_0_9_lies_above", 0.9, 540}, DotBaseRow{"k_0_45", 0.45, 270}),
    rowName);

// Where long double has a 64-bit mantissa the product of a double and 600 is exact in it, so it
// serves as an independent reference for the integer computation.
TEST(DotBase, MatchesExtendedPrecisionReference) {
    if (LDBL_MANT_DIG < 64) {
        GTEST_SKIP() << "long double is not wide enough to serve as a reference here";
    }
    std::mt19937_64 random(12345);
    std::uniform_real_distribution<double> factor(0.4, 1.0);
    for (int i = 0; i < 200000; ++i) {
        const double k = i < 601 ? 0.4 + 0.001 * i : factor(random);
        const auto reference = static_cast<std::int32_t>(static_cast<long double>(k) * 600.0L);
        ASSERT_EQ(dotBaseFor(k), reference) << "k = " << k;
    }
}

struct SpeedRow {
    const char* name;
    std::int32_t cpm;
    bool lento;
    TimingParameters expected;
};

class RecomputeTimesTest : public ::testing::TestWithParam<SpeedRow> {};

TEST_P(RecomputeTimesTest, DerivesAllSixCounts) {
    const SpeedRow& row = GetParam();
    SpeedSettings speeds;
    TimingParameters timing;
    recomputeTimes(speeds, timing, row.lento, row.cpm, row.cpm);
    EXPECT_EQ(timing, row.expected);
    EXPECT_EQ(speeds.cpm, row.cpm);
    EXPECT_EQ(speeds.cpmPalette, row.cpm);
    EXPECT_EQ(speeds.lento, row.lento);
}

INSTANTIATE_TEST_SUITE_P(
    Speeds, RecomputeTimesTest,
    ::testing::Values(SpeedRow{"cpm25", 25, false, {15, 22, 45, 15, 15, 75}},
                      SpeedRow{"cpm40", 40, false, {9, 13, 27, 9, 9, 45}},
                      SpeedRow{"cpm60", 60, false, {6, 9, 18, 6, 6, 30}},
                      SpeedRow{"cpm120", 120, false, {3, 4, 9, 3, 3, 15}},
                      SpeedRow{"cpm25_slow", 25, true, {15, 45, 90, 15, 15, 75}},
                      SpeedRow{"cpm40_slow", 40, true, {9, 27, 54, 9, 9, 45}},
                      SpeedRow{"cpm120_slow", 120, true, {3, 9, 18, 3, 3, 15}}),
    rowName);

TEST(RecomputeTimes, EachSpeedUsesItsOwnScrollBarAndTheLimitedBase) {
    SpeedSettings speeds;
    speeds.dotBase = dotBaseFor(0.4);
    TimingParameters timing;
    recomputeTimes(speeds, timing, false, 120, 25);
    EXPECT_EQ(timing, (TimingParameters{2, 3, 6, 9, 9, 45}));
}

TEST(RecomputeTimes, ZeroSpeedDoesNotDivideByZero) {
    SpeedSettings speeds;
    TimingParameters timing;
    recomputeTimes(speeds, timing, false, 0, -5);
    EXPECT_EQ(timing.dotTime, 396);
    EXPECT_EQ(timing.dotTimeP, 396);
}

struct SlowRow {
    const char* name;
    std::int32_t dotTime;
    bool lento;
    std::int32_t decodeTime;
    std::int32_t blankTime;
};

class RecomputeSlowTimesTest : public ::testing::TestWithParam<SlowRow> {};

TEST_P(RecomputeSlowTimesTest, TouchesOnlyDecodeAndBlank) {
    const SlowRow& row = GetParam();
    SpeedSettings speeds;
    TimingParameters timing{row.dotTime, 1, 2, 7, 8, 9};
    recomputeSlowTimes(speeds, timing, row.lento);
    EXPECT_EQ(timing, (TimingParameters{row.dotTime, row.decodeTime, row.blankTime, 7, 8, 9}));
    EXPECT_EQ(speeds.lento, row.lento);
}

INSTANTIATE_TEST_SUITE_P(
    Flags, RecomputeSlowTimesTest,
    ::testing::Values(SlowRow{"loaded_10_slow_on", 10, true, 30, 60},
                      SlowRow{"loaded_10_slow_off", 10, false, 15, 30},
                      SlowRow{"odd_dot_truncates_half", 9, false, 13, 27},
                      SlowRow{"huge_dot_saturates", INT32_MAX, true, INT32_MAX, INT32_MAX},
                      SlowRow{"negative_dot_saturates", INT32_MIN, false, INT32_MIN, INT32_MIN}),
    rowName);

}  // namespace
}  // namespace dittix::keying
