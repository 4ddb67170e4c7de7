// ============================================================================================================
// Third target: the BIFF8 record layer alone, reading and writing. The input is a Workbook stream: parse it,
// read every worksheet's cells, write and format a small table as the results writer does, serialize, and
// parse the result again, which must read back what was written. Failures must be RuntimeError 1004.
// ============================================================================================================

#include "common/RuntimeError.h"
#include "spreadsheet/xls/Sheet.h"
#include "spreadsheet/xls/WorkbookStream.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ordana;
    using namespace ordana::spreadsheet::xls;
    try {
        WorkbookStream book(std::vector<std::uint8_t>(data, data + size));
        if (book.worksheets().empty()) return 0;
        for (std::size_t i : book.worksheets()) {
            Sheet& s = book.sheet(i);
            for (int r = 0; r < 40; ++r)
                for (int c = 0; c < 12; ++c)
                    (void)s.value(r, c);
        }
        Sheet& s = book.sheet(book.worksheets()[0]);
        s.setValue(0, 3, CellValue::text("Indici"));
        s.setValue(1, 3, CellValue::number(0.1));
        s.setValue(2, 1, CellValue::number(7));
        s.setColumnWidth(3, 22);
        XfChange change;
        change.horizontal = 2;
        change.format = book.formatIndex("0.000");
        s.formatColumn(3, change);
        XfChange bold;
        bold.font = book.boldFont(book.fontOf(s.cellXf(0, 3)), true);
        s.setCellXf(0, 3, book.deriveXf(s.cellXf(0, 3), bold));
        book.setActive(book.worksheets()[0]);
        WorkbookStream again(book.serialize());
        Sheet& t = again.sheet(again.worksheets()[0]);
        if (t.value(0, 3) != CellValue::text("Indici") || t.value(1, 3) != CellValue::number(0.1)) {
            std::fprintf(stderr, "biff_fuzzer: the written cells did not read back\n");
            std::abort();
        }
    } catch (const RuntimeError& e) {
        if (e.number() != err::Application) {
            std::fprintf(stderr, "biff_fuzzer: error %d: %s\n", e.number(), e.what());
            std::abort();
        }
    }
    return 0;
}
