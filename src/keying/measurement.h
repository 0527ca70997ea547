// What the decode tick measured while it decoded: each key-down element and each key-up gap as a
// number of ticks with what the decoder made of it, and each decoded character.
#pragma once

#include <cstdint>
#include <string_view>

namespace dittix::keying {

// What a measurement is. A key-down element is a Dot or a Dash by the decoder's rule: for the
// straight key, a length below `dotTime` at the tick the element closed is a dot; for the paddles,
// the element the keyer chose to send. A key-up gap is classed by what the decoder did during it:
// a WordGap when the word space was written, else a CharacterGap when the elements were decoded,
// else an ElementGap. A Character carries the decoded text.
//
// Straight key: an element's length is its own key-down ticks (up-ticks of 1 or 2 inside it are
// not counted, as the decoder counts none), reported in the tick it closes, the 3rd key-up tick.
// A gap after a closed element is all the key-up ticks from the element's last key-down tick on
// (the 3 that closed it included), reported in the next key-down tick; the silence before the
// first element is none.
// Paddles: an element is reported in the tick its tone ends, with the tone's length the keyer
// gave it (D or 3 D ticks); a gap is the silent ticks from that tick on, reported in the tick the
// next element starts. An element or gap that spans a switch of mode is not reported.
enum class Measured : std::uint8_t { Dot, Dash, ElementGap, CharacterGap, WordGap, Character };

enum class MeasurementKind : std::uint8_t { KeyDown, KeyUp, Character };

constexpr MeasurementKind kindOf(Measured what) {
    switch (what) {
        case Measured::Dot:
        case Measured::Dash:
            return MeasurementKind::KeyDown;
        case Measured::ElementGap:
        case Measured::CharacterGap:
        case Measured::WordGap:
            return MeasurementKind::KeyUp;
        case Measured::Character:
            break;
    }
    return MeasurementKind::Character;
}

struct Measurement {
    Measured what = Measured::Dot;
    // Key-down or key-up ticks; 0 for a character.
    std::int32_t ticks = 0;
    // True for everything measured in paddle mode, where the keyer times the elements and their
    // shortest gaps itself.
    bool keyerMade = false;
    // The decoded text, for a character only. It points into the constant Morse table (or is the
    // constant "ER"), so it stays valid after the call.
    std::u16string_view text;

    friend bool operator==(const Measurement&, const Measurement&) = default;
};

// Receives the tick's measurements, in the order the tick made them.
class MeasurementSink {
  public:
    virtual ~MeasurementSink() = default;
    virtual void measured(const Measurement& measurement) = 0;

  protected:
    MeasurementSink() = default;
    MeasurementSink(const MeasurementSink&) = default;
    MeasurementSink& operator=(const MeasurementSink&) = default;
};

}  // namespace dittix::keying
