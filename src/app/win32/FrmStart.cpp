#include "FrmStart.h"

#include "resource.h"

#include <commctrl.h>

#include <utility>

namespace ordana::win32 {

namespace {

enum : int { kIdPicture = 2001, kIdCommandBase = 3000 };

} // namespace

FrmStart::FrmStart(spreadsheet::ApplicationFactory start, std::string workbook)
    : start_(std::move(start)), workbook_(std::move(workbook)), picture_(IDR_TITLE_JPG, IDR_TITLE_JPG_2X) {}

FrmStart::~FrmStart() {
    if (accelerators_) DestroyAcceleratorTable(accelerators_);
}

HMENU FrmStart::createMenus() {
    // The same table as the Qt menu bar; the command's number is its place in the Command enumeration.
    std::vector<ACCEL> keys;
    const HMENU bar = CreateMenu();
    for (const ui::MenuItem& entry : ui::mainMenu()) {
        if (entry.items.empty()) {
            AppendMenuW(bar, MF_STRING, kIdCommandBase + static_cast<int>(entry.command),
                        wide(entry.caption).c_str());
            continue;
        }
        const HMENU drop = CreatePopupMenu();
        for (const ui::MenuItem& item : entry.items) {
            if (item.isSeparator()) {
                AppendMenuW(drop, MF_SEPARATOR, 0, nullptr);
                continue;
            }
            const WORD id = static_cast<WORD>(kIdCommandBase + static_cast<int>(item.command));
            std::string caption = item.caption;
            if (!item.shortcut.empty()) caption += "\t" + item.shortcut;
            AppendMenuW(drop, MF_STRING, id, wide(caption).c_str());
            if (item.shortcut == "F3") keys.push_back({FVIRTKEY, VK_F3, id});
        }
        AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(drop), wide(entry.caption).c_str());
    }
    accelerators_ = CreateAcceleratorTableW(keys.data(), static_cast<int>(keys.size()));
    return bar;
}

bool FrmStart::create(int show) {
    registerClass(kClassName, &FrmStart::windowProc);
    window_ = CreateWindowExW(0, kClassName, wide(ui::start::kCaption).c_str(),
                              WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT,
                              ui::start::kOuterWidth, ui::start::kOuterHeight, nullptr, createMenus(),
                              GetModuleHandleW(nullptr), this);
    if (!window_) return false;
    dpi_ = dpiOf(window_);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &FrmStart::pictureProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = L"OrdanaPicture";
    RegisterClassExW(&wc);
    // The standard sunken border; the picture at its natural size from the top-left corner, clipped.
    Picture1 = CreateWindowExW(WS_EX_CLIENTEDGE, L"OrdanaPicture", L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0,
                               window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIdPicture)),
                               GetModuleHandleW(nullptr), this);
    Form_Resize();
    ShowWindow(window_, show);
    UpdateWindow(window_);
    showKeyboardCues(window_);
    if (!workbook_.empty()) PostMessageW(window_, WM_APP + 1, 0, 0);
    return true;
}

int FrmStart::run() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        // F3 only while the main window is the active one: a modal window runs its own loop.
        if (accelerators_ && TranslateAcceleratorW(window_, accelerators_, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

// The outer size is held at 462 x 418 layout pixels, centred on the monitor; a minimised or maximised
// window is restored first, and the restore's own resize centres it.
void FrmStart::Form_Resize() {
    if (resizing_) return;
    resizing_ = true;
    if (IsIconic(window_) || IsZoomed(window_)) {
        ShowWindow(window_, SW_RESTORE);
        PostMessageW(window_, WM_APP, 0, 0);
    } else {
        const SIZE outer{scaled(ui::start::kOuterWidth, dpi_), scaled(ui::start::kOuterHeight, dpi_)};
        const POINT at = centredOnMonitor(window_, outer);
        SetWindowPos(window_, nullptr, at.x, at.y, outer.cx, outer.cy, SWP_NOZORDER | SWP_NOACTIVATE);
        placeTwips(Picture1, 0, 0, ui::start::kPictureWidth, ui::start::kPictureHeight, dpi_);
    }
    resizing_ = false;
}

void FrmStart::showIndicesWindow() {
    if (!frmIndici_) frmIndici_ = std::make_unique<FrmIndici>(start_, &preferences_);
    frmIndici_->showModal(window_);
}

void FrmStart::showAboutBox() {
    if (!frmAbout_) frmAbout_ = std::make_unique<FrmAbout>();
    frmAbout_->showModal(window_);
}

void FrmStart::closeMainWindow() {
    PostMessageW(window_, WM_CLOSE, 0, 0);
}

LRESULT CALLBACK FrmStart::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = instanceOf<FrmStart>(window, message, lParam);
    // The handle is taken when the window is made and given up at WM_DESTROY: the messages that follow it
    // (WM_NCDESTROY) must not bring back a handle that is gone, or the next opening would find it.
    if (self && message == WM_NCCREATE) self->window_ = window;
    if (!self || self->window_ != window) return DefWindowProcW(window, message, wParam, lParam);
    return self->handle(message, wParam, lParam);
}

LRESULT CALLBACK FrmStart::pictureProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = instanceOf<FrmStart>(window, message, lParam);
    if (self && message == WM_PAINT) {
        PAINTSTRUCT ps;
        const HDC dc = BeginPaint(window, &ps);
        self->picture_.draw(dc, 0, 0, self->dpi_);
        EndPaint(window, &ps);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT FrmStart::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    const HWND window = window_;
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) >= kIdCommandBase && LOWORD(wParam) <= kIdCommandBase + 3)
            ui::run(static_cast<ui::Command>(LOWORD(wParam) - kIdCommandBase), *this);
        return 0;
    case WM_SIZE:
        // Answered after the window system has finished the change that brought us here.
        if (!resizing_) PostMessageW(window, WM_APP, 0, 0);
        break;
    case WM_APP:
        Form_Resize();
        return 0;
    case WM_APP + 1:
        if (!frmIndici_) frmIndici_ = std::make_unique<FrmIndici>(start_, &preferences_);
        frmIndici_->chooseAtOpening(std::exchange(workbook_, {}));
        showIndicesWindow();
        return 0;
    case WM_DPICHANGED:
        dpi_ = HIWORD(wParam);
        Form_Resize();
        InvalidateRect(Picture1, nullptr, TRUE);
        return 0;
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace ordana::win32
