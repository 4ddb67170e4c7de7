#include "Styles.h"

#include "SheetRows.h"
#include "common/Text.h"
#include "spreadsheet/Spreadsheet.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace ordana::spreadsheet::xlsx {

namespace {

// Names compared as views: their lengths first, where a std::string against a literal measures both.
using namespace std::string_view_literals;

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

} // namespace

BytesPtr completedStyles(const BytesPtr& bytes, const std::string& part, const std::string& mainNs,
                         std::shared_ptr<MemoryBudget> budget) {
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
    const auto doc = Outline::parse(
        *bytes, part, [](const xml::Element& e) { return e.depth <= 2; }, std::move(budget));
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

Styles::Styles(std::string part, BytesPtr bytes, std::shared_ptr<MemoryBudget> budget)
    : part_(std::move(part)), bytes_(std::move(bytes)), budget_(std::move(budget)), held_(budget_, part_),
      doc_(Outline::parse(*bytes_, part_, keepStyles, budget_)) {
    numFmts_ = doc_.child(0, "numFmts");
    fonts_ = doc_.child(0, "fonts");
    borders_ = doc_.child(0, "borders");
    cellXfs_ = doc_.child(0, "cellXfs");
    if (fonts_ < 0 || borders_ < 0 || cellXfs_ < 0 || doc_.children(cellXfs_, "xf").empty())
        fail(partText(part_) + " nu are listele de fonturi, chenare si formate de celula");
    fontNodes_ = doc_.children(fonts_, "font");
    borderNodes_ = doc_.children(borders_, "border");
    for (int x : doc_.children(cellXfs_, "xf")) {
        xfs_.push_back(render(parseXf(x)));
        held_.add(sizeof(std::string) + heapOf(xfs_.back()));
    }
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

int Styles::fontOf(int xf) {
    xf = clampXf(xf);
    if (std::size_t(xf) >= originalXfs()) return fontOfNew_[std::size_t(xf) - originalXfs()];
    return toInt(doc_.node(doc_.children(cellXfs_, "xf")[std::size_t(xf)]).element.attribute("fontId"), 0);
}

int Styles::borderOf(int xf) {
    xf = clampXf(xf);
    if (std::size_t(xf) >= originalXfs()) return borderOfNew_[std::size_t(xf) - originalXfs()];
    return toInt(doc_.node(doc_.children(cellXfs_, "xf")[std::size_t(xf)]).element.attribute("borderId"), 0);
}

int Styles::derive(int xf, const XfChange& c) {
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
    if (c.numFmt) set(x.attrs, "numFmtId", std::to_string(*c.numFmt)), set(x.attrs, "applyNumberFormat", "1");
    if (c.font) set(x.attrs, "fontId", std::to_string(*c.font)), set(x.attrs, "applyFont", "1");
    if (c.border) set(x.attrs, "borderId", std::to_string(*c.border)), set(x.attrs, "applyBorder", "1");
    if (c.horizontal)
        set(x.align, "horizontal", *c.horizontal), set(x.attrs, "applyAlignment", "1"), x.hasAlign = true;
    const std::string s = render(x);
    for (std::size_t i = 0; i < xfs_.size(); ++i)
        if (xfs_[i] == s) return int(i);
    held_.add(2 * s.size() + sizeof(Xf) + sizeof(std::string));
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

Outline Styles::itemOutline(const std::string& text) const {
    return Outline::parse(
        view(text), part_, [](const xml::Element& e) { return e.depth <= 2; }, budget_);
}

std::size_t Styles::itemLength(const std::vector<int>& nodes, const std::vector<std::string>& added,
                               int i) const {
    if (i >= 0 && std::size_t(i) < nodes.size()) return nodeText(nodes[std::size_t(i)]).size();
    if (i >= 0 && std::size_t(i) < nodes.size() + added.size())
        return added[std::size_t(i) - nodes.size()].size();
    return nodes.empty() ? 0 : nodeText(nodes[0]).size();
}

int Styles::boldFont(int font, bool bold) {
    // The font's children without any <b>, then <b/> first when bold; its copies taken before they are made.
    Held held(budget_, part_);
    held.add(3 * itemLength(fontNodes_, newFonts_, font) + scope_.size());
    const std::string base = inScope(fontText(font));
    const auto doc = itemOutline(base);
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

int Styles::borderWith(int border, unsigned sides, const std::string& style) {
    Held held(budget_, part_);
    held.add(3 * itemLength(borderNodes_, newBorders_, border) + scope_.size());
    const std::string base = inScope(borderText(border));
    const auto doc = itemOutline(base);
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
            inner +=
                base.substr(doc.node(c).element.begin, doc.node(c).endTag.end - doc.node(c).element.begin);
    }
    const std::string tag = base.substr(e.begin, e.startEnd - e.begin);
    const std::string open = b.endTag.begin == e.startEnd ? tag.substr(0, tag.rfind('/')) + ">" : tag;
    return addBorder(open + inner + "</" + e.qualified(e.local) + ">");
}

int Styles::numFmt(const std::string& code) {
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

int Styles::maxDigitWidth() const {
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
    else if (name == "ARIAL" || name.starts_with("LIBERATION SANS") || name == "HELVETICA" || name == "ARIMO")
        factor = 0.556;
    else if (name.starts_with("TIMES") || name.starts_with("LIBERATION SERIF") || name.starts_with("APTOS"))
        factor = 0.5;
    return std::max(1, int(std::lround(size * 96 / 72 * factor)));
}

bool Styles::changed() const {
    return !newFonts_.empty() || !newBorders_.empty() || !newXfs_.empty() || !newFmts_.empty();
}

EditedPart Styles::write() const {
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
            ed.insert(doc_.root().element.startEnd, "<" + qualifiedName(prefix_, "numFmts") + " count=\"" +
                                                        std::to_string(newFmts_.size()) + "\">" + all + "</" +
                                                        qualifiedName(prefix_, "numFmts") + ">");
        }
    }
    append(fonts_, newFonts_, fontNodes_.size());
    append(borders_, newBorders_, borderNodes_.size());
    std::vector<std::string> xfTexts(xfs_.begin() + std::ptrdiff_t(originalXfs()), xfs_.end());
    append(cellXfs_, xfTexts, originalXfs());
    return {part_, bytes_, ed.edits()};
}

Styles::Xf Styles::parseXf(int node) {
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
            // Taken while the format is made; what is kept of it is taken again where it is kept.
            Held held(budget_, part_);
            held.add(ch.endTag.end - ch.element.begin);
            x.rest += std::string(reinterpret_cast<const char*>(bytes_->data() + ch.element.begin),
                                  ch.endTag.end - ch.element.begin);
        }
    }
    return x;
}

std::string Styles::render(const Xf& x) {
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

std::string_view Styles::nodeText(int node) const {
    const auto& n = doc_.node(node);
    return {reinterpret_cast<const char*>(bytes_->data() + n.element.begin), n.endTag.end - n.element.begin};
}

std::string Styles::fontText(int font) const {
    if (font >= 0 && std::size_t(font) < fontNodes_.size())
        return std::string(nodeText(fontNodes_[std::size_t(font)]));
    if (font >= 0 && std::size_t(font) < fontNodes_.size() + newFonts_.size())
        return newFonts_[std::size_t(font) - fontNodes_.size()];
    return fontNodes_.empty() ? "<" + qualifiedName(prefix_, "font") + "/>"
                              : std::string(nodeText(fontNodes_[0]));
}

std::string Styles::borderText(int border) const {
    if (border >= 0 && std::size_t(border) < borderNodes_.size())
        return std::string(nodeText(borderNodes_[std::size_t(border)]));
    if (border >= 0 && std::size_t(border) < borderNodes_.size() + newBorders_.size())
        return newBorders_[std::size_t(border) - borderNodes_.size()];
    return "<" + qualifiedName(prefix_, "border") + "/>";
}

int Styles::addFont(const std::string& s) {
    for (std::size_t i = 0; i < fontNodes_.size(); ++i)
        if (nodeText(fontNodes_[i]) == s) return int(i);
    for (std::size_t i = 0; i < newFonts_.size(); ++i)
        if (newFonts_[i] == s) return int(fontNodes_.size() + i);
    held_.add(2 * s.size());
    newFonts_.push_back(s);
    return int(fontNodes_.size() + newFonts_.size() - 1);
}

int Styles::addBorder(const std::string& s) {
    for (std::size_t i = 0; i < borderNodes_.size(); ++i)
        if (nodeText(borderNodes_[i]) == s) return int(i);
    for (std::size_t i = 0; i < newBorders_.size(); ++i)
        if (newBorders_[i] == s) return int(borderNodes_.size() + i);
    held_.add(2 * s.size());
    newBorders_.push_back(s);
    return int(borderNodes_.size() + newBorders_.size() - 1);
}

} // namespace ordana::spreadsheet::xlsx
