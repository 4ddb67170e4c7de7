#include "Batch.h"

#include "analysis/Community.h"
#include "analysis/EstimatesWriter.h"
#include "analysis/Estimators.h"
#include "analysis/Report.h"
#include "analysis/ResultsWriter.h"
#include "analysis/SpeciesSample.h"
#include "common/Identity.h"
#include "common/RuntimeError.h"
#include "common/Text.h"
#include "intake/DataSheet.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <ostream>
#include <stdexcept>

namespace ordana::cli {

using spreadsheet::SpreadsheetHandles;

namespace {

std::uint64_t parseUnsigned(const std::string& option, const std::string& text, std::uint64_t max) {
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value > max)
        throw std::invalid_argument(option + " cere un numar intreg intre 0 si " + std::to_string(max) +
                                    ", nu \"" + text + "\"");
    return value;
}

} // namespace

Options parseArguments(const std::vector<std::string>& arguments) {
    Options o;
    bool onlyFiles = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        if (onlyFiles || a.empty() || a[0] != '-' || a == "-") {
            o.workbooks.push_back(a);
        } else if (a == "--") {
            onlyFiles = true;
        } else if (a == "--sheet") {
            if (i + 1 >= arguments.size()) throw std::invalid_argument("--sheet cere numele unei foi");
            o.sheets.push_back(arguments[++i]);
        } else if (a.rfind("--sheet=", 0) == 0) {
            o.sheets.push_back(a.substr(8));
        } else if (a == "--list") {
            o.list = true;
        } else if (a == "--dry-run") {
            o.dryRun = true;
        } else if (a == "--json") {
            o.json = true;
        } else if (a == "--csv") {
            o.csv = true;
        } else if (a == "--estimates") {
            o.estimates = true;
        } else if (a == "--seed" || a == "--replicates" || a == "--report") {
            if (i + 1 >= arguments.size()) throw std::invalid_argument(a + " cere o valoare");
            const std::string& v = arguments[++i];
            if (a == "--seed")
                o.seed = parseUnsigned(a, v, UINT64_MAX);
            else if (a == "--replicates")
                o.replicates = int(parseUnsigned(a, v, 100000));
            else
                o.report = v;
        } else if (a.rfind("--seed=", 0) == 0) {
            o.seed = parseUnsigned("--seed", a.substr(7), UINT64_MAX);
        } else if (a.rfind("--replicates=", 0) == 0) {
            o.replicates = int(parseUnsigned("--replicates", a.substr(13), 100000));
        } else if (a.rfind("--report=", 0) == 0) {
            o.report = a.substr(9);
        } else if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--version") {
            o.version = true;
        } else {
            throw std::invalid_argument("optiune necunoscuta: " + a);
        }
    }
    if (o.json && o.csv) throw std::invalid_argument("--json si --csv nu se pot folosi impreuna");
    if (o.list && (o.estimates || !o.report.empty()))
        throw std::invalid_argument("--list nu calculeaza nimic: nu merge cu --estimates sau --report");
    if (!o.help && !o.version && o.workbooks.empty())
        throw std::invalid_argument("lipseste fisierul cu datele");
    return o;
}

std::string usageText() {
    return "Utilizare: ordana-cli [OPTIUNI] FISIER...\n"
           "Calculeaza indicii de biodiversitate pentru foile de date ale fiecarui fisier si scrie tabelul\n"
           "de rezultate langa date, salvand fisierul pe loc.\n"
           "\n"
           "  --sheet NUME   doar foaia NUME (se poate repeta); alta foaie decat una de date este o eroare\n"
           "  --list         afiseaza foile de date ale fiecarui fisier, fara a schimba nimic\n"
           "  --dry-run      citeste si calculeaza, afiseaza, nu scrie nimic\n"
           "  --json         un obiect JSON pe linie pentru fiecare foaie listata, prelucrata sau esuata\n"
           "  --csv          rezultatele ca CSV (o valoare pe rand)\n"
           "  --estimates    si estimatorii (Chao1, ACE, jackknife, alfa Fisher, acoperire, numere Hill,\n"
           "                 rarefiere/extrapolare), intr-un al doilea tabel langa cel al indicilor\n"
           "  --seed N       samanta generatorului bootstrap (implicit 20141201)\n"
           "  --replicates N replicile bootstrap (implicit 200)\n"
           "  --report F     o pagina HTML cu tabelele, curbele si comparatiile dintre foi\n"
           "  --help         acest text\n"
           "  --version      versiunea\n"
           "\n"
           "Cod de iesire: 0 totul prelucrat, 1 cel putin o foaie sau un fisier a esuat, 2 utilizare "
           "gresita.\n";
}

std::string provenanceDate() {
    std::time_t now = std::time(nullptr);
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) {
        long long value = 0;
        const auto [end, ec] = std::from_chars(epoch, epoch + std::strlen(epoch), value);
        if (ec == std::errc() && *end == 0) now = std::time_t(value);
    }
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    char b[32];
    std::strftime(b, sizeof b, "%Y-%m-%d %H:%M UTC", &utc);
    return b;
}

std::string versionText() {
    return std::string(identity::title) + " " + identity::version + "\n";
}

namespace {

// Shortest text that reads back as the same double.
std::string exactNumber(double value) {
    char buffer[32];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc() ? std::string(buffer, end) : "null";
}

std::string jsonString(const std::string& text) {
    std::string s = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            s += '\\';
            s += char(c);
        } else if (c < 0x20) {
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

void printResults(std::ostream& out, bool json, const std::string& workbook, const std::string& sheet,
                  const SpeciesSample& sample, const DiversityResults& results,
                  const std::string& jsonExtra = "") {
    const auto values = resultValues(results);
    if (json) {
        out << "{\"workbook\":" << jsonString(workbook) << ",\"sheet\":" << jsonString(sheet)
            << ",\"speciesCount\":" << sample.speciesCount()
            << ",\"totalIndividuals\":" << sample.totalIndividuals();
        for (std::size_t k = 0; k < values.size(); ++k)
            out << ",\"" << kJsonFields[k] << "\":" << exactNumber(values[k]);
        out << jsonExtra << "}\n";
        return;
    }
    out << workbook << " - foaia \"" << sheet << "\"\n";
    char line[96];
    std::snprintf(line, sizeof line, "  %-24s %14s\n", "Indici", "Valoare");
    out << line;
    for (std::size_t k = 0; k < values.size(); ++k) {
        std::snprintf(line, sizeof line, "  %-24s %14.6f\n", kResultLabels[k], values[k]);
        out << line;
    }
    out << '\n';
}

std::string jsonNumber(double value) {
    return std::isfinite(value) ? exactNumber(value) : "null";
}

std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\n") == std::string::npos) return text;
    std::string s = "\"";
    for (char c : text)
        s += c == '"' ? std::string("\"\"") : std::string(1, c);
    return s + "\"";
}

std::string csvNumber(double value) {
    return std::isfinite(value) ? exactNumber(value) : "";
}

const char kCsvHeader[] =
    "fisier,foaie,cheie,eticheta,valoare,es,ic_inf,ic_sup,varianta,metoda_es,metoda_ic,baza_log,note\n";

void printCsvIndices(std::ostream& out, const std::string& workbook, const std::string& sheet,
                     const DiversityResults& results) {
    const auto values = resultValues(results);
    for (std::size_t k = 0; k < values.size(); ++k)
        out << csvField(workbook) << ',' << csvField(sheet) << ',' << kJsonFields[k] << ','
            << csvField(kResultLabels[k]) << ',' << exactNumber(values[k]) << ",,,,indice clasic,,,"
            << (k == 4 || k == 5 || k == 6 ? "e" : "") << ",\n";
}

std::string joinNotes(unsigned notes, char separator) {
    std::string s;
    for (const auto& code : estimators::noteCodes(notes))
        s += (s.empty() ? "" : std::string(1, separator)) + code;
    return s;
}

void printCsvEstimates(std::ostream& out, const std::string& workbook, const std::string& sheet,
                       const estimators::Analysis& a) {
    for (const auto& e : a.estimates)
        out << csvField(workbook) << ',' << csvField(sheet) << ',' << e.key << ',' << csvField(e.label) << ','
            << csvNumber(e.value) << ',' << (e.se >= 0 ? csvNumber(e.se) : "") << ','
            << (e.hasInterval ? csvNumber(e.lower) : "") << ',' << (e.hasInterval ? csvNumber(e.upper) : "")
            << ',' << csvField(e.variant) << ',' << csvField(e.seMethod) << ',' << csvField(e.interval) << ','
            << e.logBase << ',' << joinNotes(e.notes, ';') << '\n';
}

std::string jsonEstimates(const estimators::Analysis& a, const Provenance& p) {
    std::string s = ",\"estimates\":[";
    bool first = true;
    for (const auto& e : a.estimates) {
        s += first ? "{" : ",{";
        first = false;
        s += "\"key\":" + jsonString(e.key) + ",\"label\":" + jsonString(e.label) +
             ",\"value\":" + jsonNumber(e.value) + ",\"se\":" + (e.se >= 0 ? jsonNumber(e.se) : "null") +
             ",\"lower\":" + (e.hasInterval ? jsonNumber(e.lower) : "null") +
             ",\"upper\":" + (e.hasInterval ? jsonNumber(e.upper) : "null") +
             ",\"variant\":" + jsonString(e.variant) +
             ",\"logBase\":" + (e.logBase.empty() ? "null" : jsonString(e.logBase)) +
             ",\"seMethod\":" + (e.seMethod.empty() ? "null" : jsonString(e.seMethod)) +
             ",\"intervalMethod\":" + (e.interval.empty() ? "null" : jsonString(e.interval)) + ",\"notes\":[";
        bool firstNote = true;
        for (const auto& code : estimators::noteCodes(e.notes)) {
            if (!firstNote) s += ',';
            s += jsonString(code);
            firstNote = false;
        }
        s += "]}";
    }
    // The curves the report draws: value, lower and upper bound at each size.
    s += "],\"curve\":[";
    for (std::size_t i = 0; i < a.curve.size(); ++i) {
        const auto& p = a.curve[i];
        s += (i ? ",{\"m\":" : "{\"m\":") + jsonNumber(p.m);
        const char* names[4] = {"q0", "q1", "q2", "coverage"};
        for (int k = 0; k < 4; ++k)
            s += ",\"" + std::string(names[k]) + "\":[" + jsonNumber(p.value[k]) + "," +
                 jsonNumber(p.lower[k]) + "," + jsonNumber(p.upper[k]) + "]";
        s += "}";
    }
    s += "],\"provenance\":{\"version\":" + jsonString(p.version) + ",\"date\":" + jsonString(p.date) +
         ",\"generator\":" + jsonString(p.generator) + ",\"seed\":" + std::to_string(p.seed) +
         ",\"replicates\":" + std::to_string(p.replicates) + ",\"range\":" + jsonString(p.range) +
         ",\"species\":" + std::to_string(p.species) + ",\"individuals\":" + std::to_string(p.individuals) +
         ",\"sizeLevel\":" + jsonNumber(a.sizeLevel) + ",\"coverageLevel\":" + jsonNumber(a.coverageLevel) +
         "}";
    return s;
}

void printTextEstimates(std::ostream& out, const estimators::Analysis& a, const Provenance& p) {
    char line[160];
    std::snprintf(line, sizeof line, "  %-28s %12s %10s %10s %10s\n", "Estimator", "Valoare", "ES",
                  "IC 95% inf", "IC 95% sup");
    out << line;
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
        out << line << methodText(e) << '\n';
    }
    for (const auto& [label, text] : provenanceRows(p))
        out << "  " << label << ": " << text << '\n';
    out << '\n';
}

// What the estimators of a run gather across its workbooks: the sheets for the report and the comparisons.
struct RunState {
    std::vector<ReportSheet> sheets;
    bool labelWithWorkbook = false;
    std::string date;
};
std::string describe(int number, const std::string& description) {
    return "Eroarea: " + std::to_string(number) + " " + description;
}

// How a workbook's run ended, for the summary of a run over many.
enum class WorkbookEnd { Done, Failed, NoDataSheet };

class WorkbookJob {
  public:
    WorkbookJob(const Options& options, const spreadsheet::ApplicationFactory& start, std::ostream& out,
                std::ostream& err, const std::string& path, RunState& run)
        : options_(options), start_(start), out_(out), err_(err), path_(path), run_(run) {}

    WorkbookEnd run() {
        try {
            handles_.application = start_();
            // One open serves the listing, the reading and the save; a run that will save holds the workbook
            // for writing from here, so a concurrent run on it waits and then adds its table to this one's.
            const bool willSave = !options_.list && !options_.dryRun;
            handles_.workbook = willSave ? handles_.application->openForWriting(path_)
                                         : handles_.application->openForReading(path_);
            // Sheets named on the command line are the only ones tested; the others are not read at all.
            const std::vector<std::string> dataSheets =
                listDataSheets(options_.list ? std::vector<std::string>() : options_.sheets);
            if (dataSheets.empty() && (options_.list || options_.sheets.empty())) {
                fail("", err::Application,
                     "nicio foaie de date: nicio foaie nu are \"SPECIA\" in A1, \"ABUNDENTA\" in B1 si o "
                     "valoare in B2; fisierul nu a fost schimbat",
                     false);
                abandon(handles_);
                return WorkbookEnd::NoDataSheet;
            }
            if (options_.list) {
                for (const auto& name : dataSheets) {
                    if (options_.json)
                        out_ << "{\"workbook\":" << jsonString(path_) << ",\"sheet\":" << jsonString(name)
                             << "}\n";
                    else
                        out_ << path_ << '\t' << name << '\n';
                }
                finish(false);
                return WorkbookEnd::Done;
            }
            std::vector<std::string> chosen =
                options_.sheets.empty() ? dataSheets : std::vector<std::string>();
            for (const auto& name : options_.sheets) {
                if (std::find(dataSheets.begin(), dataSheets.end(), name) == dataSheets.end()) {
                    const bool exists = hasWorksheet(name);
                    fail(name, exists ? err::Application : err::SubscriptOutOfRange,
                         (exists ? "nu este o foaie de date a fisierului" : "nu exista in fisier") +
                             std::string("; fisierul nu a fost schimbat"),
                         false);
                    abandon(handles_);
                    return WorkbookEnd::Failed;
                }
                // A sheet named twice is done once: a second table would land three columns further on.
                if (std::find(chosen.begin(), chosen.end(), name) == chosen.end()) chosen.push_back(name);
            }
            if (estimating()) readCommunities(chosen);
            bool allDone = true;
            bool wrote = false;
            for (const auto& name : chosen) {
                const auto outcome = processSheet(name);
                if (outcome == Outcome::Abandoned) {
                    abandon(handles_);
                    return WorkbookEnd::Failed;
                }
                allDone = allDone && outcome != Outcome::Failed;
                wrote = wrote || outcome == Outcome::Written;
            }
            finish(wrote);
            return allDone ? WorkbookEnd::Done : WorkbookEnd::Failed;
        } catch (const RuntimeError& e) {
            return abandonWith(e.number(), e.description());
        } catch (const std::bad_alloc&) {
            return abandonWith(err::OutOfMemory, "nu este destula memorie");
        } catch (...) {
            // A library's own text means nothing to the user; the number says it is ours to mend.
            return abandonWith(err::Internal, "eroare interna a programului");
        }
    }

  private:
    enum class Outcome { Written, Computed, Failed, Abandoned };

    bool hasWorksheet(const std::string& name) {
        const std::int16_t count = handles_.workbook->worksheetCount();
        for (std::int16_t i = 1; i <= count; ++i)
            if (handles_.workbook->worksheetName(i) == name) return true;
        return false;
    }

    // The data sheets, of all (none named) or of those named.
    std::vector<std::string> listDataSheets(const std::vector<std::string>& named) {
        std::vector<std::string> names;
        const std::int16_t count = handles_.workbook->worksheetCount();
        for (std::int16_t i = 1; i <= count; ++i) {
            const std::string name = handles_.workbook->worksheetName(i);
            if (!named.empty() && std::find(named.begin(), named.end(), name) == named.end()) continue;
            if (intake::isDataSheet(*handles_.workbook->worksheet(name))) names.push_back(name);
        }
        return names;
    }

    bool estimating() const { return options_.estimates || !options_.report.empty(); }

    // Every chosen sheet's species with their names, read before anything is written, so that the sheets of a
    // workbook are rarefied and extrapolated to one common size and one common coverage.
    void readCommunities(const std::vector<std::string>& chosen) {
        double minDouble = 0, maxN = 0, minCoverage = 0, minN = 0;
        bool any = false;
        for (const auto& name : chosen) {
            auto& slot = communities_[name];
            try {
                slot.community = readCommunity(*handles_.workbook->worksheet(name));
            } catch (const RuntimeError& e) {
                slot.errorNumber = e.number();
                slot.error = e.description();
                continue;
            }
            const auto f = slot.community.frequencies();
            if (f.n <= 0) continue;
            const estimators::Tables t(f.n);
            const double c = estimators::coverageAt(f, t, 2.0 * double(f.n));
            minDouble = any ? std::min(minDouble, 2.0 * double(f.n)) : 2.0 * double(f.n);
            maxN = std::max(maxN, double(f.n));
            minN = any ? std::min(minN, double(f.n)) : double(f.n);
            minCoverage = any ? std::min(minCoverage, c) : c;
            any = true;
        }
        settings_.seed = options_.seed;
        settings_.replicates = options_.replicates;
        settings_.sizeLevel = any ? std::max(minDouble, maxN) : 0;
        settings_.coverageLevel = any ? minCoverage : 0;
        settings_.rarefyTo = std::int64_t(minN);
    }

    // A failure in reading or computing skips the sheet; a failure while writing abandons the whole workbook,
    // since a half-written table must never be saved.
    Outcome processSheet(const std::string& name) {
        auto sheet = handles_.workbook->worksheet(name);
        SpeciesSample sample;
        DiversityResults results;
        try {
            sample.reset();
            intake::readSheet(*sheet, sample);
            results = ComputeDiversityIndices(sample);
        } catch (const RuntimeError& e) {
            fail(name, e.number(), e.description());
            return Outcome::Failed;
        }
        ReportSheet estimated;
        if (estimating()) {
            const auto& slot = communities_[name];
            if (slot.errorNumber != 0) {
                fail(name, slot.errorNumber, slot.error);
                return Outcome::Failed;
            }
            estimators::Settings settings = settings_;
            settings.stream = estimators::streamOf(name);
            const auto f = slot.community.frequencies();
            estimated.community = slot.community;
            estimated.label = run_.labelWithWorkbook ? path_ + " / " + name : name;
            estimated.analysis = estimators::analyse(f, settings);
            estimated.provenance = {identity::version,
                                    run_.date,
                                    options_.seed,
                                    options_.replicates,
                                    estimators::kGeneratorName,
                                    slot.community.range(),
                                    f.s,
                                    f.n};
        }
        if (options_.csv) {
            printCsvIndices(out_, path_, name, results);
            if (estimating()) printCsvEstimates(out_, path_, name, estimated.analysis);
        } else {
            printResults(out_, options_.json, path_, name, sample, results,
                         options_.json && estimating()
                             ? jsonEstimates(estimated.analysis, estimated.provenance)
                             : std::string());
            if (!options_.json && estimating())
                printTextEstimates(out_, estimated.analysis, estimated.provenance);
        }
        if (estimating()) run_.sheets.push_back(estimated);
        if (options_.dryRun) return Outcome::Computed;
        try {
            writeResultsTable(*sheet, results);
            if (options_.estimates) writeEstimatesTable(*sheet, estimated.analysis, estimated.provenance);
            sheet->activate();
        } catch (const RuntimeError& e) {
            fail(name, e.number(), e.description() + "; fisierul nu a fost schimbat");
            return Outcome::Abandoned;
        }
        return Outcome::Written;
    }

    void finish(bool save) {
        handles_.workbook->close(save);
        handles_.workbook.reset();
        handles_.quit();
    }

    // Every failure ends only this workbook's run, without saving; the batch goes on with the next one.
    WorkbookEnd abandonWith(int number, const std::string& description) {
        fail("", number, description + "; fisierul nu a fost schimbat");
        abandon(handles_);
        return WorkbookEnd::Failed;
    }

    // On standard error for a person; with --json also as a line among the results, so a script sees it.
    void fail(const std::string& sheet, int number, const std::string& description, bool numbered = true) {
        err_ << "ordana-cli: " << path_ << ": ";
        if (!sheet.empty()) err_ << "foaia " << text::quotedExcerpt(sheet) << (numbered ? ": " : " ");
        err_ << (numbered ? describe(number, description) : description) << '\n';
        if (!options_.json) return;
        out_ << "{\"workbook\":" << jsonString(path_);
        if (!sheet.empty()) out_ << ",\"sheet\":" << jsonString(sheet);
        out_ << ",\"error\":" << number << ",\"message\":" << jsonString(description) << "}\n";
    }

    const Options& options_;
    const spreadsheet::ApplicationFactory& start_;
    std::ostream& out_;
    std::ostream& err_;
    std::string path_;
    RunState& run_;
    SpreadsheetHandles handles_;
    struct CommunitySlot {
        Community community;
        int errorNumber = 0; // 0: read
        std::string error;
    };
    std::map<std::string, CommunitySlot> communities_;
    estimators::Settings settings_;
};

void printComparisons(std::ostream& out, const Options& options, const std::vector<ReportSheet>& sheets) {
    std::vector<Community> all;
    for (const auto& s : sheets)
        all.push_back(s.community);
    const double whittaker = whittakerBeta(all);
    if (options.json) {
        out << "{\"comparison\":{\"sheets\":[";
        for (std::size_t i = 0; i < sheets.size(); ++i)
            out << (i ? "," : "") << jsonString(sheets[i].label);
        out << "],\"whittakerBeta\":" << jsonNumber(whittaker) << ",\"pairs\":[";
    } else if (!options.csv) {
        out << "Comparatii intre foi (beta Whittaker " << whittaker << ")\n";
    }
    bool first = true;
    for (std::size_t i = 0; i < sheets.size(); ++i)
        for (std::size_t j = i + 1; j < sheets.size(); ++j) {
            const Dissimilarity d = dissimilarity(sheets[i].community, sheets[j].community);
            const HutchesonTest h = hutcheson(sheets[i].community, sheets[j].community);
            const std::string& a = sheets[i].label;
            const std::string& b = sheets[j].label;
            if (options.json) {
                out << (first ? "" : ",") << "{\"a\":" << jsonString(a) << ",\"b\":" << jsonString(b)
                    << ",\"sharedSpecies\":" << d.shared << ",\"jaccard\":" << jsonNumber(d.jaccard)
                    << ",\"sorensen\":" << jsonNumber(d.sorensen)
                    << ",\"brayCurtis\":" << jsonNumber(d.brayCurtis)
                    << ",\"morisitaHorn\":" << jsonNumber(d.morisitaHorn)
                    << ",\"hutcheson\":{\"h1\":" << jsonNumber(h.h1) << ",\"h2\":" << jsonNumber(h.h2)
                    << ",\"t\":" << (h.defined ? jsonNumber(h.t) : "null")
                    << ",\"df\":" << (h.defined ? jsonNumber(h.df) : "null")
                    << ",\"p\":" << (h.defined ? jsonNumber(h.p) : "null") << ",\"logBase\":\"e\"}}";
            } else if (options.csv) {
                const std::string pair = csvField(a + " | " + b);
                const std::pair<const char*, double> rows[] = {{"jaccard", d.jaccard},
                                                               {"sorensen", d.sorensen},
                                                               {"brayCurtis", d.brayCurtis},
                                                               {"morisitaHorn", d.morisitaHorn},
                                                               {"hutchesonT", h.defined ? h.t : NAN},
                                                               {"hutchesonDf", h.defined ? h.df : NAN},
                                                               {"hutchesonP", h.defined ? h.p : NAN}};
                for (const auto& [key, value] : rows)
                    out << ',' << pair << ',' << key << ',' << key << ',' << csvNumber(value) << ",,,,,,,"
                        << (key[0] == 'h' ? "e" : "") << ",\n";
            } else {
                char line[200];
                std::snprintf(line, sizeof line,
                              "  %s | %s: Jaccard %.4f, Sorensen %.4f, Bray-Curtis %.4f, Morisita-Horn %.4f; "
                              "Hutcheson t = %.4f, gl = %.1f, p = %.4g\n",
                              a.c_str(), b.c_str(), d.jaccard, d.sorensen, d.brayCurtis, d.morisitaHorn, h.t,
                              h.df, h.p);
                out << line;
            }
            first = false;
        }
    if (options.json) out << "]}}\n";
    if (options.csv)
        out << ',' << ","
            << "whittakerBeta,whittakerBeta," << csvNumber(whittaker) << ",,,,,,,,\n";
}

// The page goes to a temporary file beside its place and is renamed over it, so a failed run leaves no
// half-written page.
bool writeReport(const std::string& path, const std::string& html) {
    const std::string temporary = path + ".tmp";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        if (!file) return false;
        file << html;
        file.flush();
        if (!file) {
            std::remove(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace

int runBatch(const Options& options, const spreadsheet::ApplicationFactory& start, std::ostream& out,
             std::ostream& err, bool showProgress) {
    if (options.help) {
        out << usageText();
        return ExitDone;
    }
    if (options.version) {
        out << versionText();
        return ExitDone;
    }
    std::size_t ends[3] = {};
    const std::size_t total = options.workbooks.size();
    RunState run;
    run.labelWithWorkbook = total > 1;
    run.date = provenanceDate();
    if (options.csv) out << kCsvHeader;
    for (std::size_t k = 0; k < total; ++k) {
        if (showProgress && total > 1)
            err << "[" << k + 1 << "/" << total << "] " << options.workbooks[k] << '\n' << std::flush;
        ++ends[std::size_t(WorkbookJob(options, start, out, err, options.workbooks[k], run).run())];
    }
    bool reportWritten = true;
    if (run.sheets.size() >= 2) printComparisons(out, options, run.sheets);
    if (!options.report.empty()) {
        if (!writeReport(options.report, renderReport(run.sheets, "Ordana - estimatori si curbe"))) {
            err << "ordana-cli: " << options.report << ": raportul nu a putut fi scris\n";
            reportWritten = false;
        }
    }
    if (total > 1)
        err << "ordana-cli: " << total << " fisiere: " << ends[0] << " prelucrate, " << ends[1] << " esuate, "
            << ends[2] << " fara foi de date\n";
    return ends[0] == total && reportWritten ? ExitDone : ExitFailures;
}

} // namespace ordana::cli
