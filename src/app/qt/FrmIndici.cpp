#include "app/qt/FrmIndici.h"

#include "app/qt/Colours.h"
#include "app/qt/Dialogs.h"

#include "app/qt/Placement.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
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
#include <QUrl>
#include <QWindow>

#include <initializer_list>
#include <optional>

namespace ordana::qt {

namespace {

using ui::Control;
namespace layout = ui::indices;

QString qs(const std::string& text) {
    return QString::fromStdString(text);
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

// The logic's requests carried out on the Qt controls.
class FrmIndici::View : public ui::IndicesView {
  public:
    explicit View(FrmIndici& window) : w_(window) {}

    ui::Answer showMessage(const ui::Message& message) override {
        return MessageBox::show(&w_, qs(message.text), qs(message.caption), message.buttons,
                                qs(message.detail));
    }

    std::optional<std::string> askOpenFile(const std::string& title,
                                           const std::vector<ui::FileFilter>& filters) override {
        // Opened with a workbook: the first file command takes it without asking.
        if (std::optional<std::string> opening = w_.opening_.take()) return opening;
        QStringList labels;
        for (const ui::FileFilter& filter : filters)
            labels << qs(filter.label);
        const std::optional<QString> chosen = FileDialog::getOpenFileName(&w_, qs(title), labels);
        if (!chosen) return std::nullopt;
        return chosen->toStdString();
    }

    void setText(Control control, const std::string& text) override {
        switch (control) {
        case Control::PathBox:
            w_.txtLocatie->setText(qs(text));
            break;
        case Control::Status:
            w_.setStatusText(qs(text));
            break;
        default:
            if (auto* button = qobject_cast<QPushButton*>(widget(control))) button->setText(qs(text));
            break;
        }
    }

    void setEnabled(Control control, bool enabled) override { widget(control)->setEnabled(enabled); }

    void setItems(Control control, const std::vector<std::string>& items, int selected) override {
        auto* list = qobject_cast<QComboBox*>(widget(control));
        if (!list) return;
        // Programmatic changes never raise the list's click (activated).
        list->clear();
        for (const std::string& item : items)
            list->addItem(qs(item));
        list->setCurrentIndex(selected);
    }

    void setFocus(Control control) override { widget(control)->setFocus(); }
    void paintNow() override { w_.StatusBar->repaint(); }

    void setBusy(bool busy) override {
        if (busy)
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        else
            QGuiApplication::restoreOverrideCursor();
    }

    void close() override { w_.close(); }

    void setChecked(Control control, bool checked) override {
        // setChecked raises toggled, never clicked: only the user's click reaches the logic.
        if (auto* box = qobject_cast<QCheckBox*>(widget(control))) box->setChecked(checked);
    }

    void openDocument(const std::string& path) override {
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(qs(path))))
            showMessage(ui::documentNotOpened(path));
    }

  private:
    QWidget* widget(Control control) const {
        switch (control) {
        case Control::FileButton:
            return w_.cmdFis;
        case Control::PathBox:
            return w_.txtLocatie;
        case Control::SheetList:
            return w_.cboFoaie;
        case Control::CalcButton:
            return w_.cmdCalcul;
        case Control::CancelButton:
            return w_.cmdCancel;
        case Control::EstimatesBox:
            return w_.chkEstimatori;
        case Control::AllSheetsBox:
            return w_.chkToateFoile;
        case Control::Status:
            break;
        }
        return w_.statusLabel_;
    }

    FrmIndici& w_;
};

FrmIndici::FrmIndici(spreadsheet::ApplicationFactory start, QWidget* parent, ui::Preferences* preferences)
    : QDialog(parent), view_(std::make_unique<View>(*this)),
      logic_(std::make_unique<ui::IndicesWindow>(std::move(start), *view_, preferences)) {
    setObjectName(QStringLiteral("frmIndici"));
    setWindowTitle(qs(layout::kCaption));

    // Fixed single border: minimise and close, no maximise, no context help.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setSizeGripEnabled(false);
    setFixedSize(kOuterWidth, kOuterHeight);
    createControls();
    logic_->initialState();
}

FrmIndici::~FrmIndici() = default;

void FrmIndici::createControls() {
    // The platform's dialog font at the 8 points the layout was drawn for; captions fit their controls.
    QFont dialogFont = QApplication::font(this);
    dialogFont.setPointSize(8);
    setFont(dialogFont);

    auto place = [this](QWidget* widget, const layout::Place& p) {
        widget->setGeometry(twipsRect(this, p.left, p.top, p.width, p.height));
    };

    FraFisier = new QGroupBox(qs(layout::kFrameCaption), this);
    FraFisier->setObjectName(QStringLiteral("FraFisier"));
    place(FraFisier, layout::kFraFisier);

    cmdFis = new QPushButton(qs(layout::kFileButton), FraFisier);
    cmdFis->setObjectName(QStringLiteral("cmdFis"));
    place(cmdFis, layout::kCmdFis);
    cmdFis->setCursor(Qt::PointingHandCursor);

    txtLocatie = new QLineEdit(FraFisier);
    txtLocatie->setObjectName(QStringLiteral("txtLocatie"));
    place(txtLocatie, layout::kTxtLocatie);
    txtLocatie->setReadOnly(true);
    // Arial 9 pt; fontconfig maps Arial to its metric twin (Liberation Sans) where Arial is absent.
    QFont arial(QStringLiteral("Arial"), 9);
    arial.setStyleHint(QFont::SansSerif);
    txtLocatie->setFont(arial);

    lblFis = new QLabel(qs(layout::kSheetLabel), FraFisier);
    lblFis->setObjectName(QStringLiteral("lblFis"));
    place(lblFis, layout::kLblFis);

    cboFoaie = new QComboBox(FraFisier);
    cboFoaie->setObjectName(QStringLiteral("cboFoaie"));
    place(cboFoaie, layout::kCboFoaie);
    cboFoaie->setEditable(false);

    // The two choices under the list; "&" gives each its access key (Alt+E, Alt+T).
    chkEstimatori = new QCheckBox(qs(layout::kEstimatesBox), FraFisier);
    chkEstimatori->setObjectName(QStringLiteral("chkEstimatori"));
    place(chkEstimatori, layout::kChkEstimatori);
    chkToateFoile = new QCheckBox(qs(layout::kAllSheetsBox), FraFisier);
    chkToateFoile->setObjectName(QStringLiteral("chkToateFoile"));
    place(chkToateFoile, layout::kChkToateFoile);
    applyColours();

    cmdCalcul = new QPushButton(qs(layout::kCalcButton), this);
    cmdCalcul->setObjectName(QStringLiteral("cmdCalcul"));
    place(cmdCalcul, layout::kCmdCalcul);

    cmdCancel = new QPushButton(qs(layout::kCancelButton), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    place(cmdCancel, layout::kCmdCancel);

    // Enter presses the button that has the focus, and only that one (see eventFilter). No button is a
    // default, so Enter on the list or the path box starts nothing.
    for (QPushButton* button : {cmdFis, cmdCalcul, cmdCancel}) {
        button->setAutoDefault(false);
        button->setDefault(false);
        button->installEventFilter(this);
    }

    createStatusBar();

    // Tab order: cmdCancel first, then the frame's controls, then the calculation; the two choices last.
    setTabOrder(cmdCancel, cboFoaie);
    setTabOrder(cboFoaie, cmdFis);
    setTabOrder(cmdFis, txtLocatie);
    setTabOrder(txtLocatie, cmdCalcul);
    setTabOrder(cmdCalcul, chkEstimatori);
    setTabOrder(chkEstimatori, chkToateFoile);
    setTabOrder(chkToateFoile, cmdCancel);

    connect(cmdFis, &QPushButton::clicked, this, &FrmIndici::cmdFis_Click);
    connect(cboFoaie, &QComboBox::activated, this, &FrmIndici::cboFoaie_Click);
    connect(cmdCalcul, &QPushButton::clicked, this, &FrmIndici::cmdCalcul_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &FrmIndici::cmdCancel_Click);
    connect(chkEstimatori, &QCheckBox::clicked, this, &FrmIndici::chkEstimatori_Click);
    connect(chkToateFoile, &QCheckBox::clicked, this, &FrmIndici::chkToateFoile_Click);
}

void FrmIndici::createStatusBar() {
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
    StatusBar->setFixedHeight(twipsToPixels(layout::kStatusBarHeight, logicalDpiY()));
    placeStatusBar();
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
        logic_->initialState();
        Form_Load();
        Form_Resize();
        // Opened with a workbook: the file command runs on it once the window is up.
        if (opening_.pending())
            QMetaObject::invokeMethod(this, &FrmIndici::cmdFis_Click, Qt::QueuedConnection);
    }
    // Enter presses the button with the focus, so the focus is always drawn, not only once Tab was used.
    setAttribute(Qt::WA_KeyboardFocusChange);
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
    const QColor grey =
        colour(ui::labelGrey(rgb(QApplication::palette(this).color(QPalette::Active, QPalette::Window))));
    for (QWidget* caption : std::initializer_list<QWidget*>{FraFisier, lblFis, chkEstimatori, chkToateFoile})
        setTextColour(caption, grey, std::nullopt);
    // The path box and the list keep their light grey ground, on which dark grey always reads.
    const QColor dark = colour(ui::kDarkGrey), light = colour(ui::kLightGrey);
    setTextColour(txtLocatie, dark, light);
    setTextColour(cboFoaie, dark, light);
}

// The window manager's frame is known only some time after the first showing, by the time the window is
// activated; size and centre again once it is. A move by the title bar leaves the frame as it was, and the
// window where the user put it.
void FrmIndici::refitToFrame() {
    if (isVisible() && windowHandle() && frameMargins(this) != frameMargins_)
        QMetaObject::invokeMethod(this, &FrmIndici::Form_Resize, Qt::QueuedConnection);
}

void FrmIndici::Form_Load() {
    logic_->Form_Load();
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
    logic_->cmdFis_Click();
}

void FrmIndici::cboFoaie_Click(int index) {
    logic_->cboFoaie_Click(index);
}

void FrmIndici::cmdCalcul_Click() {
    logic_->cmdCalcul_Click();
}

void FrmIndici::cmdCancel_Click() {
    logic_->cmdCancel_Click();
}

void FrmIndici::chkEstimatori_Click(bool checked) {
    logic_->chkEstimatori_Click(checked);
}

void FrmIndici::chkToateFoile_Click(bool checked) {
    logic_->chkToateFoile_Click(checked);
}

} // namespace ordana::qt
