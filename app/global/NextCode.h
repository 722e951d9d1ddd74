#pragma once
#include <QString>

#include <functional>
#include <memory>

// The character key column that NextCode reads: its values in the column's
// sort order.
class KeyColumn {
public:
    virtual ~KeyColumn() = default;
    // The last value in sort order (the greatest), trimmed; empty when the
    // table has no row.
    virtual QString LastValue() = 0;
    // True when a row holds exactly this value (whole value, case-sensitive).
    virtual bool Contains(const QString& value) = 0;
    // The allocation failed: whatever the column reserved is given back.
    virtual void Abandon() { }
};

// Advances a code by one step: from the rightmost position leftwards, a
// digit counts from "0" to "9", a capital from "A" to "Z"; past the last of
// its class a position goes back to the first and carries to its left; a
// carry out of the leftmost position wraps the whole code round. Returns
// false, leaving in code the value reached so far, when a position holds a
// character of neither class.
bool AdvanceCode(QString& code);

// The next free value of the column: the last value (or "1"), left-padded
// with "0" to Width, advanced while the column holds it. A character
// outside the two classes shows "Code Incorrect ! " + the code and ends
// with the silent abort; so does a column in which every code of the width
// is taken ("Plus aucun code libre dans la table " + TableName). Reads the
// column only, so the caller may hold the table's lock around the call and
// the insertion of its row.
QString NextCodeIn(KeyColumn& column, const QString& TableName, int Width);

// How NextCode reaches the database: opens the key column FieldName of
// TableName in DatabaseName (sorted by the column). Database errors are
// thrown by the opener and pass to the caller.
using KeyColumnOpener = std::function<std::unique_ptr<KeyColumn>(
    const QString& TableName, const QString& DatabaseName, const QString& FieldName)>;
void SetKeyColumnOpener(KeyColumnOpener opener);

// NextCode on a table of the database (through the opener set above);
// processes pending events before returning.
QString NextCode(const QString& TableName, const QString& DatabaseName, const QString& FieldName, int Width);
