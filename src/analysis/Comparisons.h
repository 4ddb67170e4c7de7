#pragma once

// The sheets of a run compared pairwise. Each community's counts are keyed and sorted once, so that a pair is
// a merge of two sorted lists: N sheets cost N sorts and N(N-1)/2 merges, not a map built per pair.

#include "Community.h"

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace ordana {

class SurveyComparison {
  public:
    explicit SurveyComparison(const std::vector<const Community*>& communities);

    std::size_t size() const { return sheets_.size(); }
    Dissimilarity dissimilarity(std::size_t i, std::size_t j) const;
    HutchesonTest hutcheson(std::size_t i, std::size_t j) const;
    // The species of all sheets together over the mean richness of a sheet, less 1.
    double whittakerBeta() const;

    // Hutcheson's side of one sheet, natural logarithms: over its rows as read.
    struct ShannonSide {
        double entropy = 0, variance = 0, n = 0;
    };
    static ShannonSide shannonSide(const Community& c);
    static HutchesonTest hutcheson(const ShannonSide& a, const ShannonSide& b);

  private:
    struct Sheet {
        std::vector<std::pair<std::uint32_t, double>> counts; // by key, ascending, counts of one key summed
        ShannonSide shannon;
    };
    std::vector<Sheet> sheets_;
    std::size_t keys_ = 0;
};

// What a run of many sheets shows in place of every pair: each sheet's nearest sheet (by Jaccard and by
// Bray-Curtis) and its mean dissimilarity to the others, and the Hutcheson tests counted.
struct PairsSummary {
    struct Row {
        std::size_t nearestJaccard = 0, nearestBrayCurtis = 0;
        double jaccard = 0, brayCurtis = 0; // to the nearest
        double meanJaccard = 0, meanBrayCurtis = 0, meanMorisitaHorn = 0;
    };
    std::vector<Row> rows;
    std::size_t pairs = 0, defined = 0, below05 = 0, belowBonferroni = 0;
};
PairsSummary summarisePairs(const SurveyComparison& c);

} // namespace ordana
