// The decoder's state, shared by the straight-key branch and the paddle keyer so that a character
// begun in one mode is finished in the other. All counters are countdowns: 0 means inactive.
#pragma once

#include <array>
#include <cstdint>

#include "keying/measurement.h"

namespace dittix::keying {

// The key inputs, read once at the start of every tick.
struct KeySample {
    bool rightKeys = false;
    bool leftKeys = false;
    std::uint32_t modemStatus = 0;
};

inline constexpr std::int32_t kMaxElementIndex = 10;

// The elements of the character being keyed.
struct ElementBuffer {
    std::array<std::int32_t, 20> durations{};  // ticks per element; slots 0-10 are used
    std::int32_t elementIndex = 0;
    std::int32_t gapDebounce = 0;  // key-up ticks still needed to close the element
    std::int32_t decodeCountdown = 0;
};

struct PaddleState {
    std::int32_t elementCountdown = 0;  // ticks left of the element, tone and gap together
    std::int32_t toneCountdown = 0;     // ticks left of the element's tone
    bool lastWasDot = false;
    bool dotMemory = false;
    bool dashMemory = false;
};

// The keying modes, changed between ticks by commands and the setup window.
struct KeyingModes {
    bool paddleMode = false;
    bool paddleReverse = false;
    bool memoriaPunto = true;
};

// What the tick keeps to report its measurements; the decoding never reads it. An element or a
// gap is reported only when it lies wholly in one mode: a mode switch starts these afresh.
struct MeasureState {
    std::int32_t downTicks = 0;  // key-down ticks of the element being keyed, or the keyer's tone
    std::int32_t upTicks = 0;    // silent ticks since the last key-down tick or keyer tone
    Measured gapClass = Measured::ElementGap;  // what the decoder did during those silent ticks
    bool elementValid = false;                 // the element being keyed began in this mode
    bool gapOpen = false;     // a gap follows a measured element, reported when it ends
    bool paddleMode = false;  // the branch that the previous tick ran
};

struct DecoderState {
    ElementBuffer elements;
    PaddleState paddle;
    MeasureState measure;
    std::int32_t blankCountdown = 0;
    bool previousKeyDown = false;
    bool keyboardKeyDown = false;
    bool tickBusy = false;
};

// Runs one step of a countdown: a positive counter is decreased, and true is returned in the
// step in which it reaches 0. A negative counter (only a hand-edited time gives one) never
// reaches 0 and is left alone rather than run into overflow.
constexpr bool countDown(std::int32_t& counter) {
    if (counter <= 0) {
        return false;
    }
    --counter;
    return counter == 0;
}

// One more tick of a measured length, stopping at the largest value instead of overflowing.
constexpr void countTick(std::int32_t& ticks) {
    if (ticks < INT32_MAX) {
        ++ticks;
    }
}

// A decode or a word space during a gap raises its class; a word space outranks a decode.
constexpr void raiseGapClass(MeasureState& measure, Measured to) {
    if (static_cast<int>(to) > static_cast<int>(measure.gapClass)) {
        measure.gapClass = to;
    }
}

}  // namespace dittix::keying
