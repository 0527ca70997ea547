// Cost of reading the training history with 10 000 rows, as the progress view does when it
// opens, and of appending one row, on the interface thread or handed to the history's thread. Two
// files: every exercise the longest (5 minutes at 150 CPM, about 1.8 kB a row) and a mix of
// lengths.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string_view>
#include <utility>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "history_rows.h"
#include "persistence/ordered_jobs.h"
#include "persistence/training_history.h"
#include "persistence/training_progress.h"

namespace {

namespace fs = std::filesystem;
using namespace dittix::persistence;

using dittix::bench::exercise;
using dittix::bench::kRows;
using dittix::bench::writeFile;

const fs::path& longestFile() {
    static const fs::path file = writeFile("longest", true);
    return file;
}
const fs::path& mixedFile() {
    static const fs::path file = writeFile("mixed", false);
    return file;
}

void readRows(benchmark::State& state, const fs::path& (*file)()) {
    std::size_t rows = 0;
    for (auto _ : state) {
        const HistoryReadResult read = readHistory(file());
        rows = read.rows.size();
        benchmark::DoNotOptimize(rows);
    }
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["MB"] = static_cast<double>(fs::file_size(file())) / 1e6;
}

// What the progress view does on opening: read (letting go of the older rows' texts), then
// both aggregations.
void openProgress(benchmark::State& state, const fs::path& (*file)()) {
    for (auto _ : state) {
        const HistoryReadResult read = readProgressHistory(file());
        const auto byLevel = accuracyByLevel(read.rows, TrainingMode::Receive);
        const auto byCharacter = characterAccuracy(read.rows);
        benchmark::DoNotOptimize(byLevel.data());
        benchmark::DoNotOptimize(byCharacter.data());
    }
}

double processSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Read and aggregate once: the elapsed and the processor time in seconds. On a busy machine the
// processor time is the steadier of the two.
std::pair<double, double> openOnce(const fs::path& file) {
    const auto start = std::chrono::steady_clock::now();
    const double startCpu = processSeconds();
    const HistoryReadResult read = readProgressHistory(file);
    const auto byLevel = accuracyByLevel(read.rows, TrainingMode::Receive);
    const auto byCharacter = characterAccuracy(read.rows);
    benchmark::DoNotOptimize(byLevel.data());
    benchmark::DoNotOptimize(byCharacter.data());
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
            processSeconds() - startCpu};
}

// The same in a freshly started process each time (this program run again with --open-once), as
// when the progress view opens soon after the program starts: the rows' memory is then touched
// for the first time, which costs much more on some machines than reusing it.
void openProgressInNewProcess(benchmark::State& state, const fs::path& (*file)()) {
    const std::string path = file().string();
    double cpuSeconds = 0;
    for (auto _ : state) {
        int out[2];
        if (::pipe(out) != 0) {
            state.SkipWithError("pipe failed");
            break;
        }
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::close(out[0]);
            ::close(out[1]);
            ::execl("/proc/self/exe", "history_bench", "--open-once", path.c_str(), nullptr);
            ::_exit(127);
        }
        ::close(out[1]);
        char text[64] = {};
        const ssize_t got = ::read(out[0], text, sizeof text - 1);
        ::close(out[0]);
        ::waitpid(pid, nullptr, 0);
        if (got <= 0) {
            state.SkipWithError("the new process reported nothing");
            break;
        }
        char* rest = nullptr;
        state.SetIterationTime(std::strtod(text, &rest));
        cpuSeconds += std::strtod(rest, nullptr);
    }
    state.counters["cpu_ms"] =
        benchmark::Counter(cpuSeconds * 1e3 / static_cast<double>(state.iterations()));
}

void parseOnly(benchmark::State& state) {
    std::ifstream in(longestFile(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (auto _ : state) {
        const ParsedHistory parsed = parseHistory(bytes);
        benchmark::DoNotOptimize(parsed.rows.data());
    }
}

HistoryRow longestRow() {
    std::mt19937 random(3);
    HistoryExercise exercise;
    exercise.level = 10;
    return makeHistoryRow(exercise, ::exercise(750, random), ::exercise(750, random), 1796907802);
}

// With range(0) set, another file is written 1 MB at a time meanwhile, as a download or a
// compile would: the flush of the row then waits for the file system's journal to take it too.
class DiskLoad {
  public:
    explicit DiskLoad(bool on) {
        if (!on) {
            return;
        }
        m_thread = std::thread([this] {
            const fs::path file = fs::temp_directory_path() / "dittix-history-bench-load.bin";
            const std::string block(1 << 20, 'x');
            while (!m_stop.load()) {
                std::ofstream out(file, std::ios::binary | std::ios::trunc);
                for (int k = 0; k < 256 && !m_stop.load(); ++k) {
                    out << block;
                }
            }
            std::error_code ignored;
            fs::remove(file, ignored);
        });
    }
    ~DiskLoad() {
        m_stop.store(true);
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

  private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// Appending one row as the interface thread used to: written and flushed before going on.
void appendOneRow(benchmark::State& state) {
    const fs::path file = fs::temp_directory_path() / "dittix-history-bench-append.csv";
    fs::remove(file);
    const HistoryRow r = longestRow();
    const DiskLoad load(state.range(0) != 0);
    double worst = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (appendHistoryRow(file, r)) {
            state.SkipWithError("append failed");
            break;
        }
        worst = std::max(worst, std::chrono::duration<double, std::milli>(
                                    std::chrono::steady_clock::now() - start)
                                    .count());
    }
    state.counters["worst_ms"] = worst;
    fs::remove(file);
}

// What the interface thread does now: hands the row to the history's thread and goes on. The
// append itself is waited for outside the timing, so that no backlog builds up.
void handOverOneRow(benchmark::State& state) {
    const fs::path file = fs::temp_directory_path() / "dittix-history-bench-handed.csv";
    fs::remove(file);
    const HistoryRow r = longestRow();
    const DiskLoad load(state.range(0) != 0);
    OrderedJobs jobs;
    double worst = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        jobs.post([&file, r] { (void)appendHistoryRow(file, r); });
        worst = std::max(worst, std::chrono::duration<double, std::milli>(
                                    std::chrono::steady_clock::now() - start)
                                    .count());
        state.PauseTiming();
        jobs.finish();
        state.ResumeTiming();
    }
    state.counters["worst_ms"] = worst;
    fs::remove(file);
}

}  // namespace

BENCHMARK_CAPTURE(readRows, longest_10000, longestFile)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(readRows, mixed_10000, mixedFile)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(openProgress, longest_10000, longestFile)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(openProgress, mixed_10000, mixedFile)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(openProgressInNewProcess, longest_10000, longestFile)
    ->UseManualTime()
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(openProgressInNewProcess, mixed_10000, mixedFile)
    ->UseManualTime()
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(parseOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(appendOneRow)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(50);
BENCHMARK(handOverOneRow)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(50);

int main(int argc, char** argv) {
    if (argc == 3 && std::string_view(argv[1]) == "--open-once") {
        const auto [elapsed, cpu] = openOnce(argv[2]);
        std::printf("%.6f %.6f\n", elapsed, cpu);
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    longestFile();  // written before any benchmark runs, so that none times the writing
    mixedFile();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    fs::remove(longestFile(), ignored);
    fs::remove(mixedFile(), ignored);
    return 0;
}
