#include "CellValues.h"

#include "spreadsheet/xml/Escape.h"

#include <charconv>
#include <cmath>

namespace ordana::spreadsheet::ods {

namespace {

// Days since 1899-12-30 of a proleptic Gregorian date.
double daysOf(int y, int m, int d) {
    // Days from civil, shifted so that 1899-12-30 is 0.
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return double(era) * 146097 + doe - 719468 + 25569;
}

} // namespace

std::optional<double> parseDate(std::string_view s) {
    int y = 0, m = 0, d = 0;
    bool neg = !s.empty() && s.front() == '-';
    if (neg) s.remove_prefix(1);
    auto num = [&](int& out, std::size_t digits) {
        if (s.size() < digits) return false;
        const auto r = std::from_chars(s.data(), s.data() + digits, out);
        if (r.ec != std::errc() || r.ptr != s.data() + digits) return false;
        s.remove_prefix(digits);
        return true;
    };
    std::size_t yd = s.find('-');
    if (yd == std::string_view::npos || yd < 4 || yd > 6 || !num(y, yd) || s.empty() || s.front() != '-')
        return std::nullopt;
    s.remove_prefix(1);
    if (!num(m, 2) || s.empty() || s.front() != '-') return std::nullopt;
    s.remove_prefix(1);
    if (!num(d, 2) || m < 1 || m > 12 || d < 1 || d > 31) return std::nullopt;
    double days = daysOf(neg ? -y : y, m, d);
    if (!s.empty() && s.front() == 'T') {
        s.remove_prefix(1);
        int hh = 0, mm = 0;
        if (!num(hh, 2) || s.empty() || s.front() != ':') return std::nullopt;
        s.remove_prefix(1);
        if (!num(mm, 2)) return std::nullopt;
        double ss = 0;
        if (!s.empty() && s.front() == ':') {
            s.remove_prefix(1);
            std::size_t e = 0;
            while (e < s.size() && ((s[e] >= '0' && s[e] <= '9') || s[e] == '.'))
                ++e;
            auto v = xml::parseNumber(s.substr(0, e));
            if (!v) return std::nullopt;
            ss = *v;
        }
        days += (hh * 3600.0 + mm * 60.0 + ss) / 86400.0;
    }
    return days;
}

std::optional<double> parseDuration(std::string_view s) {
    bool neg = !s.empty() && s.front() == '-';
    if (neg) s.remove_prefix(1);
    if (s.empty() || s.front() != 'P') return std::nullopt;
    s.remove_prefix(1);
    double seconds = 0;
    bool inTime = false, any = false;
    while (!s.empty()) {
        if (s.front() == 'T') {
            inTime = true;
            s.remove_prefix(1);
            continue;
        }
        std::size_t e = 0;
        while (e < s.size() && ((s[e] >= '0' && s[e] <= '9') || s[e] == '.'))
            ++e;
        if (e == 0 || e == s.size()) return std::nullopt;
        auto v = xml::parseNumber(s.substr(0, e));
        if (!v) return std::nullopt;
        const char unit = s[e];
        s.remove_prefix(e + 1);
        any = true;
        if (!inTime && unit == 'D')
            seconds += *v * 86400;
        else if (inTime && unit == 'H')
            seconds += *v * 3600;
        else if (inTime && unit == 'M')
            seconds += *v * 60;
        else if (inTime && unit == 'S')
            seconds += *v;
        else
            return std::nullopt; // calendar durations (years, months) and stray units have no serial number
    }
    if (!any) return std::nullopt;
    return (neg ? -seconds : seconds) / 86400.0;
}

} // namespace ordana::spreadsheet::ods
