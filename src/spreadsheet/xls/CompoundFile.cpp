#include "CompoundFile.h"
#include "CompoundFileFormat.h"
#include "spreadsheet/Failure.h"

#include "common/Bytes.h"
#include "common/RuntimeError.h"
#include "common/Text.h"
#include "spreadsheet/LargeBuffer.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace ordana::spreadsheet::cfb {

namespace {

[[noreturn]] void corrupt(const std::string& what) {
    fail("Fisierul este deteriorat: " + what);
}

using bytes::get16;
using bytes::get32;
using bytes::get64;
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

} // namespace

// The parser's view of the raw file: sectors, the FAT, and which sector already belongs to which chain.
class CompoundFile::Reader {
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
    const auto header = cf.file_->view(0, 512);
    std::copy_n(header.begin(), 512, cf.header_.begin());
    cf.readHeader();
    Reader rd(*cf.file_, cf.sectorSize_);
    rd.setFat(cf.readFat(rd));
    cf.readDirectory(rd);
    cf.linkTree();
    cf.readStreams(rd);
    if (std::none_of(cf.entries_.begin(), cf.entries_.end(), [](const Entry& e) { return e.inFile; }))
        cf.file_.reset();
    return cf;
}

void CompoundFile::readHeader() {
    const std::uint8_t* h = header_.data();
    major_ = get16(h + 26);
    if (major_ != 3 && major_ != 4)
        corrupt("versiunea " + std::to_string(major_) + " a formatului nu este cunoscuta");
    if (get16(h + 28) != 0xFFFE) corrupt("marcajul ordinii octetilor din antet este invalid");
    const std::uint16_t shift = get16(h + 30);
    if ((major_ == 3 && shift != 9) || (major_ == 4 && shift != 12))
        corrupt("dimensiunea sectorului (exponent " + std::to_string(shift) + ") nu corespunde versiunii " +
                std::to_string(major_));
    if (get16(h + 32) != 6)
        corrupt("dimensiunea mini-sectorului (exponent " + std::to_string(get16(h + 32)) + ") este invalida");
    sectorSize_ = 1u << shift;
    miniCutoff_ = get32(h + 56);
    if (miniCutoff_ != 4096)
        corrupt("pragul fluxurilor mici (" + std::to_string(miniCutoff_) + " octeti) este invalid");
}

// The FAT's own sectors: 109 in the header, the rest in the DIFAT chain.
std::vector<std::uint32_t> CompoundFile::readFat(Reader& rd) const {
    const std::uint8_t* h = header_.data();
    const std::uint32_t ss = sectorSize_;
    const std::uint32_t perSector = ss / 4;
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
    return fat;
}

// The directory: an array of 128-byte entries spread over its own chain.
void CompoundFile::readDirectory(Reader& rd) {
    const std::uint32_t ss = sectorSize_;
    const auto dirChain = rd.chain(get32(header_.data() + 48), 0, false, "al directorului");
    if (dirChain.empty()) corrupt("directorul lipseste");
    const std::size_t perDirSector = ss / kEntrySize;
    entries_.resize(dirChain.size() * perDirSector);
    for (std::size_t d = 0; d < dirChain.size(); ++d) {
        const std::uint8_t* p = rd.sectorBytes(dirChain[d], ss, "directorul");
        for (std::size_t k = 0; k < perDirSector; ++k) {
            Entry& e = entries_[d * perDirSector + k];
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
    Entry& root = entries_[0];
    if (root.type != static_cast<std::uint8_t>(EntryType::Root))
        corrupt("intrarea radacina a directorului lipseste");
    root.reachable = true;
}

// The tree: every storage's children hang from its child link as a binary tree of siblings.
void CompoundFile::linkTree() {
    struct Pending {
        std::uint32_t index;
        std::int32_t parent;
    };
    std::vector<Pending> stack{{get32(entries_[0].raw.data() + 76), 0}};
    while (!stack.empty()) {
        const Pending cur = stack.back();
        stack.pop_back();
        if (cur.index == kNoStream) continue;
        if (cur.index >= entries_.size())
            corrupt("directorul indica intrarea " + std::to_string(cur.index) + ", care nu exista");
        Entry& e = entries_[cur.index];
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
        const Entry& parent = entries_[static_cast<std::size_t>(cur.parent)];
        e.depth = parent.depth + 1;
        if (e.depth > kMaxDepth)
            corrupt("directorul are mai mult de " + std::to_string(kMaxDepth) + " niveluri");
        e.path = cur.parent == 0 ? e.name : parent.path + u'/' + e.name;
        stack.push_back({get32(e.raw.data() + 68), cur.parent});
        stack.push_back({get32(e.raw.data() + 72), cur.parent});
        if (e.type == static_cast<std::uint8_t>(EntryType::Storage))
            stack.push_back({get32(e.raw.data() + 76), static_cast<std::int32_t>(cur.index)});
    }
}

// Version 3 leaves the high half of a stream size undefined.
std::uint64_t CompoundFile::declaredSize(const Entry& e) const {
    return major_ == 3 ? static_cast<std::uint64_t>(get32(e.raw.data() + 120)) : get64(e.raw.data() + 120);
}

void CompoundFile::checkDeclaredSize(std::uint64_t size, const std::string& what) const {
    if (size > file_->size())
        corrupt(what + " declara " + std::to_string(size) + " octeti, mai mult decat are fisierul");
}

// The mini stream (the root's data) and the mini FAT that chains its 64-byte sectors.
struct CompoundFile::MiniStream {
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint32_t> fat;
    std::vector<std::uint8_t> owner; // which mini sectors a stream already holds
};

CompoundFile::MiniStream CompoundFile::readMiniStream(Reader& rd) const {
    const std::uint8_t* h = header_.data();
    const std::uint32_t ss = sectorSize_;
    const Entry& root = entries_[0];
    MiniStream mini;
    const std::uint64_t miniSize = declaredSize(root);
    checkDeclaredSize(miniSize, "mini-fluxul");
    const auto miniChain =
        rd.chain(get32(root.raw.data() + 116), ceilDiv(miniSize, ss), true, "al mini-fluxului");
    mini.bytes = rd.gather(miniChain, miniSize, "mini-fluxul");
    mini.bytes.resize(ceilDiv(mini.bytes.size(), kMiniSectorSize) * kMiniSectorSize,
                      0); // a last mini sector cut short
    if (get32(h + 60) != kEndOfChain && get32(h + 60) != kFreeSect) {
        for (std::uint32_t s : rd.chain(get32(h + 60), 0, false, "al tabelei mini-FAT")) {
            const std::uint8_t* p = rd.sectorBytes(s, ss, "tabela mini-FAT");
            for (std::uint32_t i = 0; i < ss / 4; ++i)
                mini.fat.push_back(get32(p + 4 * i));
        }
    }
    mini.owner.assign(mini.bytes.size() / kMiniSectorSize, 0);
    return mini;
}

// A small stream, gathered from the mini stream along its chain in the mini FAT.
void CompoundFile::readMiniChain(Entry& e, std::uint64_t size, MiniStream& mini, const std::string& what) {
    const std::uint64_t miniSectors = mini.owner.size();
    e.data.reserve(size);
    std::uint32_t cur = get32(e.raw.data() + 116);
    while (e.data.size() < size) {
        if (cur == kEndOfChain)
            corrupt("lantul de sectoare " + what + " este mai scurt decat dimensiunea declarata");
        if (cur >= miniSectors || cur >= mini.fat.size())
            corrupt("lantul de sectoare " + what + " indica mini-sectorul " + std::to_string(cur) +
                    ", dincolo de sfarsitul mini-fluxului");
        if (mini.owner[cur])
            corrupt("lantul de sectoare " + what + " se repeta (mini-sectorul " + std::to_string(cur) +
                    " este folosit de doua ori)");
        mini.owner[cur] = 1;
        const std::size_t n = std::min<std::uint64_t>(kMiniSectorSize, size - e.data.size());
        const auto* p = mini.bytes.data() + static_cast<std::size_t>(cur) * kMiniSectorSize;
        e.data.insert(e.data.end(), p, p + n);
        cur = mini.fat[cur];
    }
}

void CompoundFile::readStreams(Reader& rd) {
    const std::uint32_t ss = sectorSize_;
    MiniStream mini = readMiniStream(rd);
    for (std::size_t i = 1; i < entries_.size(); ++i) {
        Entry& e = entries_[i];
        if (!e.reachable || e.type != static_cast<std::uint8_t>(EntryType::Stream)) continue;
        const std::string what = "al fluxului " + printable(e.name);
        const std::uint64_t size = declaredSize(e);
        checkDeclaredSize(size, "fluxul " + printable(e.name));
        if (size == 0) continue;
        if (size < miniCutoff_) {
            readMiniChain(e, size, mini, what);
            continue;
        }
        const auto sectors = rd.chain(get32(e.raw.data() + 116), ceilDiv(size, ss), true, what);
        bool oneRun = true;
        for (std::size_t k = 1; k < sectors.size() && oneRun; ++k)
            oneRun = sectors[k] == sectors[0] + k;
        const std::uint64_t offset = (static_cast<std::uint64_t>(sectors[0]) + 1) * ss;
        if (oneRun && offset + size <= file_->size()) {
            // Writers lay streams out in one run: no copy.
            e.inFile = true;
            e.fileOffset = static_cast<std::size_t>(offset);
            e.fileSize = static_cast<std::size_t>(size);
        } else {
            e.data = rd.gather(sectors, size, "fluxul " + printable(e.name));
        }
    }
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

} // namespace ordana::spreadsheet::cfb
