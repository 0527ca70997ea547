// Processor time of the decode tick while keying on a full-screen tape (1920 x 1080) with the
// program's allocation settings: every tick by what it did to the tape, and the '1' and '2'
// commands' scrolls; then what repainting the window costs. Usage: tape_scroll_bench [characters]
#include <QGuiApplication>
#include <QPainter>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <vector>

#include "display/tape_display.h"
#include "display/tick_binding.h"
#include "keying/decode_tick.h"
#include "keying/morse_table.h"
#include "percentile.h"
#include "platform/key_lines.h"
#include "platform/keyboard_query.h"
#include "platform/memory_bounds.h"

namespace {

struct Costs {
    std::vector<double> ms;
    void print(const char* what) {
        if (ms.empty()) {
            std::printf("%-40s      0 calls\n", what);
            return;
        }
        std::sort(ms.begin(), ms.end());
        std::printf("%-40s %6zu calls  median %7.3f ms  p99 %7.3f ms  worst %7.3f ms\n", what,
                    ms.size(), dittix::bench::percentile(ms, 0.5),
                    dittix::bench::percentile(ms, 0.99), ms.back());
    }
};

// The processor time this thread has used, in milliseconds (the kernel's share included);
// the wall clock where the system has no thread clock.
double threadCpuMs() {
#if defined(CLOCK_THREAD_CPUTIME_ID)
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) * 1e-6;
#else
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
#endif
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");  // only images are drawn
    }
    QGuiApplication app(argc, argv);
    using namespace dittix;
    platform::keepLargeBlocksMapped();
    const int characters = argc > 1 ? std::atoi(argv[1]) : 20000;

    display::TapeDisplay tape([](int) { return true; });
    tape.resetLayout(1920, 1080);
    platform::EventKeyboard keyboard;
    platform::NoKeyLines lines;
    display::SilentTone tone;
    display::TickBinding binding(keyboard, lines, tone, tape);
    // Dots of 4 ticks and dashes of 12: about 100 characters per minute.
    const keying::TimingParameters timing{9, 13, 27, 9, 9, 45};
    keying::KeyingModes modes;
    keying::DecoderState state;
    keying::DecodeTick tick(binding, timing, modes, state);

    Costs plain, written, traceScroll, textScroll, bothScroll, command1, command2;
    const auto runTicks = [&](bool down, int count) {
        for (int i = 0; i < count; ++i) {
            down ? keyboard.press(keying::KeyboardKey::RightControl)
                 : keyboard.release(keying::KeyboardKey::RightControl);
            const int traceX = tape.traceX();
            const int textX = tape.textX();
            const int textY = tape.textY();
            const double begin = threadCpuMs();
            tick.run();
            tape.takeDirty();
            const double cost = threadCpuMs() - begin;
            // Only a trace scroll puts the trace pen at x = 0.
            const bool traceScrolled = traceX != 0 && tape.traceX() == 0;
            const bool textScrolled = tape.textY() < textY;
            if (traceScrolled && textScrolled) {
                bothScroll.ms.push_back(cost);
            } else if (traceScrolled) {
                traceScroll.ms.push_back(cost);
            } else if (textScrolled) {
                textScroll.ms.push_back(cost);
            } else if (tape.textX() != textX || tape.textY() != textY) {
                written.ms.push_back(cost);
            } else {
                plain.ms.push_back(cost);
            }
        }
    };

    std::mt19937 random(7);
    std::uniform_int_distribution<std::size_t> entry(0, keying::kFirstDigitEntry + 9);
    for (int i = 0; i < characters; ++i) {
        for (const char16_t element : keying::MorseTable[entry(random)].code) {
            runTicks(true, element == u'p' ? 4 : 12);
            runTicks(false, 3);
        }
        runTicks(false, i % 5 == 4 ? 30 : 14);  // a word space after every fifth character
        if (i % 10 == 9) {
            const double begin = threadCpuMs();
            tape.scrollTrace();
            tape.takeDirty();
            command1.ms.push_back(threadCpuMs() - begin);
        }
        if (i % 97 == 96) {
            const double begin = threadCpuMs();
            tape.scrollText();
            tape.takeDirty();
            command2.ms.push_back(threadCpuMs() - begin);
        }
    }
    // The commands again with the processor's caches filled with other memory first, as after
    // seconds of keying elsewhere in the program.
    Costs cold1, cold2;
    std::vector<char> other(64u << 20);
    const auto evict = [&other](int round) {
        std::fill(other.begin(), other.end(), static_cast<char>(round));
    };
    for (int round = 0; round < 200; ++round) {
        evict(round);
        double begin = threadCpuMs();
        tape.scrollTrace();
        tape.takeDirty();
        cold1.ms.push_back(threadCpuMs() - begin);
        evict(round);
        begin = threadCpuMs();
        tape.scrollText();
        tape.takeDirty();
        cold2.ms.push_back(threadCpuMs() - begin);
    }
    // The clock alone, as often as the trace-only ticks: what the machine adds to any tick.
    Costs nothing;
    for (std::size_t i = 0; i < plain.ms.size(); ++i) {
        const double begin = threadCpuMs();
        nothing.ms.push_back(threadCpuMs() - begin);
    }

    // Repaints, outside the tick: the area a scroll leaves dirty and the whole window, drawn
    // from the rings as the window draws them, against one copy of a picture of the same size.
    Costs paintTrace, paintText, paintWhole, copyWhole;
    QImage window(1920, 1080, QImage::Format_RGB32);
    window.fill(Qt::black);  // a window's surface is in use already
    const QImage flat = tape.composed();
    for (int round = 0; round < 200; ++round) {
        QPainter painter(&window);
        tape.scrollTrace();
        QRect dirty = tape.takeDirty();
        double begin = threadCpuMs();
        tape.paint(painter, dirty);
        paintTrace.ms.push_back(threadCpuMs() - begin);
        tape.scrollText();
        dirty = tape.takeDirty();
        begin = threadCpuMs();
        tape.paint(painter, dirty);
        paintText.ms.push_back(threadCpuMs() - begin);
        begin = threadCpuMs();
        tape.paint(painter, window.rect());
        paintWhole.ms.push_back(threadCpuMs() - begin);
        begin = threadCpuMs();
        painter.drawImage(0, 0, flat);
        copyWhole.ms.push_back(threadCpuMs() - begin);
    }

    std::printf("processor time per tick, %d characters keyed on a 1920 x 1080 tape\n", characters);
    plain.print("tick: trace only");
    written.print("tick: character or word space");
    traceScroll.print("tick that scrolls the trace");
    textScroll.print("tick that scrolls the text");
    bothScroll.print("tick that scrolls both");
    command1.print("command '1' (trace scroll)");
    command2.print("command '2' (text scroll)");
    cold1.print("command '1', caches cold");
    cold2.print("command '2', caches cold");
    nothing.print("nothing (the clock alone)");
    std::printf("repaints, outside the tick\n");
    paintTrace.print("trace area after a trace scroll");
    paintText.print("text area after a text scroll");
    paintWhole.print("whole window");
    copyWhole.print("whole window from one flat picture");
    return 0;
}
