#pragma once

// Text conversions shared by every file format, with one rule for invalid input: each ill-formed sequence
// (a lone surrogate, a stray or truncated UTF-8 byte, an overlong form, a code point past U+10FFFF) becomes
// U+FFFD, so nothing a file holds can make a conversion fail or produce invalid UTF-8.

#include <string>
#include <string_view>

namespace ordana::text {

std::string utf16ToUtf8(std::u16string_view s);
std::u16string utf8ToUtf16(std::string_view s);
// ISO 8859-1 bytes (the 8-bit strings of BIFF8 and zip names without the UTF-8 flag) to UTF-8.
std::string latin1ToUtf8(std::string_view s);
bool isValidUtf8(std::string_view s);
// Appends one code point as UTF-8 (U+FFFD for a surrogate or a value past U+10FFFF).
void appendUtf8(std::string& out, char32_t c);

// The upper-case form the file formats compare names by (sheet names, stream names, zip entry names):
// ASCII and Latin-1 letters are folded; everything else is compared as it stands.
std::u16string foldCase(std::u16string_view s);
std::string foldCase(std::string_view utf8);

// A path or name as messages show it: in double quotes.
std::string quoted(std::string_view s);

// Text a file supplies (a cell's text, a sheet's name, a value) as messages quote it: in double quotes, at
// most kQuotedCharacters characters and then "...", control characters as spaces. A file can hold megabytes
// there.
inline constexpr std::size_t kQuotedCharacters = 60;
std::string quotedExcerpt(std::string_view utf8);

// Text a file supplies as one line of a terminal or a log shows it: control characters (C0, DEL, C1) and
// bytes that are not UTF-8 written visibly and inertly, "\n", "\t", "\x1b", so that a name is one line and
// reaches the terminal as letters only.
std::string printable(std::string_view utf8);

// A column's letters, from 1: "A", "Z", "AA".
std::string columnName(int column);
// A cell as messages name it, rows and columns from 1: "E13".
std::string cellAddress(int row, int column);

} // namespace ordana::text
