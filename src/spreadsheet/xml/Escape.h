#pragma once

// Text written into XML parts by hand, and start tags edited in place, for the engines that keep a part's own
// bytes around their edits.

#include <charconv>
#include <cmath>
#include <optional>
#include <string>
#include <string_view>

namespace ordana::spreadsheet::xml {

// Text or an attribute's value escaped, less the control characters XML 1.0 cannot hold.
std::string escapeXml(std::string_view s, bool attribute);
// A start tag with one attribute set (value escaped here) or removed (value nullopt).
std::string setAttribute(std::string_view tag, std::string_view qname,
                         const std::optional<std::string>& value);

// A number as both XML engines write it: the shortest text that reads back as the same double (-0 as 0);
// 1004 for a value that is not finite, which no XML double of a spreadsheet holds.
std::string numberText(double value);
// A number as a cell or an attribute holds it, strictly: blanks around it and a leading + allowed; none for
// anything else ("12abc") and for what is not finite.
// Inline: the sheets' readers take every cell's value through it.
inline std::optional<double> parseNumber(std::string_view s) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!s.empty() && space(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && space(s.back()))
        s.remove_suffix(1);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    double d = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), d);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size() || !std::isfinite(d)) return std::nullopt;
    return d;
}

} // namespace ordana::spreadsheet::xml
