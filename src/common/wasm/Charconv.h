#pragma once

// Floating-point std::to_chars and std::from_chars for the WebAssembly build: the libc++ emscripten 3.1.6
// ships declares them but has none, and the engines write and read numbers through them. Included ahead of
// every source of that build only (ordana_common's compile options); the native builds use their library's.
// Same results: the shortest text that reads back as the same double, fixed or scientific whichever is
// shorter (fixed on a tie); the general form read, strictly, and correctly rounded.

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

namespace std {

inline to_chars_result to_chars(char* first, char* last, double value) {
    std::string out;
    if (std::isnan(value)) {
        out = std::signbit(value) ? "-nan" : "nan";
    } else if (std::isinf(value)) {
        out = value < 0 ? "-inf" : "inf";
    } else {
        char sci[40];
        for (int precision = 0; precision < 17; ++precision) {
            std::snprintf(sci, sizeof sci, "%.*e", precision, value);
            if (std::strtod(sci, nullptr) == value) break;
        }
        // sci is [-]d[.ddd]e(+|-)xx: its digits and exponent make the fixed form too.
        const char* p = sci;
        std::string sign;
        if (*p == '-') sign = "-", ++p;
        std::string digits;
        for (; *p != 'e'; ++p)
            if (*p != '.') digits += *p;
        const int exponent = std::atoi(p + 1);
        std::string fixed = sign;
        if (exponent < 0) {
            fixed += "0." + std::string(std::size_t(-exponent - 1), '0') + digits;
        } else if (std::size_t(exponent) + 1 >= digits.size()) {
            fixed += digits + std::string(std::size_t(exponent) + 1 - digits.size(), '0');
        } else {
            fixed +=
                digits.substr(0, std::size_t(exponent) + 1) + "." + digits.substr(std::size_t(exponent) + 1);
        }
        out = fixed.size() <= std::strlen(sci) ? fixed : std::string(sci);
    }
    if (out.size() > std::size_t(last - first)) return {last, errc::value_too_large};
    std::memcpy(first, out.data(), out.size());
    return {first + out.size(), errc()};
}

inline from_chars_result from_chars(const char* first, const char* last, double& value,
                                    chars_format = chars_format::general) {
    const auto lower = [](char c) { return char(c >= 'A' && c <= 'Z' ? c + 32 : c); };
    const auto word = [&](const char* at, const char* w) {
        const std::size_t n = std::strlen(w);
        if (std::size_t(last - at) < n) return false;
        for (std::size_t k = 0; k < n; ++k)
            if (lower(at[k]) != w[k]) return false;
        return true;
    };
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    const char* p = first;
    const bool negative = p != last && *p == '-';
    if (negative) ++p;
    if (word(p, "inf")) {
        p += word(p, "infinity") ? 8 : 3;
        value = negative ? -HUGE_VAL : HUGE_VAL;
        return {p, errc()};
    }
    if (word(p, "nan")) {
        p += 3;
        value = negative ? -NAN : NAN;
        return {p, errc()};
    }
    const char* start = p;
    std::size_t count = 0;
    while (p != last && digit(*p))
        ++p, ++count;
    if (p != last && *p == '.') {
        ++p;
        while (p != last && digit(*p))
            ++p, ++count;
    }
    if (count == 0) return {first, errc::invalid_argument};
    if (p != last && (*p == 'e' || *p == 'E')) {
        const char* e = p + 1;
        if (e != last && (*e == '+' || *e == '-')) ++e;
        if (e != last && digit(*e)) {
            while (e != last && digit(*e))
                ++e;
            p = e;
        }
    }
    const std::string text = (negative ? "-" : "") + std::string(start, p);
    errno = 0;
    const double read = std::strtod(text.c_str(), nullptr);
    // strtod's ERANGE covers subnormal results too, which from_chars reads; beyond them nothing is read.
    if (errno == ERANGE && (std::isinf(read) || read == 0)) return {p, errc::result_out_of_range};
    value = read;
    return {p, errc()};
}

} // namespace std
