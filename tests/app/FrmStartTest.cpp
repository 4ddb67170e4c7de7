#include "GuiTestSupport.h"
#include "support/FakeSpreadsheet.h"

#include "app/qt/Dialogs.h"
#include "app/qt/FrmAbout.h"
#include "app/qt/FrmIndici.h"
#include "app/qt/FrmStart.h"
#include "app/qt/Placement.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSignalSpy>
#include <QTimer>
#include <QWindow>

#include <memory>

using ordana::qt::FrmAbout;
using ordana::qt::FrmStart;
using ordana::testing::runModal;

namespace {

class FrmStartTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window = std::make_unique<FrmStart>(engine.factory());
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    void TearDown() override {
        // The shell itself never reaches the spreadsheet.
        EXPECT_TRUE(engine.log.empty());
    }

    QAction* action(const char* name) const { return window->findChild<QAction*>(QString::fromLatin1(name)); }
    QMenu* optiuni() const { return window->findChild<QMenu*>(QStringLiteral("mnuOptiuni")); }

    // The headless platform leaves no window active once a modal one closes; a desktop would hand the
    // activation back to the owner.
    void activate() {
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    // The frame as the window system has it now; QWidget's own copy can lag behind a window manager.
    QRect frame() const { return window->windowHandle()->frameGeometry(); }
    // A move by the title bar: the window system moves the frame.
    void dragTo(const QPoint& p) { window->windowHandle()->setFramePosition(p); }

    bool fixedAndCentred() const {
        const QRect frame = this->frame();
        return window->windowState() == Qt::WindowNoState && frame.size() == FrmStart::outerSize &&
               frame.topLeft() == ordana::qt::centredOn(window->screen()->geometry(), frame.size());
    }

    ordana::testing::FakeEngine engine;
    std::unique_ptr<FrmStart> window;
};

// The menu bar: "Optiuni" with its drop-down, then "Despre" as a plain command.
TEST_F(FrmStartTest, MenuBarAndItems) {
    EXPECT_EQ(window->objectName(), "frmStart");
    EXPECT_EQ(window->windowTitle(), "ORDANA");
    EXPECT_FALSE(window->windowIcon().isNull());

    const QList<QAction*> bar = window->menuBar()->actions();
    ASSERT_EQ(bar.size(), 2);
    ASSERT_NE(optiuni(), nullptr);
    EXPECT_EQ(bar[0], optiuni()->menuAction());
    EXPECT_EQ(bar[0]->text(), "&Optiuni");
    EXPECT_EQ(bar[1], action("mnuDespre"));
    EXPECT_EQ(bar[1]->text(), "&Despre");
    EXPECT_EQ(bar[1]->menu(), nullptr);

    struct Item {
        const char* name;
        const char* caption;
        QKeySequence shortcut;
        bool separator;
    };
    const Item expected[] = {
        {"mnuIndici", "&Calculul indicilor", QKeySequence(Qt::Key_F3), false},
        {"separator", "", QKeySequence(), true},
        {"mnuIesire", "&Iesire", QKeySequence(), false},
    };
    const QList<QAction*> items = optiuni()->actions();
    ASSERT_EQ(items.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(items[i]->objectName(), expected[i].name);
        EXPECT_EQ(items[i]->text(), expected[i].caption);
        EXPECT_EQ(items[i]->shortcut(), expected[i].shortcut);
        EXPECT_EQ(items[i]->isSeparator(), expected[i].separator);
        EXPECT_EQ(items[i]->menu(), nullptr);
    }
    for (QAction* a : bar + items) {
        EXPECT_TRUE(a->isEnabled() && a->isVisible());
        EXPECT_FALSE(a->isCheckable());
    }
}

// The title picture at its natural size in a sunken box on the button face.
TEST_F(FrmStartTest, TitlePicture) {
    auto* picture = window->findChild<QLabel*>(QStringLiteral("Picture1"));
    ASSERT_NE(picture, nullptr);
    ASSERT_EQ(window->logicalDpiX(), 96);
    EXPECT_EQ(picture->geometry(), QRect(0, 0, 454, 377));
    EXPECT_EQ(picture->pixmap().deviceIndependentSize(), QSizeF(450, 377));
    EXPECT_EQ(picture->pixmap().devicePixelRatio(), window->devicePixelRatioF() > 1 ? 2 : 1)
        << "drawn from the 2x picture on a scaled screen";
    EXPECT_EQ(picture->frameShape(), QFrame::WinPanel);
    EXPECT_EQ(picture->frameShadow(), QFrame::Sunken);
    EXPECT_FALSE(picture->hasScaledContents());
    EXPECT_TRUE(picture->autoFillBackground());
    EXPECT_EQ(picture->palette().color(QPalette::Window), window->palette().color(QPalette::Button));
}

struct KeyCase {
    const char* name;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    const char* opens;
};

void PrintTo(const KeyCase& c, std::ostream* os) {
    *os << c.name;
}

class FrmStartKeys : public FrmStartTest, public ::testing::WithParamInterface<KeyCase> {};

// Each key opens its window modally, owned by the main window; closing it hands the main window back.
TEST_P(FrmStartKeys, OpenTheirWindowModally) {
    const KeyCase& c = GetParam();
    QWidget* opened = runModal([&] { QTest::keyClick(window.get(), c.key, c.modifiers); },
                               [&](QWidget* modal) {
                                   EXPECT_EQ(modal->parentWidget(), window.get());
                                   EXPECT_EQ(modal->windowModality(), Qt::ApplicationModal);
                                   modal->close();
                               });
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(opened->objectName(), c.opens);
    EXPECT_FALSE(opened->isVisible());
    EXPECT_TRUE(window->isVisible());
}

INSTANTIATE_TEST_SUITE_P(Shortcuts, FrmStartKeys,
                         ::testing::Values(KeyCase{"F3", Qt::Key_F3, Qt::NoModifier, "frmIndici"},
                                           KeyCase{"AltD", Qt::Key_D, Qt::AltModifier, "frmAbout"}),
                         [](const auto& info) { return std::string(info.param.name); });

// Alt+O drops the "Optiuni" menu down; "Despre" has nothing to drop.
TEST_F(FrmStartTest, AltOOpensTheOptiuniMenu) {
    QTest::keyClick(window.get(), Qt::Key_O, Qt::AltModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return optiuni()->isVisible(); }));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    optiuni()->close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !optiuni()->isVisible(); }));
}

// While a modal window is open the main window is not active, so F3 does nothing.
TEST_F(FrmStartTest, F3IgnoredWhileAModalWindowIsOpen) {
    QSignalSpy indici(action("mnuIndici"), &QAction::triggered);
    for (auto open : {&FrmStart::mnuDespre_Click, &FrmStart::mnuIndici_Click}) {
        runModal([&] { (window.get()->*open)(); },
                 [&](QWidget* modal) {
                     const int before = indici.count();
                     QTest::keyClick(modal, Qt::Key_F3);
                     QTest::keyClick(window.get(), Qt::Key_F3);
                     QTest::qWait(50);
                     EXPECT_EQ(indici.count(), before);
                     EXPECT_EQ(QApplication::activeModalWidget(), modal);
                     modal->close();
                 });
        activate();
    }
    EXPECT_EQ(indici.count(), 0);
    ASSERT_NE(window->indicesWindow(), nullptr);
}

// Each secondary window is made on first use and the same object is shown every later time.
TEST_F(FrmStartTest, SecondaryWindowsAreMadeOnceAndReused) {
    EXPECT_EQ(window->indicesWindow(), nullptr);
    EXPECT_EQ(window->aboutBox(), nullptr);
    const auto close = [this](QWidget* modal) {
        modal->close();
        activate();
    };

    QWidget* firstIndici = runModal([&] { window->mnuIndici_Click(); }, close);
    QWidget* firstAbout = runModal([&] { window->mnuDespre_Click(); }, close);
    ASSERT_NE(firstIndici, nullptr);
    ASSERT_NE(firstAbout, nullptr);
    EXPECT_EQ(firstIndici, window->indicesWindow());
    EXPECT_EQ(firstAbout, window->aboutBox());

    EXPECT_EQ(runModal([&] { QTest::keyClick(window.get(), Qt::Key_F3); }, close), firstIndici);
    EXPECT_EQ(runModal([&] { action("mnuDespre")->trigger(); }, close), firstAbout);
    EXPECT_EQ(window->findChildren<ordana::qt::FrmIndici*>().size(), 1);
    EXPECT_EQ(window->findChildren<FrmAbout*>().size(), 1);
}

TEST_F(FrmStartTest, ShownAtItsFixedSizeInTheMiddleOfTheScreen) {
    EXPECT_TRUE(QTest::qWaitFor([&] { return fixedAndCentred(); }))
        << frame().x() << "," << frame().y() << " " << frame().width() << "x" << frame().height();
}

struct ResizeCase {
    const char* name;
    std::function<void(QWidget*)> attempt;
};

void PrintTo(const ResizeCase& c, std::ostream* os) {
    *os << c.name;
}

class FrmStartResize : public FrmStartTest, public ::testing::WithParamInterface<ResizeCase> {};

// Whatever changes the size or state, the window comes back normal, 462 x 418, centred, even when the user
// had moved it away first.
TEST_P(FrmStartResize, SnapsBackAndRecentres) {
    dragTo({12, 34});
    ASSERT_TRUE(QTest::qWaitFor([&] { return frame().topLeft() == QPoint(12, 34); }));
    GetParam().attempt(window.get());
    EXPECT_TRUE(QTest::qWaitFor([&] { return fixedAndCentred(); }))
        << "state " << int(window->windowState()) << " at " << frame().x() << "," << frame().y() << " "
        << frame().width() << "x" << frame().height();
}

INSTANTIATE_TEST_SUITE_P(Attempts, FrmStartResize,
                         ::testing::Values(ResizeCase{"Larger", [](QWidget* w) { w->resize(640, 500); }},
                                           ResizeCase{"Smaller", [](QWidget* w) { w->resize(120, 90); }},
                                           ResizeCase{"WiderOnly",
                                                      [](QWidget* w) { w->resize(700, w->height()); }},
                                           ResizeCase{"Maximise", [](QWidget* w) { w->showMaximized(); }},
                                           ResizeCase{"Minimise", [](QWidget* w) { w->showMinimized(); }},
                                           ResizeCase{"FullScreen", [](QWidget* w) { w->showFullScreen(); }}),
                         [](const auto& info) { return std::string(info.param.name); });

// Moving by the title bar raises no resize, so the window stays where it was put.
TEST_F(FrmStartTest, MovingKeepsThePlaceUntilTheNextResize) {
    ASSERT_TRUE(QTest::qWaitFor([&] { return fixedAndCentred(); }));
    dragTo({40, 30});
    EXPECT_TRUE(QTest::qWaitFor([&] { return frame().topLeft() == QPoint(40, 30); }));
    QTest::qWait(100);
    EXPECT_EQ(frame(), QRect(QPoint(40, 30), FrmStart::outerSize));
}

// The close box and "Iesire" both close the main window, the last one, which ends the program.
TEST_F(FrmStartTest, CloseBoxDoesWhatIesireDoes) {
    EXPECT_TRUE(window->testAttribute(Qt::WA_QuitOnClose));
    EXPECT_TRUE(QApplication::quitOnLastWindowClosed());
    for (const auto& close : std::initializer_list<std::function<void()>>{
             [&] { action("mnuIesire")->trigger(); }, [&] { window->windowHandle()->close(); }}) {
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        close();
        EXPECT_FALSE(window->isVisible());
    }
}

// Started with a workbook ("Open with"), the program goes straight to the indices window, which reads the
// workbook without asking for it in the dialog.
TEST(FrmStartOpenWith, TheWorkbookOnTheCommandLineOpensTheIndicesWindowOnIt) {
    ordana::testing::FakeEngine engine;
    auto& sheet = engine.files["/date.xls"].sheet("Date");
    sheet.set(1, 1, ordana::CellValue::text("SPECIA"));
    sheet.set(1, 2, ordana::CellValue::text("ABUNDENTA"));
    sheet.set(2, 1, ordana::CellValue::text("specia 1"));
    sheet.set(2, 2, ordana::CellValue::number(12));
    ordana::qt::FileDialog::setTestMode(true);
    ordana::qt::FileDialog::reset();

    FrmStart window(engine.factory(), "/date.xls");
    QString path, status;
    // Looks in while the modal window runs its own loop, and closes it once it has read the workbook.
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        auto* modal = qobject_cast<ordana::qt::FrmIndici*>(QApplication::activeModalWidget());
        if (!modal || modal->statusText().isEmpty() || modal->sample().speciesCount() == 0) return;
        path = modal->findChild<QLineEdit*>(QStringLiteral("txtLocatie"))->text();
        status = modal->statusText();
        modal->close();
    });
    probe.start(50);
    window.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !path.isEmpty(); }, 5000));
    EXPECT_EQ(path, "/date.xls");
    EXPECT_EQ(status, " Selectati datele si apoi apasati butonul de prelucrare a datelor!");
    EXPECT_TRUE(ordana::qt::FileDialog::requests().empty()) << "the dialog was not shown";
    EXPECT_EQ(window.indicesWindow()->workbookPath(), "/date.xls");
}

} // namespace
