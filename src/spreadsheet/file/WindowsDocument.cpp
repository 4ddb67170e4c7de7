#include "Document.h"
#include "Failures.h"
#include "WinFile.h"

#include <cwctype>
#include <random>

namespace ordana::spreadsheet {

using namespace file;
using text::quoted;

namespace {

[[noreturn]] void notWritten(const std::string& path, const std::string& why) {
    fail("Fisierul " + quoted(path) + " nu a putut fi scris: " + why);
}

PathKind kindOf(DWORD attributes) {
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return PathKind::Link;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::Folder;
    if (attributes & FILE_ATTRIBUTE_DEVICE) return PathKind::Other;
    return PathKind::Regular;
}

const char* kindWords(PathKind kind) {
    switch (kind) {
    case PathKind::Link:
        return "este o legatura simbolica";
    case PathKind::Folder:
        return "este un dosar";
    default:
        return "nu este un fisier obisnuit";
    }
}

// CON, NUL, COM1 and the like name devices in every folder, whatever their extension.
bool isDeviceName(std::wstring name) {
    name = name.substr(0, name.find(L'.'));
    for (auto& c : name)
        c = wchar_t(std::towupper(c));
    for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL"})
        if (name == device) return true;
    return name.size() == 4 && (name.starts_with(L"COM") || name.starts_with(L"LPT")) && name[3] >= L'1' &&
           name[3] <= L'9';
}

} // namespace

PathKind pathKind(const std::string& path) {
    const std::wstring place = longPath(path);
    if (isDeviceName(nameOf(place))) return PathKind::Other;
    return kindOf(::GetFileAttributesW(place.c_str()));
}

void writeDocument(const std::string& path, std::span<const std::uint8_t> bytes) {
    const std::wstring place = longPath(path);
    const std::wstring folder = folderOf(place), name = nameOf(place);
    if (name.empty()) notWritten(path, kindWords(PathKind::Folder));
    requireFolder(folder, utf8(folder));
    const PathKind kind = isDeviceName(name) ? PathKind::Other : kindOf(::GetFileAttributesW(place.c_str()));
    if (kind != PathKind::Missing && kind != PathKind::Regular) notWritten(path, kindWords(kind));
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    const std::string stem = temporaryStem(utf8(name));
    std::wstring temporary;
    NativeFile file;
    for (int attempt = 0; !file.valid(); ++attempt) {
        std::string suffix;
        for (int k = 0; k < 6; ++k)
            suffix += alphabet[random() % (sizeof alphabet - 1)];
        temporary = folder + L"\\" + wide(stem + suffix + ".tmp~");
        file.reset(reinterpret_cast<NativeFile::Handle>(::CreateFileW(
            temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)));
        const DWORD error = ::GetLastError();
        if (!file.valid() &&
            ((error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) || attempt == 100))
            notWritten(path, reason(int(error)));
    }
    try {
        const HANDLE h = reinterpret_cast<HANDLE>(file.get());
        for (std::size_t done = 0; done < bytes.size();) {
            DWORD written = 0;
            const DWORD chunk = DWORD(std::min<std::size_t>(bytes.size() - done, 8 << 20));
            if (!::WriteFile(h, bytes.data() + done, chunk, &written, nullptr) || written == 0)
                notWritten(path, reason(lastError()));
            done += written;
        }
        if (!::FlushFileBuffers(h)) notWritten(path, reason(lastError()));
        file.reset();
        if (!::MoveFileExW(temporary.c_str(), place.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            notWritten(path, reason(lastError()));
    } catch (...) {
        file.reset();
        ::DeleteFileW(temporary.c_str());
        throw;
    }
}

} // namespace ordana::spreadsheet
