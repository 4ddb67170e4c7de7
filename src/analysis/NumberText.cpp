#include "NumberText.h"

#include <cmath>
#include <cstdio>

namespace ordana {

std::string decimalText(double x, int decimals, DecimalMark mark) {
    if (!std::isfinite(x)) return std::isinf(x) ? "infinit" : "nedefinit";
    char b[400];
    std::snprintf(b, sizeof b, "%.*f", decimals, x);
    std::string s = b;
    // A negative value that rounds to zero prints as "-0.000": the sign goes when no digit is left to carry
    // it.
    if (s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
    if (mark == DecimalMark::Comma)
        for (auto& c : s)
            if (c == '.') c = ',';
    return s;
}

std::string pValueText(double p, DecimalMark mark) {
    if (std::isfinite(p) && p < 0.0001) return "< " + decimalText(0.0001, 4, mark);
    return decimalText(p, 4, mark);
}

} // namespace ordana
