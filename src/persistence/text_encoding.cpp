// Settings file encodings.
#include "persistence/text_encoding.h"

#include <array>
#include <cstdint>

namespace dittix::persistence {

namespace {

// Windows-1252 bytes 0x80-0x9F; the five unassigned ones map to the C1 control of the same
// value, so that any byte sequence survives a decode and encode unchanged.
constexpr std::array<char16_t, 32> kHighControls{
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Decodes one UTF-8 sequence at `i`; returns U+FFFD and advances one byte on an invalid one.
char32_t nextCodePoint(std::string_view s, std::size_t& i, bool& valid) {
    const auto byte = [&s](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    valid = true;
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    std::size_t length = 0;
    char32_t c = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, c = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, c = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, c = lead & 0x07, minimum = 0x10000;
    }
    if (length == 0 || i + length > s.size()) {
        valid = false;
        ++i;
        return 0xFFFD;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            valid = false;
            ++i;
            return 0xFFFD;
        }
        c = (c << 6) | (byte(i + k) & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        valid = false;
        ++i;
        return 0xFFFD;
    }
    i += length;
    return c;
}

std::string decodeUtf16(std::string_view bytes, bool bigEndian) {
    std::string out;
    out.reserve(bytes.size());
    const auto unit = [&](std::size_t k) -> char16_t {
        const auto a = static_cast<unsigned char>(bytes[k]);
        const auto b = static_cast<unsigned char>(bytes[k + 1]);
        return static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
    };
    for (std::size_t k = 0; k + 1 < bytes.size(); k += 2) {
        const char16_t u = unit(k);
        if (u >= 0xD800 && u <= 0xDBFF && k + 3 < bytes.size()) {
            const char16_t low = unit(k + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                appendUtf8(out, 0x10000 + ((char32_t{u} - 0xD800) << 10) + (low - 0xDC00));
                k += 2;
                continue;
            }
        }
        appendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? char32_t{0xFFFD} : char32_t{u});
    }
    return out;
}

void appendUtf16(std::string& out, char16_t u, bool bigEndian) {
    const auto high = static_cast<char>(u >> 8);
    const auto low = static_cast<char>(u & 0xFF);
    out += bigEndian ? high : low;
    out += bigEndian ? low : high;
}

}  // namespace

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

bool isValidUtf8(std::string_view bytes) {
    bool valid = true;
    for (std::size_t i = 0; i < bytes.size() && valid;) {
        nextCodePoint(bytes, i, valid);
    }
    return valid;
}

DecodedText decodeFileBytes(std::string_view bytes) {
    DecodedText text;
    if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFF\xFE") {
        text.encoding = FileEncoding::Utf16LittleEndian;
        text.byteOrderMark = true;
        text.utf8 = decodeUtf16(bytes.substr(2), false);
    } else if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFE\xFF") {
        text.encoding = FileEncoding::Utf16BigEndian;
        text.byteOrderMark = true;
        text.utf8 = decodeUtf16(bytes.substr(2), true);
    } else if (isValidUtf8(bytes)) {
        text.byteOrderMark = bytes.substr(0, 3) == "\xEF\xBB\xBF";
        text.utf8 = std::string(text.byteOrderMark ? bytes.substr(3) : bytes);
    } else {
        text.encoding = FileEncoding::Windows1252;
        text.utf8.reserve(bytes.size() + bytes.size() / 4);
        for (const char b : bytes) {
            const auto byte = static_cast<unsigned char>(b);
            appendUtf8(text.utf8, byte >= 0x80 && byte < 0xA0 ? kHighControls[byte - 0x80] : byte);
        }
    }
    return text;
}

std::string encodeFileText(std::string_view utf8, FileEncoding encoding, bool byteOrderMark) {
    std::string out;
    const bool bigEndian = encoding == FileEncoding::Utf16BigEndian;
    switch (encoding) {
        case FileEncoding::Utf8:
            out = byteOrderMark ? "\xEF\xBB\xBF" : "";
            out += utf8;
            return out;
        case FileEncoding::Utf16LittleEndian:
        case FileEncoding::Utf16BigEndian:
            appendUtf16(out, 0xFEFF, bigEndian);
            for (std::size_t i = 0; i < utf8.size();) {
                bool valid = true;
                const char32_t c = nextCodePoint(utf8, i, valid);
                if (c >= 0x10000) {
                    appendUtf16(out, static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)),
                                bigEndian);
                    appendUtf16(out, static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)),
                                bigEndian);
                } else {
                    appendUtf16(out, static_cast<char16_t>(c), bigEndian);
                }
            }
            return out;
        case FileEncoding::Windows1252:
            for (std::size_t i = 0; i < utf8.size();) {
                bool valid = true;
                const char32_t c = nextCodePoint(utf8, i, valid);
                char byte = '?';
                if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
                    byte = static_cast<char>(c);
                } else {
                    for (std::size_t k = 0; k < kHighControls.size(); ++k) {
                        if (kHighControls[k] == c) {
                            byte = static_cast<char>(0x80 + k);
                        }
                    }
                }
                out += byte;
            }
            return out;
    }
    return out;
}

std::u16string utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        bool valid = true;
        const char32_t c = nextCodePoint(utf8, i, valid);
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

}  // namespace dittix::persistence
