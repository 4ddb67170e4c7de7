// Drives the native ordana.exe as a user would, by its controls, from another process (run under Wine on a
// virtual display): opens the windows by their keys and menus, presses buttons, ticks boxes, answers the file
// dialog and the message boxes, and reads back every caption and text it meets. Prints one line per finding
// and exits 1 when any failed.
//   ordana-driver.exe ORDANA.EXE SHOTS [WORKBOOK [--navigate]]
// the windows, a cancelled dialog, the three check boxes and the registry that remembers them, a refused
// workbook, and each window opened and closed three times by keys and by the menu; with WORKBOOK also the
// whole job on it (read, compute, write), the workbook typed whole into the dialog's name box, or with
// --navigate reached folder by folder. A picture of each window as the screen shows it is saved in SHOTS.
//   ordana-driver.exe --version-of PROGRAM
// prints the version record of PROGRAM (file version, original name, product), as Explorer reads it.

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

std::wstring className(HWND w) {
    wchar_t cls[256] = {};
    GetClassNameW(w, cls, 256);
    return cls;
}

// The first window under parent, at any depth, that passes the test.
HWND descendant(HWND parent, const std::function<bool(HWND)>& test) {
    struct Find {
        const std::function<bool(HWND)>* test;
        HWND found;
    } f{&test, nullptr};
    EnumChildWindows(
        parent,
        [](HWND w, LPARAM p) -> BOOL {
            auto* f = reinterpret_cast<Find*>(p);
            if (!(*f->test)(w)) return TRUE;
            f->found = w;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&f));
    return f.found;
}

bool ticked(HWND box) {
    return SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

// A choice the windows remembered: HKCU\Software\Ordana, or -1 when never written.
int remembered(const wchar_t* name) {
    DWORD value = 0, size = sizeof(value);
    if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\Ordana", name, RRF_RT_REG_DWORD, nullptr, &value,
                     &size) != ERROR_SUCCESS)
        return -1;
    return static_cast<int>(value);
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

// The menu bar worked from the keyboard: F10 enters it, Right moves to the entry, Enter chooses it.
void chooseFromMenuBar(HWND window, int item) {
    press(window, VK_F10);
    Sleep(300);
    for (int i = 0; i < item; ++i) {
        press(window, VK_RIGHT);
        Sleep(200);
    }
    press(window, VK_RETURN);
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

// The common item dialog's name box and its list of file types, found by what they are.
HWND nameBox(HWND dialog) {
    return descendant(dialog, [](HWND w) {
        return className(w) == L"Edit" && IsWindowVisible(w) &&
               !(GetWindowLongPtrW(w, GWL_STYLE) & ES_READONLY);
    });
}

HWND typesList(HWND dialog) {
    return descendant(dialog, [](HWND w) {
        if (className(w) != L"ComboBox" || SendMessageW(w, CB_GETCOUNT, 0, 0) <= 0) return false;
        wchar_t first[256] = {};
        SendMessageW(w, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(first));
        return std::wstring(first).rfind(L"Registre de calcul", 0) == 0;
    });
}

// Types into the name box and presses Open, as a user does.
void typeAndOpen(HWND dialog, const std::wstring& typed) {
    const HWND name = nameBox(dialog);
    expect(name != nullptr, "the dialog's name box");
    SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(typed.c_str()));
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
}

// The open-file dialog now open: its title and filter entries checked, then a file chosen (typed whole, or
// reached folder by folder) or the dialog cancelled.
void answerFileDialog(DWORD pid, const std::wstring& path, bool navigate = false) {
    const HWND dialog = waitFor([&] { return topLevel(pid, L"#32770", L"Alege fisierul Excel"); });
    expect(dialog != nullptr, "open-file dialog \"Alege fisierul Excel\" shown");
    if (!dialog) return;
    Sleep(500);
    const HWND types = typesList(dialog);
    const wchar_t* entries[] = {L"Registre de calcul  (*.xls *.xlsx *.xlsm *.ods)", L"Fisiere Excel  (*.xls)",
                                L"Fisiere Excel 2007-365  (*.xlsx *.xlsm)", L"Fisiere OpenDocument  (*.ods)",
                                L"Toate fisierele  (*)"};
    const int count = types ? static_cast<int>(SendMessageW(types, CB_GETCOUNT, 0, 0)) : 0;
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
    if (navigate) {
        // The drive, then each folder by its own name, as a user goes down the tree; the dialog stays open.
        const size_t root = path.find(L'\\') + 1;
        typeAndOpen(dialog, path.substr(0, root));
        Sleep(1500);
        size_t from = root;
        for (size_t slash; (slash = path.find(L'\\', from)) != std::wstring::npos; from = slash + 1) {
            typeAndOpen(dialog, path.substr(from, slash - from));
            Sleep(1500);
            if (!IsWindow(dialog)) break;
        }
        expect(IsWindow(dialog), "the dialog goes down " + std::to_string(path.size() - from) +
                                     " characters short of the file, folder by folder");
        shoot(dialog, L"file-dialog-deep");
        if (IsWindow(dialog)) typeAndOpen(dialog, path.substr(from));
    } else {
        typeAndOpen(dialog, path);
    }
    expect(waitFor([&] { return IsWindow(dialog) ? nullptr : dialog; }, 10000) != nullptr,
           "the dialog takes the file");
}

// The version record of a program, as Explorer's properties read it.
int printVersionRecord(const wchar_t* program) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(program, &ignored);
    std::vector<BYTE> data(size);
    if (size == 0 || !GetFileVersionInfoW(program, 0, size, data.data())) {
        std::printf("no version record\n");
        return 1;
    }
    for (const wchar_t* field : {L"FileVersion", L"ProductName", L"OriginalFilename", L"FileDescription"}) {
        wchar_t* value = nullptr;
        UINT length = 0;
        const std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + field;
        if (VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&value), &length) && value)
            std::printf("%s=%s\n", narrow(field).c_str(), narrow(value).c_str());
    }
    return 0;
}

} // namespace

namespace {

const std::wstring kIndicesCaption = L"  Calculul indicilor de evaluare a biodiversitatii";
const std::wstring kChooseFile = L" Selectati fisierul si apoi foaia ce contine datele!";

struct Program {
    PROCESS_INFORMATION pi{};
    HWND main = nullptr;
};

Program start(const wchar_t* exe) {
    Program p;
    std::wstring command = L"\"" + std::wstring(exe) + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &p.pi)) {
        std::fprintf(stderr, "cannot start %ls\n", exe);
        return p;
    }
    p.main = waitFor([&] { return topLevel(p.pi.dwProcessId, L"OrdanaFrmStart", L"ORDANA"); }, 30000);
    expect(p.main != nullptr, "main window \"ORDANA\"");
    return p;
}

HWND indicesWindow(const Program& p) {
    return waitFor([&] { return topLevel(p.pi.dwProcessId, L"OrdanaFrmIndici", kIndicesCaption); });
}

HWND aboutBox(const Program& p) {
    return waitFor([&] { return topLevel(p.pi.dwProcessId, L"OrdanaFrmAbout", L"Despre Ordana v1.50"); });
}

bool closed(HWND window) {
    return waitFor([&] { return IsWindow(window) ? nullptr : window; }, 5000) != nullptr;
}

// Alt+O, I: Iesire ends the program.
void quit(Program& p) {
    press(p.main, 'O', true);
    Sleep(500);
    press(p.main, 'I');
    const bool ended = WaitForSingleObject(p.pi.hProcess, 10000) == WAIT_OBJECT_0;
    expect(ended, "Optiuni > Iesire ends the program");
    if (!ended) TerminateProcess(p.pi.hProcess, 1);
}

// The three check boxes: off at the first opening, ticked and cleared by a click and by their access keys,
// each change written to the registry at once, and a ticked box shown ticked at the next opening.
void checkBoxes(const Program& p, HWND& indices) {
    const wchar_t* names[] = {L"estimatori", L"toateFoile", L"incidenta"};
    const wchar_t* captions[] = {L"&Estimatori si curbe", L"&Toate foile de date",
                                 L"&Incidenta (probele ca unitati)"};
    const WORD keys[] = {'E', 'T', 'I'};
    for (int i = 0; i < 3; ++i) {
        const HWND box = child(indices, 1008 + i);
        expectText(text(box), captions[i], "check box " + narrow(names[i]));
        expect(IsWindowEnabled(box) && !ticked(box) && remembered(names[i]) != 1,
               narrow(names[i]) + " off at the first opening");
        click(box);
        Sleep(500);
        expect(ticked(box) && remembered(names[i]) == 1, narrow(names[i]) + " ticked by a click, remembered");
        press(indices, keys[i], true);
        Sleep(500);
        expect(!ticked(box) && remembered(names[i]) == 0, narrow(names[i]) + " cleared by Alt+" +
                                                              std::string(1, static_cast<char>(keys[i])) +
                                                              ", remembered");
    }
    // Ticked by its key, then shown ticked at the next opening.
    press(indices, 'E', true);
    Sleep(500);
    expect(ticked(child(indices, 1008)) && remembered(L"estimatori") == 1, "estimatori ticked by Alt+E");
    shoot(indices, L"indices-ticked");
    press(indices, VK_ESCAPE);
    expect(closed(indices), "Esc closes the indices window");
    press(p.main, VK_F3);
    indices = indicesWindow(p);
    expect(indices && ticked(child(indices, 1008)) && !ticked(child(indices, 1009)) &&
               !ticked(child(indices, 1010)),
           "the next opening shows estimatori ticked, toateFoile and incidenta clear");
}

// Each secondary window opens again as often as asked: three times by keys, three times by the menu.
void reopenings(const Program& p) {
    for (int round = 1; round <= 3; ++round) {
        const std::string n = " (" + std::to_string(round) + ")";
        press(p.main, VK_F3);
        HWND indices = indicesWindow(p);
        expect(indices != nullptr, "F3 opens the indices window" + n);
        if (indices) {
            expectText(statusText(child(indices, 1007), nullptr), kChooseFile, "its initial status" + n);
            press(indices, VK_ESCAPE);
            expect(closed(indices), "Esc closes it" + n);
        }
        press(p.main, 'O', true);
        Sleep(500);
        press(p.main, 'C');
        indices = indicesWindow(p);
        expect(indices != nullptr, "Optiuni > Calculul indicilor opens the indices window" + n);
        if (indices) {
            click(child(indices, IDCANCEL));
            expect(closed(indices), "Inchide modulul closes it" + n);
        }
        press(p.main, 'D', true);
        HWND about = aboutBox(p);
        expect(about != nullptr, "Alt+D opens the About box" + n);
        if (about) {
            expect(text(child(about, 2003)).rfind(L"Ordana v1.50   1.", 0) == 0, "lblTitle filled" + n);
            press(about, VK_RETURN);
            expect(closed(about), "Enter closes it" + n);
        }
        chooseFromMenuBar(p.main, 1);
        about = aboutBox(p);
        expect(about != nullptr, "F10, Right, Enter on Despre opens the About box" + n);
        if (about) {
            PostMessageW(about, WM_CLOSE, 0, 0);
            expect(closed(about), "its close box closes it" + n);
        }
        expect(IsWindowEnabled(p.main), "the main window takes input again" + n);
    }
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && std::wstring(argv[1]) == L"--version-of") return printVersionRecord(argv[2]);
    if (argc < 3) {
        std::fprintf(stderr, "usage: ordana-driver ORDANA.EXE SHOTS [WORKBOOK [--navigate|--estimates]]\n"
                             "       ordana-driver --version-of PROGRAM\n");
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    shots = argv[2];
    CreateDirectoryW(shots.c_str(), nullptr);
    const std::wstring workbook = argc > 3 ? argv[3] : L"";
    const bool navigate = argc > 4 && std::wstring(argv[4]) == L"--navigate";
    const bool estimates = argc > 4 && std::wstring(argv[4]) == L"--estimates";
    Program program = start(argv[1]);
    if (!program.main) return 1;
    const DWORD pid = program.pi.dwProcessId;
    const HWND main = program.main;
    Sleep(2000); // the first painting decodes the picture
    shoot(main, L"main");

    // F3: the indices window in its initial state.
    press(main, VK_F3);
    HWND indices = indicesWindow(program);
    expect(indices != nullptr, "F3 opens the indices window");
    if (!indices) return 1;
    expect(!IsWindowEnabled(main), "the main window takes no input meanwhile");
    const auto control = [&](int id) { return child(indices, id); };
    expectText(text(control(1001)), L"Fisierul cu datele", "cmdFis");
    expectText(text(control(1004)), L"Prelucrarea datelor", "cmdCalcul");
    expectText(text(control(IDCANCEL)), L"Inchide modulul", "cmdCancel");
    expectText(text(control(1005)), L"Alege foaia de calcul", "lblFis");
    expectText(text(control(1006)), L"  Sursa date  ", "FraFisier");
    expect(!IsWindowEnabled(control(1004)) && !IsWindowEnabled(control(1003)),
           "cmdCalcul and the list disabled");
    expectText(statusText(control(1007), nullptr), kChooseFile, "status");
    shoot(indices, L"indices");

    // A cancelled dialog: no box, nothing changes.
    click(control(1001));
    answerFileDialog(pid, L"");
    Sleep(1000);
    expect(topLevel(pid, L"#32770", L"") == nullptr, "no box after a cancelled dialog");
    expectText(text(control(1002)), L"", "path box after the cancel");

    if (!workbook.empty()) {
        click(control(1001));
        answerFileDialog(pid, workbook, navigate);
        const std::wstring ready = L" Selectati datele si apoi apasati butonul de prelucrare a datelor!";
        const HWND bar = control(1007);
        waitFor([&] { return statusText(bar, nullptr) == ready ? bar : nullptr; }, 30000);
        expectText(statusText(bar, nullptr), ready, "status after the reading");
        // A box in the way says why.
        if (const HWND box = topLevel(pid, L"#32770", L"")) {
            expect(false, "box \"" + narrow(text(box)) + "\": " + narrow(text(child(box, 0xFFFF))));
            shoot(box, L"box-in-the-way");
            click(child(box, IDOK));
        }
        const std::wstring shown = text(control(1002));
        expect(shown == workbook, "path box holds the " + std::to_string(workbook.size()) +
                                      "-character path (" + std::to_string(shown.size()) + ")");
        expect(SendMessageW(control(1003), CB_GETCOUNT, 0, 0) > 0 &&
                   SendMessageW(control(1003), CB_GETCURSEL, 0, 0) == 0,
               "the data sheets listed, the first selected");
        expect(IsWindowEnabled(control(1004)), "cmdCalcul enabled");
        // With the estimates: the report beside the workbook, named after it, and the status naming it.
        const std::wstring folder = workbook.substr(0, workbook.find_last_of(L"\\") + 1);
        const std::wstring file = workbook.substr(folder.size());
        const std::wstring report = file.substr(0, file.find_last_of(L'.')) + L" - estimari.html";
        if (estimates) {
            press(indices, 'E', true);
            Sleep(500);
            expect(ticked(control(1008)), "Alt+E ticks estimatori");
        }
        click(control(1004));
        const std::wstring done =
            estimates ? L" Prelucrare efectuata - raportul: " + report : L" Prelucrare efectuata";
        waitFor([&] { return statusText(bar, nullptr) == done ? bar : nullptr; }, 60000);
        expectText(statusText(bar, nullptr), done, "status after the calculation");
        shoot(indices, L"indices-done");
        if (estimates) {
            expect(GetFileAttributesW((folder + report).c_str()) != INVALID_FILE_ATTRIBUTES,
                   "the report written beside the workbook");
            // The report was handed to the desktop: no box says it could not be opened.
            Sleep(1000);
            if (const HWND box = topLevel(pid, L"#32770", L"")) {
                expect(false, "box \"" + narrow(text(box)) + "\": " + narrow(text(child(box, 0xFFFF))));
                click(child(box, IDOK));
            }
            press(indices, 'E', true);
            Sleep(500);
            expect(remembered(L"estimatori") == 0, "estimatori cleared again by Alt+E");
        }
        press(indices, VK_ESCAPE);
        expect(closed(indices), "Esc closes the indices window");
        quit(program);
        std::printf("%d failed\n", failures);
        return failures == 0 ? 0 : 1;
    }

    checkBoxes(program, indices);

    // A file that is no workbook: the box of the refused workbook; the button and the status agree after it.
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring refused = std::wstring(temp) + L"ordana-refuzat.xls";
    if (HANDLE f = CreateFileW(refused.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        f != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(f, "nu este un registru", 19, &written, nullptr);
        CloseHandle(f);
    }
    click(control(1001));
    answerFileDialog(pid, refused);
    const HWND box = waitFor([&] { return topLevel(pid, L"#32770", L""); });
    const std::wstring boxCaption = box ? text(box) : L"";
    expectText(boxCaption, L"Deschiderea fisierului Excel", "caption of the refused workbook's box");
    const std::wstring message = box ? text(child(box, 0xFFFF)) : L"";
    if (box) shoot(box, L"refused");
    expect(message.rfind(L"Parola nu s-a introdus sau e incorecta ", 0) == 0,
           "text of the refused workbook's box: \"" + narrow(message) + "\"");
    if (box) click(child(box, IDOK));
    Sleep(500);
    expectText(text(control(1002)), L"", "path box emptied");
    expect(!IsWindowEnabled(control(1004)), "cmdCalcul disabled");
    expectText(statusText(control(1007), nullptr), kChooseFile, "the status asks for a file again");
    DeleteFileW(refused.c_str());

    // Esc closes the window; the main window takes input again.
    press(indices, VK_ESCAPE);
    expect(closed(indices), "Esc closes the indices window");
    expect(IsWindowEnabled(main), "the main window is enabled again");

    // Alt+D: the About box, looked at once.
    press(main, 'D', true);
    const HWND about = aboutBox(program);
    expect(about != nullptr, "Alt+D opens \"Despre Ordana v1.50\"");
    if (about) {
        shoot(about, L"about");
        expectText(text(child(about, IDOK)), L"OK", "cmdOK");
        expect(text(child(about, 2002)).rfind(L"Aplicatie destinata evaluarii biodiversitatii.\r\n\r\n", 0) ==
                   0,
               "lblDescriere");
        press(about, VK_RETURN);
        expect(closed(about), "Enter closes the About box");
    }

    reopenings(program);
    quit(program);

    // A new run reads the choice back from the registry; it is cleared again for the runs that follow.
    Program again = start(argv[1]);
    if (again.main) {
        press(again.main, VK_F3);
        HWND reopened = indicesWindow(again);
        expect(reopened && ticked(child(reopened, 1008)),
               "a new run shows estimatori ticked, from the registry");
        if (reopened) {
            click(child(reopened, 1008));
            Sleep(500);
            expect(remembered(L"estimatori") == 0, "cleared again");
            press(reopened, VK_ESCAPE);
            closed(reopened);
        }
        quit(again);
    }
    std::printf("%d failed\n", failures);
    return failures == 0 ? 0 : 1;
}
