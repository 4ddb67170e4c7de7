#pragma once

// Fixtures, scratch copies and the independent reader, for the engine tests.

#include "spreadsheet/file/FileAccess.h"
#include "spreadsheet/xls/CompoundFile.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace ordana::testing {

inline std::filesystem::path fixtures() {
    const char* dir = std::getenv("ORDANA_FIXTURES");
    return dir ? dir : "tests/fixtures";
}

// A fresh folder per test, removed at the end.
class ScratchDir {
  public:
    ScratchDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = std::filesystem::temp_directory_path() /
                ("ordana-xls-" + std::string(info ? info->name() : "t") + "-" + std::to_string(::getpid()));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() { std::filesystem::remove_all(path_); }
    const std::filesystem::path& path() const { return path_; }
    std::string copy(const std::string& fixture, const std::string& as = {}) const {
        const auto target = path_ / (as.empty() ? fixture : as);
        std::filesystem::copy_file(fixtures() / fixture, target,
                                   std::filesystem::copy_options::overwrite_existing);
        return target.string();
    }

  private:
    std::filesystem::path path_;
};

inline std::vector<std::uint8_t> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline void writeFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::vector<std::uint8_t> workbookStream(const std::string& path) {
    return spreadsheet::cfb::CompoundFile::parse(fileBytes(path)).stream("Workbook");
}

// Lines printed by a command (stderr discarded); empty when the command cannot run.
inline std::vector<std::string> commandLines(const std::string& command, int* status = nullptr) {
    std::vector<std::string> out;
    FILE* p = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (!p) return out;
    std::string line;
    std::array<char, 4096> buf{};
    while (std::fgets(buf.data(), int(buf.size()), p)) {
        line += buf.data();
        if (!line.empty() && line.back() == '\n') {
            line.pop_back();
            out.push_back(line);
            line.clear();
        }
    }
    if (!line.empty()) out.push_back(line);
    const int rc = ::pclose(p);
    if (status) *status = rc;
    return out;
}

inline std::string toolsDir() {
    return (fixtures().parent_path() / "tools").string();
}

// What python3-xlrd sees, one fact a line (tests/tools/xls_dump.py --lines).
inline std::vector<std::string> xlrdLines(const std::string& file) {
    return commandLines("/usr/bin/python3 " + toolsDir() + "/xls_dump.py --lines '" + file + "'");
}

// LibreOffice headless converts FILES (names inside DIR) with FILTER into DIR/OUTDIR, on a profile kept
// inside DIR: two instances on one profile at once hand their work to each other, and the one that exits
// first takes the other's files with it.
inline void libreOfficeConvert(const ScratchDir& dir, const std::string& filter, const std::string& outDir,
                               const std::string& files) {
    commandLines("cd '" + dir.path().string() +
                 "' && timeout 300 soffice --headless -env:UserInstallation=file://" +
                 (dir.path() / ".lo-profile").string() + " --convert-to '" + filter + "' --outdir '" +
                 outDir + "' " + files);
}

} // namespace ordana::testing
