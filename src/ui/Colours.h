#pragma once

// The colours both skins give the indices window's frame, and the test that keeps its captions readable.

namespace ordana::ui {

struct Rgb {
    int red, green, blue; // 0 to 255
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// The frame's labels and the text of the path box and the list; the ground of those two.
inline constexpr Rgb kDarkGrey{64, 64, 64};
inline constexpr Rgb kLightGrey{224, 224, 224};

// The contrast ratio of two colours as WCAG 2 defines it: 1 for equal colours, 21 for black on white.
double contrastRatio(Rgb a, Rgb b);

// The frame's captions on the window's colour: dark grey, or, on a ground too dark for it (a dark or
// high-contrast theme), the same grey mirrored towards white, still a shade quieter than the theme's text.
Rgb labelGrey(Rgb window);

} // namespace ordana::ui
