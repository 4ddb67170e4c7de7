#pragma once

// The main window with the Windows API's own controls, over the same menu table as the Qt one.

#include "FrmAbout.h"
#include "FrmIndici.h"
#include "Preferences.h"
#include "Support.h"

#include "ui/Shell.h"

#include <windows.h>

#include <memory>
#include <string>

namespace ordana::win32 {

class FrmStart : private ui::StartView {
  public:
    // With a workbook (from "Open with"), the indices window opens on it once the main window shows.
    FrmStart(spreadsheet::ApplicationFactory start, std::string workbook);
    ~FrmStart() override;
    FrmStart(const FrmStart&) = delete;
    FrmStart& operator=(const FrmStart&) = delete;

    // Creates and shows the main window; false when it cannot be created.
    bool create(int show);
    // The message loop of the run; ends when the main window is closed.
    int run();

    static constexpr wchar_t kClassName[] = L"OrdanaFrmStart";

  private:
    void showIndicesWindow() override;
    void showAboutBox() override;
    void closeMainWindow() override;

    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK pictureProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    HMENU createMenus();
    void Form_Resize();

    spreadsheet::ApplicationFactory start_;
    std::string workbook_;
    Preferences preferences_;
    HWND window_ = nullptr;
    HWND Picture1 = nullptr;
    HACCEL accelerators_ = nullptr;
    UINT dpi_ = 96;
    bool resizing_ = false;
    Picture picture_;
    std::unique_ptr<FrmIndici> frmIndici_;
    std::unique_ptr<FrmAbout> frmAbout_;
};

} // namespace ordana::win32
