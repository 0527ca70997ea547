// The built-in receive course, offered when the settings file defines no levels: forty levels
// in the Koch order, each adding one character to the one before.
#pragma once

#include <cstdint>
#include <string_view>

#include "persistence/settings.h"

namespace dittix::persistence {

// The order in which the course introduces its 41 characters.
inline constexpr std::u16string_view kKochOrder = u"KMURESNAPTLWI.JZ=FOY,VG5/Q92H38B?47C1D60X";

// Level n (1 to 40) holds the first n + 1 characters of the order: level 1 is KM, level 40 all
// 41 characters.
TrainingLevels builtInCourse();

// The levels the training offers: the file's own when it defines livello1 (levelCount > 0),
// else the built-in course. The course is never written to the file.
const TrainingLevels& levelsToOffer(const TrainingLevels& fromFile);

// True when the file defines no levels, so that levelsToOffer gives the built-in course.
bool offersBuiltInCourse(const TrainingLevels& fromFile);

// The last chosen level (LIV ES, 1-based) within the offered levels: 1 at least and the offered
// count at most (the settings load applies the same bounds).
std::int32_t levelChoiceWithin(std::int32_t livEs, const TrainingLevels& offered);

}  // namespace dittix::persistence
