#pragma once

// The main window and the About box with the Windows API's own controls, over the same menu table and texts
// as the Qt windows.

#include "Win32Indici.h"
#include "Win32Support.h"

#include "ui/Shell.h"

#include <windows.h>

#include <memory>
#include <string>

namespace ordana::win32 {

class AboutBox32 {
  public:
    AboutBox32();
    ~AboutBox32();
    AboutBox32(const AboutBox32&) = delete;
    AboutBox32& operator=(const AboutBox32&) = delete;

    // Builds the box, runs its load step and shows it modally; returns once it is closed.
    void showModal(HWND owner);

    static constexpr wchar_t kClassName[] = L"OrdanaFrmAbout";

  private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    void Form_Load();
    void layout();

    HWND owner_ = nullptr;
    HWND window_ = nullptr;
    HWND frmDespre = nullptr;
    HWND cmdOK = nullptr;
    HWND lblDescriere = nullptr;
    HWND lblTitle = nullptr;
    HFONT font_ = nullptr;
    UINT dpi_ = 96;
    Picture picture_;
};

class StartWindow32 : private ui::StartView {
  public:
    // With a workbook (from "Open with"), the indices window opens on it once the main window shows.
    StartWindow32(spreadsheet::ApplicationFactory start, std::string workbook);
    ~StartWindow32() override;
    StartWindow32(const StartWindow32&) = delete;
    StartWindow32& operator=(const StartWindow32&) = delete;

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
    HWND window_ = nullptr;
    HWND Picture1 = nullptr;
    HACCEL accelerators_ = nullptr;
    UINT dpi_ = 96;
    bool resizing_ = false;
    Picture picture_;
    std::unique_ptr<IndicesWindow32> frmIndici_;
    std::unique_ptr<AboutBox32> frmAbout_;
};

} // namespace ordana::win32
