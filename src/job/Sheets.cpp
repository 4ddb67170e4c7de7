#include "Sheets.h"

#include "Survey.h"
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

void listSheets(spreadsheet::Workbook& workbook, const FoundSheet& found,
                const std::vector<std::string>& only) {
    // Counted in full width: a workbook may hold as many sheets as a 16-bit count allows.
    const int count = workbook.worksheetCount();
    for (int i = 1; i <= count; ++i) {
        const std::string name = workbook.worksheetName(std::int16_t(i));
        if (!only.empty() && std::find(only.begin(), only.end(), name) == only.end()) continue;
        const auto sheet = workbook.worksheet(name);
        if (isDataSheet(*sheet))
            found(name, SheetKind::Data);
        else if (isSurveySheet(*sheet))
            found(name, SheetKind::Survey);
    }
}

RuntimeError noDataSheet() {
    return {err::Application,
            "nicio foaie de date: nicio foaie nu are \"SPECIA\" in A1, \"ABUNDENTA\" in B1 si o "
            "valoare in B2" +
                std::string(kUnchanged)};
}

RuntimeError surveysOnly(const std::vector<std::string>& surveys) {
    std::string names;
    for (const auto& name : surveys)
        names += (names.empty() ? "" : ", ") + text::quotedExcerpt(name);
    return {err::Application, "nicio foaie de date; " + names + " " +
                                  (surveys.size() == 1 ? std::string(kSurveyNeedsEstimates)
                                                       : "sunt matrice de probe, pe care le prelucreaza doar "
                                                         "estimatorii sau incidenta") +
                                  kUnchanged};
}

bool hasWorksheet(spreadsheet::Workbook& workbook, const std::string& name) {
    const int count = workbook.worksheetCount();
    for (int i = 1; i <= count; ++i)
        if (workbook.worksheetName(std::int16_t(i)) == name) return true;
    return false;
}

void listSheets(const spreadsheet::ApplicationFactory& start, const std::string& path,
                spreadsheet::SpreadsheetHandles& handles, const FoundSheet& found) {
    openForReading(start, path, handles);
    listSheets(*handles.workbook, found);
    finish(handles, false);
}

std::vector<std::string> listDataSheets(const spreadsheet::ApplicationFactory& start, const std::string& path,
                                        spreadsheet::SpreadsheetHandles& handles) {
    std::vector<std::string> names;
    listSheets(start, path, handles, [&](const std::string& name, SheetKind kind) {
        if (kind == SheetKind::Data) names.push_back(name);
    });
    return names;
}

} // namespace ordana::job
