// Progress over the history: accuracy per exercise by level, and per character over the latest
// receive exercises.
#include "persistence/training_progress.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "persistence/history_rows.h"
#include "support/named_rows.h"

namespace dittix::persistence {

void PrintTo(const CharacterAccuracy& c, std::ostream* os) {
    *os << static_cast<char>(c.character) << ' ' << c.right << '/' << c.sent << " ("
        << c.accuracyTenths << ")";
}

namespace {

using test::historyRow;
using test_support::PrintTo;
using test_support::rowName;

HistoryRow at(HistoryRow row, std::int64_t seconds) {
    row.unixSeconds = seconds;
    return row;
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
    const std::vector<HistoryRow> rows = {
        historyRow(u"ABCD E", u"AxCD x"),
        historyRow(u"ABCD", u"xbcd"),
        historyRow(u"BCCD", u"xxxd"),
    };
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
    const std::vector<CharacterAccuracy> accuracy = characterAccuracy(rows);
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

}  // namespace
}  // namespace dittix::persistence
