// Rows for the history tests: whole, consistent rows with awkward texts.
#pragma once

#include <ostream>
#include <string>

#include "persistence/training_history.h"

namespace dittix::persistence::test {

// 2026-12-10T14:03:22+01:00 is 13:03:22 UTC.
inline constexpr std::int64_t kWinterInstant = 1796907802;

// A row as makeHistoryRow gives it, with a fixed date so that the tests do not depend on the
// machine's time zone.
inline HistoryRow historyRow(std::u16string sent, std::u16string copy, int level = 3,
                             TrainingMode mode = TrainingMode::Receive) {
    HistoryExercise exercise;
    exercise.mode = mode;
    exercise.level = level;
    exercise.levelChars = u"KMUR";
    exercise.cpm = 60;
    exercise.minutes = 2;
    exercise.interpause = 3;
    HistoryRow row = makeHistoryRow(exercise, std::move(sent), std::move(copy), 0);
    row.date = "2026-12-10T14:03:22+01:00";
    row.unixSeconds = kWinterInstant;
    return row;
}

}  // namespace dittix::persistence::test

namespace dittix::persistence {

// Failures show the row as its CSV text.
inline void PrintTo(const HistoryRow& row, std::ostream* os) {
    *os << formatHistoryRecord(row);
}

}  // namespace dittix::persistence
