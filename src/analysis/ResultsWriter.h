#pragma once

// The results table: 13 rows in three columns to the right of whatever row 1 already holds.

#include "DiversityIndices.h"
#include "spreadsheet/Spreadsheet.h"

#include <array>
#include <string>

namespace ordana {

// The labels of rows 2..13, in table order.
extern const std::array<const char*, 12> kResultLabels;

// The twelve values of rows 2..13: D, 1 - D and 1 / D formed here from simpsonD.
std::array<double, 12> resultValues(const DiversityResults& results);

// The first column from B whose row-1 cell is blank; a 16-bit column.
std::int16_t findTableColumn(spreadsheet::Worksheet& worksheet);

// Writes the 27 cells and applies the formatting, in the order the table is built; returns the marker column.
std::int16_t writeResultsTable(spreadsheet::Worksheet& worksheet, const DiversityResults& results);

} // namespace ordana
