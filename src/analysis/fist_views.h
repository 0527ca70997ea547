// The analysis window's drawings: a histogram of lengths in ticks with the decoder's thresholds,
// the last characters to scale beside their ideal, and a line of text in marked colours.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "analysis/send_drill.h"
#include "fist/fist_statistics.h"

namespace dittix::analysis {

using Bins = std::array<std::uint64_t, fist::kHistogramBins>;

// Bars of one class of lengths, stacked over the classes before it.
struct HistogramSeries {
    QString name;
    QColor colour;
    Bins counts{};

    friend bool operator==(const HistogramSeries&, const HistogramSeries&) = default;
};

// A threshold: lengths from `ticks` on fall on its far side.
struct HistogramLine {
    QString name;
    QColor colour;
    std::int32_t ticks = 0;
    bool dashed = false;

    friend bool operator==(const HistogramLine&, const HistogramLine&) = default;
};

struct HistogramData {
    QString title;
    std::vector<HistogramSeries> series;
    std::vector<HistogramLine> lines;
    // Lengths from here on (pauses, a held key) do not widen the axis; 0 for no such limit.
    std::int32_t rangeCap = 0;

    friend bool operator==(const HistogramData&, const HistogramData&) = default;
};

// How much of the length axis a histogram shows, in ticks: up to the longest threshold and the
// lengths below the range cap that hold 98 % of those counts, with room beyond both; at least 10
// ticks, at most the last bin. Longer lengths are counted as "oltre".
std::int32_t histogramEnd(const HistogramData& data);

// A histogram in milliseconds, one bar per tick (10 ms), with its thresholds as vertical lines.
class HistogramView : public QWidget {
  public:
    explicit HistogramView(QWidget* parent = nullptr);
    // Repaints only when the data changed.
    void setData(HistogramData data);
    const HistogramData& data() const { return m_data; }
    // Paintings made since creation, for the tests of what a refresh redraws.
    int paintCount() const { return m_paints; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    HistogramData m_data;
    int m_paints = 0;
};

// The last characters, each in a cell as wide as its longer version: the operator's elements and
// gaps in the upper row (elements in the decoder's class colours), the ideal at the measured speed
// in the lower row, the decoded text beneath. The ideal takes each element as the fist's own
// split makes it (a dot below the split, else a dash), so that a dash too short shows against a
// dash. Wraps into as many lines as its height holds, at a scale that fits them.
struct RecentData {
    std::vector<fist::RecentItem> items;
    std::optional<fist::IdealLengths> ideal;  // none without figures
    std::int32_t firstDashTicks = 0;          // the fist's split, with the ideal
    std::int32_t dotTime = 1;                 // scales the drawing when there is no ideal

    friend bool operator==(const RecentData& a, const RecentData& b);
};

class RecentView : public QWidget {
  public:
    explicit RecentView(QWidget* parent = nullptr);
    void setData(RecentData data);
    const RecentData& data() const { return m_data; }
    int paintCount() const { return m_paints; }

    // The characters drawn at the last painting, and the lines they took.
    int charactersDrawn() const { return m_charactersDrawn; }
    int linesDrawn() const { return m_linesDrawn; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    RecentData m_data;
    int m_paints = 0;
    int m_charactersDrawn = 0;
    int m_linesDrawn = 0;
};

// A line of characters each in the colour of its mark, wrapped at blanks; two lines high.
class MarkedLineView : public QWidget {
  public:
    MarkedLineView(QString caption, QWidget* parent = nullptr);
    void setLine(std::u16string text, std::vector<Shown> marks);
    const std::u16string& text() const { return m_text; }
    const std::vector<Shown>& marks() const { return m_marks; }

    // True when the last painting fit the whole text into the view.
    bool fitAtLastPaint() const { return m_fit; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    static QColor colourOf(Shown mark);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QString m_caption;
    std::u16string m_text;
    std::vector<Shown> m_marks;
    bool m_fit = true;
};

}  // namespace dittix::analysis
