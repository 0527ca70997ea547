// Fist statistics: fists keyed tick by tick through the real decode tick, the figures from hand-
// made histograms at their limits, the suggested straight-key setting, reset and the last
// characters kept for drawing.
#include "fist/fist_statistics.h"

#include <gtest/gtest.h>

#include "support/named_rows.h"

#include <string>

#include "keying/morse_table.h"
#include "keying/tick_recorder.h"

namespace dittix::fist {
namespace {

using keying::Measured;
using keying::Measurement;
using keying::test::Harness;
using keying::test::parseScenario;
using keying::test::TickInput;
using test_support::PrintTo;
using test_support::rowName;

constexpr std::int32_t kDefaultDotBase = 396;

// How an operator keys, in ticks. Dots alternate dot - jitter and dot + jitter.
struct Hand {
    int dot = 6;
    int dash = 18;
    int elementGap = 6;
    int characterGap = 18;
    int wordGap = 42;
    int jitter = 0;
};

std::u16string_view codeOf(char c) {
    const char16_t wanted[2] = {static_cast<char16_t>(c), 0};
    for (const keying::MorseEntry& e : keying::MorseTable) {
        if (e.character == std::u16string_view(wanted, 1)) {
            return e.code;
        }
    }
    return u"pppppppp";  // '#': a code no entry has, decoded as "ER"
}

// Key samples for `text` (letters, '#' for a code that decodes as "ER", ' ' between words) on
// the straight key, ending with a pause long enough for the last decode and word space.
std::vector<TickInput> keyStraight(std::string_view text, const Hand& hand) {
    const TickInput down = parseScenario("down 1").front();
    std::vector<TickInput> inputs;
    int dots = 0;
    auto add = [&](const TickInput& in, int ticks) {
        inputs.insert(inputs.end(), static_cast<std::size_t>(ticks), in);
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == ' ') {
            continue;
        }
        const std::u16string_view code = codeOf(text[i]);
        for (std::size_t e = 0; e < code.size(); ++e) {
            if (code[e] == u'p') {
                add(down, hand.dot + (dots++ % 2 == 0 ? -hand.jitter : hand.jitter));
            } else {
                add(down, hand.dash);
            }
            if (e + 1 < code.size()) {
                add({}, hand.elementGap);
            }
        }
        const bool last = i + 1 == text.size();
        const bool wordEnds = !last && text[i + 1] == ' ';
        add({}, last ? 200 : wordEnds ? hand.wordGap : hand.characterGap);
    }
    return inputs;
}

// A decoder with the given straight-key timing, feeding the statistics through the real tick.
struct Keyed {
    explicit Keyed(keying::TimingParameters timing) {
        harness.timing = timing;
        harness.recorder.sink = &statistics;
    }
    Harness harness;
    FistStatistics statistics;
};

constexpr keying::TimingParameters kAt40Cpm{9, 13, 27, 9, 9, 45};
constexpr keying::TimingParameters kAt66Cpm{6, 9, 18, 6, 6, 30};
constexpr std::string_view kParis = "paris paris paris paris paris";

struct FistRow {
    const char* name;
    Hand hand;
    keying::TimingParameters timing;
    double wpm;
    double dashToDot;
    double elementGapToDot;
    double characterGapToDot;
    double wordGapToDot;
    double dotSpreadPercent;
};

class KeyedFistTest : public ::testing::TestWithParam<FistRow> {};

TEST_P(KeyedFistTest, FiguresFromTheLengthsKeyed) {
    const FistRow& row = GetParam();
    Keyed k(row.timing);
    k.harness.run(keyStraight(kParis, row.hand));
    const FistSnapshot s = k.statistics.snapshot(kDefaultDotBase);

    ASSERT_TRUE(s.figures.has_value());
    const FistFigures& f = *s.figures;
    EXPECT_NEAR(f.wpm, row.wpm, 0.5);
    EXPECT_NEAR(f.cpm, 5 * row.wpm, 2.5);
    EXPECT_NEAR(f.dashToDot, row.dashToDot, 1e-9);
    ASSERT_TRUE(f.elementGap && f.characterGap && f.wordGap);
    EXPECT_NEAR(f.elementGap->toDot, row.elementGapToDot, 1e-9);
    EXPECT_NEAR(f.characterGap->toDot, row.characterGapToDot, 1e-9);
    EXPECT_NEAR(f.wordGap->toDot, row.wordGapToDot, 1e-9);
    EXPECT_NEAR(f.dotSpreadPercent, row.dotSpreadPercent, 0.01);
    EXPECT_EQ(f.dashSpreadPercent, 0);
    EXPECT_GT(f.firstDashTicks, row.hand.dot + row.hand.jitter);
    EXPECT_LE(f.firstDashTicks, row.hand.dash);
    // "paris" five times: 50 dots, 20 dashes, 45 element gaps, 20 character gaps, 4 word gaps.
    EXPECT_EQ(f.dots, 50U);
    EXPECT_EQ(f.dashes, 20U);
    EXPECT_EQ(f.elementGap->count, 45U);
    EXPECT_EQ(f.characterGap->count, 20U);
    EXPECT_EQ(f.wordGap->count, 4U);
    EXPECT_FALSE(s.keyerMade);
}

INSTANTIATE_TEST_SUITE_P(
    Fists, KeyedFistTest,
    ::testing::Values(
        // 20 WPM: a 60 ms dot, six ticks.
        FistRow{"perfect_at_20_wpm", {}, kAt40Cpm, 20, 3, 1, 3, 7, 0},
        FistRow{"heavy_dashes_four_dots", {6, 24, 6, 18, 42}, kAt40Cpm, 20, 4, 1, 3, 7, 0},
        FistRow{"close_character_gaps", {6, 18, 6, 12, 42}, kAt40Cpm, 20, 3, 1, 2, 7, 0},
        // 12 WPM: a 100 ms dot, ten ticks, keyed with the decoder set for a 6-tick dot time.
        FistRow{"slow_fist_fast_decoder", {10, 30, 10, 30, 70}, kAt66Cpm, 12, 3, 1, 3, 7, 0},
        // Dots of 5 and 7 ticks in turn: a spread of 1 tick in 6.
        FistRow{"jittered_dots", {6, 18, 6, 18, 42, 1}, kAt40Cpm, 20, 3, 1, 3, 7, 100.0 / 6}),
    rowName);

TEST(KeyedFist, DecoderClassesShowAWrongSpeedSetting) {
    Keyed k(kAt66Cpm);  // dot time 6: a 10-tick dot is a dash to the decoder
    k.harness.run(keyStraight(kParis, {10, 30, 10, 30, 70}));
    const FistSnapshot s = k.statistics.snapshot(kDefaultDotBase);
    EXPECT_EQ(s.keyDown.dots[10], 0U);
    EXPECT_EQ(s.keyDown.dashes[10], 50U);
    EXPECT_EQ(s.keyDown.dashes[30], 20U);
    // Each element gap outlasts the 9-tick decode pause: the decoder ends a character there.
    EXPECT_EQ(s.gaps.characterGaps[10], 45U);
    EXPECT_EQ(s.gaps.elementGaps[10], 0U);
    ASSERT_TRUE(s.figures.has_value());
    EXPECT_NEAR(s.figures->dotMs, 100, 1e-9);
}

TEST(KeyedFist, HistogramsHoldEveryLengthInItsTickBin) {
    Keyed k(kAt40Cpm);
    k.harness.run(keyStraight(kParis, {}));
    const FistSnapshot s = k.statistics.snapshot(kDefaultDotBase);
    EXPECT_EQ(s.keyDown.dots[6], 50U);
    EXPECT_EQ(s.keyDown.dashes[18], 20U);
    EXPECT_EQ(s.keyDown.total(), 70U);
    EXPECT_EQ(s.gaps.elementGaps[6], 45U);
    EXPECT_EQ(s.gaps.characterGaps[18], 20U);
    EXPECT_EQ(s.gaps.wordGaps[42], 4U);
    EXPECT_EQ(s.gaps.total(), 69U);
    ASSERT_TRUE(s.figures.has_value());
    EXPECT_EQ(s.figures->firstDashTicks, 7);  // the lowest of the equal splits
    EXPECT_EQ(s.characters, 25U);
}

TEST(KeyedFist, IdealLengthsAtTheMeasuredSpeed) {
    Keyed k(kAt40Cpm);
    k.harness.run(keyStraight(kParis, {8, 30, 9, 20, 50}));
    const FistSnapshot s = k.statistics.snapshot(kDefaultDotBase);
    ASSERT_TRUE(s.figures.has_value());
    const IdealLengths& i = s.figures->ideal;
    EXPECT_DOUBLE_EQ(i.dot, 8);
    EXPECT_DOUBLE_EQ(i.dash, 24);
    EXPECT_DOUBLE_EQ(i.elementGap, 8);
    EXPECT_DOUBLE_EQ(i.characterGap, 24);
    EXPECT_DOUBLE_EQ(i.wordGap, 56);
}

TEST(KeyedFist, UnknownCodesGiveTheirShareOfCharacters) {
    Keyed k(kAt40Cpm);
    k.harness.run(keyStraight("paris# pa#", {}));
    const FistSnapshot s = k.statistics.snapshot(kDefaultDotBase);
    EXPECT_EQ(k.harness.recorder.text, "parisER paER ");
    EXPECT_EQ(s.characters, 9U);
    EXPECT_EQ(s.unknownCharacters, 2U);
    ASSERT_TRUE(s.unknownPercent.has_value());
    EXPECT_NEAR(*s.unknownPercent, 200.0 / 9, 1e-9);
}

TEST(KeyedFist, SlowFistSuggestsTheSlowestSetting) {
    Keyed k(kAt66Cpm);
    k.harness.run(keyStraight(kParis, {10, 30, 10, 30, 70}));
    const FistSnapshot s = k.statistics.snapshot(kDefaultDotBase);
    ASSERT_TRUE(s.suggestion.has_value());
    // 1.5 dots are 15 ticks; 396 / 25 and 396 / 26 both give a dot time of 15.
    EXPECT_EQ(*s.suggestion, (VerticaleSuggestion{25, 15}));
    EXPECT_GE(s.suggestion->verticale, 25);
    EXPECT_LE(s.suggestion->verticale, 28);
}

TEST(KeyedFist, TooFewElementsGiveNoFigures) {
    Keyed k(kAt40Cpm);
    k.harness.run(keyStraight("pa", {}));  // 3 dots, 3 dashes
    const FistSnapshot s = k.statistics.snapshot(kDefaultDotBase);
    EXPECT_EQ(s.keyDown.total(), 6U);
    EXPECT_FALSE(s.figures.has_value());
    EXPECT_FALSE(s.suggestion.has_value());
    EXPECT_TRUE(s.unknownPercent.has_value());
}

TEST(KeyedFist, OnlyDotsGiveNoFigures) {
    Keyed k(kAt40Cpm);
    k.harness.run(keyStraight("hhhhh", {6, 18, 6, 18, 42, 1}));
    const FistSnapshot s = k.statistics.snapshot(kDefaultDotBase);
    EXPECT_EQ(s.keyDown.total(), 20U);
    EXPECT_FALSE(s.figures.has_value());
}

// Paddle taps: each element's paddle is closed for one tick when the keyer is idle.
std::vector<TickInput> keyPaddles(std::string_view text, int d, int characterIdle) {
    const TickInput dot = parseScenario("dot 1").front();
    const TickInput dash = parseScenario("dash 1").front();
    std::vector<TickInput> inputs;
    for (const char c : text) {
        for (const char16_t e : codeOf(c)) {
            inputs.push_back(e == u'p' ? dot : dash);
            inputs.insert(inputs.end(), static_cast<std::size_t>(e == u'p' ? 2 * d : 4 * d), {});
        }
        inputs.insert(inputs.end(), static_cast<std::size_t>(characterIdle), {});
    }
    return inputs;
}

TEST(KeyedPaddles, KeyerMadeFiguresWithoutASuggestion) {
    Keyed k({9, 13, 27, 6, 6, 30});
    k.harness.modes.paddleMode = true;
    k.harness.run(keyPaddles("parisparis", 6, 12));
    for (const auto& r : k.harness.recorder.measurements) {
        EXPECT_TRUE(r.measurement.keyerMade);
    }
    const FistSnapshot s = k.statistics.snapshot(kDefaultDotBase);
    EXPECT_TRUE(s.keyerMade);
    ASSERT_TRUE(s.figures.has_value());
    EXPECT_NEAR(s.figures->dotMs, 60, 1e-9);
    EXPECT_NEAR(s.figures->dashToDot, 3, 1e-9);
    // The keyer's own element gap: D + 1 ticks of silence.
    ASSERT_TRUE(s.figures->elementGap.has_value());
    EXPECT_NEAR(s.figures->elementGap->toDot, 7.0 / 6, 1e-9);
    EXPECT_FALSE(s.suggestion.has_value());
    EXPECT_EQ(s.characters, 10U);
}

TEST(FistStatistics, MeasurementsFromTheOtherModeStartAfresh) {
    Keyed k(kAt40Cpm);
    k.harness.run(keyStraight(kParis, {}));
    k.harness.modes.paddleMode = true;
    k.harness.run(keyPaddles("e", 6, 40));
    const FistSnapshot s = k.statistics.snapshot(kDefaultDotBase);
    EXPECT_TRUE(s.keyerMade);
    EXPECT_EQ(s.keyDown.total(), 1U);
    EXPECT_EQ(s.characters, 1U);
    EXPECT_EQ(s.recent.size(), 2U);
}

TEST(FistStatistics, ResetEmptiesEverything) {
    Keyed k(kAt40Cpm);
    k.harness.run(keyStraight(kParis, {}));
    ASSERT_TRUE(k.statistics.snapshot(kDefaultDotBase).figures.has_value());
    k.statistics.reset();
    const FistSnapshot s = k.statistics.snapshot(kDefaultDotBase);
    EXPECT_EQ(s.keyDown.total(), 0U);
    EXPECT_EQ(s.gaps.total(), 0U);
    EXPECT_EQ(s.characters, 0U);
    EXPECT_EQ(s.unknownCharacters, 0U);
    EXPECT_FALSE(s.unknownPercent.has_value());
    EXPECT_FALSE(s.figures.has_value());
    EXPECT_FALSE(s.suggestion.has_value());
    EXPECT_TRUE(s.recent.empty());

    k.harness.run(keyStraight("e", {}));  // gathering goes on after the reset
    EXPECT_EQ(k.statistics.snapshot(kDefaultDotBase).recent.size(), 2U);
}

// The recent items as text: "." dot, "-" dash, "_" gap, the character's text after '='.
std::string shape(const std::vector<RecentItem>& items) {
    std::string out;
    for (const RecentItem& i : items) {
        switch (keying::kindOf(i.what)) {
            case keying::MeasurementKind::KeyDown:
                out += i.what == Measured::Dot ? "." : "-";
                break;
            case keying::MeasurementKind::KeyUp:
                out += "_";
                break;
            case keying::MeasurementKind::Character:
                out += "=" + keying::test::toUtf8(i.text()) + " ";
                break;
        }
    }
    return out;
}

TEST(RecentCharacters, KeepsTheLastTwentyFromTheirFirstElement) {
    Keyed k(kAt40Cpm);
    k.harness.run(keyStraight("abcdefghijklmnopqrstuvwxyz", {}));
    const FistSnapshot s = k.statistics.snapshot(kDefaultDotBase);
    EXPECT_EQ(shape(s.recent),
              "-_-_.=g _._._._.=h _._.=i _._-_-_-=j _-_._-=k _._-_._.=l _-_-=m _-_.=n "
              "_-_-_-=o _._-_-_.=p _-_-_._-=q _._-_.=r _._._.=s _-=t _._._-=u _._._._-=v "
              "_._-_-=w _-_._._-=x _-_._-_-=y _-_-_._.=z ");
    EXPECT_EQ(s.recent.front().ticks, 18);
}

TEST(RecentCharacters, EndWithTheElementsNotYetDecoded) {
    Keyed k(kAt40Cpm);
    k.harness.run(keyStraight("e", {}));
    k.harness.run("down 18, up 9, down 6, up 3");
    EXPECT_EQ(shape(k.statistics.snapshot(kDefaultDotBase).recent), ".=e _-_.");
}

Measurement element(Measured what, std::int32_t ticks) {
    return {what, ticks, false, {}};
}

TEST(RecentCharacters, OverwrittenStartOfACharacterIsLeftOut) {
    FistStatistics statistics;
    // One character of 600 dots and 599 gaps: the ring keeps only its last 1024 items.
    for (int i = 0; i < 600; ++i) {
        if (i > 0) {
            statistics.measured(element(Measured::ElementGap, 3));
        }
        statistics.measured(element(Measured::Dot, 2));
    }
    std::vector<RecentItem> recent = statistics.snapshot(kDefaultDotBase).recent;
    ASSERT_EQ(recent.size(), kRecentCapacity - 1);  // the oldest kept item was a gap
    EXPECT_EQ(recent.front().what, Measured::Dot);

    statistics.measured({Measured::Character, 0, false, u"ER"});
    statistics.measured(element(Measured::CharacterGap, 20));
    statistics.measured(element(Measured::Dash, 7));
    recent = statistics.snapshot(kDefaultDotBase).recent;
    EXPECT_EQ(shape(recent), "-");
}

TEST(RecentCharacters, CharacterTextIsCopied) {
    FistStatistics statistics;
    std::u16string text = u"AR";
    statistics.measured({Measured::Character, 0, false, text});
    text = u"xx";
    EXPECT_EQ(keying::test::toUtf8(statistics.snapshot(kDefaultDotBase).recent.at(0).text()), "AR");
}

// Hand-made histograms, to probe the figures' limits.
struct Lengths {
    std::vector<std::pair<std::int32_t, std::uint64_t>> dots;  // length, count
    std::vector<std::pair<std::int32_t, std::uint64_t>> dashes;
    std::vector<std::pair<std::int32_t, std::uint64_t>> gaps = {};
};

std::optional<FistFigures> figuresOf(const Lengths& l) {
    KeyDownHistogram keyDown;
    GapHistogram gaps;
    for (const auto& [ticks, count] : l.dots) {
        keyDown.dots[static_cast<std::size_t>(ticks)] += count;
    }
    for (const auto& [ticks, count] : l.dashes) {
        keyDown.dashes[static_cast<std::size_t>(ticks)] += count;
    }
    for (const auto& [ticks, count] : l.gaps) {
        gaps.elementGaps[static_cast<std::size_t>(ticks)] += count;
    }
    return figuresFrom(keyDown, gaps);
}

struct LimitRow {
    const char* name;
    Lengths lengths;
    bool figures;
    double dashToDot = 0;
};

class FigureLimitTest : public ::testing::TestWithParam<LimitRow> {};

TEST_P(FigureLimitTest, FiguresOnlyFromEnoughOfBothClusters) {
    const std::optional<FistFigures> f = figuresOf(GetParam().lengths);
    ASSERT_EQ(f.has_value(), GetParam().figures);
    if (f) {
        EXPECT_NEAR(f->dashToDot, GetParam().dashToDot, 1e-9);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Limits, FigureLimitTest,
    ::testing::Values(
        LimitRow{"nine_elements", {{{10, 6}}, {{30, 3}}}, false},
        LimitRow{"ten_elements", {{{10, 7}}, {{30, 3}}}, true, 3},
        LimitRow{"eleven_elements", {{{10, 8}}, {{30, 3}}}, true, 3},
        LimitRow{"two_dashes", {{{10, 8}}, {{30, 2}}}, false},
        LimitRow{"two_dots", {{{10, 2}}, {{30, 8}}}, false},
        LimitRow{"three_dots", {{{10, 3}}, {{30, 8}}}, true, 3},
        LimitRow{"clusters_1_7_apart_are_one", {{{10, 10}}, {{17, 10}}}, false},
        LimitRow{"clusters_1_8_apart_are_two", {{{10, 10}}, {{18, 10}}}, true, 1.8},
        LimitRow{"clusters_1_9_apart_are_two", {{{10, 10}}, {{19, 10}}}, true, 1.9},
        LimitRow{"one_jittered_cluster", {{{5, 10}, {6, 10}, {7, 10}}, {}}, false},
        // The decoder's classes do not count: a dot time set too short calls every one a dash.
        LimitRow{"all_called_dashes", {{}, {{10, 10}, {30, 5}}}, true, 3},
        // Bin 0 and the last bin, which holds every longer length, are left out.
        LimitRow{"zero_length_left_out", {{{0, 50}, {10, 6}}, {{30, 3}}}, false},
        LimitRow{"longest_bin_left_out", {{{10, 6}}, {{30, 3}, {kLongestBin, 50}}}, false},
        // Median 6: lengths up to 60 are elements, longer ones a held key.
        LimitRow{"held_key_at_ten_medians_counts", {{{6, 20}}, {{18, 9}, {60, 1}}}, true, 3.7},
        LimitRow{"held_key_beyond_ten_medians_left_out", {{{6, 20}}, {{18, 9}, {61, 1}}}, true, 3},
        // Three long presses stay with the dashes rather than make a cluster of their own.
        LimitRow{
            "long_presses_stay_with_the_dashes", {{{6, 20}}, {{18, 9}, {50, 3}}}, true, 26.0 / 6},
        // Stray one-tick presses: two cannot make the dot cluster, nor three among 33 (a tenth).
        LimitRow{
            "two_blips_among_twenty", {{{1, 2}, {6, 15}}, {{18, 3}}}, true, 18.0 / (92.0 / 17)},
        LimitRow{"three_blips_among_thirty_three",
                 {{{1, 3}, {6, 20}}, {{18, 10}}},
                 true,
                 18.0 / (123.0 / 23)},
        // Median 18: the held key of 180 ticks still counts.
        LimitRow{"held_key_cut_from_the_median",
                 {{{6, 10}}, {{18, 15}, {180, 1}}},
                 true,
                 (270.0 + 180) / 16 / 6},
        // A dot cluster with a slow tail: the split still falls between the dots and dashes.
        LimitRow{"dots_with_a_tail",
                 {{{4, 10}, {5, 10}, {6, 10}, {7, 10}, {9, 3}}, {{18, 10}, {20, 10}}},
                 true,
                 19.0 / (247.0 / 43)}),
    rowName);

struct GapRow {
    const char* name;
    std::int32_t gap;
    const char* kind;         // which gap figure gets the three gaps; "none" for a pause
    bool quarterDot = false;  // a dot of 6.25 ticks instead of 6
};

class GapClassTest : public ::testing::TestWithParam<GapRow> {};

// With a 6-tick dot: element gaps below 12 ticks, character gaps below 30, word gaps below 84.
// With 6.25: below 12.5, 31.25 and 87.5.
TEST_P(GapClassTest, ClassedAgainstTheMeasuredDot) {
    Lengths lengths{{{6, 20}}, {{18, 10}}, {{GetParam().gap, 3}}};
    if (GetParam().quarterDot) {
        lengths.dots = {{6, 15}, {7, 5}};
    }
    const std::optional<FistFigures> f = figuresOf(lengths);
    ASSERT_TRUE(f.has_value());
    const double dot = GetParam().quarterDot ? 6.25 : 6;
    ASSERT_DOUBLE_EQ(f->dotTicks(), dot);
    const std::string kind = GetParam().kind;
    EXPECT_EQ(f->elementGap.has_value(), kind == "element");
    EXPECT_EQ(f->characterGap.has_value(), kind == "character");
    EXPECT_EQ(f->wordGap.has_value(), kind == "word");
    for (const auto& g : {f->elementGap, f->characterGap, f->wordGap}) {
        if (g) {
            EXPECT_NEAR(g->toDot, GetParam().gap / dot, 1e-9);
            EXPECT_EQ(g->count, 3U);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, GapClassTest,
    ::testing::Values(
        GapRow{"gap_11_element", 11, "element"}, GapRow{"gap_12_character", 12, "character"},
        GapRow{"gap_13_character", 13, "character"}, GapRow{"gap_29_character", 29, "character"},
        GapRow{"gap_30_word", 30, "word"}, GapRow{"gap_31_word", 31, "word"},
        GapRow{"gap_83_word", 83, "word"}, GapRow{"gap_84_pause", 84, "none"},
        GapRow{"gap_85_pause", 85, "none"}, GapRow{"longest_bin_pause", kLongestBin, "none"},
        GapRow{"quarter_gap_12_element", 12, "element", true},
        GapRow{"quarter_gap_13_character", 13, "character", true},
        GapRow{"quarter_gap_31_character", 31, "character", true},
        GapRow{"quarter_gap_32_word", 32, "word", true},
        GapRow{"quarter_gap_87_word", 87, "word", true},
        GapRow{"quarter_gap_88_pause", 88, "none", true}),
    rowName);

TEST(GapFigures, TwoGapsOfAKindGiveNoFigure) {
    const std::optional<FistFigures> f = figuresOf({{{6, 20}}, {{18, 10}}, {{6, 2}, {18, 3}}});
    ASSERT_TRUE(f.has_value());
    EXPECT_FALSE(f->elementGap.has_value());
    ASSERT_TRUE(f->characterGap.has_value());
    EXPECT_NEAR(f->characterGap->toDot, 3, 1e-9);
}

struct SuggestionRow {
    const char* name;
    std::int32_t dotBase;
    double dotTicks;
    std::optional<VerticaleSuggestion> expected;
};

class SuggestionTest : public ::testing::TestWithParam<SuggestionRow> {};

TEST_P(SuggestionTest, ClosestDotTimeToOneAndAHalfDots) {
    EXPECT_EQ(suggestVerticale(GetParam().dotBase, GetParam().dotTicks), GetParam().expected);
}

// With dotBase 396 a dot time of 6 comes from 57 to 66, 7 from 50 to 56, 15 from 25 and 26,
// 3 from 100 to 120; with 600, 15 from 38 to 40.
INSTANTIATE_TEST_SUITE_P(
    Values, SuggestionTest,
    ::testing::Values(SuggestionRow{"dot_10_ticks_target_15", 396, 10, VerticaleSuggestion{25, 15}},
                      SuggestionRow{"dot_4_ticks_target_6", 396, 4, VerticaleSuggestion{57, 6}},
                      SuggestionRow{"target_6_45_nearer_6", 396, 4.3, VerticaleSuggestion{57, 6}},
                      SuggestionRow{"target_6_5_tie_takes_longer_dot_time", 396, 6.5 / 1.5,
                                    VerticaleSuggestion{50, 7}},
                      SuggestionRow{"target_6_51_nearer_7", 396, 4.34, VerticaleSuggestion{50, 7}},
                      SuggestionRow{"slower_than_the_bar", 396, 30, VerticaleSuggestion{25, 15}},
                      SuggestionRow{"faster_than_the_bar", 396, 1, VerticaleSuggestion{100, 3}},
                      SuggestionRow{"speed_factor_one", 600, 10, VerticaleSuggestion{38, 15}},
                      SuggestionRow{"no_dot", 396, 0, std::nullopt},
                      SuggestionRow{"negative_dot", 396, -5, std::nullopt},
                      SuggestionRow{"dot_not_a_number", 396,
                                    std::numeric_limits<double>::quiet_NaN(), std::nullopt},
                      SuggestionRow{"infinite_dot", 396, std::numeric_limits<double>::infinity(),
                                    std::nullopt},
                      SuggestionRow{"no_dot_base", 0, 10, std::nullopt}),
    rowName);

}  // namespace
}  // namespace dittix::fist
