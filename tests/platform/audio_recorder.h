// Records the default sink's monitor with parec, for checking what the program really played.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace dittix::platform::test {

// The latency parec asks for on PulseAudio. A null sink takes its monitor's latency as its own,
// so this also bounds how much the server may mix again after a rewind.
inline constexpr int kRecorderLatencyMs = 5;

class MonitorRecorder {
  public:
    MonitorRecorder();
    ~MonitorRecorder();
    MonitorRecorder(const MonitorRecorder&) = delete;
    MonitorRecorder& operator=(const MonitorRecorder&) = delete;

    // True once parec delivers samples (the constructor waits for that, boundedly).
    bool running() const { return m_pid > 0 && m_started.load(); }
    // Stops recording and returns the left channel's samples at 44 100 Hz.
    std::vector<std::int16_t> stop();

  private:
    int m_pid = -1;
    int m_fd = -1;
    std::thread m_reader;
    std::vector<std::int16_t> m_samples;
    std::atomic<bool> m_started{false};
};

// Runs of sound in a recording of a tone at `toneHz`: a run ends at 20 ms of silence; within it,
// the sound is counted per piece (loud samples less than one period of the tone apart), so
// silence that a late buffer left in the middle of a tone does not count as tone.
struct Burst {
    std::size_t start = 0;
    std::size_t end = 0;  // one past the last loud sample
    std::size_t soundingSamples = 0;
    int pieces = 0;
};
// A sample is loud from `loud` on: 2000 finds the faintest sound; half the recording's peak
// measures tones with shaped edges where they are at half level, which is their length.
std::vector<Burst> bursts(const std::vector<std::int16_t>& recording, double toneHz,
                          int loud = 2000);
int halfPeak(const std::vector<std::int16_t>& recording);

// True when a PulseAudio server answers (pactl info).
bool pulseAudioAvailable();

}  // namespace dittix::platform::test
