// Sidetone latency on the software path: from opening the gate (what toneOn does inside the
// tick) to the audio callback that first hands over the tone's samples. Runs against the audio
// server of the environment (scripts/bench-audio.sh starts one with a null sink).
// Usage: sidetone_latency [repetitions]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include "display/sidetone.h"
#include "platform/audio_output.h"

int main(int argc, char** argv) {
    using namespace dittix;
    const int repetitions = argc > 1 ? std::atoi(argv[1]) : 1000;
    platform::GateLatencyProbe probe;
    auto output = platform::makeSdlLoopingOutput(&probe);
    display::Sidetone sidetone(*output, 800.0);
    if (sidetone.openSidetone() != 0) {
        std::puts("no audio output");
        return 1;
    }
    // A new stream on the audio server starts consuming only after a while: the first press,
    // 100 ms after opening, is reported on its own; the steady state is measured after it.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    sidetone.toneOn();
    for (int wait = 0; wait < 10000 && probe.lastLatencyNs.load() < 0; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    sidetone.toneOff();
    std::printf("first press, 100 ms after opening the output: %.1f ms\n",
                static_cast<double>(probe.lastLatencyNs.load()) / 1e6);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    std::mt19937 random(3);
    std::vector<double> ms;
    for (int i = 0; i < repetitions; ++i) {
        probe.lastLatencyNs.store(-1);
        sidetone.toneOn();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        for (int wait = 0; wait < 2000 && probe.lastLatencyNs.load() < 0; ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
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
