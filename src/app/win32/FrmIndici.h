#pragma once

// The indices window with the Windows API's own controls, over the same logic as the Qt window.

#include "ui/Desktop.h"
#include "ui/IndicesWindow.h"

#include <windows.h>

#include <string>

namespace ordana::win32 {

class FrmIndici : public ui::IndicesView {
  public:
    // preferences, when given, remembers the two choices between runs.
    explicit FrmIndici(spreadsheet::ApplicationFactory start, ui::Preferences* preferences = nullptr);
    ~FrmIndici() override;
    FrmIndici(const FrmIndici&) = delete;
    FrmIndici& operator=(const FrmIndici&) = delete;

    // Builds the window and its controls afresh, runs the load step and shows it modally; returns once it
    // is closed. The fields of the logic survive from one showing to the next.
    void showModal(HWND owner);
    // The next showing runs the file command at once on this file, as if chosen in the dialog: a workbook
    // opened with Ordana from the desktop.
    void chooseAtOpening(std::string path) { opening_.set(std::move(path)); }

    static constexpr wchar_t kClassName[] = L"OrdanaFrmIndici";

  private:
    ui::Answer showMessage(const ui::Message& message) override;
    std::optional<std::string> askOpenFile(const std::string& title,
                                           const std::vector<ui::FileFilter>& filters) override;
    void setText(ui::Control control, const std::string& text) override;
    void setEnabled(ui::Control control, bool enabled) override;
    void setItems(ui::Control control, const std::vector<std::string>& items, int selected) override;
    void setFocus(ui::Control control) override;
    void paintNow() override;
    void setBusy(bool busy) override;
    void close() override;
    void setChecked(ui::Control control, bool checked) override;
    void openDocument(const std::string& path) override;

    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    void command(WPARAM wParam, LPARAM lParam);
    HBRUSH colours(UINT message, HDC dc, HWND from) const;
    bool setCursor(HWND over) const;
    void createControls();
    void layout();
    void sizeAndCentre();
    HWND control(ui::Control control) const;

    ui::IndicesWindow logic_;
    ui::OpeningWorkbook opening_;
    HWND owner_ = nullptr;
    HWND window_ = nullptr;
    HWND FraFisier = nullptr;
    HWND cmdFis = nullptr;
    HWND txtLocatie = nullptr;
    HWND lblFis = nullptr;
    HWND cboFoaie = nullptr;
    HWND cmdCalcul = nullptr;
    HWND cmdCancel = nullptr;
    HWND chkEstimatori = nullptr;
    HWND chkToateFoile = nullptr;
    HWND StatusBar = nullptr;
    HWND focus_ = nullptr;
    HFONT dialogFont_ = nullptr;
    HFONT arial_ = nullptr;
    HBRUSH lightGrey_ = nullptr;
    UINT dpi_ = 96;
    int busy_ = 0;
    bool placing_ = false;
};

} // namespace ordana::win32
