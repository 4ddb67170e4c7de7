#include "support/ErrorAssert.h"

#include "common/Bytes.h"
#include "spreadsheet/file/FileAccess.h"
#include "spreadsheet/zip/ZipArchive.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

using namespace ordana;
using namespace ordana::spreadsheet;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes toBytes(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

// Lays out a stored-entry zip by hand, so each test can break one field of it.
struct Laid {
    std::string name;
    std::string content;
    bool descriptor = false;
    bool zip64 = false; // sizes and offset through the zip64 extra field
};

struct Layout {
    Bytes file;
    std::vector<std::size_t> local, central; // where each entry's headers start
    std::size_t end = 0;
};

Layout lay(const std::vector<Laid>& entries) {
    using bytes::append16;
    using bytes::append32;
    using bytes::append64;
    Layout l;
    Bytes& f = l.file;
    for (const Laid& e : entries) {
        l.local.push_back(f.size());
        const auto crc =
            std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(e.content.data()), uInt(e.content.size())));
        append32(f, 0x04034b50);
        append16(f, 20);
        append16(f, e.descriptor ? 8 : 0);
        append16(f, 0);
        append32(f, 0);
        append32(f, e.descriptor ? 0 : crc);
        append32(f, e.descriptor ? 0 : std::uint32_t(e.content.size()));
        append32(f, e.descriptor ? 0 : std::uint32_t(e.content.size()));
        append16(f, std::uint32_t(e.name.size()));
        append16(f, 0);
        f.insert(f.end(), e.name.begin(), e.name.end());
        f.insert(f.end(), e.content.begin(), e.content.end());
        if (e.descriptor) {
            append32(f, 0x08074b50);
            append32(f, crc);
            append32(f, std::uint32_t(e.content.size()));
            append32(f, std::uint32_t(e.content.size()));
        }
    }
    const std::size_t cd = f.size();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Laid& e = entries[i];
        l.central.push_back(f.size());
        const auto crc =
            std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(e.content.data()), uInt(e.content.size())));
        const std::uint32_t size = e.zip64 ? 0xFFFFFFFF : std::uint32_t(e.content.size());
        append32(f, 0x02014b50);
        append16(f, 20);
        append16(f, 20);
        append16(f, e.descriptor ? 8 : 0);
        append16(f, 0);
        append32(f, 0);
        append32(f, crc);
        append32(f, size);
        append32(f, size);
        append16(f, std::uint32_t(e.name.size()));
        append16(f, e.zip64 ? 28 : 0);
        append16(f, 0);
        append16(f, 0);
        append16(f, 0);
        append32(f, 0);
        append32(f, e.zip64 ? 0xFFFFFFFF : std::uint32_t(l.local[i]));
        f.insert(f.end(), e.name.begin(), e.name.end());
        if (e.zip64) {
            append16(f, 1);
            append16(f, 24);
            append64(f, e.content.size());
            append64(f, e.content.size());
            append64(f, l.local[i]);
        }
    }
    l.end = f.size();
    append32(f, 0x06054b50);
    append16(f, 0);
    append16(f, 0);
    append16(f, std::uint32_t(entries.size()));
    append16(f, std::uint32_t(entries.size()));
    append32(f, std::uint32_t(l.end - cd));
    append32(f, std::uint32_t(cd));
    append16(f, 0);
    return l;
}

void set16(Layout& l, std::size_t at, std::uint32_t v) {
    bytes::put16(&l.file[at], v);
}
void set32(Layout& l, std::size_t at, std::uint32_t v) {
    bytes::put32(&l.file[at], v);
}

zip::Archive parse(Bytes b, const zip::Limits& limits = {}) {
    return zip::Archive::parse(std::make_shared<const FileBytes>(std::move(b)), limits);
}

Bytes write(const zip::ArchiveWriter& w) {
    Bytes out;
    w.writeTo(
        [&](std::span<const std::uint8_t> piece) { out.insert(out.end(), piece.begin(), piece.end()); });
    return out;
}

std::string readText(const zip::Archive& a, std::string_view name) {
    const zip::Entry* e = a.find(name);
    if (!e) return "<absent>";
    const Bytes b = a.read(*e);
    return std::string(b.begin(), b.end());
}

Bytes fixture(const std::string& name) {
    const char* dir = std::getenv("ORDANA_FIXTURES");
    std::ifstream in(std::string(dir ? dir : "tests/fixtures") + "/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

const std::vector<Laid> kThree = {
    {"mimetype", "application/x-test"}, {"a/one.xml", "<one/>", true}, {"b/two.bin", std::string(300, 'x')}};

// --- Packages other programs wrote come back byte for byte -----------------------------------------------

TEST(ZipRoundTrip, UntouchedPackagesComeBackIdentical) {
    for (const char* name : {"basic-source.xlsx", "lo-universal-content.xlsx", "gnumeric-countif.xlsx",
                             "strict-collapsed-hide.xlsx", "excel-button07.xlsm", "pivot-versioning.xlsx",
                             "wps-fn.xlsx", "phpoffice-2885.xlsx", "poi-countifs.xlsx"}) {
        const Bytes original = fixture(name);
        ASSERT_FALSE(original.empty()) << name;
        const zip::Archive a = parse(original);
        EXPECT_EQ(write(zip::ArchiveWriter(a)), original) << name;
    }
    const Layout laid = lay({{"x.xml", "<x/>", false, true}, {"y.xml", "<y/>", true, false}});
    EXPECT_EQ(write(zip::ArchiveWriter(parse(laid.file))), laid.file) << "zip64 fields and data descriptors";
}

TEST(ZipRoundTrip, ReplacingOneEntryLeavesTheOthersByteIdentical) {
    const Bytes original = fixture("basic-source.xlsx");
    const zip::Archive a = parse(original);
    ASSERT_GE(a.entries().size(), 3u);
    const std::string target = a.entries()[1].name;
    zip::ArchiveWriter w(a);
    w.replace(target, toBytes("<edited/>"));
    const zip::Archive b = parse(write(w));

    ASSERT_EQ(b.entries().size(), a.entries().size());
    for (std::size_t i = 0; i < a.entries().size(); ++i) {
        const zip::Entry &was = a.entries()[i], &now = b.entries()[i];
        EXPECT_EQ(was.name, now.name);
        if (was.name == target) {
            EXPECT_EQ(readText(b, target), "<edited/>");
            EXPECT_EQ(now.method, 8);
            continue;
        }
        EXPECT_TRUE(std::equal(was.record.begin(), was.record.end(), now.record.begin(), now.record.end()))
            << was.name;
        // The central record differs in its offset alone.
        Bytes c(was.central.begin(), was.central.end());
        bytes::put32(c.data() + 42, std::uint32_t(now.localOffset));
        EXPECT_TRUE(std::equal(c.begin(), c.end(), now.central.begin(), now.central.end())) << was.name;
    }
}

TEST(ZipRoundTrip, AddsDropsAndLeadsWithAStoredEntry) {
    const Layout laid = lay({{"a/one.xml", "<one/>", true}, {"mimetype", "application/x-test", true}});
    const zip::Archive a = parse(laid.file);
    zip::ArchiveWriter w(a);
    w.add("c/new.xml", [](const ByteSink& s) {
        s(toBytes("<new>"));
        s(toBytes("</new>"));
    });
    w.add(
        "c/plain.txt", [](const ByteSink& s) { s(toBytes("plain")); }, false);
    w.remove("A/ONE.XML");
    w.putFirstStored("mimetype");
    const Bytes out = write(w);
    const zip::Archive b = parse(out);

    std::vector<std::string> names;
    for (const zip::Entry& e : b.entries())
        names.push_back(e.name);
    EXPECT_EQ(names, (std::vector<std::string>{"mimetype", "c/new.xml", "c/plain.txt"}));
    const zip::Entry& first = b.entries()[0];
    EXPECT_EQ(first.localOffset, 0u);
    EXPECT_EQ(first.method, 0);
    EXPECT_EQ(bytes::get16(first.record.data() + 28), 0) << "no extra field";
    EXPECT_EQ(bytes::get16(first.record.data() + 6) & 8, 0) << "no data descriptor";
    EXPECT_EQ(std::string(out.begin() + 30, out.begin() + 38), "mimetype");
    EXPECT_EQ(readText(b, "mimetype"), "application/x-test");
    EXPECT_EQ(readText(b, "c/new.xml"), "<new></new>");
    EXPECT_EQ(b.entries()[2].method, 0);
    EXPECT_EQ(readText(b, "c/plain.txt"), "plain");
    EXPECT_RUNTIME_ERROR(w.add("mimetype", {}), err::Application, "contine deja");
}

TEST(ZipRoundTrip, AnEndRecordCountingFewerEntriesThanItsDirectoryLosesNone) {
    // A writer without zip64 keeps the count modulo 65,536, and one may give the size of the records it
    // counted: the directory is read to the end record.
    Layout l = lay(kThree);
    set16(l, l.end + 8, 1);
    set16(l, l.end + 10, 1);
    Layout shortSize = l;
    set32(shortSize, shortSize.end + 12, std::uint32_t(l.central[1] - l.central[0]));
    std::vector<std::pair<std::string, Bytes>> files = {{"laid out", l.file}, {"size short", shortSize.file}};
    for (const char* name : {"hostile-eocd_count_low.xlsx", "hostile-eocd_count_low.ods",
                             "hostile-eocd_count_low_cdsize_low.xlsx"})
        files.emplace_back(name, fixture(name));
    for (const auto& [name, file] : files) {
        std::size_t records = 0;
        for (std::size_t i = 0; i + 4 <= file.size(); ++i)
            records += bytes::get32(&file[i]) == 0x02014b50;
        const zip::Archive a = parse(file);
        EXPECT_EQ(a.entries().size(), records) << name;
        const zip::Archive b = parse(write(zip::ArchiveWriter(a)));
        EXPECT_EQ(b.entries().size(), records) << name;
        for (const zip::Entry& e : a.entries())
            EXPECT_NE(b.find(e.name), nullptr) << name << ": " << e.name;
    }
}

TEST(ZipRoundTrip, ALeadingEntryDeflatedBeyondAMediaTypeKeepsItsCompressedBytes) {
    // 100 KB deflated to a few hundred bytes, put first: stored, it would grow the package 300-fold.
    zip::ArchiveWriter made(parse(lay({{"a.xml", "<a/>"}}).file));
    made.add("mimetype", [](const ByteSink& s) { s(Bytes(100000, 'm')); });
    const zip::Archive a = parse(write(made));
    zip::ArchiveWriter w(a);
    w.putFirstStored("mimetype");
    const Bytes out = write(w);
    EXPECT_LT(out.size(), 2000u);
    const zip::Archive b = parse(out);
    const zip::Entry& first = b.entries().front();
    EXPECT_EQ(first.name, "mimetype");
    EXPECT_EQ(first.localOffset, 0u);
    const zip::Entry& was = *a.find("mimetype");
    EXPECT_TRUE(std::equal(was.record.begin(), was.record.end(), first.record.begin(), first.record.end()));
    EXPECT_EQ(b.read(first), Bytes(100000, 'm'));
}

// Read on demand, a package reads as it does whole, its index reading none of the entries' data; in blocks
// of one byte, anything read without asking first is junk (and reported under AddressSanitizer).
TEST(ZipRead, OnDemandAsWholeAndTheIndexAlone) {
    std::vector<std::pair<std::string, Bytes>> files;
    for (const char* name :
         {"basic-source.xlsx", "excel-button07.xlsm", "basic-libreoffice.ods", "wps-fn.xlsx"})
        files.emplace_back(name, fixture(name));
    files.emplace_back(
        "zip64 fields and data descriptors",
        lay({{"x.xml", "<x/>", false, true}, {"y.xml", std::string(5000, 'y'), true, false}}).file);
    Bytes commented = lay(kThree).file;
    bytes::put16(&commented[commented.size() - 2], 700); // the end record farther from the end than usual
    commented.insert(commented.end(), 700, 'c');
    files.emplace_back("a long comment", commented);
    for (const auto& [name, file] : files) {
        const zip::Archive whole = parse(file);
        for (std::size_t block : {std::size_t(1), std::size_t(7), std::size_t(4096)}) {
            SCOPED_TRACE(name + ", blocks of " + std::to_string(block));
            const auto onDemand = FileBytes::onDemandFrom(file, block);
            const zip::Archive a = zip::Archive::parse(onDemand);
            if (block == 1 && file.size() > 4096) { // a small one is read whole by the search for its end
                EXPECT_LT(onDemand->bytesRead(), file.size() / 2);
            }
            ASSERT_EQ(a.entries().size(), whole.entries().size());
            for (std::size_t i = 0; i < a.entries().size(); ++i) {
                EXPECT_EQ(a.entries()[i].name, whole.entries()[i].name);
                EXPECT_EQ(a.read(a.entries()[i]), whole.read(whole.entries()[i])) << a.entries()[i].name;
            }
        }
    }
}

TEST(ZipRead, ReadsPieceByPieceAndStopsEarly) {
    const std::string big(200000, 'q');
    zip::ArchiveWriter w(parse(lay({}).file));
    w.add("big.xml", [&](const ByteSink& s) { s(toBytes(big)); });
    const zip::Archive b = parse(write(w));
    zip::EntryReader r(b, *b.find("big.xml"));
    std::uint8_t buf[1000];
    EXPECT_EQ(r.read(buf), sizeof buf);
    EXPECT_EQ(buf[999], 'q');
    EXPECT_EQ(b.read(*b.find("big.xml")).size(), big.size());
}

// --- A large entry edited near its start keeps its compressed tail --------------------------------------

// One deflated entry whose stream is made as the test asks (levels, flushes that leave stored and fixed-code
// blocks at every bit alignment), laid out by hand.
Bytes deflatedPackage(const std::string& content, int level, int flush, std::size_t every) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string packed(compressBound(uLong(content.size())) + content.size() / 64 + 1024, '\0');
    z.next_out = reinterpret_cast<Bytef*>(packed.data());
    z.avail_out = uInt(packed.size());
    for (std::size_t at = 0; at < content.size(); at += every) {
        const std::size_t n = std::min(every, content.size() - at);
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data() + at));
        z.avail_in = uInt(n);
        deflate(&z, at + n == content.size() ? Z_FINISH : flush);
    }
    packed.resize(z.total_out);
    deflateEnd(&z);
    Layout l = lay({{"big.xml", packed}});
    const auto crc =
        std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(content.data()), uInt(content.size())));
    for (const std::size_t h : {l.local[0], l.central[0]}) {
        const std::size_t shift = h == l.central[0] ? 2 : 0;
        set16(l, h + 8 + shift, 8);
        set32(l, h + 14 + shift, crc);
        set32(l, h + 22 + shift, std::uint32_t(content.size()));
    }
    return l.file;
}

// Rows of a sheet, of at least that many bytes.
std::string rowsText(std::size_t size) {
    std::string content;
    for (int i = 0; content.size() < size; ++i)
        content +=
            "<row r=\"" + std::to_string(i) + "\"><c>" + std::to_string(i * 7919 % 100003) + "</c></row>";
    return content;
}

// Every kind of deflate stream producers write: the level, the flush between slices, the slices' size.
struct Stream {
    const char* what;
    int level, flush;
    std::size_t every;
};
const Stream streams[] = {
    {"one stream", 6, Z_NO_FLUSH, 1 << 30},        {"sync flushes", 6, Z_SYNC_FLUSH, 7001},
    {"partial flushes", 9, Z_PARTIAL_FLUSH, 5003}, {"block flushes", 1, Z_BLOCK, 3001},
    {"all stored", 0, Z_NO_FLUSH, 1 << 30},
};

// Every cut and every kind of stream: the entry reads back as the new head plus the original's rest, with a
// right CRC; past a block boundary far enough from the cut, the original's compressed bytes are its own.
TEST(ZipReplaceHead, NewHeadThenTheOriginalsRestWhateverTheStream) {
    const std::string content = rowsText(600000);
    const std::size_t cuts[] = {0, 1, 12345, content.size() / 2, content.size() - 40000, content.size()};
    for (const Stream& st : streams) {
        const zip::Archive a = parse(deflatedPackage(content, st.level, st.flush, st.every));
        const zip::Entry& was = *a.find("big.xml");
        ASSERT_EQ(readText(a, "big.xml"), content) << st.what;
        for (const std::size_t cut : cuts) {
            const std::string head = "<new cut=\"" + std::to_string(cut) + "\"/>";
            zip::ArchiveWriter w(a);
            // The new part for the original's first upTo bytes: the head, then those past the cut.
            w.replaceHead(
                "big.xml",
                [&](const ByteSink& s, std::uint64_t upTo) {
                    s(toBytes(head + content.substr(cut, upTo == zip::kWholeEntry
                                                             ? std::string::npos
                                                             : std::size_t(upTo - cut))));
                },
                cut);
            const zip::Archive b = parse(write(w));
            EXPECT_EQ(readText(b, "big.xml"), head + content.substr(cut)) << st.what << ", cut at " << cut;
            if (cut + 100000 < content.size()) {
                const auto old = was.data.last(64), now = b.find("big.xml")->data.last(64);
                EXPECT_TRUE(std::equal(old.begin(), old.end(), now.begin(), now.end()))
                    << st.what << ", cut at " << cut << ": the tail was deflated again";
            }
        }
    }
}

// Edited at both ends: the original's compressed bits between a boundary past the head and the last one
// before the tail are its own; the entry reads back whole, with a right CRC, whatever the stream.
TEST(ZipReplaceHead, NewHeadAndTailAroundTheOriginalsMiddleWhateverTheStream) {
    const std::string content = rowsText(600000);
    const std::size_t n = content.size();
    // Where the head's edits end and the tail's begin: far apart, close, next to each other, at the ends.
    const std::pair<std::size_t, std::size_t> cuts[] = {
        {0, n}, {12345, n - 6}, {1, n / 2}, {n / 2, n - 1}, {12345, 40000}, {5000, 5001}, {0, 1}, {n - 1, n}};
    for (const Stream& st : streams) {
        const zip::Archive a = parse(deflatedPackage(content, st.level, st.flush, st.every));
        const zip::Entry& was = *a.find("big.xml");
        for (const auto& cut : cuts) {
            const std::size_t head = cut.first, tail = cut.second;
            SCOPED_TRACE(std::string(st.what) + ", kept " + std::to_string(head) + " to " +
                         std::to_string(tail));
            const std::string first = "<new head=\"" + std::to_string(head) + "\"/>";
            const std::string last = "<new tail=\"" + std::to_string(tail) + "\"/>";
            const std::string expected = first + content.substr(head, tail - head) + last;
            zip::ArchiveWriter w(a);
            w.replaceHeadAndTail(
                "big.xml",
                [&](const ByteSink& s, std::uint64_t upTo) {
                    if (upTo == zip::kWholeEntry) return s(toBytes(expected));
                    ASSERT_LE(upTo, tail);
                    s(toBytes(first + content.substr(head, std::size_t(upTo) - head)));
                },
                head,
                [&](const ByteSink& s, std::uint64_t from) {
                    ASSERT_GE(from, head);
                    ASSERT_LE(from, tail);
                    s(toBytes(content.substr(std::size_t(from), tail - std::size_t(from)) + last));
                },
                tail);
            const zip::Archive b = parse(write(w));
            const std::string got = readText(b, "big.xml");
            ASSERT_TRUE(got == expected)
                << "read back " << got.size() << " bytes for " << expected.size()
                << ", the first differing at "
                << std::mismatch(got.begin(), got.end(), expected.begin(), expected.end()).first -
                       got.begin();
            if (head + 200000 < tail) {
                // Bytes from the middle of the original's compressed data are found as they were.
                const auto old = was.data.subspan(was.data.size() * (head + tail) / 2 / n, 64);
                const auto now = b.find("big.xml")->data;
                EXPECT_NE(std::search(now.begin(), now.end(), old.begin(), old.end()), now.end())
                    << "the middle was deflated again";
                // Only a head and a tail around the middle are deflated anew (at the fastest level), neither
                // stored as it is: the whole stays within a twentieth of the original.
                EXPECT_LT(now.size(), was.data.size() + was.data.size() / 20);
            }
        }
    }
}

// --- Hostile and broken packages: 1004 naming what is wrong ---------------------------------------------

// --- Inflating ------------------------------------------------------------------------------------------

// The whole entry, read through buffers of one size.
std::string readInPieces(const zip::Archive& a, const zip::Entry& e, std::size_t piece) {
    zip::EntryReader r(a, e);
    std::string out;
    std::vector<std::uint8_t> buf(piece);
    for (std::size_t n; (n = r.read(buf)) > 0;)
        out.append(buf.begin(), buf.begin() + std::ptrdiff_t(n));
    return out;
}

// Every kind of stream reads back whole through buffers of any size (back-references reach into earlier
// buffers); a broken stream or a size that lies is refused, naming what is wrong.
TEST(ZipInflate, ReadsInAnyPiecesAndRefusesBrokenStreams) {
    const std::string content = rowsText(300000);
    const std::size_t pieces[] = {1, 7, 1000, 65536, 1 << 20};
    for (const auto& [level, flush, every] : {std::tuple{6, Z_NO_FLUSH, 1 << 30},
                                              {9, Z_SYNC_FLUSH, 7001},
                                              {1, Z_BLOCK, 3001},
                                              {0, Z_NO_FLUSH, 1 << 30}}) {
        const zip::Archive a = parse(deflatedPackage(content, level, flush, std::size_t(every)));
        for (const std::size_t piece : pieces)
            EXPECT_EQ(readInPieces(a, a.entries()[0], piece), content)
                << "level " << level << ", pieces of " << piece;
    }

    // Where the stream and the sizes stand in the one entry's local header and central record.
    const Bytes good = deflatedPackage(content, 6, Z_NO_FLUSH, 1 << 30);
    const std::size_t data = 30 + bytes::get16(&good[26]) + bytes::get16(&good[28]);
    const std::size_t central = [&] {
        const zip::Archive a = parse(good);
        return std::size_t(a.entries()[0].central.data() - a.entries()[0].record.data());
    }();
    auto both32 = [&](Bytes& b, std::size_t local, std::uint32_t v) {
        bytes::put32(&b[local], v);
        bytes::put32(&b[central + local + 2], v); // the central record has two more bytes before them
    };
    struct Case {
        const char* what;
        std::function<void(Bytes&)> spoil;
        const char* fragment;
    } cases[] = {
        {"a reserved block type", [&](Bytes& b) { b[data] |= 0x06; }, "comprimate deteriorate"},
        // A fixed-code block whose first symbol copies from before the start.
        {"a distance before the start",
         [&](Bytes& b) {
             const std::uint8_t far[] = {0x03, 0x02, 0x00, 0x00};
             std::copy(std::begin(far), std::end(far), b.begin() + std::ptrdiff_t(data));
         },
         "comprimate deteriorate"},
        {"cut short", [&](Bytes& b) { both32(b, 18, bytes::get32(&b[18]) / 2); }, "trunchiate"},
        {"declared longer than it is", [&](Bytes& b) { both32(b, 22, std::uint32_t(content.size() + 1)); },
         "dimensiunea declarata"},
        {"a wrong CRC", [&](Bytes& b) { both32(b, 14, bytes::get32(&b[14]) ^ 1); }, "suma de control"},
    };
    for (const Case& c : cases) {
        Bytes b = good;
        c.spoil(b);
        for (const std::size_t piece : pieces) {
            SCOPED_TRACE(std::string(c.what) + ", pieces of " + std::to_string(piece));
            EXPECT_RUNTIME_ERROR(
                {
                    const zip::Archive a = parse(b);
                    (void)readInPieces(a, a.entries()[0], piece);
                },
                err::Application, c.fragment);
        }
    }
}

struct Broken {
    const char* what;
    std::function<void(Layout&)> damage;
    const char* fragment;
    zip::Limits limits = {};
};

void PrintTo(const Broken& b, std::ostream* os) {
    *os << b.what;
}

class ZipRejects : public ::testing::TestWithParam<Broken> {};

TEST_P(ZipRejects, WithAPreciseDescription) {
    Layout l = lay(kThree);
    GetParam().damage(l);
    EXPECT_RUNTIME_ERROR(
        {
            const zip::Archive a = parse(l.file, GetParam().limits);
            for (const zip::Entry& e : a.entries())
                (void)a.read(e);
        },
        err::Application, GetParam().fragment);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ZipRejects,
    ::testing::Values(
        Broken{"truncated", [](Layout& l) { l.file.resize(l.end - 5); }, "directorul central"},
        Broken{"not a zip", [](Layout& l) { l.file.assign(100, 'z'); }, "directorul central"},
        Broken{"split archive", [](Layout& l) { set16(l, l.end + 6, 1); }, "mai multe discuri"},
        Broken{"encrypted entry", [](Layout& l) { set16(l, l.central[1] + 8, 9); }, "criptata"},
        Broken{"duplicate name in other case",
               [](Layout& l) {
                   const std::size_t at = l.central[2] + 46, lat = l.local[2] + 30;
                   for (std::size_t i = 0; i < 9; ++i)
                       l.file[at + i] = l.file[lat + i] = std::uint8_t("A/ONE.XML"[i]);
               },
               "de doua ori"},
        Broken{"overlapping entries",
               [](Layout& l) { set32(l, l.central[2] + 42, std::uint32_t(l.local[1])); }, "antetul local"},
        Broken{"data running into the next entry",
               [](Layout& l) {
                   // The first entry's data now covers the second entry's local header.
                   for (std::size_t at :
                        {l.local[0] + 18, l.local[0] + 22, l.central[0] + 20, l.central[0] + 24})
                       set32(l, at, 40);
               },
               "se suprapun"},
        Broken{"local name differs", [](Layout& l) { l.file[l.local[2] + 30] = 'B'; }, "nu corespunde"},
        Broken{"local size differs", [](Layout& l) { set32(l, l.local[0] + 18, 3); }, "nu corespunde"},
        Broken{"bad crc", [](Layout& l) { l.file[l.local[2] + 30 + 9 + 5] ^= 1; }, "suma de control"},
        Broken{"entry offset past the directory", [](Layout& l) { set32(l, l.central[0] + 42, 0x7FFFFFFF); },
               "antetul local"},
        Broken{"count beyond the directory",
               [](Layout& l) { set16(l, l.end + 10, 900), set16(l, l.end + 8, 900); }, "prea scurt"},
        Broken{"unknown method",
               [](Layout& l) { set16(l, l.central[0] + 10, 12), set16(l, l.local[0] + 8, 12); },
               "metoda de compresie 12"},
        Broken{"too many entries", [](Layout&) {}, "peste limita de 2", zip::Limits{2}},
        Broken{"entry too large", [](Layout&) {}, "peste limita de 100", zip::Limits{10, 100}},
        Broken{"all entries too large", [](Layout&) {}, "impreuna", zip::Limits{10, 1000, 300}}),
    [](const auto& info) {
        std::string n = info.param.what;
        for (char& c : n)
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        return n;
    });

TEST(ZipBomb, DeclaredRatioBeyondDeflateIsRefusedBeforeInflating) {
    // A 10-byte deflate stream cannot stand for 2 MB.
    Layout l = lay({{"bomb.xml", std::string(10, 'b')}});
    set16(l, l.central[0] + 10, 8);
    set16(l, l.local[0] + 8, 8);
    set32(l, l.central[0] + 24, 2 << 20);
    set32(l, l.local[0] + 22, 2 << 20);
    EXPECT_RUNTIME_ERROR(parse(l.file), err::Application, "bomba zip");
}

TEST(ZipBomb, AStreamLongerThanDeclaredStopsAtTheDeclaredSize) {
    // Real deflate data of 100000 bytes declared as 1000.
    zip::ArchiveWriter w(parse(lay({}).file));
    w.add("z.xml", [](const ByteSink& s) { s(Bytes(100000, 'z')); });
    Bytes b = write(w);
    const zip::Archive honest = parse(b);
    const zip::Entry& e = honest.entries()[0];
    bytes::put32(&b[e.localOffset + 22], 1000);
    bytes::put32(&b[e.central.data() - honest.entries()[0].record.data() + e.localOffset + 24], 1000);
    EXPECT_RUNTIME_ERROR(
        {
            const zip::Archive a = parse(b);
            (void)a.read(a.entries()[0]);
        },
        err::Application, "mai mare decat declara");
}

} // namespace
