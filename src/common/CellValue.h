#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace ordana {

// What a spreadsheet cell delivers. Text is UTF-8.
class CellValue {
  public:
    enum class Kind { Empty, Number, Text, Boolean, Error };

    CellValue() = default;
    static CellValue number(double value) { return CellValue(value); }
    static CellValue text(std::string value) { return CellValue(std::move(value)); }
    static CellValue boolean(bool value) { return CellValue(Bool{value}); }
    // code: the BIFF error code (0x00 #NULL!, 0x07 #DIV/0!, 0x0F #VALUE!, 0x17 #REF!, 0x1D #NAME?, 0x24
    // #NUM!, 0x2A #N/A, 0x2B #GETTING_DATA)
    static CellValue error(std::uint8_t code) { return CellValue(Err{code}); }

    Kind kind() const { return static_cast<Kind>(value_.index()); }
    bool isEmpty() const { return kind() == Kind::Empty; }
    double numberValue() const { return std::get<double>(value_); }
    const std::string& textValue() const { return std::get<std::string>(value_); }
    bool booleanValue() const { return std::get<Bool>(value_).value; }
    std::uint8_t errorCode() const { return std::get<Err>(value_).code; }

    // The value taken as text, as a spreadsheet shows it ("" for an empty cell).
    std::string toText() const;
    // Blank: the value taken as text is empty (an empty cell or an empty text); the number 0 is not blank.
    bool isBlank() const;
    // The value as it takes part in arithmetic: empty is 0, a text reads as a number, true is -1;
    // anything else is error 13.
    double toNumber() const;

    friend bool operator==(const CellValue&, const CellValue&) = default;

  private:
    struct Bool {
        bool value;
        friend bool operator==(Bool, Bool) = default;
    };
    struct Err {
        std::uint8_t code;
        friend bool operator==(Err, Err) = default;
    };
    explicit CellValue(double v) : value_(v) {}
    explicit CellValue(std::string v) : value_(std::move(v)) {}
    explicit CellValue(Bool v) : value_(v) {}
    explicit CellValue(Err v) : value_(v) {}

    std::variant<std::monostate, double, std::string, Bool, Err> value_;
};

// The text of a BIFF error code, "#N/A" and the like.
std::string errorText(std::uint8_t code);
// The code of an error's text; none for a text that is no error.
std::optional<std::uint8_t> errorCodeOf(std::string_view text);

} // namespace ordana
