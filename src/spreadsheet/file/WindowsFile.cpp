#include "Failures.h"
#include "Names.h"
#include "WinFile.h"

#include <algorithm>

namespace ordana::spreadsheet {

void NativeFile::reset(Handle h) {
    if (h_ != kNone) ::CloseHandle(reinterpret_cast<HANDLE>(h_));
    h_ = h;
}

namespace {

// FILETIME counts 100 ns from 1601; the stamps keep seconds and nanoseconds like POSIX's.
void splitTime(const FILETIME& t, std::int64_t& seconds, std::int64_t& nanoseconds) {
    const std::uint64_t ticks = (std::uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    seconds = std::int64_t(ticks / 10000000);
    nanoseconds = std::int64_t(ticks % 10000000) * 100;
}

} // namespace

bool NativeFile::stamp(Stamp& out) const {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(reinterpret_cast<HANDLE>(h_), &info)) return false;
    out.size = (std::uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    splitTime(info.ftLastWriteTime, out.seconds, out.nanoseconds);
    return true;
}

std::int64_t NativeFile::readAt(std::uint8_t* buffer, std::uint64_t n, std::uint64_t offset) const {
    std::uint64_t done = 0;
    while (done < n) {
        OVERLAPPED at{};
        at.Offset = DWORD(offset + done);
        at.OffsetHigh = DWORD((offset + done) >> 32);
        DWORD got = 0;
        const DWORD want = DWORD(std::min<std::uint64_t>(n - done, 1u << 30));
        if (!::ReadFile(reinterpret_cast<HANDLE>(h_), buffer + done, want, &got, &at)) {
            if (::GetLastError() == ERROR_HANDLE_EOF) break;
            return -1;
        }
        if (got == 0) break;
        done += got;
    }
    return std::int64_t(done);
}

NativeFile NativeFile::duplicate() const {
    HANDLE copy = nullptr;
    const HANDLE self = ::GetCurrentProcess();
    if (!::DuplicateHandle(self, reinterpret_cast<HANDLE>(h_), self, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return {};
    return NativeFile(reinterpret_cast<Handle>(copy));
}

int lastError() {
    return int(::GetLastError());
}

std::string reason(int e) {
    switch (DWORD(e)) {
    case ERROR_ACCESS_DENIED:
        return "permisiune refuzata";
    case ERROR_SHARING_VIOLATION:
        return "fisierul este deschis in alt program, care nu permite accesul la el";
    case ERROR_LOCK_VIOLATION:
        return "o parte a fisierului este blocata de alt program";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return "discul este plin";
    case ERROR_WRITE_PROTECT:
        return "discul este protejat la scriere";
    case ERROR_FILENAME_EXCED_RANGE:
        return "numele este prea lung";
    case ERROR_NOT_READY:
        return "unitatea nu este pregatita";
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return "nu exista";
    case ERROR_CRC:
    case ERROR_IO_DEVICE:
        return "eroare de intrare/iesire";
    default:
        return "eroarea de sistem " + std::to_string(e);
    }
}

namespace file {

std::wstring wide(const std::string& s) {
    if (s.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), int(s.size()), nullptr, 0);
    if (n <= 0) fail("Numele " + text::quoted(s) + " nu este text UTF-8 corect");
    std::wstring w(std::size_t(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), int(s.size()), w.data(), n);
    return w;
}

std::string utf8(const std::wstring& w) {
    if (w.empty()) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(std::size_t(std::max(n, 0)), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

std::wstring longPath(const std::string& path) {
    std::wstring w = wide(path);
    std::replace(w.begin(), w.end(), L'/', L'\\');
    if (w.starts_with(L"\\\\?\\")) return w;
    const DWORD n = ::GetFullPathNameW(w.c_str(), 0, nullptr, nullptr);
    if (n == 0) fail("Calea " + text::quoted(path) + " nu este corecta: " + reason(lastError()));
    std::wstring full(n, L'\0');
    full.resize(::GetFullPathNameW(w.c_str(), n, full.data(), nullptr));
    if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2); // \\server\share
    return L"\\\\?\\" + full;
}

std::wstring folderOf(const std::wstring& path) {
    const auto slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? L"." : path.substr(0, slash);
}

std::wstring nameOf(const std::wstring& path) {
    const auto slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

void requireFolder(const std::wstring& folder, const std::string& shown) {
    const DWORD attributes = ::GetFileAttributesW((folder + L"\\").c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        folderUnreachable(shown);
}

NativeFile openShared(const std::wstring& path, DWORD access) {
    const HANDLE h =
        ::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return NativeFile(reinterpret_cast<NativeFile::Handle>(h));
}

bool versionOf(HANDLE h, SourceFile::Version& out) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(h, &info)) return false;
    out.device = info.dwVolumeSerialNumber;
    out.inode = (std::uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    out.size = (std::uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    splitTime(info.ftLastWriteTime, out.mtimeSeconds, out.mtimeNanoseconds);
    return true;
}

bool tryWriterLock(HANDLE h) {
    OVERLAPPED at{};
    at.Offset = 0xFFFFFFFE;
    at.OffsetHigh = 0x7FFFFFFF;
    if (::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) return true;
    const DWORD e = ::GetLastError();
    return e != ERROR_LOCK_VIOLATION &&
           e != ERROR_IO_PENDING; // a file system without locks: nothing to wait for
}

void heldByAnotherProgram(const std::string& shown) {
    fail(
        "Fisierul " + text::quoted(shown) +
        " este deschis in alt program (de exemplu Excel), care nu permite scrierea lui; inchideti-l acolo si "
        "incercati din nou");
}

void checkLockFiles(const std::wstring& path, const std::string& shown) {
    const std::wstring folder = folderOf(path);
    for (const auto& lock : lockFileNames(utf8(nameOf(path))))
        if (::GetFileAttributesW((folder + L"\\" + wide(lock)).c_str()) != INVALID_FILE_ATTRIBUTES)
            lockFilePresent(shown, lock);
}

void checkNotReadOnly(const std::wstring& path, const std::string& shown) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        fail("Fisierul " + text::quoted(shown) + " este protejat la scriere (are atributul \"doar citire\")");
}

void checkNotHeld(const std::wstring& path, const std::string& shown) {
    NativeFile probe = openShared(path, GENERIC_READ | GENERIC_WRITE | DELETE);
    if (probe.valid()) return;
    const DWORD e = ::GetLastError();
    if (e == ERROR_SHARING_VIOLATION) heldByAnotherProgram(shown);
    if (e == ERROR_LOCK_VIOLATION) lockedByAnotherProgram(shown);
    if (e == ERROR_ACCESS_DENIED) writeProtected(shown);
    if (e == ERROR_FILE_NOT_FOUND) failChanged(shown);
    notSaved(shown, reason(int(e)));
}

} // namespace file
} // namespace ordana::spreadsheet
