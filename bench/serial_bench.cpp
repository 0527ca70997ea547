// Cost of reading the key lines: readModemStatus() on a port open on a fresh pseudo-terminal,
// one read at a time and five at a time (the line monitor's pass); and of opening and closing
// a port, and of trying a device that is not there, through the system's terminal interface and
// through the toolkit's serial support. Usage: serial_bench [reads]
#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include "percentile.h"
#include "platform/serial_lines.h"

using dittix::platform::openSerialDevicePath;
using dittix::platform::openToolkitSerialDevicePath;
using dittix::platform::SerialHandle;
using dittix::platform::SerialOpenResult;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kDefaultReads = 100000;
constexpr int kReadsPerPass = 5;

void printFigures(const char* what, std::vector<double>& nanoseconds) {
    std::sort(nanoseconds.begin(), nanoseconds.end());
    const auto at = [&](double q) { return dittix::bench::percentile(nanoseconds, q); };
    std::printf(
        "%-28s %8zu samples  median %8.0f ns  p99 %8.0f ns  p99.9 %8.0f ns  worst %8.0f ns\n", what,
        nanoseconds.size(), at(0.5), at(0.99), at(0.999), nanoseconds.back());
}

std::vector<double> timeReads(SerialHandle& port, int samples, int readsPerSample) {
    std::vector<double> ns;
    ns.reserve(static_cast<std::size_t>(samples));
    std::uint32_t seen = 0;
    for (int i = 0; i < samples; ++i) {
        const auto start = Clock::now();
        for (int r = 0; r < readsPerSample; ++r) {
            seen |= port.readModemStatus();
        }
        const auto stop = Clock::now();
        ns.push_back(std::chrono::duration<double, std::nano>(stop - start).count());
    }
    if (seen != 0) {
        std::printf("unexpected: a pseudo-terminal reported modem lines 0x%x\n", seen);
    }
    return ns;
}

using Opener = SerialOpenResult (*)(const std::string&);

// Opens `path` and closes it again, `samples` times: the time of the open, and of the close.
void timeOpens(const char* what, Opener open, const std::string& path, int samples) {
    std::vector<double> opens;
    std::vector<double> closes;
    for (int i = 0; i < samples; ++i) {
        const auto start = Clock::now();
        SerialOpenResult result = open(path);
        const auto opened = Clock::now();
        if (result.handle) {
            result.handle->close();
        }
        const auto closed = Clock::now();
        opens.push_back(std::chrono::duration<double, std::nano>(opened - start).count());
        if (result.handle) {
            closes.push_back(std::chrono::duration<double, std::nano>(closed - opened).count());
        }
    }
    printFigures((std::string(what) + ", open").c_str(), opens);
    if (!closes.empty()) {
        printFigures((std::string(what) + ", close").c_str(), closes);
    }
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int reads = argc > 1 ? std::max(1, std::atoi(argv[1])) : kDefaultReads;

    // A pseudo-terminal of our own: never one of the machine's serial ports.
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        std::perror("pseudo-terminal");
        return 1;
    }
    const char* slave = ::ptsname(master);
    const auto opened = openSerialDevicePath(slave);
    if (!opened.handle) {
        std::printf("open %s failed: %s\n", slave, opened.error.message.c_str());
        return 1;
    }
    std::printf(
        "readModemStatus() on %s (a pseudo-terminal has no modem lines, so every read "
        "takes the failed-read path)\n",
        slave);

    timeReads(*opened.handle, reads / 10, 1);  // warm-up
    std::vector<double> single = timeReads(*opened.handle, reads, 1);
    printFigures("one read", single);
    std::vector<double> pass = timeReads(*opened.handle, reads / kReadsPerPass, kReadsPerPass);
    printFigures("five reads (one pass)", pass);

    opened.handle->close();

    const int opens = std::max(10, reads / 100);
    std::printf("opening %s and closing it again, %d times\n", slave, opens);
    timeOpens("system, terminal", openSerialDevicePath, slave, opens);
    timeOpens("toolkit, terminal", openToolkitSerialDevicePath, slave, opens);
    const std::string missing = "/dev/ttyUSB-not-there";
    timeOpens("system, no device", openSerialDevicePath, missing, opens);
    timeOpens("toolkit, no device", openToolkitSerialDevicePath, missing, opens);
    ::close(master);
    return 0;
}
