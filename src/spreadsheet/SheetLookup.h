#pragma once

// A worksheet found by name, as every engine looks it up.

#include "common/RuntimeError.h"
#include "common/Text.h"

#include <cstddef>
#include <string>
#include <unordered_map>

namespace ordana::spreadsheet {

// The positions of a workbook's sheets by name, made once, so that a job over thousands of sheets finds each
// without reading every name before it. The sheet of exactly that name first; only without one, a name that
// differs in case, as Excel looks them up: a workbook may hold both "Date" and "DATE", and each gets its own
// table.
class SheetNames {
  public:
    SheetNames() = default;
    template <class NameAt> SheetNames(std::size_t count, NameAt nameAt) {
        exact_.reserve(count);
        folded_.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            const std::string& name = nameAt(i);
            exact_.emplace(name, i);
            folded_.emplace(text::foldCase(name), i);
        }
    }

    // The position (0 up); error 9, naming the workbook, when there is none.
    std::size_t find(const std::string& name, const std::string& path) const {
        if (const auto it = exact_.find(name); it != exact_.end()) return it->second;
        if (const auto it = folded_.find(text::foldCase(name)); it != folded_.end()) return it->second;
        throw RuntimeError(err::SubscriptOutOfRange, "Indice in afara intervalului: foaia de calcul " +
                                                         text::quotedExcerpt(name) +
                                                         " nu exista in fisierul " + text::quoted(path));
    }

  private:
    // The first sheet of each name, and of each name folded.
    std::unordered_map<std::string, std::size_t> exact_, folded_;
};

} // namespace ordana::spreadsheet
