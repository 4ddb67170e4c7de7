#include "SheetReader.h"

#include "Workbook.h"
#include "analysis/SpeciesSample.h"
#include "common/Text.h"

#include <cmath>
#include <unordered_map>

namespace ordana::job {

void readSample(spreadsheet::Worksheet& sheet, SpeciesSample& sample) {
    forEachDataRow(sheet, [&](std::int16_t row, const CellValue&, const CellValue&) {
        // The abundance is read once more to be stored, as the classic reading always has.
        const CellValue stored = sheet.cell(row, 2);
        try {
            sample.append(stored);
        } catch (const RuntimeError& e) {
            const std::string where = "celula " + text::cellAddress(row, 2);
            if (e.number() == err::TypeMismatch)
                throw RuntimeError(e.number(), "Tip nepotrivit: abundenta din " + where + " (" +
                                                   text::quotedExcerpt(stored.toText()) +
                                                   ") nu este un numar");
            throw RuntimeError(e.number(), "Depasire: totalul abundentelor depaseste 32767 la " + where +
                                               " (abundenta " + text::quotedExcerpt(stored.toText()) + ")");
        }
    });
    sample.complete();
}

void readDataSheet(const spreadsheet::ApplicationFactory& start, const std::string& path,
                   const std::string& sheetName, SpeciesSample& sample,
                   spreadsheet::SpreadsheetHandles& handles) {
    sample.reset();
    openForReading(start, path, handles);
    handles.worksheet = handles.workbook->worksheet(sheetName);
    readSample(*handles.worksheet, sample);
    finish(handles, false);
}

namespace {

// Counts are whole individuals; beyond 2^53 a double no longer holds every whole number.
constexpr double kMaxIndividuals = 9007199254740992.0;

std::string trimmed(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r\n\xa0");
    if (first == std::string::npos) return {};
    const auto last = s.find_last_not_of(" \t\r\n\xa0");
    return s.substr(first, last - first + 1);
}

} // namespace

Community readCommunity(spreadsheet::Worksheet& sheet) {
    Community c;
    c.label = sheet.name();
    std::unordered_map<std::string, std::size_t> byKey;
    std::unordered_map<std::size_t, std::size_t> mergeOf; // species -> its entry in merged
    forEachDataRow(sheet, [&](std::int16_t row, const CellValue& name, const CellValue& count) {
        const std::string where = "celula " + text::cellAddress(row, 2);
        double value;
        try {
            value = count.toNumber();
        } catch (const RuntimeError&) {
            throw RuntimeError(err::TypeMismatch, "Tip nepotrivit: abundenta din " + where + " (" +
                                                      text::quotedExcerpt(count.toText()) +
                                                      ") nu este un numar");
        }
        if (!(value >= 0) || value != std::floor(value))
            throw RuntimeError(err::TypeMismatch, "Tip nepotrivit: abundenta din " + where + " (" +
                                                      text::quotedExcerpt(count.toText()) +
                                                      ") nu este un numar intreg de indivizi, nenegativ; "
                                                      "estimatorii numara indivizi");
        c.lastRow = row;
        if (value == 0) {
            ++c.zeroRows;
            return;
        }
        if (value > kMaxIndividuals - double(c.individuals))
            throw RuntimeError(err::Overflow, "Depasire: totalul abundentelor depaseste 2^53 la " + where +
                                                  " (abundenta " + text::quotedExcerpt(count.toText()) +
                                                  "); estimatorii numara indivizi exact doar pana acolo");
        const auto n = std::int64_t(value);
        c.individuals += n;
        std::string written = name.toText();
        std::string key = text::foldCase(trimmed(written));
        const auto [at, fresh] = byKey.try_emplace(std::move(key), c.species.size());
        if (fresh) {
            c.species.push_back({std::move(written), at->first, n, row});
            return;
        }
        Community::Species& s = c.species[at->second];
        s.count += n;
        const auto [m, first] = mergeOf.try_emplace(at->second, c.merged.size());
        if (first)
            c.merged.push_back({s.name, {s.row, row}});
        else
            c.merged[m->second].rows.push_back(row);
    });
    return c;
}

} // namespace ordana::job
