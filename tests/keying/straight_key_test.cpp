// The decode tick with the straight key: exact calls per tick, thresholds and the element buffer.
#include <gtest/gtest.h>

#include "support/named_rows.h"

#include "tick_recorder.h"

namespace dittix::keying::test {
namespace {

using test_support::PrintTo;
using test_support::rowName;

using Log = std::vector<std::string>;

TEST(StraightKey, WorkedExampleLetterAAt40Cpm) {
    Harness h;  // 9 / 13 / 27
    const Log log = h.run("down 5, up 12, down 12, up 30");
    EXPECT_EQ(log[0], "on adv mark wrap check");
    EXPECT_EQ(log[1], "adv mark wrap check");
    EXPECT_EQ(log[5], "adv off move");
    EXPECT_EQ(log[6], "adv move");
    EXPECT_EQ(log[17], "adv on adv mark wrap check");
    EXPECT_EQ(log[29], "adv off move");
    EXPECT_EQ(ticksWith(log, "char:a"), (std::vector<int>{29 + 12}));
    EXPECT_EQ(log[41], "adv move char:a");
    EXPECT_EQ(ticksWith(log, "space"), (std::vector<int>{29 + 26}));
    EXPECT_EQ(log[55], "adv move space");
    EXPECT_EQ(log[56], "move");
    EXPECT_EQ(h.recorder.text, "a ");
}

TEST(StraightKey, ElementClosesOnThirdKeyUpTick) {
    Harness h;
    h.run("down 5, up 2");
    EXPECT_EQ(h.state.elements.elementIndex, 0);
    EXPECT_EQ(h.state.elements.gapDebounce, 1);
    h.run("up 1");
    EXPECT_EQ(h.state.elements.elementIndex, 1);
    EXPECT_EQ(h.state.elements.durations[0], 5);
}

struct KeyingRow {
    const char* name;
    const char* scenario;
    const char* text;
    TimingParameters timing{9, 13, 27, 9, 9, 45};
};

class StraightKeyingTest : public ::testing::TestWithParam<KeyingRow> {};

TEST_P(StraightKeyingTest, DecodesTo) {
    Harness h;
    h.timing = GetParam().timing;
    h.run(GetParam().scenario);
    EXPECT_EQ(h.recorder.text, GetParam().text);
}

// Ten short elements; each closes after a 3-tick gap.
#define TEN_DOTS                                                                           \
    "down 2, up 3, down 2, up 3, down 2, up 3, down 2, up 3, down 2, up 3, down 2, up 3, " \
    "down 2, up 3, down 2, up 3, down 2, up 3, down 2, up 3"

INSTANTIATE_TEST_SUITE_P(
    Scenarios, StraightKeyingTest,
    ::testing::Values(
        KeyingRow{"dot_at_8_ticks", "down 8, up 30", "e "},
        KeyingRow{"dash_at_9_ticks_equal_to_threshold", "down 9, up 30", "t "},
        KeyingRow{"dash_at_10_ticks", "down 10, up 30", "t "},
        KeyingRow{"gap_of_2_joins_one_element", "down 5, up 2, down 5, up 30", "t "},
        KeyingRow{"gap_of_1_joins_one_element", "down 4, up 1, down 4, up 30", "e "},
        KeyingRow{"gap_of_3_makes_two_elements", "down 5, up 3, down 5, up 30", "i "},
        KeyingRow{"a_from_4_3_12", "down 4, up 3, down 12, up 30", "a "},
        KeyingRow{"no_decode_after_12_up_ticks", "down 5, up 12", ""},
        KeyingRow{"decode_on_13th_up_tick", "down 5, up 13", "e"},
        KeyingRow{"no_word_space_after_26", "down 5, up 26", "e"},
        KeyingRow{"word_space_on_27th", "down 5, up 27", "e "},
        KeyingRow{"gap_of_12_stays_in_character", "down 5, up 12, down 12, up 30", "a "},
        KeyingRow{"gap_of_13_ends_character", "down 5, up 13, down 12, up 30", "et "},
        KeyingRow{"gap_of_27_ends_word", "down 5, up 27, down 12, up 30", "e t "},
        KeyingRow{"right_arrow_keeps_element_after_line_opens", "cts+right 5, right 5, up 30",
                  "t "},
        KeyingRow{"right_ctrl_keys", "rctl 9, up 30", "t "},
        KeyingRow{"left_ctrl_keys", "lctl 4, up 30", "e "},
        KeyingRow{"left_arrow_keys", "left 4, up 3, left 12, up 30", "a "},
        KeyingRow{"dsr_line_keys", "dsr 9, up 30", "t "},
        KeyingRow{"ring_line_keys", "ring 4, up 30", "e "},
        KeyingRow{"rlsd_line_keys", "rlsd 4, up 30", "e "},
        KeyingRow{"ten_elements_are_ER", TEN_DOTS ", up 30", "ER "},
        KeyingRow{"eleven_elements_wrap_to_empty_ER", TEN_DOTS ", down 2, up 30", "ER "},
        KeyingRow{"twelfth_adds_to_first_dot_sum", "down 4, up 3, " TEN_DOTS ", down 4, up 30",
                  "e "},
        KeyingRow{"twelfth_adds_to_first_dash_sum", "down 5, up 3, " TEN_DOTS ", down 4, up 30",
                  "t "},
        KeyingRow{"decode_time_1_loses_last_element",
                  "down 12, up 20, down 12, up 40",
                  "ERe ",
                  {9, 1, 27, 9, 9, 45}},
        KeyingRow{"decode_time_2_loses_last_element",
                  "down 12, up 20, down 12, up 40",
                  "ERe ",
                  {9, 2, 27, 9, 9, 45}},
        KeyingRow{"decode_time_3_counts_last_element",
                  "down 12, up 20, down 12, up 40",
                  "tt ",
                  {9, 3, 27, 9, 9, 45}},
        KeyingRow{
            "negative_decode_time_never_decodes", "down 5, up 60", " ", {9, -4, 27, 9, 9, 45}}),
    rowName);

TEST(StraightKey, ElementClosesBeforeDecodeAndDecodeBeforeWordSpaceInOneTick) {
    Harness h;
    h.timing = {9, 3, 3, 9, 9, 45};
    const Log log = h.run("down 4, up 3");
    EXPECT_EQ(log[6], "adv move char:e space");
}

TEST(StraightKey, FirstKeyDownTickAdvancesTwiceWhileWordSpacePending) {
    Harness h;
    const Log log = h.run("down 5, up 5, down 1");
    EXPECT_EQ(log[10], "adv on adv mark wrap check");
}

TEST(StraightKey, IdleTickOnlyMovesThePen) {
    Harness h;
    EXPECT_EQ(h.run("up 3"), (Log{"move", "move", "move"}));
}

TEST(StraightKey, SidetoneFollowsRawKeyAcrossShortGaps) {
    Harness h;
    const Log log = h.run("down 5, up 1, down 5, up 1");
    EXPECT_EQ(ticksWith(log, "on"), (std::vector<int>{0, 6}));
    EXPECT_EQ(ticksWith(log, "off"), (std::vector<int>{5, 11}));
}

TEST(StraightKey, TimingChangeTakesEffectAtNextTick) {
    Harness h;
    h.run("down 6, up 3");
    h.timing.dotTime = 6;  // the 6-tick element is now a dash
    h.run("up 20");
    EXPECT_EQ(h.recorder.text, "t");
}

struct QueryRow {
    const char* name;
    const char* held;
    std::vector<KeyboardKey> queried;
    bool keyboardKeyDown;
};

class KeyboardQueryTest : public ::testing::TestWithParam<QueryRow> {};

TEST_P(KeyboardQueryTest, ArrowQueriedOnlyWhenCtrlReadsUp) {
    Harness h;
    h.run(GetParam().held);
    EXPECT_EQ(h.recorder.queries, GetParam().queried);
    EXPECT_EQ(h.state.keyboardKeyDown, GetParam().keyboardKeyDown);
}

using K = KeyboardKey;
INSTANTIATE_TEST_SUITE_P(
    Keys, KeyboardQueryTest,
    ::testing::Values(
        QueryRow{"none", "up 1", {K::RightControl, K::Right, K::LeftControl, K::Left}, false},
        QueryRow{"right_ctrl", "rctl 1", {K::RightControl, K::LeftControl, K::Left}, true},
        QueryRow{
            "right_arrow", "right 1", {K::RightControl, K::Right, K::LeftControl, K::Left}, true},
        QueryRow{"left_ctrl", "lctl 1", {K::RightControl, K::Right, K::LeftControl}, true},
        QueryRow{"both_ctrl", "rctl+lctl 1", {K::RightControl, K::LeftControl}, true},
        QueryRow{
            "line_only", "cts 1", {K::RightControl, K::Right, K::LeftControl, K::Left}, false}),
    rowName);

TEST(DecodeTick, NestedRunReturnsAtOnce) {
    Harness h;
    int nested = 0;
    h.recorder.onToneOn = [&] {
        ++nested;
        h.tick.run();
    };
    const Log log = h.run("down 1");
    EXPECT_EQ(nested, 1);
    EXPECT_EQ(log[0], "on adv mark wrap check");
    EXPECT_EQ(h.recorder.queries.size(), 4U);
    EXPECT_EQ(h.state.elements.durations[0], 1);
    EXPECT_FALSE(h.state.tickBusy);
}

TEST(DecodeTick, NestedRunDoesNotUpdatePreviousKeyDown) {
    Harness h;
    h.recorder.onToneOn = [&] {
        h.recorder.input = {};  // the nested run would see the key up
        h.tick.run();
    };
    h.run("down 1");
    EXPECT_TRUE(h.state.previousKeyDown);
}

TEST(DecodeTick, ThrowingOperationDoesNotLeaveTickBusy) {
    Harness h;
    h.recorder.onToneOn = [] { throw std::runtime_error("device gone"); };
    EXPECT_THROW(h.run("down 1"), std::runtime_error);
    EXPECT_FALSE(h.state.tickBusy);
    h.recorder.onToneOn = nullptr;
    h.run("up 1");  // the next tick runs; the throw came before anything was counted
    EXPECT_EQ(h.recorder.ops, "move");
}

}  // namespace
}  // namespace dittix::keying::test
