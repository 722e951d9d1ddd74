#pragma once
// Text conversion between the tables' Windows-1252 bytes and QString.
#include <string>
#include <string_view>

#include <QString>

namespace kdb {

// Bytes in Windows-1252 to text. Undefined bytes (0x81, 0x8D, 0x8F, 0x90,
// 0x9D) map to the same code point, so every byte string round-trips.
QString fromCp1252(std::string_view bytes);
// Text to Windows-1252 bytes; a character without a Windows-1252 byte is
// written as '?'.
std::string toCp1252(const QString& text);
// Upper-case in Windows-1252 of a single byte (ASCII and accented letters).
unsigned char upperCp1252(unsigned char c);

}  // namespace kdb
