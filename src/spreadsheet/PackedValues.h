#pragma once

// The edits a released sheet keeps until the save, written as bytes and read back, to be kept deflated: a
// job over thousands of sheets keeps a few kilobytes of each.

#include "common/CellValue.h"
#include "common/RuntimeError.h"

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace ordana::spreadsheet {

class ValueWriter {
  public:
    void u8(std::uint8_t v) { out_ += char(v); }
    void u32(std::uint32_t v) { raw(&v, sizeof v); }
    void f64(double v) { raw(&v, sizeof v); }
    void text(const std::string& s) {
        u32(std::uint32_t(s.size()));
        out_ += s;
    }
    void optionalText(const std::optional<std::string>& s) {
        u8(s ? 1 : 0);
        if (s) text(*s);
    }
    void value(const CellValue& v) {
        u8(std::uint8_t(v.kind()));
        switch (v.kind()) {
        case CellValue::Kind::Number:
            f64(v.numberValue());
            break;
        case CellValue::Kind::Text:
            text(v.textValue());
            break;
        case CellValue::Kind::Boolean:
            u8(v.booleanValue() ? 1 : 0);
            break;
        case CellValue::Kind::Error:
            u8(v.errorCode());
            break;
        case CellValue::Kind::Empty:
            break;
        }
    }
    std::string take() { return std::move(out_); }

  private:
    void raw(const void* p, std::size_t n) { out_.append(static_cast<const char*>(p), n); }
    std::string out_;
};

class ValueReader {
  public:
    explicit ValueReader(std::string_view in) : in_(in) {}
    bool done() const { return in_.empty(); }
    std::uint8_t u8() { return std::uint8_t(take(1)[0]); }
    std::uint32_t u32() {
        std::uint32_t v;
        std::memcpy(&v, take(sizeof v).data(), sizeof v);
        return v;
    }
    double f64() {
        double v;
        std::memcpy(&v, take(sizeof v).data(), sizeof v);
        return v;
    }
    std::string text() { return std::string(take(u32())); }
    std::optional<std::string> optionalText() {
        return u8() ? std::optional<std::string>(text()) : std::nullopt;
    }
    CellValue value() {
        switch (CellValue::Kind(u8())) {
        case CellValue::Kind::Number:
            return CellValue::number(f64());
        case CellValue::Kind::Text:
            return CellValue::text(text());
        case CellValue::Kind::Boolean:
            return CellValue::boolean(u8() != 0);
        case CellValue::Kind::Error:
            return CellValue::error(u8());
        case CellValue::Kind::Empty:
            break;
        }
        return {};
    }

  private:
    std::string_view take(std::size_t n) {
        if (n > in_.size())
            throw RuntimeError(err::Internal, "modificarile pastrate ale foii sunt deteriorate");
        const std::string_view v = in_.substr(0, n);
        in_.remove_prefix(n);
        return v;
    }
    std::string_view in_;
};

} // namespace ordana::spreadsheet
