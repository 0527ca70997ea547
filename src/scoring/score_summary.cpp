// The summary line of a scored copy.
#include "scoring/score_summary.h"

namespace dittix::scoring {

namespace {

std::u16string number(std::int64_t value) {
    const std::string digits = std::to_string(value);
    return {digits.begin(), digits.end()};
}

}  // namespace

std::u16string formatAccuracy(std::int32_t tenths) {
    const std::u16string sign = tenths < 0 ? u"-" : u"";
    const std::int64_t magnitude = tenths < 0 ? -std::int64_t{tenths} : tenths;
    return sign + number(magnitude / 10) + u"," + number(magnitude % 10) + u" %";
}

std::u16string formatScoreSummary(const CopyScore& score) {
    const ScoreCounts& c = score.counts;
    std::u16string text = u"Caratteri " + number(c.sent) + u" · giusti " + number(c.right) +
                          u" · sbagliati " + number(c.wrong) + u" · mancanti " + number(c.missed) +
                          u" · in più " + number(c.extra) + u" · precisione " +
                          (score.accuracyTenths ? formatAccuracy(*score.accuracyTenths) : u"—");
    for (std::size_t k = 0; k < score.topConfusions.size(); ++k) {
        const ConfusionCount& pair = score.topConfusions[k];
        text += k == 0 ? u" · confusioni: " : u", ";
        text += pair.sent;
        text += u'→';
        text += pair.typed;
        if (pair.count > 1) {
            text += u" ×" + number(pair.count);
        }
    }
    return text;
}

}  // namespace dittix::scoring
