// The audio outputs on the real audio system: SDL's dummy driver for the completion rules, and
// the test run's audio server (PulseAudio, or PipeWire, each with a null sink, started by the
// test script), recorded from its monitor, for what the sidetone really sounds like. On the
// server the program chooses its outputs itself, as it does when an operator runs it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <thread>

#include "audio_recorder.h"
#include "display/sidetone.h"
#include "platform/audio_output.h"
#include "platform/keyed_tone.h"

namespace dittix::platform {
namespace {

using namespace std::chrono_literals;

platform::SharedSamples samples(std::size_t n, std::int16_t value) {
    return std::make_shared<const SampleBuffer>(n, value);
}

// Waits (boundedly) for a condition that the audio thread makes true.
template <class F>
bool eventually(F&& condition) {
    for (int i = 0; i < 500 && !condition(); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    return condition();
}

class DummyDriverTest : public ::testing::Test {
  protected:
    void SetUp() override { setenv("SDL_AUDIODRIVER", "dummy", 1); }
};

TEST_F(DummyDriverTest, SingleShotCompletesOnceAfterItsLastSample) {
    std::atomic<int> completed{0};
    auto out = makeSdlSingleShotOutput();
    ASSERT_FALSE(out->open([&] { ++completed; }));
    out->submit(samples(4410, 1000));
    EXPECT_TRUE(eventually([&] { return completed.load() == 1; }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(completed.load(), 1);
    out->submit(samples(0, 0));  // an empty buffer completes at the next callback
    EXPECT_TRUE(eventually([&] { return completed.load() == 2; }));
    out->close();
}

TEST_F(DummyDriverTest, ResetDropsThePlayingBufferAndSignalsCompletion) {
    std::atomic<int> completed{0};
    auto out = makeSdlSingleShotOutput();
    ASSERT_FALSE(out->open([&] { ++completed; }));
    out->submit(samples(44100 * 10, 1000));
    out->reset();
    EXPECT_EQ(completed.load(), 1);
    out->reset();  // nothing left to drop
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(completed.load(), 1);
}

TEST_F(DummyDriverTest, OpeningTwiceIsRefusedAndCloseAllowsReopening) {
    auto out = makeSdlLoopingOutput();
    KeyedTone tone;
    int prepared = 0;
    const auto prepare = [&](int rate) {
        EXPECT_EQ(rate, kSampleRate) << "a driver that tells no rate gets the fixed one";
        ++prepared;
    };
    ASSERT_FALSE(out->open(tone, prepare));
    EXPECT_EQ(prepared, 1);
    const auto again = out->open(tone, prepare);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->code, AudioErrorCode::AlreadyOpen);
    EXPECT_EQ(prepared, 1);
    out->close();
    EXPECT_FALSE(out->isOpen());
    EXPECT_FALSE(out->open(tone, prepare));
    EXPECT_TRUE(out->isOpen());
    EXPECT_EQ(sdlAudioDriverInUse(), "dummy");
    out->close();
    EXPECT_EQ(sdlAudioDriverInUse(), "") << "the audio system is let go with the last output";
}

TEST_F(DummyDriverTest, SingleShotRunsOnceOpenAndTellsItsRate) {
    auto out = makeSdlSingleShotOutput();
    EXPECT_FALSE(out->running());
    ASSERT_FALSE(out->open({}));
    EXPECT_EQ(out->sampleRate(), kSampleRate);
    EXPECT_TRUE(eventually([&] { return out->running(); }));
    out->close();
}

TEST(NoAudioDevice, OpenFailsCleanly) {
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    auto looping = makeSdlLoopingOutput();
    KeyedTone tone;
    bool prepared = false;
    const auto error = looping->open(tone, [&](int) { prepared = true; });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, AudioErrorCode::NoDevice);
    EXPECT_FALSE(prepared);
    EXPECT_FALSE(looping->isOpen());
    auto single = makeSdlSingleShotOutput();
    EXPECT_TRUE(single->open({}));
    EXPECT_FALSE(single->running());
    single->submit(samples(10, 1));
    single->reset();
}

class AudioServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::pulseAudioAvailable()) {
            if (std::getenv("DITTIX_REQUIRE_AUDIO") != nullptr) {
                FAIL() << "no audio server, but the test run promised one";
            }
            GTEST_SKIP() << "needs an audio server (the test script starts one)";
        }
        unsetenv("SDL_AUDIODRIVER");  // the program's own choice of backend
    }
};

struct ToneSpan {
    std::size_t first = 0;
    std::size_t last = 0;
    bool found = false;
};

// The tone's frequency from the median length of its cycles, each measured between rising zero
// crossings placed by linear interpolation. The median ignores a cycle broken by a late buffer
// on a busy machine, which is a dropout, not a change of frequency.
double frequencyOf(const std::vector<std::int16_t>& recording, const ToneSpan& span) {
    std::vector<double> crossings;
    for (std::size_t i = span.first + 1; i <= span.last; ++i) {
        const double a = recording[i - 1];
        const double b = recording[i];
        if (a < 0 && b >= 0) {
            crossings.push_back(static_cast<double>(i - 1) + (-a) / (b - a));
        }
    }
    if (crossings.size() < 3) {
        return 0.0;
    }
    std::vector<double> periods;
    for (std::size_t i = 1; i < crossings.size(); ++i) {
        periods.push_back(crossings[i] - crossings[i - 1]);
    }
    std::nth_element(periods.begin(), periods.begin() + periods.size() / 2, periods.end());
    return kSampleRate / periods[periods.size() / 2];
}

// The tone's span where it is at least at half its level: its edges are shaped, and the
// half-level points lie the key-down time apart.
ToneSpan findTone(const std::vector<std::int16_t>& recording) {
    ToneSpan span;
    const int loud = std::max(test::halfPeak(recording), 2000);
    for (std::size_t i = 0; i < recording.size(); ++i) {
        if (std::abs(recording[i]) >= loud) {
            span.first = span.found ? span.first : i;
            span.last = i;
            span.found = true;
        }
    }
    return span;
}

struct GatedRecording {
    std::vector<std::int16_t> samples;
    double gateOpenSeconds = 0;  // as the clock measured it, not as the sleep asked
};

// Records the sink while the sidetone is silent for 400 ms, sounds for `on`, and is silent
// for 500 ms again.
GatedRecording recordGatedTone(display::Sidetone& sidetone, std::chrono::milliseconds on) {
    std::this_thread::sleep_for(300ms);  // let the stream settle, silent
    test::MonitorRecorder recorder;
    EXPECT_TRUE(recorder.running());
    std::this_thread::sleep_for(400ms);
    const auto opened = std::chrono::steady_clock::now();
    sidetone.toneOn();
    std::this_thread::sleep_for(on);
    sidetone.toneOff();
    const std::chrono::duration<double> gateOpen = std::chrono::steady_clock::now() - opened;
    std::this_thread::sleep_for(500ms);
    return {recorder.stop(), gateOpen.count()};
}

// The stream plays the key-down time in samples. Start and stop each wait for the next callback
// (at most 256 frames, 5.8 ms at 44 100 Hz) and reach the sink after what the stream holds then
// (up to one more buffer), so the tone heard is the key-down time within two such buffers. A
// late buffer inserts silence into the tone, which is not counted: the tone is counted in
// pieces, each within a period of the tone where the sine first and last passes half level.
struct HeardTone {
    double seconds = 0;
    int pieces = 0;
    double tolerance() const { return 2 * 256.0 / kSampleRate + pieces / 800.0; }
};

HeardTone heardTone(const std::vector<std::int16_t>& recording) {
    HeardTone heard;
    for (const test::Burst& b : test::bursts(recording, 800.0, test::halfPeak(recording))) {
        heard.seconds += static_cast<double>(b.soundingSamples) / kSampleRate;
        heard.pieces += b.pieces;
    }
    return heard;
}

// A busy machine can leave a dropout anywhere in a recording (the program's stream or the sink
// late), which shortens or splits the tone heard; a fault of the sidetone does the same in every
// recording. So a recording whose tone is not heard as keyed is made again, and only the last of
// kRecordings recordings in a row that are not fails the test.
constexpr int kRecordings = 3;

bool heardAsKeyed(const ToneSpan& tone, const HeardTone& heard, double keyedSeconds) {
    if (tone.found && std::abs(heard.seconds - keyedSeconds) <= heard.tolerance()) {
        return true;
    }
    std::cout << "recording not heard as keyed: " << heard.seconds << " s in " << heard.pieces
              << " pieces for " << keyedSeconds << " s keyed\n";
    return false;
}

TEST_F(AudioServerTest, SidetoneSoundsOnlyWhileKeyedAtItsFrequency) {
    auto out = makeLoopingOutput();
    display::Sidetone sidetone(*out, 800.0);
    ASSERT_EQ(sidetone.openSidetone(), 0);
    if (const char* backend = std::getenv("DITTIX_EXPECT_AUDIO_BACKEND")) {
        EXPECT_EQ(out->backend(), backend) << "the backend the program prefers";
    }
    for (int recording = 1;; ++recording) {
        const GatedRecording recorded = recordGatedTone(sidetone, 500ms);
        const std::vector<std::int16_t>& samples = recorded.samples;
        const ToneSpan tone = findTone(samples);
        const HeardTone heard = heardTone(samples);
        if (!heardAsKeyed(tone, heard, recorded.gateOpenSeconds) && recording < kRecordings) {
            continue;
        }
        ASSERT_TRUE(tone.found) << "no tone in " << samples.size() << " recorded samples";
        EXPECT_NEAR(heard.seconds, recorded.gateOpenSeconds, heard.tolerance());
        EXPECT_GT(tone.first, static_cast<std::size_t>(0.2 * kSampleRate)) << "silence before";
        EXPECT_GT(samples.size() - tone.last, static_cast<std::size_t>(0.2 * kSampleRate))
            << "silence after";
        EXPECT_NEAR(frequencyOf(samples, tone), 800.0, 2.0);
        break;
    }
}

TEST_F(AudioServerTest, ToneChangeIsHeardAtTheNewFrequency) {
    auto out = makeLoopingOutput();
    display::Sidetone sidetone(*out, 800.0);
    ASSERT_EQ(sidetone.openSidetone(), 0);
    sidetone.changeTone('0', false);
    sidetone.changeTone('0', false);
    sidetone.settle();
    ASSERT_EQ(sidetone.frequency(), 820.0);
    const auto recording = recordGatedTone(sidetone, 400ms).samples;
    const ToneSpan tone = findTone(recording);
    ASSERT_TRUE(tone.found) << "no tone in " << recording.size() << " recorded samples";
    EXPECT_NEAR(frequencyOf(recording, tone), 820.0, 2.0);
}

// The stream closes once nothing was keyed for the idle delay; the next key-down opens it again
// on the worker, and its element is replayed from the key-down: heard whole, late by the
// opening time.
TEST_F(AudioServerTest, FirstElementAfterAnIdleCloseSoundsWhole) {
    auto out = makeLoopingOutput();
    display::Sidetone sidetone(*out, 800.0, display::SidetoneOptions{true, 300ms});
    ASSERT_EQ(sidetone.openSidetone(), 0);
    for (int recording = 1;; ++recording) {
        test::MonitorRecorder recorder;
        ASSERT_TRUE(recorder.running());
        ASSERT_TRUE(eventually([&] { return !sidetone.streamOpen(); })) << "closed when idle";
        EXPECT_FALSE(out->isOpen());
        std::this_thread::sleep_for(200ms);
        const auto down = std::chrono::steady_clock::now();
        sidetone.toneOn();
        // Checked while the key is down: 300 ms after the key-up the stream closes again. The
        // opening takes longer under the sanitizers; the key is held for 250 ms at least.
        EXPECT_TRUE(eventually([&] { return sidetone.streamOpen(); }))
            << "opened again by the key-down";
        std::this_thread::sleep_until(down + 250ms);
        sidetone.toneOff();
        const std::chrono::duration<double> held = std::chrono::steady_clock::now() - down;
        std::this_thread::sleep_for(400ms);
        const auto samples = recorder.stop();

        const ToneSpan tone = findTone(samples);
        const HeardTone heard = heardTone(samples);
        if (!heardAsKeyed(tone, heard, held.count()) && recording < kRecordings) {
            continue;
        }
        ASSERT_TRUE(tone.found) << "no tone in " << samples.size() << " recorded samples";
        EXPECT_NEAR(heard.seconds, held.count(), heard.tolerance());
        EXPECT_NEAR(frequencyOf(samples, tone), 800.0, 2.0);
        break;
    }
}

}  // namespace
}  // namespace dittix::platform
