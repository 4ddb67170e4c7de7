#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ordana {

// A number as a spreadsheet shows it in a cell of General format: up to 15 significant digits, no trailing
// zeros.
std::string formatNumber(double value);

// A text read as a number: blanks around it allowed, an optional sign, digits with the locale's decimal
// separator or '.', an optional exponent. nullopt when it does not read as a number.
std::optional<double> parseNumber(std::string_view text);

} // namespace ordana
