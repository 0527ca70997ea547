// The face the training windows draw their texts in, at a size in pixels.
#pragma once

#include <QFont>
#include <QString>

namespace dittix::training {

inline QFont tahoma(int pixels, bool bold = false) {
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

}  // namespace dittix::training
