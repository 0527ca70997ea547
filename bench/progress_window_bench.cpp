// Opening the progress window on a history of 10 000 rows: reading it, both aggregations, the
// two charts drawn and the window painted once, each time in a freshly started process; and the
// longest the interface thread (where the decode tick runs) is held at a time meanwhile.
#include <sys/wait.h>
#include <unistd.h>
#include <QApplication>
#include <QPixmap>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "history_rows.h"
#include "training/progress_window.h"

namespace {

namespace fs = std::filesystem;

double processSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// One opening in this process: the window made and shown (which starts the read), the events
// handled until the charts are drawn, and the window painted. Prints the elapsed and the
// processor time, the longest stretch the interface thread spent at once before the charts came
// (the show included), the one in which they came and the painting, in seconds, and whether
// charts were shown.
int openOnce(int argc, char** argv, const char* file) {
    QApplication app(argc, argv);
    const auto start = std::chrono::steady_clock::now();
    const double startCpu = processSeconds();
    dittix::training::ProgressWindow window{fs::path(file)};
    window.show();
    QApplication::processEvents();
    double waiting = secondsSince(start);
    double drawing = 0;
    while (!window.showsCharts() && secondsSince(start) < 30) {
        const auto stretch = std::chrono::steady_clock::now();
        QApplication::processEvents(QEventLoop::AllEvents);
        const double took = secondsSince(stretch);
        if (window.showsCharts()) {
            drawing = took;
        } else {
            waiting = std::max(waiting, took);
            ::usleep(500);
        }
    }
    const auto paint = std::chrono::steady_clock::now();
    const QPixmap picture = window.grab();
    const double painting = secondsSince(paint);
    const double elapsed = secondsSince(start);
    const double cpu = processSeconds() - startCpu;
    std::printf("%.6f %.6f %.6f %.6f %.6f %d %d\n", elapsed, cpu, waiting, drawing, painting,
                window.showsCharts() ? 1 : 0, picture.isNull() ? 0 : 1);
    return 0;
}

struct Opening {
    double elapsed = 0;
    double cpu = 0;
    double waiting = 0;   // the longest stretch before the charts came
    double drawing = 0;   // the stretch in which the charts came
    double painting = 0;  // the window painted
};

bool openInNewProcess(const std::string& file, Opening& opening) {
    int out[2];
    if (::pipe(out) != 0) {
        return false;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        ::execl("/proc/self/exe", "progress_window_bench", "--open-once", file.c_str(), nullptr);
        ::_exit(127);
    }
    ::close(out[1]);
    char text[128] = {};
    const ssize_t got = ::read(out[0], text, sizeof text - 1);
    ::close(out[0]);
    ::waitpid(pid, nullptr, 0);
    int charts = 0;
    int painted = 0;
    if (got <= 0 || std::sscanf(text, "%lf %lf %lf %lf %lf %d %d", &opening.elapsed, &opening.cpu,
                                &opening.waiting, &opening.drawing, &opening.painting, &charts,
                                &painted) != 7) {
        return false;
    }
    return charts == 1 && painted == 1;
}

void report(const char* name, std::vector<Opening> openings) {
    const auto median = [&](auto field) {
        std::vector<double> values;
        for (const Opening& o : openings) {
            values.push_back(o.*field * 1e3);
        }
        std::sort(values.begin(), values.end());
        return std::pair{values[values.size() / 2], values.back()};
    };
    const auto [elapsed, elapsedWorst] = median(&Opening::elapsed);
    const auto [cpu, cpuWorst] = median(&Opening::cpu);
    const auto [waiting, waitingWorst] = median(&Opening::waiting);
    const auto [drawing, drawingWorst] = median(&Opening::drawing);
    const auto [painting, paintingWorst] = median(&Opening::painting);
    std::printf(
        "%-8s %zu openings: elapsed median %.0f ms (worst %.0f), processor median %.0f ms "
        "(worst %.0f)\n"
        "         interface thread held at once: before the charts %.1f ms (worst %.1f), "
        "as they came %.1f ms (worst %.1f), painting %.1f ms (worst %.1f)\n",
        name, openings.size(), elapsed, elapsedWorst, cpu, cpuWorst, waiting, waitingWorst, drawing,
        drawingWorst, painting, paintingWorst);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string_view(argv[1]) == "--open-once") {
        return openOnce(argc, argv, argv[2]);
    }
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    for (const bool longest : {true, false}) {
        const char* name = longest ? "longest" : "mixed";
        const fs::path file = dittix::bench::writeFile(std::string("progress-") + name, longest);
        std::vector<Opening> openings;
        for (int k = 0; k < rounds; ++k) {
            Opening opening;
            if (!openInNewProcess(file.string(), opening)) {
                std::fprintf(stderr, "the window did not open with its charts\n");
                return 1;
            }
            openings.push_back(opening);
        }
        report(name, openings);
        std::error_code ignored;
        fs::remove(file, ignored);
    }
    return 0;
}
