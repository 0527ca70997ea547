// Tsetup, the setup window: the speeds of the straight key and the paddles, the keying modes and
// the key port, with a live line indicator for each serial port found.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTimer>
#include <QWidget>

#include <array>
#include <filesystem>
#include <functional>

#include "keying/decoder_state.h"
#include "keying/timing.h"
#include "persistence/settings_writer.h"
#include "setup/key_port.h"

class QButtonGroup;

namespace dittix::setup {

// A found port's line indicator: a square with a black outline, green while a line is active.
class LineIndicator : public QWidget {
  public:
    explicit LineIndicator(QWidget* parent);
    void setActive(bool active);
    bool isActive() const { return m_active; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    bool m_active = false;
};

// The shared state the window reads and changes, owned by the main window.
struct SetupState {
    keying::SpeedSettings& speeds;
    keying::TimingParameters& timing;
    keying::KeyingModes& modes;
    KeyPort& keyPort;
    std::filesystem::path settingsFile;
    std::function<void()> captionChanged;  // the paddle mode changed: renew the main caption
    std::function<void()> focusMainWindow;
    // The save on closing failed: tells the operator (the error's sentence names the file).
    std::function<void(const persistence::SaveError&)> saveFailed;
};

class Tsetup : public QWidget {
  public:
    explicit Tsetup(SetupState state, QWidget* parent = nullptr);

    void showSetup();
    // Sets the straight-key speed bar to `cpm` as the operator's move there would (the same
    // recomputation of the six times, the bar and its label), then writes the twelve keys as the
    // close does, failures told the same way. The window stays as it is, shown or hidden.
    void applyVerticale(int cpm);

    // Handlers.
    void sbCPMChange();
    void cbLentoClick();
    void cbPaletteClick();
    void cbMemoriaPuntoClick();
    void serialeChange(int position);
    void rbComClick(QRadioButton* sender);
    void ricercaSerClick();
    void Timer1Timer();
    void FormClose();

    // The window's outer height, frame included.
    int outerHeight() const;

    // Controls, named as in the window's design.
    QLabel* Label1;
    QScrollBar* sbCPM;
    QLabel* lcpm;
    QLabel* Label2;
    QScrollBar* sbCPMpalette;
    QLabel* lcpmPalette;
    QCheckBox* cbPalette;
    QCheckBox* cbMemoriaPunto;
    QCheckBox* cbLento;
    QLabel* Label4;
    QComboBox* seriale;
    QLabel* unable;
    QPushButton* ricercaSer;
    QLabel* labTitolo;
    std::array<QRadioButton*, kMaxFoundPorts> rbCom{};
    std::array<QLabel*, kMaxFoundPorts> labCom{};
    std::array<LineIndicator*, kMaxFoundPorts> shCom{};
    QTimer Timer1;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void FormCreate();
    // The speed bars, their labels and the three boxes from the shared settings.
    void refreshControls();
    // Writes the window's twelve keys; a failure goes to saveFailed.
    void saveKeys();
    void showMessage(const PortMessage& message);
    void selectPort(int number);
    void setOuterHeight(int height);
    void fitWidth();

    SetupState m_state;
    QButtonGroup* m_rows = nullptr;
    bool m_updating = false;
    bool m_shownBefore = false;
};

}  // namespace dittix::setup
