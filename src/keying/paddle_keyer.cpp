// Iambic paddle keyer.
#include "keying/paddle_keyer.h"

#include <algorithm>

#include "keying/element_buffer.h"

namespace dittix::keying {

namespace {

struct PaddleInputs {
    bool dot = false;
    bool dash = false;
};

// The memories belong to the element kind, not to a physical paddle: reversing swaps only the
// physical inputs. DSR and RING are ignored in this mode.
PaddleInputs formInputs(const KeySample& sample, const PaddleState& paddle, bool reverse) {
    const bool rlsd = (sample.modemStatus & kModemRlsd) != 0;
    const bool cts = (sample.modemStatus & kModemCts) != 0;
    const bool right = sample.rightKeys || rlsd;
    const bool left = sample.leftKeys || cts;
    return {paddle.dotMemory || (reverse ? left : right),
            paddle.dashMemory || (reverse ? right : left)};
}

void startElement(TickContext& context, std::int32_t d, bool dot) {
    PaddleState& paddle = context.state.paddle;
    ElementBuffer& elements = context.state.elements;
    MeasureState& measure = context.state.measure;
    // The silence since the last tone ends here. The element is reported when its tone ends.
    if (measure.gapOpen) {
        context.port.measured({measure.gapClass, measure.upTicks, true, {}});
        measure.gapOpen = false;
    }
    paddle.elementCountdown = dot ? 2 * d : 4 * d;
    paddle.toneCountdown = dot ? d : 3 * d;
    context.port.toneOn();
    measure.downTicks = paddle.toneCountdown;
    measure.elementValid = true;
    // A fixed, synthetic duration that the decode classifies against D without measuring.
    elements.durations[static_cast<std::size_t>(elements.elementIndex)] = dot ? d / 2 : 2 * d;
    ++elements.elementIndex;
    paddle.lastWasDot = dot;
}

void sendingTick(const PaddleInputs& in, TickContext& context) {
    TickPort& port = context.port;
    PaddleState& paddle = context.state.paddle;

    countDown(paddle.elementCountdown);
    port.advanceTrace();
    if (paddle.toneCountdown != 0) {
        port.markTrace();
    } else {
        port.moveTrace();
    }
    port.wrapTrace();
    port.checkTraceScroll();
    MeasureState& measure = context.state.measure;
    if (countDown(paddle.toneCountdown)) {
        port.toneOff();
        if (measure.elementValid) {  // not when the tone began before a switch of mode
            port.measured(
                {paddle.lastWasDot ? Measured::Dot : Measured::Dash, measure.downTicks, true, {}});
            measure.elementValid = false;
        }
        measure.upTicks = 0;
        measure.gapClass = Measured::ElementGap;
        measure.gapOpen = true;
    }
    context.state.elements.decodeCountdown = context.timing.decodeTimeP;
    context.state.blankCountdown = context.timing.blankTimeP;

    if (paddle.toneCountdown == 0) {
        countTick(measure.upTicks);  // the tick in which the tone ends is already silent
        if (in.dot && !in.dash) {
            paddle.dotMemory = true;
        } else if (in.dash && !in.dot) {
            paddle.dashMemory = true;
        } else if (in.dot && in.dash && context.modes.memoriaPunto) {
            (paddle.lastWasDot ? paddle.dashMemory : paddle.dotMemory) = true;
        }
    }
}

void idleTick(const PaddleInputs& in, TickContext& context, std::int32_t d) {
    TickPort& port = context.port;
    DecoderState& state = context.state;

    if (in.dot && !in.dash) {
        startElement(context, d, true);
    } else if (in.dash && !in.dot) {
        startElement(context, d, false);
    } else if (in.dot && in.dash && context.modes.memoriaPunto) {
        startElement(context, d, !state.paddle.lastWasDot);
    }
    // Counted after the start, so that a starting tick is not part of the gap it ends; the
    // starting element's tone resets the count when it ends.
    countTick(state.measure.upTicks);
    // From the eleventh element on, each one overwrites slot 10.
    state.elements.elementIndex = std::min(state.elements.elementIndex, kMaxElementIndex);
    if (state.blankCountdown != 0) {
        port.advanceTrace();
    }
    port.wrapTrace();
    port.moveTrace();
    port.checkTraceScroll();
    if (countDown(state.elements.decodeCountdown)) {
        decodeStep(state.elements, d, port, true);
        raiseGapClass(state.measure, Measured::CharacterGap);
    }
    if (countDown(state.blankCountdown)) {
        port.emitWordSpace();
        raiseGapClass(state.measure, Measured::WordGap);
    }
}

}  // namespace

std::int32_t paddleDotTicks(const TimingParameters& timing) {
    // Bounded above too, so that 4 × D cannot overflow for a hand-edited value.
    return std::clamp<std::int32_t>(timing.dotTimeP, 1, INT32_MAX / 4);
}

void PaddleKeyer(const KeySample& sample, TickContext& context) {
    PaddleState& paddle = context.state.paddle;
    const PaddleInputs in = formInputs(sample, paddle, context.modes.paddleReverse);
    paddle.dotMemory = false;
    paddle.dashMemory = false;

    if (paddle.elementCountdown != 0) {
        sendingTick(in, context);
    } else {
        idleTick(in, context, paddleDotTicks(context.timing));
    }
}

}  // namespace dittix::keying
