// A training history of 10 000 rows for the benchmarks that read it: every exercise the longest
// (5 minutes at 150 CPM, about 1.8 kB a row) or a mix of lengths.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>

#include "exercise_text.h"
#include "persistence/training_history.h"
#include "scoring/copy_score.h"

namespace dittix::bench {

namespace history_rows {
namespace fs = std::filesystem;
using namespace dittix::persistence;

constexpr int kRows = 10000;
constexpr std::u16string_view kCharacters = kCourseCharacters;

// A row with consistent counts, without scoring each one (which would make the setup slow): a
// copy of the sent text with about one character in twenty typed wrong.
inline HistoryRow row(int index, int characters, std::mt19937& random) {
    HistoryRow r;
    r.date = localTimestamp(static_cast<std::time_t>(1796907802 + std::int64_t{index} * 600));
    r.unixSeconds = 1796907802 + std::int64_t{index} * 600;
    r.exercise.level = 1 + static_cast<int>(random() % 40);
    r.exercise.levelChars = std::u16string(kCharacters.substr(0, r.exercise.level + 1));
    r.exercise.cpm = 150;
    r.exercise.minutes = characters / 150 + 1;
    r.sentText = exercise(characters, random);
    r.copyText = r.sentText;
    int wrong = 0;
    for (char16_t& c : r.copyText) {
        if (c != u' ' && random() % 20 == 0) {
            c = c == u'E' ? u'T' : u'E';
            ++wrong;
        }
    }
    r.sent = characters;
    r.wrong = wrong;
    r.right = characters - wrong;
    r.accuracyTenths = dittix::scoring::accuracyTenths(r.right, r.sent);
    return r;
}

inline fs::path writeFile(const std::string& name, bool longest) {
    std::mt19937 random(7);
    std::string text(kHistoryHeader);
    for (int k = 0; k < kRows; ++k) {
        const int characters = longest ? 750 : static_cast<int>(5 * (4 + random() % 147));
        text += formatHistoryRecord(row(k, characters, random));
    }
    const fs::path file = fs::temp_directory_path() / ("dittix-history-bench-" + name + ".csv");
    std::ofstream(file, std::ios::binary) << text;
    return file;
}

}  // namespace history_rows

using history_rows::kRows;
using history_rows::writeFile;

}  // namespace dittix::bench
