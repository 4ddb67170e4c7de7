#include "ReportFile.h"

#include "common/RuntimeError.h"
#include "common/Text.h"
#include "spreadsheet/file/Document.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <span>

namespace ordana::job {

namespace fs = std::filesystem;

namespace {

fs::path pathOf(const std::string& utf8) {
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

[[noreturn]] void refuse(const std::string& report, const std::string& why) {
    throw RuntimeError(err::Application, "Raportul " + text::quoted(report) + " " + why);
}

// The signatures a workbook file starts with: an OLE2 compound file (.xls), a zip package (.xlsx, .ods).
bool startsLikeAWorkbook(const std::string& path) {
    std::ifstream in(pathOf(path), std::ios::binary);
    std::array<unsigned char, 8> head{};
    in.read(reinterpret_cast<char*>(head.data()), head.size());
    const auto got = in.gcount();
    static constexpr unsigned char ole2[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    if (got == 8 && std::equal(head.begin(), head.end(), ole2)) return true;
    return got >= 4 && head[0] == 'P' && head[1] == 'K' && head[2] < 8 && head[3] < 9;
}

bool hasWorkbookExtension(const std::string& path) {
    std::string extension = pathOf(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    for (const char* e :
         {".xls", ".xlsx", ".xlsm", ".xlsb", ".xlt", ".xltx", ".xltm", ".ods", ".ots", ".fods"})
        if (extension == e) return true;
    return false;
}

bool sameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    if (fs::equivalent(pathOf(a), pathOf(b), ec)) return true;
    // Neither need exist yet: then their names say whether they are one.
    const fs::path x = fs::weakly_canonical(fs::absolute(pathOf(a), ec), ec);
    const fs::path y = fs::weakly_canonical(fs::absolute(pathOf(b), ec), ec);
    return !ec && x == y;
}

} // namespace

void checkReportPath(const std::string& report, const std::vector<std::string>& workbooks) {
    for (const auto& workbook : workbooks)
        if (sameFile(report, workbook))
            refuse(report,
                   "este registrul " + text::quoted(workbook) + " al acestei rulari; nu a fost scris nimic");
    switch (spreadsheet::pathKind(report)) {
    case spreadsheet::PathKind::Folder:
        refuse(report, "este un dosar");
    case spreadsheet::PathKind::Link:
        refuse(report, "este o legatura simbolica; dati calea fisierului insusi");
    case spreadsheet::PathKind::Other:
        refuse(report, "nu este un fisier obisnuit");
    case spreadsheet::PathKind::Regular:
        if (startsLikeAWorkbook(report)) refuse(report, "este un registru de calcul; nu a fost scris nimic");
        break;
    case spreadsheet::PathKind::Missing:
        break;
    }
    if (hasWorkbookExtension(report))
        refuse(report, "are extensia unui registru de calcul; raportul este o pagina HTML");
}

std::string reportBeside(const std::string& workbook) {
    const fs::path p = pathOf(workbook);
    const std::u8string name = p.stem().u8string() + u8" - estimari.html";
    const std::u8string full = (p.parent_path() / fs::path(name)).u8string();
    return std::string(full.begin(), full.end());
}

void writeReport(const std::string& path, const std::string& html) {
    spreadsheet::writeDocument(
        path, std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(html.data()), html.size()));
}

} // namespace ordana::job
