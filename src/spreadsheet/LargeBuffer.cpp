#include "LargeBuffer.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace ordana::spreadsheet {

void reserveLarge(std::vector<std::uint8_t>& buffer, std::size_t n) {
    buffer.reserve(n);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t huge = 2u << 20;
    if (buffer.capacity() < 2 * huge) return;
    // Only whole huge pages inside the allocation; the advice is a hint and failure changes nothing.
    const auto begin = reinterpret_cast<std::uintptr_t>(buffer.data());
    const std::uintptr_t first = (begin + huge - 1) & ~(huge - 1);
    const std::uintptr_t last = (begin + buffer.capacity()) & ~(huge - 1);
    if (last <= first) return;
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the address comes from page arithmetic on a real one
    (void)::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
}

} // namespace ordana::spreadsheet
