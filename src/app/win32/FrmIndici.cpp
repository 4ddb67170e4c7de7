#include "FrmIndici.h"

#include "Support.h"
#include "resource.h"

#include "ui/Colours.h"

#include <commctrl.h>
#include <uxtheme.h>

#include <shellapi.h>

#include <utility>

namespace ordana::win32 {

namespace {

namespace layout = ui::indices;
using ui::Control;

// The driver of the tests finds the controls by these numbers.
enum : int {
    kIdFis = 1001,
    kIdLocatie,
    kIdFoaie,
    kIdCalcul,
    kIdLabel,
    kIdFrame,
    kIdStatus,
    kIdEstimatori,
    kIdToateFoile
};

COLORREF colorOf(ui::Rgb c) {
    return RGB(c.red, c.green, c.blue);
}

// The frame's captions in the shared label grey for the window's colour (a high-contrast theme included).
COLORREF labelGrey() {
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    return colorOf(ui::labelGrey({GetRValue(face), GetGValue(face), GetBValue(face)}));
}

RECT twipsRect(const layout::Place& p, UINT dpi, int offsetLeft = 0, int offsetTop = 0) {
    const int left = twipsToPixels(offsetLeft + p.left, dpi), top = twipsToPixels(offsetTop + p.top, dpi);
    return {left, top, left + twipsToPixels(p.width, dpi), top + twipsToPixels(p.height, dpi)};
}

void place(HWND control, const RECT& r) {
    SetWindowPos(control, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

} // namespace

FrmIndici::FrmIndici(spreadsheet::ApplicationFactory start, ui::Preferences* preferences)
    : logic_(std::move(start), *this, preferences) {
    lightGrey_ = CreateSolidBrush(colorOf(ui::kLightGrey));
}

FrmIndici::~FrmIndici() {
    if (window_) DestroyWindow(window_);
    if (dialogFont_) DeleteObject(dialogFont_);
    if (arial_) DeleteObject(arial_);
    DeleteObject(lightGrey_);
}

void FrmIndici::showModal(HWND owner) {
    static const bool registered = (registerClass(kClassName, &FrmIndici::windowProc), true);
    if (!registered || window_) return;
    owner_ = owner;
    // Fixed single border, minimise and close, no maximise.
    // No WS_CLIPCHILDREN: the group box paints only its edge and caption, the window the ground inside it.
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    window_ =
        CreateWindowExW(WS_EX_CONTROLPARENT, kClassName, wide(layout::kCaption).c_str(), style, CW_USEDEFAULT,
                        CW_USEDEFAULT, 462, 418, owner, nullptr, GetModuleHandleW(nullptr), this);
    if (!window_) return;
    dpi_ = dpiOf(window_);
    createControls();
    layout();
    // Every showing: the controls as laid out, then the load step.
    logic_.initialState();
    logic_.Form_Load();
    sizeAndCentre();
    showKeyboardCues(window_);
    if (opening_.pending()) {
        PostMessageW(window_, WM_COMMAND, MAKEWPARAM(kIdFis, BN_CLICKED), reinterpret_cast<LPARAM>(cmdFis));
    }
    runModal(window_, owner);
}

void FrmIndici::createControls() {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    const auto make = [&](DWORD exStyle, const wchar_t* cls, const std::string& text, DWORD style, int id) {
        return CreateWindowExW(exStyle, cls, wide(text).c_str(), WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0,
                               window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    };
    // Created in the tab order (cmdCancel first, then the frame's controls, then the calculation); the frame
    // and the label take no focus.
    FraFisier = make(0, L"BUTTON", layout::kFrameCaption, BS_GROUPBOX, kIdFrame);
    // The themed frame draws its caption in the theme's colour; unthemed it takes the dark grey.
    SetWindowTheme(FraFisier, L"", L"");
    lblFis = make(0, L"STATIC", layout::kSheetLabel, SS_LEFT | SS_NOPREFIX, kIdLabel);
    cmdCancel = make(0, L"BUTTON", layout::kCancelButton, BS_PUSHBUTTON | WS_TABSTOP, IDCANCEL);
    cboFoaie = make(0, WC_COMBOBOXW, {}, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, kIdFoaie);
    cmdFis = make(0, L"BUTTON", layout::kFileButton, BS_PUSHBUTTON | WS_TABSTOP, kIdFis);
    txtLocatie =
        make(WS_EX_CLIENTEDGE, L"EDIT", {}, ES_LEFT | ES_AUTOHSCROLL | ES_READONLY | WS_TABSTOP, kIdLocatie);
    cmdCalcul = make(0, L"BUTTON", layout::kCalcButton, BS_PUSHBUTTON | WS_TABSTOP, kIdCalcul);
    // The two choices under the list, after the calculation in the tab order; "&" gives Alt+E and Alt+T.
    chkEstimatori = make(0, L"BUTTON", layout::kEstimatesBox, BS_AUTOCHECKBOX | WS_TABSTOP, kIdEstimatori);
    chkToateFoile = make(0, L"BUTTON", layout::kAllSheetsBox, BS_AUTOCHECKBOX | WS_TABSTOP, kIdToateFoile);
    // Unthemed, as the frame, so that they take its grey.
    for (HWND box : {chkEstimatori, chkToateFoile})
        SetWindowTheme(box, L"", L"");
    StatusBar = make(0, STATUSCLASSNAMEW, {}, CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_NODIVIDER, kIdStatus);
    SendMessageW(StatusBar, SB_SIMPLE, TRUE, 0);
}

void FrmIndici::layout() {
    if (dialogFont_) DeleteObject(dialogFont_);
    if (arial_) DeleteObject(arial_);
    // The platform's dialog font at 8 points, as the layout was drawn for; the path in Arial 9.
    dialogFont_ = createDialogFont(dpi_, 8);
    arial_ = createDialogFont(dpi_, 9, L"Arial");
    for (HWND c :
         {FraFisier, lblFis, cmdCancel, cboFoaie, cmdFis, cmdCalcul, chkEstimatori, chkToateFoile, StatusBar})
        SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(dialogFont_), TRUE);
    SendMessageW(txtLocatie, WM_SETFONT, reinterpret_cast<WPARAM>(arial_), TRUE);

    const int fl = layout::kFraFisier.left, ft = layout::kFraFisier.top;
    place(FraFisier, twipsRect(layout::kFraFisier, dpi_));
    place(cmdFis, twipsRect(layout::kCmdFis, dpi_, fl, ft));
    place(txtLocatie, twipsRect(layout::kTxtLocatie, dpi_, fl, ft));
    place(lblFis, twipsRect(layout::kLblFis, dpi_, fl, ft));
    // A drop-down list's height includes its list: room for ten entries.
    RECT list = twipsRect(layout::kCboFoaie, dpi_, fl, ft);
    list.bottom += scaled(10 * 16, dpi_);
    place(cboFoaie, list);
    place(chkEstimatori, twipsRect(layout::kChkEstimatori, dpi_, fl, ft));
    place(chkToateFoile, twipsRect(layout::kChkToateFoile, dpi_, fl, ft));
    place(cmdCalcul, twipsRect(layout::kCmdCalcul, dpi_));
    place(cmdCancel, twipsRect(layout::kCmdCancel, dpi_));
    RECT client;
    GetClientRect(window_, &client);
    const int barHeight = twipsToPixels(layout::kStatusBarHeight, dpi_);
    SetWindowPos(StatusBar, nullptr, 0, client.bottom - barHeight, client.right, barHeight,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

// The outer size is fixed at 462 x 418 layout pixels, centred on the monitor.
void FrmIndici::sizeAndCentre() {
    if (placing_) return;
    placing_ = true;
    const SIZE outer{scaled(layout::kOuterWidth, dpi_), scaled(layout::kOuterHeight, dpi_)};
    const POINT at = centredOnMonitor(window_, outer);
    SetWindowPos(window_, nullptr, at.x, at.y, outer.cx, outer.cy, SWP_NOZORDER | SWP_NOACTIVATE);
    placing_ = false;
    layout();
}

LRESULT CALLBACK FrmIndici::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = instanceOf<FrmIndici>(window, message, lParam);
    // Taken when the window is made, given up at WM_DESTROY, never brought back by a later message.
    if (self && message == WM_NCCREATE) self->window_ = window;
    if (!self || self->window_ != window) return DefWindowProcW(window, message, wParam, lParam);
    return self->handle(message, wParam, lParam);
}

void FrmIndici::command(WPARAM wParam, LPARAM lParam) {
    const int id = LOWORD(wParam), code = HIWORD(wParam);
    if (id == kIdFis && code == BN_CLICKED) logic_.cmdFis_Click();
    if (id == kIdCalcul && code == BN_CLICKED) logic_.cmdCalcul_Click();
    if (id == IDCANCEL && (code == BN_CLICKED || lParam == 0)) logic_.cmdCancel_Click();
    // BN_CLICKED comes from the user's click or access key only; BM_SETCHECK raises none.
    const auto ticked = [lParam] {
        return SendMessageW(reinterpret_cast<HWND>(lParam), BM_GETCHECK, 0, 0) == BST_CHECKED;
    };
    if (id == kIdEstimatori && code == BN_CLICKED) logic_.chkEstimatori_Click(ticked());
    if (id == kIdToateFoile && code == BN_CLICKED) logic_.chkToateFoile_Click(ticked());
    if (id == kIdFoaie && code == CBN_SELCHANGE)
        logic_.cboFoaie_Click(static_cast<int>(SendMessageW(cboFoaie, CB_GETCURSEL, 0, 0)));
}

// The brush a control is painted with, or none for the system's own.
HBRUSH FrmIndici::colours(UINT message, HDC dc, HWND from) const {
    if (message != WM_CTLCOLORSTATIC || from == txtLocatie) {
        SetTextColor(dc, colorOf(ui::kDarkGrey));
        SetBkColor(dc, colorOf(ui::kLightGrey));
        return lightGrey_;
    }
    if (from == lblFis || from == FraFisier || from == chkEstimatori || from == chkToateFoile) {
        SetTextColor(dc, labelGrey());
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        return GetSysColorBrush(COLOR_BTNFACE);
    }
    return nullptr;
}

// The wait cursor while working, the hand over the file button; false leaves the cursor to the system.
bool FrmIndici::setCursor(HWND over) const {
    if (busy_ > 0) {
        SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32514))); // IDC_WAIT
        return true;
    }
    if (over == cmdFis) {
        SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32649))); // IDC_HAND
        return true;
    }
    return false;
}

LRESULT FrmIndici::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    const HWND window = window_;
    switch (message) {
    case WM_COMMAND:
        command(wParam, lParam);
        return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLOREDIT:
        if (const HBRUSH b = colours(message, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)))
            return reinterpret_cast<LRESULT>(b);
        break;
    case WM_SETCURSOR:
        if (setCursor(reinterpret_cast<HWND>(wParam))) return TRUE;
        break;
    case WM_SIZE:
        // A minimise does not last: the restore brings the window back at its size, in the centre.
        if (wParam == SIZE_MINIMIZED || wParam == SIZE_MAXIMIZED) {
            PostMessageW(window, WM_SYSCOMMAND, SC_RESTORE, 0);
            return 0;
        }
        break;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_RESTORE) {
            const LRESULT r = DefWindowProcW(window, message, wParam, lParam);
            sizeAndCentre();
            return r;
        }
        break;
    case WM_DPICHANGED:
        dpi_ = HIWORD(wParam);
        sizeAndCentre();
        return 0;
    case WM_SYSCOLORCHANGE:
        InvalidateRect(window, nullptr, TRUE);
        break;
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE && focus_) SetFocus(focus_);
        return 0;
    case WM_CLOSE:
        // The owner first, so that it and not another program is activated.
        if (owner_) EnableWindow(owner_, TRUE);
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        window_ = FraFisier = cmdFis = txtLocatie = lblFis = cboFoaie = cmdCalcul = cmdCancel =
            chkEstimatori = chkToateFoile = StatusBar = nullptr;
        focus_ = nullptr;
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND FrmIndici::control(Control which) const {
    switch (which) {
    case Control::FileButton:
        return cmdFis;
    case Control::PathBox:
        return txtLocatie;
    case Control::SheetList:
        return cboFoaie;
    case Control::CalcButton:
        return cmdCalcul;
    case Control::CancelButton:
        return cmdCancel;
    case Control::Status:
        return StatusBar;
    case Control::EstimatesBox:
        return chkEstimatori;
    case Control::AllSheetsBox:
        return chkToateFoile;
    }
    return nullptr;
}

ui::Answer FrmIndici::showMessage(const ui::Message& message) {
    return win32::showMessage(window_, message);
}

std::optional<std::string> FrmIndici::askOpenFile(const std::string& title,
                                                  const std::vector<ui::FileFilter>& filters) {
    // Opened with a workbook: the first file command takes it without asking.
    if (std::optional<std::string> opening = opening_.take()) return opening;
    return win32::askOpenFile(window_, title, filters);
}

void FrmIndici::setText(Control which, const std::string& text) {
    const HWND c = control(which);
    if (!c) return;
    if (which == Control::Status) {
        SendMessageW(c, SB_SETTEXTW, SB_SIMPLEID, reinterpret_cast<LPARAM>(wide(text).c_str()));
        // The bar's own text too, which is what a screen reader (WM_GETTEXT) reads of it.
        SetWindowTextW(c, wide(text).c_str());
    } else
        SetWindowTextW(c, wide(text).c_str());
}

void FrmIndici::setEnabled(Control which, bool enabled) {
    if (const HWND c = control(which)) {
        // A control that loses its enabled state while it has the focus would leave the keyboard nowhere.
        if (!enabled && GetFocus() == c) SendMessageW(window_, WM_NEXTDLGCTL, 0, FALSE);
        EnableWindow(c, enabled);
    }
}

void FrmIndici::setItems(Control which, const std::vector<std::string>& items, int selected) {
    const HWND list = control(which);
    if (!list) return;
    // Messages sent by the program raise no CBN_SELCHANGE: only the user's choice runs the reading.
    SendMessageW(list, CB_RESETCONTENT, 0, 0);
    for (const std::string& item : items)
        SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(item).c_str()));
    SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

void FrmIndici::setFocus(Control which) {
    focus_ = control(which);
    if (focus_ && IsWindowVisible(window_)) SetFocus(focus_);
}

void FrmIndici::paintNow() {
    if (StatusBar) UpdateWindow(StatusBar);
}

void FrmIndici::setBusy(bool busy) {
    busy_ += busy ? 1 : -1;
    SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(busy_ > 0 ? 32514 : 32512)));
}

void FrmIndici::setChecked(Control which, bool checked) {
    if (const HWND box = control(which))
        SendMessageW(box, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void FrmIndici::openDocument(const std::string& path) {
    // The program the user's desktop opens the document with; ShellExecuteW returns more than 32 on success.
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(window_, L"open", wide(path).c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (result <= 32) showMessage(ui::documentNotOpened(path));
}

void FrmIndici::close() {
    // Carried out once the command that asked for it has returned.
    if (window_) PostMessageW(window_, WM_CLOSE, 0, 0);
}

} // namespace ordana::win32
