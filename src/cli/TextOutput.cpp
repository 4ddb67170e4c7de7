#include "Output.h"

#include "analysis/NumberText.h"
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

    void listed(const std::string& workbook, const std::string& sheet, job::SheetKind kind) override {
        out_ << printable(workbook) << '\t' << printable(sheet) << '\t' << kindWord(kind) << '\n';
    }

    void computed(const std::string& workbook, const job::SheetResult& r) override {
        out_ << printable(workbook) << " - foaia \"" << printable(r.name) << "\"\n";
        char line[96];
        if (r.indices) {
            std::snprintf(line, sizeof line, "  %-24s %14s\n", "Indici", "Valoare");
            out_ << line;
            const auto values = resultValues(*r.indices);
            for (std::size_t k = 0; k < values.size(); ++k) {
                std::snprintf(line, sizeof line, "  %-24s %14s\n", kResultLabels[k],
                              decimalText(values[k], 6).c_str());
                out_ << line;
            }
        }
        if (r.estimated)
            printEstimates(r.analysis, r.provenance);
        else
            out_ << '\n';
    }

    void surveyComputed(const std::string& workbook, const job::SurveyResult& r) override {
        out_ << printable(workbook) << " - matricea \"" << printable(r.name) << "\"\n";
        for (const auto& sample : r.samples) {
            out_ << "  proba \"" << printable(sample.name) << "\"\n";
            printEstimates(sample.analysis, sample.provenance);
        }
        if (r.incidence) {
            out_ << "  incidenta: probele ca unitati de esantionare\n";
            printEstimates(r.incidenceAnalysis, r.provenance);
        }
    }

  protected:
    void beginComparisons(const std::vector<ReportSheet>& sheets, double whittakerBeta,
                          bool everyPair) override {
        out_ << "Comparatii intre foi (beta Whittaker " << decimalText(whittakerBeta, 4) << ")\n";
        if (!everyPair)
            out_ << "  " << sheets.size() << " foi, peste " << kPairedSheets << ": in locul celor "
                 << sheets.size() * (sheets.size() - 1) / 2
                 << " perechi, fiecare foaie cu cea mai apropiata si media fata de celelalte\n";
    }

    void pair(const ReportSheet& a, const ReportSheet& b, const Dissimilarity& d,
              const HutchesonTest& h) override {
        out_ << "  " << printable(a.label) << " | " << printable(b.label) << ": Jaccard "
             << decimalText(d.jaccard, 4) << ", Sorensen " << decimalText(d.sorensen, 4) << ", Bray-Curtis "
             << decimalText(d.brayCurtis, 4) << ", Morisita-Horn " << decimalText(d.morisitaHorn, 4)
             << "; Hutcheson t = " << decimalText(h.t, 4) << ", gl = " << decimalText(h.df, 1)
             << ", p = " << pValueText(h.p) << '\n';
    }

    void summary(const std::vector<ReportSheet>& sheets, const PairsSummary& s) override {
        for (std::size_t i = 0; i < s.rows.size(); ++i) {
            const PairsSummary::Row& r = s.rows[i];
            out_ << "  " << printable(sheets[i].label) << ": cea mai apropiata "
                 << printable(sheets[r.nearestJaccard].label) << " (Jaccard " << decimalText(r.jaccard, 4)
                 << "), " << printable(sheets[r.nearestBrayCurtis].label) << " (Bray-Curtis "
                 << decimalText(r.brayCurtis, 4) << "); medii: Jaccard " << decimalText(r.meanJaccard, 4)
                 << ", Bray-Curtis " << decimalText(r.meanBrayCurtis, 4) << ", Morisita-Horn "
                 << decimalText(r.meanMorisitaHorn, 4) << '\n';
        }
        out_ << "  Hutcheson: " << s.defined << " din " << s.pairs << " perechi cu testul definit; "
             << s.below05 << " cu p < 0,05, " << s.belowBonferroni << " cu p < 0,05/" << s.pairs
             << " (Bonferroni)\n";
    }

  private:
    void printEstimates(const estimators::Analysis& a, const Provenance& p) {
        out_ << '\n';
        char line[160];
        std::snprintf(line, sizeof line, "  %-28s %12s %10s %10s %10s\n", "Estimator", "Valoare", "ES",
                      "IC 95% inf", "IC 95% sup");
        out_ << line;
        auto cell = [](double v, bool shown) { return shown ? decimalText(v, 4) : std::string(); };
        for (const auto& e : a.estimates) {
            std::snprintf(line, sizeof line, "  %-28s %12s %10s %10s %10s  ", e.label.c_str(),
                          cell(e.value, true).c_str(), cell(e.se, e.se >= 0).c_str(),
                          cell(e.lower, e.hasInterval).c_str(), cell(e.upper, e.hasInterval).c_str());
            out_ << line << methodText(e, a.incidence) << '\n';
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
