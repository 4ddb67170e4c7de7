#include "app/qt/Artwork.h"

#include <QWidget>

namespace ordana::qt {

QPixmap picture(const QString& name, const QWidget* widget) {
    const QString base = QStringLiteral(":/ordana/") + name;
    if (widget->devicePixelRatioF() > 1) {
        QString sharp = base;
        sharp.insert(sharp.lastIndexOf(QLatin1Char('.')), QStringLiteral("@2x"));
        QPixmap pixmap(sharp);
        if (!pixmap.isNull()) {
            pixmap.setDevicePixelRatio(2);
            return pixmap;
        }
    }
    return QPixmap(base);
}

QIcon applicationIcon() {
    // The 48 is found with its @2x beside it.
    QIcon icon(QStringLiteral(":/ordana/ordana.png"));
    for (int size : {16, 22, 24, 32, 64, 128, 256})
        icon.addFile(QStringLiteral(":/ordana/icons/ordana-%1.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace ordana::qt
