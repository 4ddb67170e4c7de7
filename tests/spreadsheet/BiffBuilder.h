#pragma once

// Small hand-laid BIFF8 Workbook streams for the record-level tests: exactly the records a case needs.

#include "spreadsheet/xls/Biff.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace ordana::testing {

using Bytes = std::vector<std::uint8_t>;

struct RecordBytes {
    std::uint16_t type;
    Bytes data;
};

inline Bytes le16(std::uint32_t v) {
    return {std::uint8_t(v), std::uint8_t(v >> 8)};
}
inline Bytes le32(std::uint32_t v) {
    return {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)};
}
inline Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}
// An 8-bit XLUnicodeString (16-bit count) or ShortXLUnicodeString.
inline Bytes str8(const std::string& s, bool shortCount = false) {
    Bytes out = shortCount ? Bytes{std::uint8_t(s.size())} : le16(std::uint32_t(s.size()));
    out.push_back(0);
    out.insert(out.end(), s.begin(), s.end());
    return out;
}
inline Bytes cellHead(int row, int col, int xf = 15) {
    return cat({le16(std::uint32_t(row)), le16(std::uint32_t(col)), le16(std::uint32_t(xf))});
}
inline Bytes f64(double d) {
    Bytes b(8);
    std::memcpy(b.data(), &d, 8);
    return b;
}

struct SheetSpec {
    std::string name;
    std::vector<RecordBytes> records; // between DIMENSIONS and WINDOW2
    std::uint8_t boundType = 0;
    std::uint16_t bofType = 0x0010;
    std::uint8_t visibility = 0;
};

// Globals: BOF, WINDOW1, four fonts (Arial 10), fifteen style XFs and one cell XF (15), the sheets,
// the given SST records, EOF. Then one substream per sheet.
inline Bytes buildStream(const std::vector<SheetSpec>& sheets,
                         const std::vector<RecordBytes>& sstRecords = {},
                         const std::vector<RecordBytes>& extraGlobals = {}) {
    using namespace spreadsheet::xls;
    Writer w;
    auto rec = [&](std::uint16_t t, const Bytes& d) { w.record(t, d); };
    rec(rt::Bof, cat({le16(0x0600), le16(0x0005), le16(0), le16(0), le32(0), le32(0)}));
    rec(rt::Window1,
        cat({le16(0), le16(0), le16(10000), le16(8000), le16(0x38), le16(0), le16(0), le16(1), le16(600)}));
    for (int i = 0; i < 4; ++i)
        rec(rt::Font, cat({le16(200), le16(0), le16(0x7FFF), le16(400), le16(0), Bytes{0, 0, 0, 0},
                           str8("Arial", true)}));
    for (int i = 0; i < 16; ++i) {
        Bytes xf(20, 0);
        xf[4] = i < 15 ? 0xF5 : 0x01;
        xf[5] = i < 15 ? 0xFF : 0x00;
        xf[9] = i < 15 ? 0xF4 : 0x00;
        xf[18] = 0xC0;
        xf[19] = 0x20;
        rec(rt::Xf, xf);
    }
    for (const auto& r : extraGlobals)
        rec(r.type, r.data);
    std::vector<std::size_t> offsets;
    for (const auto& s : sheets) {
        offsets.push_back(w.size() + 4);
        Bytes d = cat({le32(0), Bytes{s.visibility, s.boundType}, str8(s.name, true)});
        rec(rt::BoundSheet, d);
    }
    for (const auto& r : sstRecords)
        rec(r.type, r.data);
    rec(rt::Eof, {});
    for (std::size_t i = 0; i < sheets.size(); ++i) {
        put32(&w.bytes[offsets[i]], std::uint32_t(w.size()));
        rec(rt::Bof, cat({le16(0x0600), le16(sheets[i].bofType), le16(0), le16(0), le32(0), le32(0)}));
        rec(rt::Dimensions, cat({le32(0), le32(0), le16(0), le16(0), le16(0)}));
        for (const auto& r : sheets[i].records)
            rec(r.type, r.data);
        rec(rt::Window2,
            cat({le16(i == 0 ? 0x06B6 : 0x00B6), le16(0), le16(0), le32(0x40), le16(0), le16(0), le32(0)}));
        rec(rt::Eof, {});
    }
    return std::move(w.bytes);
}

// Four strings with every awkward part: a rich-text run, characters that go on in a CONTINUE as 16-bit,
// phonetic data split over a record boundary, and a string that starts after it.
inline std::vector<RecordBytes> trickySst() {
    const Bytes s0 = cat({le16(2), Bytes{0x08}, le16(1), Bytes{'a', 'b'}, le32(0x00050001)});
    const Bytes s1 = cat({le16(10), Bytes{0x00}, Bytes{'a', 'b', 'c', 'd', 'e', 'f'}});
    const Bytes s1rest = cat({Bytes{0x01}, le16(0x0219), le16(0x021B), le16('x'), le16('y')});
    const Bytes s2 = cat({le16(1), Bytes{0x05}, le32(6), le16(0x03A9), Bytes{1, 2}});
    using namespace spreadsheet::xls;
    return {{rt::Sst, cat({le32(4), le32(4), s0, s1})},
            {rt::Continue, cat({s1rest, s2})},
            {rt::Continue, cat({Bytes{3, 4, 5, 6}, str8("zz")})}};
}

inline Bytes formula(int row, int col, const Bytes& value) {
    return cat({cellHead(row, col), value, le16(0), le32(0), le16(3), Bytes{0x1E, 1, 0}});
}

// One cell of every kind, rows 0-4, with ROW records, a DBCELL and an INDEX like Excel's.
inline std::vector<RecordBytes> everyCellKind() {
    using namespace spreadsheet::xls;
    std::vector<RecordBytes> r;
    for (int row = 0; row < 5; ++row)
        r.push_back({rt::Row, cat({le16(std::uint32_t(row)), le16(0), le16(6), le16(255), le16(0), le16(0),
                                   le32(0x000F0100)})});
    r.push_back({rt::Number, cat({cellHead(0, 0), f64(3.25)})});
    r.push_back({rt::Rk, cat({cellHead(0, 1), le32((42u << 2) | 2)})});
    r.push_back({rt::Rk, cat({cellHead(0, 2), le32((123u << 2) | 3)})});
    r.push_back({rt::Rk, cat({cellHead(0, 3), le32(0x3FF80000)})});
    r.push_back({rt::MulRk, cat({le16(1), le16(0), le16(15), le32((1u << 2) | 2), le16(15),
                                 le32((2u << 2) | 2), le16(15), le32((3u << 2) | 2), le16(2)})});
    r.push_back({rt::Label, cat({cellHead(2, 0), str8("inline")})});
    r.push_back({rt::Label, cat({cellHead(2, 1), le16(2), Bytes{0x01}, le16(0x0103), le16(0x0219)})});
    r.push_back({rt::RString, cat({cellHead(2, 2), str8("bogat"), le16(1), le16(0), le16(5)})});
    r.push_back({rt::LabelSst, cat({cellHead(2, 3), le32(1)})});
    r.push_back({rt::BoolErr, cat({cellHead(3, 0), Bytes{1, 0}})});
    r.push_back({rt::BoolErr, cat({cellHead(3, 1), Bytes{0x07, 1}})});
    r.push_back({rt::Blank, cellHead(3, 2)});
    r.push_back({rt::MulBlank, cat({le16(3), le16(3), le16(15), le16(15), le16(15), le16(5)})});
    r.push_back({rt::Formula, formula(4, 0, f64(2.5))});
    r.push_back({rt::Formula, formula(4, 1, Bytes{0, 0, 0, 0, 0, 0, 0xFF, 0xFF})});
    r.push_back({rt::String, str8("rez")});
    r.push_back({rt::Formula, formula(4, 2, Bytes{1, 0, 1, 0, 0, 0, 0xFF, 0xFF})});
    r.push_back({rt::Formula, formula(4, 3, Bytes{2, 0, 0x2A, 0, 0, 0, 0xFF, 0xFF})});
    r.push_back({rt::Formula, formula(4, 4, Bytes{3, 0, 0, 0, 0, 0, 0xFF, 0xFF})});
    r.push_back({rt::DbCell, cat({le32(0), le16(0), le16(0), le16(0), le16(0), le16(0)})});
    return r;
}

// Formula cells that share their formulas the way Excel lays them out. C13:C16 hold 1..4; E13:E16 share
// =C13*2 (host E13, SHRFMLA after it); H13:I14 share =C13+1 (host H13); F13:F14 hold the array formula
// {=C13:C14*10} (host F13, ARRAY after it); G13:G14 are a data table (host G13, TABLE after it). Every
// formula caches its value.
inline Bytes sharedFormulaCell(int row, int col, double cached, int hostRow, int hostCol, bool shared = true,
                               std::uint8_t ptg = 0x01) {
    return cat({cellHead(row, col), f64(cached), le16(shared ? 0x0008 : 0), le32(0), le16(5), Bytes{ptg},
                le16(std::uint32_t(hostRow)), le16(std::uint32_t(hostCol))});
}
inline Bytes rangeRef(int firstRow, int lastRow, int firstCol, int lastCol) {
    return cat({le16(std::uint32_t(firstRow)), le16(std::uint32_t(lastRow)),
                Bytes{std::uint8_t(firstCol), std::uint8_t(lastCol)}});
}
inline std::vector<RecordBytes> formulaRanges() {
    using namespace spreadsheet::xls;
    // PtgRefN to the cell `offset` columns away in the same row, both coordinates relative.
    auto refN = [](int offset) { return cat({Bytes{0x2C}, le16(0), le16(0xC000u | std::uint8_t(offset))}); };
    const Bytes times2 = cat({refN(-2), Bytes{0x1E}, le16(2), Bytes{0x05}});
    const Bytes plus1 = cat({refN(-5), Bytes{0x1E}, le16(1), Bytes{0x03}});
    const Bytes array = cat(
        {Bytes{0x25}, le16(12), le16(13), le16(0xC002), le16(0xC002), Bytes{0x1E}, le16(10), Bytes{0x05}});
    std::vector<RecordBytes> r;
    for (int row = 12; row < 16; ++row) {
        const double c = row - 11;
        r.push_back({rt::Number, cat({cellHead(row, 2), f64(c)})});
        r.push_back({rt::Formula, sharedFormulaCell(row, 4, 2 * c, 12, 4)});
        if (row == 12)
            r.push_back({rt::ShrFmla, cat({rangeRef(12, 15, 4, 4), Bytes{0, 4},
                                           le16(std::uint32_t(times2.size())), times2})});
        if (row < 14) {
            r.push_back({rt::Formula, sharedFormulaCell(row, 5, 10 * c, 12, 5, false)});
            if (row == 12)
                r.push_back({rt::Array, cat({rangeRef(12, 13, 5, 5), le16(0), le32(0),
                                             le16(std::uint32_t(array.size())), array})});
            r.push_back({rt::Formula, sharedFormulaCell(row, 6, 0, 12, 6, false, 0x02)});
            if (row == 12)
                r.push_back({rt::Table, cat({rangeRef(12, 13, 6, 6), Bytes{0, 0}, le16(11), le16(2), le16(0),
                                             le16(0)})});
            for (int col = 7; col < 9; ++col) {
                r.push_back({rt::Formula, sharedFormulaCell(row, col, col == 7 ? c + 1 : 1, 12, 7)});
                if (row == 12 && col == 7)
                    r.push_back({rt::ShrFmla, cat({rangeRef(12, 13, 7, 8), Bytes{0, 4},
                                                   le16(std::uint32_t(plus1.size())), plus1})});
            }
        }
    }
    return r;
}

// Fills in a hand-laid stream's row-block index as Excel does: each INDEX (with room for the entries) gets
// the stream offsets of its sheet's DBCELLs; each DBCELL the way back to its block's first ROW and from each
// row's first cell to the next's. Returns where the DBCELLs are.
inline std::vector<std::size_t> fillCellIndex(Bytes& s) {
    using namespace spreadsheet::xls;
    std::vector<std::size_t> dbcells;
    std::size_t index = 0, entry = 0, firstRow = 0;
    std::vector<int> blockRows;
    std::vector<std::pair<int, std::size_t>> firstCells; // row, its first cell record
    for (std::size_t pos = 0; pos + 4 <= s.size(); pos += 4 + get16(&s[pos + 2])) {
        const std::uint16_t type = get16(&s[pos]);
        if (type == rt::Index) {
            index = pos;
            entry = 0;
        } else if (type == rt::Row) {
            if (blockRows.empty()) firstRow = pos;
            blockRows.push_back(get16(&s[pos + 4]));
        } else if (isCellRecord(type)) {
            const int row = get16(&s[pos + 4]);
            if (firstCells.empty() || firstCells.back().first != row) firstCells.emplace_back(row, pos);
        } else if (type == rt::DbCell) {
            if (index != 0 && index + 20 + 4 * entry + 4 <= index + 4 + get16(&s[index + 2]))
                put32(&s[index + 20 + 4 * entry++], std::uint32_t(pos));
            put32(&s[pos + 4], std::uint32_t(blockRows.empty() ? 0 : pos - firstRow));
            std::vector<std::size_t> at(blockRows.size(), pos);
            std::size_t next = pos;
            for (std::size_t k = blockRows.size(); k-- > 0;) {
                for (const auto& [row, cell] : firstCells)
                    if (row == blockRows[k]) next = cell;
                at[k] = next;
            }
            for (std::size_t k = 0; k < at.size() && 8 + 2 * k + 2 <= 4 + std::size_t(get16(&s[pos + 2]));
                 ++k)
                put16(&s[pos + 8 + 2 * k], std::uint32_t(at[k] - (k == 0 ? firstRow + 20 : at[k - 1])));
            blockRows.clear();
            firstCells.clear();
            dbcells.push_back(pos);
        }
    }
    return dbcells;
}

// The records of a stream: type and data, in order.
inline std::vector<RecordBytes> records(const Bytes& stream, std::size_t begin = 0,
                                        std::size_t end = SIZE_MAX) {
    std::vector<RecordBytes> out;
    std::size_t pos = begin;
    end = std::min(end, stream.size());
    while (pos + 4 <= end) {
        const std::uint16_t t = spreadsheet::xls::get16(&stream[pos]);
        const std::uint16_t len = spreadsheet::xls::get16(&stream[pos + 2]);
        if (pos + 4 + len > end) break;
        out.push_back({t, Bytes(stream.begin() + std::ptrdiff_t(pos) + 4,
                                stream.begin() + std::ptrdiff_t(pos + 4 + len))});
        pos += 4 + len;
    }
    return out;
}

} // namespace ordana::testing
