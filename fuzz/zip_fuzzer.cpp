// The zip package layer: parse, inflate every entry, write back with one entry replaced and one leading,
// parse the result again. Failures must be RuntimeError 1004; anything else is a finding. The same bytes
// read on demand must give the same entries and contents, reading nothing that was not asked for.

#include "common/RuntimeError.h"
#include "spreadsheet/zip/ZipArchive.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ordana::spreadsheet;
    // Small limits keep each run quick while still reaching every check.
    zip::Limits limits;
    limits.maxEntryBytes = 1 << 22;
    limits.maxTotalBytes = 1 << 24;
    // What the archive says: its entries and each one's content, or the first failure.
    const auto says = [&](std::shared_ptr<const FileBytes> file) {
        std::string out;
        try {
            const auto a = zip::Archive::parse(std::move(file), limits);
            for (const zip::Entry& e : a.entries()) {
                out += e.name + '\0' + std::to_string(e.uncompressedSize) + '\0';
                try {
                    const auto b = a.read(e);
                    out.append(b.begin(), b.end());
                } catch (const ordana::RuntimeError& x) {
                    out += x.description();
                }
            }
        } catch (const ordana::RuntimeError& x) {
            out = x.description();
        }
        return out;
    };
    const std::string whole =
        says(std::make_shared<const FileBytes>(std::vector<std::uint8_t>(data, data + size)));
    const std::string onDemand =
        says(FileBytes::onDemandFrom(std::vector<std::uint8_t>(data, data + size), 1 + size % 61));
    if (whole != onDemand) {
        std::fprintf(stderr, "zip_fuzzer: read on demand, the archive reads otherwise\n");
        std::abort();
    }
    try {
        const auto a = zip::Archive::parse(
            std::make_shared<const FileBytes>(std::vector<std::uint8_t>(data, data + size)), limits);
        for (const zip::Entry& e : a.entries())
            (void)a.read(e);
        zip::ArchiveWriter w(a);
        if (!a.entries().empty()) {
            w.replace(a.entries().back().name, std::vector<std::uint8_t>{'<', 'a', '/', '>'});
            w.putFirstStored(a.entries().front().name);
        }
        std::vector<std::uint8_t> out;
        w.writeTo([&](std::span<const std::uint8_t> p) { out.insert(out.end(), p.begin(), p.end()); });
        const auto b = zip::Archive::parse(std::make_shared<const FileBytes>(std::move(out)), limits);
        if (b.entries().size() != a.entries().size()) std::abort();
        // Each entry given a new head and the rest of its own: the copied compressed tail must read as the
        // original's bytes from the cut on.
        for (const zip::Entry& e : a.entries()) {
            const std::vector<std::uint8_t> was = a.read(e);
            const std::size_t cut = size ? was.size() * (data[0] % 8) / 8 : 0;
            const std::vector<std::uint8_t> head{'<', 'h', '/', '>'};
            zip::ArchiveWriter hw(a);
            hw.replaceHead(
                e.name,
                [&](const ByteSink& sink, std::uint64_t upTo) {
                    sink(head);
                    const std::size_t end = upTo == zip::kWholeEntry ? was.size() : std::size_t(upTo);
                    sink(std::span(was).subspan(cut, end - cut));
                },
                cut);
            std::vector<std::uint8_t> spliced;
            hw.writeTo(
                [&](std::span<const std::uint8_t> p) { spliced.insert(spliced.end(), p.begin(), p.end()); });
            const auto c = zip::Archive::parse(std::make_shared<const FileBytes>(std::move(spliced)), limits);
            std::vector<std::uint8_t> want = head;
            want.insert(want.end(), was.begin() + std::ptrdiff_t(cut), was.end());
            const zip::Entry* now = c.find(e.name);
            if (!now || c.read(*now) != want) {
                std::fprintf(stderr, "zip_fuzzer: %s with a new head does not read as head + rest\n",
                             e.name.c_str());
                std::abort();
            }
        }
    } catch (const ordana::RuntimeError& e) {
        if (e.number() != ordana::err::Application) {
            std::fprintf(stderr, "zip_fuzzer: error %d: %s\n", e.number(), e.what());
            std::abort();
        }
    }
    return 0;
}
