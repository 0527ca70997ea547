// The one-line summary of a scored copy that the drills show when an exercise ends: the counts,
// the accuracy and the most frequent confusions, in Italian.
#pragma once

#include <string>

#include "scoring/copy_score.h"

namespace dittix::scoring {

// "Caratteri 25 · giusti 22 · sbagliati 2 · mancanti 1 · in più 0 · precisione 88,0 %"
// followed, when there are any, by " · confusioni: S→H ×2, T→E" (the sent character, then what
// was copied for it; a count only above one). The accuracy reads "—" when nothing was sent.
std::u16string formatScoreSummary(const CopyScore& score);

// Tenths of a percent with a decimal comma and the unit: 875 gives "87,5 %".
std::u16string formatAccuracy(std::int32_t tenths);

}  // namespace dittix::scoring
