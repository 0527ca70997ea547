// Global keyboard state on X11: XInput2 raw key events give presses and releases as they happen,
// wherever the focus is; the key map is read at the start and then once a second to stay in step.
// Uses a display connection of its own, never the toolkit's.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>

#include <array>

#include "platform/keyboard_query.h"

namespace dittix::platform {

namespace {

class X11Keyboard : public KeyboardQuery {
  public:
    X11Keyboard(Display* display, int xiOpcode) : m_display(display), m_xiOpcode(xiOpcode) {
        // The main block's arrows and Ctrl keys only: the keypad's arrows have key codes of
        // their own and do not key.
        const KeySym syms[4] = {XK_Control_R, XK_Right, XK_Control_L, XK_Left};
        for (std::size_t i = 0; i < 4; ++i) {
            m_codes[i] = XKeysymToKeycode(m_display, syms[i]);
        }
        XIEventMask mask{};
        unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
        XISetMask(bits, XI_RawKeyPress);
        XISetMask(bits, XI_RawKeyRelease);
        mask.deviceid = XIAllMasterDevices;
        mask.mask_len = sizeof(bits);
        mask.mask = bits;
        XISelectEvents(m_display, DefaultRootWindow(m_display), &mask, 1);
        XFlush(m_display);
        readKeymap();
    }

    ~X11Keyboard() override { XCloseDisplay(m_display); }
    X11Keyboard(const X11Keyboard&) = delete;
    X11Keyboard& operator=(const X11Keyboard&) = delete;

    void refresh() override {
        // Only what has already arrived: no round trip to the server on an ordinary tick.
        while (XEventsQueued(m_display, QueuedAfterReading) > 0) {
            XEvent event;
            XNextEvent(m_display, &event);
            XGenericEventCookie* cookie = &event.xcookie;
            if (cookie->type != GenericEvent || cookie->extension != m_xiOpcode ||
                !XGetEventData(m_display, cookie)) {
                continue;
            }
            const auto* raw = static_cast<const XIRawEvent*>(cookie->data);
            if (cookie->evtype == XI_RawKeyPress) {
                // An auto-repeated press is no new press: the key is down anyway.
                if ((raw->flags & XIKeyRepeat) == 0) {
                    set(static_cast<KeyCode>(raw->detail), true);
                }
            } else if (cookie->evtype == XI_RawKeyRelease) {
                set(static_cast<KeyCode>(raw->detail), false);
            }
            XFreeEventData(m_display, cookie);
        }
        if (++m_refreshes % kRefreshesPerKeymapRead == 0) {
            readKeymap();
        }
    }

    bool keyPressed(KeyboardKey key) override {
        const auto i = static_cast<std::size_t>(key);
        const bool pressed = m_down[i] || m_pressedSince[i];
        m_pressedSince[i] = false;
        return pressed;
    }

  private:
    static constexpr unsigned kRefreshesPerKeymapRead = 100;

    void set(KeyCode code, bool down) {
        for (std::size_t i = 0; i < 4; ++i) {
            if (m_codes[i] != 0 && m_codes[i] == code) {
                m_down[i] = down;
                m_pressedSince[i] = m_pressedSince[i] || down;
            }
        }
    }

    void readKeymap() {
        std::array<char, 32> keymap{};
        XQueryKeymap(m_display, keymap.data());
        for (std::size_t i = 0; i < 4; ++i) {
            const KeyCode code = m_codes[i];
            m_down[i] = code != 0 && (keymap[code / 8] & (1 << (code % 8))) != 0;
        }
    }

    Display* m_display;
    int m_xiOpcode;
    std::array<KeyCode, 4> m_codes{};
    std::array<bool, 4> m_down{};
    std::array<bool, 4> m_pressedSince{};
    unsigned m_refreshes = 0;
};

}  // namespace

std::unique_ptr<KeyboardQuery> openX11Keyboard() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return nullptr;
    }
    int opcode = 0;
    int event = 0;
    int error = 0;
    int major = 2;
    int minor = 0;
    if (!XQueryExtension(display, "XInputExtension", &opcode, &event, &error) ||
        XIQueryVersion(display, &major, &minor) != Success) {
        XCloseDisplay(display);
        return nullptr;
    }
    return std::make_unique<X11Keyboard>(display, opcode);
}

}  // namespace dittix::platform
