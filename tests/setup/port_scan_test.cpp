// The port scan with its probe on a thread of its own, with opens held so that results arrive
// late: what waits for them, windows closed or destroyed meanwhile, the program ending.
#include <QApplication>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <thread>
#include <vector>

#include "../persistence/save_at_once.h"
#include "../persistence/temp_dir.h"
#include "display/main_window.h"
#include "fake_serial_ports.h"
#include "persistence/settings.h"
#include "scan_wait.h"
#include "setup/setup_window.h"
#include "support/named_rows.h"

namespace dittix::setup {
namespace {

using test_support::PrintTo;
using test_support::rowName;

struct Window {
    explicit Window(std::set<int> ports, std::int32_t portNumber) : number(portNumber) {
        fake.existing = std::move(ports);
        file = dir.file("settings.ini");
        window = std::make_unique<Tsetup>(SetupState{
            speeds,
            timing,
            modes,
            key,
            persistence::test::saveAtOnce(file),
            {},
            [this] { ++focusReturns; },
            [this](const persistence::SaveError& error) { saveErrors.push_back(error); }});
    }
    std::string saved() const { return persistence::readFileBytes(file); }
    void show() {
        window->showSetup();
        test::waitForScan(*window);
    }
    std::vector<int> rows() const {
        std::vector<int> shown;
        for (std::size_t i = 0; i < kMaxFoundPorts; ++i) {
            if (window->rbCom[i]->isVisibleTo(window.get())) {
                shown.push_back(window->labCom[i]->text().mid(3).toInt());
            }
        }
        return shown;
    }
    int checkedRow() const {
        for (std::size_t i = 0; i < kMaxFoundPorts; ++i) {
            if (window->rbCom[i]->isChecked()) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }
    // The number of scans that probed `port`.
    int probesOf(int port) const {
        return static_cast<int>(std::count(fake.probed.begin(), fake.probed.end(), port));
    }

    persistence::test::TempDir dir;
    std::filesystem::path file;
    test::FakeSerialPorts fake;
    std::int32_t number;
    KeyPort key{fake, number};
    keying::SpeedSettings speeds;
    keying::TimingParameters timing;
    keying::KeyingModes modes;
    int focusReturns = 0;
    std::vector<persistence::SaveError> saveErrors;
    std::unique_ptr<Tsetup> window;
};

// A scan whose probe waits at `holdAt`: until it is let go the key port reads no line and the
// window shows the previous scan; then the window shows what a scan at once would have shown.
struct LateRow {
    const char* name;
    std::set<int> ports;
    std::int32_t stored;
    int holdAt;
    std::vector<int> rows;
    int checkedRow;
    int listIndex;
    std::int32_t keyNumber;
    QString title;
    int outerHeight;
    QString message;
};

class LateResult : public ::testing::TestWithParam<LateRow> {};

TEST_P(LateResult, KeyPortReadsNothingUntilItIsAppliedThenAllIsAsAtOnce) {
    const LateRow& row = GetParam();
    Window w(row.ports, row.stored);
    w.show();               // a first scan, at once
    w.number = row.stored;  // as stored again, whatever that scan fell back to
    const std::vector<int> before = w.rows();
    const QString titleBefore = w.window->labTitolo->text();
    for (const int port : row.ports) {
        w.fake.lines[port] = 0x10;
    }

    w.fake.holdAt = {row.holdAt};
    w.window->showSetup();
    w.fake.waitUntilHeld();
    EXPECT_TRUE(w.window->scanRunning());
    EXPECT_FALSE(w.key.isOpen());
    EXPECT_EQ(w.key.readKeyLines(), 0u);
    EXPECT_EQ(w.key.found().count, 0);
    EXPECT_EQ(w.rows(), before) << "the previous scan stays shown";
    EXPECT_EQ(w.window->labTitolo->text(), titleBefore);
    EXPECT_EQ(w.fake.probed.back(), row.holdAt);

    w.fake.release();
    test::waitForScan(*w.window);
    EXPECT_EQ(w.rows(), row.rows);
    EXPECT_EQ(w.checkedRow(), row.checkedRow);
    EXPECT_EQ(w.window->seriale->currentIndex(), row.listIndex);
    EXPECT_EQ(w.key.number(), row.keyNumber);
    EXPECT_EQ(w.number, row.keyNumber);
    EXPECT_EQ(w.key.isOpen(), !row.rows.empty());
    EXPECT_EQ(w.key.readKeyLines(), row.rows.empty() ? 0u : 0x10u);
    EXPECT_EQ(w.window->labTitolo->text(), row.title);
    EXPECT_EQ(w.window->outerHeight(), row.outerHeight);
    EXPECT_EQ(w.window->unable->text(), row.message);
    for (std::size_t i = 0; i < row.rows.size(); ++i) {
        EXPECT_EQ(w.window->labCom[i]->toolTip(), "/dev/fake" + QString::number(row.rows[i]));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ports, LateResult,
    ::testing::Values(
        LateRow{
            "key_port_found_late", {1, 3}, 3, 3, {1, 3}, 1, 2, 3, "SERIAL PORT     KEY: ", 328, ""},
        LateRow{"falls_back_to_the_first_found",
                {4, 5, 6},
                3,
                5,
                {4, 5, 6},
                -1,
                3,
                4,
                "SERIAL PORT     KEY: ",
                360,
                ""},
        LateRow{"none_found",
                {},
                3,
                60,
                {},
                -1,
                2,
                3,
                "NO SERIAL PORT FOUND",
                264,
                "Unable to open COM3"},
        LateRow{"five_found_held_at_the_fifth",
                {1, 2, 3, 4, 5},
                7,
                5,
                {1, 2, 3, 4, 5},
                -1,
                0,
                1,
                "SERIAL PORT     KEY: ",
                424,
                ""}),
    rowName);

// The probe closes the ports held before the scan on its own thread: from the scan's start the
// key port reads nothing from them, whether it opened its port itself or shares a found one.
struct LetGoRow {
    const char* name;
    bool scannedBefore;
    std::size_t heldOpen;  // ports still open while the probe waits to close the first
};

class LetGo : public ::testing::TestWithParam<LetGoRow> {};

TEST_P(LetGo, KeyPortReadsNothingFromAPortTheProbeIsClosing) {
    const LetGoRow& row = GetParam();
    Window w({2, 3}, 3);
    w.fake.lines[3] = 0x20;
    if (row.scannedBefore) {
        w.show();
    } else {
        w.key.openKeyPort();
    }
    ASSERT_EQ(w.key.readKeyLines(), 0x20u);
    w.fake.holdCloses = true;
    w.window->showSetup();
    w.fake.waitUntilHeld();
    EXPECT_EQ(w.fake.openNow.size(), row.heldOpen) << "the port is still open";
    EXPECT_FALSE(w.key.isOpen());
    EXPECT_EQ(w.key.readKeyLines(), 0u);
    w.fake.release();
    test::waitForScan(*w.window);
    EXPECT_EQ(w.key.readKeyLines(), 0x20u);
    EXPECT_EQ(w.key.number(), 3);
}

INSTANTIATE_TEST_SUITE_P(KeyPort, LetGo,
                         ::testing::Values(LetGoRow{"opened_by_itself", false, 1},
                                           LetGoRow{"shared_with_a_found_port", true, 2}),
                         rowName);

// What the operator does while the probe is held, and what holds once its result is applied:
// everything waits for the result and then runs in the order it came.
struct OrderRow {
    const char* name;
    std::function<void(Window&)> meanwhile;
    int scans;  // probes of port 2, each scan's first
    std::int32_t keyNumber;
    int listIndex;
    QString message;
    const char* savedPort;  // empty: nothing saved
};

class WhileScanning : public ::testing::TestWithParam<OrderRow> {};

TEST_P(WhileScanning, CommandsWaitAndRunInOrderAfterTheResult) {
    const OrderRow& row = GetParam();
    Window w({2, 3}, 9);  // COM9 is not there: the scan falls back to COM2
    w.fake.holdAt = {3};
    w.window->showSetup();
    w.fake.waitUntilHeld();
    row.meanwhile(w);
    EXPECT_EQ(w.probesOf(2), 1) << "nothing else reached the ports while the probe ran";
    EXPECT_TRUE(w.saved().empty()) << "no save before the scan's port is known";

    w.fake.release();
    test::waitForScan(*w.window);
    EXPECT_EQ(w.probesOf(2), row.scans);
    EXPECT_EQ(w.key.number(), row.keyNumber);
    EXPECT_EQ(w.window->seriale->currentIndex(), row.listIndex);
    EXPECT_EQ(w.window->unable->text(), row.message);
    if (*row.savedPort == 0) {
        EXPECT_TRUE(w.saved().empty());
    } else {
        EXPECT_NE(w.saved().find(std::string("Serial Port=") + row.savedPort + "\n"),
                  std::string::npos)
            << w.saved();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Commands, WhileScanning,
    ::testing::Values(OrderRow{"nothing", [](Window&) {}, 1, 2, 1, "", ""},
                      OrderRow{"one_more_scan", [](Window& w) { w.window->ricercaSerClick(); }, 2,
                               2, 1, "", ""},
                      OrderRow{"two_more_scans_make_one",
                               [](Window& w) {
                                   w.window->ricercaSerClick();
                                   w.window->showSetup();
                               },
                               2, 2, 1, "", ""},
                      OrderRow{"pick_of_a_missing_port",
                               [](Window& w) {
                                   w.window->seriale->setCurrentIndex(6);
                                   w.window->serialeChange(6);
                               },
                               1, 7, 6, "Unable to open COM7", ""},
                      OrderRow{"close_saves_the_fallback_port",
                               [](Window& w) { w.window->close(); }, 1, 2, 1, "", "2"},
                      OrderRow{"pick_then_close_saves_the_pick",
                               [](Window& w) {
                                   w.window->serialeChange(6);
                                   w.window->close();
                               },
                               1, 7, 6, "Unable to open COM7", "7"},
                      OrderRow{"close_then_scan_again",
                               [](Window& w) {
                                   w.window->close();
                                   w.window->showSetup();
                               },
                               2, 2, 1, "", "2"}),
    rowName);

TEST(WhileScanning, ClosedWindowStaysClosedAndGetsTheKeyPortItsResultGives) {
    Window w({4, 5}, 3);
    w.fake.holdAt = {5};
    w.window->showSetup();
    w.fake.waitUntilHeld();
    w.window->close();
    EXPECT_FALSE(w.window->isVisible()) << "closed at once";
    EXPECT_EQ(w.focusReturns, 1) << "the main window has the focus back at once";
    w.fake.release();
    test::waitForScan(*w.window);
    EXPECT_FALSE(w.window->isVisible());
    EXPECT_TRUE(w.key.isOpen());
    EXPECT_EQ(w.key.number(), 4);
    EXPECT_EQ(w.rows(), (std::vector<int>{4, 5}));
    EXPECT_NE(w.saved().find("Serial Port=4\n"), std::string::npos) << w.saved();
    EXPECT_EQ(w.focusReturns, 1);
}

// A row of the previous scan chosen while the next one runs: the choice waits for the result and
// holds for the row that shows the same port, wherever the new scan puts it; it lapses when the
// port is not found again.
struct RowChoiceRow {
    const char* name;
    std::set<int> secondScanFinds;
    int chosenRow;  // of the first scan's rows {2, 3, 5}; -1: none
    std::int32_t keyNumber;
    int checkedRow;
};

class RowChosenWhileScanning : public ::testing::TestWithParam<RowChoiceRow> {};

TEST_P(RowChosenWhileScanning, TakesTheSamePortOnceFound) {
    const RowChoiceRow& row = GetParam();
    Window w({2, 3, 5}, 2);
    w.show();
    ASSERT_EQ(w.rows(), (std::vector<int>{2, 3, 5}));
    ASSERT_EQ(w.checkedRow(), 0);
    w.fake.existing = row.secondScanFinds;
    w.fake.holdAt = {1};
    w.window->showSetup();
    w.fake.waitUntilHeld();
    if (row.chosenRow >= 0) {
        w.window->rbCom[static_cast<std::size_t>(row.chosenRow)]->click();
    }
    EXPECT_FALSE(w.key.isOpen()) << "nothing is taken before the result";
    w.fake.release();
    test::waitForScan(*w.window);
    EXPECT_EQ(w.key.number(), row.keyNumber);
    EXPECT_EQ(w.number, row.keyNumber);
    EXPECT_TRUE(w.key.isOpen());
    EXPECT_EQ(w.checkedRow(), row.checkedRow);
    EXPECT_EQ(w.window->seriale->currentIndex(), row.keyNumber - 1);
    w.window->close();
    EXPECT_NE(w.saved().find("Serial Port=" + std::to_string(row.keyNumber) + "\n"),
              std::string::npos)
        << w.saved();
}

INSTANTIATE_TEST_SUITE_P(Rows, RowChosenWhileScanning,
                         ::testing::Values(RowChoiceRow{"none_chosen", {2, 3, 5}, -1, 2, 0},
                                           RowChoiceRow{"same_row_again", {2, 3, 5}, 1, 3, 1},
                                           RowChoiceRow{"port_moved_up_a_row", {3, 5}, 2, 5, 1},
                                           RowChoiceRow{"port_gone", {2, 5}, 1, 2, 0}),
                         rowName);

// Destroying the window during a scan: the probe stops, and no port stays open, whether it was
// found by this scan, by the one before (closed by the probe) or waits in a result not taken.
struct DestroyRow {
    const char* name;
    // Brings the scan to where it is when the window goes.
    std::function<void(Window&)> before;
    const char* savedPort;  // empty: nothing saved
};

class Destroyed : public ::testing::TestWithParam<DestroyRow> {};

TEST_P(Destroyed, MidScanLeavesNoPortOpen) {
    const DestroyRow& row = GetParam();
    Window w({1, 2, 3, 4}, 9);
    w.show();
    ASSERT_EQ(w.fake.openNow.size(), 4u);
    w.fake.holdAt = {3};
    w.window->showSetup();
    w.fake.waitUntilHeld();
    row.before(w);
    w.window.reset();
    EXPECT_TRUE(w.fake.openNow.empty()) << w.fake.openNow.size() << " ports left open";
    EXPECT_FALSE(w.key.isOpen());
    for (const auto& [port, opens] : w.fake.opens) {
        EXPECT_EQ(opens, w.fake.closes[port]) << port;
    }
    if (*row.savedPort == 0) {
        EXPECT_TRUE(w.saved().empty());
    } else {
        EXPECT_NE(w.saved().find(std::string("Serial Port=") + row.savedPort + "\n"),
                  std::string::npos)
            << w.saved();
    }
}

INSTANTIATE_TEST_SUITE_P(
    When, Destroyed,
    ::testing::Values(DestroyRow{"while_probing", [](Window& w) { w.fake.release(); }, ""},
                      DestroyRow{"result_not_yet_taken",
                                 [](Window& w) {
                                     w.fake.release();
                                     w.fake.waitForProbes(2 * 98);  // both scans
                                 },
                                 ""},
                      DestroyRow{"closed_first",
                                 [](Window& w) {
                                     w.window->close();
                                     w.fake.release();
                                 },
                                 "1"}),
    rowName);

// Where the ports are opened: off the interface thread when they allow it; otherwise on it,
// within the command, as before.
struct ThreadRow {
    const char* name;
    bool anyThread;
    bool runningAfterShow;
    bool opensOnThisThread;
};

class WhichThread : public ::testing::TestWithParam<ThreadRow> {};

TEST_P(WhichThread, OpensWhereThePortsAllow) {
    const ThreadRow& row = GetParam();
    Window w({2, 3}, 3);
    w.fake.anyThread = row.anyThread;
    w.window->showSetup();
    EXPECT_EQ(w.window->scanRunning(), row.runningAfterShow);
    test::waitForScan(*w.window);
    EXPECT_EQ(w.rows(), (std::vector<int>{2, 3}));
    EXPECT_EQ(w.checkedRow(), 1);
    ASSERT_FALSE(w.fake.openedOn.empty());
    for (const std::thread::id id : w.fake.openedOn) {
        EXPECT_EQ(id == std::this_thread::get_id(), row.opensOnThisThread);
    }
}

INSTANTIATE_TEST_SUITE_P(Ports, WhichThread,
                         ::testing::Values(ThreadRow{"any_thread", true, true, false},
                                           ThreadRow{"interface_thread_only", false, false, true}),
                         rowName);

// The program ending while a scan runs: the scan ends first, so that the setup window's save
// (made as the toolkit closes it) holds the port the scan fell back to.
TEST(ProgramEnd, DuringAScanTheSetupWindowSavesTheScansPort) {
    persistence::test::TempDir dir;
    const std::filesystem::path file = dir.file("settings.ini");
    display::MainWindowEnvironment env;
    env.settingsFile = file;
    env.screenSize = [] { return QSize(800, 600); };
    auto keyboard = std::make_unique<platform::EventKeyboard>();
    env.eventKeyboard = keyboard.get();
    env.keyboard = std::move(keyboard);
    env.rowVisible = [](int) { return true; };
    auto serial = std::make_unique<test::FakeSerialPorts>();
    test::FakeSerialPorts& fake = *serial;
    fake.existing = {6};
    fake.holdAt = {6};
    env.serialPorts = std::move(serial);
    display::TDittixForm form(std::move(env));
    form.show();
    QTest::keyClick(&form, 's');
    fake.waitUntilHeld();
    ASSERT_TRUE(form.setupWindow()->scanRunning());
    QTimer::singleShot(0, &form, [&form, &fake] {
        fake.release();
        form.close();
    });
    QApplication::exec();
    form.finishSaves();
    EXPECT_FALSE(form.setupWindow()->scanRunning());
    EXPECT_EQ(form.keyPort().number(), 6);
    EXPECT_NE(persistence::readFileBytes(file).find("Serial Port=6\n"), std::string::npos)
        << persistence::readFileBytes(file);
}

}  // namespace
}  // namespace dittix::setup
