// A window's outer size, frame included: the sizes the windows are specified by. The frame is
// known only once the window system has framed the window; before that it counts as none.
#pragma once

#include <QSize>

class QWidget;

namespace dittix::platform {

// The frame's extent beyond the client area, never negative.
QSize frameExtent(const QWidget& window);
QSize outerSize(const QWidget& window);
// Resizes the client area so that the window with its frame has `outer` size; `fixed` also
// keeps the user from resizing it.
void setOuterSize(QWidget& window, QSize outer, bool fixed = false);

}  // namespace dittix::platform
