// The INI grammar shared by the settings reader and writer, so that both always agree on which
// line holds which key: "[name]" section lines, "key=value" lines, ';' and '#' comments.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace dittix::persistence {

struct IniLine {
    std::size_t begin = 0;    // offset of the line's first byte
    std::size_t content = 0;  // length without the line ending
    std::size_t end = 0;      // offset after the line ending
};

// Lines end at "\r\n", "\n" or a lone "\r".
std::vector<IniLine> splitIniLines(std::string_view text);

enum class IniLineKind { Other, Section, BrokenSection, Key };

struct ParsedIniLine {
    IniLineKind kind = IniLineKind::Other;
    std::string_view name;   // section name or key, without surrounding blanks
    std::string_view value;  // for a key, without surrounding blanks
};

// A "[" line without its "]" is a broken section: the keys after it belong to no section.
// A line without "=" and a line whose key is empty are neither keys nor sections.
ParsedIniLine parseIniLine(std::string_view line);

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b);

// The keys of every section named `section` (in any letter case); for a key written more than
// once, the first line counts. Keys are matched in any letter case.
class IniSection {
  public:
    IniSection(std::string_view text, std::string_view section);

    std::optional<std::string_view> find(std::string_view key) const;

  private:
    std::unordered_map<std::string, std::string_view> m_values;  // by lower-case key
};

}  // namespace dittix::persistence
