// TDittixForm, the decoder window and the owner of everything else.
//
// Architecture: the program's state lives in a few plain structs owned here (the settings as
// loaded, the timing parameters, the keying modes, the decoder state) and is handed to the other
// windows by reference. The 10 ms timer `decodifica` runs keying::DecodeTick, which is passive:
// it reads the keyboard and the key port and calls its operations through a TickBinding that
// routes them to the TapeDisplay (the bitmap), the sidetone and nothing else. Platform parts
// (keyboard query, screen probe, key port, audio) come in through MainWindowEnvironment, chosen
// in one place (main.cpp) and replaced by fakes in tests. Everything runs on the interface
// thread; timers and key handlers never overlap, so nothing is locked. The exceptions have
// threads of their own and hand their results back: the port scan, the training tones and their
// playback, and the settings file's saves (SettingsSaver), which every window asks for here.
#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QTimer>
#include <QWidget>

#include <array>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "analysis/analysis_window.h"
#include "display/code_table_window.h"
#include "display/sidetone.h"
#include "display/tape_display.h"
#include "display/tick_binding.h"
#include "display/tone_switch.h"
#include "fist/fist_statistics.h"
#include "keying/decode_tick.h"
#include "persistence/exercise_random.h"
#include "persistence/ordered_jobs.h"
#include "persistence/settings.h"
#include "persistence/settings_saver.h"
#include "persistence/settings_writer.h"
#include "platform/audio_output.h"
#include "platform/key_lines.h"
#include "platform/keyboard_query.h"
#include "platform/screen_probe.h"
#include "platform/serial_lines.h"
#include "setup/key_port.h"
#include "setup/setup_window.h"
#include "training/levels_window.h"
#include "training/playback_thread.h"
#include "training/progress_window.h"
#include "training/training_window.h"

namespace dittix::display {

class TickStats;

// What the main window needs from outside: where its settings are, the platform adapters, and
// the hooks used by tests and measurements.
struct MainWindowEnvironment {
    std::filesystem::path settingsFile;
    char decimalSeparator = '.';
    std::function<QSize()> screenSize;
    std::unique_ptr<platform::KeyboardQuery> keyboard;
    // The sidetone's output; empty for none (silent keying).
    std::unique_ptr<platform::LoopingOutput> sidetoneOutput;
    // Measures key-down to sound in the sidetone's callback (benchmarks); may be null.
    platform::GateLatencyProbe* sidetoneProbe = nullptr;
    // The training tones' output; empty for none (the training window says it cannot open it).
    std::unique_ptr<platform::SingleShotOutput> trainingOutput;
    // The serial ports a key can be wired to; empty for none (the keyboard alone keys).
    std::unique_ptr<platform::SerialPorts> serialPorts;
    // Set when `keyboard` is fed from this program's own key events.
    platform::EventKeyboard* eventKeyboard = nullptr;
    // Replaces the real screen probe (tests); empty for the real one.
    std::function<bool(int row)> rowVisible;
    TickBinding::TextObserver decodedText;
    // Observes the training window: each exercise drawn, the copy and each score's summary (test
    // hook).
    std::function<void(const QString& line)> trainingTrace;
    // Ends the program at once (Esc in the code table window); empty for the event loop's exit.
    std::function<void()> endProgram;
    // Tells the operator one sentence (a settings file that could not be read, a failed save)
    // and returns once it has been seen; `over` is the window it concerns. Empty: not shown.
    std::function<void(QWidget* over, const QString& sentence)> tellOperator;
    TickStats* tickStats = nullptr;
    // Test hook: the analysis window's figures, one line after each refresh that changed them.
    std::function<void(const QString&)> analysisFigures;
};

class TDittixForm : public QWidget {
  public:
    explicit TDittixForm(MainWindowEnvironment environment, QWidget* parent = nullptr);
    ~TDittixForm() override;
    TDittixForm(const TDittixForm&) = delete;
    TDittixForm& operator=(const TDittixForm&) = delete;

    // Handlers, named after their control and event.
    void FormResize();
    void FormKeyPress(QChar key);
    // `keypad` is set for the numeric keypad's keys, which the tone keys ignore.
    void FormKeyDown(int key, bool keypad = false);
    void FormClose();
    // Waits until every save and history row asked for so far is written, then tells the
    // failures still to be told. The program calls it once its event loop has ended, before it
    // reads saveFailedOnClose().
    void finishSaves();
    void decodificaTimer();
    void aggiustaDimensionwFinestraTimer();
    void timerFocusTimer();
    void disegnaTabellaMorseTimer();

    // The window's outer size, frame included.
    QSize outerSize() const;
    void setOuterSize(QSize size);

    const persistence::Settings& settings() const { return m_settings; }
    const keying::KeyingModes& modes() const { return m_modes; }
    const keying::DecoderState& decoderState() const { return m_state; }
    const TapeDisplay& tape() const { return m_tape; }
    int tableFontSize() const { return m_tableFontSize; }
    const Sidetone& sidetone() const { return m_sidetone; }
    Sidetone& sidetone() { return m_sidetone; }
    setup::Tsetup* setupWindow() const { return m_setup.get(); }
    TtabellaCodice* tabellaCodice() const { return m_tabellaCodice.get(); }
    training::Ttraining* trainingWindow() const { return m_training.get(); }
    training::Tlivelli* levelsWindow() const { return m_livelli.get(); }
    training::ProgressWindow* progressWindow() const { return m_progress.get(); }
    analysis::Tanalisi* analysisWindow() const { return m_analisi.get(); }
    const fist::FistStatistics& fistStatistics() const { return m_fist; }
    const training::TrainingAudio& trainingAudio() const { return m_trainingAudio; }

    // Composes the training characters' tones at a speed in characters per minute.
    void componi(int cpm);
    const setup::KeyPort& keyPort() const { return m_keyPort; }
    const QTimer& disegnaTabellaMorse() const { return m_disegnaTabellaMorse; }
    int tableRedraws() const { return m_tableRedraws; }
    void requestFocusReturn() { m_returnFocus = true; }
    // Why the settings file was not read at start-up (the defaults are in use); none when it
    // was read or is missing.
    const std::optional<persistence::LoadProblem>& loadProblem() const { return m_loadProblem; }
    // True when a save made while this window closed failed (its own, or that of a window the
    // closing program closed): the operator's changes are lost, and the program says so.
    bool saveFailedOnClose() const { return m_saveFailedOnClose; }

  protected:
    void resizeEvent(QResizeEvent* event) override;
    // The bitmap, shown unscaled at the top-left corner of the client area.
    void paintEvent(QPaintEvent* event) override;
    // Nothing to repaint: the picture does not show the focus.
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void FormCreate();
    void keepPictureOnActivation();
    void setCaption();
    void repaintChanged();
    void redrawCodeTableSoon();
    void changeTableFontSize(int step);
    void showTraining();
    // The windows shown by commands, which hide when closed and keep their display server's
    // windows.
    std::array<QWidget*, 5> secondaryWindows() const;
    void startPlayback();
    void tellOperator(QWidget* over, const std::string& sentence);
    // Queues a save on the saver; a failure comes back to the interface thread, where it makes
    // the program's end a failure when the save was asked for while the program ended
    // (`lastAct`), and goes to `failed`.
    void queueSave(std::span<const persistence::SettingEntry> entries,
                   persistence::SaveFailed failed, bool lastAct);
    persistence::SaveSettings saveSettings();
    // History rows appended on the history's thread; `done` runs on this one.
    persistence::AppendHistory appendHistory();
    void tellFailedSaves();
    void reportSaveFailure(QWidget* over, const persistence::SaveError& error);
    void reportHistoryFailure(const std::string& sentence);

    MainWindowEnvironment m_env;
    std::optional<persistence::LoadProblem> m_loadProblem;  // filled with m_settings
    persistence::Settings m_settings;
    persistence::ExerciseRandom m_random;
    keying::TimingParameters m_timing;
    keying::KeyingModes m_modes;
    keying::DecoderState m_state;
    // The keying's lengths since the start or AZZERA, fed by the tick through the analysis window.
    fist::FistStatistics m_fist;
    int m_tableFontSize = 38;
    int m_outerWidth = 0;
    bool m_returnFocus = false;
    int m_tableRedraws = 0;
    bool m_closing = false;
    bool m_saveFailedOnClose = false;
    // Failed saves come back from the saver's thread to be told, one after the other.
    struct FailedSave {
        persistence::SaveFailed failed;
        persistence::SaveError error;
        bool lastAct = false;
    };
    std::deque<FailedSave> m_failedSaves;
    bool m_tellingFailedSaves = false;

    // Outlives the secondary windows, whose destruction may still ask for a save.
    persistence::SettingsSaver m_saver;
    persistence::OrderedJobs m_historyJobs;  // the training history's appends, in order
    std::unique_ptr<platform::ScreenProbe> m_screenProbe;
    TapeDisplay m_tape;
    setup::KeyPort m_keyPort;
    Sidetone m_sidetone;
    TickBinding m_binding;
    keying::DecodeTick m_tick;
    // The secondary windows refer to the state above, so they are destroyed first.
    std::unique_ptr<training::Ttraining> m_training;
    std::unique_ptr<setup::Tsetup> m_setup;
    std::unique_ptr<TtabellaCodice> m_tabellaCodice;
    std::unique_ptr<training::Tlivelli> m_livelli;
    std::unique_ptr<training::ProgressWindow> m_progress;
    std::unique_ptr<analysis::Tanalisi> m_analisi;
    training::TrainingAudio m_trainingAudio;
    std::unique_ptr<training::TtxCW> m_playback;  // the exercise's thread; joined first

    QTimer m_decodifica;
    QTimer m_disegnaTabellaMorse;
    QTimer m_aggiustaDimensionwFinestra;
    QTimer m_timerFocus;
};

}  // namespace dittix::display
