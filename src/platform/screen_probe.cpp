// Screen probe on the toolkit's screen geometry.
#include "platform/screen_probe.h"

#include <QScreen>
#include <QWidget>

namespace dittix::platform {

bool WidgetScreenProbe::rowVisible(int clientRow) const {
    if (clientRow < 0 || clientRow >= m_window.height()) {
        return false;
    }
    const QScreen* screen = m_window.screen();
    if (screen == nullptr) {
        return true;
    }
    const int y = m_window.mapToGlobal(QPoint(0, clientRow)).y();
    const QRect available = screen->availableGeometry();
    return y >= available.top() && y <= available.bottom();
}

}  // namespace dittix::platform
