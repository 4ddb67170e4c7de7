#include "Community.h"

#include "common/Arithmetic.h"
#include "common/RuntimeError.h"
#include "common/Text.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

namespace ordana {

namespace {

std::string trimmed(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r\n\xa0");
    if (first == std::string::npos) return {};
    const auto last = s.find_last_not_of(" \t\r\n\xa0");
    return s.substr(first, last - first + 1);
}

} // namespace

std::string Community::range() const {
    return "A2:B" + std::to_string(lastRow);
}

estimators::Frequencies Community::frequencies() const {
    std::vector<std::int64_t> counts;
    counts.reserve(species.size());
    for (const auto& s : species)
        counts.push_back(s.count);
    return estimators::Frequencies::fromCounts(counts);
}

Community readCommunity(spreadsheet::Worksheet& sheet) {
    Community c;
    c.label = sheet.name();
    for (std::int32_t row = 2; row <= 32767; ++row) {
        const auto r = std::int16_t(row);
        const CellValue name = sheet.cell(r, 1);
        const CellValue count = sheet.cell(r, 2);
        if (name.isBlank() || count.isBlank()) break;
        const std::string where = "celula " + text::cellAddress(row, 2);
        double value;
        try {
            value = count.toNumber();
        } catch (const RuntimeError&) {
            throw RuntimeError(err::TypeMismatch, "Tip nepotrivit: abundenta din " + where + " (\"" +
                                                      count.toText() + "\") nu este un numar");
        }
        if (!(value >= 0) || value != std::floor(value) || value > 1e9)
            throw RuntimeError(err::TypeMismatch, "Tip nepotrivit: abundenta din " + where + " (" +
                                                      count.toText() +
                                                      ") nu este un numar intreg de indivizi, nenegativ; "
                                                      "estimatorii numara indivizi");
        Community::Species s;
        s.name = name.toText();
        s.key = text::foldCase(trimmed(s.name));
        s.count = std::int64_t(value);
        c.individuals += s.count;
        c.species.push_back(std::move(s));
        c.lastRow = r;
    }
    return c;
}

} // namespace ordana
