// Fonts by cell height, and the program's 16-bit texts as toolkit strings.
#pragma once

#include <QFont>
#include <QString>

#include <string_view>

namespace dittix::display {

// The platform's default face at the largest pixel size whose line height (ascent + descent) is
// at most `cellHeight` pixels.
QFont fontWithCellHeight(int cellHeight);

inline QString toQString(std::u16string_view text) {
    return QString(reinterpret_cast<const QChar*>(text.data()),
                   static_cast<qsizetype>(text.size()));
}

}  // namespace dittix::display
