// The .ods engine at the sizes the commands meet: open, list and read a 32,765-row data sheet three cells a
// row; the results table written into a 20 MB package (pictures, as field teams' workbooks carry) and into a
// 2 MB one that is nearly all cells, each saved in place beside cp of the same file. The packages are made
// here from the odfpy fixture: nothing large is committed.

#include "analysis/ResultsWriter.h"
#include "job/Run.h"
#include "spreadsheet/Spreadsheet.h"
#include "spreadsheet/zip/ZipArchive.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>

namespace {

namespace fs = std::filesystem;
using namespace ordana;
using namespace ordana::spreadsheet;

fs::path workDir() {
    fs::path dir = fs::temp_directory_path() / "ordana-bench-ods";
    fs::create_directories(dir);
    return dir;
}

// content.xml as LibreOffice writes a sheet: dataRows species on "Date", then bulkRows x 8 numbers on "Note".
std::string content(int dataRows, int bulkRows) {
    std::string x = R"(<?xml version="1.0" encoding="UTF-8"?><office:document-content )"
                    R"(xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" )"
                    R"(xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" )"
                    R"(xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" )"
                    R"(xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" )"
                    R"(xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0" )"
                    R"(xmlns:calcext="urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0" )"
                    R"(office:version="1.3"><office:automatic-styles><style:style style:name="co1" )"
                    R"(style:family="table-column"><style:table-column-properties fo:break-before="auto" )"
                    R"(style:column-width="0.889in"/></style:style></office:automatic-styles><office:body>)"
                    R"(<office:spreadsheet><table:table table:name="Date"><table:table-column )"
                    R"(table:style-name="co1" table:number-columns-repeated="1024" )"
                    R"(table:default-cell-style-name="Default"/>)";
    auto text = [&](const std::string& s) {
        x += R"(<table:table-cell office:value-type="string" calcext:value-type="string"><text:p>)" + s +
             "</text:p></table:table-cell>";
    };
    auto number = [&](double v) {
        char b[32];
        std::snprintf(b, sizeof b, "%.6g", v);
        x += std::string(R"(<table:table-cell office:value-type="float" office:value=")") + b +
             R"(" calcext:value-type="float"><text:p>)" + b + "</text:p></table:table-cell>";
    };
    x += "<table:table-row>";
    text("SPECIA");
    text("ABUNDENTA");
    x += R"(<table:table-cell table:number-columns-repeated="1022"/></table:table-row>)";
    for (int r = 1; r <= dataRows; ++r) {
        x += "<table:table-row>";
        text("Specia " + std::to_string(r));
        number(1);
        x += R"(<table:table-cell table:number-columns-repeated="1022"/></table:table-row>)";
    }
    x += R"(<table:table-row table:number-rows-repeated="1000000"><table:table-cell )"
         R"(table:number-columns-repeated="1024"/></table:table-row></table:table>)";
    x += R"(<table:table table:name="Note">)";
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> d(0, 1000);
    for (int r = 0; r < bulkRows; ++r) {
        x += "<table:table-row>";
        for (int c = 0; c < 8; ++c)
            number(d(gen));
        x += "</table:table-row>";
    }
    x += "<table:table-row><table:table-cell/></table:table-row></table:table></office:spreadsheet></"
         "office:body>"
         "</office:document-content>";
    return x;
}

fs::path makeWorkbook(const std::string& name, int dataRows, int bulkRows, std::size_t pictureBytes) {
    static std::map<std::string, fs::path> made;
    if (auto it = made.find(name); it != made.end()) return it->second;
    std::ifstream in(fs::path(ORDANA_FIXTURES_DIR) / "basic-odfpy.ods", std::ios::binary);
    auto base = std::make_shared<const FileBytes>(
        std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    const zip::Archive archive = zip::Archive::parse(base);
    zip::ArchiveWriter w(archive);
    const std::string c = content(dataRows, bulkRows);
    w.replace("content.xml", std::vector<std::uint8_t>(c.begin(), c.end()));
    if (pictureBytes) {
        // Photographs do not deflate: random bytes stand in for them.
        auto picture = std::make_shared<std::vector<std::uint8_t>>(pictureBytes);
        std::mt19937 gen(11);
        for (auto& b : *picture)
            b = std::uint8_t(gen());
        w.add(
            "Pictures/field-photo.jpg", [picture](const ByteSink& sink) { sink(*picture); }, false);
    }
    fs::path path = workDir() / (name + ".ods");
    std::ofstream out(path, std::ios::binary);
    w.writeTo([&](std::span<const std::uint8_t> s) {
        out.write(reinterpret_cast<const char*>(s.data()), std::streamsize(s.size()));
    });
    made[name] = path;
    return path;
}

DiversityResults someResults() {
    DiversityResults r;
    r.speciesRichness = 12;
    r.simpsonD = 0.3;
    r.shannonH = 1.28;
    r.shannonEvenness = 0.92;
    r.brillouin = 1.21;
    r.bergerParker = 0.4;
    r.mcIntosh = 0.5;
    r.margalef = 0.65;
    r.menhinick = 0.4;
    r.gleason = 0.45;
    return r;
}

// Open, list, pick, then three cells per row, one call each, as the reading command does.
void BM_OdsReadDataSheet32765Rows(benchmark::State& state) {
    const fs::path path = makeWorkbook("read-32765", 32765, 0, 0);
    for (auto _ : state) {
        auto app = nativeApplicationFactory()();
        auto wb = app->open(path.string());
        for (std::int16_t i = 1; i <= wb->worksheetCount(); ++i)
            benchmark::DoNotOptimize(wb->worksheetName(i));
        auto ws = wb->worksheet("Date");
        double sum = 0;
        for (int r = 2; r <= 32766; ++r) {
            const auto row = std::int16_t(r);
            benchmark::DoNotOptimize(ws->cell(row, 1));
            sum += ws->cell(row, 2).numberValue();
            benchmark::DoNotOptimize(ws->cell(row, 3));
        }
        if (sum != 32765) state.SkipWithError("the sheet did not read whole");
        wb->close(false);
        app->quit();
    }
    state.counters["bytes"] = double(fs::file_size(path));
}
BENCHMARK(BM_OdsReadDataSheet32765Rows)->Unit(benchmark::kMillisecond)->MinTime(2);

void writeTable(benchmark::State& state, const fs::path& base) {
    const fs::path work = workDir() / ("work-" + base.filename().string());
    for (auto _ : state) {
        state.PauseTiming();
        fs::copy_file(base, work, fs::copy_options::overwrite_existing);
        state.ResumeTiming();
        SpreadsheetHandles handles;
        job::saveIndicesTable(nativeApplicationFactory(), work.string(), "Date", someResults(), handles);
    }
    state.counters["bytes"] = double(fs::file_size(base));
}

void cp(benchmark::State& state, const fs::path& base) {
    const std::string command = "cp '" + base.string() + "' '" + (workDir() / "cp-copy.ods").string() + "'";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) state.SkipWithError("cp failed");
    state.counters["bytes"] = double(fs::file_size(base));
}

void BM_OdsWriteTable20MBPictures(benchmark::State& state) {
    writeTable(state, makeWorkbook("twenty-mb-pictures", 30, 200, 20u << 20));
}
BENCHMARK(BM_OdsWriteTable20MBPictures)->Unit(benchmark::kMillisecond)->MinTime(3);

void BM_OdsCp20MBPictures(benchmark::State& state) {
    cp(state, makeWorkbook("twenty-mb-pictures", 30, 200, 20u << 20));
}
BENCHMARK(BM_OdsCp20MBPictures)->Unit(benchmark::kMillisecond)->MinTime(3);

// All of content.xml is inflated, parsed and deflated again here: the cost of a package that is all cells.
void BM_OdsWriteTable2MBCells(benchmark::State& state) {
    writeTable(state, makeWorkbook("two-mb-cells", 30, 12000, 0));
}
BENCHMARK(BM_OdsWriteTable2MBCells)->Unit(benchmark::kMillisecond)->MinTime(2);

void BM_OdsCp2MBCells(benchmark::State& state) {
    cp(state, makeWorkbook("two-mb-cells", 30, 12000, 0));
}
BENCHMARK(BM_OdsCp2MBCells)->Unit(benchmark::kMillisecond)->MinTime(2);

} // namespace
