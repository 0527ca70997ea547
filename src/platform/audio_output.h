// Audio outputs on the default device: 44 100 samples per second, one channel, signed 16-bit.
// Sample buffers handed to an output are immutable snapshots, so the audio thread never reads
// memory that the interface thread is rewriting.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace dittix::platform {

inline constexpr int kSampleRate = 44100;

using SampleBuffer = std::vector<std::int16_t>;
using SharedSamples = std::shared_ptr<const SampleBuffer>;

enum class AudioErrorCode { NoDevice, AlreadyOpen };

struct AudioError {
    AudioErrorCode code;
    std::string message;
};

// Plays a table over and over while its gate is open, and silence while it is closed. Closing
// the gate keeps the place in the table, so the next opening goes on from there.
class LoopingOutput {
  public:
    virtual ~LoopingOutput() = default;
    virtual std::optional<AudioError> open() = 0;
    // Replaces the table and starts it from its first sample; an empty table plays silence.
    virtual void setTable(SharedSamples table) = 0;
    // Switches the sound on or off; cheap enough for the decode tick (an atomic store).
    virtual void setGate(bool on) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

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

  protected:
    SingleShotOutput() = default;
};

// For measurements: the time from opening the gate to the callback that first hands over the
// tone's samples.
struct GateLatencyProbe {
    std::atomic<std::uint64_t> openings{0};  // counts each opening of the gate
    std::atomic<std::int64_t> gateOpenedNs{0};
    std::atomic<std::int64_t> lastLatencyNs{-1};
};

// The outputs of the audio system (SDL), with a callback of 256 frames (5.8 ms).
std::unique_ptr<LoopingOutput> makeSdlLoopingOutput(GateLatencyProbe* probe = nullptr);
std::unique_ptr<SingleShotOutput> makeSdlSingleShotOutput();

// Outputs for a machine without sound: opening fails, nothing plays.
class NullLoopingOutput : public LoopingOutput {
  public:
    std::optional<AudioError> open() override {
        return AudioError{AudioErrorCode::NoDevice, "no audio output"};
    }
    void setTable(SharedSamples) override {}
    void setGate(bool) override {}
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
};

}  // namespace dittix::platform
