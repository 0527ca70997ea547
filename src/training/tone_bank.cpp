// Training tone composition.
#include "training/tone_bank.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "keying/morse_table.h"

namespace dittix::training {

int samplesPerDot(int cpm, int rate) {
    if (cpm <= 0 || rate <= 0) {
        return 0;
    }
    const double quotient = 6.0 / cpm;
    // The exact product lies within half an ulp of the rounded one; fma gives the difference
    // exactly, which tells a product just below a whole number from one on it.
    const double product = quotient * rate;
    const double error = std::fma(quotient, static_cast<double>(rate), -product);
    double truncated = std::trunc(product);
    if (truncated == product && error < 0) {
        truncated -= 1.0;
    }
    return static_cast<int>(truncated);
}

int slotFor(char16_t c) {
    if (c >= u'A' && c <= u'Z') {
        return c - u'A';
    }
    if (c >= u'0' && c <= u'9') {
        return 26 + (c - u'0');
    }
    constexpr std::u16string_view kPunctuation = u"?=-/.,;:()'";
    const auto at = kPunctuation.find(c);
    return at == std::u16string_view::npos ? -1 : 36 + static_cast<int>(at);
}

std::shared_ptr<const ToneBank> componiBank(const platform::SampleBuffer& sineTable, int cpm,
                                            int rate, platform::ToneShape shape) {
    auto bank = std::make_shared<ToneBank>();
    const int dot = samplesPerDot(cpm, rate);
    bank->samplesPerDot = dot;
    bank->cpm = cpm;
    bank->rate = rate;
    for (int i = 0; i < kToneSlots; ++i) {
        const std::u16string_view code = keying::MorseTable[static_cast<std::size_t>(i)].code;
        platform::SampleBuffer slot;
        slot.reserve(code.size() * 4 * static_cast<std::size_t>(dot));
        for (const char16_t element : code) {
            const auto tone = static_cast<std::size_t>(element == u'p' ? dot : 3 * dot);
            // The tone never needs more than the table holds (3 dots at 20 CPM is 39 687 of
            // 44 100 samples, 43 200 of 48 000); beyond it the tone would be silence.
            const std::size_t copied = std::min(tone, sineTable.size());
            platform::appendShapedTone(slot, sineTable, copied,
                                       tone - copied + static_cast<std::size_t>(dot), shape);
        }
        bank->tones[static_cast<std::size_t>(i)] =
            std::make_shared<const platform::SampleBuffer>(std::move(slot));
    }
    return bank;
}

}  // namespace dittix::training
