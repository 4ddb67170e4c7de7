// The large parts of a workbook read straight off the bytes against the same parts read from the parser's
// events: the input is the content of a sheet's sheetData and, again, of a shared string table, and both
// readings of each must give the same rows, spans, values, items and faults.

#include "support/SheetIndex.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void compare(const char* what, const std::string& plain, const std::string& parsed) {
    if (plain == parsed) return;
    std::fprintf(stderr, "xlsx_rows_fuzzer: the readings of %s differ\nplain:\n%s\nparser:\n%s\n", what,
                 plain.c_str(), parsed.c_str());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string content(reinterpret_cast<const char*>(data), size);
    const std::string sheet =
        R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" )"
        R"(xmlns:x14ac="http://schemas.microsoft.com/office/spreadsheetml/2009/9/ac"><dimension ref="A1"/>)"
        "<sheetData>" +
        content + "</sheetData><pageMargins left=\"1\"/></worksheet>";
    compare("a sheet", ordana::testing::sheetIndex(sheet, true), ordana::testing::sheetIndex(sheet, false));
    const std::string strings =
        R"(<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" count="1">)" + content +
        "</sst>";
    // Taken in chunks of a size the input picks: items cut short where a chunk ends are read again.
    compare("a string table", ordana::testing::stringTable(strings, true, 1 + size % 97),
            ordana::testing::stringTable(strings, false));
    return 0;
}
