// The training tones: for each of the 47 characters the training can send, one buffer with its
// Morse tones and gaps at the training speed, copied from a sine table at the sidetone's
// frequency and at the training output's rate, each element's edges shaped.
#pragma once

#include <array>
#include <memory>

#include "platform/audio_output.h"
#include "platform/tone_synthesis.h"

namespace dittix::training {

inline constexpr int kToneSlots = 47;

// Samples per dot: the double nearest 6 / cpm, times the rate exactly, truncated toward zero
// (at 44 100 Hz: 13 229 at 20 CPM, 6 614 at 40, 4 410 at 60, 1 764 at 150).
int samplesPerDot(int cpm, int rate = platform::kSampleRate);

// The slot of a character: A-Z 0-25, 0-9 26-35, then ? = - / . , ; : ( ) ' 36-46; -1 for any
// other character (a blank is a word gap, anything else has no tone).
int slotFor(char16_t c);

// One composition: immutable once made, so a playback can keep sounding it while a new one is
// composed at another speed.
struct ToneBank {
    std::array<platform::SharedSamples, kToneSlots> tones;
    int samplesPerDot = 0;
    int cpm = 0;
    int rate = platform::kSampleRate;
};

// Every element starts at phase 0 of the sine table (made at `rate`): a dot is one dot of tone
// and one of silence, a dash three of tone and one of silence. With shaped edges each element
// rises over its first samples and falls over the first samples of the silence after it.
std::shared_ptr<const ToneBank> componiBank(const platform::SampleBuffer& sineTable, int cpm,
                                            int rate = platform::kSampleRate,
                                            platform::ToneShape shape = {});

}  // namespace dittix::training
