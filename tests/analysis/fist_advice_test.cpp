// Why characters break apart: the fist's mean lengths against the decoder's thresholds, and
// where those thresholds lie among the gaps the real tick reports.
#include "analysis/fist_advice.h"

#include <gtest/gtest.h>

#include <string>

#include "keyed_text.h"
#include "support/named_rows.h"

namespace dittix::analysis {
namespace {

using test_support::PrintTo;
using test_support::rowName;

// Means in ticks; a gap of 0 is left out (too few of them).
struct Means {
    double dot = 6;
    double dash = 18;
    double elementGap = 6;
    double characterGap = 18;
    double wordGap = 42;
};

fist::FistFigures figuresOf(const Means& m) {
    fist::FistFigures f;
    f.dotMs = m.dot * fist::kTickMs;
    f.dashMs = m.dash * fist::kTickMs;
    const auto gap = [&](double ticks) -> std::optional<fist::GapFigure> {
        if (ticks == 0) {
            return std::nullopt;
        }
        return fist::GapFigure{ticks / m.dot, 0, 10};
    };
    f.elementGap = gap(m.elementGap);
    f.characterGap = gap(m.characterGap);
    f.wordGap = gap(m.wordGap);
    return f;
}

// Straight key: dot time 10, decode 15, blank 30. Paddles: D 9, decode 9, blank 45, so that a
// gap of 19 ticks ends a character and one of 55 a word.
constexpr keying::TimingParameters kTiming{10, 15, 30, 9, 9, 45};

struct AdviceRow {
    const char* name;
    Means means;
    bool paddles;
    AdviceKind kind;
    double measured;
    std::int32_t threshold;
};

class AdviceTest : public ::testing::TestWithParam<AdviceRow> {};

TEST_P(AdviceTest, FirstThresholdOnTheWrongSide) {
    const AdviceRow& row = GetParam();
    const FistAdvice advice = adviseOn(figuresOf(row.means), kTiming, row.paddles);
    EXPECT_EQ(advice.kind, row.kind);
    EXPECT_NEAR(advice.measuredTicks, row.measured, 1e-9);
    EXPECT_EQ(advice.thresholdTicks, row.threshold);
}

INSTANTIATE_TEST_SUITE_P(
    Fists, AdviceTest,
    ::testing::Values(
        AdviceRow{"all_within", {}, false, AdviceKind::WithinThresholds, 0, 0},
        AdviceRow{
            "dot_below_dot_time", {9, 27, 9, 27, 63}, false, AdviceKind::WithinThresholds, 0, 0},
        AdviceRow{
            "dot_at_dot_time", {10, 30, 6, 18, 42}, false, AdviceKind::DotsReadAsDashes, 10, 10},
        AdviceRow{
            "dot_above_dot_time", {11, 33, 6, 18, 42}, false, AdviceKind::DotsReadAsDashes, 11, 10},
        AdviceRow{"dash_below_dot_time",
                  {4, 9.9, 4, 18, 42},
                  false,
                  AdviceKind::DashesReadAsDots,
                  9.9,
                  10},
        AdviceRow{
            "dash_at_dot_time", {4, 10, 4, 18, 42}, false, AdviceKind::WithinThresholds, 0, 0},
        AdviceRow{"element_gap_below_decode",
                  {6, 18, 14, 18, 42},
                  false,
                  AdviceKind::WithinThresholds,
                  0,
                  0},
        AdviceRow{"element_gap_at_decode",
                  {6, 18, 15, 18, 42},
                  false,
                  AdviceKind::CharactersBreakApart,
                  15,
                  15},
        AdviceRow{"character_gap_below_decode",
                  {6, 18, 6, 14.9, 42},
                  false,
                  AdviceKind::CharactersRunTogether,
                  14.9,
                  15},
        AdviceRow{"character_gap_at_decode",
                  {6, 18, 6, 15, 42},
                  false,
                  AdviceKind::WithinThresholds,
                  0,
                  0},
        AdviceRow{"character_gap_below_blank",
                  {6, 18, 6, 29.9, 42},
                  false,
                  AdviceKind::WithinThresholds,
                  0,
                  0},
        AdviceRow{"character_gap_at_blank",
                  {6, 18, 6, 30, 42},
                  false,
                  AdviceKind::WordsBreakApart,
                  30,
                  30},
        AdviceRow{"word_gap_below_blank",
                  {6, 18, 6, 18, 29.9},
                  false,
                  AdviceKind::WordsRunTogether,
                  29.9,
                  30},
        AdviceRow{
            "word_gap_at_blank", {6, 18, 6, 18, 30}, false, AdviceKind::WithinThresholds, 0, 0},
        // Gaps too few to give a figure are not judged.
        AdviceRow{"no_gap_figures", {6, 18, 0, 0, 0}, false, AdviceKind::WithinThresholds, 0, 0},
        // The keyer times the paddles' elements: a long dot is its own, not a fault.
        AdviceRow{"paddles_dots_not_judged",
                  {20, 60, 10, 30, 70},
                  true,
                  AdviceKind::WithinThresholds,
                  0,
                  0},
        AdviceRow{"paddles_character_gap_18",
                  {9, 27, 10, 18, 70},
                  true,
                  AdviceKind::CharactersRunTogether,
                  18,
                  19},
        AdviceRow{"paddles_character_gap_19",
                  {9, 27, 10, 19, 70},
                  true,
                  AdviceKind::WithinThresholds,
                  0,
                  0},
        AdviceRow{"paddles_word_gap_54",
                  {9, 27, 10, 30, 54},
                  true,
                  AdviceKind::WordsRunTogether,
                  54,
                  55}),
    rowName);

// Where the thresholds lie, checked against the gaps the real tick reports: a gap reaches the
// character threshold exactly when the decoder ended the character in it, and the word threshold
// exactly when it wrote the word space.
struct ThresholdRow {
    const char* name;
    bool paddles;
    keying::TimingParameters timing;
};

class GapThresholdTest : public ::testing::TestWithParam<ThresholdRow> {};

TEST_P(GapThresholdTest, SplitTheGapsAsTheDecoderDid) {
    const ThresholdRow& row = GetParam();
    const GapThresholds at = gapThresholds(row.timing, row.paddles);
    int checked = 0;
    for (int idle = 1; idle < 120; ++idle) {
        keying::test::Harness h;
        h.timing = row.timing;
        h.modes.paddleMode = row.paddles;
        const std::string scenario =
            row.paddles ? "dot 1, none " + std::to_string(2 * row.timing.dotTimeP + idle) +
                              ", dot 1, none 200"
                        : "down 5, up " + std::to_string(idle) + ", down 5, up 200";
        h.run(scenario);
        for (const auto& report : h.recorder.measurements) {
            const keying::Measurement& m = report.measurement;
            if (keying::kindOf(m.what) != keying::MeasurementKind::KeyUp) {
                continue;
            }
            ++checked;
            EXPECT_EQ(m.what != keying::Measured::ElementGap, m.ticks >= at.character)
                << scenario << ": " << m.ticks;
            EXPECT_EQ(m.what == keying::Measured::WordGap, m.ticks >= at.word)
                << scenario << ": " << m.ticks;
        }
    }
    EXPECT_GT(checked, 100);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, GapThresholdTest,
    ::testing::Values(ThresholdRow{"straight_key", false, {9, 13, 27, 9, 9, 45}},
                      ThresholdRow{"straight_key_slow", false, {9, 27, 54, 9, 9, 45}},
                      ThresholdRow{"paddles", true, {9, 13, 27, 9, 9, 45}},
                      ThresholdRow{"paddles_fast", true, {9, 13, 27, 3, 3, 15}}),
    rowName);

TEST(GapThresholds, PaddleDotTimeOfZeroCountsAsOne) {
    const GapThresholds at = gapThresholds({9, 13, 27, 0, 1, 5}, true);
    EXPECT_EQ(at.character, 3);
    EXPECT_EQ(at.word, 7);
}

}  // namespace
}  // namespace dittix::analysis
