// The whole .xlsx workbook from bytes: open, list, read, write the results table (its texts into the shared
// strings), activate, save into memory. Each stage runs even where the one before refused a cell, so the
// write path is reached by inputs whose cells do not all read. Failures must be RuntimeError 1004 (9 for a
// name lookup, 6 for the table column); anything else is a finding.

#include "analysis/ResultsWriter.h"
#include "common/RuntimeError.h"
#include "spreadsheet/NativeEngine.h"
#include "spreadsheet/xlsx/XlsxWorkbook.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

template <class F> void expectRefusalOnly(F&& f) {
    try {
        f();
    } catch (const ordana::RuntimeError& e) {
        const int n = e.number();
        if (n != ordana::err::Application && n != ordana::err::SubscriptOutOfRange &&
            n != ordana::err::Overflow) {
            std::fprintf(stderr, "xlsx_fuzzer: error %d: %s\n", n, e.what());
            std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ordana::spreadsheet;
    std::shared_ptr<Workbook> wb;
    expectRefusalOnly([&] {
        wb = openNativeWorkbook(
            SourceFile::fromBytes(std::vector<std::uint8_t>(data, data + size), "/fuzz/input.xlsx"));
    });
    if (!wb) return 0;
    std::int16_t count = 0;
    expectRefusalOnly([&] { count = wb->worksheetCount(); });
    for (std::int16_t i = 1; i <= count && i <= 4; ++i) {
        std::shared_ptr<Worksheet> ws;
        expectRefusalOnly([&] { ws = wb->worksheet(wb->worksheetName(i)); });
        if (!ws) continue;
        expectRefusalOnly([&] {
            for (std::int16_t r = 1; r <= 3; ++r)
                for (std::int16_t c = 1; c <= 3; ++c)
                    (void)ws->cell(r, c);
            for (std::int16_t r = 1; r <= 40; ++r)
                (void)ws->cell(r, 2);
        });
        if (i != 1) continue;
        expectRefusalOnly([&] {
            ordana::DiversityResults results{};
            results.speciesRichness = 3;
            results.simpsonD = 0.5;
            ordana::writeResultsTable(*ws, results);
        });
        // Texts written straight where the table's column search may have stopped short.
        expectRefusalOnly([&] {
            ws->setCell(2, 1, ordana::CellValue::text("Specia"));
            ws->setCell(1, 2, ordana::CellValue::text("ABUNDENTA"));
            ws->setBold(1, 2, true);
        });
        expectRefusalOnly([&] { ws->activate(); });
    }
    // The written sheet given back above, taken again: read past its first rows and written once more, so its
    // index is read anew under the edits it kept.
    if (count > 0)
        expectRefusalOnly([&] {
            auto ws = wb->worksheet(wb->worksheetName(1));
            for (std::int16_t r = 1; r <= 20; ++r)
                (void)ws->cell(r, 4);
            ws->setCell(21, 4, ordana::CellValue::number(2));
        });
    expectRefusalOnly([&] {
        std::size_t written = 0;
        xlsx::writePackage(*wb, [&](std::span<const std::uint8_t> p) { written += p.size(); });
    });
    expectRefusalOnly([&] { wb->close(false); });
    return 0;
}
