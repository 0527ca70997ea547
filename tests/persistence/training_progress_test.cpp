// Progress over the history: accuracy per exercise by level, and per character over the latest
// receive exercises.
#include "persistence/training_progress.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "persistence/history_rows.h"
#include "support/named_rows.h"
#include "temp_dir.h"

namespace dittix::persistence {

void PrintTo(const CharacterAccuracy& c, std::ostream* os) {
    *os << static_cast<char>(c.character) << ' ' << c.right << '/' << c.sent << " ("
        << c.accuracyTenths << ")";
}

namespace {

using test::historyRow;
using test_support::PrintTo;
using test_support::rowName;

// Each exercise has a date of its own (rows with the same date are one exercise's rows).
std::string dateOf(std::int64_t seconds) {
    const auto two = [](std::int64_t n) { return std::to_string(n + 100).substr(1); };
    return "2026-12-10T" + two(14 + seconds / 3600) + ":" + two(seconds / 60 % 60) + ":" +
           two(seconds % 60) + "+01:00";
}

HistoryRow at(HistoryRow row, std::int64_t seconds) {
    row.unixSeconds = seconds;
    row.date = dateOf(seconds);
    return row;
}

std::vector<HistoryRow> oneAMinute(std::vector<HistoryRow> rows) {
    for (std::size_t k = 0; k < rows.size(); ++k) {
        rows[k] = at(std::move(rows[k]), static_cast<std::int64_t>(k) * 60);
    }
    return rows;
}

TEST(AccuracyByLevel, OneSeriesPerLevelInExerciseOrderWithoutOtherModesOrEmptyExercises) {
    const std::vector<HistoryRow> rows = {
        at(historyRow(u"KMKM", u"KMKX", 1), 100),                      // 75.0 %
        at(historyRow(u"KMKM", u"KMKM", 1, TrainingMode::Send), 150),  // another mode
        at(historyRow(u"KMU", u"KMU", 2), 200),                        // 100 %
        at(historyRow(u"", u"K", 2), 250),                             // nothing sent
        at(historyRow(u"KM", u"", 1), 300),                            // 0 %
        at(historyRow(u"KMU", u"kxu", 2), 400),                        // 66.7 %
    };
    const std::vector<LevelSeries> expected = {
        {1, {{100, 750, 0}, {300, 0, 4}}},
        {2, {{200, 1000, 2}, {400, 667, 5}}},
    };
    EXPECT_EQ(accuracyByLevel(rows, TrainingMode::Receive), expected);
    const std::vector<LevelSeries> sent = {{1, {{150, 1000, 1}}}};
    EXPECT_EQ(accuracyByLevel(rows, TrainingMode::Send), sent);
}

TEST(CharacterAccuracy, WeakestFirstThenMoreOftenSentThenByCharacter) {
    // A 1/2, B 1/3, C 2/4, D 3/3, E 0/1 over three exercises; lower-case copy counts.
    const std::vector<HistoryRow> rows = oneAMinute({
        historyRow(u"ABCD E", u"AxCD x"),
        historyRow(u"ABCD", u"xbcd"),
        historyRow(u"BCCD", u"xxxd"),
    });
    const std::vector<CharacterAccuracy> expected = {
        {u'E', 1, 0, 0},   {u'B', 3, 1, 333},  {u'C', 4, 2, 500},
        {u'A', 2, 1, 500}, {u'D', 3, 3, 1000},
    };
    EXPECT_EQ(characterAccuracy(rows), expected);
}

struct RecentRow {
    const char* name;
    int olderExercises;  // of KM copied right, after one with Q copied wrong
    bool qCounted;
};

class RecentExercises : public testing::TestWithParam<RecentRow> {};

// Only the latest twenty receive exercises with something sent count: sending drills and empty
// exercises after them do not push older ones out.
TEST_P(RecentExercises, OnlyTheLatestTwentyCount) {
    std::vector<HistoryRow> rows = {historyRow(u"Q", u"X")};
    for (int k = 0; k < GetParam().olderExercises; ++k) {
        rows.push_back(historyRow(u"KM", u"KM"));
        rows.push_back(historyRow(u"Q", u"X", 1, TrainingMode::Send));
        rows.push_back(historyRow(u"", u"Q"));
    }
    const std::vector<CharacterAccuracy> accuracy = characterAccuracy(oneAMinute(rows));
    const bool qCounted = !accuracy.empty() && accuracy.front().character == u'Q';
    EXPECT_EQ(qCounted, GetParam().qCounted);
    if (qCounted) {
        EXPECT_EQ(accuracy.front(), (CharacterAccuracy{u'Q', 1, 0, 0}));
    }
    const int countedKm = std::min(GetParam().olderExercises, 20 - (qCounted ? 1 : 0));
    ASSERT_EQ(accuracy.size(), qCounted ? 3U : 2U);
    EXPECT_EQ(accuracy.back().sent, countedKm);
}

INSTANTIATE_TEST_SUITE_P(Table, RecentExercises,
                         testing::Values(RecentRow{"NineteenAfterIt", 19, true},
                                         RecentRow{"TwentyAfterIt", 20, false},
                                         RecentRow{"TwentyOneAfterIt", 21, false}),
                         rowName);

TEST(CharacterAccuracy, NoExercisesNoCharacters) {
    EXPECT_TRUE(characterAccuracy({}).empty());
}

// A copy changed after its row was written adds a row with the same date: only the last row of
// each date and mode stands for the exercise.
struct SupersedeRow {
    const char* name;
    std::vector<HistoryRow> rows;
    std::vector<bool> superseded;
    std::size_t receiveExercises;
};

HistoryRow dated(HistoryRow row, std::int64_t seconds) {
    return at(std::move(row), seconds);
}

class SupersededTest : public testing::TestWithParam<SupersedeRow> {};

TEST_P(SupersededTest, OnlyTheLastRowOfADateAndModeStands) {
    EXPECT_EQ(supersededRows(GetParam().rows), GetParam().superseded);
    EXPECT_EQ(exerciseCount(GetParam().rows, TrainingMode::Receive), GetParam().receiveExercises);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SupersededTest,
    testing::Values(
        SupersedeRow{"no_rows", {}, {}, 0},
        SupersedeRow{"distinct_dates",
                     {dated(historyRow(u"KM", u"KM"), 60), dated(historyRow(u"KM", u"KX"), 120)},
                     {false, false},
                     2},
        SupersedeRow{"same_date_twice",
                     {dated(historyRow(u"KM", u"KX"), 60), dated(historyRow(u"KM", u"KM"), 60)},
                     {true, false},
                     1},
        SupersedeRow{"same_date_three_times_around_another",
                     {dated(historyRow(u"KM", u"X"), 60), dated(historyRow(u"KM", u"KX"), 60),
                      dated(historyRow(u"UR", u"UR"), 120), dated(historyRow(u"KM", u"KM"), 60)},
                     {true, true, false, false},
                     2},
        SupersedeRow{"same_date_other_mode",
                     {dated(historyRow(u"KM", u"KX"), 60),
                      dated(historyRow(u"KM", u"KM", 3, TrainingMode::Send), 60)},
                     {false, false},
                     1},
        SupersedeRow{"dates_one_second_apart",
                     {dated(historyRow(u"KM", u"KX"), 60), dated(historyRow(u"KM", u"KM"), 61)},
                     {false, false},
                     2}),
    rowName);

TEST(AccuracyByLevel, TheLastRowOfAnExerciseGivesItsPoint) {
    const std::vector<HistoryRow> rows = {
        dated(historyRow(u"KMKM", u"KMKX", 1), 60),  // 75 %, then corrected:
        dated(historyRow(u"UUUU", u"UUUU", 1), 120),
        dated(historyRow(u"KMKM", u"KMKM", 1), 60),
    };
    const std::vector<LevelSeries> expected = {{1, {{120, 1000, 1}, {60, 1000, 2}}}};
    EXPECT_EQ(accuracyByLevel(rows, TrainingMode::Receive), expected);
}

TEST(CharacterAccuracy, ASupersededRowCountsNeitherItsCharactersNorAsAnExercise) {
    // Q copied wrong in the latest exercise, whose copy was then corrected: Q counts only as
    // right. And the superseded row is not one of the latest twenty exercises, so the oldest, X,
    // is still counted.
    std::vector<HistoryRow> rows = {dated(historyRow(u"X", u"Y"), 0)};
    for (int k = 0; k < 18; ++k) {
        rows.push_back(dated(historyRow(u"KM", u"KM"), 60 + k * 60));
    }
    rows.push_back(dated(historyRow(u"Q", u"Z"), 6000));
    rows.push_back(dated(historyRow(u"Q", u"Q"), 6000));
    const std::vector<CharacterAccuracy> expected = {
        {u'X', 1, 0, 0}, {u'K', 18, 18, 1000}, {u'M', 18, 18, 1000}, {u'Q', 1, 1, 1000}};
    EXPECT_EQ(characterAccuracy(rows), expected);
}

// Reading for the progress view lets go of the texts of older rows while reading; both
// aggregations must come out as from the whole file, whatever the later rows do to the latest.
struct ProgressReadRow {
    const char* name;
    int exercises;           // receive exercises, one a minute, each with its own mistakes
    bool sendRowsBetween;    // a send exercise after each
    int supersededAtTheEnd;  // so many of the latest rewritten later with nothing sent
    bool someRowsLightened;  // whether older rows lose their texts (the file is long enough)
};

class ProgressReadTest : public ::testing::TestWithParam<ProgressReadRow> {};

TEST_P(ProgressReadTest, AggregatesAsTheWholeFileAndHoldsOnlyTheLatestTexts) {
    const ProgressReadRow& p = GetParam();
    constexpr std::size_t kCount = 3;
    std::vector<HistoryRow> rows;
    const std::u16string sent = u"KMURE SNAPT";
    for (int k = 0; k < p.exercises; ++k) {
        std::u16string copy = sent;
        copy[static_cast<std::size_t>(k) % copy.size()] = u'X';  // a different character wrong
        rows.push_back(at(historyRow(sent, copy, 1 + k % 3), 120 * k));
        if (p.sendRowsBetween) {
            rows.push_back(at(historyRow(u"PARIS", u"PARIS", 2, TrainingMode::Send), 120 * k + 60));
        }
    }
    const int last = p.exercises - 1;
    for (int k = 0; k < p.supersededAtTheEnd; ++k) {
        rows.push_back(at(historyRow(u"", u"", 1), 120 * (last - k)));
    }
    test::TempDir dir;
    const std::filesystem::path file = dir.file("training-history.csv");
    std::string text(kHistoryHeader);
    for (const HistoryRow& row : rows) {
        text += formatHistoryRecord(row);
    }
    test::writeBytes(file, text);

    const HistoryReadResult whole = readHistory(file);
    const HistoryReadResult light = readProgressHistory(file, kCount, TrainingMode::Receive, 64);
    ASSERT_EQ(whole.rows.size(), rows.size());
    ASSERT_EQ(light.rows.size(), rows.size());
    EXPECT_EQ(light.error, std::nullopt);
    EXPECT_EQ(accuracyByLevel(light.rows, TrainingMode::Receive),
              accuracyByLevel(whole.rows, TrainingMode::Receive));
    EXPECT_EQ(characterAccuracy(light.rows, kCount), characterAccuracy(whole.rows, kCount));
    const auto withoutTexts = std::count_if(light.rows.begin(), light.rows.end(),
                                            [](const HistoryRow& r) { return r.sentText.empty(); });
    const auto emptyInFile = std::count_if(whole.rows.begin(), whole.rows.end(),
                                           [](const HistoryRow& r) { return r.sentText.empty(); });
    EXPECT_EQ(withoutTexts > emptyInFile, p.someRowsLightened);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProgressReadTest,
    ::testing::Values(ProgressReadRow{"OneLessThanTwiceTheCount", 5, false, 0, false},
                      ProgressReadRow{"TwiceTheCount", 6, false, 0, false},
                      ProgressReadRow{"OneMoreThanTwiceTheCount", 7, false, 0, true},
                      ProgressReadRow{"ManyExercises", 30, false, 0, true},
                      ProgressReadRow{"SendExercisesBetween", 30, true, 0, true},
                      ProgressReadRow{"LatestRewrittenWithNothingSentReadsAgainWhole", 30, false, 5,
                                      false},
                      ProgressReadRow{"OneLatestRewrittenWithNothingSent", 30, false, 1, true}),
    rowName);

}  // namespace
}  // namespace dittix::persistence
