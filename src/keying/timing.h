// Speeds and the tick counts derived from them. Every keying duration is a whole number of
// 10 ms ticks; the arithmetic is integer and truncates toward zero.
#pragma once

#include <cstdint>

namespace dittix::keying {

// The six tick counts read by the decode tick on every tick. The defaults are those used when
// the settings file has none (they are not what the formulas give for the default speeds).
struct TimingParameters {
    std::int32_t dotTime = 10;
    std::int32_t decodeTime = 15;
    std::int32_t blankTime = 40;
    std::int32_t dotTimeP = 10;
    std::int32_t decodeTimeP = 15;
    std::int32_t blankTimeP = 40;

    friend bool operator==(const TimingParameters&, const TimingParameters&) = default;
};

// The operator's speeds from which the tick counts are derived.
struct SpeedSettings {
    double speedFactor = 0.66;  // settings key "k"
    std::int32_t dotBase = 396;
    std::int32_t cpm = 40;         // straight key, characters per minute
    std::int32_t cpmPalette = 40;  // paddles, characters per minute
    bool lento = false;            // slow straight key
};

// The range of the setup window's two speed bars, in characters per minute.
inline constexpr std::int32_t kMinSpeedCpm = 25;
inline constexpr std::int32_t kMaxSpeedCpm = 120;

inline constexpr double kMinSpeedFactor = 0.4;
inline constexpr double kMaxSpeedFactor = 1.0;
inline constexpr double kDefaultSpeedFactor = 0.66;

// Limits k to 0.4 .. 1.0. A value that is not a number falls back to the default.
double limitSpeedFactor(double k);

// The exact product of the stored double `k` (after the limits) and 600, truncated toward zero:
// 0.7 gives 419 because the double nearest 0.7 lies just below it. Computed in integers, so the
// result does not depend on the width of the compiler's long double.
std::int32_t dotBaseFor(double k);

// Sets `dotBase` from `speedFactor`.
void computeDotBase(SpeedSettings& speeds);

// Stores the three inputs and derives all six tick counts from them.
void recomputeTimes(SpeedSettings& speeds, TimingParameters& timing, bool lento, std::int32_t cpm,
                    std::int32_t cpmPalette);

// Stores the slow flag and derives the straight key's decode and blank times from the current
// dot time; the dot time and the paddle counts stay as they are.
void recomputeSlowTimes(SpeedSettings& speeds, TimingParameters& timing, bool lento);

}  // namespace dittix::keying
