#include "Options.h"

#include "common/Identity.h"

#include <charconv>
#include <stdexcept>

namespace ordana::cli {

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

std::string versionText() {
    return std::string(identity::title) + " " + identity::version + "\n";
}

} // namespace ordana::cli
