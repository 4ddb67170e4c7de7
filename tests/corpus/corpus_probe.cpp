// One workbook through the engine as a job would take it: open for writing, list the sheets, write the
// results table into the first worksheet, activate it, close with saving. Prints one JSON line saying what
// happened; a crash or a hang is for the caller to see.

#include "analysis/ResultsWriter.h"
#include "common/RuntimeError.h"
#include "job/Workbook.h"
#include "spreadsheet/Spreadsheet.h"
#include "support/SampleResults.h"

#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>
#include <string>

namespace {

std::string jsonText(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

// The peak of this program's own memory: the kernel's account of a child also holds what its parent had
// before the exec.
long peakKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::cerr << "usage: corpus_probe WORKBOOK (changed in place)\n";
        return 2;
    }
    using namespace ordana;
    spreadsheet::SpreadsheetHandles h;
    std::string stage = "start";
    try {
        h.application = spreadsheet::nativeApplicationFactory()();
        stage = "open";
        h.workbook = h.application->openForWriting(argv[1]);
        stage = "list";
        const auto count = h.workbook->worksheetCount();
        std::string first;
        for (std::int16_t i = 1; i <= count; ++i) {
            const std::string name = h.workbook->worksheetName(i);
            if (i == 1) first = name;
        }
        if (count == 0) {
            h.workbook->close(false);
            std::cout << "{\"status\":\"no-worksheet\"}\n";
            return 0;
        }
        stage = "write";
        h.worksheet = h.workbook->worksheet(first);
        const auto column = writeResultsTable(*h.worksheet, testing::dateSheetResults());
        h.worksheet->activate();
        stage = "save";
        h.workbook->close(true);
        h.quit();
        std::cout << "{\"status\":\"saved\",\"sheet\":" << jsonText(first) << ",\"column\":" << column
                  << ",\"peak_kib\":" << peakKiB() << "}\n";
    } catch (const RuntimeError& e) {
        job::abandon(h);
        std::cout << "{\"status\":\"refused\",\"stage\":\"" << stage << "\",\"number\":" << e.number()
                  << ",\"message\":" << jsonText(e.description()) << ",\"peak_kib\":" << peakKiB() << "}\n";
    } catch (const std::exception& e) {
        // Anything but the engine's own error is a fault: its text was never meant for a user.
        job::abandon(h);
        std::cout << "{\"status\":\"escaped\",\"stage\":\"" << stage
                  << "\",\"message\":" << jsonText(e.what()) << "}\n";
    }
    return 0;
}
