#pragma once

// Reading a data sheet's rows: into the indices' sample by the rules the classic measures keep (16-bit
// counts, the raw values), and into the estimates' community by their own (whole counts up to 2^53, zeros
// skipped, a name written twice merged). One walk of the rows serves both.

#include "analysis/Community.h"
#include "common/Arithmetic.h"
#include "common/RuntimeError.h"
#include "spreadsheet/Spreadsheet.h"

#include <string>

namespace ordana {
class SpeciesSample;
}

namespace ordana::job {

// The data rows: from row 2 down to, and excluding, the first whose column A or B is blank; visit(row,
// species, abundance) for each. The row number is 16-bit: computing one past 32767 is error 6, even for the
// blank row that would end the list.
template <class Visit> void forEachDataRow(spreadsheet::Worksheet& sheet, Visit&& visit) {
    for (std::int16_t i = 1;; i = std::int16_t(i + 1)) {
        std::int16_t row;
        try {
            row = add16(i, 1);
        } catch (const RuntimeError&) {
            throw RuntimeError(err::Overflow, "Depasire: foaia are mai mult de 32765 randuri de date; "
                                              "numarul randului depaseste 32767");
        }
        const CellValue species = sheet.cell(row, 1);
        const CellValue abundance = sheet.cell(row, 2);
        if (species.isBlank() || abundance.isBlank()) return;
        visit(row, species, abundance);
    }
}

// Appends rows 2.. to a freshly reset sample, then completes it; a failure names the cell.
void readSample(spreadsheet::Worksheet& sheet, SpeciesSample& sample);

// The sheet command: reset the sample, start, open for reading, pick, read, close without saving, quit. The
// species count is set only when the scan ends normally; the handles are filled as it goes.
void readDataSheet(const spreadsheet::ApplicationFactory& start, const std::string& path,
                   const std::string& sheetName, SpeciesSample& sample,
                   spreadsheet::SpreadsheetHandles& handles);

// The species with their names, for the estimators and the comparisons: a count must be a whole number, not
// negative (13 naming the cell), the total at most 2^53 (6 naming the cell); rows of 0 are skipped and
// counted; rows whose names differ only in case and surrounding blanks are one species, and are listed.
Community readCommunity(spreadsheet::Worksheet& sheet);

} // namespace ordana::job
