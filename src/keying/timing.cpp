// Speed to tick-count derivation.
#include "keying/timing.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace dittix::keying {

namespace {

// A speed of 0 or less cannot come from the speed controls; treat it as 1 rather than divide by 0.
std::int32_t dotTimeFor(std::int32_t dotBase, std::int32_t cpm) {
    return dotBase / std::max<std::int32_t>(cpm, 1);
}

// A dot time read from a hand-edited file can be any 32-bit value; keep the multiples in range.
std::int32_t times(std::int32_t factor, std::int32_t value) {
    const std::int64_t wide = std::int64_t{factor} * value;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(wide, INT32_MIN, INT32_MAX));
}

void setSlowDependentTimes(TimingParameters& timing, bool lento) {
    const std::int32_t dot = timing.dotTime;
    if (lento) {
        timing.decodeTime = times(3, dot);
        timing.blankTime = times(6, dot);
    } else {
        timing.decodeTime = static_cast<std::int32_t>(
            std::clamp<std::int64_t>(std::int64_t{dot} + dot / 2, INT32_MIN, INT32_MAX));
        timing.blankTime = times(3, dot);
    }
}

}  // namespace

double limitSpeedFactor(double k) {
    if (std::isnan(k)) {
        return kDefaultSpeedFactor;
    }
    return std::clamp(k, kMinSpeedFactor, kMaxSpeedFactor);
}

std::int32_t dotBaseFor(double k) {
    k = limitSpeedFactor(k);
    // k = mantissa * 2^(exponent - 53) with an integer mantissa below 2^53; times 600 stays below
    // 2^63, so the whole product is exact in 64 bits and the shift truncates it toward zero.
    int exponent = 0;
    const double fraction = std::frexp(k, &exponent);
    const auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
    const std::uint64_t product = mantissa * 600U;
    const int shift = 53 - exponent;  // 52 .. 55 for k in 0.4 .. 1.0
    return static_cast<std::int32_t>(product >> shift);
}

void computeDotBase(SpeedSettings& speeds) {
    speeds.dotBase = dotBaseFor(speeds.speedFactor);
}

void recomputeTimes(SpeedSettings& speeds, TimingParameters& timing, bool lento, std::int32_t cpm,
                    std::int32_t cpmPalette) {
    speeds.lento = lento;
    speeds.cpm = cpm;
    speeds.cpmPalette = cpmPalette;
    timing.dotTime = dotTimeFor(speeds.dotBase, cpm);
    setSlowDependentTimes(timing, lento);
    timing.dotTimeP = dotTimeFor(speeds.dotBase, cpmPalette);
    timing.decodeTimeP = timing.dotTimeP;
    timing.blankTimeP = times(5, timing.dotTimeP);
}

void recomputeSlowTimes(SpeedSettings& speeds, TimingParameters& timing, bool lento) {
    speeds.lento = lento;
    setSlowDependentTimes(timing, lento);
}

}  // namespace dittix::keying
