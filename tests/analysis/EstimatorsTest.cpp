#include "analysis/Estimators.h"
#include "analysis/Community.h"
#include "analysis/EstimatesWriter.h"
#include "analysis/ResultsWriter.h"
#include "common/Text.h"
#include "support/ErrorAssert.h"
#include "support/FakeSpreadsheet.h"
#include "support/SampleResults.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <thread>

using namespace ordana;
using namespace ordana::estimators;

namespace {

// iNEXT's spider data, "Girdled"; SpadeR's abundance example.
const std::vector<std::int64_t> kGirdled = {46, 22, 17, 15, 15, 9, 8, 6, 6, 4, 2, 2, 2,
                                            2,  1,  1,  1,  1,  1, 1, 1, 1, 1, 1, 1, 1};
const std::vector<std::int64_t> kSpade = {752, 276, 194, 126, 121, 97, 95, 83, 72, 44, 39, 0, 16, 15, 0,
                                          13,  9,   9,   9,   8,   7,  4,  0,  0,  2,  2,  1, 1,  1};

double field(const Analysis& a, const std::string& key, double Estimate::*member) {
    for (const auto& e : a.estimates)
        if (e.key == key) return e.*member;
    ADD_FAILURE() << "no estimate " << key;
    return NAN;
}

} // namespace

// Values printed by iNEXT, SpadeR and vegan for the same data, to 1e-4 relative (their printed digits).
TEST(Estimators, MatchTheValuesOtherToolsPrint) {
    const auto g = Frequencies::fromCounts(kGirdled), s = Frequencies::fromCounts(kSpade);
    const Tables tg(g.n);
    const struct {
        const char* what;
        std::function<double()> ours;
        double expected;
    } rows[] = {
        {"Girdled n", [&] { return double(g.n); }, 168},
        {"Girdled S", [&] { return double(g.s); }, 26},
        {"Chao1 (iNEXT, SpadeR)", [&] { return chao1Classic(g).value; }, 43.893},
        {"Chao1 SE", [&] { return chao1Classic(g).se; }, 14.306},
        {"Chao1 lower", [&] { return chao1Classic(g).lower; }, 30.511},
        {"Chao1 upper", [&] { return chao1Classic(g).upper; }, 96.971},
        {"bias-corrected, vegan estimateR", [&] { return chao1BiasCorrectedPlain(g); }, 39.2},
        {"bias-corrected, SpadeR", [&] { return chao1BiasCorrected(g).value; }, 39.121},
        {"bias-corrected SE", [&] { return chao1BiasCorrected(g).se; }, 10.168},
        {"bias-corrected lower", [&] { return chao1BiasCorrected(g).lower; }, 29.422},
        {"bias-corrected upper", [&] { return chao1BiasCorrected(g).upper; }, 76.321},
        {"ACE", [&] { return ace(g).value; }, 48.415},
        {"jackknife 1", [&] { return jackknife1(g); }, 37.929},
        {"jackknife 2", [&] { return jackknife2(g); }, 45.857},
        {"coverage", [&] { return coverageChaoJost(g); }, 0.9289},
        {"Hill q=0", [&] { return hillObserved(g, 0); }, 26},
        {"Hill q=1", [&] { return hillObserved(g, 1); }, 12.060},
        {"Hill q=2", [&] { return hillObserved(g, 2); }, 7.840},
        {"asymptotic q=1", [&] { return hillAsymptotic(g, 1).value; }, 13.826},
        {"asymptotic q=2", [&] { return hillAsymptotic(g, 2).value; }, 8.175},
        {"Fisher's alpha", [&] { return fisherAlpha(g).value; }, 8.6047},
        {"rarefied to 100", [&] { return rarefiedRichness(g, tg, 100).value; }, 20.459},
        {"rarefied to 100, SE", [&] { return rarefiedRichness(g, tg, 100).se; }, 1.771},
        {"rarefaction curve at 100", [&] { return hillAt(g, tg, 0, 100); }, 20.459},
        {"extrapolated to 336", [&] { return hillAt(g, tg, 0, 336); }, 34.731},
        {"SpadeR n", [&] { return double(s.n); }, 1996},
        {"SpadeR S", [&] { return double(s.s); }, 25},
        {"SpadeR Chao1", [&] { return chao1Classic(s).value; }, 27.249},
        {"SpadeR Chao1 SE", [&] { return chao1Classic(s).se; }, 3.394},
        {"SpadeR Chao1 lower", [&] { return chao1Classic(s).lower; }, 25.266},
        {"SpadeR Chao1 upper", [&] { return chao1Classic(s).upper; }, 44.030},
        {"SpadeR bias-corrected", [&] { return chao1BiasCorrected(s).value; }, 25.999},
        {"SpadeR ACE", [&] { return ace(s).value; }, 26.920},
        {"SpadeR ACE SE", [&] { return ace(s).se; }, 2.367},
        {"SpadeR jackknife 1", [&] { return jackknife1(s); }, 27.998},
        {"SpadeR jackknife 2", [&] { return jackknife2(s); }, 28.998},
    };
    for (const auto& r : rows) {
        const double v = r.ours();
        // Rounded to the digits printed: half a unit of the last one.
        EXPECT_NEAR(v, r.expected, 1e-4 * std::fabs(r.expected) + 5e-4) << r.what;
        EXPECT_LE(std::fabs(v - r.expected) / r.expected, 1e-3) << r.what;
    }
}

// Every degenerate shape gets a value; a value that is not a finite number says why.
TEST(Estimators, DegenerateSamplesGetAValueAndANote) {
    const struct {
        const char* what;
        std::vector<std::int64_t> counts;
        unsigned sampleNotes;
        std::string key;
        double expected; // NAN: not checked
        unsigned note;   // the note that row must carry
    } rows[] = {
        {"no singletons", {5, 4, 3, 2, 2}, NoteNoSingletons, "chao1", 5, NoteNoSingletons},
        {"no singletons, ACE", {5, 4, 3, 2, 2}, NoteNoSingletons, "ace", 5, NoteNone},
        {"no doubletons", {5, 3, 1, 1}, NoteNoDoubletons, "chao1", 4 + 0.9 * 1, NoteNoDoubletons},
        {"all singletons",
         {1, 1, 1, 1},
         NoteAllSingletons | NoteNoDoubletons,
         "fisherAlpha",
         INFINITY,
         NoteNoSolution},
        {"all singletons, ACE falls back",
         {1, 1, 1, 1},
         NoteAllSingletons,
         "ace",
         4 + 0.75 * 6,
         NoteUndefined},
        {"all singletons, unbiased Simpson",
         {1, 1, 1, 1},
         NoteAllSingletons,
         "hill2Asymptotic",
         INFINITY,
         NoteUndefined},
        {"one species", {7}, NoteOneSpecies | NoteNoSingletons, "chao1", 1, NoteOneSpecies},
        {"one individual",
         {1},
         NoteUnderTwoIndividuals | NoteOneSpecies,
         "chao1",
         1,
         NoteUnderTwoIndividuals},
        {"one individual, jackknife 2", {1}, NoteUnderTwoIndividuals, "jackknife2", 1, NoteUndefined},
        {"one individual, Fisher", {1}, NoteUnderTwoIndividuals, "fisherAlpha", INFINITY, NoteNoSolution},
        {"empty", {0, 0}, NoteEmptySample, "sObs", 0, NoteEmptySample},
        {"nothing rare", {20, 30}, NoteNoSingletons, "ace", 2, NoteNoRareSpecies},
    };
    Settings settings;
    settings.replicates = 20;
    for (const auto& r : rows) {
        const auto f = Frequencies::fromCounts(r.counts);
        const Analysis a = analyse(f, settings);
        EXPECT_EQ(a.notes & r.sampleNotes, r.sampleNotes) << r.what;
        bool found = false;
        for (const auto& e : a.estimates) {
            if (!std::isfinite(e.value)) {
                EXPECT_NE(e.notes, 0u) << r.what << ": " << e.key << " without a note";
            }
            if (e.se >= 0) {
                EXPECT_TRUE(std::isfinite(e.se)) << r.what << ": " << e.key;
            }
            if (e.key != r.key) continue;
            found = true;
            if (!std::isnan(r.expected)) {
                EXPECT_DOUBLE_EQ(e.value, r.expected) << r.what;
            }
            EXPECT_EQ(e.notes & r.note, r.note) << r.what << ": notes " << noteText(e.notes);
        }
        EXPECT_TRUE(found) << r.what;
        for (const auto& p : a.curve)
            for (int k = 0; k < 4; ++k)
                EXPECT_TRUE(std::isfinite(p.value[k]) || (k == 2 && r.sampleNotes & NoteAllSingletons))
                    << r.what;
    }
}

// The bootstrap reproduces bit for bit: twice in a row, on two threads at once, and against the numbers it
// gave when written (a changed generator, draw or assemblage shows here).
TEST(Estimators, BootstrapReproducesFromItsSeed) {
    const auto f = Frequencies::fromCounts(kGirdled);
    Settings settings;
    settings.stream = streamOf("Girdled");
    const Analysis first = analyse(f, settings);
    Analysis onThreads[2];
    std::thread a([&] { onThreads[0] = analyse(f, settings); });
    std::thread b([&] { onThreads[1] = analyse(f, settings); });
    a.join();
    b.join();
    for (const Analysis& other : {analyse(f, settings), onThreads[0], onThreads[1]}) {
        ASSERT_EQ(other.estimates.size(), first.estimates.size());
        for (std::size_t i = 0; i < first.estimates.size(); ++i) {
            EXPECT_EQ(other.estimates[i].se, first.estimates[i].se) << first.estimates[i].key;
            EXPECT_EQ(other.estimates[i].lower, first.estimates[i].lower) << first.estimates[i].key;
        }
        for (std::size_t i = 0; i < first.curve.size(); ++i)
            EXPECT_EQ(other.curve[i].upper[1], first.curve[i].upper[1]);
    }
    EXPECT_NEAR(field(first, "jackknife1", &Estimate::se), 4.334075705820319, 1e-9);
    EXPECT_NEAR(field(first, "hill1Asymptotic", &Estimate::se), 1.285962858957773, 1e-9);
    settings.seed += 1;
    EXPECT_NE(field(analyse(f, settings), "jackknife1", &Estimate::se),
              field(first, "jackknife1", &Estimate::se));
}

// The curves join at n and rarefaction agrees with the closed forms at the ends.
TEST(Estimators, CurvesMeetTheObservedSampleAndEndAtTwiceIt) {
    const auto f = Frequencies::fromCounts(kGirdled);
    const Tables t(f.n);
    for (int q = 0; q < 3; ++q) {
        EXPECT_NEAR(hillAt(f, t, q, double(f.n - 1)), hillObserved(f, q), 0.02 * hillObserved(f, q)) << q;
        EXPECT_NEAR(hillAt(f, t, q, 1), 1.0, 1e-12) << q;
        EXPECT_LT(hillAt(f, t, q, 2.0 * double(f.n)),
                  q == 0 ? chao1Classic(f).value : hillAsymptotic(f, q).value);
    }
    const auto sizes = curveSizes(f.n, 40);
    EXPECT_EQ(sizes.size(), 40u);
    EXPECT_EQ(sizes.front(), 1);
    EXPECT_EQ(sizes.back(), 2 * f.n);
    EXPECT_NE(std::find(sizes.begin(), sizes.end(), f.n), sizes.end());
    EXPECT_NEAR(coverageAt(f, t, sizeForCoverage(f, t, 0.95)), 0.95, 0.002);
    EXPECT_NEAR(coverageAt(f, t, double(f.n)), coverageChaoJost(f), 1e-12);
}

// The estimates go to the next free columns after the indices table, framed, headed in bold, with the
// provenance under them; non-finite values are words, missing errors blank.
TEST(EstimatesWriter, WritesBesideTheIndicesTable) {
    using ordana::testing::FakeEngine;
    FakeEngine engine;
    engine.files["f"].sheet("Date").set(1, 1, CellValue::text("SPECIA"));
    engine.files["f"].sheet("Date").set(1, 2, CellValue::text("ABUNDENTA"));
    auto book = engine.factory()()->open("f");
    auto ws = book->worksheet("Date");
    writeResultsTable(*ws, ordana::testing::dateSheetResults());
    Settings settings;
    settings.replicates = 10;
    const Analysis a = analyse(Frequencies::fromCounts({1, 1, 1}), settings);
    const Provenance p{"9.9.9", "2026-01-01 00:00 UTC", 7, 10, kGeneratorName, "A2:B4", 3, 3, 0, "niciunul"};
    EXPECT_EQ(writeEstimatesTable(*ws, a, p), 6);
    book->close(true);
    const auto& sheet = engine.files["f"].sheets[0];
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(sheet.get(1, 7 + k).toText(), kEstimateHeadings[std::size_t(k)]);
        EXPECT_TRUE(sheet.bold.at({1, 7 + k}));
    }
    const int last = int(a.estimates.size()) + 1;
    for (int r = 2; r <= last; ++r) {
        const Estimate& e = a.estimates[std::size_t(r - 2)];
        EXPECT_EQ(sheet.get(r, 7).toText(), e.label);
        EXPECT_EQ(sheet.get(r, 8), estimateCell(e.value)) << e.key;
        EXPECT_EQ(sheet.get(r, 9).isEmpty(), e.se < 0) << e.key;
    }
    EXPECT_EQ(sheet.get(last + 2, 7).toText(), "Ordana");
    EXPECT_EQ(sheet.get(last + 2, 8).toText(), "9.9.9");
    EXPECT_EQ(sheet.get(last + 5, 8).toText(), "7");
    EXPECT_EQ(sheet.get(last + 7, 8).toText(), "A2:B4");
    const std::vector<int> frame = {
        1, 7, last, 12, spreadsheet::LineStyleContinuous, spreadsheet::WeightThin};
    EXPECT_NE(std::find(sheet.borders.begin(), sheet.borders.end(), frame), sheet.borders.end());
}
