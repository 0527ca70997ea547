// TtabellaCodice, the code table window: the whole Morse table as characters with dot and dash
// strokes, in a narrow window at the right edge of the screen.
#pragma once

#include <QImage>
#include <QScrollArea>
#include <QWidget>

#include <functional>

namespace dittix::display {

inline constexpr int kCodeTableImageHeight = 3070;
inline constexpr int kCodeTablePaintedWidth = 145;
inline constexpr int kCodeTableImageWidth = 156;

// Draws the table on `image` (156 × 3070) with the table font size (25 … 45): black over the
// painted area, each entry's text in yellow at x = 5, then its strokes, one row per entry.
void drawCodeTable(QImage& image, int tableFontSize);

// What the window asks of the others; it never sees the main window itself.
struct CodeTableActions {
    std::function<void()> showTraining;        // "e"
    std::function<void()> clearMainDisplay;    // "c", "C"
    std::function<void(int step)> changeSize;  // "+" (1), "-" (-1)
    std::function<void()> endProgram;          // Esc: at once, nothing saved
};

class TtabellaCodice : public QWidget {
  public:
    explicit TtabellaCodice(CodeTableActions actions, QWidget* parent = nullptr);

    void FormKeyPress(QChar key);
    void FormResize();

    // The drawing of the main window's timer: the image is resized and the table drawn.
    void redraw(int tableFontSize, int scrollBoxHeight);
    void setSizeable(bool sizeable);
    bool isSizeable() const { return m_sizeable; }

    const QImage& image() const { return m_image; }
    QScrollArea* ScrollBox;
    QWidget* img;  // paints the image; ScrollBox scrolls it

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    CodeTableActions m_actions;
    QImage m_image;
    bool m_sizeable = true;
};

}  // namespace dittix::display
