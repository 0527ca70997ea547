// The built-in course: its forty levels, that every character of it can be sent, and that levels
// from the settings file replace it.
#include "persistence/course.h"

#include <gtest/gtest.h>

#include <set>

#include "persistence/settings.h"
#include "support/named_rows.h"
#include "training/tone_bank.h"

namespace dittix::persistence {
namespace {

using test_support::PrintTo;
using test_support::rowName;

TEST(Course, HasFortyLevelsOfFortyOneDistinctCharacters) {
    const TrainingLevels course = builtInCourse();
    EXPECT_EQ(course.levelCount, 40);
    EXPECT_EQ(kKochOrder.size(), 41U);
    EXPECT_EQ(std::set<char16_t>(kKochOrder.begin(), kKochOrder.end()).size(), 41U);
    for (std::size_t i = 40; i < course.records.size(); ++i) {
        EXPECT_EQ(course.records[i].length, 0) << i;
        EXPECT_TRUE(course.records[i].text.empty()) << i;
    }
}

struct LevelRow {
    const char* name;
    int level;  // 1-based
    std::u16string text;
};

class CourseLevel : public testing::TestWithParam<LevelRow> {};

TEST_P(CourseLevel, HoldsTheFirstLevelPlusOneCharacters) {
    const LevelRow& row = GetParam();
    const TrainingLevels course = builtInCourse();
    const Tlivello& level = course.records[static_cast<std::size_t>(row.level - 1)];
    EXPECT_EQ(level.text, row.text);
    EXPECT_EQ(level.length, static_cast<std::int32_t>(row.text.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Table, CourseLevel,
    testing::Values(LevelRow{"First", 1, u"KM"}, LevelRow{"Second", 2, u"KMU"},
                    LevelRow{"FirstWithPunctuation", 13, u"KMURESNAPTLWI."},
                    LevelRow{"NextToLast", 39, u"KMURESNAPTLWI.JZ=FOY,VG5/Q92H38B?47C1D60"},
                    LevelRow{"Last", 40, u"KMURESNAPTLWI.JZ=FOY,VG5/Q92H38B?47C1D60X"}),
    rowName);

TEST(Course, EveryCharacterHasATrainingTone) {
    for (const char16_t c : kKochOrder) {
        EXPECT_GE(training::slotFor(c), 0) << static_cast<char>(c);
    }
}

TrainingLevels fileLevels(std::initializer_list<std::u16string> texts) {
    TrainingLevels levels;
    for (const std::u16string& text : texts) {
        Tlivello& level = levels.records[static_cast<std::size_t>(levels.levelCount++)];
        level.text = text;
        level.length = static_cast<std::int32_t>(text.size());
    }
    return levels;
}

TEST(Course, IsOfferedWhenTheFileHasNoLevels) {
    const TrainingLevels none;
    EXPECT_TRUE(offersBuiltInCourse(none));
    const TrainingLevels& offered = levelsToOffer(none);
    EXPECT_EQ(offered.levelCount, 40);
    EXPECT_EQ(offered.records[0].text, u"KM");
}

TEST(Course, LevelsFromTheFileReplaceIt) {
    const TrainingLevels file = fileLevels({u"ABC"});
    EXPECT_FALSE(offersBuiltInCourse(file));
    const TrainingLevels& offered = levelsToOffer(file);
    EXPECT_EQ(&offered, &file);
    EXPECT_EQ(offered.levelCount, 1);
    EXPECT_EQ(offered.records[0].text, u"ABC");
    EXPECT_TRUE(offered.records[1].text.empty());
}

struct ChoiceRow {
    const char* name;
    std::int32_t livEs;
    std::int32_t levelCount;
    std::int32_t expected;
};

class LevelChoice : public testing::TestWithParam<ChoiceRow> {};

TEST_P(LevelChoice, StaysWithinTheOfferedLevels) {
    const ChoiceRow& row = GetParam();
    TrainingLevels offered;
    offered.levelCount = row.levelCount;
    EXPECT_EQ(levelChoiceWithin(row.livEs, offered), row.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LevelChoice,
    testing::Values(ChoiceRow{"ZeroFromALoadWithoutLevels", 0, 40, 1}, ChoiceRow{"First", 1, 40, 1},
                    ChoiceRow{"Second", 2, 40, 2}, ChoiceRow{"OneBelowTheCount", 39, 40, 39},
                    ChoiceRow{"TheCount", 40, 40, 40}, ChoiceRow{"OneAboveTheCount", 41, 40, 40},
                    ChoiceRow{"NoLevelsAtAll", 5, 0, 1}),
    rowName);

}  // namespace
}  // namespace dittix::persistence
