#include "SurveyWriter.h"

#include "ResultsWriter.h"
#include "common/Arithmetic.h"

#include <optional>

namespace ordana {

using namespace spreadsheet;

namespace {

// What a column shows: an estimate's value, or its interval's bound.
enum class Part { Value, Lower, Upper };
struct Column {
    const char* heading; // empty: taken from the estimate's own label
    const char* key;
    Part part;
};
constexpr Column kColumns[] = {
    {"S observat", "sObs", Part::Value},
    {"Chao1", "chao1", Part::Value},
    {"Chao1 inf", "chao1", Part::Lower},
    {"Chao1 sup", "chao1", Part::Upper},
    {"ACE", "ace", Part::Value},
    {"Hill q=1 observat", "hill1Observed", Part::Value},
    {"Hill q=1 asimptotic", "hill1Asymptotic", Part::Value},
    {"q=1 inf", "hill1Asymptotic", Part::Lower},
    {"q=1 sup", "hill1Asymptotic", Part::Upper},
    {"Hill q=2 observat", "hill2Observed", Part::Value},
    {"Hill q=2 asimptotic", "hill2Asymptotic", Part::Value},
    {"q=2 inf", "hill2Asymptotic", Part::Lower},
    {"q=2 sup", "hill2Asymptotic", Part::Upper},
    {"Acoperire", "coverage", Part::Value},
    {"", "rarefiedRichness", Part::Value},
    {"", "hill0AtCoverage", Part::Value},
};
constexpr std::int16_t kWidth = std::int16_t(sizeof kColumns / sizeof *kColumns) + 2; // Proba, Indivizi

const estimators::Estimate* find(const estimators::Analysis& a, const char* key) {
    for (const auto& e : a.estimates)
        if (e.key == key) return &e;
    return nullptr;
}

CellValue cellOf(const estimators::Analysis& a, const Column& c) {
    const estimators::Estimate* e = find(a, c.key);
    // The smallest sample is itself the size the others are rarefied to.
    if (!e && std::string(c.key) == "rarefiedRichness") e = find(a, "sObs");
    if (!e) return {};
    if (c.part == Part::Value) return estimateCell(e->value);
    if (!e->hasInterval) return {};
    return estimateCell(c.part == Part::Lower ? e->lower : e->upper);
}

bool isText(const CellValue& v, const std::string& text) {
    return v.kind() == CellValue::Kind::Text && v.textValue() == text;
}

// An earlier run's summary: "." then "Proba" and "S observat" in row 1, the samples under it down to a blank
// row, then after one blank row the provenance, "Ordana" first.
struct Place {
    std::int16_t marker = 0, lastSample = 0, lastRow = 0;
};
std::optional<Place> earlierTable(Worksheet& ws) {
    for (std::int16_t m = 2; m < 32767 - kWidth && !ws.cell(1, m).isBlank(); m = add16(m, 1)) {
        if (!isText(ws.cell(1, m), ".") || !isText(ws.cell(1, std::int16_t(m + 1)), "Proba") ||
            !isText(ws.cell(1, std::int16_t(m + 2)), "Indivizi"))
            continue;
        const auto label = std::int16_t(m + 1);
        std::int16_t last = 1;
        while (last < 32765 && !ws.cell(std::int16_t(last + 1), label).isBlank())
            ++last;
        const auto first = std::int16_t(last + 2);
        if (last >= 32765 || !isText(ws.cell(first, label), "Ordana")) continue;
        Place place{m, last, first};
        while (place.lastRow < 32767 && !ws.cell(std::int16_t(place.lastRow + 1), label).isBlank())
            ++place.lastRow;
        return place;
    }
    return std::nullopt;
}

} // namespace

std::vector<std::string> surveyHeadings(const std::vector<SurveyRow>& rows) {
    std::vector<std::string> headings = {"Proba", "Indivizi"};
    for (const auto& c : kColumns) {
        std::string heading = c.heading;
        for (const auto& r : rows)
            if (const estimators::Estimate* e = heading.empty() ? find(*r.analysis, c.key) : nullptr) {
                heading = e->label;
                break;
            }
        headings.push_back(heading.empty() ? "S observat" : heading);
    }
    return headings;
}

std::int16_t writeSurveyTable(Worksheet& ws, const std::vector<SurveyRow>& rows,
                              const Provenance& provenance) {
    const std::optional<Place> earlier = earlierTable(ws);
    const std::int16_t m = earlier ? earlier->marker : findTableColumn(ws);
    const auto column = [&](int k) { return add16(m, std::int16_t(k + 1)); };
    const std::vector<std::string> headings = surveyHeadings(rows);
    // What an earlier summary held is emptied first: the new one may be shorter.
    if (earlier)
        for (std::int16_t r = 2; r <= earlier->lastRow; r = add16(r, 1))
            for (int k = 0; k < kWidth; ++k)
                if (!ws.cell(r, column(k)).isEmpty()) ws.setCell(r, column(k), CellValue());
    ws.setCell(1, m, CellValue::text("."));
    for (int k = 0; k < kWidth; ++k)
        ws.setCell(1, column(k), CellValue::text(headings[std::size_t(k)]));
    std::int16_t row = 1;
    for (const auto& r : rows) {
        row = add16(row, 1);
        ws.setCell(row, column(0), CellValue::text(r.sample));
        ws.setCell(row, column(1), CellValue::number(double(r.individuals)));
        int k = 2;
        for (const auto& c : kColumns) {
            if (const CellValue v = cellOf(*r.analysis, c); !v.isEmpty()) ws.setCell(row, column(k), v);
            ++k;
        }
    }
    const std::int16_t lastSample = row;
    row = add16(row, 1);
    for (const auto& [label, text] : provenanceRows(provenance)) {
        row = add16(row, 1);
        ws.setCell(row, column(0), CellValue::text(label));
        ws.setCell(row, column(1), CellValue::text(text));
    }
    if (earlier && (earlier->lastSample != lastSample || earlier->lastRow != row)) {
        ws.borderAround(1, column(0), earlier->lastSample, column(kWidth - 1), LineStyleNone, WeightThin);
        ws.borderAround(add16(earlier->lastSample, 2), column(0), earlier->lastRow, column(1), LineStyleNone,
                        WeightThin);
    }
    ws.setColumnWidth(m, 6);
    ws.setColumnWidth(column(0), 22);
    for (int k = 1; k < kWidth; ++k) {
        ws.setColumnWidth(column(k), 11);
        // Counts whole, estimates to three decimals.
        ws.setColumnNumberFormat(column(k), k <= 2 ? "0" : "0.000");
    }
    ws.setColumnHorizontalAlignment(m, AlignCenter);
    ws.setColumnHorizontalAlignment(column(0), AlignLeft);
    ws.setColumnNumberFormat(m, "0");
    for (int k = 0; k < kWidth; ++k)
        ws.setBold(1, column(k), true);
    ws.borderAround(1, column(0), lastSample, column(kWidth - 1), LineStyleContinuous, WeightThin);
    ws.borderAround(add16(lastSample, 2), column(0), row, column(1), LineStyleContinuous, WeightThin);
    return m;
}

} // namespace ordana
