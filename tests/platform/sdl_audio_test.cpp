// The audio outputs on the real audio system: SDL's dummy driver for the completion rules, and
// a PulseAudio server with a null sink (started by the test script), recorded from its monitor,
// for what the sidetone really sounds like.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>

#include "audio_recorder.h"
#include "display/sidetone.h"
#include "platform/audio_output.h"

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
    ASSERT_FALSE(out->open());
    const auto again = out->open();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->code, AudioErrorCode::AlreadyOpen);
    out->close();
    EXPECT_FALSE(out->isOpen());
    EXPECT_FALSE(out->open());
    EXPECT_TRUE(out->isOpen());
}

TEST(NoAudioDevice, OpenFailsCleanly) {
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    auto looping = makeSdlLoopingOutput();
    const auto error = looping->open();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, AudioErrorCode::NoDevice);
    EXPECT_FALSE(looping->isOpen());
    looping->setGate(true);  // harmless without a device
    looping->setTable(samples(10, 1));
    auto single = makeSdlSingleShotOutput();
    EXPECT_TRUE(single->open({}));
    single->submit(samples(10, 1));
    single->reset();
}

class PulseAudioTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::pulseAudioAvailable()) {
            if (std::getenv("DITTIX_REQUIRE_AUDIO") != nullptr) {
                FAIL() << "no PulseAudio server, but the test run promised one";
            }
            GTEST_SKIP() << "needs a PulseAudio server (the test script starts one)";
        }
        setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
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

ToneSpan findTone(const std::vector<std::int16_t>& recording) {
    ToneSpan span;
    for (std::size_t i = 0; i < recording.size(); ++i) {
        if (std::abs(recording[i]) > 2000) {
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

TEST_F(PulseAudioTest, SidetoneSoundsOnlyWhileGatedAtItsFrequency) {
    auto out = makeSdlLoopingOutput();
    display::Sidetone sidetone(*out, 800.0);
    ASSERT_EQ(sidetone.openSidetone(), 0);
    const GatedRecording recorded = recordGatedTone(sidetone, 500ms);
    const std::vector<std::int16_t>& recording = recorded.samples;
    out->close();

    const ToneSpan tone = findTone(recording);
    ASSERT_TRUE(tone.found) << "no tone in " << recording.size() << " recorded samples";
    const double seconds = static_cast<double>(tone.last - tone.first) / kSampleRate;
    // Start and stop each wait for the next 256-frame callback (5.8 ms), and each reaches the
    // sink after what the stream holds then (up to one more buffer): the heard length is the
    // gate's open time within two buffers. A late buffer in between inserts silence, which
    // the span from the first to the last loud sample keeps.
    EXPECT_NEAR(seconds, recorded.gateOpenSeconds, 2 * 256.0 / kSampleRate);
    EXPECT_GT(tone.first, static_cast<std::size_t>(0.2 * kSampleRate)) << "silence before";
    EXPECT_GT(recording.size() - tone.last, static_cast<std::size_t>(0.2 * kSampleRate))
        << "silence after";
    EXPECT_NEAR(frequencyOf(recording, tone), 800.0, 2.0);
}

TEST_F(PulseAudioTest, ToneChangeIsHeardAtTheNewFrequency) {
    auto out = makeSdlLoopingOutput();
    display::Sidetone sidetone(*out, 800.0);
    ASSERT_EQ(sidetone.openSidetone(), 0);
    sidetone.changeTone('0', false);
    sidetone.changeTone('0', false);
    ASSERT_EQ(sidetone.frequency(), 820.0);
    const auto recording = recordGatedTone(sidetone, 400ms).samples;
    const ToneSpan tone = findTone(recording);
    ASSERT_TRUE(tone.found) << "no tone in " << recording.size() << " recorded samples";
    EXPECT_NEAR(frequencyOf(recording, tone), 820.0, 2.0);
}

}  // namespace
}  // namespace dittix::platform
