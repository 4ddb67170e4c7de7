#pragma once

#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

namespace ordana::app {

// The windows are laid out in twips, 1/1440 inch: 15 to a logical pixel at 96 logical dots per inch, fewer
// pixels per twip on a screen set to larger text.
int twipsToPixels(int twips, qreal logicalDpi);
QRect twipsRect(int left, int top, int width, int height, qreal logicalDpiX, qreal logicalDpiY);

// Where the frame of a window of the given outer size stands when centred on the screen. On a screen smaller
// than the window the result is negative, so the window's edges lie off the screen on both sides.
QPoint centredOn(const QRect& screen, const QSize& outer);

// The window system's frame (borders and title bar) around the window's client area; zero before the
// window has a frame, or where the platform draws none.
QMargins frameMargins(const QWidget* window);

// Puts the top-left corner of the window's frame at the point. The platform is asked to place the frame
// itself, so a frame that the window manager has not reported yet is still accounted for.
void placeFrame(QWidget* window, const QPoint& topLeft);

} // namespace ordana::app
