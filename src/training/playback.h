// The exercise's playback: the lead-in V V V and a one-second tone, then the text character by
// character, paced by sleeps measured in dots, with the character being sent highlighted.
#pragma once

#include <memory>

#include "platform/audio_output.h"
#include "training/tone_bank.h"
#include "training/training_state.h"

namespace dittix::training {

// What the playback reaches: the training output, the clock and the grid.
class PlaybackPort {
  public:
    virtual ~PlaybackPort() = default;
    // Marks the output as playing and hands it the buffer; the output's completion clears it.
    virtual void submit(platform::SharedSamples samples) = 0;
    virtual bool playing() const = 0;
    virtual void reset() = 0;
    // Sleeps; returns early once the program is ending.
    virtual void sleepMs(int ms) = 0;
    // Run on the interface thread while the playback waits: label `current` turns red and the
    // one before it yellow; or one label turns yellow.
    virtual void highlight(int current) = 0;
    virtual void setYellow(int label) = 0;
    // The program is ending: the playback stops at once, wherever it is.
    virtual bool aborted() const = 0;
    // The tones as last composed, and the sidetone's sine table for the lead-in tone.
    virtual std::shared_ptr<const ToneBank> bank() const = 0;
    virtual platform::SharedSamples sineTable() const = 0;

  protected:
    PlaybackPort() = default;
};

inline constexpr int kLeadInSlot = 21;  // V

// Plays TrainingText and ends with exerciseRunning cleared and playbackEnded set. A stop is
// seen only after waiting for a tone; it resets the output and ends the playback.
void runPlayback(TrainingState& state, PlaybackPort& port);

}  // namespace dittix::training
