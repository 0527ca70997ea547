// The tone's samples: the one-second sine table at a stream's rate, and the raised-cosine edges
// that keep a tone from clicking when it starts and stops.
#pragma once

#include <cstddef>

#include "platform/audio_output.h"

namespace dittix::platform {

// One second of the tone at `rate` samples per second, from phase 0:
// 32 768 × sin(2π f / rate × i), truncated toward zero and limited to 32 767. A whole-number
// frequency loops without a seam.
SampleBuffer makeSineTable(double frequency, int rate = kSampleRate);

// How the edges of a tone are shaped: over `rampSamples` samples a rise from silence to full
// level when the tone starts, and a fall back to silence after it ends. The fall follows the
// tone's end, so the tone is at half level for exactly its length either way. 0: the tone
// starts and stops with a step (the plain waveform).
struct ToneShape {
    int rampSamples = 0;
};

// The edge length used when edges are shaped: 5 ms (220 samples at 44 100 Hz, 240 at 48 000).
inline constexpr int kRampMs = 5;
int rampSamplesFor(int rate);

// The gain after `done` of the `ramp` samples of a rise: 0.5 − 0.5 cos(π done / ramp), from 0 at
// 0 to exactly 1 at `ramp`; 1 for a ramp of 0 samples. A fall runs the same curve backwards.
double rampGain(int done, int ramp);

// Appends `toneSamples` of `sine` (from its start, looping) followed by `silenceSamples`, the
// tone shaped by `shape`: its first samples rise, and its fall takes the first samples of the
// silence (as many as the silence holds).
void appendShapedTone(SampleBuffer& out, const SampleBuffer& sine, std::size_t toneSamples,
                      std::size_t silenceSamples, ToneShape shape);

}  // namespace dittix::platform
