#pragma once

#include <cstdint>

// Checked arithmetic: the operation that meets a fault raises the matching RuntimeError.
namespace ordana {

// Rounds half to even; error 6 outside -32768..32767 (or for NaN).
std::int16_t toInt16(double value);

// 16-bit sums and products with an overflow test (error 6).
std::int16_t add16(std::int16_t a, std::int16_t b);
std::int16_t multiply16(std::int16_t a, std::int16_t b);

// a / b: error 11 for non-zero / 0, error 6 for 0 / 0 or a result too large.
double divide(double a, double b);

// Natural logarithm: error 5 for zero or a negative argument.
double naturalLog(double x);

// Square root: error 5 for a negative argument.
double squareRoot(double x);

// Passes a finite result through; error 6 for a result too large for a double.
double checkedResult(double x);

} // namespace ordana
