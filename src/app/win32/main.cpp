// The native Windows program: the same windows and logic as the Qt one, with the Windows API's own controls.
#include "FrmStart.h"

#include "spreadsheet/Spreadsheet.h"
#include "ui/Desktop.h"

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <string>
#include <vector>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show) {
    // The manifest asks for per-monitor DPI awareness and the version 6 controls (visual styles).
    INITCOMMONCONTROLSEX controls{sizeof(controls),
                                  ICC_STANDARD_CLASSES | ICC_BAR_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    // The pictures are decoded by the imaging component; the open-file dialog wants a single-threaded
    // apartment.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    // A workbook given by "Open with" (the installer registers ordana.exe "%1"); nothing else is read.
    std::vector<std::string> arguments;
    int argc = 0;
    if (LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc)) {
        for (int i = 0; i < argc; ++i)
            arguments.push_back(ordana::win32::utf8(argv[i]));
        LocalFree(argv);
    }
    const std::string workbook = ordana::ui::workbookArgument(arguments);
    int rc = 1;
    {
        ordana::win32::FrmStart frmStart(ordana::spreadsheet::nativeApplicationFactory(), workbook);
        if (frmStart.create(show)) rc = frmStart.run();
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return rc;
}
