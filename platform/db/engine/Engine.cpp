#include "platform/db/engine/Engine.h"

#include <algorithm>
#include <cctype>

#include "platform/db/core/File.h"
#include "platform/db/core/Table.h"
#include "platform/db/dbf/DbfTable.h"
#include "platform/db/engine/TableDrivers.h"

#include "platform/db/paradox/ParadoxTable.h"

namespace kdb::engine {

namespace {

std::string upper(std::string s)
{
    for (auto& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// Upper-cased extension with its dot ("" when none).
std::string extensionOf(const std::string& name)
{
    const auto slash = name.find_last_of('/');
    const auto dot = name.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    return upper(name.substr(dot));
}

std::string baseOf(const std::string& name)
{
    const auto slash = name.find_last_of('/');
    std::string b = slash == std::string::npos ? name : name.substr(slash + 1);
    const auto dot = b.find_last_of('.');
    if (dot != std::string::npos)
        b.erase(dot);
    return b;
}

std::string dirOf(const std::string& directory)
{
    return directory.empty() ? std::string(".") : directory;
}

// The table file a directory and name designate.
std::string resolve(
    const std::string& directory, const std::string& tableName, const std::string& driverType, bool& exists)
{
    const std::string dir = dirOf(directory);
    if (!extensionOf(tableName).empty())
        return findFileNoCase(dir, tableName, exists);
    const std::string drv = upper(driverType);
    if (drv == "DBASE")
        return findFileNoCase(dir, tableName + ".DBF", exists);
    if (drv == "PARADOX")
        return findFileNoCase(dir, tableName + ".DB", exists);
    const std::string dbf = findFileNoCase(dir, tableName + ".DBF", exists);
    if (exists)
        return dbf;
    const std::string db = findFileNoCase(dir, tableName + ".DB", exists);
    if (exists)
        return db;
    return dbf;
}

std::string resolve(const std::string& directory, const std::string& tableName, const std::string& driverType)
{
    bool exists = false;
    return resolve(directory, tableName, driverType, exists);
}

bool isParadoxPath(const std::string& path, const std::string& driverType)
{
    const std::string ext = extensionOf(path);
    if (ext == ".DB")
        return true;
    if (ext == ".DBF")
        return false;
    return upper(driverType) == "PARADOX";
}

char letterOf(uint16_t type)
{
    switch (type) {
    case fldZSTRING:
        return 'C';
    case fldDATE:
        return 'D';
    case fldBLOB:
        return 'M';
    case fldBOOL:
        return 'L';
    case fldINT16:
    case fldINT32:
    case fldFLOAT:
    case fldBCD:
        return 'N';
    default:
        return 0;
    }
}

DbfTable::FieldSpec specOf(const std::string& path, const FieldDesc& d)
{
    DbfTable::FieldSpec s;
    s.name = d.name;
    s.type = letterOf(d.type);
    if (s.type == 0)
        throw EDBEngineError::notSupported(
            path, "field " + d.name + ": type " + std::to_string(d.type) + " not supported in a dBASE table");
    switch (d.type) {
    case fldZSTRING:
        s.width = d.units1;
        break;
    case fldINT16:
        s.width = 6;
        s.int16 = true;
        break;
    case fldINT32:
        s.width = 11;
        break;
    case fldFLOAT:
    case fldBCD:
        s.width = d.units1 > 0 ? d.units1 : 20;
        s.decimals = std::max<int>(0, d.units2);
        break;
    default:
        break;
    }
    return s;
}

TagInfo tagOf(const std::string& path, const IndexDesc& d, const std::vector<std::string>& fieldNames)
{
    TagInfo t;
    t.name = upper(d.tagName);
    t.keyExpr = d.keyExpr;
    if (t.keyExpr.empty()) {
        for (uint16_t i = 0; i < d.fieldsInKey && i < kMaxKeyFields; ++i) {
            const uint16_t n = d.keyFields[i];
            if (n < 1 || n > fieldNames.size())
                throw EDBEngineError::invalidParam(path, "index " + d.tagName + ": bad key field number");
            if (!t.keyExpr.empty())
                t.keyExpr += "+";
            t.keyExpr += fieldNames[n - 1];
        }
    }
    if (t.name.empty())
        t.name = upper(baseOf(d.name));
    t.unique = d.unique != 0;
    t.descending = d.descending != 0;
    return t;
}

bool sameName(const std::string& a, const std::string& b)
{
    return upper(a) == upper(b);
}

// Runs f, answering the engine code of what it raised (0 when nothing).
template <class F> int codeOf(F f)
{
    try {
        f();
        return 0;
    } catch (const EDBEngineError& e) {
        return e.code() ? e.code() : DBERR_OPENFAILED;
    } catch (const std::bad_alloc&) {
        return DBERR_OPENFAILED;
    } catch (const std::exception&) {
        return DBERR_OPENFAILED;
    }
}

}  // namespace

// ---- paths -------------------------------------------------------------------------

std::string addPathDelimiter(const std::string& path)
{
    if (path.empty() || path.back() == '/')
        return path;
    return path + "/";
}

bool isAlias(const std::string&)
{
    return false;
}
std::string aliasDirectory(const std::string&)
{
    return {};
}

// ---- opening -----------------------------------------------------------------------

namespace {
// Opens a table file whose existence the caller has just seen.
std::unique_ptr<Table> openExistingFile(
    const std::string& path, const std::string& driverType, const TableOpenMode& mode)
{
    if (isParadoxPath(path, driverType))
        return ParadoxTable::open(path, mode);
    return DbfTable::open(path, mode);
}
}  // namespace

std::unique_ptr<Table> openTableFile(const std::string& path, const std::string& driverType, const TableOpenMode& mode)
{
    if (!fileExists(path))
        throw EDBEngineError::noSuchTable(path);
    return openExistingFile(path, driverType, mode);
}

std::unique_ptr<Table> openTable(const std::string& directory, const std::string& tableName, const OpenOptions& options)
{
    bool exists = false;
    const std::string path = resolve(directory, tableName, options.driverType, exists);
    if (!exists)
        throw EDBEngineError::noSuchTable(path);
    TableOpenMode mode;
    mode.exclusive = options.exclusive;
    mode.readOnly = options.readOnly;
    return openExistingFile(path, options.driverType, mode);
}

int openTableResult(
    const std::string& directory, const std::string& tableName, const std::string& driverType, bool exclusive)
{
    return codeOf([&] {
        const std::string path = resolve(directory, tableName, driverType);
        if (!fileExists(path))
            throw EDBEngineError::noSuchTable(path);
        if (!isParadoxPath(path, driverType)) {
            const int code = DbfTable::probe(path, exclusive);
            if (code != 0)
                throw EDBEngineError(code, path, "table does not open");
            return;
        }
        TableOpenMode mode;
        mode.exclusive = exclusive;
        mode.readOnly = true;
        openTableFile(path, driverType, mode);
    });
}

// ---- descriptors -----------------------------------------------------------------

CursorProps cursorProps(Table& table)
{
    CursorProps p;
    p.tableName = table.fileName();
    p.tableType = table.tableType();
    p.fieldCount = static_cast<uint16_t>(table.fieldCount());
    p.indexCount = static_cast<uint16_t>(table.tags().size());
    p.recordSize = table.recordSize();
    p.exclusive = table.isExclusive();
    p.readOnly = table.isReadOnly();
    return p;
}

std::vector<FieldDesc> fieldDescs(Table& table)
{
    std::vector<FieldDesc> out;
    const auto& fields = table.fields();
    uint16_t offset = 0;
    for (size_t i = 0; i < fields.size(); ++i) {
        const auto& f = fields[i];
        FieldDesc d;
        d.fieldNum = static_cast<uint16_t>(i + 1);
        d.name = f.name;
        d.type = f.type;
        d.subType = f.subType;
        switch (f.type) {
        case fldZSTRING:
            d.units1 = static_cast<int16_t>(f.width);
            break;
        case fldFLOAT:
        case fldBCD:
            d.units1 = static_cast<int16_t>(f.width);
            d.units2 = static_cast<int16_t>(f.decimals);
            break;
        default:
            break;  // date, memo, logical, integers: the width is the type's
        }
        d.offset = offset;
        d.length = static_cast<uint16_t>(f.width);
        offset = static_cast<uint16_t>(offset + f.width);
        out.push_back(d);
    }
    return out;
}

std::vector<IndexDesc> indexDescs(Table& table)
{
    std::vector<IndexDesc> out;
    const auto tags = table.tags();
    const bool dbase = table.tableType() == "DBASE";
    const std::string indexName = upper(baseOf(table.fileName())) + ".MDX";
    for (size_t i = 0; i < tags.size(); ++i) {
        const auto& t = tags[i];
        IndexDesc d;
        d.name = dbase ? indexName : t.name;
        d.indexId = static_cast<uint16_t>(i + 1);
        d.tagName = t.name;
        d.format = "BTREE";
        d.unique = t.unique ? kTrue : 0;
        d.descending = t.descending ? kTrue : 0;
        d.maintained = kTrue;
        d.keyExpr = t.keyExpr;
        d.keyExpType = t.keyType == 'C' ? 513 : t.keyType == 'D' ? 528 : 514;
        const int field = table.fieldIndex(t.keyExpr);
        if (field >= 0) {
            d.expression = 0;
            d.fieldsInKey = 1;
            d.keyFields[0] = static_cast<uint16_t>(field + 1);
        } else {
            d.expression = kTrue;
            d.fieldsInKey = 0;
        }
        if (t.keyType == 'D')
            d.keyLen = 8;
        else if (t.keyType == 'N')
            d.keyLen = 12;
        else {
            int len = 0;
            std::string e = t.keyExpr;
            size_t start = 0;
            for (;;) {
                const size_t plus = e.find('+', start);
                std::string n = e.substr(start, plus == std::string::npos ? std::string::npos : plus - start);
                n.erase(0, n.find_first_not_of(' '));
                n.erase(n.find_last_not_of(' ') + 1);
                const int fi = table.fieldIndex(n);
                if (fi >= 0)
                    len += table.fields()[fi].width;
                if (plus == std::string::npos)
                    break;
                start = plus + 1;
            }
            d.keyLen = static_cast<uint16_t>(len);
        }
        out.push_back(d);
    }
    return out;
}

// ---- maintenance -----------------------------------------------------------------

int regenerateIndexes(Table& table)
{
    auto* dbf = dynamic_cast<DbfTable*>(&table);
    if (!dbf)
        return 0;  // the other table kinds keep their indexes themselves
    if (!dbf->isExclusive())
        return DBERR_NEEDEXCLACCESS;
    return codeOf([&] { dbf->regenerateIndexes(); });
}

void packTable(Table& table, bool regenerate)
{
    auto* dbf = dynamic_cast<DbfTable*>(&table);
    if (!dbf)
        throw EDBEngineError::notSupported(table.filePath(), "only dBASE tables are packed this way");
    if (!dbf->isExclusive())
        throw EDBEngineError::needExclusive(table.filePath(), "pack needs the table opened exclusively");
    dbf->pack();  // rebuilds the tags in any case: the record numbers changed
    (void)regenerate;
}

// ---- creation and restructuring ------------------------------------------------

int createTable(const std::string& directory, const TableDesc& desc)
{
    return codeOf([&] {
        std::string name = desc.tableName;
        std::string ext = extensionOf(name);
        if (ext.empty()) {
            ext = upper(desc.tableType) == "PARADOX" ? ".DB" : ".DBF";
            name += ext;
        }
        const std::string path = findFileNoCase(dirOf(directory), name);
        if (ext == ".DB") {
            ParadoxTable::create(path, desc);
            return;
        }
        if (ext != ".DBF")
            throw EDBEngineError::notSupported(path, "unknown table kind");
        std::vector<DbfTable::FieldSpec> fields;
        std::vector<std::string> names;
        for (const auto& f : desc.fields) {
            if (f.restructOp == crDROP)
                continue;
            fields.push_back(specOf(path, f));
            names.push_back(upper(f.name));
        }
        std::vector<TagInfo> tags;
        for (const auto& i : desc.indexes)
            if (i.restructOp != crDROP)
                tags.push_back(tagOf(path, i, names));
        DbfTable::create(path, fields, tags);
    });
}

int restructureTable(const std::string& directory, const TableDesc& desc, DamageReport* damage)
{
    return codeOf([&] {
        const std::string path = resolve(directory, desc.tableName, desc.tableType);
        if (!fileExists(path))
            throw EDBEngineError::noSuchTable(path);
        if (isParadoxPath(path, desc.tableType)) {
            // Paradox tables keep no deleted records: a pure pack request
            // has nothing to do once the table opens exclusively.
            TableOpenMode mode;
            mode.exclusive = true;
            auto t = openTableFile(path, "PARADOX", mode);
            if (!desc.fields.empty() || !desc.indexes.empty())
                throw EDBEngineError::notSupported(path, "restructuring a Paradox table is not supported");
            return;
        }
        TableOpenMode mode;
        mode.exclusive = true;
        auto table = DbfTable::open(path, mode);
        const auto& existing = table->fields();
        std::vector<DbfTable::FieldSpec> fields;
        std::vector<int> sources;
        std::vector<bool> used(existing.size(), false);
        std::vector<bool> dropped(existing.size(), false);
        auto findExisting = [&](const std::string& name) {
            for (size_t j = 0; j < existing.size(); ++j)
                if (sameName(existing[j].name, name))
                    return static_cast<int>(j);
            return -1;
        };
        auto specOfExisting = [&](size_t j) {
            DbfTable::FieldSpec s;
            const auto& f = existing[j];
            s.name = f.name;
            s.type = f.nativeType == 'F' ? 'N' : f.nativeType;
            s.width = f.width;
            s.decimals = f.decimals;
            s.int16 = f.type == fldINT16;
            return s;
        };
        for (const auto& f : desc.fields) {
            int src = findExisting(f.name);
            if (src < 0 && f.restructOp == crMODIFY && f.fieldNum >= 1 && f.fieldNum <= existing.size())
                src = f.fieldNum - 1;  // renamed column
            if (f.restructOp == crDROP) {
                if (src >= 0)
                    dropped[src] = true;
                continue;
            }
            if (src >= 0)
                used[src] = true;
            if (f.restructOp == crNOOP && src >= 0) {
                fields.push_back(specOfExisting(static_cast<size_t>(src)));
            } else {
                fields.push_back(specOf(path, f));
            }
            sources.push_back(src);
        }
        // Existing columns the request does not name are kept, after the others.
        for (size_t j = 0; j < existing.size(); ++j) {
            if (used[j] || dropped[j])
                continue;
            const char t = existing[j].nativeType;
            if (t != 'C' && t != 'D' && t != 'N' && t != 'F' && t != 'L' && t != 'M')
                throw EDBEngineError::notSupported(
                    path, "column " + existing[j].name + " of a type this engine cannot rewrite");
            fields.push_back(specOfExisting(j));
            sources.push_back(static_cast<int>(j));
        }
        std::vector<std::string> names;
        for (const auto& f : fields)
            names.push_back(upper(f.name));
        // Tags: the existing ones, changed by the index records.
        // Drops first, then additions and changes: a request that drops a
        // tag and adds one of the same name (an index file named another
        // way) ends with the added tag.
        std::vector<TagInfo> tags = table->tags();
        auto tagNameOf = [](const IndexDesc& i) { return upper(i.tagName.empty() ? baseOf(i.name) : i.tagName); };
        for (const auto& i : desc.indexes) {
            if (i.restructOp != crDROP)
                continue;
            const std::string tagName = tagNameOf(i);
            std::erase_if(tags, [&](const TagInfo& t) { return t.name == tagName; });
        }
        for (const auto& i : desc.indexes) {
            if (i.restructOp != crADD && i.restructOp != crMODIFY)
                continue;
            const std::string tagName = tagNameOf(i);
            auto it = std::find_if(tags.begin(), tags.end(), [&](const TagInfo& t) { return t.name == tagName; });
            if (it != tags.end())
                *it = tagOf(path, i, names);
            else
                tags.push_back(tagOf(path, i, names));
        }
        const uint32_t cut = table->restructure(fields, sources, tags, desc.pack, [&](uint32_t) {
            const std::string copy = keepDamagedCopy(path);
            if (damage)
                damage->copyDir = copy;
        });
        if (damage && cut > 0) {
            damage->table = path;
            damage->valuesCut = cut;
            damage->records = table->recordCount();
        }
    });
}

}  // namespace kdb::engine
