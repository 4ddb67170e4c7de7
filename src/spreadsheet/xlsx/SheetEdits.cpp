// The save's edits of a worksheet part: the columns isolated, the cells written into their rows or new ones,
// shared formulas kept whole, the used range and the selection; every other byte of the part stays.
#include "Sheet.h"

#include "common/Text.h"
#include "spreadsheet/zip/Compression.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

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
