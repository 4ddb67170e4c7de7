#include "XlsxParts.h"

#include "common/RuntimeError.h"
#include "common/Text.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

namespace ordana::spreadsheet::xlsx {

std::string partText(const std::string& part) {
    return "partea " + text::quoted(part);
}

std::string qualifiedName(const std::string& prefix, std::string_view local) {
    return prefix.empty() ? std::string(local) : prefix + ":" + std::string(local);
}

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

namespace {

class OutlineBuilder : public xml::Handler {
  public:
    OutlineBuilder(std::vector<Outline::Node>& nodes, const Outline::Keep& keep, const std::string& part,
                   Held& held)
        : nodes_(nodes), keep_(keep), part_(part), held_(held) {}
    void start(const xml::Element& e) override {
        // Kept: the root, and a child of a kept element that keep() takes.
        const bool kept = e.depth == 0 ? nodes_.empty()
                                       : std::size_t(e.depth) == stack_.size() && !stack_.empty() && keep_(e);
        if (!kept) return;
        if (nodes_.size() >= Outline::kMaxOutlineNodes)
            fail(partText(part_) + " are peste " + std::to_string(Outline::kMaxOutlineNodes) +
                 " de elemente de citit, mai mult decat tine un registru");
        Outline::Node n;
        n.element = e;
        n.parent = stack_.empty() ? -1 : stack_.back();
        const int index = int(nodes_.size());
        held_.add(xml::heldBy(n.element) + sizeof(int) +
                  (nodes_.size() == nodes_.capacity() ? (nodes_.capacity() + 1) * sizeof(Outline::Node) : 0));
        if (n.parent >= 0) nodes_[std::size_t(n.parent)].children.push_back(index);
        nodes_.push_back(std::move(n));
        stack_.push_back(index);
    }
    void end(const xml::Element& e, const xml::EndTag& t) override {
        if (stack_.empty() || std::size_t(e.depth) + 1 != stack_.size()) return;
        nodes_[std::size_t(stack_.back())].endTag = t;
        stack_.pop_back();
    }

  private:
    std::vector<Outline::Node>& nodes_;
    const Outline::Keep& keep_;
    const std::string& part_;
    Held& held_;
    std::vector<int> stack_;
};

} // namespace

Outline Outline::parse(std::span<const std::uint8_t> bytes, const std::string& partName, const Keep& keep,
                       std::shared_ptr<MemoryBudget> budget) {
    Outline o;
    o.held_ = Held(std::move(budget), partName);
    xml::scanEither(bytes, partName, [&] {
        release(o.nodes_);
        o.held_.clear();
        return std::make_unique<OutlineBuilder>(o.nodes_, keep, partName, o.held_);
    });
    if (o.nodes_.empty()) fail(partText(partName) + " nu are niciun element");
    return o;
}

std::vector<int> Outline::children(int parent, std::string_view local) const {
    std::vector<int> out;
    for (int c : node(parent).children)
        if (node(c).element.local == local) out.push_back(c);
    return out;
}

int Outline::child(int parent, std::string_view local) const {
    for (int c : node(parent).children)
        if (node(c).element.local == local) return c;
    return -1;
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

namespace {

bool isNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '\\' ||
           static_cast<unsigned char>(c) >= 0x80;
}

// The column letters or row digits of one side of a reference at s[i], with its '$'; moved by delta unless
// absolute. False where it is not one, or would leave the sheet.
bool movePart(std::string_view s, std::size_t& i, bool letters, int delta, std::string& out) {
    const bool absolute = i < s.size() && s[i] == '$';
    std::size_t j = i + (absolute ? 1 : 0);
    const std::size_t from = j;
    int value = 0;
    while (j < s.size() && j - from < (letters ? 3u : 7u)) {
        const char c = s[j];
        if (letters && std::isalpha(static_cast<unsigned char>(c)))
            value = value * 26 + (std::toupper(static_cast<unsigned char>(c)) - 'A' + 1);
        else if (!letters && c >= '0' && c <= '9')
            value = value * 10 + (c - '0');
        else
            break;
        ++j;
    }
    if (j == from) return false;
    if (!absolute) value += delta;
    if (value < 1 || value > (letters ? 16384 : 1048576)) return false;
    out += absolute ? "$" : "";
    out += letters ? columnName(value) : std::to_string(value);
    i = j;
    return true;
}

} // namespace

std::optional<std::string> movedFormula(std::string_view f, int rows, int columns) {
    std::string out;
    out.reserve(f.size() + 8);
    std::size_t i = 0;
    while (i < f.size()) {
        const char c = f[i];
        if (c == '"' || c == '\'') {
            // A string, or a quoted sheet name; a doubled quote stays inside.
            std::size_t j = i + 1;
            while (j < f.size() && !(f[j] == c && (j + 1 >= f.size() || f[j + 1] != c)))
                j += f[j] == c ? 2 : 1;
            out.append(f.substr(i, j + 1 - i));
            i = j + 1;
            continue;
        }
        if (c == '[') { // a structured reference or an external workbook's number
            std::size_t depth = 0, j = i;
            for (; j < f.size(); ++j) {
                depth += f[j] == '[' ? 1 : f[j] == ']' ? std::size_t(-1) : 0;
                if (depth == 0) break;
            }
            out.append(f.substr(i, j + 1 - i));
            i = j + 1;
            continue;
        }
        if (!isNameChar(c) && c != '$') {
            out += c;
            ++i;
            continue;
        }
        // A run of name characters: a reference (A1, $A$1, A:A, 1:1 as parts of a range), or a name, a
        // function, a number, a sheet's name before '!', which stay.
        std::size_t j = i;
        while (j < f.size() && (isNameChar(f[j]) || f[j] == '$'))
            ++j;
        const std::string_view word = f.substr(i, j - i);
        const bool call = j < f.size() && f[j] == '(';
        const bool sheet = j < f.size() && f[j] == '!';
        const bool afterColon = i > 0 && f[i - 1] == ':';
        const bool beforeColon = j < f.size() && f[j] == ':';
        std::string moved;
        std::size_t k = i;
        int r = 0, col = 0;
        const bool digitsOnly = word.find_first_not_of("$0123456789") == std::string_view::npos;
        const bool lettersOnly =
            word.find_first_not_of("$ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") ==
            std::string_view::npos;
        if (!call && !sheet && parseCellRef(word, r, col)) {
            if (!movePart(f, k, true, columns, moved) || !movePart(f, k, false, rows, moved))
                return std::nullopt;
        } else if (!call && !sheet && (afterColon || beforeColon) && digitsOnly && word != "$") {
            if (!movePart(f, k, false, rows, moved) || k != j) return std::nullopt; // 1:3
        } else if (!call && !sheet && (afterColon || beforeColon) && lettersOnly && word != "$" &&
                   word.size() <= 4) {
            if (!movePart(f, k, true, columns, moved) || k != j) return std::nullopt; // A:C
        } else {
            moved = word;
        }
        out += moved;
        i = j;
    }
    return out;
}

double toDouble(std::string_view s) {
    return xml::parseNumber(s).value_or(std::nan(""));
}

} // namespace ordana::spreadsheet::xlsx
