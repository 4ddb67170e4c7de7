#pragma once

// The OLE2 compound file that holds an Excel 97-2003 workbook. Anything malformed is RuntimeError 1004 with a
// precise description; every walk and allocation is bounded by what the file can really hold.

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace ordana::spreadsheet::cfb {

class CompoundFile {
public:
    // The 8-byte OLE2 signature at the start.
    static bool hasSignature(std::span<const std::uint8_t> bytes);
    static CompoundFile parse(std::vector<std::uint8_t> bytes);

    // Top-level streams, by name (compared case-insensitively, as the format does).
    bool hasStream(std::string_view name) const;
    std::vector<std::uint8_t> stream(std::string_view name) const;
    // Replaces the contents of an existing top-level stream.
    void setStream(std::string_view name, std::vector<std::uint8_t> data);

    // The whole file again: every other stream and storage, and every directory entry's name, CLSID, state
    // bits and timestamps, carried over unchanged.
    std::vector<std::uint8_t> serialize() const;
};

} // namespace ordana::spreadsheet::cfb
