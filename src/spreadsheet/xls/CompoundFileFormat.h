#pragma once

// The numbers of the OLE2 layout that the compound file's reader and writer share.

#include <cstddef>
#include <cstdint>

namespace ordana::spreadsheet::cfb {

inline constexpr std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
inline constexpr std::uint32_t kFreeSect = 0xFFFFFFFF;
inline constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
inline constexpr std::uint32_t kFatSect = 0xFFFFFFFD;
inline constexpr std::uint32_t kDifSect = 0xFFFFFFFC;
inline constexpr std::uint32_t kNoStream = 0xFFFFFFFF;
inline constexpr std::uint32_t kMiniSectorSize = 64;
inline constexpr std::size_t kEntrySize = 128;
inline constexpr std::size_t kHeaderDifatEntries = 109;
inline constexpr std::size_t kMaxDepth = 64;

inline std::uint64_t ceilDiv(std::uint64_t a, std::uint64_t b) {
    return (a + b - 1) / b;
}

} // namespace ordana::spreadsheet::cfb
