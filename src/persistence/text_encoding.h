// The settings file's encodings: UTF-8 (with or without a byte order mark), UTF-16 with a byte
// order mark, and Windows-1252 for any other file that is not valid UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace dittix::persistence {

enum class FileEncoding { Utf8, Utf16LittleEndian, Utf16BigEndian, Windows1252 };

struct DecodedText {
    FileEncoding encoding = FileEncoding::Utf8;
    std::string utf8;  // the file's text as UTF-8, without a byte order mark
    bool byteOrderMark = false;
};

bool isValidUtf8(std::string_view bytes);

DecodedText decodeFileBytes(std::string_view bytes);

// Back to the bytes of `encoding`, with the byte order mark when `byteOrderMark` is set (always
// for UTF-16). Characters that Windows-1252 cannot hold become '?'.
std::string encodeFileText(std::string_view utf8, FileEncoding encoding, bool byteOrderMark);

// Appends one code point as UTF-8.
void appendUtf8(std::string& out, char32_t c);

// UTF-8 to UTF-16; an invalid sequence becomes U+FFFD.
std::u16string utf8ToUtf16(std::string_view utf8);

}  // namespace dittix::persistence
