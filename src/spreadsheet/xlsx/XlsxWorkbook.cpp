#include "XlsxWorkbook.h"

#include "SheetRows.h"
#include "XlsxParts.h"
#include "common/RuntimeError.h"
#include "common/Text.h"
#include "spreadsheet/SheetLookup.h"
#include "spreadsheet/xml/XmlPart.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <unordered_map>

namespace ordana::spreadsheet::xlsx {

namespace {

// Names compared as views: their lengths first, where a std::string against a literal measures both.
using namespace std::string_view_literals;
using Bytes = std::vector<std::uint8_t>;
using BytesPtr = std::shared_ptr<const Bytes>;

constexpr std::string_view kContentTypes = "[Content_Types].xml";
constexpr const char* kInternal =
    "motorul .xlsx a intalnit o eroare interna la citirea lui; raportati fisierul dezvoltatorilor";
constexpr const char* kStrictMain = "http://purl.oclc.org/ooxml/spreadsheetml/main";

[[noreturn]] void fail(const std::string& what) {
    throw RuntimeError(err::Application, what);
}

std::string partText(const std::string& part) {
    return "partea " + text::quoted(part);
}

double toDouble(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\n' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\n' || s.back() == '\r'))
        s.remove_suffix(1);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    double v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return std::nan("");
    return v;
}

int toInt(const std::string* s, int fallback) {
    return xlsx::toInt(s ? Value(*s) : std::nullopt, fallback);
}

std::string qualifiedName(const std::string& prefix, std::string_view local) {
    return prefix.empty() ? std::string(local) : prefix + ":" + std::string(local);
}

// What the engine reads of each part it holds as a tree (see Outline).
bool keepTypes(const xml::Element& e) {
    return e.depth == 1 && (e.local == "Override"sv || e.local == "Default"sv);
}
bool keepRelationships(const xml::Element& e) {
    return e.depth == 1 && e.local == "Relationship"sv;
}
bool keepWorkbook(const xml::Element& e) {
    if (e.depth == 1) return e.local == "sheets"sv || e.local == "bookViews"sv;
    return e.depth == 2 && (e.local == "sheet"sv || e.local == "workbookView"sv);
}
// The lists a style is made of, their items and what each item holds.
bool keepStyles(const xml::Element& e) {
    if (e.depth == 1)
        return e.local == "numFmts"sv || e.local == "fonts"sv || e.local == "borders"sv ||
               e.local == "cellXfs"sv;
    return e.depth <= 3;
}

std::span<const std::uint8_t> view(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// ---------------------------------------------------------------------------------------------------------
// The package: parts read once, on demand.

class Package {
  public:
    Package(std::shared_ptr<const SourceFile> source, zip::Archive archive)
        : source_(std::move(source)), archive_(std::move(archive)) {}

    bool has(const std::string& part) const { return archive_.find(part) != nullptr; }
    BytesPtr read(const std::string& part) {
        const zip::Entry* e = archive_.find(part);
        if (!e) fail(partText(part) + " lipseste din pachet");
        auto& slot = cache_[text::foldCase(part)];
        if (!slot) slot = std::make_shared<const Bytes>(archive_.read(*e));
        return slot;
    }
    const zip::Entry* entry(const std::string& part) const { return archive_.find(part); }
    const zip::Archive& archive() const { return archive_; }
    const std::shared_ptr<const SourceFile>& source() const { return source_; }

    std::vector<Relationship> relationships(const std::string& part) {
        std::vector<Relationship> out;
        const std::string rels = relsPartOf(part);
        if (!has(rels)) return out;
        const BytesPtr bytes = read(rels);
        const auto doc = Outline::parse(*bytes, rels, keepRelationships);
        for (int c : doc.node(0).children) {
            const xml::Element& e = doc.node(c).element;
            if (e.local != "Relationship") continue;
            Relationship r;
            if (const auto* v = e.attribute("Id")) r.id = *v;
            if (const auto* v = e.attribute("Type")) r.type = *v;
            r.external = e.attribute("TargetMode") && *e.attribute("TargetMode") == "External";
            if (const auto* v = e.attribute("Target")) r.target = r.external ? *v : resolveTarget(part, *v);
            out.push_back(std::move(r));
        }
        return out;
    }

  private:
    std::shared_ptr<const SourceFile> source_;
    zip::Archive archive_;
    std::unordered_map<std::string, BytesPtr> cache_;
};

// A part to be written back: its original bytes and what changes in them.
struct EditedPart {
    std::string name;
    BytesPtr bytes;
    xml::Edits edits;
    bool whole = false; // bytes are not the entry's own: it is written whole
};

void checkEditable(const std::string& part, std::span<const std::uint8_t> bytes) {
    if (!xml::isUtf8Part(bytes))
        fail(partText(part) + " nu este codificata UTF-8 si nu poate fi modificata pe loc");
}

// ---------------------------------------------------------------------------------------------------------
// Shared strings: read whole when first needed; new texts appended.

class SharedStrings {
  public:
    // No reader: the workbook has no table yet, and one is made when a text is written.
    SharedStrings(std::string part, std::unique_ptr<StringTableReader> reader)
        : part_(std::move(part)), reader_(std::move(reader)) {}

    // Read only as far as the item: the listing needs the first few.
    const std::string* at(std::size_t i) {
        if (reader_ && !loaded_) return reader_->item(i);
        return i < strings_.size() ? &strings_[i] : nullptr;
    }

    // The first item that holds s, or a new one at the end.
    std::size_t indexOf(const std::string& s) {
        load();
        if (slots_.empty()) index(strings_.size() + 16);
        const std::size_t k = slotOf(s);
        if (slots_[k] != 0) return slots_[k] - 1;
        strings_.push_back(s);
        if (strings_.size() * 2 > slots_.size())
            index(strings_.size());
        else
            slots_[k] = std::uint32_t(strings_.size());
        return strings_.size() - 1;
    }
    void referenced(int delta) { refs_ += delta; }
    bool changed() const { return strings_.size() != original_ || refs_ != 0; }
    bool exists() const { return reader_ != nullptr; }
    const std::string& part() const { return part_; }

    // The part as it is written: the original with the new items, or a new part.
    EditedPart write(const std::string& mainNs) {
        load();
        EditedPart out;
        out.name = part_;
        std::string items;
        const std::string p = bytes_ ? root_.prefix : std::string();
        for (std::size_t i = original_; i < strings_.size(); ++i) {
            const std::string& s = strings_[i];
            const bool keepSpaces = !s.empty() && (std::isspace(static_cast<unsigned char>(s.front())) ||
                                                   std::isspace(static_cast<unsigned char>(s.back())));
            items += "<" + qualifiedName(p, "si") + "><" + qualifiedName(p, "t") +
                     (keepSpaces ? " xml:space=\"preserve\">" : ">") + xml::escapeText(s) + "</" +
                     qualifiedName(p, "t") + "></" + qualifiedName(p, "si") + ">";
        }
        const std::string counts = " count=\"" + std::to_string(std::max(refs_, 0)) + "\" uniqueCount=\"" +
                                   std::to_string(strings_.size()) + "\"";
        if (!bytes_) {
            const std::string xmlText =
                "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<sst xmlns=\"" + mainNs +
                "\"" + counts + ">" + items + "</sst>";
            out.bytes = std::make_shared<const Bytes>(xmlText.begin(), xmlText.end());
            return out;
        }
        checkEditable(part_, *bytes_);
        out.bytes = bytes_;
        PartEditor ed(*bytes_);
        if (count_ >= 0) ed.setAttribute(root_, "count", std::to_string(std::max(count_ + refs_, 0)));
        if (root_.attribute("uniqueCount") || strings_.size() != original_)
            ed.setAttribute(root_, "uniqueCount", std::to_string(strings_.size()));
        if (!items.empty()) ed.appendChild(root_, rootEnd_, items);
        out.edits = ed.edits();
        return out;
    }
    void setPart(std::string part) { part_ = std::move(part); }

  private:
    // The whole table: a save appends to it and reuses its items.
    void load() {
        if (loaded_ || !reader_) return;
        StringTable table = reader_->takeAll();
        strings_ = std::move(table.items);
        root_ = std::move(table.root);
        rootEnd_ = table.rootEnd;
        bytes_ = reader_->bytes();
        original_ = strings_.size();
        count_ = toInt(root_.attribute("count"), -1);
        loaded_ = true;
    }

    std::string part_;
    std::unique_ptr<StringTableReader> reader_;
    bool loaded_ = false;
    BytesPtr bytes_;
    std::vector<std::string> strings_;
    // Where each text first appears: the item's number + 1 (0 for none) in a table open by hash, built once
    // per save over a table of tens of thousands of items without copying them.
    std::vector<std::uint32_t> slots_;
    std::size_t slotOf(std::string_view s) const {
        const std::size_t mask = slots_.size() - 1;
        std::size_t k = std::hash<std::string_view>{}(s);
        k &= mask;
        while (slots_[k] != 0 && strings_[slots_[k] - 1] != s)
            k = (k + 1) & mask;
        return k;
    }
    void index(std::size_t n) {
        std::size_t size = 64;
        while (size < 2 * n)
            size *= 2;
        slots_.assign(size, 0);
        for (std::size_t i = 0; i < strings_.size(); ++i)
            if (const std::size_t k = slotOf(strings_[i]); slots_[k] == 0) slots_[k] = std::uint32_t(i + 1);
    }
    xml::Element root_;
    xml::EndTag rootEnd_;
    std::size_t original_ = 0;
    int count_ = -1;
    int refs_ = 0;
};

// The lists a cell format is made of, in the order a styles part holds them, each with what a reader takes
// for granted where it is missing: one font, the two fills, one border, one format.
constexpr std::pair<std::string_view, std::string_view> kStyleLists[] = {
    {"numFmts", ""},
    {"fonts", "<font><sz val=\"11\"/><name val=\"Calibri\"/></font>"},
    {"fills",
     "<fill><patternFill patternType=\"none\"/></fill><fill><patternFill patternType=\"gray125\"/></fill>"},
    {"borders", "<border><left/><right/><top/><bottom/><diagonal/></border>"},
    {"cellStyleXfs", "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/>"},
    {"cellXfs", "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/>"},
    {"cellStyles", ""},
    {"dxfs", ""},
    {"tableStyles", ""},
    {"colors", ""},
    {"extLst", ""}};

// The defaults written with a prefix, where the part's names carry one.
std::string prefixed(std::string_view xml, const std::string& prefix) {
    if (prefix.empty()) return std::string(xml);
    std::string out;
    for (std::size_t i = 0; i < xml.size(); ++i) {
        out += xml[i];
        if (xml[i] == '<') out += xml[i + 1] == '/' ? (++i, "/" + prefix + ":") : prefix + ":";
    }
    return out;
}

// A styles part with every list a format needs, or nothing when it has them: a workbook without styles, or
// with an empty styleSheet (as some writers leave it), is formatted as any other. Without bytes, a new part.
BytesPtr completedStyles(const BytesPtr& bytes, const std::string& part, const std::string& mainNs) {
    if (!bytes) {
        std::string text =
            "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<styleSheet xmlns=\"" + mainNs +
            "\">";
        for (const auto& [name, item] : kStyleLists)
            if (!item.empty())
                text += "<" + std::string(name) + " count=\"" + (name == "fills" ? "2" : "1") + "\">" +
                        std::string(item) + "</" + std::string(name) + ">";
        text += "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>"
                "</styleSheet>";
        return std::make_shared<const Bytes>(text.begin(), text.end());
    }
    const auto doc = Outline::parse(*bytes, part, [](const xml::Element& e) { return e.depth <= 2; });
    const xml::Element& root = doc.root().element;
    PartEditor ed(*bytes);
    for (std::size_t k = 0; k < std::size(kStyleLists); ++k) {
        const auto& [name, item] = kStyleLists[k];
        if (item.empty()) continue;
        const int list = doc.child(0, name);
        const std::string items = prefixed(item, root.prefix);
        if (list >= 0) {
            if (doc.node(list).children.empty()) {
                ed.setAttribute(doc.node(list).element, "count", name == "fills" ? "2" : "1");
                ed.appendChild(doc.node(list).element, doc.node(list).endTag, items);
            }
            continue;
        }
        const std::string text = "<" + root.qualified(name) + " count=\"" + (name == "fills" ? "2" : "1") +
                                 "\">" + items + "</" + root.qualified(name) + ">";
        // Before the first list that comes after it, or last.
        int before = -1;
        for (int c : doc.root().children) {
            const std::string_view local = doc.node(c).element.local;
            const auto at = std::find_if(std::begin(kStyleLists), std::end(kStyleLists),
                                         [&](const auto& l) { return l.first == local; });
            if (at == std::end(kStyleLists) || std::size_t(at - std::begin(kStyleLists)) > k) {
                before = c;
                break;
            }
        }
        if (before >= 0)
            ed.insert(doc.node(before).element.begin, text);
        else
            ed.appendChild(root, doc.root().endTag, text);
    }
    if (!ed.changed()) return nullptr;
    checkEditable(part, *bytes);
    return std::make_shared<const Bytes>(ed.edits().apply(*bytes));
}

// ---------------------------------------------------------------------------------------------------------
// Styles: fonts, borders, number formats and cell formats appended after the existing ones.

struct XfChange {
    std::optional<int> numFmt, font, border;
    std::optional<std::string> horizontal;
};

class Styles {
  public:
    Styles(std::string part, BytesPtr bytes)
        : part_(std::move(part)), bytes_(std::move(bytes)), doc_(Outline::parse(*bytes_, part_, keepStyles)) {
        numFmts_ = doc_.child(0, "numFmts");
        fonts_ = doc_.child(0, "fonts");
        borders_ = doc_.child(0, "borders");
        cellXfs_ = doc_.child(0, "cellXfs");
        if (fonts_ < 0 || borders_ < 0 || cellXfs_ < 0 || doc_.children(cellXfs_, "xf").empty())
            fail(partText(part_) + " nu are listele de fonturi, chenare si formate de celula");
        fontNodes_ = doc_.children(fonts_, "font");
        borderNodes_ = doc_.children(borders_, "border");
        for (int x : doc_.children(cellXfs_, "xf"))
            xfs_.push_back(render(parseXf(x)));
        if (numFmts_ >= 0)
            for (int n : doc_.children(numFmts_, "numFmt")) {
                const xml::Element& e = doc_.node(n).element;
                const int id = toInt(e.attribute("numFmtId"), -1);
                if (e.attribute("formatCode")) customFmts_.emplace(*e.attribute("formatCode"), id);
                maxFmt_ = std::max(maxFmt_, id);
            }
        prefix_ = doc_.node(cellXfs_).element.prefix;
        // The declarations a font or a border is read under when it is parsed on its own: the root's, then
        // those of its list, which may bind the same prefix anew.
        std::map<std::string, std::string> declared;
        for (int n : {0, fonts_, borders_})
            for (const auto& [name, span] : xml::attributeSpans(*bytes_, doc_.node(n).element))
                if (name == "xmlns" || name.starts_with("xmlns:"))
                    declared[name] = std::string(reinterpret_cast<const char*>(bytes_->data() + span.begin),
                                                 span.end - span.begin);
        scope_ = "<scope";
        for (const auto& [name, text] : declared)
            scope_ += " " + text;
        scope_ += ">";
    }

    std::size_t xfCount() const { return xfs_.size(); }
    int clampXf(int xf) const { return xf >= 0 && std::size_t(xf) < xfs_.size() ? xf : 0; }

    int fontOf(int xf) {
        xf = clampXf(xf);
        if (std::size_t(xf) >= originalXfs()) return fontOfNew_[std::size_t(xf) - originalXfs()];
        return toInt(doc_.node(doc_.children(cellXfs_, "xf")[std::size_t(xf)]).element.attribute("fontId"),
                     0);
    }
    int borderOf(int xf) {
        xf = clampXf(xf);
        if (std::size_t(xf) >= originalXfs()) return borderOfNew_[std::size_t(xf) - originalXfs()];
        return toInt(doc_.node(doc_.children(cellXfs_, "xf")[std::size_t(xf)]).element.attribute("borderId"),
                     0);
    }

    int derive(int xf, const XfChange& c) {
        xf = clampXf(xf);
        Xf x = std::size_t(xf) < originalXfs() ? parseXf(doc_.children(cellXfs_, "xf")[std::size_t(xf)])
                                               : newXfs_[std::size_t(xf) - originalXfs()];
        auto set = [](std::vector<std::pair<std::string, std::string>>& attrs, const std::string& n,
                      const std::string& v) {
            for (auto& [k, val] : attrs)
                if (k == n) {
                    val = v;
                    return;
                }
            attrs.emplace_back(n, v);
        };
        if (c.numFmt)
            set(x.attrs, "numFmtId", std::to_string(*c.numFmt)), set(x.attrs, "applyNumberFormat", "1");
        if (c.font) set(x.attrs, "fontId", std::to_string(*c.font)), set(x.attrs, "applyFont", "1");
        if (c.border) set(x.attrs, "borderId", std::to_string(*c.border)), set(x.attrs, "applyBorder", "1");
        if (c.horizontal)
            set(x.align, "horizontal", *c.horizontal), set(x.attrs, "applyAlignment", "1"), x.hasAlign = true;
        const std::string s = render(x);
        for (std::size_t i = 0; i < xfs_.size(); ++i)
            if (xfs_[i] == s) return int(i);
        xfs_.push_back(s);
        newXfs_.push_back(x);
        int font = 0, border = 0;
        for (auto& [k, v] : x.attrs) {
            if (k == "fontId") font = toInt(&v, 0);
            if (k == "borderId") border = toInt(&v, 0);
        }
        fontOfNew_.push_back(font);
        borderOfNew_.push_back(border);
        return int(xfs_.size() - 1);
    }

    int boldFont(int font, bool bold) {
        // The font's children without any <b>, then <b/> first when bold.
        const std::string base = inScope(fontText(font));
        const auto doc = xml::Document::parse(view(base), part_);
        const auto& f = doc.node(doc.root().children.at(0));
        const xml::Element& e = f.element;
        std::string inner;
        bool isBold = false;
        std::size_t at = e.startEnd;
        for (int c : f.children) {
            const auto& n = doc.node(c);
            if (n.element.local == "b") {
                const auto* v = n.element.attribute("val");
                isBold = !v || (*v != "0" && *v != "false");
                inner += base.substr(at, n.element.begin - at);
                at = n.endTag.end;
            }
        }
        if (isBold == bold) return font;
        inner += base.substr(at, f.endTag.begin - at);
        const std::string tag = base.substr(e.begin, e.startEnd - e.begin);
        const std::string open = f.endTag.begin == e.startEnd ? tag.substr(0, tag.rfind('/')) + ">" : tag;
        const std::string text =
            open + (bold ? "<" + e.qualified("b") + "/>" : "") + inner + "</" + e.qualified(e.local) + ">";
        return addFont(text);
    }

    int borderWith(int border, unsigned sides, const std::string& style) {
        const std::string base = inScope(borderText(border));
        const auto doc = xml::Document::parse(view(base), part_);
        const int node = doc.root().children.at(0);
        const auto& b = doc.node(node);
        const xml::Element& e = b.element;
        const bool strict = e.uri == kStrictMain;
        const char* order[] = {strict ? "start" : "left",
                               strict ? "end" : "right",
                               "top",
                               "bottom",
                               "diagonal",
                               "vertical",
                               "horizontal"};
        // sides: 1 left, 2 right, 4 top, 8 bottom
        std::string inner;
        for (int i = 0; i < 7; ++i) {
            const bool replaced = i < 4 && (sides & (1u << i));
            if (replaced) {
                inner += "<" + e.qualified(order[i]) + " style=\"" + style + "\"><" + e.qualified("color") +
                         " indexed=\"64\"/></" + e.qualified(order[i]) + ">";
                continue;
            }
            int c = doc.child(node, order[i]);
            if (c < 0 && i < 2)
                c = doc.child(node, i == 0 ? (strict ? "left" : "start") : (strict ? "right" : "end"));
            if (c >= 0)
                inner += base.substr(doc.node(c).element.begin,
                                     doc.node(c).endTag.end - doc.node(c).element.begin);
        }
        const std::string tag = base.substr(e.begin, e.startEnd - e.begin);
        const std::string open = b.endTag.begin == e.startEnd ? tag.substr(0, tag.rfind('/')) + ">" : tag;
        return addBorder(open + inner + "</" + e.qualified(e.local) + ">");
    }

    int numFmt(const std::string& code) {
        static const std::pair<std::string_view, int> builtIn[] = {
            {"General", 0}, {"0", 1},         {"0.00", 2},   {"#,##0", 3},      {"#,##0.00", 4}, {"0%", 9},
            {"0.00%", 10},  {"0.00E+00", 11}, {"# ?/?", 12}, {"# ?\?/?\?", 13}, {"@", 49}};
        for (const auto& [c, id] : builtIn)
            if (c == code) return id;
        auto it = customFmts_.find(code);
        if (it != customFmts_.end()) return it->second;
        const int id = std::max(maxFmt_, 163) + 1;
        maxFmt_ = id;
        customFmts_.emplace(code, id);
        newFmts_.push_back("<" + qualifiedName(prefix_, "numFmt") + " numFmtId=\"" + std::to_string(id) +
                           "\" formatCode=\"" + xml::escapeAttribute(code) + "\"/>");
        return id;
    }

    // The widest digit of the default font, in pixels at 96 dpi, as Excel measures column widths.
    int maxDigitWidth() const {
        if (fontNodes_.empty()) return 7;
        std::string name;
        double size = 11;
        for (int c : doc_.node(fontNodes_[0]).children) {
            const xml::Element& e = doc_.node(c).element;
            if (e.local == "name" && e.attribute("val")) name = text::foldCase(*e.attribute("val"));
            if (e.local == "sz" && e.attribute("val")) size = toDouble(*e.attribute("val"));
        }
        if (!(size > 0 && size < 410)) size = 11;
        double factor = 0.52; // digit advance in ems
        if (name.starts_with("CALIBRI"))
            factor = 0.5068;
        else if (name == "ARIAL" || name.starts_with("LIBERATION SANS") || name == "HELVETICA" ||
                 name == "ARIMO")
            factor = 0.556;
        else if (name.starts_with("TIMES") || name.starts_with("LIBERATION SERIF") ||
                 name.starts_with("APTOS"))
            factor = 0.5;
        return std::max(1, int(std::lround(size * 96 / 72 * factor)));
    }

    bool changed() const {
        return !newFonts_.empty() || !newBorders_.empty() || !newXfs_.empty() || !newFmts_.empty();
    }

    EditedPart write() const {
        checkEditable(part_, *bytes_);
        PartEditor ed(*bytes_);
        auto append = [&](int node, const std::vector<std::string>& items, std::size_t before) {
            if (items.empty()) return;
            std::string all;
            for (const auto& s : items)
                all += s;
            ed.setAttribute(doc_.node(node).element, "count", std::to_string(before + items.size()));
            ed.appendChild(doc_.node(node).element, doc_.node(node).endTag, all);
        };
        if (!newFmts_.empty()) {
            if (numFmts_ >= 0) {
                append(numFmts_, newFmts_, doc_.children(numFmts_, "numFmt").size());
            } else {
                std::string all;
                for (const auto& s : newFmts_)
                    all += s;
                ed.insert(doc_.root().element.startEnd, "<" + qualifiedName(prefix_, "numFmts") +
                                                            " count=\"" + std::to_string(newFmts_.size()) +
                                                            "\">" + all + "</" +
                                                            qualifiedName(prefix_, "numFmts") + ">");
            }
        }
        append(fonts_, newFonts_, fontNodes_.size());
        append(borders_, newBorders_, borderNodes_.size());
        std::vector<std::string> xfTexts(xfs_.begin() + std::ptrdiff_t(originalXfs()), xfs_.end());
        append(cellXfs_, xfTexts, originalXfs());
        return {part_, bytes_, ed.edits()};
    }

  private:
    // A font or border as written, inside an element that declares what the part declares around it: its
    // prefixes then read as they do in the part.
    std::string inScope(const std::string& text) const { return scope_ + text + "</scope>"; }

    struct Xf {
        std::string prefix;
        std::vector<std::pair<std::string, std::string>> attrs, align;
        bool hasAlign = false;
        std::string rest; // protection, extLst: as written
    };
    std::size_t originalXfs() const { return xfs_.size() - newXfs_.size(); }

    Xf parseXf(int node) const {
        Xf x;
        const auto& n = doc_.node(node);
        x.prefix = n.element.prefix;
        for (const auto& a : n.element.attributes)
            x.attrs.emplace_back(qualifiedName(a.prefix, a.local), a.value);
        for (int c : n.children) {
            const auto& ch = doc_.node(c);
            if (ch.element.local == "alignment") {
                x.hasAlign = true;
                for (const auto& a : ch.element.attributes)
                    x.align.emplace_back(qualifiedName(a.prefix, a.local), a.value);
            } else {
                x.rest += std::string(reinterpret_cast<const char*>(bytes_->data() + ch.element.begin),
                                      ch.endTag.end - ch.element.begin);
            }
        }
        return x;
    }
    static std::string render(const Xf& x) {
        std::string s = "<" + qualifiedName(x.prefix, "xf");
        for (const auto& [k, v] : x.attrs)
            s += " " + k + "=\"" + xml::escapeAttribute(v) + "\"";
        if (!x.hasAlign && x.rest.empty()) return s + "/>";
        s += ">";
        if (x.hasAlign) {
            s += "<" + qualifiedName(x.prefix, "alignment");
            for (const auto& [k, v] : x.align)
                s += " " + k + "=\"" + xml::escapeAttribute(v) + "\"";
            s += "/>";
        }
        return s + x.rest + "</" + qualifiedName(x.prefix, "xf") + ">";
    }
    std::string nodeText(int node) const {
        const auto& n = doc_.node(node);
        return std::string(reinterpret_cast<const char*>(bytes_->data() + n.element.begin),
                           n.endTag.end - n.element.begin);
    }
    std::string fontText(int font) const {
        if (font >= 0 && std::size_t(font) < fontNodes_.size())
            return nodeText(fontNodes_[std::size_t(font)]);
        if (font >= 0 && std::size_t(font) < fontNodes_.size() + newFonts_.size())
            return newFonts_[std::size_t(font) - fontNodes_.size()];
        return fontNodes_.empty() ? "<" + qualifiedName(prefix_, "font") + "/>" : nodeText(fontNodes_[0]);
    }
    std::string borderText(int border) const {
        if (border >= 0 && std::size_t(border) < borderNodes_.size())
            return nodeText(borderNodes_[std::size_t(border)]);
        if (border >= 0 && std::size_t(border) < borderNodes_.size() + newBorders_.size())
            return newBorders_[std::size_t(border) - borderNodes_.size()];
        return "<" + qualifiedName(prefix_, "border") + "/>";
    }
    int addFont(const std::string& s) {
        for (std::size_t i = 0; i < fontNodes_.size(); ++i)
            if (nodeText(fontNodes_[i]) == s) return int(i);
        for (std::size_t i = 0; i < newFonts_.size(); ++i)
            if (newFonts_[i] == s) return int(fontNodes_.size() + i);
        newFonts_.push_back(s);
        return int(fontNodes_.size() + newFonts_.size() - 1);
    }
    int addBorder(const std::string& s) {
        for (std::size_t i = 0; i < borderNodes_.size(); ++i)
            if (nodeText(borderNodes_[i]) == s) return int(i);
        for (std::size_t i = 0; i < newBorders_.size(); ++i)
            if (newBorders_[i] == s) return int(borderNodes_.size() + i);
        newBorders_.push_back(s);
        return int(borderNodes_.size() + newBorders_.size() - 1);
    }

    std::string part_;
    BytesPtr bytes_;
    Outline doc_;
    std::string prefix_, scope_;
    int numFmts_ = -1, fonts_ = -1, borders_ = -1, cellXfs_ = -1;
    std::vector<int> fontNodes_, borderNodes_;
    std::vector<std::string> xfs_; // rendered, existing then new
    std::vector<Xf> newXfs_;
    std::vector<int> fontOfNew_, borderOfNew_;
    std::vector<std::string> newFonts_, newBorders_, newFmts_;
    std::map<std::string, int> customFmts_;
    int maxFmt_ = 0;
};

// ---------------------------------------------------------------------------------------------------------
// A worksheet part: rows and cells indexed by their spans, reading as far as asked.

struct ColRange {
    int min = 0, max = 0;
    std::vector<std::pair<std::string, std::string>> attrs;
    int origin = -1; // index of the original <col>, -1 for a new one
    bool dirty = false;
    const std::string* get(std::string_view n) const {
        for (const auto& [k, v] : attrs)
            if (k == n) return &v;
        return nullptr;
    }
    void set(const std::string& n, const std::string& v) {
        for (auto& [k, val] : attrs)
            if (k == n) {
                val = v;
                return;
            }
        attrs.emplace_back(n, v);
    }
};

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
            fail("celula " + cellRef(row, c.column) + " trimite la textul partajat " +
                 text::quotedExcerpt(c.value) + ", care nu este un numar de ordine");
        const std::string* s = strings ? strings->at(std::size_t(d)) : nullptr;
        if (!s)
            fail("celula " + cellRef(row, c.column) + " trimite la textul partajat " +
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
            fail("celula " + cellRef(row, c.column) + " are valoarea numerica " +
                 text::quotedExcerpt(c.value) + ", care nu este un numar");
        return CellValue::number(v);
    }
    }
}

struct Pending {
    std::optional<CellValue> value;
    std::optional<int> style;
};

class Sheet {
  public:
    Sheet(std::string name, std::string part, int sheetId)
        : name_(std::move(name)), part_(std::move(part)), sheetId_(sheetId) {}
    const std::string& name() const { return name_; }
    const std::string& part() const { return part_; }
    int sheetId() const { return sheetId_; }

    // The first rows only, inflated and scanned as far as they go.
    void loadHead(Package& pkg, int lastRow) {
        if (loaded_ || headRows_ >= lastRow) return;
        const zip::Entry* e = pkg.entry(part_);
        if (!e) fail(partText(part_) + " lipseste din pachet");
        rows_.clear();
        zip::EntryReader reader(pkg.archive(), *e);
        SheetIndexer* indexer = nullptr;
        xml::Handler* h = nullptr;
        struct Forward : xml::Handler {
            SheetIndexer** to;
            void start(const xml::Element& el) override { (*to)->start(el); }
            void end(const xml::Element& el, const xml::EndTag& t) override { (*to)->end(el, t); }
            void text(const xml::Element& el, std::string_view s) override { (*to)->text(el, s); }
        } forward;
        forward.to = &indexer;
        h = &forward;
        xml::Scanner scanner(part_, *h);
        SheetIndexer idx(rows_, lastRow, &scanner);
        indexer = &idx;
        std::vector<std::uint8_t> buf(64 * 1024);
        for (;;) {
            const std::size_t n = reader.read(buf);
            if (!scanner.feed(std::span(buf).first(n), n == 0) || n == 0) break;
        }
        if (!idx.ordered)
            fail(partText(part_) + " are randurile sau celulele in alta ordine decat crescatoare");
        headRows_ = lastRow;
    }

    void load(Package& pkg) {
        if (loaded_) return;
        bytes_ = pkg.read(part_);
        rows_.clear();
        const auto indexer = indexSheet(*bytes_, part_, rows_);
        SheetIndexer& idx = *indexer;
        if (!idx.ordered)
            fail(partText(part_) + " are randurile sau celulele in alta ordine decat crescatoare");
        if (!idx.sheetData) fail(partText(part_) + " nu are elementul sheetData al unei foi de calcul");
        prefix_ = idx.prefix.empty() ? idx.sheetData->first.prefix : idx.prefix;
        dimension_ = idx.dimension;
        sheetViews_ = idx.sheetViews;
        sheetFormatPr_ = idx.sheetFormatPr;
        cols_ = idx.cols;
        sheetData_ = idx.sheetData;
        sheetViewList_ = idx.sheetViewList;
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
                {e.begin, e.startEnd, idx.colList[i].second.begin, idx.colList[i].second.end});
            colRanges_.push_back(std::move(c));
        }
        std::sort(colRanges_.begin(), colRanges_.end(),
                  [](const ColRange& a, const ColRange& b) { return a.min < b.min; });
        loaded_ = true;
    }
    bool loaded() const { return loaded_; }

    CellValue value(Package& pkg, SharedStrings* strings, int row, int column) {
        auto p = pending_.find({row, column});
        if (p != pending_.end() && p->second.value) return *p->second.value;
        if (!loaded_ && row <= 2)
            loadHead(pkg, 2);
        else
            load(pkg);
        const Cell* c = find(row, column);
        return c ? decode(*c, row, strings) : CellValue();
    }

    const Cell* find(int row, int column) const {
        const Row* r = rowAt(row);
        return r ? cellIn(*r, column) : nullptr;
    }
    // Rows are read one after the other: the row last found, and the one after it, are tried before a
    // search.
    const Row* rowAt(int row) const {
        const std::size_t n = rows_.size();
        for (std::size_t i = lastFound_; i < n && i <= lastFound_ + 1; ++i)
            if (rows_[i].r == row) return &rows_[lastFound_ = i];
        auto r =
            std::lower_bound(rows_.begin(), rows_.end(), row, [](const Row& x, int v) { return x.r < v; });
        if (r == rows_.end() || r->r != row) return nullptr;
        lastFound_ = std::size_t(r - rows_.begin());
        return &*r;
    }
    static const Cell* cellIn(const Row& r, int column) {
        if (r.cells.empty() || r.cells.back().column < column) return nullptr;
        auto c = std::lower_bound(r.cells.begin(), r.cells.end(), column,
                                  [](const Cell& x, int v) { return x.column < v; });
        return c->column == column ? &*c : nullptr;
    }

    int styleOf(int row, int column) const {
        auto p = pending_.find({row, column});
        if (p != pending_.end() && p->second.style) return *p->second.style;
        if (const Cell* c = find(row, column); c && c->style >= 0) return c->style;
        for (const ColRange& c : colRanges_)
            if (c.min <= column && column <= c.max) return toInt(c.get("style"), 0);
        return 0;
    }

    // A formula overwritten: it leaves the calculation chain; a formula other cells share cannot be.
    void write(int row, int column, const CellValue& v, SharedStrings& strings) {
        if (const Cell* c = find(row, column)) {
            // A shared formula moves to the next cell that keeps it when the part is written; an array
            // formula or a data table is one formula over its range, which cannot be cut.
            if (c->groupMaster && !c->sharedMaster)
                fail("celula " + cellRef(row, column) + " a foii " + text::quoted(name_) +
                     " tine o formula matriceala sau un tabel de date, care acopera si alte celule si nu "
                     "poate fi "
                     "suprascris doar in parte");
            if (c->formula) formulasDropped_.insert(cellRef(row, column));
            if (c->type == 's' && !pending_.count({row, column})) strings.referenced(-1);
        }
        Pending& p = pending_[{row, column}];
        if (p.value && p.value->kind() == CellValue::Kind::Text) strings.referenced(-1);
        if (v.kind() == CellValue::Kind::Text) strings.indexOf(v.textValue()), strings.referenced(1);
        p.value = v;
    }
    void setStyle(int row, int column, int style) { pending_[{row, column}].style = style; }

    // Makes [column, column] one range of its own, keeping the attributes of the range it came from.
    ColRange& isolate(int column, const std::string& defaultWidth) {
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

    // Every cell already in the column, written or read from the file.
    std::vector<int> rowsWithCellsIn(int column) const {
        std::set<int> out;
        for (const Row& r : rows_)
            if (cellIn(r, column)) out.insert(r.r);
        for (const auto& [key, p] : pending_)
            if (key.second == column) out.insert(key.first);
        return {out.begin(), out.end()};
    }

    double defaultWidth(int mdw) const {
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

    void select(bool on) {
        selected_ = on;
        selectionChanged_ = true;
    }
    bool isSelected(Package& pkg) {
        if (selectionChanged_) return selected_;
        auto on = [](const xml::Element& v) {
            const auto* t = v.attribute("tabSelected");
            return t && (*t == "1" || *t == "true");
        };
        if (loaded_) return std::any_of(sheetViewList_.begin(), sheetViewList_.end(), on);
        // The views come before the cells: inflate and scan only that far, once.
        if (selectedInFile_) return *selectedInFile_;
        const zip::Entry* e = pkg.entry(part_);
        if (!e) fail(partText(part_) + " lipseste din pachet");
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
        zip::EntryReader reader(pkg.archive(), *e);
        std::vector<std::uint8_t> buf(16 * 1024);
        for (;;) {
            const std::size_t n = reader.read(buf);
            if (!scanner.feed(std::span(buf).first(n), n == 0) || n == 0) break;
        }
        selectedInFile_ = views.selected;
        return views.selected;
    }
    const std::set<std::string>& formulasDropped() const { return formulasDropped_; }
    bool changed() const {
        return !pending_.empty() || selectionChanged_ ||
               std::any_of(colRanges_.begin(), colRanges_.end(), [](const ColRange& c) { return c.dirty; });
    }

    EditedPart write(Styles* styles, SharedStrings& strings) const;

  private:
    std::string cellXml(int row, int column, const Cell* old, const Pending& p, SharedStrings& strings) const;
    struct FormulaTag {
        std::size_t begin = 0, end = 0;
        std::string type, si, ref, text; // text unescaped
    };
    std::optional<FormulaTag> formulaOf(const Cell& c) const;
    bool overwritten(int row, int column) const {
        const auto p = pending_.find({row, column});
        return p != pending_.end() && p->second.value;
    }
    void rehost(int row, int column, PartEditor& ed) const;
    int freeSharedIndex() const;
    mutable int nextSharedIndex_ = -1;
    std::string colXml(const ColRange& c) const {
        std::string s = "<" + qualifiedName(prefix_, "col");
        for (const auto& [k, v] : c.attrs)
            s += " " + k + "=\"" + xml::escapeAttribute(v) + "\"";
        return s + "/>";
    }

    std::string name_, part_;
    int sheetId_;
    BytesPtr bytes_;
    bool loaded_ = false;
    int headRows_ = 0;
    std::string prefix_;
    std::vector<Row> rows_;
    mutable std::size_t lastFound_ = 0; // in rows_
    std::optional<std::pair<xml::Element, xml::EndTag>> dimension_, sheetViews_, sheetFormatPr_, cols_,
        sheetData_;
    std::vector<xml::Element> sheetViewList_;
    std::vector<ColRange> colRanges_;
    std::vector<Span> colSpans_;
    std::map<std::pair<int, int>, Pending> pending_;
    std::set<std::string> formulasDropped_;
    bool selected_ = false, selectionChanged_ = false;
    std::optional<bool> selectedInFile_;
};

std::string Sheet::cellXml(int row, int column, const Cell* old, const Pending& p,
                           SharedStrings& strings) const {
    std::string s = "<" + qualifiedName(prefix_, "c") + " r=\"" + cellRef(row, column) + "\"";
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
    const xml::Element e = elementAt({at, close + 1, close + 1, close + 1}, prefix_, "f");
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
            fail("celula " + cellRef(row, column) + " a foii " + text::quoted(name_) +
                 " tine formula partajata folosita si de alte celule, care nu poate fi mutata pe celula " +
                 cellRef(gTop, gLeft) + "; celula nu poate fi suprascrisa");
        const std::string si = first ? master->si : std::to_string(freeSharedIndex());
        first = false;
        const std::string body = ">" + xml::escapeText(*moved) + "</" + f + ">";
        if (group.size() == 1) {
            ed.replace(host->f.begin, host->f.end, "<" + f + body);
            continue;
        }
        ed.replace(host->f.begin, host->f.end,
                   "<" + f + " t=\"shared\" ref=\"" + cellRef(gTop, gLeft) + ":" + cellRef(gBottom, gRight) +
                       "\" si=\"" + xml::escapeAttribute(si) + "\"" + body);
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

EditedPart Sheet::write(Styles*, SharedStrings& strings) const {
    checkEditable(part_, *bytes_);
    PartEditor ed(*bytes_);
    const std::string p = prefix_;

    // Selection first: a new <sheetViews> goes before anything else inserted at the same place.
    if (selectionChanged_) {
        if (!sheetViewList_.empty()) {
            const auto* t = sheetViewList_.front().attribute("tabSelected");
            const bool on = t && (*t == "1" || *t == "true");
            if (on != selected_)
                ed.setAttribute(sheetViewList_.front(), "tabSelected", selected_ ? "1" : "0");
            for (std::size_t i = 1; i < sheetViewList_.size() && !selected_; ++i)
                if (const auto* u = sheetViewList_[i].attribute("tabSelected");
                    u && (*u == "1" || *u == "true"))
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

    // Columns: each changed original <col> is replaced by what it became; new ranges go beside their
    // neighbours.
    {
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
        if (!leading.empty()) {
            if (!colSpans_.empty())
                ed.insert(colSpans_.front().begin, leading);
            else if (cols_)
                ed.appendChild(cols_->first, cols_->second, leading);
            else
                ed.insert(sheetData_->first.begin, "<" + qualifiedName(p, "cols") + ">" + leading + "</" +
                                                       qualifiedName(p, "cols") + ">");
        }
    }

    // Shared formulas whose master cell is overwritten: the cells that keep the formula get a new master.
    for (const auto& [key, pend] : pending_)
        if (const Cell* c = pend.value ? find(key.first, key.second) : nullptr; c && c->sharedMaster)
            rehost(key.first, key.second, ed);

    // Cells, row by row, in ascending order.
    int minRow = INT32_MAX, maxRow = 0, minCol = INT32_MAX, maxCol = 0;
    std::map<int, std::vector<std::pair<int, const Pending*>>> byRow;
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
            const Row& row = *it;
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
            if (addsCells)
                for (const Cell& c : row.cells)
                    if (!c.hasRef && !replaced.count(c.column))
                        ed.setAttribute(elementAt(c.span, p, "c"), "r", cellRef(r, c.column));
            if (row.hasSpans) {
                const auto colon = row.spans.find(':');
                int a = toInt(&row.spans, 0), b = a;
                if (colon != std::string::npos) {
                    const std::string x = row.spans.substr(0, colon), y = row.spans.substr(colon + 1);
                    a = toInt(&x, 0), b = toInt(&y, 0);
                }
                const int na = std::min(a > 0 ? a : cells.front().first, cells.front().first);
                const int nb = std::max(b, cells.back().first);
                if (na != a || nb != b)
                    ed.setAttribute(rowEl, "spans", std::to_string(na) + ":" + std::to_string(nb));
            }
        } else {
            std::string text = "<" + qualifiedName(p, "row") + " r=\"" + std::to_string(r) + "\">";
            for (const auto& [col, pend] : cells) {
                Pending full = *pend;
                if (!full.value) full.value = CellValue();
                text += cellXml(r, col, nullptr, full, strings);
            }
            text += "</" + qualifiedName(p, "row") + ">";
            rowsNeedRefs = true;
            if (it != rows_.end())
                ed.insert(it->span.begin, text);
            else
                ed.appendChild(sheetData_->first, sheetData_->second, text);
        }
    }
    if (rowsNeedRefs)
        for (const Row& row : rows_)
            if (!row.hasRef) ed.setAttribute(elementAt(row.span, p, "row"), "r", std::to_string(row.r));

    // The used range grows to cover what was written.
    if (dimension_ && maxRow > 0) {
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
        const std::string now =
            r1 == r2 && c1 == c2 ? cellRef(r1, c1) : cellRef(r1, c1) + ":" + cellRef(r2, c2);
        if (!had || !ref || *ref != now) ed.setAttribute(dimension_->first, "ref", now);
    }
    return {part_, bytes_, ed.edits()};
}

// ---------------------------------------------------------------------------------------------------------
// The workbook.

std::string horizontalName(std::int32_t alignment) {
    switch (alignment) {
    case AlignGeneral:
        return "general";
    case AlignLeft:
        return "left";
    case AlignCenter:
        return "center";
    case AlignRight:
        return "right";
    case AlignFill:
        return "fill";
    case AlignJustify:
        return "justify";
    case AlignCenterAcrossSelection:
        return "centerContinuous";
    case AlignDistributed:
        return "distributed";
    default:
        fail("Alinierea orizontala " + std::to_string(alignment) + " nu exista");
    }
}

std::string borderStyleName(std::int32_t style, std::int32_t weight) {
    const bool heavy = weight == WeightMedium || weight == WeightThick;
    if (heavy || weight == WeightHairline || weight == WeightThin) {
        if (style == LineStyleNone) return "none";
        if (style == LineStyleContinuous) {
            if (weight == WeightHairline) return "hair";
            if (weight == WeightThin) return "thin";
            if (weight == WeightMedium) return "medium";
            if (weight == WeightThick) return "thick";
        }
        if (style == LineStyleDash) return heavy ? "mediumDashed" : "dashed";
        if (style == LineStyleDot) return "dotted";
        if (style == LineStyleDouble) return "double";
        if (style == LineStyleDashDot) return heavy ? "mediumDashDot" : "dashDot";
        if (style == LineStyleDashDotDot) return heavy ? "mediumDashDotDot" : "dashDotDot";
        if (style == LineStyleSlantDashDot) return "slantDashDot";
    }
    fail("Stilul de chenar " + std::to_string(style) + " cu grosimea " + std::to_string(weight) +
         " nu exista");
}

struct SheetEntry {
    std::string name, part;
    int position = 0; // among all sheets of the workbook, as activeTab counts
    int sheetId = 0;
    bool hidden = false;
};

class XlsxWorkbook : public Workbook, public std::enable_shared_from_this<XlsxWorkbook> {
  public:
    XlsxWorkbook(std::shared_ptr<const SourceFile> source, zip::Archive archive)
        : pkg_(std::move(source), std::move(archive)), path_(pkg_.source()->path()) {}

    void open();

    std::int16_t worksheetCount() override {
        checkOpen();
        return std::int16_t(std::min<std::size_t>(sheets_.size(), 32767));
    }
    std::string worksheetName(std::int16_t index) override {
        checkOpen();
        if (index < 1 || std::size_t(index) > sheets_.size())
            throw RuntimeError(err::SubscriptOutOfRange,
                               "Indice in afara intervalului: foaia de calcul " + std::to_string(index) +
                                   " nu exista (fisierul are " + std::to_string(sheets_.size()) + ")");
        return sheets_[std::size_t(index - 1)].name;
    }
    std::shared_ptr<Worksheet> worksheet(const std::string& name) override;
    void close(bool saveChanges) override;
    // The saved package into sink (or, without one, safely over the file); false when nothing changed.
    bool writeChanges(const ByteSink* sink);

    void checkOpen() const {
        if (closed_) fail("Registrul " + text::quoted(path_) + " a fost inchis");
    }
    Sheet& sheet(std::size_t i) {
        auto& s = loaded_[i];
        if (!s) s = std::make_unique<Sheet>(sheets_[i].name, sheets_[i].part, sheets_[i].sheetId);
        return *s;
    }
    Package& package() { return pkg_; }
    // Nothing is read here: the table is read as its items are asked for, and keeps its own fault.
    SharedStrings& strings() {
        if (!strings_) {
            if (!sstPart_.empty() && pkg_.has(sstPart_)) {
                auto reader = std::make_shared<zip::EntryReader>(pkg_.archive(), *pkg_.entry(sstPart_));
                strings_ = std::make_unique<SharedStrings>(
                    sstPart_,
                    std::make_unique<StringTableReader>(
                        [reader](std::span<std::uint8_t> out) { return reader->read(out); }, sstPart_));
            } else {
                strings_ = std::make_unique<SharedStrings>(freePart("xl/sharedStrings", ".xml"), nullptr);
            }
        }
        return *strings_;
    }
    Styles& styles() {
        if (!styles_) {
            // Without the part, or lists of it, one made the way Excel reads such a workbook: every cell in
            // the default format.
            BytesPtr bytes;
            if (!stylesPart_.empty() && pkg_.has(stylesPart_)) bytes = pkg_.read(stylesPart_);
            if (stylesPart_.empty()) stylesPart_ = freePart("xl/styles", ".xml"), stylesLinked_ = false;
            const BytesPtr completed = completedStyles(bytes, stylesPart_, mainNs_);
            stylesWhole_ = completed != nullptr;
            styles_ = std::make_unique<Styles>(stylesPart_, completed ? completed : bytes);
        }
        return *styles_;
    }
    void activate(std::size_t i);
    const SheetEntry& entry(std::size_t i) const { return sheets_[i]; }
    std::string describe(const std::string& sheet, const RuntimeError& e) const {
        return "Foaia " + text::quotedExcerpt(sheet) + " din fisierul " + text::quoted(path_) + ": " +
               e.description();
    }

  private:
    std::string freePart(const std::string& stem, const std::string& ext) const {
        for (int i = 0; i < 1000; ++i) {
            std::string name = stem + (i ? std::to_string(i) : "") + ext;
            if (!pkg_.has(name)) return name;
        }
        fail("nu se gaseste un nume liber pentru o parte noua");
    }

    Package pkg_;
    std::string path_;
    std::string workbookPart_, stylesPart_, sstPart_, calcChainPart_, mainNs_;
    std::vector<SheetEntry> sheets_;
    int allSheets_ = 0;
    std::map<std::size_t, std::unique_ptr<Sheet>> loaded_;
    std::unique_ptr<SharedStrings> strings_;
    std::unique_ptr<Styles> styles_;
    bool stylesWhole_ = false, stylesLinked_ = true; // written whole; the workbook names a styles part
    std::optional<int> activeTab_;
    bool closed_ = false;
};

class XlsxWorksheet : public Worksheet {
  public:
    XlsxWorksheet(std::shared_ptr<XlsxWorkbook> owner, std::size_t index)
        : owner_(std::move(owner)), index_(index) {}

    std::string name() const override {
        owner_->checkOpen();
        return owner_->entry(index_).name;
    }
    CellValue cell(std::int16_t row, std::int16_t column) override {
        check(row, column);
        return guard([&] {
            Sheet& s = sheet();
            SharedStrings* strings = nullptr;
            try {
                strings = &owner_->strings();
            } catch (const RuntimeError&) {
                strings = nullptr; // no table to be had fails only the cells that need one
            }
            return s.value(owner_->package(), strings, row, column);
        });
    }
    void setCell(std::int16_t row, std::int16_t column, const CellValue& value) override {
        check(row, column);
        guard([&] {
            if (value.kind() == CellValue::Kind::Number && !std::isfinite(value.numberValue()))
                fail("valoarea nu este un numar finit si nu poate fi scrisa in celula " +
                     text::cellAddress(row, column));
            // The part would not be XML, and Excel keeps no more than 32767 characters in a cell.
            if (value.kind() == CellValue::Kind::Text && !xml::holdsAsText(value.textValue()))
                fail("textul are caractere de control sau octeti care nu sunt UTF-8 si nu poate fi scris in "
                     "celula " +
                     text::cellAddress(row, column));
            if (value.kind() == CellValue::Kind::Text && text::utf8ToUtf16(value.textValue()).size() > 32767)
                fail("textul are mai mult de 32767 de caractere si nu poate fi scris in celula " +
                     text::cellAddress(row, column));
            Sheet& s = loadedSheet();
            s.write(row, column, value, owner_->strings());
            return 0;
        });
    }
    void setColumnWidth(std::int16_t column, double characters) override {
        check(1, column);
        guard([&] {
            Sheet& s = loadedSheet();
            const int mdw = owner_->styles().maxDigitWidth();
            if (!(characters >= 0 && characters <= 255))
                fail("Latimea coloanei trebuie sa fie intre 0 si 255 de caractere");
            // Characters of the default font's widest digit plus 5 pixels of padding, in 1/256 of a
            // character.
            const double width = std::trunc((characters * mdw + 5) / mdw * 256) / 256;
            ColRange& c = s.isolate(column, numberText(s.defaultWidth(mdw)));
            c.set("width", numberText(characters == 0 ? 0 : width));
            c.set("customWidth", "1");
            c.dirty = true;
            return 0;
        });
    }
    void setColumnHorizontalAlignment(std::int16_t column, std::int32_t alignment) override {
        check(1, column);
        XfChange c;
        c.horizontal = horizontalName(alignment);
        formatColumn(column, c);
    }
    void setColumnNumberFormat(std::int16_t column, const std::string& format) override {
        check(1, column);
        guard([&] {
            XfChange c;
            c.numFmt = owner_->styles().numFmt(format);
            formatColumn(column, c);
            return 0;
        });
    }
    void setBold(std::int16_t row, std::int16_t column, bool bold) override {
        check(row, column);
        guard([&] {
            Sheet& s = loadedSheet();
            Styles& st = owner_->styles();
            const int xf = s.styleOf(row, column);
            XfChange c;
            c.font = st.boldFont(st.fontOf(xf), bold);
            if (*c.font != st.fontOf(xf)) s.setStyle(row, column, st.derive(xf, c));
            return 0;
        });
    }
    void borderAround(std::int16_t firstRow, std::int16_t firstColumn, std::int16_t lastRow,
                      std::int16_t lastColumn, std::int32_t lineStyle, std::int32_t weight) override {
        check(firstRow, firstColumn);
        check(lastRow, lastColumn);
        const std::string style = borderStyleName(lineStyle, weight);
        guard([&] {
            Sheet& s = loadedSheet();
            Styles& st = owner_->styles();
            forEachFrameCell(firstRow, firstColumn, lastRow, lastColumn, [&](int r, int c, unsigned sides) {
                const int xf = s.styleOf(r, c);
                XfChange ch;
                ch.border = st.borderWith(st.borderOf(xf), sides, style);
                s.setStyle(r, c, st.derive(xf, ch));
            });
            return 0;
        });
    }
    void activate() override {
        owner_->checkOpen();
        guard([&] {
            owner_->activate(index_);
            return 0;
        });
    }

  private:
    void check(int row, int column) const {
        owner_->checkOpen();
        if (row < 1 || column < 1 || column > kMaxColumns)
            fail("Celula (" + std::to_string(row) + ", " + std::to_string(column) +
                 ") este in afara foii: un registru .xlsx are 1048576 de randuri si 16384 de coloane");
    }
    Sheet& sheet() { return owner_->sheet(index_); }
    Sheet& loadedSheet() {
        Sheet& s = sheet();
        s.load(owner_->package());
        return s;
    }
    void formatColumn(int column, const XfChange& change) {
        guard([&] {
            Sheet& s = loadedSheet();
            Styles& st = owner_->styles();
            const int mdw = st.maxDigitWidth();
            ColRange& c = s.isolate(column, numberText(s.defaultWidth(mdw)));
            const int xf = st.derive(toInt(c.get("style"), 0), change);
            c.set("style", std::to_string(xf));
            c.dirty = true;
            for (int r : s.rowsWithCellsIn(column))
                s.setStyle(r, column, st.derive(s.styleOf(r, column), change));
            return 0;
        });
    }
    template <class F> auto guard(F&& f) -> decltype(f()) {
        try {
            return f();
        } catch (const RuntimeError& e) {
            if (e.number() != err::Application) throw;
            throw RuntimeError(e.number(), owner_->describe(owner_->entry(index_).name, e));
        } catch (const std::bad_alloc&) {
            fail(owner_->describe(owner_->entry(index_).name,
                                  RuntimeError(err::Application, "nu este destula memorie")));
        } catch (const std::exception&) {
            // A fault of the engine itself: said in the user's words, never a library's text.
            throw RuntimeError(err::Internal, owner_->describe(owner_->entry(index_).name,
                                                               RuntimeError(err::Internal, kInternal)));
        }
    }

    std::shared_ptr<XlsxWorkbook> owner_;
    std::size_t index_;
};

std::shared_ptr<Worksheet> XlsxWorkbook::worksheet(const std::string& name) {
    checkOpen();
    const std::size_t at = findSheet(
        sheets_.size(), [&](std::size_t k) -> const std::string& { return sheets_[k].name; }, name, path_);
    return std::make_shared<XlsxWorksheet>(shared_from_this(), at);
}

void XlsxWorkbook::activate(std::size_t i) {
    // A hidden sheet cannot be the one shown; the selection stays where it was.
    if (sheets_[i].hidden) return;
    activeTab_ = sheets_[i].position;
    for (std::size_t k = 0; k < sheets_.size(); ++k) {
        if (k == i) {
            Sheet& s = sheet(k);
            s.load(pkg_);
            if (!s.isSelected(pkg_)) s.select(true);
        } else if (loaded_.count(k) || pkg_.has(sheets_[k].part)) {
            Sheet& s = sheet(k);
            if (s.isSelected(pkg_)) {
                s.load(pkg_);
                s.select(false);
            }
        }
    }
}

std::string contentTypeOf(const Outline& types, const std::string& part) {
    const std::string wanted = text::foldCase("/" + part);
    for (int c : types.node(0).children) {
        const xml::Element& e = types.node(c).element;
        if (e.local == "Override" && e.attribute("PartName") &&
            text::foldCase(*e.attribute("PartName")) == wanted)
            return e.attribute("ContentType") ? *e.attribute("ContentType") : std::string();
    }
    const auto dot = part.rfind('.');
    const std::string ext = text::foldCase(dot == std::string::npos ? "" : part.substr(dot + 1));
    for (int c : types.node(0).children) {
        const xml::Element& e = types.node(c).element;
        if (e.local == "Default" && e.attribute("Extension") &&
            text::foldCase(*e.attribute("Extension")) == ext)
            return e.attribute("ContentType") ? *e.attribute("ContentType") : std::string();
    }
    return {};
}

void XlsxWorkbook::open() {
    const std::string typesPart(kContentTypes);
    const BytesPtr typesBytes = pkg_.read(typesPart);
    const auto types = Outline::parse(*typesBytes, typesPart, keepTypes);

    for (const Relationship& r : pkg_.relationships(""))
        if (!r.external && isType(r.type, "officeDocument")) {
            workbookPart_ = r.target;
            break;
        }
    if (workbookPart_.empty())
        fail("pachetul nu are relatia catre documentul principal (_rels/.rels), deci nu este un document "
             "Office");
    if (!pkg_.has(workbookPart_))
        fail("documentul principal " + partText(workbookPart_) + " lipseste din pachet");

    const std::string type = contentTypeOf(types, workbookPart_);
    static const std::pair<std::string_view, std::string_view> refused[] = {
        {"application/vnd.openxmlformats-officedocument.spreadsheetml.template.main+xml",
         "un sablon Excel (.xltx)"},
        {"application/vnd.ms-excel.template.macroEnabled.main+xml",
         "un sablon Excel cu macrocomenzi (.xltm)"},
        {"application/vnd.ms-excel.addin.macroEnabled.main+xml", "un supliment Excel (.xlam)"},
        {"application/vnd.ms-excel.sheet.binary.macroEnabled.main", "un registru Excel binar (.xlsb)"},
        {"application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml",
         "un document Word"},
        {"application/vnd.openxmlformats-officedocument.presentationml.presentation.main+xml",
         "o prezentare PowerPoint"}};
    for (const auto& [t, what] : refused)
        if (type == t)
            fail("este " + std::string(what) +
                 ", nu un registru .xlsx sau .xlsm; salvati-l ca registru Excel "
                 "pentru a-l prelucra");
    if (type != "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml" &&
        type != "application/vnd.ms-excel.sheet.macroEnabled.main+xml")
        fail("nu este un registru de calcul: documentul principal are tipul " + text::quotedExcerpt(type));

    const BytesPtr wb = pkg_.read(workbookPart_);
    const auto doc = Outline::parse(*wb, workbookPart_, keepWorkbook);
    mainNs_ = doc.root().element.uri;
    std::map<std::string, Relationship> rels;
    for (Relationship& r : pkg_.relationships(workbookPart_)) {
        if (r.external) continue;
        if (isType(r.type, "styles")) stylesPart_ = r.target;
        if (isType(r.type, "sharedStrings")) sstPart_ = r.target;
        if (isType(r.type, "calcChain")) calcChainPart_ = r.target;
        rels.emplace(r.id, std::move(r));
    }
    const int sheetsNode = doc.child(0, "sheets");
    if (sheetsNode < 0) fail(partText(workbookPart_) + " nu are lista foilor (sheets)");
    for (int s : doc.children(sheetsNode, "sheet")) {
        const xml::Element& e = doc.node(s).element;
        const int position = allSheets_++;
        const std::string* id = nullptr;
        for (const auto& a : e.attributes)
            if (a.local == "id" && !a.uri.empty()) id = &a.value;
        if (!id) continue;
        auto it = rels.find(*id);
        if (it == rels.end() || !isType(it->second.type, "worksheet"))
            continue; // chart, dialog, macro sheets
        SheetEntry en;
        en.name = e.attribute("name") ? *e.attribute("name") : std::string();
        en.part = it->second.target;
        en.position = position;
        en.sheetId = toInt(e.attribute("sheetId"), 0);
        const std::string* state = e.attribute("state");
        en.hidden = state && *state != "visible";
        sheets_.push_back(std::move(en));
    }
    // Each sheet is a part of its own: two sheets written into one part would each undo the other's edits.
    std::map<std::string, const SheetEntry*> parts;
    for (const SheetEntry& en : sheets_)
        if (const auto [at, fresh] = parts.emplace(text::foldCase(en.part), &en); !fresh)
            fail("foile " + text::quoted(at->second->name) + " si " + text::quoted(en.name) +
                 " trimit la aceeasi parte " + text::quoted(en.part) + ", ceea ce un registru nu poate avea");
}

void XlsxWorkbook::close(bool saveChanges) {
    checkOpen();
    if (saveChanges) writeChanges(nullptr);
    closed_ = true;
}

bool XlsxWorkbook::writeChanges(const ByteSink* sink) {
    checkOpen();
    std::vector<EditedPart> parts;
    std::set<std::pair<int, std::string>> dropped;
    try {
        for (auto& [i, s] : loaded_)
            if (s && s->changed()) {
                parts.push_back(s->write(styles_.get(), strings()));
                for (const auto& ref : s->formulasDropped())
                    dropped.emplace(s->sheetId(), ref);
            }
        if (styles_ && styles_->changed()) {
            parts.push_back(styles_->write());
            parts.back().whole = stylesWhole_;
        }
        const bool newStyles = styles_ && styles_->changed() && !pkg_.has(stylesPart_);
        const bool newStrings = strings_ && strings_->changed() && !strings_->exists();
        if (strings_ && strings_->changed() && strings_->exists()) parts.push_back(strings_->write(mainNs_));

        // The active sheet.
        if (activeTab_) {
            const BytesPtr wb = pkg_.read(workbookPart_);
            const auto doc = Outline::parse(*wb, workbookPart_, keepWorkbook);
            PartEditor ed(*wb);
            const int views = doc.child(0, "bookViews");
            const int view = views >= 0 ? doc.child(views, "workbookView") : -1;
            if (view >= 0) {
                const xml::Element& e = doc.node(view).element;
                if (toInt(e.attribute("activeTab"), 0) != *activeTab_)
                    ed.setAttribute(e, "activeTab", std::to_string(*activeTab_));
                if (toInt(e.attribute("firstSheet"), 0) > *activeTab_)
                    ed.setAttribute(e, "firstSheet", std::to_string(*activeTab_));
            } else if (*activeTab_ != 0) {
                const int sheetsNode = doc.child(0, "sheets");
                const xml::Element& s = doc.node(sheetsNode).element;
                ed.insert(s.begin, "<" + s.qualified("bookViews") + "><" + s.qualified("workbookView") +
                                       " activeTab=\"" + std::to_string(*activeTab_) + "\"/></" +
                                       s.qualified("bookViews") + ">");
            }
            if (ed.changed()) {
                checkEditable(workbookPart_, *wb);
                parts.push_back({workbookPart_, wb, ed.edits()});
            }
        }

        // Overwritten formulas leave the calculation chain; an empty chain goes with its relationship.
        bool dropChain = false;
        if (!dropped.empty() && !calcChainPart_.empty() && pkg_.has(calcChainPart_)) {
            const BytesPtr cc = pkg_.read(calcChainPart_);
            // Read as it goes by: a chain has an entry for every formula of the workbook.
            struct Chain : xml::Handler {
                Chain(const BytesPtr& cc, const std::set<std::pair<int, std::string>>& d)
                    : ed(*cc), dropped(d) {}
                PartEditor ed;
                const std::set<std::pair<int, std::string>>& dropped;
                int current = 0, kept = 0;
                std::optional<std::string> carry;
                void end(const xml::Element& e, const xml::EndTag& t) override {
                    if (e.depth != 1 || e.local != "c"sv) return;
                    const std::string* i = e.attribute("i");
                    if (i) current = toInt(i, current);
                    const std::string* r = e.attribute("r");
                    if (r && dropped.count({current, *r})) {
                        ed.replace(e.begin, t.end, "");
                        if (i) carry = *i;
                        return;
                    }
                    ++kept;
                    if (!i && carry) ed.setAttribute(e, "i", *carry);
                    carry.reset();
                }
            };
            const auto chain =
                xml::scanEither(*cc, calcChainPart_, [&] { return std::make_unique<Chain>(cc, dropped); });
            const int kept = chain->kept;
            PartEditor& ed = chain->ed;
            if (kept == 0)
                dropChain = true;
            else if (ed.changed())
                parts.push_back({calcChainPart_, cc, ed.edits()});
        }

        if (parts.empty() && !newStrings && !dropChain) return false;
        const bool styleRel = newStyles && !stylesLinked_;

        // Relationships and content types, only when a part comes or goes.
        const std::string relsPart = relsPartOf(workbookPart_);
        if (newStrings || dropChain || newStyles) {
            const BytesPtr rb = pkg_.read(relsPart);
            const auto rdoc = Outline::parse(*rb, relsPart, keepRelationships);
            const std::string typesPart(kContentTypes);
            const BytesPtr tb = pkg_.read(typesPart);
            const auto tdoc = Outline::parse(*tb, typesPart, keepTypes);
            checkEditable(relsPart, *rb);
            checkEditable(typesPart, *tb);
            PartEditor red(*rb), ted(*tb);
            const xml::Element& rroot = rdoc.root().element;
            const xml::Element& troot = tdoc.root().element;
            const bool strict = mainNs_ == kStrictMain;
            const std::string relBase =
                strict ? "http://purl.oclc.org/ooxml/officeDocument/relationships/"
                       : "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
            if (newStyles) {
                std::set<std::string> ids;
                for (int c : rdoc.node(0).children)
                    if (const auto* id = rdoc.node(c).element.attribute("Id")) ids.insert(*id);
                int n = 1;
                while (ids.count("rStyles" + std::to_string(n)))
                    ++n;
                const std::string dir = workbookPart_.substr(0, workbookPart_.rfind('/') + 1);
                const std::string target =
                    stylesPart_.starts_with(dir) ? stylesPart_.substr(dir.size()) : "/" + stylesPart_;
                if (styleRel)
                    red.appendChild(rroot, rdoc.root().endTag,
                                    "<" + rroot.qualified("Relationship") + " Id=\"rStyles" +
                                        std::to_string(n) + "\" Type=\"" + relBase + "styles\" Target=\"" +
                                        xml::escapeAttribute(target) + "\"/>");
                if (contentTypeOf(tdoc, stylesPart_).empty())
                    ted.appendChild(troot, tdoc.root().endTag,
                                    "<" + troot.qualified("Override") + " PartName=\"/" +
                                        xml::escapeAttribute(stylesPart_) +
                                        "\" ContentType=\"application/vnd.openxmlformats-officedocument."
                                        "spreadsheetml.styles+xml\"/>");
            }
            if (newStrings) {
                std::set<std::string> ids;
                for (int c : rdoc.node(0).children)
                    if (const auto* id = rdoc.node(c).element.attribute("Id")) ids.insert(*id);
                int n = 1;
                while (ids.count("rId" + std::to_string(n)))
                    ++n;
                const std::string& sst = strings_->part();
                const std::string dir = workbookPart_.substr(0, workbookPart_.rfind('/') + 1);
                const std::string target = sst.starts_with(dir) ? sst.substr(dir.size()) : "/" + sst;
                red.appendChild(rroot, rdoc.root().endTag,
                                "<" + rroot.qualified("Relationship") + " Id=\"rId" + std::to_string(n) +
                                    "\" Type=\"" + relBase + "sharedStrings\" Target=\"" +
                                    xml::escapeAttribute(target) + "\"/>");
                ted.appendChild(
                    troot, tdoc.root().endTag,
                    "<" + troot.qualified("Override") + " PartName=\"/" + xml::escapeAttribute(sst) +
                        "\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml."
                        "sharedStrings+xml\"/>");
            }
            if (dropChain) {
                for (int c : rdoc.node(0).children) {
                    const auto& n = rdoc.node(c);
                    const std::string* t = n.element.attribute("Type");
                    const std::string* target = n.element.attribute("Target");
                    if (t && isType(*t, "calcChain") && target &&
                        resolveTarget(workbookPart_, *target) == calcChainPart_)
                        red.replace(n.element.begin, n.endTag.end, "");
                }
                for (int c : tdoc.node(0).children) {
                    const auto& n = tdoc.node(c);
                    const std::string* name = n.element.attribute("PartName");
                    if (n.element.local == "Override" && name &&
                        text::foldCase(*name) == text::foldCase("/" + calcChainPart_))
                        ted.replace(n.element.begin, n.endTag.end, "");
                }
            }
            if (red.changed()) parts.push_back({relsPart, rb, red.edits()});
            if (ted.changed()) parts.push_back({typesPart, tb, ted.edits()});
        }

        zip::ArchiveWriter writer(pkg_.archive());
        for (EditedPart& p : parts) {
            auto shared = std::make_shared<EditedPart>(std::move(p));
            if (shared->whole) {
                writer.replace(shared->name, [shared](const ByteSink& sink) {
                    shared->edits.writeTo(*shared->bytes, sink);
                });
                continue;
            }
            // Between its edits a part is the original's: a large sheet edited near its top keeps the rest of
            // its compressed bytes, a string table edited at both ends (its counts, its new strings) the
            // middle.
            const std::span<const std::uint8_t> bytes(*shared->bytes);
            auto head = [shared, bytes](const ByteSink& sink, std::uint64_t upTo) {
                if (upTo >= bytes.size()) return shared->edits.writeTo(bytes, sink);
                shared->edits.writeTo(bytes, 0, std::size_t(upTo), sink);
            };
            const auto [gapBegin, gapEnd] = shared->edits.longestGap();
            if (gapEnd - gapBegin > bytes.size() - std::min(bytes.size(), shared->edits.end()))
                writer.replaceHeadAndTail(
                    shared->name, head, gapBegin,
                    [shared, bytes](const ByteSink& sink, std::uint64_t from) {
                        shared->edits.writeTo(bytes, std::size_t(from), bytes.size(), sink);
                    },
                    gapEnd);
            else
                writer.replaceHead(shared->name, head, shared->edits.end());
        }
        if (newStrings) {
            auto sst = std::make_shared<EditedPart>(strings_->write(mainNs_));
            writer.add(sst->name, [sst](const ByteSink& sink) { sink(*sst->bytes); });
        }
        if (dropChain) writer.remove(calcChainPart_);
        if (sink)
            writer.writeTo(*sink);
        else
            saveInPlace(*pkg_.source(), [&](const ByteSink& out) { writer.writeTo(out); });
    } catch (const RuntimeError& e) {
        if (e.number() != err::Application) throw;
        throw RuntimeError(e.number(),
                           "Registrul " + text::quoted(path_) + " nu poate fi salvat: " + e.description());
    } catch (const std::bad_alloc&) {
        fail("Registrul " + text::quoted(path_) + " nu poate fi salvat: nu este destula memorie");
    } catch (const std::exception&) {
        throw RuntimeError(err::Internal,
                           "Registrul " + text::quoted(path_) + " nu poate fi salvat: " + kInternal);
    }
    return true;
}

} // namespace

bool writePackage(Workbook& workbook, const ByteSink& sink) {
    auto* wb = dynamic_cast<XlsxWorkbook*>(&workbook);
    if (!wb) throw RuntimeError(err::Internal, "registrul nu este un pachet .xlsx");
    return wb->writeChanges(&sink);
}

bool isOfficePackage(const zip::Archive& archive) {
    return archive.find(kContentTypes) != nullptr;
}

std::shared_ptr<Workbook> openWorkbook(std::shared_ptr<const SourceFile> source, zip::Archive archive) {
    const std::string name = text::quoted(source->path());
    try {
        auto wb = std::make_shared<XlsxWorkbook>(std::move(source), std::move(archive));
        wb->open();
        return wb;
    } catch (const RuntimeError& e) {
        throw RuntimeError(e.number(), "Fisierul " + name + " nu poate fi deschis: " + e.description());
    } catch (const std::bad_alloc&) {
        fail("Fisierul " + name + " nu poate fi deschis: nu este destula memorie");
    } catch (const std::exception&) {
        throw RuntimeError(err::Internal, "Fisierul " + name + " nu poate fi deschis: " + kInternal);
    }
}

} // namespace ordana::spreadsheet::xlsx
