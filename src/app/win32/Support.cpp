#include "Support.h"

#include "resource.h"

#include "ui/Placement.h"

#include <commctrl.h>
#include <objbase.h>
#include <shlwapi.h>
#include <wincodec.h>

#include <algorithm>
#include <vector>

namespace ordana::win32 {

std::wstring wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr,
                        nullptr);
    return out;
}

UINT dpiOf(HWND window) {
    // GetDpiForWindow exists from Windows 10 1607 on; older systems have one DPI for the whole desktop.
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow && window) {
        if (const UINT dpi = getDpiForWindow(window)) return dpi;
    }
    const HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

int twipsToPixels(int twips, UINT dpi) {
    return ui::twipsToPixels(twips, dpi);
}

int scaled(int pixels96, UINT dpi) {
    return MulDiv(pixels96, static_cast<int>(dpi), 96);
}

namespace {
HICON applicationIcon(int size) {
    return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_ORDANA), IMAGE_ICON,
                                         size, size, LR_DEFAULTCOLOR));
}
} // namespace

void registerClass(const wchar_t* name, WNDPROC proc) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hIcon = applicationIcon(GetSystemMetrics(SM_CXICON));
    wc.hIconSm = applicationIcon(GetSystemMetrics(SM_CXSMICON));
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = name;
    RegisterClassExW(&wc);
}

void placeTwips(HWND control, int left, int top, int width, int height, UINT dpi) {
    SetWindowPos(control, nullptr, twipsToPixels(left, dpi), twipsToPixels(top, dpi),
                 twipsToPixels(width, dpi), twipsToPixels(height, dpi), SWP_NOZORDER | SWP_NOACTIVATE);
}

HFONT createDialogFont(UINT dpi, int points, const wchar_t* face) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    using SpiForDpiFn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
    static const auto spiForDpi = reinterpret_cast<SpiForDpiFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "SystemParametersInfoForDpi")));
    bool found = spiForDpi && spiForDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, dpi);
    if (!found) {
        found = SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
        // Without the per-DPI query the metrics are those of the primary monitor at the system DPI.
        if (found)
            metrics.lfMessageFont.lfHeight = MulDiv(metrics.lfMessageFont.lfHeight, dpi, dpiOf(nullptr));
    }
    LOGFONTW font = found ? metrics.lfMessageFont : LOGFONTW{};
    if (!found) lstrcpynW(font.lfFaceName, L"MS Shell Dlg 2", LF_FACESIZE);
    if (points > 0 || !found) font.lfHeight = -MulDiv(points > 0 ? points : 8, static_cast<int>(dpi), 72);
    if (face) {
        lstrcpynW(font.lfFaceName, face, LF_FACESIZE);
        font.lfCharSet = EASTEUROPE_CHARSET;
    }
    return CreateFontIndirectW(&font);
}

namespace {

template <class T> void release(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

// Decodes a JPEG of the resources with the Windows Imaging Component into a top-down 32-bit bitmap.
HBITMAP decodeResource(int id, int& width, int& height) {
    const HMODULE module = GetModuleHandleW(nullptr);
    const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10)); // RT_RCDATA
    if (!found) return nullptr;
    const HGLOBAL loaded = LoadResource(module, found);
    const auto* bytes = static_cast<const BYTE*>(LockResource(loaded));
    const DWORD size = SizeofResource(module, found);
    if (!bytes || size == 0) return nullptr;

    HBITMAP bitmap = nullptr;
    IWICImagingFactory* factory = nullptr;
    IStream* stream = nullptr;
    IWICBitmapDecoder* decoder = nullptr;
    IWICBitmapFrameDecode* frame = nullptr;
    IWICFormatConverter* converter = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IWICImagingFactory, reinterpret_cast<void**>(&factory))) &&
        (stream = SHCreateMemStream(bytes, size)) != nullptr &&
        SUCCEEDED(
            factory->CreateDecoderFromStream(stream, nullptr, WICDecodeMetadataCacheOnDemand, &decoder)) &&
        SUCCEEDED(decoder->GetFrame(0, &frame)) && SUCCEEDED(factory->CreateFormatConverter(&converter)) &&
        SUCCEEDED(converter->Initialize(frame, GUID_WICPixelFormat32bppBGR, WICBitmapDitherTypeNone, nullptr,
                                        0, WICBitmapPaletteTypeCustom))) {
        UINT w = 0, h = 0;
        converter->GetSize(&w, &h);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = static_cast<LONG>(w);
        info.bmiHeader.biHeight = -static_cast<LONG>(h);
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (bitmap && FAILED(converter->CopyPixels(nullptr, w * 4, w * h * 4, static_cast<BYTE*>(bits)))) {
            DeleteObject(bitmap);
            bitmap = nullptr;
        }
        width = static_cast<int>(w);
        height = static_cast<int>(h);
    }
    release(converter);
    release(frame);
    release(decoder);
    release(stream);
    release(factory);
    return bitmap;
}

} // namespace

Picture::~Picture() {
    for (Decoded* d : {&normal_, &sharp_})
        if (d->bitmap) DeleteObject(d->bitmap);
}

Picture::Decoded& Picture::decoded(bool sharp) {
    Decoded& d = sharp ? sharp_ : normal_;
    if (!d.bitmap) d.bitmap = decodeResource(sharp ? resource2x_ : resource_, d.width, d.height);
    return d;
}

void Picture::draw(HDC dc, int x, int y, UINT dpi) {
    // The 1x picture's size in layout pixels; from 150 % on the 2x picture is drawn into it.
    Decoded& base = decoded(false);
    if (!base.bitmap) return;
    Decoded* source = &base;
    if (dpi >= 144) {
        Decoded& sharp = decoded(true);
        if (sharp.bitmap) source = &sharp;
    }
    const int width = scaled(base.width, dpi), height = scaled(base.height, dpi);
    const HDC memory = CreateCompatibleDC(dc);
    const HGDIOBJ old = SelectObject(memory, source->bitmap);
    if (width == source->width && height == source->height) {
        BitBlt(dc, x, y, width, height, memory, 0, 0, SRCCOPY);
    } else {
        const int mode = SetStretchBltMode(dc, HALFTONE);
        SetBrushOrgEx(dc, 0, 0, nullptr);
        StretchBlt(dc, x, y, width, height, memory, 0, 0, source->width, source->height, SRCCOPY);
        SetStretchBltMode(dc, mode);
    }
    SelectObject(memory, old);
    DeleteDC(memory);
}

POINT centredOnMonitor(HWND window, SIZE outer) {
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &info);
    const RECT& screen = info.rcMonitor;
    const ui::Point at =
        ui::centredOn({screen.left, screen.top, screen.right - screen.left, screen.bottom - screen.top},
                      {outer.cx, outer.cy});
    return {at.x, at.y};
}

ui::Answer showMessage(HWND owner, const ui::Message& message) {
    std::string text = message.text;
    if (!message.detail.empty()) text += "\r\n\r\n" + message.detail;
    const UINT buttons = message.buttons == ui::Buttons::AbortRetryIgnore ? MB_ABORTRETRYIGNORE : MB_OK;
    // No icon; the first button is the default.
    const int answer = MessageBoxW(owner, wide(text).c_str(), wide(message.caption).c_str(),
                                   buttons | MB_DEFBUTTON1 | MB_APPLMODAL | MB_SETFOREGROUND);
    switch (answer) {
    case IDABORT:
        return ui::Abort;
    case IDRETRY:
        return ui::Retry;
    case IDIGNORE:
        return ui::Ignore;
    default:
        return ui::Ok;
    }
}

void runModal(HWND window, HWND owner) {
    if (owner) EnableWindow(owner, FALSE);
    ShowWindow(window, SW_SHOW);
    MSG msg;
    while (IsWindow(window)) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            // WM_QUIT belongs to the outer loop.
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (got < 0) break;
        if (IsDialogMessageW(window, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    if (owner) {
        EnableWindow(owner, TRUE);
        SetActiveWindow(owner);
    }
}

void showKeyboardCues(HWND window) {
    SendMessageW(window, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS | UISF_HIDEACCEL), 0);
}

} // namespace ordana::win32
