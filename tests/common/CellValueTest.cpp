#include "common/CellValue.h"
#include "common/Format.h"
#include "support/ErrorAssert.h"

#include <clocale>
#include <cstdlib>
#include <optional>

using namespace ordana;

TEST(ParseNumber, AcceptsPlainFormsWithBlanks) {
    const struct {
        const char* text;
        std::optional<double> value;
    } rows[] = {
        {"12", 12},
        {" 12 ", 12},
        {"\t-3.5", -3.5},
        {"+4", 4},
        {"1e3", 1000},
        {"2.5E-1", 0.25},
        {".5", 0.5},
        {"7.", 7},
        {"", {}},
        {"  ", {}},
        {"abc", {}},
        {"12a", {}},
        {"1.2.3", {}},
        {"--1", {}},
        {"e5", {}},
        {"nan", {}},
        {"inf", {}},
        {"1e999", {}},
        {"\xC2\xA0"
         "8\xC2\xA0",
         8},
    };
    for (const auto& r : rows)
        EXPECT_EQ(parseNumber(r.text), r.value) << '"' << r.text << '"';
}

TEST(ParseNumber, FollowsTheLocaleDecimalSeparator) {
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
#ifdef ORDANA_TEST_LOCALE_DIR
    setenv("LOCPATH", ORDANA_TEST_LOCALE_DIR, 1);
#endif
    if (!std::setlocale(LC_NUMERIC, "ro_RO.UTF-8") && !std::setlocale(LC_NUMERIC, "de_DE.UTF-8"))
        GTEST_SKIP() << "no locale with a decimal comma installed";
    EXPECT_EQ(parseNumber("2,5"), 2.5);
    EXPECT_EQ(parseNumber("2.5"), 2.5); // the plain form always reads
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(parseNumber("2,5"), std::nullopt);
}

TEST(CellValue, BlankAndTextForms) {
    EXPECT_TRUE(CellValue().isBlank());
    EXPECT_TRUE(CellValue::text("").isBlank());
    EXPECT_FALSE(CellValue::text(" ").isBlank());
    EXPECT_FALSE(CellValue::number(0).isBlank());
    EXPECT_EQ(CellValue::number(0).toText(), "0");
    EXPECT_EQ(CellValue::number(12).toText(), "12");
    EXPECT_EQ(CellValue::number(0.1).toText(), "0.1");
    EXPECT_EQ(CellValue::number(-2.5).toText(), "-2.5");
    EXPECT_EQ(CellValue::boolean(true).toText(), "TRUE");
    EXPECT_EQ(CellValue::error(0x2A).toText(), "#N/A");
}

TEST(CellValue, TakesPartInArithmeticAsANumber) {
    EXPECT_EQ(CellValue().toNumber(), 0.0);
    EXPECT_EQ(CellValue::number(4.25).toNumber(), 4.25);
    EXPECT_EQ(CellValue::text(" 12 ").toNumber(), 12.0);
    EXPECT_EQ(CellValue::boolean(true).toNumber(), -1.0);
    EXPECT_RUNTIME_ERROR(CellValue::text("doisprezece").toNumber(), err::TypeMismatch, "\"doisprezece\"");
    EXPECT_RUNTIME_ERROR(CellValue::error(0x07).toNumber(), err::TypeMismatch, "#DIV/0!");
}
