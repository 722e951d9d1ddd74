#include "DbCheck.h"

#include <unistd.h>

#include <algorithm>

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include "Descriptor.h"
#include "EnginePaths.h"
#include "platform/db/core/Table.h"
#include "platform/db/engine/Engine.h"

namespace {

constexpr qint64 kAutoIncOffset = 0x49;  // the Paradox header's auto-increment counter

bool truth(uint16_t flag)
{
    return flag != 0;
}

bool sameText(const std::string& a, const std::string& b)
{
    return QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive) == 0;
}

// The index identity: the file-name part of its name and its tag.
bool sameIndexKey(const kdb::IndexDesc& a, const kdb::IndexDesc& b)
{
    return dbcheck::IndexFileName(a.name).compare(dbcheck::IndexFileName(b.name), Qt::CaseInsensitive) == 0 &&
        sameText(a.tagName, b.tagName);
}

QString withoutExtension(const QString& name)
{
    const int dot = name.lastIndexOf(u'.');
    return dot < 0 ? name : name.left(dot);
}

}  // namespace

// ---------------------------------------------------------------------------
// Free helpers

namespace dbcheck {

int FindFieldByName(const std::vector<kdb::FieldDesc>& existing, const kdb::FieldDesc& wanted)
{
    for (size_t j = 0; j < existing.size(); ++j) {
        if (sameText(existing[j].name, wanted.name))
            return static_cast<int>(j);
    }
    return -1;
}

bool SameFieldDesc(const kdb::FieldDesc& a, const kdb::FieldDesc& b)
{
    if (!sameText(a.name, b.name) || a.type != b.type || a.subType != b.subType)
        return false;
    // The engine reports no size for the types whose size the type fixes
    // (date, memo, logical, integers), while the schema writes one for them.
    switch (a.type) {
    case kdb::fldZSTRING:
    case kdb::fldFLOAT:
    case kdb::fldBCD:
        return a.units1 == b.units1 && a.units2 == b.units2;
    default:
        return true;
    }
}

QString IndexFileName(const std::string& indexName)
{
    const QString name = QString::fromStdString(indexName);
    const int cut = std::max(name.lastIndexOf(u'\\'), name.lastIndexOf(u'/'));
    return name.mid(cut + 1);
}

bool SameIndexDesc(const kdb::IndexDesc& a, const kdb::IndexDesc& b)
{
    return sameIndexKey(a, b) && a.keyFields == b.keyFields && truth(a.primary) == truth(b.primary) &&
        truth(a.expression) == truth(b.expression) && truth(a.unique) == truth(b.unique) &&
        truth(a.descending) == truth(b.descending) && truth(a.caseInsensitive) == truth(b.caseInsensitive) &&
        truth(a.subset) == truth(b.subset) && truth(a.outOfDate) == truth(b.outOfDate) &&
        a.fieldsInKey == b.fieldsInKey && sameText(a.format, b.format) && sameText(a.keyExpr, b.keyExpr) &&
        sameText(a.keyCond, b.keyCond);
}

EDBEngineError EngineError(int code, const std::string& file)
{
    const char* text = nullptr;
    switch (code) {
    case kdb::DBERR_NOSUCHTABLE:
        text = "Table does not exist";
        break;
    case kdb::DBERR_NOTSUFFTABLERIGHTS:
        text = "Insufficient table rights: the table file cannot be written";
        break;
    case kdb::DBERR_INDEXOUTOFDATE:
        text = "Index is out of date";
        break;
    case kdb::DBERR_NEEDEXCLACCESS:
        text = "Exclusive access to the table is needed";
        break;
    case kdb::DBERR_FILELOCKED:
        text = "Table is in use";
        break;
    case kdb::DBERR_LOCKED:
        text = "Table or record is locked";
        break;
    case kdb::DBERR_OPENFAILED:
        text = "Table file cannot be opened";
        break;
    case kdb::DBERR_KEYVIOL:
        text = "Key violation";
        break;
    case kdb::DBERR_HEADERCORRUPT:
        text = "Table header is damaged";
        break;
    case kdb::DBERR_FILECORRUPT:
        text = "Table data are damaged";
        break;
    case kdb::DBERR_INDEXCORRUPT:
        text = "Index file is damaged";
        break;
    case kdb::DBERR_WRITEERR:
        text = "Write error on a table file";
        break;
    case kdb::DBERR_READERR:
        text = "Read error on a table file";
        break;
    case kdb::DBERR_INVALIDPARAM:
        text = "Invalid parameter";
        break;
    case kdb::DBERR_NOTSUPPORTED:
        text = "Operation not supported";
        break;
    default:
        break;
    }
    std::string message = text ? text : "Engine error";
    message += " (" + std::to_string(code) + ")";
    return EDBEngineError(code, file, message);
}

}  // namespace dbcheck

// ---------------------------------------------------------------------------
// TDbCheck

TDbCheck::TDbCheck(QObject* owner) : QObject(owner)
{
}

TDbCheck::~TDbCheck() = default;

QString TDbCheck::ReadKeyword() const
{
    if (linePos_ < 0 || linePos_ >= Descriptor.size())
        throw dbcheck::EDescriptorError(linePos_, QStringLiteral("lecture après la fin du texte"));
    return dbcheck::LineKeyword(Descriptor[linePos_]);
}

void TDbCheck::ParseTableDescriptor(uint16_t& fieldCount, uint16_t& indexCount, std::vector<kdb::FieldDesc>& fields,
    std::vector<kdb::IndexDesc>& indexes)
{
    fieldCount = 0;
    indexCount = 0;
    fields.clear();
    indexes.clear();
    dbcheck::TableBlock block;
    if (!dbcheck::ParseTableDescriptor(Descriptor, linePos_, block))
        return;
    fields = std::move(block.fields);
    indexes = std::move(block.indexes);
    fieldCount = static_cast<uint16_t>(fields.size());
    indexCount = static_cast<uint16_t>(indexes.size());
}

QString TDbCheck::GetDisplayTableName(const QString& fileName) const
{
    const QString wanted = withoutExtension(fileName).toUpper();
    const QString delimiters = QStringLiteral("=|");
    for (const QString& line : ReadFiles) {
        const QString first = withoutExtension(dbcheck::ExtractWordN(1, line, delimiters)).toUpper();
        if (first != wanted)
            continue;
        const QString display = dbcheck::ExtractWordN(2, line, delimiters);
        if (!display.isEmpty())
            return display;
    }
    return fileName;
}

void TDbCheck::SetCurrentTable(const QString& directory, const QString& fileName)
{
    directory_ = directory;
    tableFileName_ = fileName;
    tableNameUpper_ = fileName.toUpper();
}

bool TDbCheck::CompareFields(std::vector<kdb::FieldDesc>& wanted, const std::vector<kdb::FieldDesc>& existing)
{
    bool same = true;
    for (size_t i = 0; i < wanted.size(); ++i) {
        kdb::FieldDesc& f = wanted[i];
        const int j = dbcheck::FindFieldByName(existing, f);
        if (j == static_cast<int>(i) && dbcheck::SameFieldDesc(f, existing[static_cast<size_t>(j)])) {
            f.fieldNum = static_cast<uint16_t>(i + 1);
            f.restructOp = kdb::crNOOP;
        } else if (j >= 0) {
            same = false;
            f.fieldNum = static_cast<uint16_t>(j + 1);
            f.restructOp = kdb::crMODIFY;
            if (f.subType == kdb::fldstAUTOINC)
                f.rights = 1;
            if (OnModifyField)
                OnModifyField(this, tableFileName_, QString::fromStdString(f.name));
        } else {
            same = false;
            f.fieldNum = 0;
            f.restructOp = kdb::crADD;
            if (OnAddField)
                OnAddField(this, tableFileName_, QString::fromStdString(f.name));
        }
    }
    return same;
}

bool TDbCheck::CompareIndexes(std::vector<kdb::IndexDesc>& wanted, const std::vector<kdb::IndexDesc>& existing)
{
    bool same = true;
    const size_t declared = wanted.size();
    for (size_t i = 0; i < declared; ++i) {
        kdb::IndexDesc& x = wanted[i];
        int found = -1;
        for (size_t j = 0; j < existing.size() && found < 0; ++j) {
            if (sameIndexKey(existing[j], x))
                found = static_cast<int>(j);
        }
        if (found >= 0) {
            // The engine identifies a kept index by its position among the
            // existing ones.
            x.restructNum = static_cast<uint16_t>(found + 1);
            if (dbcheck::SameIndexDesc(existing[static_cast<size_t>(found)], x)) {
                x.restructOp = kdb::crNOOP;
            } else {
                x.restructOp = kdb::crMODIFY;
                same = false;
            }
        } else {
            x.indexId = 0;
            x.restructNum = 0;
            x.restructOp = kdb::crADD;
            same = false;
        }
    }
    for (size_t j = 0; j < existing.size(); ++j) {
        bool declaredIndex = false;
        for (size_t i = 0; i < declared && !declaredIndex; ++i)
            declaredIndex = sameIndexKey(existing[j], wanted[i]);
        if (declaredIndex)
            continue;
        kdb::IndexDesc drop = existing[j];
        drop.restructNum = static_cast<uint16_t>(j + 1);
        drop.restructOp = kdb::crDROP;
        wanted.push_back(std::move(drop));
        same = false;
    }
    return same;
}

int TDbCheck::CreateTable(const std::vector<kdb::FieldDesc>& fields, const std::vector<kdb::IndexDesc>& indexes)
{
    kdb::TableDesc desc;
    desc.tableName = tableFileName_.toStdString();
    const QString driver = dbcheck::DriverForTable(tableFileName_);
    desc.tableType = driver.isEmpty() ? std::string("DBASE") : driver.toStdString();
    desc.fields = fields;
    for (kdb::FieldDesc& f : desc.fields) {
        f.fieldNum = 0;
        f.restructOp = kdb::crADD;
    }
    desc.indexes = indexes;
    for (kdb::IndexDesc& x : desc.indexes) {
        x.restructNum = 0;
        x.restructOp = kdb::crADD;
    }
    lastError_.reset();
    try {
        return kdb::engine::createTable(directory_.toStdString(), desc);
    } catch (const EDBEngineError& e) {
        lastError_ = e;
        return e.code() != 0 ? e.code() : kdb::DBERR_WRITEERR;
    }
}

int TDbCheck::RestructureTable(const std::vector<kdb::FieldDesc>& fields, const std::vector<kdb::IndexDesc>& indexes)
{
    openWorkingTable();
    kdb::CursorProps props;
    try {
        props = kdb::engine::cursorProps(*table_);
    } catch (...) {
        closeWorkingTable();
        throw;
    }
    closeWorkingTable();

    kdb::TableDesc desc;
    desc.tableName = props.tableName;
    desc.tableType = props.tableType;
    desc.pack = true;
    desc.fields = fields;
    desc.indexes = indexes;
    lastError_.reset();
    try {
        kdb::engine::DamageReport damage;
        const int rc = kdb::engine::restructureTable(directory_.toStdString(), desc, &damage);
        if (damage.damaged())
            reportDamage(damage);
        return rc;
    } catch (const EDBEngineError& e) {
        lastError_ = e;
        return e.code() != 0 ? e.code() : kdb::DBERR_WRITEERR;
    }
}

void TDbCheck::openWorkingTable()
{
    closeWorkingTable();
    kdb::engine::OpenOptions options;
    options.readOnly = true;
    options.driverType = dbcheck::DriverForTable(tableFileName_).toStdString();
    table_ = kdb::engine::openTable(directory_.toStdString(), tableFileName_.toStdString(), options);
}

void TDbCheck::closeWorkingTable()
{
    table_.reset();
}

bool TDbCheck::foundDiff(TChkMessage message, const QString& displayName)
{
    bool correct = true;
    if (OnFoundDiff)
        OnFoundDiff(this, message, displayName, correct);
    return correct;
}

void TDbCheck::reportError(int code)
{
    const EDBEngineError error = lastError_ && lastError_->code() == code
        ? *lastError_
        : dbcheck::EngineError(code, (QDir(directory_).filePath(tableFileName_)).toStdString());
    lastError_.reset();
    if (OnError)
        OnError(this, error);
}

void TDbCheck::reportDamage(const kdb::engine::DamageReport& report)
{
    if (OnDamage)
        OnDamage(this, report);
}

void TDbCheck::repairAutoIncrement(const QString& filePath, const QString& displayName, int64_t lastValue)
{
    QFile in(filePath);
    if (!in.open(QIODevice::ReadOnly))
        return;
    QByteArray bytes;
    if (in.seek(kAutoIncOffset))
        bytes = in.read(4);
    in.close();
    if (bytes.size() != 4)
        return;  // a file too short to hold the counter is left alone
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.constData());
    const int32_t counter =
        static_cast<int32_t>(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24);
    if (counter >= lastValue)
        return;

    if (OnBeforeCheck)
        OnBeforeCheck(this, CHK_AUTOINCREPAIR, displayName);

    // Hold the table exclusively while its header is written: no other
    // program may have it open.
    std::unique_ptr<kdb::Table> exclusive;
    try {
        kdb::engine::OpenOptions options;
        options.exclusive = true;
        options.readOnly = true;
        options.driverType = "PARADOX";
        exclusive = kdb::engine::openTable(directory_.toStdString(), tableFileName_.toStdString(), options);
    } catch (const EDBEngineError&) {
        reportError(kdb::DBERR_NOTSUFFTABLERIGHTS);
        return;
    }
    const uint32_t v = static_cast<uint32_t>(static_cast<int32_t>(lastValue));
    const char out[4] = {char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF), char((v >> 24) & 0xFF)};
    QFile file(filePath);
    bool written = file.open(QIODevice::ReadWrite) && file.seek(kAutoIncOffset) && file.write(out, 4) == 4 &&
        file.flush() && ::fsync(file.handle()) == 0;
    file.close();
    exclusive.reset();
    if (!written)
        reportError(kdb::DBERR_NOTSUFFTABLERIGHTS);
}

void TDbCheck::checkTable(const QString& fileName, const QString& driver, std::vector<kdb::FieldDesc>& fields,
    std::vector<kdb::IndexDesc>& indexes, TChkMessage& result)
{
    const QString displayName = GetDisplayTableName(fileName);
    int code = dbcheck::OpenTableResult(directory_, fileName, driver, false);

    if (code == kdb::DBERR_NOSUCHTABLE) {
        if (!foundDiff(CHK_TABLECREATE, displayName))
            return;
        const int rc = CreateTable(fields, indexes);
        if (rc == 0) {
            result = CHK_TABLECREATE;
            if (OnCreateTable)
                OnCreateTable(this, fileName);
        } else {
            reportError(rc);
        }
        return;
    }
    const bool dbase = driver.isEmpty() || driver == QLatin1String("DBASE");
    if (code != 0 && code != kdb::DBERR_INDEXOUTOFDATE && code != kdb::DBERR_MEMOCORRUPT &&
        !(code == kdb::DBERR_HEADERCORRUPT && dbase)) {
        // A table that does not open for another reason is said so (a table
        // in use elsewhere is not damage: the commands that need it say so).
        if (code != kdb::DBERR_FILELOCKED)
            reportError(code);
        return;
    }

    // A damaged table (a header that cannot be read, short file or records
    // after the count, bad memo pointers, values that do not read, a stale
    // index) is kept as it is in a copy, repaired and reported.
    const kdb::engine::DamageReport damage =
        kdb::engine::repairTable(directory_.toStdString(), fileName.toStdString(), code == kdb::DBERR_INDEXOUTOFDATE);
    if (damage.damaged()) {
        reportDamage(damage);  // a damage left as it was says so too
        if (damage.error == 0)
            code = dbcheck::OpenTableResult(directory_, fileName, driver, false);
    } else if (damage.error != 0 && damage.error != kdb::DBERR_FILELOCKED) {
        reportError(damage.error);  // found damaged, not repaired: said so
    } else if (code == kdb::DBERR_HEADERCORRUPT && damage.error == 0) {
        reportError(code);  // not a table the repair can read
    }
    if (code != 0 && code != kdb::DBERR_INDEXOUTOFDATE)
        return;

    if (code == kdb::DBERR_INDEXOUTOFDATE)
        dbcheck::DeleteTableCompanionFiles(directory_, fileName);

    if (OnBeforeCheck)
        OnBeforeCheck(this, CHK_NONE, displayName);

    std::vector<kdb::FieldDesc> existingFields;
    std::vector<kdb::IndexDesc> existingIndexes;
    bool hasAutoInc = false;
    int64_t lastValue = 0;
    QString filePath;
    openWorkingTable();
    try {
        const kdb::CursorProps props = kdb::engine::cursorProps(*table_);
        existingFields = kdb::engine::fieldDescs(*table_);
        existingIndexes = kdb::engine::indexDescs(*table_);
        filePath = QString::fromStdString(table_->filePath());
        if (QString::fromStdString(props.tableType).compare(QLatin1String("PARADOX"), Qt::CaseInsensitive) == 0) {
            for (size_t i = 0; i < existingFields.size() && !hasAutoInc; ++i) {
                if (existingFields[i].subType != kdb::fldstAUTOINC)
                    continue;
                hasAutoInc = true;
                // The highest value in use: the counter must not fall below it.
                const uint32_t count = table_->recordCount();
                for (uint32_t rec = 1; rec <= count; ++rec) {
                    if (table_->isDeleted(rec))
                        continue;
                    const QVariant v = table_->value(rec, static_cast<int>(i));
                    if (!v.isNull())
                        lastValue = std::max<int64_t>(lastValue, v.toLongLong());
                }
            }
        }
    } catch (...) {
        closeWorkingTable();
        throw;
    }
    closeWorkingTable();

    if (hasAutoInc)
        repairAutoIncrement(filePath, displayName, lastValue);

    const bool fieldsSame = CompareFields(fields, existingFields);
    const bool indexesSame = CompareIndexes(indexes, existingIndexes);
    if (fieldsSame && indexesSame)
        return;
    if (!foundDiff(CHK_TABLEMODIFY, displayName))
        return;
    const int rc = RestructureTable(fields, indexes);
    if (rc == 0) {
        result = CHK_TABLEMODIFY;
        if (OnModifyTable)
            OnModifyTable(this, fileName);
    } else {
        reportError(rc);
    }
}

void TDbCheck::CheckDatabase()
{
    if (running_)
        throw EDatabaseError("The table check is already running");
    running_ = true;
    struct Running {
        TDbCheck* self;
        ~Running()
        {
            self->closeWorkingTable();
            self->running_ = false;
        }
    } running{this};

    // The whole text is read first: a Descriptor outside the grammar changes nothing.
    const std::vector<dbcheck::TableBlock> blocks = dbcheck::ParseDescriptor(Descriptor);

    linePos_ = 0;
    QString directory = CorrectPath;
    if (kdb::engine::isAlias(CorrectPath.toStdString()))
        directory = dbcheck::GetAliasDirectory(CorrectPath);

    for (const dbcheck::TableBlock& block : blocks) {
        linePos_ = block.tableLine;
        SetCurrentTable(directory, block.fileName);
        std::vector<kdb::FieldDesc> fields = block.fields;
        std::vector<kdb::IndexDesc> indexes = block.indexes;
        linePos_ = block.endLine;
        TChkMessage result = CHK_NONE;
        checkTable(block.fileName, dbcheck::DriverForTable(block.fileName), fields, indexes, result);
        linePos_ = block.endLine + 1;
        if (OnAfterCheck)
            OnAfterCheck(this, result, GetDisplayTableName(block.fileName));
        // The window stays alive between tables.
        QCoreApplication::processEvents();
    }
    if (OnComplete)
        OnComplete(this);
}
