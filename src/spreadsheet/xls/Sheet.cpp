#include "Sheet.h"

#include "common/RuntimeError.h"
#include "common/Text.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <set>
#include <utility>

namespace ordana::spreadsheet::xls {

namespace {

std::size_t minLength(std::uint16_t t) {
    switch (t) {
    case rt::Number:
        return 14;
    case rt::Rk:
    case rt::LabelSst:
        return 10;
    case rt::Label: // an empty text may come without its flags byte
        return 8;
    case rt::RString:
        return 9;
    case rt::BoolErr:
        return 8;
    case rt::Blank:
        return 6;
    case rt::Formula:
        return 20;
    case rt::MulRk:
        return 12;
    case rt::MulBlank:
        return 8;
    default:
        return 0;
    }
}

// A record's text read across the CONTINUE records that follow it.
std::u16string continuedString(std::span<const std::uint8_t> stream, const std::vector<RecordPos>& recs,
                               std::size_t rec, std::size_t skip) {
    std::vector<std::span<const std::uint8_t>> segs{
        {stream.data() + recs[rec].dataOffset() + skip, recs[rec].length - skip}};
    for (std::size_t k = rec + 1; k < recs.size() && recs[k].type == rt::Continue; ++k)
        segs.emplace_back(stream.data() + recs[k].dataOffset(), recs[k].length);
    ContinuedReader r(std::move(segs));
    return r.string(false);
}

} // namespace

Sheet::Sheet(WorkbookStream& book, const SheetInfo& info) : Sheet(book, info, -1) {}

Sheet::Sheet(WorkbookStream& book, const SheetInfo& info, int rowsKept)
    : book_(book), stream_(book.bytes()), name_(info.name) {
    const bool limited = rowsKept >= 0;
    // The first rows end where the open found their last record; the rest of the sheet is not walked.
    const bool cut = limited && rowsKept <= WorkbookStream::kPreviewRows && info.previewEnd > info.begin &&
                     info.previewEnd < info.end;
    book.need(info.begin, cut ? info.previewEnd : info.end);
    RecordCursor cursor(stream_, info.begin, cut ? info.previewEnd : info.end);
    recs_.reserve(limited ? 256 : (info.end - info.begin) / 16 + 16);
    if (!limited) entries_.reserve((info.end - info.begin) / 20 + 16);
    int depth = 0;
    std::uint32_t lastFormula = npos;
    const std::size_t sstCount = std::as_const(book).strings().size();
    bool skipping = false; // a cell past the rows kept, and the records that belong to it
    while (!cursor.atEnd()) {
        const RecordPos r = cursor.next();
        if (limited) {
            if (skipping && isFormulaTail(r.type)) continue;
            skipping = false;
            if ((isCellRecord(r.type) || r.type == rt::Row) && r.length >= 2 &&
                get16(stream_.data() + r.dataOffset()) >= rowsKept) {
                skipping = true;
                continue;
            }
            if (r.type == rt::DbCell) continue;
        }
        const auto i = recs_.size();
        recs_.push_back(r);
        if (r.type == rt::Bof) {
            ++depth;
            continue;
        }
        if (r.type == rt::Eof) {
            --depth;
            continue;
        }
        if (depth != 1) continue;
        const std::uint8_t* d = stream_.data() + r.dataOffset();
        if (r.length < minLength(r.type)) corrupt("o celula are o inregistrare prea scurta");
        const bool cell = isCellRecord(r.type);
        if (cell || r.type == rt::Row || r.type == rt::DbCell) {
            if (ctFirst_ == npos) ctFirst_ = i;
            ctLast_ = i;
        } else if (ctFirst_ != npos && isFormulaTail(r.type) && ctLast_ + 1 == i) {
            ctLast_ = i;
        }
        if (r.type != rt::Formula && !isFormulaTail(r.type)) lastFormula = npos;
        switch (r.type) {
        case rt::Index:
            indexRec_ = i;
            break;
        case rt::Dimensions:
            dimRec_ = i;
            break;
        case rt::DefColWidth:
            defColRec_ = i;
            break;
        case rt::StandardWidth:
            stdWidthRec_ = i;
            break;
        case rt::DefaultRowHeight:
            defRowRec_ = i;
            break;
        case rt::ColInfo:
            if (r.length >= 10) {
                if (firstColInfo_ == npos) firstColInfo_ = i;
                const std::uint16_t first = get16(d), last = get16(d + 2);
                if (first > last || first >= kMaxColumns) corrupt("o coloana este in afara limitelor foii");
                cols_.push_back({first, std::min<std::uint16_t>(last, kMaxColumns - 1), get16(d + 4),
                                 get16(d + 6), get16(d + 8),
                                 std::uint16_t(r.length >= 12 ? get16(d + 10) : 0), std::int64_t(i), false});
            }
            break;
        case rt::Row:
            if (r.length < 16) corrupt("o inregistrare de rand este prea scurta");
            rowRecs_.emplace_back(get16(d), std::uint32_t(i)); // in row order, unless a producer strays
            break;
        case rt::String:
            if (lastFormula != npos) entries_[lastFormula].str = std::uint32_t(i);
            break;
        case rt::ShrFmla:
        case rt::Array:
        case rt::Table:
            if (r.length >= 6 && recs_[i - 1].type == rt::Formula && recs_[i - 1].length >= 4 &&
                get16(d) <= get16(d + 2) && d[4] <= d[5]) {
                const std::uint8_t* host = stream_.data() + recs_[i - 1].dataOffset();
                ranges_.push_back({r.type, std::uint32_t(i), get16(host), get16(host + 2), get16(d),
                                   get16(d + 2), d[4], d[5]});
            }
            break;
        default:
            break;
        }
        if (!cell) continue;
        const std::uint16_t row = get16(d), col = get16(d + 2);
        if (col >= kMaxColumns)
            corrupt("o celula este in afara limitelor foii (coloana " + std::to_string(col + 1) + ")");
        if (r.type == rt::MulRk || r.type == rt::MulBlank) {
            const std::size_t unit = r.type == rt::MulRk ? 6 : 2;
            const std::size_t n = (r.length - 6) / unit;
            if ((r.length - 6) % unit != 0 || n == 0 || col + n > std::size_t(kMaxColumns))
                corrupt("o inregistrare de celule multiple este deteriorata");
            for (std::size_t k = 0; k < n; ++k)
                entries_.push_back({row, std::uint16_t(col + k), std::uint32_t(i), npos, std::uint16_t(k)});
            continue;
        }
        if (r.type == rt::LabelSst && get32(d + 6) >= sstCount)
            corrupt("o celula trimite la un text care nu exista in tabela de texte");
        if (r.type == rt::Formula) {
            lastFormula = std::uint32_t(entries_.size());
            // PtgExp or PtgTbl alone: the formula is kept with its range's host.
            if (r.length >= 27 && get16(d + 20) >= 5 && (d[22] == 0x01 || d[22] == 0x02))
                members_.push_back({std::uint32_t(i), row, col, get16(d + 23), get16(d + 25)});
        }
        entries_.push_back({row, col, std::uint32_t(i), npos, 0});
    }
    if (depth != 0 && !cut) corrupt("foaia nu se incheie corect");
    // ROW records by row; of two for the same row, the later one counts.
    const auto byRow = [](const auto& a, const auto& b) { return a.first < b.first; };
    if (std::adjacent_find(rowRecs_.begin(), rowRecs_.end(), [](const auto& a, const auto& b) {
            return a.first >= b.first;
        }) != rowRecs_.end()) {
        std::stable_sort(rowRecs_.begin(), rowRecs_.end(), byRow);
        std::vector<std::pair<int, std::uint32_t>> last;
        for (std::size_t k = 0; k < rowRecs_.size(); ++k)
            if (k + 1 == rowRecs_.size() || rowRecs_[k + 1].first != rowRecs_[k].first)
                last.push_back(rowRecs_[k]);
        rowRecs_ = std::move(last);
    }
    auto less = [](const CellEntry& a, const CellEntry& b) {
        return a.row != b.row ? a.row < b.row : a.col < b.col;
    };
    if (!std::is_sorted(entries_.begin(), entries_.end(), less))
        std::stable_sort(entries_.begin(), entries_.end(), less);
    // A cell written twice: the later record wins, as a reader going through the records would see it.
    auto same = [](const CellEntry& a, const CellEntry& b) { return a.row == b.row && a.col == b.col; };
    if (std::adjacent_find(entries_.begin(), entries_.end(), same) != entries_.end()) {
        std::vector<CellEntry> unique;
        for (std::size_t k = 0; k < entries_.size(); ++k) {
            if (k + 1 < entries_.size() && same(entries_[k], entries_[k + 1])) continue;
            unique.push_back(entries_[k]);
        }
        entries_ = std::move(unique);
    }
    const int rows = entries_.empty() ? 0 : entries_.back().row + 1;
    rowStart_.assign(std::size_t(rows) + 1, 0);
    std::size_t k = 0;
    for (int r = 0; r <= rows; ++r) {
        while (k < entries_.size() && entries_[k].row < r)
            ++k;
        rowStart_[std::size_t(r)] = std::uint32_t(k);
    }
    std::sort(cols_.begin(), cols_.end(),
              [](const ColInfo& a, const ColInfo& b) { return a.first < b.first; });
    for (std::size_t c = 1; c < cols_.size(); ++c)
        if (cols_[c].first <= cols_[c - 1].last) corrupt("latimile de coloana se suprapun");
}

const Sheet::CellEntry* Sheet::find(int row, int col) const {
    if (row < 0 || std::size_t(row) + 1 >= rowStart_.size()) return nullptr;
    auto first = entries_.begin() + rowStart_[std::size_t(row)];
    auto last = entries_.begin() + rowStart_[std::size_t(row) + 1];
    auto it = std::lower_bound(first, last, col, [](const CellEntry& e, int c) { return e.col < c; });
    return it != last && it->col == col ? &*it : nullptr;
}

std::uint16_t Sheet::entryXf(const CellEntry& e) const {
    const auto d = data(e.rec);
    switch (recs_[e.rec].type) {
    case rt::MulRk:
        return get16(&d[4 + 6 * e.sub]);
    case rt::MulBlank:
        return get16(&d[4 + 2 * e.sub]);
    default:
        return get16(&d[4]);
    }
}

CellValue Sheet::entryValue(const CellEntry& e) const {
    const auto d = data(e.rec);
    switch (recs_[e.rec].type) {
    case rt::Number:
        return CellValue::number(getDouble(&d[6]));
    case rt::Rk:
        return CellValue::number(decodeRk(get32(&d[6])));
    case rt::MulRk:
        return CellValue::number(decodeRk(get32(&d[6 + 6 * e.sub])));
    case rt::LabelSst:
        return CellValue::text(std::as_const(book_).strings().text(get32(&d[6])));
    case rt::Label:
    case rt::RString:
        return CellValue::text(utf16ToUtf8(continuedString(stream_, recs_, e.rec, 6)));
    case rt::BoolErr:
        return d[7] ? CellValue::error(d[6]) : CellValue::boolean(d[6] != 0);
    case rt::Formula:
        if (get16(&d[12]) != 0xFFFF) return CellValue::number(getDouble(&d[6]));
        switch (d[6]) {
        case 0:
            if (e.str == npos) return CellValue::text("");
            return CellValue::text(utf16ToUtf8(continuedString(stream_, recs_, e.str, 0)));
        case 1:
            return CellValue::boolean(d[8] != 0);
        case 2:
            return CellValue::error(d[8]);
        default:
            return CellValue::text("");
        }
    default:
        return CellValue();
    }
}

CellValue Sheet::value(int row, int col) const {
    if (!edits_.empty()) {
        auto it = edits_.find(key(row, col));
        if (it != edits_.end() && it->second.hasValue) return it->second.value;
    }
    const CellEntry* e = find(row, col);
    return e ? entryValue(*e) : CellValue();
}

std::uint16_t Sheet::defaultXf(int row, int col) const {
    const auto it = std::lower_bound(rowRecs_.begin(), rowRecs_.end(), row,
                                     [](const auto& r, int wanted) { return r.first < wanted; });
    if (it != rowRecs_.end() && it->first == row) {
        const std::uint32_t flags = get32(&data(it->second)[12]);
        if (flags & 0x80) return std::uint16_t((flags >> 16) & 0x0FFF);
    }
    for (const ColInfo& c : cols_)
        if (c.first <= col && col <= c.last) return c.xf;
    return book_.defaultCellXf();
}

std::uint16_t Sheet::cellXf(int row, int col) const {
    if (auto it = edits_.find(key(row, col)); it != edits_.end() && it->second.xf >= 0)
        return std::uint16_t(it->second.xf);
    if (const CellEntry* e = find(row, col)) return entryXf(*e);
    return defaultXf(row, col);
}

void Sheet::setCellXf(int row, int col, std::uint16_t xf) {
    edits_[key(row, col)].xf = xf;
    modified_ = true;
}

void Sheet::setValue(int row, int col, const CellValue& value) {
    const CellEntry* original = find(row, col);
    if (value.isEmpty() && !original && !edits_.count(key(row, col)))
        return; // clearing a cell that never was
    Edit& e = edits_[key(row, col)];
    const bool wasSst = e.hasValue ? e.value.kind() == CellValue::Kind::Text
                                   : (original && recs_[original->rec].type == rt::LabelSst);
    if (value.kind() == CellValue::Kind::Text && utf8ToUtf16(value.textValue()).size() > 32767)
        throw RuntimeError(err::Application, "Textul are mai mult de 32767 de caractere");
    if (wasSst) book_.mutableStrings().addReferences(-1);
    e.hasValue = true;
    e.value = value;
    if (value.kind() == CellValue::Kind::Text) {
        e.sst = book_.mutableStrings().intern(value.textValue());
        book_.mutableStrings().addReferences(1);
    }
    if (e.xf < 0 && !original) e.xf = defaultXf(row, col);
    modified_ = true;
}

std::optional<Sheet::Column> Sheet::column(int col) const {
    for (const ColInfo& c : cols_)
        if (c.first <= col && col <= c.last) return Column{c.width, c.xf, c.flags};
    return std::nullopt;
}

std::uint16_t Sheet::defaultColumnWidth() const {
    if (stdWidthRec_ != npos && recs_[stdWidthRec_].length >= 2) return get16(data(stdWidthRec_).data());
    const int d = book_.digitWidth();
    const int chars =
        defColRec_ != npos && recs_[defColRec_].length >= 2 ? get16(data(defColRec_).data()) : 8;
    // Excel rounds the default column up to a multiple of 8 pixels.
    const int pixels = (chars * d + 5 + 7) / 8 * 8;
    return std::uint16_t(std::min(65535.0, std::floor(double(pixels) / d * 256)));
}

std::size_t Sheet::splitColumn(int col) {
    auto it = std::find_if(cols_.begin(), cols_.end(), [&](const ColInfo& c) { return c.last >= col; });
    if (it == cols_.end() || it->first > col) {
        ColInfo c{std::uint16_t(col),
                  std::uint16_t(col),
                  defaultColumnWidth(),
                  book_.defaultCellXf(),
                  0,
                  0,
                  -1,
                  true};
        const auto inserted = cols_.insert(it, c);
        return std::size_t(inserted - cols_.begin());
    }
    std::size_t at = std::size_t(it - cols_.begin());
    if (cols_[at].first < col) {
        ColInfo left = cols_[at];
        left.last = std::uint16_t(col - 1);
        left.modified = true;
        cols_[at].first = std::uint16_t(col);
        cols_.insert(cols_.begin() + std::ptrdiff_t(at), left);
        ++at;
    }
    if (cols_[at].last > col) {
        ColInfo right = cols_[at];
        right.first = std::uint16_t(col + 1);
        right.modified = true;
        right.rec = -1;
        cols_[at].last = std::uint16_t(col);
        cols_.insert(cols_.begin() + std::ptrdiff_t(at) + 1, right);
    }
    cols_[at].modified = true;
    return at;
}

void Sheet::mergeColumns(std::size_t at) {
    auto same = [](const ColInfo& a, const ColInfo& b) {
        return a.last + 1 == b.first && a.width == b.width && a.xf == b.xf && a.flags == b.flags &&
               a.tail == b.tail;
    };
    if (at + 1 < cols_.size() && same(cols_[at], cols_[at + 1])) {
        cols_[at].last = cols_[at + 1].last;
        cols_.erase(cols_.begin() + std::ptrdiff_t(at) + 1);
    }
    if (at > 0 && same(cols_[at - 1], cols_[at])) {
        cols_[at - 1].last = cols_[at].last;
        cols_[at - 1].modified = true;
        cols_.erase(cols_.begin() + std::ptrdiff_t(at));
    }
}

void Sheet::setColumnWidth(int col, double characters) {
    if (!(characters >= 0 && characters <= 255))
        throw RuntimeError(err::Application, "Latimea coloanei trebuie sa fie intre 0 si 255");
    const int d = book_.digitWidth();
    // Excel keeps whole pixels of text plus 5 pixels of padding, in 1/256 of the digit width.
    const double pixels = std::round(characters * d);
    const std::size_t at = splitColumn(col);
    ColInfo& c = cols_[at];
    if (pixels == 0) {
        c.flags |= 0x0001;
    } else {
        c.width = std::uint16_t(std::min(65535.0, std::floor((pixels + 5) / d * 256)));
        c.flags = std::uint16_t((c.flags & ~0x0001) | 0x0002);
    }
    mergeColumns(at);
    modified_ = true;
}

void Sheet::formatColumn(int col, const XfChange& change) {
    const std::size_t at = splitColumn(col);
    cols_[at].xf = book_.deriveXf(cols_[at].xf, change);
    mergeColumns(at);
    std::set<int> rows;
    for (const CellEntry& e : entries_)
        if (e.col == col) rows.insert(e.row);
    for (const auto& [k, e] : edits_)
        if (int(k & 0xFF) == col && (e.hasValue || e.xf >= 0)) rows.insert(int(k >> 8));
    for (int row : rows)
        setCellXf(row, col, book_.deriveXf(cellXf(row, col), change));
    modified_ = true;
}

void Sheet::cellRecord(Writer& w, int row, int col, const Edit& e, std::uint16_t xf) const {
    Writer d;
    d.u16(std::uint32_t(row));
    d.u16(std::uint32_t(col));
    d.u16(xf);
    std::uint16_t type = rt::Blank;
    const CellValue& v = e.value;
    switch (e.hasValue ? v.kind() : CellValue::Kind::Empty) {
    case CellValue::Kind::Empty:
        break;
    case CellValue::Kind::Number: {
        std::uint32_t rk;
        if (encodeRk(v.numberValue(), rk)) {
            type = rt::Rk;
            d.u32(rk);
        } else {
            type = rt::Number;
            d.f64(v.numberValue());
        }
        break;
    }
    case CellValue::Kind::Text:
        type = rt::LabelSst;
        d.u32(e.sst);
        break;
    case CellValue::Kind::Boolean:
        type = rt::BoolErr;
        d.u8(v.booleanValue() ? 1 : 0);
        d.u8(0);
        break;
    case CellValue::Kind::Error:
        type = rt::BoolErr;
        d.u8(v.errorCode());
        d.u8(1);
        break;
    }
    w.record(type, d.bytes);
}

bool Sheet::overwritten(int row, int col) const {
    const auto it = edits_.find(key(row, col));
    return it != edits_.end() && it->second.hasValue;
}

Sheet::FormulaMoves Sheet::planFormulaMoves() const {
    FormulaMoves moves;
    if (ranges_.empty()) return moves;
    std::vector<std::pair<int, int>> written;
    for (const auto& [k, e] : edits_)
        if (e.hasValue) written.emplace_back(int(k >> 8), int(k & 0xFF));
    for (const FormulaRange& g : ranges_) {
        std::size_t covered = 0;
        for (const auto& [row, col] : written)
            covered += row >= g.firstRow && row <= g.lastRow && col >= g.firstCol && col <= g.lastCol;
        if (covered == 0) continue;
        const std::size_t cells =
            std::size_t(g.lastRow - g.firstRow + 1) * std::size_t(g.lastCol - g.firstCol + 1);
        if (g.type != rt::ShrFmla) {
            // One formula over the whole range: it can go whole, never in part.
            if (covered == cells) continue;
            const std::string range = text::cellAddress(g.firstRow + 1, g.firstCol + 1) + ":" +
                                      text::cellAddress(g.lastRow + 1, g.lastCol + 1);
            throw RuntimeError(
                err::Application,
                "Celulele " + range + " din foaia " + text::quotedExcerpt(name_) + " tin " +
                    (g.type == rt::Array ? "o formula matriceala" : "un tabel de date") +
                    ", pe care scrierea ar acoperi-o doar in parte; mutati-o si incercati din nou");
        }
        if (!overwritten(g.hostRow, g.hostCol)) continue;
        // The cells that keep the shared formula, in record order.
        std::vector<const RangeMember*> kept;
        for (const RangeMember& m : members_)
            if (m.hostRow == g.hostRow && m.hostCol == g.hostCol && !overwritten(m.row, m.col) &&
                m.row >= g.firstRow && m.row <= g.lastRow && m.col >= g.firstCol && m.col <= g.lastCol)
                kept.push_back(&m);
        if (kept.empty()) continue;
        // One new host at the top left of what is kept if it is a formula cell, else one per column; the
        // formula itself is relative to each cell, so it reads the same from any host.
        std::uint16_t top = 0xFFFF, left = 0xFFFF;
        for (const RangeMember* m : kept) {
            top = std::min(top, m->row);
            left = std::min(left, m->col);
        }
        const bool oneHost = std::any_of(
            kept.begin(), kept.end(), [&](const RangeMember* m) { return m->row == top && m->col == left; });
        std::map<int, std::vector<const RangeMember*>> groups;
        for (const RangeMember* m : kept)
            groups[oneHost ? 0 : m->col].push_back(m);
        const auto original = data(g.rec);
        for (auto& [col, group] : groups) {
            std::sort(group.begin(), group.end(), [](const RangeMember* a, const RangeMember* b) {
                return a->row != b->row ? a->row < b->row : a->col < b->col;
            });
            const RangeMember& host = *group.front();
            std::uint16_t lastRow = host.row, firstCol = host.col, lastCol = host.col;
            for (const RangeMember* m : group) {
                lastRow = std::max(lastRow, m->row);
                firstCol = std::min(firstCol, m->col);
                lastCol = std::max(lastCol, m->col);
                moves.retarget[m->rec] = {host.row, host.col};
            }
            std::vector<std::uint8_t> range(original.begin(), original.end());
            put16(&range[0], host.row);
            put16(&range[2], lastRow);
            range[4] = std::uint8_t(firstCol);
            range[5] = std::uint8_t(lastCol);
            if (range.size() > 7) range[7] = std::uint8_t(std::min<std::size_t>(group.size(), 255));
            moves.newRange[host.rec] = std::move(range);
        }
    }
    return moves;
}

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
