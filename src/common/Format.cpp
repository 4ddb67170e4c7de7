#include "Format.h"

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>

namespace ordana {

std::string formatNumber(double value) {
    if (value == 0.0) return "0";
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.15G", value);
    return buffer;
}

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

} // namespace

std::optional<double> parseNumber(std::string_view text) {
    text = trimmed(text);
    // UTF-8 no-break space comes as two bytes; trim it as well.
    while (text.size() >= 2 && text.substr(0, 2) == "\xC2\xA0")
        text = trimmed(text.substr(2));
    while (text.size() >= 2 && text.substr(text.size() - 2) == "\xC2\xA0")
        text = trimmed(text.substr(0, text.size() - 2));
    if (text.empty() || text.size() > 64) return std::nullopt;

    const char* decimal = std::localeconv()->decimal_point;
    const char localeDecimal = (decimal && decimal[0] && !decimal[1]) ? decimal[0] : '.';

    std::string plain;
    plain.reserve(text.size());
    bool negative = false;
    std::size_t i = 0;
    if (text[0] == '+' || text[0] == '-') {
        negative = text[0] == '-';
        i = 1;
    }
    bool digits = false, point = false, exponent = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            digits = true;
            plain += c;
        } else if ((c == '.' || c == localeDecimal) && !point && !exponent) {
            point = true;
            plain += '.';
        } else if ((c == 'e' || c == 'E') && digits && !exponent) {
            exponent = true;
            plain += 'e';
            if (i + 1 < text.size() && (text[i + 1] == '+' || text[i + 1] == '-')) plain += text[++i];
        } else {
            return std::nullopt;
        }
    }
    if (!digits) return std::nullopt;
    double value = 0.0;
    const auto [end, ec] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
    if (ec != std::errc() || end != plain.data() + plain.size() || !std::isfinite(value)) return std::nullopt;
    return negative ? -value : value;
}

} // namespace ordana
