// Why characters break apart or run together: the fist's mean lengths against the decoder's
// thresholds, the first one on the wrong side named.
#pragma once

#include <cstdint>

#include "fist/fist_statistics.h"
#include "keying/timing.h"

namespace dittix::analysis {

enum class AdviceKind : std::uint8_t {
    DotsReadAsDashes,       // the mean dot is not below the dot/dash threshold
    DashesReadAsDots,       // the mean dash is below it
    CharactersBreakApart,   // the mean element gap reaches the decode pause
    CharactersRunTogether,  // the mean character gap falls short of the decode pause
    WordsBreakApart,        // the mean character gap reaches the word pause
    WordsRunTogether,       // the mean word gap falls short of the word pause
    WithinThresholds,       // everything measured lies on its side of the thresholds
};

struct FistAdvice {
    AdviceKind kind = AdviceKind::WithinThresholds;
    double measuredTicks = 0;         // the mean length that crosses (0 for WithinThresholds)
    std::int32_t thresholdTicks = 0;  // the threshold it crosses
};

// Where each threshold lies against the gaps the tick reports: a gap of at least this many ticks
// ended the character or the word. For the straight key the decode comes on the Decode time-th
// key-up tick; a paddle gap counts from the tick its tone ended, and the keyer's own dot of
// silence and one more tick pass before its idle countdown ends.
struct GapThresholds {
    std::int32_t character = 0;
    std::int32_t word = 0;
};
GapThresholds gapThresholds(const keying::TimingParameters& timing, bool paddles);

// The first of the checks, in the order of AdviceKind, that the figures fail; the dot and dash
// checks only for the straight key, whose elements the operator times. A gap figure that is
// missing (too few gaps of that kind) is not checked.
FistAdvice adviseOn(const fist::FistFigures& figures, const keying::TimingParameters& timing,
                    bool paddles);

}  // namespace dittix::analysis
