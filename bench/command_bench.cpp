// How long each operator command holds the interface thread, on which the 10 ms decode tick
// runs: the main window's commands and the setup window's controls, on the real windows with
// serial ports in memory (or the system's, in a private /dev) and silent audio (or SDL's).
// For each command: its handler, and the longest single event the interface thread handled in
// the 300 ms after it (repaints, a window shown, a scan's result), the decode ticks included.
// The training history beside the settings has 10 000 rows (or N), for the progress window.
// Usage: command_bench [repetitions] [--system-ports] [--sdl-audio] [--only=PREFIX]
//                      [--history-rows=N]
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QKeyEvent>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "display/main_window.h"
#include "history_rows.h"
#include "keying/morse_table.h"
#include "percentile.h"
#include "persistence/temp_dir.h"
#include "persistence/training_history.h"
#include "platform/memory_bounds.h"
#include "setup/fake_serial_ports.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace dittix;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Times every event the event loop delivers from outside (not the events sent from inside
// another event's handling, which count in that one's time).
class MeasuringApplication : public QApplication {
  public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override {
        if (m_depth > 0 || !m_recording) {
            ++m_depth;
            const bool handled = QApplication::notify(receiver, event);
            --m_depth;
            return handled;
        }
        ++m_depth;
        const auto start = Clock::now();
        const QEvent::Type type = event->type();
        const char* name = receiver->metaObject()->className();
        // The window is named before the event: the event may delete its receiver.
        std::string where;
        if (receiver->isWidgetType()) {
            where = " in \"" +
                    static_cast<QWidget*>(receiver)->window()->windowTitle().toStdString() + "\"";
        }
        const bool handled = QApplication::notify(receiver, event);
        const double ms = msSince(start);
        --m_depth;
        if (ms > m_longest) {
            m_longest = ms;
            m_longestWhat =
                std::string(name) + " event " + std::to_string(static_cast<int>(type)) + where;
        }
        return handled;
    }

    // Runs the event loop for `ms` milliseconds and returns the longest event delivered.
    double settle(int ms) {
        m_longest = 0.0;
        m_longestWhat.clear();
        m_recording = true;
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
        m_recording = false;
        return m_longest;
    }
    const std::string& longestWhat() const { return m_longestWhat; }

  private:
    int m_depth = 0;
    bool m_recording = false;
    double m_longest = 0.0;
    std::string m_longestWhat;
};

struct Figures {
    std::string name;
    std::vector<double> handler;
    std::vector<double> after;
    std::string worstAfter;
    double worstAfterMs = 0.0;

    void print() {
        std::sort(handler.begin(), handler.end());
        std::sort(after.begin(), after.end());
        std::printf(
            "%-28s handler median %7.3f  worst %7.3f | next 300 ms: longest event median "
            "%7.3f  worst %7.3f ms  (%s)\n",
            name.c_str(), bench::percentile(handler, 0.5), handler.back(),
            bench::percentile(after, 0.5), after.back(), worstAfter.c_str());
        std::fflush(stdout);
    }
};

void sendKey(QWidget& to, int key, const QString& text) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(&to, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(&to, &release);
}

// Keys random characters on the keyboard's Right Ctrl through the decode tick itself (without
// waiting for the timer), so that the tape fills as it does in use.
void keyCharacters(display::TDittixForm& form, platform::EventKeyboard& keyboard, int count,
                   std::mt19937& random) {
    const auto ticks = [&](bool down, int n) {
        for (int i = 0; i < n; ++i) {
            down ? keyboard.press(keying::KeyboardKey::RightControl)
                 : keyboard.release(keying::KeyboardKey::RightControl);
            form.decodificaTimer();
        }
    };
    // Letters and digits.
    std::uniform_int_distribution<std::size_t> pick(0, 35);
    for (int c = 0; c < count; ++c) {
        for (const char16_t element : keying::MorseTable[pick(random)].code) {
            ticks(true, element == u'p' ? 3 : 9);
            ticks(false, 3);
        }
        ticks(false, c % 5 == 4 ? 15 : 6);
    }
}

}  // namespace

int main(int argc, char** argv) {
    platform::keepLargeBlocksMapped();
    MeasuringApplication app(argc, argv);
    // The offscreen platform says on every raise that it cannot raise a window.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    int repetitions = 20;
    bool systemPorts = false;
    bool sdlAudio = false;
    std::string only;  // runs only the commands whose name begins with it
    int historyRows = bench::kRows;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--system-ports") {
            systemPorts = true;
        } else if (arg == "--sdl-audio") {
            sdlAudio = true;
        } else if (arg.rfind("--only=", 0) == 0) {
            only = arg.substr(7);
        } else if (arg.rfind("--history-rows=", 0) == 0) {
            historyRows = std::clamp(std::atoi(argv[i] + 15), 0, bench::kRows);
        } else {
            repetitions = std::max(1, std::atoi(argv[i]));
        }
    }

    persistence::test::TempDir dir;
    const std::filesystem::path file = dir.file("settings.ini");
    persistence::test::writeBytes(file,
                                  "[Settings]\nSerial Port=5\nDot time=3\nDecode time=4\n"
                                  "Blank time=9\nlivello1=ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789\n");
    {
        const std::filesystem::path rows = bench::writeFile("commands", false);
        // The header and the first rows (one a line).
        std::ifstream in(rows, std::ios::binary);
        std::ofstream out(persistence::historyFileFor(file), std::ios::binary);
        std::string line;
        for (int k = 0; k <= historyRows && std::getline(in, line); ++k) {
            out << line << '\n';
        }
        in.close();
        std::filesystem::remove(rows);
    }
    display::MainWindowEnvironment env;
    env.settingsFile = file;
    env.screenSize = [] { return QSize(1920, 1080); };
    auto keyboardOwner = std::make_unique<platform::EventKeyboard>();
    platform::EventKeyboard& keyboard = *keyboardOwner;
    env.keyboard = std::move(keyboardOwner);
    env.eventKeyboard = &keyboard;
    env.rowVisible = [](int) { return true; };
    if (systemPorts) {
        env.serialPorts = platform::makeSystemSerialPorts();
    } else {
        auto fake = std::make_unique<setup::test::FakeSerialPorts>();
        fake->existing = {1, 3, 17};
        env.serialPorts = std::move(fake);
    }
    if (sdlAudio) {
        env.sidetoneOutput = platform::makeSdlLoopingOutput();
        env.trainingOutput = platform::makeSdlSingleShotOutput();
    }
    std::printf("command_bench: %d repetitions, %s serial ports, %s audio, platform %s\n",
                repetitions, systemPorts ? "system" : "in-memory", sdlAudio ? "SDL" : "silent",
                qPrintable(QGuiApplication::platformName()));

    display::TDittixForm form(std::move(env));
    form.show();
    app.settle(1000);
    std::mt19937 random(7);
    keyCharacters(form, keyboard, 600, random);
    app.settle(300);

    setup::Tsetup& setupWindow = *form.setupWindow();
    training::Ttraining& trainingWindow = *form.trainingWindow();
    analysis::Tanalisi& analysisWindow = *form.analysisWindow();
    training::ProgressWindow& progressWindow = *form.progressWindow();

    const auto run = [&](const std::string& name, const std::function<void(int)>& prepare,
                         const std::function<void(int)>& command) {
        if (name.rfind(only, 0) != 0) {
            return;
        }
        Figures figures{name, {}, {}, {}, 0.0};
        for (int r = 0; r < repetitions; ++r) {
            prepare(r);
            app.settle(100);
            const auto start = Clock::now();
            command(r);
            figures.handler.push_back(msSince(start));
            const double after = app.settle(300);
            figures.after.push_back(after);
            if (after >= figures.worstAfterMs) {
                figures.worstAfterMs = after;
                figures.worstAfter = app.longestWhat();
            }
        }
        figures.print();
    };
    // Esc in a window that a main window key shows, shown again before each repetition.
    const auto runEscape = [&](const std::string& name, QWidget& window, char showKey) {
        run(
            name,
            [&, showKey](int) {
                if (!window.isVisible()) {
                    sendKey(form, showKey, QString(QChar(showKey)));
                    app.settle(300);
                }
            },
            [&window](int) { sendKey(window, Qt::Key_Escape, {}); });
    };
    const auto nothing = [](int) {};
    const auto mainKey = [&](char c) {
        return [&form, c](int) { sendKey(form, c, QString(QChar(c))); };
    };
    const auto closeSetup = [&](int) {
        if (setupWindow.isVisible()) {
            setupWindow.close();
        }
    };
    const auto closeAnalysis = [&](int) {
        if (analysisWindow.isVisible()) {
            analysisWindow.close();
        }
    };
    const auto closeProgress = [&](int) {
        if (progressWindow.isVisible()) {
            progressWindow.close();
        }
    };
    const auto closeTraining = [&](int) {
        if (trainingWindow.isVisible()) {
            trainingWindow.close();
        }
    };

    std::printf("--- main window commands\n");
    run("1 (trace scroll)", nothing, mainKey('1'));
    run("2 (text scroll)", nothing, mainKey('2'));
    run(
        "c (clear, full tape)", [&](int) { keyCharacters(form, keyboard, 300, random); },
        mainKey('c'));
    run("s (setup window, scan)", closeSetup, mainKey('s'));
    run("s again (window shown)", nothing, mainKey('s'));
    closeSetup(0);
    run("e (training window)", closeTraining, mainKey('e'));
    runEscape("training window: Esc", trainingWindow, 'e');
    closeTraining(0);
    run("a (analysis window)", closeAnalysis, mainKey('a'));
    // The open analysis window's refresh (five times a second) while the operator keys: the
    // statistics' snapshot handed to the views, and their repaint after it. Its timer is held,
    // so that each measured refresh is the one that finds the new characters.
    run(
        "analysis refresh (keying)",
        [&](int) {
            if (!analysisWindow.isVisible()) {
                sendKey(form, 'a', QStringLiteral("a"));
                app.settle(300);
            }
            analysisWindow.refreshTimer.stop();
            keyCharacters(form, keyboard, 5, random);
        },
        [&](int) { analysisWindow.refresh(); });
    closeAnalysis(0);
    run(
        "PROGRESSI (" + std::to_string(historyRows) + " rows)",
        [&](int) {
            closeProgress(0);
            if (!trainingWindow.isVisible()) {
                sendKey(form, 'e', QStringLiteral("e"));
                app.settle(300);
            }
        },
        [&](int) { trainingWindow.showProgressi->click(); });
    closeProgress(0);
    closeTraining(0);
    run("p (paddle mode)", nothing, mainKey('p'));
    run("r (reverse paddles)", nothing, mainKey('r'));
    run("+ (code table font)", nothing, mainKey('+'));
    run("- (code table font)", nothing, mainKey('-'));
    run("9 (tone down)", nothing, mainKey('9'));
    run("0 (tone up)", nothing, mainKey('0'));

    std::printf("--- setup window controls\n");
    sendKey(form, 's', QStringLiteral("s"));
    app.settle(300);
    run("speed bar", nothing,
        [&](int r) { sendKey(*setupWindow.sbCPM, r % 2 == 0 ? Qt::Key_Right : Qt::Key_Left, {}); });
    run("paddle speed bar", nothing, [&](int r) {
        sendKey(*setupWindow.sbCPMpalette, r % 2 == 0 ? Qt::Key_Right : Qt::Key_Left, {});
    });
    run("Verticale Lento box", nothing, [&](int) { setupWindow.cbLento->click(); });
    run("Palette box", nothing, [&](int) { setupWindow.cbPalette->click(); });
    run("Memoria Punto box", nothing, [&](int) { setupWindow.cbMemoriaPunto->click(); });
    run("port list pick", nothing, [&](int r) { setupWindow.serialeChange(r % 2 == 0 ? 1 : 4); });
    run("row chosen", nothing, [&](int r) { setupWindow.rbCom[r % 2 == 0 ? 1 : 0]->click(); });
    run("line monitor (timer)", nothing, [&](int) { setupWindow.Timer1Timer(); });
    runEscape("Esc (close and save)", setupWindow, 's');
    return 0;
}
