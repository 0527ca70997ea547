// The main window's off-screen bitmap: a running paper tape of the key in the upper half, the
// decoded text in large yellow type in the lower half, a grey line between them. It decides
// nothing about keying; the decode tick calls its operations at the moments it defines.
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

    const QImage& image() const { return m_image; }
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

}  // namespace dittix::display
