#pragma once
// The engine's errors: one registry of result codes, and one exception class
// whose instances are made through named constructors.
//
// Which calls throw and which answer a code:
//   - the probing and maintenance calls of engine/Engine.h that are documented
//     as answering a code (openTableResult, regenerateIndexes, createTable,
//     restructureTable) never throw an EDBEngineError: they answer its code;
//   - everything else (tables, indexes, memo files, local SQL, datasets and
//     the remaining engine calls) throws EDBEngineError.
//
// An error names the file it is about (file(), empty when there is none) and
// carries an English detail for the developer (detail()). The program turns
// the code and the file into the text the user reads; what() is
// "<detail>: <file>" for logs and tests.
#include <stdexcept>
#include <string>
#include <string_view>

namespace kdb {

// Engine result codes.
enum : int {
    DBERR_NONE = 0,
    DBERR_EOF = 8706,  // end of data
    DBERR_RECDELETED = 8708,  // the record was deleted (by another program) since it was read
    DBERR_READERR = 8449,  // a read of a table file failed
    DBERR_WRITEERR = 8450,  // a write (or flush) of a table file failed
    DBERR_HEADERCORRUPT = 8961,  // damaged or foreign table header
    DBERR_FILECORRUPT = 8962,  // damaged record data
    DBERR_MEMOCORRUPT = 8963,  // damaged memo file or memo pointer
    DBERR_INDEXCORRUPT = 8965,  // damaged index file
    DBERR_KEYVIOL = 9729,  // duplicate key in a unique tag
    DBERR_INVALIDPARAM = 9986,  // bad argument (record number, field, value, tag)
    DBERR_INVALIDHNDL = 0x2706,  // invalid handle (a table that is not open)
    DBERR_INVALIDPASSWORD = 10015,  // wrong or missing password for a protected table
    DBERR_NOSUCHINDEX = 0x2720,  // no index (tag) of that name
    DBERR_INVALIDTAG = 0x2721,  // bad index description (name, expression, key length, type)
    DBERR_TOOMANYTAGS = 0x2722,  // the index file holds the most tags it can
    DBERR_DUPTAG = 0x2723,  // an index of that name exists already
    DBERR_READONLY = 0x2724,  // change asked on a file opened read-only
    DBERR_NOSUCHFILE = 0x2726,  // a companion file (index, memo) does not exist
    DBERR_INVALIDKEY = 0x2727,  // key of the wrong size for its index, or record number 0
    DBERR_NOSUCHTABLE = 10024,  // no such table
    DBERR_LOCKED = 10241,  // record or table locked by another program
    DBERR_OPENFAILED = 10242,  // a table file cannot be opened
    DBERR_NOTSUFFTABLERIGHTS = 10243,  // cannot open the file for writing
    DBERR_FILELOCKED = 10245,  // table in use (exclusive open refused)
    DBERR_NEEDEXCLACCESS = 0x280D,  // exclusive access needed
    DBERR_INDEXOUTOFDATE = 12034,  // an index of the table does not match it
    DBERR_NOTSUPPORTED = 12289,  // operation or table kind not supported
    // local SQL
    DBERR_SQLSYNTAX = 11790,  // invalid statement syntax
    DBERR_SQLUNKNOWNFIELD = 11791,  // unknown column (or table alias) name
    DBERR_SQLTYPEMISMATCH = 11792,  // a value that does not fit the column's kind
    DBERR_SQLNOPARAMVALUE = 11793,  // a parameter without a value
    DBERR_SQLAMBIGUOUS = 11794,  // a column name found in both joined tables
};

// One entry of the registry: the code, its symbol and a short English
// description.
struct ErrorKind {
    int code;
    const char* symbol;
    const char* description;
};

// The registry entry of a code; nullptr for a code the engine never raises.
const ErrorKind* findErrorKind(int code);

}  // namespace kdb

// An error of the database engine: its result code, the file it is about and
// a detail.
class EDBEngineError : public std::runtime_error {
public:
    EDBEngineError(int code, std::string file, std::string detail);
    // Older form (a message that names no file apart): being replaced by the
    // named constructors below.
    EDBEngineError(int code, const std::string& message) : EDBEngineError(code, std::string(), message) { }

    int code() const noexcept { return code_; }
    const std::string& file() const noexcept { return file_; }
    const std::string& detail() const noexcept { return detail_; }

    // `err` is an errno value; 0 leaves the system's reason out.
    static EDBEngineError noSuchTable(const std::string& file);
    static EDBEngineError openFailed(const std::string& file, int err, std::string_view what = "cannot open");
    static EDBEngineError notWritable(const std::string& file, int err);
    static EDBEngineError readFailed(const std::string& file, int err, std::string_view what = "read error");
    static EDBEngineError writeFailed(const std::string& file, int err, std::string_view what = "write error");
    static EDBEngineError headerCorrupt(const std::string& file, std::string_view what);
    static EDBEngineError fileCorrupt(const std::string& file, std::string_view what);
    static EDBEngineError memoCorrupt(const std::string& file, std::string_view what);
    static EDBEngineError indexCorrupt(const std::string& file, std::string_view what);
    static EDBEngineError indexOutOfDate(const std::string& file, std::string_view what);
    static EDBEngineError keyViolation(const std::string& file, std::string_view tag);
    static EDBEngineError invalidParam(const std::string& file, std::string_view what);
    static EDBEngineError invalidHandle(std::string_view what);
    static EDBEngineError locked(const std::string& file, std::string_view what);
    static EDBEngineError tableInUse(const std::string& file);
    static EDBEngineError needExclusive(const std::string& file, std::string_view what);
    static EDBEngineError notSupported(const std::string& file, std::string_view what);
    static EDBEngineError endOfData(const std::string& file);
    static EDBEngineError recordDeleted(const std::string& file, std::string_view what);
    // Local SQL: errors of a statement, about no file.
    static EDBEngineError sqlSyntax(std::string_view what);
    static EDBEngineError unknownField(std::string_view name);
    static EDBEngineError unknownTableAlias(std::string_view name);
    static EDBEngineError typeMismatch(std::string_view value, std::string_view column);
    static EDBEngineError noParamValue(std::string_view name);
    static EDBEngineError ambiguousField(std::string_view name);
    static EDBEngineError invalidPassword(const std::string& file);
    static EDBEngineError noSuchFile(const std::string& file);
    static EDBEngineError noSuchIndex(const std::string& file, std::string_view tag);
    static EDBEngineError invalidTag(const std::string& file, std::string_view what);
    static EDBEngineError tooManyTags(const std::string& file);
    static EDBEngineError duplicateTag(const std::string& file, std::string_view tag);
    static EDBEngineError readOnly(const std::string& file);
    static EDBEngineError invalidKey(const std::string& file, std::string_view what);

private:
    int code_;
    std::string file_;
    std::string detail_;
};

// An error of the dataset layer that carries no engine code
// ("Table must be  opened to pack", a field name that does not exist, ...).
class EDatabaseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
