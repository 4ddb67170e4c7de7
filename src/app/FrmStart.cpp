#include "app/FrmStart.h"

#include "app/Artwork.h"
#include "app/FrmAbout.h"
#include "gui/Placement.h"
#include "intake/gui/FrmIndici.h"

#include <QAction>
#include <QEvent>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QWindow>

namespace ordana::app {

using gui::frameMargins;

namespace {
constexpr Qt::WindowStates notNormal = Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen;
}

FrmStart::FrmStart(spreadsheet::ApplicationFactory start, QWidget* parent)
    : QMainWindow(parent), start_(std::move(start)) {
    setObjectName(QStringLiteral("frmStart"));
    setWindowTitle(QStringLiteral("ORDANA"));
    setWindowIcon(applicationIcon());
    createPicture();
    createMenus();
}

FrmStart::~FrmStart() = default;

void FrmStart::createPicture() {
    // No layout: the box keeps its place and size whatever the frame leaves of the client area.
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("clientArea"));
    setCentralWidget(client);

    Picture1 = new QLabel(client);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setGeometry(gui::twipsRect(this, 0, 0, 6815, 5655));
    Picture1->setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
    Picture1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Picture1->setPixmap(picture(QStringLiteral("title.jpg"), this));
    QPalette palette = Picture1->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Button));
    Picture1->setPalette(palette);
    Picture1->setAutoFillBackground(true);
}

void FrmStart::createMenus() {
    // Always in the window: the picture and the fixed outer size are laid out around it.
    menuBar()->setNativeMenuBar(false);
    mnuOptiuni = menuBar()->addMenu(QStringLiteral("&Optiuni"));
    mnuOptiuni->setObjectName(QStringLiteral("mnuOptiuni"));
    mnuOptiuni->menuAction()->setObjectName(QStringLiteral("mnuOptiuniAction"));

    mnuIndici = mnuOptiuni->addAction(QStringLiteral("&Calculul indicilor"));
    mnuIndici->setObjectName(QStringLiteral("mnuIndici"));
    mnuIndici->setShortcut(QKeySequence(Qt::Key_F3));
    connect(mnuIndici, &QAction::triggered, this, &FrmStart::mnuIndici_Click);

    mnuOptiuni->addSeparator()->setObjectName(QStringLiteral("separator"));

    mnuIesire = mnuOptiuni->addAction(QStringLiteral("&Iesire"));
    mnuIesire->setObjectName(QStringLiteral("mnuIesire"));
    connect(mnuIesire, &QAction::triggered, this, &FrmStart::mnuIesire_Click);

    // A command straight on the menu bar, without a drop-down.
    mnuDespre = menuBar()->addAction(QStringLiteral("&Despre"));
    mnuDespre->setObjectName(QStringLiteral("mnuDespre"));
    connect(mnuDespre, &QAction::triggered, this, &FrmStart::mnuDespre_Click);
}

void FrmStart::mnuIndici_Click() {
    if (!frmIndici_) frmIndici_ = new gui::FrmIndici(start_, this);
    frmIndici_->exec();
}

void FrmStart::mnuDespre_Click() {
    if (!frmAbout_) frmAbout_ = new FrmAbout(this);
    frmAbout_->exec();
}

void FrmStart::mnuIesire_Click() {
    close();
}

void FrmStart::Form_Resize() {
    // A minimised or maximised window can be neither sized nor moved, so only the restore applies then; the
    // run that the restore brings about sizes and centres it.
    const bool normal = !(windowState() & notNormal);
    if (normal) {
        const QMargins frame = frameMargins(this);
        resize(outerSize.shrunkBy(frame));
        frameAtLastResize_ = gui::centreOnScreen(this);
        return;
    }
    restoring_.setRemainingTime(1000);
    setWindowState(windowState() & ~notNormal);
    // Some platforms restore to the old geometry without a resize event; ask for the run ourselves.
    QMetaObject::invokeMethod(this, &FrmStart::Form_Resize, Qt::QueuedConnection);
}

void FrmStart::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    Form_Resize();
}

void FrmStart::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (QWindow* handle = windowHandle()) handle->installEventFilter(this);
}

bool FrmStart::eventFilter(QObject* watched, QEvent* event) {
    // A window manager puts its frame around the window after the first showing and tells the frame's size
    // no sooner than the first exposure, without a resize: the outer size and the centre are worked out
    // again then. Later exposures find the frame unchanged and leave the window where the user put it.
    if (watched == windowHandle() && event->type() == QEvent::Expose &&
        frameMargins(this) != frameAtLastResize_)
        Form_Resize();
    return QMainWindow::eventFilter(watched, event);
}

void FrmStart::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    // A window manager may put the window back where it stood before a maximise after our restore has
    // placed it; for a short while such a move is answered. Later moves are the user's and are kept.
    if (!restoring_.hasExpired() && !(windowState() & notNormal)) Form_Resize();
}

void FrmStart::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // A change of state raises no resize event here; answer it once the change has settled.
    if (event->type() == QEvent::WindowStateChange)
        QMetaObject::invokeMethod(this, &FrmStart::Form_Resize, Qt::QueuedConnection);
}

} // namespace ordana::app
