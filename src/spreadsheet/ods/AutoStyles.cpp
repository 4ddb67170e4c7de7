#include "AutoStyles.h"

#include "Content.h"
#include "PackageParts.h"
#include "spreadsheet/xml/Escape.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace ordana::spreadsheet::ods {

double digitTwips(std::string family, double points) {
    // The widest digit, in em, of the face LibreOffice draws for a family on Debian: the metric-compatible
    // Liberation faces for Arial, Times New Roman and Courier New; DejaVu Sans, fontconfig's sans-serif, for
    // a family the system does not carry (Calibri among them, unless Carlito is installed).
    static const std::pair<std::string_view, double> widths[] = {{"liberation sans", 1139 / 2048.0},
                                                                 {"arial", 1139 / 2048.0},
                                                                 {"helvetica", 1139 / 2048.0},
                                                                 {"arimo", 1139 / 2048.0},
                                                                 {"nimbus sans", 1139 / 2048.0},
                                                                 {"nimbus sans l", 1139 / 2048.0},
                                                                 {"albany", 1139 / 2048.0},
                                                                 {"albany amt", 1139 / 2048.0},
                                                                 {"liberation serif", 0.5},
                                                                 {"times new roman", 0.5},
                                                                 {"tinos", 0.5},
                                                                 {"liberation mono", 1229 / 2048.0},
                                                                 {"courier new", 1229 / 2048.0},
                                                                 {"cousine", 1229 / 2048.0},
                                                                 {"carlito", 1038 / 2048.0},
                                                                 {"dejavu sans mono", 1233 / 2048.0}};
    for (char& ch : family)
        ch = char(std::tolower(static_cast<unsigned char>(ch)));
    double em = 1303 / 2048.0; // DejaVu Sans, DejaVu Serif
    for (const auto& [name, w] : widths)
        if (family == name) em = w;
    if (!(points > 0 && points < 400)) points = 10;
    // LibreOffice measures it on its reference device, in whole twips.
    return std::round(points * 20 * em);
}

std::string columnWidthFor(double characters, double twipsPerDigit) {
    // LibreOffice gives a column of n characters n digit widths, in hundredths of a millimetre (measured on
    // its own conversions of .xlsx columns of 6, 22 and 10 characters: Liberation Sans 10 is 111 twips a
    // digit, 0.4626in, 1.6957in, 0.7709in; DejaVu Sans 11, what Calibri 11 is drawn in, 140: 0.5835in,
    // 2.139in, 0.972in), and stores it in inches to four places.
    const double mm100 = std::round(std::max(0.0, characters) * twipsPerDigit * 127 / 72);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.4f", mm100 / 2540);
    std::string s(buf);
    while (s.back() == '0')
        s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s + "in";
}

StylesFont readStyles(const zip::Archive& archive, const zip::Entry& entry, std::set<std::string>& names,
                      Held& held) {
    struct Reader : xml::Handler {
        StylesFont font;
        std::set<std::string>& names;
        Held& held;
        // The style being read whose text properties may be chosen (0, 1), at its depth; -1 for none.
        int slot = -1, depth = 0;
        Reader(std::set<std::string>& n, Held& h) : names(n), held(h) {}
        void start(const xml::Element& e) override {
            if (const std::string* name = attr(e, ns::style, "name"); name && mayBeNewStyleName(*name))
                if (names.insert(*name).second) held.add(64 + name->size());
            if (e.uri != ns::style) return;
            const std::string* name = attr(e, ns::style, "name");
            const std::string* family = attr(e, ns::style, "family");
            if (family && *family == "table-cell") {
                if (e.local == "style" && name && *name == "Default" && !font.chosen[0])
                    slot = 0, depth = e.depth;
                if (e.local == "default-style" && !font.chosen[1]) slot = 1, depth = e.depth;
            }
            if (e.local == "text-properties" && slot >= 0 && e.depth == depth + 1 && !font.chosen[slot]) {
                StylesFont::Props p;
                if (const std::string* v = attr(e, ns::fo, "font-family")) p.family = *v;
                if (const std::string* v = attr(e, ns::style, "font-name")) p.fontName = *v;
                if (const std::string* v = attr(e, ns::fo, "font-size")) p.size = *v;
                font.chosen[slot] = std::move(p);
            }
            if (e.local == "font-face" && name)
                if (const std::string* ff =
                        attr(e, "urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0", "font-family")) {
                    held.add(128 + name->size() + ff->size());
                    font.faces[*name] = *ff;
                }
        }
        void end(const xml::Element& e, const xml::EndTag&) override {
            if (slot >= 0 && e.depth == depth) slot = -1;
        }
    } reader(names, held);
    scanPart(archive, entry, reader);
    return std::move(reader.font);
}

double defaultDigitTwips(const StylesFont& f) {
    // The "Default" cell style, then the cells' default style: the first to say gives the family, and the
    // first to say the size (a converted .xlsx names its font in the one and leaves the size to the other).
    std::optional<std::string> font;
    std::optional<double> points;
    for (const auto& props : f.chosen) {
        if (!props) continue;
        if (!font && props->family) {
            font = *props->family;
        } else if (!font && props->fontName) {
            font = *props->fontName;
            if (const auto it = f.faces.find(*props->fontName); it != f.faces.end()) font = it->second;
        }
        if (const auto& sz = props->size;
            !points && sz && sz->size() > 2 && sz->compare(sz->size() - 2, 2, "pt") == 0) {
            double v = 0;
            if (std::from_chars(sz->data(), sz->data() + sz->size() - 2, v).ec ==
                std::errc()) // not the locale's
                points = v;
        }
    }
    std::string family = font.value_or("Liberation Sans");
    family.erase(std::remove(family.begin(), family.end(), '\''), family.end());
    if (const auto comma = family.find(','); comma != std::string::npos) family.erase(comma);
    return digitTwips(family, points.value_or(10));
}

bool mayBeNewStyleName(std::string_view name) {
    for (std::string_view stem : {"ce", "co", "N"})
        if (name.size() > stem.size() && name.substr(0, stem.size()) == stem &&
            name.find_first_not_of("0123456789", stem.size()) == std::string_view::npos)
            return true;
    return false;
}

std::string Content::newName(const std::string& stem) {
    for (std::size_t n = 1;; ++n) {
        std::string name = stem + std::to_string(n);
        if (!usedNames_.count(name) && !styles_.count(name)) {
            usedNames_.insert(name);
            return name;
        }
    }
}

std::string Content::signature(const AutoStyle& s) const {
    std::string sig = s.family + "|" + s.parent + "|" + s.dataStyle;
    std::vector<std::string> parts;
    for (const Attr& a : s.attrs)
        parts.push_back(a.uri + " " + a.local + "=" + a.value);
    for (const PropertyEl& p : s.props)
        for (const Attr& a : p.attrs)
            parts.push_back(p.local + ":" + a.uri + " " + a.local + "=" + a.value);
    std::sort(parts.begin(), parts.end());
    for (const auto& p : parts)
        sig += "|" + p;
    if (!s.other.empty()) sig += "|other:" + s.name; // conditions make a style its own
    return sig;
}

namespace {
PropertyEl& props(AutoStyle& s, std::string_view local, const std::string& qn) {
    for (PropertyEl& p : s.props)
        if (p.local == local && p.uri == ns::style) return p;
    s.props.push_back({std::string(ns::style), std::string(local), qn, {}});
    return s.props.back();
}
void setProp(PropertyEl& p, std::string_view uri, std::string_view local, const std::string& qn,
             const std::string& value) {
    for (Attr& a : p.attrs)
        if (a.local == local && a.uri == uri) {
            a.value = value;
            return;
        }
    p.attrs.push_back({std::string(uri), std::string(local), qn, value});
}
void removeProp(PropertyEl& p, std::string_view uri, std::string_view local) {
    std::erase_if(p.attrs, [&](const Attr& a) { return a.local == local && a.uri == uri; });
}
const Attr* findProp(const PropertyEl& p, std::string_view uri, std::string_view local) {
    for (const Attr& a : p.attrs)
        if (a.local == local && a.uri == uri) return &a;
    return nullptr;
}
} // namespace

std::string Content::derive(const std::string& base, const StyleChange& change) {
    std::string key = base + "\x01" + (change.textAlign ? *change.textAlign : "-") + "\x01" +
                      (change.dataStyle ? *change.dataStyle : "-") + "\x01" +
                      (change.bold ? (*change.bold ? "b" : "n") : "-") + "\x01" + change.border;
    for (bool b : change.borders)
        key += b ? '1' : '0';
    if (const auto it = derived_.find(key); it != derived_.end()) return it->second;

    AutoStyle s;
    if (const auto it = styles_.find(base); it != styles_.end() && it->second.family == "table-cell") {
        s = it->second;
    } else {
        s.family = "table-cell";
        s.parent = base;
    }
    s.name.clear();
    if (change.textAlign) {
        PropertyEl& para = props(s, "paragraph-properties", q(ns::style, "paragraph-properties"));
        // An empty alignment is none of the cell's own: the value's type decides, as in a new cell. (Set
        // before the next props(), which may move para.)
        if (change.textAlign->empty())
            removeProp(para, ns::fo, "text-align");
        else
            setProp(para, ns::fo, "text-align", q(ns::fo, "text-align"), *change.textAlign);
        PropertyEl& cellp = props(s, "table-cell-properties", q(ns::style, "table-cell-properties"));
        setProp(cellp, ns::style, "text-align-source", q(ns::style, "text-align-source"),
                change.textAlign->empty() ? "value-type" : "fix");
    }
    if (change.dataStyle) s.dataStyle = *change.dataStyle;
    if (change.bold) {
        PropertyEl& tp = props(s, "text-properties", q(ns::style, "text-properties"));
        const std::string w = *change.bold ? "bold" : "normal";
        setProp(tp, ns::fo, "font-weight", q(ns::fo, "font-weight"), w);
        setProp(tp, ns::style, "font-weight-asian", q(ns::style, "font-weight-asian"), w);
        setProp(tp, ns::style, "font-weight-complex", q(ns::style, "font-weight-complex"), w);
    }
    if (change.borders[0] || change.borders[1] || change.borders[2] || change.borders[3]) {
        PropertyEl& cp = props(s, "table-cell-properties", q(ns::style, "table-cell-properties"));
        static constexpr std::string_view sides[4] = {"border-left", "border-right", "border-top",
                                                      "border-bottom"};
        if (const Attr* all = findProp(cp, ns::fo, "border")) {
            const std::string v = all->value;
            removeProp(cp, ns::fo, "border");
            for (auto side : sides)
                if (!findProp(cp, ns::fo, side)) setProp(cp, ns::fo, side, q(ns::fo, side), v);
        }
        for (int i = 0; i < 4; ++i)
            if (change.borders[i]) setProp(cp, ns::fo, sides[i], q(ns::fo, sides[i]), change.border);
    }
    const std::string sig = signature(s);
    std::string name;
    if (const auto it = bySignature_.find(sig); it != bySignature_.end()) {
        name = it->second;
    } else {
        name = newName("ce");
        s.name = name;
        styles_[name] = s;
        newStyles_.push_back(s);
        bySignature_[sig] = name;
    }
    derived_[key] = name;
    modified_ = true;
    return name;
}

std::string Content::columnWidthStyle(const std::string& width) {
    AutoStyle s;
    s.family = "table-column";
    PropertyEl& p = props(s, "table-column-properties", q(ns::style, "table-column-properties"));
    setProp(p, ns::fo, "break-before", q(ns::fo, "break-before"), "auto");
    setProp(p, ns::style, "column-width", q(ns::style, "column-width"), width);
    const std::string sig = signature(s);
    if (const auto it = bySignature_.find(sig); it != bySignature_.end()) return it->second;
    s.name = newName("co");
    styles_[s.name] = s;
    newStyles_.push_back(s);
    bySignature_[sig] = s.name;
    modified_ = true;
    return s.name;
}

std::string Content::numberStyle(int decimals) {
    // The signature as the parser builds it: root attributes but the name, then each child.
    // LibreOffice's own form of "0" and "0.000".
    const std::string d = std::to_string(decimals);
    const std::string sig =
        "number-style <number decimal-places=" + d + " min-decimal-places=" + d + " min-integer-digits=1 >";
    if (const auto it = numberStyles_.find(sig); it != numberStyles_.end()) return it->second;
    std::string name = newName("N");
    std::string x = "<" + q(ns::number, "number-style") + nsDecl(ns::number) + nsDecl(ns::style) + " " +
                    q(ns::style, "name") + "=\"" + name + "\"><" + q(ns::number, "number");
    x += " " + q(ns::number, "decimal-places") + "=\"" + d + "\" " + q(ns::number, "min-decimal-places") +
         "=\"" + d + "\"";
    x += " " + q(ns::number, "min-integer-digits") + "=\"1\"/></" + q(ns::number, "number-style") + ">";
    newNumberStyles_.push_back(std::move(x));
    numberStyles_[sig] = name;
    modified_ = true;
    return name;
}

std::string Content::styleXml(const AutoStyle& s) const {
    std::string x = "<" + q(ns::style, "style") + nsDecl(ns::style) + " " + q(ns::style, "name") + "=\"" +
                    xml::escapeXml(s.name, true) + "\" " + q(ns::style, "family") + "=\"" + s.family + "\"";
    if (!s.parent.empty())
        x += " " + q(ns::style, "parent-style-name") + "=\"" + xml::escapeXml(s.parent, true) + "\"";
    if (!s.dataStyle.empty())
        x += " " + q(ns::style, "data-style-name") + "=\"" + xml::escapeXml(s.dataStyle, true) + "\"";
    for (const Attr& a : s.attrs)
        x += " " + a.qname + "=\"" + xml::escapeXml(a.value, true) + "\"";
    x += ">";
    // Property elements in the order the schema gives them.
    static constexpr std::string_view order[] = {"table-column-properties", "table-cell-properties",
                                                 "paragraph-properties", "text-properties"};
    std::vector<const PropertyEl*> ps;
    for (auto o : order)
        for (const PropertyEl& p : s.props)
            if (p.local == o) ps.push_back(&p);
    for (const PropertyEl& p : s.props)
        if (std::find(ps.begin(), ps.end(), &p) == ps.end()) ps.push_back(&p);
    bool needFo = false;
    for (const PropertyEl* p : ps) {
        x += "<" + p->qname;
        for (const Attr& a : p->attrs) {
            x += " " + a.qname + "=\"" + xml::escapeXml(a.value, true) + "\"";
            needFo |= a.uri == ns::fo;
        }
        x += "/>";
    }
    if (needFo && !nsDecl(ns::fo).empty()) x.insert(x.find(' '), nsDecl(ns::fo));
    for (const Span& o : s.other)
        x += original(o.begin, o.end, nullptr);
    x += "</" + q(ns::style, "style") + ">";
    return x;
}

} // namespace ordana::spreadsheet::ods
