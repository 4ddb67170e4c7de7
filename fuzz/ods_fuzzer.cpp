// The whole .ods workbook from bytes: open, list the worksheets, read the cells of each, write the results
// table into the first, save to memory and open what was saved. Failures must be RuntimeError 1004 (or 9 for
// a name lookup); anything else, or a crash, hang or sanitizer report, is a finding.

#include "analysis/ResultsWriter.h"
#include "common/CellValue.h"
#include "common/RuntimeError.h"
#include "spreadsheet/ods/OdsWorkbook.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

bool expected(const ordana::RuntimeError& e) {
    return e.number() == ordana::err::Application || e.number() == ordana::err::SubscriptOutOfRange;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ordana::spreadsheet;
    std::vector<std::uint8_t> saved;
    try {
        auto wb = ods::openWorkbook(
            SourceFile::fromBytes(std::vector<std::uint8_t>(data, data + size), "/fuzz/in.ods"));
        const std::int16_t count = wb->worksheetCount();
        for (std::int16_t i = 1; i <= count && i <= 8; ++i) {
            auto ws = wb->worksheet(wb->worksheetName(i));
            // A cell refused (a value that is not a number, a fault in rows read late) ends the reading of
            // its sheet, not the run: the write path is what most needs reaching.
            try {
                for (std::int16_t r = 1; r <= 40; ++r)
                    for (std::int16_t c = 1; c <= 12; ++c)
                        (void)ws->cell(r, c);
                (void)ws->cell(32767, 16384);
            } catch (const ordana::RuntimeError& e) {
                if (!expected(e)) throw;
            }
        }
        if (count > 0) {
            {
                auto ws = wb->worksheet(wb->worksheetName(1));
                // Text with what XML must escape, and a character it cannot hold, over a cell that may hold
                // anything.
                ws->setCell(2, 1, ordana::CellValue::text("a<b&\"c\x01 d"));
                ordana::DiversityResults results;
                results.speciesRichness = 3;
                results.simpsonD = 0.5;
                ordana::writeResultsTable(*ws, results);
                ws->activate();
            }
            // The sheet given back and taken again: read past its first rows, its changes are made again over
            // a fresh index, and one more lands.
            auto ws = wb->worksheet(wb->worksheetName(1));
            try {
                for (std::int16_t r = 1; r <= 20; ++r)
                    (void)ws->cell(r, 4);
            } catch (const ordana::RuntimeError& e) {
                if (!expected(e)) throw;
            }
            ws->setCell(21, 4, ordana::CellValue::number(2));
            ods::writePackage(
                *wb, [&](std::span<const std::uint8_t> s) { saved.insert(saved.end(), s.begin(), s.end()); });
        }
        wb->close(false);
    } catch (const ordana::RuntimeError& e) {
        if (!expected(e)) {
            std::fprintf(stderr, "ods_fuzzer: error %d: %s\n", e.number(), e.what());
            std::abort();
        }
        return 0;
    }
    if (saved.empty()) return 0;
    // What the engine wrote must open again and hold the table.
    try {
        auto again = ods::openWorkbook(SourceFile::fromBytes(std::move(saved), "/fuzz/saved.ods"));
        auto ws = again->worksheet(again->worksheetName(1));
        try {
            (void)ws->cell(1, 2);
        } catch (const ordana::RuntimeError& e) {
            if (e.description().find("celula ") == std::string::npos) throw; // a cell the input already had
        }
    } catch (const ordana::RuntimeError& e) {
        std::fprintf(stderr, "ods_fuzzer: the saved package does not open again: %s\n", e.what());
        std::abort();
    }
    return 0;
}
