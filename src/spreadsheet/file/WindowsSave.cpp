#include "Failures.h"
#include "Names.h"
#include "WinFile.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

// The safe save on Windows, as its steps: take the lock, check the owner (here: that no other program holds
// the file), write the temporary file, carry the metadata, exchange with ReplaceFileW or by renames.

namespace ordana::spreadsheet {

using namespace file;
using text::quoted;

namespace {

HANDLE raw(const NativeFile& f) {
    return reinterpret_cast<HANDLE>(f.get());
}

std::wstring longNameOf(const SourceFile& source) {
    return longPath(source.folder() + "\\" + source.name());
}

// The name still holds the file that was read, with its size and time of last write.
void requireSameFile(const SourceFile& source, const std::wstring& path) {
    NativeFile now = openShared(path, FILE_READ_ATTRIBUTES);
    SourceFile::Version v;
    if (!now.valid() || !versionOf(raw(now), v) || !(v == source.version())) failChanged(source.path());
}

// Other programs' holds on the file, each refused with its cause.
void checkReplaceable(const std::wstring& path, const std::string& shown) {
    checkNotReadOnly(path, shown);
    checkLockFiles(path, shown);
    checkNotHeld(path, shown);
}

// Step 1. A source read without the writer lock takes it now; the handle that holds it (none when the
// source's own does).
NativeFile takeWriterLock(const SourceFile& source, const std::wstring& path) {
    if (source.holdsWriterLock()) return {};
    const std::string& shown = source.path();
    NativeFile h = openShared(path, GENERIC_READ | GENERIC_WRITE);
    if (!h.valid()) {
        const DWORD e = ::GetLastError();
        if (e == ERROR_SHARING_VIOLATION) heldByAnotherProgram(shown);
        if (e == ERROR_ACCESS_DENIED) {
            checkNotReadOnly(path, shown);
            writeProtected(shown);
        }
        failChanged(shown);
    }
    SourceFile::Version v;
    if (!versionOf(raw(h), v) || !(v == source.version())) failChanged(shown);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kWriterWaitMilliseconds);
    while (!tryWriterLock(raw(h))) {
        if (std::chrono::steady_clock::now() > deadline) writerWaitOver(shown);
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
    return h;
}

TempIdentity identityOf(HANDLE h) {
    SourceFile::Version v;
    if (!versionOf(h, v)) return {};
    return {v.device, v.inode, 0};
}

// Leftovers of saves of this workbook that died: files whose name carries the signature of the very file, not
// locked by a living writer, unchanged for a minute. Each is deleted through the handle it was judged by.
void removeStaleTemps(const SourceFile& source) {
    const std::string stem = temporaryStem(source.name());
    const std::wstring folder = longPath(source.folder());
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW((folder + L"\\" + wide(stem) + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    const auto ticks = [](const FILETIME& t) {
        return (std::uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    do {
        const std::string entry = utf8(found.cFileName);
        if (!looksLikeTemp(entry, stem) ||
            (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
            continue;
        const HANDLE h =
            ::CreateFileW((folder + L"\\" + found.cFileName).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                          FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                          FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        const NativeFile file(reinterpret_cast<NativeFile::Handle>(h));
        if (!file.valid() || !isOurTemp(entry, stem, identityOf(h))) continue;
        BY_HANDLE_FILE_INFORMATION info{};
        if (!::GetFileInformationByHandle(h, &info) ||
            ticks(info.ftLastWriteTime) + std::uint64_t(kStaleTempSeconds) * 10000000 > ticks(now) ||
            !tryWriterLock(h))
            continue;
        FILE_DISPOSITION_INFO gone{TRUE};
        ::SetFileInformationByHandle(h, FileDispositionInfo, &gone, sizeof gone);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
}

// A name beside the original, of the temporary files' form but random: never one a save of ours signed, so
// that the sweep for leftovers never takes it.
std::wstring randomName(const SourceFile& source, const std::string& stem) {
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    std::string name = stem;
    for (int k = 0; k < 6; ++k)
        name += alphabet[random() % (sizeof alphabet - 1)];
    return longPath(source.folder() + "\\" + name + kTempSuffix);
}

// Step 3. A new hidden file beside the original, never one that exists, renamed at once to carry its own
// signature (so that only a save of ours is ever taken for a leftover) and locked while it is ours.
NativeFile createTemp(const SourceFile& source, std::wstring& temp) {
    const std::string stem = temporaryStem(source.name());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring provisional = randomName(source, stem);
        const HANDLE h = ::CreateFileW(provisional.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                       FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_HIDDEN, nullptr);
        NativeFile file(reinterpret_cast<NativeFile::Handle>(h));
        if (!file.valid()) {
            if (::GetLastError() == ERROR_FILE_EXISTS || ::GetLastError() == ERROR_ALREADY_EXISTS) continue;
            notSaved(source.path(), reason(lastError()));
        }
        (void)tryWriterLock(h);
        temp = longPath(source.folder() + "\\" + signedTempName(stem, identityOf(h)));
        if (::MoveFileExW(provisional.c_str(), temp.c_str(), 0)) return file;
        FILE_DISPOSITION_INFO gone{TRUE};
        ::SetFileInformationByHandle(h, FileDispositionInfo, &gone, sizeof gone);
    }
    notSaved(source.path(), "fisierul temporar nu poate fi creat");
}

void writeAll(HANDLE h, std::span<const std::uint8_t> bytes, const std::string& shown) {
    while (!bytes.empty()) {
        const DWORD want = DWORD(std::min<std::size_t>(bytes.size(), 8 << 20));
        DWORD put = 0;
        if (!::WriteFile(h, bytes.data(), want, &put, nullptr) || put == 0)
            notSaved(shown, reason(lastError()));
        bytes = bytes.subspan(put);
    }
}

// Whether the original still holds exactly the bytes read.
bool holdsNow(const NativeFile& file, std::span<const std::uint8_t> bytes) {
    std::vector<std::uint8_t> block(std::size_t(256) << 10);
    std::uint64_t done = 0;
    for (;;) {
        const std::int64_t n = file.readAt(block.data(), block.size(), done);
        if (n < 0) return false;
        if (n == 0) return done == bytes.size();
        if (std::uint64_t(n) > bytes.size() - done ||
            std::memcmp(block.data(), bytes.data() + done, std::size_t(n)))
            return false;
        done += std::uint64_t(n);
    }
}

// The new content in the temporary file, on the disk; the original's bytes compared with those read.
void writeTemporary(const SourceFile& source, const NativeFile& temp,
                    const std::function<void(const ByteSink&)>& produce) {
    const FileBytes& original = *source.data();
    produce([&](std::span<const std::uint8_t> piece) {
        const bool inOriginal = piece.data() >= original.base() &&
                                piece.data() + piece.size() <= original.base() + original.size();
        writeAll(raw(temp), inOriginal ? original.view(piece) : piece, source.path());
    });
    if (!::FlushFileBuffers(raw(temp))) notSaved(source.path(), reason(lastError()));
    NativeFile read = openShared(longNameOf(source), GENERIC_READ);
    if (!read.valid() || !holdsNow(read, source.bytes())) failChanged(source.path());
}

// Step 4. The original's attributes (but hidden and read-only) and creation time onto the new file, which
// ReplaceFileW keeps too, with the ACL and the alternate streams; the copy here serves the fallback.
void carryMetadata(const std::wstring& path, const NativeFile& temp, const std::string& shown) {
    WIN32_FILE_ATTRIBUTE_DATA original{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &original)) failChanged(shown);
    if (!::SetFileTime(raw(temp), &original.ftCreationTime, nullptr, nullptr))
        notSaved(shown, reason(lastError()));
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandleEx(raw(temp), FileBasicInfo, &basic, sizeof basic))
        notSaved(shown, reason(lastError()));
    basic.FileAttributes = original.dwFileAttributes & ~DWORD(FILE_ATTRIBUTE_READONLY);
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!::SetFileInformationByHandle(raw(temp), FileBasicInfo, &basic, sizeof basic))
        notSaved(shown, reason(lastError()));
}

// Wine's ReplaceFileW copies the folder into a MAX_PATH buffer and names its own temporary file there: a
// longer path fails or lands elsewhere.
bool replaceFileTakes(const std::wstring& path) {
    static const bool wine =
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return !wine || path.size() + 16 < MAX_PATH;
}

[[noreturn]] void notReplaced(const std::string& shown, DWORD e, const std::string& more = {}) {
    fail("Fisierul " + quoted(shown) + " nu a putut fi inlocuit: " + reason(int(e)) + more);
}

// What ReplaceFileW does, by renames, where it cannot be used. The original cannot be renamed over while our
// own lock holds it open: it moves aside under a name no sweep takes, the new file takes its place written
// through to the disk, and the original is deleted (it lasts while a handle holds it, as ReplaceFileW leaves
// it). Where the new file cannot take the place, the original goes back. Neither file is ever deleted while
// it is the only copy of its contents: the name of what is left is in the message.
void exchangeByRenames(const SourceFile& source, const std::wstring& path, std::wstring& temp) {
    const std::string& shown = source.path();
    const std::string stem = temporaryStem(source.name());
    if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES &&
        ::GetLastError() == ERROR_FILE_NOT_FOUND) {
        // A ReplaceFileW that deleted the original and could not move the new file in.
        if (::MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) return;
        const DWORD e = ::GetLastError();
        const std::wstring kept = randomName(source, stem);
        if (::MoveFileExW(temp.c_str(), kept.c_str(), 0)) temp = kept;
        const std::string where = quoted(utf8(nameOf(temp)));
        temp.clear(); // not deleted: it holds the only copy
        notReplaced(shown, e, "; continutul nou a ramas in " + where);
    }
    std::wstring aside;
    for (int attempt = 0; attempt < 100 && aside.empty(); ++attempt) {
        aside = randomName(source, stem);
        if (::MoveFileExW(path.c_str(), aside.c_str(), 0)) break;
        const DWORD e = ::GetLastError();
        aside.clear();
        if (e == ERROR_SHARING_VIOLATION) heldByAnotherProgram(shown);
        if (e != ERROR_FILE_EXISTS && e != ERROR_ALREADY_EXISTS) notReplaced(shown, e);
    }
    if (aside.empty()) notReplaced(shown, ERROR_FILE_EXISTS);
    if (::MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) {
        ::DeleteFileW(aside.c_str());
        return;
    }
    const DWORD e = ::GetLastError();
    if (!::MoveFileExW(aside.c_str(), path.c_str(), 0))
        notReplaced(shown, e, "; originalul a ramas in " + quoted(utf8(nameOf(aside))));
    notReplaced(shown, e);
}

// Step 5. At the last moment the checks again, then the exchange: ReplaceFileW, which keeps the original's
// ACL and alternate streams, or where it fails with the new contents still in the temporary file (a file
// system without ACLs or streams to keep) or cannot take the path, the same by renames.
void exchange(const SourceFile& source, const std::wstring& path, std::wstring& temp) {
    const std::string& shown = source.path();
    checkReplaceable(path, shown);
    requireSameFile(source, path);
    if (replaceFileTakes(path)) {
        if (::ReplaceFileW(path.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                           nullptr))
            return;
        const DWORD e = ::GetLastError();
        if (e == ERROR_SHARING_VIOLATION) heldByAnotherProgram(shown);
        if (::GetFileAttributesW(temp.c_str()) == INVALID_FILE_ATTRIBUTES) notReplaced(shown, e);
    }
    exchangeByRenames(source, path, temp);
}

} // namespace

void checkCanSave(const std::string& path) {
    const std::wstring target = longPath(path);
    const auto slash = path.find_last_of("/\\");
    requireFolder(folderOf(target), slash == std::string::npos ? "." : path.substr(0, slash));
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        fail(quoted(path) + " este un dosar, nu un fisier");
    checkLockFiles(target, path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    checkNotReadOnly(target, path);
    checkNotHeld(target, path);
}

void saveInPlace(const SourceFile& source, const std::function<void(const ByteSink&)>& produce) {
    const std::string& shown = source.path();
    if (!source.onDisk())
        fail("Registrul " + quoted(shown) + " nu a fost citit dintr-un fisier si nu poate fi salvat pe loc");
    if (source.onDemand_)
        fail("Registrul " + quoted(shown) + " a fost deschis doar pentru citire si nu poate fi salvat; " +
             "nu a fost scris nimic");
    const std::wstring path = longNameOf(source);
    requireFolder(folderOf(path), source.folder());

    const NativeFile ownLock = takeWriterLock(source, path);
    checkReplaceable(path, shown);
    requireSameFile(source, path);

    removeStaleTemps(source);
    std::wstring tempPath;
    NativeFile temp = createTemp(source, tempPath);
    try {
        writeTemporary(source, temp, produce);
        carryMetadata(path, temp, shown);
        temp.reset(); // ReplaceFileW opens it itself
        exchange(source, path, tempPath);
    } catch (...) {
        temp.reset();
        if (!tempPath.empty()) ::DeleteFileW(tempPath.c_str());
        throw;
    }
}

} // namespace ordana::spreadsheet
