#pragma once

// The record signatures, flags and bounds of the zip format that reading and writing a package share.

#include "common/RuntimeError.h"
#include "common/Text.h"
#include "spreadsheet/Failure.h"

#include <cstdint>
#include <string>

namespace ordana::spreadsheet::zip {

inline constexpr std::uint32_t kLocalSig = 0x04034b50;
inline constexpr std::uint32_t kCentralSig = 0x02014b50;
inline constexpr std::uint32_t kEndSig = 0x06054b50;
inline constexpr std::uint32_t kEnd64Sig = 0x06064b50;
inline constexpr std::uint32_t kLocator64Sig = 0x07064b50;
inline constexpr std::uint32_t kDescriptorSig = 0x08074b50;
inline constexpr std::uint16_t kFlagEncrypted = 0x0001;
inline constexpr std::uint16_t kFlagDescriptor = 0x0008;
inline constexpr std::uint16_t kFlagStrongEncryption = 0x0040;
inline constexpr std::uint16_t kFlagUtf8 = 0x0800;
inline constexpr std::uint32_t kMax32 = 0xFFFFFFFF;

using spreadsheet::fail;

inline std::string entryName(const std::string& name) {
    return "intrarea zip " + text::quoted(name);
}

} // namespace ordana::spreadsheet::zip
