#include "Sheet.h"

#include "common/Text.h"
#include "spreadsheet/PackedValues.h"
#include "spreadsheet/zip/Compression.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <functional>

namespace ordana::spreadsheet::xlsx {

namespace {

xml::Element elementAt(const Span& s, const std::string& prefix, const std::string& local) {
    xml::Element e;
    e.prefix = prefix;
    e.local = local;
    e.begin = s.begin;
    e.startEnd = s.startEnd;
    return e;
}

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

std::string unescaped(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto semi = s[i] == '&' ? s.find(';', i) : std::string_view::npos;
        if (semi == std::string_view::npos) {
            out += s[i];
            continue;
        }
        const std::string_view e = s.substr(i + 1, semi - i - 1);
        static const std::pair<std::string_view, char> named[] = {
            {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
        bool done = false;
        for (const auto& [n, c] : named)
            if (e == n) out += c, done = true;
        if (!done && e.size() > 1 && e[0] == '#') {
            unsigned long code = 0;
            const bool hex = e[1] == 'x';
            const auto r =
                std::from_chars(e.data() + (hex ? 2 : 1), e.data() + e.size(), code, hex ? 16 : 10);
            if (r.ec == std::errc() && r.ptr == e.data() + e.size() && code > 0 && code < 0x110000) {
                // UTF-8 of the code point.
                if (code < 0x80) {
                    out += char(code);
                } else if (code < 0x800) {
                    out += char(0xC0 | (code >> 6)), out += char(0x80 | (code & 0x3F));
                } else if (code < 0x10000) {
                    out += char(0xE0 | (code >> 12)), out += char(0x80 | ((code >> 6) & 0x3F));
                    out += char(0x80 | (code & 0x3F));
                } else {
                    out += char(0xF0 | (code >> 18)), out += char(0x80 | ((code >> 12) & 0x3F));
                    out += char(0x80 | ((code >> 6) & 0x3F)), out += char(0x80 | (code & 0x3F));
                }
                done = true;
            }
        }
        if (!done) {
            out += s[i];
            continue;
        }
        i = semi;
    }
    return out;
}

} // namespace

namespace {

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

std::string Sheet::colXml(const ColRange& c) const {
    std::string s = "<" + qualifiedName(prefix_, "col");
    for (const auto& [k, v] : c.attrs)
        s += " " + k + "=\"" + xml::escapeAttribute(v) + "\"";
    return s + "/>";
}

std::string Sheet::cellXml(int row, int column, const Cell* old, const Pending& p,
                           SharedStrings& strings) const {
    std::string s = "<" + qualifiedName(prefix_, "c") + " r=\"" + text::cellAddress(row, column) + "\"";
    int style = p.style ? *p.style : (old ? old->style : -1);
    if (!p.style && !old) {
        const int colStyle = styleOf(row, column);
        if (colStyle > 0) style = colStyle;
    }
    if (old) {
        // The cell's other attributes stay; its type and value metadata go with the old value.
        for (const auto& [n, span] : xml::attributeSpans(*bytes_, elementAt(old->span, prefix_, "c"))) {
            if (n == "r" || n == "s" || n == "t" || n == "vm" || n == "cm") continue;
            s += " " + std::string(reinterpret_cast<const char*>(bytes_->data() + span.begin),
                                   span.end - span.begin);
        }
    }
    if (style >= 0 && !(style == 0 && (!old || old->style < 0))) s += " s=\"" + std::to_string(style) + "\"";
    const std::string v = qualifiedName(prefix_, "v");
    const CellValue& value = *p.value;
    switch (value.kind()) {
    case CellValue::Kind::Empty:
        return s + "/>";
    case CellValue::Kind::Number:
        return s + "><" + v + ">" + numberText(value.numberValue()) + "</" + v + "></" +
               qualifiedName(prefix_, "c") + ">";
    case CellValue::Kind::Text:
        return s + " t=\"s\"><" + v + ">" + std::to_string(strings.indexOf(value.textValue())) + "</" + v +
               "></" + qualifiedName(prefix_, "c") + ">";
    case CellValue::Kind::Boolean:
        return s + " t=\"b\"><" + v + ">" + (value.booleanValue() ? "1" : "0") + "</" + v + "></" +
               qualifiedName(prefix_, "c") + ">";
    case CellValue::Kind::Error:
        return s + " t=\"e\"><" + v + ">" + errorText(value.errorCode()) + "</" + v + "></" +
               qualifiedName(prefix_, "c") + ">";
    }
    return s + "/>";
}

// The cell's formula element, read off its bytes: a cell's few bytes, read only for shared formulas.
std::optional<Sheet::FormulaTag> Sheet::formulaOf(const Cell& c) const {
    const std::string_view part(reinterpret_cast<const char*>(bytes_->data()), bytes_->size());
    const std::string name = qualifiedName(prefix_, "f");
    std::size_t at = c.span.startEnd;
    while (true) {
        at = part.find("<" + name, at);
        if (at == std::string_view::npos || at >= c.span.endBegin) return std::nullopt;
        const char after = at + 1 + name.size() < part.size() ? part[at + 1 + name.size()] : '\0';
        if (after == ' ' || after == '/' || after == '>' || after == '\t' || after == '\n' || after == '\r')
            break;
        ++at;
    }
    std::size_t close = at + 1 + name.size();
    for (char quote = 0; close < c.span.endBegin; ++close) {
        if (quote) {
            if (part[close] == quote) quote = 0;
        } else if (part[close] == '"' || part[close] == '\'') {
            quote = part[close];
        } else if (part[close] == '>') {
            break;
        }
    }
    if (close >= c.span.endBegin) return std::nullopt;
    FormulaTag f;
    f.begin = at;
    const xml::Element e = elementAt(spanOf(at, close + 1, close + 1, close + 1), prefix_, "f");
    for (const auto& [n, span] : xml::attributeSpans(*bytes_, e)) {
        const std::string value(part.substr(span.valueBegin, span.valueEnd - span.valueBegin));
        if (n == "t") f.type = value;
        if (n == "si") f.si = value;
        if (n == "ref") f.ref = value;
    }
    if (part[close - 1] == '/') {
        f.end = close + 1;
        return f;
    }
    const std::size_t endTag = part.find("</" + name + ">", close + 1);
    if (endTag == std::string_view::npos || endTag >= c.span.endBegin) return std::nullopt;
    f.text = unescaped(part.substr(close + 1, endTag - close - 1));
    f.end = endTag + name.size() + 3;
    return f;
}

// The cells that keep a shared formula whose master is overwritten get a master of their own: the top left
// of them, the formula moved to read from there as it read from the old master, its range what they span.
// Kept cells whose top left is no formula cell of the group cannot be one range: refused, as before.
void Sheet::rehost(int row, int column, PartEditor& ed) const {
    const auto master = formulaOf(*find(row, column));
    int r1 = 0, c1 = 0, r2 = 0, c2 = 0;
    const auto colon = master ? master->ref.find(':') : std::string::npos;
    if (!master || master->type != "shared" || master->si.empty() || colon == std::string::npos ||
        !parseCellRef(std::string_view(master->ref).substr(0, colon), r1, c1) ||
        !parseCellRef(std::string_view(master->ref).substr(colon + 1), r2, c2))
        return;
    struct Kept {
        int row, column;
        FormulaTag f;
    };
    std::vector<Kept> kept;
    auto r = std::lower_bound(rows_.begin(), rows_.end(), std::min(r1, r2),
                              [](const Row& x, int v) { return x.r < v; });
    for (; r != rows_.end() && r->r <= std::max(r1, r2); ++r)
        for (const Cell& c : r->cells) {
            if (!c.formula || c.column < std::min(c1, c2) || c.column > std::max(c1, c2) ||
                overwritten(r->r, c.column) || (r->r == row && c.column == column))
                continue;
            auto f = formulaOf(c);
            if (f && f->type == "shared" && f->si == master->si && f->text.empty() && f->ref.empty())
                kept.push_back({r->r, c.column, std::move(*f)});
        }
    if (kept.empty()) return;
    int top = kept.front().row, left = kept.front().column;
    for (const Kept& k : kept)
        top = std::min(top, k.row), left = std::min(left, k.column);
    // One group under the top left cell if it is kept, else one per column, each but the first under a
    // number of its own.
    std::map<int, std::vector<const Kept*>> groups;
    const bool oneHost = std::any_of(kept.begin(), kept.end(),
                                     [&](const Kept& k) { return k.row == top && k.column == left; });
    for (const Kept& k : kept)
        groups[oneHost ? 0 : k.column].push_back(&k);
    const std::string f = qualifiedName(prefix_, "f");
    bool first = true;
    for (auto& [key, group] : groups) {
        int gTop = group.front()->row, gBottom = gTop, gLeft = group.front()->column, gRight = gLeft;
        for (const Kept* k : group) {
            gTop = std::min(gTop, k->row), gBottom = std::max(gBottom, k->row);
            gLeft = std::min(gLeft, k->column), gRight = std::max(gRight, k->column);
        }
        const Kept* host = *std::find_if(group.begin(), group.end(),
                                         [&](const Kept* k) { return k->row == gTop && k->column == gLeft; });
        const auto moved = movedFormula(master->text, gTop - row, gLeft - column);
        if (!moved)
            fail("celula " + text::cellAddress(row, column) + " a foii " + text::quoted(name_) +
                 " tine formula partajata folosita si de alte celule, care nu poate fi mutata pe celula " +
                 text::cellAddress(gTop, gLeft) + "; celula nu poate fi suprascrisa");
        const std::string si = first ? master->si : std::to_string(freeSharedIndex());
        first = false;
        const std::string body = ">" + xml::escapeText(*moved) + "</" + f + ">";
        if (group.size() == 1) {
            ed.replace(host->f.begin, host->f.end, "<" + f + body);
            continue;
        }
        ed.replace(host->f.begin, host->f.end,
                   "<" + f + " t=\"shared\" ref=\"" + text::cellAddress(gTop, gLeft) + ":" +
                       text::cellAddress(gBottom, gRight) + "\" si=\"" + xml::escapeAttribute(si) + "\"" +
                       body);
        if (si != master->si)
            for (const Kept* k : group)
                if (k != host)
                    ed.replace(k->f.begin, k->f.end, "<" + f + " t=\"shared\" si=\"" + si + "\"/>");
    }
}

// A shared formula number no formula of the sheet uses yet.
int Sheet::freeSharedIndex() const {
    if (nextSharedIndex_ < 0) {
        nextSharedIndex_ = 0;
        for (const Row& r : rows_)
            for (const Cell& c : r.cells)
                if (c.formula)
                    if (const auto f = formulaOf(c); f && !f->si.empty())
                        nextSharedIndex_ = std::max(nextSharedIndex_, toInt(&f->si, 0) + 1);
    }
    return nextSharedIndex_++;
}

xml::Edits Sheet::edits(Package& pkg, SharedStrings& strings) {
    if (cellsChanged() && !frozen_) load(pkg);
    if (!indexed_) readHead(pkg);
    const std::span<const std::uint8_t> bytes = headBytes();
    checkEditable(part_, bytes);
    // Selection first: a new <sheetViews> goes before anything else inserted at the same place.
    PartEditor ed(bytes);
    if (selectionChanged_) writeSelection(ed);
    xml::Edits out = ed.edits();
    if (cellsChanged() && frozen_) {
        const auto edits = zip::unpackBytes(*frozen_, frozenSize_);
        out.append(xml::Edits::unpack({reinterpret_cast<const char*>(edits.data()), edits.size()}));
    } else if (cellsChanged()) {
        out.append(cellEdits(strings));
    }
    return out;
}

xml::Edits Sheet::cellEdits(SharedStrings& strings) const {
    PartEditor ed(*bytes_);
    writeColumns(ed);
    // Shared formulas whose master cell is overwritten: the cells that keep the formula get a new master.
    for (const auto& [key, pend] : pending_)
        if (const Cell* c = pend.value ? find(key.first, key.second) : nullptr; c && c->sharedMaster)
            rehost(key.first, key.second, ed);
    writeRows(ed, strings);
    return ed.edits();
}

void Sheet::writeSelection(PartEditor& ed) const {
    const std::string& p = prefix_;
    if (!sheetViewList_.empty()) {
        const auto* t = sheetViewList_.front().attribute("tabSelected");
        const bool on = t && (*t == "1" || *t == "true");
        if (on != selected_) ed.setAttribute(sheetViewList_.front(), "tabSelected", selected_ ? "1" : "0");
        for (std::size_t i = 1; i < sheetViewList_.size() && !selected_; ++i)
            if (const auto* u = sheetViewList_[i].attribute("tabSelected"); u && (*u == "1" || *u == "true"))
                ed.setAttribute(sheetViewList_[i], "tabSelected", "0");
    } else if (selected_ && !sheetViews_) {
        const std::size_t at = sheetFormatPr_ ? sheetFormatPr_->first.begin
                               : cols_        ? cols_->first.begin
                                              : sheetData_->first.begin;
        ed.insert(at, "<" + qualifiedName(p, "sheetViews") + "><" + qualifiedName(p, "sheetView") +
                          " tabSelected=\"1\" workbookViewId=\"0\"/></" + qualifiedName(p, "sheetViews") +
                          ">");
    }
}

// Each changed original <col> is replaced by what it became; new ranges go beside their neighbours.
void Sheet::writeColumns(PartEditor& ed) const {
    std::map<int, std::string> byOrigin;
    std::map<int, bool> originDirty;
    for (const ColRange& c : colRanges_)
        if (c.origin >= 0) originDirty[c.origin] = originDirty[c.origin] || c.dirty;
    std::string leading;                    // new ranges before any original one
    std::map<int, std::string> afterOrigin; // new ranges after an original one
    int lastOrigin = -1;
    for (const ColRange& c : colRanges_) {
        if (c.origin >= 0) {
            lastOrigin = c.origin;
            if (originDirty[c.origin]) byOrigin[c.origin] += colXml(c);
        } else if (lastOrigin < 0) {
            leading += colXml(c);
        } else if (originDirty[lastOrigin]) {
            byOrigin[lastOrigin] += colXml(c);
        } else {
            afterOrigin[lastOrigin] += colXml(c);
        }
    }
    for (const auto& [o, text] : byOrigin)
        ed.replace(colSpans_[std::size_t(o)].begin, colSpans_[std::size_t(o)].end, text);
    for (const auto& [o, text] : afterOrigin)
        ed.insert(colSpans_[std::size_t(o)].end, text);
    if (leading.empty()) return;
    if (!colSpans_.empty())
        ed.insert(colSpans_.front().begin, leading);
    else if (cols_)
        ed.appendChild(cols_->first, cols_->second, leading);
    else
        ed.insert(sheetData_->first.begin, "<" + qualifiedName(prefix_, "cols") + ">" + leading + "</" +
                                               qualifiedName(prefix_, "cols") + ">");
}

// The pending cells, row by row in ascending order, into the rows they belong to or new ones; the used
// range grows to cover them.
void Sheet::writeRows(PartEditor& ed, SharedStrings& strings) const {
    int minRow = INT32_MAX, maxRow = 0, minCol = INT32_MAX, maxCol = 0;
    std::map<int, RowCells> byRow;
    for (const auto& [key, pend] : pending_) {
        byRow[key.first].emplace_back(key.second, &pend);
        minRow = std::min(minRow, key.first), maxRow = std::max(maxRow, key.first);
        minCol = std::min(minCol, key.second), maxCol = std::max(maxCol, key.second);
    }
    bool rowsNeedRefs = false;
    for (const auto& [r, cells] : byRow) {
        auto it =
            std::lower_bound(rows_.begin(), rows_.end(), r, [](const Row& x, int v) { return x.r < v; });
        if (it != rows_.end() && it->r == r) {
            writeCells(ed, *it, cells, strings);
            widenSpans(ed, *it, cells);
            continue;
        }
        const std::string text = rowXml(r, cells, strings);
        rowsNeedRefs = true;
        if (it != rows_.end())
            ed.insert(it->span.begin, text);
        else
            ed.appendChild(sheetData_->first, sheetData_->second, text);
    }
    if (rowsNeedRefs)
        for (const Row& row : rows_)
            if (!row.hasRef) ed.setAttribute(elementAt(row.span, prefix_, "row"), "r", std::to_string(row.r));
    if (dimension_ && maxRow > 0) growDimension(ed, minRow, minCol, maxRow, maxCol);
}

// The cells of a row the part has: each replaced, restyled or inserted in its place.
void Sheet::writeCells(PartEditor& ed, const Row& row, const RowCells& cells, SharedStrings& strings) const {
    const int r = row.r;
    const std::string& p = prefix_;
    const xml::Element rowEl = elementAt(row.span, p, "row");
    bool addsCells = false;
    std::set<int> replaced;
    for (const auto& [col, pend] : cells) {
        const Cell* old = find(r, col);
        if (old && pend->value) {
            ed.replace(old->span.begin, old->span.end, cellXml(r, col, old, *pend, strings));
            replaced.insert(col);
        } else if (old) {
            ed.setAttribute(elementAt(old->span, p, "c"), "s", std::to_string(*pend->style));
            replaced.insert(col);
        } else {
            Pending full = *pend;
            if (!full.value) full.value = CellValue();
            addsCells = true;
            auto next = std::lower_bound(row.cells.begin(), row.cells.end(), col,
                                         [](const Cell& x, int v) { return x.column < v; });
            if (next != row.cells.end())
                ed.insert(next->span.begin, cellXml(r, col, nullptr, full, strings));
            else
                ed.appendChild(rowEl, {row.span.endBegin, row.span.end},
                               cellXml(r, col, nullptr, full, strings));
        }
    }
    // Cells without a reference are placed by those before them: a cell inserted among them needs them named.
    if (addsCells)
        for (const Cell& c : row.cells)
            if (!c.hasRef && !replaced.count(c.column))
                ed.setAttribute(elementAt(c.span, p, "c"), "r", text::cellAddress(r, c.column));
}

// A row's spans attribute, where it has one, grown to cover the cells written into it.
void Sheet::widenSpans(PartEditor& ed, const Row& row, const RowCells& cells) const {
    if (!row.hasSpans) return;
    const auto colon = row.spans.find(':');
    int a = toInt(&row.spans, 0), b = a;
    if (colon != std::string::npos) {
        const std::string x = row.spans.substr(0, colon), y = row.spans.substr(colon + 1);
        a = toInt(&x, 0), b = toInt(&y, 0);
    }
    const int na = std::min(a > 0 ? a : cells.front().first, cells.front().first);
    const int nb = std::max(b, cells.back().first);
    if (na != a || nb != b)
        ed.setAttribute(elementAt(row.span, prefix_, "row"), "spans",
                        std::to_string(na) + ":" + std::to_string(nb));
}

// A row the part does not have, with its cells.
std::string Sheet::rowXml(int r, const RowCells& cells, SharedStrings& strings) const {
    std::string text = "<" + qualifiedName(prefix_, "row") + " r=\"" + std::to_string(r) + "\">";
    for (const auto& [col, pend] : cells) {
        Pending full = *pend;
        if (!full.value) full.value = CellValue();
        text += cellXml(r, col, nullptr, full, strings);
    }
    return text + "</" + qualifiedName(prefix_, "row") + ">";
}

// The used range grown to cover what was written.
void Sheet::growDimension(PartEditor& ed, int minRow, int minCol, int maxRow, int maxCol) const {
    const std::string* ref = dimension_->first.attribute("ref");
    int r1 = minRow, c1 = minCol, r2 = maxRow, c2 = maxCol;
    bool had = false;
    if (ref) {
        const auto colon = ref->find(':');
        int a = 0, b = 0, c = 0, d = 0;
        if (parseCellRef(ref->substr(0, colon), a, b)) {
            c = a, d = b;
            if (colon != std::string::npos && !parseCellRef(ref->substr(colon + 1), c, d)) c = a, d = b;
            if (!(a == 1 && b == 1 && c == 1 && d == 1 && rows_.empty())) {
                had = true;
                r1 = std::min(r1, a), c1 = std::min(c1, b), r2 = std::max(r2, c), c2 = std::max(c2, d);
            }
        }
    }
    const std::string now = r1 == r2 && c1 == c2
                                ? text::cellAddress(r1, c1)
                                : text::cellAddress(r1, c1) + ":" + text::cellAddress(r2, c2);
    if (!had || !ref || *ref != now) ed.setAttribute(dimension_->first, "ref", now);
}

} // namespace ordana::spreadsheet::xlsx
