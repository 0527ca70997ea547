// Morse table contents and lookup.
#include "keying/morse_table.h"

#include <gtest/gtest.h>

#include "support/named_rows.h"

#include <algorithm>
#include <set>

#include "tick_recorder.h"

namespace dittix::keying {
namespace {

using test_support::PrintTo;
using test_support::rowName;

using test::toUtf8;

TEST(MorseTable, CodesAreOneToSevenDotsAndDashes) {
    for (std::size_t i = 0; i < kMorseEntryCount; ++i) {
        const std::u16string_view code = MorseTable[i].code;
        SCOPED_TRACE(i);
        EXPECT_GE(code.size(), 1U);
        EXPECT_LE(code.size(), kLongestCode);
        EXPECT_TRUE(std::all_of(code.begin(), code.end(),
                                [](char16_t c) { return c == u'p' || c == u'l'; }));
    }
}

TEST(MorseTable, IndexRangesHoldLettersDigitsAndTrainingPunctuation) {
    for (std::size_t i = 0; i < 26; ++i) {
        EXPECT_EQ(MorseTable[i].character, std::u16string(1, static_cast<char16_t>(u'a' + i)));
    }
    for (std::size_t i = 0; i < 10; ++i) {
        EXPECT_EQ(MorseTable[kFirstDigitEntry + i].character,
                  std::u16string(1, static_cast<char16_t>(u'0' + i)));
    }
    const std::u16string punctuation = u"?=-/.,;:()'";
    for (std::size_t i = 0; i < punctuation.size(); ++i) {
        EXPECT_EQ(MorseTable[36 + i].character, punctuation.substr(i, 1));
    }
    EXPECT_EQ(36 + punctuation.size(), kTrainingEntryCount);
}

TEST(MorseTable, OnlyTheTwoKnownCodesOccurTwice) {
    std::multiset<std::u16string_view> codes;
    for (const MorseEntry& e : MorseTable) {
        codes.insert(e.code);
    }
    std::set<std::u16string_view> twice;
    for (const auto& code : codes) {
        if (codes.count(code) > 1) {
            twice.insert(code);
        }
    }
    EXPECT_EQ(twice, (std::set<std::u16string_view>{u"plplp", u"plppp"}));
}

struct EntryRow {
    const char* name;
    std::size_t index;
    std::u16string_view code;
    std::u16string_view character;
};

class MorseEntryTest : public ::testing::TestWithParam<EntryRow> {};

TEST_P(MorseEntryTest, HoldsExactly) {
    const EntryRow& row = GetParam();
    EXPECT_EQ(toUtf8(MorseTable[row.index].code), toUtf8(row.code));
    EXPECT_EQ(toUtf8(MorseTable[row.index].character), toUtf8(row.character));
}

INSTANTIATE_TEST_SUITE_P(Entries, MorseEntryTest,
                         ::testing::Values(EntryRow{"dollar_longest", 50, u"ppplppl", u"$"},
                                           EntryRow{"two_apostrophes_end_in_dashes", 52, u"plppll",
                                                    u"''"},
                                           EntryRow{"a_grave", 54, u"pllpl", u"\u00e0"},
                                           EntryRow{"o_slash", 61, u"plplpp", u"\u00f8"},
                                           EntryRow{"bk_longest", 64, u"lppplpl", u"BK"},
                                           EntryRow{"ka_last", 67, u"lplpl", u"KA"}),
                         rowName);

struct LookupRow {
    const char* name;
    std::u16string_view code;
    std::u16string_view expected;
};

class LookupTest : public ::testing::TestWithParam<LookupRow> {};

TEST_P(LookupTest, ReturnsFirstExactMatch) {
    EXPECT_EQ(toUtf8(lookupCode(GetParam().code)), toUtf8(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(Codes, LookupTest,
                         ::testing::Values(LookupRow{"a_is_lower_case", u"pl", u"a"},
                                           LookupRow{"plplp_is_plus_not_AR", u"plplp", u"+"},
                                           LookupRow{"plppp_is_ampersand_not_AS", u"plppp", u"&"},
                                           LookupRow{"sk", u"ppplpl", u"SK"},
                                           LookupRow{"bk", u"lppplpl", u"BK"},
                                           LookupRow{"ve", u"ppplp", u"VE"},
                                           LookupRow{"ka", u"lplpl", u"KA"},
                                           LookupRow{"two_apostrophes", u"plppll", u"''"},
                                           LookupRow{"empty_is_ER", u"", u"ER"},
                                           LookupRow{"eight_letters_is_ER", u"pppppppp", u"ER"},
                                           LookupRow{"upper_case_is_ER", u"PL", u"ER"},
                                           LookupRow{"prefix_of_code_only", u"ppppppp", u"ER"},
                                           LookupRow{"other_letters_is_ER", u"dd", u"ER"}),
                         rowName);

}  // namespace
}  // namespace dittix::keying
