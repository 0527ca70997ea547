// Runs a piece of a test in a child process (for a kill, a resource limit or a private mount)
// and brings back what it reports as "key=value" lines.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <map>
#include <string>

namespace dittix::persistence::test {

using Report = std::map<std::string, std::string>;

struct ChildResult {
    int status = 0;  // as waitpid gives it
    Report report;
};

inline Report parseReport(const std::string& text) {
    Report report;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(start, end - start);
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos) {
            report[line.substr(0, equals)] = line.substr(equals + 1);
        }
        start = end + 1;
    }
    return report;
}

// `work` runs in the child, which exits when it returns. A child stuck for `guardSeconds` is
// killed by its alarm, so that a call that blocks shows as a failure instead of a hung suite.
inline ChildResult runInChild(const std::function<Report()>& work, unsigned guardSeconds = 60) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        return {-1, {}};
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeFds[0]);
        ::alarm(guardSeconds);
        std::string text;
        for (const auto& [key, value] : work()) {
            text += key + "=" + value + "\n";
        }
        std::size_t sent = 0;
        while (sent < text.size()) {
            const ssize_t n = ::write(pipeFds[1], text.data() + sent, text.size() - sent);
            if (n <= 0) {
                break;
            }
            sent += static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    ChildResult result;
    ::waitpid(pid, &result.status, 0);
    result.report = parseReport(text);
    return result;
}

inline bool exitedNormally(const ChildResult& result) {
    return WIFEXITED(result.status) && WEXITSTATUS(result.status) == 0;
}

}  // namespace dittix::persistence::test
