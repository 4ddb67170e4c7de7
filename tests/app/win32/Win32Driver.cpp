// Drives the native ordana.exe as a user would, by its controls, from another process (run under Wine on a
// virtual display): opens the windows by their keys, presses buttons, answers the file dialog and the
// message boxes, and reads back every caption and text it meets. Prints one line per finding and exits 1
// on the first mismatch.
//   ordana-driver.exe ORDANA.EXE SHOTS [WORKBOOK]
// the windows, a cancelled dialog and a refused workbook; with WORKBOOK also the whole job on it (read,
// compute, write). A picture of each window as the screen shows it is saved in the folder SHOTS as PNG.

#include <windows.h>

#include <commctrl.h>
#include <wincodec.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

int failures = 0;

std::string narrow(const std::wstring& w) {
    std::string s;
    for (wchar_t c : w)
        s += c < 128 ? static_cast<char>(c) : '?';
    return s;
}

void expect(bool ok, const std::string& what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
    std::fflush(stdout);
    if (!ok) ++failures;
}

void expectText(const std::wstring& actual, const std::wstring& expected, const std::string& what) {
    expect(actual == expected, what + ": \"" + narrow(actual) + "\"" +
                                   (actual == expected ? "" : " instead of \"" + narrow(expected) + "\""));
}

HWND waitFor(const std::function<HWND()>& find, int ms = 15000) {
    for (int waited = 0; waited < ms; waited += 100) {
        if (HWND w = find()) return w;
        Sleep(100);
    }
    return nullptr;
}

std::wstring text(HWND w) {
    wchar_t buffer[1024] = {};
    SendMessageTimeoutW(w, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000,
                        nullptr);
    return buffer;
}

// A top-level window of the process with this class (or the dialog class) and caption.
HWND topLevel(DWORD pid, const wchar_t* cls, const std::wstring& caption) {
    struct Find {
        DWORD pid;
        const wchar_t* cls;
        const std::wstring* caption;
        HWND found;
    } f{pid, cls, &caption, nullptr};
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
            auto* f = reinterpret_cast<Find*>(p);
            DWORD owner = 0;
            GetWindowThreadProcessId(w, &owner);
            wchar_t cls[256] = {};
            GetClassNameW(w, cls, 256);
            if (owner == f->pid && IsWindowVisible(w) && (!f->cls || lstrcmpW(cls, f->cls) == 0) &&
                (f->caption->empty() || text(w) == *f->caption)) {
                f->found = w;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&f));
    return f.found;
}

HWND child(HWND parent, int id) {
    return GetDlgItem(parent, id);
}

// The status bar's text, as a screen reader reads it.
std::wstring statusText(HWND bar, HANDLE) {
    return text(bar);
}

std::wstring shots;

// What the screen shows of the window, frame included, saved as SHOTS\name.png.
void shoot(HWND window, const wchar_t* name) {
    Sleep(700); // painted
    // Only what lies on the screen: a window bigger than the screen (200 % on 1024 x 768) reaches past it.
    RECT whole, screenRect{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)}, r;
    GetWindowRect(window, &whole);
    IntersectRect(&r, &whole, &screenRect);
    const int w = r.right - r.left, h = r.bottom - r.top;
    const HDC screen = GetDC(nullptr);
    const HDC memory = CreateCompatibleDC(screen);
    const HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    const HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);
    const std::wstring path = shots + L"\\" + name + L".png";
    IWICImagingFactory* factory = nullptr;
    IWICBitmap* image = nullptr;
    IWICStream* stream = nullptr;
    IWICBitmapEncoder* encoder = nullptr;
    IWICBitmapFrameEncode* frame = nullptr;
    bool saved = SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                            IID_IWICImagingFactory, reinterpret_cast<void**>(&factory))) &&
                 SUCCEEDED(factory->CreateBitmapFromHBITMAP(bitmap, nullptr, WICBitmapIgnoreAlpha, &image)) &&
                 SUCCEEDED(factory->CreateStream(&stream)) &&
                 SUCCEEDED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) &&
                 SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) &&
                 SUCCEEDED(encoder->Initialize(stream, WICBitmapEncoderNoCache)) &&
                 SUCCEEDED(encoder->CreateNewFrame(&frame, nullptr)) &&
                 SUCCEEDED(frame->Initialize(nullptr)) && SUCCEEDED(frame->WriteSource(image, nullptr)) &&
                 SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
    for (IUnknown* p : std::initializer_list<IUnknown*>{frame, encoder, stream, image, factory})
        if (p) p->Release();
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    expect(saved, "picture " + narrow(path) + " (" + std::to_string(w) + " x " + std::to_string(h) + ")");
}

void press(HWND window, WORD key, bool alt = false) {
    SetForegroundWindow(window);
    Sleep(300);
    std::vector<INPUT> in;
    const auto add = [&](WORD vk, bool up) {
        INPUT i{};
        i.type = INPUT_KEYBOARD;
        i.ki.wVk = vk;
        i.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        in.push_back(i);
    };
    if (alt) add(VK_MENU, false);
    add(key, false);
    add(key, true);
    if (alt) add(VK_MENU, true);
    SendInput(static_cast<UINT>(in.size()), in.data(), sizeof(INPUT));
}

void click(HWND button) {
    PostMessageW(button, BM_CLICK, 0, 0);
}

// The message box now open: its caption, text and buttons; answered with the given button.
void answerBox(DWORD pid, const std::wstring& caption, const std::wstring& message, std::vector<int> buttons,
               int answer) {
    const HWND box = waitFor([&] { return topLevel(pid, L"#32770", caption); });
    expect(box != nullptr, "message box \"" + narrow(caption) + "\" shown");
    if (!box) return;
    expectText(text(child(box, 0xFFFF)), message, "message box text");
    for (int id : {IDOK, IDABORT, IDRETRY, IDIGNORE}) {
        const bool wanted = std::find(buttons.begin(), buttons.end(), id) != buttons.end();
        expect((child(box, id) != nullptr) == wanted,
               "button " + std::to_string(id) + (wanted ? " present" : " absent"));
    }
    // The icon's place: control 20 on Windows, 0x440 in Wine's template, empty or hidden when there is none.
    for (int id : {0x14, 0x440})
        if (const HWND icon = child(box, id))
            expect(!IsWindowVisible(icon) || SendMessageW(icon, STM_GETICON, 0, 0) == 0, "no icon");
    click(child(box, answer));
    waitFor([&] { return IsWindow(box) ? nullptr : box; }, 5000);
}

// The open-file dialog now open: its title and filter entries checked, then a file chosen or the dialog
// cancelled.
void answerFileDialog(DWORD pid, const std::wstring& path) {
    const HWND dialog = waitFor([&] { return topLevel(pid, L"#32770", L"Alege fisierul Excel"); });
    expect(dialog != nullptr, "open-file dialog \"Alege fisierul Excel\" shown");
    if (!dialog) return;
    const HWND types = child(dialog, 0x470); // cmb1, the file types
    const wchar_t* entries[] = {L"Registre de calcul  (*.xls *.xlsx *.xlsm *.ods)", L"Fisiere Excel  (*.xls)",
                                L"Fisiere Excel 2007-365  (*.xlsx *.xlsm)", L"Fisiere OpenDocument  (*.ods)",
                                L"Toate fisierele  (*)"};
    const int count = static_cast<int>(SendMessageW(types, CB_GETCOUNT, 0, 0));
    expect(count == 5, "five filter entries (" + std::to_string(count) + ")");
    for (int i = 0; i < count && i < 5; ++i) {
        wchar_t entry[256] = {};
        SendMessageW(types, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(entry));
        expectText(entry, entries[i], "filter entry " + std::to_string(i + 1));
    }
    if (path.empty()) {
        shoot(dialog, L"file-dialog");
        PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        waitFor([&] { return IsWindow(dialog) ? nullptr : dialog; }, 10000);
        return;
    }
    // The file name box: cmb13 in the explorer-style dialog, edt1 in the older one.
    for (int id : {0x47C, 0x480})
        if (const HWND name = child(dialog, id))
            SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    expect(waitFor([&] { return IsWindow(dialog) ? nullptr : dialog; }, 10000) != nullptr,
           "the dialog takes the file");
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: ordana-driver ORDANA.EXE SHOTS [WORKBOOK]\n");
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    shots = argv[2];
    CreateDirectoryW(shots.c_str(), nullptr);
    const std::wstring workbook = argc > 3 ? argv[3] : L"";
    std::wstring command = L"\"" + std::wstring(argv[1]) + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        std::fprintf(stderr, "cannot start %ls\n", argv[1]);
        return 2;
    }
    const DWORD pid = pi.dwProcessId;

    const HWND main = waitFor([&] { return topLevel(pid, L"OrdanaFrmStart", L"ORDANA"); }, 30000);
    expect(main != nullptr, "main window \"ORDANA\"");
    if (!main) return 1;
    Sleep(2000); // the first painting decodes the picture
    shoot(main, L"main");

    // F3: the indices window in its initial state.
    press(main, VK_F3);
    const std::wstring caption = L"  Calculul indicilor de evaluare a biodiversitatii";
    HWND indices = waitFor([&] { return topLevel(pid, L"OrdanaFrmIndici", caption); });
    expect(indices != nullptr, "F3 opens the indices window");
    if (!indices) return 1;
    expect(!IsWindowEnabled(main), "the main window takes no input meanwhile");
    const HWND cmdFis = child(indices, 1001), txtLocatie = child(indices, 1002),
               cboFoaie = child(indices, 1003), cmdCalcul = child(indices, 1004),
               cmdCancel = child(indices, IDCANCEL), bar = child(indices, 1007);
    expectText(text(cmdFis), L"Fisierul cu datele", "cmdFis");
    expectText(text(cmdCalcul), L"Prelucrarea datelor", "cmdCalcul");
    expectText(text(cmdCancel), L"Inchide modulul", "cmdCancel");
    expectText(text(child(indices, 1005)), L"Alege foaia de calcul", "lblFis");
    expectText(text(child(indices, 1006)), L"  Sursa date  ", "FraFisier");
    expect(!IsWindowEnabled(cmdCalcul) && !IsWindowEnabled(cboFoaie), "cmdCalcul and the list disabled");
    expectText(statusText(bar, pi.hProcess), L" Selectati fisierul si apoi foaia ce contine datele!",
               "status");
    shoot(indices, L"indices");

    // A cancelled dialog: no box, nothing changes.
    click(cmdFis);
    answerFileDialog(pid, L"");
    Sleep(1000);
    expect(topLevel(pid, L"#32770", L"") == nullptr, "no box after a cancelled dialog");
    expectText(text(txtLocatie), L"", "path box after the cancel");

    if (!workbook.empty()) {
        click(cmdFis);
        answerFileDialog(pid, workbook);
        const std::wstring ready = L" Selectati datele si apoi apasati butonul de prelucrare a datelor!";
        waitFor([&] { return statusText(bar, pi.hProcess) == ready ? bar : nullptr; }, 30000);
        expectText(statusText(bar, pi.hProcess), ready, "status after the reading");
        expectText(text(txtLocatie), workbook, "path box");
        expect(SendMessageW(cboFoaie, CB_GETCOUNT, 0, 0) > 0 &&
                   SendMessageW(cboFoaie, CB_GETCURSEL, 0, 0) == 0,
               "the data sheets listed, the first selected");
        expect(IsWindowEnabled(cmdCalcul), "cmdCalcul enabled");
        click(cmdCalcul);
        const std::wstring done = L" Prelucrare efectuata";
        waitFor([&] { return statusText(bar, pi.hProcess) == done ? bar : nullptr; }, 60000);
        expectText(statusText(bar, pi.hProcess), done, "status after the calculation");
        shoot(indices, L"indices-done");
    }

    // A file that is no workbook: the box of the refused workbook.
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring refused = std::wstring(temp) + L"ordana-refuzat.xls";
    if (HANDLE f = CreateFileW(refused.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        f != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(f, "nu este un registru", 19, &written, nullptr);
        CloseHandle(f);
    }
    click(cmdFis);
    answerFileDialog(pid, refused);
    const HWND box = waitFor([&] { return topLevel(pid, L"#32770", L""); });
    const std::wstring boxCaption = box ? text(box) : L"";
    if (boxCaption == L"Ordana v1.50") {
        // No engine in this build: the spreadsheet application cannot be started.
        if (box) shoot(box, L"box-429");
        answerBox(pid, boxCaption, L"Eroare la inregistrarea unei componente ActiveX",
                  {IDABORT, IDRETRY, IDIGNORE}, IDIGNORE);
    } else {
        expectText(boxCaption, L"Deschiderea fisierului Excel", "caption of the refused workbook's box");
        const std::wstring message = box ? text(child(box, 0xFFFF)) : L"";
        if (box) shoot(box, L"refused");
        expect(message.rfind(L"Parola nu s-a introdus sau e incorecta ", 0) == 0,
               "text of the refused workbook's box: \"" + narrow(message) + "\"");
        if (box) click(child(box, IDOK));
        Sleep(500);
        expectText(text(txtLocatie), L"", "path box emptied");
        expect(!IsWindowEnabled(cmdCalcul), "cmdCalcul disabled");
    }
    DeleteFileW(refused.c_str());

    // Esc closes the window; the main window takes input again.
    press(indices, VK_ESCAPE);
    waitFor([&] { return IsWindow(indices) ? nullptr : main; }, 5000);
    expect(!IsWindow(indices), "Esc closes the indices window");
    expect(IsWindowEnabled(main), "the main window is enabled again");

    // Alt+D: the About box.
    press(main, 'D', true);
    const HWND about = waitFor([&] { return topLevel(pid, L"OrdanaFrmAbout", L"Despre Ordana v1.50"); });
    expect(about != nullptr, "Alt+D opens \"Despre Ordana v1.50\"");
    if (about) {
        shoot(about, L"about");
        expectText(text(child(about, IDOK)), L"OK", "cmdOK");
        expect(text(child(about, 2003)).rfind(L"Ordana v1.50   1.", 0) == 0,
               "lblTitle: " + narrow(text(child(about, 2003))));
        expect(text(child(about, 2002)).rfind(L"Aplicatie destinata evaluarii biodiversitatii.\r\n\r\n", 0) ==
                   0,
               "lblDescriere");
        press(about, VK_RETURN);
        waitFor([&] { return IsWindow(about) ? nullptr : main; }, 5000);
        expect(!IsWindow(about), "Enter closes the About box");
    }

    // Alt+O, I: Iesire ends the program.
    press(main, 'O', true);
    Sleep(500);
    press(main, 'I');
    const bool ended = WaitForSingleObject(pi.hProcess, 10000) == WAIT_OBJECT_0;
    expect(ended, "Optiuni > Iesire ends the program");
    if (!ended) TerminateProcess(pi.hProcess, 1);
    std::printf("%d failed\n", failures);
    return failures == 0 ? 0 : 1;
}
