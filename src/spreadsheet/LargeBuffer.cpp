#include "LargeBuffer.h"

#include <cstdint>
#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace ordana::spreadsheet {

namespace {

void adviseHuge(const void* data, std::size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t huge = 2u << 20;
    if (size < 2 * huge) return;
    // Only whole huge pages inside the allocation; the advice is a hint and failure changes nothing.
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (begin + huge - 1) & ~(huge - 1);
    const std::uintptr_t last = (begin + size) & ~(huge - 1);
    if (last <= first) return;
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the address comes from page arithmetic on a real one
    (void)::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
    (void)data;
    (void)size;
#endif
}

} // namespace

void adviseLarge(void* data, std::size_t n) {
    adviseHuge(data, n);
}

void reserveLarge(std::vector<std::uint8_t>& buffer, std::size_t n) {
    buffer.reserve(n);
    adviseHuge(buffer.data(), buffer.capacity());
}

void adviseHugeHeap(std::size_t n) {
    // Blocks as large as the heap will grow, advised and given back: the heap keeps the range (it is below
    // the trim threshold), untouched, and later allocations take their pages from it. Blocks of 16 MiB stay
    // below the mmap threshold, so they come from the heap, one after the other.
    constexpr std::size_t block = std::size_t(16) << 20;
    std::vector<void*> blocks;
    for (std::size_t have = 0; have < n; have += block) {
        void* p = std::malloc(block);
        if (p == nullptr) break;
        blocks.push_back(p);
    }
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        // Advise each run of blocks that lie back to back, allowing for malloc's header between them.
        std::size_t j = i;
        while (j + 1 < blocks.size() && static_cast<char*>(blocks[j + 1]) > static_cast<char*>(blocks[j]) &&
               static_cast<char*>(blocks[j + 1]) - static_cast<char*>(blocks[j]) <=
                   std::ptrdiff_t(block + 64))
            ++j;
        adviseHuge(blocks[i], static_cast<char*>(blocks[j]) + block - static_cast<char*>(blocks[i]));
        i = j;
    }
    for (void* p : blocks)
        std::free(p);
}

} // namespace ordana::spreadsheet
