#include "app/qt/AppIdentity.h"

#include "app/qt/Artwork.h"
#include "common/Identity.h"

#include <QApplication>
#include <QIcon>

// The resources live in this static library; naming the initialiser keeps the linker from dropping them.
static void initResources() {
    Q_INIT_RESOURCE(ordana);
}

namespace ordana::qt {

void installIdentity(QApplication& app) {
    initResources();
    QApplication::setApplicationName(QString::fromUtf8(identity::title));
    QApplication::setApplicationVersion(QString::fromUtf8(identity::version));
    QGuiApplication::setDesktopFileName(QString::fromUtf8(identity::desktopId));
    app.setWindowIcon(applicationIcon());
}

} // namespace ordana::qt
