#include "Names.h"

#include "FileAccess.h"

#include <cstdio>
#include <cstring>
#include <xxhash.h>

namespace ordana::spreadsheet {

namespace {
// Longest name of a folder entry, in bytes (NAME_MAX on Linux; Windows counts 255 UTF-16 units, more room).
constexpr std::size_t kLongestName = 255;
constexpr std::size_t kSignatureLength = 6;
} // namespace

std::string temporaryStem(const std::string& name) {
    // 255 bytes in all: the prefix, KEY, ".", six characters and the suffix.
    const std::size_t overhead = std::strlen(kTempPrefix) + 1 + kSignatureLength + std::strlen(kTempSuffix);
    const std::size_t room = kLongestName - overhead;
    if (name.size() <= room) return kTempPrefix + name + ".";
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx",
                  static_cast<unsigned long long>(XXH3_64bits(name.data(), name.size())));
    std::size_t cut = room - 1 - 16;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
        --cut; // not inside a UTF-8 sequence
    return kTempPrefix + name.substr(0, cut) + "~" + hash + ".";
}

namespace file {

std::string signedTempName(const std::string& stem, const TempIdentity& id) {
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    const std::uint64_t words[3] = {id.device, id.fileId, id.owner};
    std::uint64_t h = XXH3_64bits_withSeed(words, sizeof words, 0x6f7264616e61ull); // "ordana"
    std::string name = stem;
    for (std::size_t k = 0; k < kSignatureLength; ++k) {
        name += alphabet[h % (sizeof alphabet - 1)];
        h /= sizeof alphabet - 1;
    }
    return name + kTempSuffix;
}

bool looksLikeTemp(const std::string& entry, const std::string& stem) {
    return entry.size() == stem.size() + kSignatureLength + std::strlen(kTempSuffix) &&
           entry.starts_with(stem) && entry.ends_with(kTempSuffix);
}

bool isOurTemp(const std::string& entry, const std::string& stem, const TempIdentity& id) {
    return looksLikeTemp(entry, stem) && entry == signedTempName(stem, id);
}

std::vector<std::string> lockFileNames(const std::string& name) {
    std::vector<std::string> names = {".~lock." + name + "#", "~$" + name};
    if (name.size() > 2) names.push_back("~$" + name.substr(2)); // Office's form for longer names
    return names;
}

} // namespace file
} // namespace ordana::spreadsheet
