#pragma once
// Engine calls used below the dataset layer: the table checker and the
// maintenance commands. Every name given as "directory" is a directory
// (this program uses no aliases); a table name may carry its extension.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/db/core/DbError.h"
#include "platform/db/core/EngineTypes.h"
#include "platform/db/core/Session.h"
#include "platform/db/engine/Damage.h"

namespace kdb {

class Table;  // core/Table.h: an open table (a cursor)

namespace engine {

// ---- paths and aliases ----------------------------------------------------
// Path with a trailing "/" (an empty path stays empty).
std::string addPathDelimiter(const std::string& path);
// The engine knows no aliases: always false / empty.
bool isAlias(const std::string& name);
std::string aliasDirectory(const std::string& alias);

// ---- probing ---------------------------------------------------------------
// Opens and closes the table, answering the engine's result code instead of
// raising: 0 it opens; DBERR_NOSUCHTABLE; DBERR_INDEXOUTOFDATE when its
// production index is damaged or does not match it; any other code for
// other failures. driverType is "DBASE", "PARADOX" or empty (from the
// extension). Leaves nothing open.
int openTableResult(
    const std::string& directory, const std::string& tableName, const std::string& driverType, bool exclusive);

// ---- open tables -----------------------------------------------------------
struct OpenOptions {
    bool exclusive = false;
    bool readOnly = false;
    std::string driverType;  // empty: from the extension (.DBF / .DB); none: try .DBF then .DB
};
// Opens a table; raises EDBEngineError on failure.
std::unique_ptr<Table> openTable(
    const std::string& directory, const std::string& tableName, const OpenOptions& options = {});

CursorProps cursorProps(Table& table);
std::vector<FieldDesc> fieldDescs(Table& table);
std::vector<IndexDesc> indexDescs(Table& table);

// Regenerates every index of an open table. Answers 0, DBERR_INVALIDHNDL
// for a table that is not open, DBERR_NEEDEXCLACCESS when the table is not
// open exclusively, or another engine code.
int regenerateIndexes(Table& table);

// Packs an open dBASE table (exclusive): removes the deleted records and,
// when asked, regenerates its indexes. The table stays open.
// Raises EDBEngineError on failure.
void packTable(Table& table, bool regenerateIndexes);

// ---- creation and restructuring ------------------------------------------
// Creates the table in the directory from the descriptors, overwriting an
// existing one. A name ending in ".DBF" (any case) makes a dBASE table with
// its production index; ".DB" a Paradox table; without extension the
// tableType decides. Answers the engine code (0 on success).
int createTable(const std::string& directory, const TableDesc& desc);

// Restructures an existing table keeping its data, following the operation
// code of each field and index record; packs it when desc.pack is set.
// The table must not be open. Answers the engine code. A column whose type,
// width and decimals stay keeps its stored bytes; when values do not fit
// their new column (cut, or left empty), a copy of the table's files is kept
// first (keepDamagedCopy) and *damage, when given, says so.
int restructureTable(const std::string& directory, const TableDesc& desc, DamageReport* damage = nullptr);

}  // namespace engine
}  // namespace kdb
