#include "Sheets.h"

#include "Workbook.h"
#include "common/Text.h"

#include <algorithm>

namespace ordana::job {

bool isDataSheet(spreadsheet::Worksheet& worksheet) {
    const bool a1 = text::foldCase(worksheet.cell(1, 1).toText()) == "SPECIA";
    const bool b1 = text::foldCase(worksheet.cell(1, 2).toText()) == "ABUNDENTA";
    const bool b2 = !worksheet.cell(2, 2).isBlank();
    return a1 && b1 && b2;
}

void listDataSheets(spreadsheet::Workbook& workbook, const std::function<void(const std::string&)>& found,
                    const std::vector<std::string>& only) {
    // Counted in full width: a workbook may hold as many sheets as a 16-bit count allows.
    const int count = workbook.worksheetCount();
    for (int i = 1; i <= count; ++i) {
        const std::string name = workbook.worksheetName(std::int16_t(i));
        if (!only.empty() && std::find(only.begin(), only.end(), name) == only.end()) continue;
        if (isDataSheet(*workbook.worksheet(name))) found(name);
    }
}

RuntimeError noDataSheet() {
    return {err::Application,
            "nicio foaie de date: nicio foaie nu are \"SPECIA\" in A1, \"ABUNDENTA\" in B1 si o "
            "valoare in B2" +
                std::string(kUnchanged)};
}

bool hasWorksheet(spreadsheet::Workbook& workbook, const std::string& name) {
    const int count = workbook.worksheetCount();
    for (int i = 1; i <= count; ++i)
        if (workbook.worksheetName(std::int16_t(i)) == name) return true;
    return false;
}

void listDataSheets(const spreadsheet::ApplicationFactory& start, const std::string& path,
                    spreadsheet::SpreadsheetHandles& handles,
                    const std::function<void(const std::string&)>& found) {
    openForReading(start, path, handles);
    listDataSheets(*handles.workbook, found);
    finish(handles, false);
}

std::vector<std::string> listDataSheets(const spreadsheet::ApplicationFactory& start, const std::string& path,
                                        spreadsheet::SpreadsheetHandles& handles) {
    std::vector<std::string> names;
    listDataSheets(start, path, handles, [&](const std::string& name) { names.push_back(name); });
    return names;
}

} // namespace ordana::job
