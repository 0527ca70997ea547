// The progress window's two charts, laid out for a picture of a given size and drawn into an
// image. Only fonts, images and painters: the window draws them on its reading thread.
#pragma once

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QSize>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "persistence/training_progress.h"

namespace dittix::training {

struct LegendEntry {
    QString name;
    QColor colour;
};

// The accuracy of each receive exercise over time, a line of its own colour for each level, and
// the 90 % line.
class AccuracyChart {
  public:
    AccuracyChart(std::vector<persistence::LevelSeries> levels, QSize size);

    // One name for each level ("Liv. 4"), then the 90 % line's.
    QStringList lineNames() const;
    // The highest levels (at most eight: forty names do not fit a line, and a cut name tells
    // nothing), then the 90 % line.
    const std::vector<LegendEntry>& legend() const { return m_legend; }
    QColor lineColour(std::size_t level) const;
    // A line of up to 300 points has a disc on each.
    bool marked(std::size_t level) const;
    // The centre of a level's point in the picture.
    QPointF position(std::size_t level, std::size_t point) const;
    QRectF plot() const { return m_plot; }
    QSize size() const { return m_size; }
    QImage draw(qreal pixelRatio) const;

  private:
    std::vector<persistence::LevelSeries> m_levels;
    QSize m_size;
    std::vector<LegendEntry> m_legend;
    std::int64_t m_from = 0;  // the time axis, in seconds
    std::int64_t m_to = 1;
    QString m_timeFormat;
    QRectF m_body;  // between the title and the legend
    QRectF m_plot;
};

// The latest exercises' accuracy for each character, weakest first: red bars under 90 %, green
// ones from 90 % up.
class CharacterChart {
  public:
    CharacterChart(std::vector<persistence::CharacterAccuracy> characters, std::size_t exercises,
                   QSize size);

    QString title() const { return m_title; }
    QStringList categories() const;
    const std::vector<LegendEntry>& legend() const { return m_legend; }
    // A character's bar in the picture (empty at 0 %), and its colour.
    QRectF bar(std::size_t character) const;
    QColor barColour(std::size_t character) const;
    QRectF plot() const { return m_plot; }
    QSize size() const { return m_size; }
    QImage draw(qreal pixelRatio) const;

  private:
    std::vector<persistence::CharacterAccuracy> m_characters;
    QString m_title;
    QSize m_size;
    std::vector<LegendEntry> m_legend;
    QRectF m_body;
    QRectF m_plot;
};

}  // namespace dittix::training
