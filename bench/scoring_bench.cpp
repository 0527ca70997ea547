// Cost of scoring a copy: the longest exercise (750 characters in groups of five) against a copy
// of 800 typed characters, and a short one-minute exercise.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "exercise_text.h"
#include "scoring/copy_score.h"

namespace {

using dittix::scoring::CopyScorer;

using dittix::bench::exercise;
constexpr std::u16string_view kCharacters = dittix::bench::kCourseCharacters;

// A copy of `sent` with about one character in ten typed wrong, dropped or doubled, padded with
// random characters to `typed` non-blank characters.
std::u16string copyOf(const std::u16string& sent, int typed, std::mt19937& random) {
    std::u16string copy;
    int count = 0;
    for (const char16_t c : sent) {
        if (c == u' ') {
            copy += c;
            continue;
        }
        switch (random() % 30) {
            case 0:
                break;  // dropped
            case 1:
                copy += kCharacters[random() % kCharacters.size()];  // wrong
                ++count;
                break;
            case 2:
                copy += c;  // doubled
                copy += c;
                count += 2;
                break;
            default:
                copy += c;
                ++count;
                break;
        }
    }
    for (; count < typed; ++count) {
        copy += kCharacters[random() % kCharacters.size()];
    }
    return copy;
}

void scoreCopy(benchmark::State& state, int sentCharacters, int typedCharacters, bool related) {
    std::mt19937 random(42);
    const std::u16string sent = exercise(sentCharacters, random);
    const std::u16string copy =
        related ? copyOf(sent, typedCharacters, random) : exercise(typedCharacters, random);
    CopyScorer scorer;
    dittix::scoring::CopyScore score;
    for (auto _ : state) {
        scorer.score(sent, copy, score);
        benchmark::DoNotOptimize(score.counts);
    }
    state.counters["right"] = score.counts.right;
}

void oneOffScore(benchmark::State& state) {
    std::mt19937 random(42);
    const std::u16string sent = exercise(750, random);
    const std::u16string copy = copyOf(sent, 800, random);
    for (auto _ : state) {
        auto score = dittix::scoring::scoreCopy(sent, copy);
        benchmark::DoNotOptimize(score.counts);
    }
}

}  // namespace

BENCHMARK_CAPTURE(scoreCopy, sent750_typed800_copy, 750, 800, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(scoreCopy, sent750_typed800_unrelated, 750, 800, false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(scoreCopy, sent40_typed40_copy, 40, 40, true)->Unit(benchmark::kMicrosecond);
BENCHMARK(oneOffScore)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
