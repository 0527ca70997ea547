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
#include <filesystem>
#include <functional>

#include "persistence/exercise_random.h"
#include "persistence/settings.h"
#include "persistence/settings_writer.h"
#include "training/character_grid.h"
#include "training/exercise.h"
#include "training/training_state.h"

namespace dittix::training {

// What the window needs from the rest of the program, handed in at creation.
struct TrainingEnvironment {
    const persistence::TrainingLevels& levels;
    persistence::TrainingChoices& choices;  // the last choices ("LIV ES" … "MOSTRA ES")
    persistence::ExerciseRandom& random;
    std::filesystem::path settingsFile;
    std::function<bool()> openOutput;      // the training audio output; false on failure
    std::function<void(int cpm)> compose;  // the character tones at a speed
    std::function<void()> startPlayback;   // sends TrainingText; clears exerciseRunning
    std::function<void()> showLevels;      // the levels window
    std::function<void()> returnFocus;     // asks the main window to take the focus back
    // The save on closing failed: tells the operator (the error's sentence names the file).
    std::function<void(const persistence::SaveError&)> saveFailed;
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
    void timerTimer();
    void FormClose();
    // Esc: stops a running exercise, or closes the window.
    void escape();
    // The playback's highlight: cell `current` red, the one before it yellow again.
    void highlightCurrent(int current);
    void setLabelYellow(int label);

    TrainingState& state() { return m_state; }
    const GridLayout& layout() const { return m_layout; }
    // The grid of the exercise's characters, inside scrollBox.
    CharacterGrid* grid() const { return m_grid; }
    int outerWidth() const;
    int outerHeight() const;
    // The narrowest the window can be made: 980, or more where the top row's texts need it.
    int minimumOuterWidth() const;

    QComboBox* cbLivello;
    QComboBox* cbSpeed;
    QComboBox* cbMinuti;
    QPushButton* showLivelli;
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

    TrainingEnvironment m_env;
    TrainingState m_state;
    GridLayout m_layout;
    CharacterGrid* m_grid = nullptr;
    bool m_resizeLock = false;
    int m_rowWidth = 0;                   // the client width the top row is laid out against
    std::array<int, 5> m_anchoredLeft{};  // at that width
};

}  // namespace dittix::training
