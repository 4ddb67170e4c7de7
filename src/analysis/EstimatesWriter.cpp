#include "EstimatesWriter.h"

#include "ResultsWriter.h"
#include "common/Arithmetic.h"

#include <cmath>

namespace ordana {

using namespace spreadsheet;

const std::array<const char*, 6> kEstimateHeadings = {"Estimator",  "Valoare",    "ES",
                                                      "IC 95% inf", "IC 95% sup", "Metoda"};

std::vector<std::pair<std::string, std::string>> provenanceRows(const Provenance& p) {
    return {{"Ordana", p.version},
            {"Data", p.date},
            {"Generator", p.generator},
            {"Samanta (seed)", std::to_string(p.seed)},
            {"Replici bootstrap", std::to_string(p.replicates)},
            {"Domeniul citit", p.range},
            {"Specii observate", std::to_string(p.species)},
            {"Indivizi", std::to_string(p.individuals)},
            {"Randuri cu 0 omise", std::to_string(p.zeroRows)},
            {"Nume repetate, unite", p.merged.empty() ? "niciunul" : p.merged}};
}

std::string methodText(const estimators::Estimate& e) {
    std::string s = e.variant;
    if (!e.seMethod.empty()) s += "; ES: " + e.seMethod;
    if (!e.interval.empty()) s += "; IC: " + e.interval;
    if (!e.logBase.empty()) s += "; logaritm natural";
    const std::string notes = estimators::noteText(e.notes);
    if (!notes.empty()) s += "; nota: " + notes;
    return s;
}

CellValue estimateCell(double value) {
    if (std::isfinite(value)) return CellValue::number(value);
    return CellValue::text(std::isinf(value) ? "infinit" : "nedefinit");
}

std::int16_t writeEstimatesTable(Worksheet& ws, const estimators::Analysis& analysis,
                                 const Provenance& provenance) {
    const std::int16_t m = findTableColumn(ws);
    std::int16_t column[6];
    for (std::int16_t k = 0; k < 6; ++k)
        column[k] = add16(m, std::int16_t(k + 1));

    ws.setCell(1, m, CellValue::text("."));
    for (std::size_t k = 0; k < 6; ++k)
        ws.setCell(1, column[k], CellValue::text(kEstimateHeadings[k]));
    std::int16_t row = 1;
    for (const auto& e : analysis.estimates) {
        row = add16(row, 1);
        ws.setCell(row, column[0], CellValue::text(e.label));
        ws.setCell(row, column[1], estimateCell(e.value));
        if (e.se >= 0) ws.setCell(row, column[2], estimateCell(e.se));
        if (e.hasInterval) {
            ws.setCell(row, column[3], estimateCell(e.lower));
            ws.setCell(row, column[4], estimateCell(e.upper));
        }
        ws.setCell(row, column[5], CellValue::text(methodText(e)));
    }
    const std::int16_t lastEstimate = row;
    row = add16(row, 1);
    for (const auto& [label, text] : provenanceRows(provenance)) {
        row = add16(row, 1);
        ws.setCell(row, column[0], CellValue::text(label));
        ws.setCell(row, column[1], CellValue::text(text));
    }

    ws.setColumnWidth(m, 6);
    ws.setColumnWidth(column[0], 26);
    for (int k = 1; k <= 4; ++k)
        ws.setColumnWidth(column[k], 11);
    ws.setColumnWidth(column[5], 60);
    ws.setColumnHorizontalAlignment(m, AlignCenter);
    ws.setColumnHorizontalAlignment(column[0], AlignLeft);
    ws.setColumnNumberFormat(m, "0");
    for (int k = 1; k <= 4; ++k)
        ws.setColumnNumberFormat(column[k], "0.000");
    for (std::size_t k = 0; k < 6; ++k)
        ws.setBold(1, column[k], true);
    ws.borderAround(1, column[0], lastEstimate, column[5], LineStyleContinuous, WeightThin);
    ws.borderAround(add16(lastEstimate, 2), column[0], row, column[1], LineStyleContinuous, WeightThin);
    return m;
}

} // namespace ordana
