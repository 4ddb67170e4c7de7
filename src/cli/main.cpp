#include "Batch.h"
#include "spreadsheet/LargeBuffer.h"

#include <clocale>
#include <iostream>
#include <stdexcept>
#include <unistd.h>

int main(int argc, char* argv[]) {
    // Text abundances read with the user's decimal separator, as in the windowed application.
    std::setlocale(LC_ALL, "");
    // A heap that keeps what it is given back, faulted in by huge pages. Not for the windowed application,
    // which lives on and would keep it; this process ends with its job.
    ordana::spreadsheet::prepareHeapForAJob(std::size_t(96) << 20);
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
