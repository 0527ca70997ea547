// Cost of composing the training tones (all 47 characters) at 20, 60 and 150 CPM, and the memory
// the composed bank takes at 20 CPM, the slowest speed and so the largest bank, with the
// program's allocation settings.
// Usage: componi_bench [runs]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "display/sidetone.h"
#include "platform/memory_bounds.h"
#include "training/tone_bank.h"

namespace {

long residentKib() {
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> value;
            return value;
        }
        status.ignore(1 << 12, '\n');
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace dittix;
    const int runs = argc > 1 ? std::atoi(argv[1]) : 50;
    // As in the program: every bank in fresh mappings, given back when freed.
    platform::keepLargeBlocksMapped();
    const platform::SampleBuffer sine = display::makeSineTable(800.0);
    for (const int cpm : {20, 60, 150}) {
        std::vector<double> ms;
        for (int i = 0; i < runs; ++i) {
            const auto start = std::chrono::steady_clock::now();
            const auto bank = training::componiBank(sine, cpm);
            const auto end = std::chrono::steady_clock::now();
            ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
            if (bank->tones[0] == nullptr) {
                return 1;
            }
        }
        std::sort(ms.begin(), ms.end());
        std::printf("componi at %3d CPM: median %.2f ms  worst %.2f ms  (%d runs)\n", cpm,
                    ms[ms.size() / 2], ms.back(), runs);
    }
    const long before = residentKib();
    const auto bank = training::componiBank(sine, 20);
    std::size_t bytes = 0;
    for (const auto& tone : bank->tones) {
        bytes += tone->size() * sizeof(std::int16_t);
    }
    std::printf("bank at 20 CPM: %.1f MB of samples; resident memory grew by %.1f MB\n",
                static_cast<double>(bytes) / 1e6,
                static_cast<double>(residentKib() - before) / 1e3);
    return 0;
}
