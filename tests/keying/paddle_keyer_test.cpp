// The decode tick in paddle mode: element timing, memories, alternation, reverse, mode switches.
#include "keying/paddle_keyer.h"

#include <gtest/gtest.h>

#include "support/named_rows.h"

#include "tick_recorder.h"

namespace dittix::keying::test {
namespace {

using test_support::PrintTo;
using test_support::rowName;

using Log = std::vector<std::string>;

Harness paddles() {
    Harness h;  // D = 9, decodeTimeP 9, blankTimeP 45
    h.modes.paddleMode = true;
    return h;
}

TEST(PaddleKeyer, OneDotExactTicks) {
    Harness h = paddles();
    const Log log = h.run("dot 1, none 120");
    EXPECT_EQ(log[0], "on wrap move check");
    EXPECT_EQ(log[1], "adv mark wrap check");
    EXPECT_EQ(log[8], "adv mark wrap check");
    EXPECT_EQ(log[9], "adv mark wrap check off");
    EXPECT_EQ(log[10], "adv move wrap check");
    EXPECT_EQ(log[18], "adv move wrap check");
    EXPECT_EQ(log[19], "adv wrap move check");
    EXPECT_EQ(log[27], "adv wrap move check char:e");
    EXPECT_EQ(log[63], "adv wrap move check space");
    EXPECT_EQ(log[64], "wrap move check");
    EXPECT_EQ(ticksWith(log, "mark").size(), 9U);
    EXPECT_EQ(h.recorder.text, "e ");
}

TEST(PaddleKeyer, OneDashTonesTwentySevenTicksAndEndsAfterThirtySix) {
    Harness h = paddles();
    const Log log = h.run("dash 1, none 120");
    EXPECT_EQ(ticksWith(log, "off"), (std::vector<int>{27}));
    EXPECT_EQ(ticksWith(log, "mark").size(), 27U);
    EXPECT_EQ(log[36], "adv move wrap check");
    EXPECT_EQ(log[37], "adv wrap move check");
    EXPECT_EQ(ticksWith(log, "char:t"), (std::vector<int>{36 + 9}));
    EXPECT_EQ(h.recorder.text, "t ");
}

TEST(PaddleKeyer, HeldDotPaddleRepeatsEveryNineteenTicks) {
    Harness h = paddles();
    const Log log = h.run("dot 60, none 120");
    EXPECT_EQ(ticksWith(log, "on"), (std::vector<int>{0, 19, 38, 57}));
    EXPECT_EQ(ticksWith(log, "off"), (std::vector<int>{9, 28, 47, 66}));
    EXPECT_EQ(h.recorder.text, "h ");
}

TEST(PaddleKeyer, BothHeldAlternateStartingWithDotAfterProgramStart) {
    Harness h = paddles();
    const Log log = h.run("both 100");
    EXPECT_EQ(ticksWith(log, "on"), (std::vector<int>{0, 19, 56, 75}));
    EXPECT_EQ(ticksWith(log, "off"), (std::vector<int>{9, 46, 65}));
}

TEST(PaddleKeyer, BothHeldAfterADotStartWithDash) {
    Harness h = paddles();
    h.run("dot 1, none 120");
    h.recorder.text.clear();
    h.run("both 1, none 90");
    EXPECT_EQ(h.recorder.text, "t ");
}

struct PaddleRow {
    const char* name;
    const char* scenario;
    const char* text;
    bool memoriaPunto = true;
    bool reverse = false;
    std::int32_t dotTimeP = 9;
};

class PaddleKeyingTest : public ::testing::TestWithParam<PaddleRow> {};

TEST_P(PaddleKeyingTest, DecodesTo) {
    Harness h = paddles();
    h.modes.memoriaPunto = GetParam().memoriaPunto;
    h.modes.paddleReverse = GetParam().reverse;
    h.timing.dotTimeP = GetParam().dotTimeP;
    h.run(GetParam().scenario);
    EXPECT_EQ(h.recorder.text, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, PaddleKeyingTest,
    ::testing::Values(
        // Ticks 1-9 are the dot's tone, 9-18 its gap (the tone ends in tick 9), 19 idle.
        PaddleRow{"dash_in_last_tone_tick_forgotten", "dot 1, none 7, dash 1, none 120", "e "},
        PaddleRow{"dash_in_tick_tone_ends_remembered", "dot 1, none 8, dash 1, none 120", "a "},
        PaddleRow{"dash_in_last_gap_tick_remembered", "dot 1, none 17, dash 1, none 120", "a "},
        PaddleRow{"dash_in_first_idle_tick_starts", "dot 1, none 18, dash 1, none 120", "a "},
        PaddleRow{"dash_during_tone_only_forgotten", "dot 1, none 3, dash 3, none 120", "e "},
        PaddleRow{"both_released_in_second_tone_give_a", "both 25, none 120", "a "},
        PaddleRow{"both_without_memoria_punto_send_nothing", "both 60, none 120", "", false},
        PaddleRow{"both_then_dash_only_without_memoria_punto", "both 5, dash 1, none 120", "t ",
                  false},
        PaddleRow{"dot_memory_then_dash_in_gap_sends_dash",
                  "dot 1, none 9, dot 1, none 2, dash 1, none 120", "a "},
        PaddleRow{"dot_memory_then_dash_in_gap_drops_both_without_memoria",
                  "dot 1, none 9, dot 1, none 2, dash 1, none 120", "e ", false},
        PaddleRow{"dash_still_closed_after_conflict_sends_without_memoria",
                  "dot 1, none 9, dot 1, none 2, dash 7, none 120", "a ", false},
        PaddleRow{"dot_memory_alone_sends_dot_without_memoria", "dot 1, none 9, dot 1, none 120",
                  "i ", false},
        PaddleRow{"rlsd_is_dot", "rlsd 1, none 120", "e "},
        PaddleRow{"right_keys_are_dot", "right 1, none 120", "e "},
        PaddleRow{"right_ctrl_is_dot", "rctl 1, none 120", "e "},
        PaddleRow{"cts_is_dash", "cts 1, none 120", "t "},
        PaddleRow{"left_keys_are_dash", "left 1, none 120", "t "},
        PaddleRow{"dsr_keys_nothing", "dsr 5, none 120", ""},
        PaddleRow{"ring_keys_nothing", "ring 5, none 120", ""},
        PaddleRow{"reverse_cts_is_dot", "cts 1, none 120", "e ", true, true},
        PaddleRow{"reverse_left_ctrl_is_dot", "lctl 1, none 120", "e ", true, true},
        PaddleRow{"reverse_rlsd_is_dash", "rlsd 1, none 120", "t ", true, true},
        PaddleRow{"reverse_right_is_dash", "right 1, none 120", "t ", true, true},
        PaddleRow{"reverse_dsr_keys_nothing", "dsr 5, none 120", "", true, true},
        // The first dot's decode falls on tick 27.
        PaddleRow{"dot_starting_before_decode_tick_joins", "dot 1, none 25, dot 1, none 120", "i "},
        PaddleRow{"dot_starting_in_decode_tick_is_decoded_with_it",
                  "dot 1, none 26, dot 1, none 120", "iER "},
        PaddleRow{"dot_starting_after_decode_tick_is_new_character",
                  "dot 1, none 27, dot 1, none 120", "ee "},
        PaddleRow{"zero_dot_time_works_as_one", "dot 1, none 60", "e ", true, false, 0},
        PaddleRow{"negative_dot_time_works_as_one", "dash 1, none 60", "t ", true, false, -7}),
    rowName);

TEST(PaddleKeyer, ZeroDotTimeToneEnds) {
    Harness h = paddles();
    h.timing.dotTimeP = 0;
    const Log log = h.run("dot 1, none 5");
    EXPECT_EQ(ticksWith(log, "on"), (std::vector<int>{0}));
    EXPECT_EQ(ticksWith(log, "off"), (std::vector<int>{1}));
    EXPECT_EQ(paddleDotTicks(h.timing), 1);
}

TEST(PaddleKeyer, EleventhElementOverwritesSlotTen) {
    Harness h = paddles();
    h.run("dot 191");  // eleven dots start at ticks 0, 19, ... 190
    EXPECT_EQ(ticksWith(h.run("none 18"), "on").size(), 0U);
    EXPECT_EQ(h.state.elements.elementIndex, 10);
    EXPECT_EQ(h.state.elements.durations[10], 4);
    h.run("dash 1");  // a twelfth element, started in idle tick 209: recorded in slot 10 again
    EXPECT_EQ(h.state.elements.elementIndex, 10);
    EXPECT_EQ(h.state.elements.durations[10], 18);
    h.run("none 120");
    EXPECT_EQ(h.recorder.text, "ER ");
}

TEST(PaddleKeyer, LastWasDotSurvivesCharacters) {
    Harness h = paddles();
    h.run("dot 1, none 70, dash 1, none 120");
    EXPECT_FALSE(h.state.paddle.lastWasDot);
    h.run("both 1, none 120");  // after a dash, both paddles start with a dot
    EXPECT_EQ(h.recorder.text, "e t e ");
}

TEST(ModeSwitch, StraightElementFinishedWithPaddleDash) {
    Harness h;
    h.run("down 4, up 3");
    h.modes.paddleMode = true;
    h.run("dash 1, none 120");
    EXPECT_EQ(h.recorder.text, "a ");
}

TEST(ModeSwitch, PaddleDotFinishedWithStraightDash) {
    Harness h = paddles();
    h.run("dot 1, none 18");
    h.modes.paddleMode = false;
    h.run("down 12, up 40");
    EXPECT_EQ(h.recorder.text, "a ");
}

TEST(ModeSwitch, KeyerToneGoesOnUntilStraightKeyGoesUpAgain) {
    Harness h = paddles();
    Log log = h.run("dot 1, none 3");
    EXPECT_EQ(ticksWith(log, "off").size(), 0U);
    h.modes.paddleMode = false;
    log = h.run("up 20, down 1, up 1");
    EXPECT_EQ(ticksWith(log, "off"), (std::vector<int>{21}));
    EXPECT_EQ(ticksWith(log, "on"), (std::vector<int>{20}));
    EXPECT_EQ(h.state.paddle.elementCountdown, 15);  // kept for when paddle mode returns
}

TEST(ModeSwitch, KeyerResumesItsElementWhenPaddleModeReturns) {
    Harness h = paddles();
    h.run("dot 1, none 3");
    h.modes.paddleMode = false;
    h.run("up 2");
    h.modes.paddleMode = true;
    const Log log = h.run("none 20");
    EXPECT_EQ(ticksWith(log, "off"), (std::vector<int>{5}));  // tone count resumes from 6
}

}  // namespace
}  // namespace dittix::keying::test
