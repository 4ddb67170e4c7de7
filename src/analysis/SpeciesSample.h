#pragma once

#include "common/CellValue.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace ordana {

// The abundances read from a data sheet and their 16-bit counts. Species names are not kept.
class SpeciesSample {
  public:
    // abundances becomes one empty element, the total 0; the species count keeps its value.
    void reset();
    // Stores the value as the next element (the first replaces the empty element of the reset), then
    // adds it to the running total, rounded half to even (error 6 outside 16 bits, 13 for a non-number).
    void append(const CellValue& abundance);
    // The species count becomes the number of elements appended since the reset.
    void complete();

    // Element i, from 1; error 9 beyond the list.
    const CellValue& abundance(std::int32_t i) const;
    const std::vector<CellValue>& abundances() const { return abundances_; }
    // 0 until a reading completed.
    std::int16_t speciesCount() const { return speciesCount_.value_or(0); }
    bool hasSpeciesCount() const { return speciesCount_.has_value(); }
    std::int16_t totalIndividuals() const { return totalIndividuals_; }

  private:
    std::vector<CellValue> abundances_;
    std::int32_t appended_ = 0;
    std::optional<std::int16_t> speciesCount_;
    std::int16_t totalIndividuals_ = 0;
};

} // namespace ordana
