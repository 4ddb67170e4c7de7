#pragma once

// The record frame of a BIFF8 Workbook stream. Every read is checked against the bytes really present; a
// short read is RuntimeError 1004.

#include "common/Bytes.h"
#include "common/Text.h"
#include "spreadsheet/Failure.h"

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

namespace ordana::spreadsheet::xls {

namespace rt {
inline constexpr std::uint16_t Formula = 0x0006;
inline constexpr std::uint16_t Eof = 0x000A;
inline constexpr std::uint16_t Filepass = 0x002F;
inline constexpr std::uint16_t Font = 0x0031;
inline constexpr std::uint16_t Continue = 0x003C;
inline constexpr std::uint16_t Window1 = 0x003D;
inline constexpr std::uint16_t DefColWidth = 0x0055;
inline constexpr std::uint16_t ColInfo = 0x007D;
inline constexpr std::uint16_t WsBool = 0x0081;
inline constexpr std::uint16_t BoundSheet = 0x0085;
inline constexpr std::uint16_t StandardWidth = 0x0099;
inline constexpr std::uint16_t MulRk = 0x00BD;
inline constexpr std::uint16_t MulBlank = 0x00BE;
inline constexpr std::uint16_t RString = 0x00D6;
inline constexpr std::uint16_t DbCell = 0x00D7;
inline constexpr std::uint16_t Xf = 0x00E0;
inline constexpr std::uint16_t Sst = 0x00FC;
inline constexpr std::uint16_t LabelSst = 0x00FD;
inline constexpr std::uint16_t ExtSst = 0x00FF;
inline constexpr std::uint16_t Dimensions = 0x0200;
inline constexpr std::uint16_t Blank = 0x0201;
inline constexpr std::uint16_t Number = 0x0203;
inline constexpr std::uint16_t Label = 0x0204;
inline constexpr std::uint16_t BoolErr = 0x0205;
inline constexpr std::uint16_t String = 0x0207;
inline constexpr std::uint16_t Row = 0x0208;
inline constexpr std::uint16_t Index = 0x020B;
inline constexpr std::uint16_t Array = 0x0221;
inline constexpr std::uint16_t DefaultRowHeight = 0x0225;
inline constexpr std::uint16_t Table = 0x0236;
inline constexpr std::uint16_t Window2 = 0x023E;
inline constexpr std::uint16_t Rk = 0x027E;
inline constexpr std::uint16_t Format = 0x041E;
inline constexpr std::uint16_t ShrFmla = 0x04BC;
inline constexpr std::uint16_t Bof = 0x0809;
inline constexpr std::uint16_t XfCrc = 0x087C;
} // namespace rt

inline constexpr std::size_t kMaxRecordData = 8224;
inline constexpr int kMaxColumns = 256;
inline constexpr int kMaxRows = 65536;

// What a workbook of an older format (Excel 2.x to 95) is told, whatever its container.
inline constexpr const char* kOlderFormat =
    "Formatul Excel 5.0/95 (sau mai vechi) este prea vechi pentru a fi "
    "scris inapoi; salvati registrul ca Excel 97-2003";

// RuntimeError 1004 describing a damaged workbook stream.
// The records' faults, said as they are (the adapter names the file).
[[noreturn]] inline void corrupt(const std::string& what) {
    fail(what);
}

// The shared byte and text helpers, by the short names the record code uses.
using bytes::get16;
using bytes::get32;
using bytes::getDouble;
using bytes::put16;
using bytes::put32;
using text::utf16ToUtf8;
using text::utf8ToUtf16;

// Growing output buffer.
class Writer {
  public:
    std::vector<std::uint8_t> bytes;
    std::size_t size() const { return bytes.size(); }
    void u8(std::uint8_t v) { bytes.push_back(v); }
    void u16(std::uint32_t v) { ordana::bytes::append16(bytes, v); }
    void u32(std::uint32_t v) { ordana::bytes::append32(bytes, v); }
    void f64(double d) {
        std::uint8_t b[8];
        std::memcpy(b, &d, 8);
        raw(b, 8);
    }
    void raw(const std::uint8_t* p, std::size_t n) { bytes.insert(bytes.end(), p, p + n); }
    void raw(std::span<const std::uint8_t> s) { raw(s.data(), s.size()); }
    // A whole record: header then data.
    void record(std::uint16_t type, std::span<const std::uint8_t> data);
};

// A record located in a stream: type, the stream offset of its header, its data length.
struct RecordPos {
    std::uint16_t type;
    std::uint16_t length;
    std::uint32_t offset; // of the 4-byte header
    std::uint32_t dataOffset() const { return offset + 4; }
    std::uint32_t end() const { return offset + 4 + length; }
};

// The records that hold a cell's value.
inline bool isCellRecord(std::uint16_t t) {
    switch (t) {
    case rt::Number:
    case rt::Rk:
    case rt::MulRk:
    case rt::LabelSst:
    case rt::Label:
    case rt::RString:
    case rt::BoolErr:
    case rt::Blank:
    case rt::MulBlank:
    case rt::Formula:
        return true;
    default:
        return false;
    }
}

// Records that belong to the cell before them.
inline bool isFormulaTail(std::uint16_t t) {
    return t == rt::String || t == rt::ShrFmla || t == rt::Array || t == rt::Table || t == rt::Continue;
}

// Walks the records of [begin, end) of a stream; a header or data running past end is 1004.
class RecordCursor {
  public:
    RecordCursor(std::span<const std::uint8_t> stream, std::size_t begin, std::size_t end)
        : s_(stream), pos_(begin), end_(end) {}
    bool atEnd() const { return pos_ >= end_; }
    // Fewer than 4 bytes left: trailing padding, not a record.
    bool onlyPaddingLeft() const { return end_ - pos_ < 4; }
    // Inline: a sheet's records are walked by the million.
    RecordPos next() {
        if (end_ - pos_ < 4) truncated();
        const std::uint8_t* p = s_.data() + pos_;
        const RecordPos r{get16(p), get16(p + 2), std::uint32_t(pos_)};
        if (r.length > end_ - pos_ - 4) overrun();
        pos_ += 4 + r.length;
        return r;
    }
    std::size_t position() const { return pos_; }

  private:
    [[noreturn]] static void truncated();
    [[noreturn]] static void overrun();
    std::span<const std::uint8_t> s_;
    std::size_t pos_;
    std::size_t end_;
};

// An XLUnicodeString (16-bit count) or ShortXLUnicodeString (8-bit count) read from a record's data;
// pos is advanced. 1004 when the characters run past the data.
std::u16string readUnicodeString(std::span<const std::uint8_t> data, std::size_t& pos, bool shortCount);
// Written 8-bit when every unit fits, 16-bit otherwise.
void writeUnicodeString(Writer& w, const std::u16string& s, bool shortCount);

// RK: decoding, and encoding when exact.
double decodeRk(std::uint32_t rk);
bool encodeRk(double value, std::uint32_t& rk);

} // namespace ordana::spreadsheet::xls
