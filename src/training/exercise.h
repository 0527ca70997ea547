// Receive-training exercises: the random text in groups of five, the timing derived from the
// chosen speed and pause, and the layout arithmetic of the character grid.
#pragma once

#include <cstdint>
#include <string>

#include "persistence/exercise_random.h"
#include "persistence/settings.h"

namespace dittix::training {

inline constexpr int kGridLabels = 900;
inline constexpr int kGroupLength = 5;
inline constexpr char16_t kZeroGlyph = u'\u00D8';  // shown in place of the digit 0

// Speed list position p is p × 5 + 20 characters per minute.
constexpr int speedForPosition(int position) {
    return position * 5 + 20;
}
constexpr int positionForSpeed(int cpm) {
    return (cpm - 20) / 5;
}
// One dot in milliseconds: 6000 / speed, truncated.
constexpr int dotMsFor(int cpm) {
    return cpm > 0 ? 6000 / cpm : 0;
}
// The extra pause after each character: half a character gap (1.5 dots) per list position.
constexpr int extraPauseMsFor(int pausePosition, int dotMs) {
    return pausePosition * dotMs * 3 / 2;
}

// `charCount` characters drawn from the level (each position of its text with equal chance),
// with a blank after every fifth.
std::u16string generateExercise(const persistence::Tlivello& level, int charCount,
                                persistence::ExerciseRandom& random);

// What the grid shows for a character of the exercise: Ø for the digit 0.
constexpr char16_t gridGlyph(char16_t c) {
    return c == u'0' ? kZeroGlyph : c;
}

struct GridLayout {
    int width = 0;  // the window's outer width after the minimum of 980
    int columns = 0;
    int rows = 0;
    int charsPerRow = 0;
    int visibleChars = 0;
    bool scrollBar = false;
    int scrollRange = 0;
};

// Columns in whole groups of six (five characters and a blank), so that a group never wraps.
GridLayout gridLayoutFor(int outerWidth, int outerHeight, int charCount);

}  // namespace dittix::training
