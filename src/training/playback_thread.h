// TtxCW, the playback thread of an exercise, and the training audio it plays through: the
// training output, its "playing" flag cleared by the output's completion, and the tone bank.
// The output is open only while an exercise plays: the playback thread opens it before the
// lead-in and closes it at the end.
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
    // `frequency` gives the sidetone's frequency now (for the composition and the lead-in).
    TrainingAudio(platform::SingleShotOutput& output, std::function<double()> frequency,
                  bool shapedEdges = true);

    ~TrainingAudio();
    TrainingAudio(const TrainingAudio&) = delete;
    TrainingAudio& operator=(const TrainingAudio&) = delete;

    // Opens the output for an exercise and waits until its stream runs (while `keepWaiting`
    // says so, at most a few seconds), so that the lead-in is heard from its start. Tones
    // composed at another rate than the output's are composed again at its rate. False when
    // the output cannot be opened.
    bool open(const std::function<bool()>& keepWaiting = {});
    void close();
    // Composes all slots at `cpm` from the sine table at the frequency now, on the composer
    // thread, so that the interface thread never waits for it (the slowest speed's bank takes
    // tens of milliseconds). A playback that is running keeps the bank it is sounding; its next
    // character waits for the new one. Of requests that come faster than they are composed,
    // only the latest is composed.
    void componi(int cpm);

    void submit(platform::SharedSamples samples);
    bool playing() const { return m_playing.load(); }
    void reset() { m_output.reset(); }
    // The bank of the latest request, once composed (waits for it).
    std::shared_ptr<const ToneBank> bank() const;
    // The lead-in's steady tone: one second of the sine at the frequency now, at the output's
    // rate, edges shaped like the characters'.
    platform::SharedSamples sineTable() const;
    // The rate the tones are composed at: the output's last one (kSampleRate before it opened).
    int sampleRate() const { return m_rate.load(); }

  private:
    platform::ToneShape shapeAt(int rate) const;
    void composeRequests();

    platform::SingleShotOutput& m_output;
    std::function<double()> m_frequency;
    bool m_shapedEdges;

    struct Request {
        int cpm = 0;
        double frequency = 0.0;
        int rate = 0;
        bool operator==(const Request&) const = default;
    };

    std::atomic<bool> m_playing{false};
    std::atomic<int> m_rate{platform::kSampleRate};
    mutable std::mutex m_bankLock;
    mutable std::condition_variable m_bankChanged;
    std::optional<Request> m_request;  // waiting for the composer
    bool m_composing = false;
    bool m_ending = false;
    std::shared_ptr<const ToneBank> m_bank;
    Request m_bankMadeFor;  // what m_bank was composed for
    // The last lead-in tone made, and what it was made for.
    mutable platform::SharedSamples m_leadIn;
    mutable double m_leadInFrequency = 0;
    mutable int m_leadInRate = 0;
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
