// The page's module: one indices window over the in-process engines, driven by page.js through the functions
// below.

#include "WebIndici.h"

#include "spreadsheet/Spreadsheet.h"

#include <emscripten.h>

namespace {

ordana::web::IndicesPage& page() {
    static ordana::web::IndicesPage page(ordana::spreadsheet::nativeApplicationFactory());
    return page;
}

} // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE void ordana_show() {
    page().show();
}

// path: where the page put the chosen workbook's bytes; null when the user cancelled the choice.
EMSCRIPTEN_KEEPALIVE void ordana_file_chosen(const char* path) {
    page().fileChosen(path ? std::optional<std::string>(path) : std::nullopt);
}

EMSCRIPTEN_KEEPALIVE void ordana_sheet_chosen(int index) {
    page().logic().cboFoaie_Click(index);
}

EMSCRIPTEN_KEEPALIVE void ordana_calculate() {
    page().logic().cmdCalcul_Click();
}

EMSCRIPTEN_KEEPALIVE void ordana_cancel() {
    page().logic().cmdCancel_Click();
}

EMSCRIPTEN_KEEPALIVE void ordana_estimates(int checked) {
    page().logic().chkEstimatori_Click(checked != 0);
}

EMSCRIPTEN_KEEPALIVE void ordana_all_sheets(int checked) {
    page().logic().chkToateFoile_Click(checked != 0);
}

EMSCRIPTEN_KEEPALIVE void ordana_incidence(int checked) {
    page().logic().chkIncidenta_Click(checked != 0);
}

} // extern "C"

int main() {
    page().show();
}
