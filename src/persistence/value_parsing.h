// How the settings file's values are read: integers (decimal, "0x" or "$" hexadecimal), floats
// in the user's locale format, flags and level texts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dittix::persistence {

// Decimal, or hexadecimal after "0x"/"0X" (text of three or more characters) or "$". Hexadecimal
// text is a 32-bit pattern ("$FFFFFFFF" is -1). Anything else, or a value outside 32 bits, is
// nullopt.
std::optional<std::int32_t> parseInteger(std::string_view text);

// A decimal number written with `decimalSeparator`: optional sign, digits with at most one
// separator, optional exponent. No thousands separators, no "nan" or "inf"; a result that does
// not fit a double is nullopt.
std::optional<double> parseFloat(std::string_view text, char decimalSeparator);

// The decimal separator of the user's numeric locale (the environment's LC_NUMERIC / LANG);
// '.' when the locale cannot be determined.
char userDecimalSeparator();

// The decimal separator of a named locale such as "it_IT.UTF-8"; nullopt when the system does
// not have that locale.
std::optional<char> decimalSeparatorOf(const char* localeName);

// Upper-cases the letters a to z only; every other character (é included) stays as written.
std::u16string upperCaseAsciiLetters(std::u16string text);

}  // namespace dittix::persistence
