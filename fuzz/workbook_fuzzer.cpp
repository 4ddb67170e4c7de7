// ============================================================================================================
// Second target: the whole workbook from bytes. Open, list the worksheets, read the cells of each.
// Built only when src/spreadsheet/xls/XlsWorkbook.h exists (see CMakeLists.txt). Failures must be
// RuntimeError 1004 (or 9 for a name lookup); anything else, or a crash, hang or sanitizer report, is a
// finding.
// ============================================================================================================

#include "common/RuntimeError.h"
#include "spreadsheet/xls/XlsWorkbook.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ordana::spreadsheet;
    try {
        auto wb = xls::openWorkbookBytes(std::vector<std::uint8_t>(data, data + size), "/fuzz/input.xls");
        const std::int16_t count = wb->worksheetCount();
        for (std::int16_t i = 1; i <= count; ++i) {
            auto ws = wb->worksheet(wb->worksheetName(i));
            // Every cell a small input can hold, and the far corners of the addressable range.
            for (std::int16_t r = 1; r <= 64; ++r)
                for (std::int16_t c = 1; c <= 16; ++c)
                    (void)ws->cell(r, c);
            (void)ws->cell(32767, 256);
            (void)ws->cell(1, 256);
        }
        wb->close(false);
    } catch (const ordana::RuntimeError& e) {
        if (e.number() != ordana::err::Application && e.number() != ordana::err::SubscriptOutOfRange) {
            std::fprintf(stderr, "workbook_fuzzer: error %d: %s\n", e.number(), e.what());
            std::abort();
        }
    }
    return 0;
}
