// Copying in the training window on the offscreen platform, with a stand-in playback driven by the
// test: typing into every control, the end of the exercise and its score in the grid and the
// strip, the history rows, the next level, and a window with nothing typed left as it was.
#include <QApplication>
#include <QPaintEvent>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "../persistence/save_at_once.h"
#include "../persistence/temp_dir.h"
#include "persistence/course.h"
#include "persistence/settings.h"
#include "persistence/training_history.h"
#include "persistence/training_progress.h"
#include "support/named_rows.h"
#include "training/training_window.h"

namespace dittix::training {
namespace {

using test_support::PrintTo;
using test_support::rowName;

// The built-in course at 60 CPM for one minute unless the settings say otherwise.
// With `append`, the history rows go through it instead of being appended at once.
struct Window {
    explicit Window(std::string_view settingsText = "[Settings]\nVEL ES=60\n",
                    persistence::AppendHistory append = {}) {
        settings = persistence::parseSettings(settingsText, '.');
        file = dir.file("settings.ini");
        TrainingEnvironment environment{
            persistence::levelsToOffer(settings.levels),
            settings.training,
            random,
            file,
            persistence::test::saveAtOnce(file),
            [](int) {},
            [this] { ++playbacks; },
            [this] { ++levelShows; },
            [] {},
            [](const persistence::SaveError&) {},
            [this] { ++historyChanges; },
            [this](const std::string& sentence) { told.push_back(sentence); }};
        environment.appendHistory = std::move(append);
        window = std::make_unique<Ttraining>(std::move(environment));
        window->show();
        QApplication::processEvents();
    }
    Ttraining& t() { return *window; }
    const std::u16string& text() { return window->state().trainingText; }
    // The stand-in playback ends after starting the first `started` characters of the text.
    void endAfter(int started) {
        window->state().charactersStarted = started;
        window->state().exerciseRunning = false;
        window->state().playbackEnded = true;
        window->timerTimer();
    }
    void type(QWidget* control, const QString& keys) {
        for (const QChar c : keys) {
            if (c == QLatin1Char('\b')) {
                QTest::keyClick(control, Qt::Key_Backspace);
            } else if (c == QLatin1Char(' ')) {
                QTest::keyClick(control, Qt::Key_Space);
            } else {
                QTest::keyClicks(control, QString(c));
            }
        }
    }
    // The sent text's non-blank characters from `from`, `count` of them.
    QString sentCharacters(int from, int count) {
        QString out;
        for (const char16_t c : text()) {
            if (c != u' ' && from-- <= 0 && count-- > 0) {
                out += QChar(c);
            }
        }
        return out;
    }
    std::vector<persistence::HistoryRow> rows() {
        return persistence::readHistory(window->historyFile()).rows;
    }
    std::string saved() const { return persistence::readFileBytes(file); }

    persistence::test::TempDir dir;
    std::filesystem::path file;
    persistence::Settings settings;
    persistence::ExerciseRandom random{7};
    int playbacks = 0;
    int levelShows = 0;
    int historyChanges = 0;
    std::vector<std::string> told;
    std::unique_ptr<Ttraining> window;
};

struct ControlRow {
    const char* name;
    std::function<QWidget*(Ttraining&)> control;
};

class TypingIntoControlTest : public ::testing::TestWithParam<ControlRow> {};

// Letters, digits, signs, blanks and Backspace go to the copy from every control, which does
// nothing with them: lists keep their choice, buttons are not pressed, nothing is saved.
TEST_P(TypingIntoControlTest, GoesToTheCopyAndNowhereElse) {
    Window w;
    Ttraining& t = w.t();
    t.startClick();
    QWidget* control = GetParam().control(t);
    const int level = t.cbLivello->currentIndex();
    const int speed = t.cbSpeed->currentIndex();
    const int minutes = t.cbMinuti->currentIndex();
    const int pause = t.cbInterpausa->currentIndex();
    const bool shown = t.cbMostra->isChecked();
    w.type(control, QStringLiteral("lk 5m?x\b0/ "));
    EXPECT_EQ(t.copySession().copy(), u"LK 5M?0/ ");
    EXPECT_EQ(t.copyStrip()->copy(), QStringLiteral("LK 5M?0/ "));
    EXPECT_TRUE(t.copyStrip()->isVisible());
    EXPECT_EQ(t.cbLivello->currentIndex(), level);
    EXPECT_EQ(t.cbSpeed->currentIndex(), speed);
    EXPECT_EQ(t.cbMinuti->currentIndex(), minutes);
    EXPECT_EQ(t.cbInterpausa->currentIndex(), pause);
    EXPECT_EQ(t.cbMostra->isChecked(), shown);
    EXPECT_EQ(t.start->text(), "STOP") << "Space did not press STOP";
    EXPECT_EQ(w.playbacks, 1);
    EXPECT_EQ(w.levelShows, 0) << "Space did not press LIVELLI";
    EXPECT_TRUE(t.state().exerciseRunning.load());
    EXPECT_FALSE(t.state().stopRequested.load());
    EXPECT_TRUE(w.saved().empty()) << "no key saved";
}

INSTANTIATE_TEST_SUITE_P(
    Controls, TypingIntoControlTest,
    ::testing::Values(
        ControlRow{"window", [](Ttraining& t) -> QWidget* { return &t; }},
        ControlRow{"level_list", [](Ttraining& t) -> QWidget* { return t.cbLivello; }},
        ControlRow{"speed_list", [](Ttraining& t) -> QWidget* { return t.cbSpeed; }},
        ControlRow{"minutes_list", [](Ttraining& t) -> QWidget* { return t.cbMinuti; }},
        ControlRow{"pause_list", [](Ttraining& t) -> QWidget* { return t.cbInterpausa; }},
        ControlRow{"show_box", [](Ttraining& t) -> QWidget* { return t.cbMostra; }},
        ControlRow{"levels_button", [](Ttraining& t) -> QWidget* { return t.showLivelli; }},
        ControlRow{"start_button", [](Ttraining& t) -> QWidget* { return t.start; }},
        ControlRow{"scroll_panel", [](Ttraining& t) -> QWidget* { return t.scrollBox; }},
        ControlRow{"grid", [](Ttraining& t) -> QWidget* { return t.grid(); }}),
    rowName);

TEST(CopyKeys, BeforeTheFirstStartKeysDoWhatTheyDid) {
    Window w;
    Ttraining& t = w.t();
    QTest::keyClick(t.showLivelli, Qt::Key_Space);
    EXPECT_EQ(w.levelShows, 1) << "Space presses the focused button";
    QTest::keyClicks(t.cbMinuti, QStringLiteral("3"));
    EXPECT_EQ(t.cbMinuti->currentIndex(), 2) << "a list searches its items";
    EXPECT_TRUE(t.copySession().copy().empty());
    EXPECT_FALSE(t.copyStrip()->isVisible());
}

TEST(CopyKeys, KeysWithoutATrainingToneOrWithCtrlPassOn) {
    Window w;
    Ttraining& t = w.t();
    t.startClick();
    QTest::keyClicks(t.cbMinuti, QStringLiteral("!"));
    QTest::keyClick(t.cbMinuti, Qt::Key_K, Qt::ControlModifier);
    QTest::keyClick(t.cbMinuti, Qt::Key_Down);
    EXPECT_TRUE(t.copySession().copy().empty());
    EXPECT_FALSE(t.copyStrip()->isVisible()) << "nothing typed: the window is as before";
}

struct EscRow {
    const char* name;
    std::function<QWidget*(Ttraining&)> control;
};

class EscTest : public ::testing::TestWithParam<EscRow> {};

// Esc stops the exercise and keeps the copy; a second Esc closes the window.
TEST_P(EscTest, StopsThenClosesAndTheCopyStays) {
    Window w;
    Ttraining& t = w.t();
    t.startClick();
    w.type(GetParam().control(t), QStringLiteral("KM"));
    QTest::keyClick(GetParam().control(t), Qt::Key_Escape);
    EXPECT_TRUE(t.state().stopRequested.load());
    EXPECT_EQ(t.start->text(), "START");
    EXPECT_TRUE(t.isVisible());
    EXPECT_EQ(t.copySession().copy(), u"KM");
    w.endAfter(3);
    QTest::keyClick(GetParam().control(t), Qt::Key_Escape);
    EXPECT_FALSE(t.isVisible());
    EXPECT_NE(w.saved().find("VEL ES=60"), std::string::npos) << "the five keys are saved";
}

INSTANTIATE_TEST_SUITE_P(
    Controls, EscTest,
    ::testing::Values(EscRow{"window", [](Ttraining& t) -> QWidget* { return &t; }},
                      EscRow{"speed_list", [](Ttraining& t) -> QWidget* { return t.cbSpeed; }},
                      EscRow{"start_button", [](Ttraining& t) -> QWidget* { return t.start; }},
                      EscRow{"grid", [](Ttraining& t) -> QWidget* { return t.grid(); }}),
    rowName);

TEST(CopyLife, KeptAfterTheEndAndClearedByStart) {
    Window w;
    Ttraining& t = w.t();
    t.startClick();
    w.type(&t, w.sentCharacters(0, 2));
    w.endAfter(6);
    w.type(&t, w.sentCharacters(2, 3));
    EXPECT_EQ(QString::fromStdU16String(t.copySession().copy()), w.sentCharacters(0, 5));
    ASSERT_NE(t.copySession().score(), nullptr);
    EXPECT_EQ(t.copySession().score()->counts.right, 5) << "scored again as typed";
    EXPECT_EQ(t.grid()->cellColour(4), CellColour::Right);
    t.startClick();
    EXPECT_TRUE(t.copySession().copy().empty());
    EXPECT_EQ(t.copySession().score(), nullptr);
    EXPECT_FALSE(t.copyStrip()->isVisible());
    EXPECT_EQ(t.grid()->cellColour(4), CellColour::Yellow);
    EXPECT_FALSE(t.grid()->cellShown(4)) << "MOSTRA CAR is off";
}

TEST(CopyLife, AStartBeforeTheTimerSawTheEndScoresThatExerciseFirst) {
    Window w;
    Ttraining& t = w.t();
    t.startClick();
    const QString copy = w.sentCharacters(0, 5);
    w.type(&t, copy);
    t.state().charactersStarted = 6;
    t.state().exerciseRunning = false;
    t.state().playbackEnded = true;  // ended; the timer has not ticked yet
    t.startClick();
    const std::vector<persistence::HistoryRow> rows = w.rows();
    ASSERT_EQ(rows.size(), 1U);
    EXPECT_EQ(QString::fromStdU16String(rows[0].copyText), copy);
    EXPECT_EQ(rows[0].right, 5);
    EXPECT_EQ(t.start->text(), "STOP") << "the new exercise runs";
}

// A copy of the first group with its second character typed as X, stopped after the first
// character of the second group: seven characters started, six of them sent characters.
struct Scored {
    explicit Scored(persistence::AppendHistory append = {})
        : w("[Settings]\nVEL ES=60\n", std::move(append)) {
        t().startClick();
        copy = w.sentCharacters(0, 1) + wrong + w.sentCharacters(2, 3);
        w.type(&t(), copy);
        w.endAfter(7);
    }
    Ttraining& t() { return w.t(); }
    Window w;
    QChar wrong{'X'};  // not in the level: it can only be taken for the character it replaces
    QString copy;
};

TEST(CopyScore, OverTheCharactersStartedWithMarksAndSummary) {
    Scored s;
    Ttraining& t = s.t();
    const CharacterGrid& grid = *t.grid();
    EXPECT_EQ(grid.cellColour(0), CellColour::Right);
    EXPECT_EQ(grid.cellColour(1), CellColour::Wrong);
    EXPECT_EQ(grid.cellTyped(1), QString(s.wrong));
    EXPECT_EQ(grid.cellColour(4), CellColour::Right);
    EXPECT_EQ(grid.cellColour(5), CellColour::Yellow) << "a blank is not marked";
    EXPECT_EQ(grid.cellColour(6), CellColour::Missed);
    EXPECT_TRUE(grid.cellShown(6)) << "sent cells are shown though MOSTRA CAR is off";
    EXPECT_EQ(grid.cellColour(7), CellColour::Yellow) << "not sent";
    EXPECT_FALSE(grid.cellShown(7));
    const QString sent = QString(QChar(s.w.text()[1]));
    EXPECT_EQ(t.copyStrip()->summary(),
              QStringLiteral("Inviati 6 \u00B7 Giusti 4 \u00B7 Errati 1 \u00B7 Mancanti 1 \u00B7 "
                             "In pi\u00F9 0 \u00B7 Precisione 66,7 % \u00B7 ") +
                  sent + QChar(0x2192) + s.wrong + QStringLiteral(" \u00D71"));
    EXPECT_TRUE(t.copyStrip()->isVisible());
    EXPECT_TRUE(t.copyStrip()->message().isEmpty());
    EXPECT_FALSE(t.copyStrip()->nextLevel->isVisible());
}

TEST(CopyScore, NothingTypedNoStripNoMarksNoRow) {
    Window w;
    Ttraining& t = w.t();
    t.startClick();
    w.endAfter(12);
    EXPECT_EQ(t.copySession().score(), nullptr);
    EXPECT_FALSE(t.copyStrip()->isVisible());
    EXPECT_EQ(t.grid()->cellColour(0), CellColour::Highlight) << "as the stand-in left it";
    for (int k = 1; k < kGridLabels; ++k) {
        ASSERT_EQ(t.grid()->cellColour(k), CellColour::Yellow) << k;
    }
    EXPECT_FALSE(std::filesystem::exists(t.historyFile()));
    EXPECT_EQ(w.historyChanges, 0);
}

TEST(CopyScore, StopInTheLeadInScoresNothing) {
    Window w;
    Ttraining& t = w.t();
    t.startClick();
    w.type(&t, QStringLiteral("KM"));
    w.endAfter(0);
    EXPECT_EQ(t.copySession().score(), nullptr);
    EXPECT_FALSE(std::filesystem::exists(t.historyFile()));
    EXPECT_EQ(t.grid()->cellColour(0), CellColour::Highlight) << "as the stand-in left it";
}

// Everything a geometry test compares: every control's place and visibility, and the grid's.
std::vector<std::string> geometryOf(Ttraining& t) {
    std::vector<std::string> out;
    for (const QWidget* child : t.findChildren<QWidget*>()) {
        const QRect g = child->geometry();
        out.push_back(std::string(child->metaObject()->className()) + " " + std::to_string(g.x()) +
                      "," + std::to_string(g.y()) + " " + std::to_string(g.width()) + "x" +
                      std::to_string(g.height()) + (child->isVisibleTo(&t) ? " shown" : " hidden"));
    }
    const GridLayout& l = t.layout();
    out.push_back("layout " + std::to_string(l.columns) + " " + std::to_string(l.visibleChars) +
                  " " + std::to_string(l.scrollBar) + " " + std::to_string(l.scrollRange));
    for (int k = 0; k < kGridLabels; ++k) {
        const QPoint p = t.grid()->cellPos(k);
        out.push_back("cell " + std::to_string(k) + " " + std::to_string(p.x()) + "," +
                      std::to_string(p.y()) + (t.grid()->cellShown(k) ? " shown" : "") +
                      (t.grid()->cellColour(k) == CellColour::Yellow ? "" : " coloured"));
    }
    return out;
}

struct UntouchedRow {
    const char* name;
    const char* settings;
    QString typed;  // while the exercise plays
    bool same;
};

class UntouchedTest : public ::testing::TestWithParam<UntouchedRow> {};

// Nothing typed: at the end every control and every cell is where and as it was while the
// exercise played, as before copying existed; something typed moves the grid's bottom up.
TEST_P(UntouchedTest, NothingTypedLeavesTheWindowAsItWas) {
    Window w(GetParam().settings);
    Ttraining& t = w.t();
    t.startClick();
    t.setLabelYellow(0);  // as the playback leaves the first cell
    const std::vector<std::string> playing = geometryOf(t);
    w.type(&t, GetParam().typed);
    t.state().charactersStarted = 0;  // the playback sent nothing: nothing is marked
    w.endAfter(0);
    EXPECT_EQ(geometryOf(t) == playing, GetParam().same);
    EXPECT_EQ(t.scrollBox->geometry().bottom() == t.height() - 1, GetParam().same);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UntouchedTest,
    ::testing::Values(UntouchedRow{"nothing_typed", "[Settings]\nVEL ES=60\n", "", true},
                      UntouchedRow{"nothing_typed_five_minutes_shown",
                                   "[Settings]\nVEL ES=150\nTEMPO ES=5\nMOSTRA ES=1\n", "", true},
                      UntouchedRow{"a_character_typed", "[Settings]\nVEL ES=60\n", "K", false},
                      UntouchedRow{"a_blank_typed", "[Settings]\nVEL ES=60\n", " ", false}),
    rowName);

// With the strip shown, the grid's rows are counted in the height above it.
TEST(CopyStripLayout, TheGridEndsAboveTheStrip) {
    Window w("[Settings]\nVEL ES=150\nTEMPO ES=5\n");
    Ttraining& t = w.t();
    t.startClick();
    const int visibleBefore = t.layout().visibleChars;
    w.type(&t, QStringLiteral("K"));
    const int strip = t.copyStrip()->height();
    EXPECT_GT(strip, 0);
    EXPECT_EQ(t.scrollBox->geometry().bottom() + 1, t.copyStrip()->y());
    EXPECT_EQ(t.copyStrip()->geometry().bottom(), t.height() - 1);
    EXPECT_EQ(
        t.layout().visibleChars,
        gridLayoutFor(t.outerWidth(), t.outerHeight() - strip, t.state().charCount).visibleChars);
    EXPECT_LT(t.layout().visibleChars, visibleBefore);
    const int rowsShown = t.layout().visibleChars / t.layout().charsPerRow;
    EXPECT_LE(rowsShown * 50, t.scrollBox->viewport()->height()) << "no row under the strip";
}

TEST(CopyHistory, TheRowHoldsTheExerciseAndItsScore) {
    Scored s;
    const std::vector<persistence::HistoryRow> rows = s.w.rows();
    ASSERT_EQ(rows.size(), 1U);
    const persistence::HistoryRow& row = rows[0];
    EXPECT_EQ(row.exercise.mode, persistence::TrainingMode::Receive);
    EXPECT_EQ(row.exercise.level, 1);
    EXPECT_EQ(row.exercise.levelChars, u"KM");
    EXPECT_EQ(row.exercise.cpm, 60);
    EXPECT_EQ(row.exercise.minutes, 1);
    EXPECT_EQ(row.exercise.interpause, 0);
    EXPECT_EQ(row.sent, 6);
    EXPECT_EQ(row.right, 4);
    EXPECT_EQ(row.wrong, 1);
    EXPECT_EQ(row.missed, 1);
    EXPECT_EQ(row.extra, 0);
    EXPECT_EQ(row.accuracyTenths, 667);
    EXPECT_EQ(row.sentText, s.w.text().substr(0, 7));
    EXPECT_EQ(QString::fromStdU16String(row.copyText), s.copy);
    EXPECT_LE(std::abs(row.unixSeconds - static_cast<std::int64_t>(std::time(nullptr))), 60);
    EXPECT_EQ(s.w.historyChanges, 1);
    EXPECT_EQ(s.t().historyFile().parent_path(), s.w.file.parent_path());
    const std::string text = persistence::readFileBytes(s.t().historyFile());
    EXPECT_EQ(text.rfind(persistence::kHistoryHeader, 0), 0U) << text;
}

struct SupersedeRow {
    const char* name;
    QString typedAfterTheEnd;
    std::function<void(Ttraining&)> finish;
    std::size_t rows;
};

class SupersedeTest : public ::testing::TestWithParam<SupersedeRow> {};

TEST_P(SupersedeTest, ACopyChangedAfterItsRowAddsOneRowWithTheSameDate) {
    Scored s;
    s.w.type(&s.t(), GetParam().typedAfterTheEnd);
    GetParam().finish(s.t());
    const std::vector<persistence::HistoryRow> rows = s.w.rows();
    ASSERT_EQ(rows.size(), GetParam().rows);
    if (rows.size() == 2) {
        EXPECT_EQ(rows[1].date, rows[0].date);
        EXPECT_EQ(QString::fromStdU16String(rows[1].copyText),
                  s.copy + GetParam().typedAfterTheEnd);
        EXPECT_EQ(persistence::exerciseCount(rows, persistence::TrainingMode::Receive), 1U);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Moments, SupersedeTest,
    ::testing::Values(
        SupersedeRow{"unchanged_then_start", "", [](Ttraining& t) { t.startClick(); }, 1},
        SupersedeRow{"changed_then_start", "K", [](Ttraining& t) { t.startClick(); }, 2},
        SupersedeRow{"changed_then_closed", "KM", [](Ttraining& t) { t.close(); }, 2},
        SupersedeRow{"changed_closed_and_closed_again", "M",
                     [](Ttraining& t) {
                         t.close();
                         t.show();
                         t.close();
                     },
                     2},
        SupersedeRow{"not_yet_finished", "K", [](Ttraining&) {}, 1}),
    rowName);

TEST(CopyHistory, AFolderInPlaceOfTheFileIsToldInTheStrip) {
    Window w;
    std::filesystem::create_directory(w.t().historyFile());
    Ttraining& t = w.t();
    t.startClick();
    w.type(&t, w.sentCharacters(0, 1));
    w.endAfter(2);
    const QString message = t.copyStrip()->message();
    EXPECT_TRUE(
        message.startsWith(QStringLiteral("Impossibile salvare l'esercizio nello storico ")))
        << message.toStdString();
    EXPECT_TRUE(message.contains(QString::fromStdString(t.historyFile().string())));
    EXPECT_TRUE(message.endsWith(QStringLiteral("è una cartella, non un file.")));
    EXPECT_TRUE(t.copyStrip()->messageLine->isVisible());
    EXPECT_NE(t.copySession().score(), nullptr) << "the score is still shown";
    EXPECT_EQ(w.historyChanges, 0);

    // Closing tries again, and tells the operator when that fails too.
    t.close();
    ASSERT_EQ(w.told.size(), 1U);
    EXPECT_EQ(QString::fromStdString(w.told[0]), message);

    // Once the folder is gone the row is written, with the exercise's own date.
    std::filesystem::remove(t.historyFile());
    t.show();
    t.startClick();
    EXPECT_EQ(w.rows().size(), 1U);
    EXPECT_TRUE(t.copyStrip()->message().isEmpty());
}

TEST(CopyHistory, ARowThatCannotBeWrittenAtStartIsToldInTheNewExercise) {
    Scored s;
    s.w.type(&s.t(), QStringLiteral("K"));
    std::filesystem::remove(s.t().historyFile());
    std::filesystem::create_directory(s.t().historyFile());
    s.t().startClick();
    EXPECT_TRUE(s.t().copyStrip()->isVisible());
    EXPECT_TRUE(s.t().copyStrip()->message().startsWith(QStringLiteral("Impossibile salvare")));
    EXPECT_TRUE(s.t().copyStrip()->copy().isEmpty()) << "the new exercise's copy";
}

// The history's thread as the program has it, but held: each row waits in `asked` until the test
// appends it, and `done` runs when it does, as the event loop would run it.
struct HeldAppends {
    persistence::AppendHistory append() {
        return [this](const persistence::HistoryRow& row, persistence::HistoryAppended done) {
            asked.push_back({row, std::move(done)});
        };
    }
    // Appends the oldest row still waiting to `file`.
    void appendNext(const std::filesystem::path& file) {
        ASSERT_FALSE(asked.empty());
        auto [row, done] = std::move(asked.front());
        asked.erase(asked.begin());
        done(persistence::appendHistoryRow(file, row));
    }
    std::vector<std::pair<persistence::HistoryRow, persistence::HistoryAppended>> asked;
};

struct LateAppendRow {
    const char* name;
    QString typedAfterTheEnd;
    // What the operator does while the exercise's row is still on its way.
    std::function<void(Ttraining&)> meanwhile;
    bool folderInPlace;      // the append fails
    std::size_t asked;       // rows asked for before the first one ends
    bool told;               // the failure is told to the operator rather than shown in the strip
    std::size_t askedAgain;  // rows asked for by the next START once the folder is gone
};

class LateAppendTest : public ::testing::TestWithParam<LateAppendRow> {};

// The row of a scored exercise ends after the operator has gone on: a row handed over is not
// asked for again while it is on its way; a failure shows in the strip of the window still
// open, even over a new exercise, or is told when the window was closed; a row that failed for
// the exercise still shown is asked for again at the next START, one of an exercise left is not.
TEST_P(LateAppendTest, ItsEndReachesTheWindowAsItIsNow) {
    const LateAppendRow& p = GetParam();
    HeldAppends held;
    Scored s(held.append());
    Ttraining& t = s.t();
    const std::filesystem::path history = t.historyFile();
    if (p.folderInPlace) {
        std::filesystem::create_directory(history);
    }
    s.w.type(&t, p.typedAfterTheEnd);
    p.meanwhile(t);
    ASSERT_EQ(held.asked.size(), p.asked);
    EXPECT_EQ(s.w.historyChanges, 0) << "nothing written yet";

    held.appendNext(history);
    if (!p.folderInPlace) {
        EXPECT_EQ(s.w.historyChanges, 1);
        EXPECT_TRUE(s.w.told.empty());
        EXPECT_FALSE(t.copyStrip()->message().startsWith(QStringLiteral("Impossibile")));
        return;
    }
    EXPECT_EQ(s.w.historyChanges, 0);
    if (p.told) {
        ASSERT_EQ(s.w.told.size(), 1U);
        EXPECT_TRUE(
            QString::fromStdString(s.w.told[0])
                .startsWith(QStringLiteral("Impossibile salvare l'esercizio nello storico ")));
        return;
    }
    EXPECT_TRUE(s.w.told.empty());
    EXPECT_TRUE(t.copyStrip()->isVisible());
    EXPECT_TRUE(t.copyStrip()->message().startsWith(QStringLiteral("Impossibile salvare")))
        << t.copyStrip()->message().toStdString();

    std::filesystem::remove(history);
    held.asked.clear();
    t.startClick();
    ASSERT_EQ(held.asked.size(), p.askedAgain);
    if (p.askedAgain == 1) {
        held.appendNext(history);
        EXPECT_EQ(s.w.rows().size(), 1U);
        EXPECT_EQ(QString::fromStdU16String(s.w.rows()[0].copyText), s.copy);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Moments, LateAppendTest,
    ::testing::Values(
        LateAppendRow{"written_while_shown", "", [](Ttraining&) {}, false, 1, false, 0},
        LateAppendRow{"written_after_start_unchanged", "", [](Ttraining& t) { t.startClick(); },
                      false, 1, false, 0},
        LateAppendRow{"failed_while_shown", "", [](Ttraining&) {}, true, 1, false, 1},
        LateAppendRow{"failed_after_start_unchanged", "", [](Ttraining& t) { t.startClick(); },
                      true, 1, false, 0},
        LateAppendRow{"failed_after_start_changed", "K", [](Ttraining& t) { t.startClick(); }, true,
                      2, false, 0},
        LateAppendRow{"failed_after_close", "", [](Ttraining& t) { t.close(); }, true, 1, true, 0},
        LateAppendRow{"failed_after_close_changed", "KM", [](Ttraining& t) { t.close(); }, true, 2,
                      true, 0}),
    rowName);

struct NextLevelRow {
    const char* name;
    int cpm;
    int sentCharacters;  // characters started (blanks not counted)
    int wrong;           // of them, typed wrong
    int livEs;
    bool offered;
};

class NextLevelWindowTest : public ::testing::TestWithParam<NextLevelRow> {};

TEST_P(NextLevelWindowTest, OfferedFromFiftySentAtNinetyPercent) {
    const NextLevelRow& row = GetParam();
    Window w("[Settings]\nVEL ES=" + std::to_string(row.cpm) +
             "\nLIV ES=" + std::to_string(row.livEs) + "\n");
    Ttraining& t = w.t();
    t.startClick();
    QString copy = w.sentCharacters(0, row.sentCharacters);
    for (int k = 0; k < row.wrong; ++k) {
        copy[k] = QLatin1Char('X');  // in none of the levels used: never right by chance
    }
    w.type(&t, copy);
    // The started characters and the blanks between them.
    w.endAfter(row.sentCharacters + (row.sentCharacters - 1) / 5);
    ASSERT_NE(t.copySession().score(), nullptr);
    ASSERT_EQ(t.copySession().score()->counts.sent, row.sentCharacters);
    EXPECT_EQ(t.copyStrip()->nextLevel->isVisible(), row.offered);
    EXPECT_EQ(t.copyStrip()->message().startsWith(QStringLiteral("Bravo!")),
              row.offered || row.livEs == 40);
    EXPECT_EQ(t.cbLivello->currentIndex(), row.livEs - 1) << "never chosen by itself";
    if (row.offered) {
        QTest::mouseClick(t.copyStrip()->nextLevel, Qt::LeftButton);
        EXPECT_EQ(t.cbLivello->currentIndex(), row.livEs);
        EXPECT_FALSE(t.copyStrip()->nextLevel->isVisible());
        EXPECT_EQ(
            t.copyStrip()->message(),
            QStringLiteral("Livello %1 scelto: premi START per cominciare.").arg(row.livEs + 1));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Thresholds, NextLevelWindowTest,
    ::testing::Values(NextLevelRow{"sent_49", 50, 49, 0, 1, false},
                      NextLevelRow{"sent_50", 50, 50, 0, 1, true},
                      NextLevelRow{"sent_51", 60, 51, 0, 1, true},
                      NextLevelRow{"fifty_sent_44_right_is_88_0_percent", 50, 50, 6, 1, false},
                      NextLevelRow{"fifty_sent_45_right_is_90_0_percent", 50, 50, 5, 1, true},
                      NextLevelRow{"sent_129_right_116_is_89_9_percent", 130, 129, 13, 3, false},
                      NextLevelRow{"sent_130_right_117_is_90_0_percent", 130, 130, 13, 3, true},
                      NextLevelRow{"next_to_last_level", 60, 60, 0, 39, true},
                      NextLevelRow{"last_level_no_button", 60, 60, 0, 40, false}),
    rowName);

// Records the area of every paint the grid receives.
class PaintRecorder : public QObject {
  public:
    explicit PaintRecorder(QWidget& watched) { watched.installEventFilter(this); }
    QRegion painted;

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            painted += static_cast<QPaintEvent*>(event)->region();
        }
        return false;
    }
};

TEST(GridRepaint, StartRepaintsOnlyTheCellsThatChange) {
    // One character, K, in the level: every exercise draws the same text.
    Window w("[Settings]\nlivello1=K\nMOSTRA ES=1\n");
    Ttraining& t = w.t();
    t.startClick();  // the first START sizes the grid: all of it is painted
    w.endAfter(48);
    t.setLabelYellow(47);
    QApplication::processEvents();
    PaintRecorder second(*t.grid());
    t.startClick();
    QApplication::processEvents();
    EXPECT_EQ(second.painted, QRegion(t.grid()->cellRect(0)))
        << "the same 48 characters: only the first cell, yellow again and red";
}

}  // namespace
}  // namespace dittix::training
