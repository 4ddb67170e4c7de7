#include "spreadsheet/xls/CompoundFile.h"

#include "support/ErrorAssert.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

using ordana::spreadsheet::cfb::CompoundFile;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr std::uint32_t kEnd = 0xFFFFFFFE;
constexpr std::uint32_t kFree = 0xFFFFFFFF;

void put16(Bytes& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t get32(const Bytes& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

Bytes pattern(std::size_t n, std::uint8_t seed) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 8));
    return b;
}

// A compound file laid out by hand, independently of the writer under test: FAT in sector 0, directory in
// sectors 1-2, mini FAT in 3, then the mini stream and the large streams, each contiguous. Storages hold the
// entries whose path starts with their name; siblings hang off each other's right link.
struct Item {
    std::string path;
    bool storage = false;
    Bytes data;
};

struct Built {
    Bytes file;
    std::size_t sectorSize;
    std::vector<std::uint32_t> firstSector; // per item: big-stream sector or mini sector
    std::size_t dirOffset() const { return 2 * sectorSize; }
    std::size_t fatOffset() const { return sectorSize; }
};

Built build(const std::vector<Item>& items, int version = 3) {
    const std::size_t ss = version == 4 ? 4096 : 512;
    Built out{Bytes(ss * 5, 0), ss, {}};
    Bytes& f = out.file;
    const std::size_t perSector = ss / 4;
    std::vector<std::uint32_t> fat(perSector, kFree);
    fat[0] = 0xFFFFFFFD;
    fat[1] = 2;
    fat[2] = kEnd;
    fat[3] = kEnd;
    std::vector<std::uint32_t> miniFat;
    Bytes mini;
    Bytes big;
    std::uint32_t nextSector = 4;
    // Mini streams first so the mini stream's place is known before the large ones.
    out.firstSector.assign(items.size(), kEnd);
    for (std::size_t i = 0; i < items.size(); ++i) {
        const auto& d = items[i].data;
        if (items[i].storage || d.empty() || d.size() >= 4096) continue;
        out.firstSector[i] = static_cast<std::uint32_t>(miniFat.size());
        const std::size_t n = (d.size() + 63) / 64;
        for (std::size_t k = 0; k < n; ++k)
            miniFat.push_back(k + 1 < n ? static_cast<std::uint32_t>(miniFat.size() + 1) : kEnd);
        mini.insert(mini.end(), d.begin(), d.end());
        mini.resize(miniFat.size() * 64, 0);
    }
    const std::uint32_t miniStart = mini.empty() ? kEnd : nextSector;
    const std::size_t miniSectors = (mini.size() + ss - 1) / ss;
    for (std::size_t k = 0; k < miniSectors; ++k, ++nextSector)
        fat[nextSector] = k + 1 < miniSectors ? nextSector + 1 : kEnd;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const auto& d = items[i].data;
        if (items[i].storage || d.size() < 4096) continue;
        out.firstSector[i] = nextSector;
        const std::size_t n = (d.size() + ss - 1) / ss;
        for (std::size_t k = 0; k < n; ++k, ++nextSector)
            fat[nextSector] = k + 1 < n ? nextSector + 1 : kEnd;
        big.insert(big.end(), d.begin(), d.end());
        big.resize((nextSector - 4 - miniSectors) * ss, 0);
    }
    if (nextSector > perSector) throw std::logic_error("test file too large for one FAT sector");

    // Header.
    const std::uint8_t sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::copy(sig, sig + 8, f.begin());
    put16(f, 24, 0x3E);
    put16(f, 26, static_cast<std::uint16_t>(version));
    put16(f, 28, 0xFFFE);
    put16(f, 30, version == 4 ? 12 : 9);
    put16(f, 32, 6);
    put32(f, 40, version == 4 ? 1 : 0);
    put32(f, 44, 1);
    put32(f, 48, 1);
    put32(f, 56, 4096);
    put32(f, 60, miniFat.empty() ? kEnd : 3);
    put32(f, 64, miniFat.empty() ? 0 : 1);
    put32(f, 68, kEnd);
    for (int i = 0; i < 109; ++i)
        put32(f, 76 + 4 * i, i == 0 ? 0 : kFree);
    for (std::size_t i = 0; i < perSector; ++i)
        put32(f, out.fatOffset() + 4 * i, fat[i]);
    for (std::size_t i = 0; i < perSector; ++i)
        put32(f, 4 * ss + 4 * i, i < miniFat.size() ? miniFat[i] : kFree);

    // Directory: entry 0 is the root, item i is entry i + 1.
    if ((items.size() + 1) * 128 > 2 * ss) throw std::logic_error("test directory too large for one sector");
    auto entry = [&](std::size_t index) { return out.dirOffset() + index * 128; };
    for (std::size_t e = 0; e < 2 * ss / 128; ++e)
        for (int link = 68; link <= 76; link += 4)
            put32(f, entry(e) + link, kFree);
    auto setName = [&](std::size_t e, const std::string& name) {
        for (std::size_t i = 0; i < name.size(); ++i)
            put16(f, entry(e) + 2 * i, static_cast<unsigned char>(name[i]));
        put16(f, entry(e) + 64, static_cast<std::uint16_t>(2 * (name.size() + 1)));
    };
    setName(0, "Root Entry");
    f[entry(0) + 66] = 5;
    put32(f, entry(0) + 116, miniStart);
    put32(f, entry(0) + 120, static_cast<std::uint32_t>(mini.size()));
    // Children of each parent path, chained through the right-sibling link.
    std::vector<std::size_t> lastChild(items.size() + 1, 0);
    for (std::size_t i = 0; i < items.size(); ++i) {
        const auto slash = items[i].path.rfind('/');
        const std::string parentPath = slash == std::string::npos ? "" : items[i].path.substr(0, slash);
        std::size_t parent = 0;
        for (std::size_t j = 0; j < i; ++j)
            if (items[j].storage && items[j].path == parentPath) parent = j + 1;
        const std::size_t e = i + 1;
        setName(e, slash == std::string::npos ? items[i].path : items[i].path.substr(slash + 1));
        f[entry(e) + 66] = items[i].storage ? 1 : 2;
        f[entry(e) + 67] = 1;
        for (int k = 0; k < 16; ++k)
            f[entry(e) + 80 + k] = static_cast<std::uint8_t>(e * 16 + k); // CLSID
        put32(f, entry(e) + 96, 0x1234u + static_cast<std::uint32_t>(e)); // state bits
        for (int k = 0; k < 16; ++k)
            f[entry(e) + 100 + k] = static_cast<std::uint8_t>(0xA0 + k + e); // times
        if (!items[i].storage) {
            put32(f, entry(e) + 116, out.firstSector[i]);
            put32(f, entry(e) + 120, static_cast<std::uint32_t>(items[i].data.size()));
        }
        if (lastChild[parent] == 0)
            put32(f, entry(parent) + 76, static_cast<std::uint32_t>(e));
        else
            put32(f, entry(lastChild[parent]) + 72, static_cast<std::uint32_t>(e));
        lastChild[parent] = e;
    }
    f.resize(5 * ss + miniSectors * ss, 0);
    std::copy(mini.begin(), mini.end(), f.begin() + static_cast<std::ptrdiff_t>(5 * ss));
    f.insert(f.end(), big.begin(), big.end());
    return out;
}

std::vector<Item> workbookLike(std::size_t workbookSize) {
    return {{"Workbook", false, pattern(workbookSize, 1)},
            {"\005SummaryInformation", false, pattern(172, 2)},
            {"CompObj", false, pattern(73, 3)},
            {"_VBA_PROJECT_CUR", true, {}},
            {"_VBA_PROJECT_CUR/VBA", true, {}},
            {"_VBA_PROJECT_CUR/VBA/dir", false, pattern(600, 4)}};
}

// The directory entries of a file, found by following its chain through the FAT (v3 files of the tests).
std::vector<Bytes> directoryOf(const Bytes& f) {
    const std::size_t ss = std::size_t{1} << f[30];
    std::vector<std::uint32_t> fat;
    for (std::size_t i = 0; i < get32(f, 44); ++i) {
        const std::size_t at = (get32(f, 76 + 4 * i) + 1) * ss;
        for (std::size_t k = 0; k < ss / 4; ++k)
            fat.push_back(get32(f, at + 4 * k));
    }
    std::vector<Bytes> out;
    for (std::uint32_t s = get32(f, 48); s != kEnd; s = fat.at(s))
        for (std::size_t k = 0; k < ss / 128; ++k) {
            const auto at = f.begin() + static_cast<std::ptrdiff_t>((s + 1) * ss + k * 128);
            out.emplace_back(at, at + 128);
        }
    return out;
}

Bytes readFixture(const std::string& name) {
    const char* dir = std::getenv("ORDANA_FIXTURES");
    std::ifstream in(std::string(dir ? dir : "tests/fixtures") + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

} // namespace

TEST(CompoundFile, SignatureIsTheFirstEightBytes) {
    EXPECT_TRUE(CompoundFile::hasSignature(build({}).file));
    EXPECT_FALSE(CompoundFile::hasSignature(Bytes{0xD0, 0xCF, 0x11}));
    EXPECT_FALSE(CompoundFile::hasSignature(pattern(600, 9)));
}

TEST(CompoundFile, ReadsAndRewritesBothVersionsAndEverySize) {
    for (int version : {3, 4})
        for (std::size_t size : {0, 1, 64, 100, 4095, 4096, 4097, 20000}) {
            SCOPED_TRACE("version " + std::to_string(version) + ", Workbook " + std::to_string(size));
            const auto items = workbookLike(size);
            const auto cf = CompoundFile::parse(build(items, version).file);
            EXPECT_EQ(cf.majorVersion(), version);
            for (int pass = 0; pass < 2; ++pass) {
                const auto again = pass == 0 ? cf : CompoundFile::parse(cf.serialize());
                EXPECT_TRUE(again.hasStream("WORKBOOK"));
                EXPECT_FALSE(again.hasStream("VBA")); // not top level
                EXPECT_EQ(again.stream("Workbook"), items[0].data);
                EXPECT_EQ(again.stream("\005SummaryInformation"), items[1].data);
                auto view = again.streamAtPath("_VBA_PROJECT_CUR/VBA/dir");
                EXPECT_EQ(Bytes(view.begin(), view.end()), items[5].data);
                EXPECT_EQ(again.entries().size(), items.size() + 1);
            }
        }
}

TEST(CompoundFile, ReplacingAStreamKeepsEverythingElse) {
    // Across the mini-stream cutoff both ways, and within each side.
    const std::vector<std::pair<std::size_t, std::size_t>> sizes = {{1612, 6000}, {6000, 100},   {4096, 4095},
                                                                    {100, 300},   {9000, 50000}, {50000, 0}};
    for (auto [before, after] : sizes) {
        SCOPED_TRACE(std::to_string(before) + " -> " + std::to_string(after));
        const auto items = workbookLike(before);
        const Built original = build(items);
        auto cf = CompoundFile::parse(original.file);
        const Bytes replacement = pattern(after, 42);
        cf.setStream("workbook", replacement);
        const Bytes saved = cf.serialize();
        // Given in pieces (as a save streams them), the same file comes out.
        auto pieced = CompoundFile::parse(original.file);
        const auto kept = std::make_shared<const Bytes>(replacement);
        const std::span<const std::uint8_t> all(*kept);
        const std::size_t cut1 = after / 3, cut2 = after - after / 5;
        pieced.setStream("Workbook", CompoundFile::Pieces{{all.first(cut1), all.subspan(cut1, 0),
                                                           all.subspan(cut1, cut2 - cut1), all.subspan(cut2)},
                                                          kept});
        std::vector<std::uint8_t> streamed;
        pieced.writeTo(
            [&](std::span<const std::uint8_t> p) { streamed.insert(streamed.end(), p.begin(), p.end()); });
        EXPECT_EQ(streamed, saved);
        EXPECT_EQ(pieced.stream("Workbook"), replacement);
        const auto back = CompoundFile::parse(saved);
        EXPECT_EQ(back.stream("Workbook"), replacement);
        for (std::size_t i = 1; i < items.size(); ++i)
            if (!items[i].storage) {
                const auto view = back.streamAtPath(items[i].path);
                EXPECT_EQ(Bytes(view.begin(), view.end()), items[i].data) << items[i].path;
            }

        // Every directory entry is the same 128 bytes apart from its start sector and size.
        const auto dirBefore = directoryOf(original.file);
        const auto dirAfter = directoryOf(saved);
        for (std::size_t e = 0; e <= items.size(); ++e) {
            EXPECT_TRUE(std::equal(dirBefore[e].begin(), dirBefore[e].begin() + 116, dirAfter[e].begin()))
                << "entry " << e;
        }
        EXPECT_EQ(CompoundFile::parse(saved).serialize(), saved); // stable
    }
}

TEST(CompoundFile, ManyFatSectorsNeedTheDifat) {
    // 8 MB of stream data needs more than 109 FAT sectors of 512 bytes, so the writer must chain DIFAT
    // sectors.
    auto cf = CompoundFile::parse(build(workbookLike(5000)).file);
    const Bytes large = pattern(8 * 1024 * 1024, 5);
    cf.setStream("Workbook", large);
    const Bytes saved = cf.serialize();
    EXPECT_GT(get32(saved, 72), 0u);
    EXPECT_EQ(CompoundFile::parse(saved).stream("Workbook"), large);
}

TEST(CompoundFile, UnknownStreamIsAnError) {
    auto cf = CompoundFile::parse(build(workbookLike(100)).file);
    EXPECT_RUNTIME_ERROR(cf.stream("Book"), 1004, "Fluxul Book nu exista");
    EXPECT_RUNTIME_ERROR(cf.setStream("Book", Bytes{}), 1004, "Fluxul Book nu exista");
}

TEST(CompoundFile, RealProducersRoundTrip) {
    for (const char* name : {"basic-xlwt.xls", "basic-libreoffice.xls", "basic-gnumeric.xls",
                             "basic-v4-libgsf.xls", "basic-excel95.xls"}) {
        SCOPED_TRACE(name);
        const Bytes file = readFixture(name);
        if (file.empty()) GTEST_SKIP() << "fixture missing";
        const auto original = CompoundFile::parse(file);
        EXPECT_EQ(original.majorVersion(), std::string(name) == "basic-v4-libgsf.xls" ? 4 : 3);
        const std::string main = original.hasStream("Workbook") ? "Workbook" : "Book";
        auto cf = original;
        const auto before = cf.entries();
        Bytes wb = cf.stream(main);
        wb.resize(wb.size() + 5000, 0);
        cf.setStream(main, wb);
        const auto back = CompoundFile::parse(cf.serialize());
        ASSERT_EQ(back.entries().size(), before.size());
        for (const auto& e : before) {
            if (e.type != CompoundFile::EntryType::Stream) continue;
            const auto data = back.streamAtPath(e.path);
            if (e.path == main)
                EXPECT_EQ(Bytes(data.begin(), data.end()), wb);
            else {
                const auto orig = original.streamAtPath(e.path);
                EXPECT_TRUE(std::equal(data.begin(), data.end(), orig.begin(), orig.end())) << e.path;
            }
        }
    }
}

// Each hostile file is a clear 1004 naming what is wrong.
TEST(CompoundFile, HostileFilesAreClearErrors) {
    const auto items = workbookLike(9000); // Workbook in sectors 3.., dir in mini stream
    const Built base = build(items);
    const std::uint32_t wbFirst = base.firstSector[0];
    const std::size_t ss = base.sectorSize;
    auto fatEntry = [&](std::uint32_t s) { return base.fatOffset() + 4 * s; };
    auto dirEntry = [&](std::size_t e) { return base.dirOffset() + 128 * e; };

    struct Case {
        const char* name;
        std::function<void(Bytes&)> damage;
        const char* fragment;
    };
    const std::vector<Case> cases = {
        {"header cut short", [](Bytes& f) { f.resize(300); }, "antetul este trunchiat"},
        {"unknown version", [](Bytes& f) { put16(f, 26, 5); }, "versiunea 5"},
        {"sector shift of version 4 in version 3", [](Bytes& f) { put16(f, 30, 12); },
         "dimensiunea sectorului"},
        {"huge sector shift", [](Bytes& f) { put16(f, 30, 40); }, "dimensiunea sectorului"},
        {"bad mini sector shift", [](Bytes& f) { put16(f, 32, 3); }, "mini-sectorului"},
        {"byte order mark", [](Bytes& f) { put16(f, 28, 0xFEFF); }, "ordinii octetilor"},
        {"mini cutoff", [](Bytes& f) { put32(f, 56, 0xFFFFFFFF); }, "pragul fluxurilor mici"},
        {"FAT count beyond the file", [](Bytes& f) { put32(f, 44, 0x40000000); }, "sectoare FAT"},
        {"FAT sector beyond the file", [](Bytes& f) { put32(f, 76, 99999); },
         "tabela FAT indica sectorul 99999"},
        {"FAT list names a free sector", [](Bytes& f) { put32(f, 44, 2); },
         "tabela FAT indica sectorul 4294967295"},
        {"Workbook chain loops", [&](Bytes& f) { put32(f, fatEntry(wbFirst + 3), wbFirst + 1); },
         "lantul de sectoare al fluxului Workbook se repeta"},
        {"Workbook chain points at itself", [&](Bytes& f) { put32(f, fatEntry(wbFirst), wbFirst); },
         "lantul de sectoare al fluxului Workbook se repeta"},
        {"Workbook chain leaves the file", [&](Bytes& f) { put32(f, fatEntry(wbFirst + 2), 0x7FFFFFF0); },
         "al fluxului Workbook indica sectorul 2147483632, dincolo de sfarsitul fisierului"},
        {"Workbook chain ends early", [&](Bytes& f) { put32(f, fatEntry(wbFirst + 5), kEnd); },
         "al fluxului Workbook este mai scurt"},
        {"Workbook runs into the FAT", [&](Bytes& f) { put32(f, fatEntry(wbFirst + 5), 0); }, "se repeta"},
        {"Workbook size beyond the file", [&](Bytes& f) { put32(f, dirEntry(1) + 120, 0x7FFFFFFF); },
         "fluxul Workbook declara 2147483647 octeti, mai mult decat are fisierul"},
        {"stream size beyond the file, version 4 high half",
         [&](Bytes& f) { put32(f, dirEntry(1) + 124, 1); },
         ""}, // version 3 ignores the high half: must still read
        {"directory loops", [&](Bytes& f) { put32(f, dirEntry(2) + 72, 1); },
         "structura directorului contine un ciclu"},
        {"storage contains itself", [&](Bytes& f) { put32(f, dirEntry(5) + 76, 4); }, "ciclu"},
        {"directory link out of range", [&](Bytes& f) { put32(f, dirEntry(3) + 68, 5000); },
         "directorul indica intrarea 5000, care nu exista"},
        {"directory chain loops", [&](Bytes& f) { put32(f, fatEntry(2), 1); }, "al directorului se repeta"},
        {"directory chain leaves the file", [&](Bytes& f) { put32(f, 48, 77777); },
         "al directorului indica sectorul 77777"},
        {"root entry missing", [&](Bytes& f) { f[dirEntry(0) + 66] = 1; }, "intrarea radacina"},
        {"entry of unknown type", [&](Bytes& f) { f[dirEntry(2) + 66] = 9; }, "tip invalid"},
        {"mini chain loops", [&](Bytes& f) { put32(f, 4 * ss + 4 * 1, 0); },
         "al fluxului SummaryInformation se repeta"},
        {"mini chain leaves the mini stream", [&](Bytes& f) { put32(f, 4 * ss, 4000); },
         "dincolo de sfarsitul mini-fluxului"},
        {"mini stream size beyond the file", [&](Bytes& f) { put32(f, dirEntry(0) + 120, 0x10000000); },
         "mini-fluxul declara"},
        {"file truncated inside Workbook", [&](Bytes& f) { f.resize(f.size() - 3000); },
         "dincolo de sfarsitul fisierului"},
        {"file truncated in the last sector", [&](Bytes& f) { f.resize(f.size() - 300); },
         "fisierul este trunchiat"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes f = base.file;
        c.damage(f);
        if (std::string(c.fragment).empty()) {
            EXPECT_NO_THROW(CompoundFile::parse(f));
            continue;
        }
        EXPECT_RUNTIME_ERROR(CompoundFile::parse(f), 1004, c.fragment);
        try {
            CompoundFile::parse(f);
        } catch (const ordana::RuntimeError& e) {
            const std::string& d = e.description();
            EXPECT_TRUE(d.starts_with("Fisierul este deteriorat: ")) << d;
        }
    }
}

// Random damage: whatever the bytes, parse either succeeds (and its output parses again) or throws 1004.
TEST(CompoundFile, RandomDamageNeverEscapes) {
    const Bytes base = build(workbookLike(9000)).file;
    std::mt19937 rng(20261207);
    int rejected = 0;
    for (int round = 0; round < 3000; ++round) {
        Bytes f = base;
        const int edits = 1 + static_cast<int>(rng() % 4);
        for (int k = 0; k < edits; ++k) {
            // Damage the header, FAT and directory most: that is where structure lives.
            const std::size_t at =
                rng() % 3 ? rng() % std::min<std::size_t>(f.size(), 1536) : rng() % f.size();
            f[at] = rng() % 2 ? static_cast<std::uint8_t>(rng())
                              : static_cast<std::uint8_t>(f[at] ^ (1u << (rng() % 8)));
        }
        if (rng() % 10 == 0) f.resize(rng() % f.size());
        try {
            const auto cf = CompoundFile::parse(f);
            for (const auto& e : cf.entries())
                if (e.type == CompoundFile::EntryType::Stream) (void)cf.streamAtPath(e.path);
            EXPECT_NO_THROW(CompoundFile::parse(cf.serialize()));
        } catch (const ordana::RuntimeError& e) {
            EXPECT_EQ(e.number(), 1004);
            ++rejected;
        }
    }
    EXPECT_GT(rejected, 100);
}

// xlrd, which reads the container with its own code, sees the same workbook in our rewrite.
TEST(CompoundFile, RewriteReadsTheSameInXlrd) {
    const char* dir = std::getenv("ORDANA_FIXTURES");
    if (!dir || ::access("/usr/bin/python3", X_OK) != 0)
        GTEST_SKIP() << "needs ORDANA_FIXTURES and /usr/bin/python3";
    const std::string tool = std::string(dir) + "/../tools/xls_dump.py";
    auto dump = [&](const std::string& file) {
        std::string out;
        FILE* p = ::popen(("/usr/bin/python3 '" + tool + "' --lines '" + file + "' 2>&1").c_str(), "r");
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
            out.append(buf, n);
        ::pclose(p);
        return out;
    };
    for (const char* name :
         {"basic-xlwt.xls", "basic-libreoffice.xls", "basic-gnumeric.xls", "formatted-xlwt.xls"}) {
        SCOPED_TRACE(name);
        const std::string original = std::string(dir) + "/" + name;
        const Bytes saved = CompoundFile::parse(readFixture(name)).serialize();
        const std::string copy = ::testing::TempDir() + "/rewritten-" + name;
        std::ofstream(copy, std::ios::binary)
            .write(reinterpret_cast<const char*>(saved.data()), static_cast<std::streamsize>(saved.size()));
        const std::string expected = dump(original);
        EXPECT_NE(expected.find("cell Date!A1 text \"SPECIA\""), std::string::npos)
            << expected.substr(0, 300);
        EXPECT_EQ(dump(copy), expected);
        // A new container around the same streams reads the same too.
        const auto source = CompoundFile::parse(readFixture(name));
        std::vector<std::pair<std::string, Bytes>> streams;
        for (const auto& e : source.entries())
            if (e.type == CompoundFile::EntryType::Stream && e.path.find('/') == std::string::npos)
                streams.emplace_back(e.path, source.stream(e.path));
        const Bytes fresh = CompoundFile::create(streams).serialize();
        std::ofstream(copy, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(fresh.data()), static_cast<std::streamsize>(fresh.size()));
        EXPECT_EQ(dump(copy), expected);
        std::remove(copy.c_str());
    }
}

// Gnumeric (libgsf) is the independent reader for version 4 containers, which xlrd does not read.
TEST(CompoundFile, Version4RewriteReadsTheSameInGnumeric) {
    const char* dir = std::getenv("ORDANA_FIXTURES");
    if (!dir || ::access("/usr/bin/ssconvert", X_OK) != 0)
        GTEST_SKIP() << "needs ORDANA_FIXTURES and ssconvert";
    const std::string tmp = ::testing::TempDir();
    const Bytes saved = CompoundFile::parse(readFixture("basic-v4-libgsf.xls")).serialize();
    const std::string copy = tmp + "/rewritten-v4.xls";
    std::ofstream(copy, std::ios::binary)
        .write(reinterpret_cast<const char*>(saved.data()), static_cast<std::streamsize>(saved.size()));
    auto csv = [&](const std::string& file, const std::string& out) {
        const std::string cmd = "/usr/bin/ssconvert -S '" + file + "' '" + out + ".%n.csv' >/dev/null 2>&1";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
        std::ifstream in(out + ".1.csv"); // the "Note" sheet: formulas, long text, diacritics
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string expected = csv(std::string(dir) + "/basic-v4-libgsf.xls", tmp + "/original-v4");
    EXPECT_NE(expected.find("abcd"), std::string::npos);
    EXPECT_EQ(csv(copy, tmp + "/rewritten-v4"), expected);
    std::remove(copy.c_str());
    for (const char* stem : {"/original-v4.", "/rewritten-v4."})
        for (int sheet = 0; sheet < 8; ++sheet)
            std::remove((tmp + stem + std::to_string(sheet) + ".csv").c_str());
}

TEST(CompoundFile, CreatesNewContainersThatOthersRead) {
    for (int version : {3, 4}) {
        SCOPED_TRACE(version);
        const Bytes big = pattern(9000, 1), small = pattern(300, 2);
        auto cf = CompoundFile::create({{"Workbook", big},
                                        {"\005SummaryInformation", small},
                                        {"CompObj", {}},
                                        {"Zeta", small},
                                        {"Ab", big}},
                                       version);
        const auto back = CompoundFile::parse(cf.serialize());
        EXPECT_EQ(back.majorVersion(), version);
        EXPECT_EQ(back.stream("workbook"), big);
        EXPECT_EQ(back.stream("\005SummaryInformation"), small);
        EXPECT_TRUE(back.stream("CompObj").empty());
        EXPECT_EQ(back.stream("AB"), big);
        EXPECT_EQ(back.entries().size(), 6u);
    }
    EXPECT_RUNTIME_ERROR(CompoundFile::create({{"Workbook", {}}, {"WORKBOOK", {}}}), 1004,
                         "apare de doua ori");
    EXPECT_RUNTIME_ERROR(CompoundFile::create({{std::string(32, 'x'), {}}}), 1004, "nu poate fi scris");
}

// Streams in one run of sectors are read in place, scattered ones gathered; both read the same, and a copy of
// the container keeps its streams after the original is gone.
TEST(CompoundFile, ScatteredAndContiguousStreamsReadAlike) {
    const auto items = workbookLike(9000);
    Built b = build(items);
    const std::uint32_t w = b.firstSector[0];
    const std::size_t ss = b.sectorSize;
    // Chain w -> w+2 -> w+1 -> w+3 ..., with the contents of w+1 and w+2 swapped to match.
    put32(b.file, b.fatOffset() + 4 * w, w + 2);
    put32(b.file, b.fatOffset() + 4 * (w + 2), w + 1);
    put32(b.file, b.fatOffset() + 4 * (w + 1), w + 3);
    std::swap_ranges(b.file.begin() + static_cast<std::ptrdiff_t>((w + 2) * ss),
                     b.file.begin() + static_cast<std::ptrdiff_t>((w + 3) * ss),
                     b.file.begin() + static_cast<std::ptrdiff_t>((w + 3) * ss));
    std::optional<CompoundFile> copy;
    {
        const auto scattered = CompoundFile::parse(b.file);
        EXPECT_EQ(scattered.stream("Workbook"), items[0].data);
        const auto contiguous = CompoundFile::parse(scattered.serialize()); // laid out in one run now
        copy = contiguous;
    }
    const auto view = copy->streamView("Workbook");
    EXPECT_EQ(Bytes(view.begin(), view.end()), items[0].data);
    Bytes pieces;
    copy->writeTo([&](std::span<const std::uint8_t> p) { pieces.insert(pieces.end(), p.begin(), p.end()); });
    EXPECT_EQ(pieces, copy->serialize());
}

// Found by fuzzing: a stream whose name is ill-formed UTF-16 (a lone surrogate) is listed, and must be found
// again by the name it is listed under.
TEST(CompoundFile, AStreamWithAnIllFormedNameIsFoundByItsListedName) {
    Bytes f = build(workbookLike(9000)).file;
    const Bytes compObj = {'C', 0, 'o', 0, 'm', 0, 'p', 0, 'O', 0, 'b', 0, 'j', 0};
    const auto at = std::search(f.begin(), f.end(), compObj.begin(), compObj.end());
    ASSERT_NE(at, f.end());
    at[8] = 0x00; // 'O' becomes U+D800, a high surrogate with nothing after it
    at[9] = 0xD8;
    const auto cf = CompoundFile::parse(f);
    int found = 0;
    for (const auto& e : cf.entries()) {
        if (e.type != CompoundFile::EntryType::Stream) continue;
        const auto view = cf.streamAtPath(e.path);
        EXPECT_EQ(view.size(), e.size) << e.path;
        if (e.path.find("\xEF\xBF\xBD") != std::string::npos) {
            EXPECT_EQ(Bytes(view.begin(), view.end()), pattern(73, 3));
            EXPECT_TRUE(cf.hasStream(e.path));
            ++found;
        }
    }
    EXPECT_EQ(found, 1);
}
