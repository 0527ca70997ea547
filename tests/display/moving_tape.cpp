// The tape that copies its areas on every scroll.
#include "display/moving_tape.h"

#include <QFontMetrics>

#include <algorithm>
#include <cstring>

#include "display/fonts.h"
#include "keying/morse_table.h"

namespace dittix::display::test {

namespace {

// Rectangles are given as left, top, right, bottom with the right column and bottom row
// excluded.
QRect edges(int left, int top, int right, int bottom) {
    return QRect(left, top, right - left, bottom - top);
}

}  // namespace

MovingTape::MovingTape(RowVisible rowVisible)
    : m_rowVisible(std::move(rowVisible)), m_font(fontWithCellHeight(kTextCellHeight)) {
    // Render every text the decoder can write once, so that no tick pays for building glyphs.
    QImage scratch(4 * kTextCellHeight, kTextCellHeight, QImage::Format_RGB32);
    QPainter painter(&scratch);
    painter.setFont(m_font);
    for (const keying::MorseEntry& entry : keying::MorseTable) {
        painter.drawText(0, kTextCellHeight, toQString(entry.character));
    }
    painter.drawText(0, kTextCellHeight, toQString(keying::kUnknownCode));
}

int MovingTape::lineHeight() const {
    return QFontMetrics(m_font).height();
}

void MovingTape::resetLayout(int width, int height) {
    if (m_painter.isActive()) {
        m_painter.end();
    }
    m_width = std::max(width, 1);
    m_height = std::max(height, 1);
    m_image = QImage(m_width, m_height, QImage::Format_RGB32);
    m_painter.begin(&m_image);
    m_painter.setFont(m_font);
    m_painter.setRenderHint(QPainter::Antialiasing, false);

    m_traceStep = 5;
    m_traceY = 15;
    m_traceX = 5;
    m_dirty = QRect();
    fillBlack(0, 0, m_width, m_height);
    m_midLine = m_height / 2;
    m_penColour = kSeparatorGrey;
    m_pen = QPoint(0, m_midLine);
    lineTo(QPoint(m_width, m_midLine));
    m_penColour = InkCycle[0];  // inkIndex keeps its value
    m_textX = 0;
    m_textY = m_midLine + 5;
    m_textBottom = findVisibleBottom() - 1;
    moveTrace();
}

int MovingTape::findVisibleBottom() const {
    for (int row = m_height - 100; row < m_height; ++row) {
        if (!m_rowVisible(row)) {
            return row;
        }
    }
    return m_height;
}

void MovingTape::markTrace() {
    lineTo(QPoint(m_traceX, m_traceY));
}

void MovingTape::wrapTrace() {
    if (m_traceX > m_width) {
        m_traceX = 5;
        m_traceY += 15;
        moveTrace();
    }
}

void MovingTape::checkTraceScroll() {
    if (m_traceY >= m_midLine - 9) {
        scrollTrace();
    }
}

void MovingTape::emitCharacter(std::u16string_view text) {
    const QString t = toQString(text);
    const QFontMetrics metrics(m_font);
    const int width = metrics.horizontalAdvance(t);
    if (m_textX + width > m_width) {
        m_textX = 0;
        m_textY += metrics.height();
        if (m_textY > m_textBottom) {
            scrollText();
        }
    }
    writeText(t, m_textX, m_textY);
    m_textX += width;
    m_inkIndex = (m_inkIndex + 1) % static_cast<int>(InkCycle.size());
    m_penColour = InkCycle[static_cast<std::size_t>(m_inkIndex)];
    moveTrace();
}

void MovingTape::emitWordSpace() {
    m_traceX = 5;
    m_traceY += 15;
    checkTraceScroll();
    const QString blank(QLatin1Char(' '));
    const QFontMetrics metrics(m_font);
    const int width = metrics.horizontalAdvance(blank);
    const int height = metrics.height();
    if (m_textX + width > m_width) {
        m_textX = 0;
        m_textY += height;
        if (m_textY + height > m_textBottom) {
            scrollText();
        }
    }
    writeText(blank, m_textX, m_textY);
    m_textX += width;
    moveTrace();
}

void MovingTape::scrollTrace() {
    int b = 10;
    for (; b + 15 < m_midLine; b += 15) {
        copyRect(edges(0, b + 15, m_width, std::min(b + 29, m_midLine - 1)),
                 edges(0, b, m_width, b + 14));
    }
    fillBlack(0, b, m_width, m_midLine - 2);
    m_traceY -= 15;
    m_traceX = 0;
    moveTrace();
}

void MovingTape::scrollText() {
    const int l = lineHeight();
    int y = m_midLine + 5;
    while (y + 2 * l < m_textBottom - 25) {
        copyRect(edges(0, y + l, m_width, y + 2 * l - 1), edges(0, y, m_width, y + l - 1));
        y += l;
    }
    m_textX = 0;
    m_textY = y;
    fillBlack(0, y, m_width, m_textBottom);
}

void MovingTape::loadPicture(const QImage& picture) {
    m_painter.drawImage(0, 0, picture);
    markDirty(m_image.rect());
}

QRect MovingTape::takeDirty() {
    const QRect dirty = m_dirty & m_image.rect();
    m_dirty = QRect();
    return dirty;
}

void MovingTape::lineTo(QPoint to) {
    const QPoint from = m_pen;
    m_pen = to;
    const int dx = to.x() - from.x();
    const int dy = to.y() - from.y();
    const int steps = std::max(std::abs(dx), std::abs(dy));
    if (steps == 0) {
        return;
    }
    // The last point is left out: step back one pixel along the longer axis.
    const QPoint last(to.x() - (std::abs(dx) >= std::abs(dy) ? (dx > 0) - (dx < 0) : 0),
                      to.y() - (std::abs(dy) > std::abs(dx) ? (dy > 0) - (dy < 0) : 0));
    m_painter.setPen(QPen(QColor(m_penColour), 0));
    m_painter.drawLine(from, last);
    markDirty(QRect(from, last).normalized());
}

void MovingTape::fillBlack(int left, int top, int right, int bottom) {
    const QRect area = edges(left, top, right, bottom);
    if (area.isEmpty()) {
        return;
    }
    m_painter.fillRect(area, Qt::black);
    markDirty(area);
}

void MovingTape::copyRect(const QRect& source, const QRect& destination) {
    if (destination.isEmpty()) {
        return;
    }
    if (source.isEmpty()) {
        // The band just above the separating line can have no rows left to take; it becomes
        // blank rather than keep the old trace that the next row would be drawn over.
        m_painter.fillRect(destination, Qt::black);
        markDirty(destination);
        return;
    }
    const QRect all = m_image.rect();
    if (source.size() == destination.size() && !source.intersects(destination) &&
        all.contains(source) && all.contains(destination)) {
        // Rows are copied in place: a band of text is half a megabyte, and a temporary copy
        // of it would make the tick wait for fresh memory from the system.
        uchar* const bits = m_image.bits();
        const qsizetype stride = m_image.bytesPerLine();
        const auto pixel = [bits, stride](int x, int y) {
            return bits + y * stride + x * qsizetype(sizeof(QRgb));
        };
        const auto rowBytes = static_cast<std::size_t>(source.width()) * sizeof(QRgb);
        for (int row = 0; row < source.height(); ++row) {
            std::memcpy(pixel(destination.left(), destination.top() + row),
                        pixel(source.left(), source.top() + row), rowBytes);
        }
        markDirty(destination);
        return;
    }
    const QImage band = m_image.copy(source);
    m_painter.drawImage(destination, band);
    markDirty(destination);
}

void MovingTape::writeText(const QString& text, int x, int y) {
    const QFontMetrics metrics(m_font);
    const QRect box(x, y, metrics.horizontalAdvance(text), metrics.height());
    m_painter.fillRect(box, Qt::black);
    m_painter.setPen(QColor(kTextYellow));
    m_painter.drawText(x, y + metrics.ascent(), text);
    markDirty(box);
}

}  // namespace dittix::display::test
