// Progress over the training history.
#include "persistence/training_progress.h"

#include <algorithm>
#include <array>
#include <map>
#include <string_view>
#include <unordered_map>

namespace dittix::persistence {

std::vector<bool> supersededRows(std::span<const HistoryRow> rows) {
    // The last row of each date, per mode.
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    std::unordered_map<std::string_view, std::array<std::size_t, 2>> last;
    last.reserve(rows.size());
    for (std::size_t k = 0; k < rows.size(); ++k) {
        auto [slot, added] = last.try_emplace(rows[k].date, std::array{kNone, kNone});
        slot->second[static_cast<std::size_t>(rows[k].exercise.mode)] = k;
    }
    std::vector<bool> superseded(rows.size(), false);
    for (std::size_t k = 0; k < rows.size(); ++k) {
        superseded[k] = last.at(rows[k].date)[static_cast<std::size_t>(rows[k].exercise.mode)] != k;
    }
    return superseded;
}

std::size_t exerciseCount(std::span<const HistoryRow> rows, TrainingMode mode) {
    const std::vector<bool> superseded = supersededRows(rows);
    std::size_t count = 0;
    for (std::size_t k = 0; k < rows.size(); ++k) {
        count += !superseded[k] && rows[k].exercise.mode == mode ? 1 : 0;
    }
    return count;
}

std::vector<LevelSeries> accuracyByLevel(std::span<const HistoryRow> rows, TrainingMode mode) {
    const std::vector<bool> superseded = supersededRows(rows);
    std::map<std::int32_t, std::vector<AccuracyPoint>> byLevel;
    for (std::size_t k = 0; k < rows.size(); ++k) {
        const HistoryRow& row = rows[k];
        if (!superseded[k] && row.exercise.mode == mode && row.accuracyTenths) {
            byLevel[row.exercise.level].push_back({row.unixSeconds, *row.accuracyTenths, k});
        }
    }
    std::vector<LevelSeries> series;
    series.reserve(byLevel.size());
    for (auto& [level, points] : byLevel) {
        series.push_back({level, std::move(points)});
    }
    return series;
}

std::vector<CharacterAccuracy> characterAccuracy(std::span<const HistoryRow> rows,
                                                 std::size_t count, TrainingMode mode) {
    const std::vector<bool> superseded = supersededRows(rows);
    std::map<char16_t, CharacterAccuracy> byCharacter;
    scoring::CopyScorer scorer;
    scoring::CopyScore score;
    std::size_t taken = 0;
    for (std::size_t k = rows.size(); k-- > 0 && taken < count;) {
        const HistoryRow* row = &rows[k];
        if (superseded[k] || row->exercise.mode != mode || row->sent <= 0) {
            continue;
        }
        ++taken;
        scorer.score(row->sentText, row->copyText, score);
        for (const scoring::CharacterTally& tally : score.tallies) {
            CharacterAccuracy& total = byCharacter[tally.character];
            total.character = tally.character;
            total.sent += tally.sent;
            total.right += tally.right;
        }
    }
    std::vector<CharacterAccuracy> out;
    out.reserve(byCharacter.size());
    for (auto& [character, total] : byCharacter) {
        total.accuracyTenths = scoring::accuracyTenths(total.right, total.sent).value_or(0);
        out.push_back(total);
    }
    std::sort(out.begin(), out.end(), [](const CharacterAccuracy& a, const CharacterAccuracy& b) {
        const std::int64_t left = std::int64_t{a.right} * b.sent;
        const std::int64_t right = std::int64_t{b.right} * a.sent;
        if (left != right) {
            return left < right;
        }
        if (a.sent != b.sent) {
            return a.sent > b.sent;
        }
        return a.character < b.character;
    });
    return out;
}

}  // namespace dittix::persistence
