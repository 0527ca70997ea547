// The main window's picture: a running paper tape of the key in the upper half, the decoded text
// in large yellow type in the lower half, a grey line between them. It decides nothing about
// keying; the decode tick calls its operations at the moments it defines.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QRect>

#include <array>
#include <cstdint>
#include <functional>
#include <string_view>

namespace dittix::display {

// The trace inks, changed after every decoded character.
inline constexpr std::array<QRgb, 14> InkCycle{
    qRgb(255, 0, 0),     qRgb(255, 255, 0),  qRgb(128, 128, 0),   qRgb(0, 0, 255),
    qRgb(128, 0, 128),   qRgb(0, 128, 128),  qRgb(128, 128, 128), qRgb(255, 255, 255),
    qRgb(255, 0, 255),   qRgb(0, 255, 255),  qRgb(192, 220, 192), qRgb(166, 202, 240),
    qRgb(192, 192, 192), qRgb(255, 251, 240)};

inline constexpr QRgb kSeparatorGrey = qRgb(128, 128, 128);
inline constexpr QRgb kTextYellow = qRgb(255, 255, 0);
inline constexpr int kTextCellHeight = 80;

// Rows of one area that scroll together: `count` slots, `pitch` rows apart from `top`. The first
// `height` rows of each slot move when the area scrolls, the rest of the pitch stays in place.
// The slots are kept as a ring in the bitmap's own rows: slot k of the picture is stored in slot
// (k + offset) % count, so a scroll turns the ring by one instead of copying every slot.
struct RowRing {
    int top = 0;
    int pitch = 1;
    int height = 0;
    int count = 0;
    int offset = 0;
};

// Rows top … bottom - 1 of the picture, stored `shift` rows further down in the bitmap.
struct RowRun {
    int top = 0;
    int bottom = 0;
    int shift = 0;
};

class TapeDisplay {
  public:
    // Tells whether a client row of the window can be seen; used by findVisibleBottom.
    using RowVisible = std::function<bool(int row)>;

    explicit TapeDisplay(RowVisible rowVisible);
    TapeDisplay(const TapeDisplay&) = delete;
    TapeDisplay& operator=(const TapeDisplay&) = delete;

    // Layout and probing.
    void resetLayout(int width, int height);
    int findVisibleBottom() const;

    // Trace operations.
    void advanceTrace() { m_traceX += m_traceStep; }
    void markTrace();
    void moveTrace() { m_pen = QPoint(m_traceX, m_traceY); }
    void wrapTrace();
    void checkTraceScroll();
    void emitCharacter(std::u16string_view text);
    void emitWordSpace();

    // Manual scrolls.
    void scrollTrace();
    void scrollText();

    // The picture as the window shows it, whole or one pixel of it.
    QImage composed() const;
    QRgb pixel(int x, int y) const { return m_image.pixel(x, storedRow(y)); }
    // Draws the part `area` of the picture (window coordinates) at its place on `painter`, and
    // black where `area` reaches beyond the picture.
    void paint(QPainter& painter, const QRect& area) const;
    // Replaces every pixel of the picture with the one of `picture` at the same place; the
    // drawing state stays. For tests that follow single rows through a scroll.
    void loadPicture(const QImage& picture);
    // The area of the picture changed since the last call, for a partial repaint.
    QRect takeDirty();

    int traceX() const { return m_traceX; }
    int traceY() const { return m_traceY; }
    int textX() const { return m_textX; }
    int textY() const { return m_textY; }
    int textBottom() const { return m_textBottom; }
    int midLine() const { return m_midLine; }
    int inkIndex() const { return m_inkIndex; }
    QRgb penColour() const { return m_penColour; }
    int lineHeight() const { return m_lineHeight; }
    const QFont& font() const { return m_font; }

  private:
    // The rows from `row` on, up to `limit`, that the bitmap stores with one shift.
    RowRun runAt(int row, int limit) const;
    int storedRow(int row) const { return row + runAt(row, row + 1).shift; }
    // Runs `draw` on the painter so that what it draws inside `area` (picture coordinates) lands
    // where the bitmap stores those rows; nothing outside `area` may be drawn.
    template <typename Draw>
    void drawMapped(const QRect& area, Draw draw);
    // Puts the rows top … bottom - 1 of the picture, stretched or squeezed to `height` rows,
    // into the bitmap's rows from `storedTop` on.
    void copyRowsStretched(int top, int bottom, int storedTop, int height);
    // Draws from the pen to `to` in the pen colour, `to` itself not painted; the pen stays there.
    void lineTo(QPoint to);
    void fillBlack(int left, int top, int right, int bottom);
    void writeText(const QString& text, int x, int y);
    void markDirty(const QRect& rect) { m_dirty |= rect; }

    RowVisible m_rowVisible;
    // The picture's rows; those of the two rings in ring order.
    QImage m_image;
    QPainter m_painter;
    // Rows on their way into a stretched trace band.
    QImage m_band;
    // The trace bands that a trace scroll moves up, and the text lines that a text scroll does.
    RowRing m_traceRing;
    RowRing m_textRing;
    QFont m_font;
    QRect m_dirty;

    int m_width = 0;
    int m_height = 0;
    int m_traceX = 5;
    int m_traceY = 15;
    int m_traceStep = 5;
    int m_midLine = 0;
    int m_textX = 0;
    int m_textY = 0;
    int m_textBottom = 0;
    int m_lineHeight = 0;
    int m_inkIndex = 0;
    QRgb m_penColour = InkCycle[0];
    QPoint m_pen;
};

}  // namespace dittix::display
