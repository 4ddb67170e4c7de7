#pragma once

// A worksheet part of an .xlsx workbook: its rows and cells indexed by their spans, read as far as asked;
// the cells, column formats and selection changed kept pending until the part is written, edited in place.
// The index is held only while the sheet is in use: released, a sheet keeps what precedes its cells (the
// views, the columns) and its edits, those of its cells already turned into the part's, so that a job over
// many sheets holds one index at a time and writes none of them again.

#include "Package.h"
#include "SharedStrings.h"
#include "SheetRows.h"
#include "spreadsheet/Spreadsheet.h"

#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ordana::spreadsheet::xlsx {

// A range of columns with the same attributes (a col element), as the part has it or as it becomes.
struct ColRange {
    int min = 0, max = 0;
    std::vector<std::pair<std::string, std::string>> attrs;
    int origin = -1; // index of the original <col>, -1 for a new one
    bool dirty = false;
    const std::string* get(std::string_view n) const {
        for (const auto& [k, v] : attrs)
            if (k == n) return &v;
        return nullptr;
    }
    void set(const std::string& n, const std::string& v) {
        for (auto& [k, val] : attrs)
            if (k == n) {
                val = v;
                return;
            }
        attrs.emplace_back(n, v);
    }
};

// What is to be written into a cell: its value, its cell format, or both.
struct Pending {
    std::optional<CellValue> value;
    std::optional<int> style;
};

class Sheet {
  public:
    Sheet(std::string name, std::string part, int sheetId, std::shared_ptr<MemoryBudget> budget)
        : name_(std::move(name)), part_(std::move(part)), sheetId_(sheetId), budget_(std::move(budget)),
          bytesHeld_(budget_, part_), rowsHeld_(budget_, part_), headHeld_(budget_, part_),
          frozenHeld_(budget_, part_), pendingHeld_(budget_, part_) {
        pendingHeld_.add(sizeof(Sheet));
    }
    const std::string& name() const { return name_; }
    const std::string& part() const { return part_; }
    int sheetId() const { return sheetId_; }

    // The first rows only, inflated and scanned as far as they go.
    void loadHead(Package& pkg, int lastRow);

    // The whole part, held for edits.
    void load(Package& pkg);
    bool loaded() const { return indexed_; }
    // Gives the index and the part's bytes back to the budget; the edits of the cells and columns are
    // turned into the part's edits first (strings: where their texts are). Loading again reads it anew.
    void release(SharedStrings& strings);

    // A cell's value as written, or as the part holds it (strings: none when the workbook has no table).
    CellValue value(Package& pkg, SharedStrings* strings, int row, int column);

    const Cell* find(int row, int column) const;
    // Rows are read one after the other: the row last found, and the one after it, are tried before a
    // search.
    const Row* rowAt(int row) const;
    static const Cell* cellIn(const Row& r, int column);

    // The cell format of a cell: its own, or else its column's.
    int styleOf(int row, int column) const;

    // A formula overwritten: it leaves the calculation chain; a formula other cells share cannot be.
    void write(int row, int column, const CellValue& v, SharedStrings& strings);
    void setStyle(int row, int column, int style) {
        thaw();
        pendingAt(row, column).style = style;
    }

    // Makes [column, column] one range of its own, keeping the attributes of the range it came from.
    ColRange& isolate(int column, const std::string& defaultWidth);

    // Every cell already in the column, written or read from the file.
    std::vector<int> rowsWithCellsIn(int column) const;

    // The width of a column without one, in characters of a digit mdw pixels wide.
    double defaultWidth(int mdw) const;

    void select(bool on);
    // Whether the sheet is selected, as changed or as the part says.
    bool isSelected(Package& pkg);
    const std::set<std::string>& formulasDropped() const { return formulasDropped_; }
    bool changed() const { return selectionChanged_ || cellsChanged(); }

    // The edits of the part: the selection, the columns and the cells written into it.
    xml::Edits edits(Package& pkg, SharedStrings& strings);

  private:
    using RowCells = std::vector<std::pair<int, const Pending*>>; // by column
    bool cellsChanged() const;
    // The cells' edits made at a release no longer hold: the cells or columns change.
    void thaw();
    // The edits of the columns and the cells, from the index.
    xml::Edits cellEdits(SharedStrings& strings) const;
    // What precedes the cells, read as far as the cells begin, when the sheet was never indexed.
    void readHead(Package& pkg);
    void takeHead(SheetIndexer& idx);
    // The bytes the head's elements lie in: the whole part while indexed, else those kept.
    std::span<const std::uint8_t> headBytes() const;
    void writeSelection(PartEditor& ed) const;
    void writeColumns(PartEditor& ed) const;
    void writeRows(PartEditor& ed, SharedStrings& strings) const;
    void writeCells(PartEditor& ed, const Row& row, const RowCells& cells, SharedStrings& strings) const;
    void widenSpans(PartEditor& ed, const Row& row, const RowCells& cells) const;
    std::string rowXml(int r, const RowCells& cells, SharedStrings& strings) const;
    void growDimension(PartEditor& ed, int minRow, int minCol, int maxRow, int maxCol) const;
    std::string cellXml(int row, int column, const Cell* old, const Pending& p, SharedStrings& strings) const;
    struct FormulaTag {
        std::size_t begin = 0, end = 0;
        std::string type, si, ref, text; // text unescaped
    };
    std::optional<FormulaTag> formulaOf(const Cell& c) const;
    bool overwritten(int row, int column) const;
    void rehost(int row, int column, PartEditor& ed) const;
    int freeSharedIndex() const;
    mutable int nextSharedIndex_ = -1;
    std::string colXml(const ColRange& c) const;

    std::string name_, part_;
    int sheetId_;
    std::shared_ptr<MemoryBudget> budget_;
    // The index, while the sheet is in use.
    BytesPtr bytes_;
    std::vector<Row> rows_;
    Held bytesHeld_, rowsHeld_;
    bool indexed_ = false;
    int headRows_ = 0;
    mutable std::size_t lastFound_ = 0; // in rows_
    // What precedes the cells, and the sheetData element: kept, with the bytes it lies in, when the index
    // goes.
    bool headKnown_ = false, colsKnown_ = false;
    Bytes head_;
    Held headHeld_;
    std::string prefix_;
    std::optional<std::pair<xml::Element, xml::EndTag>> dimension_, sheetViews_, sheetFormatPr_, cols_,
        sheetData_;
    std::vector<xml::Element> sheetViewList_;
    std::vector<ColRange> colRanges_;
    std::vector<Span> colSpans_;
    // The edits.
    std::map<std::pair<int, int>, Pending> pending_;
    std::set<std::string> formulasDropped_;
    bool selected_ = false, selectionChanged_ = false;
    std::optional<bool> selectedInFile_;
    // The cells' and columns' edits made when the index went, packed; any later change of them undoes these.
    std::optional<std::vector<std::uint8_t>> frozen_;
    std::size_t frozenSize_ = 0;
    Held frozenHeld_;
    // The edits of cells as they are asked for, and what they take; packed while the sheet is released.
    Pending& pendingAt(int row, int column);
    void packPending();
    void unpackPending();
    std::vector<std::uint8_t> packedPending_;
    std::size_t packedPendingSize_ = 0;
    Held pendingHeld_;
};

} // namespace ordana::spreadsheet::xlsx
