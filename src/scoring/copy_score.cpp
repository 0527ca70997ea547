// The copy alignment: a suffix table of alignment scores, walked from the start of both texts.
#include "scoring/copy_score.h"

#include <algorithm>

namespace dittix::scoring {

namespace {

// The move chosen at one cell of the table.
enum Move : std::uint8_t { kDiagonal, kSkipSent, kSkipTyped };

void keepNonBlank(std::u16string_view text, std::vector<char16_t>& folded,
                  std::vector<std::int32_t>& index) {
    folded.clear();
    index.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!isBlank(text[i])) {
            folded.push_back(foldForComparison(text[i]));
            index.push_back(static_cast<std::int32_t>(i));
        }
    }
}

void countConfusions(CopyScore& out) {
    // Sorting by pair (stable, so each pair's first entry is its first occurrence) groups equal
    // pairs; the groups are then ranked by count and first occurrence.
    struct Group {
        ConfusionCount pair;
        std::int32_t first = 0;
    };
    std::vector<std::int32_t> order(out.confusions.size());
    for (std::size_t k = 0; k < order.size(); ++k) {
        order[k] = static_cast<std::int32_t>(k);
    }
    std::stable_sort(order.begin(), order.end(), [&](std::int32_t a, std::int32_t b) {
        const Confusion& x = out.confusions[static_cast<std::size_t>(a)];
        const Confusion& y = out.confusions[static_cast<std::size_t>(b)];
        return x.sent != y.sent ? x.sent < y.sent : x.typed < y.typed;
    });
    std::vector<Group> groups;
    for (const std::int32_t k : order) {
        const Confusion& c = out.confusions[static_cast<std::size_t>(k)];
        if (groups.empty() || groups.back().pair.sent != c.sent ||
            groups.back().pair.typed != c.typed) {
            groups.push_back({{c.sent, c.typed, 0}, k});
        }
        ++groups.back().pair.count;
    }
    std::sort(groups.begin(), groups.end(), [](const Group& a, const Group& b) {
        return a.pair.count != b.pair.count ? a.pair.count > b.pair.count : a.first < b.first;
    });
    out.topConfusions.clear();
    for (std::size_t g = 0; g < groups.size() && g < 3; ++g) {
        out.topConfusions.push_back(groups[g].pair);
    }
}

void countTallies(const std::vector<char16_t>& sent, const std::vector<std::int32_t>& sentIndex,
                  CopyScore& out) {
    std::vector<std::pair<char16_t, bool>> seen(sent.size());
    for (std::size_t i = 0; i < sent.size(); ++i) {
        const auto position = static_cast<std::size_t>(sentIndex[i]);
        seen[i] = {sent[i], out.marks[position].mark == Mark::Right};
    }
    std::sort(seen.begin(), seen.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    out.tallies.clear();
    for (const auto& [character, right] : seen) {
        if (out.tallies.empty() || out.tallies.back().character != character) {
            out.tallies.push_back({character, 0, 0});
        }
        ++out.tallies.back().sent;
        out.tallies.back().right += right ? 1 : 0;
    }
}

}  // namespace

std::optional<std::int32_t> accuracyTenths(std::int64_t right, std::int64_t sent) {
    if (sent <= 0) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>((right * 2000 + sent) / (2 * sent));
}

CopyScore CopyScorer::score(std::u16string_view sent, std::u16string_view copy) {
    CopyScore out;
    score(sent, copy, out);
    return out;
}

void CopyScorer::score(std::u16string_view sent, std::u16string_view copy, CopyScore& out) {
    keepNonBlank(sent, m_sent, m_sentIndex);
    keepNonBlank(copy, m_copy, m_copyIndex);
    const std::size_t n = std::min(m_sent.size(), kMaxAlignedCharacters);
    const std::size_t m = std::min(m_copy.size(), kMaxAlignedCharacters);

    // score(i, j) of the suffixes sent[i..] and copy[j..] is right × weight + confusions, with a
    // weight above any possible number of confusions: the most right characters first, then
    // the most confusions. Only the move taken at each cell is kept, one byte per cell.
    const std::int32_t weight = static_cast<std::int32_t>(std::min(n, m)) + 1;
    m_row.assign(m + 1, 0);
    m_nextRow.assign(m + 1, 0);
    m_moves.resize(n * m);
    for (std::size_t i = n; i-- > 0;) {
        const char16_t s = m_sent[i];
        std::int32_t* const row = m_row.data();
        const std::int32_t* const next = m_nextRow.data();
        std::uint8_t* const moves = m_moves.data() + i * m;
        row[m] = 0;
        for (std::size_t j = m; j-- > 0;) {
            std::int32_t best = next[j + 1] + (s == m_copy[j] ? weight : 1);
            std::uint8_t move = kDiagonal;
            if (next[j] > best) {
                best = next[j];
                move = kSkipSent;
            }
            if (row[j + 1] > best) {
                best = row[j + 1];
                move = kSkipTyped;
            }
            row[j] = best;
            moves[j] = move;
        }
        std::swap(m_row, m_nextRow);
    }

    // The right characters, walking from the start of both texts.
    m_matches.clear();
    for (std::size_t i = 0, j = 0; i < n && j < m;) {
        switch (m_moves[i * m + j]) {
            case kDiagonal:
                if (m_sent[i] == m_copy[j]) {
                    m_matches.emplace_back(static_cast<std::int32_t>(i),
                                           static_cast<std::int32_t>(j));
                }
                ++i;
                ++j;
                break;
            case kSkipSent:
                ++i;
                break;
            default:
                ++j;
                break;
        }
    }

    out.counts = {};
    out.counts.sent = static_cast<std::int32_t>(m_sent.size());
    out.counts.typed = static_cast<std::int32_t>(m_copy.size());
    out.marks.assign(sent.size(), CharacterMark{});
    out.confusions.clear();
    out.extras.clear();

    // Each gap between right characters (and the ones before the first and after the last)
    // pairs up in order.
    std::int32_t sentFrom = 0;
    std::int32_t copyFrom = 0;
    const auto closeGap = [&](std::int32_t sentTo, std::int32_t copyTo) {
        const std::int32_t paired = std::min(sentTo - sentFrom, copyTo - copyFrom);
        for (std::int32_t k = 0; k < paired; ++k) {
            const auto si = static_cast<std::size_t>(sentFrom + k);
            const auto ci = static_cast<std::size_t>(copyFrom + k);
            const auto sentAt = static_cast<std::size_t>(m_sentIndex[si]);
            const std::int32_t copyAt = m_copyIndex[ci];
            out.marks[sentAt] = {Mark::Wrong, copy[static_cast<std::size_t>(copyAt)], copyAt};
            out.confusions.push_back(
                {m_sent[si], m_copy[ci], static_cast<std::int32_t>(sentAt), copyAt});
        }
        for (std::int32_t k = sentFrom + paired; k < sentTo; ++k) {
            out.marks[static_cast<std::size_t>(m_sentIndex[static_cast<std::size_t>(k)])] = {
                Mark::Missed, 0, -1};
        }
        for (std::int32_t k = copyFrom + paired; k < copyTo; ++k) {
            out.extras.push_back(m_copyIndex[static_cast<std::size_t>(k)]);
        }
        out.counts.wrong += paired;
        out.counts.missed += sentTo - sentFrom - paired;
        out.counts.extra += copyTo - copyFrom - paired;
    };
    for (const auto& [i, j] : m_matches) {
        closeGap(i, j);
        const std::int32_t copyAt = m_copyIndex[static_cast<std::size_t>(j)];
        out.marks[static_cast<std::size_t>(m_sentIndex[static_cast<std::size_t>(i)])] = {
            Mark::Right, copy[static_cast<std::size_t>(copyAt)], copyAt};
        ++out.counts.right;
        sentFrom = i + 1;
        copyFrom = j + 1;
    }
    closeGap(static_cast<std::int32_t>(n), static_cast<std::int32_t>(m));
    // Beyond the aligned length nothing pairs: what was sent is missed, what was typed extra.
    for (std::size_t k = n; k < m_sent.size(); ++k) {
        out.marks[static_cast<std::size_t>(m_sentIndex[k])] = {Mark::Missed, 0, -1};
    }
    for (std::size_t k = m; k < m_copy.size(); ++k) {
        out.extras.push_back(m_copyIndex[k]);
    }
    out.counts.missed += static_cast<std::int32_t>(m_sent.size() - n);
    out.counts.extra += static_cast<std::int32_t>(m_copy.size() - m);

    out.accuracyTenths = accuracyTenths(out.counts.right, out.counts.sent);
    countConfusions(out);
    countTallies(m_sent, m_sentIndex, out);
}

CopyScore scoreCopy(std::u16string_view sent, std::u16string_view copy) {
    return CopyScorer().score(sent, copy);
}

}  // namespace dittix::scoring
