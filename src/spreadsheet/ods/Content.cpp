#include "Content.h"

#include "common/RuntimeError.h"
#include "common/Text.h"
#include "spreadsheet/xml/PlainParser.h"
#include "spreadsheet/xml/XmlPart.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <expat.h>
#include <iterator>

namespace ordana::spreadsheet::ods {

// Names compared as views: their lengths first, where a std::string against a literal measures both.
using namespace std::string_view_literals;

namespace {

struct Name {
    std::string_view uri, local, prefix;
    // Compared by address first: the reader's own namespaces resolve to their constants.
    bool in(std::string_view ns) const { return uri.data() == ns.data() || uri == ns; }
};

// Rows, cells and columns are runs sorted by their first index, each covering [first, first + repeat).
constexpr std::size_t kNoRun = std::size_t(-1);

// The last run that starts at or before i, or kNoRun.
template <class Run> std::size_t runFrom(const std::vector<Run>& runs, std::uint32_t i) {
    const auto it = std::upper_bound(runs.begin(), runs.end(), i,
                                     [](std::uint32_t v, const Run& e) { return v < e.first; });
    return it == runs.begin() ? kNoRun : std::size_t(it - runs.begin()) - 1;
}

template <class Run> bool covers(const Run& e, std::uint32_t i) {
    return e.first <= i && std::uint64_t(e.first) + e.repeat > i;
}

// The run that covers i, or kNoRun.
template <class Run> std::size_t runAt(const std::vector<Run>& runs, std::uint32_t i) {
    const std::size_t k = runFrom(runs, i);
    return k != kNoRun && covers(runs[k], i) ? k : kNoRun;
}

std::string qname(const Name& n) {
    return n.prefix.empty() ? std::string(n.local) : std::string(n.prefix) + ":" + std::string(n.local);
}

std::uint32_t repeatOf(std::string_view v) {
    std::uint64_t n = 0;
    for (std::size_t i = 0; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i)
        n = std::min<std::uint64_t>(n * 10 + std::uint64_t(v[i] - '0'), 0x7FFFFFFF);
    return n == 0 ? 1 : std::uint32_t(n);
}

// An xsd:double as a cell's value holds it: white space around it, an optional sign, and nothing else;
// finite (LibreOffice writes no NaN or infinity, and no sum can take one).
std::optional<double> parseDouble(std::string_view s) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!s.empty() && space(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && space(s.back()))
        s.remove_suffix(1);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    double d = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), d);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size() || !std::isfinite(d)) return std::nullopt;
    return d;
}

// Days since 1899-12-30 of a proleptic Gregorian date.
double daysOf(int y, int m, int d) {
    // Days from civil, shifted so that 1899-12-30 is 0.
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return double(era) * 146097 + doe - 719468 + 25569;
}

// "2024-03-01" or "2024-03-01T12:30:00.5" to days from 1899-12-30.
std::optional<double> parseDate(std::string_view s) {
    int y = 0, m = 0, d = 0;
    bool neg = !s.empty() && s.front() == '-';
    if (neg) s.remove_prefix(1);
    auto num = [&](int& out, std::size_t digits) {
        if (s.size() < digits) return false;
        const auto r = std::from_chars(s.data(), s.data() + digits, out);
        if (r.ec != std::errc() || r.ptr != s.data() + digits) return false;
        s.remove_prefix(digits);
        return true;
    };
    std::size_t yd = s.find('-');
    if (yd == std::string_view::npos || yd < 4 || yd > 6 || !num(y, yd) || s.empty() || s.front() != '-')
        return std::nullopt;
    s.remove_prefix(1);
    if (!num(m, 2) || s.empty() || s.front() != '-') return std::nullopt;
    s.remove_prefix(1);
    if (!num(d, 2) || m < 1 || m > 12 || d < 1 || d > 31) return std::nullopt;
    double days = daysOf(neg ? -y : y, m, d);
    if (!s.empty() && s.front() == 'T') {
        s.remove_prefix(1);
        int hh = 0, mm = 0;
        if (!num(hh, 2) || s.empty() || s.front() != ':') return std::nullopt;
        s.remove_prefix(1);
        if (!num(mm, 2)) return std::nullopt;
        double ss = 0;
        if (!s.empty() && s.front() == ':') {
            s.remove_prefix(1);
            std::size_t e = 0;
            while (e < s.size() && ((s[e] >= '0' && s[e] <= '9') || s[e] == '.'))
                ++e;
            auto v = parseDouble(s.substr(0, e));
            if (!v) return std::nullopt;
            ss = *v;
        }
        days += (hh * 3600.0 + mm * 60.0 + ss) / 86400.0;
    }
    return days;
}

// "PT12H30M05S" (a duration) to a fraction of a day.
std::optional<double> parseDuration(std::string_view s) {
    bool neg = !s.empty() && s.front() == '-';
    if (neg) s.remove_prefix(1);
    if (s.empty() || s.front() != 'P') return std::nullopt;
    s.remove_prefix(1);
    double seconds = 0;
    bool inTime = false, any = false;
    while (!s.empty()) {
        if (s.front() == 'T') {
            inTime = true;
            s.remove_prefix(1);
            continue;
        }
        std::size_t e = 0;
        while (e < s.size() && ((s[e] >= '0' && s[e] <= '9') || s[e] == '.'))
            ++e;
        if (e == 0 || e == s.size()) return std::nullopt;
        auto v = parseDouble(s.substr(0, e));
        if (!v) return std::nullopt;
        const char unit = s[e];
        s.remove_prefix(e + 1);
        any = true;
        if (!inTime && unit == 'D')
            seconds += *v * 86400;
        else if (inTime && unit == 'H')
            seconds += *v * 3600;
        else if (inTime && unit == 'M')
            seconds += *v * 60;
        else if (inTime && unit == 'S')
            seconds += *v;
        else
            return std::nullopt; // calendar durations (years, months) and stray units have no serial number
    }
    if (!any) return std::nullopt;
    return (neg ? -seconds : seconds) / 86400.0;
}

std::string shortest(double v) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

} // namespace

std::string escapeXml(std::string_view s, bool attribute) {
    // XML 1.0 has no place for the other control characters, escaped or not.
    std::string clean;
    clean.reserve(s.size());
    for (char ch : s)
        if (static_cast<unsigned char>(ch) >= 0x20 || ch == '\t' || ch == '\n') clean += ch;
    return attribute ? xml::escapeAttribute(clean) : xml::escapeText(clean);
}

std::string setAttribute(std::string_view tag, std::string_view qn, const std::optional<std::string>& value) {
    // The tag is well-formed (expat read it): name, then name="value" pairs, then > or />.
    std::size_t i = 1;
    auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (i < tag.size() && !isSpace(tag[i]) && tag[i] != '>' && tag[i] != '/')
        ++i;
    while (true) {
        const std::size_t wsBegin = i;
        while (i < tag.size() && isSpace(tag[i]))
            ++i;
        if (i >= tag.size() || tag[i] == '>' || tag[i] == '/') {
            std::size_t close = wsBegin;
            if (!value) return std::string(tag);
            std::string out(tag.substr(0, close));
            out += ' ';
            out += qn;
            out += "=\"" + escapeXml(*value, true) + "\"";
            out += tag.substr(close);
            return out;
        }
        const std::size_t nameBegin = i;
        while (i < tag.size() && tag[i] != '=' && !isSpace(tag[i]))
            ++i;
        const std::string_view name = tag.substr(nameBegin, i - nameBegin);
        while (i < tag.size() && tag[i] != '"' && tag[i] != '\'')
            ++i;
        if (i >= tag.size()) return std::string(tag);
        const char quote = tag[i];
        const std::size_t valueBegin = ++i;
        while (i < tag.size() && tag[i] != quote)
            ++i;
        const std::size_t valueEnd = i++;
        if (name == qn) {
            if (!value) return std::string(tag.substr(0, wsBegin)) + std::string(tag.substr(i));
            return std::string(tag.substr(0, valueBegin)) + escapeXml(*value, true) +
                   std::string(tag.substr(valueEnd));
        }
    }
}

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

// ---------------------------------------------------------------------------------------------------------
// The one pass over the part.

struct ContentParser {
    enum class Ctx : std::uint8_t { Other, AutoStyles, Style, NumberStyle, Table, Row, Cell, Para, Skip };

    explicit ContentParser(Content& content) : c(content) {}
    Content& c;
    XML_Parser p = nullptr;
    // Reading a whole sheet: its element alone, wrapped in its namespace declarations; positions are shifted
    // back to the part's.
    Table* target = nullptr;
    std::int64_t shift = 0;
    // Names are resolved here rather than by expat, whose namespace processing builds a new string for every
    // name: a third of its time on a sheet.
    xml::NamespaceScope scope;
    // The URIs last found for a prefix, by a hash of it; emptied whenever the scope changes.
    struct Found {
        std::string prefix;
        std::string_view uri;
    };
    std::array<Found, 64> found{};
    // The declarations in force as attributes, for the sheets that start while they hold.
    mutable std::shared_ptr<const std::string> declared;
    // A prefix no declaration binds: the part is not namespace-well-formed. Where the name stands, as expat
    // would say it.
    bool badName = false;
    std::size_t badLine = 0, badByte = 0;
    std::vector<Ctx> stack;
    AutoStyle* style = nullptr;
    std::string numberSig, numberName;
    int numberDepth = 0;
    Table* table = nullptr;
    int tableDepth = 0;
    std::uint64_t nextRow = 0, nextCol = 0, nextColumnEl = 0;
    RowEl* row = nullptr;
    CellEl* cell = nullptr;
    // The open row's cells, moved into it at its end: one exact allocation per row, where growing each
    // row's own vector cell by cell would allocate and move a large sheet's cells several times over.
    std::vector<CellEl> rowCells;
    std::string cellType, cellText, cellString, calcType;
    std::string badNumber; // an office:value that does not read as a number (its start)
    bool cellNumberBad = false;
    bool hasStringValue = false, collect = false, anyPara = false, hasFormula = false;
    double cellNumber = 0;
    bool cellNumberOk = false;
    int paraCount = 0;

    // Opening: the rows of a sheet past its first ones are stepped over unparsed. The handler stops the
    // parser at such a row; the part is scanned to the sheet's end tag, and a new parser takes it up from
    // there, first fed the start tags of the elements still open (replayed, not reported). They are counted
    // off as they come: expat may report a tag only when later bytes arrive (it defers a large token).
    std::size_t pieceBase = 0; // where the bytes being fed start in the part
    std::size_t replay = 0;    // start tags still to come from the replay
    std::size_t skipFrom = 0;
    std::vector<std::string> open; // the open elements' names as written

    // A whole sheet is read by the plain parser while it can; then by expat, p.
    xml::PlainParser* plain = nullptr;

    std::size_t pos() const {
        return std::size_t((plain ? std::int64_t(plain->eventBegin()) : XML_GetCurrentByteIndex(p)) + shift);
    }
    std::size_t count() const { return plain ? plain->eventSize() : std::size_t(XML_GetCurrentByteCount(p)); }

    static void onStart(void* u, const char* n, const char** a) {
        static_cast<ContentParser*>(u)->start(n, a);
    }
    static void onEnd(void* u, const char* n) { static_cast<ContentParser*>(u)->end(n); }
    static void onText(void* u, const char* s, int len) {
        auto* self = static_cast<ContentParser*>(u);
        if (self->collect && !self->stack.empty() && self->stack.back() == Ctx::Para)
            self->cellText.append(s, std::size_t(len));
    }
    void declare(std::string_view prefix, const char* uri) {
        scope.declare(prefix, uri, stack.size() + 1);
        changed();
        if (!target && *uri && !c.prefixes_.count(uri)) c.prefixes_[uri] = std::string(prefix);
    }
    // The declarations of the elements closed, down to depth.
    void undeclare(std::size_t depth) {
        if (scope.leave(depth)) changed();
    }
    void changed() {
        for (Found& f : found)
            f.prefix.clear();
        declared.reset();
    }
    // The constant of a namespace this reader knows, so that most tests are one comparison of addresses.
    static std::string_view canonical(const std::string& uri) {
        for (std::string_view k :
             {ns::office, ns::table, ns::text, ns::style, ns::fo, ns::number, ns::calcext})
            if (uri == k) return k;
        return uri;
    }
    std::string_view uriOf(std::string_view prefix) {
        Found& f =
            found[(prefix.size() * 7 + std::uint8_t(prefix.front()) + std::uint8_t(prefix.back())) & 63];
        if (f.prefix == prefix) return f.uri;
        const std::string* uri = scope.find(prefix);
        if (!uri) return {};
        f.prefix.assign(prefix);
        f.uri = canonical(*uri);
        return f.uri;
    }
    // False for a prefix that nothing binds.
    bool resolve(const char* qn, bool element, Name& out) {
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
    const std::shared_ptr<const std::string>& declarationsInScope() const {
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
    // The part refused by this reader (nested too deep, a DOCTYPE): what is wrong with it.
    std::string failure;
    void refuse(std::string why) {
        if (plain) return plain->stop(); // expat says it
        if (failure.empty()) failure = std::move(why);
        XML_StopParser(p, XML_FALSE);
    }
    static void onDoctype(void* u, const char*, const char*, const char*, int) {
        static_cast<ContentParser*>(u)->refuse(xml::doctypeRefused());
    }

    // A prefix that nothing binds: the parse stops, with expat's own error for it.
    void refuseName() {
        if (plain) return plain->stop(); // expat says where
        if (badName) return;
        badName = true;
        badLine = std::size_t(XML_GetCurrentLineNumber(p));
        badByte = pos();
        XML_StopParser(p, XML_FALSE);
    }

    // The element's attributes, split once.
    struct ParsedAttr {
        Name name;
        const char* value;
    };
    std::vector<ParsedAttr> parsed;

    void start(const char* rawName, const char** attrs) {
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
        for (const char** a = attrs; *a; a += 2)
            if (xml::NamespaceScope::isDeclaration(a[0]))
                declare(a[0][5] ? std::string_view(a[0] + 6) : std::string_view(), a[1]);
        Name n;
        if (!resolve(rawName, true, n)) {
            refuseName();
            stack.push_back(Ctx::Skip);
            return;
        }
        parsed.clear();
        for (const char** a = attrs; *a; a += 2) {
            if (xml::NamespaceScope::isDeclaration(a[0])) continue;
            Name an;
            if (!resolve(a[0], false, an)) {
                refuseName();
                stack.push_back(Ctx::Skip);
                return;
            }
            parsed.push_back({an, a[1]});
            if (an.local == "name" && an.in(ns::style)) c.usedNames_.insert(a[1]);
        }
        Ctx ctx = parent == Ctx::Skip ? Ctx::Skip : Ctx::Other;
        switch (parent) {
        case Ctx::Skip:
            break;
        case Ctx::Cell:
            if (n.in(ns::text) && (n.local == "p" || n.local == "h")) {
                ctx = Ctx::Para;
                beginPara();
            } else {
                // Annotations, frames, detective marks: not the cell's text, kept when the cell is
                // overwritten.
                if (cell) cell->keep.push_back({pos(), 0});
                keepDepth = stack.size() + 1;
                ctx = Ctx::Skip;
            }
            break;
        case Ctx::Para:
            ctx = Ctx::Para;
            if (n.in(ns::text) && collect) {
                if (n.local == "s") {
                    std::uint32_t k = 1;
                    for (const ParsedAttr& a : parsed)
                        if (a.name.local == "c") k = std::min<std::uint32_t>(repeatOf(a.value), 65536);
                    cellText.append(k, ' ');
                } else if (n.local == "tab") {
                    cellText += '\t';
                } else if (n.local == "line-break") {
                    cellText += '\n';
                } else if (n.local == "note" || n.local == "ruby-text") {
                    ctx = Ctx::Skip;
                }
            } else if (n.in(ns::office) && n.local == "annotation") {
                ctx = Ctx::Skip;
            }
            break;
        case Ctx::AutoStyles:
            if (n.in(ns::style) && n.local == "style") {
                ctx = Ctx::Style;
                startStyle();
            } else if (n.in(ns::number)) {
                ctx = Ctx::NumberStyle;
                numberDepth = 1;
                numberSig = std::string(n.local);
                numberName.clear();
                for (const ParsedAttr& a : parsed) {
                    if (a.name.local == "name" && a.name.in(ns::style))
                        numberName = a.value;
                    else
                        numberSig += " " + std::string(a.name.local) + "=" + a.value;
                }
            }
            break;
        case Ctx::Style:
            ctx = Ctx::Skip;
            if (style) {
                if (n.in(ns::style) && n.local.size() > 11 &&
                    n.local.substr(n.local.size() - 11) == "-properties") {
                    PropertyEl pe{std::string(n.uri), std::string(n.local), qname(n), {}};
                    for (const ParsedAttr& a : parsed) {
                        const Name& an = a.name;
                        pe.attrs.push_back({std::string(an.uri), std::string(an.local), qname(an), a.value});
                        if (n.local == "table-properties" && an.local == "display" && an.in(ns::table) &&
                            std::string_view(a.value) == "false")
                            style->hidden = true;
                    }
                    style->props.push_back(std::move(pe));
                } else {
                    style->other.push_back({pos(), 0});
                    pendingOther = stack.size() + 1;
                }
            }
            break;
        case Ctx::NumberStyle:
            ctx = Ctx::NumberStyle;
            ++numberDepth;
            numberSig += " <" + std::string(n.local);
            for (const ParsedAttr& a : parsed)
                numberSig += " " + std::string(a.name.local) + "=" + a.value;
            break;
        default:
            if (n.in(ns::office)) {
                // Styles after the body are not kept (the body is not held), nor are they where any
                // producer writes them.
                if (n.local == "automatic-styles" && stack.size() == 1 && c.bodyStart_ == std::string::npos &&
                    !target) {
                    ctx = Ctx::AutoStyles;
                    c.autoStylesTag_ = {pos(), pos() + count()};
                } else if (n.local == "body" && c.bodyStart_ == std::string::npos && !target)
                    c.bodyStart_ = pos();
            } else if (n.in(ns::table)) {
                startTableElement(n, parent, ctx);
            }
            break;
        }
        stack.push_back(ctx);
    }

    std::size_t pendingOther = 0, keepDepth = 0;

    void startStyle() {
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
        style = &c.styles_.emplace(s.name, std::move(s)).first->second;
    }

    void startTableElement(const Name& n, Ctx parent, Ctx& ctx) {
        auto attr = [&](std::string_view uri, std::string_view local) -> const char* {
            for (const ParsedAttr& a : parsed)
                if (a.name.local == local && a.name.in(uri)) return a.value;
            return nullptr;
        };
        if (n.local == "table") {
            if (table || parent == Ctx::Cell || parent == Ctx::Skip) {
                ctx = Ctx::Skip; // a table inside a cell is not a sheet
                return;
            }
            if (target) {
                *target = Table{};
                table = target;
            } else {
                table = &c.tables_.emplace_back();
                table->nsInScope = declarationsInScope();
            }
            table->whole = target != nullptr;
            if (const char* v = attr(ns::table, "name")) table->name = v;
            if (const char* v = attr(ns::table, "style-name")) table->style = v;
            table->span.begin = pos();
            table->columnsEnd = table->rowsEnd = pos() + count();
            tableDepth = int(stack.size());
            nextRow = nextCol = nextColumnEl = 0;
            ctx = Ctx::Table;
            return;
        }
        if (!table) {
            if (n.local == "null-date")
                if (const char* v = attr(ns::table, "date-value"))
                    if (auto d = parseDate(v)) c.nullDate_ = *d;
            return;
        }
        if (parent == Ctx::Table) {
            if (n.local == "table-column") {
                ColEl col;
                col.original = true;
                col.origin = table->cols.size();
                col.first = std::uint32_t(std::min<std::uint64_t>(nextColumnEl, 0xFFFFFFFF));
                if (const char* v = attr(ns::table, "number-columns-repeated")) col.repeat = repeatOf(v);
                col.origRepeat = col.repeat;
                nextColumnEl += col.repeat;
                if (const char* v = attr(ns::table, "style-name")) col.style = col.origStyle = v;
                if (const char* v = attr(ns::table, "default-cell-style-name"))
                    col.defaultCellStyle = col.origDefaultCellStyle = v;
                col.span.begin = pos();
                col.tagEnd = pos() + count();
                table->cols.push_back(std::move(col));
                ctx = Ctx::Skip;
                colOpen = true;
                return;
            }
            if (n.local == "table-column-group" || n.local == "table-header-columns" ||
                n.local == "table-columns") {
                ctx = Ctx::Table; // columns inside keep their places
                return;
            }
            if (n.local == "table-row-group" || n.local == "table-header-rows" || n.local == "table-rows") {
                ctx = Ctx::Table;
                return;
            }
            if (n.local == "table-row") {
                if (!table->whole && nextRow >= kFirstRows) {
                    ctx = Ctx::Skip;
                    // The row's '<' must be in the bytes at hand for the scan to start there.
                    if (!target && pos() >= pieceBase) {
                        skipFrom = pos();
                        XML_StopParser(p, XML_FALSE);
                    }
                    return;
                }
                beginRow([&](std::string_view local) -> Value { return value(attr(ns::table, local)); },
                         pos(), pos() + count());
                ctx = Ctx::Row;
                return;
            }
            return;
        }
        if (parent == Ctx::Row && row && (n.local == "table-cell" || n.local == "covered-table-cell")) {
            beginCell(cellAttrs([&](std::string_view uri, std::string_view local) {
                          return value(attr(uri, local));
                      }),
                      n.local == "covered-table-cell", pos(), pos() + count());
            ctx = Ctx::Cell;
            return;
        }
    }

    // A row's or a cell's start and end, read from the parser's events or straight off the bytes: the same
    // elements, the same way. attr gives an attribute's value by its namespace and local name.
    using Value = std::optional<std::string_view>;
    static Value value(const char* v) { return v ? Value(v) : std::nullopt; }

    template <class Attr> void beginRow(Attr attr, std::size_t begin, std::size_t tagEnd) {
        RowEl r;
        r.original = true;
        r.origin = table->rows.size();
        r.first = std::uint32_t(std::min<std::uint64_t>(nextRow, 0xFFFFFFFF));
        if (const Value v = attr("number-rows-repeated")) r.repeat = repeatOf(*v);
        r.origRepeat = r.repeat;
        nextRow += r.repeat;
        if (const Value v = attr("default-cell-style-name")) r.defaultCellStyle = *v;
        r.span.begin = begin;
        r.tagEnd = tagEnd;
        table->rows.push_back(std::move(r));
        row = &table->rows.back();
        rowCells.clear();
        nextCol = 0;
    }
    void endRow(std::size_t innerEnd, std::size_t end) {
        row->span.end = end;
        row->innerEnd = innerEnd;
        row->cells.reserve(rowCells.size());
        std::move(rowCells.begin(), rowCells.end(), std::back_inserter(row->cells));
        rowCells.clear();
        table->rowsEnd = std::max(table->rowsEnd, end);
        row = nullptr;
    }

    // The attributes of a cell that its place and value come from.
    struct CellAttrs {
        Value repeated, style, type, calcType, formula, stringValue, value, dateValue, timeValue,
            booleanValue;
    };
    template <class Attr> static CellAttrs cellAttrs(Attr attr) {
        return {attr(ns::table, "number-columns-repeated"),
                attr(ns::table, "style-name"),
                attr(ns::office, "value-type"),
                attr(ns::calcext, "value-type"),
                attr(ns::table, "formula"),
                attr(ns::office, "string-value"),
                attr(ns::office, "value"),
                attr(ns::office, "date-value"),
                attr(ns::office, "time-value"),
                attr(ns::office, "boolean-value")};
    }
    void beginCell(const CellAttrs& a, bool covered, std::size_t begin, std::size_t tagEnd) {
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
        rowCells.push_back(std::move(ce));
        cell = &rowCells.back();
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
                if (auto d = parseDouble(*a.value)) {
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
    void beginPara() {
        if (paraCount++ > 0 && collect) cellText += '\n';
        anyPara = true;
    }
    void endCell(std::size_t innerEnd, std::size_t end) {
        cell->span.end = end;
        cell->innerEnd = innerEnd;
        finishCell();
        cell = nullptr;
        collect = false;
    }

    // Rows of plain cells taken straight off the bytes, in a whole sheet read by the plain parser: each with
    // its cells, their values and their paragraphs of plain text, as the events would give them. A row with
    // anything else in it (an annotation, a span of text, a declaration) or cut short where the bytes at hand
    // end is left to the events, with what follows it.
    bool plainRows = false;
    static std::size_t onTake(void* u, const char* p, const char* e, std::size_t at) {
        return static_cast<ContentParser*>(u)->takeRows(std::string_view(p, std::size_t(e - p)), at);
    }
    std::size_t takeRows(std::string_view bytes, std::size_t at) {
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
    bool atRows() const { return !stack.empty() && stack.back() == Ctx::Table && !row; }

    // Names compared by their lengths and first bytes before their bytes: most differ there.
    static bool same(std::string_view a, std::string_view b) {
        return a.size() == b.size() &&
               (a.empty() || (a[0] == b[0] && std::memcmp(a.data(), b.data(), a.size()) == 0));
    }
    // The URIs of the few prefixes the rows use, while they are taken: no declaration among them changes a
    // binding.
    std::vector<std::pair<std::string, std::string_view>> prefixMemo_;
    std::string_view uriOfPrefix(std::string_view prefix) {
        for (const auto& [p, uri] : prefixMemo_)
            if (same(p, prefix)) return uri;
        const std::string_view uri = uriOf(prefix);
        prefixMemo_.emplace_back(std::string(prefix), uri);
        return uri;
    }

    struct TagAttr {
        std::string_view uri, local, value;
    };
    xml::PlainCursor::Tag tag_;
    std::vector<TagAttr> tagAttrs_;
    // The start tag at the cursor, its attributes resolved as the events resolve them; false for one that
    // declares a namespace or names a prefix nothing binds.
    bool plainTag(xml::PlainCursor& cursor) {
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
    CellAttrs plainCellAttrs() const {
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
    Value tagAttr(std::string_view uri, std::string_view local) const {
        for (const TagAttr& a : tagAttrs_)
            if (same(a.local, local) && Name{a.uri, a.local, {}}.in(uri)) return a.value;
        return std::nullopt;
    }
    // Whether an element's name as written is that one: resolved once per spelling while rows are taken.
    struct NamedMemo {
        std::string qn;
        const char *uri, *local;
        bool is;
    };
    std::vector<NamedMemo> namedMemo_;
    bool named(std::string_view qn, std::string_view uri, std::string_view local) {
        for (const NamedMemo& m : namedMemo_)
            if (m.uri == uri.data() && m.local == local.data() && same(m.qn, qn)) return m.is;
        const bool is = resolvesTo(qn, uri, local);
        if (namedMemo_.size() < 32) namedMemo_.push_back({std::string(qn), uri.data(), local.data(), is});
        return is;
    }
    // Prefixed, or in the default namespace.
    bool resolvesTo(std::string_view qn, std::string_view uri, std::string_view local) {
        const std::size_t colon = qn.find(':');
        if (colon == std::string_view::npos || colon == 0) {
            if (!same(qn, local)) return false;
            const std::string* ns = scope.find({});
            return ns && *ns == uri;
        }
        return same(qn.substr(colon + 1), local) && Name{uriOfPrefix(qn.substr(0, colon)), local, {}}.in(uri);
    }
    bool takeRow(xml::PlainCursor& cursor, std::size_t at) {
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
                if (collect) cellText.append(text);
                if (!cursor.endTag(paraName, endBegin)) return undo();
            }
        }
    }
    bool colOpen = false;

    void end(const char* rawName) {
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

    void finishCell() {
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
};

namespace {

struct Parser {
    XML_Parser p;
    const ContentParser& cp;
    explicit Parser(ContentParser& cp) : p(XML_ParserCreate(nullptr)), cp(cp) {
        if (!p) throw std::bad_alloc();
        cp.p = p;
        XML_SetUserData(p, &cp);
        XML_SetElementHandler(p, &ContentParser::onStart, &ContentParser::onEnd);
        XML_SetCharacterDataHandler(p, &ContentParser::onText);
        XML_SetStartDoctypeDeclHandler(p, &ContentParser::onDoctype);
    }
    ~Parser() { XML_ParserFree(p); }
    Parser(const Parser&) = delete;
    Parser& operator=(const Parser&) = delete;

    // False when the handler stopped the parser.
    bool feed(std::string_view bytes, bool last) {
        // Byte indexes count across calls, so pieces of any size keep them offsets into the input.
        for (std::size_t at = 0; at < bytes.size() || (last && at == bytes.size());) {
            const std::size_t n = std::min(bytes.size() - at, xml::kParseSlice);
            const bool final = last && at + n == bytes.size();
            if (XML_Parse(p, bytes.data() + at, int(n), final) != XML_STATUS_OK) {
                if (!cp.failure.empty())
                    throw RuntimeError(err::Application, "partea \"content.xml\" " + cp.failure);
                const XML_Error code = cp.badName ? XML_ERROR_UNBOUND_PREFIX : XML_GetErrorCode(p);
                if (code == XML_ERROR_ABORTED) return false;
                // A parser that took up the part past its start counts lines from there: then the byte.
                const std::size_t line = cp.badName ? cp.badLine : std::size_t(XML_GetCurrentLineNumber(p));
                const std::size_t byte = cp.badName ? cp.badByte : cp.pos();
                const std::string where =
                    cp.shift == 0 ? "linia " + std::to_string(line) : "octetul " + std::to_string(byte + 1);
                throw RuntimeError(err::Application,
                                   "partea \"content.xml\" " + xml::parserRefusal(code, where));
            }
            at += n;
            if (final) break;
        }
        return true;
    }
};

std::string_view chars(std::span<const std::uint8_t> b) {
    return {reinterpret_cast<const char*>(b.data()), b.size()};
}

} // namespace

Content::Content(Source source) : source_(std::move(source)) {
    ContentParser cp(*this);
    auto parser = std::make_unique<Parser>(cp);
    std::optional<xml::EndFinder> skipping;
    bool keepHead = true;
    xml::readPieces(source_(), [&](std::size_t offset, std::span<const std::uint8_t> piece) {
        for (std::size_t at = 0; at < piece.size();) {
            if (skipping) {
                const std::size_t found = skipping->feed(piece.subspan(at));
                if (found == std::string::npos) break;
                // The sheet's end tag: a new parser goes on from its '<'. The tag may begin in earlier
                // pieces; the bytes there are "</" and the start of the sheet's name, which the scan matched.
                const std::size_t resume = cp.skipFrom + found;
                const std::size_t carried = resume < offset ? offset - resume : 0;
                skipping.reset();
                // Names only: expat reads them without namespaces, which this reader resolves itself and
                // still holds. A part may declare thousands; replaying them for each sheet stepped over
                // would make expat's work (and its memory accounting) grow with sheets times declarations.
                std::string reopen;
                for (const std::string& name : cp.open)
                    reopen += "<" + name + ">";
                reopen += ("</" + cp.open.back()).substr(0, carried);
                cp.shift = std::int64_t(resume) - std::int64_t(reopen.size()) + std::int64_t(carried);
                parser = std::make_unique<Parser>(cp);
                cp.replay = cp.open.size();
                parser->feed(reopen, false);
                at = carried ? 0 : resume - offset;
            }
            cp.pieceBase = offset + at;
            if (parser->feed(chars(piece.subspan(at)), false)) break;
            // Stopped at a row to step over: the elements inside the sheet are closed by the scan.
            cp.stack.resize(std::size_t(cp.tableDepth) + 1);
            cp.open.resize(std::size_t(cp.tableDepth) + 1);
            cp.undeclare(cp.stack.size());
            cp.row = nullptr;
            cp.cell = nullptr;
            skipping.emplace(cp.open.back()); // the sheet's own name, as written
            at = cp.skipFrom - offset;
        }
        if (keepHead) {
            // Kept piece by piece until the body starts: the automatic styles a save copies from.
            head_.append(chars(piece));
            if (bodyStart_ != std::string::npos) {
                head_.resize(std::min(head_.size(), bodyStart_));
                head_.shrink_to_fit();
                keepHead = false;
            }
        }
        return true;
    });
    if (skipping)
        throw RuntimeError(err::Application,
                           "partea \"content.xml\" nu este XML corect: foaia " +
                               text::quotedExcerpt(cp.table ? cp.table->name : std::string()) +
                               " nu se incheie");
    parser->feed({}, true);
    // Every element the events opened was closed: a part expat took whole was read whole.
    if (!cp.stack.empty() || cp.replay)
        throw RuntimeError(err::Internal, "partea \"content.xml\" nu a fost citita pana la capat");
    for (auto& [name, s] : styles_)
        if (s.family == "table-cell" || s.family == "table-column") bySignature_[signature(s)] = name;
}

void Content::wholeTable(Table& t) {
    if (t.whole) return;
    // The sheet alone, inside an element that declares the namespaces in force where it stands, parsed as
    // it is inflated: by the plain parser, and again by expat should the plain one give up.
    const std::string open = "<w" + (t.nsInScope ? *t.nsInScope : std::string()) + ">";
    const auto parse = [&](bool plainly) {
        Table whole;
        ContentParser cp(*this);
        cp.target = &whole;
        cp.shift = std::int64_t(t.span.begin) - std::int64_t(open.size());
        std::optional<xml::PlainParser> plain;
        std::optional<Parser> parser;
        if (plainly) {
            cp.plain =
                &plain.emplace(&cp, &ContentParser::onStart, &ContentParser::onEnd, &ContentParser::onText);
            cp.plainRows = plainRows_;
            plain->setTake(&ContentParser::onTake);
        } else
            parser.emplace(cp);
        const auto feed = [&](std::string_view bytes, bool last) {
            if (plainly) return plain->feed(bytes, last);
            parser->feed(bytes, last); // stops only by throwing: a sheet has no rows to step over
            return true;
        };
        if (!feed(open, false)) return false;
        std::size_t fed = 0;
        bool going = true;
        xml::readPieces(source_(), [&](std::size_t base, std::span<const std::uint8_t> piece) {
            const std::size_t from = std::max(base, t.span.begin),
                              to = std::min(base + piece.size(), t.span.end);
            if (from < to) {
                going = feed(chars(piece.subspan(from - base, to - from)), false);
                fed += to - from;
            }
            return going && to < t.span.end;
        });
        if (!going) return false;
        if (fed != t.span.end - t.span.begin)
            throw RuntimeError(err::Application, "partea \"content.xml\" s-a scurtat de la deschidere");
        if (!feed("</w>", true)) return false;
        whole.nsInScope = std::move(t.nsInScope);
        t = std::move(whole);
        return true;
    };
    if (!parse(true)) parse(false);
}

std::string_view Content::original(std::size_t begin, std::size_t end, const Table* t) const {
    if (end <= head_.size()) return std::string_view(head_).substr(begin, end - begin);
    if (!t || !t->whole || begin < t->span.begin || end > t->span.end || begin > end)
        throw RuntimeError(err::Internal, "octetii " + std::to_string(begin) + "-" + std::to_string(end) +
                                              " din \"content.xml\" nu au fost pastrati");
    if (!t->rest) t->rest = source_();
    // On from where the last call stopped, a piece at a time: the part is inflated once at most.
    std::uint8_t buf[1 << 16];
    while (t->span.begin + t->bytes.size() < end) {
        const std::size_t n = t->rest(buf);
        if (n == 0)
            throw RuntimeError(err::Application, "partea \"content.xml\" s-a scurtat de la deschidere");
        const std::size_t from = std::max(t->restAt, t->span.begin + t->bytes.size());
        const std::size_t to = std::min(t->restAt + n, t->span.end);
        if (from < to) t->bytes.append(chars(std::span(buf).subspan(from - t->restAt, to - from)));
        t->restAt += n;
    }
    return std::string_view(t->bytes).substr(begin - t->span.begin, end - begin);
}

bool Content::tableHidden(const Table& t) const {
    const auto it = styles_.find(t.style);
    return it != styles_.end() && it->second.hidden;
}

std::string Content::prefix(std::string_view uri) const {
    const auto it = prefixes_.find(std::string(uri));
    return it == prefixes_.end() ? std::string() : it->second;
}

namespace {
std::string_view fallbackPrefix(std::string_view uri) {
    if (uri == ns::office) return "office";
    if (uri == ns::table) return "table";
    if (uri == ns::text) return "text";
    if (uri == ns::style) return "style";
    if (uri == ns::fo) return "fo";
    if (uri == ns::number) return "number";
    return "x";
}
} // namespace

std::string Content::q(std::string_view uri, std::string_view local) const {
    const auto it = prefixes_.find(std::string(uri));
    std::string p = it == prefixes_.end() ? std::string(fallbackPrefix(uri)) : it->second;
    return p.empty() ? std::string(local) : p + ":" + std::string(local);
}

std::string Content::nsDecl(std::string_view uri) const {
    if (prefixes_.count(std::string(uri))) return {};
    return " xmlns:" + std::string(fallbackPrefix(uri)) + "=\"" + std::string(uri) + "\"";
}

// ---------------------------------------------------------------------------------------------------------
// Reading

CellValue Content::value(Table& t, std::uint32_t row, std::uint32_t col) {
    if (row >= kFirstRows) wholeTable(t);
    auto holds = [&](std::size_t i) { return i < t.rows.size() && covers(t.rows[i], row); };
    if (!holds(t.lastRead) && !holds(++t.lastRead)) {
        const std::size_t k = runAt(t.rows, row);
        if (k == kNoRun) return {};
        t.lastRead = k;
    }
    const RowEl& r = t.rows[t.lastRead];
    const std::size_t k = runAt(r.cells, col);
    if (k == kNoRun) return {};
    const CellEl& c = r.cells[k];
    if (c.notANumber && !c.valueWritten)
        throw RuntimeError(err::Application, "celula " + text::cellAddress(int(row) + 1, int(col) + 1) +
                                                 " are valoarea numerica " +
                                                 text::quotedExcerpt(c.value.toText()) +
                                                 ", care nu este un numar");
    return c.value;
}

// ---------------------------------------------------------------------------------------------------------
// Splitting runs around one row or cell

std::size_t Content::splitRow(Table& t, std::uint32_t row) {
    if (row >= t.rowCount) {
        // New rows after the last one: a filler run, then the row.
        if (row > t.rowCount) {
            RowEl filler;
            filler.first = t.rowCount;
            filler.repeat = filler.origRepeat = row - t.rowCount;
            filler.dirty = true;
            t.rows.push_back(std::move(filler));
        }
        RowEl r;
        r.first = row;
        r.dirty = true;
        t.rows.push_back(std::move(r));
        t.rowCount = row + 1;
        modified_ = true;
        return t.rows.size() - 1;
    }
    std::size_t i = runFrom(t.rows, row);
    RowEl& r = t.rows[i];
    if (r.repeat == 1) return i;
    const std::uint32_t before = row - r.first, after = r.first + r.repeat - row - 1;
    RowEl mid = r;
    mid.first = row;
    mid.repeat = 1;
    if (before > 0) {
        t.rows[i].repeat = before;
        t.rows.insert(t.rows.begin() + std::ptrdiff_t(++i), mid);
    } else {
        t.rows[i] = mid;
    }
    if (after > 0) {
        RowEl tail = t.rows[i];
        tail.first = row + 1;
        tail.repeat = after;
        t.rows.insert(t.rows.begin() + std::ptrdiff_t(i + 1), std::move(tail));
    }
    modified_ = true;
    return i;
}

std::size_t Content::splitCell(RowEl& r, std::uint32_t col) {
    std::uint64_t end = r.cells.empty() ? 0 : std::uint64_t(r.cells.back().first) + r.cells.back().repeat;
    if (col >= end) {
        if (col > end) {
            CellEl filler;
            filler.first = std::uint32_t(end);
            filler.repeat = filler.origRepeat = std::uint32_t(col - end);
            r.cells.push_back(std::move(filler));
        }
        CellEl c;
        c.first = col;
        r.cells.push_back(std::move(c));
        r.dirty = true;
        modified_ = true;
        return r.cells.size() - 1;
    }
    std::size_t i = runFrom(r.cells, col);
    CellEl& c = r.cells[i];
    if (c.repeat == 1) return i;
    const std::uint32_t before = col - c.first, after = c.first + c.repeat - col - 1;
    CellEl mid = c;
    mid.first = col;
    mid.repeat = 1;
    if (before > 0) {
        r.cells[i].repeat = before;
        r.cells.insert(r.cells.begin() + std::ptrdiff_t(++i), mid);
    } else {
        r.cells[i] = mid;
    }
    if (after > 0) {
        CellEl tail = r.cells[i];
        tail.first = col + 1;
        tail.repeat = after;
        r.cells.insert(r.cells.begin() + std::ptrdiff_t(i + 1), std::move(tail));
    }
    r.dirty = true;
    modified_ = true;
    return i;
}

RowEl& Content::rowAt(Table& t, std::uint32_t row) {
    return t.rows[splitRow(t, row)];
}

CellEl& Content::cellAt(RowEl& r, std::uint32_t col) {
    return r.cells[splitCell(r, col)];
}

void Content::setValue(Table& t, std::uint32_t row, std::uint32_t col, const CellValue& v) {
    if (v.kind() == CellValue::Kind::Number && !std::isfinite(v.numberValue()))
        throw RuntimeError(err::Application,
                           "Valoarea nu este un numar finit si nu poate fi scrisa in celula " +
                               text::cellAddress(int(row) + 1, int(col) + 1));
    wholeTable(t);
    RowEl& r = rowAt(t, row);
    CellEl& c = cellAt(r, col);
    c.value = v;
    c.valueWritten = true;
    r.dirty = true;
    modified_ = true;
}

namespace {
// The column element covering col, split out of its run (new column elements are added after the last).
std::size_t splitColumn(Table& t, std::uint32_t col) {
    std::uint64_t end = t.cols.empty() ? 0 : std::uint64_t(t.cols.back().first) + t.cols.back().repeat;
    if (col >= end) {
        if (col > end) {
            ColEl filler;
            filler.first = std::uint32_t(end);
            filler.repeat = filler.origRepeat = std::uint32_t(col - end);
            t.cols.push_back(std::move(filler));
        }
        ColEl c;
        c.first = col;
        t.cols.push_back(std::move(c));
        t.columnCount = col + 1;
        return t.cols.size() - 1;
    }
    std::size_t i = runFrom(t.cols, col);
    ColEl& c = t.cols[i];
    if (c.repeat == 1) return i;
    const std::uint32_t before = col - c.first, after = c.first + c.repeat - col - 1;
    ColEl mid = c;
    mid.first = col;
    mid.repeat = 1;
    if (before > 0) {
        t.cols[i].repeat = before;
        t.cols.insert(t.cols.begin() + std::ptrdiff_t(++i), mid);
    } else {
        t.cols[i] = mid;
    }
    if (after > 0) {
        ColEl tail = t.cols[i];
        tail.first = col + 1;
        tail.repeat = after;
        t.cols.insert(t.cols.begin() + std::ptrdiff_t(i + 1), std::move(tail));
    }
    return i;
}
} // namespace

void Content::setColumnStyle(Table& t, std::uint32_t col, const std::string& columnStyle) {
    wholeTable(t);
    ColEl& c = t.cols[splitColumn(t, col)];
    c.style = columnStyle;
    modified_ = true;
}

namespace {

void restyle(CellEl& c, std::string style) {
    if (style == c.style) return;
    c.style = std::move(style);
    c.restyled = true;
}

} // namespace

void Content::formatColumn(Table& t, std::uint32_t col, const StyleChange& change) {
    wholeTable(t);
    ColEl& c = t.cols[splitColumn(t, col)];
    c.defaultCellStyle = derive(c.defaultCellStyle.empty() ? "Default" : c.defaultCellStyle, change);
    // Cells with a style of their own (or their row's) would not show the column's new default.
    for (RowEl& r : t.rows) {
        const std::size_t k = runAt(r.cells, col);
        if (k == kNoRun || (r.cells[k].style.empty() && r.defaultCellStyle.empty())) continue;
        CellEl& cell = r.cells[splitCell(r, col)];
        restyle(cell, derive(cell.style.empty() ? r.defaultCellStyle : cell.style, change));
    }
    modified_ = true;
}

std::string Content::effectiveStyle(const Table& t, const RowEl& r, const CellEl& c) const {
    if (!c.style.empty()) return c.style;
    if (!r.defaultCellStyle.empty()) return r.defaultCellStyle;
    const std::size_t k = runAt(t.cols, c.first);
    if (k != kNoRun && !t.cols[k].defaultCellStyle.empty()) return t.cols[k].defaultCellStyle;
    return "Default";
}

void Content::formatCell(Table& t, std::uint32_t row, std::uint32_t col, const StyleChange& change) {
    wholeTable(t);
    RowEl& r = rowAt(t, row);
    CellEl& c = cellAt(r, col);
    restyle(c, derive(effectiveStyle(t, r, c), change));
    r.dirty = true;
    modified_ = true;
}

// ---------------------------------------------------------------------------------------------------------
// Styles

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
        // An empty alignment is none of the cell's own: the value's type decides, as in a new cell.
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
                    escapeXml(s.name, true) + "\" " + q(ns::style, "family") + "=\"" + s.family + "\"";
    if (!s.parent.empty())
        x += " " + q(ns::style, "parent-style-name") + "=\"" + escapeXml(s.parent, true) + "\"";
    if (!s.dataStyle.empty())
        x += " " + q(ns::style, "data-style-name") + "=\"" + escapeXml(s.dataStyle, true) + "\"";
    for (const Attr& a : s.attrs)
        x += " " + a.qname + "=\"" + escapeXml(a.value, true) + "\"";
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
            x += " " + a.qname + "=\"" + escapeXml(a.value, true) + "\"";
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

// ---------------------------------------------------------------------------------------------------------
// Writing

std::string Content::writeCell(const Table& t, const CellEl& c) const {
    const std::string repeatQ = q(ns::table, "number-columns-repeated");
    const std::optional<std::string> repeat =
        c.repeat > 1 ? std::optional<std::string>(std::to_string(c.repeat)) : std::nullopt;
    const std::optional<std::string> style =
        c.style.empty() ? std::nullopt : std::optional<std::string>(c.style);
    if (c.original && !c.valueWritten) {
        if (c.repeat == c.origRepeat && !c.restyled)
            return std::string(original(c.span.begin, c.span.end, &t));
        std::string tag(original(c.span.begin, c.tagEnd, &t));
        tag = setAttribute(tag, repeatQ, repeat);
        tag = setAttribute(tag, q(ns::table, "style-name"), style);
        return tag + std::string(original(c.tagEnd, c.span.end, &t));
    }
    const std::string name = q(ns::table, "table-cell");
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
        tag = "<" + name + nsDecl(ns::table) + ">";
    }
    tag = setAttribute(tag, repeatQ, repeat);
    tag = setAttribute(tag, q(ns::table, "style-name"), style);
    std::string body;
    const std::string p = q(ns::text, "p");
    auto para = [&](std::string_view text) {
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
                out += escapeXml(std::string_view(&ch, 1), false);
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
    };
    switch (c.value.kind()) {
    case CellValue::Kind::Empty:
        break;
    case CellValue::Kind::Number: {
        const std::string v = shortest(c.value.numberValue());
        tag = setAttribute(tag, q(ns::office, "value-type"), "float");
        tag = setAttribute(tag, q(ns::office, "value"), v);
        body = para(v);
        break;
    }
    case CellValue::Kind::Boolean:
        tag = setAttribute(tag, q(ns::office, "value-type"), "boolean");
        tag = setAttribute(tag, q(ns::office, "boolean-value"), c.value.booleanValue() ? "true" : "false");
        body = para(c.value.booleanValue() ? "TRUE" : "FALSE");
        break;
    case CellValue::Kind::Error:
        // ODF has no error value: a formula giving it, which spreadsheets and this reader take as the error.
        tag = setAttribute(tag, q(ns::table, "formula"), "of:=" + c.value.toText());
        [[fallthrough]];
    case CellValue::Kind::Text: {
        const std::string s = c.value.toText();
        tag = setAttribute(tag, q(ns::office, "value-type"), "string");
        std::size_t at = 0;
        while (true) {
            const std::size_t nl = s.find('\n', at);
            body +=
                para(std::string_view(s).substr(at, nl == std::string::npos ? std::string::npos : nl - at));
            if (nl == std::string::npos) break;
            at = nl + 1;
        }
        break;
    }
    }
    for (const Span& k : c.keep)
        body += original(k.begin, k.end, &t);
    if (body.empty() && !c.original) {
        tag.insert(tag.size() - 1, "/");
        return tag;
    }
    return tag + body + "</" + name + ">";
}

std::string Content::writeRow(const Table& t, const RowEl& r) const {
    const std::string name = q(ns::table, "table-row");
    const std::optional<std::string> repeat =
        r.repeat > 1 ? std::optional<std::string>(std::to_string(r.repeat)) : std::nullopt;
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

std::string Content::writeColumn(const Table& t, const ColEl& c) const {
    const std::optional<std::string> repeat =
        c.repeat > 1 ? std::optional<std::string>(std::to_string(c.repeat)) : std::nullopt;
    auto opt = [](const std::string& s) { return s.empty() ? std::nullopt : std::optional<std::string>(s); };
    std::string tag;
    if (c.original) {
        if (c.repeat == c.origRepeat && c.style == c.origStyle &&
            c.defaultCellStyle == c.origDefaultCellStyle)
            return std::string(original(c.span.begin, c.span.end, &t));
        tag = std::string(original(c.span.begin, c.tagEnd, &t));
        if (c.repeat != c.origRepeat)
            tag = setAttribute(tag, q(ns::table, "number-columns-repeated"), repeat);
        if (c.style != c.origStyle) tag = setAttribute(tag, q(ns::table, "style-name"), opt(c.style));
        if (c.defaultCellStyle != c.origDefaultCellStyle)
            tag = setAttribute(tag, q(ns::table, "default-cell-style-name"), opt(c.defaultCellStyle));
        return tag + std::string(original(c.tagEnd, c.span.end, &t));
    }
    tag = "<" + q(ns::table, "table-column") + nsDecl(ns::table) + "/>";
    tag = setAttribute(tag, q(ns::table, "number-columns-repeated"), repeat);
    tag = setAttribute(tag, q(ns::table, "style-name"), opt(c.style));
    tag = setAttribute(tag, q(ns::table, "default-cell-style-name"), opt(c.defaultCellStyle));
    return tag;
}

xml::Edits Content::edits() const {
    xml::Edits edits;
    auto put = [&](std::size_t begin, std::size_t end, std::string text) {
        if (begin == end)
            edits.insert(begin, std::move(text));
        else
            edits.replace(begin, end, std::move(text));
    };
    for (const Table& t : tables_) {
        if (!t.whole) continue; // never edited
        // Columns: each original element whose pieces changed is replaced by them; new ones go at the end.
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
            if (changed) put(c.span.begin, c.span.end, std::move(text));
            i = j;
        }
        if (!added.empty()) put(t.columnsEnd, t.columnsEnd, std::move(added));
        added.clear();
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
                put(r.span.begin, r.span.end, std::move(text));
            }
            i = j;
        }
        if (!added.empty()) put(t.rowsEnd, t.rowsEnd, std::move(added));
    }
    if (!newStyles_.empty() || !newNumberStyles_.empty()) {
        std::string text;
        for (const auto& n : newNumberStyles_)
            text += n;
        for (const AutoStyle& s : newStyles_)
            text += styleXml(s);
        if (autoStylesEnd_ != std::string::npos && autoStylesEmpty_) {
            // <office:automatic-styles/>: opened and closed around the new styles
            const std::string as = q(ns::office, "automatic-styles");
            put(autoStylesTag_.begin, autoStylesTag_.end, "<" + as + ">" + text + "</" + as + ">");
        } else if (autoStylesEnd_ != std::string::npos) {
            put(autoStylesEnd_, autoStylesEnd_, std::move(text));
        } else {
            const std::string as = q(ns::office, "automatic-styles");
            const std::size_t at = bodyStart_ == std::string::npos ? 0 : bodyStart_;
            put(at, at, "<" + as + ">" + text + "</" + as + ">");
        }
    }
    return edits;
}

void Content::writeTo(const ByteSink& sink) const {
    edits().writeTo(source_(), sink);
}

void Content::writeTo(const xml::Edits& edits, std::size_t upTo, const ByteSink& sink) const {
    xml::PieceReader read = source_();
    std::size_t left = upTo;
    edits.writeTo(
        [&](std::span<std::uint8_t> out) {
            const std::size_t n = left ? read(out.first(std::min(out.size(), left))) : 0;
            left -= n;
            return n;
        },
        sink);
}

std::string Content::write() const {
    std::string out;
    writeTo([&](std::span<const std::uint8_t> piece) { out.append(chars(piece)); });
    return out;
}

Content::Source Content::fromBytes(std::string_view xml, std::size_t piece) {
    return [xml, piece]() -> xml::PieceReader {
        return [xml, piece, at = std::size_t(0)](std::span<std::uint8_t> out) mutable {
            const std::size_t n = std::min({out.size(), piece, xml.size() - at});
            std::memcpy(out.data(), xml.data() + at, n);
            at += n;
            return n;
        };
    };
}

} // namespace ordana::spreadsheet::ods
