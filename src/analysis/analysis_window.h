// Tanalisi, the fist analysis window ("ANALISI MANIPOLAZIONE"): the keying's lengths against the
// decoder's thresholds, the fist in figures, a suggested straight-key speed, the last characters
// to scale, and a sending drill scored like the receive training.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <array>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>

#include "analysis/fist_views.h"
#include "analysis/send_drill.h"
#include "fist/fist_statistics.h"
#include "keying/decoder_state.h"
#include "keying/measurement.h"
#include "keying/timing.h"
#include "persistence/exercise_random.h"
#include "persistence/settings.h"
#include "persistence/training_history.h"
#include "scoring/copy_score.h"

namespace dittix::analysis {

// What the window needs from the rest of the program, handed in at creation.
struct AnalysisEnvironment {
    fist::FistStatistics& statistics;
    const keying::SpeedSettings& speeds;  // dotBase and the straight-key speed ("Verticale")
    const keying::TimingParameters& timing;
    const keying::KeyingModes& modes;
    const persistence::TrainingLevels& levels;    // the file's; the built-in course when none
    const persistence::TrainingChoices& choices;  // the level the training last used
    persistence::ExerciseRandom& random;
    std::filesystem::path settingsFile;  // the training history sits beside it
    // Moves the setup window's straight-key bar to a value and saves its keys.
    std::function<void(int verticale)> applyVerticale;
    std::function<void()> focusMainWindow;
    // Test hook: the figures as one line of text after every refresh that changed them.
    std::function<void(const QString&)> figuresShown;
    // The time of a drill's history row; empty for the system clock.
    std::function<std::time_t()> clock;
    // Appends a drill's history row; empty to append at once (see persistence::AppendHistory).
    persistence::AppendHistory appendHistory = {};
};

// The rows of figures, top to bottom.
enum FigureRow : int {
    kSpeedRow,
    kElementsRow,
    kDashToDotRow,
    kElementGapRow,
    kCharacterGapRow,
    kWordGapRow,
    kUnknownRow,
    kFigureRows
};

class Tanalisi : public QWidget {
  public:
    explicit Tanalisi(AnalysisEnvironment environment, QWidget* parent = nullptr);

    // Where the decode tick's measurements go: the statistics, and the drill while it runs.
    keying::MeasurementSink& feed() { return m_feed; }

    // Opens the window (or brings it to the front) and shows the figures at once.
    void showAnalysis();

    // Handlers.
    void refresh();  // the timer: a snapshot of the statistics, and the drill's marks
    void azzeraClick();
    void applicaClick();
    void viaClick();
    void fineClick();
    void cbTestoChange();

    // The figures as the window last showed them, one line for the test hook.
    const QString& figuresLine() const { return m_figuresLine; }
    const SendDrill& drill() const { return m_drill; }

    HistogramView* keyDownChart;
    HistogramView* gapChart;
    RecentView* recentChart;
    std::array<QLabel*, kFigureRows> figureCaption{};
    std::array<QLabel*, kFigureRows> figureValue{};
    std::array<QLabel*, kFigureRows> figureIdeal{};
    std::array<QLabel*, kFigureRows> figureSpread{};
    QLabel* labVerdict;
    QLabel* labSuggestion;
    QPushButton* btApplica;
    QPushButton* btAzzera;
    QLabel* labDrill;
    QComboBox* cbTesto;
    QLineEdit* edTesto;
    QPushButton* btVia;
    QPushButton* btFine;
    MarkedLineView* lineTarget;
    MarkedLineView* lineKeyed;
    QLabel* labSummary;
    QTimer refreshTimer;

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    class Feed final : public keying::MeasurementSink {
      public:
        Feed(fist::FistStatistics& statistics, SendDrill& drill)
            : m_statistics(statistics), m_drill(drill) {}
        void measured(const keying::Measurement& m) override {
            m_statistics.measured(m);
            if (m_drill.running()) {
                m_drill.measured(m);
            }
        }

      private:
        fist::FistStatistics& m_statistics;
        SendDrill& m_drill;
    };

    void FormCreate();
    void showFigures(const fist::FistSnapshot& snapshot, bool paddles);
    void showCharts(const fist::FistSnapshot& snapshot, bool paddles);
    void showDrill();
    void finishDrill();
    void logFigures(const fist::FistSnapshot& snapshot, bool paddles);
    const persistence::TrainingLevels& offeredLevels() const;

    AnalysisEnvironment m_env;
    SendDrill m_drill;
    Feed m_feed{m_env.statistics, m_drill};
    scoring::CopyScorer m_scorer;
    scoring::CopyScore m_score;
    std::uint64_t m_drillShown = ~std::uint64_t{0};  // the drill revision on screen
    std::int32_t m_drillLevel = 0;                   // 1-based; 0 for a typed text
    std::optional<int> m_suggested;                  // the value APPLICA applies
    QString m_figuresLine;
};

}  // namespace dittix::analysis
