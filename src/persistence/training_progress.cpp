// Progress over the training history.
#include "persistence/training_progress.h"

#include <algorithm>
#include <array>
#include <map>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

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

namespace {

struct LatestScored {
    std::size_t first = 0;  // the earliest of them
    std::size_t found = 0;  // how many there are, at most the number asked for
};

// The latest `count` rows that characterAccuracy would score (of `mode`, something sent, not
// superseded by a later row of the same date and mode), looking no further back than `floor`.
LatestScored latestScored(std::span<const HistoryRow> rows, std::size_t count, TrainingMode mode,
                          std::size_t floor) {
    std::array<std::unordered_set<std::string_view>, 2> seen;  // dates met, per mode
    LatestScored latest{rows.size(), 0};
    for (std::size_t k = rows.size(); k-- > floor && latest.found < count;) {
        const HistoryRow& row = rows[k];
        const bool last = seen[static_cast<std::size_t>(row.exercise.mode)].insert(row.date).second;
        if (last && row.exercise.mode == mode && row.sent > 0) {
            latest = {k, latest.found + 1};
        }
    }
    return latest;
}

}  // namespace

HistoryReadResult readProgressHistory(const std::filesystem::path& file, std::size_t count,
                                      TrainingMode mode, std::size_t pieceBytes) {
    // Rows before `lightened` have no texts. Twice the rows needed keep their texts, so that a
    // later row which supersedes one of the latest without having sent anything (which only a
    // hand-edited file holds) seldom reaches a row whose texts are gone; when it does, the file is
    // read again whole.
    std::size_t lightened = 0;
    const auto lighten = [&](std::vector<HistoryRow>& rows) {
        const LatestScored kept = latestScored(rows, 2 * count, mode, lightened);
        if (kept.found < 2 * count) {
            return;
        }
        for (std::size_t k = lightened; k < kept.first; ++k) {
            std::u16string().swap(rows[k].sentText);
            std::u16string().swap(rows[k].copyText);
        }
        lightened = kept.first;
    };
    HistoryReadResult read = readHistory(file, kMaxHistoryBytes, pieceBytes, lighten);
    if (read.error || lightened == 0 ||
        latestScored(read.rows, count, mode, 0).first >= lightened) {
        return read;
    }
    return readHistory(file, kMaxHistoryBytes, pieceBytes);
}

}  // namespace dittix::persistence
