// The .xls engine at the sizes the commands meet: reading a 32,765-row data sheet one cell at a time, writing
// the results table into a 1 MB and a 20 MB workbook and saving it, and the three commands of the indices
// window end to end on a 20-row and a 32,765-row data sheet. The workbooks are made here, once per run, from
// the LibreOffice fixture: nothing large is committed.

#include "analysis/DiversityIndices.h"
#include "analysis/ResultsWriter.h"
#include "analysis/SpeciesSample.h"
#include "job/Run.h"
#include "job/SheetReader.h"
#include "job/Sheets.h"
#include "spreadsheet/xls/CompoundFile.h"
#include "spreadsheet/xls/Sheet.h"
#include "spreadsheet/xls/WorkbookStream.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

namespace {

namespace fs = std::filesystem;
using namespace ordana;
using namespace ordana::spreadsheet;

std::vector<std::uint8_t> readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

fs::path workDir() {
    fs::path dir = fs::temp_directory_path() / "ordana-bench";
    fs::create_directories(dir);
    return dir;
}

// The fixture with dataRows species on "Date" (abundances 1..maxAbundance in turn) and bulkRows x bulkCols
// numbers on "Note".
fs::path makeWorkbook(const std::string& name, int dataRows, int bulkRows, int bulkCols,
                      int maxAbundance = 50) {
    static std::map<std::string, fs::path> made;
    if (auto it = made.find(name); it != made.end()) return it->second;
    auto container =
        cfb::CompoundFile::parse(readAll(fs::path(ORDANA_FIXTURES_DIR) / "basic-libreoffice.xls"));
    xls::WorkbookStream book(container.stream("Workbook"));
    auto sheetNamed = [&](const std::string& n) -> xls::Sheet& {
        for (std::size_t i : book.worksheets())
            if (book.sheets()[i].name == n) return book.sheet(i);
        std::abort();
    };
    xls::Sheet& date = sheetNamed("Date");
    for (int r = 1; r <= dataRows; ++r) {
        date.setValue(r, 0, CellValue::text("Specia " + std::to_string(r)));
        date.setValue(r, 1, CellValue::number(r % maxAbundance + 1));
    }
    xls::Sheet& note = sheetNamed("Note");
    for (int r = 10; r < 10 + bulkRows; ++r)
        for (int c = 0; c < bulkCols; ++c)
            note.setValue(r, c, CellValue::number(r * 1.37 + c * 0.011));
    container.setStream("Workbook", book.serialize());
    const auto bytes = container.serialize();
    fs::path path = workDir() / (name + ".xls");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
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
void BM_ReadDataSheet32765Rows(benchmark::State& state) {
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
        benchmark::DoNotOptimize(sum);
        wb->close(false);
        app->quit();
    }
    state.counters["bytes"] = double(fs::file_size(path));
}
BENCHMARK(BM_ReadDataSheet32765Rows)->Unit(benchmark::kMillisecond)->MinTime(2);

// The whole calculation command's workbook half: open, write and format the table, activate, save in place.
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

void BM_WriteTable1MB(benchmark::State& state) {
    writeTable(state, makeWorkbook("one-mb", 30, 12000, 4));
}
BENCHMARK(BM_WriteTable1MB)->Unit(benchmark::kMillisecond)->MinTime(2);

void BM_WriteTable20MB(benchmark::State& state) {
    writeTable(state, makeWorkbook("twenty-mb", 30, 65000, 16));
}
BENCHMARK(BM_WriteTable20MB)->Unit(benchmark::kMillisecond)->MinTime(3);

// The yardstick for the 20 MB save: cp of the same file in the same folder.
void BM_Cp20MB(benchmark::State& state) {
    const fs::path base = makeWorkbook("twenty-mb", 30, 65000, 16);
    const std::string command = "cp '" + base.string() + "' '" + (workDir() / "cp-copy.xls").string() + "'";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) state.SkipWithError("cp failed");
    state.counters["bytes"] = double(fs::file_size(base));
}
BENCHMARK(BM_Cp20MB)->Unit(benchmark::kMillisecond)->MinTime(3);

// The three commands of the indices window end to end, as the user meets them: choosing the workbook (list
// its data sheets), picking the sheet (read it into the sample), and the calculation (compute, write the
// table, save). Abundances of 1 keep the 16-bit total of 32,765 species in range.
struct CommandsCase {
    const char* name;
    int rows;
    int maxAbundance;
};
constexpr CommandsCase kCommandCases[] = {{"commands-20", 20, 50}, {"commands-32765", 32765, 1}};

void BM_ListDataSheets(benchmark::State& state) {
    const auto& c = kCommandCases[state.range(0)];
    const fs::path path = makeWorkbook(c.name, c.rows, 0, 0, c.maxAbundance);
    for (auto _ : state) {
        SpreadsheetHandles handles;
        benchmark::DoNotOptimize(job::listDataSheets(nativeApplicationFactory(), path.string(), handles));
    }
    state.SetLabel(std::to_string(c.rows) + " rows");
}
BENCHMARK(BM_ListDataSheets)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_ReadDataSheet(benchmark::State& state) {
    const auto& c = kCommandCases[state.range(0)];
    const fs::path path = makeWorkbook(c.name, c.rows, 0, 0, c.maxAbundance);
    SpeciesSample sample;
    for (auto _ : state) {
        SpreadsheetHandles handles;
        job::readDataSheet(nativeApplicationFactory(), path.string(), "Date", sample, handles);
    }
    if (sample.speciesCount() != c.rows) state.SkipWithError("the sheet did not read whole");
    state.SetLabel(std::to_string(c.rows) + " rows");
}
BENCHMARK(BM_ReadDataSheet)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_ComputeAndWrite(benchmark::State& state) {
    const auto& c = kCommandCases[state.range(0)];
    const fs::path base = makeWorkbook(c.name, c.rows, 0, 0, c.maxAbundance);
    const fs::path work = workDir() / ("work-" + base.filename().string());
    SpeciesSample sample;
    {
        SpreadsheetHandles handles;
        job::readDataSheet(nativeApplicationFactory(), base.string(), "Date", sample, handles);
    }
    for (auto _ : state) {
        state.PauseTiming();
        fs::copy_file(base, work, fs::copy_options::overwrite_existing);
        state.ResumeTiming();
        SpreadsheetHandles handles;
        job::saveIndicesTable(nativeApplicationFactory(), work.string(), "Date",
                              ComputeDiversityIndices(sample), handles);
    }
    state.SetLabel(std::to_string(c.rows) + " rows");
}
BENCHMARK(BM_ComputeAndWrite)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace
