// The X11 keyboard adapter against a real X server (Xvfb in the test run), keyed with XTest
// while a window of another client has the focus.
#include <gtest/gtest.h>

// After the test framework: the X headers define macros such as None and Bool.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/keyboard_query.h"
#include "support/named_rows.h"

namespace dittix::platform {
namespace {

using test_support::PrintTo;
using test_support::rowName;

class X11KeyboardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::getenv("DISPLAY") == nullptr) {
            GTEST_SKIP() << "needs an X server (the test script starts Xvfb)";
        }
        m_display = XOpenDisplay(nullptr);
        ASSERT_NE(m_display, nullptr);
        // Another client's window takes the focus.
        m_window =
            XCreateSimpleWindow(m_display, DefaultRootWindow(m_display), 0, 0, 100, 100, 0, 0, 0);
        XMapWindow(m_display, m_window);
        XSync(m_display, False);
        XSetInputFocus(m_display, m_window, RevertToParent, CurrentTime);
        XSync(m_display, False);
        m_keyboard = openX11Keyboard();
        ASSERT_NE(m_keyboard, nullptr);
    }

    void TearDown() override {
        if (m_display != nullptr) {
            XDestroyWindow(m_display, m_window);
            XCloseDisplay(m_display);
        }
    }

    void fake(KeySym sym, bool down) {
        XTestFakeKeyEvent(m_display, XKeysymToKeycode(m_display, sym), down ? True : False, 0);
        XSync(m_display, False);
    }

    // Lets the server's events reach the adapter's own connection, then takes them in.
    void settleAndRefresh() {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        m_keyboard->refresh();
    }

    Display* m_display = nullptr;
    Window m_window = 0;
    std::unique_ptr<KeyboardQuery> m_keyboard;
};

struct KeyRow {
    const char* name;
    KeySym sym;
    KeyboardKey key;
};

class X11KeyTest : public X11KeyboardTest, public ::testing::WithParamInterface<KeyRow> {};

TEST_P(X11KeyTest, HeldKeyReadsDownOnlyForItself) {
    fake(GetParam().sym, true);
    settleAndRefresh();
    for (const KeyboardKey other : {KeyboardKey::RightControl, KeyboardKey::Right,
                                    KeyboardKey::LeftControl, KeyboardKey::Left}) {
        EXPECT_EQ(m_keyboard->keyPressed(other), other == GetParam().key);
    }
    EXPECT_TRUE(m_keyboard->keyPressed(GetParam().key));  // still held
    fake(GetParam().sym, false);
    settleAndRefresh();
    EXPECT_FALSE(m_keyboard->keyPressed(GetParam().key));
}

INSTANTIATE_TEST_SUITE_P(
    Keys, X11KeyTest,
    ::testing::Values(KeyRow{"right_ctrl", XK_Control_R, KeyboardKey::RightControl},
                      KeyRow{"right_arrow", XK_Right, KeyboardKey::Right},
                      KeyRow{"left_ctrl", XK_Control_L, KeyboardKey::LeftControl},
                      KeyRow{"left_arrow", XK_Left, KeyboardKey::Left}),
    rowName);

TEST_F(X11KeyboardTest, TapBetweenTwoTicksIsSeenExactlyOnce) {
    settleAndRefresh();
    EXPECT_FALSE(m_keyboard->keyPressed(KeyboardKey::RightControl));
    fake(XK_Control_R, true);
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    fake(XK_Control_R, false);
    settleAndRefresh();
    EXPECT_TRUE(m_keyboard->keyPressed(KeyboardKey::RightControl));
    EXPECT_FALSE(m_keyboard->keyPressed(KeyboardKey::RightControl));
    settleAndRefresh();
    EXPECT_FALSE(m_keyboard->keyPressed(KeyboardKey::RightControl));
}

TEST_F(X11KeyboardTest, KeypadArrowsDoNotKey) {
    const KeyCode keypadRight = XKeysymToKeycode(m_display, XK_KP_Right);
    ASSERT_NE(keypadRight, XKeysymToKeycode(m_display, XK_Right));
    fake(XK_KP_Right, true);
    fake(XK_KP_Left, true);
    settleAndRefresh();
    EXPECT_FALSE(m_keyboard->keyPressed(KeyboardKey::Right));
    EXPECT_FALSE(m_keyboard->keyPressed(KeyboardKey::Left));
    fake(XK_KP_Right, false);
    fake(XK_KP_Left, false);
}

}  // namespace
}  // namespace dittix::platform
