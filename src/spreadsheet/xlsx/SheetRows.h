#pragma once

// A worksheet's rows and cells as the .xlsx engine keeps them: each with the byte spans of its tags, for
// edits in place, and the cell's value as written. Read two ways that must agree: from the events of the
// general parser, and straight off the bytes where the rows are in the plain form every producer writes.

#include "spreadsheet/MemoryBudget.h"
#include "spreadsheet/Spreadsheet.h"
#include "spreadsheet/xml/XmlPart.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ordana::spreadsheet::xlsx {

inline constexpr int kMaxColumns = 16384;

// Offsets into the part, which is never larger than a workbook may be (kMaxWorkbookBytes): 32 bits keep the
// index of a sheet of millions of cells small.
struct Span {
    std::uint32_t begin = 0, startEnd = 0, endBegin = 0, end = 0;
    bool empty() const { return endBegin == startEnd && end == startEnd; }
    bool operator==(const Span&) const = default;
};
inline Span spanOf(std::size_t begin, std::size_t startEnd, std::size_t endBegin, std::size_t end) {
    return {std::uint32_t(begin), std::uint32_t(startEnd), std::uint32_t(endBegin), std::uint32_t(end)};
}

struct Cell {
    std::int16_t column = 0;
    char type = 'n'; // n s b e d i (inline) f (formula string)
    bool hasRef = true;
    bool formula = false, groupMaster = false, sharedMaster = false; // the last: of a shared formula
    int style = -1;
    Span span;
    std::string value;
    bool operator==(const Cell&) const = default;
};

struct Row {
    int r = 0;
    bool hasRef = true;
    Span span;
    std::string spans;
    bool hasSpans = false;
    std::vector<Cell> cells;
    bool operator==(const Row&) const = default;
};

// The cells a sheet's index holds at most.
inline constexpr std::size_t kMaxIndexedCells = kMaxIndexBytes / sizeof(Cell);
// Counts a cell into a sheet's index, refusing the sheet beyond kMaxIndexedCells, and takes its memory from
// the workbook's budget (held: none when nothing is counted).
void countCell(std::size_t& cells, Held* held);
// The memory a row adds to the index besides its cells: itself in rows (whose room doubles as it grows), its
// spans and its cells' texts.
void countRow(Held* held, const std::vector<Row>& rows, const Row& row);

using Value = std::optional<std::string_view>;

// A whole decimal integer, or fallback for none or anything else.
int toInt(Value s, int fallback);
// The same of an attribute's value (nullptr when the attribute is absent).
int toInt(const std::string* s, int fallback);

// A row's start tag read: its number (r, or the one after the row before), checked; ordered cleared when it
// does not come after the row before. The spans are the caller's to set.
Row rowOf(Value ref, Value spans, const std::vector<Row>& rows, bool& ordered);
// A cell's start tag read, after the cell before in its row (or none).
Cell cellOf(Value ref, Value type, Value style, const Cell* before, bool& ordered);
// A formula whose start tag has these attributes is one that other cells share.
bool isGroupMaster(Value type, Value ref);

// The rows, cells and the other parts of a sheet that edits need, from the general parser's events; with a
// last row, only as far as it (the scanner then stopped there), or with one below 1 as far as the start of
// sheetData. What it keeps is taken into held.
class SheetIndexer : public xml::Handler {
  public:
    SheetIndexer(std::vector<Row>& rows, int lastRow, xml::Scanner* scanner, Held* held = nullptr)
        : rows_(rows), lastRow_(lastRow), scanner_(scanner), held_(held) {}

    std::string prefix;
    std::optional<std::pair<xml::Element, xml::EndTag>> dimension, sheetViews, sheetFormatPr, cols, sheetData;
    std::optional<xml::Element> sheetDataStart; // with a last row below 1, the scanner stopped there
    std::vector<xml::Element> sheetViewList;
    std::vector<std::pair<xml::Element, xml::EndTag>> colList;
    bool ordered = true;
    bool plainRows = false; // the rows were read straight off the bytes

    void start(const xml::Element& e) override;
    void end(const xml::Element& e, const xml::EndTag& t) override;
    void text(const xml::Element&, std::string_view s) override;

  private:
    std::vector<Row>& rows_;
    std::vector<Cell> cells_; // of the row being read
    std::size_t indexed_ = 0;
    int lastRow_;
    xml::Scanner* scanner_;
    Held* held_;
    bool inSheetData_ = false, inCell_ = false, inT_ = false, stopped_ = false;
    int phonetic_ = 0;
    char what_ = 0;
    xml::Element colStart_;
};

// A whole worksheet part indexed, its rows into rows: those in plain XML straight off the bytes (unless
// plainRows is false) and the rest of the part by the parser, or all by the parser. A part not well-formed,
// or whose rows are amiss, is refused as the parser refuses it. The index's memory is taken into held.
std::unique_ptr<SheetIndexer> indexSheet(std::span<const std::uint8_t> bytes, const std::string& partName,
                                         std::vector<Row>& rows, bool plainRows = true, Held* held = nullptr);

// A shared string table: its items' texts (their t elements, phonetic runs left out), and its root element
// with the span of its end tag, before which new items go.
struct StringTable {
    std::vector<std::string> items;
    xml::Element root;
    xml::EndTag rootEnd;
    bool plain = false; // read straight off the bytes
};
// The items a string table holds at most, each with its place in the lookup a save builds.
inline constexpr std::size_t kMaxStringItems = kMaxIndexBytes / 128;
// Refuses a table that would hold more items than that.
void checkItemCount(const StringTable& table);

// A shared string table read only as far as its items are asked for, its bytes taken piece by piece as they
// are inflated: a listing that needs the first items of a table of a hundred thousand reads those. Items of
// plain text come straight off the bytes (unless plainItems is false); a table with any other kind is read
// whole by the parser, which also names its faults. Not copied: it reads into itself.
class StringTableReader {
  public:
    // Bytes are taken first, and then at least, chunk at a time; twice as many each time after. The bytes
    // and the items are taken from the budget, when there is one.
    StringTableReader(xml::PieceReader read, std::string partName, bool plainItems = true,
                      std::size_t chunk = std::size_t(1) << 16,
                      std::shared_ptr<MemoryBudget> budget = nullptr);
    StringTableReader(const StringTableReader&) = delete;
    StringTableReader& operator=(const StringTableReader&) = delete;

    // The item, read on to it; nullptr past the last one. The fault of a broken table is thrown: a cell that
    // points into it is refused for what is wrong with the table, not for an item it seems to lack.
    const std::string* item(std::size_t i);
    // The whole table; the fault of a broken one is thrown, each time it is asked for.
    const StringTable& all();
    // The same, moved out: the reader keeps only its bytes.
    StringTable takeAll() {
        all();
        return std::move(table_);
    }
    // The part's bytes so far: all of them once all() has returned.
    const std::shared_ptr<std::vector<std::uint8_t>>& bytes() const { return bytes_; }

  private:
    static constexpr std::size_t kAll = ~std::size_t(0);
    bool inflateMore();
    bool readPlainly(std::size_t wanted);
    bool step(std::size_t wanted);
    void readByParser();

    xml::PieceReader read_;
    std::string part_;
    bool plain_;
    std::size_t chunk_;
    Held bytesHeld_, itemsHeld_;
    std::shared_ptr<std::vector<std::uint8_t>> bytes_ = std::make_shared<std::vector<std::uint8_t>>();
    bool complete_ = false, done_ = false;
    StringTable table_;
    std::exception_ptr failure_;
    // Where plain reading goes on: after the last item taken.
    std::size_t next_ = 0;
    std::string rootName_, si_, t_;
    std::map<std::string, bool, std::less<>> prefixes_;
    const std::function<bool(std::string_view)> bound_ = [this](std::string_view prefix) {
        const auto b = prefixes_.find(prefix);
        return b != prefixes_.end() && b->second;
    };
};

// The rows of a sheetData element whose content begins at `from`, read off the bytes: the offset of its end
// tag, or nothing where anything stands that is not a row of cells with values and formulas in plain XML
// (an inline string, a namespace declared, a comment, a character reference), the rows then to be read from
// the general parser's events. prefix is sheetData's as written; bound tells which other prefixes an
// attribute may carry. Faults of the rows themselves are thrown as the general reading throws them.
std::optional<std::size_t> readRowsPlainly(std::string_view part, std::size_t from, std::string_view prefix,
                                           const std::function<bool(std::string_view)>& bound,
                                           std::vector<Row>& rows, bool& ordered, Held* held = nullptr);

} // namespace ordana::spreadsheet::xlsx
