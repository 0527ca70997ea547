// The sidetone with a fake stream on a clock the test sets: its sine table, the tone keys, the
// worker that opens the stream and closes it when idle, and what the stream plays across that.
#include "display/sidetone.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

#include "support/named_rows.h"

namespace dittix::display {
namespace {

using namespace std::chrono_literals;
using test_support::PrintTo;
using test_support::rowName;

constexpr int kRate = 48000;
constexpr std::int64_t kMs = 1'000'000;
constexpr std::int64_t kStart = 5'000'000'000'000;

// A stream that the test pulls by hand: what its callback would hand over.
class FakeOutput : public platform::LoopingOutput {
  public:
    std::atomic<bool> failOpen{false};
    std::atomic<int> opens{0};  // successful ones
    std::atomic<int> attempts{0};
    std::atomic<int> closes{0};
    std::atomic<bool> open_{false};

    std::optional<platform::AudioError> open(platform::KeyedTone& tone,
                                             const Prepare& prepare) override {
        ++attempts;
        if (failOpen) {
            return platform::AudioError{platform::AudioErrorCode::NoDevice, "none"};
        }
        if (prepare) {
            prepare(kRate);
        }
        tone.restart(kRate);
        m_tone = &tone;
        ++opens;
        open_ = true;
        return std::nullopt;
    }
    void close() override {
        ++closes;
        open_ = false;
    }
    bool isOpen() const override { return open_; }

    std::vector<std::int16_t> pull(std::size_t frames, std::int64_t atNs) {
        std::vector<std::int16_t> out(frames);
        for (std::size_t done = 0; done < frames; done += 128) {
            const std::size_t n = std::min<std::size_t>(128, frames - done);
            m_tone.load()->render(out.data() + done, n,
                                  atNs + static_cast<std::int64_t>(done) * 1'000'000'000 / kRate);
        }
        return out;
    }

  private:
    std::atomic<platform::KeyedTone*> m_tone{nullptr};
};

// The test's clock.
struct TestClock {
    std::atomic<std::int64_t> now{kStart};
    Sidetone::Clock clock() {
        return [this] { return now.load(); };
    }
};

bool sounding(const std::vector<std::int16_t>& samples) {
    return std::any_of(samples.begin(), samples.end(), [](std::int16_t v) { return v != 0; });
}

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

TEST(SineTable, AtTheStreamsRate) {
    const auto table = makeSineTable(800.0, kRate);
    ASSERT_EQ(table.size(), 48000U);
    // One cycle is exactly 60 samples at 48 kHz.
    for (std::size_t i = 0; i + 60 < table.size(); i += 611) {
        EXPECT_NEAR(table[i], table[i + 60], 1) << i;
    }
    EXPECT_EQ(table[15], 32767) << "the crest, limited";
}

TEST(SineTable, CrestIsLimitedTo32767AndValuesTruncate) {
    const auto table = makeSineTable(441.0);
    EXPECT_EQ(table[25], 32767);   // 32 768 × sin(π/2), limited
    EXPECT_EQ(table[75], -32768);  // the trough fits; only the crest is limited
    const double exact = 32768.0 * std::sin(2.0 * 3.141592653589793 * 441.0 / 44100.0 * 1.0);
    EXPECT_EQ(table[1], static_cast<int>(exact));
}

TEST(Sidetone, OpenMakesTheTableAtTheStoredFrequencyAndTheStreamsRate) {
    FakeOutput out;
    Sidetone tone(out, 812.7);
    EXPECT_EQ(tone.openSidetone(), 0);
    EXPECT_EQ(out.opens, 1);
    EXPECT_TRUE(tone.streamOpen());
    EXPECT_EQ(*tone.sineTable(), makeSineTable(812.7, kRate));
    EXPECT_EQ(tone.openSidetone(), 0);
    EXPECT_EQ(out.attempts, 1) << "an open stream is used as it is";
}

TEST(Sidetone, FailedOpenReturnsOneKeepsTheTableAndWaitsForAToneChange) {
    FakeOutput out;
    out.failOpen = true;
    TestClock clock;
    Sidetone tone(out, 800.0, {}, clock.clock());
    const auto before = tone.sineTable();
    EXPECT_EQ(tone.openSidetone(), 1);
    EXPECT_EQ(tone.sineTable(), before);
    EXPECT_EQ(std::count(before->begin(), before->end(), 0), 44100);
    tone.toneOn();  // no device: nothing to hear, and no new attempt on every key-down
    tone.toneOff();
    tone.settle();
    EXPECT_EQ(out.attempts, 1);
    out.failOpen = false;
    tone.changeTone('0', false);
    tone.settle();
    EXPECT_TRUE(tone.streamOpen());
    EXPECT_EQ(*tone.sineTable(), makeSineTable(810.0, kRate));
}

struct ChangeRow {
    const char* name;
    double from;
    int key;
    double to;
    bool retabled;
};

class ChangeToneTest : public ::testing::TestWithParam<ChangeRow> {};

TEST_P(ChangeToneTest, StepsAndBounds) {
    FakeOutput out;
    Sidetone tone(out, GetParam().from);
    tone.openSidetone();
    const auto before = tone.sineTable();
    tone.changeTone(GetParam().key, false);
    tone.settle();
    EXPECT_EQ(tone.frequency(), GetParam().to);
    EXPECT_EQ(out.attempts, 1) << "an open stream is used as it is";
    EXPECT_EQ(out.closes, 0);
    if (GetParam().retabled) {
        EXPECT_EQ(*tone.sineTable(), makeSineTable(GetParam().to, kRate));
        EXPECT_EQ(*before, makeSineTable(GetParam().from, kRate))
            << "the old snapshot is unchanged";
    } else {
        EXPECT_EQ(tone.sineTable(), before);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Keys, ChangeToneTest,
    ::testing::Values(ChangeRow{"raise_990_to_1000", 990, '0', 1000, true},
                      ChangeRow{"raise_at_1000_sets_bound_only", 1000, '0', 1000, false},
                      ChangeRow{"raise_995_beyond_bound", 995, '0', 1000, false},
                      ChangeRow{"lower_260_to_250", 260, '9', 250, true},
                      ChangeRow{"lower_at_250_stays", 250, '9', 250, false},
                      ChangeRow{"lower_255_sets_250_only", 255, '9', 250, false},
                      ChangeRow{"lower_800_to_790", 800, '9', 790, true},
                      ChangeRow{"other_key_ignored", 800, '8', 800, false},
                      ChangeRow{"letter_ignored", 800, 'P', 800, false}),
    rowName);

TEST(Sidetone, ToneChangeKeepsTheKeyboardKeyingSoundingAndLetsAnyOtherKeyGo) {
    FakeOutput out;
    TestClock clock;
    Sidetone tone(out, 800.0, SidetoneOptions{false, 30s}, clock.clock());
    tone.openSidetone();
    tone.toneOn();
    EXPECT_TRUE(sounding(out.pull(256, kStart)));
    tone.changeTone('0', true);
    tone.settle();
    const auto afterKeyboard = out.pull(1024, kStart + 10 * kMs);
    EXPECT_TRUE(
        std::equal(afterKeyboard.begin(), afterKeyboard.end(), makeSineTable(810.0, kRate).begin()))
        << "the held tone goes on at the new pitch, from the new table's start";
    clock.now = kStart + 40 * kMs;
    tone.changeTone('0', false);  // the serial key held: off until the next tick turns it on
    tone.settle();
    const auto afterSerial = out.pull(2048, kStart + 41 * kMs);
    EXPECT_FALSE(sounding({afterSerial.end() - 256, afterSerial.end()}));
}

TEST(Sidetone, LostStreamIsOpenedAgainByAToneChange) {
    FakeOutput out;
    Sidetone tone(out, 800.0);
    tone.openSidetone();
    out.open_ = false;  // the device went away
    tone.changeTone('9', false);
    tone.settle();
    EXPECT_EQ(out.opens, 2);
    EXPECT_TRUE(out.isOpen());
}

struct LostRow {
    const char* name;
    bool lost;        // the output says the stream is gone
    bool keyHeld;     // a key is down when the worker looks
    bool idleClose;   // the idle close is on
    int opensBefore;  // successful openings once the worker has looked
    int opensAfter;   // and after the next key-down
};

class LostStreamTest : public ::testing::TestWithParam<LostRow> {};

// A stream the sound server dropped is closed when the worker looks, and opened again by the
// next key-down, at once when a key is down; a stream still there is left alone.
TEST_P(LostStreamTest, ClosedAndOpenedAgainByTheKey) {
    const LostRow& p = GetParam();
    FakeOutput out;
    TestClock clock;
    Sidetone tone(out, 800.0, SidetoneOptions{true, p.idleClose ? 30s : 0s}, clock.clock());
    tone.openSidetone();
    clock.now = kStart + 1000 * kMs;
    if (p.keyHeld) {
        tone.toneOn();
        tone.settle();
    }
    out.open_ = !p.lost;
    tone.checkIdle();
    tone.settle();
    EXPECT_EQ(out.opens, p.opensBefore);
    EXPECT_EQ(tone.streamOpen(), !p.lost || p.keyHeld);
    EXPECT_EQ(out.closes, p.lost ? 1 : 0);

    tone.toneOff();
    clock.now = kStart + 1200 * kMs;
    tone.toneOn();
    tone.settle();
    EXPECT_EQ(out.opens, p.opensAfter);
    EXPECT_TRUE(tone.streamOpen());
    EXPECT_TRUE(out.isOpen());
}

INSTANTIATE_TEST_SUITE_P(Table, LostStreamTest,
                         ::testing::Values(LostRow{"still_there", false, false, true, 1, 1},
                                           LostRow{"lost_key_up", true, false, true, 1, 2},
                                           LostRow{"lost_key_held", true, true, true, 2, 2},
                                           LostRow{"lost_idle_close_off", true, false, false, 1,
                                                   2}),
                         rowName);

// The worker looks by itself, every `lostCheck`.
TEST(Sidetone, ALostStreamIsFoundWithoutBeingAsked) {
    FakeOutput out;
    Sidetone tone(out, 800.0, SidetoneOptions{true, 30s, 1ms});
    tone.openSidetone();
    out.open_ = false;
    while (tone.streamOpen()) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(out.closes, 1);
    tone.toneOn();
    tone.settle();
    EXPECT_EQ(out.opens, 2);
}

struct IdleRow {
    const char* name;
    std::int64_t quietMs;  // since the last key-up
    bool closed;
};

class IdleCloseTest : public ::testing::TestWithParam<IdleRow> {};

TEST_P(IdleCloseTest, ClosesOnlyOnceTheDelayHasPassed) {
    FakeOutput out;
    TestClock clock;
    Sidetone tone(out, 800.0, SidetoneOptions{true, 30s}, clock.clock());
    tone.openSidetone();
    clock.now = kStart + 1000 * kMs;
    tone.toneOn();
    clock.now = kStart + 1100 * kMs;
    tone.toneOff();
    clock.now = kStart + 1100 * kMs + GetParam().quietMs * kMs;
    tone.checkIdle();
    tone.settle();
    EXPECT_EQ(out.closes, GetParam().closed ? 1 : 0);
    EXPECT_EQ(tone.streamOpen(), !GetParam().closed);
}

INSTANTIATE_TEST_SUITE_P(Delays, IdleCloseTest,
                         ::testing::Values(IdleRow{"quiet_29999_ms_stays_open", 29999, false},
                                           IdleRow{"quiet_30000_ms_closes", 30000, true},
                                           IdleRow{"quiet_30001_ms_closes", 30001, true}),
                         rowName);

TEST(Sidetone, HeldKeyKeepsTheStreamOpenPastTheDelay) {
    FakeOutput out;
    TestClock clock;
    Sidetone tone(out, 800.0, SidetoneOptions{true, 30s}, clock.clock());
    tone.openSidetone();
    tone.toneOn();
    clock.now = kStart + 120'000 * kMs;
    tone.checkIdle();
    tone.settle();
    EXPECT_EQ(out.closes, 0);
}

TEST(Sidetone, ZeroDelayNeverCloses) {
    FakeOutput out;
    TestClock clock;
    Sidetone tone(out, 800.0, SidetoneOptions{true, 0s}, clock.clock());
    tone.openSidetone();
    clock.now = kStart + 3'600'000 * kMs;
    tone.checkIdle();
    tone.settle();
    EXPECT_EQ(out.closes, 0);
}

TEST(Sidetone, OpeningCountsAsActivity) {
    FakeOutput out;
    TestClock clock;
    Sidetone tone(out, 800.0, SidetoneOptions{true, 30s}, clock.clock());
    clock.now = kStart + 100'000 * kMs;
    tone.openSidetone();
    clock.now += 29'999 * kMs;
    tone.checkIdle();
    tone.settle();
    EXPECT_EQ(out.closes, 0) << "a fresh stream gets the whole delay";
}

// After an idle close the next key-down opens the stream again, and its element is heard whole
// (the fake stream starts 40 ms after the key went down), held or let go meanwhile.
struct ReopenRow {
    const char* name;
    bool shaped;
    std::int64_t heldMs;
};

class ReopenTest : public ::testing::TestWithParam<ReopenRow> {};

TEST_P(ReopenTest, FirstElementAfterIdleSoundsWhole) {
    const ReopenRow& row = GetParam();
    FakeOutput out;
    TestClock clock;
    Sidetone tone(out, 800.0, SidetoneOptions{row.shaped, 30s}, clock.clock());
    tone.openSidetone();
    clock.now = kStart + 31'000 * kMs;
    tone.checkIdle();
    tone.settle();
    ASSERT_FALSE(tone.streamOpen());

    const std::int64_t down = clock.now.load();
    tone.toneOn();
    if (row.heldMs <= 40) {
        clock.now = down + row.heldMs * kMs;
        tone.toneOff();
    }
    tone.settle();
    ASSERT_TRUE(tone.streamOpen()) << "the key-down opened the stream";
    EXPECT_EQ(out.opens, 2);
    std::vector<std::int16_t> heard = out.pull(128, down + 40 * kMs);
    if (row.heldMs > 40) {
        clock.now = down + row.heldMs * kMs;
        tone.toneOff();
    }
    const auto rest = out.pull(9600 - 128, down + 40 * kMs + 128 * kMs * 1000 / kRate);
    heard.insert(heard.end(), rest.begin(), rest.end());

    const int ramp = row.shaped ? platform::rampSamplesFor(kRate) : 0;
    platform::SampleBuffer want;
    const auto toneFrames = static_cast<std::size_t>(row.heldMs * kRate / 1000);
    platform::appendShapedTone(want, makeSineTable(800.0, kRate), toneFrames, 9600 - toneFrames,
                               platform::ToneShape{ramp});
    EXPECT_EQ(heard, want);
}

INSTANTIATE_TEST_SUITE_P(Keyings, ReopenTest,
                         ::testing::Values(ReopenRow{"dot_let_go_while_opening", true, 30},
                                           ReopenRow{"held_across_the_reopen", true, 120},
                                           ReopenRow{"plain_held_across_the_reopen", false, 120}),
                         rowName);

// A stream that opened late plays behind the key (here it has played nothing since it opened
// again): the idle close waits until it has played the key-up, unless the key-up is older than
// the stretch a stream replays.
struct BehindRow {
    const char* name;
    std::int64_t playedUpToMs;  // how much of the keying the stream has played, from the key-down
    std::int64_t quietMs;       // since the key-up
    bool closed;
};

class PlayingBehindTest : public ::testing::TestWithParam<BehindRow> {};

TEST_P(PlayingBehindTest, ClosesOnlyOnceTheKeyUpIsPlayed) {
    const BehindRow& row = GetParam();
    FakeOutput out;
    TestClock clock;
    Sidetone tone(out, 800.0, SidetoneOptions{true, 300ms}, clock.clock());
    tone.openSidetone();
    clock.now = kStart + 1000 * kMs;
    tone.checkIdle();
    tone.settle();
    ASSERT_FALSE(tone.streamOpen());

    const std::int64_t down = clock.now.load();
    tone.toneOn();
    tone.settle();
    ASSERT_TRUE(tone.streamOpen());
    clock.now = down + 100 * kMs;
    tone.toneOff();
    if (row.playedUpToMs > 0) {
        // The first callback starts the replay at the key-down.
        out.pull(static_cast<std::size_t>(row.playedUpToMs * kRate / 1000), down + 400 * kMs);
    }
    clock.now = down + 100 * kMs + row.quietMs * kMs;
    tone.checkIdle();
    tone.settle();
    EXPECT_EQ(tone.streamOpen(), !row.closed);
}

INSTANTIATE_TEST_SUITE_P(
    Keyings, PlayingBehindTest,
    ::testing::Values(BehindRow{"nothing_played_stays_open", 0, 300, false},
                      BehindRow{"played_to_just_before_the_key_up_stays_open", 99, 300, false},
                      BehindRow{"played_past_the_key_up_closes", 101, 300, true},
                      BehindRow{"key_up_just_within_the_replay_stays_open", 0, 1000, false},
                      BehindRow{"key_up_older_than_the_replay_closes", 0, 1001, true}),
    rowName);

TEST(Sidetone, WorkerClosesByItselfOnTheSteadyClock) {
    FakeOutput out;
    Sidetone tone(out, 800.0, SidetoneOptions{true, 50ms});
    tone.openSidetone();
    for (int i = 0; i < 500 && tone.streamOpen(); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_FALSE(tone.streamOpen());
    EXPECT_EQ(out.closes, 1);
}

TEST(Sidetone, WorkerClosesByItselfAfterAKeyIsLetGo) {
    FakeOutput out;
    Sidetone tone(out, 800.0, SidetoneOptions{true, 50ms});
    tone.openSidetone();
    tone.toneOn();  // the worker now waits with the key held
    std::this_thread::sleep_for(120ms);
    EXPECT_TRUE(tone.streamOpen()) << "held past the delay";
    tone.toneOff();  // tells the worker nothing
    for (int i = 0; i < 500 && tone.streamOpen(); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_FALSE(tone.streamOpen());
}

}  // namespace
}  // namespace dittix::display
