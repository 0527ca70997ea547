// Fonts by cell height.
#include "display/fonts.h"

#include <QFontMetrics>

namespace dittix::display {

QFont fontWithCellHeight(int cellHeight) {
    QFont font;
    int pixels = std::max(cellHeight, 1);
    font.setPixelSize(pixels);
    while (pixels > 1 && QFontMetrics(font).height() > cellHeight) {
        font.setPixelSize(--pixels);
    }
    return font;
}

}  // namespace dittix::display
