// Cost of one decode tick: random text keyed at 40 CPM on the straight key, and both paddles
// held on the keyer. Every tick is timed on its own; prints the median, high percentiles and
// the worst tick. Usage: tick_bench [ticks-per-scenario]
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "keying/decode_tick.h"
#include "keying/morse_table.h"
#include "percentile.h"

using namespace dittix::keying;
using dittix::bench::percentile;

namespace {

// Does nothing but count, so the tick's own work is what is measured.
class CountingPort : public TickPort {
  public:
    KeySample input;
    std::uint64_t calls = 0;

    bool keyPressed(KeyboardKey key) override {
        ++calls;
        return key == KeyboardKey::RightControl ? input.rightKeys
                                                : key == KeyboardKey::LeftControl && input.leftKeys;
    }
    std::uint32_t readKeyLines() override { return input.modemStatus; }
    void toneOn() override { ++calls; }
    void toneOff() override { ++calls; }
    void advanceTrace() override { ++calls; }
    void markTrace() override { ++calls; }
    void moveTrace() override { ++calls; }
    void wrapTrace() override { ++calls; }
    void checkTraceScroll() override { ++calls; }
    void emitCharacter(std::u16string_view text) override { calls += text.size(); }
    void emitWordSpace() override { ++calls; }
    void measured(const Measurement& m) override { calls += static_cast<std::uint64_t>(m.ticks); }
};

// Key samples for random characters at the given timing, words of five with word spaces.
std::vector<KeySample> randomStraightText(std::size_t ticks, const TimingParameters& t) {
    std::mt19937 random(7);
    std::uniform_int_distribution<std::size_t> entry(0, kMorseEntryCount - 1);
    std::vector<KeySample> samples;
    const KeySample down{false, false, kModemCts};
    int inWord = 0;
    while (samples.size() < ticks) {
        const std::u16string_view code = MorseTable[entry(random)].code;
        for (std::size_t i = 0; i < code.size(); ++i) {
            samples.insert(samples.end(), code[i] == u'p' ? t.dotTime / 2 : 3 * t.dotTime / 2,
                           down);
            const int gap = i + 1 < code.size() ? t.dotTime : t.decodeTime + 2;
            samples.insert(samples.end(), static_cast<std::size_t>(gap), KeySample{});
        }
        if (++inWord == 5) {
            inWord = 0;
            samples.insert(samples.end(), static_cast<std::size_t>(t.blankTime), KeySample{});
        }
    }
    samples.resize(ticks);
    return samples;
}

// Times every tick of one run of the samples through a fresh decoder.
std::vector<double> timeTicks(const std::vector<KeySample>& samples, bool paddle) {
    TimingParameters timing;
    SpeedSettings speeds;
    recomputeTimes(speeds, timing, false, 40, 40);
    KeyingModes modes;
    modes.paddleMode = paddle;
    DecoderState state;
    CountingPort port;
    DecodeTick tick(port, timing, modes, state);

    std::vector<double> ns;
    ns.reserve(samples.size());
    for (const KeySample& sample : samples) {
        port.input = sample;
        const auto start = std::chrono::steady_clock::now();
        tick.run();
        const auto end = std::chrono::steady_clock::now();
        ns.push_back(std::chrono::duration<double, std::nano>(end - start).count());
    }
    if (port.calls == 0) {
        std::puts("no operations were called");
    }
    return ns;
}

// The decoder is deterministic, so every run does the same work tick for tick. The raw worst
// tick includes the machine's own interruptions (a virtual CPU taken away for tens of
// microseconds); the minimum of each tick over the repeated runs removes those and leaves the
// tick's real worst case.
void measure(const char* name, const std::vector<KeySample>& samples, bool paddle, int runs) {
    std::vector<double> best(samples.size(), 1e300);
    std::vector<double> all;
    for (int r = 0; r < runs; ++r) {
        const std::vector<double> ns = timeTicks(samples, paddle);
        for (std::size_t i = 0; i < ns.size(); ++i) {
            best[i] = std::min(best[i], ns[i]);
        }
        all.insert(all.end(), ns.begin(), ns.end());
    }
    std::sort(all.begin(), all.end());
    std::sort(best.begin(), best.end());
    const auto over =
        static_cast<std::size_t>(all.end() - std::upper_bound(all.begin(), all.end(), 20'000.0));
    std::printf("%s: %zu ticks x %d runs\n", name, samples.size(), runs);
    std::printf(
        "  all ticks:        median %.0f ns  p99 %.0f ns  p99.99 %.0f ns  worst %.0f ns"
        "  (over 20 us: %zu)\n",
        percentile(all, 0.5), percentile(all, 0.99), percentile(all, 0.9999), all.back(), over);
    std::printf("  best of %d runs:   median %.0f ns  p99 %.0f ns  p99.99 %.0f ns  worst %.0f ns\n",
                runs, percentile(best, 0.5), percentile(best, 0.99), percentile(best, 0.9999),
                best.back());
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t ticks = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 2'000'000;
    TimingParameters timing;
    SpeedSettings speeds;
    recomputeTimes(speeds, timing, false, 40, 40);
    std::printf("one tick every 10 ms; %zu ticks = %.1f hours of keying per run\n", ticks,
                static_cast<double>(ticks) / 360000.0);
    const int runs = 5;
    measure("straight key, 40 CPM text", randomStraightText(ticks, timing), false, runs);
    measure("paddles, both held",
            std::vector<KeySample>(ticks, {false, false, kModemCts | kModemRlsd}), true, runs);
    return 0;
}
