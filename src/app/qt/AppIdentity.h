#pragma once

class QApplication;

namespace ordana::qt {

// Gives the application its name, version and icon. The name is the application title, which the window
// system shows on any window (a message box) that has no caption of its own.
void installIdentity(QApplication& app);

} // namespace ordana::qt
