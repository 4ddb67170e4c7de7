#include "Batch.h"
#include "spreadsheet/LargeBuffer.h"

#include <clocale>
#include <iostream>
#include <malloc.h>
#include <stdexcept>
#include <unistd.h>

int main(int argc, char* argv[]) {
    // Text abundances read with the user's decimal separator, as in the windowed application.
    std::setlocale(LC_ALL, "");
    // A workbook's buffers of many megabytes come and go several times per run; kept in the heap rather than
    // mapped and unmapped each time, their pages are touched once instead of faulted in again and again.
    // 32 MiB is the largest threshold glibc accepts on 64-bit systems; it refuses more and keeps its default.
    (void)mallopt(M_MMAP_THRESHOLD, 32 << 20);
    (void)mallopt(M_TRIM_THRESHOLD, 256 << 20);
    (void)mallopt(M_TOP_PAD, 16 << 20);
    // And faulted in by huge pages: a run touches tens of megabytes of fresh heap. The windowed application
    // lives on and would keep such memory; this process ends with its job.
    ordana::spreadsheet::adviseHugeHeap(std::size_t(96) << 20);
    using namespace ordana::cli;
    Options options;
    try {
        options = parseArguments(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::invalid_argument& e) {
        std::cerr << "ordana-cli: " << e.what() << "\n\n" << usageText();
        return ExitUsage;
    }
    return runBatch(options, ordana::spreadsheet::nativeApplicationFactory(), std::cout, std::cerr,
                    isatty(STDERR_FILENO) != 0);
}
