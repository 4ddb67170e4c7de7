#pragma once

// The window-free halves of the file and sheet commands: which worksheets hold field data, and reading one
// into the species sample. Each function fills the caller's handles as it goes, so that after a failure the
// caller's error path finds them as the failing step left them.

#include "spreadsheet/Spreadsheet.h"

#include <functional>
#include <string>
#include <vector>

namespace ordana {
class SpeciesSample;
}

namespace ordana::intake {

// "SPECIA" in A1 and "ABUNDENTA" in B1 (upper-cased, not trimmed), B2 filled; all three cells are read.
bool isDataSheet(spreadsheet::Worksheet& worksheet);

// Start, open, test every worksheet in order, close without saving, quit. Each qualifying name is passed to
// found as soon as it is known, so a caller keeps the names found before a failure.
void listDataSheets(const spreadsheet::ApplicationFactory& start, const std::string& path,
                    spreadsheet::SpreadsheetHandles& handles,
                    const std::function<void(const std::string&)>& found);
std::vector<std::string> listDataSheets(const spreadsheet::ApplicationFactory& start, const std::string& path,
                                        spreadsheet::SpreadsheetHandles& handles);

// Appends rows 2.. of an open worksheet to a freshly reset sample until column A or B is blank, then
// completes it.
void readSheet(spreadsheet::Worksheet& worksheet, SpeciesSample& sample);

// Reset the sample, start, open, pick, read rows 2.. until column A or B is blank, close without saving,
// quit. The row counter is 16-bit (error 6 past row 32767); the species count is set only when the scan ends
// normally.
void readDataSheet(const spreadsheet::ApplicationFactory& start, const std::string& path,
                   const std::string& sheetName, SpeciesSample& sample,
                   spreadsheet::SpreadsheetHandles& handles);

} // namespace ordana::intake
