// The operator's copy of a receive exercise: what is typed while it plays and after it ends, its
// score against the characters sent, the summary and the next-level offer, and the rows it leaves
// in the training history.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "persistence/training_history.h"
#include "scoring/copy_score.h"

namespace dittix::training {

// A character the copy takes: one with a training tone, in either case, and Ø or ø for zero.
// Blanks are taken apart (the space key), and kept in the copy but not scored.
bool isCopyCharacter(char16_t c);
// As the copy keeps it: a-z upper-cased, everything else as typed.
char16_t copyForm(char16_t c);

// An exercise of at least this many characters sent, copied with at least this accuracy, earns
// the offer of the next level.
inline constexpr std::int32_t kNextLevelMinimumSent = 50;
inline constexpr std::int32_t kNextLevelAccuracyTenths = 900;

// "93,3 %": tenths of a percent with a decimal comma.
std::u16string accuracyText(std::int32_t tenths);

// The summary line: "Inviati 150 · Giusti 140 · Errati 6 · Mancanti 4 · In più 2 ·
// Precisione 93,3 % · H→5 ×3  S→H ×2  E→I ×1" (a zero shown as Ø, as in the grid).
std::u16string scoreSummary(const scoring::CopyScore& score);

struct NextLevel {
    bool passed = false;     // enough sent, accurate enough
    bool offered = false;    // passed, and a next level exists
    std::int32_t level = 0;  // the next level, 1-based, when offered
};

// `level` is the exercise's level, 1-based, out of `levelCount`.
NextLevel nextLevelFor(const scoring::CopyScore& score, std::int32_t level,
                       std::int32_t levelCount);

// The sentence that goes with a passed exercise.
std::u16string nextLevelMessage(const scoring::CopyScore& score, const NextLevel& next);

class CopySession {
  public:
    // START: a new exercise with an empty copy; the keys typed from now on are the copy.
    void begin(persistence::HistoryExercise exercise);
    bool active() const { return m_active; }

    // A typed character or blank; false when the copy does not take it (or before any START).
    bool type(char16_t c);
    // Backspace: removes the last typed character; false when there is none.
    bool erase();
    const std::u16string& copy() const { return m_copy; }
    bool hasNonBlank() const;

    // The playback has ended after starting `sent`, the start of the exercise's text.
    void end(std::u16string sent);
    bool ended() const { return m_ended; }
    const std::u16string& sent() const { return m_sent; }

    // Scores the copy once the exercise has ended, when something was sent and the copy holds a
    // character (or it was scored before: the score then follows every change of the copy).
    // True when there is a score.
    bool rescore();
    const scoring::CopyScore* score() const { return m_scored ? &m_score : nullptr; }
    const persistence::HistoryExercise& exercise() const { return m_exercise; }

    // The history. The first row when the exercise is first scored, dated `now`; at the end of
    // the exercise's life (the next START, closing) a row with the same date when the copy
    // changed after the last row written, or when that row could not be written.
    std::optional<persistence::HistoryRow> firstRow(std::time_t now);
    std::optional<persistence::HistoryRow> finalRow() const;
    void rowWritten(const persistence::HistoryRow& row);
    // The row handed over by rowWritten could not be written: unless a later row was handed over
    // since, the final row is asked for again.
    void rowFailed(const persistence::HistoryRow& row);

    // The next level was taken: not offered again for this exercise.
    void nextLevelTaken() { m_nextLevelTaken = true; }
    bool isNextLevelTaken() const { return m_nextLevelTaken; }

  private:
    persistence::HistoryRow rowDated(std::time_t when) const;

    bool m_active = false;
    bool m_ended = false;
    bool m_scored = false;
    persistence::HistoryExercise m_exercise;
    std::u16string m_copy;
    std::u16string m_sent;
    scoring::CopyScorer m_scorer;
    scoring::CopyScore m_score;
    std::optional<std::time_t> m_rowDate;         // set by the first row
    std::optional<std::u16string> m_writtenCopy;  // the copy of the last row written
    bool m_nextLevelTaken = false;
};

}  // namespace dittix::training
