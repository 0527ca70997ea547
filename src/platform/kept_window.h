// Secondary windows that hide when closed and keep their window on the display server, so that
// showing them again does not make a new one on the interface thread (5 to 12 ms on X11).
#pragma once

class QCloseEvent;
class QWidget;

namespace dittix::platform {

// For the end of a window's close handler: the window hides and keeps its display server's
// window, which closing would give back.
void hideKeepingWindow(QWidget& window, QCloseEvent& event);
// Makes the window's display server window and its backing store's image now, at start-up, and
// polishes its controls, so that its first showing does none of it.
void prepareWindow(QWidget& window);

}  // namespace dittix::platform
