#include "common/Arithmetic.h"
#include "support/ErrorAssert.h"

#include <cmath>
#include <limits>

using namespace ordana;

TEST(ToInt16, RoundsHalfToEvenWithinRange) {
    const struct {
        double in;
        int out;
    } rows[] = {{2.5, 2},         {3.5, 4},         {-2.5, -2},         {-3.5, -4},      {0.5, 0},
                {1.5, 2},         {2.4999, 2},      {2.5001, 3},        {-0.5, 0},       {32767, 32767},
                {-32768, -32768}, {32767.4, 32767}, {-32768.5, -32768}, {32766.5, 32766}};
    for (const auto& r : rows)
        EXPECT_EQ(toInt16(r.in), r.out) << r.in;
}

TEST(ToInt16, OutOfRangeIsOverflow) {
    for (double v : {32767.5, 32768.0, -32768.6, -40000.0, 1e300, std::numeric_limits<double>::quiet_NaN()})
        EXPECT_RUNTIME_ERROR(toInt16(v), err::Overflow, "Depasire");
}

TEST(Int16Operations, OverflowIsNeverWrapped) {
    EXPECT_EQ(add16(32766, 1), 32767);
    EXPECT_RUNTIME_ERROR(add16(32767, 1), err::Overflow, "32767 + 1");
    EXPECT_EQ(multiply16(12, 2730), 32760);
    EXPECT_RUNTIME_ERROR(multiply16(12, 2731), err::Overflow, "12 * 2731");
    EXPECT_RUNTIME_ERROR(multiply16(12, -2731), err::Overflow, "");
}

TEST(CheckedOperations, RaiseTheNumberOfTheFault) {
    EXPECT_DOUBLE_EQ(divide(1, 4), 0.25);
    EXPECT_RUNTIME_ERROR(divide(3, 0), err::DivisionByZero, "3 / 0");
    EXPECT_RUNTIME_ERROR(divide(0, 0), err::Overflow, "0 / 0");
    EXPECT_RUNTIME_ERROR(divide(1e308, 1e-308), err::Overflow, "prea mare");
    EXPECT_DOUBLE_EQ(naturalLog(std::exp(2.0)), 2.0);
    EXPECT_RUNTIME_ERROR(naturalLog(0), err::InvalidCall, "logaritmul lui 0");
    EXPECT_RUNTIME_ERROR(naturalLog(-1), err::InvalidCall, "-1");
    EXPECT_DOUBLE_EQ(squareRoot(9), 3.0);
    EXPECT_EQ(squareRoot(0), 0.0);
    EXPECT_RUNTIME_ERROR(squareRoot(-4), err::InvalidCall, "radacina");
}
