#pragma once

// An engine's own failure: error 1004 saying what is wrong. The adapters put the file and the sheet before
// it; the formats' helpers (a damaged container, a part) put their context into the text.

#include "common/RuntimeError.h"

#include <string>

namespace ordana::spreadsheet {

[[noreturn]] inline void fail(const std::string& what) {
    throw RuntimeError(err::Application, what);
}

} // namespace ordana::spreadsheet
