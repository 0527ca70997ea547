// Element classification and the decode step.
#include "keying/element_buffer.h"

#include <algorithm>

#include "keying/morse_table.h"

namespace dittix::keying {

std::u16string_view ClassifyElements(const ElementBuffer& elements, std::int32_t count,
                                     std::int32_t threshold) {
    // No table code is longer than 7 elements; 10 is the most the tick ever collects.
    constexpr std::int32_t kMaxCount = kMaxElementIndex;
    char16_t code[kMaxCount];
    const std::int32_t n = std::clamp<std::int32_t>(count, 0, kMaxCount);
    for (std::int32_t i = 0; i < n; ++i) {
        code[i] = elements.durations[static_cast<std::size_t>(i)] < threshold ? u'p' : u'l';
    }
    return lookupCode(std::u16string_view(code, static_cast<std::size_t>(n)));
}

void decodeStep(ElementBuffer& elements, std::int32_t threshold, TickPort& port, bool keyerMade) {
    const std::u16string_view text = ClassifyElements(elements, elements.elementIndex, threshold);
    port.emitCharacter(text);
    port.measured({Measured::Character, 0, keyerMade, text});
    elements.elementIndex = 0;
    // Slot 10 is never read by a decode and is left as it is.
    std::fill_n(elements.durations.begin(), kMaxElementIndex, 0);
}

}  // namespace dittix::keying
