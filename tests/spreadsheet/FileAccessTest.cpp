#include "spreadsheet/file/FileAccess.h"

#include "common/Text.h"
#include "support/ErrorAssert.h"
#include "support/ProcessIo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace ordana::spreadsheet;
using ordana::testing::bytesReadSoFar;
namespace text = ordana::text;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes content(std::size_t n, std::uint8_t seed) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(seed * 31 + i * 13 + (i >> 10));
    return b;
}

void writeFile(const fs::path& p, const Bytes& b) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// What a program that hides its write does: the file rewritten with bytes (or left as it is, without them),
// then its access and modification times put back.
void putTimesBack(const fs::path& p, const std::optional<Bytes>& bytes = std::nullopt) {
    struct stat before {};
    ::stat(p.c_str(), &before);
    if (bytes) writeFile(p, *bytes);
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ::utimensat(AT_FDCWD, p.c_str(), times, 0);
}

Bytes readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Saves bytes over the file at path as an engine would: read it, then save through what was read.
void saveOver(const fs::path& path, const Bytes& bytes) {
    const auto source = SourceFile::read(path.string());
    saveInPlace(*source, [&](const ByteSink& sink) { sink(bytes); });
}

Bytes readBack(const fs::path& p) {
    const auto source = SourceFile::read(p.string());
    return {source->bytes().begin(), source->bytes().end()};
}

// Everything in the folder whose name marks it as a save's temporary file.
std::vector<std::string> temps(const fs::path& dir) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string().starts_with(kTempPrefix))
            out.push_back(e.path().filename().string());
    return out;
}

// A process that holds a lock on the file until killed.
class LockHolder {
  public:
    // A record lock covers the whole file unless length says how much of its start.
    LockHolder(const fs::path& file, bool useFlock, off_t length = 0) {
        int ready[2];
        if (::pipe(ready) != 0) throw std::runtime_error("pipe");
        pid_ = ::fork();
        if (pid_ == 0) {
            const int fd = ::open(file.c_str(), O_RDWR);
            bool ok = fd >= 0;
            if (ok && useFlock) ok = ::flock(fd, LOCK_EX) == 0;
            if (ok && !useFlock) {
                struct flock lk {};
                lk.l_type = F_WRLCK;
                lk.l_whence = SEEK_SET;
                lk.l_len = length;
                ok = ::fcntl(fd, F_SETLK, &lk) == 0;
            }
            const char c = ok ? 'y' : 'n';
            (void)!::write(ready[1], &c, 1);
            ::sleep(30);
            ::_exit(0);
        }
        char c = 'n';
        (void)!::read(ready[0], &c, 1);
        ::close(ready[0]);
        ::close(ready[1]);
        locked_ = c == 'y';
    }
    ~LockHolder() {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    bool locked() const { return locked_; }

  private:
    pid_t pid_;
    bool locked_ = false;
};

class FileAccess : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "ordana-fa-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
        file_ = dir_ / "registru.xls";
        writeFile(file_, original_);
    }
    void TearDown() override {
        for (const auto& e : fs::recursive_directory_iterator(dir_))
            if (e.is_directory() && !e.is_symlink())
                fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add);
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(dir_);
    }

    // Past the kernel's clock tick: a write from now on is stamped with a later time of status change.
    static void ageFile() { std::this_thread::sleep_for(std::chrono::milliseconds(30)); }

    fs::path dir_;
    fs::path file_;
    const Bytes original_ = content(3000, 1);
};

// The file systems of a Linux desktop's own disks, which stamp times to the nanosecond from this machine's
// clock.
bool onLocalDisk(const fs::path& p) {
    struct statfs st {};
    if (::statfs(p.c_str(), &st) != 0) return false;
    const auto type = static_cast<unsigned long>(st.f_type);
    return type == 0xEF53 || type == 0x01021994 || type == 0x58465342 || type == 0x9123683E;
}

// A check run in a child process as an ordinary user: "nobody" when the tests run as root, the user itself
// otherwise. The child's exit status is the number of failed checks (100: it could not become nobody).
int asOrdinaryUser(const std::function<int()>& checks) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(100);
        int failures = 0;
        try {
            failures = checks();
        } catch (...) {
            failures = 99;
        }
        ::_exit(std::min(failures, 98));
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 97;
}

bool throwsWith(const std::function<void()>& call, int number, const std::string& fragment) {
    try {
        call();
    } catch (const ordana::RuntimeError& e) {
        return e.number() == number && e.description().find(fragment) != std::string::npos;
    }
    return false;
}

// Every extended attribute of a file (ACLs included), name to value.
std::map<std::string, std::string> attributes(const fs::path& p) {
    std::map<std::string, std::string> out;
    std::vector<char> list(65536);
    const ssize_t n = ::llistxattr(p.c_str(), list.data(), list.size());
    for (ssize_t at = 0; n > 0 && at < n;) {
        const std::string name(list.data() + at);
        at += static_cast<ssize_t>(name.size()) + 1;
        std::vector<char> value(65536);
        const ssize_t v = ::lgetxattr(p.c_str(), name.c_str(), value.data(), value.size());
        if (v >= 0) out[name] = std::string(value.data(), static_cast<std::size_t>(v));
    }
    return out;
}

void age(const fs::path& p, int seconds) {
    const timespec t[2] = {{::time(nullptr) - seconds, 0}, {::time(nullptr) - seconds, 0}};
    ::utimensat(AT_FDCWD, p.c_str(), t, AT_SYMLINK_NOFOLLOW);
}

// What a save of the workbook at file that dies half-way leaves: the name of its temporary file.
std::string leftoverOfADeadSave(const fs::path& file) {
    const auto before = temps(file.parent_path());
    const pid_t pid = ::fork();
    if (pid == 0) {
        try {
            const auto source = SourceFile::read(file.string());
            saveInPlace(*source, [](const ByteSink& sink) {
                sink(content(100, 53));
                ::_exit(0);
            });
        } catch (...) {
        }
        ::_exit(1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    for (const auto& t : temps(file.parent_path()))
        if (std::find(before.begin(), before.end(), t) == before.end()) return t;
    return {};
}

} // namespace

TEST_F(FileAccess, ReadsWholeFilesAndNamesEachFailure) {
    EXPECT_EQ(readBack(file_), original_);
    writeFile(dir_ / "gol.xls", {});
    EXPECT_TRUE(readBack(dir_ / "gol.xls").empty());
    fs::create_directory(dir_ / "dosar.xls");
    ASSERT_EQ(::mkfifo((dir_ / "fifo.xls").c_str(), 0644), 0);
    fs::create_symlink(dir_ / "lipsa.xls", dir_ / "legatura.xls");
    { std::ofstream big(dir_ / "mare.xls"); }
    fs::resize_file(dir_ / "mare.xls", kMaxWorkbookBytes + 1); // sparse: costs no disk
    // Names of open descriptors: of the workbook, and of a workbook deleted while open.
    const int held = ::open(file_.c_str(), O_RDONLY);
    writeFile(dir_ / "sters.xls", original_);
    const int deleted = ::open((dir_ / "sters.xls").c_str(), O_RDONLY);
    fs::remove(dir_ / "sters.xls");
    const std::string fdName = std::to_string(held);
    fs::create_symlink("/proc/self/fd/" + fdName, dir_ / "prin-proc.xls");

    struct Case {
        const char* name;
        fs::path path;
        int number;
        const char* fragment;
    };
    const std::vector<Case> cases = {
        {"missing", dir_ / "lipsa.xls", 1004, "lipsa.xls\" nu exista"},
        {"dangling link", dir_ / "legatura.xls", 1004, "nu exista"},
        {"a folder", dir_ / "dosar.xls", 1004, "este un dosar, nu un fisier"},
        {"a fifo (must not block)", dir_ / "fifo.xls", 1004, "nu este un fisier obisnuit"},
        {"too large", dir_ / "mare.xls", 1004, "este prea mare pentru un registru"},
        {"folder gone", dir_ / "disparut" / "registru.xls", 52, "nu este accesibil"},
        {"folder is a file", file_ / "registru.xls", 52, "nu este accesibil"},
        {"/proc/self/fd", "/proc/self/fd/" + fdName, 1004, "printr-un descriptor deschis"},
        {"/dev/fd", "/dev/fd/" + fdName, 1004, "printr-un descriptor deschis"},
        {"/dev/stdin", "/dev/stdin", 1004, "printr-un descriptor deschis"},
        {"a link into /proc", dir_ / "prin-proc.xls", 1004, "printr-un descriptor deschis"},
        {"a deleted file", "/proc/self/fd/" + std::to_string(deleted), 1004, "printr-un descriptor deschis"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_RUNTIME_ERROR(SourceFile::read(c.path.string()), c.number, c.fragment);
        EXPECT_RUNTIME_ERROR(SourceFile::readForWriting(c.path.string()), c.number, c.fragment);
    }
    ::close(held);
    ::close(deleted);
    EXPECT_EQ(readFile(file_), original_);
}

// A case of refusing a save: what is arranged in the fresh folder (holding registru.xls) between the read and
// the save.
struct LockCase {
    const char* name;
    std::function<void(const fs::path& dir, const fs::path& file)> arrange;
    int number; // 0: saving is allowed
    const char* fragment;
};

class FileAccessLocks : public FileAccess, public ::testing::WithParamInterface<LockCase> {};

TEST_P(FileAccessLocks, CheckCanSaveRefusesWhatAUserWouldSeeAsLocked) {
    const LockCase& c = GetParam();
    const bool gone = std::string(c.name) == "folder gone";
    if (gone) {
        fs::create_directory(dir_ / "sub");
        writeFile(dir_ / "sub" / "registru.xls", original_);
    }
    const fs::path target = gone ? dir_ / "sub" / "registru.xls" : file_;
    // Read before the change, as a command does; what checkCanSave refuses, the save refuses too.
    const auto source = SourceFile::read(target.string());
    c.arrange(dir_, file_);
    if (c.number == 0) {
        EXPECT_NO_THROW(checkCanSave(target.string()));
        return;
    }
    EXPECT_RUNTIME_ERROR(checkCanSave(target.string()), c.number, c.fragment);
    EXPECT_RUNTIME_ERROR(saveInPlace(*source, [&](const ByteSink& sink) { sink(content(10, 2)); }), c.number,
                         c.fragment);
    if (fs::exists(target)) {
        EXPECT_EQ(readFile(target), original_);
    }
}

INSTANTIATE_TEST_SUITE_P(
    FileAccess, FileAccessLocks,
    ::testing::Values(
        LockCase{"plain file", [](auto&, auto&) {}, 0, ""},
        LockCase{"file not there yet", [](auto&, const fs::path& file) { fs::remove(file); }, 0, ""},
        LockCase{"read-only file",
                 [](auto&, const fs::path& file) {
                     fs::permissions(file, fs::perms::owner_read | fs::perms::group_read);
                 },
                 1004, "este protejat la scriere"},
        LockCase{"read-only folder",
                 [](const fs::path& dir, auto&) {
                     fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
                 },
                 1004, "Dosarul"},
        LockCase{"LibreOffice lock file",
                 [](const fs::path& dir, auto&) { writeFile(dir / ".~lock.registru.xls#", {}); }, 1004,
                 "fisierul de blocare \".~lock.registru.xls#\""},
        LockCase{"Office owner file",
                 [](const fs::path& dir, auto&) { writeFile(dir / "~$registru.xls", {}); }, 1004,
                 "\"~$registru.xls\""},
        LockCase{"Office owner file of a long name",
                 [](const fs::path& dir, auto&) { writeFile(dir / "~$gistru.xls", {}); }, 1004,
                 "\"~$gistru.xls\""},
        LockCase{"lock file of another workbook",
                 [](const fs::path& dir, auto&) { writeFile(dir / ".~lock.altul.xls#", {}); }, 0, ""},
        LockCase{"folder gone", [](const fs::path& dir, auto&) { fs::remove_all(dir / "sub"); }, 52,
                 "nu este accesibil"}),
    [](const auto& info) {
        std::string name;
        for (const char* p = info.param.name; *p; ++p)
            name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        return name;
    });

TEST_F(FileAccess, ALockHeldOnTheFileIsRefused) {
    for (bool useFlock : {false, true}) {
        SCOPED_TRACE(useFlock ? "flock" : "fcntl");
        {
            const auto source = SourceFile::read(file_.string());
            LockHolder holder(file_, useFlock);
            ASSERT_TRUE(holder.locked());
            EXPECT_RUNTIME_ERROR(checkCanSave(file_.string()), 1004, "este blocat de alt program");
            EXPECT_RUNTIME_ERROR(saveInPlace(*source, [&](const ByteSink& sink) { sink(content(10, 2)); }),
                                 1004, "blocat de alt program");
            if (!useFlock) { // a record lock over the whole file is another program's, not a run to wait for
                EXPECT_RUNTIME_ERROR(SourceFile::readForWriting(file_.string()), 1004,
                                     "blocat de alt program");
            }
            EXPECT_EQ(readFile(file_), original_);
        }
        EXPECT_NO_THROW(checkCanSave(file_.string()));
    }
}

TEST_F(FileAccess, SaveReplacesTheRealFileAndKeepsItsPermissionsAndOwner) {
    // The workbook sits behind two relative links; the links stay links.
    fs::create_directory(dir_ / "date");
    const fs::path real = dir_ / "date" / "real.xls";
    fs::rename(file_, real);
    fs::create_symlink("date/real.xls", dir_ / "pas.xls");
    fs::create_symlink("pas.xls", file_);
    const bool root = ::geteuid() == 0;
    // Set-id bits stay on a file whose owner is kept.
    const mode_t mode = root ? 06740 : 0640;
    if (root) {
        ASSERT_EQ(::chown(real.c_str(), 1234, 4321), 0);
    }
    ASSERT_EQ(::chmod(real.c_str(), mode), 0);

    const Bytes next = content(70000, 3);
    saveOver(file_, next);
    EXPECT_TRUE(fs::is_symlink(file_));
    EXPECT_TRUE(fs::is_symlink(dir_ / "pas.xls"));
    EXPECT_EQ(readFile(real), next);
    struct stat st {};
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode);
    if (root) {
        EXPECT_EQ(st.st_uid, 1234u);
        EXPECT_EQ(st.st_gid, 4321u);
    }
    EXPECT_TRUE(temps(dir_ / "date").empty());
    EXPECT_TRUE(temps(dir_).empty());

    writeFile(dir_ / "date" / ".~lock.real.xls#", {});
    EXPECT_RUNTIME_ERROR(saveOver(file_, content(10, 4)), 1004, ".~lock.real.xls#");
    EXPECT_EQ(readFile(real), next);
}

// Another program saves its own version between our read and our rename: ours is refused, theirs stays.
TEST_F(FileAccess, TheFileSavedIsTheFileRead) {
    const Bytes theirs = content(original_.size(), 40); // same size: only the content tells them apart
    fs::path secret;
    const Bytes secretBytes = content(64, 41);
    struct Case {
        const char* name;
        std::function<void()> race;
        std::function<void()> check; // what the other program left must still be there
    };
    const std::vector<Case> cases = {
        {"written in place", [&] { writeFile(file_, theirs); }, [&] { EXPECT_EQ(readFile(file_), theirs); }},
        {"written in place, time of change put back", [&] { putTimesBack(file_, theirs); },
         [&] { EXPECT_EQ(readFile(file_), theirs); }},
        {"renamed over",
         [&] {
             writeFile(dir_ / "nou.xls", theirs);
             fs::rename(dir_ / "nou.xls", file_);
         },
         [&] { EXPECT_EQ(readFile(file_), theirs); }},
        {"removed", [&] { fs::remove(file_); }, [&] { EXPECT_FALSE(fs::exists(fs::symlink_status(file_))); }},
        {"replaced by a link to another file",
         [&] {
             fs::remove(file_);
             fs::create_symlink(secret, file_);
         },
         [&] {
             EXPECT_TRUE(fs::is_symlink(file_));
             EXPECT_EQ(readFile(secret), secretBytes);
             struct stat st {};
             ::stat(secret.c_str(), &st);
             EXPECT_EQ(st.st_mode & 07777, 0600u);
         }},
        {"saved already through the same read", [&] { saveOver(file_, theirs); },
         [&] { EXPECT_EQ(readFile(file_), theirs); }},
    };
    // A file read as soon as it was written, and one read later, whose time of status change then vouches
    // for its bytes (and must not vouch for the other program's).
    for (bool aged : {false, true})
        for (bool duringWrite : {false, true}) {
            for (const auto& c : cases) {
                SCOPED_TRACE(std::string(c.name) +
                             (duringWrite ? ", while the save writes" : ", before the save") +
                             (aged ? ", a file written a while before" : ""));
                TearDown();
                SetUp();
                secret = dir_ / "secret.conf";
                writeFile(secret, secretBytes);
                ::chmod(secret.c_str(), 0600);
                if (aged) ageFile();
                const auto source = SourceFile::read(file_.string());
                if (std::string(c.name) == "saved already through the same read") {
                    saveInPlace(*source, [&](const ByteSink& sink) { sink(theirs); });
                } else if (!duringWrite) {
                    c.race();
                }
                EXPECT_RUNTIME_ERROR(
                    saveInPlace(*source,
                                [&](const ByteSink& sink) {
                                    sink(content(5000, 42));
                                    if (duringWrite) c.race();
                                    sink(content(5000, 43));
                                }),
                    1004, "a fost schimbat de alt program dupa ce a fost citit; nu a fost scris nimic");
                c.check();
                EXPECT_TRUE(temps(dir_).empty());
            }
        }
}

// A save holds the file to the bytes read without reading it all again when its time of status change has
// not moved since the read; when it has (the file's mode set again, say), the bytes are compared.
TEST_F(FileAccess, AnUnchangedFileIsNotReadAgainToSaveIt) {
    const Bytes big = content(std::size_t(4) << 20, 7);
    const struct {
        const char* name;
        std::function<void()> meanwhile;
        bool readAgain;
    } cases[] = {
        {"left alone", [] {}, false},
        {"its mode set again", [&] { ::chmod(file_.c_str(), 0644); }, true},
        {"its times set again", [&] { putTimesBack(file_); }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(file_, big);
        ageFile();
        const auto source = SourceFile::read(file_.string());
        if (!onLocalDisk(dir_))
            GTEST_SKIP() << "the test folder is not on a local file system that keeps nanoseconds";
        ASSERT_TRUE(source->changeTime().proves);
        c.meanwhile();
        const std::uint64_t before = bytesReadSoFar();
        saveInPlace(*source, [&](const ByteSink& sink) { sink(content(100, 8)); });
        const std::uint64_t read = bytesReadSoFar() - before;
        EXPECT_EQ(readFile(file_), content(100, 8));
        if (c.readAgain)
            EXPECT_GE(read, big.size());
        else
            EXPECT_LT(read, big.size() / 8);
    }
}

// A file to be saved whose time of status change will tell a later write is read as it is asked for; the save
// copies what was never read from the file and holds it to that time: any change since is refused, since
// the parts not read cannot be compared.
TEST_F(FileAccess, AFileToBeSavedIsReadAsAskedWhenItsChangeTimeTells) {
    const std::size_t mib = std::size_t(1) << 20;
    const Bytes big = content(4 * mib, 9);
    const Bytes added = content(300, 10);
    Bytes expected(big.begin(), big.begin() + std::ptrdiff_t(2 * mib));
    expected.insert(expected.end(), added.begin(), added.end());
    expected.insert(expected.end(), big.begin() + std::ptrdiff_t(3 * mib),
                    big.begin() + std::ptrdiff_t(3 * mib + 100));
    const struct {
        const char* name;
        std::function<void()> meanwhile;
        bool saved;
    } cases[] = {
        {"left alone", [] {}, true},
        {"its mode set again", [&] { ::chmod(file_.c_str(), 0644); }, false},
        {"rewritten, time of change put back", [&] { putTimesBack(file_, content(big.size(), 11)); }, false},
    };
    if (!onLocalDisk(dir_))
        GTEST_SKIP() << "the test folder is not on a local file system that keeps nanoseconds";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(file_, big);
        ageFile();
        const auto source = SourceFile::readForWriting(file_.string());
        ASSERT_TRUE(source->changeTime().proves);
        EXPECT_EQ(source->data()->bytesRead(), 0u);
        c.meanwhile();
        const Bytes left = readFile(file_);
        // Pieces of the original not read yet: a long one the kernel copies, a short one read to be written.
        const std::uint8_t* original = source->data()->base();
        const auto save = [&] {
            saveInPlace(*source, [&](const ByteSink& sink) {
                sink({original, 2 * mib});
                sink(added);
                sink({original + 3 * mib, 100});
            });
        };
        if (c.saved) {
            save();
            EXPECT_EQ(readFile(file_), expected);
            EXPECT_LT(source->data()->bytesRead(), mib);
        } else {
            EXPECT_RUNTIME_ERROR(save(), 1004, "a fost schimbat de alt program dupa ce a fost citit");
            EXPECT_EQ(readFile(file_), left);
        }
        EXPECT_TRUE(temps(dir_).empty());
    }
}

// Read on demand, a file gives the bytes asked for, reads little more, and only from the version opened.
TEST_F(FileAccess, ReadOnDemandReadsWhatIsAskedFromTheVersionOpened) {
    const Bytes mine = content(1 << 20, 7);
    writeFile(file_, mine);
    struct Step {
        std::uint64_t at, length;
        std::uint64_t readAfter; // bytes read from the file so far
    };
    const auto source = SourceFile::readOnDemand(file_.string());
    const FileBytes& bytes = *source->data();
    EXPECT_EQ(bytes.size(), mine.size());
    EXPECT_EQ(bytes.bytesRead(), 0u);
    for (const Step& s : std::vector<Step>{{300000, 10, 65536},
                                           {300000, 1, 65536},            // read already
                                           {65536 * 7 - 2, 4, 3 * 65536}, // across a block's end
                                           {mine.size() - 3, 100, 4 * 65536}}) {
        const auto v = bytes.view(s.at, s.length);
        const std::uint64_t n = std::min<std::uint64_t>(s.length, mine.size() - s.at);
        ASSERT_EQ(v.size(), n);
        EXPECT_TRUE(std::equal(v.begin(), v.end(), mine.begin() + std::ptrdiff_t(s.at))) << s.at;
        EXPECT_EQ(bytes.bytesRead(), s.readAfter) << s.at;
    }
    EXPECT_EQ(Bytes(source->bytes().begin(), source->bytes().end()), mine);
    EXPECT_EQ(bytes.bytesRead(), mine.size());
    // Read over time, its bytes cannot be held to the version opened: it is never saved.
    EXPECT_RUNTIME_ERROR(saveInPlace(*source, [&](const ByteSink& sink) { sink(content(100, 9)); }), 1004,
                         "a fost deschis doar pentru citire si nu poate fi salvat; nu a fost scris nimic");
    EXPECT_EQ(readFile(file_), mine);
    EXPECT_TRUE(temps(dir_).empty());

    // Changed by another program after the open: what was read stays, a further read fails.
    const std::vector<std::pair<const char*, std::function<void()>>> changes = {
        {"rewritten, same size", [&] { writeFile(file_, content(mine.size(), 8)); }},
        {"grown", [&] { std::ofstream(file_, std::ios::app) << "mai mult"; }},
        {"cut short", [&] { fs::resize_file(file_, 100000); }},
    };
    for (const auto& [name, change] : changes) {
        SCOPED_TRACE(name);
        writeFile(file_, mine);
        const auto s = SourceFile::readOnDemand(file_.string());
        const auto first = s->data()->view(10, 5);
        ::usleep(10000); // a later time of change than the open saw
        change();
        EXPECT_RUNTIME_ERROR((void)s->data()->view(500000, 5), 1004,
                             "fisierul a fost schimbat de alt program dupa ce a fost deschis");
        EXPECT_TRUE(std::equal(first.begin(), first.end(), mine.begin() + 10));
    }
}

TEST_F(FileAccess, LocksAndLockFilesAreCheckedAgainJustBeforeTheRename) {
    struct Case {
        const char* name;
        std::function<std::shared_ptr<void>()> appear; // what another program does while we write
        const char* fragment;
    };
    const std::vector<Case> cases = {
        {"LibreOffice lock file",
         [&] {
             writeFile(dir_ / ".~lock.registru.xls#", {});
             return nullptr;
         },
         "fisierul de blocare \".~lock.registru.xls#\""},
        {"Office owner file",
         [&] {
             writeFile(dir_ / "~$registru.xls", {});
             return nullptr;
         },
         "\"~$registru.xls\""},
        // On the content: a lock over the whole file would take in the byte that this run holds itself.
        {"record lock", [&] { return std::make_shared<LockHolder>(file_, false, 100); },
         "blocat de alt program"},
        {"flock", [&] { return std::make_shared<LockHolder>(file_, true); }, "blocat de alt program"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        const auto source = SourceFile::readForWriting(file_.string());
        std::shared_ptr<void> held;
        EXPECT_RUNTIME_ERROR(saveInPlace(*source,
                                         [&](const ByteSink& sink) {
                                             sink(content(4000, 44));
                                             held = c.appear();
                                         }),
                             1004, c.fragment);
        EXPECT_EQ(readFile(file_), original_);
        EXPECT_TRUE(temps(dir_).empty());
    }
}

TEST_F(FileAccess, ExtendedAttributesAndAclsAreKept) {
    // As this user, and as an ordinary one in a folder of its own.
    auto keepsAttributes = [](const fs::path& dir, bool root) {
        const fs::path file = dir / "acl.xls";
        writeFile(file, content(3000, 45));
        ::chmod(file.c_str(), 0640);
        int failures = 0;
        const std::string binary("\x00\x01\xff", 3);
        if (::setxattr(file.c_str(), "user.ordana.nota", "verificat", 9, 0) != 0 && errno == ENOTSUP) {
            std::cout << "skipped: the file system in " << dir << " has no extended attributes\n";
            return 0;
        }
        failures += ::setxattr(file.c_str(), "user.binar", binary.data(), binary.size(), 0) != 0;
        // A group that may only read, a named user who may write: the mask (rw) lands in the group bits.
        const std::string acl = "setfacl -m u:65534:rw,g::r,m::rw,o::- '" + file.string() + "' 2>/dev/null";
        const bool hasAcl = std::system(acl.c_str()) == 0;
        if (!hasAcl) std::cout << "skipped: ACLs (setfacl missing or not supported in " << dir << ")\n";
        if (root) {
            failures += ::setxattr(file.c_str(), "trusted.ordana", "t", 1, 0) != 0;
            failures += ::setxattr(file.c_str(), "security.ordana", "s", 1, 0) != 0 && errno != ENOTSUP &&
                        errno != EOPNOTSUPP;
        }
        const auto before = attributes(file);
        struct stat st0 {};
        ::stat(file.c_str(), &st0);
        saveOver(file, content(9000, 46));
        const auto after = attributes(file);
        struct stat st1 {};
        ::stat(file.c_str(), &st1);
        failures += before != after;
        failures += (st0.st_mode & 07777) != (st1.st_mode & 07777);
        failures += hasAcl && !after.contains("system.posix_acl_access");
        failures += readFile(file) != content(9000, 46);
        return failures;
    };
    EXPECT_EQ(keepsAttributes(dir_, ::geteuid() == 0), 0);
    const fs::path own = dir_ / "utilizator";
    fs::create_directory(own);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(own.c_str(), 65534, 65534), 0);
        fs::permissions(dir_, fs::perms::others_exec, fs::perm_options::add);
    }
    EXPECT_EQ(asOrdinaryUser([&] { return keepsAttributes(own, false); }), 0);
}

// Saving by rename would make the saver the owner of another user's workbook: refused, nothing changes.
TEST_F(FileAccess, AnotherUsersWorkbookIsRefusedNotTaken) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to lay out another user's file";
    fs::permissions(dir_, fs::perms::all | fs::perms::sticky_bit);
    fs::permissions(file_, fs::perms::all); // 0777: anyone may write it, and it is set-id below
    ASSERT_EQ(::chmod(file_.c_str(), 06777), 0);
    const int failures = asOrdinaryUser([&] {
        int f = 0;
        f += !throwsWith([&] { checkCanSave(file_.string()); }, 1004, "apartine altui utilizator");
        f += !throwsWith([&] { saveOver(file_, content(10, 47)); }, 1004, "apartine altui utilizator");
        f += !throwsWith([&] { saveOver(file_, content(10, 47)); }, 1004, "nu a fost scris nimic");
        return f;
    });
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(readFile(file_), original_);
    struct stat st {};
    ASSERT_EQ(::stat(file_.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_mode & 07777, 06777u);
    EXPECT_TRUE(temps(dir_).empty());
}

TEST_F(FileAccess, LongNamesSaveAndTheirTemporaryNamesMapBack) {
    auto named = [](std::size_t bytes, const std::string& letter) {
        std::string n;
        while (n.size() + letter.size() + 4 <= bytes)
            n += letter;
        while (n.size() + 4 < bytes)
            n += 'x';
        return n + ".xls";
    };
    const std::vector<std::string> names = {named(200, "a"), named(231, "b"), named(232, "c"),
                                            named(240, "d"), named(255, "e"), named(255, "\xc8\x99")};
    for (const auto& name : names) {
        SCOPED_TRACE(std::to_string(name.size()) + " bytes");
        ASSERT_LE(name.size(), 255u);
        const std::string stem = temporaryStem(name);
        EXPECT_LE(stem.size() + 6 + std::strlen(kTempSuffix), 255u);
        EXPECT_TRUE(text::isValidUtf8(stem));
        // Two names alike but for their end get temporary names of their own.
        std::string twin = name;
        twin[twin.size() - 5] = twin[twin.size() - 5] == 'x' ? 'y' : 'x';
        EXPECT_NE(temporaryStem(twin), stem);

        const fs::path file = dir_ / name;
        writeFile(file, original_);
        const fs::path leftover = dir_ / leftoverOfADeadSave(file);
        ASSERT_TRUE(leftover.filename().string().starts_with(stem));
        age(leftover, 3600);
        saveOver(file, content(4000, 49));
        EXPECT_EQ(readFile(file), content(4000, 49));
        EXPECT_FALSE(fs::exists(leftover)) << "a leftover of this workbook stays";
        fs::remove(file);
    }
    EXPECT_TRUE(temps(dir_).empty());
}

TEST_F(FileAccess, CleanupRemovesOnlyOurOwnStaleTemps) {
    const std::string stem = temporaryStem("registru.xls");
    const bool root = ::geteuid() == 0;
    // Leftover: what a save that died left; Copy: a copy of such a leftover, which the user made.
    enum Kind { File, Link, Folder, LockedFile, OtherOwner, Leftover, Copy };
    struct Case {
        std::string name;
        Kind kind;
        int ageSeconds;
        bool removed;
    };
    std::vector<Case> cases = {
        {"", Leftover, 3600, true},
        {"", Leftover, 0, false},                           // a save running right now may own it
        {stem + "AbC123" + kTempSuffix, File, 3600, false}, // a user's file named like a leftover
        {stem + "CoPy00" + kTempSuffix, Copy, 3600, false},
        {stem + "LiVe99" + kTempSuffix, LockedFile, 3600, false}, // its writer lives
        {".~ordana.registru.xls.backup", File, 3600, false},      // a user's file of similar name
        {".~ordana.registru.xls.AbC123", File, 3600, false},
        {stem + "AbC123.bak", File, 3600, false},
        {stem + "AbC1234" + kTempSuffix, File, 3600, false},
        {temporaryStem("altul.xls") + "AbC123" + kTempSuffix, File, 3600, false}, // another workbook's
        {stem + "LiNk00" + kTempSuffix, Link, 3600, false},
        {stem + "DiR000" + kTempSuffix, Folder, 3600, false},
        {stem + "OtHeR0" + kTempSuffix, OtherOwner, 3600, false},
    };
    const fs::path userFile = dir_ / "important.txt";
    writeFile(userFile, content(50, 50));
    // The leftovers first, all fresh, so that no save of them removes another.
    for (auto& c : cases)
        if (c.kind == Leftover) c.name = leftoverOfADeadSave(file_);
    std::vector<int> heldFds;
    for (const auto& c : cases) {
        ASSERT_FALSE(c.name.empty());
        const fs::path p = dir_ / c.name;
        if (c.kind == Leftover) {
        } else if (c.kind == Copy) {
            fs::copy_file(dir_ / cases[0].name, p);
        } else if (c.kind == Link) {
            fs::create_symlink(userFile, p);
        } else if (c.kind == Folder) {
            fs::create_directory(p);
        } else {
            writeFile(p, content(100, 51));
        }
        if (c.kind == LockedFile) {
            heldFds.push_back(::open(p.c_str(), O_RDONLY));
            ASSERT_EQ(::flock(heldFds.back(), LOCK_EX), 0);
        }
        if (c.kind == OtherOwner && root) {
            ASSERT_EQ(::lchown(p.c_str(), 1234, 1234), 0);
        }
        age(p, c.ageSeconds);
    }
    saveOver(file_, content(500, 52));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.kind == OtherOwner && !root) continue; // ours after all when nobody else could own it
        EXPECT_EQ(!fs::exists(fs::symlink_status(dir_ / c.name)), c.removed);
    }
    EXPECT_EQ(readFile(userFile), content(50, 50));
    for (int fd : heldFds)
        ::close(fd);
}

// Ordana runs on one workbook take turns: each reads what the one before saved, so every table lands; a
// run that only reads is never held up by them and never makes them fail.
TEST_F(FileAccess, ConcurrentRunsTakeTurns) {
    constexpr int writers = 8;
    std::vector<pid_t> pids;
    for (int k = 0; k < writers + 3; ++k) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            try {
                if (k >= writers) {
                    for (int i = 0; i < 40; ++i)
                        (void)SourceFile::read(file_.string());
                    ::_exit(0);
                }
                const auto source = SourceFile::readForWriting(file_.string());
                Bytes next(source->bytes().begin(), source->bytes().end());
                next.push_back(static_cast<std::uint8_t>(k));
                ::usleep(2000); // a little work between the read and the save
                saveInPlace(*source, [&](const ByteSink& sink) { sink(next); });
                ::_exit(0);
            } catch (const ordana::RuntimeError& e) {
                std::cerr << "run " << k << ": " << e.description() << "\n";
                ::_exit(1);
            }
        }
        pids.push_back(pid);
    }
    int failed = 0;
    for (pid_t pid : pids) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        failed += !WIFEXITED(status) || WEXITSTATUS(status) != 0;
    }
    EXPECT_EQ(failed, 0);
    const Bytes after = readFile(file_);
    ASSERT_EQ(after.size(), original_.size() + writers) << "a run's save was lost";
    std::vector<std::uint8_t> added(after.begin() + static_cast<long>(original_.size()), after.end());
    std::sort(added.begin(), added.end());
    for (int k = 0; k < writers; ++k)
        EXPECT_EQ(added[std::size_t(k)], k);
    EXPECT_TRUE(temps(dir_).empty());
}

TEST_F(FileAccess, ARunThatWaitsTooLongIsToldOrdanaHoldsTheWorkbook) {
    const auto holder = SourceFile::readForWriting(file_.string());
    ASSERT_TRUE(holder->holdsWriterLock());
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int failures = 0;
        failures += !throwsWith([&] { SourceFile::readForWriting(file_.string(), 200); }, 1004,
                                "este scris chiar acum de alta rulare Ordana");
        try { // reading is never held up
            failures += SourceFile::read(file_.string())->bytes().size() != 3000;
        } catch (...) {
            ++failures;
        }
        ::_exit(failures);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(readFile(file_), original_);
}

// A write that fails half-way (the file-size limit stands in for a full disk) is 1004, and nothing changes.
TEST_F(FileAccess, AFailedWriteLeavesTheOriginal) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{100000, 100000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        try {
            saveOver(file_, content(1 << 20, 9));
            ::_exit(2);
        } catch (const ordana::RuntimeError& e) {
            const bool right =
                e.number() == 1004 && e.description().find("nu a putut fi salvat") != std::string::npos;
            ::_exit(right ? 0 : 3);
        } catch (...) {
            ::_exit(4);
        }
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "2: no error, 3: wrong error, 4: foreign exception";
    EXPECT_EQ(readFile(file_), original_);
    EXPECT_TRUE(temps(dir_).empty());
}

// Killed at any moment, a save leaves the old file or the whole new one, never a mixture; a temporary file
// may be left, and a later save removes it once it is stale.
TEST_F(FileAccess, AKilledSaveLeavesOldOrNewNeverAMixture) {
    const Bytes a = content(2 << 20, 10);
    const Bytes b = content(2 << 20, 11);
    writeFile(file_, a);
    const auto t0 = std::chrono::steady_clock::now();
    saveOver(file_, b);
    const auto saveTime =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0);
    std::mt19937 rng(7);
    std::uniform_int_distribution<long> delay(0, std::max<long>(200, saveTime.count() * 3 / 2));
    int sawOld = 0, sawNew = 0;
    for (int round = 0; round < 40; ++round) {
        const Bytes before = readFile(file_);
        const Bytes& next = before == a ? b : a;
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            try {
                saveOver(file_, next);
            } catch (...) {
                ::_exit(1);
            }
            ::_exit(0);
        }
        ::usleep(static_cast<useconds_t>(delay(rng)));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        const Bytes after = readFile(file_);
        ASSERT_TRUE(after == before || after == next) << "round " << round << ": a mixture of old and new";
        (after == before ? sawOld : sawNew)++;
    }
    const auto left = temps(dir_);
    for (const auto& t : left)
        age(dir_ / t, 3600);
    saveOver(file_, a);
    EXPECT_EQ(readFile(file_), a);
    for (const auto& t : temps(dir_))
        ADD_FAILURE() << "left behind: " << t;
    std::cout << "killed saves: " << sawOld << " left the old file, " << sawNew << " the new one, "
              << left.size() << " left a temporary file\n";
}

TEST_F(FileAccess, ContentProducedInPiecesIsSavedWhole) {
    // Longer than the stretches the writer hands to the disk, from memory and from the original.
    const Bytes a = content((5 << 20) + 5000, 12), b = content((9 << 20) + 123, 13);
    // Pieces of the original itself too, which may be copied from the file rather than from memory.
    writeFile(file_, b);
    const auto source = SourceFile::read(file_.string());
    const auto view = source->bytes();
    saveInPlace(*source, [&](const ByteSink& sink) {
        sink(a);
        sink(view.first(100));
        sink(view.subspan(100, (2 << 20) - 100));
        sink(std::span(a).first(7));
        sink(view.subspan(2 << 20));
    });
    Bytes expected = a;
    expected.insert(expected.end(), b.begin(), b.begin() + (2 << 20));
    expected.insert(expected.end(), a.begin(), a.begin() + 7);
    expected.insert(expected.end(), b.begin() + (2 << 20), b.end());
    EXPECT_EQ(readFile(file_), expected);

    // A producer that fails half-way leaves the file as it was, and no temporary file.
    const auto again = SourceFile::read(file_.string());
    EXPECT_THROW(saveInPlace(*again,
                             [&](const ByteSink& sink) {
                                 sink(a);
                                 throw ordana::RuntimeError(1004, "Fluxul Workbook este deteriorat");
                             }),
                 ordana::RuntimeError);
    EXPECT_EQ(readFile(file_), expected);
    EXPECT_TRUE(temps(dir_).empty());
    // Bytes that never came from a file have nowhere to be saved.
    const auto loose = SourceFile::fromBytes(a, "memorie.xls");
    EXPECT_RUNTIME_ERROR(saveInPlace(*loose, [&](const ByteSink& sink) { sink(a); }), 1004, "memorie.xls");
}

// What the kernel refuses to an ordinary user: an unreadable file, a file of someone else.
TEST_F(FileAccess, AnOrdinaryUserIsRefusedWhatTheKernelRefuses) {
    fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    const fs::path secret = dir_ / "secret.xls";
    writeFile(secret, original_);
    fs::permissions(secret, fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(file_, fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to hand the files to another user";
    const int failures = asOrdinaryUser([&] {
        int f = 0;
        f += !throwsWith([&] { SourceFile::read(secret.string()); }, 1004,
                         "nu poate fi citit: permisiune refuzata");
        f += !throwsWith([&] { checkCanSave(file_.string()); }, 1004, "este protejat la scriere");
        f += !throwsWith([&] { saveOver(file_, content(10, 1)); }, 1004, "protejat la scriere");
        // Opening for writing a file one may only read still reads it; only its save is refused.
        f += SourceFile::readForWriting(file_.string())->bytes().size() != 3000;
        return f;
    });
    EXPECT_EQ(failures, 0) << "failed checks in the child (100: could not become nobody)";
    EXPECT_EQ(readFile(file_), original_);
}
