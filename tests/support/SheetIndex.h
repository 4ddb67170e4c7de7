#pragma once

// What indexing a worksheet part gives, written out as one string: every row and cell with its spans and
// value, the spans of the other elements an edit needs, or the message of the fault. Reading the rows
// straight off the bytes must give the same string as reading them all from the parser's events.

#include "spreadsheet/xlsx/SheetRows.h"

#include "common/RuntimeError.h"

#include <algorithm>
#include <string>
#include <string_view>

namespace ordana::testing {

inline std::string sheetIndex(std::string_view part, bool plainRows) {
    using namespace ordana::spreadsheet;
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(part.data()),
                                              part.size());
    std::vector<xlsx::Row> rows;
    std::unique_ptr<xlsx::SheetIndexer> idx;
    try {
        idx = xlsx::indexSheet(bytes, "xl/worksheets/sheet1.xml", rows, plainRows);
    } catch (const RuntimeError& e) {
        return "fault: " + e.description();
    }
    auto span = [](const xlsx::Span& s) {
        return std::to_string(s.begin) + "," + std::to_string(s.startEnd) + "," + std::to_string(s.endBegin) +
               "," + std::to_string(s.end);
    };
    auto element = [](const xml::Element& e) {
        return e.prefix + ":" + e.local + "@" + std::to_string(e.begin) + "," + std::to_string(e.startEnd);
    };
    auto spanned = [&](const char* what, const auto& slot) {
        if (!slot) return std::string();
        return std::string(what) + " " + element(slot->first) + "," + std::to_string(slot->second.begin) +
               "," + std::to_string(slot->second.end) + "\n";
    };
    std::string out = "prefix " + idx->prefix + (idx->ordered ? " ordered\n" : " unordered\n");
    out += spanned("dimension", idx->dimension) + spanned("sheetViews", idx->sheetViews) +
           spanned("sheetFormatPr", idx->sheetFormatPr) + spanned("cols", idx->cols) +
           spanned("sheetData", idx->sheetData);
    for (const auto& v : idx->sheetViewList)
        out += "view " + element(v) + "\n";
    for (const auto& c : idx->colList)
        out += spanned("col", std::optional(c));
    for (const xlsx::Row& r : rows) {
        out += "row " + std::to_string(r.r) + (r.hasRef ? "" : " (no r)") + " " + span(r.span) +
               (r.hasSpans ? " spans " + r.spans : "") + "\n";
        for (const xlsx::Cell& c : r.cells)
            out += "  c " + std::to_string(c.column) + (c.hasRef ? "" : " (no r)") + " " + span(c.span) +
                   " " + c.type + " s" + std::to_string(c.style) + (c.formula ? " formula" : "") +
                   (c.groupMaster ? " shared" : "") + " [" + c.value + "]\n";
    }
    return out;
}

// A part handed over in pieces of the given size, as a sheet's entry is inflated.
inline ordana::spreadsheet::xml::PieceReader inPieces(std::string_view part, std::size_t piece) {
    return [part, piece, at = std::size_t(0)](std::span<std::uint8_t> out) mutable {
        const std::size_t n = std::min({out.size(), piece, part.size() - at});
        std::copy_n(part.data() + at, n, out.data());
        at += n;
        return n;
    };
}

// The same for a shared string table read whole: its root and the span of the root's end tag, its items, or
// the fault.
inline std::string describe(const ordana::spreadsheet::xlsx::StringTable& table) {
    std::string out = table.root.prefix + ":" + table.root.local + "@" + std::to_string(table.root.begin) +
                      "," + std::to_string(table.root.startEnd) + "," + std::to_string(table.rootEnd.begin) +
                      "," + std::to_string(table.rootEnd.end) + "\n";
    for (const auto& a : table.root.attributes)
        out += " " + a.prefix + ":" + a.local + "=" + a.value + "\n";
    for (const std::string& item : table.items)
        out += "[" + item + "]\n";
    return out;
}

// Taken in chunks of the given size, the table read again from the item cut short where a chunk ends.
inline std::string stringTable(std::string_view part, bool plainItems,
                               std::size_t chunk = std::size_t(1) << 16) {
    using namespace ordana::spreadsheet;
    xlsx::StringTableReader reader(inPieces(part, 7), "xl/sharedStrings.xml", plainItems, chunk);
    try {
        return describe(reader.all());
    } catch (const RuntimeError& e) {
        return "fault: " + e.description();
    }
}

} // namespace ordana::testing
