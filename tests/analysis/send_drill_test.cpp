// The sending drill without its window: targets from typed text, the keyed text built from the
// tick's measurements, the end of the line, and the marks shown as the characters come.
#include "analysis/send_drill.h"

#include <gtest/gtest.h>

#include <string>

#include "keyed_text.h"
#include "support/named_rows.h"

namespace dittix::analysis {
namespace {

using keying::Measured;
using keying::Measurement;
using keying::test::toUtf8;
using test_support::PrintTo;
using test_support::rowName;

struct TargetRow {
    const char* name;
    std::u16string_view typed;
    std::u16string_view target;
};

class TargetFromTextTest : public ::testing::TestWithParam<TargetRow> {};

TEST_P(TargetFromTextTest, KeyableCharactersOneBlankBetweenWords) {
    EXPECT_EQ(toUtf8(targetFromText(GetParam().typed)), toUtf8(GetParam().target));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TargetFromTextTest,
    ::testing::Values(TargetRow{"letters_upper_cased", u"cq de iz2abc", u"CQ DE IZ2ABC"},
                      TargetRow{"blanks_trimmed_and_joined", u"  paris \t\n 73  ", u"PARIS 73"},
                      TargetRow{"unkeyable_left_out", u"a#b*c~", u"ABC"},
                      TargetRow{"word_of_unkeyable_only_leaves_no_blank", u"ab ## cd", u"AB CD"},
                      TargetRow{"signs_and_accents_kept", u"è? = à/", u"è? = à/"},
                      TargetRow{"nothing_keyable", u"# % ~", u""}, TargetRow{"empty", u"", u""}),
    rowName);

struct MinutesRow {
    const char* name;
    std::int64_t ticks;
    std::int32_t minutes;
};

class DrillMinutesTest : public ::testing::TestWithParam<MinutesRow> {};

TEST_P(DrillMinutesTest, WholeMinutesRoundedUpAtLeastOne) {
    EXPECT_EQ(drillMinutes(GetParam().ticks), GetParam().minutes);
}

INSTANTIATE_TEST_SUITE_P(
    Ticks, DrillMinutesTest,
    ::testing::Values(MinutesRow{"nothing", 0, 1}, MinutesRow{"negative", -5, 1},
                      MinutesRow{"just_below_a_minute", 5999, 1}, MinutesRow{"a_minute", 6000, 1},
                      MinutesRow{"just_above_a_minute", 6001, 2},
                      MinutesRow{"two_minutes", 12000, 2}, MinutesRow{"just_above_two", 12001, 3}),
    rowName);

Measurement character(std::u16string_view text) {
    return {Measured::Character, 0, false, text};
}
Measurement element(Measured what, int ticks) {
    return {what, ticks, false, {}};
}

TEST(SendDrill, KeyedTextFromCharactersAndWordGaps) {
    SendDrill drill;
    drill.start(u"CQ DE IZ2ABC");
    // The silence before the first element is not the drill's, nor a blank.
    drill.measured(element(Measured::WordGap, 300));
    drill.measured(element(Measured::Dash, 18));
    drill.measured(element(Measured::ElementGap, 6));
    drill.measured(element(Measured::Dot, 6));
    drill.measured(character(u"c"));
    drill.measured(element(Measured::CharacterGap, 18));
    drill.measured(character(u"q"));
    drill.measured(element(Measured::WordGap, 42));
    drill.measured(element(Measured::WordGap, 50));  // one blank, however many word gaps
    drill.measured(character(keying::kUnknownCode));
    drill.measured(element(Measured::WordGap, 42));
    drill.measured(character(u"SK"));
    EXPECT_EQ(toUtf8(drill.keyed()), "CQ * SK");
    EXPECT_EQ(drill.keyedTicks(), 18 + 6 + 6 + 18 + 42 + 50 + 42);
    EXPECT_FALSE(drill.lineComplete());
}

TEST(SendDrill, NothingIsTakenWhileStopped) {
    SendDrill drill;
    drill.measured(character(u"e"));
    EXPECT_EQ(drill.keyed(), u"");
    drill.start(u"EE");
    drill.measured(character(u"e"));
    drill.stop();
    drill.measured(character(u"e"));
    EXPECT_EQ(toUtf8(drill.keyed()), "E");
    EXPECT_FALSE(drill.running());
}

struct CompleteRow {
    const char* name;
    int keyed;  // characters keyed against a target of five
    bool complete;
    const char* text;
};

class LineCompleteTest : public ::testing::TestWithParam<CompleteRow> {};

// As many non-blank characters as the target holds end the line; what comes after is not taken.
TEST_P(LineCompleteTest, AtTheTargetsCount) {
    SendDrill drill;
    drill.start(u"AB CDE");
    for (int i = 0; i < GetParam().keyed; ++i) {
        drill.measured(character(u"x"));
        if (i == 1) {
            drill.measured(element(Measured::WordGap, 42));
        }
    }
    EXPECT_EQ(drill.lineComplete(), GetParam().complete);
    EXPECT_EQ(toUtf8(drill.keyed()), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Counts, LineCompleteTest,
                         ::testing::Values(CompleteRow{"four", 4, false, "XX XX"},
                                           CompleteRow{"five", 5, true, "XX XXX"},
                                           CompleteRow{"six", 6, true, "XX XXX"}),
                         rowName);

TEST(SendDrill, AnEmptyTargetNeverCompletes) {
    SendDrill drill;
    drill.start(u"");
    EXPECT_FALSE(drill.lineComplete());
}

TEST(SendDrill, StartingAgainEmptiesTheKeyedText) {
    SendDrill drill;
    drill.start(u"E");
    drill.measured(element(Measured::Dot, 6));
    drill.measured(character(u"e"));
    const auto revision = drill.revision();
    drill.start(u"T");
    EXPECT_EQ(drill.keyed(), u"");
    EXPECT_EQ(drill.keyedTicks(), 0);
    EXPECT_GT(drill.revision(), revision);
    drill.measured(element(Measured::CharacterGap, 30));  // before its first element
    EXPECT_EQ(drill.keyedTicks(), 0);
}

// Keyed through the real decode tick: the characters and word spaces as the tape shows them.
TEST(SendDrill, FedByTheDecodeTick) {
    keying::test::Harness h;
    SendDrill drill;
    h.recorder.sink = &drill;
    drill.start(u"PARIS CQ");
    h.run(test::keyStraight("paris cq", {}));
    EXPECT_EQ(h.recorder.text, "paris cq ");
    EXPECT_EQ(toUtf8(drill.keyed()), "PARIS CQ");
    EXPECT_TRUE(drill.lineComplete());
}

// Marks in a readable form: R right, W wrong, M missed, . pending, + extra, _ blank.
std::string render(const std::vector<Shown>& marks) {
    std::string out;
    for (const Shown s : marks) {
        switch (s) {
            case Shown::Blank:
                out += '_';
                break;
            case Shown::Pending:
                out += '.';
                break;
            case Shown::Right:
                out += 'R';
                break;
            case Shown::Wrong:
                out += 'W';
                break;
            case Shown::Missed:
                out += 'M';
                break;
            case Shown::Extra:
                out += '+';
                break;
        }
    }
    return out;
}

struct MarkRow {
    const char* name;
    std::u16string_view target;
    std::u16string_view keyed;
    bool finished;
    const char* targetMarks;
    const char* keyedMarks;
};

class DrillMarksTest : public ::testing::TestWithParam<MarkRow> {};

TEST_P(DrillMarksTest, AsTheCharactersCome) {
    const scoring::CopyScore score = scoring::scoreCopy(GetParam().target, GetParam().keyed);
    EXPECT_EQ(render(targetMarks(score, GetParam().finished)), GetParam().targetMarks);
    EXPECT_EQ(render(keyedMarks(score, GetParam().keyed)), GetParam().keyedMarks);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, DrillMarksTest,
    ::testing::Values(MarkRow{"nothing_keyed", u"ABC DE", u"", false, "..._..", ""},
                      MarkRow{"two_right_rest_pending", u"ABC DE", u"AB", false, "RR._..", "RR"},
                      MarkRow{"one_taken_for_another", u"ABC DE", u"AX", false, "RW._..", "RW"},
                      MarkRow{"skipped_one_is_missed", u"ABC DE", u"AC", false, "RMR_..", "RR"},
                      MarkRow{"finished_early_all_missed", u"ABC DE", u"AC", true, "RMR_MM", "RR"},
                      MarkRow{"extra_in_the_keyed_text", u"AB", u"AXB", false, "RR", "R+R"},
                      MarkRow{"unknown_code_is_wrong", u"ABC", u"A*C", false, "RWR", "RWR"},
                      MarkRow{"blanks_in_both", u"AB CD", u"AB CD", true, "RR_RR", "RR_RR"}),
    rowName);

}  // namespace
}  // namespace dittix::analysis
