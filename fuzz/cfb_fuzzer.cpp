// Any bytes: parse either fails with 1004 or yields a container whose every stream reads, and whose rewrite
// (as is, and with the Workbook stream resized across the mini-stream cutoff) parses back to the same
// streams.

#include "common/RuntimeError.h"
#include "spreadsheet/xls/CompoundFile.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

using ordana::spreadsheet::cfb::CompoundFile;

namespace {

[[noreturn]] void finding(const char* what) {
    std::fprintf(stderr, "cfb_fuzzer: %s\n", what);
    std::abort();
}

void expectSameStreams(const CompoundFile& a, const CompoundFile& b) {
    const auto ea = a.entries();
    const auto eb = b.entries();
    if (ea.size() != eb.size()) finding("rewrite changed the number of entries");
    for (std::size_t i = 0; i < ea.size(); ++i) {
        if (ea[i].path != eb[i].path || ea[i].type != eb[i].type) finding("rewrite changed an entry");
        if (ea[i].type != CompoundFile::EntryType::Stream) continue;
        const auto sa = a.streamAtPath(ea[i].path);
        const auto sb = b.streamAtPath(eb[i].path);
        if (sa.size() != sb.size() || !std::equal(sa.begin(), sa.end(), sb.begin()))
            finding("rewrite changed a stream");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> bytes(data, data + size);
    std::optional<CompoundFile> cf;
    try {
        cf = CompoundFile::parse(std::move(bytes));
    } catch (const ordana::RuntimeError& e) {
        if (e.number() != ordana::err::Application) finding("parse failed with a number other than 1004");
        return 0;
    }
    std::size_t total = 0;
    for (const auto& e : cf->entries())
        if (e.type == CompoundFile::EntryType::Stream) total += cf->streamAtPath(e.path).size();
    (void)total;

    // Our own output must always read back: any exception from here on is a finding.
    try {
        expectSameStreams(*cf, CompoundFile::parse(cf->serialize()));
        if (cf->hasStream("Workbook")) {
            auto wb = cf->stream("Workbook");
            wb.resize(wb.size() < 4096 ? 4096 + wb.size() % 512 : wb.size() % 4096, 0x5A);
            cf->setStream("Workbook", wb);
            const auto again = CompoundFile::parse(cf->serialize());
            if (again.stream("Workbook") != wb) finding("replaced stream did not come back");
            expectSameStreams(*cf, again);
        }
    } catch (const ordana::RuntimeError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        finding("our own output did not parse");
    }
    return 0;
}
