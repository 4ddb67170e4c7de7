#include "DataSheet.h"

#include "analysis/SpeciesSample.h"
#include "common/Arithmetic.h"
#include "common/RuntimeError.h"
#include "common/Text.h"

#include <algorithm>

namespace ordana::intake {

using spreadsheet::SpreadsheetHandles;

namespace {

void open(const spreadsheet::ApplicationFactory& start, const std::string& path,
          SpreadsheetHandles& handles) {
    handles.application = start();
    handles.workbook = handles.application->openForReading(path); // both commands here only read
}

} // namespace

bool isDataSheet(spreadsheet::Worksheet& worksheet) {
    const bool a1 = text::foldCase(worksheet.cell(1, 1).toText()) == "SPECIA";
    const bool b1 = text::foldCase(worksheet.cell(1, 2).toText()) == "ABUNDENTA";
    const bool b2 = !worksheet.cell(2, 2).isBlank();
    return a1 && b1 && b2;
}

void listDataSheets(const spreadsheet::ApplicationFactory& start, const std::string& path,
                    SpreadsheetHandles& handles, const std::function<void(const std::string&)>& found) {
    open(start, path, handles);
    const std::int16_t count = handles.workbook->worksheetCount();
    for (std::int16_t i = 1; i <= count; ++i) {
        const std::string name = handles.workbook->worksheetName(i);
        handles.worksheet = handles.workbook->worksheet(name);
        if (isDataSheet(*handles.worksheet)) found(name);
    }
    handles.workbook->close(false);
    handles.quit();
}

std::vector<std::string> listDataSheets(const spreadsheet::ApplicationFactory& start, const std::string& path,
                                        SpreadsheetHandles& handles) {
    std::vector<std::string> names;
    listDataSheets(start, path, handles, [&](const std::string& name) { names.push_back(name); });
    return names;
}

void readSheet(spreadsheet::Worksheet& sheet, SpeciesSample& sample) {
    std::int16_t i = 1;
    for (;;) {
        std::int16_t row;
        try {
            row = add16(i, 1);
        } catch (const RuntimeError&) {
            throw RuntimeError(err::Overflow, "Depasire: foaia are mai mult de 32765 randuri de date; "
                                              "numarul randului depaseste 32767");
        }
        const CellValue species = sheet.cell(row, 1);
        const CellValue abundance = sheet.cell(row, 2);
        if (species.isBlank() || abundance.isBlank()) break;
        const CellValue stored = sheet.cell(row, 2);
        try {
            sample.append(stored);
        } catch (const RuntimeError& e) {
            const std::string where = "celula " + text::cellAddress(row, 2);
            if (e.number() == err::TypeMismatch)
                throw RuntimeError(e.number(), "Tip nepotrivit: abundenta din " + where + " (" +
                                                   text::quotedExcerpt(stored.toText()) +
                                                   ") nu este un numar");
            throw RuntimeError(e.number(), "Depasire: totalul abundentelor depaseste 32767 la " + where +
                                               " (abundenta " + text::quotedExcerpt(stored.toText()) + ")");
        }
        try {
            i = add16(i, 1);
        } catch (const RuntimeError&) {
            throw RuntimeError(err::Overflow, "Depasire: contorul de randuri depaseste 32767");
        }
    }
    sample.complete();
}

void readDataSheet(const spreadsheet::ApplicationFactory& start, const std::string& path,
                   const std::string& sheetName, SpeciesSample& sample, SpreadsheetHandles& handles) {
    sample.reset();
    open(start, path, handles);
    handles.worksheet = handles.workbook->worksheet(sheetName);
    readSheet(*handles.worksheet, sample);
    handles.workbook->close(false);
    handles.quit();
}

} // namespace ordana::intake
