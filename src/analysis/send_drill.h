// The sending drill without its window: the target line, the text the operator keys (built from
// the decode tick's character and word-gap measurements) and the marks shown as it comes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "keying/measurement.h"
#include "scoring/copy_score.h"

namespace dittix::analysis {

// What a code the Morse table does not know ("ER" on the tape) counts as in the keyed text: one
// character that matches nothing.
inline constexpr char16_t kUnknownKeyed = u'*';

// A target line drawn from a level: five groups of five.
inline constexpr int kTargetCharacters = 25;
// The longest free text taken as a target, in characters typed.
inline constexpr int kMaxTargetText = 60;

// True when `c` (a-z in either case) has a code in the Morse table, so that it can be keyed.
bool canBeKeyed(char16_t c);

// A target from a typed text: a-z upper-cased, characters that cannot be keyed left out, every run
// of blanks made one blank, none at either end.
std::u16string targetFromText(std::u16string_view typed);

std::size_t nonBlankCount(std::u16string_view text);

// The whole minutes a drill took for the history (60 s = 6000 ticks of 10 ms), rounded up and
// at least 1.
std::int32_t drillMinutes(std::int64_t ticks);

class SendDrill final : public keying::MeasurementSink {
  public:
    // Starts a line: nothing keyed yet.
    void start(std::u16string target);
    // Ends the line (finished or abandoned); what was keyed stays readable.
    void stop();
    bool running() const { return m_running; }

    // A decoded character is added (upper-cased; "ER" as kUnknownKeyed), a word gap adds one
    // blank between two characters; elements and gaps count as time keyed from the first element
    // on. Nothing is taken while the drill is not running or once the line is complete.
    void measured(const keying::Measurement& m) override;

    // As many non-blank characters keyed as the target holds.
    bool lineComplete() const;

    const std::u16string& target() const { return m_target; }
    const std::u16string& keyed() const { return m_keyed; }
    std::int64_t keyedTicks() const { return m_ticks; }
    // Grows with every change of the keyed text, so that a window redraws only after one.
    std::uint64_t revision() const { return m_revision; }

  private:
    std::u16string m_target;
    std::u16string m_keyed;
    std::size_t m_targetCount = 0;
    std::size_t m_keyedCount = 0;
    std::int64_t m_ticks = 0;
    bool m_elementSeen = false;
    bool m_running = false;
    std::uint64_t m_revision = 0;
};

// How a character of the target or of the keyed text is shown.
enum class Shown : std::uint8_t {
    Blank,    // a blank: no colour
    Pending,  // a target character not reached yet
    Right,    // keyed as it stands
    Wrong,    // keyed as another (target), or keyed for another (keyed text)
    Missed,   // a target character passed over
    Extra,    // a keyed character that stands for none of the target
};

// The target's characters by the score of what was keyed so far. While the line runs, the
// target characters after the last one reached (keyed right or wrong) are still Pending rather
// than Missed; once it is finished every unkeyed character is Missed.
std::vector<Shown> targetMarks(const scoring::CopyScore& score, bool finished);

// The keyed text's characters by the same score.
std::vector<Shown> keyedMarks(const scoring::CopyScore& score, std::u16string_view keyed);

}  // namespace dittix::analysis
