#pragma once

// An in-memory spreadsheet engine for tests: workbooks keyed by path, a log of every operation, and failures
// injected by operation name.

#include "spreadsheet/Spreadsheet.h"

#include <deque>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace ordana {
// Readable values in test failures.
inline void PrintTo(const CellValue& v, std::ostream* os) {
    static const char* kinds[] = {"empty", "number", "text", "boolean", "error"};
    *os << kinds[int(v.kind())] << '(' << v.toText() << ')';
}
} // namespace ordana

namespace ordana::testing {

struct FakeSheet {
    std::string name;
    std::map<std::pair<int, int>, CellValue> cells;
    std::map<int, double> columnWidths;
    std::map<int, int> columnAlignments;
    std::map<int, std::string> columnFormats;
    std::map<std::pair<int, int>, bool> bold;
    std::vector<std::vector<int>> borders; // {firstRow, firstColumn, lastRow, lastColumn, lineStyle, weight}

    void set(int row, int column, CellValue value) { cells[{row, column}] = std::move(value); }
    CellValue get(int row, int column) const {
        auto it = cells.find({row, column});
        return it == cells.end() ? CellValue() : it->second;
    }
};

struct FakeBook {
    std::deque<FakeSheet> sheets; // stable references while sheets are added
    std::string activeSheet;
    int saves = 0;
    FakeSheet& sheet(const std::string& name);
};

// Shared state of every application the factory starts.
struct FakeEngine {
    std::map<std::string, FakeBook> files;
    std::vector<std::string> log; // "start", "open PATH", "list", "name 1", "pick NAME", "cell R C", ...
    std::string failOperation;    // the operation (first word of a log line) that fails
    int failNumber = 0;
    int failAfter = 0;     // how many matching calls succeed before the failure
    bool failOnce = false; // fail only the first time it triggers

    // The factory to hand to the code under test.
    spreadsheet::ApplicationFactory factory();
    void fail(std::string operation, int number, int after = 0, bool once = false) {
        failOperation = std::move(operation);
        failNumber = number;
        failAfter = after;
        failOnce = once;
    }
    // Throws the injected failure when operation matches.
    void hit(const std::string& entry);
    int count(const std::string& operation) const;
    int openApplications = 0;
    int openWorkbooks = 0;
};

} // namespace ordana::testing
