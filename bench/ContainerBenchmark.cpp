// The container's share of opening and saving a large workbook, against plain copying of the same file.

#include "spreadsheet/LargeBuffer.h"
#include "spreadsheet/file/FileAccess.h"
#include "spreadsheet/xls/CompoundFile.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace ordana::spreadsheet;

// A 20 MB workbook-like file: a large Workbook stream and the small property streams beside it.
const std::string& largeFile() {
    static const std::string path = [] {
        const auto p = std::filesystem::temp_directory_path() / "ordana-bench-20mb.xls";
        std::vector<std::uint8_t> workbook(20u << 20);
        for (std::size_t i = 0; i < workbook.size(); ++i)
            workbook[i] = static_cast<std::uint8_t>(i * 7 + (i >> 12));
        const auto cf =
            cfb::CompoundFile::create({{"Workbook", workbook},
                                       {"\005SummaryInformation", std::vector<std::uint8_t>(200, 1)},
                                       {"CompObj", std::vector<std::uint8_t>(73, 2)}});
        const auto bytes = cf.serialize();
        std::ofstream(p, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return p.string();
    }();
    return path;
}

void BM_ReadAndParse(benchmark::State& state) {
    for (auto _ : state) {
        auto cf = cfb::CompoundFile::parse(SourceFile::read(largeFile())->data());
        benchmark::DoNotOptimize(cf.streamView("Workbook").data());
    }
}
BENCHMARK(BM_ReadAndParse)->Unit(benchmark::kMillisecond);

// Open, replace the Workbook stream with one a little longer (as a save does), write back in place.
void BM_OpenReplaceSave(benchmark::State& state) {
    for (auto _ : state) {
        const auto source = SourceFile::readForWriting(largeFile());
        auto cf = cfb::CompoundFile::parse(source->data());
        const auto view = cf.streamView("Workbook");
        std::vector<std::uint8_t> next;
        reserveLarge(next, view.size() + 512); // as the record layer should for its rewritten stream
        next.assign(view.begin(), view.end());
        next.resize(view.size() + 300, 0);
        cf.setStream("Workbook", std::move(next));
        saveInPlace(*source, [&](const ByteSink& sink) { cf.writeTo(sink); });
    }
}
BENCHMARK(BM_OpenReplaceSave)->Unit(benchmark::kMillisecond);

// What `cp` does: read and write the same bytes, without flushing to disk.
void BM_CopyBaseline(benchmark::State& state) {
    const std::string copy = largeFile() + ".copy";
    for (auto _ : state) {
        std::filesystem::copy_file(largeFile(), copy, std::filesystem::copy_options::overwrite_existing);
    }
    std::remove(copy.c_str());
}
BENCHMARK(BM_CopyBaseline)->Unit(benchmark::kMillisecond);

} // namespace
