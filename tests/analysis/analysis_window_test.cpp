// The analysis window on the offscreen platform, fed by the real decode tick: the figures, the
// suggestion and APPLICA through the real setup window, paddle mode, AZZERA, the refresh timer,
// and the sending drill with its history row.
#include "analysis/analysis_window.h"

#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "../persistence/save_at_once.h"
#include "../persistence/temp_dir.h"
#include "../setup/fake_serial_ports.h"
#include "keyed_text.h"
#include "persistence/training_history.h"
#include "setup/setup_window.h"
#include "support/named_rows.h"

namespace dittix::analysis {
namespace {

using test::Hand;
using test::keyPaddles;
using test::keyStraight;
using test_support::PrintTo;
using test_support::rowName;

// The decoder as a straight key at 66 CPM (dot time 6) and at 40 CPM with dotBase 396.
constexpr keying::TimingParameters kAt66{6, 9, 18, 9, 9, 45};
constexpr keying::TimingParameters kAt40{9, 13, 27, 9, 9, 45};
constexpr keying::TimingParameters kAt25{15, 22, 45, 9, 9, 45};
// A 12 WPM fist: a 100 ms dot.
constexpr Hand kSlow{10, 30, 10, 30, 70};
constexpr Hand kAt20Wpm{};
constexpr std::time_t kWhen = 1'800'000'000;

// The window with everything it refers to, the real setup window behind APPLICA, and the real
// decode tick feeding it.
struct Window {
    explicit Window(int cpm = 66, keying::TimingParameters timing = kAt66,
                    std::string_view settingsText = "[Settings]\n",
                    persistence::AppendHistory append = {}) {
        file = dir.file("settings.ini");
        settings = persistence::parseSettings(settingsText, '.');
        speeds.cpm = cpm;
        tick.timing = timing;
        fake.existing = {3};
        setup = std::make_unique<setup::Tsetup>(setup::SetupState{
            speeds,
            tick.timing,
            tick.modes,
            port,
            persistence::test::saveAtOnce(file),
            {},
            {},
            [this](const persistence::SaveError& e) { saveErrors.push_back(e); }});
        window = std::make_unique<Tanalisi>(AnalysisEnvironment{
            statistics, speeds, tick.timing, tick.modes, settings.levels, settings.training, random,
            file, [this](int v) { setup->applyVerticale(v); }, [this] { ++focusReturns; },
            [this](const QString& line) { lines.push_back(line); }, [] { return kWhen; },
            std::move(append)});
        tick.recorder.sink = &window->feed();
    }
    void key(std::string_view text, const Hand& hand) { tick.run(keyStraight(text, hand)); }
    QString value(int row) const {
        return window->figureValue[static_cast<std::size_t>(row)]->text();
    }
    QString spread(int row) const {
        return window->figureSpread[static_cast<std::size_t>(row)]->text();
    }
    std::string saved() const { return persistence::readFileBytes(file); }
    std::filesystem::path historyFile() const { return persistence::historyFileFor(file); }

    persistence::test::TempDir dir;
    std::filesystem::path file;
    persistence::Settings settings;
    keying::SpeedSettings speeds;
    keying::test::Harness tick;
    fist::FistStatistics statistics;
    persistence::ExerciseRandom random{7};
    setup::test::FakeSerialPorts fake;
    std::int32_t number = 3;
    setup::KeyPort port{fake, number};
    std::vector<persistence::SaveError> saveErrors;
    int focusReturns = 0;
    std::vector<QString> lines;
    std::unique_ptr<setup::Tsetup> setup;
    std::unique_ptr<Tanalisi> window;
};

struct FiguresRow {
    const char* name;
    Hand hand;
    std::string_view text;
    int cpm;
    keying::TimingParameters timing;
    const char* speed;
    const char* elements;
    const char* dashToDot;
    const char* elementGap;
    const char* characterGap;
    const char* wordGap;
    const char* unknown;
    const char* unknownCount;
};

class FiguresTest : public ::testing::TestWithParam<FiguresRow> {};

TEST_P(FiguresTest, ShownAsMeasured) {
    const FiguresRow& row = GetParam();
    Window w(row.cpm, row.timing);
    w.key(row.text, row.hand);
    w.window->refresh();
    EXPECT_EQ(w.value(kSpeedRow), QString::fromUtf8(row.speed));
    EXPECT_EQ(w.value(kElementsRow), QString::fromUtf8(row.elements));
    EXPECT_EQ(w.value(kDashToDotRow), QString::fromUtf8(row.dashToDot));
    EXPECT_EQ(w.value(kElementGapRow), QString::fromUtf8(row.elementGap));
    EXPECT_EQ(w.value(kCharacterGapRow), QString::fromUtf8(row.characterGap));
    EXPECT_EQ(w.value(kWordGapRow), QString::fromUtf8(row.wordGap));
    EXPECT_EQ(w.value(kUnknownRow), QString::fromUtf8(row.unknown));
    EXPECT_EQ(w.spread(kUnknownRow), QString::fromUtf8(row.unknownCount));
}

INSTANTIATE_TEST_SUITE_P(
    Fists, FiguresTest,
    ::testing::Values(
        FiguresRow{"perfect_at_20_wpm", kAt20Wpm, "paris paris paris paris", 40, kAt40,
                   "20,0 WPM · 100 CPM", "60 ms · 180 ms", "3,0", "1,0", "3,0", "7,0", "0 %",
                   "0 su 20"},
        FiguresRow{"slow_fist_fast_decoder", kSlow, "paris paris paris paris", 66, kAt66,
                   "12,0 WPM · 60 CPM", "100 ms · 300 ms", "3,0", "1,0", "3,0", "7,0", "0 %",
                   "0 su 56"},
        FiguresRow{"heavy_dashes",
                   {6, 24, 6, 18, 42},
                   "paris paris paris paris",
                   40,
                   kAt40,
                   "20,0 WPM · 100 CPM",
                   "60 ms · 240 ms",
                   "4,0",
                   "1,0",
                   "3,0",
                   "7,0",
                   "0 %",
                   "0 su 20"},
        // Two words: too few word gaps for their figure.
        FiguresRow{"two_words", kAt20Wpm, "paris paris", 40, kAt40, "20,0 WPM · 100 CPM",
                   "60 ms · 180 ms", "3,0", "1,0", "3,0", "—", "0 %", "0 su 10"},
        // Character gaps of two dots: the decoder joins them into codes it does not know.
        FiguresRow{"close_characters_run_together",
                   {6, 18, 6, 12, 42},
                   "eeee tttt eeee tttt",
                   40,
                   kAt40,
                   "20,0 WPM · 100 CPM",
                   "60 ms · 180 ms",
                   "3,0",
                   "—",
                   "2,0",
                   "7,0",
                   "50 %",
                   "2 su 4"}),
    rowName);

struct FewRow {
    const char* name;
    std::string_view text;  // dots and dashes, too few or just enough
    bool figures;
};

class TooFewTest : public ::testing::TestWithParam<FewRow> {};

TEST_P(TooFewTest, DashesNeverNonsense) {
    Window w(40, kAt40);
    w.key(GetParam().text, kAt20Wpm);
    w.window->refresh();
    for (const int row : {kSpeedRow, kElementsRow, kDashToDotRow}) {
        EXPECT_EQ(w.value(row) == QStringLiteral("—"), !GetParam().figures) << row;
    }
    EXPECT_EQ(w.window->labVerdict->text().startsWith(QStringLiteral("Servono almeno 10")),
              !GetParam().figures);
}

INSTANTIATE_TEST_SUITE_P(Elements, TooFewTest,
                         ::testing::Values(FewRow{"nothing", "", false},
                                           FewRow{"nine", "eeeeee ttt", false},
                                           FewRow{"ten", "eeeeeee ttt", true},
                                           FewRow{"eleven", "eeeeeeee ttt", true}),
                         rowName);

struct SuggestionRow {
    const char* name;
    int cpm;
    keying::TimingParameters timing;
    Hand hand;
    std::string_view text;
    const char* suggestion;
    bool applica;
};

class SuggestionTest : public ::testing::TestWithParam<SuggestionRow> {};

TEST_P(SuggestionTest, ApplicaOnlyWhereTheSettingDiffers) {
    const SuggestionRow& row = GetParam();
    Window w(row.cpm, row.timing);
    w.window->showAnalysis();
    w.key(row.text, row.hand);
    w.window->refresh();
    EXPECT_EQ(w.window->labSuggestion->text(), QString::fromUtf8(row.suggestion));
    EXPECT_EQ(w.window->btApplica->isVisible(), row.applica);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, SuggestionTest,
    ::testing::Values(
        SuggestionRow{"slow_fist_at_66", 66, kAt66, kSlow, "paris paris",
                      "«Verticale» consigliata: 25 CPM (ora 66 CPM)\n"
                      "soglia punto/linea 150 ms (ora 60 ms)",
                      true},
        SuggestionRow{"slow_fist_at_25", 25, kAt25, kSlow, "paris paris",
                      "«Verticale» 25 CPM: è già quella adatta a questa mano.", false},
        // 1.5 dots of 6 ticks: 396 / 40 = 9, the lowest such setting.
        SuggestionRow{"fist_at_its_setting_40", 40, kAt40, kAt20Wpm, "paris paris",
                      "«Verticale» 40 CPM: è già quella adatta a questa mano.", false},
        SuggestionRow{"fist_at_20_wpm_set_to_41", 41, kAt40, kAt20Wpm, "paris paris",
                      "«Verticale» consigliata: 40 CPM (ora 41 CPM)\n"
                      "soglia punto/linea 90 ms (ora 90 ms)",
                      true},
        SuggestionRow{"no_figures", 66, kAt66, kSlow, "e", "«Verticale» consigliata: —", false}),
    rowName);

TEST(Applica, MovesTheSetupBarRecomputesTheTimesAndSavesTheTwelveKeys) {
    Window w(66, kAt66);
    persistence::test::writeBytes(w.file, "; mine\n[Settings]\nTono=700\n");
    w.window->showAnalysis();
    w.key("paris paris", kSlow);
    // Every element alone, read as a dash: P is four T's, A two.
    EXPECT_EQ(w.tick.recorder.text.substr(0, 12), "tttt tt ttt ") << "garbage at 66 CPM";
    w.window->refresh();
    ASSERT_TRUE(w.window->btApplica->isVisible());
    QTest::mouseClick(w.window->btApplica, Qt::LeftButton);

    EXPECT_EQ(w.speeds.cpm, 25);
    EXPECT_EQ(w.tick.timing, kAt25);
    EXPECT_EQ(w.setup->sbCPM->value(), 25);
    EXPECT_EQ(w.setup->lcpm->text(), "25 CPM");
    EXPECT_EQ(w.saved(),
              "; mine\n[Settings]\nTono=700\nSerial Port=3\nDot time=15\nDot time P=9\n"
              "Decode time=22\nBlank time=45\nDecode time P=9\nBlank time P=45\nPalette=0\n"
              "Lento=0\nCPM=25\nCPM palette=40\nmemoriaPunto=1\n");
    EXPECT_TRUE(w.saveErrors.empty());
    EXPECT_FALSE(w.window->btApplica->isVisible());
    EXPECT_EQ(w.window->keyDownChart->data().lines.front().ticks, 15);

    // Keyed again in the same hand, the text comes out right.
    w.tick.recorder.text.clear();
    w.key("paris paris", kSlow);
    EXPECT_EQ(w.tick.recorder.text, "paris paris ");
}

TEST(Applica, AFailedSaveIsToldByTheSetupWindowsWay) {
    Window w(66, kAt66);
    std::filesystem::create_directory(w.file);
    w.window->showAnalysis();
    w.key("paris paris", kSlow);
    w.window->refresh();
    QTest::mouseClick(w.window->btApplica, Qt::LeftButton);
    EXPECT_EQ(w.speeds.cpm, 25);
    ASSERT_EQ(w.saveErrors.size(), 1u);
    EXPECT_EQ(w.saveErrors[0].code, persistence::SaveErrorCode::CannotReadCurrent);
}

TEST(Verdict, NamesTheThresholdCrossed) {
    Window w(66, kAt66);
    w.key("paris paris", kSlow);
    w.window->refresh();
    EXPECT_EQ(w.window->labVerdict->text(),
              "I punti (100 ms) non stanno sotto la soglia punto/linea (60 ms):\n"
              "il decodificatore li legge come linee.");
}

TEST(Charts, HoldTheStatisticsAndTheDecodersThresholds) {
    Window w(66, kAt66);
    w.key("paris paris", kSlow);
    w.window->refresh();
    const HistogramData& down = w.window->keyDownChart->data();
    const fist::FistSnapshot s = w.statistics.snapshot(396);
    ASSERT_EQ(down.series.size(), 2u);
    EXPECT_EQ(down.series[0].counts, s.keyDown.dots);
    EXPECT_EQ(down.series[1].counts, s.keyDown.dashes);
    EXPECT_EQ(down.series[1].counts[10], 20u) << "every 100 ms dot read as a dash";
    ASSERT_EQ(down.lines.size(), 2u);
    EXPECT_EQ(down.lines[0].name, "Dot time");
    EXPECT_EQ(down.lines[0].ticks, 6);
    EXPECT_EQ(down.lines[1].ticks, 15) << "the suggested setting's threshold";
    const HistogramData& gaps = w.window->gapChart->data();
    ASSERT_EQ(gaps.series.size(), 3u);
    EXPECT_EQ(gaps.series[1].counts, s.gaps.characterGaps);
    std::vector<std::int32_t> at;
    for (const HistogramLine& line : gaps.lines) {
        at.push_back(line.ticks);
    }
    EXPECT_EQ(at, (std::vector<std::int32_t>{3, 9, 18}));
}

TEST(PaddleMode, GapsAndSpeedWithoutASuggestion) {
    Window w(66, kAt66);
    w.tick.modes.paddleMode = true;
    w.window->showAnalysis();
    w.tick.run(keyPaddles("paris paris paris paris", w.tick.timing));
    EXPECT_EQ(w.tick.recorder.text, "paris paris paris paris ");
    w.window->refresh();
    EXPECT_EQ(w.value(kSpeedRow), "13,3 WPM · 67 CPM");  // the keyer's 9-tick dot
    EXPECT_EQ(w.value(kCharacterGapRow).isEmpty(), false);
    EXPECT_NE(w.value(kCharacterGapRow), "—");
    EXPECT_NE(w.value(kWordGapRow), "—");
    for (const int row : {kElementsRow, kDashToDotRow, kElementGapRow}) {
        EXPECT_FALSE(w.window->figureValue[static_cast<std::size_t>(row)]->isVisible()) << row;
    }
    EXPECT_FALSE(w.window->keyDownChart->isVisible());
    EXPECT_FALSE(w.window->btApplica->isVisible());
    EXPECT_TRUE(w.window->labSuggestion->text().startsWith("Palette:"));
    std::vector<std::pair<QString, std::int32_t>> lines;
    for (const HistogramLine& line : w.window->gapChart->data().lines) {
        lines.emplace_back(line.name, line.ticks);
    }
    EXPECT_EQ(lines, (std::vector<std::pair<QString, std::int32_t>>{{"Decode time P", 19},
                                                                    {"Blank time P", 55}}));
}

TEST(PaddleMode, StraightKeyMeasurementsAreNotShown) {
    Window w(66, kAt66);
    w.key("paris paris", kSlow);
    w.tick.modes.paddleMode = true;  // 'p', with nothing keyed on the paddles yet
    w.window->refresh();
    EXPECT_EQ(w.value(kSpeedRow), "—");
    EXPECT_EQ(w.value(kUnknownRow), "—");
    EXPECT_EQ(w.window->gapChart->data().series[1].counts, Bins{});
}

TEST(Azzera, EmptiesTheStatisticsAndTheWindow) {
    Window w(66, kAt66);
    w.window->showAnalysis();
    w.key("paris paris", kSlow);
    w.window->refresh();
    ASSERT_NE(w.value(kSpeedRow), "—");
    QTest::mouseClick(w.window->btAzzera, Qt::LeftButton);
    const fist::FistSnapshot s = w.statistics.snapshot(396);
    EXPECT_EQ(s.keyDown.total(), 0u);
    EXPECT_EQ(s.characters, 0u);
    for (const int row : {kSpeedRow, kDashToDotRow, kCharacterGapRow, kUnknownRow}) {
        EXPECT_EQ(w.value(row), "—") << row;
    }
    EXPECT_EQ(w.window->keyDownChart->data().series[1].counts, Bins{});
    EXPECT_TRUE(w.window->recentChart->data().items.empty());
    EXPECT_FALSE(w.window->btApplica->isVisible());
}

// The figures line names where each button is, in the window's own coordinates, so that a driving
// script can click it; "-" while the button is hidden.
struct ButtonPlaceRow {
    const char* name;
    std::string_view text;  // keyed in the slow hand at 66 CPM
    bool applica;
};

class ButtonPlaceTest : public ::testing::TestWithParam<ButtonPlaceRow> {};

QString fieldOf(const QString& line, const QString& name) {
    for (const QString& part : line.section(QStringLiteral(" summary="), 0, 0).split(u' ')) {
        if (part.startsWith(name + u'=')) {
            return part.mid(name.size() + 1);
        }
    }
    return QStringLiteral("missing");
}

TEST_P(ButtonPlaceTest, ClickedWhereTheFiguresLineSays) {
    const ButtonPlaceRow& row = GetParam();
    Window w(66, kAt66);
    w.window->showAnalysis();
    w.key(row.text, kSlow);
    w.window->refresh();
    ASSERT_FALSE(w.lines.empty());
    const QString line = w.lines.back();
    const auto pointOf = [&](const char* name) {
        const QStringList xy = fieldOf(line, QString::fromUtf8(name)).split(u',');
        return xy.size() == 2 ? QPoint(xy[0].toInt(), xy[1].toInt()) : QPoint(-1, -1);
    };
    EXPECT_EQ(w.window->childAt(pointOf("azzera")), w.window->btAzzera) << line.toStdString();
    EXPECT_EQ(w.window->childAt(pointOf("via")), w.window->btVia) << line.toStdString();
    if (!row.applica) {
        EXPECT_EQ(fieldOf(line, QStringLiteral("applica")), "-");
        return;
    }
    ASSERT_EQ(w.window->childAt(pointOf("applica")), w.window->btApplica) << line.toStdString();
    // A click there applies the suggestion, and the next line says APPLICA is gone.
    QWidget* hit = w.window->childAt(pointOf("applica"));
    QTest::mouseClick(hit, Qt::LeftButton, {}, hit->mapFrom(w.window.get(), pointOf("applica")));
    EXPECT_EQ(w.speeds.cpm, 25);
    EXPECT_EQ(fieldOf(w.lines.back(), QStringLiteral("applica")), "-");
    EXPECT_EQ(fieldOf(w.lines.back(), QStringLiteral("verticale")), "25");
}

INSTANTIATE_TEST_SUITE_P(Keyed, ButtonPlaceTest,
                         ::testing::Values(ButtonPlaceRow{"nothing", "", false},
                                           ButtonPlaceRow{"too_few_elements", "e", false},
                                           ButtonPlaceRow{"a_suggestion", "paris paris", true}),
                         rowName);

TEST(RefreshTimer, RunsOnlyWhileShown) {
    Window w(66, kAt66);
    EXPECT_FALSE(w.window->refreshTimer.isActive());
    w.key("paris paris", kSlow);
    EXPECT_EQ(w.value(kSpeedRow), "—") << "nothing is read while hidden";
    w.window->showAnalysis();
    EXPECT_TRUE(w.window->refreshTimer.isActive());
    EXPECT_EQ(w.window->refreshTimer.interval(), 200);
    EXPECT_EQ(w.value(kSpeedRow), "12,0 WPM · 60 CPM") << "shown at once on opening";
    QTest::keyClick(w.window.get(), Qt::Key_Escape);
    EXPECT_FALSE(w.window->isVisible());
    EXPECT_FALSE(w.window->refreshTimer.isActive());
    EXPECT_EQ(w.focusReturns, 1);
}

TEST(RefreshTimer, ChartsRepaintOnlyWhenTheirDataChanged) {
    Window w(66, kAt66);
    w.window->showAnalysis();
    w.key("paris paris", kSlow);
    w.window->refresh();
    QApplication::processEvents();
    w.window->keyDownChart->grab();
    const int paints = w.window->keyDownChart->paintCount();
    w.window->refresh();
    QApplication::processEvents();
    EXPECT_EQ(w.window->keyDownChart->paintCount(), paints);
    w.key("e", kSlow);
    w.window->refresh();
    QApplication::processEvents();
    EXPECT_GT(w.window->keyDownChart->paintCount(), paints);
}

TEST(RecentCharacters, AllTwentyDrawnAtTheWindowsSize) {
    for (const Hand& hand : {kSlow, kAt20Wpm, Hand{4, 12, 4, 12, 28}}) {
        Window w(66, kAt66);
        w.window->showAnalysis();
        w.key("paris paris paris paris paris", hand);
        w.window->refresh();
        w.window->recentChart->grab();
        EXPECT_GE(w.window->recentChart->charactersDrawn(), 20) << hand.dot;
        EXPECT_LE(w.window->recentChart->linesDrawn(), 2) << hand.dot;
    }
}

// --- The sending drill ------------------------------------------------------------------------

void chooseFreeText(Tanalisi& window, const QString& text) {
    window.cbTesto->setCurrentIndex(window.cbTesto->count() - 1);
    window.edTesto->setText(text);
}

std::string utf8(std::u16string_view text) {
    return keying::test::toUtf8(text);
}

TEST(Drill, MarksAsTheCharactersComeThenSummaryAndHistoryRow) {
    Window w(40, kAt40);
    w.window->showAnalysis();
    chooseFreeText(*w.window, "paris cq");
    QTest::mouseClick(w.window->btVia, Qt::LeftButton);
    EXPECT_EQ(utf8(w.window->lineTarget->text()), "PARIS CQ");
    EXPECT_TRUE(w.window->btFine->isEnabled());

    // Keyed tick by tick up to the second character, then on to the end of the line.
    const std::vector<keying::test::TickInput> inputs = keyStraight("pxris cq", kAt20Wpm);
    std::size_t at = 0;
    while (at < inputs.size() && w.window->drill().keyed().size() < 2) {
        w.tick.run({inputs[at++]});
    }
    w.window->refresh();
    EXPECT_EQ(utf8(w.window->lineKeyed->text()), "PX");
    EXPECT_EQ(w.window->lineTarget->marks(),
              (std::vector<Shown>{Shown::Right, Shown::Wrong, Shown::Pending, Shown::Pending,
                                  Shown::Pending, Shown::Blank, Shown::Pending, Shown::Pending}));
    EXPECT_TRUE(w.window->drill().running());

    w.tick.run({inputs.begin() + static_cast<std::ptrdiff_t>(at), inputs.end()});
    w.window->refresh();
    EXPECT_FALSE(w.window->drill().running());
    EXPECT_FALSE(w.window->btFine->isEnabled());
    EXPECT_EQ(utf8(w.window->lineKeyed->text()), "PXRIS CQ");
    EXPECT_EQ(w.window->labSummary->text(),
              "Caratteri 7 · giusti 6 · sbagliati 1 · mancanti 0 · in più 0 · precisione 85,7 % · "
              "confusioni: A→X");

    const persistence::HistoryReadResult history = persistence::readHistory(w.historyFile());
    ASSERT_FALSE(history.error) << history.error->message;
    ASSERT_EQ(history.rows.size(), 1u);
    const persistence::HistoryRow& row = history.rows[0];
    EXPECT_EQ(row.exercise.mode, persistence::TrainingMode::Send);
    EXPECT_EQ(row.exercise.level, 0);
    EXPECT_EQ(row.exercise.cpm, 40);
    EXPECT_EQ(row.exercise.minutes, 1);
    EXPECT_EQ(utf8(row.sentText), "PARIS CQ");
    EXPECT_EQ(utf8(row.copyText), "PXRIS CQ");
    EXPECT_EQ(row.right, 6);
    EXPECT_EQ(row.wrong, 1);
    EXPECT_EQ(row.unixSeconds, kWhen);
    EXPECT_NE(persistence::readFileBytes(w.historyFile()).find(",send,0,,40,1,"),
              std::string::npos);
}

TEST(Drill, LevelLineOfFiveGroupsAndFineEndsItEarly) {
    Window w(40, kAt40, "[Settings]\nlivello1=EISH5\nlivello2=TM\nLIV ES=2\n");
    w.window->showAnalysis();
    EXPECT_EQ(w.window->cbTesto->currentText(), "LIVELLO 2");
    EXPECT_EQ(w.window->cbTesto->count(), 3);
    QTest::mouseClick(w.window->btVia, Qt::LeftButton);
    const std::string target = utf8(w.window->lineTarget->text());
    ASSERT_EQ(target.size(), 29u);
    for (std::size_t i = 0; i < target.size(); ++i) {
        EXPECT_EQ(target[i] == ' ', i % 6 == 5) << target;
        EXPECT_NE(std::string(" TM").find(target[i]), std::string::npos) << target;
    }
    std::string first(target.substr(0, 2));
    std::transform(first.begin(), first.end(), first.begin(), ::tolower);
    w.key(first, kAt20Wpm);
    QTest::mouseClick(w.window->btFine, Qt::LeftButton);
    EXPECT_FALSE(w.window->drill().running());
    EXPECT_TRUE(w.window->labSummary->text().startsWith(
        "Caratteri 25 · giusti 2 · sbagliati 0 · mancanti 23 · in più 0 · precisione 8,0 %"))
        << w.window->labSummary->text().toStdString();
    EXPECT_EQ(w.window->lineTarget->marks()[3], Shown::Missed);
    const persistence::HistoryReadResult history = persistence::readHistory(w.historyFile());
    ASSERT_EQ(history.rows.size(), 1u);
    EXPECT_EQ(history.rows[0].exercise.level, 2);
    EXPECT_EQ(utf8(history.rows[0].exercise.levelChars), "TM");
}

TEST(Drill, BuiltInCourseWhenTheFileHasNoLevels) {
    Window w(40, kAt40);
    EXPECT_EQ(w.window->cbTesto->count(), persistence::kMaxLevels + 1);
    w.window->cbTesto->setCurrentIndex(0);  // level 1 of the course: K and M
    QTest::mouseClick(w.window->btVia, Qt::LeftButton);
    const std::string target = utf8(w.window->lineTarget->text());
    EXPECT_EQ(target.find_first_not_of("KM "), std::string::npos) << target;
}

// Keys the free text "ee" as the drill's line, to its end.
void keyLineEe(Window& w) {
    w.window->showAnalysis();
    chooseFreeText(*w.window, "ee");
    QTest::mouseClick(w.window->btVia, Qt::LeftButton);
    w.key("ee", kAt20Wpm);
    w.window->refresh();
}

TEST(Drill, AFailedHistoryWriteIsShownInTheSummary) {
    Window w(40, kAt40);
    std::filesystem::create_directory(w.historyFile());
    keyLineEe(w);
    const QStringList summary = w.window->labSummary->text().split('\n');
    ASSERT_EQ(summary.size(), 2) << w.window->labSummary->text().toStdString();
    EXPECT_TRUE(summary[0].startsWith("Caratteri 2 · giusti 2"));
    EXPECT_TRUE(summary[1].startsWith("Impossibile salvare l'esercizio nello storico"))
        << summary[1].toStdString();
    EXPECT_TRUE(summary[1].contains(QString::fromStdString(w.historyFile().string())));
}

struct LateDrillRowCase {
    const char* name;
    bool folderInPlace;  // the append fails
    // What the operator does while the row is on its way.
    std::function<void(Tanalisi&)> meanwhile;
    int summaryLines;  // then, once the row has ended
};

class LateDrillRowTest : public ::testing::TestWithParam<LateDrillRowCase> {};

// The drill's row ends after the summary is shown: a failure is added under the summary it
// belongs to, and over nothing else.
TEST_P(LateDrillRowTest, AFailureIsAddedUnderItsOwnSummaryOnly) {
    const LateDrillRowCase& p = GetParam();
    std::vector<std::pair<persistence::HistoryRow, persistence::HistoryAppended>> asked;
    Window w(40, kAt40, "[Settings]\n",
             [&asked](const persistence::HistoryRow& row, persistence::HistoryAppended done) {
                 asked.push_back({row, std::move(done)});
             });
    if (p.folderInPlace) {
        std::filesystem::create_directory(w.historyFile());
    }
    keyLineEe(w);
    ASSERT_EQ(asked.size(), 1u);
    const QString summary = w.window->labSummary->text();
    EXPECT_TRUE(summary.startsWith("Caratteri 2 · giusti 2")) << summary.toStdString();
    p.meanwhile(*w.window);
    const QString before = w.window->labSummary->text();

    asked[0].second(persistence::appendHistoryRow(w.historyFile(), asked[0].first));
    const QStringList shown = w.window->labSummary->text().split('\n');
    ASSERT_EQ(shown.size(), p.summaryLines) << w.window->labSummary->text().toStdString();
    EXPECT_EQ(shown[0], before.split('\n')[0]);
    if (p.summaryLines == 2) {
        EXPECT_TRUE(shown[1].startsWith("Impossibile salvare l'esercizio nello storico"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Moments, LateDrillRowTest,
    ::testing::Values(
        LateDrillRowCase{"written", false, [](Tanalisi&) {}, 1},
        LateDrillRowCase{"failed_while_its_summary_is_shown", true, [](Tanalisi&) {}, 2},
        LateDrillRowCase{"failed_after_a_new_line_began", true,
                         [](Tanalisi& t) { QTest::mouseClick(t.btVia, Qt::LeftButton); }, 1},
        LateDrillRowCase{"failed_after_nothing_to_key", true,
                         [](Tanalisi& t) {
                             chooseFreeText(t, "# %");
                             QTest::mouseClick(t.btVia, Qt::LeftButton);
                         },
                         1}),
    rowName);

TEST(Drill, ClosingTheWindowAbandonsTheLine) {
    Window w(40, kAt40);
    w.window->showAnalysis();
    chooseFreeText(*w.window, "paris");
    QTest::mouseClick(w.window->btVia, Qt::LeftButton);
    w.key("pa", kAt20Wpm);
    w.window->close();
    EXPECT_FALSE(w.window->drill().running());
    w.key("ris", kAt20Wpm);
    EXPECT_EQ(utf8(w.window->drill().keyed()), "PA");
    EXPECT_FALSE(std::filesystem::exists(w.historyFile()));
}

TEST(Drill, NothingToKeyStartsNothing) {
    Window w(40, kAt40);
    w.window->showAnalysis();
    chooseFreeText(*w.window, "# %");
    QTest::mouseClick(w.window->btVia, Qt::LeftButton);
    EXPECT_FALSE(w.window->drill().running());
    EXPECT_EQ(w.window->labSummary->text(),
              "Scrivi nel campo un testo con caratteri dell'alfabeto Morse.");
}

TEST(Drill, LongestTextFitsItsLines) {
    Window w(40, kAt40);
    w.window->showAnalysis();
    chooseFreeText(*w.window, QString("mmmmmmmmm ").repeated(6));
    EXPECT_EQ(w.window->edTesto->text().size(), kMaxTargetText);
    QTest::mouseClick(w.window->btVia, Qt::LeftButton);
    w.window->lineTarget->grab();
    EXPECT_TRUE(w.window->lineTarget->fitAtLastPaint());
}

// --- The histogram's axis ---------------------------------------------------------------------

struct EndRow {
    const char* name;
    std::vector<std::pair<int, std::uint64_t>> counts;  // bin, count
    std::vector<std::int32_t> lines;
    std::int32_t cap;
    std::int32_t end;
};

class HistogramEndTest : public ::testing::TestWithParam<EndRow> {};

TEST_P(HistogramEndTest, ThresholdsAndMostLengthsWithRoom) {
    HistogramData data;
    data.series.resize(1);
    for (const auto& [bin, count] : GetParam().counts) {
        data.series[0].counts[static_cast<std::size_t>(bin)] = count;
    }
    for (const std::int32_t ticks : GetParam().lines) {
        data.lines.push_back({QStringLiteral("x"), Qt::red, ticks, false});
    }
    data.rangeCap = GetParam().cap;
    EXPECT_EQ(histogramEnd(data), GetParam().end);
}

INSTANTIATE_TEST_SUITE_P(
    Data, HistogramEndTest,
    ::testing::Values(
        EndRow{"nothing_at_least_ten", {}, {}, 0, 10},
        EndRow{"line_and_a_quarter", {}, {40}, 0, 50},
        EndRow{"short_line_two_ticks_beyond", {}, {4}, 0, 10},
        // 98 of 100 counts lie in bins up to 30: the two at 200 do not stretch the axis.
        EndRow{"ninety_eight_percent", {{30, 98}, {200, 2}}, {}, 0, 34},
        EndRow{"ninety_seven_percent", {{30, 97}, {200, 3}}, {}, 0, 221},
        EndRow{"cap_leaves_pauses_out", {{30, 90}, {200, 10}}, {}, 100, 34},
        EndRow{"cap_at_the_pause_bin", {{30, 90}, {200, 10}}, {}, 200, 34},
        EndRow{"cap_just_past_the_pause_bin", {{30, 90}, {200, 10}}, {}, 201, 221},
        EndRow{"never_past_the_last_bin", {{399, 10}}, {}, 0, 400}),
    rowName);

}  // namespace
}  // namespace dittix::analysis
