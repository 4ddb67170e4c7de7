// The zip package layer: parse, inflate every entry, write back with one entry replaced and one leading,
// parse the result again. Failures must be RuntimeError 1004; anything else is a finding.

#include "common/RuntimeError.h"
#include "spreadsheet/zip/ZipArchive.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ordana::spreadsheet;
    // Small limits keep each run quick while still reaching every check.
    zip::Limits limits;
    limits.maxEntryBytes = 1 << 22;
    limits.maxTotalBytes = 1 << 24;
    try {
        const auto a =
            zip::Archive::parse(std::make_shared<const std::vector<std::uint8_t>>(data, data + size), limits);
        for (const zip::Entry& e : a.entries())
            (void)a.read(e);
        zip::ArchiveWriter w(a);
        if (!a.entries().empty()) {
            w.replace(a.entries().back().name, std::vector<std::uint8_t>{'<', 'a', '/', '>'});
            w.putFirstStored(a.entries().front().name);
        }
        std::vector<std::uint8_t> out;
        w.writeTo([&](std::span<const std::uint8_t> p) { out.insert(out.end(), p.begin(), p.end()); });
        const auto b =
            zip::Archive::parse(std::make_shared<const std::vector<std::uint8_t>>(std::move(out)), limits);
        if (b.entries().size() != a.entries().size()) std::abort();
    } catch (const ordana::RuntimeError& e) {
        if (e.number() != ordana::err::Application) {
            std::fprintf(stderr, "zip_fuzzer: error %d: %s\n", e.number(), e.what());
            std::abort();
        }
    }
    return 0;
}
