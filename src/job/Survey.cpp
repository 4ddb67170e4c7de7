#include "Survey.h"

#include "common/RuntimeError.h"
#include "common/Text.h"

#include <cmath>
#include <unordered_map>

namespace ordana::job {

namespace {

constexpr double kMaxIndividuals = 9007199254740992.0; // 2^53

std::string trimmed(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r\n\xa0");
    if (first == std::string::npos) return {};
    const auto last = s.find_last_not_of(" \t\r\n\xa0");
    return s.substr(first, last - first + 1);
}

// A sample's heading ends the samples when blank, or when it is the marker of a table an earlier run wrote
// beside the survey.
bool endsSamples(const CellValue& heading) {
    return heading.isBlank() || heading.toText() == ".";
}

std::int64_t count(const CellValue& value, int row, int column) {
    if (value.isBlank()) return 0;
    const std::string where = "celula " + text::cellAddress(row, column);
    double v;
    try {
        v = value.toNumber();
    } catch (const RuntimeError&) {
        throw RuntimeError(err::TypeMismatch, "Tip nepotrivit: abundenta din " + where + " (" +
                                                  text::quotedExcerpt(value.toText()) + ") nu este un numar");
    }
    if (!(v >= 0) || v != std::floor(v))
        throw RuntimeError(err::TypeMismatch,
                           "Tip nepotrivit: abundenta din " + where + " (" +
                               text::quotedExcerpt(value.toText()) +
                               ") nu este un numar intreg de indivizi, nenegativ; estimatorii "
                               "numara indivizi");
    if (v > kMaxIndividuals)
        throw RuntimeError(err::Overflow, "Depasire: abundenta din " + where + " depaseste 2^53");
    return std::int64_t(v);
}

} // namespace

bool isSurveySheet(spreadsheet::Worksheet& ws) {
    const bool a1 = text::foldCase(ws.cell(1, 1).toText()) == "SPECIA";
    const CellValue b1 = ws.cell(1, 2);
    const bool samples =
        !endsSamples(b1) && text::foldCase(b1.toText()) != "ABUNDENTA" && !endsSamples(ws.cell(1, 3));
    const bool species = !ws.cell(2, 1).isBlank();
    return a1 && samples && species;
}

std::string Survey::range() const {
    return "A1:" + text::columnName(int(samples.size()) + 1) + std::to_string(lastRow);
}

Survey readSurvey(spreadsheet::Worksheet& ws) {
    Survey s;
    for (int column = 2; column <= 32767; ++column) {
        const CellValue heading = ws.cell(1, std::int16_t(column));
        if (endsSamples(heading)) break;
        s.samples.push_back(heading.toText());
    }
    const std::size_t units = s.samples.size();
    s.columns.resize(units);
    for (std::size_t k = 0; k < units; ++k)
        s.columns[k].label = ws.name() + " / " + s.samples[k];
    std::unordered_map<std::string, std::size_t> byKey, mergeOf;
    std::vector<std::string> names, keys;
    std::vector<std::int32_t> firstRows;
    std::vector<std::int64_t> row(units);
    for (int r = 2; r <= 32767; ++r) {
        const CellValue name = ws.cell(std::int16_t(r), 1);
        if (name.isBlank()) break;
        s.lastRow = r;
        bool seen = false;
        for (std::size_t k = 0; k < units; ++k) {
            row[k] = count(ws.cell(std::int16_t(r), std::int16_t(k + 2)), r, int(k + 2));
            seen = seen || row[k] > 0;
        }
        if (!seen) {
            ++s.zeroRows;
            continue;
        }
        std::string written = name.toText();
        const auto [at, fresh] = byKey.try_emplace(text::foldCase(trimmed(written)), s.species);
        if (fresh) {
            ++s.species;
            s.counts.insert(s.counts.end(), row.begin(), row.end());
            names.push_back(std::move(written));
            keys.push_back(at->first);
            firstRows.push_back(r);
        } else {
            std::int64_t* kept = s.counts.data() + at->second * units;
            for (std::size_t k = 0; k < units; ++k)
                kept[k] += row[k];
            const auto [m, first] = mergeOf.try_emplace(at->first, s.merged.size());
            if (first)
                s.merged.push_back({names[at->second], {firstRows[at->second], r}});
            else
                s.merged[m->second].rows.push_back(r);
        }
        for (std::size_t k = 0; k < units; ++k) {
            Community& c = s.columns[k];
            if (row[k] == 0) continue;
            if (double(row[k]) > kMaxIndividuals - double(c.individuals))
                throw RuntimeError(err::Overflow,
                                   "Depasire: totalul probei " + text::quotedExcerpt(s.samples[k]) +
                                       " depaseste 2^53 la celula " + text::cellAddress(r, int(k + 2)));
            c.individuals += row[k];
            c.lastRow = r;
        }
    }
    // Each sample's species from the merged rows, in the order first written.
    for (std::size_t k = 0; k < units; ++k)
        for (std::size_t i = 0; i < s.species; ++i)
            if (const std::int64_t n = s.counts[i * units + k]; n > 0)
                s.columns[k].species.push_back({names[i], keys[i], n, firstRows[i]});
    return s;
}

} // namespace ordana::job
