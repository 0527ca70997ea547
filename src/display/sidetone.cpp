// Sidetone.
#include "display/sidetone.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace dittix::display {

platform::SampleBuffer makeSineTable(double frequency) {
    platform::SampleBuffer table(platform::kSampleRate);
    const double step = 2.0 * std::numbers::pi * frequency * 1.0 / platform::kSampleRate;
    for (std::size_t i = 0; i < table.size(); ++i) {
        const double value = std::trunc(32768.0 * std::sin(step * static_cast<double>(i)));
        table[i] = static_cast<std::int16_t>(std::clamp(value, -32768.0, 32767.0));
    }
    return table;
}

Sidetone::Sidetone(platform::LoopingOutput& output, double frequency)
    : m_output(output),
      m_frequency(frequency),
      m_sineTable(std::make_shared<const platform::SampleBuffer>(platform::kSampleRate)) {}

int Sidetone::openSidetone() {
    // An output that is still open is used as it is: closing and reopening an audio device can
    // take the audio server seconds, and the window would stand still meanwhile.
    if (!m_output.isOpen() && m_output.open()) {
        return 1;
    }
    m_sineTable = std::make_shared<const platform::SampleBuffer>(makeSineTable(m_frequency));
    m_output.setGate(false);
    m_output.setTable(m_sineTable);
    return 0;
}

void Sidetone::toneOn() {
    m_output.setGate(true);
}

void Sidetone::toneOff() {
    m_output.setGate(false);
}

void Sidetone::changeTone(int keyCode, bool keyboardKeyDown) {
    if (keyCode == '9') {
        m_frequency -= 10.0;
        if (m_frequency < kMinTone) {
            m_frequency = kMinTone;
            return;
        }
    } else if (keyCode == '0') {
        m_frequency += 10.0;
        if (m_frequency > kMaxTone) {
            m_frequency = kMaxTone;
            return;
        }
    } else {
        return;
    }
    toneOff();
    openSidetone();
    if (keyboardKeyDown) {
        toneOn();
    }
}

}  // namespace dittix::display
