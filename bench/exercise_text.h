// Random exercise texts for the benchmarks: characters of the built-in course in groups of five.
#pragma once

#include <random>
#include <string>
#include <string_view>

namespace dittix::bench {

inline constexpr std::u16string_view kCourseCharacters =
    u"KMURESNAPTLWI.JZ=FOY,VG5/Q92H38B?47C1D60X";

inline std::u16string exercise(int characters, std::mt19937& random) {
    std::u16string text;
    for (int i = 0; i < characters; ++i) {
        text += kCourseCharacters[random() % kCourseCharacters.size()];
        if (i % 5 == 4) {
            text += u' ';
        }
    }
    return text;
}

}  // namespace dittix::bench
