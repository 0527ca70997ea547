// Binds the decode tick's operations to the real parts: the keyboard query, the key port's
// lines, the sidetone, the tape display and, when one is set, a sink for the measurements.
#pragma once

#include <functional>
#include <string_view>

#include "display/tape_display.h"
#include "display/tone_switch.h"
#include "keying/tick_port.h"
#include "platform/key_lines.h"
#include "platform/keyboard_query.h"

namespace dittix::display {

class TickBinding : public keying::TickPort {
  public:
    // Receives every decoded text and word space (" "), for a test hook; may be empty.
    using TextObserver = std::function<void(std::u16string_view)>;

    TickBinding(platform::KeyboardQuery& keyboard, platform::KeyLines& lines, ToneSwitch& tone,
                TapeDisplay& display, TextObserver observer = {})
        : m_keyboard(keyboard),
          m_lines(lines),
          m_tone(tone),
          m_display(display),
          m_observer(std::move(observer)) {}

    bool keyPressed(keying::KeyboardKey key) override { return m_keyboard.keyPressed(key); }
    std::uint32_t readKeyLines() override { return m_lines.readKeyLines(); }
    void toneOn() override { m_tone.toneOn(); }
    void toneOff() override { m_tone.toneOff(); }
    void advanceTrace() override { m_display.advanceTrace(); }
    void markTrace() override { m_display.markTrace(); }
    void moveTrace() override { m_display.moveTrace(); }
    void wrapTrace() override { m_display.wrapTrace(); }
    void checkTraceScroll() override { m_display.checkTraceScroll(); }
    void emitCharacter(std::u16string_view text) override {
        m_display.emitCharacter(text);
        if (m_observer) {
            m_observer(text);
        }
    }
    void emitWordSpace() override {
        m_display.emitWordSpace();
        if (m_observer) {
            m_observer(u" ");
        }
    }
    void measured(const keying::Measurement& measurement) override {
        if (m_sink != nullptr) {
            m_sink->measured(measurement);
        }
    }

    // Where the tick's measurements go from the next tick on; nullptr (the default) drops them.
    // The sink must outlive the binding or be unset first.
    void setMeasurementSink(keying::MeasurementSink* sink) { m_sink = sink; }

  private:
    platform::KeyboardQuery& m_keyboard;
    platform::KeyLines& m_lines;
    ToneSwitch& m_tone;
    TapeDisplay& m_display;
    TextObserver m_observer;
    keying::MeasurementSink* m_sink = nullptr;
};

}  // namespace dittix::display
