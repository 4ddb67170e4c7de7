#pragma once

// The refusals every platform's file layer words alike.

#include "common/RuntimeError.h"
#include "common/Text.h"
#include "spreadsheet/Failure.h"

#include <cstdint>
#include <string>

namespace ordana::spreadsheet::file {

using spreadsheet::fail;

// The folder must be there and be a folder; otherwise the drive or share is gone: 52.
[[noreturn]] inline void folderUnreachable(const std::string& folder) {
    throw RuntimeError(err::DeviceUnavailable, "Dosarul " + text::quoted(folder) + " nu este accesibil");
}

[[noreturn]] inline void failChanged(const std::string& path) {
    fail("Fisierul " + text::quoted(path) +
         " a fost schimbat de alt program dupa ce a fost citit; nu a fost scris nimic");
}

// A read on demand after another program changed the file; the engines put the sheet and the file in front.
[[noreturn]] inline void changedSinceOpened() {
    fail("fisierul a fost schimbat de alt program dupa ce a fost deschis; deschideti-l din nou");
}

[[noreturn]] inline void tooLarge(const std::string& path, std::uint64_t size) {
    fail("Fisierul " + text::quoted(path) + " este prea mare pentru un registru (" + std::to_string(size) +
         " octeti)");
}

[[noreturn]] inline void writeProtected(const std::string& path) {
    fail("Fisierul " + text::quoted(path) + " este protejat la scriere");
}

[[noreturn]] inline void lockedByAnotherProgram(const std::string& path) {
    fail("Fisierul " + text::quoted(path) + " este blocat de alt program");
}

[[noreturn]] inline void lockFilePresent(const std::string& path, const std::string& lockFile) {
    fail("Fisierul " + text::quoted(path) + " este deschis in alt program (exista fisierul de blocare " +
         text::quoted(lockFile) + ")");
}

[[noreturn]] inline void writerWaitOver(const std::string& path) {
    fail("Fisierul " + text::quoted(path) +
         " este scris chiar acum de alta rulare Ordana; incercati din nou dupa ce aceasta se termina");
}

[[noreturn]] inline void notSaved(const std::string& path, const std::string& why) {
    fail("Fisierul " + text::quoted(path) + " nu a putut fi salvat: " + why);
}

[[noreturn]] inline void notReadable(const std::string& path, const std::string& why) {
    fail("Fisierul " + text::quoted(path) + " nu poate fi citit: " + why);
}

} // namespace ordana::spreadsheet::file
