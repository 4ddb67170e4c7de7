// The .xlsx engine at the sizes the commands meet: reading a 32,765-row data sheet three cells a row, and the
// results table written into a 20 MB workbook and saved, beside `cp` of the same file in the same run. The
// workbooks are made here from the openpyxl fixture: nothing large is committed.

#include "analysis/DiversityIndices.h"
#include "analysis/ResultsWriter.h"
#include "job/Run.h"
#include "spreadsheet/Spreadsheet.h"
#include "spreadsheet/file/FileAccess.h"
#include "spreadsheet/zip/ZipArchive.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

namespace {

namespace fs = std::filesystem;
using namespace ordana;
using namespace ordana::spreadsheet;

fs::path workDir() {
    fs::path dir = fs::temp_directory_path() / "ordana-bench-xlsx";
    fs::create_directories(dir);
    return dir;
}

std::string sheetXml(const std::string& rows) {
    return "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><dimension "
           "ref=\"A1\"/>"
           "<sheetData>" +
           rows + "</sheetData></worksheet>";
}

// The fixture with dataRows species on "Date" and bulkRows x 16 numbers on "Note".
fs::path makeWorkbook(const std::string& name, int dataRows, int bulkRows) {
    static std::map<std::string, fs::path> made;
    if (auto it = made.find(name); it != made.end()) return it->second;
    std::ifstream in(fs::path(ORDANA_FIXTURES_DIR) / "basic-source.xlsx", std::ios::binary);
    auto file = std::make_shared<const FileBytes>(
        std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    const zip::Archive archive = zip::Archive::parse(file);
    zip::ArchiveWriter writer(archive);
    std::string date = "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>SPECIA</t></is></c><c r=\"B1\" "
                       "t=\"inlineStr\"><is><t>ABUNDENTA</t></is></c></row>";
    for (int r = 2; r <= dataRows + 1; ++r)
        date += "<row r=\"" + std::to_string(r) + "\"><c r=\"A" + std::to_string(r) +
                "\" t=\"inlineStr\"><is><t>Specia " + std::to_string(r) + "</t></is></c><c r=\"B" +
                std::to_string(r) + "\"><v>" + std::to_string(r % 50 + 1) + "</v></c></row>";
    const std::string dateXml = sheetXml(date);
    writer.replace("xl/worksheets/sheet1.xml", std::vector<std::uint8_t>(dateXml.begin(), dateXml.end()));
    if (bulkRows > 0) {
        writer.replace("xl/worksheets/sheet2.xml", [bulkRows](const ByteSink& sink) {
            auto put = [&](const std::string& s) {
                sink({reinterpret_cast<const std::uint8_t*>(s.data()), s.size()});
            };
            put("<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>");
            std::uint64_t x = 88172645463325252ull;
            for (int r = 1; r <= bulkRows; ++r) {
                std::string row = "<row r=\"" + std::to_string(r) + "\">";
                for (int c = 0; c < 16; ++c) {
                    x ^= x << 13, x ^= x >> 7, x ^= x << 17; // numbers that do not compress away
                    row += "<c r=\"" + std::string(1, char('A' + c)) + std::to_string(r) + "\"><v>" +
                           std::to_string(double(x % 10000000) / 1000.0) + "</v></c>";
                }
                put(row + "</row>");
            }
            put("</sheetData></worksheet>");
        });
    }
    fs::path path = workDir() / (name + ".xlsx");
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    writer.writeTo([&](std::span<const std::uint8_t> piece) {
        out.write(reinterpret_cast<const char*>(piece.data()), std::streamsize(piece.size()));
    });
    made[name] = path;
    return path;
}

DiversityResults someResults() {
    DiversityResults r{};
    r.speciesRichness = 12;
    r.simpsonD = 0.3;
    r.shannonH = 1.28;
    return r;
}

// Open, list, pick, then three cells per row, one call each, as the reading command does.
void BM_XlsxReadDataSheet32765Rows(benchmark::State& state) {
    const fs::path path = makeWorkbook("read-32765", 32765, 0);
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
            benchmark::DoNotOptimize(ws->cell(row, 2));
        }
        benchmark::DoNotOptimize(sum);
        wb->close(false);
        app->quit();
    }
    state.counters["bytes"] = double(fs::file_size(path));
}
BENCHMARK(BM_XlsxReadDataSheet32765Rows)->Unit(benchmark::kMillisecond)->MinTime(2);

// The calculation command's workbook half on a 20 MB file: open, write and format the table, save in place.
void BM_XlsxWriteTable20MB(benchmark::State& state) {
    const fs::path base = makeWorkbook("twenty-mb", 30, 150000);
    const fs::path work = workDir() / "work-twenty-mb.xlsx";
    for (auto _ : state) {
        state.PauseTiming();
        fs::copy_file(base, work, fs::copy_options::overwrite_existing);
        state.ResumeTiming();
        SpreadsheetHandles handles;
        job::saveIndicesTable(nativeApplicationFactory(), work.string(), "Date", someResults(), handles);
    }
    state.counters["bytes"] = double(fs::file_size(base));
}
BENCHMARK(BM_XlsxWriteTable20MB)->Unit(benchmark::kMillisecond)->MinTime(3);

// The yardstick: cp of the same file in the same folder, in the same run.
void BM_XlsxCp20MB(benchmark::State& state) {
    const fs::path base = makeWorkbook("twenty-mb", 30, 150000);
    const std::string command = "cp '" + base.string() + "' '" + (workDir() / "cp-copy.xlsx").string() + "'";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) state.SkipWithError("cp failed");
    state.counters["bytes"] = double(fs::file_size(base));
}
BENCHMARK(BM_XlsxCp20MB)->Unit(benchmark::kMillisecond)->MinTime(3);

} // namespace
