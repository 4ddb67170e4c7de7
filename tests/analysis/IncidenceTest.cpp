#include "analysis/Incidence.h"
#include "analysis/IncidenceBootstrap.h"
#include "support/ErrorAssert.h"

#include <cmath>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <variant>

using namespace ordana;
using namespace ordana::estimators;

namespace {

// A data set of the reference table: incidence as species rows of hex digits (bit b of digit i: seen in unit
// 4i + b), or abundances as counts.
enum class Kind { Incidence, Abundance };
struct DataSet {
    const char* name;
    Kind kind;
    std::int64_t units; // incidence only
    const char* cells;
};

enum Field { Value, Se, Lower, Upper };
// One value another tool or a paper's formula gives: an estimate's field by its JSON key, or a curve's value
// ("curve.q0" .. "curve.q2", "curve.coverage") at m units or individuals.
struct Reference {
    const char* dataSet;
    const char* key;
    double at;
    Field field;
    double expected;
    double tolerance; // relative
    const char* source;
};

// clang-format off
// Printed by tests/tools/incidence_references.R; the data sets:
const DataSet kDataSets[] = {
    {"BCI 1-10", Kind::Incidence, 10,
     "002 000 000 000 811 052 fb3 020 000 010 ff3 000 080 031 581 ff3 d80 832 e73 de0 260 000 ff3 ff3 "
     "000 af1 080 ff3 411 000 363 d73 000 fb3 092 000 692 850 000 000 000 000 000 ff3 040 893 080 000 "
     "f72 ff3 ff2 863 b91 000 800 000 7d1 6f3 402 f02 783 700 000 000 021 283 a93 080 4c1 ff3 ff3 200 "
     "000 000 100 000 040 c10 000 160 ef1 112 443 bf3 b92 080 f73 ff3 800 f93 bf3 403 ff3 030 ff3 000 "
     "ff3 0e0 201 000 fc3 4b3 010 c83 cd3 000 000 100 000 d91 a00 883 ff3 972 9f0 690 683 000 092 040 "
     "043 ff3 171 000 ff3 010 100 962 882 5d0 000 000 172 101 020 ed3 000 120 180 c41 c02 8a2 db3 ff3 "
     "000 000 000 040 000 213 451 480 010 f71 7e1 200 ff3 391 000 ff1 402 ff3 f33 db2 ff3 000 000 000 "
     "9f1 ff3 000 ff3 000 410 020 000 ff3 f60 413 df3 ff3 012 f22 000 b92 d53 360 bf1 f70 e91 520 f50 "
     "ff3 f63 000 100 130 000 ff3 000 310 000 200 793 810 000 a40 ff3 000 022 110 b42 eb3 ff3 022 ff3 "
     "ff3 000 000 102 ff3 c03 fb3 000 820"},
    {"dune", Kind::Incidence, 20,
     "37201 c89f8 00005 e8990 07205 e1202 a5200 00010 80000 00060 080e8 f1100 00004 00405 081c8 04910 "
     "ff702 07603 ff713 ffb90 080f8 07900 88d14 0000e eff7f 07000 eff76 00602 cffce 000a8"},
    {"mite", Kind::Incidence, 70,
     "fffffffffb53ffcff3 fffbe1528000000001 ffffffffbbffffaff3 dff9d9700000000000 fe1200000000000000 1"
     "b500410c004000000 fedfffebf3c2100000 300048124000002000 900000c42203e9ceb2 9fabfb5cf90f102000 ff"
     "f7f6382000000000 7bffd7fa2c277f0cb1 fffffffff401000001 ffffffffff7ff5adb3 ffffffffff7fffefb3 f31"
     "c64befffffffdf3 ffffe9e6a000000420 90e90fead367ebbfa3 7be7f273de10008483 fffbf3622000000000 eff3"
     "a8001000000000 a84600000208008001 e34201c626c9895cf3 a0c680000000000010 e20004c6fb7fd12cb3 a066e"
     "0020000000000 efebfb7ae102000000 294e00002000000000 04eef0db5537201000 0826a4400100000000 004446"
     "dfffffffff73 004100ace10fd10003 000040d47d3dfd2db2 000005beff5755a403 0000000000484bcdf3"},
    {"mite 54-60", Kind::Incidence, 7,
     "76 00 75 00 00 00 00 01 46 01 00 70 00 25 77 f7 00 d5 04 00 00 04 c2 00 01 00 00 00 80 00 f7 00 "
     "61 25 56"},
    {"BCI 1", Kind::Abundance, 0,
     "2 25 1 13 2 6 4 5 1 2 2 12 4 2 12 8 2 2 1 1 2 3 14 1 1 4 3 1 2 6 1 10 5 4 21 2 3 2 6 1 1 7 1 4 1"
     " 2 2 1 1 1 1 1 22 3 2 24 5 5 13 5 2 11 1 11 3 14 3 1 15 1 1 2 1 3 1 1 1 9 6 1 1 5 1 3 18 2 1 1 1"
     "7 4 1 3 2"},
};

// {data set, key, at, field, expected, relative tolerance, source}
const Reference kReferences[] = {
    {"BCI 1-10", "sObs", 0, Value, 170, 0e+00, "vegan specpool"},
    {"BCI 1-10", "units", 0, Value, 10, 0e+00, "matrix"},
    {"BCI 1-10", "incidences", 0, Value, 901, 0e+00, "matrix"},
    {"BCI 1-10", "q1", 0, Value, 26, 0e+00, "matrix"},
    {"BCI 1-10", "q2", 0, Value, 18, 0e+00, "matrix"},
    {"BCI 1-10", "chao2", 0, Value, 186.90000000000001, 1e-12, "vegan specpool"},
    {"BCI 1-10", "chao2", 0, Se, 8.7582659369433529, 1e-10, "vegan specpool"},
    {"BCI 1-10", "chao2", 0, Lower, 176.49709791159228, 1e-10, "Chao 1987"},
    {"BCI 1-10", "chao2", 0, Upper, 213.95962688055039, 1e-10, "Chao 1987"},
    {"BCI 1-10", "chao2BiasCorrected", 0, Value, 185.39473684210526, 1e-12, "Chao 1987, bias-corrected"},
    {"BCI 1-10", "chao2BiasCorrected", 0, Se, 8.0713109123944484, 1e-10, "delta method"},
    {"BCI 1-10", "chao2BiasCorrected", 0, Lower, 175.86002891878979, 1e-10, "Chao 1987"},
    {"BCI 1-10", "chao2BiasCorrected", 0, Upper, 210.44313188929056, 1e-10, "Chao 1987"},
    {"BCI 1-10", "ice", 0, Value, 183.57549986526169, 1e-12, "Lee & Chao 1994, Chao & Chiu 2016"},
    {"BCI 1-10", "ice", 0, Se, 5.3640056327795858, 1e-06, "delta method"},
    {"BCI 1-10", "ice", 0, Lower, 176.43498181348426, 1e-06, "Chao 1987"},
    {"BCI 1-10", "ice", 0, Upper, 198.63942773008912, 1e-06, "Chao 1987"},
    {"BCI 1-10", "jackknife1", 0, Value, 193.40000000000001, 1e-12, "vegan specpool"},
    {"BCI 1-10", "jackknife1", 0, Se, 5.0556898639058154, 1e-10, "leave-one-out jackknife"},
    {"BCI 1-10", "jackknife2", 0, Value, 201.39999999999998, 1e-12, "vegan specpool"},
    {"BCI 1-10", "coverage", 0, Value, 0.97499075101738808, 1e-12, "Chao et al. 2014"},
    {"BCI 1-10", "hill0Observed", 0, Value, 170, 0e+00, "vegan specnumber"},
    {"BCI 1-10", "hill1Observed", 0, Value, 139.24129171000763, 1e-12, "vegan diversity"},
    {"BCI 1-10", "hill2Observed", 0, Value, 124.26159497933567, 1e-12, "vegan diversity"},
    {"BCI 1-10", "hill1Asymptotic", 0, Value, 148.0804629453668, 1e-10, "Chao et al. 2014"},
    {"BCI 1-10", "hill2Asymptotic", 0, Value, 129.72672230113636, 1e-12, "Chao et al. 2014"},
    {"BCI 1-10", "jackknife2", 0, Se, 10.036444334184681, 1e-01, "bootstrap with rbinom"},
    {"BCI 1-10", "coverage", 0, Se, 0.0047555853504933892, 1e-01, "bootstrap with rbinom"},
    {"BCI 1-10", "hill1Asymptotic", 0, Se, 2.6883646339820975, 1e-01, "bootstrap with rbinom"},
    {"BCI 1-10", "hill2Asymptotic", 0, Se, 2.3290228931995869, 1e-01, "bootstrap with rbinom"},
    {"BCI 1-10", "curve.q0", 1, Value, 90.100000000000009, 1e-10, "vegan specaccum exact"},
    {"BCI 1-10", "curve.q1", 1, Value, 90.099999999999966, 1e-10, "Chao et al. 2014"},
    {"BCI 1-10", "curve.q2", 1, Value, 90.100000000000009, 1e-12, "Chao et al. 2014"},
    {"BCI 1-10", "curve.coverage", 1, Value, 0.69453693427056362, 1e-10, "Chao et al. 2014"},
    {"BCI 1-10", "curve.q0", 5, Value, 150.8452380952381, 1e-10, "vegan specaccum exact"},
    {"BCI 1-10", "curve.q1", 5, Value, 130.88843033066667, 1e-10, "Chao et al. 2014"},
    {"BCI 1-10", "curve.q2", 5, Value, 119.23832294284688, 1e-12, "Chao et al. 2014"},
    {"BCI 1-10", "curve.coverage", 5, Value, 0.93803181650018497, 1e-10, "Chao et al. 2014"},
    {"BCI 1-10", "curve.q0", 9, Value, 167.40000000000001, 1e-10, "vegan specaccum exact"},
    {"BCI 1-10", "curve.q1", 9, Value, 138.2538972462697, 1e-10, "Chao et al. 2014"},
    {"BCI 1-10", "curve.q2", 9, Value, 123.68265023981942, 1e-12, "Chao et al. 2014"},
    {"BCI 1-10", "curve.coverage", 9, Value, 0.97114317425083241, 1e-10, "Chao et al. 2014"},
    {"BCI 1-10", "curve.q0", 10, Value, 170, 1e-10, "Chao et al. 2014"},
    {"BCI 1-10", "curve.q1", 10, Value, 139.24129171000763, 1e-10, "Chao et al. 2014"},
    {"BCI 1-10", "curve.q2", 10, Value, 124.26159497933567, 1e-12, "Chao et al. 2014"},
    {"BCI 1-10", "curve.coverage", 10, Value, 0.97499075101738808, 1e-10, "Chao et al. 2014"},
    {"BCI 1-10", "curve.q0", 15, Value, 178.63682080658435, 1e-10, "Chao et al. 2014"},
    {"BCI 1-10", "curve.q1", 15, Value, 142.12744541849654, 1e-10, "Chao et al. 2014"},
    {"BCI 1-10", "curve.q2", 15, Value, 126.03141207723355, 1e-12, "Chao et al. 2014"},
    {"BCI 1-10", "curve.coverage", 15, Value, 0.98777183989135675, 1e-10, "Chao et al. 2014"},
    {"BCI 1-10", "curve.q0", 20, Value, 182.85975559866881, 1e-10, "Chao et al. 2014"},
    {"BCI 1-10", "curve.q1", 20, Value, 143.59287913238865, 1e-10, "Chao et al. 2014"},
    {"BCI 1-10", "curve.q2", 20, Value, 126.9353614149083, 1e-12, "Chao et al. 2014"},
    {"BCI 1-10", "curve.coverage", 20, Value, 0.99402109596547361, 1e-10, "Chao et al. 2014"},
    {"dune", "sObs", 0, Value, 30, 0e+00, "vegan specpool"},
    {"dune", "units", 0, Value, 20, 0e+00, "matrix"},
    {"dune", "incidences", 0, Value, 197, 0e+00, "matrix"},
    {"dune", "q1", 0, Value, 3, 0e+00, "matrix"},
    {"dune", "q2", 0, Value, 2, 0e+00, "matrix"},
    {"dune", "chao2", 0, Value, 32.137500000000003, 1e-12, "vegan specpool"},
    {"dune", "chao2", 0, Se, 3.242503373167096, 1e-10, "vegan specpool"},
    {"dune", "chao2", 0, Lower, 30.251008118020454, 1e-10, "Chao 1987"},
    {"dune", "chao2", 0, Upper, 48.202225035716516, 1e-10, "Chao 1987"},
    {"dune", "chao2BiasCorrected", 0, Value, 30.949999999999999, 1e-12, "Chao 1987, bias-corrected"},
    {"dune", "chao2BiasCorrected", 0, Se, 1.7409089260753672, 1e-10, "delta method"},
    {"dune", "chao2BiasCorrected", 0, Lower, 30.088099826802296, 1e-10, "Chao 1987"},
    {"dune", "chao2BiasCorrected", 0, Upper, 40.244061001678375, 1e-10, "Chao 1987"},
    {"dune", "ice", 0, Value, 31.067669634594949, 1e-12, "Lee & Chao 1994, Chao & Chiu 2016"},
    {"dune", "ice", 0, Se, 1.3760792120321306, 1e-06, "delta method"},
    {"dune", "ice", 0, Lower, 30.15357542036034, 1e-06, "Chao 1987"},
    {"dune", "ice", 0, Upper, 37.42253184761902, 1e-06, "Chao 1987"},
    {"dune", "jackknife1", 0, Value, 32.850000000000001, 1e-12, "vegan specpool"},
    {"dune", "jackknife1", 0, Se, 1.5564382416273381, 1e-10, "leave-one-out jackknife"},
    {"dune", "jackknife2", 0, Value, 33.844736842105263, 1e-12, "vegan specpool"},
    {"dune", "coverage", 0, Value, 0.98577015894149955, 1e-12, "Chao et al. 2014"},
    {"dune", "hill0Observed", 0, Value, 30, 0e+00, "vegan specnumber"},
    {"dune", "hill1Observed", 0, Value, 23.647152596727754, 1e-12, "vegan diversity"},
    {"dune", "hill2Observed", 0, Value, 19.994332818134982, 1e-12, "vegan diversity"},
    {"dune", "hill1Asymptotic", 0, Value, 25.150111661297899, 1e-10, "Chao et al. 2014"},
    {"dune", "hill2Asymptotic", 0, Value, 21.14022362385321, 1e-12, "Chao et al. 2014"},
    {"dune", "jackknife2", 0, Se, 4.2467654651279965, 1e-01, "bootstrap with rbinom"},
    {"dune", "coverage", 0, Se, 0.0084183243026851508, 1e-01, "bootstrap with rbinom"},
    {"dune", "hill1Asymptotic", 0, Se, 1.0936705311552346, 1e-01, "bootstrap with rbinom"},
    {"dune", "hill2Asymptotic", 0, Se, 1.0784554032231521, 1e-01, "bootstrap with rbinom"},
    {"dune", "curve.q0", 1, Value, 9.8499999999999979, 1e-10, "vegan specaccum exact"},
    {"dune", "curve.q1", 1, Value, 9.8500000000000014, 1e-10, "Chao et al. 2014"},
    {"dune", "curve.q2", 1, Value, 9.8499999999999996, 1e-12, "Chao et al. 2014"},
    {"dune", "curve.coverage", 1, Value, 0.46593641464066249, 1e-10, "Chao et al. 2014"},
    {"dune", "curve.q0", 10, Value, 27.364962436943866, 1e-10, "vegan specaccum exact"},
    {"dune", "curve.q1", 10, Value, 22.174107568025654, 1e-10, "Chao et al. 2014"},
    {"dune", "curve.q2", 10, Value, 18.966279129584855, 1e-12, "Chao et al. 2014"},
    {"dune", "curve.coverage", 10, Value, 0.95238356903268673, 1e-10, "Chao et al. 2014"},
    {"dune", "curve.q0", 19, Value, 29.850000000000001, 1e-10, "vegan specaccum exact"},
    {"dune", "curve.q1", 19, Value, 23.567930383242299, 1e-10, "Chao et al. 2014"},
    {"dune", "curve.q2", 19, Value, 19.937454105592717, 1e-12, "Chao et al. 2014"},
    {"dune", "curve.coverage", 19, Value, 0.98477157360406087, 1e-10, "Chao et al. 2014"},
    {"dune", "curve.q0", 20, Value, 30, 1e-10, "Chao et al. 2014"},
    {"dune", "curve.q1", 20, Value, 23.647152596727754, 1e-10, "Chao et al. 2014"},
    {"dune", "curve.q2", 20, Value, 19.994332818134982, 1e-12, "Chao et al. 2014"},
    {"dune", "curve.coverage", 20, Value, 0.98577015894149955, 1e-10, "Chao et al. 2014"},
    {"dune", "curve.q0", 30, Value, 31.052683380479408, 1e-10, "Chao et al. 2014"},
    {"dune", "curve.q1", 30, Value, 24.137884700598313, 1e-10, "Chao et al. 2014"},
    {"dune", "curve.q2", 30, Value, 20.362239731953832, 1e-12, "Chao et al. 2014"},
    {"dune", "curve.coverage", 30, Value, 0.99277812019958001, 1e-10, "Chao et al. 2014"},
    {"dune", "curve.q0", 40, Value, 31.586937614976332, 1e-10, "Chao et al. 2014"},
    {"dune", "curve.q1", 40, Value, 24.387056572687356, 1e-10, "Chao et al. 2014"},
    {"dune", "curve.q2", 40, Value, 20.551317604760378, 1e-12, "Chao et al. 2014"},
    {"dune", "curve.coverage", 40, Value, 0.99633477649980084, 1e-10, "Chao et al. 2014"},
    {"mite", "sObs", 0, Value, 35, 0e+00, "vegan specpool"},
    {"mite", "units", 0, Value, 70, 0e+00, "matrix"},
    {"mite", "incidences", 0, Value, 1058, 0e+00, "matrix"},
    {"mite", "q1", 0, Value, 0, 0e+00, "matrix"},
    {"mite", "q2", 0, Value, 0, 0e+00, "matrix"},
    {"mite", "chao2", 0, Value, 35, 1e-12, "vegan specpool"},
    {"mite", "chao2", 0, Se, 0, 1e-10, "vegan specpool"},
    {"mite", "chao2", 0, Lower, 35, 1e-10, "Chao 1987"},
    {"mite", "chao2", 0, Upper, 35.073605732145516, 1e-10, "Chao 1987"},
    {"mite", "chao2BiasCorrected", 0, Value, 35, 1e-12, "Chao 1987, bias-corrected"},
    {"mite", "chao2BiasCorrected", 0, Se, 0, 1e-10, "delta method"},
    {"mite", "chao2BiasCorrected", 0, Lower, 35, 1e-10, "Chao 1987"},
    {"mite", "chao2BiasCorrected", 0, Upper, 35.073605732145516, 1e-10, "Chao 1987"},
    {"mite", "ice", 0, Value, 35, 1e-12, "Lee & Chao 1994, Chao & Chiu 2016"},
    {"mite", "ice", 0, Se, 6.6230397766722529e-12, 1e-06, "delta method"},
    {"mite", "ice", 0, Lower, 35, 1e-06, "Chao 1987"},
    {"mite", "ice", 0, Upper, 35.073605732145516, 1e-06, "Chao 1987"},
    {"mite", "jackknife1", 0, Value, 35, 1e-12, "vegan specpool"},
    {"mite", "jackknife1", 0, Se, 0, 1e-10, "leave-one-out jackknife"},
    {"mite", "jackknife2", 0, Value, 35, 1e-12, "vegan specpool"},
    {"mite", "coverage", 0, Value, 1, 1e-12, "Chao et al. 2014"},
    {"mite", "hill0Observed", 0, Value, 35, 0e+00, "vegan specnumber"},
    {"mite", "hill1Observed", 0, Value, 29.629977530053445, 1e-12, "vegan diversity"},
    {"mite", "hill2Observed", 0, Value, 26.27985162229422, 1e-12, "vegan diversity"},
    {"mite", "hill1Asymptotic", 0, Value, 29.913363511645109, 1e-10, "Chao et al. 2014"},
    {"mite", "hill2Asymptotic", 0, Value, 26.564259575170592, 1e-12, "Chao et al. 2014"},
    {"mite", "curve.q0", 1, Value, 15.114285714285721, 1e-10, "vegan specaccum exact"},
    {"mite", "curve.q1", 1, Value, 15.114285714285716, 1e-10, "Chao et al. 2014"},
    {"mite", "curve.q2", 1, Value, 15.114285714285716, 1e-12, "Chao et al. 2014"},
    {"mite", "curve.coverage", 1, Value, 0.56897071313114722, 1e-10, "Chao et al. 2014"},
    {"mite", "curve.q0", 35, Value, 34.989229739199303, 1e-10, "vegan specaccum exact"},
    {"mite", "curve.q1", 35, Value, 29.340677251152222, 1e-10, "Chao et al. 2014"},
    {"mite", "curve.q2", 35, Value, 26.001469136683578, 1e-12, "Chao et al. 2014"},
    {"mite", "curve.coverage", 35, Value, 0.99982840511230919, 1e-10, "Chao et al. 2014"},
    {"mite", "curve.q0", 69, Value, 35, 1e-10, "vegan specaccum exact"},
    {"mite", "curve.q1", 69, Value, 29.625833654721781, 1e-10, "Chao et al. 2014"},
    {"mite", "curve.q2", 69, Value, 26.275774530806643, 1e-12, "Chao et al. 2014"},
    {"mite", "curve.coverage", 69, Value, 1, 1e-10, "Chao et al. 2014"},
    {"mite", "curve.q0", 70, Value, 35, 1e-10, "Chao et al. 2014"},
    {"mite", "curve.q1", 70, Value, 29.629977530053445, 1e-10, "Chao et al. 2014"},
    {"mite", "curve.q2", 70, Value, 26.27985162229422, 1e-12, "Chao et al. 2014"},
    {"mite", "curve.coverage", 70, Value, 1, 1e-10, "Chao et al. 2014"},
    {"mite", "curve.q0", 105, Value, 35, 1e-10, "Chao et al. 2014"},
    {"mite", "curve.q1", 105, Value, 29.724139963905053, 1e-10, "Chao et al. 2014"},
    {"mite", "curve.q2", 105, Value, 26.373975185453467, 1e-12, "Chao et al. 2014"},
    {"mite", "curve.coverage", 105, Value, 1, 1e-10, "Chao et al. 2014"},
    {"mite", "curve.q0", 140, Value, 35, 1e-10, "Chao et al. 2014"},
    {"mite", "curve.q1", 140, Value, 29.771333337597859, 1e-10, "Chao et al. 2014"},
    {"mite", "curve.q2", 140, Value, 26.421290254384417, 1e-12, "Chao et al. 2014"},
    {"mite", "curve.coverage", 140, Value, 1, 1e-10, "Chao et al. 2014"},
    {"mite 54-60", "sObs", 0, Value, 19, 0e+00, "vegan specpool"},
    {"mite 54-60", "units", 0, Value, 7, 0e+00, "matrix"},
    {"mite 54-60", "incidences", 0, Value, 63, 0e+00, "matrix"},
    {"mite 54-60", "q1", 0, Value, 6, 0e+00, "matrix"},
    {"mite 54-60", "q2", 0, Value, 0, 0e+00, "matrix"},
    {"mite 54-60", "chao2", 0, Value, 31.857142857142854, 1e-12, "vegan specpool"},
    {"mite 54-60", "chao2", 0, Se, 11.778452716071625, 1e-10, "vegan specpool"},
    {"mite 54-60", "chao2", 0, Lower, 21.784113847317769, 1e-10, "Chao 1987"},
    {"mite 54-60", "chao2", 0, Upper, 78.374771117293321, 1e-10, "Chao 1987"},
    {"mite 54-60", "chao2BiasCorrected", 0, Value, 31.857142857142854, 1e-12, "Chao 1987, bias-corrected"},
    {"mite 54-60", "chao2BiasCorrected", 0, Se, 12.091487982570758, 1e-10, "delta method"},
    {"mite 54-60", "chao2BiasCorrected", 0, Lower, 21.7013379712469, 1e-10, "Chao 1987"},
    {"mite 54-60", "chao2BiasCorrected", 0, Upper, 80.19416533899178, 1e-10, "Chao 1987"},
    {"mite 54-60", "ice", 0, Value, 23.388489952168932, 1e-12, "Lee & Chao 1994, Chao & Chiu 2016"},
    {"mite 54-60", "ice", 0, Se, 3.759276007010016, 1e-06, "delta method"},
    {"mite 54-60", "ice", 0, Lower, 20.025335081626981, 1e-06, "Chao 1987"},
    {"mite 54-60", "ice", 0, Upper, 37.782975834327374, 1e-06, "Chao 1987"},
    {"mite 54-60", "jackknife1", 0, Value, 24.142857142857142, 1e-12, "vegan specpool"},
    {"mite 54-60", "jackknife1", 0, Se, 2.7553287888551301, 1e-10, "leave-one-out jackknife"},
    {"mite 54-60", "jackknife2", 0, Value, 28.428571428571431, 1e-12, "vegan specpool"},
    {"mite 54-60", "coverage", 0, Value, 0.9107142857142857, 1e-12, "Chao et al. 2014"},
    {"mite 54-60", "hill0Observed", 0, Value, 19, 0e+00, "vegan specnumber"},
    {"mite 54-60", "hill1Observed", 0, Value, 15.720397484586389, 1e-12, "vegan diversity"},
    {"mite 54-60", "hill2Observed", 0, Value, 13.926315789473685, 1e-12, "vegan diversity"},
    {"mite 54-60", "hill1Asymptotic", 0, Value, 18.883342916309463, 1e-10, "Chao et al. 2014"},
    {"mite 54-60", "hill2Asymptotic", 0, Value, 15.324324324324326, 1e-12, "Chao et al. 2014"},
    {"mite 54-60", "jackknife2", 0, Se, 5.0683897124626531, 1e-01, "bootstrap with rbinom"},
    {"mite 54-60", "coverage", 0, Se, 0.032692763707684036, 1e-01, "bootstrap with rbinom"},
    {"mite 54-60", "hill1Asymptotic", 0, Se, 2.2411741366202067, 1e-01, "bootstrap with rbinom"},
    {"mite 54-60", "hill2Asymptotic", 0, Se, 1.275196848196001, 1e-01, "bootstrap with rbinom"},
    {"mite 54-60", "curve.q0", 1, Value, 9, 1e-10, "vegan specaccum exact"},
    {"mite 54-60", "curve.q1", 1, Value, 9.0000000000000018, 1e-10, "Chao et al. 2014"},
    {"mite 54-60", "curve.q2", 1, Value, 9, 1e-12, "Chao et al. 2014"},
    {"mite 54-60", "curve.coverage", 1, Value, 0.58730158730158732, 1e-10, "Chao et al. 2014"},
    {"mite 54-60", "curve.q0", 3, Value, 14.857142857142858, 1e-10, "vegan specaccum exact"},
    {"mite 54-60", "curve.q1", 3, Value, 13.46898886514647, 1e-10, "Chao et al. 2014"},
    {"mite 54-60", "curve.q2", 3, Value, 12.416058394160586, 1e-12, "Chao et al. 2014"},
    {"mite 54-60", "curve.coverage", 3, Value, 0.84444444444444444, 1e-10, "Chao et al. 2014"},
    {"mite 54-60", "curve.q0", 6, Value, 18.142857142857142, 1e-10, "vegan specaccum exact"},
    {"mite 54-60", "curve.q1", 6, Value, 15.374375018953542, 1e-10, "Chao et al. 2014"},
    {"mite 54-60", "curve.q2", 6, Value, 13.71774193548387, 1e-12, "Chao et al. 2014"},
    {"mite 54-60", "curve.coverage", 6, Value, 0.90476190476190477, 1e-10, "Chao et al. 2014"},
    {"mite 54-60", "curve.q0", 7, Value, 19, 1e-10, "Chao et al. 2014"},
    {"mite 54-60", "curve.q1", 7, Value, 15.720397484586389, 1e-10, "Chao et al. 2014"},
    {"mite 54-60", "curve.q2", 7, Value, 13.926315789473685, 1e-12, "Chao et al. 2014"},
    {"mite 54-60", "curve.coverage", 7, Value, 0.9107142857142857, 1e-10, "Chao et al. 2014"},
    {"mite 54-60", "curve.q0", 10, Value, 21.26318359375, 1e-10, "Chao et al. 2014"},
    {"mite 54-60", "curve.q1", 10, Value, 16.609177636565995, 1e-10, "Chao et al. 2014"},
    {"mite 54-60", "curve.q2", 10, Value, 14.318181818181818, 1e-12, "Chao et al. 2014"},
    {"mite 54-60", "curve.coverage", 10, Value, 0.9264308384486607, 1e-10, "Chao et al. 2014"},
    {"mite 54-60", "curve.q0", 14, Value, 23.673561501715863, 1e-10, "Chao et al. 2014"},
    {"mite 54-60", "curve.q1", 14, Value, 17.229441560367928, 1e-10, "Chao et al. 2014"},
    {"mite 54-60", "curve.q2", 14, Value, 14.591911764705882, 1e-12, "Chao et al. 2014"},
    {"mite 54-60", "curve.coverage", 14, Value, 0.94316957392064593, 1e-10, "Chao et al. 2014"},
    {"BCI 1", "sObs", 0, Value, 93, 0e+00, "vegan estimateR"},
    {"BCI 1", "chao1BiasCorrectedNoFactor", 0, Value, 117.47368421052632, 1e-12, "vegan estimateR"},
    {"BCI 1", "ace", 0, Value, 122.84895904430064, 1e-10, "vegan estimateR"},
    {"BCI 1", "hill1Observed", 0, Value, 55.61270388137099, 1e-12, "vegan diversity"},
    {"BCI 1", "hill2Observed", 0, Value, 39.415553809897879, 1e-12, "vegan diversity"},
    {"BCI 1", "curve.q0", 100, Value, 48.253517331567515, 1e-10, "vegan rarefy"},

};
// clang-format on

std::vector<std::int64_t> incidenceCells(const DataSet& d) {
    std::vector<std::int64_t> cells;
    std::istringstream in(d.cells);
    for (std::string row; in >> row;) {
        const std::size_t at = cells.size();
        cells.resize(at + std::size_t(d.units), 0);
        for (std::size_t i = 0; i < row.size(); ++i) {
            const int nibble = std::stoi(row.substr(i, 1), nullptr, 16);
            for (int b = 0; b < 4; ++b)
                if (nibble >> b & 1) cells[at + 4 * i + std::size_t(b)] = 1;
        }
    }
    return cells;
}

std::vector<std::int64_t> counts(const DataSet& d) {
    std::vector<std::int64_t> out;
    std::istringstream in(d.cells);
    for (std::int64_t c; in >> c;)
        out.push_back(c);
    return out;
}

// A data set read and analysed once, whichever its kind.
struct Analysed {
    std::variant<Frequencies, Incidence> sample;
    Analysis analysis;
};

Analysed analysed(const DataSet& d, int replicates) {
    Settings settings;
    settings.replicates = replicates;
    settings.stream = streamOf(d.name);
    if (d.kind == Kind::Abundance) {
        const auto f = Frequencies::fromCounts(counts(d));
        return {f, analyse(f, settings)};
    }
    const auto f = Incidence::fromMatrix(incidenceCells(d), std::size_t(d.units));
    return {f, analyse(f, settings)};
}

double fieldOf(const Estimate& e, Field field) {
    switch (field) {
    case Value:
        return e.value;
    case Se:
        return e.se;
    case Lower:
        return e.hasInterval ? e.lower : NAN;
    case Upper:
        return e.hasInterval ? e.upper : NAN;
    }
    return NAN;
}

double curveAt(const Frequencies& f, const std::string& what, double m) {
    const Tables t(f.n);
    return what == "coverage" ? coverageAt(f, t, m) : hillAt(f, t, what[1] - '0', m);
}

double curveAt(const Incidence& f, const std::string& what, double m) {
    const Tables t(f.t);
    return what == "coverage" ? coverageAt(f, t, m) : hillAt(f, t, what[1] - '0', m);
}

double lookup(const Analysed& a, const Reference& r) {
    const std::string key = r.key;
    if (key.rfind("curve.", 0) == 0)
        return std::visit([&](const auto& f) { return curveAt(f, key.substr(6), r.at); }, a.sample);
    for (const auto& e : a.analysis.estimates)
        if (e.key == key) return fieldOf(e, r.field);
    ADD_FAILURE() << r.dataSet << ": no estimate " << key;
    return NAN;
}

const DataSet& dataSet(const char* name) {
    for (const auto& d : kDataSets)
        if (std::strcmp(d.name, name) == 0) return d;
    throw std::logic_error(name);
}

} // namespace

// Every reference value, abundance and incidence alike, against what the code gives for the same data.
TEST(Incidence, MatchesVeganAndThePublishedFormulas) {
    std::size_t checked = 0;
    for (const auto& d : kDataSets) {
        const Analysed a = analysed(d, d.kind == Kind::Incidence ? 5000 : 0); // bootstrap rows: incidence
        for (const auto& r : kReferences) {
            if (std::strcmp(r.dataSet, d.name) != 0) continue;
            ++checked;
            EXPECT_NEAR(lookup(a, r), r.expected, r.tolerance * std::fabs(r.expected) + 1e-9)
                << r.dataSet << ": " << r.key << " at " << r.at << " field " << r.field << " (" << r.source
                << ")";
        }
    }
    EXPECT_EQ(checked, std::size(kReferences));
}

// Any count above zero is a detection, in whole or fractional counts; a species never seen is dropped; the
// uniques are counted in their unit; a count that is no count names its place.
TEST(Incidence, ReadsAMatrixOfCounts) {
    const std::vector<std::int64_t> whole = {
        3, 0, 1, 0, // seen in units 1 and 3
        0, 0, 0, 0, // never seen
        0, 7, 0, 0, // a unique, unit 2
        0, 2, 0, 0, // another, unit 2
        1, 1, 1, 1, // everywhere
    };
    std::vector<double> cover(whole.begin(), whole.end());
    cover[2] = 0.25;
    for (const Incidence& f : {Incidence::fromMatrix(whole, 4), Incidence::fromMatrix(cover, 4)}) {
        EXPECT_EQ(f.t, 4);
        EXPECT_EQ(f.s, 4);
        EXPECT_EQ(f.u, 2 + 1 + 1 + 4);
        EXPECT_EQ(f.q(1), 2);
        EXPECT_EQ(f.q(2), 1);
        EXPECT_EQ(f.q(4), 1);
        EXPECT_EQ(f.uniquesPerUnit, (std::vector<std::int64_t>{0, 2, 0, 0}));
    }
    const std::vector<double> negative = {1, 0, 2, -1}, missing = {1, NAN};
    EXPECT_RUNTIME_ERROR(Incidence::fromMatrix(negative, 2), 13, "randul 2, coloana 2");
    EXPECT_RUNTIME_ERROR(Incidence::fromMatrix(missing, 2), 13, "randul 1, coloana 2");
    EXPECT_THROW(Incidence::fromMatrix(whole, 3), std::invalid_argument);
    EXPECT_THROW(Incidence::fromDetections({5}, 4), std::invalid_argument);
}

// Every degenerate survey gets values: one that is not a finite number says why, every interval holds its
// value, and the curves stay finite.
TEST(Incidence, DegenerateSurveysGetAValueAndANote) {
    const struct {
        const char* what;
        Incidence f;
        const char* key;
        double expected; // NAN: not checked
        unsigned note;   // the note that row must carry
    } rows[] = {
        {"no detection", Incidence::fromMatrix(std::vector<std::int64_t>{0, 0, 0, 0}, 2), "chao2", 0,
         NoteEmptySample},
        {"no unit", Incidence::fromMatrix(std::vector<std::int64_t>{}, 0), "sObs", 0, NoteEmptySample},
        {"one unit", Incidence::fromDetections({1, 1, 1}, 1), "chao2", 3, NoteOneUnit},
        {"one unit, ICE", Incidence::fromDetections({1, 1, 1}, 1), "ice", 3, NoteOneUnit},
        {"one unit, jackknife", Incidence::fromDetections({1, 1}, 1), "jackknife2", 2, NoteOneUnit},
        {"one species", Incidence::fromDetections({2}, 4), "chao2", 1, NoteOneSpecies},
        {"all uniques", Incidence::fromDetections({1, 1, 1, 1}, 3), "chao2", 4 + 2.0 / 3 * 6,
         NoteNoDoubletons},
        {"all uniques, Simpson", Incidence::fromDetections({1, 1, 1, 1}, 3), "hill2Asymptotic", INFINITY,
         NoteUndefined},
        {"no uniques", Incidence::fromDetections({2, 3, 3, 5}, 6), "chao2", 4, NoteNoSingletons},
        {"nothing infrequent", Incidence::fromDetections({11, 12, 12}, 12), "ice", 3, NoteNoRareSpecies},
        {"known by frequencies", Incidence::fromDetections({1, 2, 2}, 5), "jackknife1", 3 + 0.8,
         NoteNoUniquesPerUnit},
    };
    Settings settings;
    settings.replicates = 20;
    for (const auto& r : rows) {
        const Analysis a = analyse(r.f, settings);
        bool found = false;
        for (const auto& e : a.estimates) {
            if (!std::isfinite(e.value)) {
                EXPECT_NE(e.notes, 0u) << r.what << ": " << e.key << " without a note";
            }
            if (e.se >= 0) {
                EXPECT_TRUE(std::isfinite(e.se)) << r.what << ": " << e.key;
            }
            if (e.hasInterval) {
                EXPECT_LE(e.lower, e.value) << r.what << ": " << e.key;
                EXPECT_GE(e.upper, e.value) << r.what << ": " << e.key;
            }
            if (e.key != r.key) continue;
            found = true;
            if (!std::isnan(r.expected)) {
                EXPECT_DOUBLE_EQ(e.value, r.expected) << r.what;
            }
            EXPECT_EQ(e.notes & r.note, r.note) << r.what << ": " << incidenceNoteText(e.notes);
            EXPECT_FALSE(incidenceNoteText(r.note).empty()) << r.what;
        }
        EXPECT_TRUE(found) << r.what;
        for (const auto& p : a.curve)
            for (int k = 0; k < 4; ++k)
                EXPECT_TRUE(std::isfinite(p.value[k]) && std::isfinite(p.upper[k]))
                    << r.what << " at " << p.m;
    }
}

// On real surveys every interval holds its value, the curve meets the survey at T and ends at 2T, and the
// bootstrap's errors are those it gave when written: a changed generator, table or draw shows here.
TEST(Incidence, BootstrapReproducesFromItsSeed) {
    for (const auto& d : kDataSets) {
        if (d.kind != Kind::Incidence) continue;
        const Analysed a = analysed(d, 50);
        for (const auto& e : a.analysis.estimates)
            if (e.hasInterval) {
                EXPECT_LE(e.lower, e.value) << d.name << ": " << e.key;
                EXPECT_GE(e.upper, e.value) << d.name << ": " << e.key;
            }
        const auto& curve = a.analysis.curve;
        ASSERT_FALSE(curve.empty());
        EXPECT_EQ(curve.front().m, 1);
        EXPECT_EQ(curve.back().m, 2.0 * double(d.units));
    }
    const DataSet& bci = dataSet("BCI 1-10");
    const Analysed first = analysed(bci, 200);
    Analysed onThreads[2] = {first, first};
    std::thread one([&] { onThreads[0] = analysed(bci, 200); });
    std::thread two([&] { onThreads[1] = analysed(bci, 200); });
    one.join();
    two.join();
    for (const Analysed& other : onThreads) {
        for (std::size_t i = 0; i < first.analysis.estimates.size(); ++i)
            EXPECT_EQ(other.analysis.estimates[i].se, first.analysis.estimates[i].se)
                << first.analysis.estimates[i].key;
        for (std::size_t i = 0; i < first.analysis.curve.size(); ++i)
            EXPECT_EQ(other.analysis.curve[i].upper[1], first.analysis.curve[i].upper[1]);
    }
    const Reference pinned[] = {
        {"BCI 1-10", "jackknife2", 0, Se, 10.367712494590812, 1e-12, "as written"},
        {"BCI 1-10", "hill1Asymptotic", 0, Se, 2.619105653582698, 1e-12, "as written"},
        {"BCI 1-10", "coverage", 0, Se, 0.0048847830087439424, 1e-12, "as written"},
    };
    for (const auto& r : pinned)
        EXPECT_NEAR(lookup(first, r), r.expected, r.tolerance * r.expected) << r.key;
    EXPECT_NEAR(first.analysis.curve.back().upper[0], 194.58761500544387, 1e-9);
}

// The resampler's surveys have the richness its detection model implies, Q0-hat undetected species included,
// even when Q0-hat runs to millions and is never laid out one by one.
TEST(Incidence, ResamplerDrawsItsDetectionModel) {
    std::vector<std::int64_t> detections(2000, 1);
    for (std::int64_t y = 3; y <= 40; ++y)
        detections.push_back(y);
    for (const Incidence& f : {Incidence::fromMatrix(incidenceCells(dataSet("dune")), 20),
                               Incidence::fromDetections(detections, 50)}) {
        const DetectionModel m = detectionModel(f);
        const double unseen = chanceOfAny(m.undetectedProbability, f.t);
        double expected = double(m.undetected) * unseen;
        double variance = double(m.undetected) * unseen * (1 - unseen);
        for (std::size_t c = 0; c < f.classes.size(); ++c) {
            const double seen = chanceOfAny(m.probability[c], f.t);
            expected += double(f.classes[c].species) * seen;
            variance += double(f.classes[c].species) * seen * (1 - seen);
        }
        IncidenceResampler resampler(f);
        Random random(1, 2);
        constexpr int kDraws = 500;
        double sum = 0;
        for (int i = 0; i < kDraws; ++i)
            sum += double(resampler.draw(random).s);
        EXPECT_NEAR(sum / kDraws, expected, 4 * std::sqrt(variance / kDraws)) << f.s << " species";
    }
    const BinomialTable table(1000, 0.3), truncated(1000, 1e-4, true);
    Random random(3, 4);
    double sum = 0, sumTruncated = 0;
    for (int i = 0; i < 20000; ++i) {
        sum += double(table.draw(random));
        sumTruncated += double(truncated.draw(random));
    }
    EXPECT_NEAR(sum / 20000, 300, 4 * std::sqrt(210.0 / 20000));
    EXPECT_NEAR(sumTruncated / 20000, 0.1 / chanceOfAny(1e-4, 1000), 0.01);
}
