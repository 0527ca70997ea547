// The training history: one CSV row per finished exercise in training-history.csv, beside
// settings.ini. Appending never damages earlier rows; reading skips damaged rows and keeps the
// rest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scoring/copy_score.h"

namespace dittix::persistence {

inline constexpr std::string_view kHistoryFileName = "training-history.csv";

// The header line, and the columns of every row in this order (RFC 4180, UTF-8, CRLF).
inline constexpr std::string_view kHistoryHeader =
    "date,mode,level,level_chars,cpm,minutes,interpause,sent,right,wrong,missed,extra,"
    "accuracy_percent,sent_text,copy_text\r\n";

// A history file larger than this is not read.
inline constexpr std::uintmax_t kMaxHistoryBytes = 64u * 1024u * 1024u;

enum class TrainingMode { Receive, Send };  // written as "receive" and "send"

// How the exercise was set up.
struct HistoryExercise {
    TrainingMode mode = TrainingMode::Receive;
    std::int32_t level = 0;  // 1-based, as the level list shows it
    std::u16string levelChars;
    std::int32_t cpm = 0;
    std::int32_t minutes = 0;
    // The interpause list position q (0 = NO … 6 = 3.0): q × 0.5 character gaps, written so,
    // with one decimal (0.0 … 3.0).
    std::int32_t interpause = 0;

    friend bool operator==(const HistoryExercise&, const HistoryExercise&) = default;
};

struct HistoryRow {
    std::string date;              // ISO 8601 local time with offset, 2026-12-10T14:03:22+01:00
    std::int64_t unixSeconds = 0;  // the same instant in seconds since 1970-01-01 UTC
    HistoryExercise exercise;
    std::int32_t sent = 0;
    std::int32_t right = 0;
    std::int32_t wrong = 0;
    std::int32_t missed = 0;
    std::int32_t extra = 0;
    std::optional<std::int32_t> accuracyTenths;  // written as a percentage with one decimal
    std::u16string sentText;                     // as sent and as typed, blanks included
    std::u16string copyText;

    friend bool operator==(const HistoryRow&, const HistoryRow&) = default;
};

// The row of one finished exercise at `when`: the texts are scored here, so its counts always
// agree with its texts (reading checks that agreement to tell a damaged row).
HistoryRow makeHistoryRow(const HistoryExercise& exercise, std::u16string sentText,
                          std::u16string copyText, std::time_t when);

// ISO 8601 local time with the offset from UTC: 2026-12-10T14:03:22+01:00.
std::string localTimestamp(std::time_t when);

// The instant of such a time (a 'Z' instead of the offset is accepted too); none when the text
// is not of that form or names no real day and time.
std::optional<std::int64_t> parseTimestamp(std::string_view text);

// True when the row could have been written by makeHistoryRow: a valid date, no negative
// number, counts that agree with the texts (sent = its non-blank sent characters = right +
// wrong + missed; right + wrong + extra = the non-blank typed characters) and the accuracy
// that follows from them.
bool isConsistentRow(const HistoryRow& row);

// One row as CSV, ending in CRLF. Fields that hold a comma, a quote, a line end, or a blank at
// either end are quoted, quotes doubled.
std::string formatHistoryRecord(const HistoryRow& row);

struct ParsedHistory {
    std::vector<HistoryRow> rows;
    // Places where damaged text was skipped: a row with the wrong number of fields, a number
    // that does not parse, an unterminated quote, invalid UTF-8, counts that disagree with the
    // texts (a row torn inside its texts) — each damaged row once, with any lines of it.
    std::int32_t skipped = 0;
};

// Reads every row of the file's text. The header line is recognised anywhere and skipped; a
// damaged row is skipped and reading goes on at the next line, so that a torn row never takes a
// later good row with it. A last row without its line end is kept when it is whole.
ParsedHistory parseHistory(std::string_view bytes);

enum class HistoryErrorCode {
    NotRegularFile,    // a folder, a pipe, a device
    FolderMissing,     // the folder could not be found or made
    PermissionDenied,  // EACCES, EPERM
    ReadOnly,          // EROFS
    DiskFull,          // ENOSPC
    QuotaExceeded,     // EDQUOT
    FileTooLarge,      // EFBIG, or above the size limit when reading
    Busy,              // another program keeps the file locked
    InvalidRow,        // the row's counts disagree with its texts (a caller's mistake)
    Io,                // any other failure of the system
};

// `message` is one Italian sentence naming the file and the reason, for the operator.
struct HistoryError {
    HistoryErrorCode code = HistoryErrorCode::Io;
    int systemError = 0;  // errno, when the system gave one
    std::string message;
};

// The history file that belongs to a settings file: the same folder.
std::filesystem::path historyFileFor(const std::filesystem::path& settingsFile);

// Appends one row (and the header first when the file is new or empty), with one write of the
// whole text, then flushes it to the disk. A write that fails or falls short is cut back to the
// earlier size, so no partial row stays; a file whose last row was torn (no line end at its
// end) gets the new row on a fresh line. Only regular files are written; the folder is made
// when it is missing.
std::optional<HistoryError> appendHistoryRow(const std::filesystem::path& file,
                                             const HistoryRow& row);

// How a window has a row appended: `done` gets what appendHistoryRow returned. The program
// appends on a thread of its own and calls `done` later on the interface thread; without one
// (an empty function), the window appends at once and `done` runs before the call returns.
using HistoryAppended = std::function<void(const std::optional<HistoryError>& error)>;
using AppendHistory = std::function<void(const HistoryRow& row, HistoryAppended done)>;

// Hands `row` to `append`, or appends it to `file` at once when `append` is empty.
void appendHistoryRow(const AppendHistory& append, const std::filesystem::path& file,
                      const HistoryRow& row, HistoryAppended done);

struct HistoryReadResult {
    std::vector<HistoryRow> rows;  // in the file's order (the order of the appends)
    std::int32_t skipped = 0;      // see ParsedHistory
    std::optional<HistoryError> error;
};

// The size of the pieces in which the file is read (a row longer than that still reads whole).
inline constexpr std::size_t kHistoryReadPiece = 256u * 1024u;

// Reads the whole file, in pieces of `pieceBytes`, so that only the rows and not the file's
// text are held. A missing file is an empty history, not an error; a file that is not regular
// or is larger than `maxBytes` is not read and gives an error.
// `afterPiece`, when given, sees the rows read so far after each piece, and may lighten rows it
// will not need (their texts), so that a long history is never held whole.
using HistoryPieceHook = std::function<void(std::vector<HistoryRow>& rows)>;
HistoryReadResult readHistory(const std::filesystem::path& file,
                              std::uintmax_t maxBytes = kMaxHistoryBytes,
                              std::size_t pieceBytes = kHistoryReadPiece,
                              const HistoryPieceHook& afterPiece = {});

}  // namespace dittix::persistence
