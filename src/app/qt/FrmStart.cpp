#include "app/qt/FrmStart.h"

#include "app/qt/Artwork.h"
#include "app/qt/FrmAbout.h"
#include "app/qt/FrmIndici.h"
#include "app/qt/Placement.h"
#include "app/qt/Preferences.h"

#include <QAction>
#include <QEvent>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QWindow>

#include <utility>

namespace ordana::qt {

namespace {
constexpr Qt::WindowStates notNormal = Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen;
}

FrmStart::FrmStart(spreadsheet::ApplicationFactory start, std::string workbook, QWidget* parent)
    : QMainWindow(parent), start_(std::move(start)), workbook_(std::move(workbook)),
      preferences_(std::make_unique<Preferences>()) {
    setObjectName(QStringLiteral("frmStart"));
    setWindowTitle(QString::fromUtf8(ui::start::kCaption));
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
    Picture1->setGeometry(twipsRect(this, 0, 0, ui::start::kPictureWidth, ui::start::kPictureHeight));
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
    const auto actionFor = [this](QAction* action, const ui::MenuItem& item) {
        action->setObjectName(QString::fromStdString(item.name));
        if (!item.shortcut.empty()) action->setShortcut(QKeySequence(QString::fromStdString(item.shortcut)));
        const ui::Command command = item.command;
        connect(action, &QAction::triggered, this, [this, command] { ui::run(command, *this); });
        return action;
    };
    for (const ui::MenuItem& entry : ui::mainMenu()) {
        const QString caption = QString::fromStdString(entry.caption);
        if (entry.items.empty()) {
            // A command straight on the menu bar, without a drop-down.
            QAction* action = actionFor(menuBar()->addAction(caption), entry);
            if (entry.command == ui::Command::About) mnuDespre = action;
            continue;
        }
        QMenu* menu = menuBar()->addMenu(caption);
        menu->setObjectName(QString::fromStdString(entry.name));
        menu->menuAction()->setObjectName(QString::fromStdString(entry.name) + QStringLiteral("Action"));
        mnuOptiuni = menu;
        for (const ui::MenuItem& item : entry.items) {
            if (item.isSeparator()) {
                menu->addSeparator()->setObjectName(QString::fromStdString(item.name));
                continue;
            }
            QAction* action = actionFor(menu->addAction(QString::fromStdString(item.caption)), item);
            if (item.command == ui::Command::Indices) mnuIndici = action;
            if (item.command == ui::Command::Exit) mnuIesire = action;
        }
    }
}

void FrmStart::mnuIndici_Click() {
    ui::run(ui::Command::Indices, *this);
}

void FrmStart::mnuDespre_Click() {
    ui::run(ui::Command::About, *this);
}

void FrmStart::mnuIesire_Click() {
    ui::run(ui::Command::Exit, *this);
}

void FrmStart::showIndicesWindow() {
    if (!frmIndici_) frmIndici_ = new FrmIndici(start_, this, preferences_.get());
    frmIndici_->exec();
}

void FrmStart::showAboutBox() {
    if (!frmAbout_) frmAbout_ = new FrmAbout(this);
    frmAbout_->exec();
}

void FrmStart::closeMainWindow() {
    close();
}

void FrmStart::Form_Resize() {
    // A minimised or maximised window can be neither sized nor moved, so only the restore applies then; the
    // run that the restore brings about sizes and centres it.
    const bool normal = !(windowState() & notNormal);
    if (normal) {
        const QMargins frame = frameMargins(this);
        resize(outerSize.shrunkBy(frame));
        frameAtLastResize_ = centreOnScreen(this);
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
    if (!workbook_.empty()) {
        // Queued: the main window is painted before the modal one takes over.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (workbook_.empty()) return;
                if (!frmIndici_) frmIndici_ = new FrmIndici(start_, this, preferences_.get());
                frmIndici_->chooseAtOpening(std::exchange(workbook_, {}));
                showIndicesWindow();
            },
            Qt::QueuedConnection);
    }
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

} // namespace ordana::qt
