#include "FrmAbout.h"

#include "resource.h"

#include "ui/Shell.h"

namespace ordana::win32 {

namespace {
enum : int { kIdPicture = 2001, kIdDescription, kIdTitle };
} // namespace

FrmAbout::FrmAbout() : picture_(IDR_ABOUT_JPG, IDR_ABOUT_JPG_2X) {}

FrmAbout::~FrmAbout() {
    if (window_) DestroyWindow(window_);
    if (font_) DeleteObject(font_);
}

void FrmAbout::showModal(HWND owner) {
    static const bool registered = (registerClass(kClassName, &FrmAbout::windowProc), true);
    if (!registered || window_) return;
    owner_ = owner;
    // Fixed dialog frame, only the close box, not in the task bar.
    window_ = CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, kClassName, L"",
                              WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN, 0, 0, 0, 0, owner,
                              nullptr, GetModuleHandleW(nullptr), this);
    if (!window_) return;
    dpi_ = dpiOf(window_);
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    // OK first: it has the focus when the box opens.
    cmdOK = CreateWindowExW(0, L"BUTTON", wide(ui::about::kOkButton).c_str(),
                            WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 0, 0, 0, window_,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDOK)), instance, nullptr);
    frmDespre = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | WS_BORDER | SS_OWNERDRAW, 0, 0, 0,
                                0, window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIdPicture)),
                                instance, nullptr);
    lblDescriere =
        CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0, 0, 0, 0, window_,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIdDescription)), instance, nullptr);
    lblTitle =
        CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0, 0, 0, 0, window_,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIdTitle)), instance, nullptr);
    layout();
    Form_Load();
    showKeyboardCues(window_);
    runModal(window_, owner);
}

void FrmAbout::layout() {
    namespace a = ui::about;
    if (font_) DeleteObject(font_);
    font_ = createDialogFont(dpi_);
    for (HWND c : {cmdOK, lblDescriere, lblTitle})
        SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
    // The picture box measures the picture plus its one-pixel border on each side.
    placeTwips(frmDespre, a::kPicture.left, a::kPicture.top, a::kPicture.width, a::kPicture.height, dpi_);
    placeTwips(cmdOK, a::kOk.left, a::kOk.top, a::kOk.width, a::kOk.height, dpi_);
    placeTwips(lblDescriere, a::kDescription.left, a::kDescription.top, a::kDescription.width,
               a::kDescription.height, dpi_);
    placeTwips(lblTitle, a::kTitle.left, a::kTitle.top, a::kTitle.width, a::kTitle.height, dpi_);
    // The outer size from the client area at this DPI.
    RECT outer{0, 0, twipsToPixels(a::kClientWidth, dpi_), twipsToPixels(a::kClientHeight, dpi_)};
    AdjustWindowRectEx(&outer, static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_EXSTYLE)));
    const SIZE size{outer.right - outer.left, outer.bottom - outer.top};
    const POINT at = centredOnMonitor(window_, size);
    SetWindowPos(window_, nullptr, at.x, at.y, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

void FrmAbout::Form_Load() {
    SetWindowTextW(window_, wide(ui::about::caption()).c_str());
    SetWindowTextW(lblTitle, wide(ui::about::titleText()).c_str());
    SetWindowTextW(lblDescriere, wide(ui::about::descriptionText()).c_str());
}

LRESULT CALLBACK FrmAbout::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = instanceOf<FrmAbout>(window, message, lParam);
    // The handle is taken when the window is made and given up at WM_DESTROY: the messages that follow it
    // (WM_NCDESTROY) must not bring back a handle that is gone, or the next opening would find it.
    if (self && message == WM_NCCREATE) self->window_ = window;
    if (!self || self->window_ != window) return DefWindowProcW(window, message, wParam, lParam);
    return self->handle(message, wParam, lParam);
}

LRESULT FrmAbout::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    const HWND window = window_;
    switch (message) {
    case WM_COMMAND:
        // OK is the default and the cancel button: Enter and Esc close the box as it does.
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) PostMessageW(window, WM_CLOSE, 0, 0);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        const HDC dc = BeginPaint(window, &ps);
        // The grey rule under the title, one pixel.
        const HPEN pen = CreatePen(PS_SOLID, 1, RGB(128, 128, 128));
        const HGDIOBJ old = SelectObject(dc, pen);
        const int y = twipsToPixels(ui::about::kRuleTop, dpi_);
        MoveToEx(dc, twipsToPixels(ui::about::kRuleLeft, dpi_), y, nullptr);
        LineTo(dc, twipsToPixels(ui::about::kRuleRight, dpi_), y);
        SelectObject(dc, old);
        DeleteObject(pen);
        EndPaint(window, &ps);
        return 0;
    }
    case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item->hwndItem != frmDespre) break;
        FillRect(item->hDC, &item->rcItem, GetSysColorBrush(COLOR_WINDOW));
        picture_.draw(item->hDC, item->rcItem.left, item->rcItem.top, dpi_);
        return TRUE;
    }
    case WM_CTLCOLORSTATIC: {
        // Black text on the dialog background.
        const HDC dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, RGB(0, 0, 0));
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_DPICHANGED:
        dpi_ = HIWORD(wParam);
        layout();
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE) SetFocus(cmdOK);
        return 0;
    case WM_CLOSE:
        if (owner_) EnableWindow(owner_, TRUE);
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        // Closing unloads the box: the next showing builds and loads it anew.
        window_ = frmDespre = cmdOK = lblDescriere = lblTitle = nullptr;
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace ordana::win32
