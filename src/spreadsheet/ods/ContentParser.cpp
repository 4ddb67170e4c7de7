#include "ContentParser.h"

#include "CellValues.h"
#include "Corrupt.h"
#include "common/CellValue.h"
#include "common/RuntimeError.h"
#include "spreadsheet/xml/Escape.h"

#include <algorithm>
#include <iterator>
#include <set>

namespace ordana::spreadsheet::ods {

// Names compared as views: their lengths first, where a std::string against a literal measures both.
using namespace std::string_view_literals;

namespace {

std::string qname(const ContentParser::Name& n) {
    return n.prefix.empty() ? std::string(n.local) : std::string(n.prefix) + ":" + std::string(n.local);
}

} // namespace

void ContentParser::declare(std::string_view prefix, const char* uri) {
    scope.declare(prefix, uri, stack.size() + 1);
    changed();
    if (!target && *uri && !c.prefixes_.count(uri)) c.prefixes_[uri] = std::string(prefix);
}

// The declarations of the elements closed, down to depth.
void ContentParser::undeclare(std::size_t depth) {
    if (scope.leave(depth)) changed();
}

void ContentParser::changed() {
    for (Found& f : found)
        f.prefix.clear();
    declared.reset();
}

// The constant of a namespace this reader knows, so that most tests are one comparison of addresses.
std::string_view ContentParser::canonical(const std::string& uri) {
    for (std::string_view k : {ns::office, ns::table, ns::text, ns::style, ns::fo, ns::number, ns::calcext})
        if (uri == k) return k;
    return uri;
}

std::string_view ContentParser::uriOf(std::string_view prefix) {
    Found& f = found[(prefix.size() * 7 + std::uint8_t(prefix.front()) + std::uint8_t(prefix.back())) & 63];
    if (f.prefix == prefix) return f.uri;
    const std::string* uri = scope.find(prefix);
    if (!uri) return {};
    f.prefix.assign(prefix);
    f.uri = canonical(*uri);
    return f.uri;
}

// False for a prefix that nothing binds.
bool ContentParser::resolve(const char* qn, bool element, Name& out) {
    const auto name = xml::NamespaceScope::split(qn);
    out = {{}, name.local, name.prefix};
    if (name.prefix.empty()) {
        if (element)
            if (const std::string* uri = scope.find({})) out.uri = canonical(*uri);
        return true;
    }
    out.uri = uriOf(name.prefix);
    return !out.uri.empty();
}

// Made once for all the sheets that start under the same declarations: a part may declare thousands.
const std::shared_ptr<const std::string>& ContentParser::declarationsInScope() const {
    if (declared) return declared;
    std::string out;
    std::set<std::string_view> seen;
    const auto& all = scope.bindings();
    for (auto it = all.rbegin(); it != all.rend(); ++it)
        if (seen.insert(it->prefix).second)
            out += (it->prefix.empty() ? std::string(" xmlns") : " xmlns:" + it->prefix) + "=\"" +
                   xml::escapeAttribute(it->uri) + "\"";
    declared = std::make_shared<const std::string>(std::move(out));
    return declared;
}

void ContentParser::count(Held& into, std::size_t n) {
    if (into.tryAdd(n)) return;
    // Thrown where only this program's code is between here and the reader: through expat, a refusal.
    if (plain || !p) into.budget()->refuse("content.xml");
    refuse(into.budget()->beyond());
}

void ContentParser::refuse(std::string why) {
    if (plain) return plain->stop(); // expat says it
    if (failure.empty()) failure = std::move(why);
    XML_StopParser(p, XML_FALSE);
}

void ContentParser::onDoctype(void* u, const char*, const char*, const char*, int) {
    static_cast<ContentParser*>(u)->refuse(xml::doctypeRefused());
}

// A prefix that nothing binds: the parse stops, with expat's own error for it.
void ContentParser::refuseName() {
    if (plain) return plain->stop(); // expat says where
    if (badName) return;
    badName = true;
    badLine = std::size_t(XML_GetCurrentLineNumber(p));
    badByte = pos();
    XML_StopParser(p, XML_FALSE);
}

void ContentParser::start(const char* rawName, const char** attrs) {
    if (replay) {
        --replay;
        return;
    }
    if (stack.size() >= xml::kMaxDepth || !failure.empty()) {
        // Each level holds memory here and in expat: a part nested beyond reason is refused.
        refuse(xml::nestedTooDeep());
        stack.push_back(Ctx::Skip); // for the end expat may still report
        if (!target) open.emplace_back(rawName);
        return;
    }
    if (!target) open.emplace_back(rawName);
    const Ctx parent = stack.empty() ? Ctx::Other : stack.back();
    if (parent == Ctx::Skip || badName) {
        // Most of a large part: rows past the first ones of a sheet not asked for yet.
        stack.push_back(Ctx::Skip);
        return;
    }
    Name n;
    if (!resolveNames(rawName, attrs, n)) {
        refuseName();
        stack.push_back(Ctx::Skip);
        return;
    }
    const Ctx ctx = childContext(n, parent);
    stack.push_back(ctx);
}

bool ContentParser::resolveNames(const char* rawName, const char** attrs, Name& n) {
    for (const char** a = attrs; *a; a += 2)
        if (xml::NamespaceScope::isDeclaration(a[0]))
            declare(a[0][5] ? std::string_view(a[0] + 6) : std::string_view(), a[1]);
    if (!resolve(rawName, true, n)) return false;
    parsed.clear();
    for (const char** a = attrs; *a; a += 2) {
        if (xml::NamespaceScope::isDeclaration(a[0])) continue;
        Name an;
        if (!resolve(a[0], false, an)) return false;
        parsed.push_back({an, a[1]});
        if (an.local == "name" && an.in(ns::style) && c.usedNames_.insert(a[1]).second && held)
            count(*held, 64 + std::strlen(a[1]));
    }
    return true;
}

const char* ContentParser::parsedAttr(std::string_view uri, std::string_view local) const {
    for (const ParsedAttr& a : parsed)
        if (a.name.local == local && a.name.in(uri)) return a.value;
    return nullptr;
}

ContentParser::Ctx ContentParser::childContext(const Name& n, Ctx parent) {
    switch (parent) {
    case Ctx::Skip:
        return Ctx::Skip;
    case Ctx::Cell:
        return inCell(n);
    case Ctx::Para:
        return inPara(n);
    case Ctx::AutoStyles:
        return inAutoStyles(n);
    case Ctx::Style:
        inStyle(n);
        return Ctx::Skip;
    case Ctx::NumberStyle:
        inNumberStyle(n);
        return Ctx::NumberStyle;
    default:
        return elsewhere(n, parent);
    }
}

ContentParser::Ctx ContentParser::inCell(const Name& n) {
    if (n.in(ns::text) && (n.local == "p" || n.local == "h")) {
        beginPara();
        return Ctx::Para;
    }
    // Annotations, frames, detective marks: not the cell's text, kept when the cell is overwritten.
    if (cell) cell->keep.push_back({pos(), 0});
    keepDepth = stack.size() + 1;
    return Ctx::Skip;
}

ContentParser::Ctx ContentParser::inPara(const Name& n) {
    if (n.in(ns::text) && collect) {
        if (n.local == "s") {
            std::uint32_t k = 1;
            for (const ParsedAttr& a : parsed)
                if (a.name.local == "c") k = std::min<std::uint32_t>(repeatOf(a.value), 65536);
            count(textHeld, k);
            cellText.append(k, ' ');
        } else if (n.local == "tab") {
            appendText("\t");
        } else if (n.local == "line-break") {
            appendText("\n");
        } else if (n.local == "note" || n.local == "ruby-text") {
            return Ctx::Skip;
        }
    } else if (n.in(ns::office) && n.local == "annotation") {
        return Ctx::Skip;
    }
    return Ctx::Para;
}

ContentParser::Ctx ContentParser::inAutoStyles(const Name& n) {
    if (n.in(ns::style) && n.local == "style") {
        startStyle();
        return Ctx::Style;
    }
    if (!n.in(ns::number)) return Ctx::Other;
    numberDepth = 1;
    numberSig = std::string(n.local);
    numberName.clear();
    for (const ParsedAttr& a : parsed) {
        if (a.name.local == "name" && a.name.in(ns::style))
            numberName = a.value;
        else
            numberSig += " " + std::string(a.name.local) + "=" + a.value;
    }
    return Ctx::NumberStyle;
}

void ContentParser::inStyle(const Name& n) {
    if (!style) return;
    if (n.in(ns::style) && n.local.size() > 11 && n.local.substr(n.local.size() - 11) == "-properties") {
        PropertyEl pe{std::string(n.uri), std::string(n.local), qname(n), {}};
        for (const ParsedAttr& a : parsed) {
            const Name& an = a.name;
            pe.attrs.push_back({std::string(an.uri), std::string(an.local), qname(an), a.value});
            if (n.local == "table-properties" && an.local == "display" && an.in(ns::table) &&
                std::string_view(a.value) == "false")
                style->hidden = true;
        }
        if (held) count(*held, sizeof(PropertyEl) + pe.attrs.size() * (sizeof(Attr) + 64));
        style->props.push_back(std::move(pe));
    } else {
        style->other.push_back({pos(), 0});
        pendingOther = stack.size() + 1;
    }
}

void ContentParser::inNumberStyle(const Name& n) {
    ++numberDepth;
    numberSig += " <" + std::string(n.local);
    for (const ParsedAttr& a : parsed)
        numberSig += " " + std::string(a.name.local) + "=" + a.value;
}

ContentParser::Ctx ContentParser::elsewhere(const Name& n, Ctx parent) {
    if (n.in(ns::office)) {
        // Styles after the body are not kept (the body is not held), nor are they where any producer writes
        // them.
        if (n.local == "automatic-styles" && stack.size() == 1 && c.bodyStart_ == std::string::npos &&
            !target) {
            c.autoStylesTag_ = {pos(), pos() + count()};
            return Ctx::AutoStyles;
        }
        if (n.local == "body" && c.bodyStart_ == std::string::npos && !target) c.bodyStart_ = pos();
    } else if (n.in(ns::table)) {
        return startTableElement(n, parent);
    }
    return Ctx::Other;
}

void ContentParser::startStyle() {
    AutoStyle s;
    for (const ParsedAttr& a : parsed) {
        const Name& an = a.name;
        if (an.in(ns::style) && an.local == "name")
            s.name = a.value;
        else if (an.in(ns::style) && an.local == "family")
            s.family = a.value;
        else if (an.in(ns::style) && an.local == "parent-style-name")
            s.parent = a.value;
        else if (an.in(ns::style) && an.local == "data-style-name")
            s.dataStyle = a.value;
        else
            s.attrs.push_back({std::string(an.uri), std::string(an.local), qname(an), a.value});
    }
    if (s.name.empty() || c.styles_.count(s.name)) {
        style = nullptr;
        return;
    }
    if (held) count(*held, sizeof(AutoStyle) + 64 + s.name.size() + s.attrs.size() * (sizeof(Attr) + 64));
    style = &c.styles_.emplace(s.name, std::move(s)).first->second;
}

ContentParser::Ctx ContentParser::startTableElement(const Name& n, Ctx parent) {
    if (n.local == "table") return startTable(parent);
    if (!table) {
        if (n.local == "null-date")
            if (const char* v = parsedAttr(ns::table, "date-value"))
                if (auto d = parseDate(v)) c.nullDate_ = *d;
        return Ctx::Other;
    }
    if (parent == Ctx::Table) return inTable(n);
    if (parent == Ctx::Row && row && (n.local == "table-cell" || n.local == "covered-table-cell")) {
        beginCell(cellAttrs([&](std::string_view uri, std::string_view local) {
                      return value(parsedAttr(uri, local));
                  }),
                  n.local == "covered-table-cell", pos(), pos() + count());
        return Ctx::Cell;
    }
    return Ctx::Other;
}

ContentParser::Ctx ContentParser::startTable(Ctx parent) {
    if (table || parent == Ctx::Cell || parent == Ctx::Skip)
        return Ctx::Skip; // a table inside a cell is not a sheet
    if (target) {
        Held h = std::move(target->held);
        *target = Table{};
        target->held = std::move(h);
        table = target;
    } else {
        if (held)
            count(*held,
                  c.tables_.size() == c.tables_.capacity() ? (c.tables_.capacity() + 1) * sizeof(Table) : 0);
        table = &c.tables_.emplace_back();
        table->nsInScope = declarationsInScope();
    }
    table->whole = target != nullptr;
    if (const char* v = parsedAttr(ns::table, "name")) table->name = v;
    if (const char* v = parsedAttr(ns::table, "style-name")) table->style = v;
    if (held) count(*held, heapOf(table->name) + heapOf(table->style));
    table->span.begin = pos();
    table->columnsEnd = table->rowsEnd = pos() + count();
    tableDepth = int(stack.size());
    nextRow = nextCol = nextColumnEl = 0;
    return Ctx::Table;
}

ContentParser::Ctx ContentParser::inTable(const Name& n) {
    if (n.local == "table-column") {
        startColumn();
        return Ctx::Skip;
    }
    if (n.local == "table-column-group" || n.local == "table-header-columns" || n.local == "table-columns")
        return Ctx::Table; // columns inside keep their places
    if (n.local == "table-row-group" || n.local == "table-header-rows" || n.local == "table-rows")
        return Ctx::Table;
    if (n.local != "table-row") return Ctx::Other;
    if (!table->whole && nextRow >= kFirstRows) {
        // The row's '<' must be in the bytes at hand for the scan to start there.
        if (!target && pos() >= pieceBase) {
            skipFrom = pos();
            XML_StopParser(p, XML_FALSE);
        }
        return Ctx::Skip;
    }
    beginRow([&](std::string_view local) -> Value { return value(parsedAttr(ns::table, local)); }, pos(),
             pos() + count());
    return Ctx::Row;
}

void ContentParser::startColumn() {
    ColEl col;
    col.original = true;
    col.origin = table->cols.size();
    col.first = std::uint32_t(std::min<std::uint64_t>(nextColumnEl, 0xFFFFFFFF));
    if (const char* v = parsedAttr(ns::table, "number-columns-repeated")) col.repeat = repeatOf(v);
    col.origRepeat = col.repeat;
    nextColumnEl += col.repeat;
    if (const char* v = parsedAttr(ns::table, "style-name")) col.style = col.origStyle = v;
    if (const char* v = parsedAttr(ns::table, "default-cell-style-name"))
        col.defaultCellStyle = col.origDefaultCellStyle = v;
    if (held)
        count(
            *held,
            sizeof(ColEl) + 2 * (heapOf(col.style) + heapOf(col.defaultCellStyle)) +
                (table->cols.size() == table->cols.capacity() ? table->cols.capacity() * sizeof(ColEl) : 0));
    col.span.begin = pos();
    col.tagEnd = pos() + count();
    table->cols.push_back(std::move(col));
    colOpen = true;
}

void ContentParser::endRow(std::size_t innerEnd, std::size_t end) {
    if (held) {
        std::size_t n = 0;
        for (const CellEl& ce : rowCells)
            n += heapOf(ce.style) + ce.keep.capacity() * sizeof(Span) +
                 (ce.value.kind() == CellValue::Kind::Text ? ce.value.textValue().capacity() : 0);
        count(*held, n);
    }
    row->span.end = end;
    row->innerEnd = innerEnd;
    row->cells.reserve(rowCells.size());
    std::move(rowCells.begin(), rowCells.end(), std::back_inserter(row->cells));
    rowCells.clear();
    table->rowsEnd = std::max(table->rowsEnd, end);
    row = nullptr;
}

void ContentParser::beginCell(const CellAttrs& a, bool covered, std::size_t begin, std::size_t tagEnd) {
    CellEl ce;
    ce.original = true;
    ce.covered = covered;
    ce.first = std::uint32_t(std::min<std::uint64_t>(nextCol, 0xFFFFFFFF));
    if (a.repeated) ce.repeat = repeatOf(*a.repeated);
    ce.origRepeat = ce.repeat;
    nextCol += ce.repeat;
    if (a.style) ce.style = *a.style;
    ce.span.begin = begin;
    ce.tagEnd = tagEnd;
    if (held) count(*held, sizeof(CellEl));
    textHeld.clear();
    rowCells.push_back(std::move(ce));
    cell = &rowCells.back();
    if (++cellsIndexed > kMaxIndexBytes / sizeof(CellEl))
        refuse("are mai mult de " + std::to_string(kMaxIndexBytes / sizeof(CellEl)) +
               " de celule, prea multe pentru a fi prelucrate");
    cellType = a.type ? *a.type : std::string_view();
    calcType = a.calcType ? *a.calcType : std::string_view();
    hasFormula = a.formula.has_value();
    hasStringValue = a.stringValue.has_value();
    cellString = a.stringValue ? *a.stringValue : std::string_view();
    cellText.clear();
    paraCount = 0;
    anyPara = false;
    collect = cellType.empty() || cellType == "string"sv || calcType == "error"sv;
    cellNumberOk = cellNumberBad = false;
    if (cellType == "float"sv || cellType == "percentage"sv || cellType == "currency"sv) {
        if (a.value) {
            if (auto d = xml::parseNumber(*a.value)) {
                cellNumber = *d, cellNumberOk = true;
            } else if (a.value->find_first_not_of(" \t\n\r") != std::string_view::npos) {
                cellNumberBad = true; // an empty one leaves the cell empty, as it always has
                badNumber.assign(a.value->substr(0, 256));
            }
        }
    } else if (cellType == "date"sv) {
        if (a.dateValue)
            if (auto d = parseDate(*a.dateValue)) cellNumber = *d - c.nullDate_, cellNumberOk = true;
    } else if (cellType == "time"sv) {
        if (a.timeValue)
            if (auto d = parseDuration(*a.timeValue)) cellNumber = *d, cellNumberOk = true;
    } else if (cellType == "boolean"sv) {
        if (a.booleanValue) {
            cellNumber = (*a.booleanValue == "true"sv || *a.booleanValue == "1"sv) ? 1 : 0;
            cellNumberOk = true;
        }
    }
}

// A paragraph of the cell's text begins.
void ContentParser::beginPara() {
    if (paraCount++ > 0 && collect) cellText += '\n';
    anyPara = true;
}

void ContentParser::endCell(std::size_t innerEnd, std::size_t end) {
    cell->span.end = end;
    cell->innerEnd = innerEnd;
    finishCell();
    cell = nullptr;
    collect = false;
}

void ContentParser::end(const char* rawName) {
    const Ctx ctx = stack.back();
    // The name in the scope of its own element's declarations, which go with it; only the ends of a
    // column and of the sheet's wrappers need it.
    Name n;
    if ((ctx == Ctx::Table || (ctx == Ctx::Skip && colOpen)) && !resolve(rawName, true, n)) n = {};
    stack.pop_back();
    undeclare(stack.size());
    if (!target) open.pop_back();
    const std::size_t endPos = pos() + count();
    if (pendingOther && stack.size() + 1 == pendingOther) {
        if (style && !style->other.empty()) style->other.back().end = endPos;
        pendingOther = 0;
    }
    if (keepDepth && stack.size() + 1 == keepDepth) {
        if (cell && !cell->keep.empty()) cell->keep.back().end = endPos;
        keepDepth = 0;
    }
    if (ctx == Ctx::Skip) {
        if (colOpen && n.in(ns::table) && n.local == "table-column" && table && !table->cols.empty()) {
            table->cols.back().span.end = endPos;
            table->columnsEnd = std::max(table->columnsEnd, endPos);
            table->rowsEnd = std::max(table->rowsEnd, endPos);
            colOpen = false;
        }
        return;
    }
    switch (ctx) {
    case Ctx::AutoStyles:
        if (c.autoStylesEnd_ == std::string::npos) {
            c.autoStylesEnd_ = pos();
            c.autoStylesEmpty_ = count() == 0;
        }
        break;
    case Ctx::Style:
        style = nullptr;
        break;
    case Ctx::NumberStyle:
        if (--numberDepth == 0) {
            if (!numberName.empty() && !c.numberStyles_.count(numberSig))
                c.numberStyles_[numberSig] = numberName;
        } else {
            numberSig += " >";
        }
        break;
    case Ctx::Table:
        if (table && stack.size() == std::size_t(tableDepth)) {
            table->span.end = endPos;
            table->rowCount = std::uint32_t(std::min<std::uint64_t>(nextRow, 0xFFFFFFFF));
            table->columnCount = std::uint32_t(std::min<std::uint64_t>(nextColumnEl, 0xFFFFFFFF));
            table = nullptr;
        } else if (table && n.local != "table") {
            // the end of a row group: new rows go after it
            table->rowsEnd = std::max(table->rowsEnd, endPos);
            if (n.local == "table-column-group" || n.local == "table-header-columns" ||
                n.local == "table-columns")
                table->columnsEnd = std::max(table->columnsEnd, endPos);
        }
        break;
    case Ctx::Row:
        if (row) endRow(count() == 0 ? endPos : pos(), endPos);
        break;
    case Ctx::Cell:
        if (cell)
            endCell(count() == 0 ? endPos : pos(), endPos);
        else
            collect = false;
        break;
    default:
        break;
    }
}

void ContentParser::finishCell() {
    CellEl& ce = *cell;
    // LibreOffice marks a formula's error result; Gnumeric leaves it a formula's text.
    if (calcType == "error"sv || (hasFormula && cellType == "string"sv)) {
        if (auto code = errorCodeOf(hasStringValue && !cellString.empty() ? cellString : cellText)) {
            ce.value = CellValue::error(*code);
            return;
        }
    }
    if (cellType == "boolean"sv) {
        if (cellNumberOk) ce.value = CellValue::boolean(cellNumber != 0);
    } else if (cellType == "string"sv) {
        ce.value = CellValue::text(hasStringValue ? cellString : cellText);
    } else if (cellType.empty()) {
        if (anyPara && !cellText.empty()) ce.value = CellValue::text(cellText);
    } else if (cellNumberOk) {
        ce.value = CellValue::number(cellNumber);
    } else if (cellNumberBad) {
        ce.value = CellValue::text(badNumber);
        ce.notANumber = true;
    }
}

bool Parser::feed(std::string_view bytes, bool last) {
    // Byte indexes count across calls, so pieces of any size keep them offsets into the input.
    for (std::size_t at = 0; at < bytes.size() || (last && at == bytes.size());) {
        const std::size_t n = std::min(bytes.size() - at, xml::kParseSlice);
        const bool final = last && at + n == bytes.size();
        if (XML_Parse(p, bytes.data() + at, int(n), final) != XML_STATUS_OK) {
            if (!cp.failure.empty()) corrupt("content.xml", cp.failure);
            const XML_Error code = cp.badName ? XML_ERROR_UNBOUND_PREFIX : XML_GetErrorCode(p);
            if (code == XML_ERROR_ABORTED) return false;
            // A parser that took up the part past its start counts lines from there: then the byte.
            const std::size_t line = cp.badName ? cp.badLine : std::size_t(XML_GetCurrentLineNumber(p));
            const std::size_t byte = cp.badName ? cp.badByte : cp.pos();
            const std::string where =
                cp.shift == 0 ? "linia " + std::to_string(line) : "octetul " + std::to_string(byte + 1);
            corrupt("content.xml", xml::parserRefusal(code, where));
        }
        at += n;
        if (final) break;
    }
    return true;
}

} // namespace ordana::spreadsheet::ods
