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
#include <deque>
#include <functional>

#include "keying/decoder_state.h"
#include "keying/timing.h"
#include "persistence/settings_writer.h"
#include "setup/key_port.h"
#include "setup/port_scan.h"

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
    persistence::SaveSettings save;        // the window's keys, written into the settings file
    std::function<void()> captionChanged;  // the paddle mode changed: renew the main caption
    std::function<void()> focusMainWindow;
    // The save on closing failed: tells the operator (the error's sentence names the file).
    std::function<void(const persistence::SaveError&)> saveFailed;
};

// The port scan's probing runs on a thread of its own (see PortScan); its result is applied here,
// on the interface thread, when it arrives. Until then the key port reads no line and the rows
// show the previous scan. Port commands that come meanwhile wait and run in order once it is
// applied: a pick in the list, a row chosen (its port becomes the key port if the scan finds it
// again), a further scan (requests that come together make one) and the save of a close (the
// window hides at once; the save takes the scan's port).
class Tsetup : public QWidget {
  public:
    explicit Tsetup(SetupState state, QWidget* parent = nullptr);
    ~Tsetup() override;
    Tsetup(const Tsetup&) = delete;
    Tsetup& operator=(const Tsetup&) = delete;

    void showSetup();
    // Sets the straight-key speed bar to `cpm` as the operator's move there would (the same
    // recomputation of the six times, the bar and its label), then writes the twelve keys as the
    // close does, failures told the same way (after a running scan, with its port). The window
    // stays as it is, shown or hidden.
    void applyVerticale(int cpm);
    // Whether a scan has started and its result is not applied yet.
    bool scanRunning() const { return m_scan.running(); }
    // Waits for a running scan, applies it and runs what waited for it. For the end of the
    // program, whose saves must hold the scan's port.
    void finishScan();

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
    // A port command that waits for the running scan.
    struct Waiting {
        enum class Kind { Scan, Pick, Row, Save } kind;
        bool report = false;  // Scan: tell a key port left without a port, as showSetup does
        int position = 0;     // Pick: the list position picked
        int number = 0;       // Row: the port number the row showed
        // Save: the window's settings when it closed; the port number is taken at the save.
        keying::TimingParameters timing{};
        keying::SpeedSettings speeds{};
        bool paddleMode = false;
        bool memoriaPunto = false;
    };

    void FormCreate();
    // The speed bars, their labels and the three boxes from the shared settings.
    void refreshControls();
    // Asks for a save of the window's twelve keys, after a running scan with its port; a failure
    // goes to saveFailed.
    void saveKeys();
    void requestScan(bool report);
    void scanReady();
    void showScan(FoundPorts found);
    void runWaiting();
    void pickPort(int position);
    void chooseRowOf(int number);
    Waiting closingSettings() const;
    void save(const Waiting& settings, bool tell);
    void showMessage(const PortMessage& message);
    void selectPort(int number);
    void setOuterHeight(int height);
    void fitWidth();

    SetupState m_state;
    QButtonGroup* m_rows = nullptr;
    bool m_updating = false;
    bool m_shownBefore = false;
    // The key port's number when the running scan started, and whether its end is to tell a key
    // port left without a port.
    std::int32_t m_numberBefore = 0;
    bool m_reportAfterScan = false;
    std::deque<Waiting> m_waiting;
    // The port number each row shows, from the last scan applied.
    std::array<int, kMaxFoundPorts> m_rowNumbers{};
    PortScan m_scan;
};

}  // namespace dittix::setup
