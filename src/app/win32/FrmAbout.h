#pragma once

// The About box with the Windows API's own controls, over the same texts and layout as the Qt one.

#include "Support.h"

#include <windows.h>

namespace ordana::win32 {

class FrmAbout {
  public:
    FrmAbout();
    ~FrmAbout();
    FrmAbout(const FrmAbout&) = delete;
    FrmAbout& operator=(const FrmAbout&) = delete;

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

} // namespace ordana::win32
