#include "NextCodeDb.h"
#include "NextCode.h"

#include "platform/db/core/File.h"
#include "platform/db/core/Table.h"
#include "platform/db/database/Database.h"
#include "platform/db/dataset/Dataset.h"

#include <cerrno>
#include <memory>

#include <sys/stat.h>

namespace {

// The file the allocation lock is taken on, kept open between codes (its
// path in lockPath), and whether the lock is held.
std::unique_ptr<kdb::File> lockFile;
std::string lockPath;
dev_t lockDevice = 0;  // identity of lockFile (an open file keeps its own)
ino_t lockInode = 0;
bool lockHeld = false;
int allocationTimeoutMs = 15000;

// The key column without a tag on it: its greatest value and each lookup
// through a statement of their own (one pass over the table each, no sort).
class QueryKeyColumn : public KeyColumn {
public:
    QueryKeyColumn(const QString& tableName, const QString& databaseName, const QString& fieldName)
        : table_(tableName), database_(databaseName.toStdString()), field_(fieldName)
    {
    }
    QString LastValue() override
    {
        kdb::QueryDataset query;
        query.setDatabaseName(database_);
        query.setSql(QStringLiteral("SELECT MAX(") + field_ + QStringLiteral(") AS LAST_CODE FROM ") + table_);
        query.open();
        last_ = query.isEmpty() ? QString() : query.field(0).asString().trimmed();
        return last_;
    }
    bool Contains(const QString& value) override
    {
        // The greatest value, just read: taken without another pass over
        // the table (a value stored with blanks before it reads the same
        // here, and is taken for a code that may be free: one code skipped,
        // never one given twice).
        if (!last_.isEmpty() && value == last_)
            return true;
        kdb::QueryDataset query;
        query.setDatabaseName(database_);
        query.setSql(QStringLiteral("SELECT ") + field_ + QStringLiteral(" FROM ") + table_ +
            QStringLiteral(" WHERE ") + field_ + QStringLiteral("=:CODE"));
        query.setParamText("CODE", value);
        query.open();
        for (query.first(); !query.eof(); query.next())
            if (query.field(0).asString() == value)
                return true;
        return false;
    }
    void Abandon() override { ReleaseCodeAllocation(); }

private:
    QString table_;
    std::string database_;
    QString field_;
    QString last_;  // the greatest value LastValue() read
};

// The key column through the table's tag on it: the last key in tag order
// and one seek per lookup.
class TagKeyColumn : public KeyColumn {
public:
    // The few reads of a code are made under one hold of the index.
    TagKeyColumn(std::shared_ptr<kdb::Table> table, std::string tag, int field)
        : table_(std::move(table)), hold_(*table_), tag_(std::move(tag)), field_(field)
    {
    }
    QString LastValue() override
    {
        auto cursor = table_->openTag(tag_);
        const uint32_t rec = cursor->last();
        return rec ? table_->value(rec, field_).toString().trimmed() : QString();
    }
    bool Contains(const QString& value) override
    {
        auto cursor = table_->openTag(tag_);
        // Keys are compared with their trailing blanks; the whole value must
        // match, case included.
        for (uint32_t rec = cursor->seek(value); rec; rec = cursor->next()) {
            const QString stored = table_->value(rec, field_).toString();
            if (stored == value)
                return true;
            if (!stored.startsWith(value))
                return false;
        }
        return false;
    }
    void Abandon() override { ReleaseCodeAllocation(); }

private:
    std::shared_ptr<kdb::Table> table_;
    kdb::IndexReadHold hold_;
    std::string tag_;
    int field_;
};

// Waits for the allocation lock of the table's file and keeps it.
void TakeAllocationLock(const kdb::Table& table)
{
    ReleaseCodeAllocation();
    // kept open only while it is still the file at the table's path (a
    // pack or a restructure puts a new file there)
    struct stat atPath { };
    if (lockFile &&
        (lockPath != table.filePath() || ::stat(lockPath.c_str(), &atPath) != 0 || atPath.st_ino != lockInode ||
            atPath.st_dev != lockDevice))
        lockFile.reset();
    if (!lockFile) {
        auto opened = std::make_unique<kdb::File>(kdb::File::open(table.filePath(), kdb::File::Mode::ReadWrite));
        struct stat kept { };
        if (::fstat(opened->fd(), &kept) != 0)
            throw EDBEngineError::openFailed(table.filePath(), errno, "cannot read the file's identity");
        lockFile = std::move(opened);
        lockPath = table.filePath();
        lockDevice = kept.st_dev;
        lockInode = kept.st_ino;
    }
    if (!lockFile->lockWait(CodeAllocationLockOffset(), 1, true, allocationTimeoutMs))
        throw EDBEngineError::locked(table.filePath(), "code allocation lock held by another program");
    lockHeld = true;
}

// Takes the allocation lock, then opens the key column: through an
// ascending tag whose key is the column alone when the table has one, else
// through the ordered query.
std::unique_ptr<KeyColumn> OpenKeyColumn(
    const QString& tableName, const QString& databaseName, const QString& fieldName)
{
    auto table = kdb::Database::of(databaseName.toStdString()).openTable(tableName.toStdString());
    TakeAllocationLock(*table);
    try {
        const int field = table->fieldIndex(fieldName.toStdString());
        if (field >= 0) {
            for (const kdb::TagInfo& tag : table->tags()) {
                if (!tag.descending && tag.keyType == 'C' &&
                    QString::fromStdString(tag.keyExpr).trimmed().compare(fieldName, Qt::CaseInsensitive) == 0)
                    return std::make_unique<TagKeyColumn>(std::move(table), tag.name, field);
            }
        }
        table.reset();
        return std::make_unique<QueryKeyColumn>(tableName, databaseName, fieldName);
    } catch (...) {
        ReleaseCodeAllocation();
        throw;
    }
}

}  // namespace

quint64 CodeAllocationLockOffset()
{
    return (quint64(1) << 40) + 8;
}

void SetCodeAllocationTimeout(int ms)
{
    allocationTimeoutMs = ms;
}

void ReleaseCodeAllocation()
{
    if (lockHeld && lockFile)
        lockFile->unlock(CodeAllocationLockOffset(), 1);
    lockHeld = false;
}

void TakeCodeAllocation(const QString& TableName, const QString& DatabaseName)
{
    auto table = kdb::Database::of(DatabaseName.toStdString()).openTable(TableName.toStdString());
    TakeAllocationLock(*table);
}

void InstallDatabaseKeyColumns()
{
    SetKeyColumnOpener(&OpenKeyColumn);
}
