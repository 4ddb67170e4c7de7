#pragma once

// What reading the sheets of content.xml whole gives, written out as one string: every column, row and cell
// with its places, spans, styles and value, or the message of the fault. Rows read straight off the bytes
// must give the same string as rows read from the parser's events.

#include "spreadsheet/ods/Content.h"

#include "common/RuntimeError.h"

#include <string>
#include <string_view>

namespace ordana::testing {

inline std::string odsTables(std::string_view xml, bool plainRows, std::size_t piece,
                             std::size_t* readPlainly = nullptr) {
    using namespace ordana::spreadsheet::ods;
    auto span = [](const Span& s) { return std::to_string(s.begin) + "-" + std::to_string(s.end); };
    try {
        Content content(Content::fromBytes(xml, piece));
        content.readRowsPlainly(plainRows);
        std::string out;
        for (Table& t : content.tables()) {
            (void)content.value(t, kFirstRows + 1, 0); // the whole sheet
            out += "table " + t.name + " " + span(t.span) + " rows to " + std::to_string(t.rowsEnd) +
                   " columns to " + std::to_string(t.columnsEnd) + " " + std::to_string(t.rowCount) + "x" +
                   std::to_string(t.columnCount) + (t.rowsInOrder ? "" : " unordered") + "\n";
            for (const ColEl& c : t.cols)
                out += " col " + std::to_string(c.first) + "+" + std::to_string(c.repeat) + " " +
                       span(c.span) + " " + c.style + "/" + c.defaultCellStyle + "\n";
            for (const RowEl& r : t.rows) {
                out += " row " + std::to_string(r.first) + "+" + std::to_string(r.repeat) + " " +
                       span(r.span) + " tag to " + std::to_string(r.tagEnd) + " inner to " +
                       std::to_string(r.innerEnd) + " " + r.defaultCellStyle + "\n";
                for (const CellEl& c : r.cells) {
                    out += "  cell " + std::to_string(c.first) + "+" + std::to_string(c.repeat) +
                           (c.covered ? " covered " : " ") + span(c.span) + " tag to " +
                           std::to_string(c.tagEnd) + " inner to " + std::to_string(c.innerEnd) + " " +
                           c.style + " [" + c.value.toText() + "] kind " +
                           std::to_string(int(c.value.kind()));
                    for (const Span& k : c.keep)
                        out += " keep " + span(k);
                    out += "\n";
                }
            }
            if (readPlainly) *readPlainly += t.rowsReadPlainly;
        }
        return out;
    } catch (const RuntimeError& e) {
        return "fault: " + e.description();
    }
}

} // namespace ordana::testing
