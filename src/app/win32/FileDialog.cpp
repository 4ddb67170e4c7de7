// The open-file dialog: the common item dialog, with the program's title, filters and Romanian labels.
#include "Support.h"

#include "ui/Desktop.h"

#include <commctrl.h>
#include <shobjidl.h>

namespace ordana::win32 {

namespace {

template <class T> struct ComPtr {
    T* p = nullptr;
    ~ComPtr() {
        if (p) p->Release();
    }
    T** put() { return &p; }
    T* operator->() const { return p; }
};

struct CoText {
    PWSTR p = nullptr;
    ~CoText() { CoTaskMemFree(p); }
};

// A name typed into the dialog whose full path is MAX_PATH or longer is taken here, before the dialog sees
// it: dialogs that keep a path in MAX_PATH characters (GetOpenFileNameW, Wine's item dialog) would drop it,
// or overrun their buffer. A file is the choice and closes the dialog; a folder is shown in the name box,
// ending in "\\", where the next name typed goes on from it. Shorter paths are the dialog's own business.
class LongNames : public IFileDialogEvents {
  public:
    explicit LongNames(IFileDialog* dialog) : dialog_(dialog) {}
    const std::wstring& chosen() const { return chosen_; }
    void detach() {
        if (window_) RemoveWindowSubclass(window_, &LongNames::subclass, 1);
        window_ = nullptr;
    }

    // IUnknown: lives on the stack for the dialog's showing only.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (riid == IID_IUnknown || riid == IID_IFileDialogEvents) {
            *out = static_cast<IFileDialogEvents*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE OnFileOk(IFileDialog*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnFolderChanging(IFileDialog*, IShellItem*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnFolderChange(IFileDialog* dialog) override {
        // The first change comes as the dialog opens: its window exists from then on.
        if (!window_) {
            ComPtr<IOleWindow> ole;
            HWND window = nullptr;
            if (SUCCEEDED(dialog->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(ole.put()))) &&
                SUCCEEDED(ole->GetWindow(&window)) && window &&
                SetWindowSubclass(window, &LongNames::subclass, 1, reinterpret_cast<DWORD_PTR>(this)))
                window_ = window;
        }
        deepFolder_.clear();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnSelectionChange(IFileDialog*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnShareViolation(IFileDialog*, IShellItem*,
                                               FDE_SHAREVIOLATION_RESPONSE*) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnTypeChange(IFileDialog*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnOverwrite(IFileDialog*, IShellItem*, FDE_OVERWRITE_RESPONSE*) override {
        return S_OK;
    }

  private:
    static LRESULT CALLBACK subclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                     DWORD_PTR self) {
        if (message == WM_COMMAND && LOWORD(wParam) == IDOK &&
            reinterpret_cast<LongNames*>(self)->takeTypedName())
            return 0;
        return DefSubclassProc(window, message, wParam, lParam);
    }

    // The folder the dialog shows, or the deeper one this class holds.
    std::wstring folder() const {
        if (!deepFolder_.empty()) return deepFolder_;
        ComPtr<IShellItem> item;
        CoText path;
        if (FAILED(dialog_->GetFolder(item.put())) ||
            FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, &path.p)) || !path.p)
            return {};
        return path.p;
    }

    // True when the typed name was taken here.
    bool takeTypedName() {
        CoText typed;
        if (FAILED(dialog_->GetFileName(&typed.p)) || !typed.p || !*typed.p) return false;
        std::wstring name = typed.p;
        const bool absolute =
            (name.size() > 2 && name[1] == L':' && name[2] == L'\\') || name.rfind(L"\\\\", 0) == 0;
        std::wstring full = absolute ? name : folder();
        if (!absolute) {
            if (full.empty()) return false;
            if (full.back() != L'\\') full += L'\\';
            full += name;
        }
        while (full.size() > 3 && full.back() == L'\\')
            full.pop_back();
        if (full.size() < MAX_PATH) return false;
        // The file API reaches past MAX_PATH through the \\?\ form.
        const std::wstring extended = full.rfind(L"\\\\", 0) == 0 ? full : L"\\\\?\\" + full;
        const DWORD attributes = GetFileAttributesW(extended.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return false; // the dialog says it does not exist
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            deepFolder_ = full;
            dialog_->SetFileName((full + L"\\").c_str());
            return true;
        }
        chosen_ = full;
        dialog_->Close(S_OK);
        return true;
    }

    IFileDialog* dialog_;
    HWND window_ = nullptr;
    std::wstring deepFolder_;
    std::wstring chosen_;
};

} // namespace

std::optional<std::string> askOpenFile(HWND owner, const std::string& title,
                                       const std::vector<ui::FileFilter>& filters) {
    // The common item dialog, as current programs use, with the names too long for it taken by LongNames.
    ComPtr<IFileOpenDialog> dialog;
    HRESULT hr = CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                                  reinterpret_cast<void**>(dialog.put()));
    if (FAILED(hr)) {
        showMessage(owner, ui::dialogFailed(title, static_cast<long>(hr)));
        return std::string();
    }
    // One entry per filter: its label, and its patterns joined by ";", "*" standing for every name.
    std::vector<std::wstring> labels, patternLists;
    for (const ui::FileFilter& entry : filters) {
        labels.push_back(wide(entry.label));
        std::wstring patterns;
        for (const std::string& pattern : entry.patterns) {
            if (!patterns.empty()) patterns += L';';
            patterns += pattern == "*" ? L"*.*" : wide(pattern);
        }
        patternLists.push_back(patterns);
    }
    std::vector<COMDLG_FILTERSPEC> types;
    for (size_t i = 0; i < labels.size(); ++i)
        types.push_back({labels[i].c_str(), patternLists[i].c_str()});
    dialog->SetTitle(wide(title).c_str());
    if (!types.empty()) {
        dialog->SetFileTypes(static_cast<UINT>(types.size()), types.data());
        dialog->SetFileTypeIndex(1);
    }
    dialog->SetOkButtonLabel(L"&Deschide");
    dialog->SetFileNameLabel(L"&Nume fisier:");
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions(options | FOS_FORCEFILESYSTEM | FOS_FILEMUSTEXIST | FOS_PATHMUSTEXIST |
                       FOS_NOCHANGEDIR);

    LongNames longNames(dialog.p);
    DWORD cookie = 0;
    const bool advised = SUCCEEDED(dialog->Advise(&longNames, &cookie));
    hr = dialog->Show(owner);
    if (advised) dialog->Unadvise(cookie);
    longNames.detach();
    if (!longNames.chosen().empty()) return utf8(longNames.chosen());
    if (hr == HRESULT_FROM_WIN32(ERROR_CANCELLED)) return std::nullopt;
    ComPtr<IShellItem> item;
    if (SUCCEEDED(hr)) hr = dialog->GetResult(item.put());
    if (FAILED(hr)) {
        showMessage(owner, ui::dialogFailed(title, static_cast<long>(hr)));
        return std::string();
    }
    CoText path;
    if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &path.p)) && path.p && *path.p) return utf8(path.p);
    // An item without a path of the file system (a phone, a library of another program): named, not lost.
    CoText name;
    if (FAILED(item->GetDisplayName(SIGDN_DESKTOPABSOLUTEEDITING, &name.p)) || !name.p)
        item->GetDisplayName(SIGDN_NORMALDISPLAY, &name.p);
    showMessage(owner, ui::noFilePath(title, name.p ? utf8(name.p) : std::string()));
    return std::string();
}

} // namespace ordana::win32
