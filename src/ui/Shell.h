#pragma once

// The main window's menu and the About box's texts, without a toolkit. Both toolkits build their menu bar
// from the same table and run the same command for an item.

#include <string>
#include <vector>

namespace ordana::ui {

namespace start {

inline constexpr char kCaption[] = "ORDANA";
// Outer size in pixels, whatever the frame; the picture box in twips.
inline constexpr int kOuterWidth = 462;
inline constexpr int kOuterHeight = 418;
inline constexpr int kPictureWidth = 6815;
inline constexpr int kPictureHeight = 5655;

} // namespace start

enum class Command { None, Indices, Exit, About };

// One entry of the menu bar or of a drop-down: "&" marks the access key.
struct MenuItem {
    std::string name;    // the control's name
    std::string caption; // empty for a separator
    std::string shortcut;
    Command command = Command::None;
    std::vector<MenuItem> items; // a drop-down's entries; empty for a command straight on the bar
    bool isSeparator() const { return caption.empty(); }
};

// The menu bar, left to right.
const std::vector<MenuItem>& mainMenu();

// What the main window's menu commands ask of a toolkit.
class StartView {
  public:
    virtual ~StartView() = default;
    // Create the window on first use, then show the same one modally, owned by the main window.
    virtual void showIndicesWindow() = 0;
    virtual void showAboutBox() = 0;
    // Unload the main window, which ends the program.
    virtual void closeMainWindow() = 0;
};

void run(Command command, StartView& view);

namespace about {

// "Despre " and the application title.
std::string caption();
// The application title, three blanks, then the version numbers in plain decimal.
std::string titleText();
// The description, an empty line and the credits; lines end in CR LF.
std::string descriptionText();

inline constexpr char kOkButton[] = "OK";
// Client area and controls, in twips.
inline constexpr int kClientWidth = 7350;
inline constexpr int kClientHeight = 3615;
struct Place {
    int left, top, width, height;
};
inline constexpr Place kPicture{120, 120, 2985, 3375};
inline constexpr Place kOk{5880, 3120, 1260, 345};
inline constexpr Place kDescription{3240, 720, 3885, 2370};
inline constexpr Place kTitle{3240, 120, 2565, 360};
// The rule under the title: from (left, top) to (right, top), grey.
inline constexpr int kRuleLeft = 3240, kRuleRight = 7080, kRuleTop = 600;

} // namespace about

} // namespace ordana::ui
