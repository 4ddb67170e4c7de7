#include "CellValue.h"

#include "Format.h"
#include "RuntimeError.h"
#include "Text.h"

namespace ordana {

std::string errorText(std::uint8_t code) {
    switch (code) {
    case 0x00:
        return "#NULL!";
    case 0x07:
        return "#DIV/0!";
    case 0x0F:
        return "#VALUE!";
    case 0x17:
        return "#REF!";
    case 0x1D:
        return "#NAME?";
    case 0x24:
        return "#NUM!";
    case 0x2A:
        return "#N/A";
    default:
        return "#ERR" + std::to_string(code) + "!";
    }
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
