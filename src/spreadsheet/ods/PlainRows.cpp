#include "ContentParser.h"

namespace ordana::spreadsheet::ods {

using namespace std::string_view_literals;

std::size_t ContentParser::onTake(void* u, const char* p, const char* e, std::size_t at) {
    return static_cast<ContentParser*>(u)->takeRows(std::string_view(p, std::size_t(e - p)), at);
}

std::size_t ContentParser::takeRows(std::string_view bytes, std::size_t at) {
    if (!plainRows || !table || !atRows() || badName) return 0;
    xml::PlainCursor cursor(bytes, 0);
    prefixMemo_.clear();
    namedMemo_.clear();
    std::size_t taken = 0;
    while (takeRow(cursor, at)) {
        taken = cursor.at();
        ++table->rowsReadPlainly;
    }
    return taken;
}

std::string_view ContentParser::uriOfPrefix(std::string_view prefix) {
    for (const auto& [p, uri] : prefixMemo_)
        if (same(p, prefix)) return uri;
    const std::string_view uri = uriOf(prefix);
    prefixMemo_.emplace_back(std::string(prefix), uri);
    return uri;
}

// The start tag at the cursor, its attributes resolved as the events resolve them; false for one that
// declares a namespace or names a prefix nothing binds.
bool ContentParser::plainTag(xml::PlainCursor& cursor) {
    if (cursor.next() != xml::PlainCursor::Next::StartTag || !cursor.startTag(tag_)) return false;
    tagAttrs_.clear();
    for (const auto& a : tag_.attributes) {
        if (a.name[0] == 'x' && a.name.substr(0, 5) == "xmlns"sv) return false;
        TagAttr t{{}, a.name, a.value};
        if (a.colon != std::string_view::npos) {
            if (a.colon == 0) return false;
            t.uri = uriOfPrefix(a.name.substr(0, a.colon));
            if (t.uri.empty()) return false;
            t.local = a.name.substr(a.colon + 1);
        }
        if (same(t.local, "name"sv) && Name{t.uri, t.local, {}}.in(ns::style))
            c.usedNames_.insert(std::string(t.value));
        tagAttrs_.push_back(t);
    }
    return true;
}

// A cell's attributes in one pass over its tag, rather than a search for each.
ContentParser::CellAttrs ContentParser::plainCellAttrs() const {
    CellAttrs out;
    for (const TagAttr& a : tagAttrs_) {
        const std::string_view l = a.local;
        if (Name{a.uri, l, {}}.in(ns::table)) {
            if (same(l, "number-columns-repeated"sv))
                out.repeated = out.repeated ? out.repeated : a.value;
            else if (same(l, "style-name"sv))
                out.style = out.style ? out.style : a.value;
            else if (same(l, "formula"sv))
                out.formula = out.formula ? out.formula : a.value;
        } else if (Name{a.uri, l, {}}.in(ns::office)) {
            Value* slot = same(l, "value-type"sv)      ? &out.type
                          : same(l, "string-value"sv)  ? &out.stringValue
                          : same(l, "value"sv)         ? &out.value
                          : same(l, "date-value"sv)    ? &out.dateValue
                          : same(l, "time-value"sv)    ? &out.timeValue
                          : same(l, "boolean-value"sv) ? &out.booleanValue
                                                       : nullptr;
            if (slot && !*slot) *slot = a.value;
        } else if (Name{a.uri, l, {}}.in(ns::calcext) && same(l, "value-type"sv) && !out.calcType) {
            out.calcType = a.value;
        }
    }
    return out;
}

ContentParser::Value ContentParser::tagAttr(std::string_view uri, std::string_view local) const {
    for (const TagAttr& a : tagAttrs_)
        if (same(a.local, local) && Name{a.uri, a.local, {}}.in(uri)) return a.value;
    return std::nullopt;
}

bool ContentParser::named(std::string_view qn, std::string_view uri, std::string_view local) {
    for (const NamedMemo& m : namedMemo_)
        if (m.uri == uri.data() && m.local == local.data() && same(m.qn, qn)) return m.is;
    const bool is = resolvesTo(qn, uri, local);
    if (namedMemo_.size() < 32) namedMemo_.push_back({std::string(qn), uri.data(), local.data(), is});
    return is;
}

// Prefixed, or in the default namespace.
bool ContentParser::resolvesTo(std::string_view qn, std::string_view uri, std::string_view local) {
    const std::size_t colon = qn.find(':');
    if (colon == std::string_view::npos || colon == 0) {
        if (!same(qn, local)) return false;
        const std::string* ns = scope.find({});
        return ns && *ns == uri;
    }
    return same(qn.substr(colon + 1), local) && Name{uriOfPrefix(qn.substr(0, colon)), local, {}}.in(uri);
}

bool ContentParser::takeRow(xml::PlainCursor& cursor, std::size_t at) {
    using Next = xml::PlainCursor::Next;
    const auto posAt = [&](std::size_t offset) { return std::size_t(std::int64_t(at + offset) + shift); };
    if (!plainTag(cursor) || !named(tag_.name, ns::table, "table-row")) return false;
    // A row given up on leaves nothing behind: the events read it again. Only its end moves rowsEnd.
    const std::size_t rowsBefore = table->rows.size();
    const std::uint64_t nextRowBefore = nextRow;
    const auto undo = [&] {
        table->rows.resize(rowsBefore);
        nextRow = nextRowBefore;
        rowCells.clear();
        row = nullptr;
        cell = nullptr;
        collect = false;
        return false;
    };
    beginRow([&](std::string_view local) { return tagAttr(ns::table, local); }, posAt(tag_.begin),
             posAt(tag_.end));
    if (tag_.empty) {
        endRow(posAt(tag_.end), posAt(tag_.end));
        return true;
    }
    const std::string_view rowName = tag_.name;
    std::size_t endBegin = 0;
    while (true) {
        const Next n = cursor.next();
        if (n == Next::EndTag) {
            if (!cursor.endTag(rowName, endBegin)) return undo();
            endRow(posAt(endBegin), posAt(cursor.at()));
            return true;
        }
        if (n != Next::StartTag || !plainTag(cursor)) return undo();
        const bool covered = !named(tag_.name, ns::table, "table-cell");
        if (covered && !named(tag_.name, ns::table, "covered-table-cell")) return undo();
        beginCell(plainCellAttrs(), covered, posAt(tag_.begin), posAt(tag_.end));
        if (tag_.empty) {
            endCell(posAt(tag_.end), posAt(tag_.end));
            continue;
        }
        const std::string_view cellName = tag_.name;
        while (true) {
            const Next m = cursor.next();
            if (m == Next::EndTag) {
                if (!cursor.endTag(cellName, endBegin)) return undo();
                endCell(posAt(endBegin), posAt(cursor.at()));
                break;
            }
            if (m != Next::StartTag || !plainTag(cursor) ||
                !(named(tag_.name, ns::text, "p") || named(tag_.name, ns::text, "h")))
                return undo();
            beginPara();
            if (tag_.empty) continue;
            const std::string_view paraName = tag_.name;
            std::string_view text;
            if (!cursor.text(text)) return undo();
            if (collect) appendText(text);
            if (!cursor.endTag(paraName, endBegin)) return undo();
        }
    }
}

} // namespace ordana::spreadsheet::ods
