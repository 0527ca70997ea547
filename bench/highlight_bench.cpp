// Times the training window's START (the new exercise drawn into the grid, repaint included) and
// its per-character highlight, repaint included, over many exercises in a row: a cost that grew
// with the session would show as rising figures in later rounds.
// Usage: highlight_bench [rounds] [reopen]; with "reopen" the window is closed and opened again
// between exercises, as Esc and `e` do.
#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <vector>

#include "percentile.h"
#include "persistence/save_at_once.h"
#include "persistence/settings.h"
#include "training/training_window.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 40;
    const bool reopen = argc > 2 && std::string_view(argv[2]) == "reopen";
    using namespace dittix;
    persistence::Settings settings = persistence::parseSettings(
        "[Settings]\nlivello1=ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789\nMOSTRA ES=1\n", '.');
    persistence::ExerciseRandom random{7};
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / "dittix-highlight-bench.ini";
    training::Ttraining window(training::TrainingEnvironment{settings.levels,
                                                             settings.training,
                                                             random,
                                                             file,
                                                             persistence::test::saveAtOnce(file),
                                                             [](int) {},
                                                             [] {},
                                                             [] {},
                                                             [] {},
                                                             {}});
    window.show();
    app.processEvents();

    std::printf("round  speed  chars  start_ms  median_ms  p90_ms  worst_ms\n");
    for (int round = 1; round <= rounds; ++round) {
        // Alternate the slowest and the fastest speed, as an operator changing speeds would.
        const bool slow = round % 2 == 1;
        window.cbSpeed->setCurrentIndex(slow ? 0 : window.cbSpeed->count() - 1);
        const auto started = std::chrono::steady_clock::now();
        window.startClick();
        app.processEvents();
        const double startMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
                .count();
        const int chars = std::min<int>(static_cast<int>(window.state().trainingText.size()),
                                        training::kGridLabels);
        std::vector<double> costs;
        for (int k = 0; k < chars; ++k) {
            const auto begin = std::chrono::steady_clock::now();
            window.highlightCurrent(k);
            app.processEvents();
            costs.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin)
                    .count());
        }
        window.state().exerciseRunning = false;
        window.state().playbackEnded = true;
        window.timerTimer();
        app.processEvents();
        if (reopen) {
            window.close();
            app.processEvents();
            window.show();
            window.raise();
            window.activateWindow();
            app.processEvents();
        }
        std::sort(costs.begin(), costs.end());
        std::printf("%5d  %5s  %5d  %8.3f  %9.3f  %6.3f  %8.3f\n", round, slow ? "slow" : "fast",
                    chars, startMs, bench::percentile(costs, 0.5), bench::percentile(costs, 0.9),
                    costs.back());
    }
    std::filesystem::remove(file);
    return 0;
}
