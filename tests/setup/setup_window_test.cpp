// The setup window on the offscreen platform, with serial ports in memory.
#include "setup/setup_window.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <vector>

#include "../persistence/save_at_once.h"
#include "../persistence/temp_dir.h"
#include "fake_serial_ports.h"
#include "persistence/settings.h"
#include "scan_wait.h"
#include "support/named_rows.h"

namespace dittix::setup {
namespace {

using test_support::PrintTo;
using test_support::rowName;

struct Window {
    explicit Window(std::set<int> ports = {}, std::int32_t portNumber = 3) : number(portNumber) {
        fake.existing = std::move(ports);
        file = dir.file("settings.ini");
        window = std::make_unique<Tsetup>(SetupState{
            speeds, timing, modes, key, persistence::test::saveAtOnce(file),
            [this] { ++captionChanges; }, [this] { ++focusReturns; },
            [this](const persistence::SaveError& error) { saveErrors.push_back(error); }});
    }
    std::string saved() const { return persistence::readFileBytes(file); }
    // Shows the window as the 's' command does and lets its scan be applied.
    void show() {
        window->showSetup();
        test::waitForScan(*window);
    }

    persistence::test::TempDir dir;
    std::filesystem::path file;
    test::FakeSerialPorts fake;
    std::int32_t number;
    KeyPort key{fake, number};
    keying::SpeedSettings speeds;
    keying::TimingParameters timing;
    keying::KeyingModes modes;
    int captionChanges = 0;
    int focusReturns = 0;
    std::vector<persistence::SaveError> saveErrors;
    std::unique_ptr<Tsetup> window;
};

struct ControlRow {
    const char* name;
    std::function<QWidget*(Tsetup&)> control;
    QRect geometry;
    QString text;
};

class ControlTableTest : public ::testing::TestWithParam<ControlRow> {};

QString textOf(QWidget* w) {
    if (auto* label = qobject_cast<QLabel*>(w)) {
        return label->text();
    }
    if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        return button->text();
    }
    return {};
}

TEST_P(ControlTableTest, PlacedAsDesigned) {
    Window w;
    QWidget* control = GetParam().control(*w.window);
    EXPECT_EQ(control->pos(), GetParam().geometry.topLeft());
    if (GetParam().text.isEmpty()) {
        EXPECT_EQ(control->size(), GetParam().geometry.size());
    } else {
        // A text control keeps at least its designed size and grows to show its whole text.
        EXPECT_GE(control->width(), GetParam().geometry.width());
        EXPECT_GE(control->height(), GetParam().geometry.height());
        if (qobject_cast<QPushButton*>(control) == nullptr) {  // the hidden button keeps its size
            EXPECT_GE(control->width(), control->sizeHint().width());
        }
    }
    EXPECT_EQ(textOf(control), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Controls, ControlTableTest,
    ::testing::Values(
        ControlRow{"Label1", [](Tsetup& t) { return t.Label1; }, {16, 16, 41, 13}, "Verticale"},
        ControlRow{"sbCPM", [](Tsetup& t) { return t.sbCPM; }, {72, 16, 217, 17}, ""},
        ControlRow{"lcpm", [](Tsetup& t) { return t.lcpm; }, {304, 18, 36, 13}, "40 CPM"},
        ControlRow{"Label2", [](Tsetup& t) { return t.Label2; }, {16, 40, 34, 13}, "Palette"},
        ControlRow{"sbCPMpalette", [](Tsetup& t) { return t.sbCPMpalette; }, {72, 40, 217, 17}, ""},
        ControlRow{
            "lcpmPalette", [](Tsetup& t) { return t.lcpmPalette; }, {304, 42, 36, 13}, "40 CPM"},
        ControlRow{"cbPalette", [](Tsetup& t) { return t.cbPalette; }, {16, 72, 57, 17}, "Palette"},
        ControlRow{"cbMemoriaPunto",
                   [](Tsetup& t) { return t.cbMemoriaPunto; },
                   {88, 72, 137, 17},
                   "Memoria Punto Palette"},
        ControlRow{
            "cbLento", [](Tsetup& t) { return t.cbLento; }, {16, 96, 89, 17}, "Verticale Lento"},
        ControlRow{
            "Label4", [](Tsetup& t) { return t.Label4; }, {16, 140, 61, 13}, "Porta Seriale"},
        ControlRow{"seriale", [](Tsetup& t) { return t.seriale; }, {88, 136, 113, 21}, ""},
        ControlRow{"unable", [](Tsetup& t) { return t.unable; }, {92, 160, 229, 13}, ""},
        ControlRow{"ricercaSer",
                   [](Tsetup& t) { return t.ricercaSer; },
                   {16, 176, 185, 25},
                   "Ricerca Porta Seriale"},
        ControlRow{"labTitolo",
                   [](Tsetup& t) { return t.labTitolo; },
                   {16, 217, 194, 19},
                   "PORTA SERIALE TASTO"},
        ControlRow{"rbCom1", [](Tsetup& t) { return t.rbCom[0]; }, {32, 240, 17, 25}, ""},
        ControlRow{"rbCom5", [](Tsetup& t) { return t.rbCom[4]; }, {32, 368, 17, 25}, ""},
        ControlRow{"labCom3", [](Tsetup& t) { return t.labCom[2]; }, {72, 306, 37, 19}, "COM"},
        ControlRow{"shCom4", [](Tsetup& t) { return t.shCom[3]; }, {172, 336, 25, 25}, ""}),
    rowName);

struct SpeedWidthRow {
    const char* name;
    int cpm;
    int cpmPalette;
    bool wider;  // than the window as created
};

class SpeedWidthTest : public ::testing::TestWithParam<SpeedWidthRow> {};

// The speed labels have room for any three-digit speed from the start, so the window keeps its
// width while the bars move; only a stored speed of four digits widens it.
TEST_P(SpeedWidthTest, WindowWidensOnlyForSpeedsBeyondThreeDigits) {
    Window w;
    const int created = w.window->width();
    w.speeds.cpm = GetParam().cpm;
    w.speeds.cpmPalette = GetParam().cpmPalette;
    w.show();
    EXPECT_EQ(w.window->width() > created, GetParam().wider) << w.window->width();
    const QLabel& paddle = *w.window->lcpmPalette;
    EXPECT_LE(paddle.x() + paddle.width() + 8, w.window->width());
    EXPECT_GE(paddle.width(), paddle.sizeHint().width());
}

INSTANTIATE_TEST_SUITE_P(Speeds, SpeedWidthTest,
                         ::testing::Values(SpeedWidthRow{"as_created_40", 40, 40, false},
                                           SpeedWidthRow{"straight_150", 150, 40, false},
                                           SpeedWidthRow{"paddle_999", 40, 999, false},
                                           SpeedWidthRow{"paddle_1000", 40, 1000, true},
                                           SpeedWidthRow{"paddle_1001", 40, 1001, true}),
                         rowName);

TEST(SetupWindow, DesignedState) {
    Window w;
    EXPECT_EQ(w.window->windowTitle(), "Settings");
    EXPECT_EQ(w.window->height(), 399);
    // 348 as designed, or as much wider as the speed labels need to show 150 CPM, 8 pixels in
    // from the right edge.
    const QLabel& speed = *w.window->lcpm;
    EXPECT_GE(speed.width(), speed.fontMetrics().horizontalAdvance(QStringLiteral("150 CPM")));
    EXPECT_EQ(w.window->width(), std::max(348, speed.x() + speed.width() + 8));
    EXPECT_EQ(w.window->seriale->count(), 98);
    EXPECT_EQ(w.window->seriale->itemText(97), "COM98");
    EXPECT_EQ(w.window->seriale->currentIndex(), -1);
    EXPECT_EQ(w.window->seriale->itemData(0, Qt::ToolTipRole).toString(), "/dev/fake1");
    EXPECT_TRUE(w.window->cbMemoriaPunto->isChecked());
    EXPECT_TRUE(w.window->rbCom[0]->isChecked());
    EXPECT_TRUE(w.window->ricercaSer->isHidden());
    EXPECT_EQ(w.window->sbCPM->minimum(), 25);
    EXPECT_EQ(w.window->sbCPM->maximum(), 120);
    EXPECT_EQ(w.window->sbCPM->pageStep(), 5);
    EXPECT_TRUE(w.window->Timer1.isActive());
    EXPECT_EQ(w.window->Timer1.interval(), 50);
}

TEST(SetupWindow, TabOrderFollowsTheDesign) {
    Window w({1, 2, 3, 4, 5}, 1);
    w.show();
    std::vector<QWidget*> expected{
        w.window->sbCPM,     w.window->seriale,        w.window->rbCom[0],    w.window->cbLento,
        w.window->cbPalette, w.window->cbMemoriaPunto, w.window->sbCPMpalette};
    // The radio buttons of one group take a single stop; the hidden button none.
    QWidget* at = w.window->sbCPM;
    for (std::size_t i = 1; i < expected.size(); ++i) {
        at = at->nextInFocusChain();
        while (!(at->focusPolicy() & Qt::TabFocus) || !at->isVisibleTo(w.window.get()) ||
               (qobject_cast<QRadioButton*>(at) != nullptr && at != w.window->rbCom[0])) {
            at = at->nextInFocusChain();
        }
        EXPECT_EQ(at, expected[i]) << i;
    }
}

TEST(ShowSetup, StoredSlowFlagRecomputesDecodeAndBlankFromStoredDotTime) {
    Window w;
    w.speeds.lento = true;
    w.timing = {10, 15, 40, 10, 15, 40};
    w.show();
    EXPECT_TRUE(w.window->cbLento->isChecked());
    EXPECT_EQ(w.timing, (keying::TimingParameters{10, 30, 60, 10, 15, 40}));
}

TEST(ShowSetup, SlowFlagOffKeepsTheStoredTimes) {
    Window w;
    w.timing = {10, 15, 40, 10, 15, 40};
    w.show();
    EXPECT_EQ(w.timing, (keying::TimingParameters{10, 15, 40, 10, 15, 40}));
}

TEST(ShowSetup, StoredPaddleModeRenewsTheCaption) {
    Window w;
    w.modes.paddleMode = true;
    w.show();
    EXPECT_TRUE(w.window->cbPalette->isChecked());
    EXPECT_EQ(w.captionChanges, 1);
    w.show();  // already on: nothing runs
    EXPECT_EQ(w.captionChanges, 1);
}

TEST(ShowSetup, SpeedsOutsideTheBarsShowInTheLabels) {
    Window w;
    w.speeds.cpm = 150;
    w.speeds.cpmPalette = 10;
    const auto timing = w.timing;
    w.show();
    EXPECT_EQ(w.window->sbCPM->value(), 120);
    EXPECT_EQ(w.window->lcpm->text(), "150 CPM");
    EXPECT_EQ(w.window->sbCPMpalette->value(), 25);
    EXPECT_EQ(w.window->lcpmPalette->text(), "10 CPM");
    EXPECT_EQ(w.timing, timing) << "the program's own moves recompute nothing";
    EXPECT_EQ(w.speeds.cpm, 150);
}

TEST(SpeedBars, MovingOnlyThePaddleBarRenewsBothSpeedsAndAllTimes) {
    Window w;
    w.speeds.cpm = 150;
    w.show();
    w.window->sbCPMpalette->setValue(60);
    EXPECT_EQ(w.speeds.cpm, 120);
    EXPECT_EQ(w.speeds.cpmPalette, 60);
    EXPECT_EQ(w.timing, (keying::TimingParameters{3, 4, 9, 6, 6, 30}));
    EXPECT_EQ(w.window->lcpm->text(), "120 CPM");
    EXPECT_EQ(w.window->lcpmPalette->text(), "60 CPM");
}

TEST(SpeedBars, SlowBoxIsReadOnEveryChange) {
    Window w;
    w.show();
    w.window->cbLento->setChecked(true);
    w.window->sbCPM->setValue(60);
    EXPECT_EQ(w.timing.dotTime, 6);
    EXPECT_EQ(w.timing.decodeTime, 18);
    EXPECT_EQ(w.timing.blankTime, 36);
}

TEST(CheckBoxes, MemoriaPuntoAndPaletteChangeTheModes) {
    Window w;
    w.show();
    QTest::mouseClick(w.window->cbMemoriaPunto, Qt::LeftButton);
    EXPECT_FALSE(w.modes.memoriaPunto);
    QTest::mouseClick(w.window->cbPalette, Qt::LeftButton);
    EXPECT_TRUE(w.modes.paddleMode);
    EXPECT_EQ(w.captionChanges, 1);
}

struct ScanRow {
    const char* name;
    std::set<int> ports;
    std::int32_t stored;
    int outerHeight;
    QString title;
    int checkedRow;  // -1: none
    int listIndex;
    QString message;
};

class ScanWindowTest : public ::testing::TestWithParam<ScanRow> {};

TEST_P(ScanWindowTest, RowsTitleHeightAndList) {
    Window w(GetParam().ports, GetParam().stored);
    w.show();
    const int count = static_cast<int>(std::min<std::size_t>(GetParam().ports.size(), 5));
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(w.window->rbCom[static_cast<std::size_t>(i)]->isVisible(), i < count) << i;
        EXPECT_EQ(w.window->shCom[static_cast<std::size_t>(i)]->isVisible(), i < count) << i;
        EXPECT_EQ(w.window->rbCom[static_cast<std::size_t>(i)]->isChecked(),
                  i == GetParam().checkedRow)
            << i;
    }
    EXPECT_EQ(w.window->outerHeight(), GetParam().outerHeight);
    EXPECT_EQ(w.window->labTitolo->text(), GetParam().title);
    EXPECT_EQ(w.window->seriale->currentIndex(), GetParam().listIndex);
    EXPECT_EQ(w.window->unable->text(), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Ports, ScanWindowTest,
    ::testing::Values(
        ScanRow{"none", {}, 3, 264, "NO SERIAL PORT FOUND", -1, 2, "Unable to open COM3"},
        ScanRow{"one_is_the_key_port", {3}, 3, 296, "SERIAL PORT     KEY: ", 0, 2, ""},
        ScanRow{"two_key_port_second", {1, 3}, 3, 328, "SERIAL PORT     KEY: ", 1, 2, ""},
        ScanRow{
            "three_key_missing_falls_back", {4, 5, 6}, 3, 360, "SERIAL PORT     KEY: ", -1, 3, ""},
        ScanRow{"four", {1, 2, 3, 4}, 2, 392, "SERIAL PORT     KEY: ", 1, 1, ""},
        ScanRow{
            "seven_ports_key_7", {1, 2, 3, 4, 5, 6, 7}, 7, 424, "SERIAL PORT     KEY: ", -1, 0, ""},
        ScanRow{"stored_port_out_of_range_none_found",
                {},
                200,
                264,
                "NO SERIAL PORT FOUND",
                -1,
                -1,
                "Unable to open COM200"}),
    rowName);

TEST(PortList, FailedPickShowsTheMessageAndKeepsTheNumber) {
    Window w({2, 3}, 3);
    w.show();
    w.window->serialeChange(1);
    EXPECT_EQ(w.window->unable->text(), "Unable to open COM2");
    EXPECT_EQ(w.window->unable->toolTip(), "/dev/fake2: busy");
    w.window->close();
    EXPECT_NE(w.saved().find("Serial Port=2\n"), std::string::npos);
}

TEST(Rows, ChoosingARowSwitchesThePortAndKeepsTheMessage) {
    Window w({2, 3, 4}, 9);
    w.show();                    // falls back to COM2
    w.window->serialeChange(8);  // COM9 does not exist
    ASSERT_EQ(w.window->unable->text(), "Unable to open COM9");
    QTest::mouseClick(w.window->rbCom[2], Qt::LeftButton);
    EXPECT_EQ(w.number, 4);
    EXPECT_EQ(w.window->seriale->currentIndex(), 3);
    EXPECT_EQ(w.window->unable->text(), "Unable to open COM9");
    EXPECT_EQ(w.window->labCom[2]->toolTip(), "/dev/fake4");
}

TEST(LineMonitor, IndicatorsFollowTheLines) {
    Window w({1, 2}, 1);
    w.show();
    w.fake.lines[2] = 0x40;
    w.window->Timer1Timer();
    EXPECT_FALSE(w.window->shCom[0]->isActive());
    EXPECT_TRUE(w.window->shCom[1]->isActive());
    w.fake.lines[2] = 0;
    w.window->Timer1Timer();
    EXPECT_FALSE(w.window->shCom[1]->isActive());
}

class EscapeTest : public ::testing::TestWithParam<ControlRow> {};

TEST_P(EscapeTest, ClosesAndWritesTheTwelveKeysInOrder) {
    Window w({3}, 3);
    persistence::test::writeBytes(w.file, "; mine\n[Settings]\nTono=700\n");
    w.show();
    QWidget* control = GetParam().control(*w.window);
    control->setFocus();
    QTest::keyClick(control, Qt::Key_Escape);
    EXPECT_FALSE(w.window->isVisible());
    EXPECT_EQ(w.focusReturns, 1);
    EXPECT_EQ(w.saved(),
              "; mine\n[Settings]\nTono=700\nSerial Port=3\nDot time=10\nDot time P=10\n"
              "Decode time=15\nBlank time=40\nDecode time P=15\nBlank time P=40\nPalette=0\n"
              "Lento=0\nCPM=40\nCPM palette=40\nmemoriaPunto=1\n");
}

INSTANTIATE_TEST_SUITE_P(
    Controls, EscapeTest,
    ::testing::Values(
        ControlRow{"window_itself", [](Tsetup& t) -> QWidget* { return &t; }, {}, ""},
        ControlRow{"speed_bar", [](Tsetup& t) { return t.sbCPM; }, {}, ""},
        ControlRow{"paddle_speed_bar", [](Tsetup& t) { return t.sbCPMpalette; }, {}, ""},
        ControlRow{"port_list", [](Tsetup& t) { return t.seriale; }, {}, ""},
        ControlRow{"radio_button", [](Tsetup& t) { return t.rbCom[0]; }, {}, ""},
        ControlRow{"slow_box", [](Tsetup& t) { return t.cbLento; }, {}, ""},
        ControlRow{"palette_box", [](Tsetup& t) { return t.cbPalette; }, {}, ""},
        ControlRow{"memoria_box", [](Tsetup& t) { return t.cbMemoriaPunto; }, {}, ""}),
    rowName);

struct ApplyRow {
    const char* name;
    bool shownBefore;  // the window was opened and closed once before
    int storedCpm;
    int storedPaddleCpm;
    bool storedSlow;
    int apply;
    keying::TimingParameters timing;
    int bar;
    QString label;
};

class ApplyVerticaleTest : public ::testing::TestWithParam<ApplyRow> {};

// The suggested straight-key speed goes in as the operator's move of the bar would put it: the
// paddle bar and the slow box are read as the settings hold them, even when the window has never
// been opened (its bars then stand at their designed 50), and the twelve keys are written.
TEST_P(ApplyVerticaleTest, RecomputesTheSixTimesAndWritesTheTwelveKeys) {
    const ApplyRow& row = GetParam();
    Window w({3}, 3);
    persistence::test::writeBytes(w.file, "; mine\n[Settings]\nTono=700\n");
    w.speeds.cpm = row.storedCpm;
    w.speeds.cpmPalette = row.storedPaddleCpm;
    w.speeds.lento = row.storedSlow;
    if (row.shownBefore) {
        w.show();  // and its scan applied
        w.window->close();
    }
    const int focusReturns = w.focusReturns;
    w.window->applyVerticale(row.apply);

    EXPECT_EQ(w.speeds.cpm, row.apply);
    EXPECT_EQ(w.speeds.cpmPalette, row.storedPaddleCpm);
    EXPECT_EQ(w.speeds.lento, row.storedSlow);
    EXPECT_EQ(w.timing, row.timing);
    EXPECT_EQ(w.window->sbCPM->value(), row.bar);
    EXPECT_EQ(w.window->lcpm->text(), row.label);
    EXPECT_FALSE(w.window->isVisible()) << "the window is not opened for it";
    EXPECT_EQ(w.focusReturns, focusReturns);
    const auto& t = row.timing;
    EXPECT_EQ(w.saved(),
              "; mine\n[Settings]\nTono=700\nSerial Port=3\nDot time=" + std::to_string(t.dotTime) +
                  "\nDot time P=" + std::to_string(t.dotTimeP) + "\nDecode time=" +
                  std::to_string(t.decodeTime) + "\nBlank time=" + std::to_string(t.blankTime) +
                  "\nDecode time P=" + std::to_string(t.decodeTimeP) +
                  "\nBlank time P=" + std::to_string(t.blankTimeP) + "\nPalette=0\nLento=" +
                  (row.storedSlow ? "1" : "0") + "\nCPM=" + std::to_string(row.apply) +
                  "\nCPM palette=" + std::to_string(row.storedPaddleCpm) + "\nmemoriaPunto=1\n");
    EXPECT_TRUE(w.saveErrors.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Speeds, ApplyVerticaleTest,
    ::testing::Values(
        // 396 / 25 = 15: decode 15 + 7, blank 45; the paddles at 60 CPM: 6, 6, 30.
        ApplyRow{
            "never_opened_from_66", false, 66, 60, false, 25, {15, 22, 45, 6, 6, 30}, 25, "25 CPM"},
        ApplyRow{
            "opened_before_from_66", true, 66, 60, false, 25, {15, 22, 45, 6, 6, 30}, 25, "25 CPM"},
        // Slow: decode three dots, blank six.
        ApplyRow{"slow_key", false, 66, 40, true, 27, {14, 42, 84, 9, 9, 45}, 27, "27 CPM"},
        ApplyRow{"top_of_the_bar", false, 40, 40, false, 120, {3, 4, 9, 9, 9, 45}, 120, "120 CPM"},
        // A stored speed beyond the bar: the bar already stands at 120, yet the handler runs.
        ApplyRow{
            "stored_150_to_120", false, 150, 40, false, 120, {3, 4, 9, 9, 9, 45}, 120, "120 CPM"}),
    rowName);

TEST(ApplyVerticale, AFailedSaveIsToldAsTheClosesIs) {
    Window w({3}, 3);
    std::filesystem::create_directory(w.file);
    w.window->applyVerticale(30);
    EXPECT_EQ(w.speeds.cpm, 30);
    ASSERT_EQ(w.saveErrors.size(), 1u);
    EXPECT_EQ(w.saveErrors[0].code, persistence::SaveErrorCode::CannotReadCurrent);
}

struct SaveFailureRow {
    const char* name;
    // Puts something where the file should be; empty for a save that works.
    std::function<void(const std::filesystem::path& file)> obstruct;
    std::optional<persistence::SaveErrorCode> code;
};

class SaveFailureTest : public ::testing::TestWithParam<SaveFailureRow> {};

TEST_P(SaveFailureTest, CloseTellsWhichFileWasNotSaved) {
    Window w({3}, 3);
    GetParam().obstruct(w.file);
    w.show();
    QTest::keyClick(w.window.get(), Qt::Key_Escape);
    EXPECT_FALSE(w.window->isVisible());
    EXPECT_EQ(w.focusReturns, 1);
    if (!GetParam().code) {
        EXPECT_TRUE(w.saveErrors.empty());
        EXPECT_NE(w.saved().find("Serial Port=3\n"), std::string::npos);
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
    rowName);

}  // namespace
}  // namespace dittix::setup
