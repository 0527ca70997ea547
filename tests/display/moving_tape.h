// The tape as it was first built, for comparison: one bitmap the size of the window, whose
// scrolls copy every band and line of the area up.
#pragma once

#include "display/tape_display.h"

namespace dittix::display::test {

class MovingTape {
  public:
    using RowVisible = TapeDisplay::RowVisible;

    explicit MovingTape(RowVisible rowVisible);
    MovingTape(const MovingTape&) = delete;
    MovingTape& operator=(const MovingTape&) = delete;

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

    const QImage& image() const { return m_image; }
    void loadPicture(const QImage& picture);
    // The area changed since the last call, for a partial repaint.
    QRect takeDirty();

    int traceX() const { return m_traceX; }
    int traceY() const { return m_traceY; }
    int textX() const { return m_textX; }
    int textY() const { return m_textY; }
    int textBottom() const { return m_textBottom; }
    int midLine() const { return m_midLine; }
    int inkIndex() const { return m_inkIndex; }
    QRgb penColour() const { return m_penColour; }
    int lineHeight() const;
    const QFont& font() const { return m_font; }

  private:
    // Draws from the pen to `to` in the pen colour, `to` itself not painted; the pen stays there.
    void lineTo(QPoint to);
    void fillBlack(int left, int top, int right, int bottom);
    // Copies the source rectangle onto the destination one, scaling when their sizes differ.
    void copyRect(const QRect& source, const QRect& destination);
    void writeText(const QString& text, int x, int y);
    void markDirty(const QRect& rect) { m_dirty |= rect; }

    RowVisible m_rowVisible;
    QImage m_image;
    QPainter m_painter;
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
    int m_inkIndex = 0;
    QRgb m_penColour = InkCycle[0];
    QPoint m_pen;
};

}  // namespace dittix::display::test
