#include "FrmIndici.h"

#include "Dialogs.h"

#include "analysis/ResultsWriter.h"
#include "common/Identity.h"
#include "common/RuntimeError.h"
#include "gui/Placement.h"
#include "intake/DataSheet.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QShowEvent>
#include <QStatusBar>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <exception>
#include <new>
#include <optional>

namespace ordana::gui {

namespace {

const QString kCaption = QStringLiteral("  Calculul indicilor de evaluare a biodiversitatii");
const QString kAppTitle = QString::fromUtf8(identity::title);

const QString kStatusChooseFile = QStringLiteral(" Selectati fisierul si apoi foaia ce contine datele!");
const QString kStatusReady =
    QStringLiteral(" Selectati datele si apoi apasati butonul de prelucrare a datelor!");
const QString kStatusWorking = QStringLiteral(" Procesare...");
const QString kStatusDone = QStringLiteral(" Prelucrare efectuata");

const QString kDialogTitle = QStringLiteral("Alege fisierul Excel");
// Every workbook the engines open first, then the documented Excel entry, then each format alone.
const QStringList kFilters = {
    QStringLiteral("Registre de calcul  (*.xls *.xlsx *.xlsm *.ods)"),
    QStringLiteral("Fisiere Excel  (*.xls)"),
    QStringLiteral("Fisiere Excel 2007-365  (*.xlsx *.xlsm)"),
    QStringLiteral("Fisiere OpenDocument  (*.ods)"),
    QStringLiteral("Toate fisierele  (*)"),
};

const QString kActiveX = QStringLiteral("Eroare la inregistrarea unei componente ActiveX");
const QString kOpenCaption = QStringLiteral("Deschiderea fisierului Excel");
const QString kPassword = QStringLiteral("Parola nu s-a introdus sau e incorecta ");
const QString kReadCaption1004 = QStringLiteral("Accesarea  fisierului Excel");
const QString kReadCaption = QStringLiteral("Accesarea fisierului Excel");
const QString kUnreachable = QStringLiteral("Fisier inaccesibil");
const QString kWriteCaption = QStringLiteral("Eroare la scrierea in fisier");
const QString kDriveUnreachable = QStringLiteral("Unitate inacesibila");
const QString kFileInUse = QStringLiteral("Fisierul este in uz sau este protejat la scriere");

const QColor kDarkGrey(64, 64, 64);
const QColor kLightGrey(224, 224, 224);

// Twips of the layout: left, top, width, height.
struct Place {
    int left, top, width, height;
};
constexpr Place kFraFisier{120, 120, 6615, 3615};
constexpr Place kCmdFis{120, 600, 1935, 375};
constexpr Place kTxtLocatie{2160, 600, 4335, 345};
constexpr Place kLblFis{240, 1560, 1815, 255};
constexpr Place kCboFoaie{2520, 1560, 3015, 315};
constexpr Place kCmdCalcul{3120, 3840, 1695, 375};
constexpr Place kCmdCancel{5040, 3840, 1695, 375};
constexpr int kStatusBarHeight = 495;

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

// The busy cursor for as long as a command works.
class BusyCursor {
  public:
    BusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QGuiApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

// Runs a command's body and hands any failure to the command's error branch, outside the catch so that a
// Retry runs the command again from a clean state. Failures that are not numbered run-time errors (memory, a
// library's own exception) take the automation runtime's numbers for them instead of ending the program.

template <class Body, class Branch> void withErrorBranch(Body&& body, Branch&& branch) {
    std::optional<RuntimeError> failure;
    try {
        body();
    } catch (const RuntimeError& e) {
        failure = e;
    } catch (const std::bad_alloc&) {
        failure.emplace(err::OutOfMemory, "Memorie insuficienta");
    } catch (const std::exception& e) {
        failure.emplace(err::Internal, std::string("Eroare interna: ") + e.what());
    }
    if (failure) branch(*failure);
}

// Relative luminance and contrast ratio as WCAG 2 defines them.
double luminance(const QColor& c) {
    const auto channel = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

// The frame's labels are dark grey. On a dark window colour dark grey cannot be read, so there they take the
// same grey mirrored towards white, which keeps them a shade quieter than the palette's own text.
QColor labelGrey(const QPalette& palette) {
    const QColor window = palette.color(QPalette::Active, QPalette::Window);
    return contrastRatio(kDarkGrey, window) >= 4.5 ? kDarkGrey : QColor(255 - 64, 255 - 64, 255 - 64);
}

// Text roles only: a role set here is inherited by every child, and the buttons in the frame must keep the
// palette's own button text.
void setTextColour(QWidget* widget, const QColor& text, std::optional<QColor> background) {
    QPalette palette = widget->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::WindowText, text);
        palette.setColor(group, QPalette::Text, text);
    }
    if (background) {
        palette.setColor(QPalette::Base, *background);
        palette.setColor(QPalette::Button, *background);
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
            palette.setColor(group, QPalette::ButtonText, text);
    }
    widget->setPalette(palette);
}

} // namespace

double contrastRatio(const QColor& a, const QColor& b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

FrmIndici::FrmIndici(spreadsheet::ApplicationFactory start, QWidget* parent)
    : QDialog(parent), start_(std::move(start)) {
    setObjectName(QStringLiteral("frmIndici"));
    setWindowTitle(kCaption);
    // Fixed single border: minimise and close, no maximise, no context help.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setSizeGripEnabled(false);
    setFixedSize(kOuterWidth, kOuterHeight);
    createControls();
    initialState();
}

FrmIndici::~FrmIndici() = default;

void FrmIndici::createControls() {
    // The platform's dialog font at the 8 points the layout was drawn for; captions fit their controls.
    QFont dialogFont = QApplication::font(this);
    dialogFont.setPointSize(8);
    setFont(dialogFont);

    auto place = [this](QWidget* widget, const Place& p) {
        widget->setGeometry(twipsRect(this, p.left, p.top, p.width, p.height));
    };

    FraFisier = new QGroupBox(QStringLiteral("  Sursa date  "), this);
    FraFisier->setObjectName(QStringLiteral("FraFisier"));
    place(FraFisier, kFraFisier);

    cmdFis = new QPushButton(QStringLiteral("Fisierul cu datele"), FraFisier);
    cmdFis->setObjectName(QStringLiteral("cmdFis"));
    place(cmdFis, kCmdFis);
    cmdFis->setCursor(Qt::PointingHandCursor);

    txtLocatie = new QLineEdit(FraFisier);
    txtLocatie->setObjectName(QStringLiteral("txtLocatie"));
    place(txtLocatie, kTxtLocatie);
    txtLocatie->setReadOnly(true);
    // Arial 9 pt; fontconfig maps Arial to its metric twin (Liberation Sans) where Arial is absent.
    QFont arial(QStringLiteral("Arial"), 9);
    arial.setStyleHint(QFont::SansSerif);
    txtLocatie->setFont(arial);

    lblFis = new QLabel(QStringLiteral("Alege foaia de calcul"), FraFisier);
    lblFis->setObjectName(QStringLiteral("lblFis"));
    place(lblFis, kLblFis);

    cboFoaie = new QComboBox(FraFisier);
    cboFoaie->setObjectName(QStringLiteral("cboFoaie"));
    place(cboFoaie, kCboFoaie);
    cboFoaie->setEditable(false);
    applyColours();

    cmdCalcul = new QPushButton(QStringLiteral("Prelucrarea datelor"), this);
    cmdCalcul->setObjectName(QStringLiteral("cmdCalcul"));
    place(cmdCalcul, kCmdCalcul);

    cmdCancel = new QPushButton(QStringLiteral("Inchide modulul"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    place(cmdCancel, kCmdCancel);

    // Enter presses the button that has the focus, and only that one (see eventFilter). No button is a
    // default, so Enter on the list or the path box starts nothing.
    for (QPushButton* button : {cmdFis, cmdCalcul, cmdCancel}) {
        button->setAutoDefault(false);
        button->setDefault(false);
        button->installEventFilter(this);
    }

    StatusBar = new QStatusBar(this);
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    StatusBar->setSizeGripEnabled(false);
    statusLabel_ = new QLabel(StatusBar);
    statusLabel_->setObjectName(QStringLiteral("StatusBarText"));
    // The one text area as a sunken panel across the bar, as status bars are drawn on the desktop; some
    // styles (Fusion) draw no edge of their own.
    statusLabel_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    statusLabel_->setLineWidth(1);
    statusLabel_->setMargin(1);
    StatusBar->setStyleSheet(QStringLiteral("QStatusBar::item { border: none; }"));
    StatusBar->addWidget(statusLabel_, 1);
    StatusBar->setFixedHeight(twipsToPixels(kStatusBarHeight, logicalDpiY()));
    placeStatusBar();

    // Tab order: cmdCancel first, then the frame's controls, then the calculation.
    setTabOrder(cmdCancel, cboFoaie);
    setTabOrder(cboFoaie, cmdFis);
    setTabOrder(cmdFis, txtLocatie);
    setTabOrder(txtLocatie, cmdCalcul);
    setTabOrder(cmdCalcul, cmdCancel);

    connect(cmdFis, &QPushButton::clicked, this, &FrmIndici::cmdFis_Click);
    connect(cboFoaie, &QComboBox::activated, this, &FrmIndici::cboFoaie_Click);
    connect(cmdCalcul, &QPushButton::clicked, this, &FrmIndici::cmdCalcul_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &FrmIndici::cmdCancel_Click);
}

// The controls as laid out, before Form_Load.
void FrmIndici::initialState() {
    cboFoaie->clear();
    cboFoaie->setEnabled(false);
    txtLocatie->clear();
    cmdCalcul->setEnabled(true);
    setStatusText(QString());
    cmdCancel->setFocus();
}

QString FrmIndici::statusText() const {
    return statusLabel_->text();
}

void FrmIndici::setStatusText(const QString& text) {
    statusLabel_->setText(text);
}

void FrmIndici::placeStatusBar() {
    StatusBar->setGeometry(0, height() - StatusBar->height(), width(), StatusBar->height());
}

void FrmIndici::showEvent(QShowEvent* event) {
    // A restore from the minimised state is spontaneous; only an opening rebuilds the controls.
    if (!event->spontaneous()) {
        initialState();
        Form_Load();
        Form_Resize();
    }
    QDialog::showEvent(event);
}

void FrmIndici::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    placeStatusBar();
    Form_Resize();
}

void FrmIndici::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        Form_Resize();
    else if (event->type() == QEvent::ActivationChange)
        refitToFrame();
}

bool FrmIndici::event(QEvent* event) {
    const bool handled = QDialog::event(event);
    if (event->type() == QEvent::Move)
        refitToFrame();
    else if (event->type() == QEvent::ApplicationPaletteChange)
        applyColours();
    return handled;
}

bool FrmIndici::eventFilter(QObject* watched, QEvent* event) {
    // An auto-default button would also become the dialog's default whenever the focus rests elsewhere.
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        auto* button = qobject_cast<QPushButton*>(watched);
        if (button && button->isEnabled() && key->modifiers() == Qt::NoModifier &&
            (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
            button->click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void FrmIndici::applyColours() {
    const QColor grey = labelGrey(QApplication::palette(this));
    setTextColour(FraFisier, grey, std::nullopt);
    setTextColour(lblFis, grey, std::nullopt);
    // The path box and the list keep their light grey ground, on which dark grey always reads.
    setTextColour(txtLocatie, kDarkGrey, kLightGrey);
    setTextColour(cboFoaie, kDarkGrey, kLightGrey);
}

// The window manager's frame is known only some time after the first showing, by the time the window is
// activated; size and centre again once it is. A move by the title bar leaves the frame as it was, and the
// window where the user put it.
void FrmIndici::refitToFrame() {
    if (isVisible() && windowHandle() && frameMargins(this) != frameMargins_)
        QMetaObject::invokeMethod(this, &FrmIndici::Form_Resize, Qt::QueuedConnection);
}

void FrmIndici::Form_Load() {
    cmdCalcul->setEnabled(false);
    setStatusText(kStatusChooseFile);
}

void FrmIndici::Form_Resize() {
    if (resizing_) return;
    resizing_ = true;
    const Qt::WindowStates abnormal = Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen;
    // A minimised or maximised window cannot be sized or moved; the restore below brings this handler back.
    if (!(windowState() & abnormal)) {
        frameMargins_ = frameMargins(this);
        setFixedSize(QSize(kOuterWidth, kOuterHeight).shrunkBy(frameMargins_));
        // The resize event of a window about to be shown may come too late for the docked bar.
        placeStatusBar();
        centreOnScreen(this);
    } else {
        // Queued: the window system is still delivering the state change that brought us here.
        QMetaObject::invokeMethod(
            this, [this, abnormal] { setWindowState(windowState() & ~abnormal); }, Qt::QueuedConnection);
    }
    resizing_ = false;
}

void FrmIndici::cmdFis_Click() {
    std::optional<BusyCursor> busy;
    withErrorBranch(
        [&] {
            sheetName_.clear();
            const std::optional<QString> chosen = FileDialog::getOpenFileName(this, kDialogTitle, kFilters);
            if (!chosen) throw RuntimeError(err::Cancelled, "Selectia fisierului a fost anulata");
            if (chosen->isEmpty()) return;
            busy.emplace();
            workbookPath_ = chosen->toStdString();
            // Whatever sample is held belongs to another workbook from now on.
            cmdCalcul->setEnabled(false);
            // Programmatic changes never raise the list's click (activated): only the selection below does.
            cboFoaie->clear();
            intake::listDataSheets(start_, workbookPath_, handles_, [this](const std::string& name) {
                cboFoaie->addItem(qs(name));
                // Nothing is selected until the listing is complete.
                cboFoaie->setCurrentIndex(-1);
            });
            cboFoaie->setEnabled(true);
            txtLocatie->setText(*chosen);
            if (cboFoaie->count() > 0) {
                cboFoaie->setCurrentIndex(0);
                cboFoaie_Click();
            }
        },
        [&](const RuntimeError& e) {
            switch (e.number()) {
            case err::Cancelled:
                sheetName_ = cboFoaie->currentText().toStdString();
                break;
            case err::CannotCreateObject:
                lastAnswer_ = MessageBox::show(this, kActiveX, kAppTitle, MessageBox::AbortRetryIgnore);
                if (lastAnswer_ == MessageBox::Abort)
                    close();
                else if (lastAnswer_ == MessageBox::Retry)
                    cmdFis_Click();
                break;
            case err::Application:
                MessageBox::show(this, kPassword, kOpenCaption, MessageBox::OkOnly, qs(e.description()));
                cboFoaie->clear();
                txtLocatie->clear();
                cmdCalcul->setEnabled(false);
                break;
            default:
                MessageBox::show(this, QStringLiteral("Eroarea: ") + QString::number(e.number()),
                                 kOpenCaption, MessageBox::OkOnly);
                break;
            }
            handles_.release();
        });
}

void FrmIndici::cboFoaie_Click() {
    const BusyCursor busy;
    withErrorBranch(
        [&] {
            // Until this reading completes, the sample does not belong to the chosen sheet.
            cmdCalcul->setEnabled(false);
            sheetName_ = cboFoaie->currentText().toStdString();
            intake::readDataSheet(start_, workbookPath_, sheetName_, sample_, handles_);
            cmdCalcul->setEnabled(true);
            setStatusText(kStatusReady);
        },
        [&](const RuntimeError& e) {
            switch (e.number()) {
            case err::CannotCreateObject:
                lastAnswer_ = MessageBox::show(this, kActiveX, kAppTitle, MessageBox::AbortRetryIgnore);
                if (lastAnswer_ == MessageBox::Retry) cboFoaie_Click();
                break;
            case err::Application:
                MessageBox::show(this, kUnreachable, kReadCaption1004, MessageBox::OkOnly,
                                 qs(e.description()));
                break;
            default:
                MessageBox::show(this,
                                 QStringLiteral("Eroarea: ") + QString::number(e.number()) +
                                     QStringLiteral("\r\n") + qs(e.description()),
                                 kReadCaption, MessageBox::OkOnly);
                break;
            }
            handles_.release();
        });
}

void FrmIndici::cmdCalcul_Click() {
    const BusyCursor busy;
    withErrorBranch(
        [&] {
            setStatusText(kStatusWorking);
            // The computation does not return to the event loop: paint the text now.
            StatusBar->repaint();
            results_ = ComputeDiversityIndices(sample_);
            writeResults(start_, workbookPath_, sheetName_, results_, handles_);
            setStatusText(kStatusDone);
        },
        [&](const RuntimeError& e) {
            switch (e.number()) {
            case err::DeviceUnavailable:
                MessageBox::show(this, kDriveUnreachable, kWriteCaption, MessageBox::OkOnly);
                break;
            case err::Application:
                MessageBox::show(this, kFileInUse, kWriteCaption, MessageBox::OkOnly, qs(e.description()));
                break;
            case err::CannotCreateObject:
                lastAnswer_ = MessageBox::show(this, kActiveX, kAppTitle, MessageBox::AbortRetryIgnore);
                if (lastAnswer_ == MessageBox::Abort)
                    close();
                else if (lastAnswer_ == MessageBox::Retry)
                    cmdCalcul_Click();
                break;
            default:
                MessageBox::show(
                    this, QStringLiteral("Eroare : ") + QString::number(e.number()) + qs(e.description()),
                    kWriteCaption, MessageBox::OkOnly);
                break;
            }
            // Nothing of a half-written table may reach the file.
            abandon(handles_);
        });
}

void FrmIndici::cmdCancel_Click() {
    close();
}

} // namespace ordana::gui
