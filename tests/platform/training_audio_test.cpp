// An exercise played through the real training output into the PulseAudio null sink and recorded
// from its monitor: the lead-in and the characters with their lengths and gaps.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "audio_recorder.h"
#include "display/sidetone.h"
#include "training/playback.h"
#include "training/playback_thread.h"

namespace dittix::training {
namespace {

using namespace std::chrono_literals;

// The playback's port without a window: highlights have nothing to paint.
class RecordedPort : public PlaybackPort {
  public:
    explicit RecordedPort(TrainingAudio& audio) : m_audio(audio) {}
    void submit(platform::SharedSamples s) override { m_audio.submit(std::move(s)); }
    bool playing() const override { return m_audio.playing(); }
    void reset() override { m_audio.reset(); }
    void sleepMs(int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
    void highlight(int) override {}
    void setYellow(int) override {}
    bool aborted() const override { return false; }
    std::shared_ptr<const ToneBank> bank() const override { return m_audio.bank(); }
    platform::SharedSamples sineTable() const override { return m_audio.sineTable(); }

  private:
    TrainingAudio& m_audio;
};

struct Burst {
    double startMs;
    double spanMs;      // first to last loud sample
    double soundingMs;  // milliseconds with sound in them: a dropout on a busy machine is not
                        // counted as tone
};

// Runs of sound separated by at least 20 ms of silence.
std::vector<Burst> bursts(const std::vector<std::int16_t>& recording) {
    std::vector<Burst> found;
    const double perMs = platform::kSampleRate / 1000.0;
    std::size_t i = 0;
    while (i < recording.size()) {
        while (i < recording.size() && std::abs(recording[i]) < 2000) {
            ++i;
        }
        if (i >= recording.size()) {
            break;
        }
        const std::size_t start = i;
        std::size_t last = i;
        std::size_t quiet = 0;
        for (; i < recording.size() && quiet < static_cast<std::size_t>(20 * perMs); ++i) {
            if (std::abs(recording[i]) >= 2000) {
                last = i;
                quiet = 0;
            } else {
                ++quiet;
            }
        }
        int sounding = 0;
        const auto block = static_cast<std::size_t>(perMs);
        for (std::size_t b = start; b <= last; b += block) {
            int loudest = 0;
            for (std::size_t k = b; k < std::min(b + block, last + 1); ++k) {
                loudest = std::max(loudest, std::abs(static_cast<int>(recording[k])));
            }
            sounding += loudest >= 2000;
        }
        found.push_back({static_cast<double>(start) / perMs,
                         static_cast<double>(last - start + 1) / perMs,
                         static_cast<double>(sounding) * static_cast<double>(block) / perMs});
    }
    return found;
}

TEST(TrainingAudio, ExerciseAt60CpmSoundsAsComposed) {
    if (!platform::test::pulseAudioAvailable()) {
        if (std::getenv("DITTIX_REQUIRE_AUDIO") != nullptr) {
            FAIL() << "no PulseAudio server, but the test run promised one";
        }
        GTEST_SKIP() << "needs a PulseAudio server (the test script starts one)";
    }
    setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
    auto output = platform::makeSdlSingleShotOutput();
    const auto sine = std::make_shared<const platform::SampleBuffer>(display::makeSineTable(800.0));
    TrainingAudio audio(*output, [sine] { return sine; });
    ASSERT_TRUE(audio.open());
    audio.componi(60);
    TrainingState state;
    state.trainingText = u"ETE ";
    state.dotMs = 100;
    state.exerciseRunning = true;
    std::this_thread::sleep_for(2500ms);  // a new stream starts late; let it settle first

    platform::test::MonitorRecorder recorder;
    ASSERT_TRUE(recorder.running());
    std::this_thread::sleep_for(200ms);
    RecordedPort port(audio);
    runPlayback(state, port);
    std::this_thread::sleep_for(300ms);
    const auto recording = recorder.stop();
    EXPECT_TRUE(state.playbackEnded.load());

    // V V V: dot dot dot dash, each element followed by a dot of silence; then one second of
    // steady tone; then E T E.
    const std::vector<double> tones{100, 100, 100, 300, 100,  100, 100, 300,
                                    100, 100, 100, 300, 1000, 100, 300, 100};
    // Silence before each tone from the second on: 1 dot inside a character, 1 + 2 between
    // characters, 1 + 2 + 4 before the long tone, 2 + 4 + 4 after it.
    const std::vector<double> gaps{100, 100, 100, 300, 100,  100, 100, 300,
                                   100, 100, 100, 700, 1000, 300, 300};
    const std::vector<Burst> heard = bursts(recording);
    ASSERT_EQ(heard.size(), tones.size());
    for (std::size_t i = 0; i < tones.size(); ++i) {
        EXPECT_NEAR(heard[i].soundingMs, tones[i], 4.0) << "tone " << i;
        if (i > 0) {
            const double gap = heard[i].startMs - (heard[i - 1].startMs + heard[i - 1].spanMs);
            // Slept gaps also include the wait for the completion and the audio server's
            // scheduling.
            EXPECT_NEAR(gap, gaps[i - 1], 25.0) << "gap before tone " << i;
        }
    }
    output->close();
}

}  // namespace
}  // namespace dittix::training
