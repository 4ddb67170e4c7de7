// Starts Ordana as main() does, opens each window the way a user would (F3, Alt+D) and saves a picture of
// the whole screen with each one open, plus the measured window frames. Run by scripts/screenshots.sh.
#include "app/qt/AppIdentity.h"
#include "app/qt/FrmStart.h"
#include "spreadsheet/Spreadsheet.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <QTextStream>
#include <QTimer>
#include <QWindow>

#include <cstdio>

namespace {

QString outDir;
QString report;

void note(const QString& name, const QWidget* w) {
    const QRect f = w->windowHandle()->frameGeometry(); // live, as the window manager has it
    const QRect c = w->geometry();
    report += QStringLiteral("%1: \"%2\" frame %3x%4 at %5,%6; client %7x%8\n")
                  .arg(name, w->windowTitle())
                  .arg(f.width())
                  .arg(f.height())
                  .arg(f.x())
                  .arg(f.y())
                  .arg(c.width())
                  .arg(c.height());
}

bool shoot(const QString& name) {
    // The root window: what the screen shows, window frames and all.
    const QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0);
    const QString path = QDir(outDir).filePath(name + QStringLiteral(".png"));
    if (screen.isNull() || !screen.save(path)) {
        std::fprintf(stderr, "ordana_tour: cannot save %s\n", qPrintable(path));
        return false;
    }
    std::printf("ordana_tour: %s\n", qPrintable(path));
    return true;
}

// Presses the key on the main window; once the modal window it opens has settled, photographs the screen
// and closes the window with Esc.
bool visit(ordana::qt::FrmStart& main, Qt::Key key, Qt::KeyboardModifiers modifiers, const QString& name) {
    main.activateWindow();
    if (!QTest::qWaitForWindowActive(&main)) return false;
    bool seen = false;
    QTimer::singleShot(1200, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal) return;
        seen = true;
        note(name, modal);
        shoot(name);
        QTest::keyClick(modal, Qt::Key_Escape);
        if (modal->isVisible()) modal->close();
    });
    QTest::keyClick(&main, key, modifiers);
    if (!seen) std::fprintf(stderr, "ordana_tour: %s did not open\n", qPrintable(name));
    return seen;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: ordana_tour OUTDIR\n");
        return 2;
    }
    outDir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(outDir);
    ordana::qt::installIdentity(app);
    ordana::qt::FrmStart frmStart(ordana::spreadsheet::nativeApplicationFactory());
    frmStart.show();

    int failures = 0;
    QTimer::singleShot(1500, [&] {
        note(QStringLiteral("main"), &frmStart);
        failures += !shoot(QStringLiteral("main"));
        failures += !visit(frmStart, Qt::Key_F3, Qt::NoModifier, QStringLiteral("indices"));
        failures += !visit(frmStart, Qt::Key_D, Qt::AltModifier, QStringLiteral("about"));
        // The menu dropped down by Alt+O, shown over the main window.
        frmStart.activateWindow();
        (void)QTest::qWaitForWindowActive(&frmStart);
        QTest::keyClick(&frmStart, Qt::Key_O, Qt::AltModifier);
        QTest::qWait(500);
        if (!QApplication::activePopupWidget())
            std::fprintf(stderr, "ordana_tour: the menu did not drop down\n");
        failures += !shoot(QStringLiteral("menu"));
        if (QWidget* menu = QApplication::activePopupWidget()) menu->close();
        note(QStringLiteral("main after"), &frmStart);
        frmStart.close();
    });
    const int rc = app.exec();

    QFile file(QDir(outDir).filePath(QStringLiteral("geometry.txt")));
    if (file.open(QIODevice::WriteOnly | QIODevice::Text)) QTextStream(&file) << report;
    std::printf("%s", qPrintable(report));
    return rc != 0 || failures != 0;
}
