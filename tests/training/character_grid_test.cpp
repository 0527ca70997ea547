// The character grid on the offscreen platform: a cell looks exactly like the label it replaces,
// and a change repaints only the cells it touches.
#include "training/character_grid.h"

#include <QApplication>
#include <QLabel>
#include <QPaintEvent>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "support/named_rows.h"

namespace dittix::training {
namespace {

using test_support::PrintTo;
using test_support::rowName;

QImage blackImage(QSize size) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    return image;
}

// What a label showed before the grid was one widget: the cell's font and colour, sized to its
// character, on the grid's black.
QImage labelPicture(const QString& text, const char* colour) {
    QLabel label(text);
    label.setFont(CharacterGrid::cellFont());
    label.setStyleSheet(QStringLiteral("color: %1;").arg(QLatin1String(colour)));
    label.adjustSize();
    QImage image = blackImage(label.size());
    label.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

struct PixelRow {
    const char* name;
    char16_t glyph;
    int cell;
    CellColour colour;
    const char* labelColour;
};

class CellPixelsTest : public ::testing::TestWithParam<PixelRow> {};

TEST_P(CellPixelsTest, MatchTheLabelItReplaces) {
    const PixelRow& row = GetParam();
    const QString text(QChar(row.glyph));
    const QImage label = labelPicture(text, row.labelColour);

    CharacterGrid grid;
    grid.resize(1188, 1300);
    grid.setShown(true);
    std::u16string glyphs(static_cast<std::size_t>(row.cell) + 1, u' ');
    glyphs.back() = row.glyph;
    grid.setCells(glyphs);
    grid.setColour(row.cell, row.colour);
    const QRect where(grid.cellPos(row.cell), label.size());
    QImage cell = blackImage(label.size());
    grid.render(&cell, QPoint(), QRegion(where), QWidget::DrawChildren);

    int differing = 0;
    int lit = 0;
    for (int y = 0; y < label.height(); ++y) {
        for (int x = 0; x < label.width(); ++x) {
            differing += label.pixel(x, y) != cell.pixel(x, y) ? 1 : 0;
            lit += label.pixel(x, y) != qRgb(0, 0, 0) ? 1 : 0;
        }
    }
    EXPECT_GT(lit, 20) << "the label shows its character";
    EXPECT_EQ(differing, 0) << "of " << label.width() * label.height() << " pixels";
}

INSTANTIATE_TEST_SUITE_P(
    Characters, CellPixelsTest,
    ::testing::Values(PixelRow{"K_yellow", u'K', 0, CellColour::Yellow, "rgb(255, 255, 0)"},
                      PixelRow{"M_yellow_second_row", u'M', 37, CellColour::Yellow,
                               "rgb(255, 255, 0)"},
                      PixelRow{"zero_glyph", u'\u00D8', 5, CellColour::Yellow, "rgb(255, 255, 0)"},
                      PixelRow{"question_mark", u'?', 100, CellColour::Yellow, "rgb(255, 255, 0)"},
                      PixelRow{"comma", u',', 899, CellColour::Yellow, "rgb(255, 255, 0)"},
                      PixelRow{"bracket", u'(', 450, CellColour::Yellow, "rgb(255, 255, 0)"},
                      PixelRow{"W_widest", u'W', 35, CellColour::Yellow, "rgb(255, 255, 0)"},
                      PixelRow{"Q_highlighted", u'Q', 12, CellColour::Highlight, "rgb(255, 0, 0)"}),
    rowName);

TEST(CharacterGrid, CellsStandWhereTheLabelsStood) {
    CharacterGrid grid;
    EXPECT_EQ(grid.cellPos(0), QPoint(16, 4));
    EXPECT_EQ(grid.cellPos(37), QPoint(32 + 16, 50 + 4));
    grid.setColumns(30);
    EXPECT_EQ(grid.cellPos(30), QPoint(16, 54));
    EXPECT_EQ(grid.cellPos(899), QPoint(29 * 32 + 16, 29 * 50 + 4));
}

// Records the area of every paint the grid receives.
class PaintRecorder : public QObject {
  public:
    explicit PaintRecorder(QWidget& watched) { watched.installEventFilter(this); }
    QRegion painted;
    int paints = 0;

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            painted += static_cast<QPaintEvent*>(event)->region();
            ++paints;
        }
        return false;
    }
};

struct GridOnScreen {
    GridOnScreen() {
        grid.resize(1188, 1300);
        grid.setShown(true);
        grid.setCells(u"KMKMK KMKMK ");
        grid.show();
        QApplication::processEvents();
    }
    // The area repainted by `change`.
    QRegion repaintedBy(const std::function<void(CharacterGrid&)>& change) {
        PaintRecorder recorder(grid);
        change(grid);
        QApplication::processEvents();
        return recorder.painted;
    }
    CharacterGrid grid;
};

struct RepaintRow {
    const char* name;
    std::function<void(CharacterGrid&)> change;
    std::vector<int> cells;  // the cells whose areas are repainted, and nothing else
};

class RepaintTest : public ::testing::TestWithParam<RepaintRow> {};

TEST_P(RepaintTest, OnlyTheChangedCells) {
    GridOnScreen screen;
    const QRegion painted = screen.repaintedBy(GetParam().change);
    QRegion expected;
    for (const int k : GetParam().cells) {
        expected += screen.grid.cellRect(k);
    }
    EXPECT_EQ(painted, expected) << "painted " << painted.boundingRect().x() << ","
                                 << painted.boundingRect().y() << " "
                                 << painted.boundingRect().width() << "x"
                                 << painted.boundingRect().height();
}

INSTANTIATE_TEST_SUITE_P(
    Changes, RepaintTest,
    ::testing::Values(
        RepaintRow{
            "highlight_one", [](CharacterGrid& g) { g.setColour(3, CellColour::Highlight); }, {3}},
        RepaintRow{"highlight_moves_on",
                   [](CharacterGrid& g) {
                       g.setColour(6, CellColour::Yellow);
                       g.setColour(7, CellColour::Highlight);
                   },
                   {7}},
        RepaintRow{"the_same_colour_again",
                   [](CharacterGrid& g) { g.setColour(2, CellColour::Yellow); },
                   {}},
        RepaintRow{
            "the_same_text_again", [](CharacterGrid& g) { g.setCells(u"KMKMK KMKMK "); }, {}},
        RepaintRow{"text_changing_in_two_cells",
                   [](CharacterGrid& g) { g.setCells(u"KMKMM KMKMK K"); },
                   {4, 12}},
        RepaintRow{"a_shorter_text",
                   [](CharacterGrid& g) { g.setCells(u"KMKMK "); },
                   {6, 7, 8, 9, 10, 11}},
        RepaintRow{"a_mark", [](CharacterGrid& g) { g.setMark(8, CellColour::Wrong, u'H'); }, {8}},
        RepaintRow{"hiding_repaints_the_drawn_cells",
                   [](CharacterGrid& g) { g.setShown(false); },
                   {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}}),
    rowName);

TEST(CharacterGrid, MarksAreShownWhateverTheShowBoxSaysAndClearedByClearMarks) {
    CharacterGrid grid;
    grid.setCells(u"KMKMK ");
    EXPECT_FALSE(grid.cellShown(0));
    grid.setMark(0, CellColour::Right, 0);
    grid.setMark(1, CellColour::Wrong, u'K');
    grid.setMark(2, CellColour::Missed, u'X');
    EXPECT_TRUE(grid.cellShown(0));
    EXPECT_TRUE(grid.cellShown(2));
    EXPECT_FALSE(grid.cellShown(3)) << "unmarked cells follow the show box";
    EXPECT_EQ(grid.cellTyped(1), "K");
    EXPECT_TRUE(grid.cellTyped(2).isEmpty()) << "only a wrong cell shows what was typed";
    grid.clearMarks();
    EXPECT_FALSE(grid.cellShown(1));
    EXPECT_EQ(grid.cellColour(1), CellColour::Yellow);
    EXPECT_TRUE(grid.cellTyped(1).isEmpty());
    EXPECT_EQ(grid.cellText(1), "M");
}

}  // namespace
}  // namespace dittix::training
