#pragma once

#include <QApplication>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <functional>

#include <gtest/gtest.h>

namespace ordana::testing {

// Runs `open`, which shows a window modally and returns once it is closed. While it is open, `whileOpen`
// gets the modal window and must close it; if it does not, a watchdog closes it so the test cannot hang.
// Returns the window that was modal, or null when none opened.
inline QWidget* runModal(const std::function<void()>& open, const std::function<void(QWidget*)>& whileOpen) {
    QPointer<QWidget> seen;
    QTimer probe; // local, so a window that never opens leaves nothing behind for the next test
    probe.setSingleShot(true);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        seen = QApplication::activeModalWidget();
        if (!seen) return;
        if (!QTest::qWaitForWindowActive(seen)) ADD_FAILURE() << "the modal window never became active";
        whileOpen(seen);
    });
    probe.start(0);
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] {
        if (QWidget* left = QApplication::activeModalWidget()) {
            ADD_FAILURE() << "modal window " << left->objectName().toStdString() << " was left open";
            left->close();
        }
    });
    watchdog.start(5000);
    open();
    return seen;
}

} // namespace ordana::testing
