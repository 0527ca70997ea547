// The fist's mean lengths against the decoder's thresholds.
#include "analysis/fist_advice.h"

#include <algorithm>
#include <limits>

namespace dittix::analysis {

namespace {

std::int32_t plus(std::int32_t a, std::int32_t b) {
    const std::int64_t sum = std::int64_t{a} + b;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        sum, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

GapThresholds gapThresholds(const keying::TimingParameters& timing, bool paddles) {
    if (!paddles) {
        return {timing.decodeTime, timing.blankTime};
    }
    const std::int32_t silence = plus(std::max(timing.dotTimeP, 1), 1);
    return {plus(silence, timing.decodeTimeP), plus(silence, timing.blankTimeP)};
}

FistAdvice adviseOn(const fist::FistFigures& figures, const keying::TimingParameters& timing,
                    bool paddles) {
    const double dot = figures.dotTicks();
    if (!paddles) {
        if (dot >= timing.dotTime) {
            return {AdviceKind::DotsReadAsDashes, dot, timing.dotTime};
        }
        const double dash = figures.dashMs / fist::kTickMs;
        if (dash < timing.dotTime) {
            return {AdviceKind::DashesReadAsDots, dash, timing.dotTime};
        }
    }
    const GapThresholds at = gapThresholds(timing, paddles);
    const auto mean = [dot](const std::optional<fist::GapFigure>& gap) { return gap->toDot * dot; };
    if (figures.elementGap && mean(figures.elementGap) >= at.character) {
        return {AdviceKind::CharactersBreakApart, mean(figures.elementGap), at.character};
    }
    if (figures.characterGap && mean(figures.characterGap) < at.character) {
        return {AdviceKind::CharactersRunTogether, mean(figures.characterGap), at.character};
    }
    if (figures.characterGap && mean(figures.characterGap) >= at.word) {
        return {AdviceKind::WordsBreakApart, mean(figures.characterGap), at.word};
    }
    if (figures.wordGap && mean(figures.wordGap) < at.word) {
        return {AdviceKind::WordsRunTogether, mean(figures.wordGap), at.word};
    }
    return {};
}

}  // namespace dittix::analysis
