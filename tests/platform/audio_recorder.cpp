// parec-based recorder.
#include "audio_recorder.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace dittix::platform::test {

bool pulseAudioAvailable() {
    return std::system("pactl info >/dev/null 2>&1") == 0;
}

MonitorRecorder::MonitorRecorder() {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    // Two channels of 16-bit samples at 44 100 Hz; the left channel is kept. PulseAudio: parec
    // on the monitor in its own format (asking parec to convert records nothing with some
    // servers), with a short latency, which keeps the null sink running steadily. PipeWire: its
    // own recorder on the sink, since its PulseAudio front end loses and garbles captured samples
    // when the recorder is late on a busy machine.
    static const bool pipeWire = std::system("pactl info 2>/dev/null | grep -q 'on PipeWire'") == 0;
    const std::string latency = "--latency-msec=" + std::to_string(kRecorderLatencyMs);
    const char* parec[] = {
        "parec", "--device=@DEFAULT_MONITOR@", "--raw", "--format=s16le", latency.c_str(), nullptr};
    const char* pwRecord[] = {"pw-record", "-P",       "{ stream.capture.sink=true }",
                              "--rate",    "44100",    "--channels",
                              "2",         "--format", "s16",
                              "--latency", "20ms",     "-",
                              nullptr};
    const char* const* argv = pipeWire ? pwRecord : parec;
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, const_cast<char**>(argv), environ) == 0) {
        m_pid = pid;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    m_fd = pipeFds[0];
    m_reader = std::thread([this] {
        char buffer[4096];
        std::string pending;
        while (true) {
            const ssize_t n = read(m_fd, buffer, sizeof(buffer));
            if (n <= 0) {
                break;
            }
            m_started.store(true);
            pending.append(buffer, static_cast<std::size_t>(n));
            const std::size_t frames = pending.size() / 4;
            for (std::size_t f = 0; f < frames; ++f) {
                std::int16_t left = 0;
                std::memcpy(&left, pending.data() + 4 * f, 2);
                m_samples.push_back(left);
            }
            pending.erase(0, frames * 4);
        }
    });
    // parec takes a while to connect: what the caller plays next must be recorded.
    for (int i = 0; i < 500 && m_pid > 0 && !m_started.load(); ++i) {
        usleep(10000);
    }
}

std::vector<std::int16_t> MonitorRecorder::stop() {
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
    }
    if (m_reader.joinable()) {
        m_reader.join();
    }
    if (m_fd >= 0) {
        close(m_fd);
        m_fd = -1;
    }
    return m_samples;
}

MonitorRecorder::~MonitorRecorder() {
    stop();
}

int halfPeak(const std::vector<std::int16_t>& recording) {
    int peak = 0;
    for (const std::int16_t v : recording) {
        peak = std::max(peak, std::abs(static_cast<int>(v)));
    }
    return peak / 2;
}

std::vector<Burst> bursts(const std::vector<std::int16_t>& recording, double toneHz, int loud) {
    const auto period = static_cast<std::size_t>(44100 / toneHz) + 1;
    const auto burstGap = static_cast<std::size_t>(44100 / 50);
    std::vector<Burst> found;
    std::size_t pieceStart = 0;
    std::size_t last = 0;
    bool any = false;
    for (std::size_t i = 0; i <= recording.size(); ++i) {
        const bool end = i == recording.size();
        if (!end && std::abs(recording[i]) < loud) {
            continue;
        }
        if (any && (end || i - last > period)) {
            Burst& b = found.back();
            b.soundingSamples += last + 1 - pieceStart;
            ++b.pieces;
            b.end = last + 1;
        }
        if (end) {
            break;
        }
        if (!any || i - last > burstGap) {
            found.push_back({i, i + 1, 0, 0});
        }
        if (!any || i - last > period) {
            pieceStart = i;
        }
        last = i;
        any = true;
    }
    return found;
}

}  // namespace dittix::platform::test
