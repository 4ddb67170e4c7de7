// The Windows file layer under the holds Windows programs put on a workbook: each is refused with 1004 and
// its cause, the original untouched and no temporary file left; a path past 260 characters with diacritics
// saves; an unreachable drive is 52.

#include "spreadsheet/file/FileAccess.h"
#include "spreadsheet/file/Names.h"

#include "support/ErrorAssert.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>
#include <windows.h>

using namespace ordana::spreadsheet;
using Bytes = std::vector<std::uint8_t>;

namespace {

std::string utf8(const std::wstring& w) {
    std::string s(w.size() * 3, '\0');
    s.resize(std::size_t(::WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), s.data(), int(s.size()),
                                               nullptr, nullptr)));
    return s;
}

std::wstring lp(const std::wstring& path) {
    return L"\\\\?\\" + path;
}

void writeFile(const std::wstring& path, const Bytes& bytes) {
    const HANDLE h = ::CreateFileW(lp(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD put = 0;
    ::WriteFile(h, bytes.data(), DWORD(bytes.size()), &put, nullptr);
    ::CloseHandle(h);
}

Bytes readFile(const std::wstring& path) {
    const HANDLE h = ::CreateFileW(lp(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return {};
    Bytes b(1 << 16);
    DWORD got = 0;
    ::ReadFile(h, b.data(), DWORD(b.size()), &got, nullptr);
    ::CloseHandle(h);
    b.resize(got);
    return b;
}

// Every entry of the folder.
std::vector<std::wstring> entries(const std::wstring& folder) {
    std::vector<std::wstring> out;
    WIN32_FIND_DATAW d{};
    const HANDLE f = ::FindFirstFileW(lp(folder + L"\\*").c_str(), &d);
    if (f == INVALID_HANDLE_VALUE) return out;
    do {
        const std::wstring n = d.cFileName;
        if (n != L"." && n != L"..") out.push_back(n);
    } while (::FindNextFileW(f, &d));
    ::FindClose(f);
    return out;
}

void removeAll(const std::wstring& folder) {
    for (const auto& e : entries(folder)) {
        const std::wstring p = folder + L"\\" + e;
        ::SetFileAttributesW(lp(p).c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!::DeleteFileW(lp(p).c_str())) removeAll(p);
    }
    ::RemoveDirectoryW(lp(folder).c_str());
}

const Bytes kOriginal(3000, 0x11);
const Bytes kNew(5000, 0x22);

class WindowsFile : public ::testing::Test {
  protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        ::GetTempPathW(MAX_PATH, temp);
        dir_ = std::wstring(temp) + L"ordana-wf-" + std::to_wstring(::GetCurrentProcessId());
        ::CreateDirectoryW(lp(dir_).c_str(), nullptr);
        file_ = dir_ + L"\\Registru teren.xlsx";
        writeFile(file_, kOriginal);
    }
    void TearDown() override { removeAll(dir_); }

    std::string path() const { return utf8(file_); }

    std::wstring dir_, file_;
};

struct Hold {
    const char* name;
    // Puts the hold on the workbook, after it was read; what it returns is released after the save.
    std::function<HANDLE(const std::wstring& dir, const std::wstring& file)> take;
    const char* fragment;
};

HANDLE openWith(const std::wstring& file, DWORD access, DWORD share) {
    return ::CreateFileW(lp(file).c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
}

} // namespace

// A workbook another program holds is refused with the hold's cause, before anything is written.
TEST_F(WindowsFile, HoldsOfOtherProgramsAreRefusedWithTheirCause) {
    const std::vector<Hold> holds = {
        {"open without write sharing (Excel)",
         [](const std::wstring&, const std::wstring& f) {
             return openWith(f, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ);
         },
         "deschis in alt program"},
        {"Excel's owner file",
         [](const std::wstring& d, const std::wstring&) {
             writeFile(d + L"\\~$Registru teren.xlsx", Bytes(165, 1));
             return INVALID_HANDLE_VALUE;
         },
         "~$Registru teren.xlsx"},
        {"LibreOffice's lock file",
         [](const std::wstring& d, const std::wstring&) {
             writeFile(d + L"\\.~lock.Registru teren.xlsx#", Bytes(60, 1));
             return INVALID_HANDLE_VALUE;
         },
         ".~lock.Registru teren.xlsx#"},
        {"read-only attribute",
         [](const std::wstring&, const std::wstring& f) {
             ::SetFileAttributesW(lp(f).c_str(), FILE_ATTRIBUTE_READONLY);
             return INVALID_HANDLE_VALUE;
         },
         "doar citire"},
        {"replaced since it was read (another program's save)",
         [](const std::wstring& d, const std::wstring& f) {
             writeFile(d + L"\\nou.xlsx", Bytes(3000, 0x33));
             const bool replaced =
                 ::ReplaceFileW(lp(f).c_str(), lp(d + L"\\nou.xlsx").c_str(), nullptr, 0, nullptr, nullptr);
             EXPECT_TRUE(replaced) << "error " << ::GetLastError();
             return INVALID_HANDLE_VALUE;
         },
         "schimbat de alt program"},
    };
    for (const auto& hold : holds) {
        SCOPED_TRACE(hold.name);
        writeFile(file_, kOriginal);
        const auto source = SourceFile::read(path());
        const HANDLE held = hold.take(dir_, file_);
        const Bytes before = readFile(file_);
        EXPECT_RUNTIME_ERROR(saveInPlace(*source, [](const ByteSink& sink) { sink(kNew); }), 1004,
                             hold.fragment);
        if (held != INVALID_HANDLE_VALUE) ::CloseHandle(held);
        EXPECT_EQ(readFile(file_), before);
        for (const auto& e : entries(dir_)) {
            EXPECT_FALSE(utf8(e).starts_with(kTempPrefix)) << "a temporary file stays";
            if (lp(dir_ + L"\\" + e) != lp(file_)) ::DeleteFileW(lp(dir_ + L"\\" + e).c_str());
        }
        ::SetFileAttributesW(lp(file_).c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

// A save through a folder path past 260 characters, with diacritics, replaces the file; the new file is
// not hidden, and nothing else stays in the folder. (Its creation time is kept on Windows; Wine on a Linux
// file system has none to keep.)
TEST_F(WindowsFile, LongPathWithDiacriticsSaves) {
    std::wstring folder = dir_;
    for (int k = 0; k < 10; ++k) {
        folder +=
            L"\\P\u0103dure Neagr\u0103 \u0219i \u021b\u00e2\u0219ni\u021be de munte " + std::to_wstring(k);
        ASSERT_TRUE(::CreateDirectoryW(lp(folder).c_str(), nullptr));
    }
    ASSERT_GT(folder.size(), 260u);
    const std::wstring file = folder + L"\\Specii \u0219i abunden\u021be.xlsx";
    writeFile(file, kOriginal);
    auto source = SourceFile::readForWriting(utf8(file));
    EXPECT_TRUE(source->holdsWriterLock());
    saveInPlace(*source, [](const ByteSink& sink) { sink(kNew); });
    source.reset(); // the replaced original lasts while its handle does
    EXPECT_EQ(readFile(file), kNew);
    const DWORD attributes = ::GetFileAttributesW(lp(file).c_str());
    EXPECT_EQ(attributes & FILE_ATTRIBUTE_HIDDEN, 0u);
    EXPECT_EQ(entries(folder).size(), 1u);
    // A second save reads the first one's result.
    const auto again = SourceFile::read(utf8(file));
    EXPECT_EQ(Bytes(again->bytes().begin(), again->bytes().end()), kNew);
}

// Failures that are not holds: the drive or share gone is 52, a missing file and a second writer 1004.
TEST_F(WindowsFile, UnreachableDriveAndMissingFile) {
    EXPECT_RUNTIME_ERROR(SourceFile::read("Q:\\Date teren\\registru.xlsx"), 52, "Date teren");
    EXPECT_RUNTIME_ERROR(checkCanSave("Q:\\Date teren\\registru.xlsx"), 52, "Date teren");
    EXPECT_RUNTIME_ERROR(SourceFile::read(utf8(dir_ + L"\\nu exista.xlsx")), 1004, "nu exista");
    const auto first = SourceFile::readForWriting(path());
    ASSERT_TRUE(first->holdsWriterLock());
    EXPECT_RUNTIME_ERROR(SourceFile::readForWriting(path(), 50), 1004, "alta rulare Ordana");
    EXPECT_RUNTIME_ERROR(
        SourceFile::readOnDemand(path());
        saveInPlace(*SourceFile::readOnDemand(path()), [](const ByteSink& sink) { sink(kNew); }), 1004,
        "doar pentru citire");
}

// checkCanSave sees the same holds before anything is read.
TEST_F(WindowsFile, CheckCanSaveSeesTheHolds) {
    const HANDLE held = openWith(file_, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ);
    EXPECT_RUNTIME_ERROR(checkCanSave(path()), 1004, "deschis in alt program");
    ::CloseHandle(held);
    ::SetFileAttributesW(lp(file_).c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_RUNTIME_ERROR(checkCanSave(path()), 1004, "doar citire");
    ::SetFileAttributesW(lp(file_).c_str(), FILE_ATTRIBUTE_NORMAL);
    writeFile(dir_ + L"\\~$Registru teren.xlsx", Bytes(165, 1));
    EXPECT_RUNTIME_ERROR(checkCanSave(path()), 1004, "~$Registru teren.xlsx");
    ::DeleteFileW(lp(dir_ + L"\\~$Registru teren.xlsx").c_str());
    checkCanSave(path());
}

// Leftovers of saves that died are removed by the next save once a minute old; a user's file that only looks
// like one, or a copy of a leftover, stays.
TEST_F(WindowsFile, OnlyOurOwnStaleTemporaryFilesAreRemoved) {
    const std::string stem = temporaryStem("Registru teren.xlsx");
    const auto age = [](const std::wstring& p) {
        const HANDLE h =
            openWith(p, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
        FILETIME t{};
        ::GetSystemTimeAsFileTime(&t);
        ULARGE_INTEGER v{{t.dwLowDateTime, t.dwHighDateTime}};
        v.QuadPart -= 3600ull * 10000000;
        t = {v.LowPart, v.HighPart};
        ::SetFileTime(h, nullptr, nullptr, &t);
        ::CloseHandle(h);
    };
    // A leftover of ours: named with its own signature, as a save names it.
    const std::wstring made = dir_ + L"\\provizoriu";
    writeFile(made, Bytes(100, 5));
    const HANDLE h = openWith(made, GENERIC_READ, FILE_SHARE_READ);
    BY_HANDLE_FILE_INFORMATION info{};
    ::GetFileInformationByHandle(h, &info);
    ::CloseHandle(h);
    const std::string ours = ordana::spreadsheet::file::signedTempName(
        stem,
        {info.dwVolumeSerialNumber, (std::uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow, 0});
    const std::wstring leftover = dir_ + L"\\" + std::wstring(ours.begin(), ours.end());
    ASSERT_TRUE(::MoveFileExW(lp(made).c_str(), lp(leftover).c_str(), 0));
    const std::wstring lookalike = dir_ + L"\\" + std::wstring(stem.begin(), stem.end()) + L"AbC123.saving~";
    writeFile(lookalike, Bytes(100, 6));
    const std::wstring copy = dir_ + L"\\" + std::wstring(ours.begin(), ours.end() - 14) + L"CoPy00.saving~";
    ::CopyFileW(lp(leftover).c_str(), lp(copy).c_str(), TRUE);
    for (const auto& p : {leftover, lookalike, copy})
        age(p);

    saveInPlace(*SourceFile::read(path()), [](const ByteSink& sink) { sink(kNew); });
    EXPECT_EQ(readFile(file_), kNew);
    EXPECT_EQ(::GetFileAttributesW(lp(leftover).c_str()), INVALID_FILE_ATTRIBUTES)
        << "a leftover of ours stays";
    EXPECT_NE(::GetFileAttributesW(lp(lookalike).c_str()), INVALID_FILE_ATTRIBUTES)
        << "a user's file was removed";
    EXPECT_NE(::GetFileAttributesW(lp(copy).c_str()), INVALID_FILE_ATTRIBUTES) << "a copy was removed";
    EXPECT_EQ(entries(dir_).size(), 3u);
}
