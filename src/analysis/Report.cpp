#include "Report.h"

#include "Comparisons.h"
#include "NumberText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <limits>

namespace ordana {

namespace {

using estimators::CurvePoint;

// Ten colours that people with the common colour-vision deficiencies still tell apart: Okabe and Ito's, then
// two of Tableau's.
const char* const kColours[kReportOverlaidSheets] = {"#0072B2", "#D55E00", "#009E73", "#CC79A7", "#E69F00",
                                                     "#56B4E9", "#000000", "#8C564B", "#7F7F7F", "#BCBD22"};
// The orders q = 0, 1, 2 in each sheet's own plots.
const char* const kOrderColours[3] = {"#0072B2", "#D55E00", "#009E73"};
const char* const kOrderNames[3] = {"q = 0 (bogatia)", "q = 1 (exp Shannon)", "q = 2 (1/Simpson)"};

std::string escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string num(double x, int decimals = 3) {
    return decimalText(x, decimals);
}

// SVG coordinates are read by a machine: a point, one decimal.
std::string coord(double x) {
    char b[32];
    std::snprintf(b, sizeof b, "%.1f", x);
    return b;
}

// A "nice" step for about five ticks.
double tickStep(double span) {
    if (!(span > 0)) return 1;
    const double raw = span / 5, mag = std::pow(10, std::floor(std::log10(raw)));
    const double r = raw / mag;
    return (r < 1.5 ? 1 : r < 3 ? 2 : r < 7 ? 5 : 10) * mag;
}

struct Frame {
    double x0 = 0, x1 = 1, y0 = 0, y1 = 1;
    bool small = false; // one sheet's own plot, four to a row
    double w() const { return small ? 240 : 460; }
    double h() const { return small ? 180 : 300; }
    double left() const { return small ? 44 : 56; }
    double right() const { return small ? 8 : 14; }
    double top() const { return small ? 22 : 28; }
    double bottom() const { return small ? 34 : 44; }
    double px(double x) const { return left() + (x - x0) / (x1 - x0) * (w() - left() - right()); }
    double py(double y) const { return h() - bottom() - (y - y0) / (y1 - y0) * (h() - top() - bottom()); }
};

std::string axes(const Frame& f, const std::string& title, const std::string& xLabel,
                 const std::string& yLabel, bool logY = false) {
    const std::string w = coord(f.w()), h = coord(f.h());
    std::string s = "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " + w + " " + h + "\" width=\"" +
                    w + "\" height=\"" + h + "\" role=\"img\"" + (f.small ? " class=\"small\"" : "") +
                    "><title>" + escape(title) + "</title>";
    s += "<text x=\"" + coord(f.w() / 2) + "\" y=\"" + coord(f.small ? 13 : 16) +
         "\" text-anchor=\"middle\" class=\"t\">" + escape(title) + "</text>";
    s += "<rect x=\"" + coord(f.left()) + "\" y=\"" + coord(f.top()) + "\" width=\"" +
         coord(f.w() - f.left() - f.right()) + "\" height=\"" + coord(f.h() - f.top() - f.bottom()) +
         "\" fill=\"none\" stroke=\"#555\"/>";
    const double bottom = f.h() - f.bottom();
    const double xs = tickStep(f.x1 - f.x0);
    for (double x = std::ceil(f.x0 / xs) * xs; x <= f.x1 + 1e-9 * xs; x += xs)
        s += "<line x1=\"" + coord(f.px(x)) + "\" x2=\"" + coord(f.px(x)) + "\" y1=\"" + coord(bottom) +
             "\" y2=\"" + coord(bottom + 4) + "\" stroke=\"#555\"/><text x=\"" + coord(f.px(x)) + "\" y=\"" +
             coord(bottom + 14) + "\" text-anchor=\"middle\">" +
             num(x, xs < 0.1 ? 2
                    : xs < 1 ? 1
                             : 0) +
             "</text>";
    const double ys = logY ? 1 : tickStep(f.y1 - f.y0);
    for (double y = std::ceil(f.y0 / ys) * ys; y <= f.y1 + 1e-9 * ys; y += ys)
        s += "<line x1=\"" + coord(f.left() - 4) + "\" x2=\"" + coord(f.left()) + "\" y1=\"" +
             coord(f.py(y)) + "\" y2=\"" + coord(f.py(y)) + "\" stroke=\"#555\"/><text x=\"" +
             coord(f.left() - 6) + "\" y=\"" + coord(f.py(y) + 4) + "\" text-anchor=\"end\">" +
             (logY ? num(std::pow(10, y), 0)
                   : num(y, ys < 0.1 ? 2
                            : ys < 1 ? 1
                                     : 0)) +
             "</text>";
    s += "<text x=\"" + coord((f.left() + f.w() - f.right()) / 2) + "\" y=\"" + coord(f.h() - 6) +
         "\" text-anchor=\"middle\">" + escape(xLabel) + "</text>";
    s += "<text transform=\"translate(12," + coord((f.top() + bottom) / 2) +
         ") rotate(-90)\" text-anchor=\"middle\">" + escape(yLabel) + "</text>";
    return s;
}

std::string polyline(const std::vector<std::pair<double, double>>& points, const char* stroke, bool dashed,
                     double width = 1.8) {
    if (points.size() < 2) return {};
    std::string s = "<polyline fill=\"none\" stroke=\"" + std::string(stroke) + "\" stroke-width=\"" +
                    coord(width) + "\"" + (dashed ? " stroke-dasharray=\"5 4\"" : "") + " points=\"";
    for (const auto& [x, y] : points)
        s += coord(x) + "," + coord(y) + " ";
    return s + "\"/>";
}

// What a curve is drawn against: the sample size, or the coverage a sample of that size reaches.
enum class Along { Size, Coverage };

double along(const CurvePoint& p, Along a) {
    return a == Along::Size ? p.m : p.value[3];
}

// Curve k of an analysis (0..2 the Hill numbers, 3 the coverage): its 95% band, solid up to the sample's size
// (rarefaction), dashed beyond it (extrapolation), and a point at the sample itself.
std::string drawCurve(const Frame& f, const std::vector<CurvePoint>& curve, int k, Along x, double n,
                      const char* colour) {
    auto inside = [&](double y) { return std::clamp(y, f.y0, f.y1); };
    std::vector<const CurvePoint*> points;
    for (const auto& p : curve)
        if (std::isfinite(p.value[k]) && std::isfinite(along(p, x))) points.push_back(&p);
    if (points.empty()) return {};
    std::string band, back;
    for (const CurvePoint* p : points)
        if (std::isfinite(p->upper[k]) && std::isfinite(p->lower[k])) {
            band += coord(f.px(along(*p, x))) + "," + coord(f.py(inside(p->upper[k]))) + " ";
            back = coord(f.px(along(*p, x))) + "," + coord(f.py(inside(p->lower[k]))) + " " + back;
        }
    std::string svg;
    if (!band.empty())
        svg += "<polygon fill=\"" + std::string(colour) +
               "\" fill-opacity=\"0.16\" stroke=\"none\" points=\"" + band + back + "\"/>";
    std::vector<std::pair<double, double>> solid, dashed;
    const CurvePoint* observed = nullptr;
    for (const CurvePoint* p : points) {
        const auto pt = std::make_pair(f.px(along(*p, x)), f.py(inside(p->value[k])));
        if (p->m <= n) solid.push_back(pt);
        if (p->m >= n) dashed.push_back(pt);
        if (p->m == n) observed = p;
    }
    const double width = f.small ? 1.4 : 1.8;
    svg += polyline(solid, colour, false, width) + polyline(dashed, colour, true, width);
    if (observed)
        svg += "<circle cx=\"" + coord(f.px(along(*observed, x))) + "\" cy=\"" +
               coord(f.py(inside(observed->value[k]))) + "\" r=\"" + (f.small ? "2.6" : "3.5") +
               "\" fill=\"" + colour + "\"/>";
    return svg;
}

// The extent of curves ks of the sheets along x: the x range, and the y range from 0 to the highest band.
Frame curveFrame(const std::vector<const ReportSheet*>& sheets, std::initializer_list<int> ks, Along x,
                 bool small) {
    double xMin = x == Along::Size ? 0 : 1, xMax = 1, yMax = 1;
    for (const ReportSheet* s : sheets)
        for (const auto& p : s->analysis.curve)
            for (int k : ks) {
                if (std::isfinite(along(p, x))) {
                    xMin = std::min(xMin, along(p, x));
                    xMax = std::max(xMax, along(p, x));
                }
                if (std::isfinite(p.upper[k])) yMax = std::max(yMax, p.upper[k]);
                if (std::isfinite(p.value[k])) yMax = std::max(yMax, p.value[k]);
            }
    Frame f;
    f.small = small;
    if (x == Along::Coverage) {
        f.x0 = std::max(0.0, std::floor(xMin * 10) / 10);
        f.x1 = 1;
    } else {
        f.x1 = xMax;
    }
    f.y1 = ks.size() == 1 && *ks.begin() == 3 ? 1.0 : yMax * 1.05;
    return f;
}

// Ranks against log10 abundance.
Frame rankFrame(const std::vector<const ReportSheet*>& sheets, bool small) {
    double maxRank = 1, maxLog = 1;
    for (const ReportSheet* s : sheets) {
        std::int64_t present = 0, top = 1;
        for (const auto& sp : s->community.species)
            if (sp.count > 0) {
                ++present;
                top = std::max(top, sp.count);
            }
        maxRank = std::max(maxRank, double(present));
        maxLog = std::max(maxLog, std::ceil(std::log10(double(top))));
    }
    Frame f;
    f.small = small;
    f.x1 = maxRank + 1;
    f.y1 = maxLog;
    return f;
}

std::string rankCurve(const Frame& f, const ReportSheet& sheet, const char* colour) {
    std::vector<std::int64_t> counts;
    for (const auto& sp : sheet.community.species)
        if (sp.count > 0) counts.push_back(sp.count);
    std::sort(counts.rbegin(), counts.rend());
    std::vector<std::pair<double, double>> pts;
    for (std::size_t r = 0; r < counts.size(); ++r)
        pts.push_back({f.px(double(r + 1)), f.py(std::log10(double(counts[r])))});
    std::string svg = polyline(pts, colour, false, f.small ? 1.2 : 1.8);
    // Beyond a hundred species the points would merge into the line.
    if (pts.size() <= 100)
        for (const auto& [x, y] : pts)
            svg += "<circle cx=\"" + coord(x) + "\" cy=\"" + coord(y) + "\" r=\"" + (f.small ? "1.5" : "2") +
                   "\" fill=\"" + colour + "\"/>";
    return svg;
}

const char* const kSizeLabel = "numarul de indivizi (m)";
const char* const kCoverageLabel = "acoperirea esantionului";
const char* const kHowToRead =
    "<p>Linie plina: rarefiere; linie intrerupta: extrapolare pana la 2n; punct: esantionul observat; banda: "
    "interval bootstrap de 95%. Dupa acoperire, fiecare punct este la acoperirea estimata pentru marimea m, "
    "cu "
    "intervalul de la acea marime.</p>";

std::string legend(const std::vector<const ReportSheet*>& sheets) {
    std::string s = "<p class=\"legend\">";
    for (std::size_t i = 0; i < sheets.size(); ++i)
        s += "<span><i style=\"background:" + std::string(kColours[i]) + "\"></i>" +
             escape(sheets[i]->label) + "</span> ";
    return s + "</p>";
}

// Up to ten sheets: each plot holds every sheet, one colour each.
std::string overlaidCurves(const std::vector<const ReportSheet*>& sheets) {
    std::string h = legend(sheets) + "\n";
    Frame f = rankFrame(sheets, false);
    h += axes(f, "Rang-abundenta", "rangul speciei", "abundenta (scara log)", true);
    for (std::size_t i = 0; i < sheets.size(); ++i)
        h += rankCurve(f, *sheets[i], kColours[i]);
    h += "</svg>\n";
    for (int k = 0; k < 4; ++k) {
        f = curveFrame(sheets, {k}, Along::Size, false);
        h += axes(f,
                  k < 3 ? "Rarefiere/extrapolare " + std::string(kOrderNames[k]) : "Acoperirea esantionului",
                  kSizeLabel, k < 3 ? "numarul Hill" : "acoperire");
        for (std::size_t i = 0; i < sheets.size(); ++i)
            h += drawCurve(f, sheets[i]->analysis.curve, k, Along::Size,
                           double(sheets[i]->community.individuals), kColours[i]);
        h += "</svg>\n";
    }
    for (int q = 0; q < 3; ++q) {
        f = curveFrame(sheets, {q}, Along::Coverage, false);
        h += axes(f, "q = " + std::to_string(q) + " dupa acoperire", kCoverageLabel, "numarul Hill");
        for (std::size_t i = 0; i < sheets.size(); ++i)
            h += drawCurve(f, sheets[i]->analysis.curve, q, Along::Coverage,
                           double(sheets[i]->community.individuals), kColours[i]);
        h += "</svg>\n";
    }
    return h;
}

// Beyond ten sheets: each sheet its own four small plots, on scales common to all, so that they compare.
std::string smallMultiples(const std::vector<const ReportSheet*>& sheets) {
    std::string h = "<p>Cu " + std::to_string(sheets.size()) +
                    " foi, fiecare foaie are graficele ei, pe aceleasi scari pentru toate foile. Ordinele: ";
    for (int q = 0; q < 3; ++q)
        h += "<span class=\"legend\"><i style=\"background:" + std::string(kOrderColours[q]) + "\"></i>" +
             kOrderNames[q] + "</span> ";
    h += "</p>\n";
    const Frame rank = rankFrame(sheets, true);
    const Frame hill = curveFrame(sheets, {0, 1, 2}, Along::Size, true);
    const Frame cover = curveFrame(sheets, {3}, Along::Size, true);
    const Frame byCoverage = curveFrame(sheets, {0, 1, 2}, Along::Coverage, true);
    for (const ReportSheet* s : sheets) {
        const double n = double(s->community.individuals);
        h += "<div class=\"panel\"><h3>" + escape(s->label) + "</h3>";
        h += axes(rank, "Rang-abundenta", "rangul", "abundenta (log)", true) + rankCurve(rank, *s, "#333") +
             "</svg>";
        h += axes(hill, "Numere Hill dupa m", "m", "numarul Hill");
        for (int q = 0; q < 3; ++q)
            h += drawCurve(hill, s->analysis.curve, q, Along::Size, n, kOrderColours[q]);
        h += "</svg>" + axes(cover, "Acoperirea", "m", "acoperire") +
             drawCurve(cover, s->analysis.curve, 3, Along::Size, n, "#333") + "</svg>";
        h += axes(byCoverage, "Numere Hill dupa acoperire", "acoperire", "numarul Hill");
        for (int q = 0; q < 3; ++q)
            h += drawCurve(byCoverage, s->analysis.curve, q, Along::Coverage, n, kOrderColours[q]);
        h += "</svg></div>\n";
    }
    return h;
}

std::string shade(double v) {
    const int level = int(std::lround(255 - std::clamp(v, 0.0, 1.0) * 170));
    char b[64];
    std::snprintf(b, sizeof b, "background:rgb(%d,%d,255)%s", level, level, v > 0.6 ? ";color:#fff" : "");
    return b;
}

std::string head(const std::vector<ReportSheet>& sheets, const std::string& title) {
    std::string h =
        "<!DOCTYPE html>\n<html lang=\"ro\"><head><meta charset=\"utf-8\"><title>" + escape(title) +
        "</title>\n<style>\n"
        "body{font-family:sans-serif;margin:1.5em;color:#222;max-width:1000px}"
        "table{border-collapse:collapse;margin:.5em 0 1.2em}"
        "td,th{border:1px solid #999;padding:2px 6px;font-size:13px}"
        "th{background:#eee}td.n{text-align:right;font-variant-numeric:tabular-nums}"
        "svg{max-width:100%;height:auto;font-size:11px;margin:4px}svg .t{font-size:13px;font-weight:bold}"
        "svg.small{font-size:9px;margin:2px}svg.small .t{font-size:10px}"
        ".panel h3{margin:.6em 0 0;font-size:14px}"
        ".legend span,span.legend{margin-right:1.2em}.legend i{display:inline-block;width:12px;height:12px;"
        "margin-right:4px;vertical-align:middle}"
        "@media print{body{margin:0}section,.panel{break-inside:avoid}}\n</style></head><body>\n";
    h += "<h1>" + escape(title) + "</h1>\n";
    if (!sheets.empty()) {
        const Provenance& p = sheets.front().provenance;
        h += "<p>Ordana " + escape(p.version) + ", " + escape(p.date) + "; generator " + escape(p.generator) +
             ", samanta " + std::to_string(p.seed) + ", " + std::to_string(p.replicates) +
             " replici bootstrap; intervale de 95%.</p>\n";
    }
    return h;
}

std::string failuresSection(const std::vector<ReportFailure>& failures) {
    if (failures.empty()) return {};
    std::string h =
        "<section><h2>Foi neprelucrate</h2>\n<p>" + std::to_string(failures.size()) +
        (failures.size() == 1 ? " foaie nu a putut fi estimata" : " foi nu au putut fi estimate") +
        "; nu apar in graficele si tabelele de mai jos.</p>\n"
        "<table><tr><th>Fisierul</th><th>Foaia</th><th>Mesajul</th></tr>\n";
    for (const auto& f : failures)
        h += "<tr><td>" + escape(f.workbook) + "</td><td>" +
             (f.sheet.empty() ? "(tot fisierul)" : escape(f.sheet)) + "</td><td>" + escape(f.message) +
             "</td></tr>\n";
    return h + "</table></section>\n";
}

std::string curvesSection(const std::vector<const ReportSheet*>& sheets) {
    return "<section><h2>Curbe</h2>" +
           (sheets.size() <= kReportOverlaidSheets ? overlaidCurves(sheets) : smallMultiples(sheets)) +
           kHowToRead + "</section>\n";
}

std::string sheetSection(const ReportSheet& s) {
    const bool units = s.analysis.incidence;
    std::string h = "<section><h2>" + escape(s.label) + (units ? " - incidenta" : "") +
                    "</h2>\n<p>Domeniul " + escape(s.provenance.range) + ": " +
                    std::to_string(s.provenance.species) + " specii, " +
                    (units ? std::to_string(s.units) + " unitati de esantionare"
                           : std::to_string(s.provenance.individuals) + " indivizi") +
                    ".</p>\n";
    if (units) {
        // Its curves by number of units, on their own axes: they cannot share those of the samples.
        const std::vector<const ReportSheet*> one = {&s};
        const Frame hill = curveFrame(one, {0, 1, 2}, Along::Size, false);
        h += axes(hill, "Numere Hill dupa unitati", "numarul de unitati de esantionare (t)", "numarul Hill");
        for (int q = 0; q < 3; ++q)
            h += drawCurve(hill, s.analysis.curve, q, Along::Size, double(s.units), kOrderColours[q]);
        const Frame cover = curveFrame(one, {3}, Along::Size, false);
        h += "</svg>" +
             axes(cover, "Acoperirea dupa unitati", "numarul de unitati de esantionare (t)", "acoperire") +
             drawCurve(cover, s.analysis.curve, 3, Along::Size, double(s.units), "#333") + "</svg>\n";
    }
    h += "<table><tr>";
    for (const char* heading : kEstimateHeadings)
        h += "<th>" + std::string(heading) + "</th>";
    h += "</tr>\n";
    for (const auto& e : s.analysis.estimates) {
        h += "<tr><td>" + escape(e.label) + "</td><td class=\"n\">" + num(e.value) + "</td><td class=\"n\">" +
             (e.se >= 0 ? num(e.se) : "") + "</td><td class=\"n\">" + (e.hasInterval ? num(e.lower) : "") +
             "</td><td class=\"n\">" + (e.hasInterval ? num(e.upper) : "") + "</td><td>" +
             escape(methodText(e, s.analysis.incidence)) + "</td></tr>\n";
    }
    return h + "</table></section>\n";
}

const char* const kIndexNames[4] = {"Jaccard", "Sorensen", "Bray-Curtis", "Morisita-Horn"};

double indexOf(const Dissimilarity& d, int k) {
    return k == 0 ? d.jaccard : k == 1 ? d.sorensen : k == 2 ? d.brayCurtis : d.morisitaHorn;
}

std::string hutchesonCells(const HutchesonTest& t) {
    return "<td class=\"n\">" + num(t.h1) + "</td><td class=\"n\">" + num(t.h2) + "</td><td class=\"n\">" +
           (t.defined ? num(t.t) : "nedefinit") + "</td><td class=\"n\">" + (t.defined ? num(t.df, 1) : "") +
           "</td><td class=\"n\">" + (t.defined ? escape(pValueText(t.p)) : "") + "</td>";
}

// Every pair: a matrix per index and the list of t-tests.
std::string everyPair(const std::vector<const ReportSheet*>& sheets, const SurveyComparison& c) {
    const std::size_t n = sheets.size();
    std::vector<Dissimilarity> d(n * n);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j)
            d[i * n + j] = c.dissimilarity(i, j);
    std::string h;
    for (int k = 0; k < 4; ++k) {
        h += "<h3>Disimilaritate " + std::string(kIndexNames[k]) + "</h3>\n<table><tr><th></th>";
        for (const ReportSheet* s : sheets)
            h += "<th>" + escape(s->label) + "</th>";
        h += "</tr>\n";
        for (std::size_t i = 0; i < n; ++i) {
            h += "<tr><th>" + escape(sheets[i]->label) + "</th>";
            for (std::size_t j = 0; j < n; ++j) {
                const double v = indexOf(d[i * n + j], k);
                h += "<td class=\"n\" style=\"" + shade(v) + "\">" + num(v) + "</td>";
            }
            h += "</tr>\n";
        }
        h += "</table>\n";
    }
    h +=
        "<h3>Testul t Hutcheson pentru H Shannon</h3>\n<table><tr><th>Foaia 1</th><th>Foaia 2</th><th>H1</th>"
        "<th>H2</th><th>t</th><th>gl</th><th>p</th></tr>\n";
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i + 1; j < n; ++j)
            h += "<tr><td>" + escape(sheets[i]->label) + "</td><td>" + escape(sheets[j]->label) + "</td>" +
                 hutchesonCells(c.hutcheson(i, j)) + "</tr>\n";
    return h + "</table>\n";
}

// Beyond twelve sheets: each sheet with the sheet nearest to it and its mean distance to the others, and the
// t-tests counted rather than listed.
std::string pairsSummarised(const std::vector<const ReportSheet*>& sheets, const SurveyComparison& c) {
    const PairsSummary summary = summarisePairs(c);
    const std::size_t n = sheets.size(), pairs = summary.pairs;
    std::string h =
        "<p>Cu " + std::to_string(n) + " foi (peste " + std::to_string(kReportPairedSheets) +
        ") perechile nu sunt scrise toate, ar fi " + std::to_string(pairs) +
        ": fiecare foaie apare cu foaia cea mai apropiata de ea si cu media disimilaritatii fata de "
        "celelalte.</p>\n<table><tr><th>Foaia</th><th>Cea mai apropiata (Jaccard)</th><th>Jaccard</th>"
        "<th>media Jaccard</th><th>Cea mai apropiata (Bray-Curtis)</th><th>Bray-Curtis</th>"
        "<th>media Bray-Curtis</th><th>media Morisita-Horn</th></tr>\n";
    for (std::size_t i = 0; i < n; ++i) {
        const PairsSummary::Row& r = summary.rows[i];
        h += "<tr><td>" + escape(sheets[i]->label) + "</td><td>" + escape(sheets[r.nearestJaccard]->label) +
             "</td><td class=\"n\">" + num(r.jaccard) + "</td><td class=\"n\">" + num(r.meanJaccard) +
             "</td><td>" + escape(sheets[r.nearestBrayCurtis]->label) + "</td><td class=\"n\">" +
             num(r.brayCurtis) + "</td><td class=\"n\">" + num(r.meanBrayCurtis) + "</td><td class=\"n\">" +
             num(r.meanMorisitaHorn) + "</td></tr>\n";
    }
    h += "</table>\n<h3>Testul t Hutcheson pentru H Shannon</h3>\n<p>" + std::to_string(summary.defined) +
         " din " + std::to_string(pairs) + " perechi au testul definit; " + std::to_string(summary.below05) +
         " au p &lt; 0,05 si " + std::to_string(summary.belowBonferroni) + " au p &lt; 0,05/" +
         std::to_string(pairs) + " (Bonferroni).</p>\n";
    return h;
}

std::string comparisonSection(const std::vector<const ReportSheet*>& sheets) {
    std::vector<const Community*> all;
    for (const ReportSheet* s : sheets)
        all.push_back(&s->community);
    const SurveyComparison c(all);
    return "<section><h2>Comparatii intre foi</h2>\n<p>Beta Whittaker: " + num(c.whittakerBeta()) + "</p>\n" +
           (sheets.size() <= kReportPairedSheets ? everyPair(sheets, c) : pairsSummarised(sheets, c)) +
           "</section>\n";
}

} // namespace

std::string renderReport(const std::vector<ReportSheet>& sheets, const std::string& title,
                         const std::vector<ReportFailure>& failures) {
    // The samples' curves and comparisons; a survey's units together stand apart, by units rather than
    // individuals.
    std::vector<const ReportSheet*> all;
    for (const auto& s : sheets)
        if (!s.analysis.incidence) all.push_back(&s);
    std::string h = head(sheets, title) + failuresSection(failures);
    if (!all.empty()) h += curvesSection(all);
    for (const auto& s : sheets)
        h += sheetSection(s);
    if (all.size() >= 2) h += comparisonSection(all);
    return h + "</body></html>\n";
}

} // namespace ordana
