// The whole .xlsx workbook from bytes: open, list, read, write the results table, save into memory.
// Failures must be RuntimeError 1004 (9 for a name lookup, 6 for the table column); anything else is a
// finding.

#include "analysis/ResultsWriter.h"
#include "common/RuntimeError.h"
#include "spreadsheet/NativeEngine.h"
#include "spreadsheet/xlsx/XlsxWorkbook.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ordana::spreadsheet;
    try {
        auto wb = openNativeWorkbook(
            SourceFile::fromBytes(std::vector<std::uint8_t>(data, data + size), "/fuzz/input.xlsx"));
        const std::int16_t count = wb->worksheetCount();
        for (std::int16_t i = 1; i <= count && i <= 4; ++i) {
            auto ws = wb->worksheet(wb->worksheetName(i));
            for (std::int16_t r = 1; r <= 3; ++r)
                for (std::int16_t c = 1; c <= 3; ++c)
                    (void)ws->cell(r, c);
            for (std::int16_t r = 1; r <= 40; ++r)
                (void)ws->cell(r, 2);
            if (i == 1) {
                ordana::DiversityResults results{};
                results.speciesRichness = 3;
                results.simpsonD = 0.5;
                ordana::writeResultsTable(*ws, results);
                ws->activate();
            }
        }
        std::size_t written = 0;
        xlsx::writePackage(*wb, [&](std::span<const std::uint8_t> p) { written += p.size(); });
        wb->close(false);
    } catch (const ordana::RuntimeError& e) {
        const int n = e.number();
        if (n != ordana::err::Application && n != ordana::err::SubscriptOutOfRange &&
            n != ordana::err::Overflow) {
            std::fprintf(stderr, "xlsx_fuzzer: error %d: %s\n", n, e.what());
            std::abort();
        }
    }
    return 0;
}
