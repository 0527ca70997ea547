// Audio outputs on the default device: one channel, signed 16-bit, at the device's own rate
// (48 000 samples per second on most desktops; 44 100 where the device does not tell). Sample
// buffers handed to an output are immutable snapshots, so the audio thread never reads memory
// that another thread is rewriting. Opening and closing a stream take milliseconds: they are done
// on a worker or the playback thread, never inside the decode tick.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace dittix::platform {

// The rate used where no device tells its own (and by the tests that need a fixed rate).
inline constexpr int kSampleRate = 44100;

using SampleBuffer = std::vector<std::int16_t>;
using SharedSamples = std::shared_ptr<const SampleBuffer>;

enum class AudioErrorCode { NoDevice, AlreadyOpen };

struct AudioError {
    AudioErrorCode code;
    std::string message;
};

class KeyedTone;

// The sidetone's stream: plays a KeyedTone, which its callback renders. Used by one thread at a
// time (the sidetone's worker).
class LoopingOutput {
  public:
    // Runs once the stream is open and before its callback starts: `rate` is the stream's rate,
    // at which the tone's table must be made.
    using Prepare = std::function<void(int rate)>;

    virtual ~LoopingOutput() = default;
    virtual std::optional<AudioError> open(KeyedTone& tone, const Prepare& prepare) = 0;
    virtual void close() = 0;
    // False also for a stream that was lost while open (the device or the server went away), as
    // far as the audio system tells: PipeWire's own stream does; the audio system's PulseAudio
    // backend did not when its server was restarted.
    virtual bool isOpen() const = 0;
    // Which backend plays the open stream ("pipewire-native" for PipeWire's own API, else the audio
    // system's backend: "pulseaudio", "alsa", …); empty while closed.
    virtual std::string backend() const { return {}; }

  protected:
    LoopingOutput() = default;
};

// Plays one submitted buffer at a time. `completed` runs on the audio thread once the buffer's
// last sample has been handed over, and also when reset drops a buffer that had not finished.
class SingleShotOutput {
  public:
    using Completed = std::function<void()>;

    virtual ~SingleShotOutput() = default;
    virtual std::optional<AudioError> open(Completed completed) = 0;
    // Starts playing `samples`; a buffer still playing is replaced (and counts as completed).
    virtual void submit(SharedSamples samples) = 0;
    // Stops at once and drops the buffer.
    virtual void reset() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // The open stream's rate; kSampleRate while closed.
    virtual int sampleRate() const = 0;
    // True once the open stream's callback has run: what is submitted now is heard at once.
    virtual bool running() const = 0;
    // As for LoopingOutput.
    virtual std::string backend() const { return {}; }

  protected:
    SingleShotOutput() = default;
};

// For measurements: the time from a key-down (toneOn) to the callback that first plays it.
struct GateLatencyProbe {
    std::atomic<std::uint64_t> replies{0};  // counts the key-downs played
    std::atomic<std::int64_t> lastLatencyNs{-1};
};

// The program's outputs. On Linux PipeWire's own stream API, whose callback runs on PipeWire's
// real-time thread, when a PipeWire server answers; otherwise (and whenever the environment
// variable SDL_AUDIODRIVER is set, which chooses the audio system's backend) the audio system's.
// Each opening chooses afresh.
std::unique_ptr<LoopingOutput> makeLoopingOutput();
std::unique_ptr<SingleShotOutput> makeSingleShotOutput();

// The outputs of the audio system (SDL): PipeWire first, then PulseAudio, then ALSA on Linux
// (the environment variable SDL_AUDIODRIVER chooses otherwise), WASAPI on Windows; the device's
// own rate and the smallest callback the server grants.
std::unique_ptr<LoopingOutput> makeSdlLoopingOutput();
std::unique_ptr<SingleShotOutput> makeSdlSingleShotOutput();
// The audio system's backend in use while an output is open ("pipewire", "pulseaudio", …);
// empty when none is.
std::string sdlAudioDriverInUse();

#if defined(DITTIX_HAVE_PIPEWIRE)
// The outputs on PipeWire's own stream API alone (opening fails without a PipeWire server).
std::unique_ptr<LoopingOutput> makePipeWireLoopingOutput();
std::unique_ptr<SingleShotOutput> makePipeWireSingleShotOutput();
#endif

// Outputs for a machine without sound: opening fails, nothing plays.
class NullLoopingOutput : public LoopingOutput {
  public:
    std::optional<AudioError> open(KeyedTone&, const Prepare&) override {
        return AudioError{AudioErrorCode::NoDevice, "no audio output"};
    }
    void close() override {}
    bool isOpen() const override { return false; }
};

class NullSingleShotOutput : public SingleShotOutput {
  public:
    std::optional<AudioError> open(Completed) override {
        return AudioError{AudioErrorCode::NoDevice, "no audio output"};
    }
    void submit(SharedSamples) override {}
    void reset() override {}
    void close() override {}
    bool isOpen() const override { return false; }
    int sampleRate() const override { return kSampleRate; }
    bool running() const override { return false; }
};

}  // namespace dittix::platform
