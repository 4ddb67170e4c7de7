#include "app/qt/FrmAbout.h"

#include "app/qt/Artwork.h"
#include "app/qt/Placement.h"
#include "ui/Shell.h"

#include <QFrame>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QWindow>

namespace ordana::qt {

FrmAbout::FrmAbout(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowIcon(applicationIcon());
    setSizeGripEnabled(false);
    const qreal dx = logicalDpiX();
    const qreal dy = logicalDpiY();
    setFixedSize(twipsToPixels(7350, dx), twipsToPixels(3615, dy));

    // Created in this order, so the tab order puts the button first and the focus on it.
    frmDespre = new QLabel(this);
    frmDespre->setObjectName(QStringLiteral("frmDespre"));
    frmDespre->setGeometry(twipsRect(120, 120, 2985, 3375, dx, dy));
    frmDespre->setFrameStyle(QFrame::Box | QFrame::Plain);
    frmDespre->setLineWidth(1);
    frmDespre->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    frmDespre->setPixmap(picture(QStringLiteral("about.jpg"), this));
    QPalette pictureColours = frmDespre->palette();
    pictureColours.setColor(QPalette::Window, pictureColours.color(QPalette::Base));
    pictureColours.setColor(QPalette::WindowText, Qt::black);
    frmDespre->setPalette(pictureColours);
    frmDespre->setAutoFillBackground(true);

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setGeometry(twipsRect(5880, 3120, 1260, 345, dx, dy));
    cmdOK->setDefault(true);
    connect(cmdOK, &QPushButton::clicked, this, &FrmAbout::cmdOK_Click);

    Line1 = new QFrame(this);
    Line1->setObjectName(QStringLiteral("Line1"));
    Line1->setFrameShape(QFrame::NoFrame);
    Line1->setGeometry(twipsToPixels(3240, dx), twipsToPixels(600, dy), twipsToPixels(7080 - 3240, dx), 1);
    QPalette ruleColour = Line1->palette();
    ruleColour.setColor(QPalette::Window, QColor(128, 128, 128));
    Line1->setPalette(ruleColour);
    Line1->setAutoFillBackground(true);

    QPalette labelColours = palette();
    labelColours.setColor(QPalette::WindowText, Qt::black);

    lblDescriere = new QLabel(this);
    lblDescriere->setObjectName(QStringLiteral("lblDescriere"));
    lblDescriere->setGeometry(twipsRect(3240, 720, 3885, 2370, dx, dy));
    lblDescriere->setTextFormat(Qt::PlainText);
    lblDescriere->setWordWrap(true);
    lblDescriere->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblDescriere->setPalette(labelColours);

    lblTitle = new QLabel(this);
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    lblTitle->setGeometry(twipsRect(3240, 120, 2565, 360, dx, dy));
    lblTitle->setTextFormat(Qt::PlainText);
    lblTitle->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblTitle->setPalette(labelColours);
}

QString FrmAbout::titleText() {
    return QString::fromStdString(ui::about::titleText());
}

QString FrmAbout::descriptionText() {
    return QString::fromStdString(ui::about::descriptionText());
}

void FrmAbout::centre() {
    frameAtLoad_ = centreOnScreen(this);
}

void FrmAbout::Form_Load() {
    loaded_ = true;
    centre();
    setWindowState(windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
    setWindowTitle(QString::fromStdString(ui::about::caption()));
    lblTitle->setText(titleText());
    lblDescriere->setText(descriptionText());
}

void FrmAbout::cmdOK_Click() {
    accept();
}

void FrmAbout::reject() {
    cmdOK_Click();
}

void FrmAbout::showEvent(QShowEvent* event) {
    // Each opening loads the box again; a restore from the task bar is no opening.
    if (!event->spontaneous()) {
        if (QWindow* handle = windowHandle()) handle->installEventFilter(this);
        Form_Load();
        cmdOK->setFocus(Qt::OtherFocusReason);
    }
    QDialog::showEvent(event);
}

void FrmAbout::keyPressEvent(QKeyEvent* event) {
    // OK is the cancel button too: Esc presses it rather than rejecting behind its back.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        cmdOK->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool FrmAbout::eventFilter(QObject* watched, QEvent* event) {
    // The window manager's frame becomes known at the first exposure, after the load step centred the box
    // by its bare size.
    if (watched == windowHandle() && event->type() == QEvent::Expose && loaded_ && isVisible() &&
        frameMargins(this) != frameAtLoad_)
        centre();
    return QDialog::eventFilter(watched, event);
}

void FrmAbout::done(int result) {
    // Closing unloads the box: nothing of this showing is left for the next but what Form_Load sets.
    loaded_ = false;
    lblTitle->clear();
    lblDescriere->clear();
    QDialog::done(result);
}

} // namespace ordana::qt
