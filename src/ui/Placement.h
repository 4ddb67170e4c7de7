#pragma once

// Where the windows stand and how big they are, for both skins. Every window is laid out in twips, 1/1440
// inch: 15 to a pixel at 96 dots per inch, fewer pixels per twip on a screen set to larger text.

namespace ordana::ui {

// The nearest whole pixel; a half pixel goes up.
int twipsToPixels(int twips, double dpi);

struct Point {
    int x, y;
    friend bool operator==(const Point&, const Point&) = default;
};
struct Size {
    int width, height;
};
struct Rect {
    int left, top, width, height;
};

// Where the frame of a window of the given outer size stands when centred on the screen. Halved in floating
// point, as the layout unit allows half pixels, the frame landing on the nearer pixel (a half one goes up).
// On a screen smaller than the window the result lies before the screen's corner, so the window's edges fall
// off the screen on both sides.
Point centredOn(Rect screen, Size outer);

} // namespace ordana::ui
