#pragma once

// The values of a cell as content.xml writes them in its attributes: office:value (an xsd:double),
// office:date-value, office:time-value; and a number written back the shortest way that reads the same.

#include <optional>
#include <string>
#include <string_view>

namespace ordana::spreadsheet::ods {

// An xsd:double as a cell's value holds it: white space around it, an optional sign, and nothing else;
// finite (LibreOffice writes no NaN or infinity, and no sum can take one).
std::optional<double> parseDouble(std::string_view s);
// "2024-03-01" or "2024-03-01T12:30:00.5" to days from 1899-12-30.
std::optional<double> parseDate(std::string_view s);
// "PT12H30M05S" (a duration) to a fraction of a day.
std::optional<double> parseDuration(std::string_view s);
// The shortest text that reads back as v.
std::string shortest(double v);

} // namespace ordana::spreadsheet::ods
