// Keyboard state from the program's own key events.
#include "platform/keyboard_query.h"

namespace dittix::platform {

namespace {
std::size_t slot(KeyboardKey key) {
    return static_cast<std::size_t>(key);
}
}  // namespace

void EventKeyboard::press(KeyboardKey key) {
    m_down[slot(key)] = true;
    m_pressedSince[slot(key)] = true;
}

void EventKeyboard::release(KeyboardKey key) {
    m_down[slot(key)] = false;
}

bool EventKeyboard::keyPressed(KeyboardKey key) {
    const bool pressed = m_down[slot(key)] || m_pressedSince[slot(key)];
    m_pressedSince[slot(key)] = false;
    return pressed;
}

}  // namespace dittix::platform
