// Sidetone.
#include "display/sidetone.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace dittix::display {

namespace {

// How often the idle close looks again at a stream that still plays behind the key.
constexpr std::chrono::milliseconds kReplayPoll{10};

std::int64_t steadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

Sidetone::Sidetone(platform::LoopingOutput& output, double frequency, SidetoneOptions options,
                   Clock clock, platform::GateLatencyProbe* probe)
    : m_output(output),
      m_frequency(frequency),
      m_options(options),
      m_clock(clock ? std::move(clock) : Clock(steadyNs)),
      m_tone(probe),
      m_sineTable(std::make_shared<const platform::SampleBuffer>(platform::kSampleRate)) {
    m_worker = std::thread([this] { work(); });
}

Sidetone::~Sidetone() {
    post(kStop);
    m_worker.join();
}

void Sidetone::post(unsigned request) {
    {
        const std::lock_guard lock(m_lock);
        m_requests |= request;
        ++m_posted;
    }
    m_wake.notify_one();
}

void Sidetone::settle() {
    std::unique_lock lock(m_lock);
    const std::uint64_t target = m_posted;
    m_served.wait(lock, [&] { return m_done >= target; });
}

void Sidetone::checkIdle() {
    post(kCheckIdle);
}

int Sidetone::openSidetone() {
    post(kRetry);
    settle();
    return m_streamOpen.load() ? 0 : 1;
}

void Sidetone::toneOn() {
    const std::int64_t now = m_clock();
    m_tone.key(true, now);
    m_lastKeyedNs.store(now);
    m_activity.fetch_add(1);
    // A stream closed while idle opens again; one that failed waits for a tone change.
    if (!m_streamOpen.load() && !m_failed.load()) {
        post(kOpen);
    }
}

void Sidetone::toneOff() {
    const std::int64_t now = m_clock();
    m_tone.key(false, now);
    m_lastKeyedNs.store(now);
    m_activity.fetch_add(1);
}

void Sidetone::changeTone(int keyCode, bool keyboardKeyDown) {
    double frequency = m_frequency.load();
    if (keyCode == '9') {
        frequency -= 10.0;
        if (frequency < kMinTone) {
            m_frequency.store(kMinTone);
            return;
        }
    } else if (keyCode == '0') {
        frequency += 10.0;
        if (frequency > kMaxTone) {
            m_frequency.store(kMaxTone);
            return;
        }
    } else {
        return;
    }
    m_frequency.store(frequency);
    // The keyboard keying goes on sounding at the new pitch; any other key is let go.
    if (!keyboardKeyDown) {
        toneOff();
    }
    post(kRetable | kRetry);
}

platform::SharedSamples Sidetone::sineTable() const {
    const std::lock_guard lock(m_lock);
    return m_sineTable;
}

void Sidetone::makeTable(int rate) {
    auto table = std::make_shared<const platform::SampleBuffer>(
        platform::makeSineTable(m_frequency.load(), rate));
    {
        const std::lock_guard lock(m_lock);
        m_sineTable = table;
        m_rate = rate;
    }
    m_tone.setTable(std::move(table), m_options.shapedEdges ? platform::rampSamplesFor(rate) : 0);
}

void Sidetone::openStream(bool retry) {
    if (m_failed.load() && !retry) {
        return;
    }
    if (m_output.isOpen()) {
        m_streamOpen.store(true);
        return;
    }
    const auto error = m_output.open(m_tone, [this](int rate) { makeTable(rate); });
    m_failed.store(error.has_value());
    if (!error) {
        m_lastKeyedNs.store(m_clock());
    }
    m_streamOpen.store(!error);
}

void Sidetone::closeIfLost() {
    if (!m_streamOpen.load() || m_output.isOpen()) {
        return;
    }
    // The device or the sound server went away. The stream is closed as if idle, so that the
    // next key-down opens it again; a key held now opens it at once.
    const std::uint64_t activity = m_activity.load();
    m_output.close();
    m_streamOpen.store(false);
    if (m_tone.keyDown() || m_activity.load() != activity) {
        openStream(false);
    }
}

bool Sidetone::idleExpired() const {
    const auto idleNs =
        std::chrono::duration_cast<std::chrono::nanoseconds>(m_options.idleClose).count();
    const std::int64_t now = m_clock();
    return m_streamOpen.load() && idleNs > 0 && !m_tone.keyDown() &&
           now - m_lastKeyedNs.load() >= idleNs && !m_tone.replayPending(now);
}

void Sidetone::work() {
    const auto idleNs =
        std::chrono::duration_cast<std::chrono::nanoseconds>(m_options.idleClose).count();
    const auto lostCheckNs =
        std::chrono::duration_cast<std::chrono::nanoseconds>(m_options.lostCheck).count();
    std::unique_lock lock(m_lock);
    while (true) {
        unsigned requests = std::exchange(m_requests, 0u);
        const std::uint64_t posted = m_posted;
        if (requests == 0) {
            if (!m_streamOpen.load()) {
                m_wake.wait(lock);
                continue;
            }
            // A key held now is let go without telling the worker (the tick only records it):
            // the delay is looked at again after at most one more delay.
            std::int64_t left = std::numeric_limits<std::int64_t>::max();
            if (idleNs > 0) {
                left = m_tone.keyDown() ? idleNs : m_lastKeyedNs.load() + idleNs - m_clock();
            }
            if (left > 0) {
                // Woken before the delay has passed, to look whether the stream is still there.
                const std::int64_t wait = lostCheckNs > 0 ? std::min(left, lostCheckNs) : left;
                if (wait == std::numeric_limits<std::int64_t>::max()) {
                    m_wake.wait(lock);  // neither a delay nor a loss to look at
                } else if (m_wake.wait_for(lock, std::chrono::nanoseconds(wait)) ==
                               std::cv_status::timeout &&
                           m_requests == 0 && lostCheckNs > 0) {
                    m_requests = kCheckLost;
                }
                continue;
            }
            // A stream that opened late plays behind the key: it is not closed before it has
            // played the last key-up.
            if (m_tone.replayPending(m_clock())) {
                m_wake.wait_for(lock, kReplayPoll);
                continue;
            }
            requests = kCheckIdle;
        }
        lock.unlock();
        if ((requests & kStop) != 0) {
            m_output.close();
            m_streamOpen.store(false);
            lock.lock();
            m_done = posted;
            m_served.notify_all();
            return;
        }
        if ((requests & (kOpen | kRetry)) != 0) {
            openStream((requests & kRetry) != 0);
        }
        if ((requests & kRetable) != 0 && m_streamOpen.load()) {
            int rate = 0;
            {
                const std::lock_guard guard(m_lock);
                rate = m_rate;
            }
            makeTable(rate);
        }
        if ((requests & (kCheckLost | kCheckIdle)) != 0) {
            closeIfLost();
        }
        if ((requests & kCheckIdle) != 0) {
            const std::uint64_t activity = m_activity.load();
            if (idleExpired()) {
                m_output.close();
                m_streamOpen.store(false);
                // A key that went down while the stream closed opens it again at once.
                if (m_activity.load() != activity) {
                    openStream(false);
                }
            }
        }
        lock.lock();
        m_done = posted;
        m_served.notify_all();
    }
}

}  // namespace dittix::display
