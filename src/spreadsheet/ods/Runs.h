#pragma once

// Rows, cells and columns are runs sorted by their first index, each covering [first, first + repeat): the
// lookups over them, and the repeat counts they come from.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace ordana::spreadsheet::ods {

inline constexpr std::size_t kNoRun = std::size_t(-1);

// The last run that starts at or before i, or kNoRun.
template <class Run> std::size_t runFrom(const std::vector<Run>& runs, std::uint32_t i) {
    const auto it = std::upper_bound(runs.begin(), runs.end(), i,
                                     [](std::uint32_t v, const Run& e) { return v < e.first; });
    return it == runs.begin() ? kNoRun : std::size_t(it - runs.begin()) - 1;
}

template <class Run> bool covers(const Run& e, std::uint32_t i) {
    return e.first <= i && std::uint64_t(e.first) + e.repeat > i;
}

// The run that covers i, or kNoRun.
template <class Run> std::size_t runAt(const std::vector<Run>& runs, std::uint32_t i) {
    const std::size_t k = runFrom(runs, i);
    return k != kNoRun && covers(runs[k], i) ? k : kNoRun;
}

// A table:number-*-repeated count: its leading digits, at least 1, at most 2^31 - 1.
inline std::uint32_t repeatOf(std::string_view v) {
    std::uint64_t n = 0;
    for (std::size_t i = 0; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i)
        n = std::min<std::uint64_t>(n * 10 + std::uint64_t(v[i] - '0'), 0x7FFFFFFF);
    return n == 0 ? 1 : std::uint32_t(n);
}

} // namespace ordana::spreadsheet::ods
