#include "GuiTestSupport.h"

#include "app/qt/FrmAbout.h"
#include "app/qt/Placement.h"
#include "common/Identity.h"

#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include <memory>

using ordana::qt::FrmAbout;
using ordana::testing::runModal;

namespace {

class FrmAboutTest : public ::testing::Test {
  protected:
    void SetUp() override {
        owner.setWindowTitle(QStringLiteral("ORDANA"));
        owner.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&owner));
        about = new FrmAbout(&owner);
    }

    template <typename T> T* child(const char* name) const {
        return about->findChild<T*>(QString::fromLatin1(name));
    }
    QString text(const char* label) const { return child<QLabel>(label)->text(); }

    QWidget owner;
    FrmAbout* about = nullptr;
};

// Every opening fills the box anew; closing empties it again, as an unloaded form would be.
TEST_F(FrmAboutTest, TextsAreExactAtEveryOpening) {
    EXPECT_TRUE(text("lblTitle").isEmpty());
    EXPECT_TRUE(text("lblDescriere").isEmpty());
    for (int opening = 1; opening <= 2; ++opening) {
        SCOPED_TRACE(opening);
        runModal([&] { about->exec(); },
                 [&](QWidget*) {
                     EXPECT_EQ(about->windowTitle(), "Despre Ordana v1.50");
                     EXPECT_EQ(text("lblTitle"), "Ordana v1.50   1.5.2");
                     const QString description = text("lblDescriere");
                     EXPECT_TRUE(
                         description.startsWith("Aplicatie destinata evaluarii biodiversitatii.\r\n\r\n"));
                     const QStringList lines = description.split(QStringLiteral("\r\n"));
                     EXPECT_GE(lines.size(), 3);
                     EXPECT_FALSE(lines.last().isEmpty());
                     for (const QString& line : lines)
                         EXPECT_FALSE(line.contains('\r') || line.contains('\n')) << line.toStdString();
                     EXPECT_EQ(child<QPushButton>("cmdOK")->text(), "OK");
                     about->close();
                 });
        EXPECT_TRUE(text("lblTitle").isEmpty());
    }
}

// The version part is built from the numbers, without leading zeros, after exactly three blanks.
TEST(FrmAboutIdentity, VersionTextsFollowTheNumbers) {
    using namespace ordana::identity;
    const QString numbers =
        QStringLiteral("%1.%2.%3").arg(versionMajor).arg(versionMinor).arg(versionRevision);
    EXPECT_EQ(FrmAbout::titleText(), QStringLiteral("Ordana v1.50   ") + numbers);
    EXPECT_EQ(numbers, "1.5.2");
    EXPECT_EQ(QString::fromLatin1(fileVersionText), QStringLiteral("%1.%2.%3")
                                                        .arg(versionMajor)
                                                        .arg(versionMinor, 2, 10, QChar('0'))
                                                        .arg(versionRevision, 4, 10, QChar('0')));
    EXPECT_STREQ(title, "Ordana v1.50");
    EXPECT_STREQ(productName, "Ordana");
    EXPECT_STREQ(comments, "Ordana - evaluarea biodiversitatii");
    EXPECT_STREQ(internalName, "Ordana v1.50");
    EXPECT_STREQ(originalFilename, "Ordana v1.50.exe");
    EXPECT_EQ(QApplication::applicationName(), "Ordana v1.50");
}

// The twips table at 96 dots per inch.
TEST_F(FrmAboutTest, ControlsStandWhereTheLayoutPutsThem) {
    ASSERT_EQ(about->logicalDpiX(), 96);
    struct Place {
        const char* name;
        QRect pixels;
    };
    const Place places[] = {
        {"frmDespre", {8, 8, 199, 225}},       {"cmdOK", {392, 208, 84, 23}},   {"Line1", {216, 40, 256, 1}},
        {"lblDescriere", {216, 48, 259, 158}}, {"lblTitle", {216, 8, 171, 24}},
    };
    for (const Place& p : places) {
        SCOPED_TRACE(p.name);
        QWidget* w = child<QWidget>(p.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->geometry(), p.pixels);
    }
    auto* picture = child<QLabel>("frmDespre");
    EXPECT_EQ(picture->pixmap().deviceIndependentSize(), QSizeF(197, 223));
    EXPECT_EQ(picture->pixmap().devicePixelRatio(), picture->devicePixelRatioF() > 1 ? 2 : 1);
    EXPECT_EQ(picture->contentsRect().size(), QSize(197, 223)); // one pixel of border each side
    EXPECT_EQ(picture->frameShadow(), QFrame::Plain);
    EXPECT_EQ(child<QWidget>("Line1")->palette().color(QPalette::Window), QColor(128, 128, 128));
    EXPECT_TRUE(child<QLabel>("lblDescriere")->wordWrap());
}

// A fixed dialog frame: no resizing, no minimise or maximise button; centred; OK has the focus and is both
// the default and the cancel button.
TEST_F(FrmAboutTest, FixedCentredWithFocusOnOK) {
    runModal([&] { about->exec(); },
             [&](QWidget*) {
                 EXPECT_EQ(about->minimumSize(), QSize(490, 241));
                 EXPECT_EQ(about->maximumSize(), QSize(490, 241));
                 EXPECT_EQ(about->size(), QSize(490, 241));
                 const Qt::WindowFlags flags = about->windowFlags();
                 EXPECT_FALSE(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
                 EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
                 const QRect frame = about->frameGeometry();
                 EXPECT_EQ(frame.topLeft(), ordana::qt::centredOn(about->screen()->geometry(), frame.size()));
                 auto* ok = child<QPushButton>("cmdOK");
                 EXPECT_TRUE(ok->isDefault());
                 EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == ok; }));
                 about->close();
             });
}

struct CloseCase {
    const char* name;
    std::function<void(FrmAbout*)> close;
};

void PrintTo(const CloseCase& c, std::ostream* os) {
    *os << c.name;
}

class FrmAboutCloses : public FrmAboutTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(FrmAboutCloses, ByEveryWay) {
    int result = -1;
    QWidget* opened =
        runModal([&] { result = about->exec(); },
                 [&](QWidget*) {
                     EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() != nullptr; }));
                     GetParam().close(about);
                 });
    EXPECT_EQ(opened, about);
    EXPECT_FALSE(about->isVisible());
    EXPECT_EQ(result, QDialog::Accepted) << "closed the way OK closes it";
}

INSTANTIATE_TEST_SUITE_P(
    Ways, FrmAboutCloses,
    ::testing::Values(
        CloseCase{"Return", [](FrmAbout*) { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); }},
        CloseCase{"Enter",
                  [](FrmAbout*) {
                      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter, Qt::KeypadModifier);
                  }},
        CloseCase{"Escape", [](FrmAbout*) { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape); }},
        CloseCase{"EscapeOnTheBox", [](FrmAbout* a) { QTest::keyClick(a, Qt::Key_Escape); }},
        CloseCase{
            "ClickOK",
            [](FrmAbout* a) { QTest::mouseClick(a->findChild<QPushButton*>("cmdOK"), Qt::LeftButton); }},
        CloseCase{"CloseBox", [](FrmAbout* a) { a->windowHandle()->close(); }}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
