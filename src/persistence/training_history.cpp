// The training history file: the CSV text of its rows, the append that never damages earlier
// rows, and the reading that skips damaged ones.
#include "persistence/training_history.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>

#include "persistence/settings_location.h"

#if defined(_WIN32)
#include <io.h>
#include <fstream>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace dittix::persistence {

namespace {

constexpr std::size_t kColumns = 15;
constexpr std::array<std::string_view, kColumns> kColumnNames = {
    "date",     "mode",  "level", "level_chars", "cpm",   "minutes",          "interpause",
    "sent",     "right", "wrong", "missed",      "extra", "accuracy_percent", "sent_text",
    "copy_text"};

// --- UTF-8 -----------------------------------------------------------------------------------

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Appends `text` as UTF-8; a lone surrogate (which no typed text should hold) becomes U+FFFD.
// With `doubleQuotes`, each quote is written twice.
void appendUtf8(std::string& out, std::u16string_view text, bool doubleQuotes) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        if (u < 0x80) {
            out += static_cast<char>(u);
            if (u == u'"' && doubleQuotes) {
                out += '"';
            }
        } else if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                   text[i + 1] <= 0xDFFF) {
            appendUtf8(out, 0x10000 + ((char32_t{u} - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            appendUtf8(out, 0xFFFD);
        } else {
            appendUtf8(out, u);
        }
    }
}

// Strict: a truncated, overlong or otherwise invalid sequence makes the field damaged (a row torn
// inside a character must not pass for a whole one).
bool fromUtf8(std::string_view in, std::u16string& out) {
    // Never longer than the UTF-8 text: sized once, written by index, cut to length.
    out.resize(in.size());
    char16_t* const o = out.data();
    std::size_t w = 0;
    for (std::size_t i = 0; i < in.size();) {
        const auto c = static_cast<unsigned char>(in[i]);
        if (c < 0x80) {
            o[w++] = static_cast<char16_t>(c);
            ++i;
            continue;
        }
        std::size_t length = 0;
        char32_t code = 0;
        if ((c & 0xE0) == 0xC0) {
            length = 2;
            code = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3;
            code = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4;
            code = c & 0x07;
        } else {
            return false;
        }
        if (i + length > in.size()) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto d = static_cast<unsigned char>(in[i + k]);
            if ((d & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (d & 0x3F);
        }
        const bool overlong = (length == 2 && code < 0x80) || (length == 3 && code < 0x800) ||
                              (length == 4 && code < 0x10000);
        if (overlong || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        if (code >= 0x10000) {
            o[w++] = static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
            o[w++] = static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            o[w++] = static_cast<char16_t>(code);
        }
        i += length;
    }
    out.resize(w);
    return true;
}

// --- Fields ----------------------------------------------------------------------------------

// A field is quoted when it holds a comma, a quote or a line end, or begins or ends with a
// blank (which many readers would otherwise trim).
template <class Char>
bool needsQuotes(std::basic_string_view<Char> text) {
    if (text.empty()) {
        return false;
    }
    const auto blank = [](Char c) { return c == Char(' ') || c == Char('\t'); };
    if (blank(text.front()) || blank(text.back())) {
        return true;
    }
    for (const Char c : text) {
        if (c == Char(',') || c == Char('"') || c == Char('\r') || c == Char('\n')) {
            return true;
        }
    }
    return false;
}

void appendField(std::string& out, std::string_view text) {
    if (!needsQuotes(text)) {
        out += text;
        return;
    }
    out += '"';
    for (const char c : text) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    out += '"';
}

void appendField(std::string& out, std::u16string_view text) {
    const bool quoted = needsQuotes(text);
    if (quoted) {
        out += '"';
    }
    appendUtf8(out, text, quoted);
    if (quoted) {
        out += '"';
    }
}

// Tenths as a decimal with one digit after the point: 875 is 87.5, 5 is 0.5.
void appendTenths(std::string& out, std::int64_t tenths) {
    out += std::to_string(tenths / 10);
    out += '.';
    out += static_cast<char>('0' + tenths % 10);
}

std::optional<std::int32_t> parseCount(std::string_view text) {
    std::int32_t value = 0;
    if (text.empty() || text.front() < '0' || text.front() > '9') {
        return std::nullopt;
    }
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// "87.5" or "87" as tenths.
std::optional<std::int32_t> parseTenths(std::string_view text) {
    const auto point = text.find('.');
    if (point == std::string_view::npos) {
        const auto whole = parseCount(text);
        if (!whole || *whole > 100'000'000) {
            return std::nullopt;
        }
        return *whole * 10;
    }
    const auto whole = parseCount(text.substr(0, point));
    const std::string_view fraction = text.substr(point + 1);
    if (!whole || *whole > 100'000'000 || fraction.size() != 1 || fraction[0] < '0' ||
        fraction[0] > '9') {
        return std::nullopt;
    }
    return *whole * 10 + (fraction[0] - '0');
}

std::int64_t nonBlankCount(std::u16string_view text) {
    std::int64_t count = 0;
    for (const char16_t c : text) {
        count += scoring::isBlank(c) ? 0 : 1;
    }
    return count;
}

// --- Records ---------------------------------------------------------------------------------

struct FieldSpan {
    std::size_t begin = 0;
    std::size_t end = 0;
    bool escaped = false;  // holds doubled quotes
};

enum class Scan {
    Record,    // a whole record, ending at `next`
    Damaged,   // not a record, whatever follows
    NeedMore,  // the text ends before the record could be decided (only when more is to come)
};

// One record from `p`, RFC 4180: fields separated by commas, a quoted field may hold commas,
// doubled quotes and line ends; the record ends at CRLF, LF or the end of the text (`atEnd`: the
// end of the file). Damaged: a quote inside an unquoted field, text after a closing quote, an
// unterminated quote, a lone CR, too many fields.
Scan scanRecord(std::string_view s, std::size_t p, bool atEnd, std::vector<FieldSpan>& fields,
                std::size_t& next) {
    fields.clear();
    const std::size_t n = s.size();
    const Scan endReached = atEnd ? Scan::Damaged : Scan::NeedMore;
    while (fields.size() < kColumns + 1) {
        FieldSpan field;
        if (p < n && s[p] == '"') {
            field.begin = ++p;
            for (;;) {
                const void* quote = std::memchr(s.data() + p, '"', n - p);
                if (quote == nullptr) {
                    return endReached;
                }
                const auto at =
                    static_cast<std::size_t>(static_cast<const char*>(quote) - s.data());
                if (at + 1 < n && s[at + 1] == '"') {
                    field.escaped = true;
                    p = at + 2;
                    continue;
                }
                field.end = at;  // at the end of the text, more may show it was doubled
                p = at + 1;
                break;
            }
        } else {
            field.begin = p;
            while (p < n && s[p] != ',' && s[p] != '\n' && s[p] != '\r') {
                if (s[p] == '"') {
                    return Scan::Damaged;
                }
                ++p;
            }
            field.end = p;
        }
        fields.push_back(field);
        if (p >= n) {
            if (!atEnd) {
                return Scan::NeedMore;
            }
            next = n;
            return Scan::Record;
        }
        if (s[p] == ',') {
            ++p;
        } else if (s[p] == '\n') {
            next = p + 1;
            return Scan::Record;
        } else if (s[p] == '\r' && p + 1 == n) {
            return endReached;
        } else if (s[p] == '\r' && s[p + 1] == '\n') {
            next = p + 2;
            return Scan::Record;
        } else {
            return Scan::Damaged;
        }
    }
    return Scan::Damaged;
}

class FieldReader {
  public:
    FieldReader(std::string_view s, const std::vector<FieldSpan>& fields)
        : m_text(s), m_fields(fields) {}

    std::string_view operator[](std::size_t k) {
        const FieldSpan& f = m_fields[k];
        const std::string_view raw = m_text.substr(f.begin, f.end - f.begin);
        if (!f.escaped) {
            return raw;
        }
        std::string& out = m_unescaped[k];
        out.clear();
        for (std::size_t i = 0; i < raw.size(); ++i) {
            out += raw[i];
            if (raw[i] == '"') {
                ++i;  // the second of a doubled quote
            }
        }
        return out;
    }

  private:
    std::string_view m_text;
    const std::vector<FieldSpan>& m_fields;
    std::array<std::string, kColumns> m_unescaped;
};

bool isHeader(FieldReader& fields, std::size_t count) {
    if (count != kColumns) {
        return false;
    }
    for (std::size_t k = 0; k < kColumns; ++k) {
        if (fields[k] != kColumnNames[k]) {
            return false;
        }
    }
    return true;
}

bool toRow(FieldReader& fields, HistoryRow& row) {
    row.date = std::string(fields[0]);
    const auto seconds = parseTimestamp(row.date);
    if (!seconds) {
        return false;
    }
    row.unixSeconds = *seconds;
    const std::string_view mode = fields[1];
    if (mode == "receive") {
        row.exercise.mode = TrainingMode::Receive;
    } else if (mode == "send") {
        row.exercise.mode = TrainingMode::Send;
    } else {
        return false;
    }
    std::array<std::optional<std::int32_t>, 8> numbers = {
        parseCount(fields[2]),  parseCount(fields[4]), parseCount(fields[5]),
        parseCount(fields[7]),  parseCount(fields[8]), parseCount(fields[9]),
        parseCount(fields[10]), parseCount(fields[11])};
    for (const auto& number : numbers) {
        if (!number) {
            return false;
        }
    }
    row.exercise.level = *numbers[0];
    row.exercise.cpm = *numbers[1];
    row.exercise.minutes = *numbers[2];
    row.sent = *numbers[3];
    row.right = *numbers[4];
    row.wrong = *numbers[5];
    row.missed = *numbers[6];
    row.extra = *numbers[7];
    const auto interpause = parseTenths(fields[6]);
    if (!interpause || *interpause % 5 != 0) {
        return false;
    }
    row.exercise.interpause = *interpause / 5;
    row.accuracyTenths.reset();
    if (!fields[12].empty()) {
        row.accuracyTenths = parseTenths(fields[12]);
        if (!row.accuracyTenths) {
            return false;
        }
    }
    return fromUtf8(fields[3], row.exercise.levelChars) && fromUtf8(fields[13], row.sentText) &&
           fromUtf8(fields[14], row.copyText) && isConsistentRow(row);
}

// A line that begins like a row: a date "dddd-dd-ddT", possibly quoted.
bool looksLikeRowStart(std::string_view s, std::size_t p) {
    if (p < s.size() && s[p] == '"') {
        ++p;
    }
    constexpr std::string_view shape = "dddd-dd-ddT";
    if (s.size() - p < shape.size()) {
        return false;
    }
    for (std::size_t k = 0; k < shape.size(); ++k) {
        const char c = s[p + k];
        if (shape[k] == 'd' ? (c < '0' || c > '9') : c != shape[k]) {
            return false;
        }
    }
    return true;
}

// --- Errors ----------------------------------------------------------------------------------

enum class Operation { Append, Read };

std::string pathText(const std::filesystem::path& file) {
    const std::u8string utf8 = file.u8string();
    return std::string(utf8.begin(), utf8.end());
}

std::string reasonFor(HistoryErrorCode code, Operation operation, bool folder) {
    switch (code) {
        case HistoryErrorCode::NotRegularFile:
            return folder ? "è una cartella, non un file" : "non è un file normale";
        case HistoryErrorCode::FolderMissing:
            return "la cartella non esiste e non si può creare";
        case HistoryErrorCode::PermissionDenied:
            return "permesso negato";
        case HistoryErrorCode::ReadOnly:
            return "il disco è in sola lettura";
        case HistoryErrorCode::DiskFull:
            return "il disco è pieno";
        case HistoryErrorCode::QuotaExceeded:
            return "lo spazio su disco concesso all'utente è esaurito";
        case HistoryErrorCode::FileTooLarge:
            return operation == Operation::Append
                       ? "il file ha raggiunto la dimensione massima consentita"
                       : "il file è troppo grande per essere letto";
        case HistoryErrorCode::Busy:
            return "un altro programma lo tiene bloccato";
        case HistoryErrorCode::InvalidRow:
            return "i conteggi dell'esercizio non corrispondono ai suoi testi";
        case HistoryErrorCode::Io:
            break;
    }
    return operation == Operation::Append ? "errore di scrittura sul disco"
                                          : "errore di lettura dal disco";
}

HistoryError makeError(HistoryErrorCode code, int systemError, const std::filesystem::path& file,
                       Operation operation, bool folder = false) {
    const std::string lead = operation == Operation::Append
                                 ? "Impossibile salvare l'esercizio nello storico "
                                 : "Impossibile leggere lo storico ";
    return {code, systemError,
            lead + pathText(file) + ": " + reasonFor(code, operation, folder) + "."};
}

HistoryErrorCode codeForErrno(int error) {
    switch (error) {
        case ENOSPC:
            return HistoryErrorCode::DiskFull;
#if defined(EDQUOT)
        case EDQUOT:
            return HistoryErrorCode::QuotaExceeded;
#endif
        case EFBIG:
            return HistoryErrorCode::FileTooLarge;
        case EROFS:
            return HistoryErrorCode::ReadOnly;
        case EACCES:
        case EPERM:
            return HistoryErrorCode::PermissionDenied;
        case EISDIR:
        case ENXIO:
        case ENODEV:
            return HistoryErrorCode::NotRegularFile;
        case ENOENT:
        case ENOTDIR:
            return HistoryErrorCode::FolderMissing;
        default:
            return HistoryErrorCode::Io;
    }
}

HistoryError errnoError(int error, const std::filesystem::path& file, Operation operation) {
    return makeError(codeForErrno(error), error, file, operation, error == EISDIR);
}

}  // namespace

// --- Rows ------------------------------------------------------------------------------------

std::string localTimestamp(std::time_t when) {
    std::tm local{};
#if defined(_WIN32)
    localtime_s(&local, &when);
#else
    localtime_r(&when, &local);
#endif
    using namespace std::chrono;
    const sys_days date = year{local.tm_year + 1900} /
                          month{static_cast<unsigned>(local.tm_mon + 1)} /
                          day{static_cast<unsigned>(local.tm_mday)};
    const std::int64_t localSeconds = std::int64_t{date.time_since_epoch().count()} * 86400 +
                                      local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    const std::int64_t offset = localSeconds - static_cast<std::int64_t>(when);
    const std::int64_t magnitude = offset < 0 ? -offset : offset;
    std::array<char, 96> text{};
    std::snprintf(text.data(), text.size(), "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d",
                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec, offset < 0 ? '-' : '+',
                  static_cast<int>(magnitude / 3600), static_cast<int>(magnitude % 3600 / 60));
    return text.data();
}

std::optional<std::int64_t> parseTimestamp(std::string_view text) {
    const auto digits = [&](std::size_t at, std::size_t count) -> std::optional<int> {
        int value = 0;
        for (std::size_t k = at; k < at + count; ++k) {
            if (text[k] < '0' || text[k] > '9') {
                return std::nullopt;
            }
            value = value * 10 + (text[k] - '0');
        }
        return value;
    };
    if (text.size() != 20 && text.size() != 25) {
        return std::nullopt;
    }
    if (text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':') {
        return std::nullopt;
    }
    const auto y = digits(0, 4);
    const auto mo = digits(5, 2);
    const auto d = digits(8, 2);
    const auto h = digits(11, 2);
    const auto mi = digits(14, 2);
    const auto s = digits(17, 2);
    if (!y || !mo || !d || !h || !mi || !s || *h > 23 || *mi > 59 || *s > 59) {
        return std::nullopt;
    }
    using namespace std::chrono;
    const year_month_day date{year{*y}, month{static_cast<unsigned>(*mo)},
                              day{static_cast<unsigned>(*d)}};
    if (!date.ok()) {
        return std::nullopt;
    }
    std::int64_t offset = 0;
    if (text.size() == 20) {
        if (text[19] != 'Z') {
            return std::nullopt;
        }
    } else {
        const auto oh = digits(20, 2);
        const auto om = digits(23, 2);
        if ((text[19] != '+' && text[19] != '-') || text[22] != ':' || !oh || !om || *oh > 23 ||
            *om > 59) {
            return std::nullopt;
        }
        offset = (*oh * 3600 + *om * 60) * (text[19] == '-' ? -1 : 1);
    }
    return std::int64_t{sys_days{date}.time_since_epoch().count()} * 86400 + *h * 3600 + *mi * 60 +
           *s - offset;
}

HistoryRow makeHistoryRow(const HistoryExercise& exercise, std::u16string sentText,
                          std::u16string copyText, std::time_t when) {
    const scoring::CopyScore score = scoring::scoreCopy(sentText, copyText);
    HistoryRow row;
    row.date = localTimestamp(when);
    row.unixSeconds = static_cast<std::int64_t>(when);
    row.exercise = exercise;
    row.sent = score.counts.sent;
    row.right = score.counts.right;
    row.wrong = score.counts.wrong;
    row.missed = score.counts.missed;
    row.extra = score.counts.extra;
    row.accuracyTenths = score.accuracyTenths;
    row.sentText = std::move(sentText);
    row.copyText = std::move(copyText);
    return row;
}

bool isConsistentRow(const HistoryRow& row) {
    const auto seconds = parseTimestamp(row.date);
    if (!seconds || *seconds != row.unixSeconds) {
        return false;
    }
    const HistoryExercise& e = row.exercise;
    if (e.level < 0 || e.cpm < 0 || e.minutes < 0 || e.interpause < 0 || row.sent < 0 ||
        row.right < 0 || row.wrong < 0 || row.missed < 0 || row.extra < 0) {
        return false;
    }
    const std::int64_t right = row.right;
    const std::int64_t wrong = row.wrong;
    return row.sent == nonBlankCount(row.sentText) && right + wrong + row.missed == row.sent &&
           right + wrong + row.extra == nonBlankCount(row.copyText) &&
           row.accuracyTenths == scoring::accuracyTenths(row.right, row.sent);
}

std::string formatHistoryRecord(const HistoryRow& row) {
    std::string out;
    out.reserve(128 + row.exercise.levelChars.size() + row.sentText.size() + row.copyText.size());
    appendField(out, std::string_view(row.date));
    out += row.exercise.mode == TrainingMode::Send ? ",send," : ",receive,";
    out += std::to_string(row.exercise.level);
    out += ',';
    appendField(out, std::u16string_view(row.exercise.levelChars));
    out += ',';
    out += std::to_string(row.exercise.cpm);
    out += ',';
    out += std::to_string(row.exercise.minutes);
    out += ',';
    appendTenths(out, std::int64_t{row.exercise.interpause} * 5);
    for (const std::int32_t count : {row.sent, row.right, row.wrong, row.missed, row.extra}) {
        out += ',';
        out += std::to_string(count);
    }
    out += ',';
    if (row.accuracyTenths) {
        appendTenths(out, *row.accuracyTenths);
    }
    out += ',';
    appendField(out, std::u16string_view(row.sentText));
    out += ',';
    appendField(out, std::u16string_view(row.copyText));
    out += "\r\n";
    return out;
}

namespace {

// Reads the rows of a text that may come in pieces: each call decides what it can and returns how
// much of `text` it used; the rest is to be given again, with more after it.
class HistoryParser {
  public:
    std::size_t feed(std::string_view text, bool atEnd);
    ParsedHistory& parsed() { return m_parsed; }

  private:
    ParsedHistory m_parsed;
    std::vector<FieldSpan> m_spans;
    bool m_inDamage = false;
};

std::size_t HistoryParser::feed(std::string_view s, bool atEnd) {
    std::size_t p = 0;
    while (p < s.size()) {
        std::size_t next = p;
        const Scan scan = scanRecord(s, p, atEnd, m_spans, next);
        if (scan == Scan::NeedMore) {
            return p;
        }
        if (scan == Scan::Record) {
            FieldReader fields(s, m_spans);
            if (m_spans.size() == 1 && m_spans[0].begin == m_spans[0].end && s[p] != '"') {
                p = next;  // an empty line
                continue;
            }
            if (isHeader(fields, m_spans.size())) {
                m_inDamage = false;
                p = next;
                continue;
            }
            HistoryRow row;
            if (m_spans.size() == kColumns && toRow(fields, row)) {
                m_parsed.rows.push_back(std::move(row));
                m_inDamage = false;
                p = next;
                continue;
            }
        }
        // Damaged: go on at the next line, which may be the start of a good row appended after
        // this one was torn (a torn quoted field can run on into it). A line that begins like a
        // row counts as a damaged row of its own; the other lines belong to the damaged row
        // before them.
        std::size_t lineEnd = p;
        while (lineEnd < s.size() && s[lineEnd] != '\n' && s[lineEnd] != '\r') {
            ++lineEnd;
        }
        if (lineEnd == s.size() && !atEnd) {
            return p;
        }
        if (!m_inDamage || looksLikeRowStart(s, p)) {
            ++m_parsed.skipped;
        }
        m_inDamage = true;
        // Past the line end: LF, the CR of CRLF (its LF then reads as an empty line), or CR.
        p = std::min(lineEnd + 1, s.size());
    }
    return p;
}

bool startsWithByteOrderMark(std::string_view text) {
    return text.substr(0, 3) == "\xEF\xBB\xBF";
}

}  // namespace

ParsedHistory parseHistory(std::string_view bytes) {
    HistoryParser parser;
    parser.feed(bytes.substr(startsWithByteOrderMark(bytes) ? 3 : 0), true);
    return std::move(parser.parsed());
}

namespace {

// Reads up to `size` bytes through `readSome(buffer, count)` (the bytes read, 0 at the end,
// negative on an error with errno set) in pieces of `pieceBytes` or more, parsing each as it
// comes: only one piece and the row that runs across its end are held at a time.
template <class ReadSome>
bool parseInPieces(ReadSome&& readSome, std::uintmax_t size, std::size_t pieceBytes,
                   ParsedHistory& parsed, int& error) {
    HistoryParser parser;
    std::vector<char> buffer(std::max<std::size_t>(pieceBytes, 4));
    std::size_t filled = 0;
    std::uintmax_t remaining = size;
    bool atEnd = false;
    bool first = true;
    for (;;) {
        while (!atEnd && filled < buffer.size()) {
            const auto want = static_cast<std::size_t>(
                std::min<std::uintmax_t>(buffer.size() - filled, remaining));
            const long long got = want == 0 ? 0 : readSome(buffer.data() + filled, want);
            if (got < 0) {
                error = errno;
                return false;
            }
            if (got == 0) {
                atEnd = true;  // the end, or a file that shrank meanwhile
                break;
            }
            filled += static_cast<std::size_t>(got);
            remaining -= static_cast<std::uintmax_t>(got);
        }
        const std::string_view window(buffer.data(), filled);
        std::size_t used = 0;
        if (first) {
            first = false;
            used = startsWithByteOrderMark(window) ? 3 : 0;
        }
        used += parser.feed(window.substr(used), atEnd);
        if (atEnd) {
            break;
        }
        if (used == 0 && filled == buffer.size()) {
            buffer.resize(buffer.size() * 2);  // one row longer than the buffer
        } else {
            std::memmove(buffer.data(), buffer.data() + used, filled - used);
            filled -= used;
        }
    }
    parsed = std::move(parser.parsed());
    return true;
}

}  // namespace

std::filesystem::path historyFileFor(const std::filesystem::path& settingsFile) {
    return settingsFile.parent_path() / kHistoryFileName;
}

// --- The file --------------------------------------------------------------------------------

#if !defined(_WIN32)

namespace {

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }

  private:
    int m_fd;
};

// Waits up to a second for another appender (a second copy of the program) to finish.
bool lockForAppend(int fd) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            return true;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            return true;  // no locks on this file system: append without one
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Writes all of `bytes`; false with errno set when the system refuses part of it.
bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (written == 0) {
            errno = EIO;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

void syncFolder(const std::filesystem::path& file) {
    const std::filesystem::path folder =
        file.parent_path().empty() ? std::filesystem::path(".") : file.parent_path();
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

std::optional<HistoryError> appendHistoryRow(const std::filesystem::path& file,
                                             const HistoryRow& row) {
    if (!isConsistentRow(row)) {
        return makeError(HistoryErrorCode::InvalidRow, 0, file, Operation::Append);
    }
    if (!ensureParentDirectory(file)) {
        return makeError(HistoryErrorCode::FolderMissing, 0, file, Operation::Append);
    }
    // Non-blocking, so that a pipe or a device in the file's place cannot hold the program.
    const FileDescriptor fd(
        ::open(file.c_str(), O_RDWR | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666));
    if (fd.get() < 0) {
        return errnoError(errno, file, Operation::Append);
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) {
        return errnoError(errno, file, Operation::Append);
    }
    if (!S_ISREG(status.st_mode)) {
        return makeError(HistoryErrorCode::NotRegularFile, 0, file, Operation::Append,
                         S_ISDIR(status.st_mode));
    }
    if (!lockForAppend(fd.get())) {
        return makeError(HistoryErrorCode::Busy, EWOULDBLOCK, file, Operation::Append);
    }
    if (::fstat(fd.get(), &status) != 0) {
        return errnoError(errno, file, Operation::Append);
    }
    const off_t before = status.st_size;

    std::string bytes;
    if (before == 0) {
        bytes = kHistoryHeader;
    } else {
        char last = 0;
        if (::pread(fd.get(), &last, 1, before - 1) != 1) {
            return errnoError(errno, file, Operation::Append);
        }
        if (last != '\n') {
            bytes = "\r\n";  // the last row was torn: begin on a line of our own
        }
    }
    bytes += formatHistoryRecord(row);

    if (!writeAll(fd.get(), bytes) || ::fsync(fd.get()) != 0) {
        const int error = errno;
        // Cut any part of the row away, so that the file ends as it did.
        if (::ftruncate(fd.get(), before) == 0) {
            ::fsync(fd.get());
        }
        return errnoError(error, file, Operation::Append);
    }
    if (before == 0) {
        syncFolder(file);  // a new file: make its name durable too
    }
    return std::nullopt;
}

HistoryReadResult readHistory(const std::filesystem::path& file, std::uintmax_t maxBytes,
                              std::size_t pieceBytes) {
    HistoryReadResult result;
    const FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno != ENOENT) {
            result.error = errnoError(errno, file, Operation::Read);
        }
        return result;
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) {
        result.error = errnoError(errno, file, Operation::Read);
        return result;
    }
    if (!S_ISREG(status.st_mode)) {
        result.error = makeError(HistoryErrorCode::NotRegularFile, 0, file, Operation::Read,
                                 S_ISDIR(status.st_mode));
        return result;
    }
    if (static_cast<std::uintmax_t>(status.st_size) > maxBytes) {
        result.error = makeError(HistoryErrorCode::FileTooLarge, 0, file, Operation::Read);
        return result;
    }
    ParsedHistory parsed;
    int error = 0;
    const auto readSome = [&](char* into, std::size_t count) -> long long {
        for (;;) {
            const ssize_t got = ::read(fd.get(), into, count);
            if (got >= 0 || errno != EINTR) {
                return got;
            }
        }
    };
    if (!parseInPieces(readSome, static_cast<std::uintmax_t>(status.st_size), pieceBytes, parsed,
                       error)) {
        result.error = errnoError(error, file, Operation::Read);
        return result;
    }
    result.rows = std::move(parsed.rows);
    result.skipped = parsed.skipped;
    return result;
}

#else  // Windows: the C runtime's files; the same checks, a simpler lock-free append.

std::optional<HistoryError> appendHistoryRow(const std::filesystem::path& file,
                                             const HistoryRow& row) {
    if (!isConsistentRow(row)) {
        return makeError(HistoryErrorCode::InvalidRow, 0, file, Operation::Append);
    }
    if (!ensureParentDirectory(file)) {
        return makeError(HistoryErrorCode::FolderMissing, 0, file, Operation::Append);
    }
    std::error_code ignored;
    const auto status = std::filesystem::status(file, ignored);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        return makeError(HistoryErrorCode::NotRegularFile, 0, file, Operation::Append,
                         std::filesystem::is_directory(status));
    }
    std::FILE* out = _wfopen(file.c_str(), L"a+b");
    if (out == nullptr) {
        return errnoError(errno, file, Operation::Append);
    }
    _fseeki64(out, 0, SEEK_END);
    const __int64 before = _ftelli64(out);
    std::string bytes;
    if (before <= 0) {
        bytes = kHistoryHeader;
    } else {
        _fseeki64(out, before - 1, SEEK_SET);
        if (std::fgetc(out) != '\n') {
            bytes = "\r\n";
        }
        _fseeki64(out, 0, SEEK_END);
    }
    bytes += formatHistoryRecord(row);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size() &&
                         std::fflush(out) == 0 && _commit(_fileno(out)) == 0;
    const int error = errno;
    if (!written) {
        _chsize_s(_fileno(out), before < 0 ? 0 : before);
    }
    std::fclose(out);
    if (!written) {
        return errnoError(error, file, Operation::Append);
    }
    return std::nullopt;
}

HistoryReadResult readHistory(const std::filesystem::path& file, std::uintmax_t maxBytes,
                              std::size_t pieceBytes) {
    HistoryReadResult result;
    std::error_code error;
    const auto status = std::filesystem::status(file, error);
    if (!std::filesystem::exists(status)) {
        return result;
    }
    if (!std::filesystem::is_regular_file(status)) {
        result.error = makeError(HistoryErrorCode::NotRegularFile, 0, file, Operation::Read,
                                 std::filesystem::is_directory(status));
        return result;
    }
    const auto size = std::filesystem::file_size(file, error);
    if (error || size > maxBytes) {
        result.error = makeError(error ? HistoryErrorCode::Io : HistoryErrorCode::FileTooLarge, 0,
                                 file, Operation::Read);
        return result;
    }
    std::ifstream in(file, std::ios::binary);
    const auto readSome = [&](char* into, std::size_t count) -> long long {
        in.read(into, static_cast<std::streamsize>(count));
        if (in.bad()) {
            errno = EIO;
            return -1;
        }
        return static_cast<long long>(in.gcount());
    };
    ParsedHistory parsed;
    int readError = 0;
    if (!in || !parseInPieces(readSome, size, pieceBytes, parsed, readError)) {
        result.error = makeError(HistoryErrorCode::Io, readError, file, Operation::Read);
        return result;
    }
    result.rows = std::move(parsed.rows);
    result.skipped = parsed.skipped;
    return result;
}

#endif

}  // namespace dittix::persistence
