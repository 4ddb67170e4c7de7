#include "Arithmetic.h"

#include "Format.h"
#include "RuntimeError.h"

#include <cmath>

namespace ordana {

std::int16_t toInt16(double value) {
    if (std::isnan(value))
        throw RuntimeError(err::Overflow,
                           "Depasire: valoarea nu este un numar si nu se poate rotunji la un intreg");
    double rounded = std::floor(value);
    const double fraction = value - rounded;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(rounded, 2.0) != 0.0)) rounded += 1.0;
    if (rounded < -32768.0 || rounded > 32767.0)
        throw RuntimeError(err::Overflow, "Depasire: valoarea " + formatNumber(value) +
                                              " nu incape intr-un intreg pe 16 biti (-32768..32767)");
    return static_cast<std::int16_t>(rounded);
}

std::int16_t add16(std::int16_t a, std::int16_t b) {
    const int sum = int{a} + int{b};
    if (sum < -32768 || sum > 32767)
        throw RuntimeError(err::Overflow, "Depasire: suma " + std::to_string(a) + " + " + std::to_string(b) +
                                              " nu incape intr-un intreg pe 16 biti");
    return static_cast<std::int16_t>(sum);
}

std::int16_t multiply16(std::int16_t a, std::int16_t b) {
    const int product = int{a} * int{b};
    if (product < -32768 || product > 32767)
        throw RuntimeError(err::Overflow, "Depasire: produsul " + std::to_string(a) + " * " +
                                              std::to_string(b) + " nu incape intr-un intreg pe 16 biti");
    return static_cast<std::int16_t>(product);
}

double divide(double a, double b) {
    if (b == 0.0) {
        if (a == 0.0 || std::isnan(a)) throw RuntimeError(err::Overflow, "Depasire: impartire 0 / 0");
        throw RuntimeError(err::DivisionByZero, "Impartire la zero: " + formatNumber(a) + " / 0");
    }
    return checkedResult(a / b);
}

double naturalLog(double x) {
    if (!(x > 0.0))
        throw RuntimeError(err::InvalidCall,
                           "Argument invalid: logaritmul lui " + formatNumber(x) + " nu este definit");
    return checkedResult(std::log(x));
}

double squareRoot(double x) {
    if (x < 0.0)
        throw RuntimeError(err::InvalidCall, "Argument invalid: radacina patrata a lui " + formatNumber(x) +
                                                 " nu este definita");
    return checkedResult(std::sqrt(x));
}

double checkedResult(double x) {
    if (!std::isfinite(x))
        throw RuntimeError(err::Overflow, "Depasire: rezultatul este prea mare pentru un numar real");
    return x;
}

} // namespace ordana
