#pragma once
// Values of the local SQL (internal to the library): the kinds values
// compare in, their reading and ordering, and the LIKE patterns.
#include <QString>
#include <QVariant>

#include <string>

#include "platform/db/sql/Sql.h"

namespace kdb::sql {

enum class Kind { Text, Number, Date, Bool };

Kind kindOfColumn(const FieldInfo& c);
Kind kindOfVariant(const QVariant& v);
bool isNumberVariant(const QVariant& v);
// Raises the type mismatch of a value for a column (or a comparison).
[[noreturn]] void mismatch(const QVariant& v, const std::string& what);
// A value as text: a date as dd/mm/yyyy, a whole number without decimals,
// a logical as T or F.
QString displayText(const QVariant& v);
// Normalises a value for comparison in the given kind; throws on a value
// that cannot be read in that kind.
QVariant coerce(const QVariant& v, Kind k, const std::string& what);
// Orders two texts: the one comparison of character values (ORDER BY,
// DISTINCT's sorted output, MAX, <, <=, >, >= and the stored-bytes forms of
// these, see compareRawText). Answers -1, 0 or 1.
int compareText(QStringView a, QStringView b);
// Orders two normalised values of one kind; a null sorts first.
int compareValues(const QVariant& a, const QVariant& b, Kind k);
// LIKE on texts ('%' any run, '_' one character).
bool likeMatch(const QString& s, const QString& p);
// The text before the first wildcard of a LIKE pattern.
QString likePrefix(const QString& pattern);

}  // namespace kdb::sql
