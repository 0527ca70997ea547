// The copy alignment: which sent characters are right, wrong or missed, which typed ones are
// extra, the counts and accuracy, the most frequent confusions and the per-character tallies.
#include "scoring/copy_score.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "support/named_rows.h"

namespace dittix::scoring {

// Readable failures: characters as text, counts by name.
void PrintTo(const ConfusionCount& c, std::ostream* os) {
    *os << static_cast<char>(c.sent) << '>' << static_cast<char>(c.typed) << " x" << c.count;
}
void PrintTo(const CharacterTally& t, std::ostream* os) {
    *os << static_cast<char>(t.character) << ' ' << t.right << '/' << t.sent;
}
void PrintTo(const ScoreCounts& c, std::ostream* os) {
    *os << "sent " << c.sent << " typed " << c.typed << " right " << c.right << " wrong " << c.wrong
        << " missed " << c.missed << " extra " << c.extra;
}

namespace {

using test_support::PrintTo;
using test_support::rowName;

std::string narrow(char16_t c) {
    if (c < 0x80) {
        return std::string(1, static_cast<char>(c));
    }
    return "U+" + std::to_string(static_cast<int>(c));
}

// Each sent character in order: "A" right, "B>X" taken for X (as typed), "-C" missed, "_" a
// blank (no mark).
std::string renderMarks(std::u16string_view sent, const CopyScore& score) {
    std::string out;
    for (std::size_t k = 0; k < score.marks.size(); ++k) {
        if (!out.empty()) {
            out += ' ';
        }
        const CharacterMark& mark = score.marks[k];
        switch (mark.mark) {
            case Mark::None:
                out += '_';
                break;
            case Mark::Right:
                out += narrow(sent[k]);
                break;
            case Mark::Wrong:
                out += narrow(sent[k]) + ">" + narrow(mark.typed);
                break;
            case Mark::Missed:
                out += "-" + narrow(sent[k]);
                break;
        }
    }
    return out;
}

struct AlignmentRow {
    const char* name;
    std::u16string sent;
    std::u16string copy;
    std::string marks;
    std::vector<std::int32_t> extras;  // positions in the copy text
    ScoreCounts counts;                // sent, typed, right, wrong, missed, extra
    std::optional<std::int32_t> accuracy;
};

class Alignment : public testing::TestWithParam<AlignmentRow> {};

TEST_P(Alignment, MarksCountsAndAccuracy) {
    const AlignmentRow& row = GetParam();
    const CopyScore score = scoreCopy(row.sent, row.copy);
    EXPECT_EQ(renderMarks(row.sent, score), row.marks);
    EXPECT_EQ(score.extras, row.extras);
    EXPECT_EQ(score.counts, row.counts);
    EXPECT_EQ(score.accuracyTenths, row.accuracy);
    ASSERT_EQ(score.marks.size(), row.sent.size());
    // Every right or wrong mark points at the typed character it names.
    for (const CharacterMark& mark : score.marks) {
        if (mark.mark == Mark::Right || mark.mark == Mark::Wrong) {
            ASSERT_GE(mark.copyIndex, 0);
            EXPECT_EQ(row.copy[static_cast<std::size_t>(mark.copyIndex)], mark.typed);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Alignment,
    testing::Values(
        AlignmentRow{"Identical", u"ABC", u"ABC", "A B C", {}, {3, 3, 3, 0, 0, 0}, 1000},
        AlignmentRow{
            "OneWrongBetweenRightOnes", u"ABC", u"AXC", "A B>X C", {}, {3, 3, 2, 1, 0, 0}, 667},
        AlignmentRow{"OneMissed", u"ABCD", u"ACD", "A -B C D", {}, {4, 3, 3, 0, 1, 0}, 750},
        AlignmentRow{"OneExtra", u"ABC", u"ABXC", "A B C", {2}, {3, 4, 3, 0, 0, 1}, 1000},
        AlignmentRow{"MissedLast", u"ABC", u"AB", "A B -C", {}, {3, 2, 2, 0, 1, 0}, 667},
        AlignmentRow{"ExtraFirst", u"ABC", u"XABC", "A B C", {0}, {3, 4, 3, 0, 0, 1}, 1000},
        // Two neighbours swapped: one of them can still be right; the earlier sent one is
        // left unmatched first.
        AlignmentRow{"TwoSwapped", u"AB", u"BA", "-A B", {1}, {2, 2, 1, 0, 1, 1}, 500},
        AlignmentRow{"TwoSwappedInsideAGroup",
                     u"ABCDE",
                     u"ABDCE",
                     "A B -C D E",
                     {3},
                     {5, 5, 4, 0, 1, 1},
                     800},
        AlignmentRow{"AllWrong", u"ABC", u"XYZ", "A>X B>Y C>Z", {}, {3, 3, 0, 3, 0, 0}, 0},
        AlignmentRow{"EmptyCopy", u"ABC", u"", "-A -B -C", {}, {3, 0, 0, 0, 3, 0}, 0},
        AlignmentRow{
            "CopyLongerThanSent", u"AB", u"AXBYZ", "A B", {1, 3, 4}, {2, 5, 2, 0, 0, 3}, 1000},
        AlignmentRow{
            "CopyLongerPairsWhatItCan", u"AB", u"XYZ", "A>X B>Y", {2}, {2, 3, 0, 2, 0, 1}, 0},
        AlignmentRow{
            "WrongThenMissedInOneGap", u"ABCD", u"AXD", "A B>X -C D", {}, {4, 3, 2, 1, 1, 0}, 500},
        AlignmentRow{
            "WrongThenExtraInOneGap", u"ABC", u"AXYC", "A B>X C", {2}, {3, 4, 2, 1, 0, 1}, 667},
        // A confusion counts as one error where an extra and two missed would be three.
        AlignmentRow{"FewestErrorsAmongEqualRight",
                     u"ABCB",
                     u"AXB",
                     "A B>X -C B",
                     {},
                     {4, 3, 2, 1, 1, 0},
                     500},
        // Matching the typed B would leave A missed and A, Y extra: three errors, not two.
        AlignmentRow{"FewestErrorsBeforeEarliestMatch",
                     u"AB",
                     u"BAY",
                     "A B>Y",
                     {0},
                     {2, 3, 1, 1, 0, 1},
                     500},
        AlignmentRow{"BlanksInBothAreNotScored",
                     u"AB CD ",
                     u"A BCD",
                     "A B _ C D _",
                     {},
                     {4, 4, 4, 0, 0, 0},
                     1000},
        AlignmentRow{"TabsLineEndsAndNoBreakSpacesAreBlanks",
                     u"AB\u00A0C",
                     u"A\tB\r\nC",
                     "A B _ C",
                     {},
                     {3, 3, 3, 0, 0, 0},
                     1000},
        AlignmentRow{"BlankTypedForACharacterIsMissed",
                     u"ABC",
                     u"A C",
                     "A -B C",
                     {},
                     {3, 2, 2, 0, 1, 0},
                     667},
        AlignmentRow{"LowerCaseCopy", u"KM5", u"km5", "K M 5", {}, {3, 3, 3, 0, 0, 0}, 1000},
        AlignmentRow{
            "LowerCaseWrongKeepsTheTypedCase", u"KM", u"kx", "K M>x", {}, {2, 2, 1, 1, 0, 0}, 500},
        AlignmentRow{"SlashedZeroIsZero",
                     u"10 0",
                     u"1\u00D8 \u00F8",
                     "1 0 _ 0",
                     {},
                     {3, 3, 3, 0, 0, 0},
                     1000},
        AlignmentRow{"LetterOIsNotZero", u"0", u"O", "0>O", {}, {1, 1, 0, 1, 0, 0}, 0},
        AlignmentRow{"EmptySent", u"", u"AB", "", {0, 1}, {0, 2, 0, 0, 0, 2}, std::nullopt},
        AlignmentRow{"SentOfBlanksOnly", u"  ", u"", "_ _", {}, {0, 0, 0, 0, 0, 0}, std::nullopt},
        AlignmentRow{"BothEmpty", u"", u"", "", {}, {0, 0, 0, 0, 0, 0}, std::nullopt},
        AlignmentRow{"RepeatedMatchAsEarlyAsTheyCan",
                     u"EEEE",
                     u"EEE",
                     "E E E -E",
                     {},
                     {4, 3, 3, 0, 1, 0},
                     750},
        AlignmentRow{"RepeatedWithOneExtra", u"EE", u"EEE", "E E", {2}, {2, 3, 2, 0, 0, 1}, 1000},
        AlignmentRow{
            "RepeatedGroupShifted", u"ABAB", u"BAB", "-A B A B", {}, {4, 3, 3, 0, 1, 0}, 750},
        // Accuracy rounds half up at the tenth: 1/8 = 12.5 %, 2/3 = 66.67 %, 1/3 = 33.33 %.
        AlignmentRow{"AccuracyExactHalfTenth",
                     u"ABCDEFGH",
                     u"A",
                     "A -B -C -D -E -F -G -H",
                     {},
                     {8, 1, 1, 0, 7, 0},
                     125},
        AlignmentRow{"AccuracyRoundsDown", u"ABC", u"A", "A -B -C", {}, {3, 1, 1, 0, 2, 0}, 333}),
    rowName);

TEST(Alignment, OneRightOutOfSixteenHundredRoundsHalfUp) {
    // 1 / 1600 = 0.0625 % = 0.625 tenths: shown as 0.1 %.
    EXPECT_EQ(accuracyTenths(1, 1600), 1);
    EXPECT_EQ(accuracyTenths(1, 2001), 0);  // 0.49975 tenths
    EXPECT_EQ(accuracyTenths(1, 1999), 1);  // 0.50025 tenths
    EXPECT_EQ(accuracyTenths(0, 0), std::nullopt);
}

// The textbook longest common subsequence, to check `right` on random texts.
std::int32_t referenceLcs(const std::u16string& a, const std::u16string& b) {
    std::vector<std::vector<std::int32_t>> t(a.size() + 1,
                                             std::vector<std::int32_t>(b.size() + 1, 0));
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            t[i][j] =
                a[i - 1] == b[j - 1] ? t[i - 1][j - 1] + 1 : std::max(t[i - 1][j], t[i][j - 1]);
        }
    }
    return t[a.size()][b.size()];
}

TEST(Alignment, RandomCopiesAreConsistentAndRightIsTheLongestCommonSubsequence) {
    std::mt19937 random(7);
    const std::u16string alphabet = u"KMURE";
    CopyScorer scorer;  // reused, as the progress view does
    for (int trial = 0; trial < 300; ++trial) {
        std::u16string sent;
        std::u16string copy;
        const auto sentLength = random() % 40;
        for (std::size_t k = 0; k < sentLength; ++k) {
            sent += alphabet[random() % alphabet.size()];
        }
        const auto copyLength = random() % 40;
        for (std::size_t k = 0; k < copyLength; ++k) {
            copy += alphabet[random() % alphabet.size()];
        }
        const CopyScore score = scorer.score(sent, copy);
        SCOPED_TRACE(trial);
        EXPECT_EQ(score.counts.right, referenceLcs(sent, copy));
        EXPECT_EQ(score.counts.right + score.counts.wrong + score.counts.missed,
                  static_cast<std::int32_t>(sent.size()));
        EXPECT_EQ(score.counts.right + score.counts.wrong + score.counts.extra,
                  static_cast<std::int32_t>(copy.size()));
        EXPECT_EQ(score.confusions.size(), static_cast<std::size_t>(score.counts.wrong));
        EXPECT_EQ(score.extras.size(), static_cast<std::size_t>(score.counts.extra));
        // Right and wrong characters take distinct typed positions in increasing order.
        std::int32_t lastCopy = -1;
        for (const CharacterMark& mark : score.marks) {
            if (mark.mark == Mark::Right || mark.mark == Mark::Wrong) {
                EXPECT_GT(mark.copyIndex, lastCopy);
                lastCopy = mark.copyIndex;
            }
        }
    }
}

struct LimitRow {
    const char* name;
    std::size_t length;
    ScoreCounts counts;
};

class AlignedLength : public testing::TestWithParam<LimitRow> {};

// Identical texts of E's: up to the aligned length all are right; beyond it the sent ones are
// missed and the typed ones extra.
TEST_P(AlignedLength, CharactersBeyondItAreMissedAndExtra) {
    const LimitRow& row = GetParam();
    const std::u16string text(row.length, u'E');
    const CopyScore score = scoreCopy(text, text);
    EXPECT_EQ(score.counts, row.counts);
    EXPECT_EQ(score.confusions.size(), 0U);
    EXPECT_EQ(score.marks.back().mark,
              row.length > kMaxAlignedCharacters ? Mark::Missed : Mark::Right);
}

INSTANTIATE_TEST_SUITE_P(Table, AlignedLength,
                         testing::Values(LimitRow{"OneBelow", 4095, {4095, 4095, 4095, 0, 0, 0}},
                                         LimitRow{"AtTheLimit", 4096, {4096, 4096, 4096, 0, 0, 0}},
                                         LimitRow{"OneBeyond", 4097, {4097, 4097, 4096, 0, 1, 1}}),
                         rowName);

struct ConfusionRow {
    const char* name;
    std::u16string sent;
    std::u16string copy;
    std::vector<ConfusionCount> top;
};

class TopConfusions : public testing::TestWithParam<ConfusionRow> {};

TEST_P(TopConfusions, MostFrequentFirstTiesByFirstOccurrence) {
    const ConfusionRow& row = GetParam();
    EXPECT_EQ(scoreCopy(row.sent, row.copy).topConfusions, row.top);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TopConfusions,
    testing::Values(ConfusionRow{"NoneWhenAllRight", u"ABC", u"ABC", {}},
                    ConfusionRow{"OneConfusion", u"ABC", u"AXC", {{u'B', u'X', 1}}},
                    ConfusionRow{"AllOnceKeepTheFirstThreeInSentOrder",
                                 u"ABCD",
                                 u"WXYZ",
                                 {{u'A', u'W', 1}, {u'B', u'X', 1}, {u'C', u'Y', 1}}},
                    ConfusionRow{"MoreFrequentFirstThenFirstOccurrence",
                                 u"ABABCCDDD",
                                 u"XYXYZZQQQ",
                                 {{u'D', u'Q', 3}, {u'A', u'X', 2}, {u'B', u'Y', 2}}},
                    // C>Z occurs first but once; among the pairs seen twice, B>Y comes before A>X.
                    ConfusionRow{"TieOrderFollowsTheSentTextNotTheAlphabet",
                                 u"CBABA",
                                 u"ZYXYX",
                                 {{u'B', u'Y', 2}, {u'A', u'X', 2}, {u'C', u'Z', 1}}},
                    ConfusionRow{"SameSentCharacterTakenForTwoOthersCountsApart",
                                 u"SSSK",
                                 u"HH5E",
                                 {{u'S', u'H', 2}, {u'S', u'5', 1}, {u'K', u'E', 1}}},
                    ConfusionRow{"CaseAndSlashedZeroFoldIntoOnePair",
                                 u"OOO",
                                 u"\u00D80\u00F8",
                                 {{u'O', u'0', 3}}}),
    rowName);

struct TallyRow {
    const char* name;
    std::u16string sent;
    std::u16string copy;
    std::vector<CharacterTally> tallies;
};

class Tallies : public testing::TestWithParam<TallyRow> {};

TEST_P(Tallies, PerCharacterSentAndRight) {
    const TallyRow& row = GetParam();
    EXPECT_EQ(scoreCopy(row.sent, row.copy).tallies, row.tallies);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Tallies,
    testing::Values(TallyRow{"NothingSent", u" ", u"K", {}},
                    TallyRow{"ByCharacterCode", u"MK KM", u"MXKM", {{u'K', 2, 1}, {u'M', 2, 2}}},
                    TallyRow{"MissedAndWrongCountAsSentNotRight",
                             u"KMU",
                             u"X",
                             {{u'K', 1, 0}, {u'M', 1, 0}, {u'U', 1, 0}}},
                    TallyRow{"LowerCaseSentFoldsIntoUpper", u"kK", u"KK", {{u'K', 2, 2}}},
                    TallyRow{"ZeroIsOneCharacter", u"0\u00D8", u"00", {{u'0', 2, 2}}}),
    rowName);

}  // namespace
}  // namespace dittix::scoring
