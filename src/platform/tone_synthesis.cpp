// Sine table and shaped edges.
#include "platform/tone_synthesis.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace dittix::platform {

SampleBuffer makeSineTable(double frequency, int rate) {
    SampleBuffer table(static_cast<std::size_t>(std::max(rate, 1)));
    const double step = 2.0 * std::numbers::pi * frequency * 1.0 / std::max(rate, 1);
    for (std::size_t i = 0; i < table.size(); ++i) {
        const double value = std::trunc(32768.0 * std::sin(step * static_cast<double>(i)));
        table[i] = static_cast<std::int16_t>(std::clamp(value, -32768.0, 32767.0));
    }
    return table;
}

int rampSamplesFor(int rate) {
    return std::max(rate, 0) / 1000 * kRampMs + std::max(rate, 0) % 1000 * kRampMs / 1000;
}

double rampGain(int done, int ramp) {
    if (ramp <= 0 || done >= ramp) {
        return 1.0;
    }
    if (done <= 0) {
        return 0.0;
    }
    return 0.5 - 0.5 * std::cos(std::numbers::pi * done / ramp);
}

namespace {

std::int16_t scaled(std::int16_t sample, double gain) {
    return static_cast<std::int16_t>(static_cast<double>(sample) * gain);
}

}  // namespace

void appendShapedTone(SampleBuffer& out, const SampleBuffer& sine, std::size_t toneSamples,
                      std::size_t silenceSamples, ToneShape shape) {
    if (sine.empty()) {
        out.insert(out.end(), toneSamples + silenceSamples, std::int16_t{0});
        return;
    }
    const std::size_t start = out.size();
    out.reserve(start + toneSamples + silenceSamples);
    for (std::size_t i = 0; i < toneSamples; ++i) {
        out.push_back(sine[i % sine.size()]);
    }
    const auto ramp = static_cast<std::size_t>(std::max(shape.rampSamples, 0));
    // The rise: the tone's first samples (all of them when the tone is shorter than the rise).
    for (std::size_t i = 0; i < std::min(ramp, toneSamples); ++i) {
        out[start + i] = scaled(out[start + i], rampGain(static_cast<int>(i), shape.rampSamples));
    }
    // The fall goes on from the level the tone reached, over the silence's first samples.
    const int reached = static_cast<int>(std::min(ramp, toneSamples));
    for (std::size_t i = 0; i < silenceSamples; ++i) {
        const int level = reached - static_cast<int>(i);
        if (ramp == 0 || level <= 0) {
            out.insert(out.end(), silenceSamples - i, std::int16_t{0});
            return;
        }
        out.push_back(
            scaled(sine[(toneSamples + i) % sine.size()], rampGain(level, shape.rampSamples)));
    }
}

}  // namespace dittix::platform
