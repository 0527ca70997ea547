// The decode tick and the straight-key branch.
#include "keying/decode_tick.h"

#include <cstdint>
#include <limits>

#include "keying/element_buffer.h"
#include "keying/paddle_keyer.h"

namespace dittix::keying {

namespace {

constexpr std::int32_t kGapDebounceTicks = 3;

bool keyGroupPressed(TickPort& port, KeyboardKey control, KeyboardKey arrow) {
    // Short-circuit on purpose: a query also consumes the key's "pressed since" latch.
    return port.keyPressed(control) || port.keyPressed(arrow);
}

}  // namespace

KeySample sampleKeys(TickPort& port) {
    KeySample sample;
    sample.rightKeys = keyGroupPressed(port, KeyboardKey::RightControl, KeyboardKey::Right);
    sample.leftKeys = keyGroupPressed(port, KeyboardKey::LeftControl, KeyboardKey::Left);
    sample.modemStatus = port.readKeyLines();
    return sample;
}

void StraightKeyDecoder(const KeySample& sample, TickContext& context) {
    TickPort& port = context.port;
    DecoderState& state = context.state;
    ElementBuffer& elements = state.elements;
    const TimingParameters& timing = context.timing;

    if (state.blankCountdown != 0) {
        port.advanceTrace();
    }
    MeasureState& measure = state.measure;
    const bool keyDown = state.keyboardKeyDown || sample.modemStatus != 0;
    if (keyDown) {
        if (!state.previousKeyDown) {
            port.toneOn();
            port.advanceTrace();
        }
        port.markTrace();
        port.wrapTrace();
        port.checkTraceScroll();
        // A gap ends when the key goes down after a closed element.
        if (measure.gapOpen) {
            port.measured({measure.gapClass, measure.upTicks, false, {}});
            measure.gapOpen = false;
        }
        measure.upTicks = 0;
        measure.gapClass = Measured::ElementGap;
        if (elements.gapDebounce == 0) {  // no element open: this tick begins one
            measure.downTicks = 0;
            measure.elementValid = true;
        }
        countTick(measure.downTicks);
        elements.gapDebounce = kGapDebounceTicks;
        elements.decodeCountdown = timing.decodeTime;
        state.blankCountdown = timing.blankTime;
        std::int32_t& duration =
            elements.durations[static_cast<std::size_t>(elements.elementIndex)];
        if (duration < std::numeric_limits<std::int32_t>::max()) {
            ++duration;
        }
        return;
    }

    if (state.previousKeyDown) {
        port.toneOff();
    }
    port.moveTrace();
    countTick(measure.upTicks);
    if (elements.gapDebounce != 0) {
        if (countDown(elements.gapDebounce)) {
            ++elements.elementIndex;
            // The element closes; its own key-down ticks are reported, classed as the decode
            // would class them against the dot time now in force.
            if (measure.elementValid) {
                port.measured({measure.downTicks < timing.dotTime ? Measured::Dot : Measured::Dash,
                               measure.downTicks,
                               false,
                               {}});
            }
            measure.gapOpen = measure.elementValid;
            measure.elementValid = false;
        }
        // The durations are not cleared: an element keyed after this wrap adds to slot 0.
        if (elements.elementIndex > kMaxElementIndex) {
            elements.elementIndex = 0;
        }
    }
    if (countDown(elements.decodeCountdown)) {
        decodeStep(elements, timing.dotTime, port, false);
        raiseGapClass(measure, Measured::CharacterGap);
    }
    if (countDown(state.blankCountdown)) {
        port.emitWordSpace();
        raiseGapClass(measure, Measured::WordGap);
    }
}

DecodeTick::DecodeTick(TickPort& port, const TimingParameters& timing, const KeyingModes& modes,
                       DecoderState& state)
    : m_context{port, timing, modes, state} {}

void DecodeTick::run() {
    DecoderState& state = m_context.state;
    if (state.tickBusy) {
        return;
    }
    state.tickBusy = true;
    // Cleared on every way out, so an operation that throws cannot leave the decoder stuck.
    struct BusyGuard {
        bool& busy;
        ~BusyGuard() { busy = false; }
    } guard{state.tickBusy};

    const KeySample sample = sampleKeys(m_context.port);
    state.keyboardKeyDown = sample.rightKeys || sample.leftKeys;
    if (m_context.modes.paddleMode != state.measure.paddleMode) {
        state.measure = MeasureState{};
        state.measure.paddleMode = m_context.modes.paddleMode;
    }
    if (m_context.modes.paddleMode) {
        PaddleKeyer(sample, m_context);
    } else {
        StraightKeyDecoder(sample, m_context);
    }
    state.previousKeyDown = state.keyboardKeyDown || sample.modemStatus != 0;
}

}  // namespace dittix::keying
