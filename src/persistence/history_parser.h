// Reading the training history's text when it arrives in pieces, as the file is read.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "persistence/training_history.h"

namespace dittix::persistence {

// Where one field of a record lies in the text.
struct FieldSpan {
    std::size_t begin = 0;
    std::size_t end = 0;
    bool escaped = false;  // holds doubled quotes
};

// Each call to feed decides what it can of `text` and returns how much of it it used; the rest
// is to be given again, with more after it. `atEnd`: nothing more will come.
class HistoryParser {
  public:
    std::size_t feed(std::string_view text, bool atEnd);
    ParsedHistory takeParsed() { return std::move(m_parsed); }
    // The rows read so far (a reader may lighten the older ones between pieces).
    std::vector<HistoryRow>& rows() { return m_parsed.rows; }

  private:
    ParsedHistory m_parsed;
    std::vector<FieldSpan> m_spans;
    bool m_inDamage = false;
};

bool startsWithByteOrderMark(std::string_view text);

}  // namespace dittix::persistence
