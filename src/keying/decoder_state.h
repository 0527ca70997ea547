// The decoder's state, shared by the straight-key branch and the paddle keyer so that a character
// begun in one mode is finished in the other. All counters are countdowns: 0 means inactive.
#pragma once

#include <array>
#include <cstdint>

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

struct DecoderState {
    ElementBuffer elements;
    PaddleState paddle;
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

}  // namespace dittix::keying
