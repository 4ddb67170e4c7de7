#include "Report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace ordana {

namespace {

const char* const kColours[] = {"#1b6ca8", "#d1495b", "#2e933c", "#edae49", "#6a4c93",
                                "#00798c", "#8d6a9f", "#c05c00", "#3d405b", "#81b29a"};

const char* colour(std::size_t i) {
    return kColours[i % (sizeof kColours / sizeof *kColours)];
}

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
    if (!std::isfinite(x)) return std::isinf(x) ? "infinit" : "nedefinit";
    char b[64];
    std::snprintf(b, sizeof b, "%.*f", decimals, x);
    std::string s = b;
    for (auto& c : s)
        if (c == '.') c = ',';
    return s;
}

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
    double x0, x1, y0, y1;
    static constexpr double W = 460, H = 300, L = 56, R = 14, T = 28, B = 44;
    double px(double x) const { return L + (x - x0) / (x1 - x0) * (W - L - R); }
    double py(double y) const { return H - B - (y - y0) / (y1 - y0) * (H - T - B); }
};

std::string axes(const Frame& f, const std::string& title, const std::string& xLabel,
                 const std::string& yLabel, bool logY = false) {
    std::string s =
        "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 460 300\" width=\"460\" height=\"300\" "
        "role=\"img\"><title>" +
        escape(title) + "</title>";
    s += "<text x=\"230\" y=\"16\" text-anchor=\"middle\" class=\"t\">" + escape(title) + "</text>";
    s += "<rect x=\"" + coord(Frame::L) + "\" y=\"" + coord(Frame::T) + "\" width=\"" +
         coord(Frame::W - Frame::L - Frame::R) + "\" height=\"" + coord(Frame::H - Frame::T - Frame::B) +
         "\" fill=\"none\" stroke=\"#555\"/>";
    const double xs = tickStep(f.x1 - f.x0);
    for (double x = std::ceil(f.x0 / xs) * xs; x <= f.x1 + 1e-9; x += xs)
        s += "<line x1=\"" + coord(f.px(x)) + "\" x2=\"" + coord(f.px(x)) + "\" y1=\"" +
             coord(Frame::H - Frame::B) + "\" y2=\"" + coord(Frame::H - Frame::B + 4) +
             "\" stroke=\"#555\"/><text x=\"" + coord(f.px(x)) + "\" y=\"" + coord(Frame::H - Frame::B + 16) +
             "\" text-anchor=\"middle\">" + num(x, xs < 1 ? 2 : 0) + "</text>";
    const double ys = logY ? 1 : tickStep(f.y1 - f.y0);
    for (double y = std::ceil(f.y0 / ys) * ys; y <= f.y1 + 1e-9; y += ys)
        s += "<line x1=\"" + coord(Frame::L - 4) + "\" x2=\"" + coord(Frame::L) + "\" y1=\"" +
             coord(f.py(y)) + "\" y2=\"" + coord(f.py(y)) + "\" stroke=\"#555\"/><text x=\"" +
             coord(Frame::L - 6) + "\" y=\"" + coord(f.py(y) + 4) + "\" text-anchor=\"end\">" +
             (logY ? num(std::pow(10, y), 0)
                   : num(y, ys < 0.1 ? 2
                            : ys < 1 ? 1
                                     : 0)) +
             "</text>";
    s += "<text x=\"" + coord((Frame::L + Frame::W - Frame::R) / 2) + "\" y=\"" + coord(Frame::H - 8) +
         "\" text-anchor=\"middle\">" + escape(xLabel) + "</text>";
    s += "<text transform=\"translate(14," + coord((Frame::T + Frame::H - Frame::B) / 2) +
         ") rotate(-90)\" text-anchor=\"middle\">" + escape(yLabel) + "</text>";
    return s;
}

std::string polyline(const std::vector<std::pair<double, double>>& points, const char* stroke, bool dashed) {
    if (points.empty()) return {};
    std::string s = "<polyline fill=\"none\" stroke=\"" + std::string(stroke) + "\" stroke-width=\"1.8\"" +
                    (dashed ? " stroke-dasharray=\"5 4\"" : "") + " points=\"";
    for (const auto& [x, y] : points)
        s += coord(x) + "," + coord(y) + " ";
    return s + "\"/>";
}

std::string legend(const std::vector<ReportSheet>& sheets) {
    std::string s = "<p class=\"legend\">";
    for (std::size_t i = 0; i < sheets.size(); ++i)
        s += "<span><i style=\"background:" + std::string(colour(i)) + "\"></i>" + escape(sheets[i].label) +
             "</span> ";
    return s + "</p>";
}

// A curve of the analysis, k = 0..2 for the Hill numbers and 3 for the coverage, against m: solid up to n,
// dashed beyond, with its interval band.
std::string curvePlot(const std::vector<ReportSheet>& sheets, int k, const std::string& title,
                      const std::string& yLabel) {
    double xMax = 1, yMax = k == 3 ? 1 : 1;
    for (const auto& s : sheets)
        for (const auto& p : s.analysis.curve) {
            xMax = std::max(xMax, p.m);
            if (std::isfinite(p.upper[k])) yMax = std::max(yMax, p.upper[k]);
        }
    const Frame f{0, xMax, 0, k == 3 ? 1.0 : yMax * 1.05};
    std::string svg = axes(f, title, "numarul de indivizi (m)", yLabel);
    for (std::size_t i = 0; i < sheets.size(); ++i) {
        const auto& curve = sheets[i].analysis.curve;
        if (curve.empty()) continue;
        std::string band = "<polygon fill=\"" + std::string(colour(i)) +
                           "\" fill-opacity=\"0.18\" stroke=\"none\" points=\"";
        for (const auto& p : curve)
            band += coord(f.px(p.m)) + "," + coord(f.py(std::min(p.upper[k], f.y1))) + " ";
        for (auto it = curve.rbegin(); it != curve.rend(); ++it)
            band += coord(f.px(it->m)) + "," + coord(f.py(std::max(it->lower[k], f.y0))) + " ";
        svg += band + "\"/>";
        const double n = double(sheets[i].community.individuals);
        std::vector<std::pair<double, double>> solid, dashed;
        for (const auto& p : curve) {
            const auto pt = std::make_pair(f.px(p.m), f.py(p.value[k]));
            if (p.m <= n) solid.push_back(pt);
            if (p.m >= n) dashed.push_back(pt);
        }
        svg += polyline(solid, colour(i), false) + polyline(dashed, colour(i), true);
        if (!solid.empty())
            svg += "<circle cx=\"" + coord(solid.back().first) + "\" cy=\"" + coord(solid.back().second) +
                   "\" r=\"3.5\" fill=\"" + colour(i) + "\"/>";
    }
    return svg + "</svg>";
}

// Hill numbers against the coverage the sample would reach.
std::string coverageBasedPlot(const std::vector<ReportSheet>& sheets, int q) {
    double yMax = 1, xMin = 1;
    for (const auto& s : sheets)
        for (const auto& p : s.analysis.curve) {
            if (std::isfinite(p.value[q])) yMax = std::max(yMax, p.value[q]);
            xMin = std::min(xMin, p.value[3]);
        }
    const Frame f{std::max(0.0, std::floor(xMin * 10) / 10), 1, 0, yMax * 1.05};
    std::string svg =
        axes(f, "q = " + std::to_string(q) + " dupa acoperire", "acoperirea esantionului", "numarul Hill");
    for (std::size_t i = 0; i < sheets.size(); ++i) {
        std::vector<std::pair<double, double>> pts;
        for (const auto& p : sheets[i].analysis.curve)
            pts.push_back({f.px(p.value[3]), f.py(p.value[q])});
        svg += polyline(pts, colour(i), false);
    }
    return svg + "</svg>";
}

std::string rankAbundance(const std::vector<ReportSheet>& sheets) {
    double maxRank = 1, maxLog = 1;
    for (const auto& s : sheets) {
        std::int64_t present = 0, top = 1;
        for (const auto& sp : s.community.species)
            if (sp.count > 0) {
                ++present;
                top = std::max(top, sp.count);
            }
        maxRank = std::max(maxRank, double(present));
        maxLog = std::max(maxLog, std::ceil(std::log10(double(top))));
    }
    const Frame f{0, maxRank + 1, 0, maxLog};
    std::string svg = axes(f, "Rang-abundenta", "rangul speciei", "abundenta (scara log)", true);
    for (std::size_t i = 0; i < sheets.size(); ++i) {
        std::vector<std::int64_t> counts;
        for (const auto& sp : sheets[i].community.species)
            if (sp.count > 0) counts.push_back(sp.count);
        std::sort(counts.rbegin(), counts.rend());
        std::vector<std::pair<double, double>> pts;
        for (std::size_t r = 0; r < counts.size(); ++r)
            pts.push_back({f.px(double(r + 1)), f.py(std::log10(double(counts[r])))});
        svg += polyline(pts, colour(i), false);
        for (const auto& [x, y] : pts)
            svg += "<circle cx=\"" + coord(x) + "\" cy=\"" + coord(y) + "\" r=\"2\" fill=\"" + colour(i) +
                   "\"/>";
    }
    return svg + "</svg>";
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
        ".legend span{margin-right:1.2em}.legend i{display:inline-block;width:12px;height:12px;"
        "margin-right:4px;vertical-align:middle}"
        "@media print{body{margin:0}section{break-inside:avoid}}\n</style></head><body>\n";
    h += "<h1>" + escape(title) + "</h1>\n";
    if (!sheets.empty()) {
        const Provenance& p = sheets.front().provenance;
        h += "<p>Ordana " + escape(p.version) + ", " + escape(p.date) + "; generator " + escape(p.generator) +
             ", samanta " + std::to_string(p.seed) + ", " + std::to_string(p.replicates) +
             " replici bootstrap; intervale de 95%.</p>\n";
    }
    return h;
}

std::string curvesSection(const std::vector<ReportSheet>& sheets) {
    std::string h = "<section><h2>Curbe</h2>" + legend(sheets) + "\n";
    h += rankAbundance(sheets) + "\n";
    const char* names[3] = {"q = 0 (bogatia)", "q = 1 (exp Shannon)", "q = 2 (1/Simpson)"};
    for (int q = 0; q < 3; ++q)
        h += curvePlot(sheets, q, "Rarefiere/extrapolare " + std::string(names[q]), "numarul Hill") + "\n";
    h += curvePlot(sheets, 3, "Acoperirea esantionului", "acoperire") + "\n";
    for (int q = 0; q < 3; ++q)
        h += coverageBasedPlot(sheets, q) + "\n";
    return h +
           "<p>Linie plina: rarefiere; linie intrerupta: extrapolare pana la 2n; punct: esantionul observat; "
           "banda: interval bootstrap de 95%.</p></section>\n";
}

std::string sheetSection(const ReportSheet& s) {
    std::string h = "<section><h2>" + escape(s.label) + "</h2>\n<p>Domeniul " + escape(s.provenance.range) +
                    ": " + std::to_string(s.provenance.species) + " specii, " +
                    std::to_string(s.provenance.individuals) + " indivizi.</p>\n<table><tr>";
    for (const char* heading : kEstimateHeadings)
        h += "<th>" + std::string(heading) + "</th>";
    h += "</tr>\n";
    for (const auto& e : s.analysis.estimates) {
        h += "<tr><td>" + escape(e.label) + "</td><td class=\"n\">" + num(e.value) + "</td><td class=\"n\">" +
             (e.se >= 0 ? num(e.se) : "") + "</td><td class=\"n\">" + (e.hasInterval ? num(e.lower) : "") +
             "</td><td class=\"n\">" + (e.hasInterval ? num(e.upper) : "") + "</td><td>" +
             escape(methodText(e)) + "</td></tr>\n";
    }
    return h + "</table></section>\n";
}

std::string dissimilarityTable(const std::vector<ReportSheet>& sheets, int k) {
    const char* indexNames[4] = {"Jaccard", "Sorensen", "Bray-Curtis", "Morisita-Horn"};
    std::string h = "<h3>Disimilaritate " + std::string(indexNames[k]) + "</h3>\n<table><tr><th></th>";
    for (const auto& s : sheets)
        h += "<th>" + escape(s.label) + "</th>";
    h += "</tr>\n";
    for (std::size_t i = 0; i < sheets.size(); ++i) {
        h += "<tr><th>" + escape(sheets[i].label) + "</th>";
        for (std::size_t j = 0; j < sheets.size(); ++j) {
            const Dissimilarity d = dissimilarity(sheets[i].community, sheets[j].community);
            const double v = k == 0   ? d.jaccard
                             : k == 1 ? d.sorensen
                             : k == 2 ? d.brayCurtis
                                      : d.morisitaHorn;
            h += "<td class=\"n\" style=\"" + shade(v) + "\">" + num(v) + "</td>";
        }
        h += "</tr>\n";
    }
    return h + "</table>\n";
}

std::string comparisonSection(const std::vector<ReportSheet>& sheets) {
    std::vector<Community> all;
    for (const auto& s : sheets)
        all.push_back(s.community);
    std::string h =
        "<section><h2>Comparatii intre foi</h2>\n<p>Beta Whittaker: " + num(whittakerBeta(all)) + "</p>\n";
    for (int k = 0; k < 4; ++k)
        h += dissimilarityTable(sheets, k);
    h += "<h3>Testul t Hutcheson pentru H Shannon</h3>\n<table><tr><th>Foaia 1</th><th>Foaia "
         "2</th><th>H1</th>"
         "<th>H2</th><th>t</th><th>gl</th><th>p</th></tr>\n";
    for (std::size_t i = 0; i < sheets.size(); ++i)
        for (std::size_t j = i + 1; j < sheets.size(); ++j) {
            const HutchesonTest t = hutcheson(sheets[i].community, sheets[j].community);
            h += "<tr><td>" + escape(sheets[i].label) + "</td><td>" + escape(sheets[j].label) +
                 "</td><td class=\"n\">" + num(t.h1) + "</td><td class=\"n\">" + num(t.h2) +
                 "</td><td class=\"n\">" + (t.defined ? num(t.t) : "nedefinit") + "</td><td class=\"n\">" +
                 (t.defined ? num(t.df, 1) : "") + "</td><td class=\"n\">" + (t.defined ? num(t.p, 4) : "") +
                 "</td></tr>\n";
        }
    return h + "</table></section>\n";
}

} // namespace

std::string renderReport(const std::vector<ReportSheet>& sheets, const std::string& title) {
    std::string h = head(sheets, title) + curvesSection(sheets);
    for (const auto& s : sheets)
        h += sheetSection(s);
    if (sheets.size() >= 2) h += comparisonSection(sheets);
    return h + "</body></html>\n";
}

} // namespace ordana
