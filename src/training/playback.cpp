// The playback.
#include "training/playback.h"

namespace dittix::training {

namespace {

class Playback {
  public:
    Playback(TrainingState& state, PlaybackPort& port) : m_state(state), m_port(port) {}

    void run() {
        const int n = static_cast<int>(m_state.trainingText.size());
        m_port.setYellow(0);
        for (int i = 0; i < 3; ++i) {
            if (!sendAndWait(slot(kLeadInSlot))) {
                return stop();
            }
            sleepDots(2, false);
        }
        sleepDots(4, false);
        if (!sendAndWait(m_port.sineTable())) {
            return stop();
        }
        sleepDots(2, false);
        sleepDots(4, false);
        sleepDots(4, false);

        for (int current = 0; current < n && !m_port.aborted(); ++current) {
            const char16_t c = m_state.trainingText[static_cast<std::size_t>(current)];
            if (c == u' ') {
                m_state.charactersStarted = current + 1;
                m_port.highlight(current);
                sleepDots(4, true);
                continue;
            }
            // A character without a tone (a level may hold é or !) is highlighted and followed
            // by the character gap, like a silent character.
            const int index = slotFor(c);
            if (index >= 0) {
                m_port.submit(slot(index));
            }
            m_state.charactersStarted = current + 1;
            m_port.highlight(current);
            if (!waitForTone()) {
                m_port.setYellow(current);
                return stop();
            }
            sleepDots(2, true);
        }
        if (m_port.aborted()) {
            return stop();
        }
        m_port.setYellow(n - 1);
        finish();
    }

  private:
    platform::SharedSamples slot(int index) const {
        const auto bank = m_port.bank();
        return bank ? bank->tones[static_cast<std::size_t>(index)] : nullptr;
    }

    // Polls every millisecond until the tone has played or a stop is requested; false when the
    // playback must stop.
    bool waitForTone() {
        while (m_port.playing() && !m_state.stopRequested.load() && !m_port.aborted()) {
            m_port.sleepMs(1);
        }
        return !m_state.stopRequested.load() && !m_port.aborted();
    }

    bool sendAndWait(platform::SharedSamples samples) {
        m_port.submit(std::move(samples));
        return waitForTone();
    }

    void sleepDots(int dots, bool withPause) {
        m_port.sleepMs(dots * m_state.dotMs.load() + (withPause ? m_state.extraPauseMs.load() : 0));
    }

    void stop() {
        m_port.reset();
        finish();
    }

    void finish() {
        m_state.exerciseRunning = false;
        m_state.playbackEnded = true;
    }

    TrainingState& m_state;
    PlaybackPort& m_port;
};

}  // namespace

void runPlayback(TrainingState& state, PlaybackPort& port) {
    Playback(state, port).run();
}

}  // namespace dittix::training
