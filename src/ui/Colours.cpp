#include "ui/Colours.h"

#include <algorithm>
#include <cmath>

namespace ordana::ui {

namespace {

// Relative luminance as WCAG 2 defines it.
double luminance(Rgb c) {
    const auto channel = [](int value) {
        const double v = value / 255.0;
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.red) + 0.7152 * channel(c.green) + 0.0722 * channel(c.blue);
}

} // namespace

double contrastRatio(Rgb a, Rgb b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

Rgb labelGrey(Rgb window) {
    if (contrastRatio(kDarkGrey, window) >= 4.5) return kDarkGrey;
    return {255 - kDarkGrey.red, 255 - kDarkGrey.green, 255 - kDarkGrey.blue};
}

} // namespace ordana::ui
