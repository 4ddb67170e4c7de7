#pragma once

// One worksheet substream: its records located in the original bytes, an index of its cells by (row, column)
// for fast reads, and the edits made since it was opened. Writing walks the original records once, copying
// every record the edits do not touch and rewriting only the touched cells, their rows, DIMENSIONS, COLINFO,
// WINDOW2, DBCELL and INDEX. Rows and columns here count from 0.

#include "Biff.h"
#include "WorkbookStream.h"
#include "common/CellValue.h"

#include <map>
#include <optional>
#include <vector>

namespace ordana::spreadsheet::xls {

class SheetWriter;

class Sheet {
  public:
    Sheet(WorkbookStream& book, const SheetInfo& info);
    // Only the cells of the first rows (and the records that are not cells), for reading a few cells
    // without indexing the whole sheet; such a sheet is for reading only.
    Sheet(WorkbookStream& book, const SheetInfo& info, int rowsKept);

    CellValue value(int row, int col) const;
    void setValue(int row, int col, const CellValue& value);

    // The format a cell shows: its own, or for an empty cell the row's or the column's.
    std::uint16_t cellXf(int row, int col) const;
    void setCellXf(int row, int col, std::uint16_t xf);

    void setColumnWidth(int col, double characters);
    // The change reaches the column's default format and every cell already in the column.
    void formatColumn(int col, const XfChange& change);

    struct Column {
        std::uint16_t width, xf, flags;
    };
    // The COLINFO that covers a column, if any.
    std::optional<Column> column(int col) const;

    bool modified() const { return modified_; }
    std::size_t recordCount() const { return recs_.size(); }

    // The substream at w's current end, with WINDOW2 marked selected/shown or not when given.
    void write(Writer& w, std::optional<bool> selected) const;

  private:
    friend class SheetWriter;
    struct CellEntry {
        std::uint16_t row;
        std::uint16_t col;
        std::uint32_t rec;
        std::uint32_t str; // the STRING record of a formula's text result, or npos
        std::uint16_t sub; // element of a MULRK or MULBLANK
    };
    struct Edit {
        bool hasValue = false;
        CellValue value;
        std::uint32_t sst = 0;
        std::int32_t xf = -1;
    };
    struct ColInfo {
        std::uint16_t first, last, width, xf, flags, tail;
        std::int64_t rec; // original record, -1 when new
        bool modified;
    };
    // A formula kept once for a range of cells (SHRFMLA, ARRAY, TABLE), right after the FORMULA of its host.
    struct FormulaRange {
        std::uint16_t type;
        std::uint32_t rec;
        std::uint16_t hostRow, hostCol;
        std::uint16_t firstRow, lastRow, firstCol, lastCol;
    };
    // A FORMULA whose expression is only a pointer to its range's host (PtgExp, PtgTbl).
    struct RangeMember {
        std::uint32_t rec;
        std::uint16_t row, col, hostRow, hostCol;
    };
    // How writing keeps the formulas of ranges whose host the edits overwrite: members that point to a new
    // host, and the SHRFMLA that follows each new host.
    struct FormulaMoves {
        std::map<std::uint32_t, std::pair<std::uint16_t, std::uint16_t>> retarget;
        std::map<std::uint32_t, std::vector<std::uint8_t>> newRange;
    };
    static constexpr std::uint32_t npos = 0xFFFFFFFF;
    static std::uint32_t key(int row, int col) { return (std::uint32_t(row) << 8) | std::uint32_t(col); }

    std::span<const std::uint8_t> data(std::size_t rec) const {
        return {stream_.data() + recs_[rec].dataOffset(), recs_[rec].length};
    }
    // Reading (the constructor), record by record, then the indexes put in order.
    void readRecord(std::size_t i, std::uint32_t& lastFormula, std::size_t sstCount);
    void noteRecord(std::size_t i, std::uint32_t lastFormula);
    void addCell(std::size_t i, std::uint32_t& lastFormula, std::size_t sstCount);
    void orderRows();
    void orderCells();

    const CellEntry* find(int row, int col) const;
    bool hasCells(int row) const {
        return row >= 0 && std::size_t(row) + 1 < rowStart_.size() &&
               rowStart_[std::size_t(row)] != rowStart_[std::size_t(row) + 1];
    }
    std::uint16_t entryXf(const CellEntry& e) const;
    CellValue entryValue(const CellEntry& e) const;
    std::uint16_t defaultXf(int row, int col) const;
    std::size_t splitColumn(int col);
    void mergeColumns(std::size_t at);
    std::uint16_t defaultColumnWidth() const;
    void cellRecord(Writer& w, int row, int col, const Edit& e, std::uint16_t xf) const;
    bool overwritten(int row, int col) const;
    // 1004 naming the cells when the edits cover part of an array formula or a data table.
    FormulaMoves planFormulaMoves() const;

    WorkbookStream& book_;
    std::span<const std::uint8_t> stream_;
    std::vector<RecordPos> recs_;
    std::vector<CellEntry> entries_;
    std::vector<std::uint32_t> rowStart_; // entries_ of row r: [rowStart_[r], rowStart_[r + 1])
    std::vector<std::pair<int, std::uint32_t>> rowRecs_; // (row, its ROW record), by row
    std::vector<ColInfo> cols_;
    std::vector<FormulaRange> ranges_;
    std::vector<RangeMember> members_;
    std::string name_;
    std::map<std::uint32_t, Edit> edits_;
    std::size_t indexRec_ = npos, dimRec_ = npos, defColRec_ = npos, stdWidthRec_ = npos, defRowRec_ = npos;
    std::size_t firstColInfo_ = npos, ctFirst_ = npos, ctLast_ = npos;
    bool modified_ = false;
};

} // namespace ordana::spreadsheet::xls
