#include "gui/Placement.h"

#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <cmath>

namespace ordana::gui {

int twipsToPixels(int twips, qreal logicalDpi) {
    return static_cast<int>(std::lround(twips * logicalDpi / 1440.0));
}

QRect twipsRect(int left, int top, int width, int height, qreal logicalDpiX, qreal logicalDpiY) {
    return {twipsToPixels(left, logicalDpiX), twipsToPixels(top, logicalDpiY),
            twipsToPixels(width, logicalDpiX), twipsToPixels(height, logicalDpiY)};
}

QRect twipsRect(const QWidget* widget, int left, int top, int width, int height) {
    return twipsRect(left, top, width, height, widget->logicalDpiX(), widget->logicalDpiY());
}

QPoint centredOn(const QRect& screen, const QSize& outer) {
    // Halved in floating point, as the layout unit allows half pixels; the frame lands on the nearer pixel.
    const auto half = [](int free) { return static_cast<int>(std::floor(free / 2.0f + 0.5f)); };
    return {screen.x() + half(screen.width() - outer.width()),
            screen.y() + half(screen.height() - outer.height())};
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

} // namespace ordana::gui
