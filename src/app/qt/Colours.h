#pragma once

// The toolkit-free colours (ui/Colours.h) in Qt's terms.

#include "ui/Colours.h"

#include <QColor>

namespace ordana::qt {

inline ui::Rgb rgb(const QColor& c) {
    return {c.red(), c.green(), c.blue()};
}
inline QColor colour(ui::Rgb c) {
    return {c.red, c.green, c.blue};
}

} // namespace ordana::qt
