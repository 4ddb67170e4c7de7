#include "ContentWriter.h"

#include "CellValues.h"
#include "spreadsheet/xml/Escape.h"

#include <optional>
#include <utility>

namespace ordana::spreadsheet::ods {

using xml::setAttribute;

namespace {

// An attribute's value, or its removal when empty.
std::optional<std::string> unlessEmpty(const std::string& s) {
    return s.empty() ? std::nullopt : std::optional<std::string>(s);
}

std::optional<std::string> repeatCount(std::uint32_t repeat) {
    return repeat > 1 ? std::optional<std::string>(std::to_string(repeat)) : std::nullopt;
}

// An edit of the original's [begin, end), or an insertion where the span is empty.
void put(xml::Edits& edits, std::size_t begin, std::size_t end, std::string text) {
    if (begin == end)
        edits.insert(begin, std::move(text));
    else
        edits.replace(begin, end, std::move(text));
}

} // namespace

std::string ContentWriter::keptCell(const Table& t, const CellEl& c) const {
    if (c.repeat == c.origRepeat && !c.restyled) return std::string(original(c.span.begin, c.span.end, &t));
    const std::optional<std::string> style = unlessEmpty(c.style);
    std::string tag(original(c.span.begin, c.tagEnd, &t));
    tag = setAttribute(tag, q(ns::table, "number-columns-repeated"), repeatCount(c.repeat));
    tag = setAttribute(tag, q(ns::table, "style-name"), style);
    return tag + std::string(original(c.tagEnd, c.span.end, &t));
}

std::string ContentWriter::cellTag(const Table& t, const CellEl& c) const {
    std::string tag;
    if (c.original && !c.covered) {
        tag = std::string(original(c.span.begin, c.tagEnd, &t));
        for (auto [uri, local] : {std::pair{ns::office, "value-type"},
                                  {ns::office, "value"},
                                  {ns::office, "date-value"},
                                  {ns::office, "time-value"},
                                  {ns::office, "boolean-value"},
                                  {ns::office, "string-value"},
                                  {ns::office, "currency"},
                                  {ns::table, "formula"},
                                  {ns::calcext, "value-type"}})
            if (!prefix(uri).empty() || uri == ns::table || uri == ns::office)
                tag = setAttribute(tag, q(uri, local), std::nullopt);
        if (tag.size() >= 2 && tag[tag.size() - 2] == '/') tag.erase(tag.size() - 2, 1);
    } else {
        tag = "<" + q(ns::table, "table-cell") + nsDecl(ns::table) + ">";
    }
    const std::optional<std::string> style = unlessEmpty(c.style);
    tag = setAttribute(tag, q(ns::table, "number-columns-repeated"), repeatCount(c.repeat));
    tag = setAttribute(tag, q(ns::table, "style-name"), style);
    return tag;
}

std::string ContentWriter::paragraph(std::string_view text) const {
    const std::string p = q(ns::text, "p");
    std::string out = "<" + p + nsDecl(ns::text) + ">";
    std::size_t spaces = 0;
    bool atStart = true;
    auto flush = [&] {
        if (spaces == 0) return;
        std::size_t literal = atStart ? 0 : 1;
        if (literal) out += ' ';
        if (spaces > literal) {
            out += "<" + q(ns::text, "s");
            if (spaces - literal > 1)
                out += " " + q(ns::text, "c") + "=\"" + std::to_string(spaces - literal) + "\"";
            out += "/>";
        }
        spaces = 0;
    };
    for (char ch : text) {
        if (ch == ' ') {
            ++spaces;
            continue;
        }
        flush();
        atStart = false;
        if (ch == '\t')
            out += "<" + q(ns::text, "tab") + "/>";
        else
            out += xml::escapeXml(std::string_view(&ch, 1), false);
    }
    if (spaces) {
        // trailing blanks are kept as text:s so readers do not trim them
        std::size_t n = spaces;
        spaces = 0;
        out += "<" + q(ns::text, "s");
        if (n > 1) out += " " + q(ns::text, "c") + "=\"" + std::to_string(n) + "\"";
        out += "/>";
    }
    out += "</" + p + ">";
    return out;
}

std::string ContentWriter::valueBody(const CellValue& value, std::string& tag) const {
    std::string body;
    switch (value.kind()) {
    case CellValue::Kind::Empty:
        break;
    case CellValue::Kind::Number: {
        const std::string v = xml::numberText(value.numberValue());
        tag = setAttribute(tag, q(ns::office, "value-type"), "float");
        tag = setAttribute(tag, q(ns::office, "value"), v);
        body = paragraph(v);
        break;
    }
    case CellValue::Kind::Boolean:
        tag = setAttribute(tag, q(ns::office, "value-type"), "boolean");
        tag = setAttribute(tag, q(ns::office, "boolean-value"), value.booleanValue() ? "true" : "false");
        body = paragraph(value.booleanValue() ? "TRUE" : "FALSE");
        break;
    case CellValue::Kind::Error:
        // ODF has no error value: a formula giving it, which spreadsheets and this reader take as the error.
        tag = setAttribute(tag, q(ns::table, "formula"), "of:=" + value.toText());
        [[fallthrough]];
    case CellValue::Kind::Text: {
        const std::string s = value.toText();
        tag = setAttribute(tag, q(ns::office, "value-type"), "string");
        std::size_t at = 0;
        while (true) {
            const std::size_t nl = s.find('\n', at);
            body += paragraph(
                std::string_view(s).substr(at, nl == std::string::npos ? std::string::npos : nl - at));
            if (nl == std::string::npos) break;
            at = nl + 1;
        }
        break;
    }
    }
    return body;
}

std::string ContentWriter::writeCell(const Table& t, const CellEl& c) const {
    if (c.original && !c.valueWritten) return keptCell(t, c);
    std::string tag = cellTag(t, c);
    std::string body = valueBody(c.value, tag);
    for (const Span& k : c.keep)
        body += original(k.begin, k.end, &t);
    if (body.empty() && !c.original) {
        tag.insert(tag.size() - 1, "/");
        return tag;
    }
    return tag + body + "</" + q(ns::table, "table-cell") + ">";
}

std::string ContentWriter::writeRow(const Table& t, const RowEl& r) const {
    const std::string name = q(ns::table, "table-row");
    const std::optional<std::string> repeat = repeatCount(r.repeat);
    std::string tag;
    bool selfClosed = false;
    if (r.original) {
        tag = std::string(original(r.span.begin, r.tagEnd, &t));
        selfClosed = r.tagEnd == r.span.end;
        if (r.repeat != r.origRepeat) tag = setAttribute(tag, q(ns::table, "number-rows-repeated"), repeat);
        if (!r.dirty) {
            if (selfClosed) return tag;
            return tag + std::string(original(r.tagEnd, r.span.end, &t));
        }
        if (selfClosed) tag.erase(tag.size() - 2, 1);
    } else {
        tag = "<" + name + nsDecl(ns::table) + ">";
        tag = setAttribute(tag, q(ns::table, "number-rows-repeated"), repeat);
    }
    std::string out = tag;
    for (const CellEl& c : r.cells)
        out += writeCell(t, c);
    if (r.cells.empty()) out += "<" + q(ns::table, "table-cell") + "/>";
    out += "</" + name + ">";
    return out;
}

std::string ContentWriter::writeColumn(const Table& t, const ColEl& c) const {
    const std::optional<std::string> repeat = repeatCount(c.repeat);
    std::string tag;
    if (c.original) {
        if (c.repeat == c.origRepeat && c.style == c.origStyle &&
            c.defaultCellStyle == c.origDefaultCellStyle)
            return std::string(original(c.span.begin, c.span.end, &t));
        tag = std::string(original(c.span.begin, c.tagEnd, &t));
        if (c.repeat != c.origRepeat)
            tag = setAttribute(tag, q(ns::table, "number-columns-repeated"), repeat);
        if (c.style != c.origStyle) tag = setAttribute(tag, q(ns::table, "style-name"), unlessEmpty(c.style));
        if (c.defaultCellStyle != c.origDefaultCellStyle)
            tag = setAttribute(tag, q(ns::table, "default-cell-style-name"), unlessEmpty(c.defaultCellStyle));
        return tag + std::string(original(c.tagEnd, c.span.end, &t));
    }
    tag = "<" + q(ns::table, "table-column") + nsDecl(ns::table) + "/>";
    tag = setAttribute(tag, q(ns::table, "number-columns-repeated"), repeat);
    tag = setAttribute(tag, q(ns::table, "style-name"), unlessEmpty(c.style));
    tag = setAttribute(tag, q(ns::table, "default-cell-style-name"), unlessEmpty(c.defaultCellStyle));
    return tag;
}

void ContentWriter::columnEdits(const Table& t, xml::Edits& edits) const {
    // Each original element whose pieces changed is replaced by them; new ones go at the end.
    std::string added;
    for (std::size_t i = 0; i < t.cols.size();) {
        const ColEl& c = t.cols[i];
        if (!c.original) {
            added += writeColumn(t, c);
            ++i;
            continue;
        }
        std::size_t j = i;
        std::string text;
        bool changed = false;
        while (j < t.cols.size() && t.cols[j].original && t.cols[j].origin == c.origin) {
            const ColEl& e = t.cols[j];
            changed |= e.repeat != e.origRepeat || e.style != e.origStyle ||
                       e.defaultCellStyle != e.origDefaultCellStyle;
            text += writeColumn(t, e);
            ++j;
        }
        if (changed) put(edits, c.span.begin, c.span.end, std::move(text));
        i = j;
    }
    if (!added.empty()) put(edits, t.columnsEnd, t.columnsEnd, std::move(added));
}

void ContentWriter::rowEdits(const Table& t, xml::Edits& edits) const {
    std::string added;
    for (std::size_t i = 0; i < t.rows.size();) {
        const RowEl& r = t.rows[i];
        if (!r.original) {
            added += writeRow(t, r);
            ++i;
            continue;
        }
        std::size_t j = i;
        bool changed = false;
        while (j < t.rows.size() && t.rows[j].original && t.rows[j].origin == r.origin) {
            changed |= t.rows[j].dirty || t.rows[j].repeat != t.rows[j].origRepeat;
            ++j;
        }
        if (changed) {
            std::string text;
            for (std::size_t k = i; k < j; ++k)
                text += writeRow(t, t.rows[k]);
            put(edits, r.span.begin, r.span.end, std::move(text));
        }
        i = j;
    }
    if (!added.empty()) put(edits, t.rowsEnd, t.rowsEnd, std::move(added));
}

void ContentWriter::styleEdits(xml::Edits& edits) const {
    const Content& c = content_;
    if (c.newStyles_.empty() && c.newNumberStyles_.empty()) return;
    std::string text;
    for (const auto& n : c.newNumberStyles_)
        text += n;
    for (const AutoStyle& s : c.newStyles_)
        text += c.styleXml(s);
    if (c.autoStylesEnd_ != std::string::npos && c.autoStylesEmpty_) {
        // <office:automatic-styles/>: opened and closed around the new styles
        const std::string as = q(ns::office, "automatic-styles");
        put(edits, c.autoStylesTag_.begin, c.autoStylesTag_.end, "<" + as + ">" + text + "</" + as + ">");
    } else if (c.autoStylesEnd_ != std::string::npos) {
        put(edits, c.autoStylesEnd_, c.autoStylesEnd_, std::move(text));
    } else {
        const std::string as = q(ns::office, "automatic-styles");
        const std::size_t at = c.bodyStart_ == std::string::npos ? 0 : c.bodyStart_;
        put(edits, at, at, "<" + as + ">" + text + "</" + as + ">");
    }
}

void ContentWriter::tableEdits(const Table& t, xml::Edits& edits) const {
    columnEdits(t, edits);
    rowEdits(t, edits);
}

xml::Edits ContentWriter::edits(bool withKept) const {
    xml::Edits edits;
    for (const Table& t : content_.tables_) {
        if (t.whole) {
            tableEdits(t, edits);
        } else if (const auto it = content_.kept_.find(&t);
                   withKept && it != content_.kept_.end() && !it->second.packed.empty()) {
            edits.append(content_.keptEdits(it->second)); // released with its edits made
        }
    }
    styleEdits(edits);
    return edits;
}

} // namespace ordana::spreadsheet::ods
