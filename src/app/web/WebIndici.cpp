#include "WebIndici.h"

#include "common/Identity.h"

#include <emscripten.h>

#include <utility>
#include <vector>

// The page's side of each call: Page, the object page.js defines before the module starts.
// clang-format off
EM_JS(void, page_label, (int control, const char* text), {
    Page.label(control, UTF8ToString(text));
});
EM_JS(void, page_filters, (const char* const* patterns, int count), {
    const list = [];
    for (let i = 0; i < count; ++i) list.push(UTF8ToString(HEAPU32[(patterns >> 2) + i]));
    Page.filters(list);
});
EM_JS(int, page_message, (const char* text, const char* caption, int abortRetryIgnore, const char* detail), {
    return Page.message(UTF8ToString(text), UTF8ToString(caption), !!abortRetryIgnore, UTF8ToString(detail));
});
EM_JS(void, page_text, (int control, const char* text), {
    Page.text(control, UTF8ToString(text));
});
EM_JS(void, page_enabled, (int control, int enabled), {
    Page.enabled(control, !!enabled);
});
EM_JS(void, page_items, (int control, const char* const* items, int count, int selected), {
    const list = [];
    for (let i = 0; i < count; ++i) list.push(UTF8ToString(HEAPU32[(items >> 2) + i]));
    Page.items(control, list, selected);
});
EM_JS(void, page_focus, (int control), {
    Page.focus(control);
});
EM_JS(void, page_busy, (int busy), {
    Page.busy(!!busy);
});
EM_JS(void, page_close, (), {
    Page.close();
});
EM_JS(void, page_checked, (int control, int checked), {
    Page.checked(control, !!checked);
});
EM_JS(void, page_document, (const char* path), {
    Page.document(UTF8ToString(path));
});
EM_JS(int, page_flag, (const char* key, int fallback), {
    return Page.flag(UTF8ToString(key), !!fallback) ? 1 : 0;
});
EM_JS(void, page_set_flag, (const char* key, int value), {
    Page.setFlag(UTF8ToString(key), !!value);
});
// clang-format on

namespace ordana::web {

namespace layout = ui::indices;
using ui::Control;

IndicesPage::IndicesPage(spreadsheet::ApplicationFactory start) : logic_(std::move(start), *this, this) {}

void IndicesPage::show() {
    // Every text of the window comes from the logic's table, as in the other windows.
    const std::pair<int, const char*> labels[] = {
        {-1, layout::kCaption},
        {-2, layout::kFrameCaption},
        {-3, layout::kSheetLabel},
        {-4, identity::title},
        {int(Control::FileButton), layout::kFileButton},
        {int(Control::CalcButton), layout::kCalcButton},
        {int(Control::CancelButton), layout::kCancelButton},
        {int(Control::EstimatesBox), layout::kEstimatesBox},
        {int(Control::AllSheetsBox), layout::kAllSheetsBox},
        {int(Control::IncidenceBox), layout::kIncidenceBox},
    };
    for (const auto& [control, text] : labels)
        page_label(control, text);
    std::vector<const char*> patterns;
    for (const std::string& p : layout::fileFilters().front().patterns)
        patterns.push_back(p.c_str());
    page_filters(patterns.data(), int(patterns.size()));
    logic_.initialState();
    logic_.Form_Load();
}

void IndicesPage::fileChosen(std::optional<std::string> path) {
    chosen_ = std::move(path);
    logic_.cmdFis_Click();
    chosen_.reset();
}

// The box stays on the page, modal, until the user closes it; the logic goes on at once. Its answer matters
// only after the engine failed to start (429), which the engine linked into the page never does: there the
// box's last button, Ignore, which changes nothing, is taken.
ui::Answer IndicesPage::showMessage(const ui::Message& m) {
    const bool ari = m.buttons == ui::Buttons::AbortRetryIgnore;
    page_message(m.text.c_str(), m.caption.c_str(), ari, m.detail.c_str());
    return ari ? ui::Ignore : ui::Ok;
}

// The page asks for the file before the command runs (its file input, a drop, the browser's picker): the
// command takes that answer; a second asking within one command (Retry) is a cancel.
std::optional<std::string> IndicesPage::askOpenFile(const std::string&, const std::vector<ui::FileFilter>&) {
    if (!chosen_) return std::nullopt;
    return std::exchange(chosen_, std::optional<std::string>()).value();
}

void IndicesPage::setText(Control control, const std::string& text) {
    page_text(int(control), text.c_str());
}

void IndicesPage::setEnabled(Control control, bool enabled) {
    page_enabled(int(control), enabled);
}

void IndicesPage::setItems(Control control, const std::vector<std::string>& items, int selected) {
    std::vector<const char*> texts;
    for (const std::string& item : items)
        texts.push_back(item.c_str());
    page_items(int(control), texts.data(), int(texts.size()), selected);
}

void IndicesPage::setFocus(Control control) {
    page_focus(int(control));
}

void IndicesPage::setBusy(bool busy) {
    page_busy(busy);
}

void IndicesPage::close() {
    page_close();
}

void IndicesPage::setChecked(Control control, bool checked) {
    page_checked(int(control), checked);
}

void IndicesPage::openDocument(const std::string& path) {
    page_document(path.c_str());
}

bool IndicesPage::flag(const std::string& key, bool fallback) {
    return page_flag(key.c_str(), fallback) != 0;
}

void IndicesPage::setFlag(const std::string& key, bool value) {
    page_set_flag(key.c_str(), value);
}

} // namespace ordana::web
