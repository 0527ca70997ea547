// Every code of the table keyed through the tick, with the straight key and with the paddles,
// at several speeds, decodes to the first table entry that has that code.
#include <gtest/gtest.h>

#include "support/named_rows.h"

#include <algorithm>
#include <string>

#include "keying/morse_table.h"
#include "tick_recorder.h"

namespace dittix::keying::test {
namespace {

using test_support::PrintTo;
using test_support::rowName;

// Found by scanning the table here, independently of lookupCode.
std::string firstCharacterWithCode(std::u16string_view code) {
    for (const MorseEntry& entry : MorseTable) {
        if (entry.code == code) {
            return toUtf8(entry.character);
        }
    }
    return "?";
}

void append(std::vector<TickInput>& inputs, const TickInput& in, int ticks) {
    inputs.insert(inputs.end(), static_cast<std::size_t>(ticks), in);
}

TickInput pressed(const char* word) {
    return parseScenario(std::string(word) + " 1").front();
}

// A straight-key operator with a steady hand: dots half a dot time, dashes one and a half,
// element gaps as long as a dot time (at least the 3 ticks that close an element).
std::vector<TickInput> keyStraight(std::u16string_view code, const TimingParameters& t,
                                   const TickInput& key) {
    std::vector<TickInput> inputs;
    const int dot = std::max(1, t.dotTime / 2);
    const int dash = t.dotTime + t.dotTime / 2;
    const int gap = std::max(3, std::min(t.dotTime, t.decodeTime - 1));
    for (std::size_t i = 0; i < code.size(); ++i) {
        append(inputs, key, code[i] == u'p' ? dot : dash);
        append(inputs, {}, i + 1 < code.size() ? gap : t.blankTime + 2);
    }
    return inputs;
}

enum class PaddleStyle { Tap, HoldForTone };

// Taps a paddle for one tick when the keyer is idle, or holds it while the element's tone
// sounds; either way the paddle is open again before the element's gap.
std::vector<TickInput> keyPaddles(std::u16string_view code, const TimingParameters& t,
                                  PaddleStyle style) {
    std::vector<TickInput> inputs;
    const int d = t.dotTimeP;
    for (const char16_t element : code) {
        const bool dot = element == u'p';
        const int tone = dot ? d : 3 * d;
        const int length = dot ? 2 * d : 4 * d;
        const int held = style == PaddleStyle::Tap ? 1 : tone;
        append(inputs, pressed(dot ? "dot" : "dash"), held);
        append(inputs, {}, length + 1 - held);
    }
    append(inputs, {}, t.blankTimeP + 2);
    return inputs;
}

struct SpeedRow {
    const char* name;
    std::int32_t cpm;
    const char* straightKey;
    PaddleStyle style;
};

class KeyedTableTest : public ::testing::TestWithParam<SpeedRow> {
  protected:
    void SetUp() override {
        SpeedSettings speeds;
        recomputeTimes(speeds, m_harness.timing, false, GetParam().cpm, GetParam().cpm);
    }
    Harness m_harness;
};

TEST_P(KeyedTableTest, StraightKeyDecodesEveryEntry) {
    const TickInput key = pressed(GetParam().straightKey);
    for (std::size_t i = 0; i < kMorseEntryCount; ++i) {
        m_harness.recorder.text.clear();
        m_harness.run(keyStraight(MorseTable[i].code, m_harness.timing, key));
        EXPECT_EQ(m_harness.recorder.text, firstCharacterWithCode(MorseTable[i].code) + " ")
            << "entry " << i;
    }
}

TEST_P(KeyedTableTest, PaddlesDecodeEveryEntry) {
    m_harness.modes.paddleMode = true;
    for (std::size_t i = 0; i < kMorseEntryCount; ++i) {
        m_harness.recorder.text.clear();
        m_harness.run(keyPaddles(MorseTable[i].code, m_harness.timing, GetParam().style));
        EXPECT_EQ(m_harness.recorder.text, firstCharacterWithCode(MorseTable[i].code) + " ")
            << "entry " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Speeds, KeyedTableTest,
    ::testing::Values(SpeedRow{"cpm25_line", 25, "cts", PaddleStyle::Tap},
                      SpeedRow{"cpm40_right_ctrl", 40, "rctl", PaddleStyle::HoldForTone},
                      SpeedRow{"cpm60_dsr", 60, "dsr", PaddleStyle::Tap},
                      SpeedRow{"cpm100_ring", 100, "ring", PaddleStyle::Tap},
                      SpeedRow{"cpm120_left_arrow", 120, "left", PaddleStyle::HoldForTone}),
    rowName);

TEST(KeyedText, WordsAreSeparatedByWordSpaces) {
    Harness h;
    std::vector<TickInput> inputs;
    const TickInput key = pressed("down");
    for (const std::u16string_view code : {u"llpl", u"lpl", u"ppplpl"}) {  // q k SK
        const auto part = keyStraight(code, h.timing, key);
        inputs.insert(inputs.end(), part.begin(), part.end());
    }
    h.run(inputs);
    EXPECT_EQ(h.recorder.text, "q k SK ");
}

}  // namespace
}  // namespace dittix::keying::test
