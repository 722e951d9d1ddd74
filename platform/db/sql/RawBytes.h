#pragma once
// Stored bytes of the local SQL (internal to the library). Conditions,
// DISTINCT and MAX read the stored bytes of the fields where the table gives
// them, with the rules of the values they stand for: a character field is
// its text with trailing blanks ignored (all blanks: no value), texts order
// by the collation of the tags (core/Collation.h); a date is "yyyyMMdd" (anything else: no date); a
// number is its ASCII text (blank: no value).
#include <QString>

#include <string>
#include <string_view>

namespace kdb::sql {

// Without its trailing blanks (and NULs).
std::string_view rawTrimRight(std::string_view s);
// True when the bytes hold something besides blanks (and NULs).
bool rawHasText(std::string_view s);
// Text as stored bytes (Windows-1252); false when a character has no byte.
bool toRawText(const QString& s, std::string& out);
// The UTF-16 units of stored text (out holds s.size() units).
void rawToUtf16(std::string_view s, char16_t* out);
// Appends the decoded stored text to out.
void appendRawText(QString& out, std::string_view s);
// Orders two stored texts as compareText orders their decoded texts.
int compareRawText(std::string_view a, std::string_view b);
// LIKE on stored bytes ('%' any run, '_' one byte).
bool likeMatchRaw(std::string_view s, std::string_view p);
// A stored date "yyyyMMdd" that names a day.
bool rawDateValid(std::string_view s);
// A stored number: 1 with its value, 0 for no value, -1 when its text
// needs the full reading (decimals, exponent, anything unusual).
int rawNumber(std::string_view s, double& out);

}  // namespace kdb::sql
