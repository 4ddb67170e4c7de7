#pragma once

// A survey sheet, as field seasons are kept: "SPECIA" in A1, the names of the samples (sites, traps,
// quadrats, dates) from B1 on, one species a row and its counts below, an empty cell 0. Each column is a
// sample for the abundance estimators; together the columns are the sampling units of one assemblage for the
// incidence ones.

#include "analysis/Community.h"
#include "spreadsheet/Spreadsheet.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ordana::job {

// "SPECIA" in A1 (upper-cased, not trimmed), two samples named at least (B1 and C1 filled, B1 not
// "ABUNDENTA": a sheet of one sample is a data sheet), and a species in A2.
bool isSurveySheet(spreadsheet::Worksheet& worksheet);

struct Survey {
    std::vector<std::string> samples; // B1, C1, ... up to the first blank heading or a table's "."
    std::vector<Community> columns;   // each sample's species, as a data sheet's are read
    // The counts, a row per species (a name written twice merged) and a column per sample.
    std::vector<std::int64_t> counts;
    std::size_t species = 0;
    std::int32_t lastRow = 1;
    std::int64_t zeroRows = 0; // species seen in no sample
    std::vector<Community::Merge> merged;
    std::string range() const; // "A1:K35"
};

// Rows 2.. until column A is blank; a count must be a whole number, not negative (13 naming the cell), and
// a sample's total at most 2^53 (6 naming the cell).
Survey readSurvey(spreadsheet::Worksheet& worksheet);

} // namespace ordana::job
