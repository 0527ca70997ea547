// An exercise played through the real training output. What the output hands over is checked
// sample for sample (SDL's disk driver writes every callback's buffer to a file) against the
// composition, shaped edges included; what reaches the test run's audio server (PulseAudio or
// PipeWire with a null sink) is recorded from its monitor and checked with tolerances that
// follow from the sine's period, since a busy machine may insert silence but never removes
// samples. The tones' edges are shaped, so their lengths are measured at half their level.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "audio_recorder.h"
#include "persistence/temp_dir.h"
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

constexpr double kToneHz = 800.0;
constexpr int kCpm = 60;

// "ETE " at 60 CPM: what the playback hands over, in order, is the lead-in V V V, one second of
// the sine table, then E, T, E (each character's buffer ends with one dot of silence).
std::vector<platform::SharedSamples> expectedBuffers(const TrainingAudio& audio) {
    const auto bank = audio.bank();
    const auto slot = [&](char16_t c) { return bank->tones[static_cast<std::size_t>(slotFor(c))]; };
    return {slot(u'V'), slot(u'V'), slot(u'V'), audio.sineTable(),
            slot(u'E'), slot(u'T'), slot(u'E')};
}

void playExercise(TrainingAudio& audio) {
    TrainingState state;
    state.trainingText = u"ETE ";
    state.dotMs = 100;
    state.exerciseRunning = true;
    RecordedPort port(audio);
    runPlayback(state, port);
    EXPECT_TRUE(state.playbackEnded.load());
}

std::vector<std::int16_t> readSamples(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<std::int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

// Finds `buffers` one after the other in `stream`, with nothing but silence before, between and
// after them; returns what is wrong, or an empty text.
std::string findInOrder(const std::vector<std::int16_t>& stream,
                        const std::vector<platform::SharedSamples>& buffers) {
    std::size_t at = 0;
    for (std::size_t b = 0; b < buffers.size(); ++b) {
        const platform::SampleBuffer& want = *buffers[b];
        const auto firstSound = std::find_if(want.begin(), want.end(), [](auto s) { return s; });
        const auto leadingSilence = static_cast<std::size_t>(firstSound - want.begin());
        const auto sound = std::find_if(stream.begin() + static_cast<std::ptrdiff_t>(at),
                                        stream.end(), [](auto s) { return s != 0; });
        const auto soundAt = static_cast<std::size_t>(sound - stream.begin());
        if (sound == stream.end() || soundAt < at + leadingSilence) {
            return "buffer " + std::to_string(b) + " not found after sample " + std::to_string(at);
        }
        const std::size_t start = soundAt - leadingSilence;
        if (stream.size() - start < want.size() ||
            !std::equal(want.begin(), want.end(),
                        stream.begin() + static_cast<std::ptrdiff_t>(start))) {
            return "buffer " + std::to_string(b) + " differs from what was composed, from sample " +
                   std::to_string(start);
        }
        at = start + want.size();
    }
    if (std::any_of(stream.begin() + static_cast<std::ptrdiff_t>(at), stream.end(),
                    [](auto s) { return s != 0; })) {
        return "sound after the last buffer, from sample " + std::to_string(at);
    }
    return {};
}

TEST(TrainingAudio, ExerciseHandsOverExactlyTheComposedSamplesInOrder) {
    const persistence::test::TempDir dir;
    const auto file = dir.path() / "handed-over.raw";
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
    auto output = platform::makeSdlSingleShotOutput();
    TrainingAudio audio(*output, [] { return kToneHz; });
    audio.componi(kCpm);
    ASSERT_TRUE(audio.open());
    ASSERT_TRUE(output->running()) << "the lead-in waits for the stream";
    ASSERT_EQ(audio.sampleRate(), platform::kSampleRate) << "the disk driver tells no rate";
    playExercise(audio);
    std::this_thread::sleep_for(50ms);  // some silence after the last tone
    audio.close();
    EXPECT_FALSE(output->isOpen()) << "closed after the exercise";
    unsetenv("SDL_DISKAUDIOFILE");

    const std::vector<std::int16_t> stream = readSamples(file);
    ASSERT_GT(stream.size(), std::size_t{44100 * 5});
    const auto expected = expectedBuffers(audio);
    EXPECT_EQ(findInOrder(stream, expected), "");
    // The lead-in's steady tone is one second at half level: its rise and fall of 5 ms each.
    EXPECT_EQ(expected[3]->size(), 44100U + 220U);
    EXPECT_EQ((*expected[3])[0], 0);
    EXPECT_LT(std::abs((*expected[3])[11]), 32768 / 100) << "rising";
    EXPECT_EQ((*expected[3]).back(), 0) << "fallen";
}

TEST(TrainingAudio, ExerciseReachesTheSinkInOrderWithItsToneLengths) {
    if (!platform::test::pulseAudioAvailable()) {
        if (std::getenv("DITTIX_REQUIRE_AUDIO") != nullptr) {
            FAIL() << "no audio server, but the test run promised one";
        }
        GTEST_SKIP() << "needs an audio server (the test script starts one)";
    }
    unsetenv("SDL_AUDIODRIVER");  // the program's own choice of outputs
    auto output = platform::makeSingleShotOutput();
    TrainingAudio audio(*output, [] { return kToneHz; });
    audio.componi(kCpm);

    platform::test::MonitorRecorder recorder;
    ASSERT_TRUE(recorder.running());
    std::this_thread::sleep_for(200ms);
    // As START does it: the output opens, the lead-in starts once it runs, it closes after.
    ASSERT_TRUE(audio.open());
    EXPECT_EQ(audio.bank()->rate, audio.sampleRate()) << "composed again at the output's rate";
    if (const char* backend = std::getenv("DITTIX_EXPECT_AUDIO_BACKEND")) {
        EXPECT_EQ(output->backend(), backend) << "the backend the program prefers";
    }
    playExercise(audio);
    std::this_thread::sleep_for(300ms);
    const auto recording = recorder.stop();
    audio.close();

    // V V V: dot dot dot dash; one second of steady tone; E T E. Tones are at least a dot
    // (100 ms) apart, so a run of sound is one tone or, on a busy machine, a part of one.
    const std::vector<double> tonesMs{100, 100, 100, 300, 100,  100, 100, 300,
                                      100, 100, 100, 300, 1000, 100, 300, 100};
    const std::vector<platform::test::Burst> heard =
        platform::test::bursts(recording, kToneHz, platform::test::halfPeak(recording));
    const double perMs = platform::kSampleRate / 1000.0;
    const double periodMs = 1000.0 / kToneHz;
    // The server may take back what it mixed lately (a rewind: when a late stream resumes, or a
    // stream connects), up to the sink's latency, which the recorder sets. What the monitor had
    // already passed on is not recorded again, so a rewind can cut up to that much from the
    // recording, never add to it.
    const double rewindMs = platform::test::kRecorderLatencyMs;
    // Tones are at least a dot apart (see below), less what a rewind may cut.
    const double leastSilenceMs = 100.0 - periodMs - rewindMs;
    std::string found;  // for a failure's message: each run of sound as start+length/pieces in ms
    for (const platform::test::Burst& b : heard) {
        found += " " + std::to_string(static_cast<int>(b.start / perMs)) + "+" +
                 std::to_string(static_cast<int>(b.soundingSamples / perMs)) + "/" +
                 std::to_string(b.pieces);
    }
    SCOPED_TRACE("heard (ms):" + found);
    std::size_t next = 0;
    for (std::size_t t = 0; t < tonesMs.size(); ++t) {
        ASSERT_LT(next, heard.size()) << "tone " << t << " never sounded";
        // Each part's edges lie within a period of the true edges, where the sine crosses zero,
        // and each part may have lost a rewind.
        const auto shortest = [&](int pieces) {
            return tonesMs[t] - (periodMs + rewindMs) * pieces;
        };
        const auto longest = [&](int pieces) { return tonesMs[t] + periodMs * pieces; };
        // A part that fits is joined to the tone when too little silence comes before it for it
        // to be the next tone, or when the tone is still short after a longer silence.
        std::size_t sounding = heard[next].soundingSamples;
        int pieces = heard[next].pieces;
        const std::size_t first = next++;
        while (next < heard.size()) {
            const double silenceMs =
                static_cast<double>(heard[next].start - heard[next - 1].end) / perMs;
            const bool fits = (sounding + heard[next].soundingSamples) / perMs <=
                              longest(pieces + heard[next].pieces);
            if (!fits || (silenceMs >= leastSilenceMs && sounding / perMs >= shortest(pieces))) {
                break;
            }
            sounding += heard[next].soundingSamples;
            pieces += heard[next].pieces;
            ++next;
        }
        EXPECT_GE(sounding / perMs, shortest(pieces)) << "tone " << t;
        EXPECT_LE(sounding / perMs, longest(pieces)) << "tone " << t;
        if (t > 0 && first > 0) {
            // Tones never overlap or run together: the silence inside a character is a dot of
            // its own buffer, and between characters the playback sleeps two dots more than
            // any buffering of the output or the server could take back.
            const double silenceMs =
                static_cast<double>(heard[first].start - heard[first - 1].end) / perMs;
            EXPECT_GT(silenceMs, leastSilenceMs) << "silence before tone " << t;
        }
    }
    EXPECT_EQ(next, heard.size()) << "sound after the last tone";
}

}  // namespace
}  // namespace dittix::training
