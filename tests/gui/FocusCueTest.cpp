// The indices window shows which button has the keyboard focus: from the opening on, after a click as after
// Tab, since Enter presses that button.

#include "app/qt/Dialogs.h"
#include "app/qt/FrmIndici.h"
#include "support/FakeSpreadsheet.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

using ordana::qt::FileDialog;
using ordana::qt::FrmIndici;

TEST(FrmIndiciFocusCue, TheFocusedButtonLooksDifferent) {
    ordana::testing::FakeEngine engine;
    FileDialog::setTestMode(true);
    FileDialog::reset();
    FrmIndici window(engine.factory());
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    auto* cmdFis = window.findChild<QPushButton*>("cmdFis");
    auto* cmdCancel = window.findChild<QPushButton*>("cmdCancel");
    ASSERT_TRUE(cmdFis && cmdCancel);

    // Each button drawn with and without the focus, reached in three ways.
    const struct {
        const char* how;
        std::function<void()> focus;
    } rows[] = {
        {"as opened", [] {}},
        {"by a click", [&] { QTest::mouseClick(cmdFis, Qt::LeftButton); }}, // the dialog is cancelled
        {"by Shift+Tab",
         [&] { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier); }},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.how);
        r.focus();
        QPushButton* focused = qobject_cast<QPushButton*>(QApplication::focusWidget());
        ASSERT_TRUE(focused);
        QPushButton* other = focused == cmdCancel ? cmdFis : cmdCancel;
        const QImage withFocus = focused->grab().toImage();
        other->setFocus(Qt::OtherFocusReason);
        const QImage withoutFocus = focused->grab().toImage();
        EXPECT_NE(withFocus, withoutFocus) << focused->objectName().toStdString();
        focused->setFocus(Qt::OtherFocusReason);
    }
}
