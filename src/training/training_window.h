// Ttraining, the receive-training window: level, speed, duration, pause and display choices, the
// START/STOP button, and the grid of 900 cells that shows the exercise in groups of five.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>

#include "persistence/exercise_random.h"
#include "persistence/settings.h"
#include "persistence/settings_writer.h"
#include "persistence/training_history.h"
#include "training/character_grid.h"
#include "training/copy_session.h"
#include "training/copy_strip.h"
#include "training/exercise.h"
#include "training/training_state.h"

namespace dittix::training {

// What the window needs from the rest of the program, handed in at creation.
struct TrainingEnvironment {
    const persistence::TrainingLevels& levels;
    persistence::TrainingChoices& choices;  // the last choices ("LIV ES" … "MOSTRA ES")
    persistence::ExerciseRandom& random;
    std::filesystem::path settingsFile;    // the history file lies beside it
    persistence::SaveSettings save;        // the window's keys, written into the settings file
    std::function<void(int cpm)> compose;  // the character tones at a speed
    std::function<void()> startPlayback;   // sends TrainingText; clears exerciseRunning
    std::function<void()> showLevels;      // the levels window
    std::function<void()> returnFocus;     // asks the main window to take the focus back
    // The save on closing failed: tells the operator (the error's sentence names the file).
    std::function<void(const persistence::SaveError&)> saveFailed;
    // A row was added to the training history (the progress window reads it again).
    std::function<void()> historyChanged = {};
    // A history row could not be written while the window closed, so the window cannot show it:
    // tells the operator the sentence (it names the file and the reason).
    std::function<void(const std::string& sentence)> historyFailed = {};
    std::function<void()> showProgress = {};  // the progress window
    // Observes what the window shows, one line at a time: "exercise " and the text each START
    // draws, "sending " and the place in it of each character as its tone starts, "copy " and
    // the copy as typed, "summary " and each summary line of a score (test hook; empty for
    // none).
    std::function<void(const QString& line)> trace = {};
    // Appends a history row; empty to append at once (see persistence::AppendHistory).
    persistence::AppendHistory appendHistory = {};
};

class Ttraining : public QWidget {
  public:
    explicit Ttraining(TrainingEnvironment environment, QWidget* parent = nullptr);

    // Handlers.
    void FormResize();
    void startClick();
    void cbSpeedChange();
    void cbInterpausaChange();
    void cbMostraClick();
    void showLivelliClick();
    void showProgressiClick();
    void timerTimer();
    void FormClose();
    // Esc: stops a running exercise, or closes the window.
    void escape();
    // The playback could not open the training output: the exercise is shown, but silent.
    void showNoOutput();
    // The playback's highlight: cell `current` red, the one before it yellow again.
    void highlightCurrent(int current);
    void setLabelYellow(int label);
    // LIVELLO SUCCESSIVO: selects the level after the scored exercise's.
    void nextLevelClick();

    TrainingState& state() { return m_state; }
    const GridLayout& layout() const { return m_layout; }
    // The grid of the exercise's characters, inside scrollBox.
    CharacterGrid* grid() const { return m_grid; }
    // The operator's copy and its score; the strip that shows them (hidden until something is
    // typed or scored).
    const CopySession& copySession() const { return m_session; }
    CopyStrip* copyStrip() const { return m_strip; }
    std::filesystem::path historyFile() const;
    int outerWidth() const;
    int outerHeight() const;
    // The narrowest the window can be made: 980, or more where the top row's texts need it.
    int minimumOuterWidth() const;

    QComboBox* cbLivello;
    QComboBox* cbSpeed;
    QComboBox* cbMinuti;
    QPushButton* showLivelli;
    QPushButton* showProgressi;
    QLabel* labInter;
    QComboBox* cbInterpausa;
    QCheckBox* cbMostra;
    QLabel* Label1;
    QPushButton* start;
    QScrollArea* scrollBox;
    QTimer timer;

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void FormCreate();
    void setListsEnabled(bool enabled);
    void showGrid();
    void setOuterSize(QSize outer);
    void layoutTopRow();
    std::array<QWidget*, 5> anchoredControls() const;
    void placeAnchoredControls();
    // A key typed as copy: true when the copy took it (it goes no further).
    bool copyKey(const QKeyEvent& key);
    void copyChanged();
    // The playback has ended: the exercise is scored against what it sent.
    void noteEnd();
    void scored();
    void showScore();
    void setStripShown(bool shown);
    // Hands the row to be appended; rowAppended follows, at once or later.
    void appendRow(const persistence::HistoryRow& row);
    void rowAppended(const persistence::HistoryRow& row, std::uint64_t exercise,
                     const std::optional<persistence::HistoryError>& error);
    // The exercise's last row, when its copy changed after its row was written: at the next
    // START and on closing.
    void finalizeExercise();

    TrainingEnvironment m_env;
    TrainingState m_state;
    GridLayout m_layout;
    CharacterGrid* m_grid = nullptr;
    CopyStrip* m_strip = nullptr;
    bool m_stripShown = false;
    CopySession m_session;
    QString m_historyError;        // why the last row could not be written; empty once one was
    std::uint64_t m_exercise = 0;  // counts the exercises begun: a late failure finds its own
    bool m_closing = false;        // in FormClose: a failure now is told, not shown
    bool m_resizeLock = false;
    int m_rowWidth = 0;                   // the client width the top row is laid out against
    std::array<int, 5> m_anchoredLeft{};  // at that width
};

}  // namespace dittix::training
