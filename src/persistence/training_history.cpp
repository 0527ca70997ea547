// The training history's text: the CSV of its rows, the dates, and the reading that skips
// damaged rows and keeps the rest.
#include "persistence/training_history.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "persistence/history_parser.h"
#include "persistence/text_encoding.h"

namespace dittix::persistence {

namespace {

constexpr std::size_t kColumns = 15;
constexpr std::array<std::string_view, kColumns> kColumnNames = {
    "date",     "mode",  "level", "level_chars", "cpm",   "minutes",          "interpause",
    "sent",     "right", "wrong", "missed",      "extra", "accuracy_percent", "sent_text",
    "copy_text"};

// --- UTF-8 -----------------------------------------------------------------------------------

// Appends `text` as UTF-8; a lone surrogate (which no typed text should hold) becomes U+FFFD.
// With `doubleQuotes`, each quote is written twice.
void appendFieldText(std::string& out, std::u16string_view text, bool doubleQuotes) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        if (u < 0x80) {
            out += static_cast<char>(u);
            if (u == u'"' && doubleQuotes) {
                out += '"';
            }
        } else if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                   text[i + 1] <= 0xDFFF) {
            appendUtf8(out, 0x10000 + ((char32_t{u} - 0xD800) << 10) + (text[i + 1] - 0xDC00u));
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            appendUtf8(out, char32_t{0xFFFD});
        } else {
            appendUtf8(out, char32_t{u});
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
    appendFieldText(out, text, quoted);
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

ParsedHistory parseHistory(std::string_view bytes) {
    HistoryParser parser;
    parser.feed(bytes.substr(startsWithByteOrderMark(bytes) ? 3 : 0), true);
    return parser.takeParsed();
}

std::filesystem::path historyFileFor(const std::filesystem::path& settingsFile) {
    return settingsFile.parent_path() / kHistoryFileName;
}

}  // namespace dittix::persistence
