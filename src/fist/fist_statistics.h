// The operator's fist in figures: the decode tick's measurements gathered in histograms of one
// bin per tick, the dot and dash found from the lengths themselves, and a straight-key setting.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "keying/measurement.h"

namespace dittix::fist {

inline constexpr double kTickMs = 10.0;

// Bins 0 to 398 hold that many ticks each; the last bin holds 399 ticks and longer.
inline constexpr std::size_t kHistogramBins = 400;
inline constexpr std::int32_t kLongestBin = static_cast<std::int32_t>(kHistogramBins) - 1;

// The fewest measurements that give figures: below these a figure is left out, never guessed.
inline constexpr std::uint64_t kMinKeyDownElements = 10;
// Each of the dot and dash clusters holds at least 3 elements and a tenth of them all, so that
// a few stray presses cannot make a cluster of their own.
inline constexpr std::uint64_t kMinClusterElements = 3;
inline constexpr double kMinClusterShare = 0.1;
inline constexpr double kMinDashToDot = 1.8;  // two clusters closer than this are one, jittered
inline constexpr std::uint64_t kMinGapsPerClass = 3;
// Key-down lengths beyond this many times the median are a held key (tuning), not elements.
inline constexpr std::int32_t kHeldKeyMedians = 10;
// Gaps against the measured dot: below 2 dots an element gap, below 5 a character gap, below 14
// a word gap; from 14 dots on (twice a word gap) a pause, left out of the figures.
inline constexpr double kCharacterGapDots = 2.0;
inline constexpr double kWordGapDots = 5.0;
inline constexpr double kPauseDots = 14.0;

// What the drawing of the last characters keeps, and how many measurements the ring holds.
inline constexpr std::size_t kRecentCharacters = 20;
inline constexpr std::size_t kRecentCapacity = 1024;

// Key-down lengths, one bin per tick, split by the decoder's class.
struct KeyDownHistogram {
    std::array<std::uint64_t, kHistogramBins> dots{};
    std::array<std::uint64_t, kHistogramBins> dashes{};

    std::uint64_t total() const;
};

// Key-up gaps, one bin per tick, split by what the decoder did during them.
struct GapHistogram {
    std::array<std::uint64_t, kHistogramBins> elementGaps{};
    std::array<std::uint64_t, kHistogramBins> characterGaps{};
    std::array<std::uint64_t, kHistogramBins> wordGaps{};

    std::uint64_t total() const;
};

// A gap kind against the measured dot: its mean length in dots and its spread.
struct GapFigure {
    double toDot = 0;          // ideal: 1 (element), 3 (character), 7 (word)
    double spreadPercent = 0;  // coefficient of variation
    std::uint64_t count = 0;
};

// The lengths of a perfect fist at the measured speed, in ticks.
struct IdealLengths {
    double dot = 0;
    double dash = 0;
    double elementGap = 0;
    double characterGap = 0;
    double wordGap = 0;
};

struct FistFigures {
    double dotMs = 0;
    double dashMs = 0;
    double wpm = 0;        // PARIS: 1200 / dot ms
    double cpm = 0;        // 5 × WPM
    double dashToDot = 0;  // ideal 3
    double dotSpreadPercent = 0;
    double dashSpreadPercent = 0;
    std::uint64_t dots = 0;
    std::uint64_t dashes = 0;
    std::int32_t firstDashTicks = 0;  // the clusters' split: lengths from here on are dashes
    std::optional<GapFigure> elementGap;
    std::optional<GapFigure> characterGap;
    std::optional<GapFigure> wordGap;
    IdealLengths ideal;

    double dotTicks() const { return dotMs / kTickMs; }
};

// A value for the straight key's speed bar ("Verticale", 25 to 120) and the dot time it gives.
struct VerticaleSuggestion {
    std::int32_t verticale = 0;
    std::int32_t dotTime = 0;

    friend bool operator==(const VerticaleSuggestion&, const VerticaleSuggestion&) = default;
};

// One measurement as kept for drawing the last characters to scale.
struct RecentItem {
    keying::Measured what = keying::Measured::Dot;
    std::int32_t ticks = 0;
    std::array<char16_t, 3> chars{};  // a character's text; the table's longest has 2
    std::uint8_t length = 0;

    std::u16string_view text() const { return {chars.data(), length}; }
};

struct FistSnapshot {
    bool keyerMade = false;  // the measurements come from the paddles
    KeyDownHistogram keyDown;
    GapHistogram gaps;
    std::uint64_t characters = 0;
    std::uint64_t unknownCharacters = 0;            // decoded as "ER"
    std::optional<double> unknownPercent;           // none before the first character
    std::optional<FistFigures> figures;             // none with too few elements
    std::optional<VerticaleSuggestion> suggestion;  // none without figures, and for the paddles
    // The last characters' elements and gaps in keying order, each character followed by its
    // Character item; it starts with the oldest character's first element and ends with the
    // elements of a character not yet decoded, if any.
    std::vector<RecentItem> recent;
};

// The figures found from the histograms. The key-down lengths are split into dots and dashes
// where the logarithms of the lengths spread least within the two clusters (a fist's jitter
// grows with the length, and a few stray long presses do not pull the split), each cluster
// holding its least share; the decoder's own classes do not count, so that a wrong speed setting
// shows. The gaps are classed against the dot found.
std::optional<FistFigures> figuresFrom(const KeyDownHistogram& keyDown, const GapHistogram& gaps);

// The speed bar value v (25 to 120) whose dot time dotBase / v lies closest to 1.5 measured
// dots, which puts the decoder's dot/dash split, decode pause and word pause between this fist's
// elements, gaps and words. Of values equally close the lowest wins: the longer dot time, the
// safer side for a character's pauses. None for a dotBase or dot that is not positive.
std::optional<VerticaleSuggestion> suggestVerticale(std::int32_t dotBase, double dotTicks);

// Gathers the tick's measurements since the start or the last reset, for one mode: a measurement
// from the other mode (keyer-made or not) starts them afresh.
class FistStatistics final : public keying::MeasurementSink {
  public:
    void measured(const keying::Measurement& m) override;
    void reset();

    // Everything gathered, with the figures and, for the straight key, the setting suggested
    // for the given dotBase.
    FistSnapshot snapshot(std::int32_t dotBase) const;

  private:
    // One row of bins per kind of element and gap, in the order of keying::Measured, so that
    // feeding a measurement takes no branch on its kind.
    static constexpr std::size_t kLengthKinds = 5;

    bool m_keyerMade = false;
    std::array<std::array<std::uint64_t, kHistogramBins>, kLengthKinds> m_lengths{};
    std::uint64_t m_characters = 0;
    std::uint64_t m_unknown = 0;
    std::array<RecentItem, kRecentCapacity> m_recent{};
    std::size_t m_next = 0;  // the ring's next slot
    bool m_wrapped = false;  // the ring has overwritten its oldest items
};

}  // namespace dittix::fist
