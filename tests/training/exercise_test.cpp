// Exercise generation, the timing from speed and pause, and the grid layout.
#include "training/exercise.h"

#include <gtest/gtest.h>

#include <set>

#include "support/named_rows.h"

namespace dittix::training {
namespace {

using test_support::PrintTo;
using test_support::rowName;

persistence::Tlivello level(std::u16string text) {
    const auto length = static_cast<std::int32_t>(text.size());
    return {std::move(text), length};
}

TEST(Exercise, OneMinuteAt20CpmOfAbcIsFourGroupsEndingInABlank) {
    persistence::ExerciseRandom random(1);
    const std::u16string text = generateExercise(level(u"ABC"), 20, random);
    ASSERT_EQ(text.size(), 24U);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i % 6 == 5) {
            EXPECT_EQ(text[i], u' ') << i;
        } else {
            EXPECT_NE(std::u16string_view(u"ABC").find(text[i]), std::u16string_view::npos) << i;
        }
    }
}

TEST(Exercise, FiveMinutesAt150CpmFillsAllLabels) {
    persistence::ExerciseRandom random(2);
    EXPECT_EQ(generateExercise(level(u"EISH5"), 5 * 150, random).size(), 900U);
}

TEST(Exercise, EveryPositionOfALongLevelIsDrawnAndEachExerciseContinuesTheSequence) {
    std::u16string text;
    for (char16_t c = u'!'; c < u'!' + 90; ++c) {
        text += c;
    }
    persistence::ExerciseRandom random(3);
    std::set<char16_t> seen;
    std::u16string first;
    for (int exercise = 0; exercise < 20; ++exercise) {
        const auto drawn = generateExercise(level(text), 750, random);
        seen.insert(drawn.begin(), drawn.end());
        if (exercise == 0) {
            first = drawn;
        } else {
            EXPECT_NE(drawn, first);
        }
    }
    seen.erase(u' ');
    EXPECT_EQ(seen.size(), 90U);
}

TEST(Exercise, RepeatedCharactersAreDrawnMoreOften) {
    persistence::ExerciseRandom random(4);
    const auto drawn = generateExercise(level(u"EEEEET"), 6000, random);
    const auto e = std::count(drawn.begin(), drawn.end(), u'E');
    const auto t = std::count(drawn.begin(), drawn.end(), u'T');
    EXPECT_NEAR(static_cast<double>(e) / static_cast<double>(t), 5.0, 0.8);
}

TEST(Exercise, ZeroShowsAsOSlashButStaysZero) {
    persistence::ExerciseRandom random(5);
    const auto drawn = generateExercise(level(u"0"), 5, random);
    EXPECT_EQ(drawn, u"00000 ");
    EXPECT_EQ(gridGlyph(drawn[0]), u'\u00D8');
    EXPECT_EQ(gridGlyph(u'O'), u'O');
}

struct TimingRow {
    const char* name;
    int cpm;
    int pause;
    int dotMs;
    int extraMs;
};

class TimingTest : public ::testing::TestWithParam<TimingRow> {};

TEST_P(TimingTest, DotAndExtraPause) {
    const int dot = dotMsFor(GetParam().cpm);
    EXPECT_EQ(dot, GetParam().dotMs);
    EXPECT_EQ(extraPauseMsFor(GetParam().pause, dot), GetParam().extraMs);
}

INSTANTIATE_TEST_SUITE_P(Speeds, TimingTest,
                         ::testing::Values(TimingRow{"cpm20_no_pause", 20, 0, 300, 0},
                                           TimingRow{"cpm20_half", 20, 1, 300, 450},
                                           TimingRow{"cpm20_one", 20, 2, 300, 900},
                                           TimingRow{"cpm20_three", 20, 6, 300, 2700},
                                           TimingRow{"cpm35_half_truncates", 35, 1, 171, 256},
                                           TimingRow{"cpm35_one_and_half", 35, 3, 171, 769},
                                           TimingRow{"cpm150_three", 150, 6, 40, 360}),
                         rowName);

struct LayoutRow {
    const char* name;
    int width;
    int height;
    int charCount;
    int columns;
    int rows;
    int charsPerRow;
    bool scrollBar;
    int scrollRange;
};

class LayoutTest : public ::testing::TestWithParam<LayoutRow> {};

TEST_P(LayoutTest, ColumnsInWholeGroups) {
    const auto& r = GetParam();
    const GridLayout l = gridLayoutFor(r.width, r.height, r.charCount);
    EXPECT_EQ(l.columns, r.columns);
    EXPECT_EQ(l.rows, r.rows);
    EXPECT_EQ(l.charsPerRow, r.charsPerRow);
    EXPECT_EQ(l.scrollBar, r.scrollBar);
    if (r.scrollBar) {
        EXPECT_EQ(l.scrollRange, r.scrollRange);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Widths, LayoutTest,
    ::testing::Values(LayoutRow{"w900_raised_to_980", 900, 594, 0, 30, 30, 25, false, 0},
                      LayoutRow{"w980", 980, 594, 0, 30, 30, 25, false, 0},
                      LayoutRow{"w1188", 1188, 594, 0, 36, 25, 30, false, 0},
                      LayoutRow{"w1400", 1400, 594, 0, 42, 22, 35, false, 0},
                      LayoutRow{"h594_300_chars_fit", 1188, 594, 300, 36, 25, 30, false, 0},
                      LayoutRow{"h594_301_chars_scroll", 1188, 594, 301, 36, 25, 30, true, 570},
                      LayoutRow{"five_minutes_70_cpm", 1188, 594, 350, 36, 25, 30, true, 620},
                      LayoutRow{"one_minute_70_cpm", 1188, 594, 70, 36, 25, 30, false, 0}),
    rowName);

TEST(Layout, NarrowWidthIsRaisedTo980) {
    EXPECT_EQ(gridLayoutFor(900, 594, 0).width, 980);
}

}  // namespace
}  // namespace dittix::training
