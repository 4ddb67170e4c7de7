#include "spreadsheet/FileAccess.h"

#include "support/ErrorAssert.h"

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace ordana::spreadsheet;
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

Bytes readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
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
    LockHolder(const fs::path& file, bool useFlock) {
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

    fs::path dir_;
    fs::path file_;
    const Bytes original_ = content(3000, 1);
};

} // namespace

TEST_F(FileAccess, ReadsWholeFilesAndNamesEachFailure) {
    EXPECT_EQ(readWorkbookFile(file_.string()), original_);
    writeFile(dir_ / "gol.xls", {});
    EXPECT_TRUE(readWorkbookFile((dir_ / "gol.xls").string()).empty());
    fs::create_directory(dir_ / "dosar.xls");
    ASSERT_EQ(::mkfifo((dir_ / "fifo.xls").c_str(), 0644), 0);
    fs::create_symlink(dir_ / "lipsa.xls", dir_ / "legatura.xls");
    { std::ofstream big(dir_ / "mare.xls"); }
    fs::resize_file(dir_ / "mare.xls", kMaxWorkbookBytes + 1); // sparse: costs no disk

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
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_RUNTIME_ERROR(readWorkbookFile(c.path.string()), c.number, c.fragment);
    }
}

// A case of refusing a save: what is arranged in the fresh folder (holding registru.xls) before the save.
struct LockCase {
    const char* name;
    std::function<void(const fs::path& dir, const fs::path& file)> arrange;
    int number; // 0: saving is allowed
    const char* fragment;
};

class FileAccessLocks : public FileAccess, public ::testing::WithParamInterface<LockCase> {};

TEST_P(FileAccessLocks, CheckCanSaveRefusesWhatAUserWouldSeeAsLocked) {
    const LockCase& c = GetParam();
    c.arrange(dir_, file_);
    const fs::path target = std::string(c.name) == "folder gone" ? dir_ / "sub" / "registru.xls" : file_;
    if (c.number == 0) {
        EXPECT_NO_THROW(checkCanSave(target.string()));
        return;
    }
    EXPECT_RUNTIME_ERROR(checkCanSave(target.string()), c.number, c.fragment);
    // What checkCanSave refuses, saveInPlace refuses too, and the file stays as it was.
    EXPECT_RUNTIME_ERROR(saveInPlace(target.string(), content(10, 2)), c.number, c.fragment);
    if (fs::exists(file_)) {
        EXPECT_EQ(readFile(file_), original_);
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
            LockHolder holder(file_, useFlock);
            ASSERT_TRUE(holder.locked());
            EXPECT_RUNTIME_ERROR(checkCanSave(file_.string()), 1004, "este blocat de alt program");
            EXPECT_RUNTIME_ERROR(saveInPlace(file_.string(), content(10, 2)), 1004, "blocat");
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
    fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(real.c_str(), 1234, 4321), 0);
    }

    const Bytes next = content(70000, 3);
    saveInPlace(file_.string(), next);
    EXPECT_TRUE(fs::is_symlink(file_));
    EXPECT_TRUE(fs::is_symlink(dir_ / "pas.xls"));
    EXPECT_EQ(readFile(real), next);
    struct stat st {};
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    if (root) {
        EXPECT_EQ(st.st_uid, 1234u);
        EXPECT_EQ(st.st_gid, 4321u);
    }
    EXPECT_TRUE(temps(dir_ / "date").empty());
    EXPECT_TRUE(temps(dir_).empty());

    writeFile(dir_ / "date" / ".~lock.real.xls#", {});
    EXPECT_RUNTIME_ERROR(saveInPlace(file_.string(), content(10, 4)), 1004, ".~lock.real.xls#");
    EXPECT_EQ(readFile(real), next);
}

TEST_F(FileAccess, LeftoverTempsGoWithTheNextSaveUnlessTheirWriterLives) {
    const fs::path stale = dir_ / (std::string(kTempPrefix) + "registru.xls.AbC123");
    const fs::path live = dir_ / (std::string(kTempPrefix) + "registru.xls.LiVe99");
    const fs::path other = dir_ / (std::string(kTempPrefix) + "altul.xls.AbC123");
    writeFile(stale, content(100, 5));
    writeFile(live, content(100, 6));
    writeFile(other, content(100, 7));
    const int liveFd = ::open(live.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(liveFd, LOCK_EX), 0); // a save still running elsewhere
    saveInPlace(file_.string(), content(500, 8));
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(live));
    EXPECT_TRUE(fs::exists(other)); // another workbook's business
    ::close(liveFd);
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
            saveInPlace(file_.string(), content(1 << 20, 9));
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
// may be left, and the next save removes it.
TEST_F(FileAccess, AKilledSaveLeavesOldOrNewNeverAMixture) {
    const Bytes a = content(2 << 20, 10);
    const Bytes b = content(2 << 20, 11);
    writeFile(file_, a);
    const auto t0 = std::chrono::steady_clock::now();
    saveInPlace(file_.string(), b);
    const auto saveTime =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0);
    std::mt19937 rng(7);
    std::uniform_int_distribution<long> delay(0, std::max<long>(200, saveTime.count() * 3 / 2));
    int sawOld = 0, sawNew = 0, leftovers = 0;
    for (int round = 0; round < 40; ++round) {
        const Bytes before = readFile(file_);
        const Bytes& next = before == a ? b : a;
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            try {
                saveInPlace(file_.string(), next);
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
        const auto left = temps(dir_);
        EXPECT_LE(left.size(), 1u) << "round " << round; // each save removes the leftovers of the one before
        leftovers += static_cast<int>(left.size());
    }
    saveInPlace(file_.string(), a);
    EXPECT_EQ(readFile(file_), a);
    EXPECT_TRUE(temps(dir_).empty());
    std::cout << "killed saves: " << sawOld << " left the old file, " << sawNew << " the new one, "
              << leftovers << " left a temporary file\n";
}

TEST_F(FileAccess, ContentProducedInPiecesIsSavedWhole) {
    const Bytes a = content(5000, 12), b = content(70000, 13);
    saveInPlace(file_.string(), [&](const ByteSink& sink) {
        sink(a);
        sink(std::span(b).first(100));
        sink(std::span(b).subspan(100));
    });
    Bytes expected = a;
    expected.insert(expected.end(), b.begin(), b.end());
    EXPECT_EQ(readFile(file_), expected);

    // A producer that fails half-way leaves the file as it was, and no temporary file.
    EXPECT_THROW(saveInPlace(file_.string(),
                             [&](const ByteSink& sink) {
                                 sink(a);
                                 throw ordana::RuntimeError(1004, "Fluxul Workbook este deteriorat");
                             }),
                 ordana::RuntimeError);
    EXPECT_EQ(readFile(file_), expected);
    EXPECT_TRUE(temps(dir_).empty());
}

// What the kernel refuses to an ordinary user: an unreadable file, a file of someone else. Run as "nobody" in
// a child process when the tests run as root.
TEST_F(FileAccess, AnOrdinaryUserIsRefusedWhatTheKernelRefuses) {
    fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    const fs::path secret = dir_ / "secret.xls";
    writeFile(secret, original_);
    fs::permissions(secret, fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(file_, fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(10);
        auto expect = [](auto&& call, int number, const char* fragment) {
            try {
                call();
            } catch (const ordana::RuntimeError& e) {
                return e.number() == number && e.description().find(fragment) != std::string::npos;
            }
            return false;
        };
        int failures = 0;
        failures += !expect([&] { readWorkbookFile(secret.string()); }, 1004,
                            "nu poate fi citit: permisiune refuzata");
        failures += !expect([&] { checkCanSave(file_.string()); }, 1004, "este protejat la scriere");
        failures +=
            !expect([&] { saveInPlace(file_.string(), content(10, 1)); }, 1004, "protejat la scriere");
        try {
            failures += readWorkbookFile(file_.string()).size() != original_.size();
        } catch (...) {
            ++failures;
        }
        ::_exit(failures);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "failed checks in the child (10: could not become nobody)";
    EXPECT_EQ(readFile(file_), original_);
}
