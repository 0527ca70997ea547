// Cost of loading a complete settings file (every key, forty levels) from the disk, and of one
// save. Usage: settings_bench [runs]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "persistence/settings.h"
#include "persistence/settings_writer.h"

using namespace dittix::persistence;

namespace {

std::string completeFile() {
    std::string text =
        "[Settings]\r\nk=0.66\r\nSerial Port=3\r\nPalette=0\r\nLento=0\r\nCPM=40\r\n"
        "CPM palette=40\r\nTono=800\r\nDot time=9\r\nDecode time=13\r\nBlank time=27\r\n"
        "Dot time P=9\r\nDecode time P=9\r\nBlank time P=45\r\nAR=1\r\nFS=0\r\nSize=38\r\n";
    for (int n = 1; n <= 40; ++n) {
        text += "livello" + std::to_string(n) + "=abcdefghijklmnopqrstuvwxyz0123456789?=-/.,\r\n";
    }
    text +=
        "LIV ES=1\r\nVEL ES=40\r\nTEMPO ES=1\r\nINTER ES=0\r\nMOSTRA ES=0\r\nmemoriaPunto=1\r\n"
        "Tabella Codice Visibile=1\r\n";
    return text;
}

template <class F>
void measure(const char* name, int runs, F&& work) {
    std::vector<double> us;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const auto end = std::chrono::steady_clock::now();
        us.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    std::sort(us.begin(), us.end());
    std::printf("%-40s runs %d  median %.1f us  p99 %.1f us  worst %.1f us\n", name, runs,
                us[us.size() / 2], us[us.size() * 99 / 100], us.back());
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 2000;
    const auto dir = std::filesystem::temp_directory_path() / "dittix-settings-bench";
    std::filesystem::create_directories(dir);
    const auto file = dir / "settings.ini";
    {
        std::ofstream out(file, std::ios::binary);
        out << completeFile();
    }
    int levels = 0;
    measure("load complete file (every key, 40 levels)", runs,
            [&] { levels += loadSettings(file, '.').settings.levels.levelCount; });
    const auto entries = mainWindowSaveEntries(38, false, 800.0);
    measure("main window save (read, edit, fsync, rename)", std::max(1, runs / 10),
            [&] { saveEntries(file, entries); });
    std::filesystem::remove_all(dir);
    return levels == 40 * runs ? 0 : 1;
}
