#pragma once

// An engine's own failure: error 1004 saying what is wrong. The adapters put the file and the sheet before
// it; the formats' helpers (a damaged container, a part) put their context into the text.

#include "common/RuntimeError.h"
#include "common/Text.h"

#include <cstddef>
#include <new>
#include <string>

namespace ordana::spreadsheet {

[[noreturn]] inline void fail(const std::string& what) {
    throw RuntimeError(err::Application, what);
}

// Runs the work of an open; what it meets is said as the open's failure, its number kept, and memory that
// runs out as such.
template <class F> auto opening(const std::string& path, F&& f) -> decltype(f()) {
    try {
        return f();
    } catch (const RuntimeError& e) {
        throw RuntimeError(e.number(),
                           "Fisierul " + text::quoted(path) + " nu poate fi deschis: " + e.description());
    } catch (const std::bad_alloc&) {
        fail("Fisierul " + text::quoted(path) + " nu poate fi deschis: nu este destula memorie");
    }
}

// The worksheets the operations can number (their indexes are 16 bits): a workbook of more is refused when
// it is opened rather than listed short.
inline constexpr std::size_t kMaxWorksheets = 32767;
inline void checkWorksheetCount(std::size_t count) {
    if (count > kMaxWorksheets)
        fail("are " + std::to_string(count) + " de foi de calcul, peste limita de " +
             std::to_string(kMaxWorksheets) + " pe care Ordana le poate numara");
}

// A sheet's failure as every engine says it.
inline std::string inSheet(const std::string& sheet, const std::string& path, const std::string& what) {
    return "Foaia " + text::quotedExcerpt(sheet) + " din fisierul " + text::quoted(path) + ": " + what;
}

// A cell beyond the format's sheet, named with its sheet and file; limits: the format's size.
[[noreturn]] inline void cellOutsideSheet(int row, int column, const std::string& sheet,
                                          const std::string& path, const std::string& limits) {
    fail("Celula (" + std::to_string(row) + ", " + std::to_string(column) + ") a foii " +
         text::quotedExcerpt(sheet) + " din fisierul " + text::quoted(path) +
         " este in afara foii: " + limits);
}

} // namespace ordana::spreadsheet
