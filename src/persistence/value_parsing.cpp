// Settings value parsing.
#include "persistence/value_parsing.h"

#include <charconv>
#include <locale>
#include <stdexcept>

namespace dittix::persistence {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::optional<std::int32_t> parseHex(std::string_view digits) {
    if (digits.empty() || digits.size() > 8) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
    if (error != std::errc{} || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

}  // namespace

std::optional<std::int32_t> parseInteger(std::string_view text) {
    if (text.size() >= 3 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        return parseHex(text.substr(2));
    }
    if (!text.empty() && text[0] == '$') {
        return parseHex(text.substr(1));
    }
    std::string_view digits = text;
    if (!digits.empty() && digits[0] == '+') {
        digits.remove_prefix(1);  // from_chars takes a '-' but not a '+'
        if (!digits.empty() && digits[0] == '-') {
            return std::nullopt;
        }
    }
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc{} || end != digits.data() + digits.size() || digits.empty()) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> parseFloat(std::string_view text, char decimalSeparator) {
    // Check the grammar first, then hand a '.'-separated copy to the locale-free converter.
    std::string normal;
    normal.reserve(text.size());
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') {
            normal += '-';
        }
        ++i;
    }
    bool digits = false;
    while (i < text.size() && isDigit(text[i])) {
        normal += text[i++];
        digits = true;
    }
    if (i < text.size() && text[i] == decimalSeparator) {
        normal += '.';
        ++i;
        while (i < text.size() && isDigit(text[i])) {
            normal += text[i++];
            digits = true;
        }
    }
    if (!digits) {
        return std::nullopt;
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        normal += 'e';
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
            normal += text[i++];
        }
        bool exponentDigits = false;
        while (i < text.size() && isDigit(text[i])) {
            normal += text[i++];
            exponentDigits = true;
        }
        if (!exponentDigits) {
            return std::nullopt;
        }
    }
    if (i != text.size()) {
        return std::nullopt;
    }
    double value = 0.0;
    const auto [end, error] = std::from_chars(normal.data(), normal.data() + normal.size(), value);
    if (error != std::errc{} || end != normal.data() + normal.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<char> decimalSeparatorOf(const char* localeName) {
    try {
        const std::locale locale(localeName);
        return std::use_facet<std::numpunct<char>>(locale).decimal_point();
    } catch (const std::runtime_error&) {
        return std::nullopt;
    }
}

char userDecimalSeparator() {
    return decimalSeparatorOf("").value_or('.');
}

std::u16string upperCaseAsciiLetters(std::u16string text) {
    for (char16_t& c : text) {
        if (c >= u'a' && c <= u'z') {
            c = static_cast<char16_t>(c - u'a' + u'A');
        }
    }
    return text;
}

}  // namespace dittix::persistence
