#include "Community.h"

namespace ordana {

std::string Community::range() const {
    return "A2:B" + std::to_string(lastRow);
}

estimators::Frequencies Community::frequencies() const {
    std::vector<std::int64_t> counts;
    counts.reserve(species.size());
    for (const auto& s : species)
        counts.push_back(s.count);
    return estimators::Frequencies::fromCounts(counts);
}

} // namespace ordana
