#pragma once

// What the windows' logic asks of a toolkit. The Qt windows and the native Windows ones implement these small
// interfaces; the logic never knows which one it drives, and its tests drive a fake.

#include <optional>
#include <string>
#include <vector>

namespace ordana::ui {

// Numbered as the answers the indices window stores (OK 1, Abort 3, Retry 4, Ignore 5).
enum Answer { Ok = 1, Abort = 3, Retry = 4, Ignore = 5 };
enum class Buttons { OkOnly, AbortRetryIgnore };

// A modal box without icon whose first button is the default.
struct Message {
    std::string text; // line breaks are CR LF
    std::string caption;
    Buttons buttons = Buttons::OkOnly;
    // The engine's own description, shown beneath a text that does not carry it; often empty.
    std::string detail;
    friend bool operator==(const Message&, const Message&) = default;
};

// The buttons of a box, in the order they stand in it.
std::vector<Answer> buttonsOf(Buttons buttons);

// One entry of the open-file dialog: the label as the user reads it, and the patterns it stands for.
struct FileFilter {
    std::string label;
    std::vector<std::string> patterns;
    friend bool operator==(const FileFilter&, const FileFilter&) = default;
};

// The controls of the indices window that the logic changes.
enum class Control {
    FileButton,
    PathBox,
    SheetList,
    CalcButton,
    CancelButton,
    Status,
    EstimatesBox,
    AllSheetsBox,
    IncidenceBox
};

class IndicesView {
  public:
    virtual ~IndicesView() = default;

    // Shows the box modally and returns the button chosen.
    virtual Answer showMessage(const Message& message) = 0;
    // The chosen file's full path (empty when the dialog gave none), or nothing when the user cancelled.
    virtual std::optional<std::string> askOpenFile(const std::string& title,
                                                   const std::vector<FileFilter>& filters) = 0;

    virtual void setText(Control control, const std::string& text) = 0;
    virtual void setEnabled(Control control, bool enabled) = 0;
    // Replaces a list's entries and selects one (-1: none). Never raises the list's own selection event.
    virtual void setItems(Control control, const std::vector<std::string>& items, int selected) = 0;
    virtual void setFocus(Control control) = 0;
    // Paints what was set so far at once: a command about to work without returning to the event loop.
    virtual void paintNow() = 0;
    // The busy pointer while a command works; a box or dialog shown meanwhile takes the arrow.
    virtual void setBusy(bool busy) = 0;
    // Closes (unloads) the window.
    virtual void close() = 0;
    // Ticks or clears a check box. Never raises the box's own click event.
    virtual void setChecked(Control control, bool checked) = 0;
    // Opens a document the job wrote (the report) in the program the user's desktop opens it with.
    virtual void openDocument(const std::string& path) = 0;
};

// The user's choices remembered between runs: QSettings on Linux, the registry under HKCU\Software\Ordana on
// Windows. A key never set reads as the fallback.
class Preferences {
  public:
    virtual ~Preferences() = default;
    virtual bool flag(const std::string& key, bool fallback) = 0;
    virtual void setFlag(const std::string& key, bool value) = 0;
};

} // namespace ordana::ui
