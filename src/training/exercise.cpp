// Exercise generation and grid layout.
#include "training/exercise.h"

#include <algorithm>

namespace dittix::training {

std::u16string generateExercise(const persistence::Tlivello& level, int charCount,
                                persistence::ExerciseRandom& random) {
    std::u16string text;
    if (level.text.empty() || charCount <= 0) {
        return text;
    }
    text.reserve(static_cast<std::size_t>(charCount) * 6 / 5 + 1);
    const auto length = static_cast<std::int32_t>(level.text.size());
    for (int i = 0; i < charCount; ++i) {
        const std::int32_t p = random.next() % length;
        text += level.text[static_cast<std::size_t>(p)];
        if (i % kGroupLength == kGroupLength - 1) {
            text += u' ';
        }
    }
    return text;
}

GridLayout gridLayoutFor(int outerWidth, int outerHeight, int charCount) {
    GridLayout layout;
    layout.width = std::max(outerWidth, 980);
    layout.columns = std::max((layout.width - 12) / 32 / 6 * 6, 6);
    layout.rows = (kGridLabels + layout.columns - 1) / layout.columns;
    layout.charsPerRow = layout.columns / 6 * 5;
    layout.visibleChars = layout.charsPerRow * ((outerHeight - 15) / 50 - 1);
    layout.scrollBar = charCount > layout.visibleChars;
    layout.scrollRange = charCount / layout.charsPerRow * 50 + 70;
    return layout;
}

}  // namespace dittix::training
