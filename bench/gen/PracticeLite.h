#pragma once
// SQLite's copy of the practice database for the side-by-side benchmarks:
// the same tables, columns, rows and indexes as the engine's (dates as
// YYYY-MM-DD text, blank values NULL, as the engine reads them), in its
// write-ahead log with full syncs: each write statement is synced once, as
// the engine's flush of its table at the end of the statement is.
#include <sqlite3.h>

#include <string>
#include <vector>

#include <QVariant>

namespace kbench {

class Lite {
public:
    explicit Lite(const std::string& path);
    ~Lite();
    Lite(const Lite&) = delete;
    Lite& operator=(const Lite&) = delete;

    sqlite3* db() const { return db_; }
    // Runs statements without results; exits the program on failure.
    void exec(const std::string& sql);
    // Runs a query, reading every value as a dataset would; answers the rows.
    size_t rows(const std::string& sql, const std::vector<std::string>& binds = {});
    // The first column of the first row ("" when none).
    std::string first(const std::string& sql);
    // SQLite's plan of a statement, one line per step.
    std::string plan(const std::string& sql);

private:
    sqlite3* db_ = nullptr;
};

// The SQLite name of a table file name: "Cons.DBF" gives "CONS".
std::string liteTableName(const QString& fileName);

// Generates the practice at `scale` into the engine's `directory` and into
// the SQLite file `directory`/practice.sqlite, unless both are there already
// from a run at the same scale. Answers the SQLite file's path.
std::string preparePractice(const std::string& directory, double scale, bool verbose);

}  // namespace kbench
