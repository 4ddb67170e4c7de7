#include "LargeBuffer.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif
#if defined(__GLIBC__)
#include <malloc.h>
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

void prepareHeapForAJob(std::size_t n) {
#if defined(__GLIBC__)
    // A workbook's buffers of many megabytes come and go several times per run; kept in the heap rather than
    // mapped and unmapped each time, their pages are touched once instead of faulted in again and again.
    // 32 MiB is the largest threshold glibc accepts on 64-bit systems; it refuses more and keeps its default.
    (void)mallopt(M_MMAP_THRESHOLD, 32 << 20);
    (void)mallopt(M_TRIM_THRESHOLD, 256 << 20);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    // The heap grown by n in one step, by a probe that its top cannot hold, and the new range advised before
    // anything is written there. A 2 MiB range that holds one page of 4 KiB when the advice comes is faulted
    // in by 4 KiB pages for good, so nothing may be allocated below the first range advised: malloc writes
    // a header where each chunk ends, and the probe's end and the pages before it are taken by a filler that
    // is never written (address space, not memory).
    constexpr std::uintptr_t huge = 2u << 20;
    constexpr std::size_t probe = std::size_t(16) << 20;
    // Below the trim threshold: the probe given back must not take the range back to the kernel.
    n = std::min<std::size_t>(n, std::size_t(128) << 20);
    (void)mallopt(M_TOP_PAD, int(n));
    const auto before = reinterpret_cast<std::uintptr_t>(::sbrk(0));
    void* p = std::malloc(probe);
    const auto after = reinterpret_cast<std::uintptr_t>(::sbrk(0));
    const auto chunk = reinterpret_cast<std::uintptr_t>(p) - 2 * sizeof(std::size_t);
    std::free(p);
    const std::uintptr_t first = (chunk + probe + 8192 + huge - 1) & ~(huge - 1), last = after & ~(huge - 1);
    // Only where the probe came from the top of the heap just grown (not under another allocator, as under
    // ASan, whose heap is elsewhere).
    if (p != nullptr && after - before >= n && chunk < before && before - chunk < probe && first < last) {
        static void* filler = nullptr;
        filler = std::malloc(first - chunk - 4096);
        // NOLINTNEXTLINE(performance-no-int-to-ptr): the address comes from page arithmetic on a real one
        if (filler != nullptr) adviseHuge(reinterpret_cast<const void*>(first), last - first);
    }
#else
    (void)n;
#endif
    (void)mallopt(M_TOP_PAD, 16 << 20);
#else
    (void)n;
#endif
}

} // namespace ordana::spreadsheet
