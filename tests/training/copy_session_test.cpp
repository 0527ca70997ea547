// The copy of a receive exercise without a window: which keys it takes, when it is scored, the
// summary line, the next-level offer and the history rows it asks to be written.
#include "training/copy_session.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/named_rows.h"

namespace dittix::training {
namespace {

using test_support::PrintTo;
using test_support::rowName;

persistence::HistoryExercise anExercise() {
    persistence::HistoryExercise exercise;
    exercise.level = 2;
    exercise.levelChars = u"KMU";
    exercise.cpm = 60;
    exercise.minutes = 1;
    exercise.interpause = 2;
    return exercise;
}

struct CharacterRow {
    const char* name;
    char16_t c;
    bool taken;
};

class CopyCharacterTest : public ::testing::TestWithParam<CharacterRow> {};

TEST_P(CopyCharacterTest, TakenWhenItHasATone) {
    EXPECT_EQ(isCopyCharacter(GetParam().c), GetParam().taken);
}

INSTANTIATE_TEST_SUITE_P(
    Characters, CopyCharacterTest,
    ::testing::Values(CharacterRow{"upper_case", u'K', true},
                      CharacterRow{"lower_case", u'k', true}, CharacterRow{"z", u'z', true},
                      CharacterRow{"digit", u'5', true}, CharacterRow{"question_mark", u'?', true},
                      CharacterRow{"apostrophe", u'\'', true}, CharacterRow{"bracket", u')', true},
                      CharacterRow{"zero_glyph", u'\u00D8', true},
                      CharacterRow{"zero_glyph_lower_case", u'\u00F8', true},
                      CharacterRow{"exclamation_has_no_tone", u'!', false},
                      CharacterRow{"e_acute", u'\u00E9', false}, CharacterRow{"at", u'@', false},
                      CharacterRow{"underscore", u'_', false},
                      CharacterRow{"blank_is_not_a_character", u' ', false},
                      CharacterRow{"control", u'\x01', false}),
    rowName);

struct TypingRow {
    const char* name;
    bool started;
    // Characters to type; '\b' is Backspace.
    std::u16string keys;
    std::u16string copy;
};

class TypingTest : public ::testing::TestWithParam<TypingRow> {};

TEST_P(TypingTest, BuildsTheCopy) {
    CopySession session;
    if (GetParam().started) {
        session.begin(anExercise());
    }
    for (const char16_t key : GetParam().keys) {
        key == u'\b' ? session.erase() : session.type(key);
    }
    EXPECT_EQ(session.copy(), GetParam().copy);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, TypingTest,
    ::testing::Values(TypingRow{"before_start_nothing", false, u"KM", u""},
                      TypingRow{"upper_cased", true, u"kmUr", u"KMUR"},
                      TypingRow{"blanks_kept", true, u"KM  U", u"KM  U"},
                      TypingRow{"tab_kept_as_a_blank", true, u"K\tM", u"K M"},
                      TypingRow{"refused_ones_left_out", true, u"K!M\u00E9", u"KM"},
                      TypingRow{"zero_glyph_kept", true, u"\u00D80", u"\u00D80"},
                      TypingRow{"backspace_removes_the_last", true, u"KMX\b", u"KM"},
                      TypingRow{"backspace_removes_a_blank", true, u"KM \bU", u"KMU"},
                      TypingRow{"backspace_on_nothing", true, u"\b\bK", u"K"}),
    rowName);

TEST(CopySession, BeginClearsTheCopyTheScoreAndTheRows) {
    CopySession session;
    session.begin(anExercise());
    session.type(u'K');
    session.end(u"KM ");
    ASSERT_TRUE(session.rescore());
    ASSERT_TRUE(session.firstRow(100));
    session.begin(anExercise());
    EXPECT_TRUE(session.copy().empty());
    EXPECT_FALSE(session.ended());
    EXPECT_EQ(session.score(), nullptr);
    EXPECT_FALSE(session.finalRow());
}

struct ScoreWhenRow {
    const char* name;
    std::u16string typedBeforeEnd;
    std::u16string sent;  // what the playback had started when it ended
    std::u16string typedAfterEnd;
    bool scored;
    scoring::ScoreCounts counts;
};

class ScoreWhenTest : public ::testing::TestWithParam<ScoreWhenRow> {};

TEST_P(ScoreWhenTest, ScoredOnlyWithSomethingSentAndTyped) {
    const ScoreWhenRow& row = GetParam();
    CopySession session;
    session.begin(anExercise());
    for (const char16_t c : row.typedBeforeEnd) {
        c == u'\b' ? session.erase() : session.type(c);
    }
    EXPECT_FALSE(session.rescore()) << "not before the end";
    session.end(row.sent);
    session.rescore();
    for (const char16_t c : row.typedAfterEnd) {
        c == u'\b' ? session.erase() : session.type(c);
        session.rescore();
    }
    ASSERT_EQ(session.score() != nullptr, row.scored);
    if (row.scored) {
        EXPECT_EQ(session.score()->counts, row.counts);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Moments, ScoreWhenTest,
    ::testing::Values(
        ScoreWhenRow{"typed_during", u"KMX", u"KMKMK ", u"", true, {5, 3, 2, 1, 2, 0}},
        ScoreWhenRow{"nothing_typed", u"", u"KMKMK ", u"", false, {}},
        ScoreWhenRow{"only_blanks_typed", u"   ", u"KMKMK ", u"", false, {}},
        ScoreWhenRow{"typed_and_erased", u"K\b", u"KMKMK ", u"", false, {}},
        ScoreWhenRow{"stopped_in_the_lead_in", u"KM", u"", u"", false, {}},
        ScoreWhenRow{"only_a_blank_sent", u"KM", u" ", u"", false, {}},
        ScoreWhenRow{"typed_after_the_end", u"", u"KMKMK ", u"KMKMK", true, {5, 5, 5, 0, 0, 0}},
        // Once scored, the score follows the copy: erased to nothing, everything is missed.
        ScoreWhenRow{"erased_after_the_score", u"KM", u"KMKMK ", u"\b\b", true, {5, 0, 0, 0, 5, 0}},
        ScoreWhenRow{
            "stopped_mid_exercise", u"KMKMKMKMKM", u"KMK", u"", true, {3, 10, 3, 0, 0, 7}}),
    rowName);

struct AccuracyRow {
    const char* name;
    std::int32_t tenths;
    std::u16string text;
};

class AccuracyTextTest : public ::testing::TestWithParam<AccuracyRow> {};

TEST_P(AccuracyTextTest, OneDecimalWithAComma) {
    EXPECT_EQ(accuracyText(GetParam().tenths), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Values, AccuracyTextTest,
                         ::testing::Values(AccuracyRow{"zero", 0, u"0,0 %"},
                                           AccuracyRow{"half", 5, u"0,5 %"},
                                           AccuracyRow{"below_ninety", 899, u"89,9 %"},
                                           AccuracyRow{"ninety", 900, u"90,0 %"},
                                           AccuracyRow{"all", 1000, u"100,0 %"}),
                         rowName);

scoring::CopyScore madeScore(scoring::ScoreCounts counts, std::optional<std::int32_t> tenths,
                             std::vector<scoring::ConfusionCount> top = {}) {
    scoring::CopyScore score;
    score.counts = counts;
    score.accuracyTenths = tenths;
    score.topConfusions = std::move(top);
    return score;
}

struct SummaryRow {
    const char* name;
    scoring::CopyScore score;
    std::u16string text;
};

class SummaryTest : public ::testing::TestWithParam<SummaryRow> {};

TEST_P(SummaryTest, OneLine) {
    EXPECT_EQ(scoreSummary(GetParam().score), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Scores, SummaryTest,
    ::testing::Values(
        SummaryRow{"three_confusions",
                   madeScore({150, 142, 140, 6, 4, 2}, 933,
                             {{u'H', u'5', 3}, {u'S', u'H', 2}, {u'E', u'I', 1}}),
                   u"Inviati 150 \u00B7 Giusti 140 \u00B7 Errati 6 \u00B7 Mancanti 4 \u00B7 In "
                   u"pi\u00F9 2 \u00B7 Precisione 93,3 % \u00B7 H\u21925 \u00D73  S\u2192H "
                   u"\u00D72  E\u2192I \u00D71"},
        SummaryRow{"no_confusion", madeScore({5, 5, 5, 0, 0, 0}, 1000),
                   u"Inviati 5 \u00B7 Giusti 5 \u00B7 Errati 0 \u00B7 Mancanti 0 \u00B7 In "
                   u"pi\u00F9 0 \u00B7 Precisione 100,0 %"},
        SummaryRow{"zero_shown_as_in_the_grid", madeScore({1, 1, 0, 1, 0, 0}, 0, {{u'0', u'O', 1}}),
                   u"Inviati 1 \u00B7 Giusti 0 \u00B7 Errati 1 \u00B7 Mancanti 0 \u00B7 In "
                   u"pi\u00F9 0 \u00B7 Precisione 0,0 % \u00B7 \u00D8\u2192O \u00D71"}),
    rowName);

struct NextLevelRow {
    const char* name;
    std::int32_t sent;
    std::int32_t tenths;
    std::int32_t level;
    std::int32_t levelCount;
    bool passed;
    bool offered;
};

class NextLevelTest : public ::testing::TestWithParam<NextLevelRow> {};

TEST_P(NextLevelTest, FiftySentAndNinetyPercent) {
    const NextLevelRow& row = GetParam();
    const scoring::CopyScore score = madeScore({row.sent, row.sent, 0, 0, 0, 0}, row.tenths);
    const NextLevel next = nextLevelFor(score, row.level, row.levelCount);
    EXPECT_EQ(next.passed, row.passed);
    EXPECT_EQ(next.offered, row.offered);
    EXPECT_EQ(next.level, row.offered ? row.level + 1 : 0);
    EXPECT_EQ(nextLevelMessage(score, next).empty(), !row.passed);
}

INSTANTIATE_TEST_SUITE_P(
    Thresholds, NextLevelTest,
    ::testing::Values(NextLevelRow{"sent_49", 49, 1000, 3, 40, false, false},
                      NextLevelRow{"sent_50", 50, 1000, 3, 40, true, true},
                      NextLevelRow{"sent_51", 51, 1000, 3, 40, true, true},
                      NextLevelRow{"accuracy_89_9", 750, 899, 3, 40, false, false},
                      NextLevelRow{"accuracy_90_0", 750, 900, 3, 40, true, true},
                      NextLevelRow{"accuracy_90_1", 750, 901, 3, 40, true, true},
                      NextLevelRow{"next_to_last_level", 60, 950, 39, 40, true, true},
                      NextLevelRow{"last_level", 60, 950, 40, 40, true, false},
                      NextLevelRow{"the_only_level", 60, 950, 1, 1, true, false}),
    rowName);

TEST(NextLevel, TheSentenceNamesTheAccuracyAndTheLevel) {
    const scoring::CopyScore score = madeScore({150, 150, 140, 10, 0, 0}, 933);
    EXPECT_EQ(nextLevelMessage(score, nextLevelFor(score, 4, 40)),
              u"Bravo! Precisione 93,3 % su 150 caratteri: puoi passare al livello 5.");
    EXPECT_EQ(nextLevelMessage(score, nextLevelFor(score, 40, 40)),
              u"Bravo! Precisione 93,3 % su 150 caratteri: hai completato l'ultimo livello.");
}

// A scored session with a copy of KMX against KMKMK.
CopySession scoredSession() {
    CopySession session;
    session.begin(anExercise());
    for (const char16_t c : std::u16string(u"KMX")) {
        session.type(c);
    }
    session.end(u"KMKMK ");
    session.rescore();
    return session;
}

TEST(HistoryRows, TheFirstScoreGivesTheRowOnce) {
    CopySession session = scoredSession();
    const auto row = session.firstRow(1796907802);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->unixSeconds, 1796907802);
    EXPECT_EQ(row->exercise, anExercise());
    EXPECT_EQ(row->sentText, u"KMKMK ");
    EXPECT_EQ(row->copyText, u"KMX");
    EXPECT_EQ(row->right, 2);
    EXPECT_FALSE(session.firstRow(1796907900)) << "one first row per exercise";
}

struct FinalRowRow {
    const char* name;
    bool firstWritten;
    std::u16string typedAfter;  // '\b' is Backspace
    bool finalRow;
};

class FinalRowTest : public ::testing::TestWithParam<FinalRowRow> {};

TEST_P(FinalRowTest, OnlyWhenTheCopyChangedOrTheFirstWasNotWritten) {
    CopySession session = scoredSession();
    const auto first = session.firstRow(1796907802);
    ASSERT_TRUE(first);
    if (GetParam().firstWritten) {
        session.rowWritten(*first);
    }
    for (const char16_t c : GetParam().typedAfter) {
        c == u'\b' ? session.erase() : session.type(c);
        session.rescore();
    }
    const auto last = session.finalRow();
    ASSERT_EQ(last.has_value(), GetParam().finalRow);
    if (last) {
        EXPECT_EQ(last->date, first->date) << "the same exercise";
        EXPECT_EQ(last->copyText, session.copy());
        session.rowWritten(*last);
        EXPECT_FALSE(session.finalRow()) << "written once";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FinalRowTest,
    ::testing::Values(FinalRowRow{"unchanged", true, u"", false},
                      FinalRowRow{"a_character_more", true, u"K", true},
                      FinalRowRow{"changed_and_changed_back", true, u"K\b", false},
                      FinalRowRow{"first_not_written", false, u"", true},
                      FinalRowRow{"first_not_written_then_changed", false, u"MK", true}),
    rowName);

TEST(HistoryRows, NoRowWithoutAScore) {
    CopySession session;
    session.begin(anExercise());
    session.end(u"KMKMK ");
    session.rescore();
    EXPECT_FALSE(session.firstRow(1796907802));
    EXPECT_FALSE(session.finalRow());
}

}  // namespace
}  // namespace dittix::training
