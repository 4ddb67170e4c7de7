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

// What a worksheet holds for the job: a data sheet (one sample), or a survey of many (job/Survey.h).
enum class SheetKind { Data, Survey };
using FoundSheet = std::function<void(const std::string& name, SheetKind kind)>;

// The data sheets and the surveys of an open workbook in workbook order, each passed to found as soon as it
// is known, so a caller keeps the names found before a failure. With names given, only the sheets of those
// names are tested. Each sheet is let go once tested, so an engine need not keep what it read of it.
void listSheets(spreadsheet::Workbook& workbook, const FoundSheet& found,
                const std::vector<std::string>& only = {});

// The failure of a workbook none of whose sheets is a data sheet, and the words every failure of a workbook
// ends with, since none changes it.
inline constexpr char kUnchanged[] = "; fisierul nu a fost schimbat";
RuntimeError noDataSheet();
// A survey is a matter for the estimates: a run without them leaves it, and says so when asked for one.
inline constexpr char kSurveyNeedsEstimates[] =
    "este o matrice de probe, pe care o prelucreaza doar estimatorii sau incidenta";
RuntimeError surveysOnly(const std::vector<std::string>& surveys);

// Whether the workbook holds a worksheet of exactly that name.
bool hasWorksheet(spreadsheet::Workbook& workbook, const std::string& name);

// The file command: start, open for reading, list, close without saving, quit. The handles are filled as it
// goes, for the caller's error path.
void listSheets(const spreadsheet::ApplicationFactory& start, const std::string& path,
                spreadsheet::SpreadsheetHandles& handles, const FoundSheet& found);
// The data sheets alone.
std::vector<std::string> listDataSheets(const spreadsheet::ApplicationFactory& start, const std::string& path,
                                        spreadsheet::SpreadsheetHandles& handles);

} // namespace ordana::job
