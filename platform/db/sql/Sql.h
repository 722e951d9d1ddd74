#pragma once
// Local SQL: the statements the screens build as text, run on the tables of
// one database (database/Database.h).
//
// Error codes (EDBEngineError, see core/DbError.h):
//   kSqlSyntax       invalid syntax; the detail names the token
//   kSqlUnknownField unknown column (or table alias) name
//   kSqlTypeMismatch a value that does not fit the column's kind
//   kSqlNoParamValue a parameter without a value
//   kSqlAmbiguous    a column name found in both joined tables
//   DBERR_NOSUCHTABLE unknown table
#include <QDate>
#include <QString>
#include <QVariant>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/db/core/DbError.h"
#include "platform/db/core/Table.h"
#include "platform/db/database/Database.h"

namespace kdb::sql {

enum : int {
    kSqlSyntax = DBERR_SQLSYNTAX,
    kSqlUnknownField = DBERR_SQLUNKNOWNFIELD,
    kSqlTypeMismatch = DBERR_SQLTYPEMISMATCH,
    kSqlNoParamValue = DBERR_SQLNOPARAMVALUE,
    kSqlAmbiguous = DBERR_SQLAMBIGUOUS,
};

// Named parameter values (names without the colon, any case).
class Params {
public:
    void setText(const std::string& name, const QString& value);
    void setInteger(const std::string& name, qint64 value);
    void setDate(const std::string& name, const QDate& value);
    void set(const std::string& name, const QVariant& value);
    void clear() { values_.clear(); }
    bool has(const std::string& name) const;
    QVariant value(const std::string& name) const;
    const std::map<std::string, QVariant>& all() const { return values_; }

private:
    std::map<std::string, QVariant> values_;  // keys upper case
};

// The columns of a result are described as a table's fields are (name,
// type, width, decimals; a column computed from others is a character,
// date or floating-point one).
struct ResultSet {
    std::vector<FieldInfo> columns;
    std::vector<std::vector<QVariant>> rows;
    int columnIndex(const std::string& name) const;  // case-insensitive, -1 when absent
};

struct ExecResult {
    bool isSelect = false;
    ResultSet result;  // rows of a SELECT
    int rowsAffected = 0;  // INSERT, UPDATE, DELETE
    std::string plan;  // how the tables were read
};

class Executor;

// The rows of one SELECT, all read at the first fetch under one hold of
// its tables: the rows of one moment, which another program's statement
// changes wholly or not at all. A row is kept with the bytes of the columns
// it shows (its values are those of that moment). The tables stay open
// while the query lives.
// A dataset's filter "COLUMN='value'" handed to a query: the rows whose
// result column equals the value (a date column's value as dd/mm/yyyy).
struct ColumnFilter {
    std::string column;
    QString value;
};

class Query {
public:
    // Parses the statement and, for a SELECT, opens its tables and plans it;
    // raises what execute() raises for the statement's names and values.
    // Another statement is neither run nor planned (see isSelect()).
    // With a filter, the statement reads only the rows whose column equals
    // the value where it can say so as a condition (a plain character or
    // date column of a statement without MAX; then a tag on that column
    // is used), and all of them otherwise: the caller filters the rows
    // all the same.
    Query(Database& db, const std::string& sqlText, const Params& params = {}, const ColumnFilter* filter = nullptr);
    ~Query();
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    bool isSelect() const;
    const std::vector<FieldInfo>& columns() const;
    // Answers how many rows are read: the first call reads every row (the
    // rows of one moment), whatever `count` asks for.
    size_t fetch(size_t count);
    // Every row has been read.
    bool complete() const;
    // A value of a row already fetched (see Table for the kinds).
    QVariant value(size_t row, int column);
    // How the tables are read (see explain()).
    const std::string& plan() const;
    // The day of a filter on a date column that the statement reads as a
    // condition of its own (its rows are all of that day); null otherwise.
    QDate filterDate() const;

private:
    Params params_;
    std::unique_ptr<Executor> ex_;
};

// Names of the parameters of a statement, in order of first appearance.
std::vector<std::string> parameterNames(const std::string& sqlText);

// Parses and runs one statement on the tables of `db`.
ExecResult execute(Database& db, const std::string& sqlText, const Params& params = {});
// The same on the program's database of `directory` (Database::of).
ExecResult execute(const std::string& directory, const std::string& sqlText, const Params& params = {});

// Describes how a statement would read its tables, without running it:
// one line per table, e.g. "PATIENT: seek tag NOM prefix 'DU'; order by tag NOM".
std::string explain(Database& db, const std::string& sqlText, const Params& params = {});

// Date helpers shared with the datasets.
// Month/day/year text (leading zeros optional) or yyyy-mm-dd; invalid gives a null date.
QDate parseSqlDate(const QString& text);
// Day/month/year text as shown on the screens; invalid gives a null date.
QDate parseDisplayDate(const QString& text);
// Right-trims blanks.
QString trimRight(const QString& s);

}  // namespace kdb::sql
