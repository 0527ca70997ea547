// The training tones: for each of the 47 characters the training can send, one buffer with its
// Morse tones and gaps at the training speed, copied from the sidetone's sine table.
#pragma once

#include <array>
#include <memory>

#include "platform/audio_output.h"

namespace dittix::training {

inline constexpr int kToneSlots = 47;

// Samples per dot: the double nearest 6 / cpm, times 44 100 exactly, truncated toward zero
// (13 229 at 20 CPM, 6 614 at 40, 4 410 at 60, 1 764 at 150).
int samplesPerDot(int cpm);

// The slot of a character: A-Z 0-25, 0-9 26-35, then ? = - / . , ; : ( ) ' 36-46; -1 for any
// other character (a blank is a word gap, anything else has no tone).
int slotFor(char16_t c);

// One composition: immutable once made, so a playback can keep sounding it while a new one is
// composed at another speed.
struct ToneBank {
    std::array<platform::SharedSamples, kToneSlots> tones;
    int samplesPerDot = 0;
};

// Every element starts at phase 0 of the sine table: a dot is one dot of tone and one of
// silence, a dash three of tone and one of silence.
std::shared_ptr<const ToneBank> componiBank(const platform::SampleBuffer& sineTable, int cpm);

}  // namespace dittix::training
