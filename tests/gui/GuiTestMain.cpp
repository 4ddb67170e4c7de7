#include "app/qt/AppIdentity.h"

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// The windows are driven headless; CTest sets the platform too, this covers a run by hand and the test
// listing at build time.
int main(int argc, char* argv[]) {
    // The offscreen platform cannot pass a fixed size on to a window manager, and says so at every showing.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& message) {
        if (!message.contains(QLatin1String("propagateSizeHints"))) qt_message_output(type, context, message);
    });
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ordana::qt::installIdentity(app);
    // The windows remember choices in QSettings: never in the user's own settings.
    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
