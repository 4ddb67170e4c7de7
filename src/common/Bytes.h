#pragma once

// Little-endian access to the bytes of a file format (OLE2, BIFF8, zip). Callers check the bounds first.

#include <cstdint>
#include <cstring>
#include <vector>

namespace ordana::bytes {

inline std::uint16_t get16(const std::uint8_t* p) {
    return std::uint16_t(p[0] | (p[1] << 8));
}
inline std::uint32_t get32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}
inline std::uint64_t get64(const std::uint8_t* p) {
    return std::uint64_t(get32(p)) | (std::uint64_t(get32(p + 4)) << 32);
}
inline double getDouble(const std::uint8_t* p) {
    double d;
    std::memcpy(&d, p, 8);
    return d;
}

inline void put16(std::uint8_t* p, std::uint32_t v) {
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}
inline void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = std::uint8_t(v >> (8 * i));
}
inline void put64(std::uint8_t* p, std::uint64_t v) {
    put32(p, std::uint32_t(v));
    put32(p + 4, std::uint32_t(v >> 32));
}

inline void append16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(std::uint8_t(v));
    out.push_back(std::uint8_t(v >> 8));
}
inline void append32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    append16(out, v & 0xFFFF);
    append16(out, v >> 16);
}
inline void append64(std::vector<std::uint8_t>& out, std::uint64_t v) {
    append32(out, std::uint32_t(v));
    append32(out, std::uint32_t(v >> 32));
}

} // namespace ordana::bytes
