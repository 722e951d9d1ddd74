#pragma once
// Key bytes of the index tags and their order.
//
//   Character: the text, right-padded with blanks to the key length (the
//              field's bytes, in the table's code page), in the order of the
//              table's collation (core/Collation.h).  A tag header records
//              the code page its keys are ordered by (kCollationMark); a
//              tag without the mark (an older file, another writer) is in
//              binary byte order.
//   Date:      8-byte little-endian double holding the Julian Day Number
//              (2000-01-01 = 2451545.0); a blank date is encoded as 0.0 and
//              sorts before every real date.
//   Numeric:   12 bytes: byte 0 = 0x34 + decimal exponent, byte 1 = sign bit
//              0x80 | digit count << 2 | 0x01, bytes 2-11 packed decimal digits
//              (normalised: no leading zeros).  A blank number is encoded as 0.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kdb {
class Collation;
}

namespace kdb::mdx {

enum class KeyType : char { Character = 'C', Date = 'D', Numeric = 'N' };

inline constexpr int kDateKeyLen = 8;
inline constexpr int kNumericKeyLen = 12;

// ---- Character ----
// Pads (or cuts) `text` to keyLength bytes with blanks.
std::string encodeCharacter(std::string_view text, int keyLength);

// ---- Date ----
// Julian Day Number of a Gregorian calendar date (proleptic, year >= -4712).
int64_t julianDayNumber(int year, int month, int day);
// Calendar date of a Julian Day Number.
void calendarDate(int64_t jdn, int& year, int& month, int& day);
std::string encodeDateJdn(double jdn);
std::string encodeDate(int year, int month, int day);
// The date text of a table record ("YYYYMMDD"); blank (spaces, zeros, NULs,
// empty) gives the blank date key; a malformed text gives nullopt.
std::optional<std::string> encodeDateText(std::string_view yyyymmdd);
std::string encodeBlankDate();
double decodeDate(std::string_view key);  // the Julian Day Number

// ---- Numeric ----
// The number text of a table record ("  -12.50", "1e3" is refused); blank
// gives zero; a malformed text or more than 20 significant digits gives nullopt.
std::optional<std::string> encodeNumericText(std::string_view text);
// A double (shortest exact decimal form, at most 17 digits).  NaN and
// infinities give nullopt.
std::optional<std::string> encodeNumeric(double value);
double decodeNumeric(std::string_view key);
// Plain decimal text of a numeric key ("-12.5", "0", "1200").
std::string numericKeyText(std::string_view key);

// ---- Order ----
// Three-way comparison of two keys of the given type in ascending order
// (negative, zero, positive).  For Character keys a shorter key compares on
// its own length only (prefix), in the order of `collation` (binary byte
// order when null).  Keys of a wrong size for Date/Numeric compare by bytes
// (they never come from a sound file).
int compareKeys(KeyType type, std::string_view a, std::string_view b, const Collation* collation = nullptr);

// Tag header bytes 260-263 (reserved in the format) of a Character tag
// ordered by a collation: 'K', 'C', then the code page (uint16 LE).
inline constexpr int kCollationMarkOffset = 260;
inline constexpr char kCollationMark[2] = {'K', 'C'};

// Fixed key length of a type (Date 8, Numeric 12), or 0 for Character.
int fixedKeyLength(KeyType type);

}  // namespace kdb::mdx
