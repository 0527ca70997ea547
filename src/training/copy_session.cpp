// The operator's copy of a receive exercise.
#include "training/copy_session.h"

#include <algorithm>

#include "training/exercise.h"
#include "training/tone_bank.h"

namespace dittix::training {

namespace {

std::u16string number(std::int64_t value) {
    const std::string digits = std::to_string(value);
    return {digits.begin(), digits.end()};
}

}  // namespace

char16_t copyForm(char16_t c) {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

bool isCopyCharacter(char16_t c) {
    return c == u'\u00D8' || c == u'\u00F8' || slotFor(copyForm(c)) >= 0;
}

std::u16string accuracyText(std::int32_t tenths) {
    return number(tenths / 10) + u"," + number(tenths % 10) + u" %";
}

std::u16string scoreSummary(const scoring::CopyScore& score) {
    const scoring::ScoreCounts& c = score.counts;
    std::u16string text = u"Inviati " + number(c.sent) + u" \u00B7 Giusti " + number(c.right) +
                          u" \u00B7 Errati " + number(c.wrong) + u" \u00B7 Mancanti " +
                          number(c.missed) + u" \u00B7 In pi\u00F9 " + number(c.extra);
    if (score.accuracyTenths) {
        text += u" \u00B7 Precisione " + accuracyText(*score.accuracyTenths);
    }
    for (std::size_t i = 0; i < score.topConfusions.size(); ++i) {
        const scoring::ConfusionCount& confusion = score.topConfusions[i];
        text += i == 0 ? u" \u00B7 " : u"  ";
        text += gridGlyph(confusion.sent);
        text += u'\u2192';
        text += gridGlyph(confusion.typed);
        text += u" \u00D7" + number(confusion.count);
    }
    return text;
}

NextLevel nextLevelFor(const scoring::CopyScore& score, std::int32_t level,
                       std::int32_t levelCount) {
    NextLevel next;
    next.passed = score.counts.sent >= kNextLevelMinimumSent && score.accuracyTenths &&
                  *score.accuracyTenths >= kNextLevelAccuracyTenths;
    next.offered = next.passed && level >= 1 && level < levelCount;
    next.level = next.offered ? level + 1 : 0;
    return next;
}

std::u16string nextLevelMessage(const scoring::CopyScore& score, const NextLevel& next) {
    if (!next.passed || !score.accuracyTenths) {
        return {};
    }
    std::u16string text = u"Bravo! Precisione " + accuracyText(*score.accuracyTenths) + u" su " +
                          number(score.counts.sent) + u" caratteri: ";
    if (next.offered) {
        return text + u"puoi passare al livello " + number(next.level) + u".";
    }
    return text + u"hai completato l'ultimo livello.";
}

void CopySession::begin(persistence::HistoryExercise exercise) {
    m_active = true;
    m_ended = false;
    m_scored = false;
    m_exercise = std::move(exercise);
    m_copy.clear();
    m_sent.clear();
    m_score = {};
    m_rowDate.reset();
    m_writtenCopy.reset();
    m_nextLevelTaken = false;
}

bool CopySession::type(char16_t c) {
    if (!m_active || !(scoring::isBlank(c) || isCopyCharacter(c))) {
        return false;
    }
    m_copy += scoring::isBlank(c) ? u' ' : copyForm(c);
    return true;
}

bool CopySession::erase() {
    if (!m_active || m_copy.empty()) {
        return false;
    }
    m_copy.pop_back();
    return true;
}

bool CopySession::hasNonBlank() const {
    return std::any_of(m_copy.begin(), m_copy.end(),
                       [](char16_t c) { return !scoring::isBlank(c); });
}

void CopySession::end(std::u16string sent) {
    if (!m_active) {
        return;
    }
    m_ended = true;
    m_sent = std::move(sent);
}

bool CopySession::rescore() {
    if (!m_ended) {
        return false;
    }
    const bool sentSomething =
        std::any_of(m_sent.begin(), m_sent.end(), [](char16_t c) { return !scoring::isBlank(c); });
    if (!m_scored && !(sentSomething && hasNonBlank())) {
        return false;
    }
    m_scorer.score(m_sent, m_copy, m_score);
    m_scored = true;
    return true;
}

persistence::HistoryRow CopySession::rowDated(std::time_t when) const {
    return persistence::makeHistoryRow(m_exercise, m_sent, m_copy, when);
}

std::optional<persistence::HistoryRow> CopySession::firstRow(std::time_t now) {
    if (!m_scored || m_rowDate) {
        return std::nullopt;
    }
    m_rowDate = now;
    return rowDated(now);
}

std::optional<persistence::HistoryRow> CopySession::finalRow() const {
    if (!m_scored || !m_rowDate || (m_writtenCopy && *m_writtenCopy == m_copy)) {
        return std::nullopt;
    }
    return rowDated(*m_rowDate);
}

void CopySession::rowWritten(const persistence::HistoryRow& row) {
    m_writtenCopy = row.copyText;
}

void CopySession::rowFailed(const persistence::HistoryRow& row) {
    if (m_writtenCopy && *m_writtenCopy == row.copyText) {
        m_writtenCopy.reset();
    }
}

}  // namespace dittix::training
