// The 10 ms decode tick: samples the key once, runs the straight-key decoder or the paddle keyer,
// and reaches the display, the sidetone and the key port only through a TickPort.
#pragma once

#include "keying/decoder_state.h"
#include "keying/tick_port.h"
#include "keying/timing.h"

namespace dittix::keying {

// Everything one tick works on. The timing and the modes are read afresh on every tick, so a
// change made between ticks takes effect at the next one.
struct TickContext {
    TickPort& port;
    const TimingParameters& timing;
    const KeyingModes& modes;
    DecoderState& state;
};

// Reads the four keyboard keys (the arrow key of a side is queried only when its Ctrl key reads
// as not pressed) and the key port's status lines.
KeySample sampleKeys(TickPort& port);

// The straight-key branch: measures key-down runs, closes an element after a 3-tick gap,
// decodes after `decodeTime` key-up ticks and writes a word space after `blankTime`.
void StraightKeyDecoder(const KeySample& sample, TickContext& context);

class DecodeTick {
  public:
    DecodeTick(TickPort& port, const TimingParameters& timing, const KeyingModes& modes,
               DecoderState& state);

    // One tick. A run that starts while another is still running returns at once.
    void run();

  private:
    TickContext m_context;
};

}  // namespace dittix::keying
