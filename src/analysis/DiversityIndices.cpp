#include "DiversityIndices.h"

#include "SpeciesSample.h"
#include "common/Arithmetic.h"
#include "common/RuntimeError.h"

#include <cmath>

namespace ordana {

namespace {

// The logarithms of the constants, taken once with the same function as every other logarithm.
struct Constants {
    double ln10 = naturalLog(10.0);
    double halfLog10TwoPi = 0.5 * divide(naturalLog(6.283185), ln10);
    double log10e = divide(naturalLog(std::exp(1.0)), ln10);
    double ln2 = naturalLog(2.0);
};
const Constants& constants() {
    static const Constants c;
    return c;
}

} // namespace

double Log10Factorial(std::int16_t n) {
    const Constants& k = constants();
    // Above 2700 the correction term stays frozen at its value for 2700, to five significant digits.
    const double t = n <= 2700 ? divide(1.0, multiply16(12, n)) : 0.000030864;
    const double l = divide(naturalLog(n), k.ln10);
    const double a = checkedResult((n + 0.5) * l + k.halfLog10TwoPi);
    // n is a 16-bit integer, so n * n * n is exact and equals pow(n, 3) bit for bit, at a fraction of the
    // cost.
    const double cube = static_cast<double>(n) * n * n;
    const double cubic = divide(1.0, checkedResult(cube * 360.0));
    const double b = checkedResult(((n - t) + cubic) * k.log10e);
    return checkedResult(a - b);
}

DiversityResults ComputeDiversityIndices(const SpeciesSample& sample) {
    const std::int16_t s = sample.speciesCount();
    if (s < 1)
        throw RuntimeError(
            err::SubscriptOutOfRange,
            "Indice in afara listei: esantionul nu are nicio specie (S = " + std::to_string(s) + ")");
    const double n = sample.totalIndividuals();

    double simpsonSum = 0, shannonSum = 0, largest = 0, sumOfSquares = 0, logFactorialSum = 0;
    for (std::int16_t i = 1; i <= s; ++i) {
        const double abundance = sample.abundance(i).toNumber();
        const double p = divide(abundance, n);
        simpsonSum = checkedResult(simpsonSum + p * p);
        const double lnP = naturalLog(p);
        shannonSum = checkedResult(shannonSum + p * lnP);
        if (p > largest) largest = p;
        sumOfSquares = checkedResult(sumOfSquares + abundance * abundance);
        logFactorialSum = checkedResult(logFactorialSum + Log10Factorial(toInt16(abundance)));
    }

    DiversityResults r;
    r.shannonH = std::fabs(shannonSum);
    r.shannonEvenness = divide(r.shannonH, naturalLog(s));
    const double u = squareRoot(sumOfSquares);
    const double rootN = squareRoot(n);
    r.mcIntosh = divide(n - u, n - rootN);
    r.brillouin =
        divide(checkedResult(2.302585 * (Log10Factorial(sample.totalIndividuals()) - logFactorialSum)), n);
    r.margalef = divide(s - 1.0, naturalLog(n));
    r.menhinick = divide(s, rootN);
    r.gleason = divide(s - 1.0, divide(naturalLog(n), constants().ln2));
    r.speciesRichness = s;
    r.simpsonD = simpsonSum;
    r.bergerParker = largest;
    return r;
}

} // namespace ordana
