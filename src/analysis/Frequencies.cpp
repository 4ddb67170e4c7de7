#include "Frequencies.h"

#include <algorithm>

namespace ordana::estimators {

Frequencies Frequencies::fromCounts(const std::vector<std::int64_t>& counts) {
    std::vector<std::int64_t> sorted;
    sorted.reserve(counts.size());
    for (auto c : counts)
        if (c > 0) sorted.push_back(c);
    std::sort(sorted.begin(), sorted.end());
    Frequencies f;
    for (auto c : sorted) {
        if (f.classes.empty() || f.classes.back().abundance != c)
            f.classes.push_back({c, 1});
        else
            ++f.classes.back().species;
        f.n += c;
        ++f.s;
    }
    return f;
}

std::int64_t Frequencies::f(std::int64_t abundance) const {
    for (const auto& c : classes) {
        if (c.abundance == abundance) return c.species;
        if (c.abundance > abundance) break;
    }
    return 0;
}

unsigned sampleNotes(const Frequencies& f) {
    unsigned n = NoteNone;
    if (f.n == 0) return NoteEmptySample;
    if (f.f(1) == 0) n |= NoteNoSingletons;
    if (f.f(2) == 0) n |= NoteNoDoubletons;
    if (f.f(1) == f.s) n |= NoteAllSingletons;
    if (f.s == 1) n |= NoteOneSpecies;
    if (f.n < 2) n |= NoteUnderTwoIndividuals;
    return n;
}

} // namespace ordana::estimators
