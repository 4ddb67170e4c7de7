// A worksheet part as read: its head and its rows indexed, cells found and decoded; what is written waits,
// packed, for the save (SheetEdits.cpp).
#include "Sheet.h"

#include "common/Text.h"
#include "spreadsheet/PackedValues.h"
#include "spreadsheet/zip/Compression.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>

namespace ordana::spreadsheet::xlsx {

namespace {

CellValue decode(const Cell& c, int row, SharedStrings* strings) {
    switch (c.type) {
    case 's': {
        if (c.value.empty()) return {};
        // An item's number: a whole number no table can exceed (some writers add ".0"); anything else
        // (negative, fractional, inf, nan, beyond 2^32) points nowhere.
        const double d = toDouble(c.value);
        if (!(d >= 0 && d < 4294967296.0 && d == std::trunc(d)))
            fail("celula " + text::cellAddress(row, c.column) + " trimite la textul partajat " +
                 text::quotedExcerpt(c.value) + ", care nu este un numar de ordine");
        const std::string* s = strings ? strings->at(std::size_t(d)) : nullptr;
        if (!s)
            fail("celula " + text::cellAddress(row, c.column) + " trimite la textul partajat " +
                 text::quotedExcerpt(c.value) + ", care nu exista");
        return CellValue::text(*s);
    }
    case 'i':
    case 'f':
    case 'd':
        if (c.type != 'i' && c.value.empty()) return {};
        return CellValue::text(c.value);
    case 'b':
        if (c.value.empty()) return {};
        return CellValue::boolean(c.value == "1" || c.value == "true");
    case 'e':
        if (c.value.empty()) return {};
        return CellValue::error(errorCodeOf(c.value).value_or(0x0F)); // an unknown error reads as #VALUE!
    default: {
        if (c.value.empty()) return {};
        const double v = toDouble(c.value);
        if (std::isnan(v))
            fail("celula " + text::cellAddress(row, c.column) + " are valoarea numerica " +
                 text::quotedExcerpt(c.value) + ", care nu este un numar");
        return CellValue::number(v);
    }
    }
}

// Feeds the part, inflated piece by piece, to a scanner until it stops or the part ends; each piece is
// handed to kept first.
void scanEntry(Package& pkg, const std::string& part, xml::Scanner& scanner,
               const std::function<void(std::span<const std::uint8_t>)>& kept = nullptr) {
    const zip::Entry* e = pkg.entry(part);
    if (!e) fail(partText(part) + " lipseste din pachet");
    zip::EntryReader reader(pkg.archive(), *e);
    std::vector<std::uint8_t> buf(64 * 1024);
    for (;;) {
        const std::size_t n = reader.read(buf);
        if (kept) kept(std::span(buf).first(n));
        if (!scanner.feed(std::span(buf).first(n), n == 0) || n == 0) break;
    }
}

// Events handed on to an indexer made once the scanner that feeds it exists.
struct Forward : xml::Handler {
    SheetIndexer* to = nullptr;
    void start(const xml::Element& el) override { to->start(el); }
    void end(const xml::Element& el, const xml::EndTag& t) override { to->end(el, t); }
    void text(const xml::Element& el, std::string_view s) override { to->text(el, s); }
};

} // namespace

void Sheet::loadHead(Package& pkg, int lastRow) {
    if (indexed_ || headRows_ >= lastRow) return;
    rows_.clear();
    rowsHeld_.clear();
    Forward forward;
    xml::Scanner scanner(part_, forward);
    SheetIndexer idx(rows_, lastRow, &scanner, &rowsHeld_);
    forward.to = &idx;
    scanEntry(pkg, part_, scanner);
    if (!idx.ordered) fail(partText(part_) + " are randurile sau celulele in alta ordine decat crescatoare");
    headRows_ = lastRow;
}

void Sheet::readHead(Package& pkg) {
    if (headKnown_ || indexed_) return;
    std::vector<Row> none;
    Forward forward;
    xml::Scanner scanner(part_, forward);
    SheetIndexer idx(none, -1, &scanner, &headHeld_);
    forward.to = &idx;
    Bytes bytes;
    scanEntry(pkg, part_, scanner, [&](std::span<const std::uint8_t> piece) {
        headHeld_.add(piece.size());
        bytes.insert(bytes.end(), piece.begin(), piece.end());
    });
    if (!idx.sheetDataStart) fail(partText(part_) + " nu are elementul sheetData al unei foi de calcul");
    idx.sheetData = std::make_pair(*idx.sheetDataStart, xml::EndTag{});
    takeHead(idx);
    head_ = std::move(bytes);
}

void Sheet::takeHead(SheetIndexer& idx) {
    prefix_ = idx.prefix.empty() ? idx.sheetData->first.prefix : idx.prefix;
    dimension_ = idx.dimension;
    sheetViews_ = idx.sheetViews;
    sheetFormatPr_ = idx.sheetFormatPr;
    cols_ = idx.cols;
    sheetData_ = idx.sheetData;
    sheetViewList_ = std::move(idx.sheetViewList);
    headKnown_ = true;
    // The columns as the part has them, once: a sheet released and indexed again keeps those it changed.
    if (colsKnown_) return;
    for (std::size_t i = 0; i < idx.colList.size(); ++i) {
        const xml::Element& e = idx.colList[i].first;
        ColRange c;
        c.min = toInt(e.attribute("min"), 0);
        c.max = toInt(e.attribute("max"), 0);
        if (c.min < 1 || c.max < c.min || c.max > kMaxColumns) continue;
        for (const auto& a : e.attributes)
            c.attrs.emplace_back(qualifiedName(a.prefix, a.local), a.value);
        c.origin = int(i);
        colSpans_.push_back(
            spanOf(e.begin, e.startEnd, idx.colList[i].second.begin, idx.colList[i].second.end));
        colRanges_.push_back(std::move(c));
    }
    std::sort(colRanges_.begin(), colRanges_.end(),
              [](const ColRange& a, const ColRange& b) { return a.min < b.min; });
    colsKnown_ = true;
}

void Sheet::load(Package& pkg) {
    unpackPending();
    if (indexed_) return;
    rows_.clear();
    rowsHeld_.clear();
    bytes_ = std::make_shared<const Bytes>(pkg.readHeld(part_, bytesHeld_));
    const auto indexer = indexSheet(*bytes_, part_, rows_, true, &rowsHeld_);
    SheetIndexer& idx = *indexer;
    if (!idx.ordered) fail(partText(part_) + " are randurile sau celulele in alta ordine decat crescatoare");
    if (!idx.sheetData) fail(partText(part_) + " nu are elementul sheetData al unei foi de calcul");
    // The head read from the index is held with it; what was kept of it before goes.
    spreadsheet::release(head_);
    headHeld_.clear();
    takeHead(idx);
    lastFound_ = 0;
    indexed_ = true;
}

void Sheet::release(SharedStrings& strings) {
    if (!indexed_) {
        spreadsheet::release(rows_);
        rowsHeld_.clear();
        headRows_ = 0;
        return;
    }
    if (cellsChanged() && !frozen_) {
        const std::string edits = cellEdits(strings).pack();
        frozen_ = zip::packBytes({reinterpret_cast<const std::uint8_t*>(edits.data()), edits.size()});
        frozenSize_ = edits.size();
        frozenHeld_.add(frozen_->size());
    }
    packPending();
    // The bytes the head's elements lie in, from the start of the part: the views, the columns and the start
    // tag of sheetData, which the selection's edits need.
    std::size_t end = sheetData_->first.startEnd;
    for (const xml::Element& v : sheetViewList_)
        end = std::max(end, v.startEnd);
    for (const auto* e : {&sheetViews_, &sheetFormatPr_, &cols_})
        if (*e) end = std::max(end, (*e)->first.startEnd);
    end = std::min(end, bytes_->size());
    std::size_t held = end;
    for (const xml::Element& v : sheetViewList_)
        held += xml::heldBy(v);
    headHeld_.add(held);
    head_.assign(bytes_->begin(), bytes_->begin() + std::ptrdiff_t(end));
    spreadsheet::release(rows_);
    rowsHeld_.clear();
    bytes_.reset();
    bytesHeld_.clear();
    indexed_ = false;
    headRows_ = 0;
}

std::span<const std::uint8_t> Sheet::headBytes() const {
    if (indexed_) return *bytes_;
    return head_;
}

CellValue Sheet::value(Package& pkg, SharedStrings* strings, int row, int column) {
    unpackPending();
    auto p = pending_.find({row, column});
    if (p != pending_.end() && p->second.value) return *p->second.value;
    if (!indexed_ && row <= kPreviewRows)
        loadHead(pkg, kPreviewRows);
    else
        load(pkg);
    const Cell* c = find(row, column);
    return c ? decode(*c, row, strings) : CellValue();
}

const Cell* Sheet::find(int row, int column) const {
    const Row* r = rowAt(row);
    return r ? cellIn(*r, column) : nullptr;
}

const Row* Sheet::rowAt(int row) const {
    const std::size_t n = rows_.size();
    for (std::size_t i = lastFound_; i < n && i <= lastFound_ + 1; ++i)
        if (rows_[i].r == row) return &rows_[lastFound_ = i];
    auto r = std::lower_bound(rows_.begin(), rows_.end(), row, [](const Row& x, int v) { return x.r < v; });
    if (r == rows_.end() || r->r != row) return nullptr;
    lastFound_ = std::size_t(r - rows_.begin());
    return &*r;
}

const Cell* Sheet::cellIn(const Row& r, int column) {
    if (r.cells.empty() || r.cells.back().column < column) return nullptr;
    auto c = std::lower_bound(r.cells.begin(), r.cells.end(), column,
                              [](const Cell& x, int v) { return x.column < v; });
    return c->column == column ? &*c : nullptr;
}

int Sheet::styleOf(int row, int column) const {
    auto p = pending_.find({row, column});
    if (p != pending_.end() && p->second.style) return *p->second.style;
    if (const Cell* c = find(row, column); c && c->style >= 0) return c->style;
    for (const ColRange& c : colRanges_)
        if (c.min <= column && column <= c.max) return toInt(c.get("style"), 0);
    return 0;
}

Pending& Sheet::pendingAt(int row, int column) {
    unpackPending();
    auto [it, fresh] = pending_.try_emplace({row, column});
    if (fresh) pendingHeld_.add(sizeof(*it) + 4 * sizeof(void*));
    return it->second;
}

// The cells written, as bytes deflated while the sheet waits for the save (a few hundred bytes rather than a
// map of some kilobytes), and back when it is asked for again.
void Sheet::packPending() {
    if (pending_.empty()) return;
    ValueWriter w;
    for (const auto& [key, p] : pending_) {
        w.u32(std::uint32_t(key.first)), w.u32(std::uint32_t(key.second));
        w.u8(std::uint8_t((p.value ? 1 : 0) | (p.style ? 2 : 0)));
        if (p.value) w.value(*p.value);
        if (p.style) w.u32(std::uint32_t(*p.style));
    }
    const std::string bytes = w.take();
    packedPending_ = zip::packBytes({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
    packedPendingSize_ = bytes.size();
    spreadsheet::release(pending_);
    pendingHeld_.clear();
    pendingHeld_.add(sizeof(Sheet) + packedPending_.size());
}

void Sheet::unpackPending() {
    if (packedPending_.empty()) return;
    const auto bytes = zip::unpackBytes(packedPending_, packedPendingSize_);
    spreadsheet::release(packedPending_);
    pendingHeld_.clear();
    pendingHeld_.add(sizeof(Sheet));
    ValueReader r({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
    while (!r.done()) {
        const int row = int(r.u32()), column = int(r.u32());
        const std::uint8_t has = r.u8();
        Pending& p = pending_[{row, column}];
        pendingHeld_.add(sizeof(std::pair<const std::pair<int, int>, Pending>) + 4 * sizeof(void*));
        if (has & 1) p.value = r.value();
        if (has & 2) p.style = int(r.u32());
        if (p.value && p.value->kind() == CellValue::Kind::Text)
            pendingHeld_.add(heapOf(p.value->textValue()));
    }
}

void Sheet::thaw() {
    frozen_.reset();
    frozenHeld_.clear();
}

void Sheet::write(int row, int column, const CellValue& v, SharedStrings& strings) {
    thaw();
    if (const Cell* c = find(row, column)) {
        // A shared formula moves to the next cell that keeps it when the part is written; an array
        // formula or a data table is one formula over its range, which cannot be cut.
        if (c->groupMaster && !c->sharedMaster)
            fail("celula " + text::cellAddress(row, column) + " a foii " + text::quoted(name_) +
                 " tine o formula matriceala sau un tabel de date, care acopera si alte celule si nu "
                 "poate fi "
                 "suprascris doar in parte");
        if (c->formula) formulasDropped_.insert(text::cellAddress(row, column));
        if (c->type == 's' && !pending_.count({row, column})) strings.referenced(-1);
    }
    Pending& p = pendingAt(row, column);
    if (p.value && p.value->kind() == CellValue::Kind::Text) strings.referenced(-1);
    if (v.kind() == CellValue::Kind::Text) strings.indexOf(v.textValue()), strings.referenced(1);
    if (v.kind() == CellValue::Kind::Text) pendingHeld_.add(heapOf(v.textValue()));
    p.value = v;
}

ColRange& Sheet::isolate(int column, const std::string& defaultWidth) {
    thaw();
    for (std::size_t i = 0; i < colRanges_.size(); ++i) {
        ColRange& c = colRanges_[i];
        if (c.min > column || c.max < column) continue;
        if (c.min == column && c.max == column) return c;
        ColRange left = c, mid = c, right = c;
        left.max = column - 1;
        mid.min = mid.max = column;
        right.min = column + 1;
        std::vector<ColRange> parts;
        if (left.min <= left.max) parts.push_back(left);
        parts.push_back(mid);
        if (right.min <= right.max) parts.push_back(right);
        for (auto& p : parts) {
            p.dirty = true;
            p.set("min", std::to_string(p.min));
            p.set("max", std::to_string(p.max));
        }
        const std::size_t at = i + (left.min <= left.max ? 1 : 0);
        colRanges_.erase(colRanges_.begin() + std::ptrdiff_t(i));
        colRanges_.insert(colRanges_.begin() + std::ptrdiff_t(i), parts.begin(), parts.end());
        return colRanges_[at];
    }
    ColRange c;
    c.min = c.max = column;
    c.attrs = {{"min", std::to_string(column)}, {"max", std::to_string(column)}, {"width", defaultWidth}};
    c.dirty = true;
    auto it = std::lower_bound(colRanges_.begin(), colRanges_.end(), column,
                               [](const ColRange& x, int v) { return x.min < v; });
    return *colRanges_.insert(it, c);
}

std::vector<int> Sheet::rowsWithCellsIn(int column) const {
    std::set<int> out;
    for (const Row& r : rows_)
        if (cellIn(r, column)) out.insert(r.r);
    for (const auto& [key, p] : pending_)
        if (key.second == column) out.insert(key.first);
    return {out.begin(), out.end()};
}

double Sheet::defaultWidth(int mdw) const {
    if (sheetFormatPr_) {
        if (const auto* w = sheetFormatPr_->first.attribute("defaultColWidth")) {
            const double d = toDouble(*w);
            if (d > 0) return d;
        }
    }
    int base = 8;
    if (sheetFormatPr_) base = toInt(sheetFormatPr_->first.attribute("baseColWidth"), 8);
    const double px = base * mdw + 5;
    return std::trunc(px / mdw * 256) / 256;
}

void Sheet::select(bool on) {
    selected_ = on;
    selectionChanged_ = true;
}

bool Sheet::isSelected(Package& pkg) {
    if (selectionChanged_) return selected_;
    auto on = [](const xml::Element& v) {
        const auto* t = v.attribute("tabSelected");
        return t && (*t == "1" || *t == "true");
    };
    if (headKnown_) return std::any_of(sheetViewList_.begin(), sheetViewList_.end(), on);
    // The views come before the cells: inflate and scan only that far, once.
    if (selectedInFile_) return *selectedInFile_;
    struct Views : xml::Handler {
        xml::Scanner* scanner = nullptr;
        bool selected = false;
        std::function<bool(const xml::Element&)> test;
        void start(const xml::Element& el) override {
            if (el.depth == 2 && el.local == "sheetView" && test(el)) selected = true;
            if (el.depth == 1 && el.local == "sheetData") scanner->stop();
        }
    } views;
    views.test = on;
    xml::Scanner scanner(part_, views);
    views.scanner = &scanner;
    scanEntry(pkg, part_, scanner);
    selectedInFile_ = views.selected;
    return views.selected;
}

bool Sheet::cellsChanged() const {
    return !pending_.empty() || !packedPending_.empty() ||
           std::any_of(colRanges_.begin(), colRanges_.end(), [](const ColRange& c) { return c.dirty; });
}

bool Sheet::overwritten(int row, int column) const {
    const auto p = pending_.find({row, column});
    return p != pending_.end() && p->second.value;
}

} // namespace ordana::spreadsheet::xlsx
