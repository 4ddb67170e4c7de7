#include "Output.h"

namespace ordana::cli {

void Output::comparisons(const std::vector<ReportSheet>& sheets) {
    std::vector<const Community*> communities;
    for (const auto& s : sheets)
        communities.push_back(&s.community);
    const SurveyComparison c(communities);
    const bool everyPair = sheets.size() <= kPairedSheets;
    beginComparisons(sheets, c.whittakerBeta(), everyPair);
    if (everyPair) {
        for (std::size_t i = 0; i < sheets.size(); ++i)
            for (std::size_t j = i + 1; j < sheets.size(); ++j)
                pair(sheets[i], sheets[j], c.dissimilarity(i, j), c.hutcheson(i, j));
    } else {
        summary(sheets, summarisePairs(c));
    }
    endComparisons();
}

} // namespace ordana::cli
