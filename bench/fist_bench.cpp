// Cost of the fist statistics: feeding a million measurements through the sink interface, as the
// tick's binding does, and taking the snapshot that the analysis window reads at most every
// 200 ms. Usage: fist_bench [measurements] [snapshots]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "fist/fist_statistics.h"
#include "keying/morse_table.h"
#include "percentile.h"

using namespace dittix;
using bench::percentile;
using keying::Measured;
using keying::Measurement;

namespace {

// A jittered hand at about 20 WPM: random characters of the table with their elements and gaps,
// words of five characters, and now and then a pause.
std::vector<Measurement> handKeyed(std::size_t count) {
    std::mt19937 random(3);
    std::normal_distribution<double> jitter(0.0, 0.12);
    std::uniform_int_distribution<std::size_t> entry(0, keying::kMorseEntryCount - 1);
    auto ticks = [&](double ideal) {
        return std::max(1, static_cast<int>(ideal * (1.0 + jitter(random)) + 0.5));
    };
    std::vector<Measurement> out;
    int inWord = 0;
    while (out.size() < count) {
        const keying::MorseEntry& e = keying::MorseTable[entry(random)];
        for (std::size_t i = 0; i < e.code.size(); ++i) {
            if (i > 0) {
                out.push_back({Measured::ElementGap, ticks(6), false, {}});
            }
            const bool dot = e.code[i] == u'p';
            out.push_back({dot ? Measured::Dot : Measured::Dash, ticks(dot ? 6 : 18), false, {}});
        }
        out.push_back({Measured::Character, 0, false, e.character});
        const bool wordEnds = ++inWord == 5;
        inWord %= 5;
        out.push_back({wordEnds ? Measured::WordGap : Measured::CharacterGap,
                       wordEnds ? ticks(random() % 50 == 0 ? 600 : 42) : ticks(18),
                       false,
                       {}});
    }
    out.resize(count);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t count = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1'000'000;
    const std::size_t snapshots = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 2000;
    // A block small enough to stay in the cache, fed over and over: the tick hands over each
    // measurement from its registers, not from a long array in memory.
    const std::vector<Measurement> block = handKeyed(std::min<std::size_t>(count, 65536));

    fist::FistStatistics statistics;
    keying::MeasurementSink& sink = statistics;
    std::vector<double> feedNs;
    const int runs = 5;
    for (int r = 0; r < runs; ++r) {
        statistics.reset();
        const auto start = std::chrono::steady_clock::now();
        for (std::size_t fed = 0; fed < count;) {
            const std::size_t n = std::min(block.size(), count - fed);
            for (std::size_t i = 0; i < n; ++i) {
                sink.measured(block[i]);
            }
            fed += n;
        }
        const auto end = std::chrono::steady_clock::now();
        feedNs.push_back(std::chrono::duration<double, std::nano>(end - start).count() /
                         static_cast<double>(count));
    }
    std::sort(feedNs.begin(), feedNs.end());
    std::printf(
        "feed: %zu measurements x %d runs: %.2f ns per measurement (best run), %.2f "
        "(median run), %.2f (worst run)\n",
        count, runs, feedNs.front(), percentile(feedNs, 0.5), feedNs.back());

    std::vector<double> snapshotUs;
    double checksum = 0;
    for (std::size_t i = 0; i < snapshots; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const fist::FistSnapshot s = statistics.snapshot(396);
        const auto end = std::chrono::steady_clock::now();
        snapshotUs.push_back(std::chrono::duration<double, std::micro>(end - start).count());
        checksum += s.figures ? s.figures->wpm : -1.0;
        checksum += static_cast<double>(s.recent.size());
    }
    std::sort(snapshotUs.begin(), snapshotUs.end());
    std::printf(
        "snapshot after %zu measurements, %zu times: median %.1f us  p99 %.1f us  worst "
        "%.1f us\n",
        count, snapshots, percentile(snapshotUs, 0.5), percentile(snapshotUs, 0.99),
        snapshotUs.back());

    const fist::FistSnapshot s = statistics.snapshot(396);
    if (s.figures) {
        const fist::FistFigures& f = *s.figures;
        std::printf(
            "figures: %.1f WPM, dot %.1f ms, dash:dot %.2f, spreads %.1f %% / %.1f %%, "
            "%zu recent items, suggested Verticale %d (checksum %.0f)\n",
            f.wpm, f.dotMs, f.dashToDot, f.dotSpreadPercent, f.dashSpreadPercent, s.recent.size(),
            s.suggestion ? s.suggestion->verticale : 0, checksum);
    } else {
        std::puts("no figures");
    }
    return 0;
}
