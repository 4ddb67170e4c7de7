#pragma once

// What this process has read so far through read calls, page cache included: the kernel's count, for tests of
// how much of a file an operation reads.

#include <cstdint>
#include <fstream>
#include <string>

namespace ordana::testing {

inline std::uint64_t bytesReadSoFar() {
    std::ifstream io("/proc/self/io");
    std::string key;
    std::uint64_t value = 0;
    while (io >> key >> value)
        if (key == "rchar:") return value;
    return 0;
}

} // namespace ordana::testing
