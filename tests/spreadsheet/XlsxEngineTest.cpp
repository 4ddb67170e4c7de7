#include "XlsTestFiles.h"
#include "job/Run.h"
#include "job/Workbook.h"
#include "support/ErrorAssert.h"
#include "support/SampleResults.h"

#include "analysis/ResultsWriter.h"
#include "job/SheetReader.h"
#include "job/Sheets.h"
#include "spreadsheet/NativeEngine.h"
#include "spreadsheet/xls/CompoundFile.h"
#include "spreadsheet/xlsx/XlsxParts.h"
#include "spreadsheet/xlsx/XlsxWorkbook.h"
#include "spreadsheet/zip/ZipArchive.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace ordana;
using namespace ordana::spreadsheet;
using ordana::testing::fileBytes;
using ordana::testing::fixtures;
using ordana::testing::ScratchDir;
using ordana::testing::writeFileBytes;

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string kMainNs = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";

std::shared_ptr<Workbook> openBytes(Bytes b, const std::string& name = "/test/carte.xlsx") {
    return openNativeWorkbook(SourceFile::fromBytes(std::move(b), name));
}

// The fixture with some of its entries given new contents (or dropped, for an empty replacement).
Bytes edited(const std::string& fixture, const std::vector<std::pair<std::string, std::string>>& changes) {
    auto file = std::make_shared<const FileBytes>(fileBytes((fixtures() / fixture).string()));
    zip::Archive a = zip::Archive::parse(file);
    zip::ArchiveWriter w(a);
    for (const auto& [name, content] : changes) {
        if (content.empty())
            w.remove(name);
        else
            w.replace(name, Bytes(content.begin(), content.end()));
    }
    Bytes out;
    w.writeTo([&](std::span<const std::uint8_t> p) { out.insert(out.end(), p.begin(), p.end()); });
    return out;
}

std::string entryText(const std::string& fixture, const std::string& name) {
    auto file = std::make_shared<const FileBytes>(fileBytes((fixtures() / fixture).string()));
    zip::Archive a = zip::Archive::parse(file);
    const Bytes b = a.read(*a.find(name));
    return {b.begin(), b.end()};
}

std::string replaced(std::string s, const std::string& from, const std::string& to) {
    const auto at = s.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) s.replace(at, from.size(), to);
    return s;
}

// --- Cell references, read on every cell of a sheet ------------------------------------------------------

TEST(XlsxCellRef, ReadsReferencesAndRefusesWhatIsNoCell) {
    struct Case {
        const char* ref;
        int row, column; // 0: not a reference
    };
    const Case cases[] = {
        {"A1", 1, 1},
        {"b7", 7, 2},
        {"$C$3", 3, 3},
        {"AZ10", 10, 52},
        {"XFD1048576", 1048576, 16384},
        {"XFE1", 0, 0},
        {"A0", 0, 0},
        {"A1048577", 0, 0},
        {"AAAA1", 0, 0},
        {"1A", 0, 0},
        {"A", 0, 0},
        {"", 0, 0},
        {"A1 ", 0, 0},
        {"@1", 0, 0},
        {"[1", 0, 0},
        {"`1", 0, 0},
        {"{1", 0, 0},
        {"\xc3\x89\x31", 0, 0}, // "É1"
        {"A\xd9", 0, 0},
        {"A-1", 0, 0},
    };
    for (const Case& c : cases) {
        int row = -1, column = -1;
        const bool ok = xlsx::parseCellRef(c.ref, row, column);
        EXPECT_EQ(ok, c.row != 0) << c.ref;
        if (ok) {
            EXPECT_EQ(std::pair(row, column), std::pair(c.row, c.column)) << c.ref;
        }
    }
}

TEST(XlsxCellRef, AFormulaMovedReadsFromItsNewCellAsBefore) {
    struct Case {
        const char* formula;
        int rows, columns;
        const char* moved; // nullptr: a reference would leave the sheet
    };
    const Case cases[] = {
        {"B1*2", 1, 0, "B2*2"},
        {"$B$1+B$1+$B1", 2, 3, "$B$1+E$1+$B3"},
        {"SUM(A1:B2)/COUNT(Sheet2!C3)", 1, 1, "SUM(B2:C3)/COUNT(Sheet2!D4)"},
        {"'My Sheet 1'!A1&\"A1 and ''B2''\"", 1, 0, "'My Sheet 1'!A2&\"A1 and ''B2''\""},
        {"SUM(A:A)+SUM(1:2)+SUM($C:C)", 1, 1, "SUM(B:B)+SUM(2:3)+SUM($C:D)"},
        {"LOG10(A1)+Table1[[#This Row],[B1]]+1.5E3+TRUE", 0, 1,
         "LOG10(B1)+Table1[[#This Row],[B1]]+1.5E3+TRUE"},
        {"#REF!+A1", 3, 0, "#REF!+A4"},
        {"A1", -1, 0, nullptr},
        {"XFD1", 0, 1, nullptr},
    };
    for (const Case& c : cases) {
        const auto moved = xlsx::movedFormula(c.formula, c.rows, c.columns);
        if (c.moved)
            EXPECT_EQ(moved, std::optional<std::string>(c.moved)) << c.formula;
        else
            EXPECT_EQ(moved, std::nullopt) << c.formula;
    }
}

// --- Reading: the same values as the .xls twins of each producer -------------------------------------------

TEST(XlsxRead, SheetsAndValuesMatchTheXlsTwins) {
    for (const auto& [xlsx, xls] :
         std::vector<std::pair<std::string, std::string>>{{"basic-libreoffice.xlsx", "basic-libreoffice.xls"},
                                                          {"basic-gnumeric.xlsx", "basic-gnumeric.xls"}}) {
        auto a = openNativeWorkbook(SourceFile::read((fixtures() / xlsx).string()));
        auto b = openNativeWorkbook(SourceFile::read((fixtures() / xls).string()));
        ASSERT_EQ(a->worksheetCount(), b->worksheetCount()) << xlsx;
        for (std::int16_t i = 1; i <= a->worksheetCount(); ++i) {
            ASSERT_EQ(a->worksheetName(i), b->worksheetName(i)) << xlsx;
            auto wa = a->worksheet(a->worksheetName(i));
            auto wb = b->worksheet(b->worksheetName(i));
            for (std::int16_t r = 1; r <= 9; ++r)
                for (std::int16_t c = 1; c <= 4; ++c)
                    EXPECT_EQ(wa->cell(r, c), wb->cell(r, c))
                        << xlsx << " " << a->worksheetName(i) << " " << r << "," << c;
        }
        a->close(false);
        b->close(false);
    }
}

TEST(XlsxRead, WorksheetsInWorkbookOrderWithoutChartDialogOrMacroSheets) {
    const struct {
        const char* file;
        std::vector<std::string> sheets;
    } cases[] = {{"basic-source.xlsx", {"Date", "Note", "Lista", "Ascunsa", "Plin"}},
                 {"features-xlsxwriter.xlsx", {"Date", "Grafic"}},
                 {"strict-collapsed-hide.xlsx", {}},
                 {"mixed-sheets.xlsx", {}}};
    for (const auto& c : cases) {
        auto wb = openNativeWorkbook(SourceFile::read((fixtures() / c.file).string()));
        std::vector<std::string> names;
        for (std::int16_t i = 1; i <= wb->worksheetCount(); ++i)
            names.push_back(wb->worksheetName(i));
        if (!c.sheets.empty()) {
            EXPECT_EQ(names, c.sheets) << c.file;
        }
        EXPECT_FALSE(names.empty()) << c.file;
        // Every listed sheet reads, whatever its producer.
        for (const auto& n : names)
            for (std::int16_t r = 1; r <= 30; ++r)
                for (std::int16_t col = 1; col <= 8; ++col)
                    (void)wb->worksheet(n)->cell(r, col);
    }
}

TEST(XlsxRead, PrefixesRichTextInlineStringsAndCellsWithoutReferences) {
    const std::string& ns = kMainNs;
    const std::string sheet =
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<x:worksheet xmlns:x=\"" + ns +
        "\"><x:sheetData><x:row><x:c t=\"inlineStr\"><x:is><x:t>SPECIA</x:t></x:is></x:c><x:c "
        "t=\"s\"><x:v>0</x:v>"
        "</x:c></x:row><x:row><x:c t=\"b\"><x:v>1</x:v></x:c><x:c><x:f>1+1</x:f><x:v>2</x:v></x:c><x:c "
        "t=\"e\">"
        "<x:v>#N/A</x:v></x:c><x:c "
        "t=\"str\"><x:f>\"a\"</x:f><x:v>a</x:v></x:c></x:row></x:sheetData></x:worksheet>";
    const std::string sst =
        "<sst xmlns=\"" + ns +
        "\"><si><r><t>ABUN</t></r><r><rPr><b/></rPr><t>DENTA</t></r><rPh><t>x</t></rPh></si></sst>";
    auto wb = openBytes(
        edited("mixed-sheets.xlsx", {{"xl/worksheets/sheet1.xml", sheet}, {"xl/sharedStrings.xml", sst}}));
    auto ws = wb->worksheet(wb->worksheetName(1));
    EXPECT_TRUE(job::isDataSheet(*ws)) << "A1 inline, B1 shared rich text, B2 a formula's cached value";
    EXPECT_EQ(ws->cell(2, 1), CellValue::boolean(true));
    EXPECT_EQ(ws->cell(2, 2), CellValue::number(2));
    EXPECT_EQ(ws->cell(2, 3), CellValue::error(0x2A));
    EXPECT_EQ(ws->cell(2, 4), CellValue::text("a"));
    EXPECT_EQ(ws->cell(3, 1), CellValue());
}

// A sheet is parsed by the plain parser and, past what that reads, by expat: the values are the same either
// way, and a fault is named where expat finds it.
TEST(XlsxRead, SheetsBeyondThePlainFormReadTheSameAndFaultsKeepTheirPlace) {
    const std::string& ns = kMainNs;
    // Past the first rows, which the data-sheet test reads on its own.
    std::string filler;
    for (int r = 2; r < 32; ++r)
        filler += "<row r=\"" + std::to_string(r) + "\"><c><v>1</v></c></row>";
    auto sheet = [&](const std::string& rows) {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<worksheet xmlns=\"" + ns +
               "\"><sheetData><row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>SPECIA</t></is></c></row>" +
               filler + rows + "</sheetData></worksheet>";
    };
    const std::string a2 = "<row r=\"32\"><c r=\"A32\" t=\"inlineStr\"><is><t>";
    const struct {
        const char* what;
        std::string rows;
        CellValue a2;
        const char* fault; // nullptr: reads
    } cases[] = {
        {"plain", a2 + "a &amp; b</t></is></c></row>", CellValue::text("a & b"), nullptr},
        {"a comment", "<!-- x -->" + a2 + "a</t></is></c></row>", CellValue::text("a"), nullptr},
        {"CDATA", a2 + "<![CDATA[a<b]]></t></is></c></row>", CellValue::text("a<b"), nullptr},
        {"a character reference", a2 + "a&#10;b</t></is></c></row>", CellValue::text("a\nb"), nullptr},
        {"lines ended by CR LF", a2 + "a\r\nb</t></is></c></row>\r\n", CellValue::text("a\nb"), nullptr},
        {"an unbound prefix", a2 + "a</t></is></c><q:x/></row>", CellValue(),
         "nu este XML corect (linia 2, coloana "},
        {"a mismatched tag", "\n" + a2 + "a</t></c></row>", CellValue(),
         "nu este XML corect (linia 3, coloana 51): mismatched tag"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto wb = openBytes(edited("mixed-sheets.xlsx", {{"xl/worksheets/sheet1.xml", sheet(c.rows)}}));
        auto ws = wb->worksheet(wb->worksheetName(1));
        if (c.fault) {
            EXPECT_RUNTIME_ERROR(ws->cell(32, 1), err::Application, c.fault);
            continue;
        }
        EXPECT_EQ(ws->cell(1, 1), CellValue::text("SPECIA"));
        EXPECT_EQ(ws->cell(32, 1), c.a2);
    }
    // The shared strings the same way.
    for (const std::string& second : {std::string("<t>y z</t>"), std::string("<!-- c --><t>y&#10;z</t>")}) {
        SCOPED_TRACE(second);
        const std::string sst = "<sst xmlns=\"" + ns + "\"><si><t>x</t></si><si>" + second + "</si></sst>";
        auto wb = openBytes(edited(
            "mixed-sheets.xlsx",
            {{"xl/worksheets/sheet1.xml", sheet("<row r=\"32\"><c r=\"A32\" t=\"s\"><v>1</v></c></row>")},
             {"xl/sharedStrings.xml", sst}}));
        EXPECT_EQ(wb->worksheet(wb->worksheetName(1))->cell(32, 1),
                  CellValue::text(second.size() < 12 ? "y z" : "y\nz"));
    }
    // A fault at the very first element, an empty one: the table is refused, and only the cells that need it.
    auto wb = openBytes(
        edited("mixed-sheets.xlsx",
               {{"xl/worksheets/sheet1.xml", sheet("<row r=\"32\"><c r=\"A32\" t=\"s\"><v>1</v></c></row>")},
                {"xl/sharedStrings.xml", "<q:sst/>"}}));
    EXPECT_RUNTIME_ERROR(wb->worksheet(wb->worksheetName(1))->cell(32, 1), err::Application,
                         "partea \"xl/sharedStrings.xml\" nu este XML corect");
}

TEST(XlsxRead, ABrokenSharedStringsTableIsReadOnceForAllTheCellsThatNeedIt) {
    // A large table broken in its first item, and a sheet of thousands of cells that need it: read again for
    // each cell, the sheet would take minutes; each cell fails alike, and those that need no table read.
    const std::string& ns = kMainNs;
    std::string sst = "<sst xmlns=\"" + ns + "\"><si><t>x</t>";
    for (int i = 0; i < 100000; ++i)
        sst += "<si><t>specia " + std::to_string(i) + "</t></si>";
    sst += "</sst>";
    std::string rows;
    const int cells = 3000;
    for (int r = 1; r <= cells; ++r)
        rows += "<row r=\"" + std::to_string(r) + "\"><c t=\"s\"><v>" + std::to_string(r) + "</v></c><c><v>" +
                std::to_string(r) + "</v></c></row>";
    auto wb = openBytes(edited("mixed-sheets.xlsx",
                               {{"xl/worksheets/sheet1.xml", "<worksheet xmlns=\"" + ns + "\"><sheetData>" +
                                                                 rows + "</sheetData></worksheet>"},
                                {"xl/sharedStrings.xml", sst}}));
    auto ws = wb->worksheet(wb->worksheetName(1));
    for (int r = 1; r <= cells; ++r) {
        EXPECT_EQ(ws->cell(std::int16_t(r), 2), CellValue::number(r));
        try {
            ws->cell(std::int16_t(r), 1);
            ADD_FAILURE() << "row " << r << " read a string from a broken table";
        } catch (const RuntimeError& e) {
            EXPECT_NE(std::string(e.what()).find("partea \"xl/sharedStrings.xml\" nu este XML corect"),
                      std::string::npos)
                << e.what();
        }
    }
}

TEST(XlsxRead, AStringTableIsReadOnlyAsFarAsTheCellsNeedIt) {
    // Broken after the items the sheet needs: the data-sheet test and the sheet read. What needs the whole
    // table names its fault: a text written, and a save that drops a text's reference, which leaves the file
    // as it was.
    std::string sst =
        "<sst xmlns=\"" + kMainNs + "\" count=\"3\"><si><t>SPECIA</t></si><si><t>ABUNDENTA</t></si>";
    for (int i = 0; i < 20000; ++i)
        sst += "<si><t>Specia " + std::to_string(i) + "</t></si>";
    sst += "<si><t>x</t></sst>";
    const std::string rows =
        "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>1</v></c></row>"
        "<row r=\"2\"><c r=\"A2\" t=\"s\"><v>2</v></c><c r=\"B2\"><v>5</v></c></row>";
    ScratchDir dir;
    const std::string path = (dir.path() / "rupt.xlsx").string();
    writeFileBytes(path, edited("mixed-sheets.xlsx", {{"xl/worksheets/sheet1.xml",
                                                       "<worksheet xmlns=\"" + kMainNs + "\"><sheetData>" +
                                                           rows + "</sheetData></worksheet>"},
                                                      {"xl/sharedStrings.xml", sst}}));
    const Bytes before = fileBytes(path);
    auto wb = nativeApplicationFactory()()->open(path);
    auto ws = wb->worksheet(wb->worksheetName(1));
    EXPECT_TRUE(job::isDataSheet(*ws));
    EXPECT_EQ(ws->cell(2, 1), CellValue::text("Specia 0"));
    const char* fault = "partea \"xl/sharedStrings.xml\" nu este XML corect";
    EXPECT_RUNTIME_ERROR(ws->setCell(1, 3, CellValue::text("Indici")), err::Application, fault);
    ws->setCell(2, 1, CellValue::number(7));
    EXPECT_RUNTIME_ERROR(wb->close(true), err::Application, fault);
    EXPECT_EQ(fileBytes(path), before);
}

TEST(XlsxRead, TheDataSheetTestReadsOnlyTheFirstRows) {
    // A sheet broken after its third row: the test of A1, B1 and B2 never reaches the fault; row 5 does.
    std::string sheet = entryText("basic-source.xlsx", "xl/worksheets/sheet1.xml");
    sheet = replaced(sheet, "<row r=\"4\">", "<row r=\"4\"><broken>");
    auto wb = openBytes(edited("basic-source.xlsx", {{"xl/worksheets/sheet1.xml", sheet}}));
    auto ws = wb->worksheet("Date");
    EXPECT_TRUE(job::isDataSheet(*ws));
    EXPECT_RUNTIME_ERROR(ws->cell(5, 1), err::Application,
                         "partea \"xl/worksheets/sheet1.xml\" nu este XML corect");
}

// --- Hostile and foreign packages
// ----------------------------------------------------------------------------

TEST(XlsxOpen, RefusesWhatItCannotWriteNamingIt) {
    const std::string types = entryText("basic-source.xlsx", "[Content_Types].xml");
    const std::string main = "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml";
    Bytes encrypted;
    cfb::CompoundFile::create({{"EncryptionInfo", Bytes(64, 1)}, {"EncryptedPackage", Bytes(4096, 2)}})
        .writeTo(
            [&](std::span<const std::uint8_t> p) { encrypted.insert(encrypted.end(), p.begin(), p.end()); });
    Bytes truncated = fileBytes((fixtures() / "basic-source.xlsx").string());
    truncated.resize(3000);
    const struct {
        const char* what;
        Bytes file;
        const char* fragment;
    } cases[] = {
        {"encrypted package", encrypted,
         "Registrul este protejat cu parola (criptat) si nu poate fi deschis"},
        {"template",
         edited(
             "basic-source.xlsx",
             {{"[Content_Types].xml",
               replaced(types, main,
                        "application/vnd.openxmlformats-officedocument.spreadsheetml.template.main+xml")}}),
         "sablon Excel (.xltx)"},
        {"add-in",
         edited("basic-source.xlsx",
                {{"[Content_Types].xml",
                  replaced(types, main, "application/vnd.ms-excel.addin.macroEnabled.main+xml")}}),
         "supliment Excel (.xlam)"},
        {"no content types", edited("basic-source.xlsx", {{"[Content_Types].xml", ""}}),
         "nu un registru de calcul"},
        {"OpenDocument",
         edited("basic-source.xlsx", {{"[Content_Types].xml", ""},
                                      {"mimetype", "application/vnd.oasis.opendocument.spreadsheet"}}),
         "nu contine partea \"content.xml\""},
        {"no main document",
         edited(
             "basic-source.xlsx",
             {{"_rels/.rels",
               "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"/>"}}),
         "documentul principal"},
        {"two sheets in one part",
         edited("basic-source.xlsx", {{"xl/_rels/workbook.xml.rels",
                                       replaced(entryText("basic-source.xlsx", "xl/_rels/workbook.xml.rels"),
                                                "worksheets/sheet2.xml", "worksheets/sheet1.xml")}}),
         "trimit la aceeasi parte \"xl/worksheets/sheet1.xml\""},
        {"broken workbook part", edited("basic-source.xlsx", {{"xl/workbook.xml", "<workbook><sheets>"}}),
         "partea \"xl/workbook.xml\" nu este XML corect"},
        {"more worksheets than can be numbered",
         edited(
             "basic-source.xlsx",
             {{"xl/workbook.xml",
               replaced(entryText("basic-source.xlsx", "xl/workbook.xml"), "</sheets>",
                        [] {
                            std::string s;
                            for (int i = 0; i < 32767; ++i)
                                s += "<sheet xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                                     "relationships\" name=\"S" +
                                     std::to_string(i) + "\" sheetId=\"" + std::to_string(i + 10) +
                                     "\" r:id=\"rId1\"/>";
                            return s + "</sheets>";
                        }())}}),
         "are 32772 de foi de calcul, peste limita de 32767"},
        {"truncated package", truncated, "arhive zip"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_RUNTIME_ERROR(openBytes(c.file), err::Application, c.fragment);
    }
}

// --- The table, saved: judged by openpyxl and zipfile, read back by us ------------------------------------

class XlsxTable : public ::testing::TestWithParam<const char*> {};

TEST_P(XlsxTable, WrittenSavedAndJudgedByOtherPrograms) {
    ScratchDir dir;
    const std::string path = dir.copy(GetParam());
    const std::string original = dir.copy(GetParam(), std::string("original-") + GetParam());
    SpreadsheetHandles handles;
    job::saveIndicesTable(nativeApplicationFactory(), path, "Date", ordana::testing::dateSheetResults(),
                          handles);

    int status = -1;
    const auto faults =
        ordana::testing::commandLines("/usr/bin/python3 " + ordana::testing::toolsDir() +
                                          "/check_xlsx_table.py '" + original + "' '" + path + "' Date C",
                                      &status);
    EXPECT_EQ(status, 0) << GetParam();
    for (const auto& f : faults)
        ADD_FAILURE() << GetParam() << ": " << f;

    // Our reader sees the table; a second run puts the next table three columns further right.
    auto wb = nativeApplicationFactory()()->open(path);
    EXPECT_EQ(wb->worksheet("Date")->cell(1, 4), CellValue::text("Indici"));
    EXPECT_EQ(wb->worksheet("Date")->cell(2, 5), CellValue::number(12));
    wb->close(false);
    job::saveIndicesTable(nativeApplicationFactory(), path, "Date", ordana::testing::dateSheetResults(),
                          handles);
    auto again = nativeApplicationFactory()()->open(path);
    EXPECT_EQ(again->worksheet("Date")->cell(1, 7), CellValue::text("Indici"));
    EXPECT_EQ(again->worksheet("Date")->cell(1, 4), CellValue::text("Indici"));
}

INSTANTIATE_TEST_SUITE_P(Producers, XlsxTable,
                         ::testing::Values("basic-source.xlsx", "basic-libreoffice.xlsx",
                                           "basic-gnumeric.xlsx", "features-xlsxwriter.xlsx",
                                           "macro-xlsxwriter.xlsm"),
                         [](const auto& info) {
                             std::string n = info.param;
                             for (char& c : n)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return n;
                         });

// Packages met in the world or made to break an engine: the table written into the sheet, and every entry
// and every other sheet kept; or a refusal that names the cause, the file left as it was.
TEST(XlsxTable, HostileAndOddPackagesGetTheirTableOrARefusalNamingTheCause) {
    const struct {
        const char* file;
        const char* sheet;
        const char* refusal; // nullptr: saved
    } cases[] = {
        {"hostile-sst_empty_root.xlsx", "Date", nullptr},
        {"elsewhere-npoi-55406-empty-sst.xlsx", "Summary", nullptr},
        {"hostile-styles_prefixed.xlsx", "Date", nullptr},
        {"hostile-dup_sheet_names_case.xlsx", "DATE", nullptr},
        {"hostile-bomb_workbook_nodes_50.xlsx", "Date", nullptr},
        {"hostile-eocd_count_low.xlsx", "Date", nullptr},
        {"hostile-eocd_count_low_cdsize_low.xlsx", "Date", nullptr},
        {"hostile-laughs_sst.xlsx", "Date", "partea \"xl/sharedStrings.xml\" contine o declaratie DOCTYPE"},
        {"hostile-row_beyond.xlsx", "Date", "randul 1048577 nu exista"},
        {"hostile-cells_bomb.xlsx", "Date",
         "partea \"xl/worksheets/sheet1.xml\" depaseste limita de 128 MiB de memorie a registrului"},
        {"hostile-sst_items_bomb.xlsx", "Date", "mai mult de 1048576 de texte"},
    };
    const auto names = [](const std::string& path) {
        std::set<std::string> out;
        const auto a = zip::Archive::parse(std::make_shared<const FileBytes>(fileBytes(path)));
        for (const zip::Entry& e : a.entries())
            out.insert(e.name);
        return out;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        ScratchDir dir;
        const std::string path = dir.copy(c.file);
        const Bytes before = fileBytes(path);
        SpreadsheetHandles handles;
        try {
            job::saveIndicesTable(nativeApplicationFactory(), path, c.sheet,
                                  ordana::testing::dateSheetResults(), handles);
            EXPECT_EQ(c.refusal, nullptr) << "saved";
        } catch (const RuntimeError& e) {
            job::abandon(handles);
            if (!c.refusal) {
                ADD_FAILURE() << e.what();
                continue;
            }
            EXPECT_NE(std::string(e.what()).find(c.refusal), std::string::npos) << e.what();
            EXPECT_EQ(fileBytes(path), before);
            continue;
        }
        const std::set<std::string> had = names((fixtures() / c.file).string()), has = names(path);
        EXPECT_TRUE(std::includes(has.begin(), has.end(), had.begin(), had.end()));
        auto wb = nativeApplicationFactory()()->open(path);
        const auto hasTable = [&](const std::string& sheet) {
            auto ws = wb->worksheet(sheet);
            for (std::int16_t col = 2; col < 40; ++col)
                if (ws->cell(1, col) == CellValue::text("Indici"))
                    return ws->cell(13, std::int16_t(col + 1)).isBlank() == false;
            return false;
        };
        EXPECT_TRUE(hasTable(c.sheet));
        for (std::int16_t i = 1; i <= wb->worksheetCount(); ++i)
            if (wb->worksheetName(i) != c.sheet) {
                EXPECT_FALSE(hasTable(wb->worksheetName(i))) << wb->worksheetName(i);
            }
    }
}

// What the engine holds of a workbook is bounded once for the whole workbook: a sheet done gives its index
// back, so sheets read one after the other each fit, and whatever would go beyond the budget (a sheet, a
// string table, a font or a border copied, a part kept as a tree) is refused naming the part and the limit.
TEST(XlsxBudget, WhatAWorkbookHoldsAtOnceIsBoundedAndRefusedNamingThePart) {
    const std::size_t budget = std::size_t(3) << 20;
    // Rows of empty cells without references: about 2 MB of index for 30,000.
    const auto sheetOf = [](int cells) {
        std::string rows;
        for (int r = 0; r * 1000 < cells; ++r)
            rows += "<row r=\"" + std::to_string(r + 10) + "\">" + [&] {
                std::string c;
                for (int k = 0; k < std::min(1000, cells - r * 1000); ++k)
                    c += "<c/>";
                return c;
            }() + "</row>";
        return "<worksheet xmlns=\"" + kMainNs +
               "\"><sheetData><row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>SPECIA</t></is></c></row>" +
               rows + "</sheetData></worksheet>";
    };
    const std::string many(400000, 'x');
    const std::string grandchildren = [] {
        std::string x;
        for (int i = 0; i < 300000; ++i)
            x += "<x/>";
        return x;
    }();
    const std::string styles = entryText("basic-source.xlsx", "xl/styles.xml");
    const auto styled = [&](const std::string& from, const std::string& to) {
        std::string t = styles;
        t.replace(t.find(from), from.size(), to);
        return t;
    };
    const std::string sheets = [] {
        std::string s;
        for (int i = 0; i < 20000; ++i)
            s += "<sheet name=\"S" + std::to_string(i) + "\" sheetId=\"" + std::to_string(i + 10) + "\"/>";
        return s;
    }();
    using Job = std::function<void(Workbook&)>;
    const Job readBoth = [](Workbook& b) {
        for (const char* name : {"Date", "Lista"})
            (void)b.worksheet(name)->cell(20, 1);
    };
    const struct {
        const char* what;
        const char* fixture;
        std::vector<std::pair<std::string, std::string>> parts;
        Job job;
        const char* refusal; // nullptr: done
    } cases[] = {
        {"two large sheets, one after the other",
         "basic-source.xlsx",
         {{"xl/worksheets/sheet1.xml", sheetOf(30000)}, {"xl/worksheets/sheet3.xml", sheetOf(30000)}},
         readBoth,
         nullptr},
        {"two large sheets written one after the other, then saved",
         "basic-source.xlsx",
         {{"xl/worksheets/sheet1.xml", sheetOf(30000)}, {"xl/worksheets/sheet3.xml", sheetOf(30000)}},
         [](Workbook& b) {
             for (const char* name : {"Date", "Lista"}) {
                 auto ws = b.worksheet(name);
                 ws->setCell(20, 3, CellValue::text(name));
                 ws->setColumnHorizontalAlignment(3, AlignCenter);
             }
             Bytes saved;
             xlsx::writePackage(
                 b, [&](std::span<const std::uint8_t> p) { saved.insert(saved.end(), p.begin(), p.end()); });
             auto again = openBytes(saved);
             for (const char* name : {"Date", "Lista"})
                 EXPECT_EQ(again->worksheet(name)->cell(20, 3), CellValue::text(name));
         },
         nullptr},
        {"two large sheets held at once",
         "basic-source.xlsx",
         {{"xl/worksheets/sheet1.xml", sheetOf(30000)}, {"xl/worksheets/sheet3.xml", sheetOf(30000)}},
         [](Workbook& b) {
             auto date = b.worksheet("Date"), lista = b.worksheet("Lista");
             (void)date->cell(20, 1);
             (void)lista->cell(20, 1);
         },
         "partea \"xl/worksheets/sheet3.xml\" depaseste limita de 3 MiB de memorie a registrului"},
        {"a sheet larger than the budget",
         "basic-source.xlsx",
         {{"xl/worksheets/sheet1.xml", sheetOf(60000)}},
         readBoth,
         "partea \"xl/worksheets/sheet1.xml\" depaseste limita de 3 MiB"},
        {"a string table of long texts",
         "hostile-sst_index_inf.xlsx",
         {{"xl/sharedStrings.xml", "<sst xmlns=\"" + kMainNs + "\"><si><t>SPECIA</t></si><si><t>" + many +
                                       "</t></si>" + "<si><t>" + many + "</t></si><si><t>" + many +
                                       "</t></si><si><t>" + many + "</t></si><si><t>" + many +
                                       "</t></si><si><t>" + many + "</t></si></sst>"}},
         [](Workbook& b) { (void)b.worksheet("Date")->cell(5, 1); },
         "partea \"xl/sharedStrings.xml\" depaseste limita de 3 MiB"},
        {"a font of many elements, made bold",
         "basic-source.xlsx",
         {{"xl/styles.xml", styled("<scheme val=\"minor\"/></font>",
                                   "<scheme val=\"minor\"/><extLst>" + grandchildren + "</extLst></font>")}},
         [](Workbook& b) { b.worksheet("Date")->setBold(1, 1, true); },
         "partea \"xl/styles.xml\" depaseste limita de 3 MiB"},
        {"a border of many elements, drawn",
         "basic-source.xlsx",
         {{"xl/styles.xml",
           styled("<diagonal/></border>", "<diagonal/><extLst>" + grandchildren + "</extLst></border>")}},
         [](Workbook& b) { b.worksheet("Date")->borderAround(1, 1, 2, 2, LineStyleContinuous, WeightThin); },
         "partea \"xl/styles.xml\" depaseste limita de 3 MiB"},
        {"a workbook part of many sheets",
         "basic-source.xlsx",
         {{"xl/workbook.xml",
           entryText("basic-source.xlsx", "xl/workbook.xml")
               .replace(entryText("basic-source.xlsx", "xl/workbook.xml").find("</sheets>"), 0, sheets)}},
         [](Workbook&) {},
         "partea \"xl/workbook.xml\" depaseste limita de 3 MiB"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto open = [&] {
            auto file = std::make_shared<const FileBytes>(edited(c.fixture, c.parts));
            return xlsx::openWorkbook(
                SourceFile::fromBytes(Bytes(file->base(), file->base() + file->size()), "/test/carte.xlsx"),
                zip::Archive::parse(file), budget);
        };
        if (c.refusal) {
            EXPECT_RUNTIME_ERROR(c.job(*open()), err::Application, c.refusal);
        } else {
            auto wb = open();
            c.job(*wb);
        }
    }
}

TEST(XlsxRead, ASharedStringIndexThatIsNoItemNumberIsRefusedNamingTheCell) {
    auto wb = nativeApplicationFactory()()->open((fixtures() / "hostile-sst_index_inf.xlsx").string());
    EXPECT_RUNTIME_ERROR(wb->worksheet("Date")->cell(2, 1), err::Application,
                         "celula A2 trimite la textul partajat \"inf\", care nu este un numar de ordine");
    for (const char* index : {"-1", "nan", "1e300", "18446744073709551616", "4294967296", "0.5", "1x"}) {
        const std::string sheet = "<worksheet xmlns=\"" + kMainNs +
                                  "\"><sheetData><row r=\"3\"><c r=\"B3\" t=\"s\"><v>" + index +
                                  "</v></c></row></sheetData></worksheet>";
        auto book = openBytes(edited("basic-source.xlsx", {{"xl/worksheets/sheet1.xml", sheet}}));
        EXPECT_RUNTIME_ERROR(book->worksheet("Date")->cell(3, 2), err::Application,
                             "celula B3 trimite la textul partajat \"" + std::string(index) +
                                 "\", care nu este");
    }
}

TEST(XlsxTable, AWorkbookWithoutStylesOrWithAnEmptyStyleSheetIsFormattedAsAnyOther) {
    // The lists a format needs are made as a reader takes them for granted, each where it belongs.
    const struct {
        const char* what;
        std::string styles; // empty: no styles part
    } cases[] = {
        {"no styles part", ""},
        {"an empty style sheet", "<styleSheet xmlns=\"" + kMainNs + "\"/>"},
        {"only a prefixed dxfs list",
         "<x:styleSheet xmlns:x=\"" + kMainNs + "\"><x:dxfs count=\"0\"/></x:styleSheet>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        const std::string path = (dir.path() / "s.xlsx").string();
        writeFileBytes(path, edited("basic-source.xlsx", {{"xl/styles.xml", c.styles}}));
        SpreadsheetHandles handles;
        job::saveIndicesTable(nativeApplicationFactory(), path, "Date", ordana::testing::dateSheetResults(),
                              handles);
        auto a = zip::Archive::parse(std::make_shared<const FileBytes>(fileBytes(path)));
        const Bytes b = a.read(*a.find("xl/styles.xml"));
        const std::string styles(b.begin(), b.end());
        const std::string p = c.styles.find("x:") != std::string::npos ? "x:" : "";
        std::size_t at = 0;
        for (const char* list : {"fonts", "fills", "borders", "cellStyleXfs", "cellXfs"}) {
            const std::size_t next = styles.find("<" + p + list + " ", at);
            EXPECT_NE(next, std::string::npos) << list << " in order: " << styles;
            at = next == std::string::npos ? at : next;
        }
        if (!p.empty()) {
            EXPECT_LT(styles.find("<x:cellXfs"), styles.find("<x:dxfs"));
        }
        auto wb = nativeApplicationFactory()()->open(path);
        EXPECT_EQ(wb->worksheet("Date")->cell(1, 4), CellValue::text("Indici"));
    }
}

TEST(XlsxSave, AFailedSaveLeavesTheFile) {
    ScratchDir dir;
    const std::string path = dir.copy("basic-source.xlsx");
    const Bytes before = fileBytes(path);
    ::chmod(path.c_str(), 0444);
    auto ro = nativeApplicationFactory()()->open(path);
    ro->worksheet("Date")->setCell(1, 3, CellValue::text("x"));
    EXPECT_RUNTIME_ERROR(ro->close(true), err::Application, "");
    EXPECT_EQ(fileBytes(path), before);
}

// A large string table gains strings at its end and new counts at its start: what lies between keeps its
// compressed bytes, and every string reads back, the old ones at both ends and the new ones.
TEST(XlsxSave, AStringTableEditedAtBothEndsReadsBackWhole) {
    const std::string& ns = kMainNs;
    const int count = 30000; // rows are read through 16-bit numbers
    std::string sst = "<sst xmlns=\"" + ns + "\" count=\"" + std::to_string(count) + "\" uniqueCount=\"" +
                      std::to_string(count) + "\">";
    std::string rows;
    for (int i = 0; i < count; ++i) {
        sst += "<si><t>specia " + std::to_string(i * 7919 % 100003) + "</t></si>";
        rows += "<row r=\"" + std::to_string(i + 1) + "\"><c r=\"A" + std::to_string(i + 1) +
                "\" t=\"s\"><v>" + std::to_string(i) + "</v></c></row>";
    }
    sst += "</sst>";
    ScratchDir dir;
    const std::string path = (dir.path() / "mare.xlsx").string();
    writeFileBytes(path, edited("mixed-sheets.xlsx",
                                {{"xl/worksheets/sheet1.xml", "<worksheet xmlns=\"" + ns + "\"><sheetData>" +
                                                                  rows + "</sheetData></worksheet>"},
                                 {"xl/sharedStrings.xml", sst}}));
    const std::string sheet = openNativeWorkbook(SourceFile::read(path))->worksheetName(1);
    auto wb = nativeApplicationFactory()()->open(path);
    wb->worksheet(sheet)->setCell(1, 2, CellValue::text("un text nou"));
    wb->worksheet(sheet)->setCell(2, 2, CellValue::text("altul"));
    wb->close(true);

    const Bytes saved = fileBytes(path);
    const zip::Archive a = zip::Archive::parse(std::make_shared<const FileBytes>(saved));
    const std::string table = [&] {
        const Bytes b = a.read(*a.find("xl/sharedStrings.xml"));
        return std::string(b.begin(), b.end());
    }();
    EXPECT_NE(table.find("count=\"" + std::to_string(count + 2) + "\""), std::string::npos);
    EXPECT_NE(table.find("<si><t>altul</t></si></sst>"), std::string::npos);
    auto back = openNativeWorkbook(SourceFile::read(path));
    auto ws = back->worksheet(sheet);
    for (int r : {1, 2, 3, count / 2, count - 1, count})
        EXPECT_EQ(ws->cell(std::int16_t(r), 1),
                  CellValue::text("specia " + std::to_string((r - 1) * 7919 % 100003)))
            << "row " << r;
    EXPECT_EQ(ws->cell(1, 2), CellValue::text("un text nou"));
    EXPECT_EQ(ws->cell(2, 2), CellValue::text("altul"));
}

// A text written takes the first item of the table that holds it, one of the file's or one added before,
// however many are added.
TEST(XlsxWrite, ATextWrittenTakesTheFirstItemThatHoldsIt) {
    const std::string& ns = kMainNs;
    ScratchDir dir;
    const std::string path = (dir.path() / "texte.xlsx").string();
    writeFileBytes(
        path, edited("mixed-sheets.xlsx",
                     {{"xl/worksheets/sheet1.xml", "<worksheet xmlns=\"" + ns +
                                                       "\"><sheetData><row r=\"1\"><c r=\"A1\" "
                                                       "t=\"s\"><v>0</v></c></row></sheetData></worksheet>"},
                      {"xl/sharedStrings.xml", "<sst xmlns=\"" + ns +
                                                   "\" uniqueCount=\"4\"><si><t>a</t></si><si><t>b</t></si>"
                                                   "<si><t>a</t></si><si><t>c</t></si></sst>"}}));
    std::vector<std::pair<std::string, int>> written = {{"b", 1}, {"a", 0}, {"c", 3}, {"nou", 4}, {"nou", 4}};
    for (int i = 0; i < 200; ++i)
        written.emplace_back("t" + std::to_string(i), 5 + i);
    for (const auto& again : std::vector<std::pair<std::string, int>>{{"a", 0}, {"nou", 4}, {"t150", 155}})
        written.push_back(again);
    auto wb = nativeApplicationFactory()()->open(path);
    auto ws = wb->worksheet(wb->worksheetName(1));
    for (std::size_t i = 0; i < written.size(); ++i)
        ws->setCell(std::int16_t(i + 1), 3, CellValue::text(written[i].first));
    wb->close(true);

    const zip::Archive a = zip::Archive::parse(std::make_shared<const FileBytes>(fileBytes(path)));
    const Bytes sheet = a.read(*a.find("xl/worksheets/sheet1.xml"));
    const std::string xml(sheet.begin(), sheet.end());
    for (std::size_t i = 0; i < written.size(); ++i) {
        const std::string cell = "<c r=\"C" + std::to_string(i + 1) + "\"";
        const auto at = xml.find(cell);
        ASSERT_NE(at, std::string::npos) << cell;
        const auto v = xml.find("<v>", at);
        EXPECT_EQ(xml.substr(v + 3, xml.find("</v>", v) - v - 3), std::to_string(written[i].second))
            << written[i].first;
    }
    const Bytes table = a.read(*a.find("xl/sharedStrings.xml"));
    EXPECT_NE(std::string(table.begin(), table.end()).find("uniqueCount=\"205\""), std::string::npos);
}

// A listing of a package read on demand reads its directory and the first rows of each sheet, not the file;
// a sheet read after another program changed the file fails, naming it.
TEST(XlsxRead, AListingReadsLittleOfALargePackage) {
    const std::string& ns = kMainNs;
    std::string rows;
    std::uint32_t x = 12345;
    for (int r = 1; r <= 30000; ++r) {
        rows += "<row r=\"" + std::to_string(r) + "\">";
        for (char c : std::string("ABCDEF")) {
            x = x * 1103515245 + 12345; // digits that deflate cannot squeeze much
            rows +=
                std::string("<c r=\"") + c + std::to_string(r) + "\"><v>" + std::to_string(x) + "</v></c>";
        }
        rows += "</row>";
    }
    ScratchDir dir;
    const std::string path = (dir.path() / "mare.xlsx").string();
    writeFileBytes(path, edited("mixed-sheets.xlsx",
                                {{"xl/worksheets/sheet1.xml", "<worksheet xmlns=\"" + ns + "\"><sheetData>" +
                                                                  rows + "</sheetData></worksheet>"}}));
    const auto size = std::filesystem::file_size(path);
    const auto source = SourceFile::readOnDemand(path);
    auto wb = openNativeWorkbook(source);
    std::vector<std::string> names;
    for (std::int16_t i = 1; i <= wb->worksheetCount(); ++i) {
        names.push_back(wb->worksheetName(i));
        auto ws = wb->worksheet(names.back());
        (void)ws->cell(1, 1);
        (void)ws->cell(1, 2);
        (void)ws->cell(2, 2);
    }
    EXPECT_LT(source->data()->bytesRead(), size / 8) << "of " << size;

    ::usleep(10000);
    std::ofstream(path, std::ios::app) << " "; // another program's change
    EXPECT_RUNTIME_ERROR((void)wb->worksheet(names.front())->cell(30000, 1), err::Application,
                         "din fisierul \"" + path +
                             "\": fisierul a fost schimbat de alt program dupa ce a fost "
                             "deschis");

    // Opened to be read, a workbook is not saved, and its file is left as it was.
    const Bytes before = fileBytes(path);
    auto reading = nativeApplicationFactory()()->openForReading(path);
    reading->worksheet(names.front())->setCell(1, 3, CellValue::text("x"));
    EXPECT_RUNTIME_ERROR(reading->close(true), err::Application, "a fost deschis doar pentru citire");
    EXPECT_EQ(fileBytes(path), before);
}

TEST(XlsxWrite, OverwrittenFormulasLeaveTheCalculationChain) {
    // The chain lists C1 (to be overwritten) and B1 on sheet 1; then C1 alone, and the chain goes.
    const std::string& ns = kMainNs;
    const std::string sheet =
        "<worksheet xmlns=\"" + ns +
        "\"><sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"B1\"><f>A1</f><v>1</v></c><c "
        "r=\"C1\"><f>A1*2</f><v>2</v></c></row></sheetData></worksheet>";
    const std::string chain =
        "<calcChain xmlns=\"" + ns + "\"><c r=\"C1\" i=\"1\"/><c r=\"B1\"/></calcChain>";
    const std::string rels =
        replaced(entryText("basic-source.xlsx", "xl/_rels/workbook.xml.rels"), "</Relationships>",
                 "<Relationship Id=\"rId99\" "
                 "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/calcChain\" "
                 "Target=\"calcChain.xml\"/></Relationships>");
    ScratchDir dir;
    const std::string path = (dir.path() / "f.xlsx").string();
    {
        const Bytes b = edited("basic-source.xlsx",
                               {{"xl/worksheets/sheet1.xml", sheet}, {"xl/_rels/workbook.xml.rels", rels}});
        auto a = zip::Archive::parse(std::make_shared<const FileBytes>(b));
        zip::ArchiveWriter w(a);
        w.add("xl/calcChain.xml", [&](const ByteSink& s) {
            s(std::span(reinterpret_cast<const std::uint8_t*>(chain.data()), chain.size()));
        });
        Bytes out;
        w.writeTo([&](std::span<const std::uint8_t> p) { out.insert(out.end(), p.begin(), p.end()); });
        writeFileBytes(path, out);
    }
    auto wb = nativeApplicationFactory()()->open(path);
    wb->worksheet("Date")->setCell(1, 3, CellValue::number(5));
    wb->close(true);
    auto a = zip::Archive::parse(std::make_shared<const FileBytes>(fileBytes(path)));
    const Bytes c = a.read(*a.find("xl/calcChain.xml"));
    EXPECT_EQ(std::string(c.begin(), c.end()),
              "<calcChain xmlns=\"" + ns + "\"><c i=\"1\" r=\"B1\"/></calcChain>");

    auto wb2 = nativeApplicationFactory()()->open(path);
    wb2->worksheet("Date")->setCell(1, 2, CellValue::number(6));
    wb2->close(true);
    auto b = zip::Archive::parse(std::make_shared<const FileBytes>(fileBytes(path)));
    EXPECT_EQ(b.find("xl/calcChain.xml"), nullptr);
    const Bytes r = b.read(*b.find("xl/_rels/workbook.xml.rels"));
    EXPECT_EQ(std::string(r.begin(), r.end()).find("calcChain"), std::string::npos);
    EXPECT_EQ(nativeApplicationFactory()()->open(path)->worksheet("Date")->cell(1, 2), CellValue::number(6));
}

TEST(XlsxWrite, AnOverwrittenSharedFormulaMovesToTheCellsThatKeepIt) {
    // Each sheet's cells, the cell overwritten, and what the sheet's formulas then are (or the refusal).
    const auto c = [](const char* ref, const std::string& f) {
        return std::string("<c r=\"") + ref + "\">" + f + "<v>0</v></c>";
    };
    const auto master = [](const char* ref, const char* f) {
        return std::string("<f t=\"shared\" ref=\"") + ref + "\" si=\"3\">" + f + "</f>";
    };
    const std::string member = "<f t=\"shared\" si=\"3\"/>";
    const struct {
        const char* what;
        std::string rows;
        int row, column;
        std::string after; // the sheetData's content after the save, or the refusal
    } cases[] = {
        {"down a column",
         "<row r=\"1\">" + c("A1", master("A1:A3", "B1*2")) + "</row><row r=\"2\">" + c("A2", member) +
             "</row><row r=\"3\">" + c("A3", member) + "</row>",
         1, 1,
         "<row r=\"1\"><c r=\"A1\"><v>9</v></c></row><row r=\"2\">" +
             c("A2", "<f t=\"shared\" ref=\"A2:A3\" si=\"3\">B2*2</f>") + "</row><row r=\"3\">" +
             c("A3", member) + "</row>"},
        {"one cell left, along a row",
         "<row r=\"1\">" + c("A1", master("A1:B1", "&quot;x&quot;&amp;$A$9&amp;A9")) + c("B1", member) +
             "</row>",
         1, 1, "<row r=\"1\"><c r=\"A1\"><v>9</v></c>" + c("B1", "<f>\"x\"&amp;$A$9&amp;B9</f>") + "</row>"},
        {"no cell left",
         "<row r=\"1\">" + c("A1", master("A1:A2", "B1")) + "</row><row r=\"2\">" + c("A2", member) +
             "</row>",
         1, 1, ""},
        {"what is kept has no top left cell: one master per column",
         "<row r=\"1\">" + c("A1", master("A1:B2", "C1")) + c("B1", member) + "</row><row r=\"2\">" +
             c("A2", member) + c("B2", member) + "</row>",
         1, 1,
         "<row r=\"1\"><c r=\"A1\"><v>9</v></c>" + c("B1", "<f t=\"shared\" ref=\"B1:B2\" si=\"4\">D1</f>") +
             "</row><row r=\"2\">" + c("A2", "<f>C2</f>") + c("B2", "<f t=\"shared\" si=\"4\"/>") + "</row>"},
        {"an array formula", "<row r=\"1\">" + c("A1", "<f t=\"array\" ref=\"A1:A2\">B1:B2</f>") + "</row>",
         1, 1, "formula matriceala"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        const std::string head = "<worksheet xmlns=\"" + kMainNs + "\"><sheetData>";
        ScratchDir dir;
        const std::string path = (dir.path() / "f.xlsx").string();
        writeFileBytes(path, edited("basic-source.xlsx", {{"xl/worksheets/sheet1.xml",
                                                           head + k.rows + "</sheetData></worksheet>"}}));
        auto wb = nativeApplicationFactory()()->open(path);
        try {
            auto ws = wb->worksheet("Date");
            ws->setCell(std::int16_t(k.row), std::int16_t(k.column), CellValue::number(9));
            if (k.after.empty()) ws->setCell(2, 1, CellValue::number(9));
            wb->close(true);
        } catch (const RuntimeError& e) {
            EXPECT_NE(std::string(e.what()).find(k.after), std::string::npos) << e.what();
            continue;
        }
        auto a = zip::Archive::parse(std::make_shared<const FileBytes>(fileBytes(path)));
        const Bytes b = a.read(*a.find("xl/worksheets/sheet1.xml"));
        const std::string saved(b.begin(), b.end());
        if (k.after.empty())
            EXPECT_EQ(saved.find("<f"), std::string::npos) << saved;
        else
            EXPECT_EQ(saved, head + k.after + "</sheetData></worksheet>");
    }
}

} // namespace
