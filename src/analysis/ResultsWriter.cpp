#include "ResultsWriter.h"

#include "common/Arithmetic.h"

namespace ordana {

using namespace spreadsheet;

const std::array<const char*, 12> kResultLabels = {
    "bogatia de specii", "indicele Simpson (D)",   "indicele Simpson (1-D)", "indicele Simpson (1/D)",
    "indicele Shannon",  "echitatea ptr. Shannon", "indicele Brillouin",     "indicele Berger-Parker",
    "indicele McIntosh", "indicele Margalef",      "indicele Menhinick",     "indicele Gleason",
};

std::array<double, 12> resultValues(const DiversityResults& r) {
    return {double(r.speciesRichness),
            r.simpsonD,
            1.0 - r.simpsonD,
            divide(1.0, r.simpsonD),
            r.shannonH,
            r.shannonEvenness,
            r.brillouin,
            r.bergerParker,
            r.mcIntosh,
            r.margalef,
            r.menhinick,
            r.gleason};
}

std::int16_t findTableColumn(Worksheet& worksheet) {
    std::int16_t column = 2;
    while (!worksheet.cell(1, column).isBlank())
        column = add16(column, 1);
    return column;
}

std::int16_t writeResultsTable(Worksheet& ws, const DiversityResults& results) {
    const std::int16_t m = findTableColumn(ws);
    const std::int16_t names = add16(m, 1);
    const std::int16_t values = add16(m, 2);

    ws.setCell(1, m, CellValue::text("."));
    ws.setCell(1, names, CellValue::text("Indici"));
    ws.setCell(1, values, CellValue::text("Valoare"));
    for (std::int16_t i = 0; i < 12; ++i)
        ws.setCell(std::int16_t(i + 2), names, CellValue::text(kResultLabels[std::size_t(i)]));
    const auto numbers = resultValues(results);
    for (std::int16_t i = 0; i < 12; ++i)
        ws.setCell(std::int16_t(i + 2), values, CellValue::number(numbers[std::size_t(i)]));

    ws.setColumnWidth(m, 6);
    ws.setColumnWidth(names, 22);
    ws.setColumnWidth(values, 10);
    ws.setColumnHorizontalAlignment(m, AlignCenter);
    ws.setColumnHorizontalAlignment(names, AlignLeft);
    ws.setColumnNumberFormat(m, "0");
    ws.setColumnNumberFormat(values, "0.000");
    ws.setBold(1, names, true);
    ws.setBold(1, values, true);
    ws.borderAround(1, names, 13, values, LineStyleContinuous, WeightThin);
    return m;
}

} // namespace ordana
