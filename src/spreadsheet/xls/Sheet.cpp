#include "Sheet.h"

#include "common/RuntimeError.h"
#include "common/Text.h"

#include <algorithm>
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
        readRecord(i, lastFormula, sstCount);
    }
    if (depth != 0 && !cut) corrupt("foaia nu se incheie corect");
    orderRows();
    orderCells();
    std::sort(cols_.begin(), cols_.end(),
              [](const ColInfo& a, const ColInfo& b) { return a.first < b.first; });
    for (std::size_t c = 1; c < cols_.size(); ++c)
        if (cols_[c].first <= cols_[c - 1].last) corrupt("latimile de coloana se suprapun");
}

// One record of the sheet's own (not of a chart's or other substream inside it).
[[gnu::always_inline]] inline void Sheet::readRecord(std::size_t i, std::uint32_t& lastFormula,
                                                     std::size_t sstCount) {
    const RecordPos& r = recs_[i];
    if (r.length < minLength(r.type)) corrupt("o celula are o inregistrare prea scurta");
    const bool cell = isCellRecord(r.type);
    if (cell || r.type == rt::Row || r.type == rt::DbCell) {
        if (ctFirst_ == npos) ctFirst_ = i;
        ctLast_ = i;
    } else if (ctFirst_ != npos && isFormulaTail(r.type) && ctLast_ + 1 == i) {
        ctLast_ = i;
    }
    if (r.type != rt::Formula && !isFormulaTail(r.type)) lastFormula = npos;
    noteRecord(i, lastFormula);
    if (cell) addCell(i, lastFormula, sstCount);
}

// Where the records that are not cells stand: those a save rewrites, columns, rows, formula ranges.
[[gnu::always_inline]] inline void Sheet::noteRecord(std::size_t i, std::uint32_t lastFormula) {
    const RecordPos& r = recs_[i];
    const std::uint8_t* d = stream_.data() + r.dataOffset();
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
                             get16(d + 6), get16(d + 8), std::uint16_t(r.length >= 12 ? get16(d + 10) : 0),
                             std::int64_t(i), false});
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
            ranges_.push_back(
                {r.type, std::uint32_t(i), get16(host), get16(host + 2), get16(d), get16(d + 2), d[4], d[5]});
        }
        break;
    default:
        break;
    }
}

// A cell record's cells into the index (each of a MULRK's or MULBLANK's).
[[gnu::always_inline]] inline void Sheet::addCell(std::size_t i, std::uint32_t& lastFormula,
                                                  std::size_t sstCount) {
    const RecordPos& r = recs_[i];
    const std::uint8_t* d = stream_.data() + r.dataOffset();
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
        return;
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

// ROW records by row; of two for the same row, the later one counts.
void Sheet::orderRows() {
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
}

// The cells by row and column, and where each row's begin.
void Sheet::orderCells() {
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
    if (!e) return CellValue();
    CellValue v = entryValue(*e);
    // A NUMBER record (or a formula's cached result, or an RK) holding NaN or an infinity is no number a
    // spreadsheet shows; said as what it is, as the other engines say it.
    if (v.kind() == CellValue::Kind::Number && !std::isfinite(v.numberValue()))
        fail("celula " + text::cellAddress(row + 1, col + 1) + " are valoarea numerica " +
             (std::isnan(v.numberValue())
                  ? std::string("\"NaN\", care nu este un numar")
                  : std::string(v.numberValue() > 0 ? "\"+infinit\"" : "\"-infinit\"") +
                        ", care nu este un numar finit"));
    return v;
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

} // namespace ordana::spreadsheet::xls
