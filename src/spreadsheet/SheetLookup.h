#pragma once

// A worksheet found by name, as every engine looks it up.

#include "common/RuntimeError.h"
#include "common/Text.h"

#include <cstddef>
#include <string>

namespace ordana::spreadsheet {

// The position (0 up, among count) of the sheet of exactly that name; only without one, of a name that
// differs in case, as Excel looks them up: a workbook may hold both "Date" and "DATE", and each gets its own
// table. Error 9, naming the workbook, when there is neither.
template <class NameAt>
std::size_t findSheet(std::size_t count, NameAt nameAt, const std::string& name, const std::string& path) {
    for (std::size_t i = 0; i < count; ++i)
        if (nameAt(i) == name) return i;
    const std::string wanted = text::foldCase(name);
    for (std::size_t i = 0; i < count; ++i)
        if (text::foldCase(nameAt(i)) == wanted) return i;
    throw RuntimeError(err::SubscriptOutOfRange, "Indice in afara intervalului: foaia de calcul " +
                                                     text::quotedExcerpt(name) + " nu exista in fisierul " +
                                                     text::quoted(path));
}

} // namespace ordana::spreadsheet
