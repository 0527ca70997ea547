// What the decode tick reports as measured: each element as it closes, each gap as it ends, each
// decoded character, with the decoder's classes; in paddle mode marked as made by the keyer.
#include <gtest/gtest.h>

#include "support/named_rows.h"

#include <random>
#include <sstream>

#include "keying/morse_table.h"
#include "tick_recorder.h"

namespace dittix::keying::test {
namespace {

using test_support::PrintTo;
using test_support::rowName;

// "dot:8@10" is a dot of 8 ticks reported in tick 10; "char:e@20" a character; a leading "k"
// marks what the keyer made. Gaps are "egap", "cgap" and "wgap".
std::string describe(const std::vector<TickRecorder::Report>& reports) {
    std::ostringstream out;
    for (const TickRecorder::Report& r : reports) {
        const Measurement& m = r.measurement;
        if (out.tellp() > 0) {
            out << ' ';
        }
        if (m.keyerMade) {
            out << 'k';
        }
        switch (m.what) {
            case Measured::Dot:
                out << "dot:" << m.ticks;
                break;
            case Measured::Dash:
                out << "dash:" << m.ticks;
                break;
            case Measured::ElementGap:
                out << "egap:" << m.ticks;
                break;
            case Measured::CharacterGap:
                out << "cgap:" << m.ticks;
                break;
            case Measured::WordGap:
                out << "wgap:" << m.ticks;
                break;
            case Measured::Character:
                out << "char:" << toUtf8(m.text) << (m.ticks != 0 ? "+ticks" : "");
                break;
        }
        out << '@' << r.tick;
    }
    return out.str();
}

struct MeasureRow {
    const char* name;
    const char* scenario;
    const char* reports;
    TimingParameters timing{9, 13, 27, 9, 9, 45};
};

class StraightMeasureTest : public ::testing::TestWithParam<MeasureRow> {};

TEST_P(StraightMeasureTest, ReportsElementsGapsAndCharacters) {
    Harness h;
    h.timing = GetParam().timing;
    h.run(GetParam().scenario);
    EXPECT_EQ(describe(h.recorder.measurements), GetParam().reports);
}

// With dotTime 9, decodeTime 13 and blankTime 27: an element closes on its 3rd key-up tick, the
// decode comes on the 13th, the word space on the 27th. A gap is reported in the tick the key
// goes down again.
INSTANTIATE_TEST_SUITE_P(
    Scenarios, StraightMeasureTest,
    ::testing::Values(
        MeasureRow{"dot_of_8_below_threshold", "down 8, up 30", "dot:8@10 char:e@20"},
        MeasureRow{"dash_of_9_at_threshold", "down 9, up 30", "dash:9@11 char:t@21"},
        MeasureRow{"dash_of_10_above_threshold", "down 10, up 30", "dash:10@12 char:t@22"},
        MeasureRow{"gap_of_2_is_inside_the_element", "down 5, up 2, down 5, up 30",
                   "dash:10@14 char:t@24"},
        MeasureRow{"gap_of_1_is_inside_the_element", "down 4, up 1, down 4, up 30",
                   "dot:8@11 char:e@21"},
        MeasureRow{"gap_of_3_is_an_element_gap", "down 5, up 3, down 5, up 30",
                   "dot:5@7 egap:3@8 dot:5@15 char:i@25"},
        MeasureRow{"gap_of_12_before_decode_is_element_gap", "down 5, up 12, down 12, up 30",
                   "dot:5@7 egap:12@17 dash:12@31 char:a@41"},
        MeasureRow{"gap_of_13_with_decode_is_character_gap", "down 5, up 13, down 12, up 30",
                   "dot:5@7 char:e@17 cgap:13@18 dash:12@32 char:t@42"},
        MeasureRow{"gap_of_26_before_word_space_is_character_gap", "down 5, up 26, down 4, up 30",
                   "dot:5@7 char:e@17 cgap:26@31 dot:4@37 char:e@47"},
        MeasureRow{"gap_of_27_with_word_space_is_word_gap", "down 5, up 27, down 4, up 30",
                   "dot:5@7 char:e@17 wgap:27@32 dot:4@38 char:e@48"},
        MeasureRow{"gap_of_28_is_word_gap", "down 5, up 28, down 4, up 30",
                   "dot:5@7 char:e@17 wgap:28@33 dot:4@39 char:e@49"},
        MeasureRow{"idle_before_first_element_is_no_gap", "up 50, down 4, up 30",
                   "dot:4@56 char:e@66"},
        // The decoder adds the twelfth element to the first one's slot; the measurement is the
        // element's own ticks.
        MeasureRow{"twelfth_element_measured_alone",
                   "down 5, up 3, down 2, up 3, down 2, up 3, down 2, up 3, down 2, up 3, "
                   "down 2, up 3, down 2, up 3, down 2, up 3, down 2, up 3, down 2, up 3, "
                   "down 2, up 3, down 4, up 20",
                   "dot:5@7 egap:3@8 dot:2@12 egap:3@13 dot:2@17 egap:3@18 dot:2@22 egap:3@23 "
                   "dot:2@27 egap:3@28 dot:2@32 egap:3@33 dot:2@37 egap:3@38 dot:2@42 egap:3@43 "
                   "dot:2@47 egap:3@48 dot:2@52 egap:3@53 dot:2@57 egap:3@58 dot:4@64 char:t@74"},
        // With a decode time of 1 the decode comes before the element closes: the gap is a
        // character gap and the decoder's text differs from the measured dash.
        MeasureRow{"decode_time_1_decodes_before_the_close",
                   "down 12, up 20, down 12, up 40",
                   "char:ER@12 dash:12@14 cgap:20@32 char:e@44 dash:12@46",
                   {9, 1, 27, 9, 9, 45}},
        MeasureRow{"class_uses_dot_time_in_force",
                   "down 6, up 30",
                   "dash:6@8 char:t@9",
                   {6, 4, 18, 9, 9, 45}},
        MeasureRow{"word_space_before_decode_is_word_gap",
                   "down 4, up 3, down 4, up 30",
                   "dot:4@6 wgap:3@7 dot:4@13 char:i@22",
                   {9, 12, 3, 9, 9, 45}}),
    rowName);

// Random keying at lengths around the thresholds, with glitches of 1 and 2 ticks: the element
// classes reported since the previous character always spell the character the decoder wrote,
// and the element lengths add up to every key-down tick.
TEST(StraightMeasure, ReportedClassesSpellEveryDecodedCharacter) {
    Harness h;
    std::mt19937 random(11);
    std::uniform_int_distribution<int> element(1, 20);
    std::uniform_int_distribution<int> gap(1, 30);
    std::uniform_int_distribution<int> elementsPerCharacter(1, 6);
    std::vector<TickInput> inputs;
    const TickInput down = parseScenario("down 1").front();
    int downTicks = 0;
    for (int c = 0; c < 400; ++c) {
        const int n = elementsPerCharacter(random);
        for (int e = 0; e < n; ++e) {
            const int length = element(random);
            downTicks += length;
            inputs.insert(inputs.end(), static_cast<std::size_t>(length), down);
            inputs.insert(inputs.end(), static_cast<std::size_t>(gap(random)), TickInput{});
        }
    }
    inputs.insert(inputs.end(), 40, TickInput{});
    h.run(inputs);

    std::u16string code;
    int measuredDown = 0;
    int characters = 0;
    for (const TickRecorder::Report& r : h.recorder.measurements) {
        const Measurement& m = r.measurement;
        EXPECT_FALSE(m.keyerMade);
        if (m.what == Measured::Dot || m.what == Measured::Dash) {
            EXPECT_EQ(m.what == Measured::Dot, m.ticks < h.timing.dotTime);
            code += m.what == Measured::Dot ? u'p' : u'l';
            measuredDown += m.ticks;
        } else if (m.what == Measured::Character) {
            ++characters;
            if (code.size() <= 10) {
                ASSERT_EQ(toUtf8(lookupCode(code)), toUtf8(m.text)) << "character " << characters;
            }
            code.clear();
        }
    }
    EXPECT_EQ(measuredDown, downTicks);
    EXPECT_EQ(static_cast<std::size_t>(characters), h.recorder.characters.size());
    EXPECT_GT(characters, 300);
}

class PaddleMeasureTest : public ::testing::TestWithParam<MeasureRow> {};

TEST_P(PaddleMeasureTest, ReportsWhatTheKeyerMade) {
    Harness h;
    h.modes.paddleMode = true;
    h.timing = GetParam().timing;
    h.run(GetParam().scenario);
    EXPECT_EQ(describe(h.recorder.measurements), GetParam().reports);
}

// D = 9: a dot sounds 9 ticks and ends its element 9 ticks later; the tick in which the tone
// ends is the gap's first. Decode after 9 idle ticks, word space after 45.
INSTANTIATE_TEST_SUITE_P(
    Scenarios, PaddleMeasureTest,
    ::testing::Values(
        MeasureRow{"one_dot", "dot 1, none 120", "kdot:9@9 kchar:e@27"},
        MeasureRow{"one_dash", "dash 1, none 120", "kdash:27@27 kchar:t@45"},
        MeasureRow{"held_dots_have_gaps_of_D_plus_1", "dot 60, none 120",
                   "kdot:9@9 kegap:10@19 kdot:9@28 kegap:10@38 kdot:9@47 kegap:10@57 kdot:9@66 "
                   "kchar:h@84"},
        MeasureRow{"dot_before_decode_tick_is_element_gap", "dot 1, none 25, dot 1, none 120",
                   "kdot:9@9 kegap:17@26 kdot:9@35 kchar:i@53"},
        MeasureRow{"gap_ended_in_decode_tick_is_element_gap", "dot 1, none 26, dot 1, none 120",
                   "kdot:9@9 kegap:18@27 kchar:i@27 kdot:9@36 kchar:ER@54"},
        MeasureRow{"dot_after_decode_tick_is_character_gap", "dot 1, none 27, dot 1, none 120",
                   "kdot:9@9 kchar:e@27 kcgap:19@28 kdot:9@37 kchar:e@55"},
        MeasureRow{"dash_after_word_space_is_word_gap", "dot 1, none 70, dash 1, none 120",
                   "kdot:9@9 kchar:e@27 kwgap:62@71 kdash:27@98 kchar:t@116"},
        MeasureRow{"both_alternate_dot_then_dash", "both 25, none 120",
                   "kdot:9@9 kegap:10@19 kdash:27@46 kchar:a@64"},
        MeasureRow{"zero_dot_time_works_as_one",
                   "dot 1, none 30",
                   "kdot:1@1 kchar:e@3",
                   {9, 13, 27, 0, 1, 5}}),
    rowName);

TEST(ModeSwitchMeasure, GapSpanningASwitchToPaddlesIsNotReported) {
    Harness h;
    h.run("down 4, up 3");
    h.modes.paddleMode = true;
    h.run("up 5, dash 1, none 120");
    EXPECT_EQ(describe(h.recorder.measurements), "dot:4@6 kdash:27@39 kchar:a@57");
}

TEST(ModeSwitchMeasure, GapAfterAKeyerElementIsNotReportedByTheStraightKey) {
    Harness h;
    h.modes.paddleMode = true;
    h.run("dot 1, none 18");
    h.modes.paddleMode = false;
    h.run("down 12, up 40");
    EXPECT_EQ(describe(h.recorder.measurements), "kdot:9@9 dash:12@33 char:a@43");
}

TEST(ModeSwitchMeasure, KeyerToneSpanningTwoSwitchesIsNotReported) {
    Harness h;
    h.modes.paddleMode = true;
    h.run("dot 1, none 3");
    h.modes.paddleMode = false;
    h.run("up 2");
    h.modes.paddleMode = true;
    h.run("none 20, dot 1, none 60");  // the first dot's tone ends in tick 11
    EXPECT_EQ(describe(h.recorder.measurements), "kegap:15@26 kdot:9@35 kchar:i@53");
}

TEST(ModeSwitchMeasure, StraightElementLeftOpenAcrossTwoSwitchesIsNotReported) {
    Harness h;
    h.run("down 5, up 1");
    h.modes.paddleMode = true;
    h.run("none 1");
    h.modes.paddleMode = false;
    h.run("up 20, down 4, up 30");
    EXPECT_EQ(describe(h.recorder.measurements), "char:e@17 dot:4@33 char:e@43");
}

}  // namespace
}  // namespace dittix::keying::test
