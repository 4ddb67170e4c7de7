#include "CompoundFile.h"

#include "common/Bytes.h"
#include "common/RuntimeError.h"
#include "common/Text.h"
#include "spreadsheet/LargeBuffer.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace ordana::spreadsheet::cfb {

namespace {

constexpr std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::uint32_t kFreeSect = 0xFFFFFFFF;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kFatSect = 0xFFFFFFFD;
constexpr std::uint32_t kDifSect = 0xFFFFFFFC;
constexpr std::uint32_t kNoStream = 0xFFFFFFFF;
constexpr std::uint32_t kMiniSectorSize = 64;
constexpr std::size_t kEntrySize = 128;
constexpr std::size_t kHeaderDifatEntries = 109;
constexpr std::size_t kMaxDepth = 64;

[[noreturn]] void corrupt(const std::string& what) {
    throw RuntimeError(err::Application, "Fisierul este deteriorat: " + what);
}

using bytes::get16;
using bytes::get32;
using bytes::get64;
using bytes::put16;
using bytes::put32;
using bytes::put64;
using text::utf16ToUtf8;
using text::utf8ToUtf16;

// The format compares names by their upper-case forms.
bool sameName(const std::u16string& a, const std::u16string& b) {
    return a.size() == b.size() && text::foldCase(a) == text::foldCase(b);
}

// A name as callers hold it: through UTF-8, where an ill-formed UTF-16 name (a lone surrogate) reads as
// U+FFFD. Looked up in that form, every name that entries() lists is found again.
std::u16string asListed(const std::u16string& name) {
    return utf8ToUtf16(utf16ToUtf8(name));
}

// A name fit for a message: control characters such as the \005 of the property streams left out.
std::string printable(const std::u16string& name) {
    std::u16string s;
    for (char16_t c : name)
        if (c >= 0x20) s += c;
    return utf16ToUtf8(s);
}

std::uint64_t ceilDiv(std::uint64_t a, std::uint64_t b) {
    return (a + b - 1) / b;
}

// The parser's view of the raw file: sectors, the FAT, and which sector already belongs to which chain.
class Reader {
  public:
    // Only the sectors asked for are read from a file read on demand.
    Reader(const FileBytes& file, std::uint32_t sectorSize) : file_(file), ss_(sectorSize) {
        sectorCount_ = file.size() > ss_ ? ceilDiv(file.size() - ss_, ss_) : 0;
        owner_.assign(sectorCount_, 0);
    }

    std::uint64_t sectorCount() const { return sectorCount_; }
    std::uint32_t sectorSize() const { return ss_; }

    // The bytes [offset, offset + length) of a sector, which must all be inside the file.
    const std::uint8_t* sectorBytes(std::uint32_t sector, std::uint32_t length,
                                    const std::string& what) const {
        const std::uint64_t start = (static_cast<std::uint64_t>(sector) + 1) * ss_;
        if (sector >= sectorCount_ || start + length > file_.size())
            corrupt("fisierul este trunchiat (" + what + " continua dincolo de sfarsitul fisierului)");
        return file_.view(start, length).data();
    }

    void setFat(std::vector<std::uint32_t> fat) { fat_ = std::move(fat); }

    // Claims a sector for one structure; a sector claimed twice means chains that overlap or loop.
    void claim(std::uint32_t sector, const std::string& what) {
        if (owner_[sector])
            corrupt("lantul de sectoare " + what + " se repeta (sectorul " + std::to_string(sector) +
                    " este folosit de doua ori)");
        owner_[sector] = 1;
    }

    // Follows a FAT chain from start. With wanted set, stops after that many sectors and fails when the chain
    // is shorter; without it, runs to the end-of-chain mark. Every sector is claimed, so no walk outlasts the
    // file.
    std::vector<std::uint32_t> chain(std::uint32_t start, std::uint64_t wanted, bool bounded,
                                     const std::string& what) {
        std::vector<std::uint32_t> out;
        std::uint32_t cur = start;
        while (!bounded || out.size() < wanted) {
            if (cur == kEndOfChain) break;
            if (cur >= sectorCount_ || cur >= fat_.size())
                corrupt("lantul de sectoare " + what + " indica sectorul " + std::to_string(cur) +
                        ", dincolo de sfarsitul fisierului");
            claim(cur, what);
            out.push_back(cur);
            cur = fat_[cur];
        }
        if (bounded && out.size() < wanted)
            corrupt("lantul de sectoare " + what + " este mai scurt decat dimensiunea declarata");
        return out;
    }

    // Gathers size bytes from the sectors of a chain.
    std::vector<std::uint8_t> gather(const std::vector<std::uint32_t>& sectors, std::uint64_t size,
                                     const std::string& what) const {
        std::vector<std::uint8_t> out;
        out.reserve(size);
        for (std::uint32_t s : sectors) {
            const std::uint64_t n = std::min<std::uint64_t>(ss_, size - out.size());
            if (n == 0) break;
            const std::uint8_t* p = sectorBytes(s, static_cast<std::uint32_t>(n), what);
            out.insert(out.end(), p, p + n);
        }
        return out;
    }

  private:
    const FileBytes& file_;
    std::uint32_t ss_;
    std::uint64_t sectorCount_;
    std::vector<std::uint32_t> fat_;
    std::vector<std::uint8_t> owner_;
};

} // namespace

bool CompoundFile::hasSignature(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= 8 && std::equal(bytes.begin(), bytes.begin() + 8, kSignature);
}

CompoundFile CompoundFile::parse(std::vector<std::uint8_t> input) {
    return parse(std::make_shared<const FileBytes>(std::move(input)));
}

CompoundFile CompoundFile::parse(std::shared_ptr<const FileBytes> file) {
    if (!hasSignature(file->view(0, 8)))
        throw RuntimeError(err::Application, "Fisierul nu este un document compus OLE2");
    if (file->size() < 512) corrupt("antetul este trunchiat");

    CompoundFile cf;
    cf.file_ = std::move(file);
    const FileBytes& bytes = *cf.file_;
    const auto header = bytes.view(0, 512);
    std::copy_n(header.begin(), 512, cf.header_.begin());
    const std::uint8_t* h = cf.header_.data();

    cf.major_ = get16(h + 26);
    if (cf.major_ != 3 && cf.major_ != 4)
        corrupt("versiunea " + std::to_string(cf.major_) + " a formatului nu este cunoscuta");
    if (get16(h + 28) != 0xFFFE) corrupt("marcajul ordinii octetilor din antet este invalid");
    const std::uint16_t shift = get16(h + 30);
    if ((cf.major_ == 3 && shift != 9) || (cf.major_ == 4 && shift != 12))
        corrupt("dimensiunea sectorului (exponent " + std::to_string(shift) + ") nu corespunde versiunii " +
                std::to_string(cf.major_));
    if (get16(h + 32) != 6)
        corrupt("dimensiunea mini-sectorului (exponent " + std::to_string(get16(h + 32)) + ") este invalida");
    cf.sectorSize_ = 1u << shift;
    cf.miniCutoff_ = get32(h + 56);
    if (cf.miniCutoff_ != 4096)
        corrupt("pragul fluxurilor mici (" + std::to_string(cf.miniCutoff_) + " octeti) este invalid");

    const std::uint32_t ss = cf.sectorSize_;
    const std::uint32_t perSector = ss / 4;
    Reader rd(bytes, ss);

    // The FAT's own sectors: 109 in the header, the rest in the DIFAT chain.
    const std::uint32_t fatCount = get32(h + 44);
    if (fatCount > rd.sectorCount())
        corrupt("antetul declara " + std::to_string(fatCount) +
                " sectoare FAT, mai multe decat are fisierul");
    std::vector<std::uint32_t> fatSectors;
    for (std::size_t i = 0; i < kHeaderDifatEntries && fatSectors.size() < fatCount; ++i)
        fatSectors.push_back(get32(h + 76 + 4 * i));
    std::uint32_t difat = get32(h + 68);
    const std::uint32_t difatCount = get32(h + 72);
    for (std::uint32_t n = 0; fatSectors.size() < fatCount; ++n) {
        if (n >= difatCount || difat == kEndOfChain || difat == kFreeSect)
            corrupt("tabela DIFAT are mai putine intrari decat sectoarele FAT declarate");
        if (difat >= rd.sectorCount())
            corrupt("lantul de sectoare al tabelei DIFAT indica sectorul " + std::to_string(difat) +
                    ", dincolo de sfarsitul fisierului");
        rd.claim(difat, "al tabelei DIFAT");
        const std::uint8_t* p = rd.sectorBytes(difat, ss, "tabela DIFAT");
        for (std::uint32_t i = 0; i + 1 < perSector && fatSectors.size() < fatCount; ++i)
            fatSectors.push_back(get32(p + 4 * i));
        difat = get32(p + 4 * (perSector - 1));
    }
    std::vector<std::uint32_t> fat;
    fat.reserve(static_cast<std::size_t>(fatCount) * perSector);
    for (std::uint32_t s : fatSectors) {
        if (s >= rd.sectorCount())
            corrupt("tabela FAT indica sectorul " + std::to_string(s) + ", dincolo de sfarsitul fisierului");
        rd.claim(s, "al tabelei FAT");
        const std::uint8_t* p = rd.sectorBytes(s, ss, "tabela FAT");
        for (std::uint32_t i = 0; i < perSector; ++i)
            fat.push_back(get32(p + 4 * i));
    }
    rd.setFat(std::move(fat));

    // The directory: an array of 128-byte entries spread over its own chain.
    const auto dirChain = rd.chain(get32(h + 48), 0, false, "al directorului");
    if (dirChain.empty()) corrupt("directorul lipseste");
    const std::size_t perDirSector = ss / kEntrySize;
    cf.entries_.resize(dirChain.size() * perDirSector);
    for (std::size_t d = 0; d < dirChain.size(); ++d) {
        const std::uint8_t* p = rd.sectorBytes(dirChain[d], ss, "directorul");
        for (std::size_t k = 0; k < perDirSector; ++k) {
            Entry& e = cf.entries_[d * perDirSector + k];
            std::copy_n(p + k * kEntrySize, kEntrySize, e.raw.begin());
            e.type = e.raw[66];
            const std::size_t units = std::min<std::size_t>(get16(e.raw.data() + 64) / 2, 32);
            for (std::size_t i = 0; i < units; ++i) {
                const char16_t c = get16(e.raw.data() + 2 * i);
                if (c == 0) break;
                e.name += c;
            }
        }
    }
    Entry& root = cf.entries_[0];
    if (root.type != static_cast<std::uint8_t>(EntryType::Root))
        corrupt("intrarea radacina a directorului lipseste");
    root.reachable = true;

    // The tree: every storage's children hang from its child link as a binary tree of siblings.
    struct Pending {
        std::uint32_t index;
        std::int32_t parent;
    };
    std::vector<Pending> stack{{get32(root.raw.data() + 76), 0}};
    while (!stack.empty()) {
        const Pending cur = stack.back();
        stack.pop_back();
        if (cur.index == kNoStream) continue;
        if (cur.index >= cf.entries_.size())
            corrupt("directorul indica intrarea " + std::to_string(cur.index) + ", care nu exista");
        Entry& e = cf.entries_[cur.index];
        if (e.reachable)
            corrupt("structura directorului contine un ciclu (intrarea " + std::to_string(cur.index) + ")");
        if (e.type != static_cast<std::uint8_t>(EntryType::Storage) &&
            e.type != static_cast<std::uint8_t>(EntryType::Stream))
            corrupt("intrarea " + std::to_string(cur.index) + " din director are un tip invalid (" +
                    std::to_string(e.type) + ")");
        e.reachable = true;
        e.parent = cur.parent;
        // Parents are reached before their children, so their paths are known. Real files nest a few levels;
        // the bound keeps paths small whatever the file says.
        const Entry& parent = cf.entries_[static_cast<std::size_t>(cur.parent)];
        e.depth = parent.depth + 1;
        if (e.depth > kMaxDepth)
            corrupt("directorul are mai mult de " + std::to_string(kMaxDepth) + " niveluri");
        e.path = cur.parent == 0 ? e.name : parent.path + u'/' + e.name;
        stack.push_back({get32(e.raw.data() + 68), cur.parent});
        stack.push_back({get32(e.raw.data() + 72), cur.parent});
        if (e.type == static_cast<std::uint8_t>(EntryType::Storage))
            stack.push_back({get32(e.raw.data() + 76), static_cast<std::int32_t>(cur.index)});
    }

    // Version 3 leaves the high half of a stream size undefined.
    auto sizeOf = [&](const Entry& e) {
        return cf.major_ == 3 ? static_cast<std::uint64_t>(get32(e.raw.data() + 120))
                              : get64(e.raw.data() + 120);
    };
    auto checkSize = [&](std::uint64_t size, const std::string& what) {
        if (size > bytes.size())
            corrupt(what + " declara " + std::to_string(size) + " octeti, mai mult decat are fisierul");
    };

    // The mini stream (the root's data) and the mini FAT that chains its 64-byte sectors.
    const std::uint64_t miniSize = sizeOf(root);
    checkSize(miniSize, "mini-fluxul");
    const auto miniChain =
        rd.chain(get32(root.raw.data() + 116), ceilDiv(miniSize, ss), true, "al mini-fluxului");
    std::vector<std::uint8_t> mini = rd.gather(miniChain, miniSize, "mini-fluxul");
    mini.resize(ceilDiv(mini.size(), kMiniSectorSize) * kMiniSectorSize, 0); // a last mini sector cut short
    std::vector<std::uint32_t> miniFat;
    if (get32(h + 60) != kEndOfChain && get32(h + 60) != kFreeSect) {
        for (std::uint32_t s : rd.chain(get32(h + 60), 0, false, "al tabelei mini-FAT")) {
            const std::uint8_t* p = rd.sectorBytes(s, ss, "tabela mini-FAT");
            for (std::uint32_t i = 0; i < perSector; ++i)
                miniFat.push_back(get32(p + 4 * i));
        }
    }
    const std::uint64_t miniSectors = mini.size() / kMiniSectorSize;
    std::vector<std::uint8_t> miniOwner(miniSectors, 0);

    for (std::size_t i = 1; i < cf.entries_.size(); ++i) {
        Entry& e = cf.entries_[i];
        if (!e.reachable || e.type != static_cast<std::uint8_t>(EntryType::Stream)) continue;
        const std::string what = "al fluxului " + printable(e.name);
        const std::uint64_t size = sizeOf(e);
        checkSize(size, "fluxul " + printable(e.name));
        if (size == 0) continue;
        const std::uint32_t start = get32(e.raw.data() + 116);
        if (size >= cf.miniCutoff_) {
            const auto sectors = rd.chain(start, ceilDiv(size, ss), true, what);
            bool oneRun = true;
            for (std::size_t k = 1; k < sectors.size() && oneRun; ++k)
                oneRun = sectors[k] == sectors[0] + k;
            const std::uint64_t offset = (static_cast<std::uint64_t>(sectors[0]) + 1) * ss;
            if (oneRun && offset + size <= bytes.size()) {
                // Writers lay streams out in one run: no copy.
                e.inFile = true;
                e.fileOffset = static_cast<std::size_t>(offset);
                e.fileSize = static_cast<std::size_t>(size);
            } else {
                e.data = rd.gather(sectors, size, "fluxul " + printable(e.name));
            }
            continue;
        }
        e.data.reserve(size);
        std::uint32_t cur = start;
        while (e.data.size() < size) {
            if (cur == kEndOfChain)
                corrupt("lantul de sectoare " + what + " este mai scurt decat dimensiunea declarata");
            if (cur >= miniSectors || cur >= miniFat.size())
                corrupt("lantul de sectoare " + what + " indica mini-sectorul " + std::to_string(cur) +
                        ", dincolo de sfarsitul mini-fluxului");
            if (miniOwner[cur])
                corrupt("lantul de sectoare " + what + " se repeta (mini-sectorul " + std::to_string(cur) +
                        " este folosit de doua ori)");
            miniOwner[cur] = 1;
            const std::size_t n = std::min<std::uint64_t>(kMiniSectorSize, size - e.data.size());
            const auto* p = mini.data() + static_cast<std::size_t>(cur) * kMiniSectorSize;
            e.data.insert(e.data.end(), p, p + n);
            cur = miniFat[cur];
        }
    }
    if (std::none_of(cf.entries_.begin(), cf.entries_.end(), [](const Entry& e) { return e.inFile; }))
        cf.file_.reset();
    return cf;
}

CompoundFile CompoundFile::create(std::vector<std::pair<std::string, std::vector<std::uint8_t>>> streams,
                                  int majorVersion) {
    if (majorVersion != 3 && majorVersion != 4)
        throw RuntimeError(err::Application,
                           "Versiunea " + std::to_string(majorVersion) + " nu poate fi scrisa");
    CompoundFile cf;
    cf.major_ = majorVersion;
    cf.sectorSize_ = majorVersion == 4 ? 4096 : 512;
    std::uint8_t* h = cf.header_.data();
    std::copy(std::begin(kSignature), std::end(kSignature), h);
    put16(h + 24, 0x3E);
    put16(h + 26, static_cast<std::uint16_t>(majorVersion));
    put16(h + 28, 0xFFFE);
    put16(h + 30, majorVersion == 4 ? 12 : 9);
    put16(h + 32, 6);
    put32(h + 56, cf.miniCutoff_);

    cf.entries_.resize(streams.size() + 1);
    auto setName = [&](Entry& e, const std::u16string& name) {
        if (name.empty() || name.size() > 31)
            throw RuntimeError(err::Application,
                               "Numele fluxului " + utf16ToUtf8(name) + " nu poate fi scris");
        e.name = name;
        e.path = name;
        for (std::size_t i = 0; i < name.size(); ++i)
            put16(e.raw.data() + 2 * i, name[i]);
        put16(e.raw.data() + 64, static_cast<std::uint16_t>(2 * (name.size() + 1)));
    };
    for (std::size_t i = 0; i < cf.entries_.size(); ++i) {
        Entry& e = cf.entries_[i];
        e.reachable = true;
        e.raw[67] = 1; // black: the format accepts a tree whose nodes are all black
        put32(e.raw.data() + 68, kNoStream);
        put32(e.raw.data() + 72, kNoStream);
        put32(e.raw.data() + 76, kNoStream);
        if (i == 0) {
            setName(e, u"Root Entry");
            e.path.clear();
            e.type = e.raw[66] = static_cast<std::uint8_t>(EntryType::Root);
            continue;
        }
        setName(e, utf8ToUtf16(streams[i - 1].first));
        e.type = e.raw[66] = static_cast<std::uint8_t>(EntryType::Stream);
        e.parent = 0;
        e.depth = 1;
        e.data = std::move(streams[i - 1].second);
    }

    // Siblings ordered as the format compares names (shorter first, then by upper case), as a balanced tree.
    std::vector<std::uint32_t> order(streams.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = static_cast<std::uint32_t>(i + 1);
    auto key = [&](std::uint32_t i) {
        std::u16string u = text::foldCase(cf.entries_[i].name);
        return std::pair{u.size(), u};
    };
    std::sort(order.begin(), order.end(), [&](auto a, auto b) { return key(a) < key(b); });
    for (std::size_t i = 1; i < order.size(); ++i)
        if (key(order[i - 1]) == key(order[i]))
            throw RuntimeError(err::Application,
                               "Fluxul " + utf16ToUtf8(cf.entries_[order[i]].name) + " apare de doua ori");
    auto balanced = [&](auto&& self, std::size_t lo, std::size_t hi) -> std::uint32_t {
        if (lo >= hi) return kNoStream;
        const std::size_t mid = lo + (hi - lo) / 2;
        Entry& e = cf.entries_[order[mid]];
        put32(e.raw.data() + 68, self(self, lo, mid));
        put32(e.raw.data() + 72, self(self, mid + 1, hi));
        return order[mid];
    };
    put32(cf.entries_[0].raw.data() + 76, balanced(balanced, 0, order.size()));
    return cf;
}

int CompoundFile::findTopLevel(std::string_view name) const {
    const std::u16string wanted = utf8ToUtf16(name);
    for (std::size_t i = 1; i < entries_.size(); ++i) {
        const Entry& e = entries_[i];
        if (e.reachable && e.parent == 0 && e.type == static_cast<std::uint8_t>(EntryType::Stream) &&
            sameName(asListed(e.name), wanted))
            return static_cast<int>(i);
    }
    return -1;
}

int CompoundFile::findPath(std::string_view path) const {
    const std::u16string wanted = utf8ToUtf16(path);
    for (std::size_t i = 1; i < entries_.size(); ++i) {
        const Entry& e = entries_[i];
        if (e.reachable && e.type == static_cast<std::uint8_t>(EntryType::Stream) &&
            sameName(asListed(e.path), wanted))
            return static_cast<int>(i);
    }
    return -1;
}

bool CompoundFile::hasStream(std::string_view name) const {
    return findTopLevel(name) >= 0;
}

std::span<const std::uint8_t> CompoundFile::streamView(std::string_view name) const {
    const int i = findTopLevel(name);
    if (i < 0) throw RuntimeError(err::Application, "Fluxul " + std::string(name) + " nu exista in fisier");
    return bytesOf(entries_[i]);
}

std::span<const std::uint8_t> CompoundFile::streamInFile(std::string_view name) const {
    const int i = findTopLevel(name);
    if (i < 0 || !entries_[i].inFile) return {};
    return {file_->base() + entries_[i].fileOffset, entries_[i].fileSize};
}

std::vector<std::uint8_t> CompoundFile::stream(std::string_view name) const {
    const auto view = streamView(name);
    return {view.begin(), view.end()};
}

std::span<const std::uint8_t> CompoundFile::streamAtPath(std::string_view path) const {
    const int i = findPath(path);
    if (i < 0) throw RuntimeError(err::Application, "Fluxul " + std::string(path) + " nu exista in fisier");
    return bytesOf(entries_[i]);
}

void CompoundFile::setStream(std::string_view name, std::vector<std::uint8_t> data) {
    const int i = findTopLevel(name);
    if (i < 0) throw RuntimeError(err::Application, "Fluxul " + std::string(name) + " nu exista in fisier");
    if (major_ == 3 && data.size() > 0x7FFFFFFFu)
        throw RuntimeError(err::Application,
                           "Fluxul " + std::string(name) + " este prea mare pentru acest format");
    entries_[i].data = std::move(data);
    entries_[i].pieces.reset();
    entries_[i].inFile = false;
}

void CompoundFile::setStream(std::string_view name, Pieces pieces) {
    if (pieces.size() < miniCutoff_) return setStream(name, pieces.joined()); // goes to the mini stream
    const int i = findTopLevel(name);
    if (i < 0) throw RuntimeError(err::Application, "Fluxul " + std::string(name) + " nu exista in fisier");
    if (major_ == 3 && pieces.size() > 0x7FFFFFFFu)
        throw RuntimeError(err::Application,
                           "Fluxul " + std::string(name) + " este prea mare pentru acest format");
    entries_[i].data.clear();
    entries_[i].pieces = std::make_shared<const Pieces>(std::move(pieces));
    entries_[i].inFile = false;
}

std::vector<CompoundFile::EntryInfo> CompoundFile::entries() const {
    std::vector<EntryInfo> out;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const Entry& e = entries_[i];
        if (!e.reachable) continue;
        out.push_back({utf16ToUtf8(e.path), static_cast<EntryType>(e.type), sizeOf(e)});
    }
    return out;
}

std::span<const std::uint8_t> CompoundFile::bytesOf(const Entry& e) const {
    if (e.inFile) return file_->view(e.fileOffset, e.fileSize);
    if (e.pieces) {
        // Only a caller that asks for the stream whole after a pieced setStream pays for joining it.
        e.data = e.pieces->joined();
        e.pieces.reset();
    }
    return e.data;
}

std::uint64_t CompoundFile::sizeOf(const Entry& e) const {
    return e.pieces ? e.pieces->size() : bytesOf(e).size();
}

std::uint64_t CompoundFile::Pieces::size() const {
    std::uint64_t n = 0;
    for (const auto& s : spans)
        n += s.size();
    return n;
}

std::vector<std::uint8_t> CompoundFile::Pieces::joined() const {
    std::vector<std::uint8_t> out;
    reserveLarge(out, static_cast<std::size_t>(size()));
    for (const auto& s : spans)
        out.insert(out.end(), s.begin(), s.end());
    return out;
}

std::vector<std::uint8_t> CompoundFile::serialize() const {
    std::vector<std::uint8_t> out;
    std::size_t streams = 0;
    for (const Entry& e : entries_)
        streams += sizeOf(e);
    reserveLarge(out,
                 streams + streams / 64 + entries_.size() * kEntrySize + 16 * sectorSize_); // + FAT, padding
    writeTo([&](std::span<const std::uint8_t> piece) { out.insert(out.end(), piece.begin(), piece.end()); });
    return out;
}

void CompoundFile::writeTo(const std::function<void(std::span<const std::uint8_t>)>& sink) const {
    const std::uint32_t ss = sectorSize_;
    const std::uint32_t perSector = ss / 4;
    auto isStream = [](const Entry& e) {
        return e.reachable && e.type == static_cast<std::uint8_t>(EntryType::Stream);
    };

    // Small streams go to the mini stream, the rest to sectors of their own.
    std::vector<std::uint32_t> miniFat;
    std::vector<std::uint8_t> miniStream;
    std::vector<std::uint32_t> start(entries_.size(), kEndOfChain);
    std::uint64_t bigSectors = 0;
    for (std::size_t i = 1; i < entries_.size(); ++i) {
        const Entry& e = entries_[i];
        if (!isStream(e) || sizeOf(e) == 0) continue;
        if (sizeOf(e) >= miniCutoff_) {
            bigSectors += ceilDiv(sizeOf(e), ss);
            continue;
        }
        const auto data = bytesOf(e);
        const auto first = static_cast<std::uint32_t>(miniFat.size());
        const auto n = static_cast<std::uint32_t>(ceilDiv(data.size(), kMiniSectorSize));
        start[i] = first;
        for (std::uint32_t k = 0; k < n; ++k)
            miniFat.push_back(k + 1 < n ? first + k + 1 : kEndOfChain);
        miniStream.insert(miniStream.end(), data.begin(), data.end());
        miniStream.resize(static_cast<std::size_t>(first + n) * kMiniSectorSize, 0);
    }
    const std::uint64_t miniFatSectors = ceilDiv(miniFat.size() * 4, ss);
    const std::uint64_t miniStreamSectors = ceilDiv(miniStream.size(), ss);
    const std::uint64_t dirSectors = ceilDiv(entries_.size() * kEntrySize, ss);
    const std::uint64_t dataSectors = dirSectors + miniFatSectors + miniStreamSectors + bigSectors;

    // The FAT must also cover its own sectors and the DIFAT's.
    std::uint64_t fatSectors = 0, difatSectors = 0;
    for (;;) {
        const std::uint64_t f = ceilDiv(dataSectors + fatSectors + difatSectors, perSector);
        const std::uint64_t x = f > kHeaderDifatEntries ? ceilDiv(f - kHeaderDifatEntries, perSector - 1) : 0;
        if (f == fatSectors && x == difatSectors) break;
        fatSectors = f;
        difatSectors = x;
    }
    const std::uint64_t total = fatSectors + difatSectors + dataSectors;
    if (total >= 0xFFFFFFFAull) throw RuntimeError(err::Application, "Fisierul rezultat este prea mare");

    // Sectors in file order: FAT, DIFAT, directory, mini FAT, mini stream, then each large stream.
    std::vector<std::uint32_t> fat(fatSectors * perSector, kFreeSect);
    std::uint32_t next = 0;
    for (std::uint64_t i = 0; i < fatSectors; ++i)
        fat[next++] = kFatSect;
    const std::uint32_t firstDifat = next;
    for (std::uint64_t i = 0; i < difatSectors; ++i)
        fat[next++] = kDifSect;
    auto allocate = [&](std::uint64_t count) {
        if (count == 0) return kEndOfChain;
        const std::uint32_t first = next;
        for (std::uint64_t k = 0; k < count; ++k, ++next)
            fat[next] = k + 1 < count ? next + 1 : kEndOfChain;
        return first;
    };
    const std::uint32_t dirStart = allocate(dirSectors);
    const std::uint32_t miniFatStart = allocate(miniFatSectors);
    const std::uint32_t miniStreamStart = allocate(miniStreamSectors);
    for (std::size_t i = 1; i < entries_.size(); ++i)
        if (isStream(entries_[i]) && sizeOf(entries_[i]) >= miniCutoff_)
            start[i] = allocate(ceilDiv(sizeOf(entries_[i]), ss));

    // Header: the original's fields, with the layout ones rewritten; the rest of its sector stays zero.
    std::vector<std::uint8_t> head(ss, 0);
    std::uint8_t* h = head.data();
    std::copy(header_.begin(), header_.end(), h);
    put32(h + 40, major_ == 4 ? static_cast<std::uint32_t>(dirSectors) : 0);
    put32(h + 44, static_cast<std::uint32_t>(fatSectors));
    put32(h + 48, dirStart);
    put32(h + 60, miniFatStart);
    put32(h + 64, static_cast<std::uint32_t>(miniFatSectors));
    put32(h + 68, difatSectors ? firstDifat : kEndOfChain);
    put32(h + 72, static_cast<std::uint32_t>(difatSectors));
    for (std::size_t i = 0; i < kHeaderDifatEntries; ++i)
        put32(h + 76 + 4 * i, i < fatSectors ? static_cast<std::uint32_t>(i) : kFreeSect);
    sink(head);

    std::vector<std::uint8_t> table(fat.size() * 4);
    for (std::size_t i = 0; i < fat.size(); ++i)
        put32(table.data() + 4 * i, fat[i]);
    sink(table);

    std::vector<std::uint8_t> difat(difatSectors * ss);
    for (std::uint64_t d = 0; d < difatSectors; ++d) {
        std::uint8_t* p = difat.data() + d * ss;
        for (std::uint32_t k = 0; k + 1 < perSector; ++k) {
            const std::uint64_t f = kHeaderDifatEntries + d * (perSector - 1) + k;
            put32(p + 4 * k, f < fatSectors ? static_cast<std::uint32_t>(f) : kFreeSect);
        }
        put32(p + 4 * (perSector - 1),
              d + 1 < difatSectors ? static_cast<std::uint32_t>(firstDifat + d + 1) : kEndOfChain);
    }
    sink(difat);

    // Directory: every entry in its old place, so names, CLSIDs, state bits, times and tree links stay.
    std::vector<std::uint8_t> dir(dirSectors * ss, 0);
    for (std::size_t i = 0; i < dir.size() / kEntrySize; ++i) {
        std::uint8_t* p = dir.data() + i * kEntrySize;
        const Entry* e = i < entries_.size() ? &entries_[i] : nullptr;
        if (!e || !e->reachable) {
            put32(p + 68, kNoStream);
            put32(p + 72, kNoStream);
            put32(p + 76, kNoStream);
            continue;
        }
        std::copy(e->raw.begin(), e->raw.end(), p);
        if (i == 0) {
            put32(p + 116, miniStream.empty() ? kEndOfChain : miniStreamStart);
            put64(p + 120, miniStream.size());
        } else if (e->type == static_cast<std::uint8_t>(EntryType::Stream)) {
            put32(p + 116, start[i]);
            put64(p + 120, sizeOf(*e));
        }
    }
    sink(dir);

    std::vector<std::uint8_t> miniFatBytes(miniFatSectors * ss, 0xFF);
    for (std::size_t i = 0; i < miniFat.size(); ++i)
        put32(miniFatBytes.data() + 4 * i, miniFat[i]);
    sink(miniFatBytes);
    miniStream.resize(miniStreamSectors * ss, 0);
    sink(miniStream);

    // Large streams straight from where they are held; only the tail of the last sector is padding.
    const std::vector<std::uint8_t> padding(ss, 0);
    for (std::size_t i = 1; i < entries_.size(); ++i) {
        const Entry& e = entries_[i];
        const std::uint64_t size = sizeOf(e);
        if (!isStream(e) || size < miniCutoff_) continue;
        if (e.pieces) {
            for (const auto& piece : e.pieces->spans)
                if (!piece.empty()) sink(piece);
        } else {
            sink(bytesOf(e));
        }
        if (size % ss) sink(std::span(padding).first(ss - size % ss));
    }
}

} // namespace ordana::spreadsheet::cfb
