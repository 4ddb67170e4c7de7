#pragma once

// One way of writing numbers for people: the decimal comma of the Romanian texts in the report and the
// tables' labels, the point where a machine reads the output. Shared by the report, the tables and the CLI.

#include <string>

namespace ordana {

enum class DecimalMark { Comma, Point };

// x with exactly `decimals` decimals. A value that rounds to zero has no sign ("-0,000" is never written); a
// value that is not finite is the word the tables use ("infinit", "nedefinit").
std::string decimalText(double x, int decimals, DecimalMark mark = DecimalMark::Comma);

// A p-value with four decimals, or "< 0,0001" below that, where four decimals would print a zero.
std::string pValueText(double p, DecimalMark mark = DecimalMark::Comma);

} // namespace ordana
