#pragma once

// The names a save puts beside a workbook, and those other programs put there while they hold it.

#include <cstdint>
#include <string>
#include <vector>

namespace ordana::spreadsheet::file {

// What identifies a temporary file a save of ours made: the file itself (volume and file number) and its
// owner. Its name carries a signature of these, so a stale leftover is told apart from a user's file that
// merely has a name like it, or from a copy of a leftover.
struct TempIdentity {
    std::uint64_t device = 0;
    std::uint64_t fileId = 0;
    std::uint64_t owner = 0;
};

// The whole temporary name for a file of that identity: temporaryStem(name), six signature characters and
// kTempSuffix.
std::string signedTempName(const std::string& stem, const TempIdentity& id);

// Whether entry is the name a save of ours gave the file of that identity.
bool isOurTemp(const std::string& entry, const std::string& stem, const TempIdentity& id);

// Whether entry has the shape of a temporary name for stem, whoever made it.
bool looksLikeTemp(const std::string& entry, const std::string& stem);

// The lock files LibreOffice (".~lock.NAME#") and Office ("~$NAME", and for longer names "~$" with the
// name's first two characters dropped) leave beside a document they have open.
std::vector<std::string> lockFileNames(const std::string& name);

} // namespace ordana::spreadsheet::file
