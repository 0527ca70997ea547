// The progress window over history files: the sentence in place of the charts, the charts' series
// and categories, and the legend.
#include "training/progress_window.h"

#include <gtest/gtest.h>

#include <QtCharts/QBarCategoryAxis>
#include <QtCharts/QLegend>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "persistence/training_history.h"
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
    ASSERT_TRUE(window.showsCharts());
    QStringList lines;
    for (QAbstractSeries* series : window.accuracyView()->chart()->series()) {
        lines.append(series->name());
    }
    EXPECT_EQ(lines, (QStringList{"Liv. 1", "Liv. 2", "90 %"}));
    const auto axes = window.characterView()->chart()->axes(Qt::Horizontal);
    ASSERT_EQ(axes.size(), 1);
    auto* categories = qobject_cast<QBarCategoryAxis*>(axes.front());
    ASSERT_NE(categories, nullptr);
    EXPECT_EQ(categories->categories(), (QStringList{"U", "M", "K"}));
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
    ASSERT_TRUE(window.showsCharts());
    QStringList named;
    for (QLegendMarker* marker : window.accuracyView()->chart()->legend()->markers()) {
        if (marker->isVisible() && marker->label() != QStringLiteral("90 %")) {
            named.append(marker->label());
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

}  // namespace
}  // namespace dittix::training
