// The composition of the training tones and the playback's order of tones, highlights and sleeps,
// against a recording port with no real clock.
#include "training/playback.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "support/named_rows.h"
#include "training/tone_bank.h"

namespace dittix::training {
namespace {

using test_support::PrintTo;
using test_support::rowName;

struct SpeedRow {
    const char* name;
    int cpm;
    int samples;
};

class SamplesPerDotTest : public ::testing::TestWithParam<SpeedRow> {};

TEST_P(SamplesPerDotTest, ExactProductTruncated) {
    EXPECT_EQ(samplesPerDot(GetParam().cpm), GetParam().samples);
}

INSTANTIATE_TEST_SUITE_P(
    Speeds, SamplesPerDotTest,
    ::testing::Values(SpeedRow{"cpm20_just_below", 20, 13229}, SpeedRow{"cpm25", 25, 10583},
                      SpeedRow{"cpm30", 30, 8820}, SpeedRow{"cpm35", 35, 7560},
                      SpeedRow{"cpm40", 40, 6614}, SpeedRow{"cpm45", 45, 5879},
                      SpeedRow{"cpm50", 50, 5291}, SpeedRow{"cpm60", 60, 4410},
                      SpeedRow{"cpm90", 90, 2939}, SpeedRow{"cpm100", 100, 2645},
                      SpeedRow{"cpm105", 105, 2519}, SpeedRow{"cpm150", 150, 1764}),
    rowName);

platform::SampleBuffer rampTable() {
    platform::SampleBuffer table(44100);
    for (std::size_t i = 0; i < table.size(); ++i) {
        table[i] = static_cast<std::int16_t>(1 + i % 30000);
    }
    return table;
}

TEST(ToneBank, LengthsAndContentAt60Cpm) {
    const auto table = rampTable();
    const auto bank = componiBank(table, 60);
    EXPECT_EQ(bank->tones[4]->size(), 8820U);           // E
    EXPECT_EQ(bank->tones[21]->size(), 44100U);         // V
    EXPECT_EQ(bank->tones[26]->size(), 88200U);         // 0
    const platform::SampleBuffer& a = *bank->tones[0];  // A: dot, dash
    EXPECT_EQ(a.size(), 6U * 4410);
    EXPECT_EQ(a[0], table[0]) << "each element starts at phase 0";
    EXPECT_EQ(a[4409], table[4409]);
    EXPECT_EQ(a[4410], 0);
    EXPECT_EQ(a[8819], 0);
    EXPECT_EQ(a[8820], table[0]);
    EXPECT_EQ(a[8820 + 3 * 4410 - 1], table[3 * 4410 - 1]);
    EXPECT_EQ(a.back(), 0) << "a character ends with one dot of silence";
    EXPECT_EQ(componiBank(table, 150)->tones[26]->size(), 35280U);
}

struct SlotRow {
    const char* name;
    char16_t c;
    int slot;
};

class SlotTest : public ::testing::TestWithParam<SlotRow> {};

TEST_P(SlotTest, Map) {
    EXPECT_EQ(slotFor(GetParam().c), GetParam().slot);
}

INSTANTIATE_TEST_SUITE_P(
    Characters, SlotTest,
    ::testing::Values(SlotRow{"A", u'A', 0}, SlotRow{"Z", u'Z', 25}, SlotRow{"zero", u'0', 26},
                      SlotRow{"nine", u'9', 35}, SlotRow{"question", u'?', 36},
                      SlotRow{"apostrophe", u'\'', 46}, SlotRow{"open", u'(', 44},
                      SlotRow{"blank_none", u' ', -1}, SlotRow{"lower_case_none", u'a', -1},
                      SlotRow{"e_acute_none", u'\u00e9', -1}, SlotRow{"underscore_none", u'_', -1}),
    rowName);

// Records every step; tones finish at once unless told otherwise.
class FakePort : public PlaybackPort {
  public:
    explicit FakePort(int cpm)
        : m_bank(componiBank(rampTable(), cpm)),
          m_sine(std::make_shared<const platform::SampleBuffer>(rampTable())) {}

    std::string log;
    bool tonesNeverFinish = false;
    bool abort = false;
    int polls = 0;
    std::function<void(const std::string&)> onStep;

    void submit(platform::SharedSamples samples) override {
        std::string what = "tone?";
        if (samples == m_sine) {
            what = "sine";
        }
        for (int i = 0; i < kToneSlots; ++i) {
            if (samples == m_bank->tones[static_cast<std::size_t>(i)]) {
                what = "tone" + std::to_string(i);
            }
        }
        m_playing = true;
        step(what);
    }
    bool playing() const override { return m_playing && tonesNeverFinish; }
    void reset() override {
        m_playing = false;
        step("reset");
    }
    void sleepMs(int ms) override {
        if (ms == 1) {
            ++polls;
            if (onStep) {
                onStep("poll");
            }
            return;
        }
        step("sleep" + std::to_string(ms));
    }
    void highlight(int current) override { step("red" + std::to_string(current)); }
    void setYellow(int label) override { step("yellow" + std::to_string(label)); }
    bool aborted() const override { return abort; }
    std::shared_ptr<const ToneBank> bank() const override { return m_bank; }
    platform::SharedSamples sineTable() const override { return m_sine; }

  private:
    void step(const std::string& what) {
        log += (log.empty() ? "" : " ") + what;
        if (onStep) {
            onStep(what);
        }
    }
    std::shared_ptr<const ToneBank> m_bank;
    platform::SharedSamples m_sine;
    bool m_playing = false;
};

struct Playback {
    explicit Playback(std::u16string text, int cpm = 60, int pauseMs = 0) : port(cpm) {
        state.trainingText = std::move(text);
        state.dotMs = 6000 / cpm;
        state.extraPauseMs = pauseMs;
        state.exerciseRunning = true;
    }
    void run() { runPlayback(state, port); }
    TrainingState state;
    FakePort port;
};

constexpr const char* kLeadIn =
    "yellow0 tone21 sleep200 tone21 sleep200 tone21 sleep200 sleep400 sine sleep200 sleep400 "
    "sleep400";

TEST(Playback, OneGroupAt60CpmInOrder) {
    Playback p(u"ABCDE ");
    p.run();
    EXPECT_EQ(p.port.log, std::string(kLeadIn) +
                              " tone0 red0 sleep200 tone1 red1 sleep200 tone2 red2 sleep200 tone3 "
                              "red3 sleep200 tone4 red4 sleep200 red5 sleep400 yellow5");
    EXPECT_FALSE(p.state.exerciseRunning.load());
    EXPECT_TRUE(p.state.playbackEnded.load());
}

TEST(Playback, PauseFollowsEveryCharacterAndEveryBlank) {
    Playback p(u"AB ", 60, 150);
    p.run();
    EXPECT_NE(p.port.log.find("tone0 red0 sleep350 tone1 red1 sleep350 red2 sleep550"),
              std::string::npos);
}

TEST(Playback, PauseIsReadAfreshAtEachGap) {
    Playback p(u"AB ", 60, 0);
    p.port.onStep = [&p](const std::string& step) {
        if (step == "red0") {
            p.state.extraPauseMs = 300;
        }
    };
    p.run();
    EXPECT_NE(p.port.log.find("red0 sleep500 tone1 red1 sleep500 red2 sleep700"),
              std::string::npos);
}

TEST(Playback, StopDuringTheLeadInToneResetsAndEnds) {
    Playback p(u"ABCDE ");
    int polls = 0;
    p.port.tonesNeverFinish = false;
    p.port.onStep = [&](const std::string& step) {
        if (step == "sine") {
            p.port.tonesNeverFinish = true;
        }
        if (step == "poll" && ++polls == 5) {
            p.state.stopRequested = true;
        }
    };
    p.run();
    EXPECT_TRUE(p.port.log.ends_with("sleep400 sine reset")) << p.port.log;
    EXPECT_FALSE(p.state.exerciseRunning.load());
    EXPECT_TRUE(p.state.playbackEnded.load());
}

TEST(Playback, StopDuringAWordGapCutsTheNextCharacter) {
    Playback p(u"AAAAA BBBBB ");
    p.port.onStep = [&p](const std::string& step) {
        if (step == "sleep400" && p.port.log.find("red5") != std::string::npos) {
            p.state.stopRequested = true;  // during the first word gap
        }
    };
    p.run();
    EXPECT_TRUE(p.port.log.ends_with("red5 sleep400 tone1 red6 yellow6 reset")) << p.port.log;
}

TEST(Playback, StopDuringTheLastBlankIsNotSeen) {
    Playback p(u"AAAAA ");
    p.port.onStep = [&p](const std::string& step) {
        if (step == "red5") {
            p.state.stopRequested = true;
        }
    };
    p.run();
    EXPECT_TRUE(p.port.log.ends_with("red5 sleep400 yellow5")) << p.port.log;
    EXPECT_TRUE(p.state.playbackEnded.load());
}

TEST(Playback, AFailedOutputWaitsAtTheFirstToneUntilStop) {
    Playback p(u"AAAAA ");
    p.port.tonesNeverFinish = true;
    p.port.onStep = [&p](const std::string& step) {
        if (step == "poll" && p.port.polls == 1000) {
            p.state.stopRequested = true;
        }
    };
    p.run();
    EXPECT_EQ(p.port.log, "yellow0 tone21 reset");
    EXPECT_EQ(p.port.polls, 1000);
}

TEST(Playback, CharacterWithoutAToneIsHighlightedAndFollowedByTheGap) {
    Playback p(u"\u00e9A!AA ");
    p.run();
    EXPECT_NE(
        p.port.log.find("sleep400 red0 sleep200 tone0 red1 sleep200 red2 sleep200 tone0 red3"),
        std::string::npos)
        << p.port.log;
}

TEST(Playback, ProgramEndingStopsAtOnce) {
    Playback p(u"AAAAA BBBBB ");
    p.port.onStep = [&p](const std::string& step) {
        if (step == "red2") {
            p.port.abort = true;
        }
    };
    p.run();
    EXPECT_TRUE(p.port.log.ends_with("red2 yellow2 reset")) << p.port.log;
    EXPECT_FALSE(p.state.exerciseRunning.load());
}

// The characters the copy is scored against: those whose tone was started, whatever stopped the
// playback, and never one the playback did not reach.
struct StartedRow {
    const char* name;
    std::u16string text;
    std::function<void(Playback&, const std::string& step)> interfere;
    int started;
};

class CharactersStartedTest : public ::testing::TestWithParam<StartedRow> {};

TEST_P(CharactersStartedTest, CountsEveryCharacterWhoseToneBegan) {
    Playback p(GetParam().text);
    std::string seenAtHighlights;
    p.port.onStep = [&](const std::string& step) {
        if (step.starts_with("red")) {
            // Set before the highlight: the highlighted character counts as started.
            seenAtHighlights += std::to_string(p.state.charactersStarted.load()) + " ";
        }
        GetParam().interfere(p, step);
    };
    p.run();
    EXPECT_EQ(p.state.charactersStarted.load(), GetParam().started) << p.port.log;
    std::string expected;
    for (int k = 1; k <= GetParam().started; ++k) {
        expected += std::to_string(k) + " ";
    }
    EXPECT_EQ(seenAtHighlights, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Stops, CharactersStartedTest,
    ::testing::Values(StartedRow{"to_the_end", u"ABCDE ", [](Playback&, const std::string&) {}, 6},
                      StartedRow{"stop_in_the_lead_in", u"ABCDE ",
                                 [](Playback& p, const std::string& step) {
                                     if (step == "sine") {
                                         p.state.stopRequested = true;
                                     }
                                 },
                                 0},
                      StartedRow{"stop_during_the_second_character", u"ABCDE ",
                                 [](Playback& p, const std::string& step) {
                                     if (step == "red1") {
                                         p.state.stopRequested = true;
                                     }
                                 },
                                 2},
                      StartedRow{"stop_in_a_word_gap_cuts_the_next_one", u"AAAAA BBBBB ",
                                 [](Playback& p, const std::string& step) {
                                     if (step == "red5") {
                                         p.state.stopRequested = true;
                                     }
                                 },
                                 7},
                      StartedRow{"program_ending", u"AAAAA BBBBB ",
                                 [](Playback& p, const std::string& step) {
                                     if (step == "red2") {
                                         p.port.abort = true;
                                     }
                                 },
                                 3}),
    rowName);

}  // namespace
}  // namespace dittix::training
