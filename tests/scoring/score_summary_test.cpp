// The summary line of a scored copy: counts, accuracy and the most frequent confusions.
#include "scoring/score_summary.h"

#include <gtest/gtest.h>

#include <string>

#include "support/named_rows.h"

namespace dittix::scoring {
namespace {

using test_support::PrintTo;
using test_support::rowName;

std::string utf8(std::u16string_view text) {
    std::string out;
    for (const char16_t c : text) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

struct SummaryRow {
    const char* name;
    std::u16string_view sent;
    std::u16string_view copy;
    const char* summary;
};

class ScoreSummaryTest : public ::testing::TestWithParam<SummaryRow> {};

TEST_P(ScoreSummaryTest, OneLineForTheCopy) {
    EXPECT_EQ(utf8(formatScoreSummary(scoreCopy(GetParam().sent, GetParam().copy))),
              GetParam().summary);
}

INSTANTIATE_TEST_SUITE_P(
    Copies, ScoreSummaryTest,
    ::testing::Values(
        SummaryRow{"all_right", u"ABCDE FGHIJ", u"abcde fghij",
                   "Caratteri 10 · giusti 10 · sbagliati 0 · mancanti 0 · in più 0 · "
                   "precisione 100,0 %"},
        SummaryRow{"nothing_sent", u"", u"AB",
                   "Caratteri 0 · giusti 0 · sbagliati 0 · mancanti 0 · in più 2 · precisione —"},
        SummaryRow{"nothing_copied", u"AB", u"",
                   "Caratteri 2 · giusti 0 · sbagliati 0 · mancanti 2 · in più 0 · "
                   "precisione 0,0 %"},
        // 7 of 8: 87.5 %; one confusion is shown without a count.
        SummaryRow{"one_confusion_and_a_half_percent", u"ABCDEFGH", u"ABCDEFGX",
                   "Caratteri 8 · giusti 7 · sbagliati 1 · mancanti 0 · in più 0 · "
                   "precisione 87,5 % · confusioni: H→X"},
        SummaryRow{"counts_above_one", u"SSSTTA", u"HHHEEA",
                   "Caratteri 6 · giusti 1 · sbagliati 5 · mancanti 0 · in più 0 · "
                   "precisione 16,7 % · confusioni: S→H ×3, T→E ×2"},
        // Four pairs confused once each: the first three in the order sent.
        SummaryRow{"three_of_four_confusions", u"ABCD", u"WXYZ",
                   "Caratteri 4 · giusti 0 · sbagliati 4 · mancanti 0 · in più 0 · "
                   "precisione 0,0 % · confusioni: A→W, B→X, C→Y"},
        SummaryRow{"missed_and_extra", u"ABC", u"ACXY",
                   "Caratteri 3 · giusti 2 · sbagliati 0 · mancanti 1 · in più 2 · "
                   "precisione 66,7 %"}),
    rowName);

struct AccuracyRow {
    const char* name;
    std::int32_t tenths;
    const char* text;
};

class AccuracyTextTest : public ::testing::TestWithParam<AccuracyRow> {};

TEST_P(AccuracyTextTest, DecimalComma) {
    EXPECT_EQ(utf8(formatAccuracy(GetParam().tenths)), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Tenths, AccuracyTextTest,
                         ::testing::Values(AccuracyRow{"zero", 0, "0,0 %"},
                                           AccuracyRow{"below_one_percent", 9, "0,9 %"},
                                           AccuracyRow{"one_percent", 10, "1,0 %"},
                                           AccuracyRow{"just_above_one", 11, "1,1 %"},
                                           AccuracyRow{"all", 1000, "100,0 %"}),
                         rowName);

}  // namespace
}  // namespace dittix::scoring
