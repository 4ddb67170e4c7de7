// Reading a zip package: the index checked whole, and entries inflated piece by piece.

#include "ZipArchive.h"

#include "Compression.h"
#include "ZipFormat.h"
#include "common/Bytes.h"
#include "common/Text.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace ordana::spreadsheet::zip {

namespace {

using bytes::get16;
using bytes::get32;
using bytes::get64;

constexpr std::uint16_t kZip64Extra = 0x0001;
// Ratios are not judged on small entries: a few bytes of deflate can stand for a long run of spaces.
constexpr std::uint64_t kRatioFloor = 1 << 20;

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

// The file's bytes as spans, read (for a file read on demand) only where need() says: the end records, the
// central directory and the local headers, not the entries' data.
struct Source {
    const FileBytes& file;
    std::span<const std::uint8_t> f;
    void need(std::uint64_t at, std::uint64_t n) const { (void)file.view(at, n); }
};

// What the end records say of the central directory.
struct Directory {
    std::uint64_t disk = 0, cdDisk = 0, onDisk = 0, count = 0;
    std::uint64_t cdSize = 0, cdOffset = 0;
    std::uint64_t cdEndLimit = 0; // where the directory must end by
    bool zip64 = false;
};

// The end record: the last signature whose comment fits in what follows it.
std::uint64_t findEndRecord(const Source& s) {
    const std::span<const std::uint8_t> f = s.f;
    const std::uint64_t size = f.size();
    std::optional<std::uint64_t> end;
    if (size >= 22) {
        const std::uint64_t lowest = size > 22 + 65535 ? size - 22 - 65535 : 0;
        // Most packages have no comment: the end record is read first where it usually is.
        const std::uint64_t near = size - 22 > lowest + 256 ? size - 22 - 256 : lowest;
        s.need(near, size - near);
        for (std::uint64_t p = size - 22 + 1; p-- > lowest;) {
            if (p + 1 == near) s.need(lowest, near - lowest);
            if (get32(&f[p]) == kEndSig && p + 22 + get16(&f[p + 20]) <= size) {
                end = p;
                break;
            }
        }
    }
    if (!end) fail("nu are directorul central al unei arhive zip (fisier trunchiat sau deteriorat)");
    return *end;
}

// The end record and, before it, the zip64 locator and end record when there are.
Directory readEndRecords(const Source& s, std::uint64_t end, const Limits& limits) {
    const std::span<const std::uint8_t> f = s.f;
    const std::uint8_t* e = &f[end];
    Directory d;
    d.disk = get16(e + 4);
    d.cdDisk = get16(e + 6);
    d.onDisk = get16(e + 8);
    d.count = get16(e + 10);
    d.cdSize = get32(e + 12);
    d.cdOffset = get32(e + 16);
    d.cdEndLimit = end;

    if (end >= 20) s.need(end - 20, 20);
    if (end >= 20 && get32(&f[end - 20]) == kLocator64Sig) {
        const std::uint8_t* loc = &f[end - 20];
        const std::uint64_t at = get64(loc + 8);
        if (get32(loc + 4) != 0 || get32(loc + 16) > 1)
            fail("arhiva zip este impartita pe mai multe discuri, ceea ce nu se poate citi");
        if (at <= end - 20) s.need(at, 56);
        if (at > end - 20 || end - 20 - at < 56 || get32(&f[at]) != kEnd64Sig)
            fail("sfarsitul zip64 al directorului central lipseste sau iese din fisier");
        const std::uint8_t* e64 = &f[at];
        d.disk = get32(e64 + 16);
        d.cdDisk = get32(e64 + 20);
        d.onDisk = get64(e64 + 24);
        d.count = get64(e64 + 32);
        d.cdSize = get64(e64 + 40);
        d.cdOffset = get64(e64 + 48);
        d.cdEndLimit = at;
        d.zip64 = true;
    }
    if (d.disk != 0 || d.cdDisk != 0 || d.onDisk != d.count)
        fail("arhiva zip este impartita pe mai multe discuri, ceea ce nu se poate citi");
    if (d.cdOffset > d.cdEndLimit || d.cdSize > d.cdEndLimit - d.cdOffset)
        fail("directorul central al arhivei zip iese din fisier");
    if (d.count > limits.maxEntries)
        fail("arhiva zip are " + std::to_string(d.count) + " de intrari, peste limita de " +
             std::to_string(limits.maxEntries));
    if (d.count > d.cdSize / 46)
        fail("directorul central al arhivei zip este prea scurt pentru cele " + std::to_string(d.count) +
             " de intrari declarate");
    return d;
}

// One central directory record at p, the i-th, checked against the limits.
Entry readCentralRecord(const Source& s, std::uint64_t p, std::uint64_t cdEnd, std::uint64_t i,
                        const Limits& limits) {
    const std::span<const std::uint8_t> f = s.f;
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
    return en;
}

// The local header must repeat what the index says. Sets the entry's record and data.
void readLocalRecord(const Source& s, Entry& en, std::uint64_t cdOffset) {
    const std::span<const std::uint8_t> f = s.f;
    const std::uint8_t* c = en.central.data();
    const std::size_t nameLen = get16(c + 28);
    const std::uint64_t lo = en.localOffset;
    if (lo <= cdOffset) s.need(lo, 30);
    if (lo > cdOffset || cdOffset - lo < 30 || get32(&f[lo]) != kLocalSig)
        fail("antetul local al " + entryName(en.name) + " lipseste sau iese din fisier");
    const std::uint8_t* l = &f[lo];
    const std::size_t lNameLen = get16(l + 26), lExtraLen = get16(l + 28);
    const std::uint64_t dataStart = lo + 30 + lNameLen + lExtraLen;
    s.need(lo + 30, lNameLen + lExtraLen);
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
        s.need(d, 24);
        if (d + 4 <= cdOffset && get32(&f[d]) == kDescriptorSig) d += 4;
        const std::uint64_t len = zip64Sizes ? 20 : 12;
        if (d + len > cdOffset) fail("descriptorul de date al " + entryName(en.name) + " iese din fisier");
        const std::uint64_t dc = zip64Sizes ? get64(&f[d + 4]) : get32(&f[d + 4]);
        const std::uint64_t du = zip64Sizes ? get64(&f[d + 12]) : get32(&f[d + 8]);
        if (get32(&f[d]) != en.crc || dc != en.compressedSize || du != en.uncompressedSize)
            fail("descriptorul de date al " + entryName(en.name) + " nu corespunde directorului central");
        recordEnd = d + len;
    }
    en.record = f.subspan(lo, recordEnd - lo);
    en.data = f.subspan(dataStart, en.compressedSize);
}

std::vector<Entry> readEntries(const Source& s, const Directory& d, const Limits& limits) {
    // The directory is read to its end, as Info-ZIP reads it: record after record up to the end records,
    // whatever count and size they give. A writer without zip64 may have kept only the low 16 bits of the
    // count, or given the size of the records it counted, and a save must not lose the records past them.
    // Anything after the last record is not one.
    const std::uint64_t cdEnd = d.cdEndLimit;
    s.need(d.cdOffset, cdEnd - d.cdOffset);
    std::vector<Entry> entries;
    entries.reserve(d.count);
    std::uint64_t p = d.cdOffset, total = 0;
    for (std::uint64_t i = 0; i < d.count || (p + 46 <= cdEnd && get32(&s.f[p]) == kCentralSig); ++i) {
        if (i >= limits.maxEntries)
            fail("arhiva zip are mai multe intrari decat limita de " + std::to_string(limits.maxEntries));
        Entry en = readCentralRecord(s, p, cdEnd, i, limits);
        total += en.uncompressedSize;
        if (total > limits.maxTotalBytes)
            fail("intrarile arhivei zip ar avea impreuna peste " + std::to_string(limits.maxTotalBytes) +
                 " de octeti dezarhivate (bomba zip)");
        readLocalRecord(s, en, d.cdOffset);
        p += en.central.size();
        entries.push_back(std::move(en));
    }
    return entries;
}

// The names, folded, sorted with their entries' places; no two alike.
std::vector<std::pair<std::string, std::size_t>> foldedNames(const std::vector<Entry>& entries) {
    std::vector<std::pair<std::string, std::size_t>> byName;
    byName.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i)
        byName.emplace_back(text::foldCase(entries[i].name), i);
    std::sort(byName.begin(), byName.end());
    for (std::size_t i = 1; i < byName.size(); ++i)
        if (byName[i].first == byName[i - 1].first)
            fail("arhiva zip contine de doua ori " + entryName(entries[byName[i].second].name) +
                 " (numele difera cel mult prin majuscule)");
    return byName;
}

void checkNoOverlap(const std::vector<Entry>& entries) {
    std::vector<const Entry*> inFile;
    inFile.reserve(entries.size());
    for (const Entry& en : entries)
        inFile.push_back(&en);
    std::sort(inFile.begin(), inFile.end(),
              [](const Entry* x, const Entry* y) { return x->localOffset < y->localOffset; });
    for (std::size_t i = 1; i < inFile.size(); ++i)
        if (inFile[i - 1]->localOffset + inFile[i - 1]->record.size() > inFile[i]->localOffset)
            fail("intrarile zip " + text::quoted(inFile[i - 1]->name) + " si " +
                 text::quoted(inFile[i]->name) + " se suprapun in fisier");
}

} // namespace

bool Archive::hasSignature(std::span<const std::uint8_t> b) {
    return b.size() >= 4 && (get32(b.data()) == kLocalSig || get32(b.data()) == kEndSig);
}

Archive Archive::parse(std::shared_ptr<const FileBytes> file, const Limits& limits) {
    Archive a;
    a.file_ = std::move(file);
    a.limits_ = limits;
    const Source s{*a.file_, std::span<const std::uint8_t>(a.file_->base(), a.file_->size())};
    const std::uint64_t end = findEndRecord(s);
    a.comment_ = s.f.subspan(end + 22, get16(&s.f[end + 20]));
    const Directory d = readEndRecords(s, end, limits);
    a.zip64_ = d.zip64;
    a.entries_ = readEntries(s, d, limits);
    a.byFoldedName_ = foldedNames(a.entries_);
    checkNoOverlap(a.entries_);
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

} // namespace ordana::spreadsheet::zip
