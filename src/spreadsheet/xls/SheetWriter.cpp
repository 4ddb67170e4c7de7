// Writing a sheet's substream back: the original records, copied or rewritten where the edits reach.

#include "Sheet.h"

#include <algorithm>
#include <climits>

namespace ordana::spreadsheet::xls {

// Writes one sheet's substream: every original record in order, copied unless an edit touches it, with the
// new cells and rows slotted into the cell table's row blocks, and the records that index the cell table
// (ROW extents, DBCELL, DIMENSIONS, INDEX) brought up to date.
class SheetWriter {
  public:
    SheetWriter(const Sheet& sheet, Writer& w, std::optional<bool> selected)
        : s_(sheet), w_(w), selected_(selected), moves_(sheet.planFormulaMoves()) {}

    void run() {
        collectNewCells();
        planBlocks();
        placeNewRows();
        colAnchor_ = columnAnchor();
        planCopies();
        int depth = 0;
        for (std::size_t i = 0; i < s_.recs_.size(); ++i) {
            const RecordPos& r = s_.recs_[i];
            if (i == colAnchor_) emitColInfos();
            if (i == anchor_) finishBlock(Sheet::npos);
            if (const std::size_t to = copiedThrough(i); to > i) {
                w_.raw(s_.stream_.data() + r.offset, s_.recs_[to - 1].end() - r.offset);
                i = to - 1;
                continue;
            }
            const bool nestedBefore = depth > 1;
            depth += r.type == rt::Bof ? 1 : r.type == rt::Eof ? -1 : 0;
            if (nestedBefore || depth > 1 || (r.type == rt::Eof && depth > 0)) {
                w_.record(r.type, s_.data(i));
                continue;
            }
            emitRecord(i);
        }
        patchIndex();
    }

  private:
    using Edit = Sheet::Edit;
    static constexpr std::size_t npos = Sheet::npos;

    struct Block {
        std::size_t first, last;
        std::vector<int> rows;        // rows with a ROW record
        std::vector<int> newRows;     // ROW records to add
        std::vector<int> pendingRows; // rows with only new cells, flushed in row order
        bool copied = false;          // all but its DBCELL goes out as it came
    };

    const Edit* edited(int row, int col) const {
        auto it = s_.edits_.find(Sheet::key(row, col));
        return it == s_.edits_.end() ? nullptr : &it->second;
    }
    bool inCellTable(std::size_t i) const {
        return s_.ctFirst_ != npos && i >= s_.ctFirst_ && i <= s_.ctLast_;
    }

    // Cells that have no record yet, by row, and how far they reach.
    void collectNewCells() {
        for (const auto& [k, e] : s_.edits_) {
            const int row = int(k >> 8), col = int(k & 0xFF);
            if (s_.find(row, col)) continue;
            if (e.xf >= 0 || (e.hasValue && !e.value.isEmpty())) newCells_[row].push_back(col);
        }
        for (const auto& [row, cols] : newCells_) {
            newMinRow_ = std::min(newMinRow_, row);
            newMaxRow_ = std::max(newMaxRow_, row);
            newMinCol_ = std::min(newMinCol_, cols.front());
            newMaxCol_ = std::max(newMaxCol_, cols.back());
        }
    }

    // The cell table's row blocks, each closed by its DBCELL; a sheet without cells gets one empty block
    // where its first cells go.
    void planBlocks() {
        if (s_.ctFirst_ != npos) {
            std::size_t start = s_.ctFirst_;
            int depth = 0;
            for (std::size_t i = s_.ctFirst_; i <= s_.ctLast_; ++i) {
                const auto t = s_.recs_[i].type;
                depth += t == rt::Bof ? 1 : t == rt::Eof ? -1 : 0;
                if (depth != 0 || t != rt::DbCell) continue;
                dbcellLayout_ = true;
                blocks_.push_back({start, i, {}, {}, {}});
                start = i + 1;
            }
            if (start <= s_.ctLast_) blocks_.push_back({start, s_.ctLast_, {}, {}, {}});
        }
        if (blocks_.empty()) {
            anchor_ = s_.dimRec_ != npos ? s_.dimRec_ + 1 : s_.recs_.size() - 1;
            blocks_.push_back({anchor_, anchor_, {}, {}, {}});
        }
        // The blocks follow each other in record order; a ROW record belongs to the last one starting at or
        // before it, if it reaches that far.
        rowBlock_.reserve(s_.rowRecs_.size());
        for (const auto& [row, rec] : s_.rowRecs_) {
            const auto after = std::upper_bound(blocks_.begin(), blocks_.end(), std::size_t(rec),
                                                [](std::size_t r, const Block& b) { return r < b.first; });
            if (after == blocks_.begin() || rec > std::prev(after)->last) continue;
            const auto b = std::size_t(std::prev(after) - blocks_.begin());
            blocks_[b].rows.push_back(row);
            rowBlock_.emplace_back(row, b);
        }
    }
    const std::size_t* blockOfRow(int row) const {
        const auto it = std::lower_bound(rowBlock_.begin(), rowBlock_.end(), row,
                                         [](const auto& p, int r) { return p.first < r; });
        return it != rowBlock_.end() && it->first == row ? &it->second : nullptr;
    }

    // A row of new cells joins its row's own records, else the block of its row, else the block of its 32-row
    // bucket if one has room, else the block of the nearest row above.
    void placeNewRows() {
        for (const auto& [row, cols] : newCells_) {
            if (s_.hasCells(row)) continue;
            std::size_t b = 0;
            if (const std::size_t* own = blockOfRow(row)) {
                b = *own;
            } else {
                b = blockForNewRow(row);
                blocks_[b].newRows.push_back(row);
            }
            blocks_[b].pendingRows.push_back(row);
        }
        for (auto& b : blocks_) {
            std::sort(b.newRows.begin(), b.newRows.end());
            std::sort(b.pendingRows.begin(), b.pendingRows.end());
        }
    }
    std::size_t blockForNewRow(int row) const {
        for (std::size_t k = 0; k < blocks_.size(); ++k)
            for (int r : blocks_[k].rows)
                if (r / 32 == row / 32 && blocks_[k].rows.size() + blocks_[k].newRows.size() < 32) return k;
        std::size_t b = 0;
        for (const auto& [r, k] : rowBlock_)
            if (r < row) b = k;
        return b;
    }

    // Below the last row the edits reach, the cell table goes out as it came, in one piece rather than record
    // by record: what lies past its first ROW and first cell record down there (which still close what came
    // before them), and in the row-block layout every block down there that gets nothing new, but for its
    // DBCELL, which keeps the INDEX's count.
    void planCopies() {
        if (s_.ctFirst_ == npos) return;
        const auto rowOf = [&](std::size_t rec) { return int(get16(s_.data(rec).data())); };
        int reach = newMaxRow_;
        for (const auto& [k, e] : s_.edits_)
            reach = std::max(reach, int(k >> 8));
        for (const auto& [rec, host] : moves_.retarget)
            reach = std::max(reach, rowOf(rec));
        for (const auto& [rec, range] : moves_.newRange)
            reach = std::max(reach, rowOf(rec));
        std::size_t from = s_.ctLast_ + 1;
        for (; from > s_.ctFirst_; --from) {
            const RecordPos& r = s_.recs_[from - 1];
            const bool rowOrCell = r.type == rt::Row || isCellRecord(r.type);
            if (rowOrCell ? rowOf(from - 1) <= reach
                          : !isFormulaTail(r.type) && !(dbcellLayout_ && r.type == rt::DbCell))
                break;
        }
        for (std::size_t anchor : {colAnchor_, anchor_})
            if (anchor != npos && anchor >= from && anchor <= s_.ctLast_) from = anchor + 1;
        if (dbcellLayout_) {
            for (Block& b : blocks_)
                b.copied = b.first >= from && b.last > b.first && s_.recs_[b.last].type == rt::DbCell &&
                           b.newRows.empty() && b.pendingRows.empty();
            return;
        }
        std::size_t firstRow = npos, firstCell = npos;
        for (std::size_t i = from; i <= s_.ctLast_ && (firstRow == npos || firstCell == npos); ++i) {
            if (s_.recs_[i].type == rt::Row && firstRow == npos) firstRow = i;
            if (isCellRecord(s_.recs_[i].type) && firstCell == npos) firstCell = i;
        }
        copyFrom_ =
            std::max(firstRow == npos ? from : firstRow + 1, firstCell == npos ? from : firstCell + 1);
    }
    // Past the records copied from i on, or i.
    std::size_t copiedThrough(std::size_t i) const {
        if (dbcellLayout_) {
            const bool starts = blockIdx_ < blocks_.size() && blocks_[blockIdx_].first == i;
            return starts && blocks_[blockIdx_].copied ? blocks_[blockIdx_].last : i;
        }
        return i == copyFrom_ && copyFrom_ < s_.ctLast_ ? s_.ctLast_ : i;
    }

    // Where the COLINFO records are written whole: at the first one, or where Excel puts them when a sheet
    // without any gets a column format.
    std::size_t columnAnchor() const {
        if (s_.firstColInfo_ != npos) return s_.firstColInfo_;
        if (std::none_of(s_.cols_.begin(), s_.cols_.end(), [](const auto& c) { return c.modified; }))
            return npos;
        return s_.defColRec_ != npos ? s_.defColRec_ + 1
               : s_.dimRec_ != npos  ? s_.dimRec_
                                     : s_.recs_.size() - 1;
    }

    void emitRecord(std::size_t i) {
        const RecordPos& r = s_.recs_[i];
        const auto d = s_.data(i);
        if (!isFormulaTail(r.type)) skipTail_ = false;
        if (r.type != rt::Continue) droppedTail_ = false;
        if (rewriteSheetRecord(i)) return;
        if (!inCellTable(i)) {
            w_.record(r.type, d);
            return;
        }
        if (r.type == rt::Row) {
            const int row = get16(d.data());
            emitNewRowsBefore(row);
            emitRow(row, i);
        } else if (r.type == rt::DbCell) {
            finishBlock(i);
        } else if (isCellRecord(r.type)) {
            emitCell(i);
        } else if (skipTail_ && isFormulaTail(r.type) && (r.type != rt::Continue || droppedTail_)) {
            // What belonged to a formula that is no longer there: its cached text, the formula of its range.
            droppedTail_ = true;
        } else {
            w_.record(r.type, d);
        }
        if (i == s_.ctLast_ && !dbcellLayout_) finishBlock(npos);
    }

    // The records outside the cell table that follow the edits; true when the record was written here.
    bool rewriteSheetRecord(std::size_t i) {
        const RecordPos& r = s_.recs_[i];
        const auto d = s_.data(i);
        switch (r.type) {
        case rt::Index:
            emitIndexPlaceholder(d);
            return true;
        case rt::DefColWidth:
            defColPos_ = std::uint32_t(w_.size());
            return false;
        case rt::ColInfo:
            return r.length >= 10; // written whole at the anchor
        case rt::Dimensions:
            if (newMaxRow_ < 0 || d.size() < 12) return false;
            emitDimensions(d);
            return true;
        case rt::Window2: {
            if (!selected_ || d.size() < 2) return false;
            std::vector<std::uint8_t> nd(d.begin(), d.end());
            const std::uint16_t flags = get16(nd.data());
            put16(nd.data(), *selected_ ? (flags | 0x0600) : (flags & ~0x0600));
            w_.record(r.type, nd);
            return true;
        }
        default:
            return false;
        }
    }

    // INDEX keeps its place and size; the DBCELL positions are filled in at the end.
    void emitIndexPlaceholder(std::span<const std::uint8_t> d) {
        indexPos_ = w_.size();
        std::size_t dbcells = 0;
        int depth = 0;
        for (const RecordPos& q : s_.recs_) {
            depth += q.type == rt::Bof ? 1 : q.type == rt::Eof ? -1 : 0;
            dbcells += q.type == rt::DbCell && depth == 1;
        }
        std::vector<std::uint8_t> placeholder(16 + 4 * dbcells, 0);
        if (d.size() >= 16) std::copy(d.begin(), d.begin() + 16, placeholder.begin());
        w_.record(rt::Index, placeholder);
    }

    // DIMENSIONS widened to the new cells.
    void emitDimensions(std::span<const std::uint8_t> d) {
        std::vector<std::uint8_t> nd(d.begin(), d.end());
        const bool empty = get32(&nd[4]) <= get32(&nd[0]) || get16(&nd[10]) <= get16(&nd[8]);
        put32(&nd[0], std::uint32_t(empty ? newMinRow_ : std::min<int>(int(get32(&nd[0])), newMinRow_)));
        put32(&nd[4],
              std::uint32_t(empty ? newMaxRow_ + 1 : std::max<int>(int(get32(&nd[4])), newMaxRow_ + 1)));
        put16(&nd[8], std::uint32_t(empty ? newMinCol_ : std::min<int>(get16(&nd[8]), newMinCol_)));
        put16(&nd[10], std::uint32_t(empty ? newMaxCol_ + 1 : std::max<int>(get16(&nd[10]), newMaxCol_ + 1)));
        w_.record(rt::Dimensions, nd);
    }

    void emitColInfos() {
        for (const auto& c : s_.cols_) {
            if (!c.modified && c.rec >= 0) {
                w_.record(rt::ColInfo, s_.data(std::size_t(c.rec)));
                continue;
            }
            Writer d;
            d.u16(c.first);
            d.u16(c.last);
            d.u16(c.width);
            d.u16(c.xf);
            d.u16(c.flags);
            d.u16(c.tail);
            w_.record(rt::ColInfo, d.bytes);
        }
    }

    // A ROW record: the original (rec) or a new one, its column extent widened to the row's new cells.
    void emitRow(int row, std::size_t rec) {
        if (!firstRowPos_) firstRowPos_ = std::uint32_t(w_.size());
        rowOrder_.push_back(row);
        std::vector<std::uint8_t>& d = rowRecord_; // reused: one per row of the sheet
        if (rec != npos) {
            const auto src = s_.data(rec);
            d.assign(src.begin(), src.end());
        } else {
            blockDirty_ = true;
            d.assign(16, 0);
            put16(&d[0], std::uint32_t(row));
            put16(&d[4], 0);
            const bool hasDefault = s_.defRowRec_ != npos && s_.recs_[s_.defRowRec_].length >= 4;
            put16(&d[6], hasDefault ? get16(&s_.data(s_.defRowRec_)[2]) : 0x00FF);
            put32(&d[12], 0x000F0100);
        }
        if (auto it = newCells_.find(row); it != newCells_.end()) {
            const bool empty = rec == npos || get16(&d[2]) >= get16(&d[4]);
            const int lo = it->second.front(), hi = it->second.back() + 1;
            put16(&d[2], std::uint32_t(empty ? lo : std::min<int>(get16(&d[2]), lo)));
            put16(&d[4], std::uint32_t(empty ? hi : std::max<int>(get16(&d[4]), hi)));
        }
        w_.record(rt::Row, d);
    }
    void emitNewRowsBefore(int limit) {
        auto& b = blocks_[blockIdx_];
        while (newRowCursor_ < b.newRows.size() && b.newRows[newRowCursor_] < limit)
            emitRow(b.newRows[newRowCursor_++], npos);
    }

    void noteCell(int row) {
        // Only a DBCELL needs them; and a row's cells follow each other.
        if (!dbcellLayout_ || row == notedRow_) return;
        notedRow_ = row;
        firstCell_.try_emplace(row, std::uint32_t(w_.size()));
    }
    // The new cells of a row left of belowCol, from cursor on.
    void emitNewCellsOf(int row, int belowCol, std::size_t& cursor) {
        if (row < newMinRow_ || row > newMaxRow_) return;
        auto it = newCells_.find(row);
        if (it == newCells_.end()) return;
        while (cursor < it->second.size() && it->second[cursor] < belowCol) {
            const int col = it->second[cursor++];
            const Edit& e = *edited(row, col);
            noteCell(row);
            blockDirty_ = true;
            s_.cellRecord(w_, row, col, e, std::uint16_t(e.xf >= 0 ? e.xf : s_.defaultXf(row, col)));
        }
    }
    void finishCellRow() {
        if (cellRow_ >= 0) emitNewCellsOf(cellRow_, INT_MAX, cellRowCursor_);
        cellRow_ = -1;
    }
    void flushPendingBelow(int limit) {
        auto& b = blocks_[blockIdx_];
        while (pendingCursor_ < b.pendingRows.size() && b.pendingRows[pendingCursor_] < limit) {
            std::size_t cursor = 0;
            emitNewCellsOf(b.pendingRows[pendingCursor_++], INT_MAX, cursor);
        }
    }

    // One original cell record, with the new cells of its row that go before it.
    void emitCell(std::size_t i) {
        const RecordPos& r = s_.recs_[i];
        const auto d = s_.data(i);
        const int row = get16(d.data()), col = get16(&d[2]);
        if (dbcellLayout_) emitNewRowsBefore(INT_MAX);
        if (row != cellRow_) {
            finishCellRow();
            flushPendingBelow(row);
            cellRow_ = row;
            cellRowCursor_ = 0;
        }
        emitNewCellsOf(row, col, cellRowCursor_);
        noteCell(row);
        if (r.type == rt::MulRk || r.type == rt::MulBlank)
            emitMultiCell(r.type, d, row, col);
        else
            emitSingleCell(i, d, row, col);
    }

    void emitSingleCell(std::size_t i, std::span<const std::uint8_t> d, int row, int col) {
        const std::uint16_t type = s_.recs_[i].type;
        const Edit* e = edited(row, col);
        if (e && e->hasValue) {
            blockDirty_ = true;
            s_.cellRecord(w_, row, col, *e, std::uint16_t(e->xf >= 0 ? e->xf : get16(&d[4])));
            skipTail_ = type == rt::Formula;
            return;
        }
        const auto target = moves_.retarget.find(std::uint32_t(i));
        if (!e && target == moves_.retarget.end()) {
            w_.record(type, d);
        } else {
            std::vector<std::uint8_t> nd(d.begin(), d.end());
            if (e) put16(&nd[4], std::uint32_t(e->xf));
            if (target != moves_.retarget.end()) {
                put16(&nd[23], target->second.first);
                put16(&nd[25], target->second.second);
            }
            w_.record(type, nd);
        }
        if (const auto range = moves_.newRange.find(std::uint32_t(i)); range != moves_.newRange.end()) {
            blockDirty_ = true;
            w_.record(rt::ShrFmla, range->second);
        }
    }

    // A MULRK or MULBLANK split around the cells given new values; runs of one become RK or BLANK.
    void emitMultiCell(std::uint16_t type, std::span<const std::uint8_t> d, int row, int col) {
        const std::size_t unit = type == rt::MulRk ? 6 : 2;
        const int n = int((d.size() - 6) / unit);
        auto rewritten = [&](int k) {
            const Edit* e = edited(row, col + k);
            return e && e->hasValue;
        };
        // Most runs have no edit at all: one look for any key in the run's span.
        if (n > 0 && col + n - 1 <= 0xFF) {
            const auto next = s_.edits_.lower_bound(Sheet::key(row, col));
            if (next == s_.edits_.end() || next->first > Sheet::key(row, col + n - 1)) {
                w_.record(type, d);
                return;
            }
        }
        bool touched = false, anyRewritten = false;
        for (int k = 0; k < n; ++k) {
            touched = touched || edited(row, col + k) != nullptr;
            anyRewritten = anyRewritten || rewritten(k);
        }
        blockDirty_ = blockDirty_ || anyRewritten;
        if (!touched) {
            w_.record(type, d);
            return;
        }
        for (int k = 0; k < n;) {
            if (rewritten(k)) {
                const Edit& e = *edited(row, col + k);
                s_.cellRecord(w_, row, col + k, e,
                              std::uint16_t(e.xf >= 0 ? e.xf : get16(&d[4 + unit * std::size_t(k)])));
                ++k;
                continue;
            }
            int end = k;
            while (end < n && !rewritten(end))
                ++end;
            Writer run;
            run.u16(std::uint32_t(row));
            run.u16(std::uint32_t(col + k));
            for (int m = k; m < end; ++m) {
                const Edit* me = edited(row, col + m);
                const std::uint8_t* src = &d[4 + unit * std::size_t(m)];
                run.u16(me && me->xf >= 0 ? std::uint32_t(me->xf) : get16(src));
                if (unit == 6) run.raw(src + 2, 4);
            }
            if (end - k > 1) {
                run.u16(std::uint32_t(col + end - 1));
                w_.record(type, run.bytes);
            } else {
                w_.record(unit == 6 ? rt::Rk : rt::Blank, run.bytes);
            }
            k = end;
        }
    }

    // Ends a row block: the new rows and cells still due, then its DBCELL, as it was when nothing in the
    // block changed size, else with the offsets recomputed.
    void finishBlock(std::size_t dbcell) {
        finishCellRow();
        emitNewRowsBefore(INT_MAX);
        flushPendingBelow(INT_MAX);
        if (dbcell != npos) {
            dbcellPositions_.push_back(std::uint32_t(w_.size()));
            if (blockDirty_)
                emitDbCell();
            else
                w_.record(rt::DbCell, s_.data(dbcell));
        }
        ++blockIdx_;
        firstRowPos_.reset();
        rowOrder_.clear();
        firstCell_.clear();
        notedRow_ = -1;
        newRowCursor_ = pendingCursor_ = 0;
        blockDirty_ = false;
    }
    // DBCELL: back to the block's first ROW, then from each row's first cell to the next's.
    void emitDbCell() {
        const auto pos = std::uint32_t(w_.size());
        Writer d;
        d.u32(firstRowPos_ ? pos - *firstRowPos_ : 0);
        std::vector<std::uint32_t> at(rowOrder_.size(), pos);
        std::uint32_t next = pos;
        for (std::size_t k = rowOrder_.size(); k-- > 0;) {
            if (auto it = firstCell_.find(rowOrder_[k]); it != firstCell_.end()) next = it->second;
            at[k] = next;
        }
        for (std::size_t k = 0; k < at.size(); ++k) {
            const std::uint32_t from = k == 0 ? *firstRowPos_ + 20 : at[k - 1];
            d.u16(at[k] >= from ? std::min<std::uint32_t>(at[k] - from, 0xFFFF) : 0);
        }
        w_.record(rt::DbCell, d.bytes);
    }

    // INDEX: the row extent widened to the new cells, DEFCOLWIDTH's and every DBCELL's new position.
    void patchIndex() {
        if (indexPos_ == npos) return;
        std::uint8_t* p = w_.bytes.data() + indexPos_ + 4;
        if (newMaxRow_ >= 0) {
            const bool empty = get32(p + 8) <= get32(p + 4);
            put32(p + 4, std::uint32_t(empty ? newMinRow_ : std::min<int>(int(get32(p + 4)), newMinRow_)));
            put32(p + 8,
                  std::uint32_t(empty ? newMaxRow_ + 1 : std::max<int>(int(get32(p + 8)), newMaxRow_ + 1)));
        }
        if (defColPos_ && get32(p + 12) != 0) put32(p + 12, *defColPos_);
        for (std::size_t k = 0; k < dbcellPositions_.size(); ++k)
            put32(p + 16 + 4 * k, dbcellPositions_[k]);
    }

    const Sheet& s_;
    Writer& w_;
    const std::optional<bool> selected_;
    const Sheet::FormulaMoves moves_;

    // The plan, made before the first record is written.
    std::map<int, std::vector<int>> newCells_;
    int newMinRow_ = INT_MAX, newMaxRow_ = -1, newMinCol_ = INT_MAX, newMaxCol_ = -1;
    std::vector<Block> blocks_;
    std::vector<std::pair<int, std::size_t>> rowBlock_; // by row, as rowRecs_ runs
    bool dbcellLayout_ = false;
    std::size_t anchor_ = npos; // where a sheet without cells gets its first ones
    std::size_t colAnchor_ = npos;
    std::size_t copyFrom_ = npos; // without row blocks: the cell table copied from here to its last record

    // Positions in the output that INDEX needs at the end.
    std::vector<std::uint32_t> dbcellPositions_;
    std::size_t indexPos_ = npos;
    std::optional<std::uint32_t> defColPos_;

    // The block being written.
    std::size_t blockIdx_ = 0;
    std::optional<std::uint32_t> firstRowPos_;
    std::vector<int> rowOrder_;
    std::map<int, std::uint32_t> firstCell_;
    int notedRow_ = -1;
    std::vector<std::uint8_t> rowRecord_;
    std::size_t newRowCursor_ = 0, pendingCursor_ = 0;
    bool blockDirty_ = false; // a record changed size: the DBCELL is recomputed

    // The row being written, and the records after a replaced formula that went with it.
    int cellRow_ = -1;
    std::size_t cellRowCursor_ = 0;
    bool skipTail_ = false;
    bool droppedTail_ = false;
};

void Sheet::write(Writer& w, std::optional<bool> selected) const {
    SheetWriter(*this, w, selected).run();
}

} // namespace ordana::spreadsheet::xls
