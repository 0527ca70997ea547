// Scoring of a copy against the text that was sent: right characters, characters taken for
// another, missed and extra ones, from the longest common subsequence of the two texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace dittix::scoring {

// Blanks separate the groups and the words; they are never scored: space, tab, line ends (CR,
// LF) and the no-break space.
constexpr bool isBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\u00A0';
}

// The form in which two characters are compared: a-z count as A-Z, and Ø or ø (the grid's
// glyph for zero) as the digit 0. Every other character stands for itself.
constexpr char16_t foldForComparison(char16_t c) {
    if (c >= u'a' && c <= u'z') {
        return static_cast<char16_t>(c - u'a' + u'A');
    }
    if (c == u'\u00D8' || c == u'\u00F8') {
        return u'0';
    }
    return c;
}

// Accuracy in tenths of a percent: right / sent × 1000, halves rounded up (875 is 87.5 %).
// None when nothing was sent.
std::optional<std::int32_t> accuracyTenths(std::int64_t right, std::int64_t sent);

// Characters beyond this many non-blank ones in either text are not aligned: the sent ones
// count as missed and the typed ones as extra (a drill sends at most 750). This bounds the
// alignment table to 16 MiB.
inline constexpr std::size_t kMaxAlignedCharacters = 4096;

enum class Mark : std::uint8_t {
    None,    // a blank of the sent text
    Right,   // copied as sent
    Wrong,   // taken for another character (`typed`)
    Missed,  // nothing typed for it
};

// What became of one character of the sent text.
struct CharacterMark {
    Mark mark = Mark::None;
    char16_t typed = 0;           // Right and Wrong: the character as typed (not folded)
    std::int32_t copyIndex = -1;  // Right and Wrong: its position in the copy text
};

// One sent character copied as another. Characters are folded (upper case, Ø as 0); the
// positions are those of the original texts, blanks included.
struct Confusion {
    char16_t sent = 0;
    char16_t typed = 0;
    std::int32_t sentIndex = 0;
    std::int32_t copyIndex = 0;

    friend bool operator==(const Confusion&, const Confusion&) = default;
};

struct ConfusionCount {
    char16_t sent = 0;
    char16_t typed = 0;
    std::int32_t count = 0;

    friend bool operator==(const ConfusionCount&, const ConfusionCount&) = default;
};

// How often one (folded) character was sent in this copy, and how often it was copied right.
struct CharacterTally {
    char16_t character = 0;
    std::int32_t sent = 0;
    std::int32_t right = 0;

    friend bool operator==(const CharacterTally&, const CharacterTally&) = default;
};

// sent = right + wrong + missed (the non-blank sent characters);
// typed = right + wrong + extra (the non-blank typed characters).
struct ScoreCounts {
    std::int32_t sent = 0;
    std::int32_t typed = 0;
    std::int32_t right = 0;
    std::int32_t wrong = 0;
    std::int32_t missed = 0;
    std::int32_t extra = 0;

    friend bool operator==(const ScoreCounts&, const ScoreCounts&) = default;
};

struct CopyScore {
    ScoreCounts counts;
    std::optional<std::int32_t> accuracyTenths;  // right / sent; none when sent is 0
    std::vector<CharacterMark> marks;   // one per character of the sent text, blanks included
    std::vector<Confusion> confusions;  // in the order of the sent text
    std::vector<std::int32_t> extras;   // positions in the copy text of the extra characters
    std::vector<ConfusionCount> topConfusions;  // the three most frequent, see below
    std::vector<CharacterTally> tallies;        // every sent character, by character code
};

// The alignment. `right` is the length of the longest common subsequence of the two texts
// without their blanks. Between two consecutive right characters (and before the first and
// after the last) the unmatched sent and typed characters pair up in order as confusions; sent
// characters left over are missed, typed ones extra.
//
// Several alignments can have the same number of right characters; the one chosen is:
// 1. the one with the most confusions, i.e. the fewest errors (a character taken for another
//    is one error, where a missed plus an extra one would be two): sent AB, copy BAY gives
//    B extra, A right, B→Y rather than A missed, B right, A and Y extra;
// 2. then, reading both texts from the start, wherever the choices still tie: a match or a
//    pairing first, then leaving the sent character unmatched, then the typed one. Repeated
//    characters therefore match as early as they can (sent EEEE, copy EEE: the last E is
//    missed), and sent AB, copy BA gives A missed, B right, A extra.
//
// The three most frequent confusions: more occurrences first, equal counts in the order of
// their first occurrence in the sent text.
//
// Cost: one table of (sent × typed) bytes and two rows of integers; 750 sent against 800 typed
// characters take about a millisecond. A scorer keeps its buffers between calls.
class CopyScorer {
  public:
    CopyScore score(std::u16string_view sent, std::u16string_view copy);
    void score(std::u16string_view sent, std::u16string_view copy, CopyScore& out);

  private:
    std::vector<char16_t> m_sent;
    std::vector<char16_t> m_copy;
    std::vector<std::int32_t> m_sentIndex;
    std::vector<std::int32_t> m_copyIndex;
    std::vector<std::int32_t> m_row;
    std::vector<std::int32_t> m_nextRow;
    std::vector<std::uint8_t> m_moves;
    std::vector<std::pair<std::int32_t, std::int32_t>> m_matches;
};

// One-off scoring with a scorer of its own.
CopyScore scoreCopy(std::u16string_view sent, std::u16string_view copy);

}  // namespace dittix::scoring
