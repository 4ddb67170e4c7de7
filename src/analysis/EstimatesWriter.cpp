#include "EstimatesWriter.h"

#include "Incidence.h"
#include "ResultsWriter.h"
#include "common/Arithmetic.h"

#include <cmath>
#include <optional>
#include <set>

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

std::string methodText(const estimators::Estimate& e, bool incidence) {
    std::string s = e.variant;
    if (!e.seMethod.empty()) s += "; ES: " + e.seMethod;
    if (!e.interval.empty()) s += "; IC: " + e.interval;
    if (!e.logBase.empty()) s += "; logaritm natural";
    const std::string notes =
        incidence ? estimators::incidenceNoteText(e.notes) : estimators::noteText(e.notes);
    if (!notes.empty()) s += "; nota: " + notes;
    return s;
}

std::vector<std::string> noteCodesOf(const estimators::Estimate& e, bool incidence) {
    return incidence ? estimators::incidenceNoteCodes(e.notes) : estimators::noteCodes(e.notes);
}

CellValue estimateCell(double value) {
    if (std::isfinite(value)) return CellValue::number(value);
    return CellValue::text(std::isinf(value) ? "infinit" : "nedefinit");
}

namespace {

// Where a table of this writer lies: its marker column, its last estimate row and its last provenance row.
struct TablePlace {
    std::int16_t marker = 0, lastEstimate = 0, lastRow = 0;
};

bool isText(const CellValue& v, const char* text) {
    return v.kind() == CellValue::Kind::Text && v.textValue() == text;
}

// An earlier run's estimates table, recognised by its row 1 (the marker and the six headings, in the row-1
// cells that tables are placed among) and its provenance (after one blank row under the estimates, "Ordana"
// and the version, then labelled rows down to a blank one). A block that only looks like it is left alone.
std::optional<TablePlace> earlierTable(Worksheet& ws) {
    for (std::int16_t m = 2; m < 32767 - 6 && !ws.cell(1, m).isBlank(); m = add16(m, 1)) {
        if (!isText(ws.cell(1, m), ".")) continue;
        bool headed = true;
        for (std::int16_t k = 0; k < 6 && headed; ++k)
            headed = isText(ws.cell(1, std::int16_t(m + 1 + k)), kEstimateHeadings[std::size_t(k)]);
        if (!headed) continue;
        const auto label = std::int16_t(m + 1);
        TablePlace place{m, 1, 0};
        while (place.lastEstimate < 32765 && !ws.cell(std::int16_t(place.lastEstimate + 1), label).isBlank())
            ++place.lastEstimate;
        const auto first = std::int16_t(place.lastEstimate + 2);
        if (place.lastEstimate >= 32765 || !ws.cell(std::int16_t(first - 1), label).isBlank() ||
            !isText(ws.cell(first, label), "Ordana") || ws.cell(first, std::int16_t(label + 1)).isBlank())
            continue;
        place.lastRow = first;
        while (place.lastRow < 32767 && !ws.cell(std::int16_t(place.lastRow + 1), label).isBlank())
            ++place.lastRow;
        return place;
    }
    return std::nullopt;
}

} // namespace

std::int16_t writeEstimatesTable(Worksheet& ws, const estimators::Analysis& analysis,
                                 const Provenance& provenance) {
    // A run replaces the table an earlier run wrote, in place; only a sheet without one gets a new table in
    // the next free columns.
    const std::optional<TablePlace> earlier = earlierTable(ws);
    const std::int16_t m = earlier ? earlier->marker : findTableColumn(ws);
    std::int16_t column[6];
    for (std::int16_t k = 0; k < 6; ++k)
        column[k] = add16(m, std::int16_t(k + 1));
    std::set<std::pair<std::int16_t, std::int16_t>> written;
    auto put = [&](std::int16_t row, std::int16_t col, const CellValue& value) {
        ws.setCell(row, col, value);
        written.insert({row, col});
    };

    put(1, m, CellValue::text("."));
    for (std::size_t k = 0; k < 6; ++k)
        put(1, column[k], CellValue::text(kEstimateHeadings[k]));
    std::int16_t row = 1;
    for (const auto& e : analysis.estimates) {
        row = add16(row, 1);
        put(row, column[0], CellValue::text(e.label));
        put(row, column[1], estimateCell(e.value));
        if (e.se >= 0) put(row, column[2], estimateCell(e.se));
        if (e.hasInterval) {
            put(row, column[3], estimateCell(e.lower));
            put(row, column[4], estimateCell(e.upper));
        }
        put(row, column[5], CellValue::text(methodText(e, analysis.incidence)));
    }
    const std::int16_t lastEstimate = row;
    row = add16(row, 1);
    for (const auto& [label, text] : provenanceRows(provenance)) {
        row = add16(row, 1);
        put(row, column[0], CellValue::text(label));
        put(row, column[1], CellValue::text(text));
    }
    // What the earlier table held where this one writes nothing is emptied, and its frames are taken down
    // where they no longer fit.
    if (earlier) {
        for (std::int16_t r = 1; r <= earlier->lastRow; r = add16(r, 1))
            for (std::int16_t k = 0; k < 6; ++k)
                if (!written.count({r, column[k]}) && !ws.cell(r, column[k]).isEmpty())
                    ws.setCell(r, column[k], CellValue());
        if (earlier->lastEstimate != lastEstimate || earlier->lastRow != row) {
            ws.borderAround(1, column[0], earlier->lastEstimate, column[5], LineStyleNone, WeightThin);
            ws.borderAround(add16(earlier->lastEstimate, 2), column[0], earlier->lastRow, column[1],
                            LineStyleNone, WeightThin);
        }
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
