// Global keyboard state on Windows: GetAsyncKeyState reports a key down now or pressed since
// the previous call.
#include <windows.h>

#include "platform/keyboard_query.h"

namespace dittix::platform {

namespace {

class WindowsKeyboard : public KeyboardQuery {
  public:
    bool keyPressed(KeyboardKey key) override {
        static constexpr int kCodes[4] = {VK_RCONTROL, VK_RIGHT, VK_LCONTROL, VK_LEFT};
        return GetAsyncKeyState(kCodes[static_cast<int>(key)]) != 0;
    }
};

}  // namespace

std::unique_ptr<KeyboardQuery> openWindowsKeyboard() {
    return std::make_unique<WindowsKeyboard>();
}

}  // namespace dittix::platform
