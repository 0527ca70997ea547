// The keyboard fed from the program's own key events keeps a press until it is queried.
#include <gtest/gtest.h>

#include "platform/keyboard_query.h"

namespace dittix::platform {
namespace {

TEST(EventKeyboard, PressSeenUntilQueriedEvenWhenReleasedBefore) {
    EventKeyboard k;
    k.press(KeyboardKey::Left);
    k.release(KeyboardKey::Left);
    EXPECT_FALSE(k.keyPressed(KeyboardKey::Right));
    EXPECT_TRUE(k.keyPressed(KeyboardKey::Left));
    EXPECT_FALSE(k.keyPressed(KeyboardKey::Left));
    k.press(KeyboardKey::RightControl);
    EXPECT_TRUE(k.keyPressed(KeyboardKey::RightControl));
    EXPECT_TRUE(k.keyPressed(KeyboardKey::RightControl));  // held
    k.release(KeyboardKey::RightControl);
    EXPECT_FALSE(k.keyPressed(KeyboardKey::RightControl));
}

}  // namespace
}  // namespace dittix::platform
