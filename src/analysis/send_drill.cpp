// The sending drill's target, keyed text and marks.
#include "analysis/send_drill.h"

#include <algorithm>

#include "keying/morse_table.h"

namespace dittix::analysis {

namespace {

constexpr char16_t lower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

constexpr char16_t upper(char16_t c) {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

}  // namespace

bool canBeKeyed(char16_t c) {
    const char16_t wanted = lower(c);
    return std::any_of(keying::MorseTable.begin(), keying::MorseTable.end(),
                       [wanted](const keying::MorseEntry& e) {
                           return e.character.size() == 1 && e.character.front() == wanted;
                       });
}

std::u16string targetFromText(std::u16string_view typed) {
    std::u16string target;
    bool blankPending = false;
    for (const char16_t c : typed) {
        if (scoring::isBlank(c)) {
            blankPending = !target.empty();
        } else if (canBeKeyed(c)) {
            if (blankPending) {
                target += u' ';
                blankPending = false;
            }
            target += upper(c);
        }
    }
    return target;
}

std::size_t nonBlankCount(std::u16string_view text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char16_t c) { return !scoring::isBlank(c); }));
}

std::int32_t drillMinutes(std::int64_t ticks) {
    constexpr std::int64_t kTicksPerMinute = 6000;
    const std::int64_t minutes =
        (std::max<std::int64_t>(ticks, 0) + kTicksPerMinute - 1) / kTicksPerMinute;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(minutes, 1, INT32_MAX));
}

void SendDrill::start(std::u16string target) {
    m_target = std::move(target);
    m_targetCount = nonBlankCount(m_target);
    m_keyed.clear();
    m_keyedCount = 0;
    m_ticks = 0;
    m_elementSeen = false;
    m_running = true;
    ++m_revision;
}

void SendDrill::stop() {
    m_running = false;
}

bool SendDrill::lineComplete() const {
    return m_targetCount > 0 && m_keyedCount >= m_targetCount;
}

void SendDrill::measured(const keying::Measurement& m) {
    if (!m_running || lineComplete()) {
        return;
    }
    switch (keying::kindOf(m.what)) {
        case keying::MeasurementKind::KeyDown:
            m_elementSeen = true;
            m_ticks += m.ticks;
            return;
        case keying::MeasurementKind::KeyUp:
            // The silence before the drill's first element is not part of it.
            if (m_elementSeen) {
                m_ticks += m.ticks;
            }
            if (m.what == keying::Measured::WordGap && !m_keyed.empty() && m_keyed.back() != u' ') {
                m_keyed += u' ';
                ++m_revision;
            }
            return;
        case keying::MeasurementKind::Character:
            break;
    }
    if (m.text == keying::kUnknownCode) {
        m_keyed += kUnknownKeyed;
        ++m_keyedCount;
    } else {
        for (const char16_t c : m.text) {
            m_keyed += upper(c);
            ++m_keyedCount;
        }
    }
    ++m_revision;
}

std::vector<Shown> targetMarks(const scoring::CopyScore& score, bool finished) {
    std::vector<Shown> shown(score.marks.size(), Shown::Blank);
    std::size_t reached = 0;  // one past the last target character keyed right or wrong
    for (std::size_t k = 0; k < score.marks.size(); ++k) {
        if (score.marks[k].copyIndex >= 0) {
            reached = k + 1;
        }
    }
    for (std::size_t k = 0; k < score.marks.size(); ++k) {
        switch (score.marks[k].mark) {
            case scoring::Mark::None:
                break;
            case scoring::Mark::Right:
                shown[k] = Shown::Right;
                break;
            case scoring::Mark::Wrong:
                shown[k] = Shown::Wrong;
                break;
            case scoring::Mark::Missed:
                shown[k] = finished || k < reached ? Shown::Missed : Shown::Pending;
                break;
        }
    }
    return shown;
}

std::vector<Shown> keyedMarks(const scoring::CopyScore& score, std::u16string_view keyed) {
    std::vector<Shown> shown(keyed.size(), Shown::Blank);
    for (const scoring::CharacterMark& mark : score.marks) {
        if (mark.copyIndex >= 0 && static_cast<std::size_t>(mark.copyIndex) < shown.size()) {
            shown[static_cast<std::size_t>(mark.copyIndex)] =
                mark.mark == scoring::Mark::Right ? Shown::Right : Shown::Wrong;
        }
    }
    for (const std::int32_t index : score.extras) {
        if (index >= 0 && static_cast<std::size_t>(index) < shown.size()) {
            shown[static_cast<std::size_t>(index)] = Shown::Extra;
        }
    }
    return shown;
}

}  // namespace dittix::analysis
