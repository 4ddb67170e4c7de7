#pragma once

// The shared placement rules (ui/Placement.h) in Qt's terms, and what only Qt needs: the window manager's
// frame around a window and the frame's own position.

#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

namespace ordana::qt {

int twipsToPixels(int twips, qreal logicalDpi);
QRect twipsRect(int left, int top, int width, int height, qreal logicalDpiX, qreal logicalDpiY);
// The same, at the widget's own logical DPI.
QRect twipsRect(const QWidget* widget, int left, int top, int width, int height);

// Where the frame of a window of the given outer size stands when centred on the screen.
QPoint centredOn(const QRect& screen, const QSize& outer);

// The window system's frame (borders and title bar) around the window's client area; zero before the
// window has a frame, or where the platform draws none.
QMargins frameMargins(const QWidget* window);

// Puts the top-left corner of the window's frame at the point. The platform is asked to place the frame
// itself, so a frame that the window manager has not reported yet is still accounted for.
void placeFrame(QWidget* window, const QPoint& topLeft);

// Centres the window's frame on its screen at its present size; returns the frame it went by.
QMargins centreOnScreen(QWidget* window);

} // namespace ordana::qt
