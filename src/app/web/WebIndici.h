#pragma once

// The indices window in a web page, over the same logic as the Qt and the Windows windows: each call of the
// logic becomes a call of the page's script (page.js), which owns the DOM; the page's events come back
// through the functions exported in main.cpp.

#include "ui/IndicesWindow.h"

#include <optional>
#include <string>

namespace ordana::web {

class IndicesPage : public ui::IndicesView, public ui::Preferences {
  public:
    explicit IndicesPage(spreadsheet::ApplicationFactory start);

    // Shows the window afresh: its texts, the controls as laid out, the load step.
    void show();
    // The file command on a workbook the page put in memory at path; nothing when the user cancelled.
    void fileChosen(std::optional<std::string> path);
    ui::IndicesWindow& logic() { return logic_; }

  private:
    ui::Answer showMessage(const ui::Message& message) override;
    std::optional<std::string> askOpenFile(const std::string& title,
                                           const std::vector<ui::FileFilter>& filters) override;
    void setText(ui::Control control, const std::string& text) override;
    void setEnabled(ui::Control control, bool enabled) override;
    void setItems(ui::Control control, const std::vector<std::string>& items, int selected) override;
    void setFocus(ui::Control control) override;
    void paintNow() override {}
    void setBusy(bool busy) override;
    void close() override;
    void setChecked(ui::Control control, bool checked) override;
    void openDocument(const std::string& path) override;

    // The choices, in the page's local storage where the browser keeps one.
    bool flag(const std::string& key, bool fallback) override;
    void setFlag(const std::string& key, bool value) override;

    ui::IndicesWindow logic_;
    std::optional<std::optional<std::string>> chosen_;
};

} // namespace ordana::web
