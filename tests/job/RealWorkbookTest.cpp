// The reading command on workbooks written by a real producer, through the native engine.

#include "analysis/ResultsWriter.h"
#include "analysis/SpeciesSample.h"
#include "job/Run.h"
#include "job/SheetReader.h"
#include "job/Sheets.h"
#include "job/Workbook.h"
#include "spreadsheet/XlsTestFiles.h"
#include "support/ErrorAssert.h"
#include "support/SampleResults.h"

#include <array>
#include <thread>

using namespace ordana;
using ordana::testing::fixtures;

namespace {
const std::string kCases = (fixtures() / "cases-xlwt.xls").string();
}

TEST(RealWorkbook, ListsOnlyTheSheetsThatPassTheTest) {
    spreadsheet::SpreadsheetHandles handles;
    EXPECT_EQ(job::listDataSheets(spreadsheet::nativeApplicationFactory(), kCases, handles),
              (std::vector<std::string>{"Majuscule", "GolA2", "Intrerupt", "Zero", "Fractii", "Jumatati",
                                        "Text", "TextRau", "Depasire", "TextGol"}));
    EXPECT_FALSE(handles.application || handles.workbook || handles.worksheet);
}

TEST(RealWorkbook, ReadsEachCaseAsTheRulesSay) {
    const struct {
        const char* sheet;
        int species, total; // when no error
        int error;
        const char* fragment;
    } rows[] = {
        {"Majuscule", 2, 7, 0, ""},
        {"GolA2", 0, 0, 0, ""},     // an empty first data row: a valid, empty sample
        {"Intrerupt", 3, 6, 0, ""}, // a blank A row ends the list; what lies below is ignored
        {"Zero", 3, 10, 0, ""},     // 0 is filled
        {"Fractii", 2, 4, 0, ""},   // round(1.5) = 2, round(3.5) = 4
        {"Jumatati", 2, 0, 0, ""},  // 0.5 rounds to 0 twice
        {"Text", 2, 15, 0, ""},     // the text "12" counts as 12
        {"TextGol", 1, 7, 0, ""},   // an empty text is blank
        {"TextRau", 0, 0, err::TypeMismatch, "celula B3 (\"cinci\")"},
        {"Depasire", 0, 0, err::Overflow, "celula B4"},
    };
    for (const auto& r : rows) {
        SpeciesSample sample;
        spreadsheet::SpreadsheetHandles handles;
        if (r.error) {
            EXPECT_RUNTIME_ERROR(
                job::readDataSheet(spreadsheet::nativeApplicationFactory(), kCases, r.sheet, sample, handles),
                r.error, r.fragment);
            EXPECT_FALSE(sample.hasSpeciesCount()) << r.sheet << ": the count is written only at the end";
            continue;
        }
        job::readDataSheet(spreadsheet::nativeApplicationFactory(), kCases, r.sheet, sample, handles);
        EXPECT_EQ(sample.speciesCount(), r.species) << r.sheet;
        EXPECT_EQ(sample.totalIndividuals(), r.total) << r.sheet;
    }
}

TEST(RealWorkbook, TextAbundancesAreStoredAsText) {
    SpeciesSample sample;
    spreadsheet::SpreadsheetHandles handles;
    job::readDataSheet(spreadsheet::nativeApplicationFactory(), kCases, "Text", sample, handles);
    EXPECT_EQ(sample.abundances(), (std::vector<CellValue>{CellValue::text("12"), CellValue::number(3)}));
}

TEST(RealWorkbook, AMissingWorkbookOrSheetCarriesItsNumber) {
    SpeciesSample sample;
    spreadsheet::SpreadsheetHandles handles;
    EXPECT_RUNTIME_ERROR(job::readDataSheet(spreadsheet::nativeApplicationFactory(), kCases + ".lipsa",
                                            "Text", sample, handles),
                         err::Application, "");
    handles.release();
    EXPECT_RUNTIME_ERROR(
        job::readDataSheet(spreadsheet::nativeApplicationFactory(), kCases, "Nu exista", sample, handles),
        err::SubscriptOutOfRange, "Nu exista");
}

// Two calculations started on one workbook at the same moment, as two windows or a window and a batch would:
// the second waits for the first one's save and then writes its own table beside it, whatever the format.
TEST(RealWorkbook, TwoCalculationsOnOneWorkbookTakeTurns) {
    for (const char* fixture : {"basic-libreoffice.xls", "basic-libreoffice.xlsx", "basic-libreoffice.ods"}) {
        SCOPED_TRACE(fixture);
        const ordana::testing::ScratchDir dir;
        const std::string path = dir.copy(fixture);
        std::array<std::string, 2> failures;
        std::vector<std::thread> runs;
        for (std::size_t k = 0; k < failures.size(); ++k)
            runs.emplace_back([&, k] {
                spreadsheet::SpreadsheetHandles handles;
                try {
                    job::saveIndicesTable(spreadsheet::nativeApplicationFactory(), path, "Date",
                                          ordana::testing::dateSheetResults(), handles);
                } catch (const RuntimeError& e) {
                    failures[k] = e.description();
                    job::abandon(handles);
                }
            });
        for (auto& t : runs)
            t.join();
        EXPECT_EQ(failures, (std::array<std::string, 2>{}));
        auto sheet = spreadsheet::nativeApplicationFactory()()->open(path)->worksheet("Date");
        EXPECT_EQ(sheet->cell(1, 3), CellValue::text("."));
        EXPECT_EQ(sheet->cell(1, 6), CellValue::text("."));
    }
}
