#pragma once
// Local SQL: the statements the screens build as text, run on the tables of
// one directory.
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
#include <string>
#include <vector>

#include "core/DbError.h"
#include "sql/Source.h"

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

struct ResultColumn {
    std::string name;
    uint16_t type = fldZSTRING;
    uint16_t subType = fldstNONE;
    int width = 0;
    int decimals = 0;
};

struct ResultSet {
    std::vector<ResultColumn> columns;
    std::vector<std::vector<QVariant>> rows;
    int columnIndex(const std::string& name) const;  // case-insensitive, -1 when absent
};

struct ExecResult {
    bool isSelect = false;
    ResultSet result;        // rows of a SELECT
    int rowsAffected = 0;    // INSERT, UPDATE, DELETE
    std::string plan;        // how the tables were read
};

// Names of the parameters of a statement, in order of first appearance.
std::vector<std::string> parameterNames(const std::string& sqlText);

// Parses and runs one statement on the tables of `directory`.
ExecResult execute(const std::string& directory, const std::string& sqlText,
                   const Params& params = {}, const Catalog& catalog = Catalog::instance());

// Describes how a statement would read its tables, without running it:
// one line per table, e.g. "PATIENT: seek tag NOM prefix 'DU'; order by tag NOM".
std::string explain(const std::string& directory, const std::string& sqlText,
                    const Params& params = {}, const Catalog& catalog = Catalog::instance());

// Date helpers shared with the datasets.
// Month/day/year text (leading zeros optional) or yyyy-mm-dd; invalid gives a null date.
QDate parseSqlDate(const QString& text);
// Day/month/year text as shown on the screens; invalid gives a null date.
QDate parseDisplayDate(const QString& text);
// Right-trims blanks.
QString trimRight(const QString& s);

}  // namespace kdb::sql
