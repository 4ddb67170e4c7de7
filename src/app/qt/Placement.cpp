#include "app/qt/Placement.h"

#include "ui/Placement.h"

#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace ordana::qt {

int twipsToPixels(int twips, qreal logicalDpi) {
    return ui::twipsToPixels(twips, logicalDpi);
}

QRect twipsRect(int left, int top, int width, int height, qreal logicalDpiX, qreal logicalDpiY) {
    return {twipsToPixels(left, logicalDpiX), twipsToPixels(top, logicalDpiY),
            twipsToPixels(width, logicalDpiX), twipsToPixels(height, logicalDpiY)};
}

QRect twipsRect(const QWidget* widget, int left, int top, int width, int height) {
    return twipsRect(left, top, width, height, widget->logicalDpiX(), widget->logicalDpiY());
}

QPoint centredOn(const QRect& screen, const QSize& outer) {
    const ui::Point at = ui::centredOn({screen.x(), screen.y(), screen.width(), screen.height()},
                                       {outer.width(), outer.height()});
    return {at.x, at.y};
}

QMargins frameMargins(const QWidget* window) {
    const QWindow* handle = window->windowHandle();
    if (!handle) return {};
    // While a window manager is still taking the window in, X reports nonsense (negative) margins.
    const QMargins m = handle->frameMargins();
    return m.left() < 0 || m.top() < 0 || m.right() < 0 || m.bottom() < 0 ? QMargins() : m;
}

void placeFrame(QWidget* window, const QPoint& topLeft) {
    // QWidget::move() converts through the frame it last heard of, which can lag behind the window manager;
    // once the window is on screen the platform places the frame itself. Before that the widget's own
    // geometry is what the showing applies.
    window->move(topLeft);
    if (QWindow* handle = window->windowHandle(); handle && handle->isVisible())
        handle->setFramePosition(topLeft);
}

QMargins centreOnScreen(QWidget* window) {
    const QMargins frame = frameMargins(window);
    if (const QScreen* s = window->screen())
        placeFrame(window, centredOn(s->geometry(), window->size().grownBy(frame)));
    return frame;
}

} // namespace ordana::qt
