// The code table: its drawing, pixel by pixel, and its window beside the main window.
#include "display/code_table_window.h"

#include <QFontMetrics>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

#include "../persistence/temp_dir.h"
#include "display/fonts.h"
#include "display/main_window.h"
#include "keying/morse_table.h"
#include "persistence/settings.h"
#include "support/named_rows.h"

namespace dittix::display {
namespace {

using test_support::PrintTo;
using test_support::rowName;

constexpr QRgb kYellow = qRgb(255, 255, 0);
constexpr QRgb kBlack = qRgb(0, 0, 0);

struct Table {
    explicit Table(int size)
        : image(kCodeTableImageWidth, kCodeTableImageHeight, QImage::Format_RGB32) {
        image.fill(Qt::white);  // what lies outside the painted area stays
        drawCodeTable(image, size);
        pitch = QFontMetrics(fontWithCellHeight(size)).height();
        this->size = size;
    }
    int lineY(int row) const {
        const auto& entry = keying::MorseTable[static_cast<std::size_t>(row)];
        const int n = static_cast<int>(entry.character.size());
        return row * pitch + 5 + QFontMetrics(fontWithCellHeight(size + 2 - 7 * n)).height() / 2 +
               5;
    }
    // The first and last yellow pixels of the row's stroke line, right of the row's text.
    std::pair<int, int> strokeSpan(int row) const {
        const auto& entry = keying::MorseTable[static_cast<std::size_t>(row)];
        const int n = static_cast<int>(entry.character.size());
        const int textEnd = 5 + QFontMetrics(fontWithCellHeight(size + 2 - 7 * n))
                                    .horizontalAdvance(toQString(entry.character));
        const int y = lineY(row);
        int first = -1;
        int last = -1;
        for (int x = textEnd + 1; x < kCodeTablePaintedWidth; ++x) {
            if (image.pixel(x, y) == kYellow) {
                first = first < 0 ? x : first;
                last = x;
            }
        }
        return {first, last};
    }
    QImage image;
    int pitch = 0;
    int size = 0;
};

TEST(CodeTable, FirstRowDotAndDashAtSize38) {
    const Table t(38);
    const int y = t.lineY(0);
    for (int x = 40; x <= 44; ++x) {
        EXPECT_EQ(t.image.pixel(x, y), kYellow) << x;
    }
    for (const int x : {39, 45, 49, 65}) {
        EXPECT_EQ(t.image.pixel(x, y), kBlack) << x;
    }
    for (int x = 50; x <= 64; ++x) {
        EXPECT_EQ(t.image.pixel(x, y), kYellow) << x;
    }
    EXPECT_EQ(t.image.pixel(42, y - 1), kBlack) << "strokes are one pixel wide";
    EXPECT_EQ(t.image.pixel(42, y + 1), kBlack);
}

TEST(CodeTable, DollarEndsItsLastDashAt124) {
    const Table t(38);
    EXPECT_EQ(t.strokeSpan(50), (std::pair<int, int>{40, 124}));
}

TEST(CodeTable, TwoLetterTextsStartTheirStrokesAfterTheTextMeasuredInThePreviousRowsFont) {
    const Table t(38);
    const auto width = [](const char16_t* text, int cell) {
        return QFontMetrics(fontWithCellHeight(cell)).horizontalAdvance(toQString(text));
    };
    // "''" follows "+", and "AR" follows "ø": measured at 38 - 5. "SK" follows "AR": 38 - 12.
    EXPECT_EQ(t.strokeSpan(52).first, width(u"''", 33) + 10);
    EXPECT_EQ(t.strokeSpan(62).first, width(u"AR", 33) + 10);
    EXPECT_EQ(t.strokeSpan(63).first, width(u"SK", 26) + 10);
    // "BK" (lppplpl): 100 pixels of advance from its start; its last dash begins 80 after it.
    const int start = width(u"BK", 26) + 10;
    EXPECT_EQ(t.strokeSpan(64), (std::pair<int, int>{start, start + 80 + 14}));
}

TEST(CodeTable, TextIsYellowAndOnlyThePaintedAreaIsTouched) {
    const Table t(38);
    int yellow = 0;
    for (int y = 5; y < 5 + t.pitch; ++y) {
        for (int x = 5; x < 30; ++x) {
            yellow += t.image.pixel(x, y) == kYellow;
        }
    }
    EXPECT_GT(yellow, 20);
    EXPECT_EQ(t.image.pixel(144, 100), kBlack);
    EXPECT_EQ(t.image.pixel(145, 100), qRgb(255, 255, 255));
}

struct SizeRow {
    const char* name;
    int size;
};

class TableSizeTest : public ::testing::TestWithParam<SizeRow> {};

TEST_P(TableSizeTest, AllRowsFitAndDrawAStroke) {
    const Table t(GetParam().size);
    EXPECT_LE(t.pitch, GetParam().size);
    EXPECT_LT(67 * t.pitch + 5 + t.pitch, kCodeTableImageHeight);
    for (int row = 0; row < 68; ++row) {
        EXPECT_GT(t.strokeSpan(row).first, 0) << row;
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, TableSizeTest,
                         ::testing::Values(SizeRow{"smallest_25", 25}, SizeRow{"default_38", 38},
                                           SizeRow{"largest_45", 45}),
                         rowName);

struct Window {
    explicit Window(std::string_view settings = "") {
        file = dir.file("settings.ini");
        if (!settings.empty()) {
            persistence::test::writeBytes(file, settings);
        }
        MainWindowEnvironment env;
        env.settingsFile = file;
        env.screenSize = [] { return QSize(1920, 1080); };
        auto k = std::make_unique<platform::EventKeyboard>();
        env.eventKeyboard = k.get();
        env.keyboard = std::move(k);
        env.rowVisible = [](int) { return true; };
        env.endProgram = [this] { ++endRequests; };
        form = std::make_unique<TDittixForm>(std::move(env));
        form->disegnaTabellaMorseTimer();
    }
    persistence::test::TempDir dir;
    std::filesystem::path file;
    int endRequests = 0;
    std::unique_ptr<TDittixForm> form;
};

TEST(CodeTableWindow, PlacedAtTheRightEdgeAsHighAsTheMainWindow) {
    Window w;
    TtabellaCodice* table = w.form->tabellaCodice();
    EXPECT_TRUE(table->isVisible());
    EXPECT_EQ(table->windowTitle(), "Codice Morse");
    EXPECT_EQ(table->pos(), QPoint(1750, 0));
    EXPECT_EQ(table->size(), QSize(170, w.form->outerSize().height()));
    EXPECT_EQ(table->toolTip(), "170 1050");
    EXPECT_TRUE(table->isSizeable());
    EXPECT_EQ(table->ScrollBox->height(), 1050 - 8);
    EXPECT_EQ(table->image().size(), QSize(156, 3070));
}

TEST(CodeTableWindow, HiddenWithTheSettingOffYetPlacedAndDrawn) {
    Window w("[Settings]\nTabella Codice Visibile=0\n");
    TtabellaCodice* table = w.form->tabellaCodice();
    EXPECT_FALSE(table->isVisible());
    EXPECT_EQ(w.form->outerSize().width(), 1920);
    EXPECT_EQ(table->toolTip(), "170 1050");
    QTest::keyClick(w.form.get(), '+');
    QTest::qWait(250);
    EXPECT_FALSE(table->isVisible());
    EXPECT_EQ(w.form->tableRedraws(), 2);
}

TEST(CodeTableWindow, FixedBorderWhenArIsZero) {
    Window w("[Settings]\nAR=0\n");
    TtabellaCodice* table = w.form->tabellaCodice();
    EXPECT_FALSE(table->isSizeable());
    EXPECT_EQ(table->minimumSize(), table->maximumSize());
}

TEST(CodeTableWindow, PlusAndMinusInThisWindowShareTheMainWindowsRedraw) {
    Window w("[Settings]\nSize=44\n");
    TtabellaCodice* table = w.form->tabellaCodice();
    QTest::keyClick(table, '+');
    QTest::keyClick(table, '+');
    EXPECT_EQ(w.form->tableFontSize(), 45);
    QTest::qWait(250);
    EXPECT_EQ(w.form->tableRedraws(), 2) << "one at placement, one for both presses";
    for (int i = 0; i < 25; ++i) {
        QTest::keyClick(table, '-');
    }
    EXPECT_EQ(w.form->tableFontSize(), 25);
}

TEST(CodeTableWindow, ClearCommandsAndTheTrainingKey) {
    Window w;
    QTest::keyClick(w.form.get(), '1');
    ASSERT_EQ(w.form->tape().traceY(), 0);
    QTest::keyClick(w.form->tabellaCodice(), 'E');
    EXPECT_EQ(w.form->tape().traceY(), 0);
    EXPECT_FALSE(w.form->trainingWindow()->isVisible());
    QTest::keyClick(w.form->tabellaCodice(), 'e');
    EXPECT_TRUE(w.form->trainingWindow()->isVisible());
    QTest::keyClick(w.form->tabellaCodice(), 'C');
    EXPECT_EQ(w.form->tape().traceY(), 15);
}

TEST(CodeTableWindow, EscEndsTheProgramWithoutSavingAnything) {
    Window w("; untouched\n[Settings]\nSize=40\n");
    QTest::keyClick(w.form->tabellaCodice(), '+');
    QTest::keyClick(w.form->tabellaCodice(), Qt::Key_Escape);
    EXPECT_EQ(w.endRequests, 1);
    EXPECT_EQ(w.form->tableFontSize(), 41);
    w.form->finishSaves();  // a save asked for would be made by now
    EXPECT_EQ(persistence::readFileBytes(w.file), "; untouched\n[Settings]\nSize=40\n");
}

// The window shows the image it drew, and a new size's drawing, not a picture kept from before.
TEST(CodeTableWindow, ShowsTheLatestDrawingPixelForPixel) {
    Window w("[Settings]\nSize=30\n");
    TtabellaCodice* table = w.form->tabellaCodice();
    const QImage first = table->img->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(first, table->image());
    QTest::keyClick(table, '+');
    QTest::keyClick(table, '+');
    QTest::qWait(250);
    ASSERT_EQ(w.form->tableRedraws(), 2);
    const QImage second = table->img->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(second, table->image());
    EXPECT_NE(second, first) << "size 32 draws another picture than size 30";
}

// "+" pressed in the table window redraws it and gives the focus back to the main window.
TEST(CodeTableWindow, ARedrawAskedFromTheTableReturnsTheFocusToTheMainWindow) {
    Window w;
    w.form->show();
    TtabellaCodice* table = w.form->tabellaCodice();
    table->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(table));
    QTest::keyClick(table, '-');
    QTest::qWait(250);
    EXPECT_EQ(w.form->tableRedraws(), 2);
    EXPECT_TRUE(QTest::qWaitForWindowActive(w.form.get()));
    EXPECT_TRUE(w.form->hasFocus());
}

TEST(CodeTableWindow, CloseButtonOnlyHidesAndTheNextRedrawShowsIt) {
    Window w;
    TtabellaCodice* table = w.form->tabellaCodice();
    // The display server's window, 0 when there is none.
    const auto madeWindow = [table] {
        const QWindow* window = table->windowHandle();
        return window != nullptr && window->handle() != nullptr ? window->winId() : WId{0};
    };
    const WId made = madeWindow();
    ASSERT_NE(made, WId{0});
    table->close();
    EXPECT_FALSE(table->isVisible());
    EXPECT_EQ(madeWindow(), made) << "kept while hidden";
    w.form->disegnaTabellaMorseTimer();
    EXPECT_TRUE(table->isVisible());
    EXPECT_EQ(madeWindow(), made) << "shown again in the same window";
}

}  // namespace
}  // namespace dittix::display
