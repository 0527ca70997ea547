// The main window: start-up, commands, timers and shutdown.
#include "display/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>

#include "display/tick_stats.h"
#include "keying/tick_port.h"
#include "persistence/course.h"
#include "persistence/settings_writer.h"
#include "platform/kept_window.h"
#include "platform/window_frame.h"

namespace dittix::display {

namespace {

const QString kCaption = QStringLiteral("Dittix - by Zorvan");
constexpr int kCodeTableWidth = 170;

}  // namespace

namespace {

MainWindowEnvironment withDefaults(MainWindowEnvironment env) {
    if (!env.sidetoneOutput) {
        env.sidetoneOutput = std::make_unique<platform::NullLoopingOutput>();
    }
    if (!env.serialPorts) {
        env.serialPorts = std::make_unique<setup::NoSerialPorts>();
    }
    if (!env.trainingOutput) {
        env.trainingOutput = std::make_unique<platform::NullSingleShotOutput>();
    }
    return env;
}

persistence::Settings takeSettings(persistence::LoadedSettings loaded,
                                   std::optional<persistence::LoadProblem>& problem) {
    problem = std::move(loaded.problem);
    return std::move(loaded.settings);
}

}  // namespace

TDittixForm::TDittixForm(MainWindowEnvironment environment, QWidget* parent)
    : QWidget(parent),
      m_env(withDefaults(std::move(environment))),
      // Creation begins with loading every setting; the parts built below depend on them.
      m_settings(takeSettings(persistence::loadSettings(m_env.settingsFile, m_env.decimalSeparator),
                              m_loadProblem)),
      m_saver(m_env.settingsFile),
      m_screenProbe(std::make_unique<platform::WidgetScreenProbe>(*this)),
      m_tape(m_env.rowVisible ? TapeDisplay::RowVisible(m_env.rowVisible)
                              : TapeDisplay::RowVisible(
                                    [this](int row) { return m_screenProbe->rowVisible(row); })),
      m_keyPort(*m_env.serialPorts, m_settings.serialPort),
      m_sidetone(*m_env.sidetoneOutput, m_settings.tono,
                 SidetoneOptions{m_settings.rampa, std::chrono::seconds(m_settings.chiusuraAudio)},
                 {}, m_env.sidetoneProbe),
      m_binding(*m_env.keyboard, m_keyPort, m_sidetone, m_tape, m_env.decodedText),
      m_tick(m_binding, m_timing, m_modes, m_state),
      m_trainingAudio(
          *m_env.trainingOutput, [this] { return m_sidetone.frequency(); }, m_settings.rampa) {
    FormCreate();
}

TDittixForm::~TDittixForm() {
    m_binding.setMeasurementSink(nullptr);  // the analysis window goes before the binding
    // A running exercise is ended and its thread joined before anything it uses goes away.
    if (m_playback) {
        m_playback->abortAndJoin();
    }
}

void TDittixForm::FormCreate() {
    // The settings were loaded first of all (see the constructor); seed the generator.
    m_random = persistence::ExerciseRandom::seededFromClock();
    m_timing = m_settings.timing;
    m_modes = m_settings.modes;
    m_tableFontSize = m_settings.tableFontSize;
    setWindowTitle(m_modes.paddleMode ? kCaption + QStringLiteral(" - palette ") : kCaption);

    // Size and place the window on the screen.
    const QSize screen = m_env.screenSize ? m_env.screenSize() : QSize(800, 600);
    const int height = m_settings.fs < 1 ? screen.height() - 30 : screen.height();
    m_outerWidth = screen.width() - (m_settings.tabellaCodiceVisibile ? kCodeTableWidth : 0);
    move(0, 0);
    setOuterSize(QSize(m_outerWidth, height));

    setAttribute(Qt::WA_OpaquePaintEvent);
    keepPictureOnActivation();
    setFocusPolicy(Qt::StrongFocus);
    if (m_env.eventKeyboard != nullptr) {
        qApp->installEventFilter(this);
    }

    // The secondary windows, hidden; they reach this window only through what they are given.
    // Without levels in the settings file the training offers the built-in course (never
    // written to the file).
    const persistence::TrainingLevels& levels = persistence::levelsToOffer(m_settings.levels);
    m_progress =
        std::make_unique<training::ProgressWindow>(persistence::historyFileFor(m_env.settingsFile));
    m_training = std::make_unique<training::Ttraining>(training::TrainingEnvironment{
        levels, m_settings.training, m_random, m_env.settingsFile, saveSettings(),
        [this](int cpm) { componi(cpm); }, [this] { startPlayback(); },
        [this] {
            m_livelli->show();
            m_livelli->raise();
        },
        [this] { requestFocusReturn(); },
        [this](const persistence::SaveError& error) { reportSaveFailure(m_training.get(), error); },
        [this] {
            if (m_progress->isVisible()) {
                m_progress->refresh();
            }
        },
        [this](const std::string& sentence) { reportHistoryFailure(sentence); },
        [this] {
            m_progress->show();
            m_progress->raise();
            m_progress->activateWindow();
        },
        m_env.trainingTrace, appendHistory()});
    m_setup = std::make_unique<setup::Tsetup>(setup::SetupState{
        m_settings.speeds, m_timing, m_modes, m_keyPort, saveSettings(), [this] { setCaption(); },
        [this] {
            activateWindow();
            setFocus();
        },
        [this](const persistence::SaveError& error) { reportSaveFailure(m_setup.get(), error); }});
    m_tabellaCodice = std::make_unique<TtabellaCodice>(
        CodeTableActions{[this] {
                             // Unlike the main window's command, no tones are composed.
                             m_returnFocus = false;
                             m_training->show();
                             m_training->raise();
                             m_training->activateWindow();
                             m_training->setFocus();
                         },
                         [this] { FormResize(); }, [this](int step) { changeTableFontSize(step); },
                         [this] {
                             // At once, without any window's close handling: nothing is saved.
                             m_decodifica.stop();
                             if (m_env.endProgram) {
                                 m_env.endProgram();
                             } else {
                                 QCoreApplication::exit(0);
                             }
                         }});
    m_livelli = std::make_unique<training::Tlivelli>(levels);
    m_analisi = std::make_unique<analysis::Tanalisi>(
        analysis::AnalysisEnvironment{m_fist,
                                      m_settings.speeds,
                                      m_timing,
                                      m_modes,
                                      m_settings.levels,
                                      m_settings.training,
                                      m_random,
                                      m_env.settingsFile,
                                      [this](int verticale) { m_setup->applyVerticale(verticale); },
                                      [this] {
                                          activateWindow();
                                          setFocus();
                                      },
                                      m_env.analysisFigures,
                                      {},
                                      appendHistory()});
    m_binding.setMeasurementSink(&m_analisi->feed());
    // Their windows on the display server are made now, before any keying: making one when it
    // is first shown holds the decode tick for 5 to 12 ms.
    for (QWidget* window : secondaryWindows()) {
        platform::prepareWindow(*window);
    }
    m_keyPort.openKeyPort();  // a failure is reported by the setup window when next shown
    // Opened before the ticks start, so that the first key-down is heard at once; a failure
    // leaves keying silent, and is not shown.
    m_sidetone.openSidetone();

    m_decodifica.setTimerType(Qt::PreciseTimer);
    m_decodifica.setInterval(10);
    connect(&m_decodifica, &QTimer::timeout, this, &TDittixForm::decodificaTimer);
    m_timerFocus.setInterval(250);
    connect(&m_timerFocus, &QTimer::timeout, this, &TDittixForm::timerFocusTimer);
    m_aggiustaDimensionwFinestra.setInterval(200);
    connect(&m_aggiustaDimensionwFinestra, &QTimer::timeout, this,
            &TDittixForm::aggiustaDimensionwFinestraTimer);
    m_disegnaTabellaMorse.setInterval(500);
    connect(&m_disegnaTabellaMorse, &QTimer::timeout, this, &TDittixForm::disegnaTabellaMorseTimer);

    FormResize();
    m_decodifica.start();
    m_timerFocus.start();
    m_aggiustaDimensionwFinestra.start();
    m_disegnaTabellaMorse.start();
    if (m_loadProblem) {
        // Told once the event loop runs and the window is up; the program goes on with the
        // defaults meanwhile.
        QTimer::singleShot(0, this, [this] { tellOperator(this, m_loadProblem->message); });
    }
}

void TDittixForm::tellOperator(QWidget* over, const std::string& sentence) {
    if (m_env.tellOperator) {
        m_env.tellOperator(over, QString::fromStdString(sentence));
    }
}

void TDittixForm::queueSave(std::span<const persistence::SettingEntry> entries,
                            persistence::SaveFailed failed, bool lastAct) {
    if (!failed) {
        m_saver.save(entries);
        return;
    }
    // The saver's thread hands the failure to this one, which tells the operator. A report still
    // on its way when the event loop ends is delivered by finishSaves.
    m_saver.save(entries,
                 [this, failed = std::move(failed), lastAct](const persistence::SaveError& error) {
                     QMetaObject::invokeMethod(
                         this,
                         [this, failed, lastAct, error] {
                             m_failedSaves.push_back({failed, error, lastAct});
                             tellFailedSaves();
                         },
                         Qt::QueuedConnection);
                 });
}

void TDittixForm::tellFailedSaves() {
    // Telling waits for the operator in an event loop of its own, where further reports arrive:
    // they wait here, so that one sentence is shown at a time, in the order of the saves.
    if (m_tellingFailedSaves) {
        return;
    }
    m_tellingFailedSaves = true;
    // Reset however telling ends: a handler that threw must not silence every later failure.
    const std::unique_ptr<bool, void (*)(bool*)> telling(&m_tellingFailedSaves,
                                                         [](bool* flag) { *flag = false; });
    while (!m_failedSaves.empty()) {
        const FailedSave next = std::move(m_failedSaves.front());
        m_failedSaves.pop_front();
        if (next.lastAct) {
            m_saveFailedOnClose = true;
        }
        next.failed(next.error);
    }
}

persistence::SaveSettings TDittixForm::saveSettings() {
    // A window that the closing program closes saves after this window did; its failure is as
    // much the program's last act.
    return
        [this](std::span<const persistence::SettingEntry> entries, persistence::SaveFailed failed) {
            queueSave(entries, std::move(failed), m_closing);
        };
}

persistence::AppendHistory TDittixForm::appendHistory() {
    // The row is flushed to the disk, which may take long: the interface thread only hands it
    // over, and hears how it went from its event loop (or from finishSaves, at the end).
    return [this, file = persistence::historyFileFor(m_env.settingsFile)](
               const persistence::HistoryRow& row, persistence::HistoryAppended done) {
        m_historyJobs.post([this, file, row, done = std::move(done)] {
            const std::optional<persistence::HistoryError> error =
                persistence::appendHistoryRow(file, row);
            QMetaObject::invokeMethod(
                this, [done, error] { done(error); }, Qt::QueuedConnection);
        });
    };
}

void TDittixForm::finishSaves() {
    m_historyJobs.finish();
    m_saver.finish();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void TDittixForm::reportSaveFailure(QWidget* over, const persistence::SaveError& error) {
    tellOperator(over, error.message);
}

void TDittixForm::reportHistoryFailure(const std::string& sentence) {
    // An exercise's row lost while the program ends is a lost change like a failed save.
    if (m_closing) {
        m_saveFailedOnClose = true;
    }
    tellOperator(m_training.get(), sentence);
}

QSize TDittixForm::outerSize() const {
    return platform::outerSize(*this);
}

void TDittixForm::setOuterSize(QSize outer) {
    platform::setOuterSize(*this, outer);
}

void TDittixForm::FormResize() {
    const QSize outer = outerSize();
    m_tape.resetLayout(outer.width(), outer.height());
    update();
}

void TDittixForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FormResize();
}

void TDittixForm::decodificaTimer() {
    if (m_env.tickStats != nullptr) {
        m_env.tickStats->tickStarted();
    }
    m_env.keyboard->refresh();
    m_tick.run();
    repaintChanged();
    if (m_env.tickStats != nullptr) {
        m_env.tickStats->tickEnded();
    }
}

void TDittixForm::aggiustaDimensionwFinestraTimer() {
    m_aggiustaDimensionwFinestra.stop();
    const int row = m_tape.findVisibleBottom();
    // The frame is known by now: the width is set again so that the frame is included in it.
    setOuterSize(QSize(m_outerWidth, row + 25));
}

void TDittixForm::timerFocusTimer() {
    if (m_returnFocus) {
        activateWindow();
        setFocus();
    }
    m_returnFocus = false;
}

void TDittixForm::disegnaTabellaMorseTimer() {
    m_disegnaTabellaMorse.stop();
    ++m_tableRedraws;
    TtabellaCodice& table = *m_tabellaCodice;
    const QSize screen = m_env.screenSize ? m_env.screenSize() : QSize(800, 600);
    const int height = outerSize().height();
    table.setSizeable(true);
    table.move(screen.width() - kCodeTableWidth, 0);
    platform::setOuterSize(table, QSize(kCodeTableWidth, height));
    if (m_settings.tabellaCodiceVisibile) {
        table.show();
    }
    table.setSizeable(m_settings.ar > 0);
    table.redraw(m_tableFontSize, height - 8);
    if (!table.isVisible()) {
        table.FormResize();  // a hidden window gets no resize event
    }
    if (!isActiveWindow()) {
        activateWindow();  // a round trip to the display server: only when it is needed
    }
    setFocus();
}

void TDittixForm::redrawCodeTableSoon() {
    // A timer already running at 100 ms keeps its schedule, so quick presses share one redraw.
    if (m_disegnaTabellaMorse.interval() != 100) {
        m_disegnaTabellaMorse.setInterval(100);
    }
    if (!m_disegnaTabellaMorse.isActive()) {
        m_disegnaTabellaMorse.start();
    }
}

void TDittixForm::componi(int cpm) {
    m_trainingAudio.componi(cpm);
}

void TDittixForm::startPlayback() {
    if (m_playback) {
        m_playback->wait();  // the previous exercise has ended; its thread is finishing
    }
    m_playback =
        std::make_unique<training::TtxCW>(m_training->state(), m_trainingAudio, *m_training);
    m_playback->start();
}

void TDittixForm::showTraining() {
    m_returnFocus = false;  // a close just before must not take the focus from it
    componi(m_settings.training.velEs);
    m_training->show();
    m_training->raise();
    m_training->activateWindow();
    m_training->setFocus();
}

void TDittixForm::changeTableFontSize(int step) {
    m_tableFontSize = std::clamp(m_tableFontSize + step, persistence::kMinTableFontSize,
                                 persistence::kMaxTableFontSize);
    redrawCodeTableSoon();
}

void TDittixForm::setCaption() {
    QString caption = kCaption;
    if (m_modes.paddleMode) {
        caption += QStringLiteral(" - palette");
        if (m_modes.paddleReverse) {
            caption += QStringLiteral(" - reverse");
        }
    }
    setWindowTitle(caption);
}

void TDittixForm::FormKeyPress(QChar key) {
    const char16_t c = key.unicode();
    if (c == u'1') {
        m_tape.scrollTrace();
    } else if (c == u'2') {
        m_tape.scrollText();
    } else if (c == 27) {
        close();
        return;
    } else if (c == u'c' || c == u'C') {
        FormResize();
    } else if (c == u's' || c == u'S') {
        m_setup->showSetup();
    } else if (c == u'+') {
        changeTableFontSize(1);
    } else if (c == u'-') {
        changeTableFontSize(-1);
    } else if (c == u'a' || c == u'A') {
        m_analisi->showAnalysis();
    } else if (c == u'e') {
        showTraining();
    } else if (c == u'p' || c == u'P') {
        m_modes.paddleMode = !m_modes.paddleMode;
        setCaption();
    } else if (c == u'r' || c == u'R') {
        if (m_modes.paddleMode) {
            m_modes.paddleReverse = !m_modes.paddleReverse;
            setCaption();
        }
    }
    repaintChanged();
}

void TDittixForm::repaintChanged() {
    // Only the pixels the last operations changed are repainted, never the whole window.
    const QRect dirty = m_tape.takeDirty();
    if (!dirty.isEmpty()) {
        update(dirty);
    }
}

// Qt repaints a widget that takes the focus each time it gains or loses it, and a window whose
// active and inactive colours differ (as some desktop themes make them) each time it is
// activated or deactivated. Nothing in this window shows the focus or is drawn from the
// palette, and repainting the screen-sized picture held the decode tick up by several
// milliseconds whenever a secondary window opened or closed.
void TDittixForm::keepPictureOnActivation() {
    QPalette colours = palette();
    for (int role = 0; role < QPalette::NColorRoles; ++role) {
        const auto r = static_cast<QPalette::ColorRole>(role);
        colours.setBrush(QPalette::Inactive, r, colours.brush(QPalette::Active, r));
    }
    setPalette(colours);
}

void TDittixForm::focusInEvent(QFocusEvent*) {}

void TDittixForm::focusOutEvent(QFocusEvent*) {}

void TDittixForm::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    m_tape.paint(painter, event->rect());
}

void TDittixForm::FormKeyDown(int key, bool keypad) {
    if (!keypad) {
        m_sidetone.changeTone(key, m_state.keyboardKeyDown);
    }
}

void TDittixForm::keyPressEvent(QKeyEvent* event) {
    FormKeyDown(event->key(), (event->modifiers() & Qt::KeypadModifier) != 0);
    const QString text = event->text();
    if (event->key() == Qt::Key_Escape) {
        FormKeyPress(QChar(27));
    } else if (text.size() == 1) {
        FormKeyPress(text.front());
    }
}

void TDittixForm::FormClose() {
    const auto entries = persistence::mainWindowSaveEntries(m_tableFontSize, m_modes.paddleMode,
                                                            m_sidetone.frequency());
    // The save is the program's last act: a failure is told before the program ends (see
    // finishSaves).
    queueSave(
        entries, [this](const persistence::SaveError& error) { reportSaveFailure(this, error); },
        true);
}

void TDittixForm::closeEvent(QCloseEvent* event) {
    m_closing = true;
    FormClose();
    m_decodifica.stop();
    // The setup window's save, when it closes below, holds the port a scan still
    // running finds: the scan ends first.
    m_setup->finishScan();
    // The program ends with this window. The other windows still shown close first, each with
    // its own close handling (and saves). They only hide, and the toolkit's end, which closes
    // the windows still shown, would stop at the first.
    for (QWidget* window : secondaryWindows()) {
        if (window->isVisible()) {
            window->close();
        }
    }
    // The code table, too, only hides when closed. Unlike the others, its window is not made at
    // start-up: the main window's first redraw places the table and then shows it.
    if (m_tabellaCodice->isVisible()) {
        m_tabellaCodice->close();
    }
    event->accept();
    QCoreApplication::quit();
}

std::array<QWidget*, 5> TDittixForm::secondaryWindows() const {
    return {m_setup.get(), m_training.get(), m_analisi.get(), m_livelli.get(), m_progress.get()};
}

bool TDittixForm::eventFilter(QObject* watched, QEvent* event) {
    const bool press = event->type() == QEvent::KeyPress;
    if (press || event->type() == QEvent::KeyRelease) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (!key->isAutoRepeat()) {
            std::optional<keying::KeyboardKey> which;
            const bool keypad = (key->modifiers() & Qt::KeypadModifier) != 0;
            if (key->key() == Qt::Key_Right && !keypad) {
                which = keying::KeyboardKey::Right;
            } else if (key->key() == Qt::Key_Left && !keypad) {
                which = keying::KeyboardKey::Left;
            } else if (key->key() == Qt::Key_Control) {
                // X11 and evdev key codes tell the two Ctrl keys apart; without one, the right.
                which = key->nativeScanCode() == 37 ? keying::KeyboardKey::LeftControl
                                                    : keying::KeyboardKey::RightControl;
            }
            if (which) {
                press ? m_env.eventKeyboard->press(*which) : m_env.eventKeyboard->release(*which);
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace dittix::display
