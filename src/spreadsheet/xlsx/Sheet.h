#pragma once

// A worksheet part of an .xlsx workbook: its rows and cells indexed by their spans, read as far as asked;
// the cells, column formats and selection changed kept pending until the part is written, edited in place.

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
    Sheet(std::string name, std::string part, int sheetId)
        : name_(std::move(name)), part_(std::move(part)), sheetId_(sheetId) {}
    const std::string& name() const { return name_; }
    const std::string& part() const { return part_; }
    int sheetId() const { return sheetId_; }

    // The first rows only, inflated and scanned as far as they go.
    void loadHead(Package& pkg, int lastRow);

    // The whole part, held for edits.
    void load(Package& pkg);
    bool loaded() const { return loaded_; }

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
    void setStyle(int row, int column, int style) { pending_[{row, column}].style = style; }

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
    bool changed() const;

    // The part with the pending cells, columns and selection written into it.
    EditedPart write(SharedStrings& strings) const;

  private:
    using RowCells = std::vector<std::pair<int, const Pending*>>; // by column
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
    BytesPtr bytes_;
    bool loaded_ = false;
    int headRows_ = 0;
    std::string prefix_;
    std::vector<Row> rows_;
    mutable std::size_t lastFound_ = 0; // in rows_
    std::optional<std::pair<xml::Element, xml::EndTag>> dimension_, sheetViews_, sheetFormatPr_, cols_,
        sheetData_;
    std::vector<xml::Element> sheetViewList_;
    std::vector<ColRange> colRanges_;
    std::vector<Span> colSpans_;
    std::map<std::pair<int, int>, Pending> pending_;
    std::set<std::string> formulasDropped_;
    bool selected_ = false, selectionChanged_ = false;
    std::optional<bool> selectedInFile_;
};

} // namespace ordana::spreadsheet::xlsx
