#pragma once

// Where the program meets the user's desktop, alike in both skins. "Open with Ordana": the program started
// with a workbook goes straight to the indices window, whose file command runs on that workbook as if the
// user had chosen it in the dialog. And a document the job wrote, handed to the desktop's own program.

#include "ui/View.h"

#include <optional>
#include <string>
#include <vector>

namespace ordana::ui {

// The workbook named on the command line: the first argument after the program's own name, or empty.
// Nothing else on the line is read.
std::string workbookArgument(const std::vector<std::string>& arguments);

// The workbook carried to the indices window's next opening.
class OpeningWorkbook {
  public:
    void set(std::string path) { path_ = std::move(path); }
    // At an opening: the file command is to run at once.
    bool pending() const { return !path_.empty(); }
    // The file dialog's answer: the workbook once, then nothing, and the real dialog asks.
    std::optional<std::string> take();

  private:
    std::string path_;
};

// The box shown when the desktop has no program to open a document with, naming it.
Message documentNotOpened(const std::string& path);
// The boxes of a file dialog that could not be shown (with the system's error code), and of a chosen item
// that is no file the program can open by a path, named; the caption is the dialog's title.
Message dialogFailed(const std::string& title, long code);
Message noFilePath(const std::string& title, const std::string& item);

} // namespace ordana::ui
