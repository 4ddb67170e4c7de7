#include "SpeciesSample.h"

#include "common/Arithmetic.h"
#include "common/RuntimeError.h"

namespace ordana {

void SpeciesSample::reset() {
    abundances_.assign(1, CellValue());
    appended_ = 0;
    totalIndividuals_ = 0;
}

void SpeciesSample::append(const CellValue& abundance) {
    if (appended_ == 0 && abundances_.size() == 1)
        abundances_[0] = abundance;
    else
        abundances_.push_back(abundance);
    ++appended_;
    totalIndividuals_ = toInt16(abundance.toNumber() + totalIndividuals_);
}

void SpeciesSample::complete() {
    speciesCount_ = static_cast<std::int16_t>(appended_);
}

const CellValue& SpeciesSample::abundance(std::int32_t i) const {
    if (i < 1 || static_cast<std::size_t>(i) > abundances_.size())
        throw RuntimeError(err::SubscriptOutOfRange, "Indice in afara listei: abundenta " +
                                                         std::to_string(i) + " nu exista (lista are " +
                                                         std::to_string(abundances_.size()) + " elemente)");
    return abundances_[static_cast<std::size_t>(i - 1)];
}

} // namespace ordana
