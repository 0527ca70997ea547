// The sidetone as its stream plays it. The decode tick records each transition of the key with
// the time it saw it; the stream's callback replays the transitions from the sine table, with
// shaped edges. A stream that opens after the key went down (it was closed while idle) replays
// from that key-down, so the first element sounds whole, late by the opening time; the lag is
// then taken back in the silences, none of which is shortened below half its length.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "platform/audio_output.h"

namespace dittix::platform {

class KeyedTone {
  public:
    // Transitions kept for a stream that is not running yet: 2.5 s of the fastest keying.
    static constexpr std::size_t kEventCapacity = 256;
    // How far back a stream that starts replays the key.
    static constexpr std::int64_t kReplayNs = 1'000'000'000;

    explicit KeyedTone(GateLatencyProbe* probe = nullptr) : m_probe(probe) {}
    KeyedTone(const KeyedTone&) = delete;
    KeyedTone& operator=(const KeyedTone&) = delete;

    // The keying thread (the decode tick): the key went down or up at `atNs` (steady clock).
    // Costs a few atomic stores; never waits.
    void key(bool down, std::int64_t atNs);
    bool keyDown() const { return m_keyNow.load(std::memory_order_acquire); }
    // Any thread: whether a transition of the last replay window (kReplayNs before `nowNs`) has
    // not been played yet, as when a stream that opened late still plays behind the key.
    bool replayPending(std::int64_t nowNs) const;

    // Any one thread but the audio thread: the table to play, at the stream's rate, from its
    // first sample, and the length of the edges in samples (0 for plain steps). Never waits for
    // the audio thread, which takes the table at its next callback; the table it leaves is
    // released here, never on the audio thread.
    void setTable(SharedSamples table, int rampSamples);

    // Before the stream starts (or starts again): the next callback replays the key from its
    // oldest transition of the last second, at `rate` frames per second.
    void restart(int rate);

    // The audio thread: fills `frames` samples; `nowNs` is the steady clock at the callback.
    void render(std::int16_t* out, std::size_t frames, std::int64_t nowNs);

  private:
    struct Event {
        std::int64_t atNs = 0;
        bool down = false;
    };

    bool peek(Event& event) const;
    void pop();
    void takeTable();
    void startReplay(std::int64_t nowNs);
    // True when `atNs` lies at or before the frame `frames` after the origin.
    bool reached(std::int64_t atNs, std::int64_t frames) const {
        return (atNs - m_originNs) * m_rate <= frames * 1'000'000'000;
    }
    // The first frame at or after `atNs`.
    std::int64_t framesAt(std::int64_t atNs) const {
        const std::int64_t scaled = (atNs - m_originNs) * m_rate;
        return scaled <= 0 ? scaled / 1'000'000'000 : (scaled + 1'000'000'000 - 1) / 1'000'000'000;
    }

    GateLatencyProbe* m_probe;

    // Written by the keying thread only.
    std::array<Event, kEventCapacity> m_events{};
    std::atomic<std::size_t> m_head{0};
    std::atomic<std::size_t> m_tail{0};  // written by the audio thread only
    std::atomic<bool> m_overflow{false};
    std::atomic<bool> m_keyNow{false};
    std::atomic<std::int64_t> m_lastKeyNs{0};

    // Handed from setTable to the audio thread.
    std::mutex m_tableLock;
    SharedSamples m_pendingTable;
    int m_pendingRamp = 0;
    SharedSamples m_retiredTable;  // the audio thread's old table, released by setTable
    std::atomic<bool> m_tablePending{false};

    std::atomic<bool> m_restart{false};
    std::atomic<int> m_nextRate{kSampleRate};

    // The audio thread's own. The key's time that the next sample plays is m_originNs plus
    // m_frames frames: counted in whole frames, so that a transition falls on an exact sample.
    SharedSamples m_table;
    int m_ramp = 0;
    std::int64_t m_rate = kSampleRate;
    std::int64_t m_originNs = 0;
    std::int64_t m_frames = 0;
    std::int64_t m_silenceFrom = 0;      // the frame the current silence began at
    std::int64_t m_silenceFromWall = 0;  // the clock's frame it began to be heard at
    bool m_started = false;              // m_originNs is set
    bool m_down = false;                 // the key as replayed
    int m_level = 0;                     // the edge's progress, 0 (silent) … m_ramp (full)
    std::size_t m_position = 0;
};

}  // namespace dittix::platform
