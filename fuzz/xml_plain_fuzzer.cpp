// The plain XML parser against expat on the same bytes: whenever the plain one does not give up, expat must
// find the document well-formed and report the very same events. The first byte picks the size of the pieces
// the rest is fed in.

#include "support/XmlEvents.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t piece = std::size_t(data[0]) * 7 + 1;
    const std::string_view doc(reinterpret_cast<const char*>(data + 1), size - 1);
    const auto plain = ordana::testing::plainEvents(doc, piece);
    if (!plain) return 0;
    const auto expat = ordana::testing::expatEvents(doc);
    if (!expat) {
        std::fprintf(stderr, "xml_plain_fuzzer: accepted what expat finds not well-formed\n");
        std::abort();
    }
    if (*plain != *expat) {
        std::fprintf(stderr, "xml_plain_fuzzer: events differ\nplain: %s\nexpat: %s\n", plain->c_str(),
                     expat->c_str());
        std::abort();
    }
    return 0;
}
