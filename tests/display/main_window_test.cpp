// The main window on the offscreen platform: sizes, commands, captions, the keys saved on close.
#include "display/main_window.h"

#include <QBackingStore>
#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "../persistence/temp_dir.h"
#include "../setup/fake_serial_ports.h"
#include "../setup/scan_wait.h"
#include "persistence/settings.h"
#include "persistence/training_history.h"
#include "support/named_rows.h"

namespace dittix::display {
namespace {

using test_support::PrintTo;
using test_support::rowName;

struct Window {
    explicit Window(std::string_view settingsText = "", int firstHiddenRow = 1 << 30,
                    std::set<int> ports = {}) {
        file = dir.file("settings.ini");
        if (!settingsText.empty()) {
            persistence::test::writeBytes(file, settingsText);
        }
        MainWindowEnvironment env;
        env.settingsFile = file;
        env.screenSize = [] { return QSize(1920, 1080); };
        auto k = std::make_unique<platform::EventKeyboard>();
        keyboard = k.get();
        env.keyboard = std::move(k);
        env.eventKeyboard = keyboard;
        env.rowVisible = [firstHiddenRow](int row) { return row < firstHiddenRow; };
        auto serial = std::make_unique<setup::test::FakeSerialPorts>();
        serial->existing = std::move(ports);
        fakePorts = serial.get();
        env.serialPorts = std::move(serial);
        env.decodedText = [this](std::u16string_view t) {
            decoded += QString::fromUtf16(t.data(), t.size());
        };
        env.tellOperator = [this](QWidget* over, const QString& sentence) {
            told.push_back({over, sentence.toStdString()});
            // Like the real message box, telling runs the events until the operator has seen it.
            ++telling;
            mostTellingAtOnce = std::max(mostTellingAtOnce, telling);
            if (tellingRunsEvents) {
                QCoreApplication::processEvents();
            }
            --telling;
            if (afterTelling) {
                afterTelling();
            }
        };
        form = std::make_unique<TDittixForm>(std::move(env));
    }
    void type(const char* keys) {
        for (const char* c = keys; *c; ++c) {
            QTest::keyClick(form.get(), *c);
        }
    }
    // The file once every save asked for so far is made.
    std::string saved() const {
        form->finishSaves();
        return persistence::readFileBytes(file);
    }

    persistence::test::TempDir dir;
    std::filesystem::path file;
    platform::EventKeyboard* keyboard = nullptr;
    setup::test::FakeSerialPorts* fakePorts = nullptr;
    QString decoded;
    std::vector<std::pair<QWidget*, std::string>> told;  // what the operator was told, over what
    bool tellingRunsEvents = false;
    int telling = 0;
    int mostTellingAtOnce = 0;  // more than one: a sentence was shown over another
    std::function<void()> afterTelling;
    std::unique_ptr<TDittixForm> form;
};

struct SizeRow {
    const char* name;
    const char* settings;
    QSize size;
};

class WindowSizeTest : public ::testing::TestWithParam<SizeRow> {};

TEST_P(WindowSizeTest, OnA1920By1080Screen) {
    Window w(GetParam().settings);
    EXPECT_EQ(w.form->outerSize(), GetParam().size);
    EXPECT_EQ(w.form->pos(), QPoint(0, 0));
    EXPECT_EQ(w.form->tape().composed().size(), GetParam().size);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, WindowSizeTest,
    ::testing::Values(SizeRow{"no_file", "", QSize(1750, 1050)},
                      SizeRow{"full_screen_height", "[Settings]\nFS=1\n", QSize(1750, 1080)},
                      SizeRow{"fs_0_is_shorter", "[Settings]\nFS=0\n", QSize(1750, 1050)},
                      SizeRow{"no_code_table", "[Settings]\nTabella Codice Visibile=0\n",
                              QSize(1920, 1050)}),
    rowName);

TEST(MainWindow, HeightAdjustmentFitsTheVisibleArea) {
    Window w("", 1011);
    w.form->aggiustaDimensionwFinestraTimer();
    EXPECT_EQ(w.form->outerSize().height(), 1036);
    Window none;
    none.form->aggiustaDimensionwFinestraTimer();
    EXPECT_EQ(none.form->outerSize().height(), 1075);
}

TEST(MainWindow, CaptionFollowsModeCommands) {
    Window w;
    EXPECT_EQ(w.form->windowTitle(), "Dittix - by Zorvan");
    w.type("r");
    EXPECT_EQ(w.form->windowTitle(), "Dittix - by Zorvan");
    EXPECT_FALSE(w.form->modes().paddleReverse);
    w.type("p");
    EXPECT_EQ(w.form->windowTitle(), "Dittix - by Zorvan - palette");
    w.type("r");
    EXPECT_EQ(w.form->windowTitle(), "Dittix - by Zorvan - palette - reverse");
    w.type("p");
    EXPECT_EQ(w.form->windowTitle(), "Dittix - by Zorvan");
    w.type("P");
    EXPECT_EQ(w.form->windowTitle(), "Dittix - by Zorvan - palette - reverse");
    w.type("R");
    EXPECT_EQ(w.form->windowTitle(), "Dittix - by Zorvan - palette");
}

TEST(MainWindow, PaletteSettingGivesCaptionWithTrailingBlank) {
    Window w("[Settings]\nPalette=1\n");
    EXPECT_EQ(w.form->windowTitle(), "Dittix - by Zorvan - palette ");
    EXPECT_TRUE(w.form->modes().paddleMode);
}

struct FontRow {
    const char* name;
    const char* settings;
    const char* keys;
    int size;
};

class TableFontTest : public ::testing::TestWithParam<FontRow> {};

TEST_P(TableFontTest, PlusAndMinusStayInRange) {
    Window w(GetParam().settings);
    w.type(GetParam().keys);
    EXPECT_EQ(w.form->tableFontSize(), GetParam().size);
    EXPECT_TRUE(w.form->disegnaTabellaMorse().isActive());
    EXPECT_EQ(w.form->disegnaTabellaMorse().interval(), 100);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, TableFontTest,
    ::testing::Values(FontRow{"plus_from_44_twice", "[Settings]\nSize=44\n", "++", 45},
                      FontRow{"minus_from_26_twice", "[Settings]\nSize=26\n", "--", 25},
                      FontRow{"plus_then_minus", "", "+-", 38}),
    rowName);

TEST(MainWindow, QuickPressesShareOneCodeTableRedraw) {
    Window w;
    w.type("++");
    QTest::qWait(300);
    EXPECT_EQ(w.form->tableRedraws(), 1);
    w.type("+");
    QTest::qWait(300);
    EXPECT_EQ(w.form->tableRedraws(), 2);
}

TEST(MainWindow, UnknownAndUpperCaseCommandsChangeNothing) {
    Window w;
    const auto before = w.form->modes().paddleMode;
    w.type("Exz");
    EXPECT_EQ(w.form->modes().paddleMode, before);
    EXPECT_EQ(w.form->windowTitle(), "Dittix - by Zorvan");
}

TEST(MainWindow, ClearAndScrollCommands) {
    Window w;
    w.type("1");
    EXPECT_EQ(w.form->tape().traceY(), 0);
    w.type("c");
    EXPECT_EQ(w.form->tape().traceY(), 15);
    w.type("1C");
    EXPECT_EQ(w.form->tape().traceY(), 15);
    w.type("2");
    EXPECT_EQ(w.form->tape().textX(), 0);
}

// The pixels that differ where two pictures overlap.
int differingPixels(const QImage& a, const QImage& b) {
    const QRect area = a.rect() & b.rect();
    int differing = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            differing += a.pixel(x, y) != b.pixel(x, y);
        }
    }
    return differing;
}

// The window shows the tape's picture, also after the tape's areas have scrolled.
struct PaintRow {
    const char* name;
    const char* commands;
};

class WindowPaintTest : public ::testing::TestWithParam<PaintRow> {};

TEST_P(WindowPaintTest, ShowsTheTapesPicture) {
    Window w;
    w.form->show();
    const auto hold = [&w](bool down, int ticks) {
        for (int i = 0; i < ticks; ++i) {
            down ? w.keyboard->press(keying::KeyboardKey::LeftControl)
                 : w.keyboard->release(keying::KeyboardKey::LeftControl);
            w.form->decodificaTimer();
        }
    };
    // "a" and a word space, over and over: a new trace row each, more rows than the trace area
    // holds, and more than a line of text.
    for (int word = 0; word < 40; ++word) {
        hold(true, 4);
        hold(false, 4);
        hold(true, 12);
        hold(false, 45);
    }
    ASSERT_EQ(w.decoded.size(), 80);
    ASSERT_GT(w.form->tape().textY(), w.form->tape().midLine() + 5);
    w.type(GetParam().commands);
    const QImage shown = w.form->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage picture = w.form->tape().composed();
    ASSERT_GT((shown.rect() & picture.rect()).height(), 1000);
    EXPECT_EQ(differingPixels(shown, picture), 0);
}

INSTANTIATE_TEST_SUITE_P(Commands, WindowPaintTest,
                         ::testing::Values(PaintRow{"none", ""}, PaintRow{"trace_scrolled", "1"},
                                           PaintRow{"text_scrolled", "2"},
                                           PaintRow{"both_scrolled", "1212"}),
                         rowName);

// Counts the paint events a widget is sent.
class PaintCounter : public QObject {
  public:
    explicit PaintCounter(QWidget& widget) { widget.installEventFilter(this); }
    int paints = 0;

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

// A secondary window opening or closing takes the focus from the main window or gives it back;
// the screen-sized window is repainted only when its picture changed.
struct FocusRepaintRow {
    const char* name;
    std::function<void(Window&)> act;
    int paints;
};

class FocusRepaintTest : public ::testing::TestWithParam<FocusRepaintRow> {};

void sendActivation(Window& w, QEvent::Type type) {
    QEvent event(type);
    QApplication::sendEvent(w.form.get(), &event);
}

// A desktop theme whose inactive colours are not its active ones, for as long as it lives.
struct ThemeWithInactiveColours {
    ThemeWithInactiveColours() {
        QPalette theme = before;
        theme.setColor(QPalette::Inactive, QPalette::Window, Qt::darkGray);
        theme.setColor(QPalette::Inactive, QPalette::Highlight, Qt::gray);
        QApplication::setPalette(theme);
    }
    ~ThemeWithInactiveColours() { QApplication::setPalette(before); }
    const QPalette before = QApplication::palette();
};

TEST_P(FocusRepaintTest, OnlyAChangedPictureRepaints) {
    const ThemeWithInactiveColours theme;
    Window w;
    w.form->show();
    w.form->activateWindow();
    w.form->decodificaTimer();  // takes what start-up drew, so that only a change repaints
    QCoreApplication::processEvents();
    PaintCounter counter(*w.form);
    GetParam().act(w);
    QCoreApplication::processEvents();
    EXPECT_EQ(counter.paints, GetParam().paints);
}

INSTANTIATE_TEST_SUITE_P(Focus, FocusRepaintTest,
                         ::testing::Values(
                             FocusRepaintRow{
                                 "focus_lost",
                                 [](Window& w) { sendActivation(w, QEvent::WindowDeactivate); }, 0},
                             FocusRepaintRow{"focus_lost_and_back",
                                             [](Window& w) {
                                                 sendActivation(w, QEvent::WindowDeactivate);
                                                 sendActivation(w, QEvent::WindowActivate);
                                             },
                                             0},
                             FocusRepaintRow{"training_window_opened_and_closed",
                                             [](Window& w) {
                                                 w.type("e");
                                                 QCoreApplication::processEvents();
                                                 QTest::keyClick(w.form->trainingWindow(),
                                                                 Qt::Key_Escape);
                                             },
                                             0},
                             FocusRepaintRow{"tape_cleared_while_the_focus_is_away",
                                             [](Window& w) {
                                                 sendActivation(w, QEvent::WindowDeactivate);
                                                 w.type("c");
                                             },
                                             1}),
                         rowName);

struct CloseRow {
    const char* name;
    bool escape;
};

class CloseTest : public ::testing::TestWithParam<CloseRow> {};

TEST_P(CloseTest, SavesSizePaletteAndTone) {
    Window w("; mine\n[Settings]\nTono=812.7\nSize=40\nCPM=60\n");
    w.form->show();
    w.type("+p");
    if (GetParam().escape) {
        QTest::keyClick(w.form.get(), Qt::Key_Escape);
    } else {
        w.form->close();
    }
    EXPECT_FALSE(w.form->isVisible());
    EXPECT_EQ(w.saved(), "; mine\n[Settings]\nTono=812\nSize=41\nCPM=60\nPalette=1\n");
}

INSTANTIATE_TEST_SUITE_P(Ways, CloseTest,
                         ::testing::Values(CloseRow{"escape", true}, CloseRow{"close_box", false}),
                         rowName);

TEST(MainWindow, KeyboardKeysDecodeThroughTheTick) {
    Window w;
    w.form->show();
    const auto hold = [&w](bool down, int ticks) {
        for (int i = 0; i < ticks; ++i) {
            down ? w.keyboard->press(keying::KeyboardKey::LeftControl)
                 : w.keyboard->release(keying::KeyboardKey::LeftControl);
            w.form->decodificaTimer();
        }
    };
    // Loaded times 10 / 15 / 40: a dot of 4 ticks and a dash of 12.
    hold(true, 4);
    hold(false, 4);
    hold(true, 12);
    hold(false, 45);
    EXPECT_EQ(w.decoded, "a ");
}

// Keys "a" `count` times on the left Ctrl key: dots and element gaps of `dot` ticks, dashes and
// character gaps of three.
void keyAs(Window& w, int count, int dot) {
    const auto hold = [&w](bool down, int ticks) {
        for (int i = 0; i < ticks; ++i) {
            down ? w.keyboard->press(keying::KeyboardKey::LeftControl)
                 : w.keyboard->release(keying::KeyboardKey::LeftControl);
            w.form->decodificaTimer();
        }
    };
    for (int i = 0; i < count; ++i) {
        hold(true, dot);
        hold(false, dot);
        hold(true, 3 * dot);
        hold(false, 3 * dot);
    }
    hold(false, 100);
}

struct AnalysisKeyRow {
    const char* name;
    const char* keys;
    bool opens;
};

class AnalysisCommandTest : public ::testing::TestWithParam<AnalysisKeyRow> {};

TEST_P(AnalysisCommandTest, OpensTheAnalysisWindow) {
    Window w;
    w.type(GetParam().keys);
    EXPECT_EQ(w.form->analysisWindow()->isVisible(), GetParam().opens);
    EXPECT_EQ(w.form->analysisWindow()->windowTitle(), "ANALISI MANIPOLAZIONE");
}

INSTANTIATE_TEST_SUITE_P(Keys, AnalysisCommandTest,
                         ::testing::Values(AnalysisKeyRow{"lower_case", "a", true},
                                           AnalysisKeyRow{"upper_case", "A", true},
                                           AnalysisKeyRow{"neighbour_key", "b", false}),
                         rowName);

TEST(MainWindow, TheTickFeedsTheFistStatisticsWithTheWindowClosed) {
    Window w;
    keyAs(w, 1, 4);  // loaded times 10 / 15 / 40
    EXPECT_EQ(w.decoded, "a ");
    EXPECT_FALSE(w.form->analysisWindow()->isVisible());
    const fist::FistSnapshot s = w.form->fistStatistics().snapshot(396);
    EXPECT_EQ(s.keyDown.dots[4], 1u);
    EXPECT_EQ(s.keyDown.dashes[12], 1u);
    EXPECT_EQ(s.characters, 1u);
}

struct DrillRowCase {
    const char* name;
    bool folderInPlace;  // the append fails
    int summaryLines;    // once the row has ended
};

class DrillRowThreadTest : public ::testing::TestWithParam<DrillRowCase> {};

// The drill's history row is appended on the history's thread, not the tick's: by the program's
// end it is in the file, or its failure is under the drill's summary.
TEST_P(DrillRowThreadTest, ReachesTheFileOrTheSummaryByTheEnd) {
    const DrillRowCase& p = GetParam();
    Window w;
    const std::filesystem::path history = persistence::historyFileFor(w.file);
    if (p.folderInPlace) {
        std::filesystem::create_directories(history);
    }
    w.type("a");
    analysis::Tanalisi& window = *w.form->analysisWindow();
    window.cbTesto->setCurrentIndex(window.cbTesto->count() - 1);
    window.edTesto->setText(QStringLiteral("a"));
    QTest::mouseClick(window.btVia, Qt::LeftButton);
    keyAs(w, 1, 4);
    window.refresh();
    ASSERT_FALSE(window.drill().running());
    w.form->finishSaves();
    const QStringList summary = window.labSummary->text().split(QLatin1Char('\n'));
    ASSERT_EQ(summary.size(), p.summaryLines) << window.labSummary->text().toStdString();
    EXPECT_TRUE(summary[0].startsWith(QStringLiteral("Caratteri 1 · giusti 1")));
    const persistence::HistoryReadResult read = persistence::readHistory(history);
    EXPECT_EQ(read.rows.size(), p.folderInPlace ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(Files, DrillRowThreadTest,
                         ::testing::Values(DrillRowCase{"written", false, 1},
                                           DrillRowCase{"folder_in_place", true, 2}),
                         rowName);

TEST(MainWindow, ApplicaMovesTheSetupWindowsBarAndSavesItsKeys) {
    Window w("[Settings]\nCPM=40\n");
    w.form->show();
    // A fast fist (40 ms dots, 120 ms pauses between characters) against the loaded 150 ms
    // decode pause: the twelve elements run into one character, decoded as it wraps.
    keyAs(w, 6, 4);
    EXPECT_EQ(w.decoded, "t ");
    w.type("a");
    analysis::Tanalisi& window = *w.form->analysisWindow();
    ASSERT_TRUE(window.btApplica->isVisible());
    QTest::mouseClick(window.btApplica, Qt::LeftButton);
    // 396 / 57 = 6 ticks, 1.5 dots: decode after 9, word space after 18.
    EXPECT_EQ(w.form->setupWindow()->sbCPM->value(), 57);
    EXPECT_EQ(w.form->setupWindow()->lcpm->text(), "57 CPM");
    EXPECT_NE(w.saved().find("Dot time=6\nDot time P=9\nDecode time=9\nBlank time=18\n"),
              std::string::npos)
        << w.saved();
    EXPECT_NE(w.saved().find("CPM=57\n"), std::string::npos) << w.saved();
    EXPECT_TRUE(w.told.empty());
    w.decoded.clear();
    keyAs(w, 2, 4);
    EXPECT_EQ(w.decoded, "aa ");
}

TEST(MainWindow, AFailedApplicaSaveIsToldOverTheSetupWindow) {
    Window w;
    std::filesystem::create_directory(w.file);
    keyAs(w, 6, 4);
    w.type("a");
    QTest::mouseClick(w.form->analysisWindow()->btApplica, Qt::LeftButton);
    w.form->finishSaves();
    ASSERT_EQ(w.told.size(), 1u);
    EXPECT_EQ(w.told[0].first, w.form->setupWindow());
    EXPECT_EQ(w.told[0].second.rfind("Impossibile salvare le impostazioni in ", 0), 0u);
}

TEST(MainWindow, DigitKeysChangeTheToneAndTheKeypadDoesNot) {
    Window w("[Settings]\nTono=800\n");
    w.form->show();
    QTest::keyClick(w.form.get(), Qt::Key_0);
    EXPECT_EQ(w.form->sidetone().frequency(), 810.0);
    QTest::keyClick(w.form.get(), Qt::Key_0, Qt::KeypadModifier);
    EXPECT_EQ(w.form->sidetone().frequency(), 810.0);
    QTest::keyClick(w.form.get(), Qt::Key_9);
    QTest::keyClick(w.form.get(), Qt::Key_9);
    EXPECT_EQ(w.form->sidetone().frequency(), 790.0);
    w.form->close();
    EXPECT_NE(w.saved().find("Tono=790"), std::string::npos);
}

TEST(MainWindow, SerialKeyLinesDecodeThroughTheTick) {
    Window w("[Settings]\nSerial Port=3\n", 1 << 30, {3});
    ASSERT_TRUE(w.form->keyPort().isOpen());
    const auto hold = [&w](std::uint32_t lines, int ticks) {
        w.fakePorts->lines[3] = lines;
        for (int i = 0; i < ticks; ++i) {
            w.form->decodificaTimer();
        }
    };
    hold(0x20, 12);  // DSR
    hold(0, 4);
    hold(0x40, 4);  // RING
    hold(0, 45);
    EXPECT_EQ(w.decoded, "n ");
}

TEST(MainWindow, SetupCommandShowsTheSetupWindowAndItsPaletteBoxSetsTheCaption) {
    Window w("", 1 << 30, {5});
    w.type("S");
    setup::test::waitForScan(*w.form->setupWindow());
    ASSERT_TRUE(w.form->setupWindow()->isVisible());
    EXPECT_EQ(w.form->keyPort().number(), 5) << "the scan fell back to the found port";
    QTest::mouseClick(w.form->setupWindow()->cbPalette, Qt::LeftButton);
    EXPECT_TRUE(w.form->modes().paddleMode);
    EXPECT_EQ(w.form->windowTitle(), "Dittix - by Zorvan - palette");
    w.form->setupWindow()->close();
    EXPECT_NE(w.saved().find("Serial Port=5"), std::string::npos);
    EXPECT_NE(w.saved().find("Palette=1"), std::string::npos);
}

// Closing a window asks the focus timer to give the focus back to this window; a window opened
// again before the timer runs keeps it.
struct ReopenRow {
    const char* name;
    const char* open;  // the command that opens the window again
    bool training;
};

class ReopenFocusTest : public ::testing::TestWithParam<ReopenRow> {};

TEST_P(ReopenFocusTest, AWindowOpenedBeforeTheFocusTimerKeepsTheFocus) {
    const ReopenRow& row = GetParam();
    Window w("[Settings]\nlivello1=abc\n", 1 << 30, {5});
    w.form->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.form.get()));
    QWidget* other = row.training ? static_cast<QWidget*>(w.form->trainingWindow())
                                  : static_cast<QWidget*>(w.form->setupWindow());
    w.type(row.open);
    if (!row.training) {
        setup::test::waitForScan(*w.form->setupWindow());
    }
    ASSERT_TRUE(QTest::qWaitForWindowActive(other));
    other->close();  // asks for the focus back
    w.type(row.open);
    if (!row.training) {
        setup::test::waitForScan(*w.form->setupWindow());
    }
    ASSERT_TRUE(QTest::qWaitForWindowActive(other));
    // The display's focus: hiding a window keeps its platform window, which the offscreen
    // platform then leaves focused without telling the widgets' own active window.
    w.form->timerFocusTimer();
    QCoreApplication::processEvents();
    EXPECT_EQ(QGuiApplication::focusWindow(), other->windowHandle());
    w.form->timerFocusTimer();  // and a later round does not take it either
    QCoreApplication::processEvents();
    EXPECT_EQ(QGuiApplication::focusWindow(), other->windowHandle());
}

INSTANTIATE_TEST_SUITE_P(Table, ReopenFocusTest,
                         ::testing::Values(ReopenRow{"SetupWindow", "s", false},
                                           ReopenRow{"TrainingWindow", "e", true}),
                         rowName);

TEST(MainWindow, TrainingCommandShowsTheTrainingWindowOnlyForLowerCaseE) {
    Window w("[Settings]\nlivello1=abc\n");
    w.type("E");
    EXPECT_FALSE(w.form->trainingWindow()->isVisible());
    w.type("e");
    EXPECT_TRUE(w.form->trainingWindow()->isVisible());
    QTest::mouseClick(w.form->trainingWindow()->showLivelli, Qt::LeftButton);
    EXPECT_TRUE(w.form->levelsWindow()->isVisible());
    w.form->trainingWindow()->close();
    EXPECT_NE(w.saved().find("LIV ES=1\nVEL ES=40\nTEMPO ES=1\nINTER ES=0\nMOSTRA ES=0\n"),
              std::string::npos);
}

TEST(MainWindow, WithoutATrainingOutputThePlaybackWaitsUntilStop) {
    Window w("[Settings]\nlivello1=abc\n");
    w.type("e");
    training::Ttraining& t = *w.form->trainingWindow();
    EXPECT_EQ(t.labInter->text(), "INTERPAUSA") << "the output is opened for an exercise only";
    t.startClick();
    for (int i = 0; i < 200 && t.labInter->text() == "INTERPAUSA"; ++i) {
        QTest::qWait(10);
    }
    EXPECT_EQ(t.labInter->text(), "unable to open WAVE_MAPPER device\n");
    QTest::qWait(100);
    EXPECT_TRUE(t.state().exerciseRunning.load()) << "waiting at the first lead-in tone";
    t.startClick();  // STOP
    for (int i = 0; i < 200 && t.state().exerciseRunning.load(); ++i) {
        QTest::qWait(10);
    }
    EXPECT_FALSE(t.state().exerciseRunning.load());
    t.timerTimer();
    EXPECT_EQ(t.start->text(), "START");
}

TEST(MainWindow, ClosingDuringAnExerciseJoinsThePlayback) {
    auto w = std::make_unique<Window>("[Settings]\nlivello1=abc\n");
    w->type("e");
    w->form->trainingWindow()->startClick();
    QTest::qWait(50);
    w.reset();  // destroys the window while the playback waits: no hang, no crash
    SUCCEED();
}

TEST(MainWindow, OwnKeyEventsFeedTheFallbackKeyboard) {
    Window w;
    w.form->show();
    QTest::keyPress(w.form.get(), Qt::Key_Right);
    EXPECT_TRUE(w.keyboard->keyPressed(keying::KeyboardKey::Right));
    QTest::keyRelease(w.form.get(), Qt::Key_Right);
    EXPECT_FALSE(w.keyboard->keyPressed(keying::KeyboardKey::Right));
    QTest::keyPress(w.form.get(), Qt::Key_Right, Qt::KeypadModifier);
    EXPECT_FALSE(w.keyboard->keyPressed(keying::KeyboardKey::Right));
}

struct LoadProblemRow {
    const char* name;
    std::function<void(const std::filesystem::path& file)> make;
    const char* reason;  // empty: nothing is told
};

class LoadProblemTest : public ::testing::TestWithParam<LoadProblemRow> {};

TEST_P(LoadProblemTest, ToldOnceTheWindowRunsOnTheDefaults) {
    persistence::test::TempDir dir;
    const std::filesystem::path file = dir.file("settings.ini");
    GetParam().make(file);
    std::vector<std::pair<QWidget*, std::string>> told;
    MainWindowEnvironment env;
    env.settingsFile = file;
    env.screenSize = [] { return QSize(1920, 1080); };
    env.keyboard = std::make_unique<platform::EventKeyboard>();
    env.tellOperator = [&told](QWidget* over, const QString& sentence) {
        told.push_back({over, sentence.toStdString()});
    };
    TDittixForm form(std::move(env));
    EXPECT_TRUE(told.empty()) << "told before the window runs";
    form.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(form.tableFontSize(), 38);
    if (*GetParam().reason == 0) {
        EXPECT_TRUE(told.empty());
        return;
    }
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].first, &form);
    EXPECT_EQ(told[0].second, "Il file delle impostazioni " + file.string() + " " +
                                  GetParam().reason +
                                  ": Dittix parte con le impostazioni predefinite.");
}

INSTANTIATE_TEST_SUITE_P(
    WhatStandsThere, LoadProblemTest,
    ::testing::Values(LoadProblemRow{"missing", [](const std::filesystem::path&) {}, ""},
                      LoadProblemRow{"directory",
                                     [](const std::filesystem::path& f) {
                                         std::filesystem::create_directory(f);
                                     },
                                     "è una cartella e non un file"},
                      LoadProblemRow{"link_to_dev_zero",
                                     [](const std::filesystem::path& f) {
                                         std::filesystem::create_symlink("/dev/zero", f);
                                     },
                                     "è un dispositivo e non un file"},
                      LoadProblemRow{"too_large",
                                     [](const std::filesystem::path& f) {
                                         persistence::test::writeBytes(f, "[Settings]\nSize=30\n");
                                         std::filesystem::resize_file(f, 17 * 1024 * 1024);
                                     },
                                     "è più grande di 16 MB"}),
    rowName);

// Closing the main window ends the program: the event loop runs here, so that the toolkit's end
// closes every window as it does in the program (a window that refuses stops the end, and fails
// the test). Then, as the program does, the saves are waited for and their failures told.
void closeInTheEventLoop(TDittixForm& form) {
    QTimer::singleShot(0, &form, [&form] {
        form.close();  // the toolkit's end runs within
        const QWidgetList windows = QApplication::topLevelWidgets();
        if (std::any_of(windows.begin(), windows.end(),
                        [](const QWidget* window) { return window->isVisible(); })) {
            ADD_FAILURE() << "a window still shown stopped the program's end";
            QCoreApplication::exit(1);
        }
    });
    QApplication::exec();
    form.finishSaves();
}

struct ExitSaveRow {
    const char* name;
    const char* commands;  // typed before closing: "S" shows the setup window, "e" training
    std::vector<std::string> toldOver;  // which windows were told, in order
};

class ExitSaveTest : public ::testing::TestWithParam<ExitSaveRow> {};

TEST_P(ExitSaveTest, EveryFailedSaveIsToldAndTheProgramEndsFailed) {
    Window w("", 1 << 30, {3});
    w.tellingRunsEvents = true;
    std::filesystem::remove(w.file);
    std::filesystem::create_directory(w.file);
    w.form->show();
    w.type(GetParam().commands);
    closeInTheEventLoop(*w.form);
    std::vector<std::string> over;
    for (const auto& [window, sentence] : w.told) {
        over.push_back(window == w.form.get()               ? "main"
                       : window == w.form->setupWindow()    ? "setup"
                       : window == w.form->trainingWindow() ? "training"
                                                            : "other");
        EXPECT_EQ(sentence, "Impossibile salvare le impostazioni in " + w.file.string() +
                                ": al suo posto c'è una cartella.");
    }
    EXPECT_EQ(over, GetParam().toldOver);
    EXPECT_EQ(w.mostTellingAtOnce, 1) << "one sentence at a time";
    EXPECT_TRUE(w.form->saveFailedOnClose());
    EXPECT_FALSE(w.form->setupWindow()->isVisible());
    EXPECT_FALSE(w.form->trainingWindow()->isVisible());
}

INSTANTIATE_TEST_SUITE_P(OpenWindows, ExitSaveTest,
                         ::testing::Values(ExitSaveRow{"main_window_alone", "", {"main"}},
                                           ExitSaveRow{"setup_open", "S", {"main", "setup"}},
                                           ExitSaveRow{"training_open", "e", {"main", "training"}}),
                         rowName);

// Puts a folder in place of the settings file just before a window handles its closing, once
// the saves asked for before are made (`before`).
class ObstructOnClose : public QObject {
  public:
    ObstructOnClose(std::filesystem::path file, std::function<void()> before)
        : m_file(std::move(file)), m_before(std::move(before)) {}
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Close) {
            m_before();
            std::filesystem::remove(m_file);
            std::filesystem::create_directory(m_file);
        }
        return false;
    }

  private:
    std::filesystem::path m_file;
    std::function<void()> m_before;
};

TEST(ExitSave, OnlyTheSaveOfAWindowClosedByTheEndFailsAndTheEndIsAFailure) {
    Window w("[Settings]\n", 1 << 30, {3});
    w.type("S");
    ObstructOnClose obstruct(w.file, [&w] { w.form->finishSaves(); });
    w.form->setupWindow()->installEventFilter(&obstruct);
    closeInTheEventLoop(*w.form);
    ASSERT_EQ(w.told.size(), 1u);
    EXPECT_EQ(w.told[0].first, w.form->setupWindow());
    EXPECT_TRUE(w.form->saveFailedOnClose());
}

TEST(ExitSave, AFailureBeforeTheEndIsToldButTheEndIsNotAFailure) {
    Window w("", 1 << 30, {3});
    std::filesystem::create_directory(w.file);
    w.type("S");
    setup::test::waitForScan(*w.form->setupWindow());
    w.form->setupWindow()->close();
    w.form->finishSaves();
    ASSERT_EQ(w.told.size(), 1u);
    EXPECT_EQ(w.told[0].first, w.form->setupWindow());
    // The operator moves the folder away; the save at the end works.
    std::filesystem::remove(w.file);
    closeInTheEventLoop(*w.form);
    EXPECT_EQ(w.told.size(), 1u);
    EXPECT_FALSE(w.form->saveFailedOnClose());
    EXPECT_NE(w.saved().find("Size=38"), std::string::npos);
}

TEST(ExitSave, AWindowClosedBeforeTheEndDoesNotCloseAgain) {
    Window w("", 1 << 30, {3});
    w.tellingRunsEvents = true;
    std::filesystem::create_directory(w.file);
    w.type("S");
    setup::test::waitForScan(*w.form->setupWindow());
    QTest::keyClick(w.form->setupWindow(), Qt::Key_Escape);
    closeInTheEventLoop(*w.form);
    std::vector<QWidget*> over;
    for (const auto& told : w.told) {
        over.push_back(told.first);
    }
    // Its own close saved once; the end does not close the hidden window again.
    EXPECT_EQ(over, (std::vector<QWidget*>{w.form->setupWindow(), w.form.get()}));
}

// The windows the commands show hide when closed and keep their display server's windows,
// made at start-up: showing one never makes a new window, which holds the decode tick.
struct KeptWindowRow {
    const char* name;
    const char* command;  // typed in the main window to show it; none: shown directly
    std::function<QWidget*(TDittixForm&)> window;
};

class KeptWindowTest : public ::testing::TestWithParam<KeptWindowRow> {};

QWidget& keptWindow(Window& w) {
    return *KeptWindowTest::GetParam().window(*w.form);
}

void showKept(Window& w) {
    if (*KeptWindowTest::GetParam().command != '\0') {
        w.type(KeptWindowTest::GetParam().command);
    } else {
        keptWindow(w).show();
    }
    ASSERT_TRUE(keptWindow(w).isVisible());
}

QPlatformWindow* platformWindow(const QWidget& window) {
    return window.windowHandle() ? window.windowHandle()->handle() : nullptr;
}

TEST_P(KeptWindowTest, ShownAgainInTheWindowMadeAtStartUp) {
    Window w("", 1 << 30, {3});
    QWidget& window = keptWindow(w);
    QPlatformWindow* const made = platformWindow(window);
    ASSERT_NE(made, nullptr) << "made at start-up";
    showKept(w);
    EXPECT_EQ(platformWindow(window), made);
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(platformWindow(window), made) << "kept when closed";
    showKept(w);
    EXPECT_EQ(platformWindow(window), made);
    window.close();  // as the close box does
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(platformWindow(window), made);
    w.form->finishSaves();
}

// The image a window paints into (its backing store's), or none yet.
const QImage* storeImage(const QWidget& window) {
    QBackingStore* store = window.backingStore();
    const auto* image = store != nullptr ? dynamic_cast<QImage*>(store->paintDevice()) : nullptr;
    return image != nullptr && !image->isNull() ? image : nullptr;
}

const uchar* imageBits(const QWidget& window) {
    const QImage* image = storeImage(window);
    return image != nullptr ? image->constBits() : nullptr;
}

// Before its first showing, the image holds the window's own picture, drawn at start-up.
TEST_P(KeptWindowTest, HoldsTheWindowsPictureFromStartUp) {
    Window w("", 1 << 30, {3});
    QWidget& window = keptWindow(w);
    const QImage* made = storeImage(window);
    ASSERT_NE(made, nullptr);
    const QImage picture = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(made->size(), picture.size());
    EXPECT_EQ(differingPixels(made->convertToFormat(QImage::Format_RGB32), picture), 0);
    w.form->finishSaves();
}

TEST_P(KeptWindowTest, PaintedIntoTheImageMadeAtStartUp) {
    Window w("", 1 << 30, {3});
    QWidget& window = keptWindow(w);
    const uchar* const made = imageBits(window);
    ASSERT_NE(made, nullptr) << "made at start-up";
    showKept(w);
    window.repaint();
    EXPECT_EQ(imageBits(window), made) << "the first showing made a new image";
    window.close();
    showKept(w);
    window.repaint();
    EXPECT_EQ(imageBits(window), made) << "showing again made a new image";
    w.form->finishSaves();
}

INSTANTIATE_TEST_SUITE_P(
    Windows, KeptWindowTest,
    ::testing::Values(
        KeptWindowRow{"setup", "s", [](TDittixForm& f) -> QWidget* { return f.setupWindow(); }},
        KeptWindowRow{"training", "e",
                      [](TDittixForm& f) -> QWidget* { return f.trainingWindow(); }},
        KeptWindowRow{"analysis", "a",
                      [](TDittixForm& f) -> QWidget* { return f.analysisWindow(); }},
        KeptWindowRow{"levels", "", [](TDittixForm& f) -> QWidget* { return f.levelsWindow(); }},
        KeptWindowRow{"progress", "",
                      [](TDittixForm& f) -> QWidget* { return f.progressWindow(); }}),
    rowName);

// Closing a kept window only hides it: the main window closes the ones still shown before the
// toolkit's end, which would stop at the first.
TEST(KeptWindows, TheProgramsEndClosesEveryWindowShown) {
    for (const bool setupClosedBefore : {false, true}) {
        SCOPED_TRACE(setupClosedBefore ? "setup closed before" : "all shown");
        Window w("[Settings]\n", 1 << 30, {3});
        w.type("sea");
        w.form->levelsWindow()->show();
        w.form->progressWindow()->show();
        w.form->tabellaCodice()->show();
        if (setupClosedBefore) {
            w.form->setupWindow()->close();
        }
        closeInTheEventLoop(*w.form);
        for (const QWidget* window : QApplication::topLevelWidgets()) {
            EXPECT_FALSE(window->isVisible()) << window->windowTitle().toStdString();
        }
        EXPECT_TRUE(w.told.empty());
    }
}

TEST(SaveFailure, TellingThatThrowsDoesNotSilenceTheFailuresAfter) {
    Window w("", 1 << 30, {3});
    std::filesystem::create_directory(w.file);
    const auto failSave = [&w] {
        w.type("S");
        setup::test::waitForScan(*w.form->setupWindow());
        w.form->setupWindow()->close();
    };
    bool throwing = true;
    w.afterTelling = [&throwing] {
        if (std::exchange(throwing, false)) {
            throw std::runtime_error("a message box that failed");
        }
    };
    failSave();
    EXPECT_THROW(w.form->finishSaves(), std::runtime_error);
    failSave();
    w.form->finishSaves();
    EXPECT_EQ(w.told.size(), 2u);
}

TEST(ExitSave, ASavedEndIsNotAFailure) {
    Window w("[Settings]\n", 1 << 30, {3});
    w.type("S");
    closeInTheEventLoop(*w.form);
    EXPECT_TRUE(w.told.empty());
    EXPECT_FALSE(w.form->saveFailedOnClose());
    EXPECT_NE(w.saved().find("Serial Port=3"), std::string::npos) << "the setup window saved";
}

}  // namespace
}  // namespace dittix::display
