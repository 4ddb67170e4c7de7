#include "CellValue.h"

#include "Format.h"
#include "RuntimeError.h"
#include "Text.h"

#include <utility>

namespace ordana {

namespace {

// Each error's text and code; every format's reading and writing goes through this one table.
constexpr std::pair<std::string_view, std::uint8_t> kErrors[] = {
    {"#NULL!", 0x00}, {"#DIV/0!", 0x07}, {"#VALUE!", 0x0F}, {"#REF!", 0x17},
    {"#NAME?", 0x1D}, {"#NUM!", 0x24},   {"#N/A", 0x2A},    {"#GETTING_DATA", 0x2B}};

} // namespace

std::string errorText(std::uint8_t code) {
    for (const auto& [text, c] : kErrors)
        if (c == code) return std::string(text);
    return "#ERR" + std::to_string(code) + "!";
}

std::optional<std::uint8_t> errorCodeOf(std::string_view text) {
    for (const auto& [t, code] : kErrors)
        if (t == text) return code;
    return std::nullopt;
}

std::string CellValue::toText() const {
    switch (kind()) {
    case Kind::Empty:
        return {};
    case Kind::Number:
        return formatNumber(numberValue());
    case Kind::Text:
        return textValue();
    case Kind::Boolean:
        return booleanValue() ? "TRUE" : "FALSE";
    case Kind::Error:
        return errorText(errorCode());
    }
    return {};
}

bool CellValue::isBlank() const {
    return isEmpty() || (kind() == Kind::Text && textValue().empty());
}

double CellValue::toNumber() const {
    switch (kind()) {
    case Kind::Empty:
        return 0.0;
    case Kind::Number:
        return numberValue();
    case Kind::Boolean:
        return booleanValue() ? -1.0 : 0.0;
    case Kind::Text:
        if (const auto parsed = parseNumber(textValue())) return *parsed;
        throw RuntimeError(err::TypeMismatch, "Tip nepotrivit: textul " + text::quotedExcerpt(textValue()) +
                                                  " nu este un numar");
    case Kind::Error:
        break;
    }
    throw RuntimeError(err::TypeMismatch,
                       "Tip nepotrivit: valoarea de eroare " + errorText(errorCode()) + " nu este un numar");
}

} // namespace ordana
