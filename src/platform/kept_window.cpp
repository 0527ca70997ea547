// Windows hidden on close, their display server's windows kept.
#include "platform/kept_window.h"

#include <QBackingStore>
#include <QCloseEvent>
#include <QPainter>
#include <QWidget>

namespace dittix::platform {

void hideKeepingWindow(QWidget& window, QCloseEvent& event) {
    // An accepted close would destroy the platform window; a refused one leaves it, and the
    // window hides itself.
    event.ignore();
    window.hide();
}

void prepareWindow(QWidget& window) {
    // A top-level widget's id is its platform window's: asking for it makes the window, and
    // with it the window's backing store.
    static_cast<void>(window.winId());
    // Styles and fonts are applied to the window and its controls now rather than on the first
    // showing.
    window.ensurePolished();
    // The backing store's image is made at the window's size and the window painted into it
    // once, so that the first showing paints into memory already mapped, with the glyphs and
    // the style's pieces already drawn once: a fresh image of a large window costs the
    // interface thread tens of milliseconds of page faults on a slow machine.
    QBackingStore* store = window.backingStore();
    if (store == nullptr || window.size().isEmpty()) {
        return;
    }
    const QRect all(QPoint(0, 0), window.size());
    store->resize(window.size());
    store->beginPaint(all);
    if (QPaintDevice* device = store->paintDevice()) {
        QPainter painter(device);
        window.render(&painter, QPoint(), QRegion(all));
    }
    store->endPaint();
}

}  // namespace dittix::platform
