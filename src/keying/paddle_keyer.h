// The iambic paddle keyer: times dots and dashes itself, remembers a paddle touched during an
// element's gap, and alternates while both paddles are held when memoriaPunto is on.
#pragma once

#include <cstdint>

#include "keying/decode_tick.h"

namespace dittix::keying {

// The keyer's dot length D. Stored settings can hold 0 or less; the keyer then works as with 1,
// so every element has a length and its tone always ends.
std::int32_t paddleDotTicks(const TimingParameters& timing);

// The paddle branch of the tick.
void PaddleKeyer(const KeySample& sample, TickContext& context);

}  // namespace dittix::keying
