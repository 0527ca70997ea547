// The sidetone: its sine table, the tone keys and the reopen they cause.
#include "display/sidetone.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "support/named_rows.h"

namespace dittix::display {
namespace {

using test_support::PrintTo;
using test_support::rowName;

class FakeOutput : public platform::LoopingOutput {
  public:
    bool failOpen = false;
    int opens = 0;
    int closes = 0;
    bool open_ = false;
    bool gate = false;
    std::string log;
    platform::SharedSamples table;

    std::optional<platform::AudioError> open() override {
        log += "open ";
        if (failOpen) {
            return platform::AudioError{platform::AudioErrorCode::NoDevice, "none"};
        }
        ++opens;
        open_ = true;
        return std::nullopt;
    }
    void setTable(platform::SharedSamples t) override {
        log += "table ";
        table = std::move(t);
    }
    void setGate(bool on) override {
        log += on ? "on " : "off ";
        gate = on;
    }
    void close() override {
        log += "close ";
        ++closes;
        open_ = false;
    }
    bool isOpen() const override { return open_; }
};

TEST(SineTable, EightHundredHertz) {
    const auto table = makeSineTable(800.0);
    ASSERT_EQ(table.size(), 44100U);
    EXPECT_EQ(table[0], 0);
    // One cycle spans 55.125 samples: 1600 sign changes in one second.
    int changes = 0;
    for (std::size_t i = 1; i < table.size(); ++i) {
        changes += (table[i - 1] < 0) != (table[i] < 0);
    }
    EXPECT_NEAR(changes, 1600, 1);
    // Eight cycles are exactly 441 samples: the table repeats itself there.
    for (std::size_t i = 0; i + 441 < table.size(); i += 997) {
        EXPECT_NEAR(table[i], table[i + 441], 1) << i;
    }
}

TEST(SineTable, CrestIsLimitedTo32767AndValuesTruncate) {
    const auto table = makeSineTable(441.0);
    EXPECT_EQ(table[25], 32767);   // 32 768 × sin(π/2), limited
    EXPECT_EQ(table[75], -32768);  // the trough fits; only the crest is limited
    const double exact = 32768.0 * std::sin(2.0 * 3.141592653589793 * 441.0 / 44100.0 * 1.0);
    EXPECT_EQ(table[1], static_cast<int>(exact));
}

TEST(Sidetone, OpenFillsTableAtTheStoredFrequencyWithToneOff) {
    FakeOutput out;
    Sidetone tone(out, 812.7);
    EXPECT_EQ(tone.openSidetone(), 0);
    EXPECT_EQ(out.log, "open off table ");
    EXPECT_EQ(out.table, tone.sineTable());
    EXPECT_EQ(*tone.sineTable(), makeSineTable(812.7));
}

TEST(Sidetone, FailedOpenReturnsOneAndKeepsTheTable) {
    FakeOutput out;
    out.failOpen = true;
    Sidetone tone(out, 800.0);
    const auto before = tone.sineTable();
    EXPECT_EQ(tone.openSidetone(), 1);
    EXPECT_EQ(tone.sineTable(), before);
    EXPECT_EQ(std::count(before->begin(), before->end(), 0), 44100);
    tone.toneOn();  // no device: nothing to hear, nothing fails
    tone.toneOff();
}

struct ChangeRow {
    const char* name;
    double from;
    int key;
    double to;
    bool reopened;
};

class ChangeToneTest : public ::testing::TestWithParam<ChangeRow> {};

TEST_P(ChangeToneTest, StepsAndBounds) {
    FakeOutput out;
    Sidetone tone(out, GetParam().from);
    tone.openSidetone();
    out.log.clear();
    const auto before = tone.sineTable();
    tone.changeTone(GetParam().key, false);
    EXPECT_EQ(tone.frequency(), GetParam().to);
    EXPECT_EQ(out.opens, 1) << "an open output is used as it is";
    if (GetParam().reopened) {
        EXPECT_EQ(out.log, "off off table ");
        EXPECT_EQ(*tone.sineTable(), makeSineTable(GetParam().to));
        EXPECT_EQ(*before, makeSineTable(GetParam().from)) << "the old snapshot is unchanged";
    } else {
        EXPECT_EQ(out.log, "");
        EXPECT_EQ(tone.sineTable(), before);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Keys, ChangeToneTest,
    ::testing::Values(ChangeRow{"raise_990_to_1000_reopens", 990, '0', 1000, true},
                      ChangeRow{"raise_at_1000_sets_bound_only", 1000, '0', 1000, false},
                      ChangeRow{"raise_995_beyond_bound", 995, '0', 1000, false},
                      ChangeRow{"lower_260_to_250_reopens", 260, '9', 250, true},
                      ChangeRow{"lower_at_250_stays", 250, '9', 250, false},
                      ChangeRow{"lower_255_sets_250_without_reopen", 255, '9', 250, false},
                      ChangeRow{"lower_800_to_790", 800, '9', 790, true},
                      ChangeRow{"other_key_ignored", 800, '8', 800, false},
                      ChangeRow{"letter_ignored", 800, 'P', 800, false}),
    rowName);

TEST(Sidetone, ReopenResumesToneWhenTheKeyboardIsKeying) {
    FakeOutput out;
    Sidetone tone(out, 800.0);
    tone.openSidetone();
    tone.toneOn();
    tone.changeTone('0', true);
    EXPECT_TRUE(out.gate);
    tone.changeTone('0', false);  // the serial key held: stays off until the next tick
    EXPECT_FALSE(out.gate);
}

TEST(Sidetone, LostOutputIsOpenedAgainByAToneChange) {
    FakeOutput out;
    Sidetone tone(out, 800.0);
    tone.openSidetone();
    out.open_ = false;  // the device went away
    tone.changeTone('9', false);
    EXPECT_EQ(out.opens, 2);
    EXPECT_TRUE(out.isOpen());
}

TEST(Sidetone, RaiseAfterFailedOpenTriesAgain) {
    FakeOutput out;
    out.failOpen = true;
    Sidetone tone(out, 800.0);
    EXPECT_EQ(tone.openSidetone(), 1);
    out.failOpen = false;
    tone.changeTone('0', false);
    EXPECT_TRUE(out.isOpen());
    EXPECT_EQ(*tone.sineTable(), makeSineTable(810.0));
}

}  // namespace
}  // namespace dittix::display
