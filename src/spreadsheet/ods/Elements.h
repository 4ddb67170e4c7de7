#pragma once

// The elements of content.xml a sheet is made of, as the .ods engine holds them: columns, rows and cells,
// each with the byte span it occupies in the part. A run of repeated rows or cells is one element here,
// however large its count. Rows and columns count from 0.

#include "common/CellValue.h"
#include "spreadsheet/MemoryBudget.h"
#include "spreadsheet/Spreadsheet.h"
#include "spreadsheet/xml/XmlPart.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ordana::spreadsheet::ods {

// The largest sheet LibreOffice keeps; positions past it are not placed.
inline constexpr std::uint32_t kMaxRows = 1u << 20;
inline constexpr std::uint32_t kMaxColumns = 1u << 14;

struct Span {
    std::size_t begin = 0, end = 0;
};

// One table:table-cell or table:covered-table-cell element (or a new one).
// A sheet holds one per run of cells, so it is kept small: the style it had is not kept, only whether it
// changed.
struct CellEl {
    std::uint32_t first = 0, repeat = 1;
    std::uint32_t origRepeat = 1;
    bool original = false; // has a span in the part
    bool covered = false;
    bool valueWritten = false;
    bool restyled = false; // style differs from the element's own
    bool notANumber =
        false;              // a number cell whose office:value is none: value holds its text, read is refused
    Span span;              // the whole element
    std::size_t tagEnd = 0; // end of its start tag
    std::size_t innerEnd = 0; // start of its end tag (== span.end for an empty element)
    std::string style;
    CellValue value;
    std::vector<Span> keep; // children other than paragraphs (annotations, frames): kept on an overwrite
};

// One table:table-row element, or a piece of one split around a written row.
struct RowEl {
    std::uint32_t first = 0, repeat = 1, origRepeat = 1;
    bool original = false;
    std::size_t origin = 0; // the original element this piece came from
    Span span;
    std::size_t tagEnd = 0, innerEnd = 0;
    std::string defaultCellStyle;
    bool dirty = false; // its cells changed
    std::vector<CellEl> cells;
};

struct ColEl {
    std::uint32_t first = 0, repeat = 1, origRepeat = 1;
    bool original = false;
    std::size_t origin = 0;
    Span span;
    std::size_t tagEnd = 0;
    std::string style, defaultCellStyle, origStyle, origDefaultCellStyle;
};

// Rows a sheet gets indexed when the part is first read: enough for the data-sheet test of a listing.
inline constexpr std::uint32_t kFirstRows = kPreviewRows;

struct Table {
    std::string name;
    std::string style;
    Span span;
    bool whole = false; // every row indexed
    // The span's first bytes, kept as the sheet is indexed and read on as far as a save needs them (the
    // table it writes is near the top): a large sheet's bytes are not all held.
    mutable std::string bytes;
    // The namespace declarations in force at its start, as attributes; shared by the sheets under the same.
    std::shared_ptr<const std::string> nsInScope;
    std::vector<ColEl> cols;
    std::vector<RowEl> rows;
    std::size_t columnsEnd = 0; // where new columns go: after the last column element
    std::size_t rowsEnd = 0;    // where new rows go: after the last row element
    std::uint32_t columnCount = 0, rowCount = 0;
    bool rowsInOrder = true;
    std::size_t rowsReadPlainly = 0; // of those, straight off the bytes
    std::size_t lastRead = 0;        // the row element a cell was last read from: reading goes row by row
    mutable Held held;               // what the whole sheet's index and bytes take from the budget
};

} // namespace ordana::spreadsheet::ods
