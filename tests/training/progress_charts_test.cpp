// The progress charts laid out and drawn: where the exercises and the bars stand, the colour of a
// bar on either side of 90 %, the legend's colours, and pictures of any size.
#include "training/progress_charts.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>

#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "support/named_rows.h"

namespace dittix::training {
namespace {

using persistence::AccuracyPoint;
using persistence::CharacterAccuracy;
using persistence::LevelSeries;
using test_support::rowName;

constexpr std::int64_t kStart = 1796907802;
constexpr std::int64_t kHour = 3600;

LevelSeries level(int number, const std::vector<std::pair<std::int64_t, int>>& points) {
    LevelSeries series;
    series.level = number;
    for (const auto& [seconds, tenths] : points) {
        series.points.push_back(AccuracyPoint{kStart + seconds, tenths, series.points.size()});
    }
    return series;
}

CharacterAccuracy character(char16_t c, int tenths) {
    return CharacterAccuracy{c, 10, tenths / 100, tenths};
}

struct PlaceRow {
    const char* name;
    std::vector<std::pair<std::int64_t, int>> points;  // seconds after the start, tenths of %
    std::size_t point;
    double across;  // where it stands, as a share of the plot's width from its left
    double up;      // and of its height from its bottom
};

class PlaceTest : public ::testing::TestWithParam<PlaceRow> {};

TEST_P(PlaceTest, TimeRunsAcrossAndAccuracyUp) {
    const PlaceRow& p = GetParam();
    const AccuracyChart chart({level(1, p.points)}, QSize(900, 420));
    const QRectF plot = chart.plot();
    const QPointF at = chart.position(0, p.point);
    EXPECT_NEAR(at.x(), plot.left() + p.across * plot.width(), 0.01);
    EXPECT_NEAR(at.y(), plot.bottom() - p.up * plot.height(), 0.01);
}

// Two days apart the margin on each side is a fortieth of the span (1.2 h); ten hours apart a
// fortieth would be a quarter of an hour, so it is the least margin, half an hour.
INSTANTIATE_TEST_SUITE_P(
    Table, PlaceTest,
    ::testing::Values(
        PlaceRow{"OneExerciseInTheMiddle", {{0, 500}}, 0, 0.5, 0.5},
        PlaceRow{"TheFirstOfTwoDaysApart", {{0, 1000}, {48 * kHour, 0}}, 0, 1.0 / 42, 1.0},
        PlaceRow{"TheLastOfTwoDaysApart", {{0, 1000}, {48 * kHour, 0}}, 1, 41.0 / 42, 0.0},
        PlaceRow{"TheFirstOfTenHoursApart", {{0, 900}, {10 * kHour, 900}}, 0, 0.5 / 11, 0.9},
        PlaceRow{"BetweenThem", {{0, 900}, {5 * kHour, 333}, {10 * kHour, 900}}, 1, 0.5, 0.333}),
    rowName);

TEST(AccuracyChartColours, FiveInTurnAndTheLegendsAreTheLines) {
    std::vector<LevelSeries> levels;
    for (int number = 1; number <= 10; ++number) {
        levels.push_back(level(number, {{number * kHour, 800}}));
    }
    const AccuracyChart chart(levels, QSize(900, 420));
    for (std::size_t k = 0; k < 5; ++k) {
        EXPECT_EQ(chart.lineColour(k), chart.lineColour(k + 5)) << k;
        for (std::size_t other = k + 1; other < 5; ++other) {
            EXPECT_NE(chart.lineColour(k), chart.lineColour(other)) << k << " and " << other;
        }
    }
    // The legend names levels 3 to 10, each in its line's colour, then the 90 % line.
    ASSERT_EQ(chart.legend().size(), 9U);
    for (std::size_t k = 0; k < 8; ++k) {
        EXPECT_EQ(chart.legend()[k].name, QStringLiteral("Liv. %1").arg(k + 3));
        EXPECT_EQ(chart.legend()[k].colour, chart.lineColour(k + 2));
    }
    EXPECT_EQ(chart.legend().back().name, QStringLiteral("90 %"));
}

// The dashed 90 % line crosses the plot; nothing yellow lies a few pixels under it.
TEST(AccuracyChartPicture, TheNinetyPercentLine) {
    const AccuracyChart chart({level(1, {{0, 500}, {kHour, 600}})}, QSize(800, 400));
    const QImage image = chart.draw(1.0);
    const QColor pass = chart.legend().back().colour;
    const QRectF plot = chart.plot();
    const auto yellowAt = [&](double percent) {
        const int y = static_cast<int>(std::floor(plot.bottom() - percent / 100 * plot.height()));
        int count = 0;
        for (int x = static_cast<int>(plot.left()); x < static_cast<int>(plot.right()); ++x) {
            count += image.pixelColor(x, y) == pass ? 1 : 0;
        }
        return count / plot.width();
    };
    EXPECT_GT(yellowAt(90), 0.4);
    EXPECT_EQ(yellowAt(87), 0.0);
}

struct BarRow {
    const char* name;
    int tenths;
    bool strong;  // in the colour of 90 % and over
};

class BarTest : public ::testing::TestWithParam<BarRow> {};

TEST_P(BarTest, RedUnderNinetyPercentGreenFromIt) {
    const BarRow& p = GetParam();
    const CharacterChart chart({character(u'K', 500), character(u'M', p.tenths)}, 20,
                               QSize(600, 300));
    const QColor expected = chart.legend()[p.strong ? 1 : 0].colour;
    EXPECT_EQ(chart.barColour(1), expected);
    EXPECT_NEAR(chart.bar(1).height(), chart.plot().height() * p.tenths / 1000.0, 0.01);
    const QImage image = chart.draw(1.0);
    EXPECT_EQ(image.pixelColor(chart.bar(1).center().toPoint()), expected);
}

INSTANTIATE_TEST_SUITE_P(Table, BarTest,
                         ::testing::Values(BarRow{"JustUnder", 899, false},
                                           BarRow{"AtNinety", 900, true},
                                           BarRow{"JustOver", 901, true},
                                           BarRow{"AllRight", 1000, true}),
                         rowName);

TEST(CharacterChartLayout, OneColumnEachInTheirOrderBarsSevenTenthsWide) {
    const CharacterChart chart(
        {character(u'U', 0), character(u'0', 400), character(u'K', 950), character(u'M', 990)}, 1,
        QSize(700, 300));
    EXPECT_EQ(chart.categories(), (QStringList{"U", QString(QChar(0x00d8)), "K", "M"}));
    EXPECT_TRUE(chart.title().contains(QStringLiteral("nell'ultimo esercizio")));
    EXPECT_EQ(chart.bar(0).height(), 0.0);
    const double column = chart.plot().width() / 4;
    for (std::size_t k = 0; k < 4; ++k) {
        EXPECT_NEAR(chart.bar(k).center().x(), chart.plot().left() + column * (k + 0.5), 0.01);
        EXPECT_NEAR(chart.bar(k).width(), 0.7 * column, 0.01);
        EXPECT_NEAR(chart.bar(k).bottom(), chart.plot().bottom(), 0.01);
    }
}

struct SizeRow {
    const char* name;
    QSize size;
    qreal pixelRatio;
    QSize pixels;
};

class PictureSizeTest : public ::testing::TestWithParam<SizeRow> {};

// Whatever the window's size, even none, both charts draw a picture of its pixels.
TEST_P(PictureSizeTest, TheWholeAreaInItsPixels) {
    const SizeRow& p = GetParam();
    const AccuracyChart accuracy({level(1, {{0, 500}}), level(2, {{kHour, 900}})}, p.size);
    const CharacterChart characters({character(u'K', 500)}, 3, p.size);
    const CharacterChart none({}, 0, p.size);
    for (const QImage& image :
         {accuracy.draw(p.pixelRatio), characters.draw(p.pixelRatio), none.draw(p.pixelRatio)}) {
        EXPECT_EQ(image.size(), p.pixels);
        EXPECT_EQ(image.devicePixelRatio(), p.pixelRatio);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, PictureSizeTest,
    ::testing::Values(SizeRow{"NoSize", QSize(0, 0), 1.0, QSize(1, 1)},
                      SizeRow{"OnePixel", QSize(1, 1), 1.0, QSize(1, 1)},
                      SizeRow{"TooSmallForTheLabels", QSize(50, 30), 1.0, QSize(50, 30)},
                      SizeRow{"TheWindowsOwn", QSize(1084, 454), 1.0, QSize(1084, 454)},
                      SizeRow{"TwiceAsDense", QSize(1084, 454), 2.0, QSize(2168, 908)},
                      SizeRow{"OneAndAHalf", QSize(101, 51), 1.5, QSize(152, 77)}),
    rowName);

}  // namespace
}  // namespace dittix::training
