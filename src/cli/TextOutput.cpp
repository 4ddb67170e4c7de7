#include "Output.h"

#include "analysis/ResultsWriter.h"
#include "common/Text.h"

#include <cmath>
#include <cstdio>
#include <ostream>

namespace ordana::cli {

namespace {

// Names and paths come from files: shown so that one line stays one line and no control character reaches
// the terminal.
using text::printable;

class TextOutput : public Output {
  public:
    using Output::Output;

    void listed(const std::string& workbook, const std::string& sheet) override {
        out_ << printable(workbook) << '\t' << printable(sheet) << '\n';
    }

    void computed(const std::string& workbook, const job::SheetResult& r) override {
        out_ << printable(workbook) << " - foaia \"" << printable(r.name) << "\"\n";
        char line[96];
        if (r.indices) {
            std::snprintf(line, sizeof line, "  %-24s %14s\n", "Indici", "Valoare");
            out_ << line;
            const auto values = resultValues(*r.indices);
            for (std::size_t k = 0; k < values.size(); ++k) {
                std::snprintf(line, sizeof line, "  %-24s %14.6f\n", kResultLabels[k], values[k]);
                out_ << line;
            }
        }
        if (r.estimated)
            printEstimates(r.analysis, r.provenance);
        else
            out_ << '\n';
    }

    void comparisons(const std::vector<ReportSheet>& sheets) override {
        std::vector<Community> all;
        for (const auto& s : sheets)
            all.push_back(s.community);
        out_ << "Comparatii intre foi (beta Whittaker " << whittakerBeta(all) << ")\n";
        for (std::size_t i = 0; i < sheets.size(); ++i)
            for (std::size_t j = i + 1; j < sheets.size(); ++j) {
                const Dissimilarity d = dissimilarity(sheets[i].community, sheets[j].community);
                const HutchesonTest h = hutcheson(sheets[i].community, sheets[j].community);
                char line[200];
                std::snprintf(line, sizeof line,
                              ": Jaccard %.4f, Sorensen %.4f, Bray-Curtis %.4f, Morisita-Horn %.4f; "
                              "Hutcheson t = %.4f, gl = %.1f, p = %.4g\n",
                              d.jaccard, d.sorensen, d.brayCurtis, d.morisitaHorn, h.t, h.df, h.p);
                out_ << "  " << printable(sheets[i].label) << " | " << printable(sheets[j].label) << line;
            }
    }

  private:
    void printEstimates(const estimators::Analysis& a, const Provenance& p) {
        out_ << '\n';
        char line[160];
        std::snprintf(line, sizeof line, "  %-28s %12s %10s %10s %10s\n", "Estimator", "Valoare", "ES",
                      "IC 95% inf", "IC 95% sup");
        out_ << line;
        auto cell = [](double v, bool shown) {
            char b[32];
            if (!shown) return std::string();
            if (!std::isfinite(v)) return std::string(std::isinf(v) ? "infinit" : "nedefinit");
            std::snprintf(b, sizeof b, "%.4f", v);
            return std::string(b);
        };
        for (const auto& e : a.estimates) {
            std::snprintf(line, sizeof line, "  %-28s %12s %10s %10s %10s  ", e.label.c_str(),
                          cell(e.value, true).c_str(), cell(e.se, e.se >= 0).c_str(),
                          cell(e.lower, e.hasInterval).c_str(), cell(e.upper, e.hasInterval).c_str());
            out_ << line << methodText(e) << '\n';
        }
        for (const auto& [label, text] : provenanceRows(p))
            out_ << "  " << label << ": " << printable(text) << '\n';
        out_ << '\n';
    }
};

} // namespace

std::unique_ptr<Output> makeTextOutput(std::ostream& out) {
    return std::make_unique<TextOutput>(out);
}

} // namespace ordana::cli
