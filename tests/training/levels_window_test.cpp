// The levels window on the offscreen platform: the list it builds from the training levels, when
// it builds it, how it looks and which keys close it.
#include "training/levels_window.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "persistence/settings.h"
#include "support/named_rows.h"

namespace dittix::training {
namespace {

using test_support::PrintTo;
using test_support::rowName;

persistence::TrainingLevels fromSettingsText(const std::string& text) {
    return persistence::parseSettings(text, '.').levels;
}

// livello1 … livello40, level n holding n letters of the alphabet, wrapping after z.
persistence::TrainingLevels fortyLevels() {
    std::string text = "[Settings]\n";
    for (int n = 1; n <= 40; ++n) {
        text += "livello" + std::to_string(n) + "=";
        for (int c = 0; c < n; ++c) {
            text += static_cast<char>('a' + c % 26);
        }
        text += "\n";
    }
    return fromSettingsText(text);
}

persistence::Tlivello record(const std::u16string& text, std::int32_t length) {
    return persistence::Tlivello{text, length};
}

struct ExpectedLine {
    std::size_t index;  // position among the labels
    QString caption;
    int top;
};

struct ListRow {
    const char* name;
    std::function<persistence::TrainingLevels()> levels;
    std::size_t labelCount;
    std::vector<ExpectedLine> lines;
    int outerHeight;
};

class LevelListTest : public ::testing::TestWithParam<ListRow> {};

TEST_P(LevelListTest, ListsEveryFilledLevelOnItsOwnLine) {
    const persistence::TrainingLevels levels = GetParam().levels();
    Tlivelli window(levels);
    window.timerTimer();

    const std::vector<QLabel*> labels = window.labels();
    ASSERT_EQ(labels.size(), GetParam().labelCount);
    for (const ExpectedLine& line : GetParam().lines) {
        ASSERT_LT(line.index, labels.size());
        const QLabel* label = labels[line.index];
        EXPECT_EQ(label->text(), line.caption) << "label " << line.index;
        EXPECT_EQ(label->pos(), QPoint(8, line.top)) << "label " << line.index;
    }
    for (const QLabel* label : labels) {
        EXPECT_EQ(label->parentWidget(), &window);
        EXPECT_EQ(label->size(), label->sizeHint()) << label->text().toStdString();
    }
    EXPECT_EQ(window.outerHeight(), GetParam().outerHeight);
    EXPECT_EQ(window.width(), 1039);
}

INSTANTIATE_TEST_SUITE_P(
    Levels, LevelListTest,
    ::testing::Values(
        ListRow{"NoLevels", [] { return fromSettingsText("[Settings]\n"); }, 0, {}, 40},
        ListRow{
            "LoaderStopsAtTheFirstEmptyLevel",
            [] { return fromSettingsText("[Settings]\nlivello1=abc\nlivello2=\nlivello3=xyz\n"); },
            1,
            {{0, QStringLiteral("LIVELLO  1: ABC"), 0}},
            60},
        ListRow{"FortyLevels",
                fortyLevels,
                40,
                {{0, QStringLiteral("LIVELLO  1: A"), 0},
                 {8, QStringLiteral("LIVELLO  9: ABCDEFGHI"), 160},
                 {9, QStringLiteral("LIVELLO 10: ABCDEFGHIJ"), 180},
                 {11, QStringLiteral("LIVELLO 12: ABCDEFGHIJKL"), 220},
                 {39, QStringLiteral("LIVELLO 40: ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLMN"), 780}},
                840},
        ListRow{
            "EmptyRecordKeepsItsLineFree",
            [] {
                persistence::TrainingLevels levels;
                levels.records[0] = record(u"AB", 2);
                levels.records[2] = record(u"CD", 2);
                levels.levelCount = 3;
                return levels;
            },
            2,
            {{0, QStringLiteral("LIVELLO  1: AB"), 0}, {1, QStringLiteral("LIVELLO  3: CD"), 40}},
            100},
        ListRow{"RecordWithTextButNoLengthIsSkipped",
                [] {
                    persistence::TrainingLevels levels;
                    levels.records[0] = record(u"AB", 0);
                    levels.records[1] = record(u"CD", 1);
                    levels.levelCount = 2;
                    return levels;
                },
                1,
                {{0, QStringLiteral("LIVELLO  2: CD"), 20}},
                80},
        ListRow{"RecordsPastTheFortiethAreNotListed",
                [] {
                    persistence::TrainingLevels levels = fortyLevels();
                    levels.records[40] = record(u"XY", 2);
                    levels.records[49] = record(u"Z", 1);
                    return levels;
                },
                40,
                {{39, QStringLiteral("LIVELLO 40: ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLMN"), 780}},
                840}),
    rowName);

TEST(LevelsWindowTest, StartsHiddenWithItsDesignedWindow) {
    const persistence::TrainingLevels levels;
    Tlivelli window(levels);
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(window.isWindow());
    EXPECT_EQ(window.windowTitle(), QStringLiteral("LIVELLI ESERCIZIO RICEZIONE"));
    EXPECT_EQ(window.size(), QSize(1039, 525));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());  // not resizable
    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowSystemMenuHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(window.palette().color(QPalette::Window), QColor(Qt::black));
    EXPECT_TRUE(window.autoFillBackground());
}

TEST(LevelsWindowTest, BuildsTheListOnTheFirstTickWithoutBeingShown) {
    const persistence::TrainingLevels levels = fromSettingsText("[Settings]\nlivello1=et\n");
    Tlivelli window(levels);
    EXPECT_TRUE(window.timer.isActive());
    EXPECT_EQ(window.timer.interval(), 200);
    EXPECT_TRUE(window.labels().empty());

    QTest::qWait(400);
    ASSERT_EQ(window.labels().size(), 1u);
    EXPECT_EQ(window.labels()[0]->text(), QStringLiteral("LIVELLO  1: ET"));
    EXPECT_FALSE(window.timer.isActive());
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.outerHeight(), 60);
}

TEST(LevelsWindowTest, BuildsTheListOnlyOnce) {
    persistence::TrainingLevels levels = fromSettingsText("[Settings]\nlivello1=et\n");
    Tlivelli window(levels);
    window.timerTimer();
    ASSERT_EQ(window.labels().size(), 1u);

    levels.records[1] = record(u"MN", 2);  // a later change is not listed
    levels.levelCount = 2;
    window.timerTimer();
    EXPECT_EQ(window.labels().size(), 1u);

    window.timer.start();
    QTest::qWait(400);
    EXPECT_EQ(window.labels().size(), 1u);
    EXPECT_FALSE(window.timer.isActive());
    EXPECT_EQ(window.findChildren<QLabel*>().size(), 1);
    EXPECT_EQ(window.outerHeight(), 60);
}

TEST(LevelsWindowTest, ReadsTheLevelsWhenTheListIsBuilt) {
    persistence::TrainingLevels levels;
    Tlivelli window(levels);
    levels = fromSettingsText("[Settings]\nlivello1=ab\nlivello2=cd\n");  // loaded after creation
    window.timerTimer();
    ASSERT_EQ(window.labels().size(), 2u);
    EXPECT_EQ(window.labels()[1]->text(), QStringLiteral("LIVELLO  2: CD"));
    EXPECT_EQ(window.outerHeight(), 80);
}

struct PitchRow {
    const char* name;
    std::function<persistence::TrainingLevels()> levels;
};

class LineFontTest : public ::testing::TestWithParam<PitchRow> {};

// The characters of a line stand at most 18 pixels high, two rows clear of the next line 20
// pixels below; one pixel larger, some line would not.
TEST_P(LineFontTest, BoldYellowCourierNew18OrTheLargestSizeWhoseLinesFitTheirPitch) {
    const persistence::TrainingLevels levels = GetParam().levels();
    Tlivelli window(levels);
    window.timerTimer();
    const int designPixels = QFontInfo(QFont(QStringLiteral("Courier New"), 18)).pixelSize();
    const auto tallest = [&window](const QFont& font) {
        int height = 0;
        for (const QLabel* label : window.labels()) {
            height = std::max(height, QFontMetrics(font).tightBoundingRect(label->text()).height());
        }
        return height;
    };
    ASSERT_FALSE(window.labels().empty());
    const QFont font = window.labels().front()->font();
    EXPECT_LE(font.pixelSize(), designPixels);
    EXPECT_LE(tallest(font), 18);
    if (font.pixelSize() < designPixels) {
        QFont larger = font;
        larger.setPixelSize(font.pixelSize() + 1);
        EXPECT_GT(tallest(larger), 18);
    }
    for (const QLabel* label : window.labels()) {
        EXPECT_EQ(label->font(), font) << "one size for every line";
        EXPECT_EQ(label->font().family(), QStringLiteral("Courier New"));
        EXPECT_TRUE(label->font().bold());
        EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(255, 255, 0));
        EXPECT_FALSE(label->autoFillBackground());  // the black window shows through
    }
}

INSTANTIATE_TEST_SUITE_P(
    Levels, LineFontTest,
    ::testing::Values(
        PitchRow{"forty_levels_of_letters", fortyLevels},
        PitchRow{"signs_reaching_below_the_line",
                 [] { return fromSettingsText("[Settings]\nlivello1=abc\nlivello2=(),;:'\n"); }}),
    rowName);

TEST(LevelsWindowTest, ListBuiltWhileShownAppearsAtOnce) {
    const persistence::TrainingLevels levels = fromSettingsText("[Settings]\nlivello1=et\n");
    Tlivelli window(levels);
    window.show();
    window.timerTimer();
    ASSERT_EQ(window.labels().size(), 1u);
    EXPECT_TRUE(window.labels()[0]->isVisible());
    EXPECT_EQ(window.outerHeight(), 60);
}

TEST(LevelsWindowTest, CentredOnTheDesktopWhenFirstShown) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    const persistence::TrainingLevels levels = fromSettingsText("[Settings]\nlivello1=et\n");
    Tlivelli window(levels);
    window.timerTimer();
    window.show();
    EXPECT_EQ(window.frameGeometry().center(), screen->availableGeometry().center());
}

struct KeyRow {
    const char* name;
    Qt::Key key;
    bool closes;
};

class LevelsWindowKeyTest : public ::testing::TestWithParam<KeyRow> {};

TEST_P(LevelsWindowKeyTest, OnlyEscapeClosesAndTheListSurvives) {
    const persistence::TrainingLevels levels =
        fromSettingsText("[Settings]\nlivello1=et\nlivello2=ai\n");
    Tlivelli window(levels);
    window.timerTimer();
    window.show();
    QTest::keyClick(&window, GetParam().key);
    EXPECT_EQ(window.isVisible(), !GetParam().closes);

    window.show();
    ASSERT_EQ(window.labels().size(), 2u);
    for (const QLabel* label : window.labels()) {
        EXPECT_TRUE(label->isVisible());
    }
    EXPECT_EQ(window.labels()[1]->text(), QStringLiteral("LIVELLO  2: AI"));
    EXPECT_EQ(window.outerHeight(), 80);
}

INSTANTIATE_TEST_SUITE_P(Keys, LevelsWindowKeyTest,
                         ::testing::Values(KeyRow{"Escape", Qt::Key_Escape, true},
                                           KeyRow{"Return", Qt::Key_Return, false},
                                           KeyRow{"Space", Qt::Key_Space, false},
                                           KeyRow{"LetterA", Qt::Key_A, false},
                                           KeyRow{"F4", Qt::Key_F4, false}),
                         rowName);

}  // namespace
}  // namespace dittix::training
