// Progress over the training history: the accuracy of each exercise by level, and the accuracy of
// each character over the latest exercises, re-scored from their texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "persistence/training_history.h"

namespace dittix::persistence {

// An exercise whose copy changed after its row was written gets a further row with the same date:
// only the last row of each (date, mode) stands for the exercise. True for every row that a later
// row supersedes; the aggregations below leave those out.
std::vector<bool> supersededRows(std::span<const HistoryRow> rows);

// The number of exercises of `mode` in the rows, each counted once (see supersededRows).
std::size_t exerciseCount(std::span<const HistoryRow> rows, TrainingMode mode);

struct AccuracyPoint {
    std::int64_t unixSeconds = 0;
    std::int32_t accuracyTenths = 0;
    std::size_t rowIndex = 0;  // the exercise's position in the rows given

    friend bool operator==(const AccuracyPoint&, const AccuracyPoint&) = default;
};

struct LevelSeries {
    std::int32_t level = 0;
    std::vector<AccuracyPoint> points;  // in the order of the rows, i.e. of the exercises

    friend bool operator==(const LevelSeries&, const LevelSeries&) = default;
};

// The accuracy of every exercise of `mode`, one series per level, levels in increasing order.
// Exercises in which nothing was sent have no accuracy and are left out; a superseded row too.
std::vector<LevelSeries> accuracyByLevel(std::span<const HistoryRow> rows, TrainingMode mode);

struct CharacterAccuracy {
    char16_t character = 0;  // folded: upper case, Ø as 0
    std::int32_t sent = 0;
    std::int32_t right = 0;
    std::int32_t accuracyTenths = 0;  // right / sent, as the scoring rounds it

    friend bool operator==(const CharacterAccuracy&, const CharacterAccuracy&) = default;
};

inline constexpr std::size_t kRecentExercises = 20;

// Right / sent for each character over the latest `count` exercises of `mode` in which something
// was sent (superseded rows left out), each scored again from its sent and typed texts. Weakest
// first (compared exactly, not by the rounded tenths); at equal accuracy the more often sent first,
// then by character code.
std::vector<CharacterAccuracy> characterAccuracy(std::span<const HistoryRow> rows,
                                                 std::size_t count = kRecentExercises,
                                                 TrainingMode mode = TrainingMode::Receive);

// Reads the history as the progress view uses it: every row, but the texts only of the latest
// exercises that characterAccuracy(rows, count, mode) scores again; the texts of older rows are
// let go while the file is read, so that a long history is never held whole. Both aggregations
// above give the same results on these rows as on the whole file's.
HistoryReadResult readProgressHistory(const std::filesystem::path& file,
                                      std::size_t count = kRecentExercises,
                                      TrainingMode mode = TrainingMode::Receive,
                                      std::size_t pieceBytes = kHistoryReadPiece);

}  // namespace dittix::persistence
