// INI line grammar.
#include "persistence/ini_text.h"

#include <algorithm>

namespace dittix::persistence {

namespace {

std::string_view trimBlanks(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::vector<IniLine> splitIniLines(std::string_view text) {
    std::vector<IniLine> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t stop = std::min(text.find_first_of("\r\n", pos), text.size());
        IniLine line{pos, stop - pos, stop};
        if (stop < text.size()) {
            line.end = text.compare(stop, 2, "\r\n") == 0 ? stop + 2 : stop + 1;
        }
        lines.push_back(line);
        pos = line.end;
    }
    return lines;
}

ParsedIniLine parseIniLine(std::string_view line) {
    const std::string_view t = trimBlanks(line);
    if (t.empty() || t.front() == ';' || t.front() == '#') {
        return {};
    }
    if (t.front() == '[') {
        const auto close = t.find(']');
        if (close == std::string_view::npos) {
            return {IniLineKind::BrokenSection, {}, {}};
        }
        return {IniLineKind::Section, trimBlanks(t.substr(1, close - 1)), {}};
    }
    const auto equals = t.find('=');
    if (equals == std::string_view::npos) {
        return {};
    }
    const std::string_view key = trimBlanks(t.substr(0, equals));
    if (key.empty()) {
        return {};
    }
    return {IniLineKind::Key, key, trimBlanks(t.substr(equals + 1))};
}

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return lowerAscii(x) == lowerAscii(y);
           });
}

namespace {

std::string lowerCase(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), lowerAscii);
    return out;
}

}  // namespace

IniSection::IniSection(std::string_view text, std::string_view section) {
    bool inSection = false;
    for (const IniLine& line : splitIniLines(text)) {
        const ParsedIniLine parsed = parseIniLine(text.substr(line.begin, line.content));
        if (parsed.kind == IniLineKind::Section) {
            inSection = equalsIgnoringAsciiCase(parsed.name, section);
        } else if (parsed.kind == IniLineKind::BrokenSection) {
            inSection = false;
        } else if (parsed.kind == IniLineKind::Key && inSection) {
            m_values.try_emplace(lowerCase(parsed.name), parsed.value);
        }
    }
}

std::optional<std::string_view> IniSection::find(std::string_view key) const {
    const auto it = m_values.find(lowerCase(key));
    if (it == m_values.end()) {
        return std::nullopt;
    }
    return it->second;
}

}  // namespace dittix::persistence
