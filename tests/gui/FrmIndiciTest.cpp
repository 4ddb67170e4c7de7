// The indices window driven by its named controls, headless, on the in-memory engine.

#include "app/qt/FrmIndici.h"
#include "app/qt/Colours.h"
#include "app/qt/Dialogs.h"
#include "app/qt/Placement.h"
#include "app/qt/Preferences.h"
#include "cli/Batch.h"
#include "cli/Options.h"
#include "support/FakeSpreadsheet.h"

#include "common/RuntimeError.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWindow>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <sstream>
#include <stdexcept>
#include <utility>

using namespace ordana;
using ordana::qt::FileDialog;
using ordana::qt::FrmIndici;
using ordana::qt::MessageBox;
using ordana::testing::FakeBook;
using ordana::testing::FakeEngine;

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QStringList& l, std::ostream* os) {
    *os << '{' << l.join(", ").toStdString() << '}';
}
QT_END_NAMESPACE

namespace {

const QString kChooseFile = " Selectati fisierul si apoi foaia ce contine datele!";
const QString kReady = " Selectati datele si apoi apasati butonul de prelucrare a datelor!";
const QString kWorking = " Procesare...";
const QString kDone = " Prelucrare efectuata";
const QString kActiveX = "Eroare la inregistrarea unei componente ActiveX";

CellValue t(const char* s) {
    return CellValue::text(s);
}
CellValue n(double v) {
    return CellValue::number(v);
}

void dataSheet(FakeBook& book, const std::string& name, std::initializer_list<CellValue> abundances,
               const char* b1 = "ABUNDENTA") {
    auto& sheet = book.sheet(name);
    sheet.set(1, 1, t("SPECIA"));
    sheet.set(1, 2, t(b1));
    int row = 2;
    for (const CellValue& a : abundances) {
        sheet.set(row, 1, CellValue::text("specia " + std::to_string(row - 1)));
        sheet.set(row, 2, a);
        ++row;
    }
}

// What the user sees of the workflow.
struct View {
    QStringList items;
    int current = -1;
    bool listEnabled = false;
    QString path;
    bool calcEnabled = false;
    QString status;
    friend bool operator==(const View&, const View&) = default;
};

void PrintTo(const View& v, std::ostream* os) {
    *os << "{list {" << v.items.join(", ").toStdString() << "} current " << v.current
        << (v.listEnabled ? " enabled" : " disabled") << ", path \"" << v.path.toStdString()
        << "\", cmdCalcul " << (v.calcEnabled ? "enabled" : "disabled") << ", status \""
        << v.status.toStdString() << "\"}";
}

// Members are public so that the data-driven rows below can drive the fixture.
class FrmIndiciTest : public ::testing::Test {
  public:
    void SetUp() override {
        window.reset();
        engine = FakeEngine{};
        MessageBox::setTestMode(true);
        MessageBox::reset();
        FileDialog::setTestMode(true);
        FileDialog::reset();
        dataSheet(engine.files["/date.xls"], "Date", {n(10), n(20), n(30), n(40)});
        dataSheet(engine.files["/date.xls"], "Gresit", {n(1), n(2)}, "ABUNDENTE");
        dataSheet(engine.files["/date.xls"], "mici", {n(2), n(3), n(5)});
        engine.files["/gol.xls"].sheet("Foaie1").set(1, 1, t("nimic"));
        window = std::make_unique<FrmIndici>(engine.factory());
        window->show();
    }

    template <class T> T* control(const char* name) const {
        T* widget = window->findChild<T*>(name);
        if (!widget) ADD_FAILURE() << "no control " << name;
        return widget;
    }
    QComboBox* cboFoaie() const { return control<QComboBox>("cboFoaie"); }

    void click(const char* button) { QTest::mouseClick(control<QPushButton>(button), Qt::LeftButton); }
    void chooseFile(const QString& path) {
        FileDialog::setNextFileName(path);
        click("cmdFis");
    }
    // The user picks an entry with the keyboard: the list's click event follows.
    void pickNext() {
        cboFoaie()->setFocus();
        QTest::keyClick(cboFoaie(), Qt::Key_Down);
    }
    void pickPrevious() {
        cboFoaie()->setFocus();
        QTest::keyClick(cboFoaie(), Qt::Key_Up);
    }

    View view() const {
        View v;
        for (int i = 0; i < cboFoaie()->count(); ++i)
            v.items << cboFoaie()->itemText(i);
        v.current = cboFoaie()->currentIndex();
        v.listEnabled = cboFoaie()->isEnabled();
        v.path = control<QLineEdit>("txtLocatie")->text();
        v.calcEnabled = control<QPushButton>("cmdCalcul")->isEnabled();
        v.status = window->statusText();
        return v;
    }
    const MessageBox::Shown& lastBox() const {
        static const MessageBox::Shown none;
        if (MessageBox::shown().empty()) {
            ADD_FAILURE() << "no message box was shown";
            return none;
        }
        return MessageBox::shown().back();
    }
    bool nothingHeld() const { return engine.openApplications == 0 && engine.openWorkbooks == 0; }

    FakeEngine engine;
    std::unique_ptr<FrmIndici> window;
};

View initialView() {
    return {{}, -1, false, "", false, kChooseFile};
}
View readView(QStringList items = {"Date", "mici"}, int current = 0, const QString& path = "/date.xls") {
    return {std::move(items), current, true, path, true, kReady};
}

// ---- layout
// --------------------------------------------------------------------------------------------------

TEST_F(FrmIndiciTest, ControlsStandWhereTheTwipsTablePutsThem) {
    const struct {
        const char* name;
        const char* parent;
        int left, top, width, height;
        QRect at96dpi;
    } rows[] = {
        {"FraFisier", "frmIndici", 120, 120, 6615, 3615, {8, 8, 441, 241}},
        {"cmdFis", "FraFisier", 120, 600, 1935, 375, {8, 40, 129, 25}},
        {"txtLocatie", "FraFisier", 2160, 600, 4335, 345, {144, 40, 289, 23}},
        {"lblFis", "FraFisier", 240, 1560, 1815, 255, {16, 104, 121, 17}},
        {"cboFoaie", "FraFisier", 2520, 1560, 3015, 315, {168, 104, 201, 21}},
        {"chkEstimatori", "FraFisier", 2520, 2040, 3015, 255, {168, 136, 201, 17}},
        {"chkToateFoile", "FraFisier", 2520, 2400, 3015, 255, {168, 160, 201, 17}},
        {"chkIncidenta", "FraFisier", 2520, 2760, 3015, 255, {168, 184, 201, 17}},
        {"cmdCalcul", "frmIndici", 3120, 3840, 1695, 375, {208, 256, 113, 25}},
        {"cmdCancel", "frmIndici", 5040, 3840, 1695, 375, {336, 256, 113, 25}},
    };
    for (const auto& r : rows) {
        QWidget* w = control<QWidget>(r.name);
        ASSERT_TRUE(w);
        EXPECT_EQ(w->parentWidget()->objectName(), r.parent) << r.name;
        EXPECT_EQ(w->geometry(), qt::twipsRect(window.get(), r.left, r.top, r.width, r.height)) << r.name;
        if (window->logicalDpiX() == 96 && window->logicalDpiY() == 96) {
            EXPECT_EQ(w->geometry(), r.at96dpi) << r.name;
        }
    }
    auto* bar = control<QStatusBar>("StatusBar");
    EXPECT_EQ(bar->height(), qt::twipsToPixels(495, window->logicalDpiY()));
    EXPECT_EQ(bar->geometry(), QRect(0, window->height() - bar->height(), window->width(), bar->height()))
        << "docked at the bottom, full width";
    EXPECT_FALSE(bar->isSizeGripEnabled());
}

TEST_F(FrmIndiciTest, CaptionsColoursFontAndCursor) {
    EXPECT_EQ(window->objectName(), "frmIndici");
    EXPECT_EQ(window->windowTitle(), "  Calculul indicilor de evaluare a biodiversitatii");
    EXPECT_EQ(control<QGroupBox>("FraFisier")->title(), "  Sursa date  ");
    EXPECT_EQ(control<QPushButton>("cmdFis")->text(), "Fisierul cu datele");
    EXPECT_EQ(control<QLabel>("lblFis")->text(), "Alege foaia de calcul");
    EXPECT_EQ(control<QPushButton>("cmdCalcul")->text(), "Prelucrarea datelor");
    EXPECT_EQ(control<QPushButton>("cmdCancel")->text(), "Inchide modulul");

    const QColor darkGrey(64, 64, 64), lightGrey(224, 224, 224);
    auto* frame = control<QGroupBox>("FraFisier");
    EXPECT_EQ(frame->palette().color(QPalette::Active, QPalette::WindowText), darkGrey);
    EXPECT_EQ(frame->palette().color(QPalette::Active, QPalette::Text), darkGrey) << "the title's colour";
    for (const char* caption : {"lblFis", "chkEstimatori", "chkToateFoile", "chkIncidenta"})
        EXPECT_EQ(control<QWidget>(caption)->palette().color(QPalette::Active, QPalette::WindowText),
                  darkGrey)
            << caption;
    EXPECT_EQ(control<QCheckBox>("chkEstimatori")->text(), "&Estimatori si curbe");
    EXPECT_EQ(control<QCheckBox>("chkToateFoile")->text(), "&Toate foile de date");
    EXPECT_EQ(control<QCheckBox>("chkIncidenta")->text(), "&Incidenta (probele ca unitati)");

    auto* path = control<QLineEdit>("txtLocatie");
    EXPECT_TRUE(path->isReadOnly());
    EXPECT_EQ(path->palette().color(QPalette::Active, QPalette::Base), lightGrey);
    EXPECT_EQ(path->palette().color(QPalette::Active, QPalette::Text), darkGrey);
    EXPECT_EQ(path->font().family(), "Arial");
    EXPECT_EQ(path->font().pointSize(), 9);
    const QString resolved = QFontInfo(path->font()).family();
    EXPECT_TRUE(resolved == "Arial" || resolved == "Liberation Sans") << resolved.toStdString();

    EXPECT_FALSE(cboFoaie()->isEditable()) << "pick only";
    EXPECT_EQ(cboFoaie()->palette().color(QPalette::Active, QPalette::Button), lightGrey);
    EXPECT_EQ(cboFoaie()->palette().color(QPalette::Active, QPalette::ButtonText), darkGrey);

    EXPECT_EQ(control<QPushButton>("cmdFis")->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_NE(control<QPushButton>("cmdCalcul")->cursor().shape(), Qt::PointingHandCursor);

    EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(window->windowFlags() & Qt::WindowCloseButtonHint);
}

// Enter, on the main keyboard or the keypad, presses the button that has the focus and nothing else.
TEST_F(FrmIndiciTest, EnterPressesTheFocusedButton) {
    const struct {
        const char* focus;
        std::function<bool(FrmIndiciTest&)> pressed;
    } rows[] = {
        {"cmdFis", [](FrmIndiciTest&) { return FileDialog::requests().size() == 2; }},
        {"cmdCalcul", [](FrmIndiciTest& t) { return t.window->statusText() == kDone; }},
        {"cmdCancel", [](FrmIndiciTest& t) { return !t.window->isVisible(); }},
        {"cboFoaie",
         [](FrmIndiciTest& t) {
             return t.window->isVisible() && FileDialog::requests().size() == 1 &&
                    t.window->statusText() == kReady;
         }},
        {"txtLocatie",
         [](FrmIndiciTest& t) {
             return t.window->isVisible() && FileDialog::requests().size() == 1 &&
                    t.window->statusText() == kReady;
         }},
    };
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter})
        for (const auto& r : rows) {
            SCOPED_TRACE(std::string(r.focus) + (key == Qt::Key_Return ? " Return" : " Enter"));
            SetUp();
            chooseFile("/date.xls");
            window->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
            QWidget* target = control<QWidget>(r.focus);
            target->setFocus();
            ASSERT_EQ(QApplication::focusWidget(), target);
            QTest::keyClick(target, key);
            EXPECT_TRUE(r.pressed(*this)) << "status " << window->statusText().toStdString();
        }
}

// In a dark palette as in a light one, every caption reads against what it stands on.
TEST_F(FrmIndiciTest, CaptionsReadInALightAndADarkPalette) {
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(45, 45, 48));
    dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    dark.setColor(QPalette::Text, QColor(230, 230, 230));
    dark.setColor(QPalette::Button, QColor(60, 60, 64));
    dark.setColor(QPalette::ButtonText, QColor(235, 235, 235));
    const QPalette light = QApplication::palette();

    // The background is the colour most of the control shows; the text, the one farthest from it.
    const auto contrastOf = [](const QImage& image) {
        std::map<QRgb, int> counts;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                ++counts[image.pixel(x, y)];
        const QColor ground(std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) {
                                return a.second < b.second;
                            })->first);
        double best = 1;
        for (const auto& [rgb, n] : counts)
            best = std::max(best, ui::contrastRatio(qt::rgb(QColor(rgb)), qt::rgb(ground)));
        return best;
    };
    const auto captionOf = [&](const char* name) -> QImage {
        QWidget* w = control<QWidget>(name);
        if (auto* frame = qobject_cast<QGroupBox*>(w)) {
            // Only the title, not the frame's line or its controls.
            const QFontMetrics fm(frame->font());
            return frame->grab(QRect(fm.height(), 0, fm.horizontalAdvance(frame->title()), fm.height()))
                .toImage();
        }
        return w->grab().toImage();
    };

    for (const bool isDark : {false, true}) {
        const QPalette& palette = isDark ? dark : light;
        SCOPED_TRACE(isDark ? "dark palette" : "light palette");
        QApplication::setPalette(palette);
        SetUp();
        chooseFile("/date.xls"); // every button enabled
        for (const char* name : {"FraFisier", "lblFis", "cmdFis", "cmdCalcul", "cmdCancel", "txtLocatie",
                                 "cboFoaie", "chkEstimatori", "chkToateFoile", "chkIncidenta"}) {
            SCOPED_TRACE(name);
            EXPECT_GE(contrastOf(captionOf(name)), 4.5);
        }
        // The buttons, the one in the frame too, take the palette's button text.
        for (const char* name : {"cmdFis", "cmdCalcul", "cmdCancel"})
            EXPECT_EQ(control<QWidget>(name)->palette().color(QPalette::ButtonText),
                      palette.color(QPalette::ButtonText))
                << name;
        if (!isDark) {
            EXPECT_EQ(control<QWidget>("lblFis")->palette().color(QPalette::WindowText), QColor(64, 64, 64));
        }
    }
    // The window follows a change of palette while it is open.
    QApplication::setPalette(dark);
    QApplication::processEvents();
    EXPECT_GE(ui::contrastRatio(qt::rgb(control<QWidget>("lblFis")->palette().color(QPalette::WindowText)),
                                qt::rgb(dark.color(QPalette::Window))),
              4.5);
    QApplication::setPalette(light);
}

// The two choices: off at first, ticked and cleared by Alt+E and Alt+T, each change remembered in QSettings
// at once and shown at the next window; the logic's own setting of a box never counts as the user's click.
TEST_F(FrmIndiciTest, CheckBoxesByTheirKeysAndRemembered) {
    // QSettings lives in the test run's temporary folder (GuiTestMain.cpp).
    QSettings(QStringLiteral("Ordana"), QStringLiteral("Ordana")).clear();
    struct Counting : qt::Preferences {
        int writes = 0;
        void setFlag(const std::string& key, bool value) override {
            ++writes;
            qt::Preferences::setFlag(key, value);
        }
    };
    const auto stored = [](const char* key) {
        return QSettings(QStringLiteral("Ordana"), QStringLiteral("Ordana")).value(key);
    };
    Counting preferences;
    window = std::make_unique<FrmIndici>(engine.factory(), nullptr, &preferences);
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    auto* estimatori = control<QCheckBox>("chkEstimatori");
    auto* toateFoile = control<QCheckBox>("chkToateFoile");
    auto* incidenta = control<QCheckBox>("chkIncidenta");
    EXPECT_FALSE(estimatori->isChecked() || toateFoile->isChecked()) << "off by default";
    EXPECT_EQ(preferences.writes, 0) << "the opening sets the boxes without a click";

    const struct {
        Qt::Key key;
        QCheckBox* box;
        const char* setting;
        bool checked;
    } presses[] = {{Qt::Key_E, estimatori, "estimatori", true},
                   {Qt::Key_T, toateFoile, "toateFoile", true},
                   {Qt::Key_I, incidenta, "incidenta", true},
                   {Qt::Key_E, estimatori, "estimatori", false}};
    for (const auto& p : presses) {
        SCOPED_TRACE(p.setting);
        QTest::keyClick(window.get(), p.key, Qt::AltModifier);
        // An access key presses the box as a click would, after the pressed look has shown.
        EXPECT_TRUE(QTest::qWaitFor([&] { return p.box->isChecked() == p.checked; }, 1000));
        EXPECT_EQ(stored(p.setting), QVariant(p.checked));
    }
    EXPECT_EQ(preferences.writes, 4);

    // A new window, as a new run makes, shows what was remembered.
    Counting again;
    window = std::make_unique<FrmIndici>(engine.factory(), nullptr, &again);
    window->show();
    EXPECT_FALSE(control<QCheckBox>("chkEstimatori")->isChecked());
    EXPECT_TRUE(control<QCheckBox>("chkToateFoile")->isChecked());
    EXPECT_TRUE(control<QCheckBox>("chkIncidenta")->isChecked());
    EXPECT_EQ(again.writes, 0);
    QSettings(QStringLiteral("Ordana"), QStringLiteral("Ordana")).clear();
}

TEST_F(FrmIndiciTest, TabOrderStartsAtCmdCancel) {
    chooseFile("/date.xls"); // enables the list and cmdCalcul
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    control<QPushButton>("cmdCancel")->setFocus();
    const char* order[] = {"cboFoaie",      "cmdFis",        "txtLocatie",   "cmdCalcul",
                           "chkEstimatori", "chkToateFoile", "chkIncidenta", "cmdCancel"};
    for (const char* name : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_TRUE(QApplication::focusWidget());
        EXPECT_EQ(QApplication::focusWidget()->objectName(), name);
    }
}

// ---- size and position
// ---------------------------------------------------------------------------------------

TEST_F(FrmIndiciTest, FixedOuterSizeCentredOnItsScreen) {
    const QPoint centre = qt::centredOn(window->screen()->geometry(), {462, 418});
    EXPECT_EQ(window->frameGeometry().size(), QSize(462, 418));
    EXPECT_EQ(window->frameGeometry().topLeft(), centre);
    EXPECT_EQ(window->minimumSize(), window->maximumSize()) << "the border cannot be dragged";

    window->resize(600, 500);
    EXPECT_EQ(window->frameGeometry().size(), QSize(462, 418));

    // Moved by the title bar it stays; a minimise is undone at once, back at the size and in the centre.
    window->move(centre + QPoint(40, 30));
    QTest::qWait(20);
    EXPECT_EQ(window->frameGeometry().topLeft(), centre + QPoint(40, 30));
    window->setWindowState(Qt::WindowMinimized);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !(window->windowState() & Qt::WindowMinimized); }))
        << "minimise undone";
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->frameGeometry() == QRect(centre, QSize(462, 418)); }))
        << window->frameGeometry().x() << "," << window->frameGeometry().y();

    window->setWindowState(Qt::WindowMaximized);
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->windowState() == Qt::WindowNoState; }))
        << "maximise undone";
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->frameGeometry() == QRect(centre, QSize(462, 418)); }));
}

// ---- the workflow
// --------------------------------------------------------------------------------------------

TEST_F(FrmIndiciTest, TypicalUseEndToEnd) {
    EXPECT_EQ(view(), initialView());
    EXPECT_EQ(window->focusWidget(), control<QWidget>("cmdCancel"));

    chooseFile("/date.xls");
    ASSERT_EQ(FileDialog::requests().size(), 1u);
    const FileDialog::Request& dialog = FileDialog::requests().front();
    EXPECT_EQ(dialog.title, "Alege fisierul Excel");
    EXPECT_EQ(dialog.filters,
              (QStringList{"Registre de calcul  (*.xls *.xlsx *.xlsm *.ods)", "Fisiere Excel  (*.xls)",
                           "Fisiere Excel 2007-365  (*.xlsx *.xlsm)", "Fisiere OpenDocument  (*.ods)",
                           "Toate fisierele  (*)"}));
    EXPECT_EQ(dialog.selectedFilter, dialog.shownFilters.front()) << "every workbook is offered first";

    // The misspelt sheet is left out; the first listed is read at once.
    EXPECT_EQ(view(), readView());
    EXPECT_EQ(window->workbookPath(), "/date.xls");
    EXPECT_EQ(window->sheetName(), "Date");
    EXPECT_EQ(window->sample().speciesCount(), 4);
    EXPECT_EQ(window->sample().totalIndividuals(), 100);
    EXPECT_TRUE(MessageBox::shown().empty());
    EXPECT_TRUE(nothingHeld());

    click("cmdCalcul");
    EXPECT_EQ(window->statusText(), kDone);
    const FakeBook& saved = engine.files["/date.xls"];
    EXPECT_EQ(saved.saves, 1);
    EXPECT_EQ(saved.activeSheet, "Date");
    const auto& sheet = saved.sheets.front();
    EXPECT_EQ(sheet.get(1, 3), t("."));
    EXPECT_EQ(sheet.get(1, 4), t("Indici"));
    EXPECT_EQ(sheet.get(1, 5), t("Valoare"));
    EXPECT_EQ(sheet.get(2, 5), n(4));
    EXPECT_NEAR(sheet.get(3, 5).numberValue(), 0.3, 1e-12);
    EXPECT_EQ(window->results().speciesRichness, 4);
    EXPECT_TRUE(nothingHeld());
    EXPECT_TRUE(MessageBox::shown().empty());

    // Picking the other sheet reads it; the status asks for the processing again.
    pickNext();
    EXPECT_EQ(window->sheetName(), "mici");
    EXPECT_EQ(window->sample().speciesCount(), 3);
    EXPECT_EQ(view(), readView({"Date", "mici"}, 1));
}

// ---- error paths
// ---------------------------------------------------------------------------------------------

enum class Command { File, Sheet, Calc };

TEST_F(FrmIndiciTest, EveryErrorShowsItsBox) {
    using B = std::vector<MessageBox::Answer>;
    const B ok{MessageBox::Ok}, ari{MessageBox::Abort, MessageBox::Retry, MessageBox::Ignore};
    const struct {
        const char* name;
        Command command;
        const char* operation; // failed in the engine; empty: the data fail
        int number;
        QString text;
        QString caption;
        B buttons;
        bool detailed = false; // the engine's description beneath a prompt that does not carry it
    } rows[] = {
        {"file: engine cannot start", Command::File, "start", 429, kActiveX, "Ordana v1.50", ari},
        {"file: workbook refused", Command::File, "open", 1004, "Parola nu s-a introdus sau e incorecta ",
         "Deschiderea fisierului Excel", ok, true},
        {"file: drive lost while listing", Command::File, "pick", 52, "Eroarea: 52",
         "Deschiderea fisierului Excel", ok},
        {"file: other error, no description", Command::File, "count", 9, "Eroarea: 9",
         "Deschiderea fisierului Excel", ok},
        {"sheet: engine cannot start", Command::Sheet, "start", 429, kActiveX, "Ordana v1.50", ari},
        {"sheet: workbook gone", Command::Sheet, "open", 1004, "Fisier inaccesibil",
         "Accesarea  fisierului Excel", ok, true},
        {"sheet: other error with description", Command::Sheet, "cell", 52,
         "Eroarea: 52\r\neroare simulata la cell 2 1", "Accesarea fisierului Excel", ok},
        {"calc: drive lost", Command::Calc, "close", 52, "Unitate inacesibila",
         "Eroare la scrierea in fisier", ok},
        {"calc: file in use", Command::Calc, "close", 1004,
         "Fisierul este in uz sau este protejat la scriere", "Eroare la scrierea in fisier", ok, true},
        {"calc: engine cannot start", Command::Calc, "start", 429, kActiveX, "Ordana v1.50", ari},
        {"calc: other error with description", Command::Calc, "write", 13,
         "Eroare : 13eroare simulata la write 1 3 .", "Eroare la scrierea in fisier", ok},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        SetUp();
        if (r.command != Command::File) chooseFile("/date.xls");
        MessageBox::reset();
        MessageBox::setNextAnswer(r.buttons.back()); // Ignore, or OK
        engine.fail(r.operation, r.number);
        switch (r.command) {
        case Command::File:
            chooseFile("/date.xls");
            break;
        case Command::Sheet:
            pickNext();
            break;
        case Command::Calc:
            click("cmdCalcul");
            break;
        }
        ASSERT_EQ(MessageBox::shown().size(), 1u);
        const MessageBox::Shown& box = lastBox();
        EXPECT_EQ(box.text, r.text);
        if (r.detailed)
            EXPECT_TRUE(box.detail.startsWith(QStringLiteral("eroare simulata la %1").arg(r.operation)))
                << box.detail.toStdString();
        else
            EXPECT_EQ(box.detail, "");
        EXPECT_EQ(box.caption, r.caption);
        EXPECT_EQ(box.buttons, r.buttons);
        EXPECT_EQ(box.defaultButton, r.buttons.front());
        EXPECT_EQ(box.icon, QMessageBox::NoIcon);
        EXPECT_TRUE(window->isVisible()) << "Ignore and OK leave the window open";
        EXPECT_TRUE(nothingHeld()) << "every reference dropped";
        if (r.command == Command::Calc) {
            EXPECT_EQ(engine.files["/date.xls"].saves, 0) << "closed without saving";
            EXPECT_EQ(window->statusText(), kWorking);
        }
    }
}

TEST_F(FrmIndiciTest, ErrorsFromTheDataKeepTheirPreciseDescription) {
    dataSheet(engine.files["/rau.xls"], "Text", {n(5), t("cinci")});
    dataSheet(engine.files["/rau.xls"], "Mare", {n(32000), n(768)});
    dataSheet(engine.files["/unu.xls"], "Unu", {n(7)});

    chooseFile("/rau.xls");
    EXPECT_TRUE(lastBox().text.startsWith("Eroarea: 13\r\nTip nepotrivit: abundenta din celula B3"))
        << lastBox().text.toStdString();
    EXPECT_EQ(lastBox().caption, "Accesarea fisierului Excel");
    pickNext();
    EXPECT_TRUE(lastBox().text.startsWith("Eroarea: 6\r\nDepasire: totalul abundentelor depaseste 32767"))
        << lastBox().text.toStdString();

    // A single species fails in the computation: nothing is opened.
    chooseFile("/unu.xls");
    engine.log.clear();
    click("cmdCalcul");
    EXPECT_TRUE(lastBox().text.startsWith("Eroare : 6")) << lastBox().text.toStdString();
    EXPECT_GT(lastBox().text.size(), QString("Eroare : 6").size()) << "the description follows the number";
    EXPECT_EQ(lastBox().caption, "Eroare la scrierea in fisier");
    EXPECT_TRUE(engine.log.empty()) << "no workbook is touched";
}

TEST_F(FrmIndiciTest, FailuresFromOutsideTheEngineAreReportedNotFatal) {
    int throwOn = 0; // 1: std::runtime_error, 2: std::bad_alloc, on the next start
    const spreadsheet::ApplicationFactory fake = engine.factory();
    window = std::make_unique<FrmIndici>([&]() -> std::shared_ptr<spreadsheet::Application> {
        const int mode = std::exchange(throwOn, 0);
        if (mode == 1) throw std::runtime_error("vector::reserve");
        if (mode == 2) throw std::bad_alloc();
        return fake();
    });
    window->show();

    throwOn = 1;
    chooseFile("/date.xls");
    EXPECT_EQ(lastBox().text, "Eroarea: 51");
    chooseFile("/date.xls");
    throwOn = 1;
    pickNext();
    EXPECT_EQ(lastBox().text, "Eroarea: 51\r\nEroare interna a programului");
    pickPrevious(); // back to "Date", read again
    throwOn = 2;
    click("cmdCalcul");
    EXPECT_EQ(lastBox().text, "Eroare : 7Memorie insuficienta");
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(nothingHeld());
}

TEST_F(FrmIndiciTest, FileCommandOutcomesAfterAFailure) {
    // 429 and Ignore: the list is emptied, the path box keeps the earlier path.
    chooseFile("/date.xls");
    engine.fail("start", 429);
    MessageBox::setNextAnswer(MessageBox::Ignore);
    chooseFile("/gol.xls");
    EXPECT_EQ(view(), (View{{}, -1, true, "/date.xls", false, kChooseFile}));
    EXPECT_EQ(window->workbookPath(), "/gol.xls");
    EXPECT_EQ(window->sheetName(), "");
    EXPECT_EQ(window->lastAnswer(), MessageBox::Ignore);

    // Another error while listing: the names found before stay, unselected; the path box is unchanged.
    SetUp();
    chooseFile("/gol.xls");
    engine.fail("pick", 52, 2);
    chooseFile("/date.xls");
    EXPECT_EQ(view(), (View{{"Date"}, -1, true, "/gol.xls", false, kChooseFile}));
    EXPECT_TRUE(engine.count("close") == 1) << "the failed listing is not closed, only dropped";
    EXPECT_TRUE(nothingHeld());

    // A cancel after a failed listing names no sheet.
    FileDialog::setNextCancel();
    click("cmdFis");
    EXPECT_EQ(window->sheetName(), "");
}

TEST_F(FrmIndiciTest, RetryRunsTheCommandAgainNested) {
    // File command: the dialog shows again; the second run succeeds.
    engine.fail("start", 429, 0, true);
    MessageBox::setNextAnswer(MessageBox::Retry);
    FileDialog::setNextFileName("/date.xls");
    chooseFile("/date.xls");
    EXPECT_EQ(FileDialog::requests().size(), 2u);
    EXPECT_EQ(MessageBox::shown().size(), 1u);
    EXPECT_EQ(view(), readView());
    EXPECT_EQ(window->lastAnswer(), MessageBox::Retry);

    // While the cause persists each nested run shows the box again, until Ignore.
    MessageBox::reset();
    FileDialog::reset();
    engine.fail("start", 429);
    for (auto answer : {MessageBox::Retry, MessageBox::Retry, MessageBox::Ignore})
        MessageBox::setNextAnswer(answer);
    for (int i = 0; i < 3; ++i)
        FileDialog::setNextFileName("/date.xls");
    click("cmdFis");
    EXPECT_EQ(MessageBox::shown().size(), 3u);
    EXPECT_EQ(FileDialog::requests().size(), 3u);
    EXPECT_EQ(window->lastAnswer(), MessageBox::Ignore);
    EXPECT_TRUE(window->isVisible());

    // Sheet command: the reading is repeated and succeeds.
    SetUp();
    chooseFile("/date.xls");
    engine.fail("start", 429, 0, true);
    MessageBox::setNextAnswer(MessageBox::Retry);
    pickNext();
    EXPECT_EQ(view(), readView({"Date", "mici"}, 1));
    EXPECT_EQ(window->sample().speciesCount(), 3);

    // Calculation: computed and written by the nested run.
    engine.fail("start", 429, 0, true);
    MessageBox::setNextAnswer(MessageBox::Retry);
    click("cmdCalcul");
    EXPECT_EQ(window->statusText(), kDone);
    EXPECT_EQ(engine.files["/date.xls"].saves, 1);
    EXPECT_TRUE(nothingHeld());
}

TEST_F(FrmIndiciTest, AFailedCalculationNeverReachesTheFile) {
    chooseFile("/date.xls");
    const FakeBook before = engine.files["/date.xls"];
    engine.fail("write", 1004, 10); // half way through the table
    click("cmdCalcul");
    EXPECT_EQ(engine.files["/date.xls"].sheets.front().cells, before.sheets.front().cells);
    EXPECT_EQ(engine.log.back(), "quit");
    EXPECT_EQ(std::count(engine.log.begin(), engine.log.end(), "close nosave"), 3)
        << "listing, reading and the abandoned calculation";
    EXPECT_TRUE(nothingHeld());
}

// ---- the mended fault: cmdCalcul only for a sample read from the chosen workbook and sheet
// -----------------------

TEST_F(FrmIndiciTest, CmdCalculOnlyAfterASuccessfulReadingOfTheChosenSheet) {
    const struct {
        const char* name;
        std::function<void(FrmIndiciTest&)> act;
    } rows[] = {
        {"a workbook without data sheet", [](auto& f) { f.chooseFile("/gol.xls"); }},
        {"a listing that failed with 429",
         [](auto& f) {
             f.engine.fail("start", 429);
             MessageBox::setNextAnswer(MessageBox::Ignore);
             f.chooseFile("/date.xls");
         }},
        {"a listing that failed with another error",
         [](auto& f) {
             f.engine.fail("name", 52, 1);
             f.chooseFile("/date.xls");
         }},
        {"a reading that failed half way",
         [](auto& f) {
             f.engine.fail("cell", 13, 4); // the second data row of "mici"
             f.pickNext();
         }},
        {"a reading that failed with 429",
         [](auto& f) {
             f.engine.fail("start", 429);
             MessageBox::setNextAnswer(MessageBox::Abort);
             f.pickNext();
         }},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        SetUp();
        chooseFile("/date.xls");
        ASSERT_TRUE(control<QPushButton>("cmdCalcul")->isEnabled());
        r.act(*this);
        EXPECT_FALSE(control<QPushButton>("cmdCalcul")->isEnabled());
        EXPECT_EQ(window->statusText(), kChooseFile) << "the status asks for the file and the sheet again";
        engine.log.clear();
        click("cmdCalcul");
        EXPECT_EQ(engine.count("start"), 0) << "no calculation on a stale sample";
        EXPECT_EQ(engine.files["/date.xls"].saves, 0);
    }
    // A successful reading enables it again.
    engine.fail("", 0);
    chooseFile("/date.xls");
    EXPECT_TRUE(control<QPushButton>("cmdCalcul")->isEnabled());
}

// ---- reopening, closing, busy feedback
// --------------------------------------------------------------------------

TEST_F(FrmIndiciTest, ReopeningShowsTheInitialStateWhileTheFieldsSurvive) {
    chooseFile("/date.xls");
    click("cmdCalcul");
    const DiversityResults results = window->results();
    click("cmdCancel");
    EXPECT_FALSE(window->isVisible());

    // Shown modally again, as the main window does; the close box closes it like cmdCancel.
    View reopened;
    bool closedByBox = false;
    QTimer::singleShot(0, [&] {
        reopened = view();
        window->close();
        closedByBox = !window->isVisible();
    });
    EXPECT_EQ(window->exec(), QDialog::Rejected);
    EXPECT_TRUE(closedByBox);
    EXPECT_EQ(reopened, initialView());
    EXPECT_EQ(window->workbookPath(), "/date.xls");
    EXPECT_EQ(window->sheetName(), "Date");
    EXPECT_EQ(window->sample().speciesCount(), 4);
    EXPECT_EQ(window->results().simpsonD, results.simpsonD);
    EXPECT_TRUE(nothingHeld());
}

TEST_F(FrmIndiciTest, BusyCursorAndProcessingTextWhileACommandWorks) {
    // Record what is on screen whenever the engine is started.
    struct Seen {
        Qt::CursorShape cursor;
        QStringList painted;
    };
    std::vector<Seen> seen;
    QStringList painted;
    struct PaintSpy : QObject {
        QLabel* label = nullptr;
        QStringList* painted = nullptr;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Paint) painted->append(label->text());
            return false;
        }
    } spy;

    const spreadsheet::ApplicationFactory fake = engine.factory();
    window = std::make_unique<FrmIndici>([&]() {
        const QCursor* c = QGuiApplication::overrideCursor();
        seen.push_back({c ? c->shape() : Qt::ArrowCursor, painted});
        return fake();
    });
    spy.label = window->findChild<QLabel*>("StatusBarText");
    ASSERT_TRUE(spy.label);
    spy.painted = &painted;
    spy.label->installEventFilter(&spy);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));

    chooseFile("/date.xls");
    ASSERT_EQ(seen.size(), 2u) << "listing and reading";
    EXPECT_EQ(seen[0].cursor, Qt::WaitCursor);
    EXPECT_EQ(seen[1].cursor, Qt::WaitCursor);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr) << "restored when the command ends";

    painted.clear();
    click("cmdCalcul");
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[2].cursor, Qt::WaitCursor);
    EXPECT_TRUE(seen[2].painted.contains(kWorking)) << "painted before the work starts";
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    // Also after a failure.
    engine.fail("start", 429);
    MessageBox::setNextAnswer(MessageBox::Ignore);
    click("cmdCalcul");
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

// ---- a real workbook
// ------------------------------------------------------------------------------------------

TEST_F(FrmIndiciTest, RealWorkbookEndToEnd) {
    const QString fixture = QStringLiteral(ORDANA_FIXTURES_DIR "/basic-xlwt.xls");
    ASSERT_TRUE(QFile::exists(fixture)) << fixture.toStdString();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("inventar.xls"));
    ASSERT_TRUE(QFile::copy(fixture, path));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    const spreadsheet::ApplicationFactory native = spreadsheet::nativeApplicationFactory();

    window = std::make_unique<FrmIndici>(native);
    window->show();
    chooseFile(path);
    EXPECT_TRUE(MessageBox::shown().empty()) << lastBox().text.toStdString();
    ASSERT_GT(cboFoaie()->count(), 0);
    EXPECT_EQ(cboFoaie()->itemText(0), "Date");
    EXPECT_EQ(cboFoaie()->findText("Note"), -1) << "not a data sheet";
    EXPECT_EQ(window->sample().speciesCount(), 4);
    EXPECT_EQ(window->sample().totalIndividuals(), 100);
    ASSERT_TRUE(control<QPushButton>("cmdCalcul")->isEnabled());

    click("cmdCalcul");
    EXPECT_TRUE(MessageBox::shown().empty()) << lastBox().text.toStdString();
    EXPECT_EQ(window->statusText(), kDone);

    // The table is in the file: read back by the engine and by xlrd.
    auto app = native();
    auto book = app->open(path.toStdString());
    auto sheet = book->worksheet("Date");
    EXPECT_EQ(sheet->cell(1, 3), t("."));
    EXPECT_EQ(sheet->cell(1, 4), t("Indici"));
    EXPECT_EQ(sheet->cell(1, 5), t("Valoare"));
    EXPECT_EQ(sheet->cell(13, 4), t("indicele Gleason"));
    EXPECT_EQ(sheet->cell(2, 5), n(4));
    EXPECT_NEAR(sheet->cell(3, 5).toNumber(), 0.3, 1e-12);
    book->close(false);
    app->quit();

    QProcess xlrd;
    xlrd.start(QStringLiteral("/usr/bin/python3"),
               {QStringLiteral("-c"),
                QStringLiteral("import sys, xlrd\n"
                               "s = xlrd.open_workbook(sys.argv[1]).sheet_by_name('Date')\n"
                               "print(s.cell_value(0, 3), s.cell_value(1, 4))"),
                path});
    ASSERT_TRUE(xlrd.waitForFinished(30000));
    EXPECT_EQ(xlrd.exitCode(), 0) << xlrd.readAllStandardError().toStdString();
    EXPECT_EQ(QString::fromUtf8(xlrd.readAllStandardOutput()).trimmed(), "Indici 4.0");
}

// The browser, as the window asks for it: the report's address is kept, nothing is opened.
class Browser : public QObject {
    Q_OBJECT
  public:
    Browser() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
    ~Browser() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    QStringList opened;
  public slots:
    void open(const QUrl& url) { opened << url.toLocalFile(); }
};

// "Prelucrarea datelor" on a real workbook with the box off, with Alt+E on one sheet, and with Alt+T on every
// data sheet: the estimates table lands in the file only when asked, the report beside it is opened, and the
// console given the same choices saves the same bytes.
TEST_F(FrmIndiciTest, TheWindowSavesWhatTheConsoleSavesFromTheSameChoices) {
    QSettings(QStringLiteral("Ordana"), QStringLiteral("Ordana")).clear();
    const QString fixture = QStringLiteral(ORDANA_FIXTURES_DIR "/cases-xlwt.xls");
    const spreadsheet::ApplicationFactory native = spreadsheet::nativeApplicationFactory();
    const struct {
        const char* name;
        bool estimates, all;
        QString status;
        int boxes, estimated;
        std::vector<std::string> args;
        int exit;
    } rows[] = {
        {"the box off", false, false, kDone, 0, 0, {"--sheet", "Majuscule"}, 0},
        {"the estimates of the chosen sheet",
         true,
         false,
         " Prelucrare efectuata - raportul: ",
         0,
         1,
         {"--estimates", "--sheet", "Majuscule"},
         0},
        // Most sheets of the workbook hold bad counts: the run over all of them names each in one box.
        {"the estimates of every data sheet",
         true,
         true,
         " Prelucrare efectuata cu erori - raportul: ",
         1,
         3,
         {"--estimates"},
         1},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        QTemporaryDir dir;
        QDir(dir.path()).mkpath(QStringLiteral("fereastra"));
        QDir(dir.path()).mkpath(QStringLiteral("consola"));
        const QString path = dir.filePath(QStringLiteral("fereastra/inventar.xls"));
        const QString console = dir.filePath(QStringLiteral("consola/inventar.xls"));
        for (const QString& copy : {path, console}) {
            ASSERT_TRUE(QFile::copy(fixture, copy));
            QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);
        }
        Browser browser;
        window = std::make_unique<FrmIndici>(native);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        chooseFile(path);
        ASSERT_EQ(cboFoaie()->currentText(), "Majuscule");
        if (r.estimates) QTest::keyClick(window.get(), Qt::Key_E, Qt::AltModifier);
        if (r.all) QTest::keyClick(window.get(), Qt::Key_T, Qt::AltModifier);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return control<QCheckBox>("chkEstimatori")->isChecked() == r.estimates &&
                       control<QCheckBox>("chkToateFoile")->isChecked() == r.all;
            },
            1000));
        MessageBox::reset();
        click("cmdCalcul");

        const QString report = dir.filePath(QStringLiteral("fereastra/inventar - estimari.html"));
        EXPECT_EQ(window->statusText(),
                  r.status + (r.estimates ? QStringLiteral("inventar - estimari.html") : ""));
        EXPECT_EQ(MessageBox::shown().size(), std::size_t(r.boxes));
        EXPECT_EQ(browser.opened, r.estimates ? QStringList{report} : QStringList{});
        EXPECT_EQ(QFile::exists(report), r.estimates);

        auto app = native();
        auto book = app->open(path.toStdString());
        int estimated = 0;
        for (int i = 1; i <= book->worksheetCount(); ++i) {
            auto sheet = book->worksheet(book->worksheetName(std::int16_t(i)));
            for (std::int16_t c = 6; c <= 12; ++c)
                if (sheet->cell(1, c) == t("Estimator")) ++estimated;
        }
        EXPECT_EQ(estimated, r.estimated) << "sheets that got the estimates table";
        book->close(false);
        app->quit();

        std::vector<std::string> args = r.args;
        args.push_back(console.toStdString());
        std::ostringstream out, err;
        EXPECT_EQ(cli::runBatch(cli::parseArguments(args), native, out, err, true), r.exit) << err.str();
        QFile a(path), b(console);
        ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
        EXPECT_TRUE(a.readAll() == b.readAll()) << "the window and the console saved different bytes";
        window.reset();
    }
    QSettings(QStringLiteral("Ordana"), QStringLiteral("Ordana")).clear();
}

} // namespace

#include "FrmIndiciTest.moc"
