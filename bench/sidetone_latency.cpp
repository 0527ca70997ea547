// Sidetone latency on the software path: from toneOn (what the tick does when the key goes down)
// to the audio callback that first plays the tone's samples; then the first key-down after the
// stream was closed for idleness, which waits for the stream to open. Runs against the audio
// server of the environment (scripts/bench-audio.sh starts them with a null sink).
// Usage: sidetone_latency [repetitions] [reopenings]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include "display/sidetone.h"
#include "platform/audio_output.h"

namespace {

using namespace dittix;

void waitFor(const std::function<bool()>& done, int ms) {
    for (int wait = 0; wait < ms && !done(); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int reopenings = argc > 2 ? std::atoi(argv[2]) : 20;
    platform::GateLatencyProbe probe;
    auto output = platform::makeLoopingOutput();
    {
        // A short idle delay, so that the stream closes and opens again many times.
        display::Sidetone sidetone(*output, 800.0,
                                   display::SidetoneOptions{true, std::chrono::milliseconds(300)},
                                   {}, &probe);
        if (sidetone.openSidetone() != 0) {
            std::puts("no audio output");
            return 1;
        }
        // The first press, 100 ms after opening the output.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        sidetone.toneOn();
        waitFor([&] { return probe.lastLatencyNs.load() >= 0; }, 10000);
        sidetone.toneOff();
        std::printf("first press, 100 ms after opening the output: %.1f ms\n",
                    static_cast<double>(probe.lastLatencyNs.load()) / 1e6);
        // Key-downs on a closed stream: the worker opens it, the callback replays the key-down.
        std::vector<double> reopened;
        for (int i = 0; i < reopenings; ++i) {
            waitFor([&] { return !sidetone.streamOpen(); }, 5000);
            probe.lastLatencyNs.store(-1);
            sidetone.toneOn();
            waitFor([&] { return probe.lastLatencyNs.load() >= 0; }, 5000);
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
            sidetone.toneOff();
            if (probe.lastLatencyNs.load() >= 0) {
                reopened.push_back(static_cast<double>(probe.lastLatencyNs.load()) / 1e6);
            }
        }
        if (!reopened.empty()) {
            std::sort(reopened.begin(), reopened.end());
            std::printf(
                "key-down on a stream closed while idle, to the first callback playing "
                "it, %zu times: median %.1f ms, worst %.1f ms\n",
                reopened.size(), reopened[reopened.size() / 2], reopened.back());
        }
    }
    // The steady state, on a stream that stays open.
    display::Sidetone sidetone(*output, 800.0, display::SidetoneOptions{true, {}}, {}, &probe);
    if (sidetone.openSidetone() != 0) {
        std::puts("no audio output");
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    std::mt19937 random(3);
    std::vector<double> ms;
    for (int i = 0; i < repetitions; ++i) {
        probe.lastLatencyNs.store(-1);
        sidetone.toneOn();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        waitFor([&] { return probe.lastLatencyNs.load() >= 0; }, 2000);
        const auto latency = probe.lastLatencyNs.load();
        sidetone.toneOff();
        if (latency >= 0) {
            ms.push_back(static_cast<double>(latency) / 1e6);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(15 + random() % 20));
    }
    if (ms.empty()) {
        std::puts("the callback never ran");
        return 1;
    }
    std::sort(ms.begin(), ms.end());
    const auto over = [&ms](double limit) {
        return ms.end() - std::upper_bound(ms.begin(), ms.end(), limit);
    };
    std::printf("over 6 ms: %td, over 10 ms: %td, over 20 ms: %td, over 100 ms: %td\n", over(6),
                over(10), over(20), over(100));
    std::printf(
        "toneOn to first tone samples handed over, %zu presses: median %.2f ms  p99 %.2f ms"
        "  worst %.2f ms  (missed %d)\n",
        ms.size(), ms[ms.size() / 2], ms[ms.size() * 99 / 100], ms.back(),
        repetitions - static_cast<int>(ms.size()));
    return 0;
}
