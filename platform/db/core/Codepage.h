#pragma once
// Text conversion between the tables' bytes and QString.
//
// A dBASE table names its code page in the language-driver byte of its
// header: 0x01 and 0x1B are code page 437, 0x02 and 0x37 code page 850,
// 0x03, 0x57 and 0x58 Windows-1252; 0 (not set) and any other driver are
// read as Windows-1252.  Bytes 0x00-0x7F are ASCII in all three; every byte
// has a character of its own, so any byte string round-trips.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include <QString>

namespace kdb {

inline constexpr int kCodePage437 = 437;
inline constexpr int kCodePage850 = 850;
inline constexpr int kCodePage1252 = 1252;

// No byte is above 0x7F: the bytes are ASCII, the same in every code page.
bool plainAscii(std::string_view bytes);

// The code page of a dBASE language-driver byte.
int codePageOfDriver(uint8_t driver);

// The character (UTF-16 unit) of each byte of a code page (437, 850 or
// 1252; any other number is read as 1252).
const std::array<char16_t, 256>& codePageUnits(int codePage);

// Bytes of a code page to text.
QString fromCodePage(int codePage, std::string_view bytes);
// Text to bytes of a code page; a character the code page lacks is written
// as '?'.
std::string toCodePage(int codePage, const QString& text);
// The byte of one character in a code page; false when it has none.
bool byteOfUnit(int codePage, char16_t unit, char& byte);
// The text as near as a code page holds it, character for character (the
// length stays): a character the code page lacks becomes its letter
// without accent, or its nearest Latin letter (Ł, Đ, ı, …), or `fallback`.
QString storableText(int codePage, const QString& text, QChar fallback = QLatin1Char('?'));

// Windows-1252, the code page of the tables this engine creates.  Undefined
// bytes (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the same code point.
QString fromCp1252(std::string_view bytes);
std::string toCp1252(const QString& text);
// Upper-case in Windows-1252 of a single byte (ASCII and accented letters).
unsigned char upperCp1252(unsigned char c);

}  // namespace kdb
