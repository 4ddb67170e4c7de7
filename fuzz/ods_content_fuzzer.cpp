// content.xml of an .ods alone, read in pieces of every size: at open, a sheet's rows past its first ones are
// stepped over by a scan rather than parsed. Read one byte at a time (when the scan has no whole tag to start
// from, so expat parses everything) and read whole, the same well-formed part must give the same sheets at
// the same places. Then each sheet is read whole, written into, and the rewritten part must read again.
// Rows read straight off the bytes must give what the parser's events give, in pieces of a size the input
// picks. Failures must be RuntimeError 1004; anything else, or a crash, hang or sanitizer report, is a
// finding.

#include "common/RuntimeError.h"
#include "spreadsheet/ods/Content.h"
#include "support/OdsTables.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace {

using ordana::spreadsheet::ods::Content;

std::optional<Content> open(std::string_view xml, std::size_t piece) {
    try {
        return Content(Content::fromBytes(xml, piece));
    } catch (const ordana::RuntimeError& e) {
        if (e.number() != ordana::err::Application) {
            std::fprintf(stderr, "ods_content_fuzzer: error %d: %s\n", e.number(), e.what());
            std::abort();
        }
        return std::nullopt;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view xml(reinterpret_cast<const char*>(data), size);
    auto bytewise = open(xml, 1);
    auto whole = open(xml, xml.size() + 1);
    if (bytewise && !whole) {
        std::fprintf(stderr, "ods_content_fuzzer: parsed byte by byte, refused when read whole\n");
        std::abort();
    }
    if (!bytewise || !whole) return 0;
    const std::size_t piece = 1 + size % 509;
    const std::string plain = ordana::testing::odsTables(xml, true, piece);
    const std::string events = ordana::testing::odsTables(xml, false, piece);
    if (plain != events) {
        std::fprintf(stderr,
                     "ods_content_fuzzer: the rows read off the bytes differ\nplain:\n%s\nevents:\n%s\n",
                     plain.c_str(), events.c_str());
        std::abort();
    }
    const auto& a = bytewise->tables();
    const auto& b = whole->tables();
    bool same = a.size() == b.size();
    for (std::size_t i = 0; same && i < a.size(); ++i)
        same = a[i].name == b[i].name && a[i].span.begin == b[i].span.begin && a[i].span.end == b[i].span.end;
    if (!same) {
        std::fprintf(stderr, "ods_content_fuzzer: the sheets differ with the piece size\n");
        std::abort();
    }
    std::string written;
    try {
        for (auto& t : whole->tables()) {
            for (std::uint32_t r = 0; r < 40; ++r)
                for (std::uint32_t c = 0; c < 8; ++c)
                    (void)whole->value(t, r, c);
            whole->setValue(t, 3, 2, ordana::CellValue::number(1.5));
        }
        written = whole->write();
    } catch (const ordana::RuntimeError& e) {
        if (e.number() != ordana::err::Application) {
            std::fprintf(stderr, "ods_content_fuzzer: error %d: %s\n", e.number(), e.what());
            std::abort();
        }
        return 0;
    }
    if (!open(written, 4096)) {
        std::fprintf(stderr, "ods_content_fuzzer: what was written does not read again\n");
        std::abort();
    }
    return 0;
}
