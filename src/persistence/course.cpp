// The built-in receive course.
#include "persistence/course.h"

#include <algorithm>

namespace dittix::persistence {

TrainingLevels builtInCourse() {
    TrainingLevels course;
    for (std::int32_t n = 1; n <= kMaxLevels; ++n) {
        Tlivello& level = course.records[static_cast<std::size_t>(n - 1)];
        level.text = std::u16string(kKochOrder.substr(0, static_cast<std::size_t>(n) + 1));
        level.length = n + 1;
    }
    course.levelCount = kMaxLevels;
    return course;
}

bool offersBuiltInCourse(const TrainingLevels& fromFile) {
    return fromFile.levelCount <= 0;
}

const TrainingLevels& levelsToOffer(const TrainingLevels& fromFile) {
    static const TrainingLevels course = builtInCourse();
    return offersBuiltInCourse(fromFile) ? course : fromFile;
}

std::int32_t levelChoiceWithin(std::int32_t livEs, const TrainingLevels& offered) {
    return std::clamp(livEs, 1, std::max(offered.levelCount, 1));
}

}  // namespace dittix::persistence
