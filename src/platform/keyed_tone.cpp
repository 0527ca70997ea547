// The keyed tone's replay.
#include "platform/keyed_tone.h"

#include <algorithm>
#include <utility>

#include "platform/tone_synthesis.h"

namespace dittix::platform {

void KeyedTone::key(bool down, std::int64_t atNs) {
    m_keyNow.store(down, std::memory_order_release);
    m_lastKeyNs.store(atNs, std::memory_order_release);
    const std::size_t head = m_head.load(std::memory_order_relaxed);
    if (head - m_tail.load(std::memory_order_acquire) >= kEventCapacity) {
        // No stream has taken the transitions for a long time: the replay starts from the key
        // as it is now instead.
        m_overflow.store(true, std::memory_order_release);
        return;
    }
    m_events[head % kEventCapacity] = Event{atNs, down};
    m_head.store(head + 1, std::memory_order_release);
}

bool KeyedTone::replayPending(std::int64_t nowNs) const {
    return m_tail.load(std::memory_order_acquire) != m_head.load(std::memory_order_acquire) &&
           m_lastKeyNs.load(std::memory_order_acquire) >= nowNs - kReplayNs;
}

bool KeyedTone::peek(Event& event) const {
    const std::size_t tail = m_tail.load(std::memory_order_relaxed);
    if (tail == m_head.load(std::memory_order_acquire)) {
        return false;
    }
    event = m_events[tail % kEventCapacity];
    return true;
}

void KeyedTone::pop() {
    m_tail.store(m_tail.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}

void KeyedTone::setTable(SharedSamples table, int rampSamples) {
    SharedSamples released;
    SharedSamples replaced;
    {
        const std::lock_guard lock(m_tableLock);
        released = std::move(m_retiredTable);
        replaced = std::exchange(m_pendingTable, std::move(table));
        m_pendingRamp = std::max(rampSamples, 0);
        m_tablePending.store(true, std::memory_order_release);
    }
    // `released` and `replaced` go here, on this thread.
}

void KeyedTone::restart(int rate) {
    m_nextRate.store(std::max(rate, 1), std::memory_order_relaxed);
    m_restart.store(true, std::memory_order_release);
}

void KeyedTone::takeTable() {
    if (!m_tablePending.load(std::memory_order_acquire)) {
        return;
    }
    // Never waits: when setTable holds the lock, the table is taken at the next callback.
    const std::unique_lock lock(m_tableLock, std::try_to_lock);
    if (!lock.owns_lock() || m_retiredTable != nullptr) {
        return;  // the previous old table has not been released yet
    }
    m_retiredTable = std::exchange(m_table, std::move(m_pendingTable));
    m_ramp = m_pendingRamp;
    m_level = std::min(m_level, m_ramp);
    m_position = 0;
    m_tablePending.store(false, std::memory_order_relaxed);
}

void KeyedTone::startReplay(std::int64_t nowNs) {
    m_rate = m_nextRate.load(std::memory_order_relaxed);
    if (m_overflow.exchange(false, std::memory_order_acquire)) {
        Event dropped;
        while (peek(dropped)) {
            pop();
        }
        m_down = m_keyNow.load(std::memory_order_acquire);
    }
    // What happened before the replayed second only sets the key's state: a key held since
    // then sounds at once, rising.
    Event e;
    while (peek(e) && e.atNs < nowNs - kReplayNs) {
        m_down = e.down;
        pop();
    }
    m_level = 0;
    m_originNs = peek(e) ? e.atNs : nowNs;
    m_frames = 0;
    m_silenceFrom = 0;
    m_silenceFromWall = (nowNs - m_originNs) * m_rate / 1'000'000'000;
    m_started = true;
}

void KeyedTone::render(std::int16_t* out, std::size_t frames, std::int64_t nowNs) {
    takeTable();
    if (m_restart.exchange(false, std::memory_order_acquire) || !m_started ||
        m_overflow.load(std::memory_order_relaxed)) {
        startReplay(nowNs);
    }
    // A callback that came very late (the machine stalled) replays no more than a second.
    if (!reached(nowNs - kReplayNs, m_frames)) {
        m_originNs = nowNs - kReplayNs;
        m_frames = 0;
        m_silenceFrom = 0;
        m_silenceFromWall = 0;
    }
    // The frame of the key's time that the callback's first sample would play with no lag.
    const std::int64_t nowFrames = (nowNs - m_originNs) * m_rate / 1'000'000'000;
    const SampleBuffer* table = m_table.get();
    for (std::size_t k = 0; k < frames; ++k) {
        const std::int64_t wallFrames = nowFrames + static_cast<std::int64_t>(k);
        // A lag behind the key is taken back in silence. With a transition waiting to be
        // replayed, the silence before it is heard for at least half its length (as the key
        // made it) and the rest skipped, so that the rhythm keeps its shape; with none waiting
        // the silence is skipped at once (the stream was held up while the key rested).
        if (!m_down && m_level == 0 && m_frames < wallFrames) {
            if (Event next; !peek(next)) {
                m_frames = wallFrames;
            } else {
                const std::int64_t due = framesAt(next.atNs);
                if (wallFrames - m_silenceFromWall >= (due - m_silenceFrom) / 2) {
                    m_frames = std::max(m_frames, std::min(due, wallFrames));
                }
            }
        }
        for (Event e; peek(e) && reached(e.atNs, m_frames);) {
            if (e.down && !m_down && m_probe != nullptr) {
                m_probe->lastLatencyNs.store(nowNs - e.atNs, std::memory_order_relaxed);
                m_probe->replies.fetch_add(1, std::memory_order_release);
            }
            m_down = e.down;
            pop();
        }
        // Sounding while down and while falling after; the table advances with every sounding
        // sample, as in a composed tone.
        const bool soundingNow = m_down || m_level > 0;
        const double gain = rampGain(m_level, m_ramp);
        if (m_down) {
            m_level = std::min(m_level + 1, m_ramp);
        } else if (m_level > 0) {
            --m_level;
        }
        if (soundingNow && table != nullptr && !table->empty()) {
            if (m_position >= table->size()) {
                m_position = 0;
            }
            out[k] = static_cast<std::int16_t>(static_cast<double>((*table)[m_position]) * gain);
            ++m_position;
        } else {
            out[k] = 0;
        }
        ++m_frames;
        if (soundingNow) {
            m_silenceFrom = m_frames;
            m_silenceFromWall = wallFrames + 1;
        }
    }
    // The origin follows the replay, so that the products above stay small.
    const std::int64_t seconds = m_frames / m_rate;
    m_originNs += seconds * 1'000'000'000;
    m_frames -= seconds * m_rate;
    m_silenceFrom -= seconds * m_rate;
    m_silenceFromWall -= seconds * m_rate;
}

}  // namespace dittix::platform
