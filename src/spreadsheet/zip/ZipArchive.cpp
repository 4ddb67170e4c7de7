#include "ZipArchive.h"

#include "Compression.h"
#include "common/Bytes.h"
#include "common/RuntimeError.h"
#include "common/Text.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

namespace ordana::spreadsheet::zip {

namespace {

using bytes::get16;
using bytes::get32;
using bytes::get64;

constexpr std::uint32_t kLocalSig = 0x04034b50;
constexpr std::uint32_t kCentralSig = 0x02014b50;
constexpr std::uint32_t kEndSig = 0x06054b50;
constexpr std::uint32_t kEnd64Sig = 0x06064b50;
// The most a leading stored entry (a package's media type) is inflated for.
constexpr std::uint64_t kMaxStoredFirst = 256;
constexpr std::uint32_t kLocator64Sig = 0x07064b50;
constexpr std::uint32_t kDescriptorSig = 0x08074b50;
constexpr std::uint16_t kZip64Extra = 0x0001;
constexpr std::uint16_t kFlagEncrypted = 0x0001;
constexpr std::uint16_t kFlagDescriptor = 0x0008;
constexpr std::uint16_t kFlagStrongEncryption = 0x0040;
constexpr std::uint16_t kFlagUtf8 = 0x0800;
constexpr std::uint32_t kMax32 = 0xFFFFFFFF;
// Ratios are not judged on small entries: a few bytes of deflate can stand for a long run of spaces.
constexpr std::uint64_t kRatioFloor = 1 << 20;

[[noreturn]] void fail(const std::string& what) {
    throw RuntimeError(err::Application, what);
}

std::string entryName(const std::string& name) {
    return "intrarea zip " + text::quoted(name);
}

struct Zip64Fields {
    std::uint64_t* uncompressed = nullptr;
    std::uint64_t* compressed = nullptr;
    std::uint64_t* offset = nullptr;
    std::size_t* offsetField = nullptr; // position of the offset inside the record, when read from there
};

// Reads the zip64 extra field of a header: each value stored as 0xFFFFFFFF in the header is there, in order.
void readZip64(std::span<const std::uint8_t> extra, std::size_t extraPos, const Zip64Fields& f,
               const std::string& name) {
    std::size_t p = 0;
    while (p + 4 <= extra.size()) {
        const std::uint16_t id = get16(&extra[p]), size = get16(&extra[p + 2]);
        if (p + 4 + size > extra.size()) break;
        if (id == kZip64Extra) {
            std::size_t q = p + 4;
            auto take = [&](std::uint64_t* v, std::size_t* at) {
                if (!v || *v != kMax32) return;
                if (q + 8 > p + 4 + size) fail("campul zip64 al " + entryName(name) + " este prea scurt");
                *v = get64(&extra[q]);
                if (at) *at = extraPos + q;
                q += 8;
            };
            take(f.uncompressed, nullptr);
            take(f.compressed, nullptr);
            take(f.offset, f.offsetField);
            return;
        }
        p += 4 + size;
    }
    if ((f.uncompressed && *f.uncompressed == kMax32) || (f.compressed && *f.compressed == kMax32) ||
        (f.offset && *f.offset == kMax32 && f.offsetField))
        fail(entryName(name) + " nu are campul zip64 cerut de dimensiunile ei");
}

std::uint32_t dosDate(std::span<const std::uint8_t> central, std::size_t at, std::uint32_t fallback) {
    return central.empty() ? fallback : get16(&central[at]);
}

void put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    bytes::append16(out, v);
}
void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    bytes::append32(out, v);
}

bool isAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

} // namespace

bool Archive::hasSignature(std::span<const std::uint8_t> b) {
    return b.size() >= 4 && (get32(b.data()) == kLocalSig || get32(b.data()) == kEndSig);
}

Archive Archive::parse(std::shared_ptr<const FileBytes> file, const Limits& limits) {
    Archive a;
    a.file_ = std::move(file);
    a.limits_ = limits;
    // Spans into the file's bytes, which are read (for a file read on demand) only where need() says: the
    // end records, the central directory and the local headers, not the entries' data.
    const std::span<const std::uint8_t> f(a.file_->base(), a.file_->size());
    const auto need = [&](std::uint64_t at, std::uint64_t n) { (void)a.file_->view(at, n); };
    const std::uint64_t size = f.size();

    // The end record: the last signature whose comment fits in what follows it.
    std::optional<std::uint64_t> end;
    if (size >= 22) {
        const std::uint64_t lowest = size > 22 + 65535 ? size - 22 - 65535 : 0;
        // Most packages have no comment: the end record is read first where it usually is.
        const std::uint64_t near = size - 22 > lowest + 256 ? size - 22 - 256 : lowest;
        need(near, size - near);
        for (std::uint64_t p = size - 22 + 1; p-- > lowest;) {
            if (p + 1 == near) need(lowest, near - lowest);
            if (get32(&f[p]) == kEndSig && p + 22 + get16(&f[p + 20]) <= size) {
                end = p;
                break;
            }
        }
    }
    if (!end) fail("nu are directorul central al unei arhive zip (fisier trunchiat sau deteriorat)");
    const std::uint8_t* e = &f[*end];
    a.comment_ = f.subspan(*end + 22, get16(e + 20));
    std::uint64_t disk = get16(e + 4), cdDisk = get16(e + 6), onDisk = get16(e + 8), count = get16(e + 10);
    std::uint64_t cdSize = get32(e + 12), cdOffset = get32(e + 16);
    std::uint64_t cdEndLimit = *end;

    if (*end >= 20) need(*end - 20, 20);
    if (*end >= 20 && get32(&f[*end - 20]) == kLocator64Sig) {
        const std::uint8_t* loc = &f[*end - 20];
        const std::uint64_t at = get64(loc + 8);
        if (get32(loc + 4) != 0 || get32(loc + 16) > 1)
            fail("arhiva zip este impartita pe mai multe discuri, ceea ce nu se poate citi");
        if (at <= *end - 20) need(at, 56);
        if (at > *end - 20 || *end - 20 - at < 56 || get32(&f[at]) != kEnd64Sig)
            fail("sfarsitul zip64 al directorului central lipseste sau iese din fisier");
        const std::uint8_t* e64 = &f[at];
        disk = get32(e64 + 16);
        cdDisk = get32(e64 + 20);
        onDisk = get64(e64 + 24);
        count = get64(e64 + 32);
        cdSize = get64(e64 + 40);
        cdOffset = get64(e64 + 48);
        cdEndLimit = at;
        a.zip64_ = true;
    }
    if (disk != 0 || cdDisk != 0 || onDisk != count)
        fail("arhiva zip este impartita pe mai multe discuri, ceea ce nu se poate citi");
    if (cdOffset > cdEndLimit || cdSize > cdEndLimit - cdOffset)
        fail("directorul central al arhivei zip iese din fisier");
    if (count > limits.maxEntries)
        fail("arhiva zip are " + std::to_string(count) + " de intrari, peste limita de " +
             std::to_string(limits.maxEntries));
    if (count > cdSize / 46)
        fail("directorul central al arhivei zip este prea scurt pentru cele " + std::to_string(count) +
             " de intrari declarate");

    need(cdOffset, cdSize);
    a.entries_.reserve(count);
    std::uint64_t p = cdOffset, total = 0;
    const std::uint64_t cdEnd = cdOffset + cdSize;
    // The directory is read to its end: a writer without zip64 may have kept only the low 16 bits of the
    // count, and a save must not lose the records past it. Anything after the last record is not one.
    for (std::uint64_t i = 0; i < count || (p + 46 <= cdEnd && get32(&f[p]) == kCentralSig); ++i) {
        if (i >= limits.maxEntries)
            fail("arhiva zip are mai multe intrari decat limita de " + std::to_string(limits.maxEntries));
        if (p + 46 > cdEnd || get32(&f[p]) != kCentralSig)
            fail("directorul central al arhivei zip este deteriorat la intrarea " + std::to_string(i + 1));
        const std::uint8_t* c = &f[p];
        const std::size_t nameLen = get16(c + 28), extraLen = get16(c + 30), commentLen = get16(c + 32);
        const std::uint64_t recordLen = 46 + nameLen + extraLen + commentLen;
        if (p + recordLen > cdEnd)
            fail("directorul central al arhivei zip este deteriorat la intrarea " + std::to_string(i + 1));
        Entry en;
        en.flags = get16(c + 8);
        en.method = get16(c + 10);
        en.crc = get32(c + 16);
        en.compressedSize = get32(c + 20);
        en.uncompressedSize = get32(c + 24);
        en.localOffset = get32(c + 42);
        en.central = f.subspan(p, recordLen);
        en.offsetField = 42;
        const std::string rawName(reinterpret_cast<const char*>(c + 46), nameLen);
        en.name = (en.flags & kFlagUtf8) ? rawName : text::latin1ToUtf8(rawName);
        if (get16(c + 34) != 0)
            fail(entryName(en.name) + " se afla pe alt disc: arhivele impartite nu se pot citi");
        std::size_t offsetField = 0;
        readZip64(f.subspan(p + 46 + nameLen, extraLen), 46 + nameLen,
                  {&en.uncompressedSize, &en.compressedSize, &en.localOffset, &offsetField}, en.name);
        if (offsetField) {
            en.offsetField = offsetField;
            en.offsetIs64 = true;
        }
        if (en.flags & (kFlagEncrypted | kFlagStrongEncryption))
            fail(entryName(en.name) + " este criptata si nu poate fi citita");
        if (en.uncompressedSize > limits.maxEntryBytes)
            fail(entryName(en.name) + " are " + std::to_string(en.uncompressedSize) +
                 " octeti dezarhivata, peste limita de " + std::to_string(limits.maxEntryBytes) +
                 " (bomba zip sau fisier deteriorat)");
        if (en.uncompressedSize > kRatioFloor &&
            (en.compressedSize == 0 || en.uncompressedSize / en.compressedSize > limits.maxRatio))
            fail(entryName(en.name) + " s-ar dezarhiva de peste " + std::to_string(limits.maxRatio) +
                 " de ori mai mare decat este (bomba zip sau fisier deteriorat)");
        if (en.method == 0 && en.compressedSize != en.uncompressedSize)
            fail(entryName(en.name) + " este stocata necomprimata, dar dimensiunile ei difera");
        total += en.uncompressedSize;
        if (total > limits.maxTotalBytes)
            fail("intrarile arhivei zip ar avea impreuna peste " + std::to_string(limits.maxTotalBytes) +
                 " de octeti dezarhivate (bomba zip)");

        // The local header must repeat what the index says.
        const std::uint64_t lo = en.localOffset;
        if (lo <= cdOffset) need(lo, 30);
        if (lo > cdOffset || cdOffset - lo < 30 || get32(&f[lo]) != kLocalSig)
            fail("antetul local al " + entryName(en.name) + " lipseste sau iese din fisier");
        const std::uint8_t* l = &f[lo];
        const std::size_t lNameLen = get16(l + 26), lExtraLen = get16(l + 28);
        const std::uint64_t dataStart = lo + 30 + lNameLen + lExtraLen;
        need(lo + 30, lNameLen + lExtraLen);
        if (dataStart > cdOffset || lNameLen != nameLen || std::memcmp(l + 30, c + 46, nameLen) != 0 ||
            get16(l + 8) != en.method || (get16(l + 6) & kFlagEncrypted))
            fail("antetul local al " + entryName(en.name) + " nu corespunde directorului central");
        const bool zip64Sizes = get32(l + 18) == kMax32 || get32(l + 22) == kMax32 ||
                                en.compressedSize >= kMax32 || en.uncompressedSize >= kMax32;
        if (!(get16(l + 6) & kFlagDescriptor)) {
            std::uint64_t lc = get32(l + 18), lu = get32(l + 22);
            readZip64(f.subspan(lo + 30 + lNameLen, lExtraLen), 0, {&lu, &lc, nullptr, nullptr}, en.name);
            if (get32(l + 14) != en.crc || lc != en.compressedSize || lu != en.uncompressedSize)
                fail("antetul local al " + entryName(en.name) + " nu corespunde directorului central");
        }
        if (en.compressedSize > cdOffset - dataStart)
            fail("datele " + std::string("intrarii zip ") + text::quoted(en.name) + " ies din fisier");
        std::uint64_t recordEnd = dataStart + en.compressedSize;
        if (get16(l + 6) & kFlagDescriptor) {
            std::uint64_t d = recordEnd;
            need(d, 24);
            if (d + 4 <= cdOffset && get32(&f[d]) == kDescriptorSig) d += 4;
            const std::uint64_t len = zip64Sizes ? 20 : 12;
            if (d + len > cdOffset)
                fail("descriptorul de date al " + entryName(en.name) + " iese din fisier");
            const std::uint64_t dc = zip64Sizes ? get64(&f[d + 4]) : get32(&f[d + 4]);
            const std::uint64_t du = zip64Sizes ? get64(&f[d + 12]) : get32(&f[d + 8]);
            if (get32(&f[d]) != en.crc || dc != en.compressedSize || du != en.uncompressedSize)
                fail("descriptorul de date al " + entryName(en.name) + " nu corespunde directorului central");
            recordEnd = d + len;
        }
        en.record = f.subspan(lo, recordEnd - lo);
        en.data = f.subspan(dataStart, en.compressedSize);
        a.entries_.push_back(std::move(en));
        p += recordLen;
    }

    a.byFoldedName_.reserve(a.entries_.size());
    for (std::size_t i = 0; i < a.entries_.size(); ++i)
        a.byFoldedName_.emplace_back(text::foldCase(a.entries_[i].name), i);
    std::sort(a.byFoldedName_.begin(), a.byFoldedName_.end());
    for (std::size_t i = 1; i < a.byFoldedName_.size(); ++i)
        if (a.byFoldedName_[i].first == a.byFoldedName_[i - 1].first)
            fail("arhiva zip contine de doua ori " + entryName(a.entries_[a.byFoldedName_[i].second].name) +
                 " (numele difera cel mult prin majuscule)");

    std::vector<const Entry*> inFile;
    inFile.reserve(a.entries_.size());
    for (const Entry& en : a.entries_)
        inFile.push_back(&en);
    std::sort(inFile.begin(), inFile.end(),
              [](const Entry* x, const Entry* y) { return x->localOffset < y->localOffset; });
    for (std::size_t i = 1; i < inFile.size(); ++i)
        if (inFile[i - 1]->localOffset + inFile[i - 1]->record.size() > inFile[i]->localOffset)
            fail("intrarile zip " + text::quoted(inFile[i - 1]->name) + " si " +
                 text::quoted(inFile[i]->name) + " se suprapun in fisier");
    return a;
}

const Entry* Archive::find(std::string_view name) const {
    const std::string key = text::foldCase(name);
    auto it = std::lower_bound(byFoldedName_.begin(), byFoldedName_.end(), key,
                               [](const auto& x, const std::string& k) { return x.first < k; });
    return it != byFoldedName_.end() && it->first == key ? &entries_[it->second] : nullptr;
}

std::vector<std::uint8_t> Archive::read(const Entry& entry) const {
    std::vector<std::uint8_t> out(entry.uncompressedSize);
    EntryReader reader(*this, entry);
    std::size_t filled = 0;
    while (filled < out.size()) {
        const std::size_t n = reader.read(std::span(out).subspan(filled));
        if (n == 0) break;
        filled += n;
    }
    std::uint8_t probe;
    if (reader.read({&probe, 1}) != 0 || filled != out.size())
        fail(entryName(entry.name) + " este deteriorata: datele nu au dimensiunea declarata");
    return out;
}

// Reading and writing inflate, deflate and take the CRC-32 through Compression.h; only the block-level work
// of replaceHead is zlib's own.
struct EntryReader::State {
    const Entry* entry;
    std::shared_ptr<const FileBytes> file; // read as far as the inflating gets
    std::uint64_t chunk = 16 << 10;        // grows: a reader that stops early reads little of the file
    std::optional<Inflater> z;
    std::span<const std::uint8_t> in; // read from the file, not yet inflated
    std::uint64_t consumed = 0, produced = 0;
    std::uint32_t crc = 0;
    bool finished = false;
};

EntryReader::EntryReader(const Archive& archive, const Entry& entry) : state_(std::make_unique<State>()) {
    state_->entry = &entry;
    state_->file = archive.file();
    if (entry.method != 0 && entry.method != 8)
        fail(entryName(entry.name) + " foloseste metoda de compresie " + std::to_string(entry.method) +
             ", pe care Ordana nu o cunoaste");
    if (entry.method == 8) state_->z.emplace();
}

EntryReader::~EntryReader() = default;

std::size_t EntryReader::read(std::span<std::uint8_t> out) {
    State& s = *state_;
    const Entry& e = *s.entry;
    if (s.finished || out.empty()) return 0;
    // Never more than the declared size: a longer stream is the file lying about itself.
    const std::uint64_t room = e.uncompressedSize - s.produced;
    std::size_t n = 0;
    if (e.method == 0) {
        n = std::size_t(std::min<std::uint64_t>(out.size(), room));
        std::memcpy(out.data(), s.file->view(e.data.subspan(s.produced, n)).data(), n);
        s.produced += n;
        if (s.produced == e.uncompressedSize) s.finished = true;
    } else {
        const std::size_t want = std::size_t(std::min<std::uint64_t>(out.size(), room + 1));
        std::span<std::uint8_t> rest = out.first(want);
        while (!rest.empty()) {
            if (s.in.empty()) {
                const std::uint64_t left = e.data.size() - s.consumed;
                s.in = s.file->view(e.data.subspan(s.consumed, std::min(left, s.chunk)));
                s.consumed += s.in.size();
                s.chunk = std::min<std::uint64_t>(s.chunk * 2, 1 << 20);
            }
            const std::size_t before = s.in.size(), outBefore = rest.size();
            const Inflater::Status status = s.z->run(s.in, rest);
            if (status == Inflater::Status::Corrupt)
                fail(entryName(e.name) + " are date comprimate deteriorate");
            if (status == Inflater::Status::End) {
                s.finished = true;
                break;
            }
            if (before == s.in.size() && outBefore == rest.size() && s.consumed >= e.data.size())
                fail(entryName(e.name) + " are date comprimate trunchiate");
        }
        n = want - rest.size();
        s.produced += n;
        if (s.produced > e.uncompressedSize)
            fail(entryName(e.name) + " se dezarhiveaza mai mare decat declara (bomba zip sau fisier "
                                     "deteriorat)");
        if (s.finished && s.produced != e.uncompressedSize)
            fail(entryName(e.name) + " este deteriorata: datele nu au dimensiunea declarata");
    }
    s.crc = crc32(s.crc, out.first(n));
    if (s.finished && s.crc != e.crc) fail(entryName(e.name) + " este deteriorata (suma de control gresita)");
    return n;
}

void ArchiveWriter::replace(const std::string& name, Producer content) {
    std::erase_if(changes_, [&](const Change& c) { return text::foldCase(c.name) == text::foldCase(name); });
    changes_.push_back({name,
                        archive_.find(name) ? Change::Replace : Change::Add,
                        std::move(content),
                        true,
                        {},
                        0,
                        {},
                        kWholeEntry});
}

void ArchiveWriter::replace(const std::string& name, std::vector<std::uint8_t> content) {
    auto data = std::make_shared<std::vector<std::uint8_t>>(std::move(content));
    replace(name, [data](const ByteSink& sink) { sink(*data); });
}

void ArchiveWriter::replaceHead(const std::string& name, HeadProducer head, std::uint64_t keptFrom) {
    replace(name, [head](const ByteSink& sink) { head(sink, kWholeEntry); });
    if (const Entry* e = archive_.find(name)) {
        changes_.back().head = std::move(head);
        changes_.back().keptFrom = std::min(keptFrom, e->uncompressedSize);
    }
}

void ArchiveWriter::replaceHeadAndTail(const std::string& name, HeadProducer head, std::uint64_t keptFrom,
                                       TailProducer tail, std::uint64_t keptTo) {
    replaceHead(name, std::move(head), keptFrom);
    if (const Entry* e = archive_.find(name); e && keptTo <= e->uncompressedSize && keptTo > keptFrom) {
        changes_.back().tail = std::move(tail);
        changes_.back().keptTo = keptTo;
    }
}

void ArchiveWriter::add(const std::string& name, Producer content, bool deflate) {
    if (archive_.find(name) || changeFor(name)) fail("arhiva zip contine deja " + entryName(name));
    changes_.push_back({name, Change::Add, std::move(content), deflate, {}, 0, {}, kWholeEntry});
}

void ArchiveWriter::remove(std::string_view name) {
    std::erase_if(changes_, [&](const Change& c) { return text::foldCase(c.name) == text::foldCase(name); });
    if (archive_.find(name))
        changes_.push_back({std::string(name), Change::Remove, {}, true, {}, 0, {}, kWholeEntry});
}

void ArchiveWriter::putFirstStored(const std::string& name) {
    first_ = name;
}

const ArchiveWriter::Change* ArchiveWriter::changeFor(std::string_view name) const {
    const std::string key = text::foldCase(name);
    for (const Change& c : changes_)
        if (text::foldCase(c.name) == key) return &c;
    return nullptr;
}

namespace {

// A new entry's bytes: its content run through deflate (or kept) into memory, since a plain local header
// needs the sizes and the CRC before the data.
struct Packed {
    std::vector<std::uint8_t> data;
    std::uint32_t crc = 0;
    std::uint64_t size = 0;
    std::uint16_t method = 8;
};

using Ending = Deflater::Ending;

Packed pack(const Producer& content, bool deflate, const std::string& name, std::uint64_t limit,
            Ending ending = Ending::Last) {
    Packed p;
    p.method = deflate ? 8 : 0;
    std::optional<Deflater> z;
    if (deflate) z.emplace();
    content([&](std::span<const std::uint8_t> piece) {
        p.size += piece.size();
        if (p.size > limit) fail(entryName(name) + " ar depasi " + std::to_string(limit) + " de octeti");
        for (std::size_t at = 0; at < piece.size();) {
            const std::size_t n = std::min<std::size_t>(piece.size() - at, 1 << 30);
            p.crc = crc32(p.crc, piece.subspan(at, n));
            if (z)
                z->feed(piece.subspan(at, n), p.data);
            else
                p.data.insert(p.data.end(), piece.begin() + std::ptrdiff_t(at),
                              piece.begin() + std::ptrdiff_t(at + n));
            at += n;
        }
    });
    if (z) z->end(ending, p.data);
    return p;
}

// Where a deflate stream can be taken up as it stands: a block boundary at least a window past `from`, so no
// back-reference after it reaches a byte before `from`. The bytes from `from` to the boundary are kept (up to
// a cap), with the CRC of all bytes before the boundary.
struct Boundary {
    std::uint64_t out = 0; // uncompressed bytes before it
    std::uint64_t bit = 0; // its place in the compressed data, in bits
    std::uint32_t crcBefore = 0;
    std::vector<std::uint8_t> between;
    // With an end: the last block boundary at or before it, where the copied bits stop.
    struct Last {
        std::uint64_t out = 0, bit = 0;
        std::uint32_t crcBefore = 0;
    };
    std::optional<Last> last;
};

// One step of inflating e's data with Z_BLOCK into buf, made bytes so far: what it made, and whether it
// stopped at the end of a block that is not the last (bit 128 without 64), with that end's place in bits (the
// low bits of data_type are those left unread). Not ok at the end of the data, on a fault, or past the size
// the entry declares; stuck when it can go no further.
struct Step {
    bool ok = false, stuck = false, blockEnd = false;
    std::size_t n = 0;
    std::uint64_t bit = 0;
};
Step inflateStep(const Entry& e, z_stream& z, std::uint64_t& consumed, std::span<std::uint8_t> buf,
                 std::uint64_t made) {
    Step s;
    if (z.avail_in == 0) {
        if (consumed >= e.data.size()) return s;
        z.next_in = const_cast<Bytef*>(e.data.data() + consumed);
        z.avail_in = uInt(std::min<std::uint64_t>(e.data.size() - consumed, 1 << 30));
        consumed += z.avail_in;
    }
    z.next_out = buf.data();
    z.avail_out = uInt(buf.size());
    const int rc = inflate(&z, Z_BLOCK);
    s.n = buf.size() - z.avail_out;
    if ((rc != Z_OK && rc != Z_BUF_ERROR) || made + s.n > e.uncompressedSize) return s;
    s.ok = true;
    s.blockEnd = (z.data_type & 128) && !(z.data_type & 64);
    s.bit = (consumed - z.avail_in) * 8 - std::uint64_t(z.data_type & 7);
    s.stuck = rc == Z_BUF_ERROR && s.n == 0 && z.avail_in != 0;
    return s;
}

// The last block boundary at or before `to`, a byte or more past b: inflating on from b (z where it stands).
std::optional<Boundary::Last> findLastBoundary(const Entry& e, z_stream& z, std::uint64_t consumed,
                                               const Boundary& b, std::uint64_t to) {
    std::optional<Boundary::Last> last;
    Boundary::Last at{b.out, b.bit, b.crcBefore};
    std::uint8_t buf[1 << 16];
    while (at.out <= to) {
        const Step s = inflateStep(
            e, z, consumed,
            std::span(buf).first(std::size_t(std::min<std::uint64_t>(sizeof buf, to - at.out + 1))), at.out);
        if (!s.ok) return last;
        at.crcBefore = crc32(at.crcBefore, {buf, s.n});
        at.out += s.n;
        if (s.blockEnd && at.out <= to) {
            at.bit = s.bit;
            if (at.bit / 8 > b.bit / 8) last = at;
        }
        if (s.stuck) return last;
    }
    return last;
}

std::optional<Boundary> findBoundary(const Entry& e, std::uint64_t from, std::uint64_t to = kWholeEntry) {
    constexpr std::uint64_t kWindow = 32768;
    constexpr std::size_t kCap = std::size_t(64) << 20;
    if (e.method != 8 || e.uncompressedSize < from + kWindow) return std::nullopt;
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) throw std::bad_alloc();
    struct End {
        z_stream* z;
        ~End() { inflateEnd(z); }
    } guard{&z};
    Boundary b;
    std::uint64_t consumed = 0;
    std::uint8_t buf[1 << 16];
    while (true) {
        const Step s = inflateStep(e, z, consumed, buf, b.out);
        if (!s.ok) return std::nullopt;
        const std::size_t n = s.n;
        b.crcBefore = crc32(b.crcBefore, {buf, n});
        if (b.out + n > from) {
            const std::size_t skip = b.out >= from ? 0 : std::size_t(from - b.out);
            b.between.insert(b.between.end(), buf + skip, buf + n);
            if (b.between.size() > kCap) return std::nullopt;
        }
        b.out += n;
        // At a block's end, not the last block's; only where the next block starts an even number of bits
        // into its byte: empty blocks can bring the new stream there (see packHead).
        if (s.blockEnd && b.out >= from + kWindow && s.bit % 2 == 0) {
            b.bit = s.bit;
            if (to != kWholeEntry) {
                b.last = findLastBoundary(e, z, consumed, b, to);
                if (!b.last) return std::nullopt;
            }
            return b;
        }
        if (s.stuck) return std::nullopt;
    }
}

// The entry's new bytes: head's, then the original's from keptFrom. Past a boundary the original's compressed
// blocks are copied byte for byte, so stored blocks among them keep their alignment: the new stream ends in a
// sync flush (on a byte boundary), then empty fixed-code blocks of 10 bits each bring it to the boundary's
// bit within its byte, whose lower bits (the end of the block before) they take.
Packed packHead(const Entry& original, const HeadProducer& head, std::uint64_t keptFrom,
                const std::string& name, std::uint64_t limit, const TailProducer& tail = {},
                std::uint64_t keptTo = kWholeEntry) {
    const std::optional<Boundary> b = findBoundary(original, keptFrom, tail ? keptTo : kWholeEntry);
    if (!b) return pack([&](const ByteSink& sink) { head(sink, kWholeEntry); }, true, name, limit);
    const Boundary& boundary = *b;
    Packed p = pack(
        [&](const ByteSink& sink) {
            head(sink, keptFrom);
            sink(boundary.between);
        },
        true, name, limit, Ending::Flushed);
    // The original's bytes kept: to its end, or to the last boundary before the tail.
    const std::uint64_t keptEnd = boundary.last ? boundary.last->out : original.uncompressedSize;
    const std::uint32_t crcKeptEnd = boundary.last ? boundary.last->crcBefore : original.crc;
    const std::uint64_t kept = keptEnd - boundary.out;
    p.size += kept;
    if (p.size > limit) fail(entryName(name) + " ar depasi " + std::to_string(limit) + " de octeti");
    // crc(A + B) = combine(crc(A), crc(B), |B|), and combine is linear in crc(A): so crc(B) of the kept.
    const auto keptCrc = std::uint32_t(crcKeptEnd ^ crc32_combine(boundary.crcBefore, 0, z_off_t(kept)));
    p.crc = std::uint32_t(crc32_combine(p.crc, keptCrc, z_off_t(kept)));
    const std::span<const std::uint8_t> d = original.data;
    const std::size_t from = std::size_t(boundary.bit / 8);
    const unsigned bit = unsigned(boundary.bit % 8);
    // The kept bits end at a byte's end, or within the byte the tail's stream then begins with.
    const std::size_t to = boundary.last ? std::size_t(boundary.last->bit / 8) : d.size();
    const unsigned toBit = boundary.last ? unsigned(boundary.last->bit % 8) : 0;
    // BFINAL 0, BTYPE 01, end-of-block 0000000, least significant bit first: 2, 0x802, 0x200802 for one, two
    // or three of them; their bits past the last whole byte are zeros.
    static constexpr std::uint8_t kEmptyBlocks[] = {0x02, 0x08, 0x20};
    p.data.insert(p.data.end(), kEmptyBlocks, kEmptyBlocks + bit / 2);
    if (bit == 0) {
        p.data.insert(p.data.end(), d.begin() + std::ptrdiff_t(from), d.begin() + std::ptrdiff_t(to));
    } else {
        p.data.push_back(std::uint8_t(d[from] & ~((1u << bit) - 1)));
        p.data.insert(p.data.end(), d.begin() + std::ptrdiff_t(from) + 1, d.begin() + std::ptrdiff_t(to));
    }
    if (!boundary.last) return p;
    // The kept bits end within a byte: an empty stored block there (three zero bits, then up to its byte's
    // end, then LEN 0 and NLEN) brings the stream to the next byte, where the tail's begins.
    if (toBit > 0) {
        p.data.push_back(std::uint8_t(d[to] & ((1u << toBit) - 1)));
        if (toBit > 5) p.data.push_back(0);
        p.data.insert(p.data.end(), {0x00, 0x00, 0xFF, 0xFF});
    }
    const Packed end = pack([&](const ByteSink& sink) { tail(sink, keptEnd); }, true, name, limit - p.size);
    p.data.insert(p.data.end(), end.data.begin(), end.data.end());
    p.crc = std::uint32_t(crc32_combine(p.crc, end.crc, z_off_t(end.size)));
    p.size += end.size;
    return p;
}

} // namespace

void ArchiveWriter::writeTo(const ByteSink& sink) const {
    struct Out {
        const Entry* original = nullptr; // copied as it stands when no packed content
        std::optional<Packed> packed;
        std::string name;
        std::uint64_t offset = 0;
    };
    std::vector<Out> outs;
    const std::uint64_t limit = archive_.limits().maxEntryBytes;

    auto packedFor = [&](const Change& c) { return pack(c.content, c.deflate, c.name, limit); };
    auto plainStored = [](const Entry& e) {
        const std::uint8_t* l = e.record.data();
        return e.method == 0 && e.localOffset == 0 && get16(l + 28) == 0 && !(get16(l + 6) & kFlagDescriptor);
    };

    // The leading entry, when asked for: stored and plain, from its new content or its original data.
    std::string firstKey = first_ ? text::foldCase(*first_) : std::string();
    if (first_) {
        const Entry* e = archive_.find(*first_);
        const Change* c = changeFor(*first_);
        Out o;
        o.name = e ? e->name : *first_;
        if (c && c->kind != Change::Remove) {
            o.packed = pack(c->content, false, c->name, limit);
            o.original = e;
            outs.push_back(std::move(o));
        } else if (!c && e) {
            o.original = e;
            // Stored plain when it is what such an entry holds (a media type: under 256 bytes); a larger one,
            // deflated, goes first as its compressed bytes: inflated and stored it could make a small package
            // huge.
            if (!plainStored(*e) && (e->method == 0 || e->uncompressedSize < kMaxStoredFirst)) {
                auto data = std::make_shared<std::vector<std::uint8_t>>(archive_.read(*e));
                o.packed = pack([data](const ByteSink& s) { s(*data); }, false, e->name, limit);
            }
            outs.push_back(std::move(o));
        } else {
            firstKey.clear();
        }
    }

    std::vector<const Entry*> inFile;
    for (const Entry& e : archive_.entries())
        inFile.push_back(&e);
    std::stable_sort(inFile.begin(), inFile.end(),
                     [](const Entry* x, const Entry* y) { return x->localOffset < y->localOffset; });
    for (const Entry* e : inFile) {
        if (!firstKey.empty() && text::foldCase(e->name) == firstKey) continue;
        const Change* c = changeFor(e->name);
        if (c && c->kind == Change::Remove) continue;
        Out o;
        o.original = e;
        o.name = e->name;
        if (c)
            o.packed = c->head ? packHead(*e, c->head, c->keptFrom, c->name, limit, c->tail, c->keptTo)
                               : packedFor(*c);
        outs.push_back(std::move(o));
    }
    for (const Change& c : changes_) {
        if (c.kind != Change::Add || (!firstKey.empty() && text::foldCase(c.name) == firstKey)) continue;
        Out o;
        o.name = c.name;
        o.packed = packedFor(c);
        outs.push_back(std::move(o));
    }

    std::uint64_t offset = 0;
    for (Out& o : outs) {
        o.offset = offset;
        if (!o.packed) {
            sink(o.original->record);
            offset += o.original->record.size();
            continue;
        }
        const Packed& p = *o.packed;
        const std::uint16_t flags = isAscii(o.name) ? 0 : kFlagUtf8;
        std::vector<std::uint8_t> h;
        put32(h, kLocalSig);
        put16(h, p.method == 8 ? 20 : 10);
        put16(h, flags);
        put16(h, p.method);
        const auto& oc = o.original ? o.original->central : std::span<const std::uint8_t>();
        put16(h, dosDate(oc, 12, 0));
        put16(h, dosDate(oc, 14, 0x21));
        put32(h, p.crc);
        put32(h, std::uint32_t(p.data.size()));
        put32(h, std::uint32_t(p.size));
        put16(h, std::uint32_t(o.name.size()));
        put16(h, 0);
        h.insert(h.end(), o.name.begin(), o.name.end());
        sink(h);
        sink(p.data);
        offset += h.size() + p.data.size();
        if (p.data.size() >= kMax32 || p.size >= kMax32)
            fail(entryName(o.name) + " ar depasi 4 GB, cat poate tine o intrare fara zip64");
    }

    const std::uint64_t cdOffset = offset;
    std::vector<std::uint8_t> cd;
    auto flush = [&] {
        sink(cd);
        offset += cd.size();
        cd.clear();
    };
    // Central records in the original index order, the leading entry first, the added ones last.
    std::vector<const Out*> order;
    for (const Out& o : outs)
        order.push_back(&o);
    std::vector<std::size_t> rank(outs.size());
    {
        std::vector<std::pair<std::size_t, std::size_t>> keyed;
        for (std::size_t i = 0; i < outs.size(); ++i) {
            std::size_t k = outs[i].original ? std::size_t(outs[i].original - archive_.entries().data()) + 1
                                             : archive_.entries().size() + 1 + i;
            if (i == 0 && !firstKey.empty()) k = 0;
            keyed.emplace_back(k, i);
        }
        std::sort(keyed.begin(), keyed.end());
        order.clear();
        for (auto& [k, i] : keyed)
            order.push_back(&outs[i]);
    }
    for (const Out* o : order) {
        if (!o->packed) {
            const auto& c = o->original->central;
            const std::size_t at = cd.size();
            cd.insert(cd.end(), c.begin(), c.end());
            if (o->original->offsetIs64) {
                bytes::put64(&cd[at + o->original->offsetField], o->offset);
            } else {
                if (o->offset >= kMax32)
                    fail(entryName(o->name) + " ar ajunge dincolo de 4 GB in fisier, fara zip64");
                bytes::put32(&cd[at + 42], std::uint32_t(o->offset));
            }
        } else {
            const Packed& p = *o->packed;
            const auto& oc = o->original ? o->original->central : std::span<const std::uint8_t>();
            put32(cd, kCentralSig);
            put16(cd, oc.empty() ? 20 : get16(&oc[4]));
            put16(cd, p.method == 8 ? 20 : 10);
            put16(cd, isAscii(o->name) ? 0 : kFlagUtf8);
            put16(cd, p.method);
            put16(cd, dosDate(oc, 12, 0));
            put16(cd, dosDate(oc, 14, 0x21));
            put32(cd, p.crc);
            put32(cd, std::uint32_t(p.data.size()));
            put32(cd, std::uint32_t(p.size));
            put16(cd, std::uint32_t(o->name.size()));
            put16(cd, 0); // extra
            put16(cd, 0); // comment
            put16(cd, 0); // disk
            put16(cd, oc.empty() ? 0 : get16(&oc[36]));
            put32(cd, oc.empty() ? 0 : get32(&oc[38]));
            if (o->offset >= kMax32)
                fail(entryName(o->name) + " ar ajunge dincolo de 4 GB in fisier, fara zip64");
            put32(cd, std::uint32_t(o->offset));
            cd.insert(cd.end(), o->name.begin(), o->name.end());
        }
        if (cd.size() > (1 << 20)) flush();
    }
    flush();
    const std::uint64_t cdSize = offset - cdOffset;
    const std::uint64_t count = outs.size();
    const bool zip64 = archive_.usesZip64() || count >= 0xFFFF || cdOffset >= kMax32 || cdSize >= kMax32;
    std::vector<std::uint8_t> end;
    if (zip64) {
        const std::uint64_t at = offset;
        put32(end, kEnd64Sig);
        bytes::append64(end, 44);
        put16(end, 45);
        put16(end, 45);
        put32(end, 0);
        put32(end, 0);
        bytes::append64(end, count);
        bytes::append64(end, count);
        bytes::append64(end, cdSize);
        bytes::append64(end, cdOffset);
        put32(end, kLocator64Sig);
        put32(end, 0);
        bytes::append64(end, at);
        put32(end, 1);
    }
    put32(end, kEndSig);
    put16(end, 0);
    put16(end, 0);
    put16(end, std::uint32_t(std::min<std::uint64_t>(count, 0xFFFF)));
    put16(end, std::uint32_t(std::min<std::uint64_t>(count, 0xFFFF)));
    put32(end, std::uint32_t(std::min<std::uint64_t>(cdSize, kMax32)));
    put32(end, std::uint32_t(std::min<std::uint64_t>(cdOffset, kMax32)));
    const auto comment = archive_.comment();
    put16(end, std::uint32_t(comment.size()));
    end.insert(end.end(), comment.begin(), comment.end());
    sink(end);
}

} // namespace ordana::spreadsheet::zip
