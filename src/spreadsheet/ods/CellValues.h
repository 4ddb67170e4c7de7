#pragma once

// The dates and durations of a cell as content.xml writes them in office:date-value and office:time-value
// (an office:value is a plain number: xml::parseNumber reads it, xml::numberText writes it).

#include <optional>
#include <string_view>

namespace ordana::spreadsheet::ods {

// "2024-03-01" or "2024-03-01T12:30:00.5" to days from 1899-12-30.
std::optional<double> parseDate(std::string_view s);
// "PT12H30M05S" (a duration) to a fraction of a day.
std::optional<double> parseDuration(std::string_view s);

} // namespace ordana::spreadsheet::ods
