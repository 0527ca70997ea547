// Outer window sizes.
#include "platform/window_frame.h"

#include <QWidget>

namespace dittix::platform {

QSize frameExtent(const QWidget& window) {
    return (window.frameGeometry().size() - window.geometry().size()).expandedTo(QSize(0, 0));
}

QSize outerSize(const QWidget& window) {
    return window.size() + frameExtent(window);
}

void setOuterSize(QWidget& window, QSize outer, bool fixed) {
    const QSize client = outer - frameExtent(window);
    if (fixed) {
        window.setFixedSize(client);
    } else {
        window.resize(client);
    }
}

}  // namespace dittix::platform
