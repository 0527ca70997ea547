// The exercise's timing as the audio server's sink hears it: "ETE " at 60 CPM played through the
// training output, recorded from the monitor, each tone's length and each silence compared with
// the composition. Runs against the audio server of the environment (scripts/bench-audio.sh).
// Usage: exercise_timing [rounds]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "../tests/platform/audio_recorder.h"
#include "display/sidetone.h"
#include "percentile.h"
#include "training/playback.h"
#include "training/playback_thread.h"

namespace {

using namespace dittix;

class BenchPort : public training::PlaybackPort {
  public:
    explicit BenchPort(training::TrainingAudio& audio) : m_audio(audio) {}
    void submit(platform::SharedSamples s) override { m_audio.submit(std::move(s)); }
    bool playing() const override { return m_audio.playing(); }
    void reset() override { m_audio.reset(); }
    void sleepMs(int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
    void highlight(int) override {}
    void setYellow(int) override {}
    bool aborted() const override { return false; }
    std::shared_ptr<const training::ToneBank> bank() const override { return m_audio.bank(); }
    platform::SharedSamples sineTable() const override { return m_audio.sineTable(); }

  private:
    training::TrainingAudio& m_audio;
};

void report(const char* what, std::vector<double> errors) {
    if (errors.empty()) {
        std::printf("%-34s none measured\n", what);
        return;
    }
    std::vector<double> magnitude;
    for (double e : errors) {
        magnitude.push_back(std::abs(e));
    }
    std::sort(magnitude.begin(), magnitude.end());
    std::sort(errors.begin(), errors.end());
    std::printf("%-34s n=%zu  |error| median %.1f ms, p90 %.1f ms, worst %.1f ms (%+.1f … %+.1f)\n",
                what, errors.size(), bench::percentile(magnitude, 0.5),
                bench::percentile(magnitude, 0.9), magnitude.back(), errors.front(), errors.back());
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    constexpr double kToneHz = 800.0;
    auto output = platform::makeSingleShotOutput();
    training::TrainingAudio audio(*output, [] { return kToneHz; });
    audio.componi(60);

    // V V V, one second of tone, E T E; the silence before each tone from the second on.
    const std::vector<double> tones{100, 100, 100, 300, 100,  100, 100, 300,
                                    100, 100, 100, 300, 1000, 100, 300, 100};
    const std::vector<double> gaps{100, 100, 100, 300, 100,  100, 100, 300,
                                   100, 100, 100, 700, 1000, 300, 300};
    std::vector<double> toneErrors;
    std::vector<double> gapErrors;
    int broken = 0;
    std::vector<double> openMs;
    for (int r = 0; r < rounds; ++r) {
        platform::test::MonitorRecorder recorder;
        if (!recorder.running()) {
            std::puts("cannot record the sink's monitor");
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        // As for an exercise: the output opens at START, the lead-in starts once it runs, and it
        // closes at the end.
        const auto opening = std::chrono::steady_clock::now();
        if (!audio.open()) {
            std::puts("no audio output");
            return 1;
        }
        openMs.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - opening)
                .count());
        training::TrainingState state;
        state.trainingText = u"ETE ";
        state.dotMs = 100;
        state.exerciseRunning = true;
        BenchPort port(audio);
        training::runPlayback(state, port);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        audio.close();
        const auto heard = platform::test::bursts(recorder.stop(), kToneHz);
        if (heard.size() != tones.size()) {
            ++broken;  // a dropout split a tone: its round's lengths are not comparable
            continue;
        }
        for (std::size_t i = 0; i < tones.size(); ++i) {
            toneErrors.push_back(static_cast<double>(heard[i].soundingSamples) / 44.1 - tones[i]);
            if (std::getenv("EXERCISE_TIMING_VERBOSE") != nullptr) {
                std::printf(
                    "round %d tone %zu: %.2f ms in %d pieces, silence before %.2f ms\n", r, i,
                    static_cast<double>(heard[i].soundingSamples) / 44.1, heard[i].pieces,
                    i > 0 ? static_cast<double>(heard[i].start - heard[i - 1].end) / 44.1 : 0.0);
            }
            if (i > 0) {
                gapErrors.push_back(static_cast<double>(heard[i].start - heard[i - 1].end) / 44.1 -
                                    gaps[i - 1]);
            }
        }
    }
    std::printf(
        "exercise timing through the sink, %d rounds (%d with a split tone left out), "
        "the output at %d Hz\n",
        rounds, broken, audio.sampleRate());
    std::sort(openMs.begin(), openMs.end());
    std::printf(
        "opening the output until it runs (before the lead-in): median %.1f ms, worst "
        "%.1f ms\n",
        bench::percentile(openMs, 0.5), openMs.back());
    report("tone length, heard - composed", toneErrors);
    report("silence before a tone, heard - due", gapErrors);
    return 0;
}
