#include "platform/db/core/DbError.h"
#include "platform/os/SystemError.h"

#include <iterator>

namespace kdb {

namespace {
constexpr ErrorKind kKinds[] = {
    {DBERR_NONE, "DBERR_NONE", "no error"},
    {DBERR_EOF, "DBERR_EOF", "end of data"},
    {DBERR_RECDELETED, "DBERR_RECDELETED", "record deleted"},
    {DBERR_READERR, "DBERR_READERR", "read error"},
    {DBERR_WRITEERR, "DBERR_WRITEERR", "write error"},
    {DBERR_HEADERCORRUPT, "DBERR_HEADERCORRUPT", "damaged or foreign table header"},
    {DBERR_FILECORRUPT, "DBERR_FILECORRUPT", "damaged record data"},
    {DBERR_MEMOCORRUPT, "DBERR_MEMOCORRUPT", "damaged memo file or memo pointer"},
    {DBERR_INDEXCORRUPT, "DBERR_INDEXCORRUPT", "damaged index file"},
    {DBERR_KEYVIOL, "DBERR_KEYVIOL", "duplicate key in a unique index"},
    {DBERR_INVALIDPARAM, "DBERR_INVALIDPARAM", "invalid parameter"},
    {DBERR_INVALIDHNDL, "DBERR_INVALIDHNDL", "invalid handle"},
    {DBERR_INVALIDPASSWORD, "DBERR_INVALIDPASSWORD", "invalid password"},
    {DBERR_NOSUCHINDEX, "DBERR_NOSUCHINDEX", "no such index"},
    {DBERR_INVALIDTAG, "DBERR_INVALIDTAG", "invalid index description"},
    {DBERR_TOOMANYTAGS, "DBERR_TOOMANYTAGS", "too many indexes in one file"},
    {DBERR_DUPTAG, "DBERR_DUPTAG", "an index of that name exists"},
    {DBERR_READONLY, "DBERR_READONLY", "file opened read-only"},
    {DBERR_NOSUCHFILE, "DBERR_NOSUCHFILE", "no such file"},
    {DBERR_INVALIDKEY, "DBERR_INVALIDKEY", "invalid key"},
    {DBERR_NOSUCHTABLE, "DBERR_NOSUCHTABLE", "no such table"},
    {DBERR_LOCKED, "DBERR_LOCKED", "record or table locked"},
    {DBERR_OPENFAILED, "DBERR_OPENFAILED", "cannot open"},
    {DBERR_NOTSUFFTABLERIGHTS, "DBERR_NOTSUFFTABLERIGHTS", "cannot open for writing"},
    {DBERR_FILELOCKED, "DBERR_FILELOCKED", "table in use"},
    {DBERR_NEEDEXCLACCESS, "DBERR_NEEDEXCLACCESS", "exclusive access needed"},
    {DBERR_INDEXOUTOFDATE, "DBERR_INDEXOUTOFDATE", "index out of date"},
    {DBERR_NOTSUPPORTED, "DBERR_NOTSUPPORTED", "not supported"},
    {DBERR_SQLSYNTAX, "DBERR_SQLSYNTAX", "invalid SQL syntax"},
    {DBERR_SQLUNKNOWNFIELD, "DBERR_SQLUNKNOWNFIELD", "unknown field name"},
    {DBERR_SQLTYPEMISMATCH, "DBERR_SQLTYPEMISMATCH", "type mismatch in expression"},
    {DBERR_SQLNOPARAMVALUE, "DBERR_SQLNOPARAMVALUE", "no value for parameter"},
    {DBERR_SQLAMBIGUOUS, "DBERR_SQLAMBIGUOUS", "ambiguous field name"},
};

std::string compose(const std::string& file, const std::string& detail)
{
    if (file.empty())
        return detail;
    if (detail.empty())
        return file;
    return detail + ": " + file;
}

std::string withReason(std::string_view what, int err)
{
    std::string s(what);
    if (err != 0) {
        s += " (";
        s += kos::SystemErrorText(err);
        s += ")";
    }
    return s;
}
}  // namespace

const ErrorKind* findErrorKind(int code)
{
    for (const ErrorKind& k : kKinds)
        if (k.code == code)
            return &k;
    return nullptr;
}

}  // namespace kdb

using namespace kdb;

EDBEngineError::EDBEngineError(int code, std::string file, std::string detail)
    : std::runtime_error(compose(file, detail)), code_(code), file_(std::move(file)), detail_(std::move(detail))
{
}

EDBEngineError EDBEngineError::noSuchTable(const std::string& file)
{
    return {DBERR_NOSUCHTABLE, file, "no such table"};
}
EDBEngineError EDBEngineError::openFailed(const std::string& file, int err, std::string_view what)
{
    return {DBERR_OPENFAILED, file, withReason(what, err)};
}
EDBEngineError EDBEngineError::notWritable(const std::string& file, int err)
{
    return {DBERR_NOTSUFFTABLERIGHTS, file, withReason("cannot open for writing", err)};
}
EDBEngineError EDBEngineError::readFailed(const std::string& file, int err, std::string_view what)
{
    return {DBERR_READERR, file, withReason(what, err)};
}
EDBEngineError EDBEngineError::writeFailed(const std::string& file, int err, std::string_view what)
{
    return {DBERR_WRITEERR, file, withReason(what, err)};
}
EDBEngineError EDBEngineError::headerCorrupt(const std::string& file, std::string_view what)
{
    return {DBERR_HEADERCORRUPT, file, std::string(what)};
}
EDBEngineError EDBEngineError::fileCorrupt(const std::string& file, std::string_view what)
{
    return {DBERR_FILECORRUPT, file, std::string(what)};
}
EDBEngineError EDBEngineError::memoCorrupt(const std::string& file, std::string_view what)
{
    return {DBERR_MEMOCORRUPT, file, std::string(what)};
}
EDBEngineError EDBEngineError::indexCorrupt(const std::string& file, std::string_view what)
{
    return {DBERR_INDEXCORRUPT, file, std::string(what)};
}
EDBEngineError EDBEngineError::indexOutOfDate(const std::string& file, std::string_view what)
{
    return {DBERR_INDEXOUTOFDATE, file, std::string(what)};
}
EDBEngineError EDBEngineError::keyViolation(const std::string& file, std::string_view tag)
{
    return {DBERR_KEYVIOL, file, "duplicate key in the unique index " + std::string(tag)};
}
EDBEngineError EDBEngineError::invalidParam(const std::string& file, std::string_view what)
{
    return {DBERR_INVALIDPARAM, file, std::string(what)};
}
EDBEngineError EDBEngineError::invalidHandle(std::string_view what)
{
    return {DBERR_INVALIDHNDL, std::string(), std::string(what)};
}
EDBEngineError EDBEngineError::locked(const std::string& file, std::string_view what)
{
    return {DBERR_LOCKED, file, std::string(what)};
}
EDBEngineError EDBEngineError::tableInUse(const std::string& file)
{
    return {DBERR_FILELOCKED, file, "table in use"};
}
EDBEngineError EDBEngineError::needExclusive(const std::string& file, std::string_view what)
{
    return {DBERR_NEEDEXCLACCESS, file, std::string(what)};
}
EDBEngineError EDBEngineError::notSupported(const std::string& file, std::string_view what)
{
    return {DBERR_NOTSUPPORTED, file, std::string(what)};
}
EDBEngineError EDBEngineError::endOfData(const std::string& file)
{
    return {DBERR_EOF, file, "end of data"};
}
EDBEngineError EDBEngineError::recordDeleted(const std::string& file, std::string_view what)
{
    return {DBERR_RECDELETED, file, std::string(what)};
}
EDBEngineError EDBEngineError::sqlSyntax(std::string_view what)
{
    return {DBERR_SQLSYNTAX, std::string(), "Invalid SQL syntax: " + std::string(what)};
}
EDBEngineError EDBEngineError::unknownField(std::string_view name)
{
    return {DBERR_SQLUNKNOWNFIELD, std::string(), "Invalid field name: " + std::string(name)};
}
EDBEngineError EDBEngineError::unknownTableAlias(std::string_view name)
{
    return {DBERR_SQLUNKNOWNFIELD, std::string(), "Unknown table or alias: " + std::string(name)};
}
EDBEngineError EDBEngineError::typeMismatch(std::string_view value, std::string_view column)
{
    return {DBERR_SQLTYPEMISMATCH, std::string(),
        "Type mismatch in expression: '" + std::string(value) + "' for " + std::string(column)};
}
EDBEngineError EDBEngineError::noParamValue(std::string_view name)
{
    return {DBERR_SQLNOPARAMVALUE, std::string(), "No value for parameter: " + std::string(name)};
}
EDBEngineError EDBEngineError::ambiguousField(std::string_view name)
{
    return {DBERR_SQLAMBIGUOUS, std::string(), "Ambiguous field name: " + std::string(name)};
}
EDBEngineError EDBEngineError::invalidPassword(const std::string& file)
{
    return {DBERR_INVALIDPASSWORD, file, "invalid password"};
}
EDBEngineError EDBEngineError::noSuchFile(const std::string& file)
{
    return {DBERR_NOSUCHFILE, file, "no such file"};
}
EDBEngineError EDBEngineError::noSuchIndex(const std::string& file, std::string_view tag)
{
    return {DBERR_NOSUCHINDEX, file, "no such index " + std::string(tag)};
}
EDBEngineError EDBEngineError::invalidTag(const std::string& file, std::string_view what)
{
    return {DBERR_INVALIDTAG, file, std::string(what)};
}
EDBEngineError EDBEngineError::tooManyTags(const std::string& file)
{
    return {DBERR_TOOMANYTAGS, file, "too many indexes (47 at most)"};
}
EDBEngineError EDBEngineError::duplicateTag(const std::string& file, std::string_view tag)
{
    return {DBERR_DUPTAG, file, "the index " + std::string(tag) + " exists already"};
}
EDBEngineError EDBEngineError::readOnly(const std::string& file)
{
    return {DBERR_READONLY, file, "opened read-only"};
}
EDBEngineError EDBEngineError::invalidKey(const std::string& file, std::string_view what)
{
    return {DBERR_INVALIDKEY, file, std::string(what)};
}
