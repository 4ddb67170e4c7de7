// A worksheet's rows read straight off the bytes against the same rows read from the parser's events: the
// input is the content of sheetData, and both readings must give the same rows, spans, values and faults.

#include "support/SheetIndex.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string part =
        R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" )"
        R"(xmlns:x14ac="http://schemas.microsoft.com/office/spreadsheetml/2009/9/ac"><dimension ref="A1"/>)"
        "<sheetData>" +
        std::string(reinterpret_cast<const char*>(data), size) +
        "</sheetData><pageMargins left=\"1\"/></worksheet>";
    const std::string plain = ordana::testing::sheetIndex(part, true);
    const std::string parsed = ordana::testing::sheetIndex(part, false);
    if (plain != parsed) {
        std::fprintf(stderr, "xlsx_rows_fuzzer: the readings differ\nplain:\n%s\nparser:\n%s\n",
                     plain.c_str(), parsed.c_str());
        std::abort();
    }
    return 0;
}
