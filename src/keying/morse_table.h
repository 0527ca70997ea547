// The one Morse alphabet of the program: 68 entries whose index order is part of the interface
// (0-25 letters, 26-35 digits, 36-46 training punctuation). Codes use "p" for a dot, "l" for a
// dash.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace dittix::keying {

struct MorseEntry {
    std::u16string_view code;
    std::u16string_view character;
};

inline constexpr std::size_t kMorseEntryCount = 68;
inline constexpr std::size_t kFirstDigitEntry = 26;
inline constexpr std::size_t kTrainingEntryCount = 47;  // entries 0-46 get a training tone
inline constexpr std::size_t kLongestCode = 7;

// The text written for a code that no entry has.
inline constexpr std::u16string_view kUnknownCode = u"ER";

inline constexpr std::array<MorseEntry, kMorseEntryCount> MorseTable{{
    {u"pl", u"a"},         {u"lppp", u"b"},        {u"lplp", u"c"},       {u"lpp", u"d"},
    {u"p", u"e"},          {u"pplp", u"f"},        {u"llp", u"g"},        {u"pppp", u"h"},
    {u"pp", u"i"},         {u"plll", u"j"},        {u"lpl", u"k"},        {u"plpp", u"l"},
    {u"ll", u"m"},         {u"lp", u"n"},          {u"lll", u"o"},        {u"pllp", u"p"},
    {u"llpl", u"q"},       {u"plp", u"r"},         {u"ppp", u"s"},        {u"l", u"t"},
    {u"ppl", u"u"},        {u"pppl", u"v"},        {u"pll", u"w"},        {u"lppl", u"x"},
    {u"lpll", u"y"},       {u"llpp", u"z"},        {u"lllll", u"0"},      {u"pllll", u"1"},
    {u"pplll", u"2"},      {u"pppll", u"3"},       {u"ppppl", u"4"},      {u"ppppp", u"5"},
    {u"lpppp", u"6"},      {u"llppp", u"7"},       {u"lllpp", u"8"},      {u"llllp", u"9"},
    {u"ppllpp", u"?"},     {u"lpppl", u"="},       {u"lppppl", u"-"},     {u"lpplp", u"/"},
    {u"plplpl", u"."},     {u"llppll", u","},      {u"lplplp", u";"},     {u"lllppp", u":"},
    {u"lpllp", u"("},      {u"lpllpl", u")"},      {u"pllllp", u"'"},     {u"ppllpl", u"_"},
    {u"plppp", u"&"},      {u"lplpll", u"!"},      {u"ppplppl", u"$"},    {u"plplp", u"+"},
    {u"plppll", u"''"},    {u"pllplp", u"@"},      {u"pllpl", u"\u00e0"}, {u"plpl", u"\u00e4"},
    {u"plppl", u"\u00e8"}, {u"pplpp", u"\u00e9"},  {u"llpll", u"\u00f1"}, {u"lllp", u"\u00f6"},
    {u"ppll", u"\u00fc"},  {u"plplpp", u"\u00f8"}, {u"plplp", u"AR"},     {u"ppplpl", u"SK"},
    {u"lppplpl", u"BK"},   {u"plppp", u"AS"},      {u"ppplp", u"VE"},     {u"lplpl", u"KA"},
}};

// The character of the first entry, in index order, whose code equals `code` exactly
// (case-sensitive); "ER" when none does.
std::u16string_view lookupCode(std::u16string_view code);

}  // namespace dittix::keying
