#pragma once
// A database: the tables of one directory. It opens them by name, keeps the
// tables of finished statements open for a few seconds (holding no lock
// meanwhile, see Table::park) and hands them out again, so that a run of
// small statements on one table does not open its files each time.
//
// The local SQL (sql/Sql.h) and the datasets (dataset/Dataset.h) reach their
// tables through a Database. The program keeps one per data directory
// (Database::of); tests make their own over in-memory tables.
//
// While the program is at work on an event of its event loop, an idle table
// keeps its shared open (Table::park), so that the statements of one piece
// of work take it back without looking at its files again; every kept open
// is given back when the event loop has nothing left to do, and before an
// exclusive open made by this program.
//
// Everything on one thread, but for the idle tables, which the pool guards
// itself (a table given back from another thread is kept safely).
#include <functional>
#include <memory>
#include <string>

#include "platform/db/core/Table.h"

namespace kdb {

class Database {
public:
    // Opens a table of `directory` by name; nullptr when there is no such
    // table.
    using Opener = std::function<std::shared_ptr<Table>(
        const std::string& directory, const std::string& tableName, const TableOpenMode& mode)>;

    // The tables of `directory`, opened through the engine: the file is
    // looked up ignoring case, ".DBF" then ".DB" tried for a name without
    // extension; shared opens go through the pool of idle tables.
    explicit Database(std::string directory);
    // The tables that `opener` gives (no pool).
    Database(std::string directory, Opener opener);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // The database of a directory shared by the whole program (engine
    // tables), made on first use.
    static Database& of(const std::string& directory);

    const std::string& directory() const { return directory_; }

    // Opens a table (name with or without extension, any case). The table
    // goes back to the pool when the last holder lets it go. Raises
    // EDBEngineError DBERR_NOSUCHTABLE when there is no such table, and
    // whatever the open itself raises.
    std::shared_ptr<Table> openTable(const std::string& tableName, const TableOpenMode& mode = {});

    // Closes the idle tables (before work that needs the files alone, or to
    // see a directory's files as they are).
    void closeIdleTables();

    // Table name without directory and extension, upper case: "Cons.DBF"
    // gives "CONS".
    static std::string baseName(const std::string& tableName);

    // The idle tables of a database (Database.cpp).
    class Pool;

private:
    std::string directory_;
    Opener opener_;  // empty: the engine, through the pool
    std::shared_ptr<Pool> pool_;  // shared with the tables handed out
};

}  // namespace kdb
