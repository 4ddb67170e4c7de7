#pragma once

// Which worksheets hold field data, and finding them in a workbook.

#include "common/RuntimeError.h"
#include "spreadsheet/Spreadsheet.h"

#include <functional>
#include <string>
#include <vector>

namespace ordana::job {

// "SPECIA" in A1 and "ABUNDENTA" in B1 (upper-cased, not trimmed), B2 filled; all three cells are read.
bool isDataSheet(spreadsheet::Worksheet& worksheet);

// The data sheets of an open workbook in workbook order, each passed to found as soon as it is known, so a
// caller keeps the names found before a failure. With names given, only the sheets of those names are
// tested. Each sheet is let go once tested, so an engine need not keep what it read of it.
void listDataSheets(spreadsheet::Workbook& workbook, const std::function<void(const std::string&)>& found,
                    const std::vector<std::string>& only = {});

// The failure of a workbook none of whose sheets is a data sheet, and the words every failure of a workbook
// ends with, since none changes it.
inline constexpr char kUnchanged[] = "; fisierul nu a fost schimbat";
RuntimeError noDataSheet();

// Whether the workbook holds a worksheet of exactly that name.
bool hasWorksheet(spreadsheet::Workbook& workbook, const std::string& name);

// The file command: start, open for reading, list, close without saving, quit. The handles are filled as it
// goes, for the caller's error path.
void listDataSheets(const spreadsheet::ApplicationFactory& start, const std::string& path,
                    spreadsheet::SpreadsheetHandles& handles,
                    const std::function<void(const std::string&)>& found);
std::vector<std::string> listDataSheets(const spreadsheet::ApplicationFactory& start, const std::string& path,
                                        spreadsheet::SpreadsheetHandles& handles);

} // namespace ordana::job
