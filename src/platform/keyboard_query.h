// The four keyboard keys that stand in for the telegraph key, read regardless of which window
// has the focus. A key counts as pressed when it is down now or was pressed since the previous
// query of that key, so a tap shorter than a tick is not lost.
#pragma once

#include <array>
#include <memory>

#include "keying/tick_port.h"

namespace dittix::platform {

using keying::KeyboardKey;

class KeyboardQuery {
  public:
    virtual ~KeyboardQuery() = default;

    // Takes in what happened since the last refresh; called once at the start of every tick.
    virtual void refresh() {}
    virtual bool keyPressed(KeyboardKey key) = 0;

  protected:
    KeyboardQuery() = default;
};

// Fed with the key events of the program's own windows: for platforms where the keyboard
// cannot be read globally (Wayland without X11, the offscreen platform), and for tests.
class EventKeyboard : public KeyboardQuery {
  public:
    void press(KeyboardKey key);
    void release(KeyboardKey key);
    bool keyPressed(KeyboardKey key) override;

  private:
    std::array<bool, 4> m_down{};
    std::array<bool, 4> m_pressedSince{};
};

// The keyboard of the X11 display named by DISPLAY, through a connection of its own: raw key
// presses (XInput2) are latched between ticks, and the key map gives the state now. nullptr
// when there is no X display or it lacks XInput2.
std::unique_ptr<KeyboardQuery> openX11Keyboard();

#if defined(_WIN32)
std::unique_ptr<KeyboardQuery> openWindowsKeyboard();
#endif

}  // namespace dittix::platform
