// The sidetone: a one-second sine table played on its own stream while the key is down, with
// shaped edges. The keys 9 and 0 lower and raise the frequency in 10 Hz steps. A worker thread
// opens and closes the stream, so the decode tick never waits for the audio system: the stream is
// closed once nothing has been keyed for a while (an idle stream keeps the sound server busy), or
// once it is found lost, and opened again by the next key-down, whose element is then replayed
// whole.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "display/tone_switch.h"
#include "platform/audio_output.h"
#include "platform/keyed_tone.h"
#include "platform/tone_synthesis.h"

namespace dittix::display {

inline constexpr double kMinTone = 250.0;
inline constexpr double kMaxTone = 1000.0;

using platform::makeSineTable;

struct SidetoneOptions {
    bool shapedEdges = true;
    // The stream closes after this long without keying; 0 keeps it open.
    std::chrono::milliseconds idleClose{std::chrono::seconds(30)};
    // How often the worker looks whether the open stream was lost (the device or the sound
    // server went away); a lost stream is closed and opened again by the next key-down.
    std::chrono::milliseconds lostCheck{std::chrono::seconds(1)};
};

class Sidetone : public ToneSwitch {
  public:
    // The steady clock in nanoseconds; tests give their own.
    using Clock = std::function<std::int64_t()>;

    Sidetone(platform::LoopingOutput& output, double frequency, SidetoneOptions options = {},
             Clock clock = {}, platform::GateLatencyProbe* probe = nullptr);
    ~Sidetone() override;
    Sidetone(const Sidetone&) = delete;
    Sidetone& operator=(const Sidetone&) = delete;

    // Opens the stream (unless it is open already) with the sine table at the current frequency,
    // tone off, and waits for it: 0 on success, 1 when the output cannot be opened (keying then
    // stays silent until a tone change tries again).
    int openSidetone();
    // Cheap enough for the decode tick: the transition is recorded, and a closed stream is asked
    // to open (the worker opens it).
    void toneOn() override;
    void toneOff() override;

    // A key-down in the main window: '9' lowers, '0' raises (digit row only). A step within
    // 250 .. 1000 Hz makes the table anew at the new frequency and tries a lost or never opened
    // output again. With the keyboard keying the tone goes on at the new pitch; otherwise it
    // stops (a held serial key sounds again when the decode tick next turns it on). A step
    // beyond a bound only sets the bound.
    void changeTone(int keyCode, bool keyboardKeyDown);

    double frequency() const { return m_frequency.load(); }
    // The sine table as last made, at the stream's rate (silence before the first successful
    // open). Never written again: a tone change makes a new one.
    platform::SharedSamples sineTable() const;
    // As the worker last left it.
    bool streamOpen() const { return m_streamOpen.load(); }

    // Waits until the worker has served every request made so far (tests, measurements).
    void settle();
    // Asks the worker to close the stream now if it was lost, or has been idle long enough by
    // the clock (the worker also does both by itself, on the steady clock).
    void checkIdle();

    platform::KeyedTone& keyedTone() { return m_tone; }

  private:
    enum Request : unsigned {
        kOpen = 1,
        kRetry = 2,
        kRetable = 4,
        kCheckIdle = 8,
        kStop = 16,
        kCheckLost = 32
    };

    void post(unsigned request);
    void work();
    void openStream(bool retry);
    void closeIfLost();
    void makeTable(int rate);
    bool idleExpired() const;

    platform::LoopingOutput& m_output;
    std::atomic<double> m_frequency;
    SidetoneOptions m_options;
    Clock m_clock;
    platform::KeyedTone m_tone;

    std::atomic<bool> m_streamOpen{false};
    std::atomic<bool> m_failed{false};           // the last opening failed
    std::atomic<std::uint64_t> m_activity{0};    // counts key transitions
    std::atomic<std::int64_t> m_lastKeyedNs{0};  // the clock at the last transition or opening

    mutable std::mutex m_lock;  // guards what follows; never held while opening or closing
    std::condition_variable m_wake;
    std::condition_variable m_served;
    unsigned m_requests = 0;
    std::uint64_t m_posted = 0;  // requests made
    std::uint64_t m_done = 0;    // requests served
    int m_rate = 0;              // the open stream's rate (0: none yet)
    platform::SharedSamples m_sineTable;

    std::thread m_worker;  // last: started when everything above exists
};

}  // namespace dittix::display
