// Turning the collected elements into a character.
#pragma once

#include <cstdint>
#include <string_view>

#include "keying/decoder_state.h"
#include "keying/tick_port.h"

namespace dittix::keying {

// The code of the first `count` elements ("p" for a duration below `threshold`, "l" otherwise),
// looked up in the Morse table; "ER" when no entry has it, or for a count of 0.
std::u16string_view ClassifyElements(const ElementBuffer& elements, std::int32_t count,
                                     std::int32_t threshold);

// Decodes the collected elements, writes the character, reports it as measured (by the keyer
// when `keyerMade`) and empties the buffer.
void decodeStep(ElementBuffer& elements, std::int32_t threshold, TickPort& port, bool keyerMade);

}  // namespace dittix::keying
