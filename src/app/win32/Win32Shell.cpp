#include "Win32Shell.h"

#include "resource.h"

#include <commctrl.h>

#include <utility>

namespace ordana::win32 {

namespace {

enum : int { kIdPicture = 2001, kIdDescription, kIdTitle, kIdCommandBase = 3000 };
constexpr UINT kArrow = 32512;

HICON applicationIcon(int size) {
    return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_ORDANA), IMAGE_ICON,
                                         size, size, LR_DEFAULTCOLOR));
}

void registerClass(const wchar_t* name, WNDPROC proc) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hIcon = applicationIcon(GetSystemMetrics(SM_CXICON));
    wc.hIconSm = applicationIcon(GetSystemMetrics(SM_CXSMICON));
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(kArrow));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = name;
    RegisterClassExW(&wc);
}

template <class T> T* instanceOf(HWND window, UINT message, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    return reinterpret_cast<T*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

void placeTwips(HWND control, int left, int top, int width, int height, UINT dpi) {
    SetWindowPos(control, nullptr, twipsToPixels(left, dpi), twipsToPixels(top, dpi),
                 twipsToPixels(width, dpi), twipsToPixels(height, dpi), SWP_NOZORDER | SWP_NOACTIVATE);
}

} // namespace

// ---- About box

AboutBox32::AboutBox32() : picture_(IDR_ABOUT_JPG, IDR_ABOUT_JPG_2X) {}

AboutBox32::~AboutBox32() {
    if (window_) DestroyWindow(window_);
    if (font_) DeleteObject(font_);
}

void AboutBox32::showModal(HWND owner) {
    static const bool registered = (registerClass(kClassName, &AboutBox32::windowProc), true);
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

void AboutBox32::layout() {
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

void AboutBox32::Form_Load() {
    SetWindowTextW(window_, wide(ui::about::caption()).c_str());
    SetWindowTextW(lblTitle, wide(ui::about::titleText()).c_str());
    SetWindowTextW(lblDescriere, wide(ui::about::descriptionText()).c_str());
}

LRESULT CALLBACK AboutBox32::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = instanceOf<AboutBox32>(window, message, lParam);
    if (!self) return DefWindowProcW(window, message, wParam, lParam);
    if (!self->window_) self->window_ = window;
    if (self->window_ != window) return DefWindowProcW(window, message, wParam, lParam);
    return self->handle(message, wParam, lParam);
}

LRESULT AboutBox32::handle(UINT message, WPARAM wParam, LPARAM lParam) {
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

// ---- Main window

StartWindow32::StartWindow32(spreadsheet::ApplicationFactory start, std::string workbook)
    : start_(std::move(start)), workbook_(std::move(workbook)), picture_(IDR_TITLE_JPG, IDR_TITLE_JPG_2X) {}

StartWindow32::~StartWindow32() {
    if (accelerators_) DestroyAcceleratorTable(accelerators_);
}

HMENU StartWindow32::createMenus() {
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

bool StartWindow32::create(int show) {
    registerClass(kClassName, &StartWindow32::windowProc);
    window_ = CreateWindowExW(0, kClassName, wide(ui::start::kCaption).c_str(),
                              WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT,
                              ui::start::kOuterWidth, ui::start::kOuterHeight, nullptr, createMenus(),
                              GetModuleHandleW(nullptr), this);
    if (!window_) return false;
    dpi_ = dpiOf(window_);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &StartWindow32::pictureProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(kArrow));
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

int StartWindow32::run() {
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
void StartWindow32::Form_Resize() {
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

void StartWindow32::showIndicesWindow() {
    if (!frmIndici_) frmIndici_ = std::make_unique<IndicesWindow32>(start_);
    frmIndici_->showModal(window_);
}

void StartWindow32::showAboutBox() {
    if (!frmAbout_) frmAbout_ = std::make_unique<AboutBox32>();
    frmAbout_->showModal(window_);
}

void StartWindow32::closeMainWindow() {
    PostMessageW(window_, WM_CLOSE, 0, 0);
}

LRESULT CALLBACK StartWindow32::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = instanceOf<StartWindow32>(window, message, lParam);
    if (!self) return DefWindowProcW(window, message, wParam, lParam);
    if (!self->window_) self->window_ = window;
    return self->handle(message, wParam, lParam);
}

LRESULT CALLBACK StartWindow32::pictureProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = instanceOf<StartWindow32>(window, message, lParam);
    if (self && message == WM_PAINT) {
        PAINTSTRUCT ps;
        const HDC dc = BeginPaint(window, &ps);
        self->picture_.draw(dc, 0, 0, self->dpi_);
        EndPaint(window, &ps);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT StartWindow32::handle(UINT message, WPARAM wParam, LPARAM lParam) {
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
        if (!frmIndici_) frmIndici_ = std::make_unique<IndicesWindow32>(start_);
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
