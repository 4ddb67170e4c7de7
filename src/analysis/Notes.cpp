#include "Notes.h"

namespace ordana::estimators {

std::vector<std::string> noteCodes(unsigned notes) {
    static const char* const codes[] = {
        "fara_singletoni", "fara_dubletoni", "doar_singletoni",     "o_singura_specie", "sub_doi_indivizi",
        "fara_solutie",    "esantion_gol",   "fara_varianta",       "fara_specii_rare", "nedefinit",
        "peste_2n",        "sub_s_observat", "rare_doar_singletoni"};
    std::vector<std::string> out;
    for (unsigned i = 0; i < sizeof codes / sizeof *codes; ++i)
        if (notes & (1u << i)) out.push_back(codes[i]);
    return out;
}

std::string noteText(unsigned notes) {
    static const char* const texts[] = {"fara singletoni (f1 = 0)",
                                        "fara dubletoni (f2 = 0)",
                                        "toate speciile au cate un individ",
                                        "o singura specie",
                                        "mai putin de doi indivizi",
                                        "fara solutie (S = n)",
                                        "esantion gol",
                                        "varianta nepozitiva",
                                        "nicio specie rara (<= 10)",
                                        "formula nedefinita",
                                        "extrapolare peste 2n, nesigura",
                                        ("estimare sub S observat (f2 mare fata de f1); intervalul ei nu "
                                         "este limitat la S observat"),
                                        "toate speciile rare (<= 10) au cate un individ"};
    std::string out;
    for (unsigned i = 0; i < sizeof texts / sizeof *texts; ++i)
        if (notes & (1u << i)) out += (out.empty() ? "" : "; ") + std::string(texts[i]);
    return out;
}

} // namespace ordana::estimators
