// The analysis window's drawings.
#include "analysis/fist_views.h"

#include <QFontDatabase>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

#include "keying/morse_table.h"

namespace dittix::analysis {

namespace {

const QColor kBackground(255, 255, 255);
const QColor kFrame(160, 160, 160);
const QColor kAxis(90, 90, 90);
const QColor kGrid(225, 225, 225);
const QColor kText(20, 20, 20);
const QColor kFaint(120, 120, 120);

constexpr int kMargin = 8;

QFont boldOf(QFont font) {
    font.setBold(true);
    return font;
}

QString ms(std::int32_t ticks) {
    return QString::number(static_cast<std::int64_t>(ticks) * 10) + QStringLiteral(" ms");
}

// The step between the labels of the length axis, in milliseconds, for labels `labelWidth`
// pixels wide on an axis of `pixels` for `spanMs`.
int axisStepMs(int spanMs, int pixels, int labelWidth) {
    static constexpr std::array<int, 10> kSteps{10, 20, 50, 100, 200, 500, 1000, 2000, 5000, 10000};
    for (const int step : kSteps) {
        const double apart = static_cast<double>(pixels) * step / std::max(spanMs, 1);
        if (apart >= labelWidth + 12) {
            return step;
        }
    }
    return kSteps.back();
}

}  // namespace

// --- Histogram --------------------------------------------------------------------------------

std::int32_t histogramEnd(const HistogramData& data) {
    std::int32_t lineMax = 0;
    for (const HistogramLine& line : data.lines) {
        lineMax = std::max(lineMax, line.ticks);
    }
    const std::size_t cap =
        data.rangeCap > 0 ? std::min(static_cast<std::size_t>(data.rangeCap), fist::kHistogramBins)
                          : fist::kHistogramBins;
    std::uint64_t total = 0;
    Bins sum{};
    for (const HistogramSeries& s : data.series) {
        for (std::size_t b = 1; b < cap; ++b) {
            sum[b] += s.counts[b];
            total += s.counts[b];
        }
    }
    std::int32_t dataEnd = 0;
    if (total > 0) {
        std::uint64_t below = 0;
        for (std::size_t b = 1; b < cap; ++b) {
            below += sum[b];
            if (100 * below >= 98 * total) {
                dataEnd = static_cast<std::int32_t>(b) + 1;
                break;
            }
        }
    }
    const std::int32_t end = std::max({std::int32_t{10}, lineMax + std::max(lineMax / 4, 2),
                                       dataEnd + std::max(dataEnd / 10, 2)});
    return std::min(end, static_cast<std::int32_t>(fist::kHistogramBins));
}

HistogramView::HistogramView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void HistogramView::setData(HistogramData data) {
    if (data == m_data) {
        return;
    }
    m_data = std::move(data);
    update();
}

QSize HistogramView::sizeHint() const {
    return {460, 240};
}

QSize HistogramView::minimumSizeHint() const {
    const QFontMetrics fm(font());
    // The title, the legend, a label row for each line, a plot and the axis labels.
    return {320, 6 * fm.height() + 90};
}

void HistogramView::paintEvent(QPaintEvent*) {
    ++m_paints;
    QPainter p(this);
    p.fillRect(rect(), kBackground);
    p.setPen(kFrame);
    p.drawRect(rect().adjusted(0, 0, -1, -1));

    const QFontMetrics fm(font());
    const int lh = fm.height();
    int y = kMargin / 2;
    p.setPen(kText);
    p.setFont(boldOf(font()));
    p.drawText(QRect(kMargin, y, width() - 2 * kMargin, lh), Qt::AlignLeft | Qt::AlignVCenter,
               m_data.title);
    p.setFont(font());
    y += lh + 2;

    // The legend: a swatch and a name for each class.
    int x = kMargin;
    for (const HistogramSeries& s : m_data.series) {
        p.fillRect(QRect(x, y + lh / 2 - 5, 10, 10), s.colour);
        x += 14;
        p.setPen(kText);
        p.drawText(QRect(x, y, fm.horizontalAdvance(s.name) + 1, lh), Qt::AlignVCenter, s.name);
        x += fm.horizontalAdvance(s.name) + 16;
    }
    y += lh + 4;

    const std::int32_t end = histogramEnd(m_data);
    std::uint64_t tallest = 0;
    std::uint64_t beyond = 0;
    std::uint64_t total = 0;
    for (std::size_t b = 0; b < fist::kHistogramBins; ++b) {
        std::uint64_t stack = 0;
        for (const HistogramSeries& s : m_data.series) {
            stack += s.counts[b];
        }
        total += stack;
        if (static_cast<std::int32_t>(b) < end) {
            tallest = std::max(tallest, stack);
        } else {
            beyond += stack;
        }
    }

    const QString top = QString::number(std::max<std::uint64_t>(tallest, 1));
    const int left = kMargin + fm.horizontalAdvance(top) + 6;
    const int right = width() - kMargin - 2;
    const int labelsTop = y;
    const int plotTop = labelsTop + static_cast<int>(m_data.lines.size()) * lh + 2;
    const int plotBottom = height() - lh - 6;
    const int plotWidth = std::max(right - left, 1);
    const int plotHeight = std::max(plotBottom - plotTop, 1);
    const auto xAt = [&](double ticks) {
        return left + static_cast<int>(std::lround(ticks * plotWidth / end));
    };

    // Count axis: 0, half and the tallest bar.
    p.setPen(kGrid);
    p.drawLine(left, plotTop, right, plotTop);
    p.drawLine(left, plotTop + plotHeight / 2, right, plotTop + plotHeight / 2);
    p.setPen(kFaint);
    p.drawText(QRect(kMargin, plotTop - lh / 2, left - kMargin - 4, lh),
               Qt::AlignRight | Qt::AlignVCenter, top);
    p.drawText(QRect(kMargin, plotBottom - lh / 2, left - kMargin - 4, lh),
               Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("0"));

    // The bars, each class stacked on the ones before it.
    const double scale = tallest > 0 ? static_cast<double>(plotHeight) / tallest : 0;
    for (std::int32_t b = 1; b < end; ++b) {
        const int x0 = xAt(b);
        const int x1 = std::max(xAt(b + 1) - (plotWidth / end >= 4 ? 1 : 0), x0 + 1);
        std::uint64_t below = 0;
        for (const HistogramSeries& s : m_data.series) {
            const std::uint64_t c = s.counts[static_cast<std::size_t>(b)];
            if (c == 0) {
                continue;
            }
            const int yTop = plotBottom - static_cast<int>(std::lround((below + c) * scale));
            const int yBottom = plotBottom - static_cast<int>(std::lround(below * scale));
            p.fillRect(QRect(x0, yTop, x1 - x0, std::max(yBottom - yTop, 1)), s.colour);
            below += c;
        }
    }

    // Length axis in milliseconds.
    p.setPen(kAxis);
    p.drawLine(left, plotBottom, right, plotBottom);
    const int spanMs = end * 10;
    const int step = axisStepMs(spanMs, plotWidth, fm.horizontalAdvance(QStringLiteral("0000")));
    for (int t = 0; t <= spanMs; t += step) {
        const int at = xAt(t / 10.0);
        p.drawLine(at, plotBottom, at, plotBottom + 3);
        const QString label = QString::number(t);
        const int w = fm.horizontalAdvance(label);
        const int lx = std::clamp(at - w / 2, 1, width() - w - 1);
        p.drawText(QRect(lx, plotBottom + 4, w + 1, lh), Qt::AlignLeft | Qt::AlignTop, label);
    }

    // The thresholds, each named on a row of its own above the plot.
    for (std::size_t i = 0; i < m_data.lines.size(); ++i) {
        const HistogramLine& line = m_data.lines[i];
        const int at = xAt(line.ticks);
        QPen pen(line.colour, 2, line.dashed ? Qt::DashLine : Qt::SolidLine);
        p.setPen(pen);
        const int rowTop = labelsTop + static_cast<int>(i) * lh;
        p.drawLine(at, rowTop + lh / 2, at, plotBottom);
        const QString label = line.name + QStringLiteral(" ") + ms(line.ticks);
        const int w = fm.horizontalAdvance(label) + 1;
        const bool leftOfLine = at + 4 + w > width() - 2;
        const int lx = leftOfLine ? std::max(at - 4 - w, 2) : at + 4;
        p.setPen(line.colour.darker(130));
        p.drawText(QRect(lx, rowTop, w, lh), Qt::AlignLeft | Qt::AlignVCenter, label);
    }

    p.setPen(kFaint);
    if (total == 0) {
        p.drawText(QRect(left, plotTop, plotWidth, plotHeight), Qt::AlignCenter,
                   QStringLiteral("nessuna misura ancora: batti qualche carattere"));
    } else if (beyond > 0) {
        const QString more = QStringLiteral("+%1 oltre").arg(beyond);
        const int w = fm.horizontalAdvance(more) + 1;
        p.drawText(QRect(right - w, plotTop + 2, w, lh), Qt::AlignRight | Qt::AlignTop, more);
    }
}

// --- The last characters ----------------------------------------------------------------------

bool operator==(const RecentData& a, const RecentData& b) {
    const auto sameItem = [](const fist::RecentItem& x, const fist::RecentItem& y) {
        return x.what == y.what && x.ticks == y.ticks && x.text() == y.text();
    };
    const auto sameIdeal = [](const std::optional<fist::IdealLengths>& x,
                              const std::optional<fist::IdealLengths>& y) {
        if (x.has_value() != y.has_value()) {
            return false;
        }
        return !x || (x->dot == y->dot && x->dash == y->dash && x->elementGap == y->elementGap &&
                      x->characterGap == y->characterGap && x->wordGap == y->wordGap);
    };
    return a.firstDashTicks == b.firstDashTicks && a.dotTime == b.dotTime &&
           sameIdeal(a.ideal, b.ideal) &&
           std::equal(a.items.begin(), a.items.end(), b.items.begin(), b.items.end(), sameItem);
}

namespace {

const QColor kDotColour(37, 99, 235);
const QColor kDashColour(234, 118, 0);
const QColor kIdealColour(110, 110, 110);
const QColor kUnknownColour(200, 0, 0);

// One stretch of a row: an element (in its colour) or a gap, with its length in ticks.
struct Piece {
    bool element = false;
    bool dash = false;  // the decoder's class (operator) or the fist's (ideal)
    double ticks = 0;
    bool clipped = false;
};

struct Cell {
    std::vector<Piece> keyed;
    std::vector<Piece> ideal;
    QString text;
    bool unknown = false;
    double ticks = 0;  // the longer of the two rows
};

std::vector<Cell> cellsOf(const RecentData& data) {
    using keying::Measured;
    using keying::MeasurementKind;
    const double dot = data.ideal ? data.ideal->dot : std::max(data.dotTime, 1);
    const double clip = fist::kPauseDots * dot;
    std::vector<Cell> cells;
    Cell cell;
    bool closed = false;  // the cell's character has been decoded
    bool any = false;
    const auto finish = [&] {
        double keyed = 0;
        for (const Piece& piece : cell.keyed) {
            keyed += piece.ticks;
        }
        double ideal = 0;
        for (const Piece& piece : cell.ideal) {
            ideal += piece.ticks;
        }
        cell.ticks = std::max(keyed, ideal);
        if (!closed) {
            cell.text = QStringLiteral("…");
        }
        cells.push_back(std::move(cell));
        cell = {};
        closed = false;
        any = false;
    };
    for (const fist::RecentItem& item : data.items) {
        switch (keying::kindOf(item.what)) {
            case MeasurementKind::KeyDown: {
                if (closed) {
                    finish();
                }
                any = true;
                cell.keyed.push_back(
                    {true, item.what == Measured::Dash, static_cast<double>(item.ticks), false});
                if (data.ideal) {
                    const bool dash = item.ticks >= data.firstDashTicks;
                    cell.ideal.push_back({true, dash, dash ? data.ideal->dash : data.ideal->dot});
                }
                break;
            }
            case MeasurementKind::KeyUp: {
                const double ticks = std::min<double>(item.ticks, clip);
                cell.keyed.push_back({false, false, ticks, item.ticks > clip});
                if (data.ideal) {
                    double ideal = data.ideal->elementGap;
                    if (closed && item.ticks >= fist::kWordGapDots * dot) {
                        ideal = data.ideal->wordGap;
                    } else if (closed && item.ticks >= fist::kCharacterGapDots * dot) {
                        ideal = data.ideal->characterGap;
                    }
                    cell.ideal.push_back({false, false, ideal});
                }
                break;
            }
            case MeasurementKind::Character: {
                if (closed) {
                    finish();  // a character decoded without elements of its own
                }
                any = true;
                closed = true;
                const std::u16string_view text = item.text();
                cell.unknown = text == keying::kUnknownCode;
                cell.text = QString(reinterpret_cast<const QChar*>(text.data()),
                                    static_cast<qsizetype>(text.size()))
                                .toUpper();
                break;
            }
        }
    }
    if (any) {
        finish();
    }
    return cells;
}

constexpr int kRowHeight = 12;
constexpr int kRowGap = 6;

}  // namespace

RecentView::RecentView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void RecentView::setData(RecentData data) {
    if (data == m_data) {
        return;
    }
    m_data = std::move(data);
    update();
}

QSize RecentView::sizeHint() const {
    const QFontMetrics fm(font());
    return {900, fm.height() + 8 + 2 * (2 * kRowHeight + 2 * kRowGap + fm.height() + 8) + 4};
}

QSize RecentView::minimumSizeHint() const {
    return {600, sizeHint().height()};
}

void RecentView::paintEvent(QPaintEvent*) {
    ++m_paints;
    QPainter p(this);
    p.fillRect(rect(), kBackground);
    p.setPen(kFrame);
    p.drawRect(rect().adjusted(0, 0, -1, -1));

    const QFontMetrics fm(font());
    const int lh = fm.height();
    p.setPen(kText);
    p.setFont(boldOf(font()));
    const QString title = QStringLiteral("ULTIMI 20 CARATTERI IN SCALA");
    p.drawText(QRect(kMargin, 4, fm.horizontalAdvance(title) * 2, lh), Qt::AlignVCenter, title);
    p.setFont(font());

    const std::vector<Cell> cells = cellsOf(m_data);
    m_charactersDrawn = 0;
    m_linesDrawn = 0;
    const int captionWidth = std::max(fm.horizontalAdvance(QStringLiteral("Tu")),
                                      fm.horizontalAdvance(QStringLiteral("Ideale"))) +
                             2 * kMargin;
    const int left = kMargin + captionWidth;
    const int right = width() - kMargin;
    const int top = 4 + lh + 4;
    const int lineHeight = 2 * kRowHeight + 2 * kRowGap + lh + 8;
    const int lines = std::max((height() - top - 4) / lineHeight, 1);
    if (cells.empty()) {
        p.setPen(kFaint);
        p.drawText(QRect(left, top, right - left, height() - top - 4), Qt::AlignCenter,
                   QStringLiteral("Batti qualche carattere: i suoi punti, le linee e le pause "
                                  "compariranno qui."));
        return;
    }

    // The largest scale, up to 3 pixels a tick, at which the cells wrap into the lines there are.
    std::vector<int> widths(cells.size());
    std::vector<int> lineOf(cells.size());
    double scale = 3.0;
    for (int attempt = 0; attempt < 80; ++attempt) {
        int line = 0;
        int x = left;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            widths[i] = std::max(static_cast<int>(std::ceil(cells[i].ticks * scale)),
                                 fm.horizontalAdvance(cells[i].text) + 6);
            if (x + widths[i] > right && x > left) {
                ++line;
                x = left;
            }
            lineOf[i] = line;
            x += widths[i];
        }
        if (line < lines) {
            break;
        }
        scale *= 0.9;
    }

    int x = left;
    int line = -1;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const int y = top + lineOf[i] * lineHeight;
        if (lineOf[i] != line) {
            line = lineOf[i];
            x = left;
            if (y + lineHeight > height()) {
                break;  // no room left: the older characters stay drawn
            }
            ++m_linesDrawn;
            p.setPen(kFaint);
            p.drawText(QRect(kMargin, y, captionWidth, kRowHeight), Qt::AlignVCenter,
                       QStringLiteral("Tu"));
            p.drawText(QRect(kMargin, y + kRowHeight + kRowGap, captionWidth, kRowHeight),
                       Qt::AlignVCenter, QStringLiteral("Ideale"));
        }
        const Cell& cell = cells[i];
        const auto drawRow = [&](const std::vector<Piece>& pieces, int rowTop, bool ideal) {
            double at = x;
            p.setPen(kGrid);
            p.drawLine(x, rowTop + kRowHeight / 2, x + widths[i] - 2, rowTop + kRowHeight / 2);
            for (const Piece& piece : pieces) {
                const double w = piece.ticks * scale;
                if (piece.element) {
                    const QColor colour = ideal        ? kIdealColour
                                          : piece.dash ? kDashColour
                                                       : kDotColour;
                    p.fillRect(QRectF(at, rowTop, std::max(w, 1.0), kRowHeight), colour);
                } else if (piece.clipped) {
                    // A pause cut short: two slanted strokes mark the cut.
                    p.setPen(kFaint);
                    const double mid = at + w / 2;
                    p.drawLine(QPointF(mid - 4, rowTop + kRowHeight), QPointF(mid, rowTop));
                    p.drawLine(QPointF(mid, rowTop + kRowHeight), QPointF(mid + 4, rowTop));
                }
                at += w;
            }
        };
        drawRow(cell.keyed, y, false);
        if (m_data.ideal) {
            drawRow(cell.ideal, y + kRowHeight + kRowGap, true);
        }
        p.setPen(cell.unknown ? kUnknownColour : kText);
        p.drawText(QRect(x, y + 2 * kRowHeight + 2 * kRowGap, widths[i], lh),
                   Qt::AlignLeft | Qt::AlignTop, cell.text);
        ++m_charactersDrawn;
        x += widths[i];
    }
    if (!m_data.ideal) {
        p.setPen(kFaint);
        const QString note = QStringLiteral("(l'ideale compare con almeno 10 elementi)");
        const int w = fm.horizontalAdvance(note) + 1;
        p.drawText(QRect(right - w, 4, w, lh), Qt::AlignRight | Qt::AlignVCenter, note);
    }
}

// --- A marked line ----------------------------------------------------------------------------

MarkedLineView::MarkedLineView(QString caption, QWidget* parent)
    : QWidget(parent), m_caption(std::move(caption)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void MarkedLineView::setLine(std::u16string text, std::vector<Shown> marks) {
    if (text == m_text && marks == m_marks) {
        return;
    }
    m_text = std::move(text);
    m_marks = std::move(marks);
    update();
}

QColor MarkedLineView::colourOf(Shown mark) {
    switch (mark) {
        case Shown::Right:
            return {0, 140, 0};
        case Shown::Wrong:
        case Shown::Extra:
            return {210, 0, 0};
        case Shown::Missed:
            return {210, 90, 90};
        case Shown::Blank:
        case Shown::Pending:
            break;
    }
    return kText;
}

namespace {

constexpr int kLargestPixels = 28;
constexpr int kSmallestPixels = 12;

QFont lineFont(int pixels) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(pixels);
    font.setBold(true);
    return font;
}

QString glyphOf(char16_t c) {
    return c == kUnknownKeyed ? QStringLiteral("ER") : QString(QChar(c));
}

}  // namespace

QSize MarkedLineView::sizeHint() const {
    const QFontMetrics fm(lineFont(kLargestPixels));
    return {900, 2 * fm.height() + 8};
}

QSize MarkedLineView::minimumSizeHint() const {
    return {400, sizeHint().height()};
}

void MarkedLineView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), kBackground);
    p.setPen(kFrame);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    const QFontMetrics small(font());
    p.setPen(kFaint);
    const int captionWidth = small.horizontalAdvance(m_caption) + 2 * kMargin;
    p.drawText(QRect(kMargin, 4, captionWidth, small.height()), Qt::AlignVCenter, m_caption);
    const int left = captionWidth + kMargin;
    const int right = width() - kMargin;

    // The words as they wrap at a size: the first size, from the largest down, at which the whole
    // text takes at most the lines the view holds.
    struct Placed {
        std::size_t index;
        int x;
        int line;
    };
    std::vector<Placed> placed;
    QFont font = lineFont(kLargestPixels);
    m_fit = false;
    for (int pixels = kLargestPixels; pixels >= kSmallestPixels; pixels -= 2) {
        font = lineFont(pixels);
        const QFontMetrics fm(font);
        const int lines = std::max((height() - 8) / fm.height(), 1);
        placed.clear();
        int x = left;
        int line = 0;
        std::size_t k = 0;
        while (k < m_text.size()) {
            std::size_t end = k;
            int w = 0;
            while (end < m_text.size() && m_text[end] != u' ') {
                w += fm.horizontalAdvance(glyphOf(m_text[end]));
                ++end;
            }
            if (x + w > right && x > left) {
                ++line;
                x = left;
            }
            for (std::size_t c = k; c < end; ++c) {
                placed.push_back({c, x, line});
                x += fm.horizontalAdvance(glyphOf(m_text[c]));
            }
            if (end < m_text.size()) {
                x += fm.horizontalAdvance(QChar(u' '));
            }
            k = end + 1;
        }
        if (line < lines && x <= right) {
            m_fit = true;
            break;
        }
    }
    p.setFont(font);
    const QFontMetrics fm(font);
    for (const Placed& at : placed) {
        const Shown mark = at.index < m_marks.size() ? m_marks[at.index] : Shown::Pending;
        QFont drawn = font;
        drawn.setStrikeOut(mark == Shown::Missed);
        drawn.setUnderline(mark == Shown::Extra);
        p.setFont(drawn);
        p.setPen(colourOf(mark));
        const QString glyph = glyphOf(m_text[at.index]);
        p.drawText(
            QRect(at.x, 4 + at.line * fm.height(), fm.horizontalAdvance(glyph) + 1, fm.height()),
            Qt::AlignLeft | Qt::AlignVCenter, glyph);
    }
}

}  // namespace dittix::analysis
