// What this machine charges for touching memory that has lain unused: moves 3.6 MB (a tape
// scroll's worth) after idle gaps of 10 ms to 60 s and reports the thread's processor time.
// Usage: cold_memory_bench  (takes about five minutes)
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

namespace {

double threadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

}  // namespace

int main() {
    std::vector<char> tape(7'350'000, 1);  // the size of a full-screen tape bitmap
    const std::size_t half = tape.size() / 2;
    struct Gap {
        double seconds;
        int repeats;
    };
    for (const Gap gap :
         {Gap{0.01, 5}, Gap{0.1, 5}, Gap{1, 5}, Gap{5, 5}, Gap{20, 4}, Gap{60, 3}}) {
        double sum = 0.0;
        double worst = 0.0;
        for (int r = 0; r < gap.repeats; ++r) {
            std::this_thread::sleep_for(std::chrono::duration<double>(gap.seconds));
            const double begin = threadCpuMs();
            std::memmove(tape.data(), tape.data() + half, half);  // the lower half up
            const double cost = threadCpuMs() - begin;
            sum += cost;
            worst = std::max(worst, cost);
        }
        std::printf("after %5.2f s unused: mean %6.3f ms, worst %6.3f ms\n", gap.seconds,
                    sum / gap.repeats, worst);
        std::fflush(stdout);
    }
    return 0;
}
