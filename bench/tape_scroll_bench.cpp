// Cost of the tape's operations once the tape is full, when every new text line and every new
// trace row scrolls the bitmap, on a full-screen tape (1750 x 1050) with the program's
// allocation settings. Usage: tape_scroll_bench [characters]
#include <QGuiApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "display/tape_display.h"
#include "percentile.h"
#include "platform/memory_bounds.h"

namespace {

struct Costs {
    std::vector<double> ms;
    void print(const char* what) {
        std::sort(ms.begin(), ms.end());
        std::printf("%-34s %6zu calls  median %7.3f ms  p99 %7.3f ms  worst %7.3f ms\n", what,
                    ms.size(), dittix::bench::percentile(ms, 0.5),
                    dittix::bench::percentile(ms, 0.99), ms.back());
    }
};

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
    tape.resetLayout(1750, 1050);

    Costs plain, textScroll, wordSpace, traceScroll;
    using clock = std::chrono::steady_clock;
    const auto ms = [](clock::time_point a, clock::time_point b) {
        return std::chrono::duration<double, std::milli>(b - a).count();
    };
    for (int i = 0; i < characters; ++i) {
        // One character as the decoder emits it: a few trace strokes, then the letter.
        for (int k = 0; k < 3; ++k) {
            tape.advanceTrace();
            tape.markTrace();
        }
        const int y = tape.textY();
        auto begin = clock::now();
        tape.emitCharacter(u"W");
        auto end = clock::now();
        (tape.textY() < y ? textScroll : plain).ms.push_back(ms(begin, end));
        if (i % 5 == 4) {
            const int traceY = tape.traceY();
            begin = clock::now();
            tape.emitWordSpace();
            end = clock::now();
            (tape.traceY() <= traceY ? traceScroll : wordSpace).ms.push_back(ms(begin, end));
        }
        tape.takeDirty();
    }
    plain.print("character, no scroll");
    textScroll.print("character that scrolls the text");
    wordSpace.print("word space (new trace row)");
    traceScroll.print("word space that scrolls the trace");
    return 0;
}
