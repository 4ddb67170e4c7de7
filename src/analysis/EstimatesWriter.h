#pragma once

// The estimates table: beside the indices table by the same rule (the next columns whose row-1 cell is
// blank), the estimates in six columns and, under them, where the numbers came from.

#include "Community.h"
#include "Estimators.h"
#include "spreadsheet/Spreadsheet.h"

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace ordana {

extern const std::array<const char*, 6> kEstimateHeadings;

struct Provenance {
    std::string version;
    std::string date;
    std::uint64_t seed = 0;
    int replicates = 0;
    std::string generator;
    std::string range;
    std::int64_t species = 0;
    std::int64_t individuals = 0;
    std::int64_t zeroRows = 0; // rows of 0 individuals left out
    std::string merged;        // names written on more than one row, counted as one species, with their rows
};

// Label and text of each provenance row, in table order.
std::vector<std::pair<std::string, std::string>> provenanceRows(const Provenance& p);

// "Metoda": the variant, the interval's method and any note.
std::string methodText(const estimators::Estimate& e);

// A value as a cell holds it: a number, or a word when the formula has no finite value.
CellValue estimateCell(double value);

// Writes the table and formats it; returns its marker column.
std::int16_t writeEstimatesTable(spreadsheet::Worksheet& worksheet, const estimators::Analysis& analysis,
                                 const Provenance& provenance);

} // namespace ordana
