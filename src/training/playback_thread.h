// TtxCW, the playback thread of an exercise, and the training audio it plays through: the
// training output, its "playing" flag cleared by the output's completion, and the tone bank.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/audio_output.h"
#include "training/playback.h"
#include "training/tone_bank.h"
#include "training/training_state.h"

namespace dittix::training {

class Ttraining;

class TrainingAudio {
  public:
    // `sineTable` gives the sidetone's current table (for the composition and the lead-in).
    TrainingAudio(platform::SingleShotOutput& output,
                  std::function<platform::SharedSamples()> sineTable);

    ~TrainingAudio();
    TrainingAudio(const TrainingAudio&) = delete;
    TrainingAudio& operator=(const TrainingAudio&) = delete;

    bool open();
    // Composes all slots at `cpm` from the sine table as it is now, on the composer thread, so
    // that the interface thread never waits for it (the slowest speed's bank takes tens of
    // milliseconds). A playback that is running keeps the bank it is sounding; its next
    // character waits for the new one. Of requests that come faster than they are composed,
    // only the latest is composed.
    void componi(int cpm);

    void submit(platform::SharedSamples samples);
    bool playing() const { return m_playing.load(); }
    void reset() { m_output.reset(); }
    // The bank of the latest request, once composed (waits for it).
    std::shared_ptr<const ToneBank> bank() const;
    platform::SharedSamples sineTable() const { return m_sineTable(); }

  private:
    void composeRequests();

    struct Request {
        int cpm = 0;
        platform::SharedSamples sineTable;
    };

    platform::SingleShotOutput& m_output;
    std::function<platform::SharedSamples()> m_sineTable;
    std::atomic<bool> m_playing{false};
    mutable std::mutex m_bankLock;
    mutable std::condition_variable m_bankChanged;
    std::optional<Request> m_request;  // waiting for the composer
    bool m_composing = false;
    bool m_ending = false;
    std::shared_ptr<const ToneBank> m_bank;
    std::thread m_composer;
};

// The playback thread of one exercise. Its calls on the interface thread (the highlight) wait
// for the interface thread to run them.
class TtxCW {
  public:
    TtxCW(TrainingState& state, TrainingAudio& audio, Ttraining& window);
    ~TtxCW();
    TtxCW(const TtxCW&) = delete;
    TtxCW& operator=(const TtxCW&) = delete;

    void start();
    // Waits for a playback that has ended (or is ending by itself) to finish its thread.
    void wait();
    // Ends the playback at once (the program is closing) and waits for the thread, letting the
    // interface thread serve the calls the playback is waiting on meanwhile.
    void abortAndJoin();

  private:
    void run();

    TrainingState& m_state;
    TrainingAudio& m_audio;
    Ttraining& m_window;
    std::atomic<bool> m_abort{false};
    std::atomic<bool> m_finished{false};
    std::thread m_thread;
};

}  // namespace dittix::training
