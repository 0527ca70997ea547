// The progress window's charts, laid out and drawn.
#include "training/progress_charts.h"

#include <QDateTime>
#include <QFontMetricsF>
#include <QLineF>
#include <QLinearGradient>
#include <QList>
#include <QPainter>
#include <QPen>
#include <QPolygonF>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <utility>

#include "training/exercise.h"
#include "training/fonts.h"

namespace dittix::training {

namespace {

constexpr qreal kPadding = 12.0;  // around the picture's edges
constexpr qreal kGap = 8.0;       // between the title, the axes and the legend
constexpr qreal kLabelGap = 6.0;  // between an axis and its labels
constexpr qreal kLegendSquare = 9.0;
constexpr qreal kLegendSpacing = 16.0;  // between two entries of the legend
constexpr qreal kLineWidth = 2.0;
// More points than this in a level's line are drawn without their discs.
constexpr std::size_t kMarkedPoints = 300;
constexpr qreal kMarkerRadius = 9.0;
constexpr std::size_t kNamedLevels = 8;
constexpr double kPassLine = 90.0;
constexpr int kTimeTicks = 7;
constexpr double kBarWidth = 0.7;  // of a character's column

const QColor kText(255, 255, 255);
const QColor kGrid(0x86, 0x87, 0x8c);
const QColor kPass(255, 255, 0);
const QColor kWeak(230, 80, 80);
const QColor kStrong(80, 200, 100);
const QColor kBarEdge(0xd0, 0xd0, 0xd0);
// The levels' lines take these in turn.
const std::array<QColor, 5> kLineColours{QColor(0x38, 0xad, 0x6b), QColor(0x3c, 0x84, 0xa7),
                                         QColor(0xeb, 0x88, 0x17), QColor(0x7b, 0x7f, 0x8c),
                                         QColor(0xbf, 0x59, 0x3e)};

QFont titleFont() {
    return tahoma(17, true);
}
QFont legendFont() {
    return tahoma(13);
}
QFont labelFont() {
    return tahoma(12);
}
QFont categoryFont() {
    return tahoma(15, true);
}

QString percentLabel(int percent) {
    return QStringLiteral("%1 %").arg(percent);
}

qreal percentLabelWidth() {
    return QFontMetricsF(labelFont()).horizontalAdvance(percentLabel(100));
}

qreal yOf(const QRectF& plot, double percent) {
    return plot.bottom() - percent / 100.0 * plot.height();
}

// The rectangle between the title and the legend.
QRectF bodyOf(QSize size) {
    const qreal top = kPadding + QFontMetricsF(titleFont()).height() + kGap;
    const qreal bottom = size.height() - kPadding - QFontMetricsF(legendFont()).height() - kGap;
    return {QPointF(kPadding, top),
            QPointF(std::max(kPadding, size.width() - kPadding), std::max(top, bottom))};
}

// A plot rectangle never narrower or lower than a pixel, whatever the picture's size.
QRectF plotBetween(qreal left, qreal top, qreal right, qreal bottom) {
    return {QPointF(left, top), QPointF(std::max(left + 1, right), std::max(top + 1, bottom))};
}

QImage newPicture(QSize size, qreal pixelRatio) {
    QImage image(static_cast<int>(std::ceil(std::max(size.width(), 1) * pixelRatio)),
                 static_cast<int>(std::ceil(std::max(size.height(), 1) * pixelRatio)),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(pixelRatio);
    return image;
}

// The background, the title at the top and the legend centred at the bottom.
void drawFrame(QPainter& painter, QSize size, const QString& title,
               const std::vector<LegendEntry>& legend) {
    QLinearGradient background(0, 0, 0, size.height());
    background.setColorAt(0.0, QColor(0x2e, 0x30, 0x3a));
    background.setColorAt(1.0, QColor(0x12, 0x12, 0x18));
    painter.fillRect(QRectF(QPointF(0, 0), QSizeF(size)), background);

    painter.setPen(kText);
    const QFontMetricsF titleMetrics(titleFont());
    const qreal width = size.width() - 2 * kPadding;
    painter.setFont(titleFont());
    painter.drawText(QRectF(kPadding, kPadding, width, titleMetrics.height()), Qt::AlignCenter,
                     titleMetrics.elidedText(title, Qt::ElideRight, width));

    const QFontMetricsF metrics(legendFont());
    qreal total = 0;
    for (const LegendEntry& entry : legend) {
        total += kLegendSquare + kLabelGap + metrics.horizontalAdvance(entry.name);
    }
    total += kLegendSpacing * static_cast<qreal>(std::max<std::size_t>(legend.size(), 1) - 1);
    qreal x = std::max(kPadding, (size.width() - total) / 2);
    const qreal y = size.height() - kPadding - metrics.height();
    painter.setFont(legendFont());
    for (const LegendEntry& entry : legend) {
        painter.fillRect(
            QRectF(x, y + (metrics.height() - kLegendSquare) / 2, kLegendSquare, kLegendSquare),
            entry.colour);
        x += kLegendSquare + kLabelGap;
        painter.drawText(QPointF(x, y + metrics.ascent()), entry.name);
        x += metrics.horizontalAdvance(entry.name) + kLegendSpacing;
    }
}

// A grid line on whole pixels, so that it stays one sharp pixel wide.
void gridLine(QPainter& painter, QPointF from, QPointF to) {
    painter.drawLine(QPointF(std::floor(from.x()) + 0.5, std::floor(from.y()) + 0.5),
                     QPointF(std::floor(to.x()) + 0.5, std::floor(to.y()) + 0.5));
}

// A line and a label at every `step` from 0 to 100 %, and the plot's frame.
void drawPercentAxis(QPainter& painter, const QRectF& plot, int step) {
    const QFontMetricsF metrics(labelFont());
    painter.setFont(labelFont());
    for (int percent = 0; percent <= 100; percent += step) {
        const qreal y = yOf(plot, percent);
        painter.setPen(kGrid);
        gridLine(painter, QPointF(plot.left(), y), QPointF(plot.right(), y));
        painter.setPen(kText);
        painter.drawText(QRectF(plot.left() - kLabelGap - percentLabelWidth(),
                                y - metrics.height() / 2, percentLabelWidth(), metrics.height()),
                         Qt::AlignRight | Qt::AlignVCenter, percentLabel(percent));
    }
    painter.setPen(kGrid);
    gridLine(painter, plot.topLeft(), plot.bottomLeft());
    gridLine(painter, plot.topRight(), plot.bottomRight());
}

QString timeLabel(std::int64_t seconds, const QString& format) {
    return QDateTime::fromSecsSinceEpoch(seconds).toString(format);
}

}  // namespace

AccuracyChart::AccuracyChart(std::vector<persistence::LevelSeries> levels, QSize size)
    : m_levels(std::move(levels)), m_size(size), m_body(bodyOf(size)) {
    std::int64_t first = std::numeric_limits<std::int64_t>::max();
    std::int64_t last = std::numeric_limits<std::int64_t>::min();
    for (const persistence::LevelSeries& level : m_levels) {
        for (const persistence::AccuracyPoint& point : level.points) {
            first = std::min(first, point.unixSeconds);
            last = std::max(last, point.unixSeconds);
        }
    }
    if (first > last) {
        first = last = 0;
    }
    // A margin on both sides, and an hour at least, so that a single exercise stands inside.
    const std::int64_t margin = std::max<std::int64_t>((last - first) / 40, 1800);
    m_from = first - margin;
    m_to = last + margin;
    m_timeFormat =
        last - first > 2 * 24 * 3600 ? QStringLiteral("dd/MM/yy") : QStringLiteral("dd/MM HH:mm");

    const QStringList names = lineNames();
    const std::size_t count = m_levels.size();
    for (std::size_t k = count > kNamedLevels ? count - kNamedLevels : 0; k < count; ++k) {
        m_legend.push_back({names[static_cast<qsizetype>(k)], lineColour(k)});
    }
    m_legend.push_back({names.back(), kPass});

    // The time labels stand centred under their ticks, the first and the last at the plot's
    // edges; the percentages stand left of it.
    const QFontMetricsF metrics(labelFont());
    const qreal timeWidth = std::max(metrics.horizontalAdvance(timeLabel(m_from, m_timeFormat)),
                                     metrics.horizontalAdvance(timeLabel(m_to, m_timeFormat)));
    m_plot = plotBetween(m_body.left() + std::max(percentLabelWidth() + kLabelGap, timeWidth / 2),
                         m_body.top() + metrics.height() / 2, m_body.right() - timeWidth / 2,
                         m_body.bottom() - metrics.height() - kLabelGap);
}

QStringList AccuracyChart::lineNames() const {
    QStringList names;
    for (const persistence::LevelSeries& level : m_levels) {
        names.append(QStringLiteral("Liv. %1").arg(level.level));
    }
    names.append(QStringLiteral("90 %"));
    return names;
}

QColor AccuracyChart::lineColour(std::size_t level) const {
    return kLineColours[level % kLineColours.size()];
}

bool AccuracyChart::marked(std::size_t level) const {
    return m_levels[level].points.size() <= kMarkedPoints;
}

QPointF AccuracyChart::position(std::size_t level, std::size_t point) const {
    const persistence::AccuracyPoint& p = m_levels[level].points[point];
    const double along =
        static_cast<double>(p.unixSeconds - m_from) / static_cast<double>(m_to - m_from);
    return {m_plot.left() + along * m_plot.width(), yOf(m_plot, p.accuracyTenths / 10.0)};
}

QImage AccuracyChart::draw(qreal pixelRatio) const {
    QImage image = newPicture(m_size, pixelRatio);
    QPainter painter(&image);
    drawFrame(painter, m_size, QStringLiteral("Precisione di ogni esercizio, per livello"),
              m_legend);
    drawPercentAxis(painter, m_plot, 10);

    const QFontMetricsF metrics(labelFont());
    for (int tick = 0; tick < kTimeTicks; ++tick) {
        const std::int64_t at = m_from + (m_to - m_from) * tick / (kTimeTicks - 1);
        const qreal x = m_plot.left() + m_plot.width() * tick / (kTimeTicks - 1);
        painter.setPen(kGrid);
        gridLine(painter, QPointF(x, m_plot.top()), QPointF(x, m_plot.bottom()));
        const QString label = timeLabel(at, m_timeFormat);
        const qreal width = metrics.horizontalAdvance(label);
        painter.setPen(kText);
        painter.drawText(
            QRectF(x - width / 2, m_plot.bottom() + kLabelGap, width + 1, metrics.height()),
            Qt::AlignCenter, label);
    }

    painter.setRenderHint(QPainter::Antialiasing);
    for (std::size_t k = 0; k < m_levels.size(); ++k) {
        const std::size_t count = m_levels[k].points.size();
        QPolygonF line;
        line.reserve(static_cast<qsizetype>(count));
        for (std::size_t p = 0; p < count; ++p) {
            line.append(position(k, p));
        }
        // Drawn a segment at a time, square ends closing the corners: stroked as one path, a
        // line of 10 000 points took four times as long (the outline of a path that crosses
        // itself thousands of times).
        QList<QLineF> segments;
        segments.reserve(line.size());
        for (qsizetype i = 1; i < line.size(); ++i) {
            segments.append(QLineF(line[i - 1], line[i]));
        }
        painter.setPen(QPen(lineColour(k), kLineWidth, Qt::SolidLine, Qt::SquareCap));
        painter.drawLines(segments);
        if (marked(k)) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(lineColour(k));
            for (const QPointF& at : line) {
                painter.drawEllipse(at, kMarkerRadius, kMarkerRadius);
            }
            painter.setBrush(Qt::NoBrush);
        }
    }
    painter.setPen(QPen(kPass, 2, Qt::DashLine));
    const qreal pass = yOf(m_plot, kPassLine);
    painter.drawLine(QPointF(m_plot.left(), pass), QPointF(m_plot.right(), pass));
    return image;
}

CharacterChart::CharacterChart(std::vector<persistence::CharacterAccuracy> characters,
                               std::size_t exercises, QSize size)
    : m_characters(std::move(characters)),
      m_title(exercises == 1
                  ? QStringLiteral(
                        "Precisione per carattere nell'ultimo esercizio, dal pi\u00f9 debole")
                  : QStringLiteral(
                        "Precisione per carattere negli ultimi %1 esercizi, dal pi\u00f9 debole")
                        .arg(exercises)),
      m_size(size),
      m_legend{{QStringLiteral("sotto il 90 %"), kWeak},
               {QStringLiteral("dal 90 % in su"), kStrong}},
      m_body(bodyOf(size)) {
    const QFontMetricsF labels(labelFont());
    m_plot = plotBetween(m_body.left() + percentLabelWidth() + kLabelGap,
                         m_body.top() + labels.height() / 2, m_body.right() - kLabelGap,
                         m_body.bottom() - QFontMetricsF(categoryFont()).height() - kLabelGap);
}

QStringList CharacterChart::categories() const {
    QStringList names;
    for (const persistence::CharacterAccuracy& c : m_characters) {
        names.append(QString(QChar(gridGlyph(c.character))));
    }
    return names;
}

QRectF CharacterChart::bar(std::size_t character) const {
    const qreal column = m_plot.width() / static_cast<qreal>(m_characters.size());
    const qreal centre = m_plot.left() + column * (static_cast<qreal>(character) + 0.5);
    const qreal top = yOf(m_plot, m_characters[character].accuracyTenths / 10.0);
    return {QPointF(centre - column * kBarWidth / 2, top),
            QPointF(centre + column * kBarWidth / 2, m_plot.bottom())};
}

QColor CharacterChart::barColour(std::size_t character) const {
    return m_characters[character].accuracyTenths / 10.0 < kPassLine ? kWeak : kStrong;
}

QImage CharacterChart::draw(qreal pixelRatio) const {
    QImage image = newPicture(m_size, pixelRatio);
    QPainter painter(&image);
    drawFrame(painter, m_size, m_title, m_legend);
    drawPercentAxis(painter, m_plot, 20);

    const QStringList names = categories();
    const qreal column = m_characters.empty()
                             ? m_plot.width()
                             : m_plot.width() / static_cast<qreal>(m_characters.size());
    const QFontMetricsF metrics(categoryFont());
    painter.setFont(categoryFont());
    for (std::size_t k = 0; k < m_characters.size(); ++k) {
        const qreal left = m_plot.left() + column * static_cast<qreal>(k);
        painter.setPen(kGrid);
        gridLine(painter, QPointF(left, m_plot.top()), QPointF(left, m_plot.bottom()));
        painter.setPen(kText);
        painter.drawText(QRectF(left, m_plot.bottom() + kLabelGap, column, metrics.height()),
                         Qt::AlignCenter, names[static_cast<qsizetype>(k)]);
        const QRectF filled = bar(k);
        if (filled.height() > 0) {
            painter.setPen(kBarEdge);
            painter.setBrush(barColour(k));
            painter.drawRect(filled.adjusted(0.5, 0.5, -0.5, 0));
            painter.setBrush(Qt::NoBrush);
        }
    }
    return image;
}

}  // namespace dittix::training
