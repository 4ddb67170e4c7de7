#pragma once

#include <QIcon>
#include <QPixmap>

class QWidget;

namespace ordana::qt {

// A picture of the resources at its natural size in logical pixels, drawn from its 2x version where the
// widget's screen has more than one device pixel to a logical one.
QPixmap picture(const QString& name, const QWidget* widget);

// The application icon: the 256-colour 48 x 48 of the windows and its 2x, with the other desktop sizes.
QIcon applicationIcon();

} // namespace ordana::qt
