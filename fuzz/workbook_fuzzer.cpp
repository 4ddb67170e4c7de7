// ============================================================================================================
// Second target: the whole workbook from bytes. Open, list the worksheets, read the cells of each; then the
// same bytes handed out as a file read on demand must read the same.
// Built only when src/spreadsheet/xls/XlsWorkbook.h exists (see CMakeLists.txt). Failures must be
// RuntimeError 1004 (or 9 for a name lookup); anything else, or a crash, hang or sanitizer report, is a
// finding.
// ============================================================================================================

#include "common/RuntimeError.h"
#include "spreadsheet/file/FileAccess.h"
#include "spreadsheet/xls/XlsWorkbook.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace ordana::spreadsheet;

// What a reader sees of the workbook: each worksheet's name, its first two rows (as the listing reads
// them), then every cell a small input can hold and the far corners; or the failure's description.
std::string readAll(std::shared_ptr<const SourceFile> source) {
    std::string seen;
    try {
        auto wb = xls::openWorkbook(std::move(source));
        const std::int16_t count = wb->worksheetCount();
        for (std::int16_t i = 1; i <= count; ++i) {
            auto ws = wb->worksheet(wb->worksheetName(i));
            seen += ws->name() + "|";
            for (std::int16_t r = 1; r <= 64; ++r)
                for (std::int16_t c = 1; c <= 16; ++c)
                    seen += ws->cell(r, c).toText() + ",";
            seen += ws->cell(32767, 256).toText() + ws->cell(1, 256).toText() + "\n";
        }
        wb->close(false);
    } catch (const ordana::RuntimeError& e) {
        if (e.number() != ordana::err::Application && e.number() != ordana::err::SubscriptOutOfRange) {
            std::fprintf(stderr, "workbook_fuzzer: error %d: %s\n", e.number(), e.what());
            std::abort();
        }
        seen += "error: " + e.description();
    }
    return seen;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> bytes(data, data + size);
    const std::string whole = readAll(SourceFile::fromBytes(bytes, "/fuzz/input.xls"));
    // Read on demand, in blocks of 1 to 61 bytes, the workbook reads the same.
    const auto onDemand = FileBytes::onDemandFrom(bytes, 1 + size % 61);
    if (readAll(SourceFile::fromBytes(onDemand, "/fuzz/input.xls")) != whole) {
        std::fprintf(stderr, "workbook_fuzzer: read on demand differs from the whole read\n");
        std::abort();
    }
    return 0;
}
