// The sheet writer's output, pinned: each producer's workbook with the results table written on each of its
// worksheets in turn, and hand-laid sheets with edits of every kind, hash to what the writer produced when
// these values were recorded. Restructuring the writer must leave every byte where it was; a change of the
// bytes written must be deliberate, with the values recorded again.

#include "BiffBuilder.h"
#include "XlsTestFiles.h"
#include "analysis/ResultsWriter.h"
#include "spreadsheet/xls/Sheet.h"
#include "spreadsheet/xls/WorkbookStream.h"
#include "spreadsheet/xls/XlsWorkbook.h"
#include "support/SampleResults.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

#include <cinttypes>

using namespace ordana;
using namespace ordana::spreadsheet;
using namespace ordana::spreadsheet::xls;
using namespace ordana::testing;

namespace {

std::uint64_t hashOf(const Bytes& b, std::uint64_t seed = 0) {
    return XXH64(b.data(), b.size(), seed);
}

// The Workbook stream of each save, one per worksheet, folded into one value.
std::uint64_t tableOnEveryWorksheet(const std::string& fixture) {
    ScratchDir dir;
    std::vector<std::string> names;
    {
        auto wb = xls::openWorkbook((fixtures() / fixture).string());
        for (std::int16_t i = 1; i <= wb->worksheetCount(); ++i)
            names.push_back(wb->worksheetName(i));
        wb->close(false);
    }
    std::uint64_t h = names.size();
    for (const auto& name : names) {
        const std::string path = dir.copy(fixture, "copy.xls");
        auto wb = xls::openWorkbook(path);
        auto ws = wb->worksheet(name);
        writeResultsTable(*ws, dateSheetResults());
        ws->activate();
        wb->close(true);
        h = hashOf(workbookStream(path), h);
    }
    return h;
}

// Hand-laid sheets: multi-cell records split, formulas replaced, new rows and cells, DBCELL and INDEX,
// formula ranges moved, column formats.
std::uint64_t handLaid() {
    std::uint64_t h = 0;
    {
        auto recs = everyCellKind();
        recs.insert(recs.begin(), {rt::Index, cat({le32(0), le32(0), le32(5), le32(0), le32(0)})});
        WorkbookStream book(buildStream({{"S", recs}, {"T", everyCellKind()}}, trickySst()));
        Sheet& s = book.sheet(0);
        s.setValue(1, 1, CellValue::text("nou"));
        s.setValue(3, 4, CellValue::number(7));
        s.setValue(4, 1, CellValue::number(0.1));
        s.setValue(0, 5, CellValue::boolean(false));
        s.setValue(9, 2, CellValue::number(-2.5));
        s.setValue(40, 2, CellValue::number(1e300));
        s.setValue(0, 0, CellValue());
        s.setCellXf(2, 2, 15);
        s.setColumnWidth(6, 12.5);
        s.setColumnWidth(7, 0);
        book.sheet(1).setValue(2, 9, CellValue::text("Indici"));
        book.setActive(1);
        h = hashOf(book.serialize(), h);
    }
    {
        WorkbookStream book(buildStream({{"Formule", formulaRanges()}}));
        for (const auto& [row, col] : {std::pair{12, 4}, std::pair{12, 7}, std::pair{13, 8}})
            book.sheet(0).setValue(row, col, CellValue::number(100));
        h = hashOf(book.serialize(), h);
    }
    {
        WorkbookStream book(buildStream({{"Gol", {}}}));
        book.sheet(0).setValue(3, 3, CellValue::text("singur"));
        h = hashOf(book.serialize(), h);
    }
    return h;
}

} // namespace

TEST(XlsWriterPin, OutputIsByteForByteWhatItWas) {
    const struct {
        const char* what;
        std::uint64_t hash;
    } pinned[] = {
        {"basic-libreoffice.xls", 0x6a72dea3374783e5ull},
        {"basic-gnumeric.xls", 0x2ff3c91087bf8a05ull},
        {"basic-xlwt.xls", 0x8c1e242cb6bce939ull},
        {"basic-v4-libgsf.xls", 0x6a72dea3374783e5ull},
        {"formatted-xlwt.xls", 0xd286c5c7b76a8892ull},
        {"cases-xlwt.xls", 0x5a2d9969e2b6622ull},
        {"hand-laid", 0xe358a5def15ea99bull},
    };
    for (const auto& p : pinned) {
        const std::uint64_t h =
            std::string(p.what) == "hand-laid" ? handLaid() : tableOnEveryWorksheet(p.what);
        EXPECT_EQ(h, p.hash) << p.what << ": 0x" << std::hex << h;
    }
}
