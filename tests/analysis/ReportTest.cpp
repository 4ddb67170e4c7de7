#include "analysis/Report.h"
#include "analysis/NumberText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace ordana;

namespace {

ReportSheet sheet(const std::string& label, const std::vector<std::int64_t>& counts) {
    ReportSheet s;
    s.label = label;
    s.community.label = label;
    for (std::size_t i = 0; i < counts.size(); ++i) {
        const std::string name = "sp" + std::to_string(i);
        s.community.species.push_back({name, name, counts[i]});
        s.community.individuals += counts[i];
    }
    estimators::Settings settings;
    settings.replicates = 10;
    settings.curvePoints = 10;
    const auto f = s.community.frequencies();
    s.analysis = estimators::analyse(f, settings);
    s.provenance = {"9.9.9", "2026-01-01 00:00 UTC", 1, 10, estimators::kGeneratorName, "A2:B9", f.s, f.n, 0,
                    ""};
    return s;
}

std::size_t count(const std::string& haystack, const std::string& needle) {
    std::size_t n = 0;
    for (auto at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1))
        ++n;
    return n;
}

} // namespace

// One way of writing a number for people: the decimal comma, no sign on a zero, words for what is not finite;
// the point where a machine reads it.
TEST(NumberText, DecimalCommaWithoutSignedZeros) {
    const struct {
        double x;
        int decimals;
        DecimalMark mark;
        const char* expected;
    } rows[] = {
        {1234.5678, 3, DecimalMark::Comma, "1234,568"}, {1234.5678, 3, DecimalMark::Point, "1234.568"},
        {-2.2e-16, 3, DecimalMark::Comma, "0,000"},     {-0.0, 0, DecimalMark::Comma, "0"},
        {-0.0004, 3, DecimalMark::Point, "0.000"},      {-0.0006, 3, DecimalMark::Comma, "-0,001"},
        {-12.5, 1, DecimalMark::Comma, "-12,5"},        {INFINITY, 3, DecimalMark::Comma, "infinit"},
        {NAN, 3, DecimalMark::Point, "nedefinit"},      {1e12, 0, DecimalMark::Comma, "1000000000000"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(decimalText(r.x, r.decimals, r.mark), r.expected) << r.x;
    EXPECT_EQ(pValueText(3e-9), "< 0,0001");
    EXPECT_EQ(pValueText(0.00004), "< 0,0001");
    EXPECT_EQ(pValueText(0.0312, DecimalMark::Point), "0.0312");
    EXPECT_EQ(pValueText(1), "1,0000");
}

// The page lists the sheets that failed, prints no signed zero and no p of 0, and beyond ten sheets gives
// each sheet its own plots, beyond twelve summarises the pairs (and says so), so that it grows with the
// sheets and not with their pairs.
TEST(Report, ReadsForARealSurvey) {
    std::vector<ReportSheet> few = {sheet("Lunca", {1000, 1000, 1000, 1000, 3, 1}),
                                    sheet("Deal", {3997, 1, 1, 1, 2, 2}), sheet("Vale", {5, 4, 3, 2, 1, 1})};
    const std::vector<ReportFailure> failures = {{"teren.xlsx", "Rau", "Tip nepotrivit: celula B3"},
                                                 {"lipsa.xlsx", "", "fisierul nu exista"}};
    const std::string page = renderReport(few, "Raport", failures);
    EXPECT_NE(page.find("Foi neprelucrate"), std::string::npos);
    for (const char* text :
         {"teren.xlsx", "Rau", "Tip nepotrivit: celula B3", "lipsa.xlsx", "(tot fisierul)"})
        EXPECT_NE(page.find(text), std::string::npos) << text;
    EXPECT_EQ(page.find("-0,000"), std::string::npos);
    EXPECT_NE(page.find("&lt; 0,0001"), std::string::npos) << "Lunca against Deal";
    EXPECT_EQ(page.find("0,0000<"), std::string::npos);
    EXPECT_EQ(count(page, "<svg"), 8u);
    EXPECT_NE(page.find("Disimilaritate Morisita-Horn"), std::string::npos);

    const std::vector<std::int64_t> shapes[] = {{40, 20, 10, 5, 2, 1, 1}, {9, 9, 8, 3, 1}, {100, 1, 1, 2}};
    std::vector<ReportSheet> many;
    std::size_t sizes[2] = {};
    for (std::size_t total : {kReportPairedSheets + 1, 4 * (kReportPairedSheets + 1)}) {
        while (many.size() < total)
            many.push_back(sheet("Parcela" + std::to_string(many.size()), shapes[many.size() % 3]));
        const std::string page = renderReport(many, "Raport");
        SCOPED_TRACE(total);
        EXPECT_EQ(count(page, "<div class=\"panel\">"), total);
        EXPECT_EQ(count(page, "class=\"small\""), 4 * total);
        EXPECT_EQ(page.find("Disimilaritate Jaccard"), std::string::npos);
        EXPECT_NE(page.find("perechile nu sunt scrise toate"), std::string::npos);
        EXPECT_EQ(page.find("-0,000"), std::string::npos);
        sizes[total == kReportPairedSheets + 1 ? 0 : 1] = page.size();
    }
    EXPECT_LT(sizes[1], 5 * sizes[0]) << "four times the sheets, sixteen times the pairs";
}
