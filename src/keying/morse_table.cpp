// Morse code lookup.
#include "keying/morse_table.h"

namespace dittix::keying {

std::u16string_view lookupCode(std::u16string_view code) {
    for (const MorseEntry& entry : MorseTable) {
        if (entry.code == code) {
            return entry.character;
        }
    }
    return kUnknownCode;
}

}  // namespace dittix::keying
