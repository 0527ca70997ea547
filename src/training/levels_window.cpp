// The levels window.
#include "training/levels_window.h"
#include "platform/kept_window.h"
#include "platform/window_frame.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>

#include <algorithm>

namespace dittix::training {

namespace {

constexpr int kDesignWidth = 1039;
constexpr int kDesignHeight = 525;
constexpr int kTimerInterval = 200;  // ms
constexpr int kLineLeft = 8;
constexpr int kLineHeight = 20;
constexpr int kHeightBelowLines = 40;
constexpr int kClearRows = 2;  // between the characters of one line and the next
constexpr QChar kEscape(27);

// Bold Courier New of 18 points as designed, at the largest pixel size at which the characters of
// every line stand within the 20-pixel pitch less two clear rows, so that lines never run into
// each other. DejaVu Sans Mono, which stands in for Courier New on Linux, has taller letters: its
// brackets span 23 pixels at 18 points, and it is set at 20 pixels.
QFont lineFont(const QStringList& lines) {
    QFont font(QStringLiteral("Courier New"), 18);
    font.setBold(true);
    int pixels = QFontInfo(font).pixelSize();
    font.setPixelSize(pixels);
    const auto inkHeight = [&lines](const QFont& face) {
        const QFontMetrics metrics(face);
        int tallest = 0;
        for (const QString& line : lines) {
            tallest = std::max(tallest, metrics.tightBoundingRect(line).height());
        }
        return tallest;
    };
    while (pixels > 1 && inkHeight(font) > kLineHeight - kClearRows) {
        font.setPixelSize(--pixels);
    }
    return font;
}

QString lineText(int number, const std::u16string& characters) {
    return QStringLiteral("LIVELLO ") + QString::asprintf("%2d", number) + QStringLiteral(": ") +
           QString::fromStdU16String(characters);
}

}  // namespace

Tlivelli::Tlivelli(const persistence::TrainingLevels& levels, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      m_levels(levels) {
    setWindowTitle(QStringLiteral("LIVELLI ESERCIZIO RICEZIONE"));
    setFixedSize(kDesignWidth, kDesignHeight);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);

    timer.setInterval(kTimerInterval);
    connect(&timer, &QTimer::timeout, this, &Tlivelli::timerTimer);
    FormCreate();
}

void Tlivelli::FormCreate() {
    // The levels are listed from the first tick, once the rest of the program has started.
    timer.start();
}

void Tlivelli::timerTimer() {
    timer.stop();
    if (m_built) {
        return;
    }
    m_built = true;

    QPalette yellowOnBlack = palette();
    yellowOnBlack.setColor(QPalette::WindowText, QColor(255, 255, 0));
    yellowOnBlack.setColor(QPalette::Window, Qt::black);
    QStringList captions;
    for (int i = 0; i < persistence::kMaxLevels; ++i) {
        const persistence::Tlivello& level = m_levels.records[static_cast<std::size_t>(i)];
        captions.append(level.length > 0 ? lineText(i + 1, level.text) : QString());
    }
    const QFont font = lineFont(captions);
    for (int i = 0; i < persistence::kMaxLevels; ++i) {
        const QString& caption = captions[i];
        if (caption.isEmpty()) {
            continue;
        }
        auto* line = new QLabel(caption, this);
        line->setFont(font);
        line->setPalette(yellowOnBlack);
        line->move(kLineLeft, i * kLineHeight);
        line->adjustSize();
        line->show();  // shown with the window, or at once when it is already on screen
        m_labels.push_back(line);
    }
    // As wide as designed, or as the longest line needs.
    int right = 0;
    for (const QLabel* line : m_labels) {
        right = std::max(right, line->x() + line->width());
    }
    setFixedWidth(std::max(kDesignWidth, right + kLineLeft));
    // The count comes from the settings file: keep the height within the levels there can be.
    const int count = std::clamp(m_levels.levelCount, 0, persistence::kMaxLevels);
    setOuterHeight(count * kLineHeight + kHeightBelowLines);
}

int Tlivelli::outerHeight() const {
    return platform::outerSize(*this).height();
}

void Tlivelli::setOuterHeight(int outer) {
    m_outerHeight = outer;
    platform::setOuterSize(*this, QSize(platform::outerSize(*this).width(), outer), true);
}

void Tlivelli::closeEvent(QCloseEvent* event) {
    platform::hideKeepingWindow(*this, *event);
}

void Tlivelli::keyPressEvent(QKeyEvent* event) {
    FormKeyPress(event);
}

void Tlivelli::FormKeyPress(QKeyEvent* event) {
    // Esc closes the window, which only hides it: the list stays for the next time it is shown.
    if (event->key() == Qt::Key_Escape || event->text() == QString(kEscape)) {
        close();
        return;
    }
    event->ignore();
}

void Tlivelli::showEvent(QShowEvent* event) {
    // The frame is known only once the window is on screen: a height set while it was hidden
    // counted no frame, so it is set again to keep the outer height.
    if (m_outerHeight > 0) {
        setOuterHeight(m_outerHeight);
    }
    if (!m_shownBefore && !event->spontaneous()) {
        m_shownBefore = true;
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect outer(QPoint(0, 0), frameGeometry().size());
            move(screen->availableGeometry().center() - outer.center());
        }
    }
    QWidget::showEvent(event);
}

}  // namespace dittix::training
