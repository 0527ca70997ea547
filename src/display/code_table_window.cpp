// The code table window.
#include "display/code_table_window.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>

#include "display/fonts.h"
#include "keying/morse_table.h"
#include "platform/kept_window.h"

namespace dittix::display {

namespace {

const QColor kYellow(255, 255, 0);

// A line from (x0, y) to (x1, y) with its end point left unpainted.
void stroke(QPainter& painter, int x0, int x1, int y) {
    painter.drawLine(x0, y, x1 - 1, y);
}

}  // namespace

// Paints the table's image where it is exposed. The image is never handed to a pixmap: a pixmap
// would share its memory, and the next drawing would copy 1.9 MB into fresh pages first, which
// cost the interface thread several milliseconds per "+" or "-".
class CodeTableView : public QWidget {
  public:
    explicit CodeTableView(const QImage& image) : m_image(image) {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

  protected:
    void paintEvent(QPaintEvent* event) override {
        QPainter painter(this);
        const QRect exposed = event->rect();
        painter.drawImage(exposed.topLeft(), m_image, exposed);
    }

  private:
    const QImage& m_image;
};

void drawCodeTable(QImage& image, int tableFontSize) {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(0, 0, kCodeTablePaintedWidth, kCodeTableImageHeight, Qt::black);
    painter.setPen(QPen(kYellow, 0));
    painter.setBackgroundMode(Qt::OpaqueMode);
    painter.setBackground(Qt::black);

    QFont font = fontWithCellHeight(tableFontSize);
    const int rowPitch = QFontMetrics(font).height();  // the height of "a" in the table font
    for (std::size_t i = 0; i < keying::kMorseEntryCount; ++i) {
        const keying::MorseEntry& entry = keying::MorseTable[i];
        const QString text = toQString(entry.character);
        const auto n = static_cast<int>(text.size());
        // A two-letter text is measured in the font still in force: the previous row's.
        int x = n == 1 ? 40 : QFontMetrics(font).horizontalAdvance(text) + 10;
        font = fontWithCellHeight(tableFontSize + 2 - 7 * n);
        const QFontMetrics metrics(font);
        const int top = static_cast<int>(i) * rowPitch + 5;
        painter.setFont(font);
        painter.fillRect(5, top, metrics.horizontalAdvance(text), metrics.height(), Qt::black);
        painter.drawText(5, top + metrics.ascent(), text);
        const int y = top + metrics.height() / 2 + 5;
        for (const char16_t element : entry.code) {
            const int length = element == u'p' ? 5 : 15;
            stroke(painter, x, x + length, y);
            x += length + 5;
        }
    }
}

TtabellaCodice::TtabellaCodice(CodeTableActions actions, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      m_actions(std::move(actions)),
      m_image(kCodeTableImageWidth, 669, QImage::Format_RGB32) {
    setWindowTitle(QStringLiteral("Codice Morse"));
    setToolTip(QStringLiteral("prova"));
    resize(162, 700);
    m_image.fill(Qt::black);
    ScrollBox = new QScrollArea(this);
    ScrollBox->setGeometry(0, 0, 160, 697);
    ScrollBox->setFrameShape(QFrame::NoFrame);
    img = new CodeTableView(m_image);
    img->resize(m_image.size());
    ScrollBox->setWidget(img);
    ScrollBox->setWidgetResizable(false);
}

void TtabellaCodice::redraw(int tableFontSize, int scrollBoxHeight) {
    ScrollBox->resize(ScrollBox->width(), std::max(scrollBoxHeight, 0));
    if (m_image.height() != kCodeTableImageHeight) {
        m_image = QImage(kCodeTableImageWidth, kCodeTableImageHeight, QImage::Format_RGB32);
        m_image.fill(Qt::black);
    }
    drawCodeTable(m_image, tableFontSize);
    img->resize(m_image.size());
    img->update();
}

void TtabellaCodice::setSizeable(bool sizeable) {
    m_sizeable = sizeable;
    if (sizeable) {
        setMinimumSize(0, 0);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    } else {
        setFixedSize(size());
    }
}

void TtabellaCodice::FormResize() {
    setToolTip(QString::number(width()) + QLatin1Char(' ') + QString::number(height()));
}

void TtabellaCodice::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FormResize();
}

void TtabellaCodice::closeEvent(QCloseEvent* event) {
    // The close box only hides the table, which keeps its window on the display server: the
    // next redraw shows it again without making a new one.
    platform::hideKeepingWindow(*this, *event);
}

void TtabellaCodice::FormKeyPress(QChar key) {
    const char16_t c = key.unicode();
    const auto run = [](const std::function<void()>& action) {
        if (action) {
            action();
        }
    };
    if (c == u'e') {
        run(m_actions.showTraining);
    } else if (c == 27) {
        run(m_actions.endProgram);
    } else if (c == u'c' || c == u'C') {
        run(m_actions.clearMainDisplay);
    } else if ((c == u'+' || c == u'-') && m_actions.changeSize) {
        m_actions.changeSize(c == u'+' ? 1 : -1);
    }
}

void TtabellaCodice::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        FormKeyPress(QChar(27));
    } else if (event->text().size() == 1) {
        FormKeyPress(event->text().front());
    } else {
        QWidget::keyPressEvent(event);
    }
}

}  // namespace dittix::display
