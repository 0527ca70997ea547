// Fist histograms, figures and the suggested straight-key setting.
#include "fist/fist_statistics.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "keying/morse_table.h"
#include "keying/timing.h"

namespace dittix::fist {

namespace {

using keying::Measured;

// Count, mean and coefficient of variation of the lengths in bins [from, to).
struct Moments {
    std::uint64_t count = 0;
    double mean = 0;
    double spreadPercent = 0;
};

template <class CountAt>
Moments momentsOf(CountAt countAt, std::int32_t from, std::int32_t to) {
    Moments m;
    double sum = 0;
    for (std::int32_t b = from; b < to; ++b) {
        const std::uint64_t c = countAt(b);
        m.count += c;
        sum += static_cast<double>(c) * b;
    }
    if (m.count == 0) {
        return m;
    }
    const auto n = static_cast<double>(m.count);
    m.mean = sum / n;
    double squares = 0;  // a second pass, so that a steady fist gives a spread of exactly 0
    for (std::int32_t b = from; b < to; ++b) {
        const double d = b - m.mean;
        squares += static_cast<double>(countAt(b)) * d * d;
    }
    m.spreadPercent = m.mean > 0 ? 100.0 * std::sqrt(squares / n) / m.mean : 0;
    return m;
}

// The first bin whose length is not below `ticks`, kept inside the usable bins.
std::int32_t firstBinFrom(double ticks) {
    return static_cast<std::int32_t>(std::clamp(std::ceil(ticks), 1.0, double{kLongestBin}));
}

// The split point t (lengths below t are dots) at which the logarithms of the lengths in
// [1, end) spread least within the two clusters, which is where they spread most between them,
// with at least the least cluster on each side. Of equal splits the lowest wins. 0 when there is
// no such split.
std::int32_t twoClusterSplit(const std::array<std::uint64_t, kHistogramBins>& counts,
                             std::int32_t end) {
    double totalCount = 0;
    double totalSum = 0;
    for (std::int32_t b = 1; b < end; ++b) {
        const auto c = static_cast<double>(counts[static_cast<std::size_t>(b)]);
        totalCount += c;
        totalSum += c * std::log(b);
    }
    const double least =
        std::max(static_cast<double>(kMinClusterElements), kMinClusterShare * totalCount);
    double lowCount = 0;
    double lowSum = 0;
    double best = 0;
    std::int32_t split = 0;
    for (std::int32_t t = 2; t < end; ++t) {
        const auto c = static_cast<double>(counts[static_cast<std::size_t>(t - 1)]);
        lowCount += c;
        lowSum += c * std::log(t - 1);
        const double highCount = totalCount - lowCount;
        if (lowCount < least || highCount < least) {
            continue;
        }
        const double apart = lowSum / lowCount - (totalSum - lowSum) / highCount;
        const double between = lowCount * highCount * apart * apart;
        if (between > best) {
            best = between;
            split = t;
        }
    }
    return split;
}

std::optional<GapFigure> gapFigure(const std::array<std::uint64_t, kHistogramBins>& gaps,
                                   std::int32_t from, std::int32_t to, double dotTicks) {
    const Moments m =
        momentsOf([&](std::int32_t b) { return gaps[static_cast<std::size_t>(b)]; }, from, to);
    if (m.count < kMinGapsPerClass) {
        return std::nullopt;
    }
    return GapFigure{m.mean / dotTicks, m.spreadPercent, m.count};
}

}  // namespace

std::uint64_t KeyDownHistogram::total() const {
    return std::accumulate(dots.begin(), dots.end(), std::uint64_t{0}) +
           std::accumulate(dashes.begin(), dashes.end(), std::uint64_t{0});
}

std::uint64_t GapHistogram::total() const {
    return std::accumulate(elementGaps.begin(), elementGaps.end(), std::uint64_t{0}) +
           std::accumulate(characterGaps.begin(), characterGaps.end(), std::uint64_t{0}) +
           std::accumulate(wordGaps.begin(), wordGaps.end(), std::uint64_t{0});
}

std::optional<FistFigures> figuresFrom(const KeyDownHistogram& keyDown, const GapHistogram& gaps) {
    // Bin 0 (nothing the tick reports) and the last bin (lengths not known exactly) are left out.
    std::array<std::uint64_t, kHistogramBins> lengths{};
    std::uint64_t count = 0;
    for (std::size_t b = 1; b < kHistogramBins - 1; ++b) {
        lengths[b] = keyDown.dots[b] + keyDown.dashes[b];
        count += lengths[b];
    }
    if (count < kMinKeyDownElements) {
        return std::nullopt;
    }
    // The lower median; a key held far longer than the elements around it is not one of them.
    std::uint64_t below = 0;
    std::int32_t median = 1;
    while (median < kLongestBin) {
        below += lengths[static_cast<std::size_t>(median)];
        if (2 * below >= count) {
            break;
        }
        ++median;
    }
    const std::int32_t end = std::min(kLongestBin, kHeldKeyMedians * median + 1);
    const auto countAt = [&](std::int32_t b) { return lengths[static_cast<std::size_t>(b)]; };
    if (momentsOf(countAt, 1, end).count < kMinKeyDownElements) {
        return std::nullopt;
    }

    const std::int32_t split = twoClusterSplit(lengths, end);
    if (split == 0) {
        return std::nullopt;
    }
    const Moments dot = momentsOf(countAt, 1, split);
    const Moments dash = momentsOf(countAt, split, end);
    if (dot.count < kMinClusterElements || dash.count < kMinClusterElements ||
        dash.mean < kMinDashToDot * dot.mean) {
        return std::nullopt;
    }

    FistFigures f;
    const double d = dot.mean;
    f.dotMs = d * kTickMs;
    f.dashMs = dash.mean * kTickMs;
    f.wpm = 1200.0 / f.dotMs;
    f.cpm = 5.0 * f.wpm;
    f.dashToDot = dash.mean / d;
    f.dotSpreadPercent = dot.spreadPercent;
    f.dashSpreadPercent = dash.spreadPercent;
    f.dots = dot.count;
    f.dashes = dash.count;
    f.firstDashTicks = split;

    // The gaps by their length against the dot found, whatever the decoder made of them.
    std::array<std::uint64_t, kHistogramBins> silences{};
    for (std::size_t b = 0; b < kHistogramBins; ++b) {
        silences[b] = gaps.elementGaps[b] + gaps.characterGaps[b] + gaps.wordGaps[b];
    }
    const std::int32_t characterFrom = firstBinFrom(kCharacterGapDots * d);
    const std::int32_t wordFrom = std::max(characterFrom, firstBinFrom(kWordGapDots * d));
    const std::int32_t pauseFrom = std::max(wordFrom, firstBinFrom(kPauseDots * d));
    f.elementGap = gapFigure(silences, 1, characterFrom, d);
    f.characterGap = gapFigure(silences, characterFrom, wordFrom, d);
    f.wordGap = gapFigure(silences, wordFrom, pauseFrom, d);

    f.ideal = {d, 3 * d, d, 3 * d, 7 * d};
    return f;
}

std::optional<VerticaleSuggestion> suggestVerticale(std::int32_t dotBase, double dotTicks) {
    if (dotBase <= 0 || !(dotTicks > 0) || !std::isfinite(dotTicks)) {
        return std::nullopt;
    }
    const double target = 1.5 * dotTicks;
    VerticaleSuggestion best;
    double bestDistance = 0;
    for (std::int32_t v = keying::kMinSpeedCpm; v <= keying::kMaxSpeedCpm; ++v) {
        const std::int32_t dotTime = dotBase / v;
        const double distance = std::abs(dotTime - target);
        if (best.verticale == 0 || distance < bestDistance) {
            best = {v, dotTime};
            bestDistance = distance;
        }
    }
    return best;
}

static_assert(static_cast<std::size_t>(Measured::Character) == 5,
              "the length kinds come first in keying::Measured");

void FistStatistics::measured(const keying::Measurement& m) {
    if (m.keyerMade != m_keyerMade) {
        reset();
        m_keyerMade = m.keyerMade;
    }
    const auto kind = static_cast<std::size_t>(m.what);
    RecentItem& item = m_recent[m_next];
    item.what = m.what;
    item.ticks = m.ticks;
    item.length = 0;
    if (kind < kLengthKinds) {
        ++m_lengths[kind][static_cast<std::size_t>(std::clamp(m.ticks, 0, kLongestBin))];
    } else if (m.what == Measured::Character) {
        ++m_characters;
        if (m.text == keying::kUnknownCode) {
            ++m_unknown;
        }
        item.length = static_cast<std::uint8_t>(std::min(m.text.size(), item.chars.size()));
        std::copy_n(m.text.begin(), item.length, item.chars.begin());
    }
    if (++m_next == kRecentCapacity) {
        m_next = 0;
        m_wrapped = true;
    }
}

void FistStatistics::reset() {
    m_lengths = {};
    m_characters = 0;
    m_unknown = 0;
    m_next = 0;
    m_wrapped = false;
}

FistSnapshot FistStatistics::snapshot(std::int32_t dotBase) const {
    FistSnapshot s;
    s.keyerMade = m_keyerMade;
    const auto row = [this](Measured what) { return m_lengths[static_cast<std::size_t>(what)]; };
    s.keyDown = {row(Measured::Dot), row(Measured::Dash)};
    s.gaps = {row(Measured::ElementGap), row(Measured::CharacterGap), row(Measured::WordGap)};
    s.characters = m_characters;
    s.unknownCharacters = m_unknown;
    if (m_characters > 0) {
        s.unknownPercent =
            100.0 * static_cast<double>(m_unknown) / static_cast<double>(m_characters);
    }
    s.figures = figuresFrom(s.keyDown, s.gaps);
    if (s.figures && !m_keyerMade) {
        s.suggestion = suggestVerticale(dotBase, s.figures->dotTicks());
    }

    // The ring's items oldest first: from the item after the 21st newest character on. When the
    // ring has overwritten older items, those before its oldest character belong to a character
    // whose start is lost, and are left out too.
    const std::size_t count = m_wrapped ? kRecentCapacity : m_next;
    const std::size_t oldest = m_wrapped ? m_next : 0;
    const auto at = [&](std::size_t i) -> const RecentItem& {
        return m_recent[(oldest + i) % kRecentCapacity];
    };
    std::size_t start = 0;
    std::size_t characters = 0;
    for (std::size_t i = count; i > 0; --i) {
        if (at(i - 1).what == Measured::Character && ++characters > kRecentCharacters) {
            start = i;
            break;
        }
    }
    if (characters <= kRecentCharacters && m_wrapped) {
        for (std::size_t i = 0; i < count; ++i) {
            if (at(i).what == Measured::Character) {
                start = i + 1;
                break;
            }
        }
    }
    while (start < count && keying::kindOf(at(start).what) == keying::MeasurementKind::KeyUp) {
        ++start;
    }
    s.recent.reserve(count - start);
    for (std::size_t i = start; i < count; ++i) {
        s.recent.push_back(at(i));
    }
    return s;
}

}  // namespace dittix::fist
