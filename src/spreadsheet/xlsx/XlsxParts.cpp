#include "XlsxParts.h"

#include "common/RuntimeError.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace ordana::spreadsheet::xlsx {

std::string relsPartOf(const std::string& part) {
    const auto slash = part.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : part.substr(0, slash + 1);
    const std::string file = slash == std::string::npos ? part : part.substr(slash + 1);
    return dir + "_rels/" + file + ".rels";
}

std::string resolveTarget(const std::string& sourcePart, const std::string& target) {
    std::string path;
    if (!target.empty() && target[0] == '/') {
        path = target.substr(1);
    } else {
        const auto slash = sourcePart.rfind('/');
        path = (slash == std::string::npos ? "" : sourcePart.substr(0, slash + 1)) + target;
    }
    std::vector<std::string> parts;
    std::size_t at = 0;
    while (at <= path.size()) {
        const auto next = std::min(path.find('/', at), path.size());
        const std::string piece = path.substr(at, next - at);
        if (piece == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!piece.empty() && piece != ".") {
            parts.push_back(piece);
        }
        at = next + 1;
    }
    std::string out;
    for (const auto& p : parts)
        out += (out.empty() ? "" : "/") + p;
    return out;
}

bool isType(const std::string& type, std::string_view kind) {
    for (std::string_view base : {"http://schemas.openxmlformats.org/officeDocument/2006/relationships/",
                                  "http://purl.oclc.org/ooxml/officeDocument/relationships/"})
        if (type.size() == base.size() + kind.size() && type.starts_with(base) && type.ends_with(kind))
            return true;
    return false;
}

void PartEditor::setAttribute(const xml::Element& e, const std::string& name, const std::string& value) {
    auto [it, fresh] = tags_.try_emplace(e.begin);
    if (fresh) it->second.element = e;
    for (auto& [n, v] : it->second.set)
        if (n == name) {
            v = value;
            return;
        }
    it->second.set.emplace_back(name, value);
}

void PartEditor::appendChild(const xml::Element& e, const xml::EndTag& end, const std::string& text) {
    auto [it, fresh] = tags_.try_emplace(e.begin);
    if (fresh) it->second.element = e;
    it->second.end = end;
    it->second.children += text;
}

void PartEditor::replace(std::size_t begin, std::size_t end, std::string text) {
    raw_.push_back({begin, end, std::move(text)});
}

void PartEditor::insert(std::size_t at, std::string text) {
    raw_.push_back({at, at, std::move(text)});
}

xml::Edits PartEditor::edits() const {
    xml::Edits out;
    for (const Raw& r : raw_) {
        if (r.begin == r.end)
            out.insert(r.begin, r.text);
        else
            out.replace(r.begin, r.end, r.text);
    }
    for (const auto& [begin, tag] : tags_) {
        const xml::Element& e = tag.element;
        std::string s(reinterpret_cast<const char*>(bytes_.data() + e.begin), e.startEnd - e.begin);
        // Changes inside the tag, right to left so earlier offsets stay valid.
        std::vector<std::pair<std::size_t, std::pair<std::size_t, std::string>>> pieces;
        for (const auto& [name, value] : tag.set) {
            xml::AttributeSpan span;
            if (xml::findAttribute(bytes_, e, name, span))
                pieces.push_back({span.valueBegin - e.begin,
                                  {span.valueEnd - span.valueBegin, xml::escapeAttribute(value)}});
            else
                pieces.push_back({xml::attributeInsertPoint(e) - e.begin,
                                  {0, " " + name + "=\"" + xml::escapeAttribute(value) + "\""}});
        }
        std::stable_sort(pieces.begin(), pieces.end(),
                         [](const auto& a, const auto& b) { return a.first > b.first; });
        for (const auto& [at, change] : pieces)
            s.replace(at, change.first, change.second);
        const bool wasEmpty = tag.end.begin == e.startEnd && tag.end.end == e.startEnd;
        if (!tag.children.empty() && wasEmpty) {
            // <a .../> becomes <a ...>children</a>
            std::size_t slash = s.rfind('/');
            while (slash > 0 && (s[slash - 1] == ' ' || s[slash - 1] == '\t' || s[slash - 1] == '\n' ||
                                 s[slash - 1] == '\r'))
                --slash;
            s = s.substr(0, slash) + ">" + tag.children + "</" + e.qualified(e.local) + ">";
        } else if (!tag.children.empty()) {
            out.insert(tag.end.begin, tag.children);
        }
        out.replace(e.begin, e.startEnd, std::move(s));
    }
    return out;
}

bool parseCellRef(std::string_view ref, int& row, int& column) {
    std::size_t i = 0;
    if (i < ref.size() && ref[i] == '$') ++i;
    column = 0;
    const std::size_t letters = i;
    // ASCII only, whatever the locale: a reference is read on every cell of a sheet.
    while (i < ref.size() && i - letters < 3) {
        const unsigned char upper = static_cast<unsigned char>(ref[i]) & ~0x20u;
        if (upper < 'A' || upper > 'Z') break;
        column = column * 26 + (upper - 'A' + 1);
        ++i;
    }
    if (i == letters || column > 16384) return false;
    if (i < ref.size() && ref[i] == '$') ++i;
    row = 0;
    const std::size_t digits = i;
    while (i < ref.size() && ref[i] >= '0' && ref[i] <= '9' && i - digits < 7)
        row = row * 10 + (ref[i++] - '0');
    return i == ref.size() && i > digits && row >= 1 && row <= 1048576;
}

std::string columnName(int column) {
    std::string s;
    for (; column > 0; column = (column - 1) / 26)
        s.insert(s.begin(), char('A' + (column - 1) % 26));
    return s;
}

std::string cellRef(int row, int column) {
    return columnName(column) + std::to_string(row);
}

std::string numberText(double value) {
    if (!std::isfinite(value))
        throw RuntimeError(err::Application,
                           "Valoarea nu este un numar finit si nu poate fi scrisa in celula");
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    std::string s(buf, r.ptr);
    if (s == "-0") s = "0";
    return s;
}

} // namespace ordana::spreadsheet::xlsx
