// Windows hidden on close, their display server's windows kept.
#include "platform/kept_window.h"

#include <QCloseEvent>
#include <QWidget>

namespace dittix::platform {

void hideKeepingWindow(QWidget& window, QCloseEvent& event) {
    // An accepted close would destroy the platform window; a refused one leaves it, and the
    // window hides itself.
    event.ignore();
    window.hide();
}

void prepareWindow(QWidget& window) {
    // A top-level widget's id is its platform window's: asking for it makes the window.
    static_cast<void>(window.winId());
}

}  // namespace dittix::platform
