#include "analysis/DiversityIndices.h"
#include "analysis/ResultsWriter.h"
#include "analysis/SpeciesSample.h"
#include "support/ErrorAssert.h"

#include <array>
#include <vector>

using namespace ordana;

namespace {
SpeciesSample sampleOf(const std::vector<double>& values) {
    SpeciesSample s;
    s.reset();
    for (double v : values)
        s.append(CellValue::number(v));
    s.complete();
    return s;
}
} // namespace

TEST(DiversityIndices, ReferenceSamples) {
    // The twelve reported values in table order, to six decimals.
    const struct {
        std::vector<double> abundances;
        std::array<double, 12> expected;
    } rows[] = {
        {{10, 20, 30, 40},
         {4, 0.300000, 0.700000, 3.333333, 1.279854, 0.923220, 1.213205, 0.400000, 0.502530, 0.651442,
          0.400000, 0.451545}},
        {{1, 1},
         {2, 0.500000, 0.500000, 2.000000, 0.693147, 1.000000, 0.347069, 0.500000, 1.000000, 1.442695,
          1.414214, 1.000000}},
        {{2, 3, 5},
         {3, 0.380000, 0.620000, 2.631579, 1.029653, 0.937231, 0.783204, 0.500000, 0.560945, 0.868589,
          0.948683, 0.602060}},
        {{3000, 100, 5},
         {3, 0.934551, 0.065449, 1.070033, 0.154242, 0.140397, 0.152649, 0.966184, 0.033887, 0.248732,
          0.053838, 0.172408}},
    };
    for (const auto& r : rows) {
        const auto values = resultValues(ComputeDiversityIndices(sampleOf(r.abundances)));
        for (std::size_t k = 0; k < 12; ++k)
            EXPECT_NEAR(values[k], r.expected[k], 1e-6) << "row " << r.abundances.front() << ", value " << k;
    }
}

TEST(DiversityIndices, TextAbundancesCountAsTheirNumbers) {
    SpeciesSample s;
    s.reset();
    for (const char* t : {"10", " 20", "30 ", "4e1"})
        s.append(CellValue::text(t));
    s.complete();
    EXPECT_NEAR(ComputeDiversityIndices(s).shannonH, 1.279854, 1e-6);
}

TEST(DiversityIndices, TiesDoNotMoveTheLargestProportion) {
    EXPECT_DOUBLE_EQ(ComputeDiversityIndices(sampleOf({5, 5, 1})).bergerParker, 5.0 / 11.0);
}

TEST(DiversityIndices, TheFirstFailingOperationReportsItsNumber) {
    const struct {
        const char* name;
        std::vector<double> abundances;
        int number;
    } rows[] = {
        {"no species", {}, err::SubscriptOutOfRange},
        {"all zero: 0 / 0", {0, 0}, err::Overflow},
        {"N = 0 with a non-zero first abundance", {3, -3}, err::DivisionByZero},
        {"a zero abundance: log 0", {5, 0, 5}, err::InvalidCall},
        {"a negative abundance: log of a negative", {5, -1, 6}, err::InvalidCall},
        {"an abundance rounding to 0: 1 / (12 * 0)", {0.4, 10}, err::DivisionByZero},
        {"one species, whole: 0 / ln 1", {7}, err::Overflow},
        {"one species, fractional: H / ln 1", {7.3}, err::DivisionByZero},
    };
    for (const auto& r : rows) {
        try {
            ComputeDiversityIndices(sampleOf(r.abundances));
            ADD_FAILURE() << r.name << ": nothing was raised";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), r.number) << r.name << ": " << e.description();
            EXPECT_FALSE(e.description().empty());
        }
    }
}

TEST(DiversityIndices, ASampleLeftInconsistentByAFailedReadingIsASubscriptError) {
    SpeciesSample s = sampleOf({1, 2, 3});
    s.reset();
    s.append(CellValue::number(4));
    EXPECT_RUNTIME_ERROR(ComputeDiversityIndices(s), err::SubscriptOutOfRange, "abundenta 2");
}

TEST(Log10Factorial, StirlingReferenceValues) {
    const struct {
        std::int16_t n;
        double value;
    } rows[] = {{1, -0.000219725},
                {2, 0.301020756},
                {10, 6.559763019},
                {2700, 8094.201847300},
                {2701, 8097.633371889}};
    for (const auto& r : rows)
        EXPECT_NEAR(Log10Factorial(r.n), r.value, 1e-9) << r.n;
    EXPECT_RUNTIME_ERROR(Log10Factorial(0), err::DivisionByZero, "");
    EXPECT_RUNTIME_ERROR(Log10Factorial(-3), err::InvalidCall, "");
    EXPECT_RUNTIME_ERROR(Log10Factorial(-2731), err::Overflow, "");
}
