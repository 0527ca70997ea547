// The progress window over history files: the sentence in place of the charts, the charts' lines
// and categories, the legend, reads that end after the interface thread has gone on, and the
// charts drawn again when the window is resized.
#include "training/progress_window.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <QLabel>
#include <QPixmap>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "persistence/training_history.h"
#include "persistence/training_progress.h"
#include "support/named_rows.h"

namespace dittix::training {
namespace {

namespace fs = std::filesystem;
using persistence::HistoryRow;
using persistence::TrainingMode;
using test_support::rowName;

class Folder {
  public:
    Folder()
        : m_path(fs::temp_directory_path() /
                 ("dittix-progress-" + std::to_string(std::random_device{}()))) {
        fs::create_directories(m_path);
    }
    ~Folder() {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    fs::path file() const { return m_path / "training-history.csv"; }

  private:
    fs::path m_path;
};

HistoryRow row(int minute, int level, std::u16string sent, std::u16string copy,
               TrainingMode mode = TrainingMode::Receive) {
    persistence::HistoryExercise exercise;
    exercise.mode = mode;
    exercise.level = level;
    exercise.levelChars = u"KMURE";
    exercise.cpm = 60;
    exercise.minutes = 1;
    return persistence::makeHistoryRow(exercise, std::move(sent), std::move(copy),
                                       1796907802 + std::int64_t{minute} * 60);
}

void write(const fs::path& file, const std::vector<HistoryRow>& rows) {
    std::string text(persistence::kHistoryHeader);
    for (const HistoryRow& r : rows) {
        text += persistence::formatHistoryRecord(r);
    }
    std::ofstream(file, std::ios::binary) << text;
}

struct SentenceRow {
    const char* name;
    std::vector<HistoryRow> rows;
    bool folderInstead;
    const char* sentenceStart;
};

class SentenceTest : public ::testing::TestWithParam<SentenceRow> {};

TEST_P(SentenceTest, StandsInPlaceOfTheCharts) {
    const SentenceRow& p = GetParam();
    Folder folder;
    if (p.folderInstead) {
        fs::create_directories(folder.file());
    } else if (!p.rows.empty()) {
        write(folder.file(), p.rows);
    }
    ProgressWindow window(folder.file());
    window.refresh();
    window.finishReads();
    EXPECT_FALSE(window.showsCharts());
    EXPECT_TRUE(window.sentence().startsWith(QString::fromUtf8(p.sentenceStart)))
        << window.sentence().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Table, SentenceTest,
    ::testing::Values(
        SentenceRow{"NoFile", {}, false, "Lo storico non ha ancora esercizi di ricezione"},
        SentenceRow{"OnlySendExercises",
                    {row(0, 1, u"KM", u"KM", TrainingMode::Send)},
                    false,
                    "Lo storico non ha ancora esercizi di ricezione"},
        SentenceRow{"NothingSent", {row(0, 1, u"", u"K")}, false, "Lo storico non ha ancora"},
        SentenceRow{"AFolderInPlaceOfTheFile", {}, true, "Impossibile"}),
    rowName);

TEST(ProgressCharts, OneLinePerLevelAndTheCharactersWeakestFirst) {
    Folder folder;
    write(folder.file(), {
                             row(0, 1, u"KMKM", u"KMKM"),
                             row(1, 2, u"KMUU", u"KMXX"),  // U 0 of 2
                             row(2, 1, u"KMK", u"KXK"),    // M 1 of 2 overall
                             row(3, 3, u"KM", u"KM", TrainingMode::Send),
                         });
    ProgressWindow window(folder.file());
    window.refresh();
    window.finishReads();
    ASSERT_TRUE(window.showsCharts());
    ASSERT_TRUE(window.accuracyChart() && window.characterChart());
    EXPECT_EQ(window.accuracyChart()->lineNames(), (QStringList{"Liv. 1", "Liv. 2", "90 %"}));
    EXPECT_EQ(window.characterChart()->categories(), (QStringList{"U", "M", "K"}));
    EXPECT_EQ(window.status(), QStringLiteral("3 esercizi di ricezione nello storico."));
}

struct LegendRow {
    const char* name;
    int levels;
    int named;  // level lines named in the legend
};

class LegendTest : public ::testing::TestWithParam<LegendRow> {};

TEST_P(LegendTest, NamesTheHighestLevelsOnly) {
    const LegendRow& p = GetParam();
    Folder folder;
    std::vector<HistoryRow> rows;
    for (int level = 1; level <= p.levels; ++level) {
        rows.push_back(row(level, level, u"KM", u"KM"));
    }
    write(folder.file(), rows);
    ProgressWindow window(folder.file());
    window.refresh();
    window.finishReads();
    ASSERT_TRUE(window.showsCharts());
    ASSERT_TRUE(window.accuracyChart());
    QStringList named;
    for (const LegendEntry& entry : window.accuracyChart()->legend()) {
        if (entry.name != QStringLiteral("90 %")) {
            named.append(entry.name);
        }
    }
    ASSERT_EQ(named.size(), p.named) << named.join(u',').toStdString();
    EXPECT_EQ(named.back(), QStringLiteral("Liv. %1").arg(p.levels));
}

INSTANTIATE_TEST_SUITE_P(Table, LegendTest,
                         ::testing::Values(LegendRow{"OneLevel", 1, 1},
                                           LegendRow{"SevenLevels", 7, 7},
                                           LegendRow{"EightLevels", 8, 8},
                                           LegendRow{"NineLevels", 9, 8},
                                           LegendRow{"FortyLevels", 40, 8}),
                         rowName);

struct MarkerRow {
    const char* name;
    int exercises;  // all of one level, at two thirds each, a minute apart
    bool marked;
};

class MarkerTest : public ::testing::TestWithParam<MarkerRow> {};

// Above and below the level's line at its middle exercise, within a marker's radius: the line's
// colour where a marker is drawn, something else where none is.
TEST_P(MarkerTest, DiscsOfTheLinesColourUpToThreeHundredPoints) {
    const MarkerRow& p = GetParam();
    Folder folder;
    std::vector<HistoryRow> rows;
    for (int minute = 0; minute < p.exercises; ++minute) {
        rows.push_back(row(minute, 1, u"KMU", u"KMX"));
    }
    write(folder.file(), rows);
    ProgressWindow window(folder.file());
    window.show();
    window.finishReads();
    QCoreApplication::processEvents();
    ASSERT_TRUE(window.showsCharts());
    const std::optional<AccuracyChart>& chart = window.accuracyChart();
    ASSERT_TRUE(chart);
    const QPoint at = window.accuracyArea().topLeft() +
                      chart->position(0, static_cast<std::size_t>(p.exercises / 2)).toPoint();
    // What the window shows, not only the image it was given.
    const QImage picture = window.grab().toImage();
    for (const int dy : {-6, 6}) {
        const QColor seen = picture.pixelColor(at.x(), at.y() + dy);
        EXPECT_EQ(seen == chart->lineColour(0), p.marked)
            << "at " << dy << " px from the line: " << seen.name().toStdString()
            << ", the line's colour " << chart->lineColour(0).name().toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Table, MarkerTest,
                         ::testing::Values(MarkerRow{"OnePoint", 1, true},
                                           MarkerRow{"JustBelowTheLimit", 299, true},
                                           MarkerRow{"AtTheLimit", 300, true},
                                           MarkerRow{"JustAboveTheLimit", 301, false}),
                         rowName);

enum class Then { Unchanged, MoreExercises, OnlySending, Unreadable };

struct PendingPicturesRow {
    const char* name;
    Then then;          // the history when the second read is made
    const char* lines;  // the accuracy chart's lines, or empty where a sentence stands
    const char* shows;  // the status under the charts, or the start of the sentence
    bool withE;         // the characters chart has E (only the second history has it)
};

class PendingPicturesTest : public ::testing::TestWithParam<PendingPicturesRow> {};

// The first read's charts are drawn but not yet shown when a second read ends: the window ends
// up showing the second read's figures alone, charts or a sentence.
TEST_P(PendingPicturesTest, ALaterReadReplacesThem) {
    const PendingPicturesRow& p = GetParam();
    Folder folder;
    const std::vector<HistoryRow> first{row(0, 1, u"KMKM", u"KMKM"), row(1, 2, u"KMUU", u"KMXX")};
    write(folder.file(), first);
    ProgressWindow window(folder.file());
    window.refresh();
    window.waitForReads();
    ASSERT_FALSE(window.showsCharts()) << "shown before the event loop took them";

    switch (p.then) {
        case Then::Unchanged:
            break;
        case Then::MoreExercises: {
            std::vector<HistoryRow> more = first;
            more.push_back(row(2, 3, u"EEU", u"EEU"));
            write(folder.file(), more);
            break;
        }
        case Then::OnlySending:
            write(folder.file(), {row(0, 1, u"KM", u"KM", TrainingMode::Send)});
            break;
        case Then::Unreadable:
            fs::remove(folder.file());
            fs::create_directories(folder.file());
            break;
    }
    window.refresh();
    window.waitForReads();
    window.finishReads();

    if (*p.lines == '\0') {
        EXPECT_FALSE(window.showsCharts());
        EXPECT_TRUE(window.sentence().startsWith(QString::fromUtf8(p.shows)))
            << window.sentence().toStdString();
        return;
    }
    ASSERT_TRUE(window.showsCharts()) << window.sentence().toStdString();
    ASSERT_TRUE(window.accuracyChart() && window.characterChart());
    EXPECT_EQ(window.accuracyChart()->lineNames().join(u','), QString::fromUtf8(p.lines));
    EXPECT_EQ(window.status(), QString::fromUtf8(p.shows));
    EXPECT_EQ(window.characterChart()->categories().contains(QStringLiteral("E")), p.withE);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PendingPicturesTest,
    ::testing::Values(PendingPicturesRow{"Unchanged", Then::Unchanged, "Liv. 1,Liv. 2,90 %",
                                         "2 esercizi di ricezione nello storico.", false},
                      PendingPicturesRow{"MoreExercises", Then::MoreExercises,
                                         "Liv. 1,Liv. 2,Liv. 3,90 %",
                                         "3 esercizi di ricezione nello storico.", true},
                      PendingPicturesRow{"OnlySending", Then::OnlySending, "",
                                         "Lo storico non ha ancora esercizi di ricezione", false},
                      PendingPicturesRow{"Unreadable", Then::Unreadable, "", "Impossibile", false}),
    rowName);

// A reader whose read number `held` (1 the first) takes the file as it is, then waits to be let
// go before it returns; the other reads pass at once.
class HeldReader {
  public:
    explicit HeldReader(int held = 1) : m_heldCall(held) {}
    ProgressWindow::Reader reader() {
        return [this](const fs::path& file) {
            persistence::HistoryReadResult read = persistence::readProgressHistory(file);
            std::unique_lock lock(m_mutex);
            if (++m_calls == m_heldCall) {
                m_held = true;
                m_changed.notify_all();
                m_changed.wait(lock, [this] { return m_released; });
            }
            ++m_returned;
            m_changed.notify_all();
            return read;
        };
    }
    void waitUntilHeld() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_held; });
    }
    void waitUntilReturned(int reads) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this, reads] { return m_returned >= reads; });
    }
    void release() {
        const std::lock_guard lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }
    int calls() {
        const std::lock_guard lock(m_mutex);
        return m_calls;
    }

  private:
    const int m_heldCall;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_calls = 0;
    int m_returned = 0;
    bool m_held = false;
    bool m_released = false;
};

struct LateReadRow {
    const char* name;
    int refreshesWhileHeld;  // after the one whose read is held
    int reads;               // reads made in all
    const char* status;      // what the window says once every read has ended
};

class LateReadTest : public ::testing::TestWithParam<LateReadRow> {};

// The first read finds one exercise and is held; two more are written. The window goes on
// showing what it showed, every refresh returns at once, and only the latest read's figures are
// drawn in the end.
TEST_P(LateReadTest, TheLatestReadIsDrawnAndRefreshesWhileOneWaitsAddNone) {
    const LateReadRow& p = GetParam();
    Folder folder;
    write(folder.file(), {row(0, 1, u"KMKM", u"KMKM")});
    HeldReader held;
    ProgressWindow window(folder.file(), nullptr, held.reader());
    const QString before = window.sentence();
    window.refresh();
    held.waitUntilHeld();
    write(folder.file(),
          {row(0, 1, u"KMKM", u"KMKM"), row(1, 1, u"KMU", u"KMU"), row(2, 2, u"UU", u"UX")});
    for (int k = 0; k < p.refreshesWhileHeld; ++k) {
        window.refresh();
    }
    QCoreApplication::processEvents();
    EXPECT_FALSE(window.showsCharts());
    EXPECT_EQ(window.sentence(), before);

    held.release();
    window.finishReads();
    EXPECT_EQ(held.calls(), p.reads);
    EXPECT_EQ(window.reads(), p.reads);
    ASSERT_TRUE(window.showsCharts()) << window.sentence().toStdString();
    EXPECT_EQ(window.status(), QString::fromUtf8(p.status));
}

INSTANTIATE_TEST_SUITE_P(
    Table, LateReadTest,
    ::testing::Values(LateReadRow{"NoneWhileHeld", 0, 1, "1 esercizio di ricezione nello storico."},
                      LateReadRow{"OneWhileHeld", 1, 2, "3 esercizi di ricezione nello storico."},
                      LateReadRow{"TwoWhileHeld", 2, 2, "3 esercizi di ricezione nello storico."},
                      LateReadRow{"FiveWhileHeld", 5, 2, "3 esercizi di ricezione nello storico."}),
    rowName);

// A read has ended but its figures are not yet taken, and the next one has begun and is held:
// a refresh now asks for a read of its own, since the one running may have missed the change.
TEST(LateRead, ARefreshWhileNoReadWaitsToBeginAsksForOne) {
    Folder folder;
    write(folder.file(), {row(0, 1, u"KMKM", u"KMKM")});
    HeldReader held(2);
    ProgressWindow window(folder.file(), nullptr, held.reader());
    window.refresh();
    held.waitUntilReturned(1);  // its figures wait in the event queue
    window.refresh();
    held.waitUntilHeld();
    write(folder.file(), {row(0, 1, u"KMKM", u"KMKM"), row(1, 1, u"KMU", u"KMU")});
    window.refresh();
    EXPECT_EQ(window.reads(), 3);

    held.release();
    window.finishReads();
    EXPECT_EQ(held.calls(), 3);
    EXPECT_EQ(window.status(), QStringLiteral("2 esercizi di ricezione nello storico."));
}

// The window goes while its read is held and another waits: the waiting one may be dropped, and
// the figures of the one held are never drawn into the window gone.
TEST(LateRead, TheWindowClosedForGoodBeforeItsFiguresCome) {
    Folder folder;
    write(folder.file(), {row(0, 1, u"KMKM", u"KMKM")});
    HeldReader held;
    auto window = std::make_unique<ProgressWindow>(folder.file(), nullptr, held.reader());
    window->refresh();
    held.waitUntilHeld();
    window->refresh();
    held.release();
    window.reset();
    QCoreApplication::processEvents();
    EXPECT_LE(held.calls(), 2);
}

// The sentence shown in the window, fitted to its lines.
QLabel* shownSentence(ProgressWindow& window, const QString& start) {
    for (QLabel* label : window.findChildren<QLabel*>()) {
        if (label->isVisible() && label->text().startsWith(start)) {
            return label;
        }
    }
    return nullptr;
}

struct SentenceFitRow {
    const char* name;
    bool chartsFirst;  // charts are shown while the window is resized, then the sentence
};

class SentenceFitTest : public ::testing::TestWithParam<SentenceFitRow> {};

// The history's folder has a long name and cannot be read: the sentence saying so is fitted to
// the window's width as it is when the sentence is shown, and again when it is resized.
TEST_P(SentenceFitTest, ItsLinesFitTheWidthNow) {
    const SentenceFitRow& p = GetParam();
    Folder folder;
    const fs::path deep = folder.file().parent_path() / std::string(150, 'x') / "storico.csv";
    fs::create_directories(deep.parent_path());
    if (p.chartsFirst) {
        write(deep, {row(0, 1, u"KMKM", u"KMKM")});
    } else {
        fs::create_directories(deep);
    }
    ProgressWindow window(deep);
    window.show();
    window.finishReads();
    for (const int width : {1100, 700, 420}) {
        window.resize(width, 600);
        ASSERT_EQ(window.width(), width);
        if (p.chartsFirst && width == 700) {
            fs::remove(deep);
            fs::create_directories(deep);
            window.refresh();
            window.finishReads();
        }
        if (p.chartsFirst && width == 1100) {
            continue;
        }
        QLabel* shown = shownSentence(window, QStringLiteral("Impossibile"));
        ASSERT_NE(shown, nullptr) << width;
        const int room = width - 16 - 2 * shown->margin();
        for (const QString& line : shown->text().split(u'\n')) {
            EXPECT_LE(shown->fontMetrics().horizontalAdvance(line), room)
                << width << ": " << line.toStdString();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Table, SentenceFitTest,
                         ::testing::Values(SentenceFitRow{"FromTheStart", false},
                                           SentenceFitRow{"AfterTheCharts", true}),
                         rowName);

struct ResizeRow {
    const char* name;
    bool charts;  // the history has exercises (the charts are shown, not a sentence)
    int resizes;
};

class ResizeTest : public ::testing::TestWithParam<ResizeRow> {};

// The charts shown are drawn again for the window's new size and fill their places; a sentence
// needs no drawing.
TEST_P(ResizeTest, TheChartsAreDrawnAgainAtTheLastSize) {
    const ResizeRow& p = GetParam();
    Folder folder;
    write(folder.file(), p.charts ? std::vector<HistoryRow>{row(0, 1, u"KMKM", u"KMKM")}
                                  : std::vector<HistoryRow>{});
    ProgressWindow window(folder.file());
    window.show();
    window.finishReads();
    ASSERT_EQ(window.showsCharts(), p.charts);
    for (int k = 1; k <= p.resizes; ++k) {
        window.resize(1100 - 60 * k, 800 - 40 * k);
    }
    window.finishReads();
    ASSERT_EQ(window.showsCharts(), p.charts);
    if (!p.charts) {
        EXPECT_EQ(window.drawings(), 0);
        return;
    }
    // One drawing for each resize at most: those asked for while one waits add none.
    EXPECT_LE(window.drawings(), p.resizes);
    EXPECT_GE(window.drawings(), std::min(p.resizes, 1));
    for (const auto& [chart, area, image] :
         {std::tuple{window.accuracyChart()->size(), window.accuracyArea(), window.accuracyImage()},
          std::tuple{window.characterChart()->size(), window.characterArea(),
                     window.characterImage()}}) {
        EXPECT_EQ(chart, area.size());
        EXPECT_EQ(image.deviceIndependentSize().toSize(), area.size());
    }
    EXPECT_EQ(window.accuracyArea().width(), 1100 - 60 * p.resizes - 16);
}

INSTANTIATE_TEST_SUITE_P(Table, ResizeTest,
                         ::testing::Values(ResizeRow{"NoResize", true, 0},
                                           ResizeRow{"OneResize", true, 1},
                                           ResizeRow{"ThreeResizes", true, 3},
                                           ResizeRow{"ASentenceShown", false, 2}),
                         rowName);

// Resized three times while a read holds the window's thread: one drawing waits, and the read's
// charts and the drawing's are for the last size.
TEST(ResizeTest, ResizesWhileADrawingWaitsAddNone) {
    Folder folder;
    write(folder.file(), {row(0, 1, u"KMKM", u"KMKM")});
    HeldReader held(2);
    ProgressWindow window(folder.file(), nullptr, held.reader());
    window.show();
    window.finishReads();
    window.refresh();
    held.waitUntilHeld();
    for (int k = 1; k <= 3; ++k) {
        window.resize(1100 - 60 * k, 800 - 40 * k);
    }
    held.release();
    window.finishReads();
    EXPECT_EQ(window.drawings(), 1);
    ASSERT_TRUE(window.accuracyChart());
    EXPECT_EQ(window.accuracyChart()->size(), window.accuracyArea().size());
}

// Closed for good while a drawing for a new size waits behind a read: neither may reach it
// (meant for the sanitizers).
TEST(ResizeTest, TheWindowClosedForGoodWhileADrawingWaits) {
    Folder folder;
    write(folder.file(), {row(0, 1, u"KMKM", u"KMKM")});
    HeldReader held(2);
    auto window = std::make_unique<ProgressWindow>(folder.file(), nullptr, held.reader());
    window->show();
    window->finishReads();
    window->refresh();
    held.waitUntilHeld();
    window->resize(900, 700);
    EXPECT_EQ(window->drawings(), 1);
    held.release();
    window.reset();
    QCoreApplication::sendPostedEvents();
}

}  // namespace
}  // namespace dittix::training
