// The training window on the offscreen platform, with a stand-in playback driven by the test.
#include "training/training_window.h"

#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <vector>

#include "../persistence/save_at_once.h"
#include "../persistence/temp_dir.h"
#include "persistence/settings.h"
#include "support/named_rows.h"

namespace dittix::training {
namespace {

using test_support::PrintTo;

struct Window {
    explicit Window(std::string_view settingsText = "[Settings]\nlivello1=abc\nlivello2=0\n") {
        settings = persistence::parseSettings(settingsText, '.');
        file = dir.file("settings.ini");
        window = std::make_unique<Ttraining>(TrainingEnvironment{
            settings.levels, settings.training, random, file, persistence::test::saveAtOnce(file),
            [this](int cpm) { composed.push_back(cpm); }, [this] { ++playbacks; },
            [this] { ++levelShows; }, [this] { ++focusReturns; },
            [this](const persistence::SaveError& error) { saveErrors.push_back(error); }});
    }
    // The stand-in playback ends the way the real one does: from its own side.
    void endPlayback() {
        window->state().exerciseRunning = false;
        window->state().playbackEnded = true;
    }
    std::string saved() const { return persistence::readFileBytes(file); }

    persistence::test::TempDir dir;
    std::filesystem::path file;
    persistence::Settings settings;
    persistence::ExerciseRandom random{7};
    std::vector<int> composed;
    int playbacks = 0;
    int levelShows = 0;
    int focusReturns = 0;
    std::vector<persistence::SaveError> saveErrors;
    std::unique_ptr<Ttraining> window;
};

TEST(TrainingWindow, CreatedAsDesigned) {
    Window w;
    Ttraining& t = *w.window;
    EXPECT_EQ(t.windowTitle(), "ESERCIZIO RICEZIONE");
    EXPECT_EQ(t.outerWidth(), 1188);
    EXPECT_EQ(t.outerHeight(), 594);
    EXPECT_EQ(t.cbLivello->count(), 2);
    EXPECT_EQ(t.cbLivello->itemText(1), "LIVELLO 2");
    EXPECT_EQ(t.cbSpeed->count(), 27);
    EXPECT_EQ(t.cbSpeed->itemText(7), "55 CPM - 11WPM");
    EXPECT_EQ(t.cbSpeed->itemText(11), "75 CPM - 15  WPM");
    EXPECT_EQ(t.cbMinuti->itemText(4), "5 MIN");
    EXPECT_EQ(t.cbInterpausa->itemText(6), "3.0");
    EXPECT_EQ(t.labInter->text(), "INTERPAUSA");
    // The top row was laid out for a client area 973 pixels wide; START is anchored right.
    EXPECT_EQ(t.start->pos(), QPoint(t.width() - (973 - 878), 8));
    EXPECT_LE(t.labInter->x() + t.labInter->width(), t.cbInterpausa->x()) << "no overlap";
    EXPECT_LE(t.Label1->x() + t.Label1->width(), t.start->x());
    EXPECT_EQ(t.Label1->text(), "MOSTRA CAR");
    EXPECT_EQ(t.start->text(), "START");
    EXPECT_EQ(t.cbSpeed->currentIndex(), 4) << "VEL ES 40";
    EXPECT_TRUE(w.composed.empty()) << "restoring the choices composes nothing";
    EXPECT_EQ(t.grid()->cellPos(37), QPoint(1 * 32 + 16, 1 * 50 + 4));
    EXPECT_FALSE(t.grid()->cellShown(0));
    EXPECT_FALSE(t.grid()->isShown());
}

TEST(TrainingWindow, NoOutputShowsTheMessageAndMakesRoomForIt) {
    Window w("[Settings]\nlivello1=abc\n");
    EXPECT_EQ(w.window->labInter->text(), "INTERPAUSA") << "nothing is opened at creation";
    w.window->showNoOutput();
    Ttraining& t = *w.window;
    EXPECT_EQ(t.labInter->text(), "unable to open WAVE_MAPPER device\n");
    EXPECT_LE(t.labInter->x() + t.labInter->width(), t.cbInterpausa->x()) << "no overlap";
    EXPECT_LE(t.Label1->x() + t.Label1->width(), t.start->x());
}

struct RestoreRow {
    const char* name;
    const char* settings;
    int level;
    int speed;
    int minutes;
    int pause;
    bool shown;
};

class RestoreTest : public ::testing::TestWithParam<RestoreRow> {};

TEST_P(RestoreTest, LastChoices) {
    Window w(GetParam().settings);
    EXPECT_EQ(w.window->cbLivello->currentIndex(), GetParam().level);
    EXPECT_EQ(w.window->cbSpeed->currentIndex(), GetParam().speed);
    EXPECT_EQ(w.window->cbMinuti->currentIndex(), GetParam().minutes);
    EXPECT_EQ(w.window->cbInterpausa->currentIndex(), GetParam().pause);
    EXPECT_EQ(w.window->cbMostra->isChecked(), GetParam().shown);
    EXPECT_EQ(w.window->grid()->isShown(), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, RestoreTest,
    ::testing::Values(RestoreRow{"all_stored",
                                 "[Settings]\nlivello1=a\nlivello2=b\nLIV ES=2\nVEL ES=75\n"
                                 "TEMPO ES=3\nINTER ES=4\nMOSTRA ES=1\n",
                                 1, 11, 2, 4, true},
                      RestoreRow{"speed_37_selects_35", "[Settings]\nlivello1=a\nVEL ES=37\n", 0, 3,
                                 0, 0, false},
                      RestoreRow{"pause_out_of_range_selects_no",
                                 "[Settings]\nlivello1=a\nINTER ES=9\n", 0, 4, 0, 0, false},
                      RestoreRow{"no_levels", "[Settings]\n", -1, 4, 0, 0, false}),
    test_support::rowName);

TEST(TrainingStart, BuildsTheExerciseAndTheGrid) {
    Window w("[Settings]\nlivello1=0\nMOSTRA ES=1\nINTER ES=1\n");
    w.window->show();
    w.window->cbSpeed->setCurrentIndex(0);  // 20 CPM (a stored 20 would load as 30)
    w.window->startClick();
    const TrainingState& s = w.window->state();
    EXPECT_EQ(s.trainingText, u"00000 00000 00000 00000 ");
    EXPECT_EQ(s.charCount, 20);
    EXPECT_EQ(s.dotMs.load(), 300);
    EXPECT_EQ(s.extraPauseMs.load(), 450);
    EXPECT_EQ(w.window->grid()->cellText(0), QString(QChar(0x00D8)));
    EXPECT_EQ(w.window->grid()->cellText(5), " ");
    EXPECT_TRUE(w.window->grid()->cellText(24).isEmpty());
    EXPECT_TRUE(w.window->grid()->isVisible() && w.window->grid()->cellShown(0));
    EXPECT_EQ(w.window->start->text(), "STOP");
    EXPECT_FALSE(w.window->cbLivello->isEnabled());
    EXPECT_FALSE(w.window->cbSpeed->isEnabled());
    EXPECT_FALSE(w.window->cbMinuti->isEnabled());
    EXPECT_TRUE(w.window->cbInterpausa->isEnabled());
    EXPECT_EQ(w.playbacks, 1);
    EXPECT_TRUE(s.exerciseRunning.load());
}

TEST(TrainingStart, HiddenGridStaysHidden) {
    Window w;
    w.window->show();
    w.window->startClick();
    EXPECT_FALSE(w.window->grid()->cellShown(0));
    EXPECT_FALSE(w.window->grid()->cellText(0).isEmpty());
}

TEST(TrainingStart, NoLevelStartsNothing) {
    Window w("[Settings]\n");
    w.window->startClick();
    EXPECT_EQ(w.playbacks, 0);
    EXPECT_EQ(w.window->start->text(), "START");
}

TEST(TrainingStates, IdleRunningStoppingEndedIdle) {
    Window w;
    Ttraining& t = *w.window;
    t.startClick();  // Running
    t.startClick();  // Stopping
    EXPECT_TRUE(t.state().stopRequested.load());
    EXPECT_EQ(t.start->text(), "START");
    EXPECT_TRUE(t.cbSpeed->isEnabled());
    t.startClick();  // still Stopping: nothing new starts
    EXPECT_EQ(w.playbacks, 1);
    w.endPlayback();  // Ended
    t.timerTimer();   // Idle
    EXPECT_FALSE(t.state().playbackEnded.load());
    t.startClick();
    EXPECT_EQ(w.playbacks, 2);
    EXPECT_FALSE(t.state().stopRequested.load());
}

TEST(TrainingStates, StartInEndedBeforeTheTimerTickKeepsTheNewExercise) {
    Window w;
    Ttraining& t = *w.window;
    t.startClick();
    w.endPlayback();
    t.startClick();  // before the tick
    t.timerTimer();
    EXPECT_EQ(t.start->text(), "STOP");
    EXPECT_FALSE(t.cbSpeed->isEnabled());
}

TEST(TrainingKeys, EscWhileRunningOnlyStops) {
    Window w;
    w.window->show();
    w.window->startClick();
    QTest::keyClick(w.window->cbInterpausa, Qt::Key_Escape);
    EXPECT_TRUE(w.window->isVisible());
    EXPECT_TRUE(w.window->state().stopRequested.load());
    EXPECT_EQ(w.window->start->text(), "START");
    EXPECT_TRUE(w.saved().empty());
}

TEST(TrainingKeys, EscWhileIdleClosesAndSavesTheFiveKeys) {
    Window w;
    persistence::test::writeBytes(w.file, "; mine\n[Settings]\nlivello1=abc\n");
    w.window->show();
    w.window->cbSpeed->setCurrentIndex(2);
    w.window->cbMinuti->setCurrentIndex(4);
    QTest::keyClick(w.window.get(), Qt::Key_Escape);
    EXPECT_FALSE(w.window->isVisible());
    EXPECT_EQ(w.focusReturns, 1);
    EXPECT_EQ(w.saved(),
              "; mine\n[Settings]\nlivello1=abc\nLIV ES=1\nVEL ES=30\nTEMPO ES=5\n"
              "INTER ES=0\nMOSTRA ES=0\n");
}

TEST(TrainingChanges, SpeedComposesAndPauseAndShowApplyAtOnce) {
    Window w("[Settings]\nlivello1=abc\nVEL ES=35\n");
    w.window->show();
    w.window->startClick();
    EXPECT_EQ(w.window->state().dotMs.load(), 171);
    w.window->cbInterpausa->setCurrentIndex(1);
    w.window->cbInterpausaChange();
    EXPECT_EQ(w.window->state().extraPauseMs.load(), 256);
    w.window->cbMostra->setChecked(true);
    w.window->cbMostraClick();
    EXPECT_TRUE(w.window->grid()->isVisible() && w.window->grid()->cellShown(0));
    w.window->cbSpeed->setCurrentIndex(6);
    w.window->cbSpeedChange();
    EXPECT_EQ(w.composed, (std::vector<int>{50}));
    EXPECT_EQ(w.settings.training.velEs, 50);
    w.window->showLivelliClick();
    EXPECT_EQ(w.levelShows, 1);
}

TEST(TrainingLayout, FiveMinutesAt70CpmShowsTheScrollBar) {
    Window w("[Settings]\nlivello1=abc\nVEL ES=70\nTEMPO ES=5\n");
    w.window->show();
    w.window->startClick();
    EXPECT_TRUE(w.window->layout().scrollBar);
    EXPECT_EQ(w.window->layout().scrollRange, 620);
    const int pauseFromRight = w.window->width() - w.window->cbInterpausa->x();
    w.window->resize(900, w.window->height());
    EXPECT_EQ(w.window->outerWidth(), w.window->minimumOuterWidth());
    EXPECT_EQ(w.window->layout().columns, 30);
    EXPECT_EQ(w.window->grid()->cellPos(30), QPoint(16, 54));
    // The right-anchored controls keep their distance from the right edge.
    EXPECT_EQ(w.window->width() - w.window->start->x(), 973 - 878);
    EXPECT_EQ(w.window->width() - w.window->cbInterpausa->x(), pauseFromRight);
}

struct NarrowRow {
    const char* name;
    int belowMinimum;  // the width asked for, against the narrowest the window can be
    int raisedBy;
};

class NarrowTest : public ::testing::TestWithParam<NarrowRow> {};

// 980 at the least, more where the top row's texts need it: at that width the first control on
// the right stands just clear of LIVELLI.
TEST_P(NarrowTest, NoNarrowerThanTheTopRowNeeds) {
    Window w;
    w.window->show();
    const int minimum = w.window->minimumOuterWidth();
    EXPECT_GE(minimum, 980);
    const int frame = w.window->outerWidth() - w.window->width();
    w.window->resize(minimum - frame - GetParam().belowMinimum, w.window->height());
    EXPECT_EQ(w.window->outerWidth(), minimum - GetParam().belowMinimum + GetParam().raisedBy);
    const Ttraining& t = *w.window;
    EXPECT_GE(t.labInter->x(), t.showLivelli->x() + t.showLivelli->width() + 5);
    EXPECT_EQ(t.width() - t.start->x(), 973 - 878);
}

INSTANTIATE_TEST_SUITE_P(Widths, NarrowTest,
                         ::testing::Values(NarrowRow{"one_pixel_below_is_raised", 1, 1},
                                           NarrowRow{"the_minimum_stays", 0, 0},
                                           NarrowRow{"one_pixel_above_stays", -1, 0}),
                         test_support::rowName);

using test_support::PrintTo;

struct SaveFailureRow {
    const char* name;
    // Puts something where the file should be; empty for a save that works.
    std::function<void(const std::filesystem::path& file)> obstruct;
    std::optional<persistence::SaveErrorCode> code;
};

class SaveFailureTest : public ::testing::TestWithParam<SaveFailureRow> {};

TEST_P(SaveFailureTest, CloseTellsWhichFileWasNotSaved) {
    Window w;
    GetParam().obstruct(w.file);
    w.window->show();
    QTest::keyClick(w.window.get(), Qt::Key_Escape);
    EXPECT_FALSE(w.window->isVisible());
    EXPECT_EQ(w.focusReturns, 1);
    if (!GetParam().code) {
        EXPECT_TRUE(w.saveErrors.empty());
        EXPECT_NE(w.saved().find("LIV ES=1\n"), std::string::npos);
        return;
    }
    ASSERT_EQ(w.saveErrors.size(), 1u);
    EXPECT_EQ(w.saveErrors[0].code, *GetParam().code);
    EXPECT_EQ(w.saveErrors[0].message.rfind("Impossibile salvare le impostazioni in ", 0), 0u);
    EXPECT_NE(w.saveErrors[0].message.find(w.file.string()), std::string::npos)
        << w.saveErrors[0].message;
}

INSTANTIATE_TEST_SUITE_P(
    WhatStandsThere, SaveFailureTest,
    ::testing::Values(
        SaveFailureRow{"nothing_saves", [](const std::filesystem::path&) {}, std::nullopt},
        SaveFailureRow{"a_folder_in_place_of_the_file",
                       [](const std::filesystem::path& f) { std::filesystem::create_directory(f); },
                       persistence::SaveErrorCode::CannotReadCurrent},
        SaveFailureRow{"a_file_in_place_of_the_folder",
                       [](const std::filesystem::path& f) {
                           std::filesystem::remove_all(f.parent_path());
                           persistence::test::writeBytes(f.parent_path(), "not a folder");
                       },
                       persistence::SaveErrorCode::CannotCreateFolder}),
    test_support::rowName);

}  // namespace
}  // namespace dittix::training
