#include "Output.h"

#include "analysis/ResultsWriter.h"

#include <cmath>
#include <ostream>

namespace ordana::cli {

namespace {

// A field a spreadsheet would run as a formula (=, +, -, @, a tab or a carriage return first) gets a leading
// apostrophe, unless it is a number; a field holding a quote, a comma or a line break is quoted.
std::string csvField(const std::string& text) {
    std::string s = text;
    if (!s.empty() && std::string("=+-@\t\r").find(s[0]) != std::string::npos) {
        char* end = nullptr;
        const double number = std::strtod(s.c_str(), &end);
        if (!(end == s.c_str() + s.size() && std::isfinite(number) && s[0] != '\t' && s[0] != '\r'))
            s.insert(s.begin(), '\'');
    }
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string quoted = "\"";
    for (char c : s)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

std::string csvNumber(double value) {
    return std::isfinite(value) ? exactNumber(value) : "";
}

const char kCsvHeader[] =
    "fisier,foaie,cheie,eticheta,valoare,es,ic_inf,ic_sup,varianta,metoda_es,metoda_ic,baza_log,note\n";

const char* const kKeys[12] = {"speciesRichness", "simpsonD",        "simpsonOneMinusD", "simpsonInverse",
                               "shannonH",        "shannonEvenness", "brillouin",        "bergerParker",
                               "mcIntosh",        "margalef",        "menhinick",        "gleason"};

class CsvOutput : public Output {
  public:
    using Output::Output;

    void begin() override { out_ << kCsvHeader; }

    void listed(const std::string& workbook, const std::string& sheet) override {
        out_ << csvField(workbook) << ',' << csvField(sheet) << ",,,,,,,,,,,\n";
    }

    void computed(const std::string& workbook, const job::SheetResult& r) override {
        const std::string where = csvField(workbook) + ',' + csvField(r.name) + ',';
        if (r.indices) {
            const auto values = resultValues(*r.indices);
            for (std::size_t k = 0; k < values.size(); ++k)
                out_ << where << kKeys[k] << ',' << csvField(kResultLabels[k]) << ',' << csvNumber(values[k])
                     << ",,,,indice clasic,,," << (k == 4 || k == 5 || k == 6 ? "e" : "") << ",\n";
        }
        if (!r.estimated) return;
        for (const auto& e : r.analysis.estimates) {
            std::string notes;
            for (const auto& code : estimators::noteCodes(e.notes))
                notes += (notes.empty() ? "" : ";") + code;
            out_ << where << e.key << ',' << csvField(e.label) << ',' << csvNumber(e.value) << ','
                 << (e.se >= 0 ? csvNumber(e.se) : "") << ',' << (e.hasInterval ? csvNumber(e.lower) : "")
                 << ',' << (e.hasInterval ? csvNumber(e.upper) : "") << ',' << csvField(e.variant) << ','
                 << csvField(e.seMethod) << ',' << csvField(e.interval) << ',' << e.logBase << ',' << notes
                 << '\n';
        }
    }

    void comparisons(const std::vector<ReportSheet>& sheets) override {
        std::vector<Community> all;
        for (const auto& s : sheets)
            all.push_back(s.community);
        for (std::size_t i = 0; i < sheets.size(); ++i)
            for (std::size_t j = i + 1; j < sheets.size(); ++j) {
                const Dissimilarity d = dissimilarity(sheets[i].community, sheets[j].community);
                const HutchesonTest h = hutcheson(sheets[i].community, sheets[j].community);
                const std::string pair = csvField(sheets[i].label + " | " + sheets[j].label);
                const std::pair<const char*, double> rows[] = {{"jaccard", d.jaccard},
                                                               {"sorensen", d.sorensen},
                                                               {"brayCurtis", d.brayCurtis},
                                                               {"morisitaHorn", d.morisitaHorn},
                                                               {"hutchesonT", h.defined ? h.t : NAN},
                                                               {"hutchesonDf", h.defined ? h.df : NAN},
                                                               {"hutchesonP", h.defined ? h.p : NAN}};
                for (const auto& [key, value] : rows)
                    out_ << ',' << pair << ',' << key << ',' << key << ',' << csvNumber(value) << ",,,,,,,"
                         << (key[0] == 'h' ? "e" : "") << ",\n";
            }
        out_ << ",,whittakerBeta,whittakerBeta," << csvNumber(whittakerBeta(all)) << ",,,,,,,,\n";
    }
};

} // namespace

std::unique_ptr<Output> makeCsvOutput(std::ostream& out) {
    return std::make_unique<CsvOutput>(out);
}

} // namespace ordana::cli
