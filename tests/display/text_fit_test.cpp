// Every window at the platform's own faces: each control's text fits the room the control gives
// it, every control lies inside its window, and no two controls overlap.
#include <QApplication>
#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

#include "../persistence/save_at_once.h"
#include "../persistence/temp_dir.h"
#include "../setup/fake_serial_ports.h"
#include "../setup/scan_wait.h"
#include "display/main_window.h"
#include "persistence/settings.h"
#include "persistence/training_history.h"
#include "setup/setup_window.h"
#include "support/named_rows.h"
#include "support/text_fit.h"
#include "training/character_grid.h"
#include "training/levels_window.h"
#include "training/progress_window.h"
#include "training/training_window.h"

namespace dittix::display {
namespace {

using test_support::checkFit;
using test_support::joined;
using test_support::opaqueBounds;
using test_support::PrintTo;
using test_support::rowName;

// One window under test and everything it refers to.
struct Held {
    virtual ~Held() = default;
    virtual QWidget& window() = 0;
};

struct Program : Held {
    explicit Program(const std::string& settings) {
        file = dir.file("settings.ini");
        persistence::test::writeBytes(file, settings);
        MainWindowEnvironment env;
        env.settingsFile = file;
        env.screenSize = [] { return QSize(1920, 1080); };
        auto k = std::make_unique<platform::EventKeyboard>();
        keyboard = k.get();
        env.eventKeyboard = k.get();
        env.keyboard = std::move(k);
        env.rowVisible = [](int) { return true; };
        form = std::make_unique<TDittixForm>(std::move(env));
    }
    QWidget& window() override { return *form; }
    persistence::test::TempDir dir;
    std::filesystem::path file;
    platform::EventKeyboard* keyboard = nullptr;
    std::unique_ptr<TDittixForm> form;
};

struct CodeTable : Program {
    explicit CodeTable(int size = 45) : Program("[Settings]\nSize=" + std::to_string(size) + "\n") {
        form->disegnaTabellaMorseTimer();
    }
    QWidget& window() override { return *form->tabellaCodice(); }
};

struct Setup : Held {
    Setup(std::set<int> ports, std::int32_t keyPort, int cpm, int cpmPalette) : number(keyPort) {
        fake.existing = std::move(ports);
        speeds.cpm = cpm;
        speeds.cpmPalette = cpmPalette;
        setup = std::make_unique<setup::Tsetup>(
            setup::SetupState{speeds,
                              timing,
                              modes,
                              key,
                              persistence::test::saveAtOnce(dir.file("settings.ini")),
                              {},
                              {},
                              {}});
        setup->showSetup();
        setup::test::waitForScan(*setup);
    }
    QWidget& window() override { return *setup; }
    persistence::test::TempDir dir;
    setup::test::FakeSerialPorts fake;
    std::int32_t number;
    setup::KeyPort key{fake, number};
    keying::SpeedSettings speeds;
    keying::TimingParameters timing;
    keying::KeyingModes modes;
    std::unique_ptr<setup::Tsetup> setup;
};

// livello1 … livello`count`: the alphabet, the digits and the signs, and one level of `longest`
// characters at the end.
std::string levelSettings(int count, int longest) {
    const std::string all = "abcdefghijklmnopqrstuvwxyz0123456789?=-/.,;:()'";
    std::string text = "[Settings]\n";
    for (int n = 1; n <= count; ++n) {
        std::string level = all.substr(0, static_cast<std::size_t>(n) % all.size() + 1);
        if (n == count) {
            level.clear();
            for (int c = 0; c < longest; ++c) {
                level += all[static_cast<std::size_t>(c) % all.size()];
            }
        }
        text += "livello" + std::to_string(n) + "=" + level + "\n";
    }
    return text;
}

struct Training : Held {
    Training(const std::string& settingsText, bool outputOpens)
        : settings(persistence::parseSettings(settingsText, '.')) {
        training = std::make_unique<training::Ttraining>(
            training::TrainingEnvironment{settings.levels,
                                          settings.training,
                                          random,
                                          dir.file("settings.ini"),
                                          persistence::test::saveAtOnce(dir.file("settings.ini")),
                                          [](int) {},
                                          [] {},
                                          [] {},
                                          [] {},
                                          {}});
        if (!outputOpens) {
            training->showNoOutput();  // as the playback shows it when START cannot open it
        }
        training->show();
    }
    QWidget& window() override { return *training; }
    persistence::test::TempDir dir;
    persistence::Settings settings;
    persistence::ExerciseRandom random{11};
    std::unique_ptr<training::Ttraining> training;
};

struct Levels : Held {
    explicit Levels(const std::string& settingsText)
        : levels(persistence::parseSettings(settingsText, '.').levels) {
        list = std::make_unique<training::Tlivelli>(levels);
        list->timerTimer();
        list->show();
    }
    QWidget& window() override { return *list; }
    persistence::TrainingLevels levels;
    std::unique_ptr<training::Tlivelli> list;
};

// The analysis window, keyed through the main window's own tick so that its figures, charts
// and drill show real texts.
struct Analysis : Program {
    enum class Fill { Nothing, SlowFist, Paddles, DrillFinished, DrillFailedSave };

    explicit Analysis(Fill fill)
        : Program(fill == Fill::Paddles ? "[Settings]\nPalette=1\n"
                                        : "[Settings]\nCPM=66\nDot time=6\nDecode time=9\n"
                                          "Blank time=18\n") {
        form->show();
        analysis::Tanalisi& a = *form->analysisWindow();
        if (fill == Fill::DrillFailedSave) {
            std::filesystem::create_directory(persistence::historyFileFor(file));
        }
        if (fill == Fill::DrillFinished || fill == Fill::DrillFailedSave) {
            a.cbTesto->setCurrentIndex(a.cbTesto->count() - 1);
            a.edTesto->setText(QStringLiteral("tttt tttt"));
            a.btVia->click();
        }
        // Straight key: dots of 10 ticks and dashes of 30, all dashes to a decoder at 66 CPM.
        // Paddles: taps of the dot and the dash paddle, the keyer's idle between characters.
        for (int element = 0; fill != Fill::Nothing && element < 24; ++element) {
            const bool dash = element % 3 == 2;
            if (fill == Fill::Paddles) {
                hold(dash ? keying::KeyboardKey::LeftControl : keying::KeyboardKey::RightControl,
                     1);
                hold(std::nullopt, dash ? 60 : 40);
            } else {
                hold(keying::KeyboardKey::RightControl, dash ? 30 : 10);
                hold(std::nullopt, dash ? 30 : 10);
            }
        }
        hold(std::nullopt, 100);
        form->analysisWindow()->showAnalysis();
        form->analysisWindow()->refresh();
    }
    // A key held (or none) for some ticks.
    void hold(std::optional<keying::KeyboardKey> key, int ticks) {
        for (int i = 0; i < ticks; ++i) {
            if (key) {
                keyboard->press(*key);
            } else {
                keyboard->release(keying::KeyboardKey::RightControl);
                keyboard->release(keying::KeyboardKey::LeftControl);
            }
            form->decodificaTimer();
        }
    }
    QWidget& window() override { return *form->analysisWindow(); }
};

struct WindowRow {
    const char* name;
    std::function<std::unique_ptr<Held>()> make;
    int textsAtLeast;  // the texts a window shows, so that a walk that finds none fails
};

class WindowTextFitTest : public ::testing::TestWithParam<WindowRow> {};

// The pixels cell k paints, in the grid's coordinates; empty when it paints none.
QRect paintedByCell(const training::CharacterGrid& grid, int k) {
    const QRect around = grid.cellRect(k).adjusted(-40, -40, 40, 40);
    QImage image(around.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.translate(-around.topLeft());
        grid.paintCell(painter, k);
    }
    return opaqueBounds(image).translated(around.topLeft());
}

// The grid's cells are painted, not controls: what each shown cell paints (its character, and
// the typed one of a wrong cell) must lie inside the grid, clear of its cell's top and bottom
// rows, and clear of every other cell's.
void checkCells(const training::CharacterGrid& grid, test_support::FitReport& report) {
    std::vector<std::pair<int, QRect>> cells;
    for (int k = 0; k < training::kGridLabels; ++k) {
        if (!grid.cellShown(k)) {
            continue;
        }
        ++report.textsMeasured;
        const QRect painted = paintedByCell(grid, k);
        if (painted.isEmpty()) {
            continue;
        }
        const std::string name =
            "cell " + std::to_string(k) + " \"" + grid.cellText(k).toStdString() + "\"";
        if (!grid.rect().contains(painted)) {
            report.problems.push_back(name + ": outside the grid");
        }
        const QRect pitch(grid.cellPos(k), QSize(training::CharacterGrid::kPitchX,
                                                 training::CharacterGrid::kPitchY));
        // Ink on the cell's first row or on the next row's is cut off (or about to be).
        if (painted.top() <= pitch.top() || painted.bottom() >= pitch.bottom()) {
            report.problems.push_back(name + ": reaches its top or bottom edge");
        }
        cells.emplace_back(k, painted);
    }
    for (std::size_t i = 0; i < cells.size(); ++i) {
        for (std::size_t j = i + 1; j < cells.size(); ++j) {
            if (cells[i].second.intersects(cells[j].second)) {
                report.problems.push_back("cell " + std::to_string(cells[i].first) +
                                          " overlaps cell " + std::to_string(cells[j].first));
            }
        }
    }
}

TEST_P(WindowTextFitTest, EveryTextFitsAndNoControlOverlapsOrLeavesTheWindow) {
    const std::unique_ptr<Held> held = GetParam().make();
    QApplication::processEvents();
    test_support::FitReport report = checkFit(held->window());
    // (The grid declares no meta-object of its own, so it is told apart by its C++ type.)
    for (const QWidget* child : held->window().findChildren<QWidget*>()) {
        if (const auto* grid = dynamic_cast<const training::CharacterGrid*>(child);
            grid != nullptr && grid->isVisibleTo(&held->window())) {
            checkCells(*grid, report);
        }
    }
    EXPECT_TRUE(report.problems.empty()) << joined(report.problems);
    EXPECT_GE(report.textsMeasured, GetParam().textsAtLeast);
}

std::unique_ptr<Held> trainingAt(int outerWidth, bool running) {
    auto held = std::make_unique<Training>(
        levelSettings(40, 20) + "MOSTRA ES=1\nVEL ES=150\nTEMPO ES=5\n", true);
    training::Ttraining& t = *held->training;
    t.resize(outerWidth, t.height());
    if (running) {
        t.startClick();  // 900 characters shown, the scroll bar on, START reads STOP
    }
    return held;
}

// 27 speeds, 5 durations, 7 pauses, 40 levels, LIVELLI, PROGRESSI, START and the two yellow
// labels.
constexpr int kTrainingTexts = 27 + 5 + 7 + 40 + 5;

// The strip's caption, copy and summary lines, the message line and LIVELLO SUCCESSIVO.
constexpr int kStripTexts = 5;

// Five minutes at 150 CPM, the first `started` characters sent (blanks included) and copied with
// three characters taken for others, so that the summary names three confusions; `obstruct`
// puts a folder where the history file goes, so that the strip tells why it was not written.
std::unique_ptr<Held> trainingScored(int outerWidth, int started, bool obstruct) {
    auto held = std::make_unique<Training>(
        levelSettings(40, 20) + "LIV ES=20\nVEL ES=150\nTEMPO ES=5\n", true);
    training::Ttraining& t = *held->training;
    t.resize(outerWidth, t.height());
    if (obstruct) {
        std::filesystem::create_directory(t.historyFile());
    }
    t.startClick();
    std::u16string copy = t.state().trainingText.substr(0, static_cast<std::size_t>(started));
    const std::u16string wrong = u"Q?5";
    for (std::size_t k = 0; k < wrong.size(); ++k) {
        copy[k] = copy[k] == wrong[k] ? u'X' : wrong[k];
    }
    for (const char16_t c : copy) {
        if (c == u' ') {
            QTest::keyClick(&t, Qt::Key_Space);
        } else {
            QTest::keyClicks(&t, QString(QChar(c)));
        }
    }
    t.state().charactersStarted = started;
    t.state().exerciseRunning = false;
    t.state().playbackEnded = true;
    t.timerTimer();
    return held;
}

struct Progress : Held {
    explicit Progress(int exercises) {
        file = dir.file("training-history.csv");
        persistence::HistoryExercise exercise;
        exercise.cpm = 60;
        exercise.minutes = 1;
        const std::u16string order = u"KMURESNAPTLWI.JZ=FOY,VG5/Q92H38B?47C1D60X";
        for (int k = 0; k < exercises; ++k) {
            exercise.level = 1 + k % 40;
            exercise.levelChars = order.substr(0, static_cast<std::size_t>(exercise.level) + 1);
            std::u16string sent;
            for (int c = 0; c < 60; ++c) {
                sent += exercise.levelChars[static_cast<std::size_t>(c * 7 + k) %
                                            exercise.levelChars.size()];
            }
            std::u16string copy = sent;
            copy[static_cast<std::size_t>(k) % copy.size()] = u'E';
            (void)persistence::appendHistoryRow(
                file, persistence::makeHistoryRow(exercise, sent, copy, 1796907802 + k * 3600));
        }
        view = std::make_unique<training::ProgressWindow>(file);
        view->show();
        view->finishReads();
    }
    QWidget& window() override { return *view; }
    persistence::test::TempDir dir;
    std::filesystem::path file;
    std::unique_ptr<training::ProgressWindow> view;
};

INSTANTIATE_TEST_SUITE_P(
    Windows, WindowTextFitTest,
    ::testing::Values(
        WindowRow{"main_window", [] { return std::make_unique<Program>("[Settings]\n"); }, 0},
        WindowRow{"code_table_largest_font", [] { return std::make_unique<CodeTable>(); }, 0},
        WindowRow{"setup_no_port_straight_speed_150",
                  [] { return std::make_unique<Setup>(std::set<int>{}, 3, 150, 40); }, 8},
        WindowRow{"setup_three_ports",
                  [] {
                      return std::make_unique<Setup>(std::set<int>{2, 17, 36}, 17, 120, 120);
                  },
                  8 + 3},
        WindowRow{"setup_five_ports_key_98",
                  [] {
                      return std::make_unique<Setup>(std::set<int>{1, 17, 33, 64, 98}, 98, 100, 25);
                  },
                  8 + 5},
        WindowRow{"setup_stored_paddle_speed_1000",
                  [] { return std::make_unique<Setup>(std::set<int>{5}, 5, 40, 1000); }, 8 + 1},
        WindowRow{"training_as_created",
                  [] { return std::make_unique<Training>(levelSettings(40, 20), true); },
                  kTrainingTexts},
        WindowRow{"training_without_audio_output",
                  [] { return std::make_unique<Training>(levelSettings(3, 20), false); },
                  kTrainingTexts - 37},
        WindowRow{"training_made_narrower_than_allowed", [] { return trainingAt(900, false); },
                  kTrainingTexts},
        WindowRow{"training_made_wider", [] { return trainingAt(1400, false); }, kTrainingTexts},
        WindowRow{"training_running_at_its_narrowest", [] { return trainingAt(900, true); },
                  kTrainingTexts + 900},
        WindowRow{"training_running_as_created", [] { return trainingAt(1188, true); },
                  kTrainingTexts + 900},
        // The sent characters' cells are shown, the blanks' are not.
        WindowRow{"training_scored_at_its_narrowest",
                  [] { return trainingScored(900, 120, false); },
                  kTrainingTexts + kStripTexts + 100},
        WindowRow{"training_scored_as_created", [] { return trainingScored(1188, 900, false); },
                  kTrainingTexts + kStripTexts + 750},
        WindowRow{"training_history_not_written_at_its_narrowest",
                  [] { return trainingScored(900, 120, true); },
                  kTrainingTexts + kStripTexts + 100},
        WindowRow{"progress_empty", [] { return std::make_unique<Progress>(0); }, 1},
        WindowRow{"progress_forty_levels", [] { return std::make_unique<Progress>(400); }, 1},
        // The figures' labels (7 captions and values, the ideals, the spreads once measured),
        // the verdict, the suggestion, the buttons, the drill's caption, its list of the 40
        // levels of the built-in course and a typed text, and the summary.
        WindowRow{"analysis_nothing_keyed",
                  [] { return std::make_unique<Analysis>(Analysis::Fill::Nothing); }, 66},
        WindowRow{"analysis_slow_fist_with_a_suggestion",
                  [] { return std::make_unique<Analysis>(Analysis::Fill::SlowFist); }, 71},
        WindowRow{"analysis_paddles",
                  [] { return std::make_unique<Analysis>(Analysis::Fill::Paddles); }, 60},
        WindowRow{"analysis_drill_finished",
                  [] { return std::make_unique<Analysis>(Analysis::Fill::DrillFinished); }, 71},
        WindowRow{"analysis_drill_history_not_saved",
                  [] { return std::make_unique<Analysis>(Analysis::Fill::DrillFailedSave); }, 71},
        WindowRow{"levels_six", [] { return std::make_unique<Levels>(levelSettings(6, 47)); }, 6},
        WindowRow{"levels_forty_the_last_one_long",
                  [] { return std::make_unique<Levels>(levelSettings(40, 120)); }, 40}),
    rowName);

struct TableSizeRow {
    const char* name;
    int size;
};

class CodeTableFitTest : public ::testing::TestWithParam<TableSizeRow> {};

// The code table is a picture, not controls: its characters and strokes must end within the
// columns its scrolling panel shows beside the vertical scroll bar.
TEST_P(CodeTableFitTest, DrawingEndsWithinTheVisibleColumns) {
    CodeTable held(GetParam().size);
    TtabellaCodice& table = *held.form->tabellaCodice();
    QApplication::processEvents();
    const QImage& image = table.image();
    int rightmost = -1;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = image.width() - 1; x > rightmost; --x) {
            if (image.pixel(x, y) == qRgb(255, 255, 0)) {
                rightmost = x;
            }
        }
    }
    EXPECT_GT(rightmost, 100) << "the longest codes reach well to the right";
    EXPECT_LT(rightmost, table.ScrollBox->viewport()->width());
}

INSTANTIATE_TEST_SUITE_P(Sizes, CodeTableFitTest,
                         ::testing::Values(TableSizeRow{"smallest_25", 25},
                                           TableSizeRow{"default_38", 38},
                                           TableSizeRow{"largest_45", 45}),
                         rowName);

// The checks themselves, on a plain window with one or two controls placed by the row: a text
// one pixel narrower than its room, exactly as wide, one pixel wider; a control ending one pixel
// past the window's edge, on it, before it; two controls overlapping by one pixel, touching, apart.
struct CheckRow {
    const char* name;
    std::function<void(QWidget& window)> place;
    std::size_t problems;
};

class FitCheckTest : public ::testing::TestWithParam<CheckRow> {};

TEST_P(FitCheckTest, FindsWhatIsWrong) {
    QWidget window;
    window.resize(400, 100);
    GetParam().place(window);
    window.show();
    const test_support::FitReport report = checkFit(window);
    EXPECT_EQ(report.problems.size(), GetParam().problems) << joined(report.problems);
}

const QString kText = QStringLiteral("150 CPM - 30 WPM");

void labelWithRoom(QWidget& window, int spare) {
    auto* label = new QLabel(kText, &window);
    label->move(10, 10);
    label->resize(label->fontMetrics().horizontalAdvance(kText) + spare, 20);
}

// A list whose field, less the pixel kept on each side, is `spare` pixels wider than its longest
// item; the other item is short.
void listWithRoom(QWidget& window, int spare) {
    auto* list = new QComboBox(&window);
    list->addItems({QStringLiteral("20"), kText});
    list->move(10, 10);
    list->resize(200, list->sizeHint().height());
    QStyleOptionComboBox option;
    option.initFrom(list);
    const int field =
        list->style()
            ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, list)
            .width();
    list->resize(200 - field + 2 + list->fontMetrics().horizontalAdvance(kText) + spare,
                 list->height());
}

void buttonEndingAt(QWidget& window, int right) {
    auto* button = new QPushButton(QStringLiteral("START"), &window);
    button->setGeometry(right - 81, 8, 81, 33);
}

void twoButtonsApart(QWidget& window, int gap) {
    new QPushButton(QStringLiteral("NO"), &window);
    new QPushButton(QStringLiteral("NO"), &window);
    const auto buttons = window.findChildren<QPushButton*>();
    buttons[0]->setGeometry(10, 10, 60, 25);
    buttons[1]->setGeometry(70 + gap, 10, 60, 25);
}

QLabel* topAlignedLabel(QWidget& window, const QString& text) {
    auto* label = new QLabel(text, &window);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->move(10, 10);
    label->adjustSize();
    return label;
}

// Two labels far wider than their texts, the second placed so that its first painted column
// stands `gap` columns right of the first label's last painted one (0: on it).
void twoLabelTextsApart(QWidget& window, int gap) {
    QLabel* first = topAlignedLabel(window, QStringLiteral("NO"));
    first->resize(150, first->height());
    const QRect ink = test_support::paintedBy(*first);
    QLabel* second = topAlignedLabel(window, QStringLiteral("NO"));
    second->resize(150, second->height());
    second->move(ink.right() + gap - (ink.left() - first->x()), first->y());
}

// A label whose height leaves `clear` rows below the last one its text paints (-1: cut).
void labelWithRowsBelowItsText(QWidget& window, int clear) {
    QLabel* label = topAlignedLabel(window, QStringLiteral("MOSTRA CAR,"));
    const QRect ink = test_support::paintedBy(*label);
    label->resize(label->width(), ink.bottom() + 1 - label->y() + clear);
}

INSTANTIATE_TEST_SUITE_P(
    Checks, FitCheckTest,
    ::testing::Values(
        CheckRow{"label_one_pixel_short", [](QWidget& w) { labelWithRoom(w, -1); }, 1},
        CheckRow{"label_exact", [](QWidget& w) { labelWithRoom(w, 0); }, 0},
        CheckRow{"label_one_pixel_spare", [](QWidget& w) { labelWithRoom(w, 1); }, 0},
        CheckRow{"list_item_one_pixel_short", [](QWidget& w) { listWithRoom(w, -1); }, 1},
        CheckRow{"list_item_exact", [](QWidget& w) { listWithRoom(w, 0); }, 0},
        CheckRow{"list_item_one_pixel_spare", [](QWidget& w) { listWithRoom(w, 1); }, 0},
        CheckRow{"button_one_pixel_past_the_edge", [](QWidget& w) { buttonEndingAt(w, 401); }, 1},
        CheckRow{"button_on_the_edge", [](QWidget& w) { buttonEndingAt(w, 400); }, 0},
        CheckRow{"button_inside", [](QWidget& w) { buttonEndingAt(w, 399); }, 0},
        CheckRow{"buttons_overlapping_by_one_pixel", [](QWidget& w) { twoButtonsApart(w, -1); }, 1},
        CheckRow{"buttons_touching", [](QWidget& w) { twoButtonsApart(w, 0); }, 0},
        CheckRow{"buttons_one_pixel_apart", [](QWidget& w) { twoButtonsApart(w, 1); }, 0},
        CheckRow{"label_texts_sharing_a_column", [](QWidget& w) { twoLabelTextsApart(w, 0); }, 1},
        CheckRow{"label_texts_touching", [](QWidget& w) { twoLabelTextsApart(w, 1); }, 0},
        CheckRow{"label_texts_one_column_apart", [](QWidget& w) { twoLabelTextsApart(w, 2); }, 0},
        CheckRow{"label_text_cut_at_the_bottom",
                 [](QWidget& w) { labelWithRowsBelowItsText(w, -1); }, 1},
        CheckRow{"label_text_on_its_last_row", [](QWidget& w) { labelWithRowsBelowItsText(w, 0); },
                 1},
        CheckRow{"label_text_one_row_clear_below",
                 [](QWidget& w) { labelWithRowsBelowItsText(w, 1); }, 0},
        CheckRow{"hidden_label_not_checked",
                 [](QWidget& w) {
                     labelWithRoom(w, -1);
                     w.findChild<QLabel*>()->hide();
                 },
                 0}),
    rowName);

}  // namespace
}  // namespace dittix::display
