// The copy strip.
#include "training/copy_strip.h"
#include "training/fonts.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>

namespace dittix::training {

namespace {

constexpr int kMargin = 16;
constexpr int kTopPadding = 6;
constexpr int kLineGap = 4;
constexpr int kBottomPadding = 6;
constexpr int kButtonMinimumWidth = 190;

QLabel* line(QWidget* parent, const QFont& font, const QColor& colour) {
    auto* label = new QLabel(parent);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setTextFormat(Qt::PlainText);
    return label;
}

int lineHeight(const QLabel* label) {
    return QFontMetrics(label->font()).height() + 2;
}

// The text as it fits the label's width, elided where `mode` says; the whole text as the
// label's tip when it had to be shortened.
void fitText(QLabel* label, const QString& text, Qt::TextElideMode mode) {
    const QString shown = QFontMetrics(label->font()).elidedText(text, mode, label->width());
    label->setText(shown);
    label->setToolTip(shown == text ? QString() : text);
}

}  // namespace

CopyStrip::CopyStrip(QWidget* parent) : QWidget(parent) {
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);

    copyCaption = line(this, tahoma(19), QColor(255, 255, 0));
    copyCaption->setText(QStringLiteral("COPIA"));
    QFont mono(QStringLiteral("Courier New"));
    mono.setPixelSize(22);
    mono.setBold(true);
    copyLine = line(this, mono, Qt::white);
    summaryLine = line(this, tahoma(17), QColor(255, 255, 0));
    messageLine = line(this, tahoma(17), QColor(120, 255, 120));
    nextLevel = new QPushButton(QStringLiteral("LIVELLO SUCCESSIVO"), this);
    nextLevel->setFont(tahoma(13, true));
    nextLevel->hide();
    place();
}

void CopyStrip::setCopy(const QString& copy) {
    m_copy = copy;
    fitText(copyLine, m_copy, Qt::ElideLeft);  // the latest characters stay in view
}

void CopyStrip::setSummary(const QString& summary) {
    m_summary = summary;
    fitText(summaryLine, m_summary, Qt::ElideRight);
}

void CopyStrip::setMessage(const QString& message, bool error) {
    m_message = message;
    m_error = error;
    QPalette palette = messageLine->palette();
    palette.setColor(QPalette::WindowText, error ? QColor(255, 130, 130) : QColor(120, 255, 120));
    messageLine->setPalette(palette);
    place();
}

void CopyStrip::setNextLevelOffered(bool offered) {
    nextLevel->setVisible(offered);
    place();
}

int CopyStrip::heightNeeded() const {
    int height = kTopPadding + std::max(lineHeight(copyLine), lineHeight(copyCaption)) + kLineGap +
                 lineHeight(summaryLine);
    if (hasMessageLine()) {
        height += kLineGap + std::max(lineHeight(messageLine), nextLevel->sizeHint().height());
    }
    return height + kBottomPadding;
}

void CopyStrip::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    // A line apart from the grid above.
    QPainter painter(this);
    painter.setPen(QColor(90, 90, 90));
    painter.drawLine(0, 0, width() - 1, 0);
}

void CopyStrip::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    place();
}

void CopyStrip::place() {
    const int right = width() - kMargin;
    copyCaption->adjustSize();
    copyCaption->setGeometry(kMargin, kTopPadding, copyCaption->width(), lineHeight(copyCaption));
    const int copyLeft = copyCaption->x() + copyCaption->width() + 12;
    copyLine->setGeometry(copyLeft, kTopPadding, std::max(right - copyLeft, 0),
                          lineHeight(copyLine));
    const int summaryTop =
        kTopPadding + std::max(lineHeight(copyLine), lineHeight(copyCaption)) + kLineGap;
    summaryLine->setGeometry(kMargin, summaryTop, std::max(right - kMargin, 0),
                             lineHeight(summaryLine));

    const int messageTop = summaryTop + lineHeight(summaryLine) + kLineGap;
    const int rowHeight = std::max(lineHeight(messageLine), nextLevel->sizeHint().height());
    const int buttonWidth = std::max(kButtonMinimumWidth, nextLevel->sizeHint().width());
    nextLevel->setGeometry(right - buttonWidth, messageTop, buttonWidth, rowHeight);
    const int messageRight = nextLevel->isVisibleTo(this) ? nextLevel->x() - 12 : right;
    messageLine->setGeometry(kMargin, messageTop, std::max(messageRight - kMargin, 0), rowHeight);
    messageLine->setVisible(!m_message.isEmpty());

    fitText(copyLine, m_copy, Qt::ElideLeft);
    fitText(summaryLine, m_summary, Qt::ElideRight);
    fitText(messageLine, m_message, Qt::ElideMiddle);
}

}  // namespace dittix::training
