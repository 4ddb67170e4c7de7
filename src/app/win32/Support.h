#pragma once

// What the native Windows windows share: text in UTF-16, twips at a monitor's DPI, the dialog font, the
// pictures of the resources, message boxes and the open-file dialog.

#include "ui/View.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace ordana::win32 {

std::wstring wide(const std::string& utf8);
std::string utf8(const std::wstring& text);

// The window's own DPI (96 at 100 %, 144 at 150 %, 192 at 200 %).
UINT dpiOf(HWND window);
// The shared rule of ui/Placement.h at that DPI.
int twipsToPixels(int twips, UINT dpi);
// A pixel size of the layout (drawn for 96 DPI) at the DPI.
int scaled(int pixels96, UINT dpi);

// Registers a window class of the program: its icon, the arrow, the button face as the ground.
void registerClass(const wchar_t* name, WNDPROC proc);

// The object a window procedure serves: the one given to CreateWindowExW, kept in the window's user data.
template <class T> T* instanceOf(HWND window, UINT message, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    return reinterpret_cast<T*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

// Places a control at a rectangle of the layout, in twips, at the DPI.
void placeTwips(HWND control, int left, int top, int width, int height, UINT dpi);

// The platform's dialog font at the DPI; the caller deletes it.
HFONT createDialogFont(UINT dpi, int points = 0, const wchar_t* face = nullptr);

// A picture of the resources (RCDATA, JPEG) decoded into a bitmap; the 2x version is taken from 150 % up and
// drawn at the DPI's size, so the picture stays sharp. Null when it cannot be decoded.
class Picture {
  public:
    Picture(int resource, int resource2x) : resource_(resource), resource2x_(resource2x) {}
    ~Picture();
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;

    // Draws the picture at its natural size in layout pixels from (x, y), clipped by the clip rectangle.
    void draw(HDC dc, int x, int y, UINT dpi);

  private:
    struct Decoded {
        HBITMAP bitmap = nullptr;
        int width = 0, height = 0;
    };
    Decoded& decoded(bool sharp);
    int resource_, resource2x_;
    Decoded normal_, sharp_;
};

// Centres a window of the given outer size on the monitor it stands on (the whole monitor, as the screen), by
// the shared rule of ui/Placement.h.
POINT centredOnMonitor(HWND window, SIZE outer);

// A modal box without icon, its first button the default; the caption in its title bar.
ui::Answer showMessage(HWND owner, const ui::Message& message);

// The common item dialog with the title, the filter entries and Romanian labels; nothing when cancelled. A
// choice it cannot return as a path is named in a box, and the answer is then empty.
std::optional<std::string> askOpenFile(HWND owner, const std::string& title,
                                       const std::vector<ui::FileFilter>& filters);

// Runs a modal loop for the window until it is destroyed: the owner takes no input meanwhile, and the
// dialog keys (Tab, Enter, Esc, access keys) work as in a dialog box.
void runModal(HWND window, HWND owner);

// Shows the focus rectangle and the access keys at once, not only after the first key press.
void showKeyboardCues(HWND window);

} // namespace ordana::win32
