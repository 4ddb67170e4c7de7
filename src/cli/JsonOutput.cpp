#include "Output.h"

#include "analysis/ResultsWriter.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ostream>

namespace ordana::cli {

std::string exactNumber(double value) {
    char buffer[32];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc() && std::isfinite(value) ? std::string(buffer, end) : "null";
}

namespace {

std::string jsonString(const std::string& text) {
    std::string s = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            s += '\\';
            s += char(c);
        } else if (c < 0x20 || c == 0x7f) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
            s += buffer;
        } else {
            s += char(c);
        }
    }
    return s + "\"";
}

const char* const kJsonFields[12] = {
    "speciesRichness", "simpsonD",     "simpsonOneMinusD", "simpsonInverse", "shannonH",  "shannonEvenness",
    "brillouin",       "bergerParker", "mcIntosh",         "margalef",       "menhinick", "gleason"};

std::string orNull(bool shown, double value) {
    return shown ? exactNumber(value) : "null";
}

std::string strings(const std::vector<std::string>& items) {
    std::string s = "[";
    for (std::size_t i = 0; i < items.size(); ++i)
        s += (i ? "," : "") + jsonString(items[i]);
    return s + "]";
}

std::string estimatesJson(const estimators::Analysis& a, const Provenance& p, const Community& c) {
    std::string s = ",\"estimates\":[";
    for (std::size_t i = 0; i < a.estimates.size(); ++i) {
        const auto& e = a.estimates[i];
        s += (i ? ",{" : "{");
        s += "\"key\":" + jsonString(e.key) + ",\"label\":" + jsonString(e.label) +
             ",\"value\":" + exactNumber(e.value) + ",\"se\":" + orNull(e.se >= 0, e.se) +
             ",\"lower\":" + orNull(e.hasInterval, e.lower) + ",\"upper\":" + orNull(e.hasInterval, e.upper) +
             ",\"variant\":" + jsonString(e.variant) +
             ",\"logBase\":" + (e.logBase.empty() ? "null" : jsonString(e.logBase)) +
             ",\"seMethod\":" + (e.seMethod.empty() ? "null" : jsonString(e.seMethod)) +
             ",\"intervalMethod\":" + (e.interval.empty() ? "null" : jsonString(e.interval)) +
             ",\"notes\":" + strings(estimators::noteCodes(e.notes)) + "}";
    }
    // The curves the report draws: value, lower and upper bound at each size.
    s += "],\"curve\":[";
    for (std::size_t i = 0; i < a.curve.size(); ++i) {
        const auto& point = a.curve[i];
        s += (i ? ",{\"m\":" : "{\"m\":") + exactNumber(point.m);
        const char* names[4] = {"q0", "q1", "q2", "coverage"};
        for (int k = 0; k < 4; ++k)
            s += ",\"" + std::string(names[k]) + "\":[" + exactNumber(point.value[k]) + "," +
                 exactNumber(point.lower[k]) + "," + exactNumber(point.upper[k]) + "]";
        s += "}";
    }
    s += "],\"provenance\":{\"version\":" + jsonString(p.version) + ",\"date\":" + jsonString(p.date) +
         ",\"generator\":" + jsonString(p.generator) + ",\"seed\":" + std::to_string(p.seed) +
         ",\"replicates\":" + std::to_string(p.replicates) + ",\"range\":" + jsonString(p.range) +
         ",\"species\":" + std::to_string(p.species) + ",\"individuals\":" + std::to_string(p.individuals) +
         ",\"zeroRows\":" + std::to_string(p.zeroRows) + ",\"merged\":[";
    for (std::size_t i = 0; i < c.merged.size(); ++i) {
        s += (i ? ",{\"name\":" : "{\"name\":") + jsonString(c.merged[i].name) + ",\"rows\":[";
        for (std::size_t k = 0; k < c.merged[i].rows.size(); ++k)
            s += (k ? "," : "") + std::to_string(c.merged[i].rows[k]);
        s += "]}";
    }
    s += "],\"sizeLevel\":" + exactNumber(a.sizeLevel) +
         ",\"coverageLevel\":" + exactNumber(a.coverageLevel) + "}";
    return s;
}

class JsonOutput : public Output {
  public:
    using Output::Output;

    void listed(const std::string& workbook, const std::string& sheet) override {
        out_ << "{\"workbook\":" << jsonString(workbook) << ",\"sheet\":" << jsonString(sheet) << "}\n";
    }

    void computed(const std::string& workbook, const job::SheetResult& r) override {
        out_ << "{\"workbook\":" << jsonString(workbook) << ",\"sheet\":" << jsonString(r.name);
        if (r.indices) {
            out_ << ",\"speciesCount\":" << r.sample.speciesCount()
                 << ",\"totalIndividuals\":" << r.sample.totalIndividuals();
            const auto values = resultValues(*r.indices);
            for (std::size_t k = 0; k < values.size(); ++k)
                out_ << ",\"" << kJsonFields[k] << "\":" << exactNumber(values[k]);
        }
        if (r.estimated) out_ << estimatesJson(r.analysis, r.provenance, r.community);
        out_ << "}\n";
    }

    void failed(const std::string& workbook, const job::Failure& f) override {
        out_ << "{\"workbook\":" << jsonString(workbook);
        if (!f.sheet.empty()) out_ << ",\"sheet\":" << jsonString(f.sheet);
        out_ << ",\"error\":" << f.error.number() << ",\"message\":" << jsonString(f.error.description())
             << "}\n";
    }

    void comparisons(const std::vector<ReportSheet>& sheets) override {
        std::vector<Community> all;
        std::vector<std::string> labels;
        for (const auto& s : sheets) {
            all.push_back(s.community);
            labels.push_back(s.label);
        }
        out_ << "{\"comparison\":{\"sheets\":" << strings(labels)
             << ",\"whittakerBeta\":" << exactNumber(whittakerBeta(all)) << ",\"pairs\":[";
        bool first = true;
        for (std::size_t i = 0; i < sheets.size(); ++i)
            for (std::size_t j = i + 1; j < sheets.size(); ++j) {
                const Dissimilarity d = dissimilarity(sheets[i].community, sheets[j].community);
                const HutchesonTest h = hutcheson(sheets[i].community, sheets[j].community);
                out_ << (first ? "" : ",") << "{\"a\":" << jsonString(sheets[i].label)
                     << ",\"b\":" << jsonString(sheets[j].label) << ",\"sharedSpecies\":" << d.shared
                     << ",\"jaccard\":" << exactNumber(d.jaccard)
                     << ",\"sorensen\":" << exactNumber(d.sorensen)
                     << ",\"brayCurtis\":" << exactNumber(d.brayCurtis)
                     << ",\"morisitaHorn\":" << exactNumber(d.morisitaHorn)
                     << ",\"hutcheson\":{\"h1\":" << exactNumber(h.h1) << ",\"h2\":" << exactNumber(h.h2)
                     << ",\"t\":" << orNull(h.defined, h.t) << ",\"df\":" << orNull(h.defined, h.df)
                     << ",\"p\":" << orNull(h.defined, h.p) << ",\"logBase\":\"e\"}}";
                first = false;
            }
        out_ << "]}}\n";
    }
};

} // namespace

std::unique_ptr<Output> makeJsonOutput(std::ostream& out) {
    return std::make_unique<JsonOutput>(out);
}

} // namespace ordana::cli
