// Tape trace and decoded-text drawing.
#include "display/tape_display.h"

#include <QFontMetrics>
#include <QRegion>

#include <algorithm>
#include <cstring>

#include "display/fonts.h"
#include "keying/morse_table.h"

namespace dittix::display {

namespace {

// Rectangles are given as left, top, right, bottom with the right column and bottom row
// excluded.
QRect edges(int left, int top, int right, int bottom) {
    return QRect(left, top, right - left, bottom - top);
}

// The trace bands: the first begins at row 10, each is 15 rows below the one above, and a trace
// scroll moves the first 14 rows of each.
constexpr int kTraceTop = 10;
constexpr int kTracePitch = 15;
constexpr int kTraceBandHeight = 14;

// The run of `ring`'s rows that holds `row`, cut at `limit`; rows outside the ring's slots are
// stored in place.
RowRun ringRunAt(const RowRing& ring, int row, int limit) {
    if (ring.count < 2 || row >= ring.top + ring.pitch * ring.count) {
        return {row, limit, 0};
    }
    if (row < ring.top) {
        return {row, std::min(limit, ring.top), 0};
    }
    const int slot = (row - ring.top) / ring.pitch;
    const int slotTop = ring.top + slot * ring.pitch;
    if (row - slotTop >= ring.height) {
        return {row, std::min(limit, slotTop + ring.pitch), 0};
    }
    const int stored = (slot + ring.offset) % ring.count;
    return {row, std::min(limit, slotTop + ring.height), (stored - slot) * ring.pitch};
}

}  // namespace

TapeDisplay::TapeDisplay(RowVisible rowVisible)
    : m_rowVisible(std::move(rowVisible)), m_font(fontWithCellHeight(kTextCellHeight)) {
    // Render every text the decoder can write once, so that no tick pays for building glyphs.
    QImage scratch(4 * kTextCellHeight, kTextCellHeight, QImage::Format_RGB32);
    QPainter painter(&scratch);
    painter.setFont(m_font);
    for (const keying::MorseEntry& entry : keying::MorseTable) {
        painter.drawText(0, kTextCellHeight, toQString(entry.character));
    }
    painter.drawText(0, kTextCellHeight, toQString(keying::kUnknownCode));
    m_lineHeight = QFontMetrics(m_font).height();
}

void TapeDisplay::resetLayout(int width, int height) {
    if (m_painter.isActive()) {
        m_painter.end();
    }
    m_width = std::max(width, 1);
    m_height = std::max(height, 1);
    // The bitmap of the same size is kept and painted over: a fresh one of a full screen costs a
    // page fault for every 4 KB of it, tens of milliseconds on a busy machine.
    if (m_image.width() != m_width || m_image.height() != m_height) {
        m_image = QImage(m_width, m_height, QImage::Format_RGB32);
    }
    m_painter.begin(&m_image);
    m_painter.setFont(m_font);
    m_painter.setRenderHint(QPainter::Antialiasing, false);

    m_traceStep = 5;
    m_traceY = 15;
    m_traceX = 5;
    m_dirty = QRect();
    m_traceRing = RowRing{};
    m_textRing = RowRing{};
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

    // The bands a trace scroll moves; the last one takes the rows between it and the separating
    // line, fewer than its own when the line comes earlier than a whole band.
    m_traceRing = RowRing{kTraceTop, kTracePitch, kTraceBandHeight, 0, 0};
    for (int b = kTraceTop; b + kTracePitch < m_midLine; b += kTracePitch) {
        ++m_traceRing.count;
    }
    const int bandsEnd = kTraceTop + kTracePitch * m_traceRing.count;
    const int tailRows = std::min(bandsEnd + kTraceBandHeight, m_midLine - 1) - bandsEnd;
    m_band = m_traceRing.count > 0 && tailRows > 0 && tailRows != kTraceBandHeight
                 ? QImage(m_width, tailRows, QImage::Format_RGB32)
                 : QImage();
    // The text lines a text scroll moves, and the line below them that moves into the last.
    const int l = m_lineHeight;
    int kept = 0;
    for (int y = m_textY; l > 1 && y + 2 * l < m_textBottom - 25; y += l) {
        ++kept;
    }
    m_textRing = RowRing{m_textY, std::max(l, 1), l - 1, kept + 1, 0};
}

int TapeDisplay::findVisibleBottom() const {
    for (int row = m_height - 100; row < m_height; ++row) {
        if (!m_rowVisible(row)) {
            return row;
        }
    }
    return m_height;
}

void TapeDisplay::markTrace() {
    lineTo(QPoint(m_traceX, m_traceY));
}

void TapeDisplay::wrapTrace() {
    if (m_traceX > m_width) {
        m_traceX = 5;
        m_traceY += 15;
        moveTrace();
    }
}

void TapeDisplay::checkTraceScroll() {
    if (m_traceY >= m_midLine - 9) {
        scrollTrace();
    }
}

void TapeDisplay::emitCharacter(std::u16string_view text) {
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

void TapeDisplay::emitWordSpace() {
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

void TapeDisplay::scrollTrace() {
    // Each band takes the content of the band below it: the ring turns by one, and the band that
    // comes in at the bottom takes the rows between the bands and the separating line.
    const int bands = m_traceRing.count;
    const int bandsEnd = kTraceTop + kTracePitch * bands;
    if (bands > 0) {
        m_traceRing.offset = (m_traceRing.offset + 1) % bands;
        const int last = bandsEnd - kTracePitch;
        copyRowsStretched(bandsEnd, std::min(last + 29, m_midLine - 1), storedRow(last),
                          kTraceBandHeight);
        markDirty(edges(0, kTraceTop, m_width, last + kTraceBandHeight));
    }
    fillBlack(0, bandsEnd, m_width, m_midLine - 2);
    m_traceY -= 15;
    m_traceX = 0;
    moveTrace();
}

void TapeDisplay::scrollText() {
    // Each kept line takes the one below it (all but its last row, which stays): the ring turns
    // by one. The line that comes in at the bottom lies wholly above textBottom, so the fill
    // below clears it.
    const int kept = m_textRing.count - 1;
    const int y = m_textRing.top + kept * m_textRing.pitch;
    if (kept > 0) {
        m_textRing.offset = (m_textRing.offset + 1) % m_textRing.count;
        markDirty(edges(0, m_textRing.top, m_width, y - 1));
    }
    m_textX = 0;
    m_textY = y;
    fillBlack(0, y, m_width, m_textBottom);
}

QRect TapeDisplay::takeDirty() {
    const QRect dirty = m_dirty & m_image.rect();
    m_dirty = QRect();
    return dirty;
}

QImage TapeDisplay::composed() const {
    QImage picture(m_image.size(), QImage::Format_RGB32);
    const auto rowBytes = static_cast<std::size_t>(m_width) * sizeof(QRgb);
    for (int y = 0; y < m_height; ++y) {
        std::memcpy(picture.scanLine(y), m_image.constScanLine(storedRow(y)), rowBytes);
    }
    return picture;
}

void TapeDisplay::paint(QPainter& painter, const QRect& area) const {
    const QRect inside = area & m_image.rect();
    // Only what lies beyond the picture is filled black: filling the whole area first wrote
    // every pixel twice (a full-screen repaint's 8 MB).
    for (const QRect& beyond : QRegion(area).subtracted(inside)) {
        painter.fillRect(beyond, Qt::black);
    }
    const int bottom = inside.top() + inside.height();
    for (int row = inside.top(); row < bottom;) {
        const RowRun run = runAt(row, bottom);
        painter.drawImage(QPoint(inside.left(), row), m_image,
                          QRect(inside.left(), row + run.shift, inside.width(), run.bottom - row));
        row = run.bottom;
    }
}

void TapeDisplay::loadPicture(const QImage& picture) {
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB32);
    const int rows = std::min(m_height, rgb.height());
    const auto rowBytes = static_cast<std::size_t>(std::min(m_width, rgb.width())) * sizeof(QRgb);
    for (int y = 0; y < rows; ++y) {
        std::memcpy(m_image.scanLine(storedRow(y)), rgb.constScanLine(y), rowBytes);
    }
    markDirty(m_image.rect());
}

RowRun TapeDisplay::runAt(int row, int limit) const {
    // The rings do not overlap, so at most one of them shifts a row.
    const auto single = [this](int from, int to) {
        const RowRun trace = ringRunAt(m_traceRing, from, to);
        const RowRun text = ringRunAt(m_textRing, from, trace.bottom);
        return RowRun{from, text.bottom, trace.shift + text.shift};
    };
    RowRun run = single(row, limit);
    while (run.bottom < limit) {
        const RowRun next = single(run.bottom, limit);
        if (next.shift != run.shift) {
            break;
        }
        run.bottom = next.bottom;
    }
    return run;
}

template <typename Draw>
void TapeDisplay::drawMapped(const QRect& area, Draw draw) {
    const int top = std::max(area.top(), 0);
    const int bottom = std::min(area.top() + area.height(), m_height);
    if (area.isEmpty() || top >= bottom) {
        return;
    }
    const RowRun first = runAt(top, bottom);
    if (first.bottom == bottom && first.shift == 0) {
        draw();  // rows stored in place; the bitmap's edges clip the rest
        return;
    }
    if (first.bottom == bottom && top == area.top() && bottom == area.top() + area.height()) {
        m_painter.translate(0, first.shift);
        draw();
        m_painter.resetTransform();
        return;
    }
    for (int row = top; row < bottom;) {
        const RowRun run = runAt(row, bottom);
        m_painter.setTransform(QTransform::fromTranslate(0, run.shift));
        m_painter.setClipRect(QRect(0, run.top, m_width, run.bottom - run.top));
        draw();
        row = run.bottom;
    }
    m_painter.setClipping(false);
    m_painter.resetTransform();
}

void TapeDisplay::copyRowsStretched(int top, int bottom, int storedTop, int height) {
    const QRect destination(0, storedTop, m_width, height);
    const int rows = bottom - top;
    if (rows <= 0) {
        // No rows left to take: the band becomes blank rather than keep the old trace that the
        // next row would be drawn over.
        m_painter.fillRect(destination, Qt::black);
        return;
    }
    const auto rowBytes = static_cast<std::size_t>(m_width) * sizeof(QRgb);
    if (rows == height) {
        for (int r = 0; r < rows; ++r) {
            std::memcpy(m_image.scanLine(storedTop + r), m_image.constScanLine(storedRow(top + r)),
                        rowBytes);
        }
        return;
    }
    // The band was made at the layout for exactly these rows.
    for (int r = 0; r < rows; ++r) {
        std::memcpy(m_band.scanLine(r), m_image.constScanLine(storedRow(top + r)), rowBytes);
    }
    m_painter.drawImage(destination, m_band);
}

void TapeDisplay::lineTo(QPoint to) {
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
    const QRect line = QRect(from, last).normalized();
    drawMapped(line, [this, from, last] {
        m_painter.setPen(QPen(QColor(m_penColour), 0));
        m_painter.drawLine(from, last);
    });
    markDirty(line);
}

void TapeDisplay::fillBlack(int left, int top, int right, int bottom) {
    const QRect area = edges(left, top, right, bottom);
    if (area.isEmpty()) {
        return;
    }
    drawMapped(area, [this, area] { m_painter.fillRect(area, Qt::black); });
    markDirty(area);
}

void TapeDisplay::writeText(const QString& text, int x, int y) {
    const QFontMetrics metrics(m_font);
    const QRect box(x, y, metrics.horizontalAdvance(text), metrics.height());
    // A glyph may reach beyond its box; the rows it can reach are drawn with the box.
    const QRect ink =
        metrics.boundingRect(text).translated(x, y + metrics.ascent()).adjusted(-1, -1, 1, 1);
    drawMapped(box | ink, [this, &text, &metrics, box, x, y] {
        m_painter.fillRect(box, Qt::black);
        m_painter.setPen(QColor(kTextYellow));
        m_painter.drawText(x, y + metrics.ascent(), text);
    });
    markDirty(box | ink);
}

}  // namespace dittix::display
