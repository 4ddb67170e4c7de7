#pragma once

// An engine's own failure: error 1004 saying what is wrong. The adapters put the file and the sheet before
// it; the formats' helpers (a damaged container, a part) put their context into the text.

#include "common/RuntimeError.h"
#include "common/Text.h"

#include <string>

namespace ordana::spreadsheet {

[[noreturn]] inline void fail(const std::string& what) {
    throw RuntimeError(err::Application, what);
}

// A cell beyond the format's sheet, named with its sheet and file; limits: the format's size.
[[noreturn]] inline void cellOutsideSheet(int row, int column, const std::string& sheet,
                                          const std::string& path, const std::string& limits) {
    fail("Celula (" + std::to_string(row) + ", " + std::to_string(column) + ") a foii " +
         text::quotedExcerpt(sheet) + " din fisierul " + text::quoted(path) +
         " este in afara foii: " + limits);
}

} // namespace ordana::spreadsheet
