#include "job/SheetReader.h"
#include "common/Text.h"
#include "support/ErrorAssert.h"
#include "support/FakeSpreadsheet.h"

using namespace ordana;
using ordana::testing::FakeEngine;
using ordana::testing::FakeSheet;

namespace {

void fill(FakeSheet& sheet, const std::vector<std::pair<std::string, CellValue>>& rows) {
    sheet.set(1, 1, CellValue::text("SPECIA"));
    sheet.set(1, 2, CellValue::text("ABUNDENTA"));
    int row = 2;
    for (const auto& [name, count] : rows) {
        sheet.set(row, 1, CellValue::text(name));
        sheet.set(row++, 2, count);
    }
}

CellValue n(double v) {
    return CellValue::number(v);
}

} // namespace

// The estimates read a sheet by their own rules: whole counts up to 2^53, zeros left out and counted, a name
// written twice (up to case and blanks) one species; what they cannot count names its cell.
TEST(SheetReader, TheEstimatesOwnReadingRules) {
    const struct Row {
        const char* name;
        std::vector<std::pair<std::string, CellValue>> rows;
        std::int64_t species, individuals, zeroRows;
        std::vector<std::pair<std::string, std::vector<std::int32_t>>> merged;
        int error;
        const char* fragment;
    } rows[] = {
        {"plain", {{"a", n(3)}, {"b", n(1)}}, 2, 4, 0, {}, 0, ""},
        {"a zero row left out and counted", {{"a", n(3)}, {"b", n(0)}, {"c", n(2)}}, 2, 5, 1, {}, 0, ""},
        {"only zeros", {{"a", n(0)}, {"b", n(0)}}, 0, 0, 2, {}, 0, ""},
        {"past 16 bits", {{"a", n(100000)}, {"b", n(40000)}}, 2, 140000, 0, {}, 0, ""},
        {"a text that reads as a number", {{"a", CellValue::text("12")}}, 1, 12, 0, {}, 0, ""},
        {"a name twice, case and blanks aside",
         {{"Carabus", n(2)}, {"Pterostichus", n(1)}, {"carabus ", n(3)}, {" CARABUS", n(1)}},
         2,
         7,
         0,
         {{"Carabus", {2, 4, 5}}},
         0,
         ""},
        {"a fraction", {{"a", n(2)}, {"b", n(1.5)}}, 0, 0, 0, {}, err::TypeMismatch, "celula B3"},
        {"a negative count", {{"a", n(-1)}}, 0, 0, 0, {}, err::TypeMismatch, "celula B2"},
        {"a text",
         {{"a", n(1)}, {"b", CellValue::text("cinci")}},
         0,
         0,
         0,
         {},
         err::TypeMismatch,
         "celula B3"},
        {"past 2^53", {{"a", n(9007199254740992.0)}, {"b", n(1)}}, 0, 0, 0, {}, err::Overflow, "celula B3"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        FakeEngine engine;
        fill(engine.files["f"].sheet("Date"), r.rows);
        auto sheet = engine.factory()()->open("f")->worksheet("Date");
        if (r.error) {
            EXPECT_RUNTIME_ERROR(job::readCommunity(*sheet), r.error, r.fragment);
            continue;
        }
        const Community c = job::readCommunity(*sheet);
        EXPECT_EQ(std::int64_t(c.species.size()), r.species);
        EXPECT_EQ(c.individuals, r.individuals);
        EXPECT_EQ(c.zeroRows, r.zeroRows);
        EXPECT_EQ(c.range(), "A2:B" + std::to_string(r.rows.size() + 1));
        std::vector<std::pair<std::string, std::vector<std::int32_t>>> merged;
        for (const auto& m : c.merged)
            merged.emplace_back(m.name, m.rows);
        EXPECT_EQ(merged, r.merged);
        const auto f = c.frequencies();
        EXPECT_EQ(f.s, r.species) << "the estimators count what the table counts";
        EXPECT_EQ(f.n, r.individuals);
    }
}

// Between sheets too, names are matched trimmed and case-folded.
TEST(SheetReader, NamesMatchAcrossSheets) {
    FakeEngine engine;
    auto& one = engine.files["f"].sheet("Unu");
    auto& two = engine.files["f"].sheet("Doi");
    const char* names[] = {"Apodemus", "Sorex", "Myodes"};
    for (auto* s : {&one, &two}) {
        s->set(1, 1, CellValue::text("SPECIA"));
        s->set(1, 2, CellValue::text("ABUNDENTA"));
    }
    for (int i = 0; i < 3; ++i) {
        one.set(i + 2, 1, CellValue::text(names[i]));
        one.set(i + 2, 2, CellValue::number(i + 1));
        two.set(i + 2, 1, CellValue::text("  " + text::foldCase(names[2 - i]) + " "));
        two.set(i + 2, 2, CellValue::number(3 - i));
    }
    auto book = engine.factory()()->open("f");
    const Community a = job::readCommunity(*book->worksheet("Unu"));
    const Community b = job::readCommunity(*book->worksheet("Doi"));
    EXPECT_EQ(a.range(), "A2:B4");
    EXPECT_EQ(a.individuals, 6);
    const Dissimilarity d = dissimilarity(a, b);
    EXPECT_EQ(d.shared, 3);
    EXPECT_DOUBLE_EQ(d.jaccard, 0);
    EXPECT_NEAR(d.brayCurtis, 0, 1e-15);
    EXPECT_NEAR(d.morisitaHorn, 0, 1e-15);
    EXPECT_DOUBLE_EQ(whittakerBeta({a, b}), 0);
    const HutchesonTest h = hutcheson(a, b);
    EXPECT_NEAR(h.t, 0, 1e-12);
    EXPECT_NEAR(h.p, 1, 1e-12);
}
