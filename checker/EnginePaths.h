#pragma once
// The table checker's routines below the level of open tables: completing a
// directory path, resolving an engine alias, probing whether a table opens
// (answering the engine's code instead of raising) and removing a table's
// index files.
#include <QString>

namespace dbcheck {

// Path with a trailing "/": an empty path stays empty, a path that already
// ends in "/" is unchanged. (A single letter is an ordinary relative
// directory here, not a drive.)
QString AddPathDelimiter(const QString& path);

// The directory of an engine alias, with its trailing "/"; empty when the
// name is no alias.
QString GetAliasDirectory(const QString& alias);

// Opens and closes the table, answering the engine code of the failing step
// or 0: 10024 no such table, 12034 an index of the table is out of date.
// databaseName is a directory or an alias; driverType "DBASE", "PARADOX" or
// empty. Nothing stays open.
int OpenTableResult(const QString& databaseName, const QString& tableName, const QString& driverType, bool exclusive);

// Removes the index files of a table: every file of the table's directory
// named as the table (ignoring case) with the extension of an index file
// (.MDX, .NDX, the primary and secondary index files .PX, .Xnn, .Ynn, .XGn,
// .YGn). The table, its memo file and any other file stay. Stops deleting
// after the first failure; answers true when no delete failed.
bool DeleteTableCompanionFiles(const QString& databaseName, const QString& tableName);

// True for the extension (without dot, any case) of a file that
// DeleteTableCompanionFiles removes.
bool IsIndexFileExtension(const QString& extension);

}  // namespace dbcheck
