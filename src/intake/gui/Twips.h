#pragma once

// The window's layout is given in twips (1/1440 inch): 1440 / logical DPI twips to a pixel, 15 at 96 DPI.

#include <QPoint>
#include <QRect>
#include <QSize>

namespace ordana::gui {

struct TwipsPerPixel {
    double x = 15;
    double y = 15;

    static TwipsPerPixel forDpi(double dpiX, double dpiY) { return {1440.0 / dpiX, 1440.0 / dpiY}; }
};

inline int twipsToPixels(int twips, double twipsPerPixel) {
    return qRound(twips / twipsPerPixel);
}

inline QRect twipsRect(int left, int top, int width, int height, TwipsPerPixel tpp) {
    return {twipsToPixels(left, tpp.x), twipsToPixels(top, tpp.y), twipsToPixels(width, tpp.x),
            twipsToPixels(height, tpp.y)};
}

// Top-left corner of a window of the given outer size centred on the screen: the halving is done in twips,
// in single precision, and converted back to pixels.
inline QPoint centredTopLeft(const QRect& screen, const QSize& outer, TwipsPerPixel tpp) {
    const float left = (float(screen.width() * tpp.x) - float(outer.width() * tpp.x)) / 2.0f;
    const float top = (float(screen.height() * tpp.y) - float(outer.height() * tpp.y)) / 2.0f;
    return screen.topLeft() + QPoint(qRound(left / tpp.x), qRound(top / tpp.y));
}

} // namespace ordana::gui
