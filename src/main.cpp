// Program entry: the toolkit, the main window with its platform parts, the event loop.
#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPixmapCache>
#include <QScreen>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <memory>

#include "display/main_window.h"
#include "display/tick_stats.h"
#include "persistence/file_access.h"
#include "persistence/operator_messages.h"
#include "persistence/settings_location.h"
#include "persistence/value_parsing.h"
#include "platform/audio_output.h"
#include "platform/instance_lock.h"
#include "platform/keyboard_query.h"
#include "platform/memory_bounds.h"
#include "platform/serial_lines.h"

namespace {

// Exit statuses besides 0: a save made while the program ended failed, so changes were lost; or
// another Dittix runs with the same settings folder.
constexpr int kExitSaveFailed = 1;
constexpr int kExitAlreadyRunning = 2;

// A sentence for the operator: a message box over the window it concerns, which returns once
// the operator has dismissed it. It goes to the standard error as well, for a program started
// from a terminal or a script.
void tellOperator(QWidget* over, const QString& sentence) {
    std::fprintf(stderr, "dittix: %s\n", sentence.toLocal8Bit().constData());
    std::fflush(stderr);
    QMessageBox::warning(over, QStringLiteral("Dittix"), sentence);
}

// Shows an exception that escapes an event handler in the standard error box; the program goes
// on, as it does for any failed command.
class DittixApplication : public QApplication {
  public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            QMessageBox::critical(nullptr, applicationName(), QString::fromLocal8Bit(e.what()));
        } catch (...) {
            QMessageBox::critical(nullptr, applicationName(), QString());
        }
        return false;
    }
};

dittix::display::MainWindowEnvironment makeEnvironment(const std::filesystem::path& settingsFile) {
    using namespace dittix;
    display::MainWindowEnvironment env;
    env.settingsFile = settingsFile;
    env.tellOperator = tellOperator;
    env.decimalSeparator = persistence::userDecimalSeparator();
    env.screenSize = [] {
        const QScreen* screen = QGuiApplication::primaryScreen();
        return screen != nullptr ? screen->geometry().size() : QSize(800, 600);
    };
#if defined(_WIN32)
    env.keyboard = platform::openWindowsKeyboard();
#else
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        env.keyboard = platform::openX11Keyboard();
    }
#endif
    env.sidetoneOutput = platform::makeLoopingOutput();
    env.serialPorts = platform::makeSystemSerialPorts();
    env.trainingOutput = platform::makeSingleShotOutput();
    if (!env.keyboard) {
        auto keyboard = std::make_unique<platform::EventKeyboard>();
        env.eventKeyboard = keyboard.get();
        env.keyboard = std::move(keyboard);
    }
    // Test hook: every decoded text and word space is appended to this file.
    if (const char* log = std::getenv("DITTIX_DECODED_LOG"); log != nullptr && *log != 0) {
        auto file = std::make_shared<std::ofstream>(log, std::ios::app | std::ios::binary);
        env.decodedText = [file](std::u16string_view text) {
            *file << QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()))
                         .toStdString()
                  << std::flush;
        };
    }
    // Test hook: every exercise the training draws, the copy and every score's summary line,
    // appended to this file one line each.
    if (const char* log = std::getenv("DITTIX_TRAINING_LOG"); log != nullptr && *log != 0) {
        auto file = std::make_shared<std::ofstream>(log, std::ios::app | std::ios::binary);
        env.trainingTrace = [file](const QString& line) {
            *file << line.toStdString() << '\n' << std::flush;
        };
    }
    // Test hook: the analysis window's figures, one line each time they change.
    if (const char* log = std::getenv("DITTIX_ANALYSIS_LOG"); log != nullptr && *log != 0) {
        auto file = std::make_shared<std::ofstream>(log, std::ios::app | std::ios::binary);
        env.analysisFigures = [file](const QString& line) {
            *file << line.toStdString() << '\n' << std::flush;
        };
    }
    return env;
}

}  // namespace

int main(int argc, char** argv) {
    dittix::platform::keepLargeBlocksMapped();
    DittixApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Dittix"));
    // The style's drawings of the training window's lists are cached under keys that change with
    // every showing, so the cache only fills up; a small limit keeps it from holding megabytes.
    QPixmapCache::setCacheLimit(1024);
    int status = 0;
    try {
        namespace persistence = dittix::persistence;
        namespace platform = dittix::platform;
        const std::filesystem::path settingsFile = persistence::resolveSettingsPath(
            persistence::executableDirectory(), persistence::userConfigDirectory());
        // One program per settings folder: a second one would key the same port and overwrite
        // the first one's saves. The folder is made first (the per-user folder on first use);
        // when no lock file can be made there (a read-only folder) the program runs without
        // the lock, and its saves will say why they fail.
        (void)persistence::ensureParentDirectory(settingsFile);
        const platform::InstanceLock lock =
            platform::InstanceLock::acquire(platform::lockFileFor(settingsFile));
        if (lock.state() == platform::InstanceLockState::HeldElsewhere) {
            tellOperator(nullptr, QString::fromStdString(
                                      "Dittix è già in esecuzione con le impostazioni in " +
                                      persistence::displayPath(settingsFile) + "."));
            return kExitAlreadyRunning;
        }
        if (lock.state() == platform::InstanceLockState::Held) {
            // No other program can be saving now: temporaries left by a killed save are stale.
            (void)persistence::removeStaleTemporaries(settingsFile);
        }
        auto env = makeEnvironment(settingsFile);
        // Measurement hooks for the benchmark and the soak run: per-tick processor time and
        // lateness, summed up at the end and, with DITTIX_TICK_LOG, logged as the run goes.
        std::unique_ptr<dittix::display::TickStats> stats;
        if (const char* path = std::getenv("DITTIX_TICK_STATS"); path != nullptr && *path != 0) {
            const char* log = std::getenv("DITTIX_TICK_LOG");
            stats = std::make_unique<dittix::display::TickStats>(path, log != nullptr ? log : "");
            env.tickStats = stats.get();
        }
        dittix::display::TDittixForm form(std::move(env));
        form.show();
        app.exec();
        // The windows' last saves were made on the saver's thread: they are waited for, and a
        // failure among them is told, before the exit status is chosen.
        form.finishSaves();
        if (form.saveFailedOnClose()) {
            status = kExitSaveFailed;
        }
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, app.applicationName(), QString::fromLocal8Bit(e.what()));
    } catch (...) {
        QMessageBox::critical(nullptr, app.applicationName(), QString());
    }
    return status;
}
