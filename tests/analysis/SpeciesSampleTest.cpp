#include "analysis/SpeciesSample.h"
#include "support/ErrorAssert.h"

#include <vector>

using namespace ordana;

namespace {
SpeciesSample sampleOf(const std::vector<CellValue>& values) {
    SpeciesSample s;
    s.reset();
    for (const auto& v : values)
        s.append(v);
    s.complete();
    return s;
}
CellValue num(double v) {
    return CellValue::number(v);
}
} // namespace

TEST(SpeciesSample, RunningTotalIsRoundedAfterEveryAddition) {
    const struct {
        const char* name;
        std::vector<CellValue> values;
        int total;
    } rows[] = {
        {"whole", {num(10), num(20), num(30), num(40)}, 100},
        {"halves round to even", {num(0.5), num(0.5)}, 0},
        {"one and a half twice", {num(1.5), num(1.5)}, 4},
        {"two and a half then one", {num(2.5), num(1)}, 3},
        {"text reads as its number", {CellValue::text("12"), num(3)}, 15},
        {"exactly the largest total", {num(32000), num(767)}, 32767},
        {"negative and zero", {num(5), num(0), num(-2)}, 3},
    };
    for (const auto& r : rows) {
        const SpeciesSample s = sampleOf(r.values);
        EXPECT_EQ(s.totalIndividuals(), r.total) << r.name;
        EXPECT_EQ(s.speciesCount(), int(r.values.size())) << r.name;
        EXPECT_EQ(s.abundances(), r.values) << r.name << ": the list keeps the values unrounded";
    }
}

TEST(SpeciesSample, OverflowStopsTheTotal) {
    SpeciesSample s;
    s.reset();
    s.append(num(32767));
    EXPECT_RUNTIME_ERROR(s.append(num(1)), err::Overflow, "");
    EXPECT_RUNTIME_ERROR(s.append(CellValue::text("x")), err::TypeMismatch, "\"x\"");
}

TEST(SpeciesSample, ResetKeepsTheCountAndLeavesOneEmptyElement) {
    SpeciesSample s = sampleOf({num(3), num(4)});
    s.reset();
    s.append(num(7)); // a reading that fails after one row never completes
    EXPECT_EQ(s.speciesCount(), 2);
    EXPECT_EQ(s.totalIndividuals(), 7);
    EXPECT_RUNTIME_ERROR(s.abundance(2), err::SubscriptOutOfRange, "abundenta 2");

    SpeciesSample empty = sampleOf({});
    EXPECT_EQ(empty.speciesCount(), 0);
    EXPECT_EQ(empty.totalIndividuals(), 0);
    ASSERT_EQ(empty.abundances().size(), 1u);
    EXPECT_TRUE(empty.abundance(1).isEmpty());
}
