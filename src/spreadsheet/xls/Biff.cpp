#include "Biff.h"

#include "common/RuntimeError.h"

#include <cmath>

namespace ordana::spreadsheet::xls {

void Writer::record(std::uint16_t type, std::span<const std::uint8_t> data) {
    u16(type);
    u16(std::uint32_t(data.size()));
    raw(data);
}

void RecordCursor::truncated() {
    corrupt("o inregistrare este trunchiata");
}

void RecordCursor::overrun() {
    corrupt("o inregistrare depaseste sfarsitul fluxului");
}

std::u16string readUnicodeString(std::span<const std::uint8_t> data, std::size_t& pos, bool shortCount) {
    const std::size_t headerSize = shortCount ? 2 : 3;
    // Some writers leave out the flags byte of an empty string that ends its record.
    if (data.size() == pos + headerSize - 1 && (shortCount ? data[pos] : get16(&data[pos])) == 0) {
        pos += headerSize - 1;
        return {};
    }
    if (data.size() < pos + headerSize) corrupt("un text este trunchiat");
    const std::size_t cch = shortCount ? data[pos] : get16(&data[pos]);
    const std::uint8_t flags = data[pos + headerSize - 1];
    pos += headerSize;
    const bool wide = flags & 0x01;
    std::size_t skipAfter = 0;
    // Rich and phonetic parts may only appear in cell strings, but reading them costs nothing.
    if (flags & 0x08) {
        if (data.size() < pos + 2) corrupt("un text este trunchiat");
        skipAfter += std::size_t(get16(&data[pos])) * 4;
        pos += 2;
    }
    if (flags & 0x04) {
        if (data.size() < pos + 4) corrupt("un text este trunchiat");
        skipAfter += get32(&data[pos]);
        pos += 4;
    }
    const std::size_t bytes = cch * (wide ? 2 : 1);
    if (data.size() - pos < bytes) corrupt("un text este trunchiat");
    std::u16string s(cch, u'\0');
    for (std::size_t i = 0; i < cch; ++i)
        s[i] = wide ? char16_t(get16(&data[pos + 2 * i])) : char16_t(data[pos + i]);
    pos += bytes;
    if (data.size() - pos < skipAfter) corrupt("un text este trunchiat");
    pos += skipAfter;
    return s;
}

void writeUnicodeString(Writer& w, const std::u16string& s, bool shortCount) {
    bool wide = false;
    for (char16_t c : s)
        wide = wide || c > 0xFF;
    if (shortCount)
        w.u8(std::uint8_t(s.size()));
    else
        w.u16(std::uint32_t(s.size()));
    w.u8(wide ? 1 : 0);
    for (char16_t c : s) {
        if (wide)
            w.u16(c);
        else
            w.u8(std::uint8_t(c));
    }
}

double decodeRk(std::uint32_t rk) {
    double v;
    if (rk & 2) {
        v = double(std::int32_t(rk) >> 2);
    } else {
        const std::uint64_t bits = std::uint64_t(rk & 0xFFFFFFFCu) << 32;
        std::memcpy(&v, &bits, 8);
    }
    return (rk & 1) ? v / 100.0 : v;
}

bool encodeRk(double value, std::uint32_t& rk) {
    if (!std::isfinite(value)) return false;
    auto tryInt = [&](double v, std::uint32_t flag) {
        if (v >= -536870912.0 && v < 536870912.0 && v == std::floor(v)) {
            const auto n = std::int32_t(v);
            const std::uint32_t candidate = (std::uint32_t(n) << 2) | 2 | flag;
            if (decodeRk(candidate) == value && !(value == 0 && std::signbit(value))) {
                rk = candidate;
                return true;
            }
        }
        return false;
    };
    auto tryDouble = [&](double v, std::uint32_t flag) {
        std::uint64_t bits;
        std::memcpy(&bits, &v, 8);
        if ((bits & 0x3FFFFFFFFull) != 0) return false;
        const std::uint32_t candidate = std::uint32_t(bits >> 32) | flag;
        if (decodeRk(candidate) != value) return false;
        rk = candidate;
        return true;
    };
    return tryInt(value, 0) || tryDouble(value, 0) || tryInt(value * 100.0, 1) || tryDouble(value * 100.0, 1);
}

} // namespace ordana::spreadsheet::xls
