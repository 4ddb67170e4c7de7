#include "ui/Placement.h"

#include <cmath>

namespace ordana::ui {

int twipsToPixels(int twips, double dpi) {
    return static_cast<int>(std::lround(twips * dpi / 1440.0));
}

Point centredOn(Rect screen, Size outer) {
    const auto half = [](int free) { return static_cast<int>(std::floor(free / 2.0 + 0.5)); };
    return {screen.left + half(screen.width - outer.width), screen.top + half(screen.height - outer.height)};
}

} // namespace ordana::ui
