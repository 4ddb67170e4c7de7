#include "spreadsheet/LargeBuffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kOwnAllocator = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kOwnAllocator = true;
#else
constexpr bool kOwnAllocator = false;
#endif
#else
constexpr bool kOwnAllocator = false;
#endif

// How often the kernel gave small pages where huge ones were asked for, as it had none at hand.
unsigned long hugeFaultsFallenBack() {
    std::ifstream in("/proc/vmstat");
    for (std::string name; in >> name;) {
        unsigned long n = 0;
        in >> n;
        if (name == "thp_fault_fallback") return n;
    }
    return 0;
}

bool hugePagesOnRequest() {
    std::ifstream in("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string modes;
    std::getline(in, modes);
    return modes.find("[madvise]") != std::string::npos || modes.find("[always]") != std::string::npos;
}

// The process's mappings as the kernel lists them: whether each is advised for huge pages, and how much of it
// huge pages hold.
struct Mapping {
    std::uintptr_t begin = 0, end = 0;
    bool advised = false;
    std::size_t rssKiB = 0, hugeKiB = 0;
};

std::vector<Mapping> mappings() {
    std::vector<Mapping> out;
    std::ifstream smaps("/proc/self/smaps");
    for (std::string line; std::getline(smaps, line);) {
        Mapping m;
        if (std::sscanf(line.c_str(), "%lx-%lx ", &m.begin, &m.end) == 2 && line.find(' ') > line.find('-'))
            out.push_back(m);
        else if (!out.empty() && line.rfind("Rss:", 0) == 0)
            out.back().rssKiB = std::stoul(line.substr(4));
        else if (!out.empty() && line.rfind("AnonHugePages:", 0) == 0)
            out.back().hugeKiB = std::stoul(line.substr(14));
        else if (!out.empty() && line.rfind("VmFlags:", 0) == 0)
            out.back().advised = (line + " ").find(" hg ") != std::string::npos;
    }
    return out;
}

// In a process of its own, from its start: the heap of a job, then tens of megabytes of small allocations,
// as a sheet's index makes them. They land where huge pages were asked for, but for the few that reuse what
// the process freed before.
int allocateAJobsHeap() {
    ordana::spreadsheet::prepareHeapForAJob(std::size_t(64) << 20);
    constexpr std::size_t count = 400000, size = 96;
    std::vector<char*> blocks;
    blocks.reserve(count);
    const unsigned long fallenBackBefore = hugeFaultsFallenBack();
    for (std::size_t i = 0; i < count; ++i) {
        blocks.push_back(static_cast<char*>(std::malloc(size)));
        std::memset(blocks.back(), 1, size);
    }
    const std::vector<Mapping> maps = mappings();
    const bool fallenBack = hugeFaultsFallenBack() != fallenBackBefore;
    std::size_t outside = 0, smallKiB = 0;
    std::vector<const Mapping*> used;
    for (char* p : blocks) {
        const auto at = reinterpret_cast<std::uintptr_t>(p);
        const auto m = std::find_if(maps.begin(), maps.end(),
                                    [&](const Mapping& m) { return m.begin <= at && at < m.end; });
        if (m == maps.end() || !m->advised) {
            ++outside;
        } else if (std::find(used.begin(), used.end(), &*m) == used.end()) {
            used.push_back(&*m);
            smallKiB += m->rssKiB - m->hugeKiB;
        }
    }
    for (char* p : blocks)
        std::free(p);
    if (outside > count / 100) {
        std::cerr << outside << " of " << count << " allocations where no huge pages were asked for\n";
        return 1;
    }
    // A range of 2 MiB that held one small page when the advice came is faulted in by small pages for good.
    if (hugePagesOnRequest() && !fallenBack && smallKiB > 1024) {
        std::cerr << smallKiB << " KiB in small pages where huge pages were asked for\n";
        return 2;
    }
    return 0;
}

TEST(LargeBuffer, AJobsHeapIsFaultedInByHugePagesFromItsFirstAllocation) {
    if (kOwnAllocator) GTEST_SKIP() << "the sanitizer's allocator keeps its own heap";
    // A fresh process: the heap of one that has run other tests has room enough not to grow.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::exit(allocateAJobsHeap()), ::testing::ExitedWithCode(0), "");
}

} // namespace
