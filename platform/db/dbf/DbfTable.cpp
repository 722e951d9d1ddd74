#include "dbf/DbfTable.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <ctime>
#include <functional>

#include <mutex>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDate>

#include "core/Codepage.h"
#include "mdx/MdxFile.h"

namespace kdb {

namespace {

constexpr uint8_t kLanguageDriver = 0x57;
constexpr char kInt16Marker = 'S';
constexpr size_t kInt16MarkerOffset = 24;
constexpr size_t kCacheBytes = 64 * 1024;

uint32_t le32(const unsigned char* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
uint16_t le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
void put32(unsigned char* p, uint32_t v)
{
    p[0] = v & 0xFF; p[1] = (v >> 8) & 0xFF; p[2] = (v >> 16) & 0xFF; p[3] = (v >> 24) & 0xFF;
}
void put16(unsigned char* p, uint16_t v) { p[0] = v & 0xFF; p[1] = (v >> 8) & 0xFF; }

std::string upper(std::string s)
{
    for (auto& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string_view trimRight(std::string_view s)
{
    // eight bytes at a time: wide character fields are mostly blanks
    size_t n = s.size();
    while (n >= 8) {
        uint64_t w;
        std::memcpy(&w, s.data() + n - 8, 8);
        if ((w & 0xDFDFDFDFDFDFDFDFull) != 0)  // a byte other than ' ' or NUL
            break;
        n -= 8;
    }
    while (n > 0 && (s[n - 1] == ' ' || s[n - 1] == '\0'))
        --n;
    return s.substr(0, n);
}

std::string_view trim(std::string_view s)
{
    s = trimRight(s);
    while (!s.empty() && (s.front() == ' ' || s.front() == '\0'))
        s.remove_prefix(1);
    return s;
}

[[noreturn]] void headerCorrupt(const std::string& path, const std::string& what)
{
    throw EDBEngineError(DBERR_HEADERCORRUPT, "Damaged or foreign table file '" + path + "': " + what);
}

void todayBytes(unsigned char* p)
{
    const std::time_t t = std::time(nullptr);
    std::tm tm {};
    localtime_r(&t, &tm);
    p[0] = static_cast<unsigned char>(std::clamp(tm.tm_year, 0, 255));
    p[1] = static_cast<unsigned char>(tm.tm_mon + 1);
    p[2] = static_cast<unsigned char>(tm.tm_mday);
}

mdx::KeyType keyTypeOf(char c)
{
    return c == 'D' ? mdx::KeyType::Date : c == 'N' ? mdx::KeyType::Numeric : mdx::KeyType::Character;
}

QDate parseDate(std::string_view s)
{
    if (s.size() != 8)
        return {};
    int v[3] = {0, 0, 0};
    const int len[3] = {4, 2, 2};
    size_t pos = 0;
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < len[k]; ++i, ++pos) {
            if (s[pos] < '0' || s[pos] > '9')
                return {};
            v[k] = v[k] * 10 + (s[pos] - '0');
        }
    return QDate(v[0], v[1], v[2]);
}

// Text of a date the user may give: "yyyyMMdd", "yyyy-MM-dd", "dd/MM/yyyy".
QDate dateFromText(const QString& t)
{
    for (const char* f : {"yyyyMMdd", "yyyy-MM-dd", "dd/MM/yyyy", "d/M/yyyy"}) {
        const QDate d = QDate::fromString(t, QString::fromLatin1(f));
        if (d.isValid())
            return d;
    }
    return {};
}

}  // namespace

// ---- header lock -------------------------------------------------------------
// A change (exclusive): waits until no other program holds the table lock,
// then holds the header exclusively while the count, the records and the
// index change. A read of the index (shared): holds the header shared so
// that no change is seen half done. Nothing is taken on an exclusive open
// (nobody else is there).
class DbfTable::HeaderLock {
public:
    HeaderLock(DbfTable& t, bool exclusive) : t_(t)
    {
        if (t.readHold_ > 0) {
            // The batch of reads holds the header already; a change in the
            // middle of it would give the hold away.
            if (exclusive && t.file_.writable())
                throw EDBEngineError(DBERR_LOCKED, "Table is being read in a batch: " + t.path_);
            return;
        }
        if (t.mode_.exclusive)
            return;
        const bool write = exclusive && t.file_.writable();
        if (write && !t.tableLocked_) {
            if (!t.file_.lockWait(kLockTable, 1, false, lockTimeoutMs_))
                throw EDBEngineError(DBERR_LOCKED, "Table is locked by another user: " + t.path_);
            tableHeld_ = true;
        }
        // Through the turnstile: a program that changes the table again and
        // again cannot keep one that waits from its turn.
        const bool turn = t.file_.writable();
        if (turn && !t.file_.lockWait(kLockTurn, 1, true, lockTimeoutMs_)) {
            release();
            throw EDBEngineError(DBERR_LOCKED, "Table is locked by another user: " + t.path_);
        }
        const bool got = t.file_.lockWait(kLockHeader, 1, write, lockTimeoutMs_);
        if (turn)
            t.file_.unlock(kLockTurn, 1);
        if (!got) {
            release();
            throw EDBEngineError(DBERR_LOCKED, "Table is locked by another user: " + t.path_);
        }
        headerHeld_ = true;
        if (t.mdx_)
            t.mdx_->setLockedByCaller(true);
    }
    ~HeaderLock() { release(); }
    bool holds() const { return headerHeld_; }
    HeaderLock(const HeaderLock&) = delete;
    HeaderLock& operator=(const HeaderLock&) = delete;

private:
    void release()
    {
        if (headerHeld_ && t_.mdx_)
            t_.mdx_->setLockedByCaller(false);
        if (headerHeld_)
            t_.file_.unlock(kLockHeader, 1);
        if (tableHeld_)
            t_.file_.unlock(kLockTable, 1);
        headerHeld_ = tableHeld_ = false;
    }
    DbfTable& t_;
    bool tableHeld_ = false;
    bool headerHeld_ = false;
};

// What a change of one existing record holds while it runs: the header
// lock, a fresh record count, and the record's own lock unless this table
// already holds it (released first, when the change is done).
class DbfTable::RecordWrite {
public:
    RecordWrite(DbfTable& t, uint32_t recNo) : t_(t), recNo_(recNo), header_(writable(t), true)
    {
        t.refreshCount();
        t.checkRecNo(recNo);
        t.lockForWrite(recNo, took_);
    }
    ~RecordWrite()
    {
        if (took_)
            t_.file_.unlock(kLockRecord + recNo_, 1);
    }
    RecordWrite(const RecordWrite&) = delete;
    RecordWrite& operator=(const RecordWrite&) = delete;

private:
    static DbfTable& writable(DbfTable& t)
    {
        t.checkWritable();
        return t;
    }
    DbfTable& t_;
    uint32_t recNo_;
    HeaderLock header_;
    bool took_ = false;
};

// ---- open / create ---------------------------------------------------------------

std::unique_ptr<DbfTable> DbfTable::open(const std::string& path, const TableOpenMode& mode)
{
    std::unique_ptr<DbfTable> t(new DbfTable);
    t->path_ = path;
    t->mode_ = mode;
    // Read-write when the file allows it (write locks need it), even for a
    // read-only open; a file that only opens for reading gives a read-only table.
    t->file_ = File::tryOpen(path, File::Mode::ReadWrite);
    if (!t->file_.isOpen())
        t->file_ = File::open(path, File::Mode::ReadOnly);
    // The open mode lock first: an exclusive open of another program wins.
    bool ok = mode.exclusive ? t->file_.tryLock(kLockOpen, 1, true) : t->file_.tryLock(kLockOpen, 1, false);
    if (!ok)
        throw EDBEngineError(DBERR_FILELOCKED, "Table in use: " + path);
    t->readHeader(true);
    // Memo file.
    bool hasMemo = false;
    for (const auto& f : t->fields_)
        if (f.nativeType == 'M' || f.nativeType == 'B' || f.nativeType == 'G')
            hasMemo = true;
    if (hasMemo) {
        const std::string dbtPath = companionPath(path, ".DBT");
        if (!fileExists(dbtPath))
            throw EDBEngineError(DBERR_MEMOCORRUPT, "Memo file missing: " + dbtPath);
        const bool oldLayout = !t->level7_ && (t->version_ & 0x08) == 0;
        t->dbt_ = DbtFile::open(dbtPath, oldLayout ? DbtFile::Layout::Old : DbtFile::Layout::New,
                                t->file_.writable());
    }
    t->openIndex();
    return t;
}

void DbfTable::readHeader(bool checkRebuild)
{
    unsigned char h[32];
    // Size and identity in one call (the identity of an open file never changes).
    struct stat fst {};
    if (::fstat(file_.fd(), &fst) != 0)
        throw EDBEngineError(DBERR_READERR, "Cannot read the size of " + path_);
    const uint64_t fsize = static_cast<uint64_t>(fst.st_size);
    fileDev_ = static_cast<uint64_t>(fst.st_dev);
    fileIno_ = static_cast<uint64_t>(fst.st_ino);
    // The header with its field descriptions in one read as a rule.
    std::string hdr(static_cast<size_t>(std::min<uint64_t>(fsize, 2048)), '\0');
    const size_t got = hdr.empty() ? 0 : file_.readAt(0, hdr.data(), hdr.size());
    if (got < 32)
        headerCorrupt(path_, "file too short");
    std::memcpy(h, hdr.data(), 32);
    dropMap();
    version_ = h[0];
    const int level = version_ & 0x07;
    if (level != 3 && level != 4)
        headerCorrupt(path_, "not a dBASE table (version byte " + std::to_string(version_) + ")");
    level7_ = level == 4;
    if (checkRebuild && h[14] == 1 && h[28] != 0 && fileExists(indexPath()))
        throw EDBEngineError(DBERR_INDEXOUTOFDATE, "Index rebuild was interrupted: " + indexPath());
    mdxFlag_ = h[28];
    count_ = le32(h + 4);
    headerLen_ = le16(h + 8);
    recLen_ = le16(h + 10);
    const size_t descStart = level7_ ? 68 : 32;
    const size_t descLen = level7_ ? 48 : 32;
    if (headerLen_ < descStart + 1 || headerLen_ > fsize)
        headerCorrupt(path_, "bad header length");
    if (recLen_ < 2)
        headerCorrupt(path_, "bad record length");
    if (headerLen_ <= got)
        hdr.resize(headerLen_);
    else {
        hdr.assign(headerLen_, '\0');
        file_.readExact(0, hdr.data(), hdr.size(), DBERR_HEADERCORRUPT);
    }
    fields_.clear();
    int16_.clear();
    size_t off = 1;
    for (size_t p = descStart; p + descLen <= headerLen_ && hdr[p] != 0x0D; p += descLen) {
        const auto* d = reinterpret_cast<const unsigned char*>(hdr.data() + p);
        FieldInfo f;
        const size_t nameMax = level7_ ? 32 : 11;
        size_t n = 0;
        while (n < nameMax && d[n] != 0)
            ++n;
        f.name = upper(std::string(trim(std::string_view(reinterpret_cast<const char*>(d), n))));
        f.nativeType = static_cast<char>(std::toupper(d[level7_ ? 32 : 11]));
        f.width = level7_ ? d[33] : d[16];
        f.decimals = level7_ ? d[34] : d[17];
        if (f.nativeType == 'C' && !level7_)
            f.width = d[16] | (d[17] << 8), f.decimals = 0;  // long character fields use both bytes
        if (f.width <= 0)
            headerCorrupt(path_, "field " + f.name + " has no width");
        f.offset = static_cast<int>(off);
        off += static_cast<size_t>(f.width);
        bool isInt16 = false;
        switch (f.nativeType) {
        case 'C': f.type = fldZSTRING; break;
        case 'D': f.type = fldDATE; if (f.width != 8) headerCorrupt(path_, "bad date width"); break;
        case 'L': f.type = fldBOOL; break;
        case 'M': f.type = fldBLOB; f.subType = fldstMEMO; break;
        case 'B': case 'G': f.type = fldBLOB; break;
        case 'N': case 'F':
            isInt16 = !level7_ && f.decimals == 0 && f.width <= 6 && d[kInt16MarkerOffset] == kInt16Marker;
            f.type = isInt16 ? fldINT16 : fldFLOAT;
            if (f.width > 32 || f.decimals >= f.width + 1)
                headerCorrupt(path_, "bad numeric field " + f.name);
            break;
        case 'I': f.type = fldINT32; if (f.width != 4) headerCorrupt(path_, "bad integer width"); break;
        case '+': f.type = fldINT32; f.subType = fldstAUTOINC; if (f.width != 4) headerCorrupt(path_, "bad integer width"); break;
        case 'O': f.type = fldFLOAT; if (f.width != 8) headerCorrupt(path_, "bad double width"); break;
        case '@': f.type = fldTIMESTAMP; if (f.width != 8) headerCorrupt(path_, "bad timestamp width"); break;
        default: f.type = fldUNKNOWN; break;
        }
        fields_.push_back(std::move(f));
        int16_.push_back(isInt16);
    }
    if (fields_.empty())
        headerCorrupt(path_, "no fields");
    if (off > recLen_)
        headerCorrupt(path_, "fields wider than the record");
    // Trust the count only as far as the file holds whole records.
    const uint64_t fit = fsize > headerLen_ ? (fsize - headerLen_) / recLen_ : 0;
    if (count_ > fit)
        count_ = static_cast<uint32_t>(fit);
    invalidateCache();
}

std::string DbfTable::indexPath() const { return companionPath(path_, ".MDX"); }

void DbfTable::openIndex()
{
    mdx_.reset();
    tags_.clear();
    const unsigned char flag = mdxFlag_;   // read with the header just before
    const std::string ipath = indexPath();
    if (flag == 0)
        return;
    try {
        HeaderLock lock(*this, false);
        try {
            mdx_ = mdx::MdxFile::open(ipath, file_.writable() && !mode_.readOnly ? mdx::MdxFile::Mode::ReadWrite
                                                                                   : mdx::MdxFile::Mode::ReadOnly);
        } catch (const EDBEngineError& e) {
            if (e.code() == DBERR_NOSUCHFILE)
                return;   // no index file: the table opens without tags
            throw;
        }
        if (lock.holds())
            mdx_->setLockedByCaller(true, true);  // just read under this lock
        std::vector<TagInfo> specs;
        for (const auto& s : mdx_->tags()) {
            TagInfo ti;
            ti.name = upper(s.name);
            ti.keyExpr = s.expression;
            ti.keyType = static_cast<char>(s.type);
            ti.unique = s.unique;
            ti.descending = s.descending;
            if (!s.forExpression.empty())
                throw EDBEngineError(DBERR_INDEXOUTOFDATE, "Tag " + ti.name + " has a condition");
            specs.push_back(ti);
        }
        std::vector<Tag> compiled;
        compileTags(specs, compiled);
        const auto stored = mdx_->tags();
        for (size_t i = 0; i < compiled.size(); ++i) {
            const auto& c = compiled[i];
            const int len = stored[i].keyLength;
            if (keyTypeOf(c.info.keyType) != stored[i].type || (len != 0 && len != c.keyLen))
                throw EDBEngineError(DBERR_INDEXOUTOFDATE, "Tag " + c.info.name + " does not match the table");
        }
        tags_ = std::move(compiled);
    } catch (const EDBEngineError& e) {
        mdx_.reset();
        tags_.clear();
        if (e.code() == DBERR_LOCKED)
            throw;
        throw EDBEngineError(DBERR_INDEXOUTOFDATE,
                             "Index out of date: " + ipath + " (" + e.what() + ")");
    }
}

DbfTable::Tag DbfTable::compileTag(const std::vector<FieldInfo>& fields, const TagInfo& info)
{
    Tag t;
    t.info = info;
    t.info.name = upper(info.name);
    if (t.info.name.empty() || t.info.name.size() > 10)
        throw EDBEngineError(DBERR_INVALIDPARAM, "Bad tag name '" + info.name + "'");
    // Split "A+B+C", blanks allowed around the names.
    std::string expr = upper(info.keyExpr);
    size_t start = 0;
    for (;;) {
        const size_t plus = expr.find('+', start);
        std::string name(trim(std::string_view(expr).substr(start, plus == std::string::npos ? std::string::npos : plus - start)));
        int idx = -1;
        for (size_t i = 0; i < fields.size(); ++i)
            if (fields[i].name == name)
                idx = static_cast<int>(i);
        if (idx < 0)
            throw EDBEngineError(DBERR_INVALIDPARAM,
                                 "Tag " + t.info.name + ": key expression '" + info.keyExpr + "' names no field of the table");
        const char nt = fields[idx].nativeType;
        if (nt != 'C' && nt != 'D' && nt != 'N' && nt != 'F' && nt != 'L')
            throw EDBEngineError(DBERR_INVALIDPARAM, "Tag " + t.info.name + ": field " + name + " cannot be a key");
        t.fields.push_back(idx);
        if (plus == std::string::npos)
            break;
        start = plus + 1;
    }
    if (t.fields.size() == 1 && fields[t.fields[0]].nativeType == 'D') {
        t.info.keyType = 'D';
        t.keyLen = mdx::kDateKeyLen;
    } else if (t.fields.size() == 1 && (fields[t.fields[0]].nativeType == 'N' || fields[t.fields[0]].nativeType == 'F')) {
        t.info.keyType = 'N';
        t.keyLen = mdx::kNumericKeyLen;
    } else {
        t.info.keyType = 'C';
        int len = 0;
        for (int f : t.fields)
            len += fields[f].width;
        if (len > mdx::kMaxCharKeyLen)
            throw EDBEngineError(DBERR_INVALIDPARAM, "Tag " + t.info.name + ": key longer than 100 bytes");
        t.keyLen = len;
    }
    return t;
}

void DbfTable::compileTags(const std::vector<TagInfo>& specs, std::vector<Tag>& out) const
{
    out.clear();
    for (const auto& s : specs)
        out.push_back(compileTag(fields_, s));
}

namespace {
// The header of a new level IV table.
std::string newHeader(const std::vector<DbfTable::FieldSpec>& fields, bool memo, bool indexed,
                      const std::vector<std::string>& keyFields, bool oldMemoLayout, uint32_t count,
                      bool rebuildFlag)
{
    std::string hdr(32 + 32 * fields.size() + 1, '\0');
    auto* h = reinterpret_cast<unsigned char*>(hdr.data());
    h[0] = memo ? (oldMemoLayout ? 0x83 : 0x8B) : 0x03;
    todayBytes(h + 1);
    put32(h + 4, count);
    put16(h + 8, static_cast<uint16_t>(hdr.size()));
    uint32_t recLen = 1;
    for (const auto& f : fields)
        recLen += static_cast<uint32_t>(f.width);
    if (recLen > 65535)
        throw EDBEngineError(DBERR_INVALIDPARAM, "Record too long");
    put16(h + 10, static_cast<uint16_t>(recLen));
    h[14] = rebuildFlag ? 1 : 0;
    h[28] = indexed ? 1 : 0;
    h[29] = kLanguageDriver;
    for (size_t i = 0; i < fields.size(); ++i) {
        unsigned char* d = h + 32 + 32 * i;
        const auto& f = fields[i];
        std::memcpy(d, f.name.data(), std::min<size_t>(f.name.size(), 10));
        d[11] = static_cast<unsigned char>(f.type);
        d[16] = static_cast<unsigned char>(f.width);
        d[17] = static_cast<unsigned char>(f.decimals);
        if (f.int16)
            d[kInt16MarkerOffset] = kInt16Marker;
        if (std::find(keyFields.begin(), keyFields.end(), f.name) != keyFields.end())
            d[31] = 1;
    }
    h[hdr.size() - 1] = 0x0D;
    return hdr;
}

// Writes records to a new table file in large chunks.
class RecordWriter {
public:
    RecordWriter(File& f, uint64_t start) : f_(f), pos_(start) {}
    void add(const char* rec, size_t n)
    {
        buf_.append(rec, n);
        if (buf_.size() >= (1u << 20))
            drain();
    }
    void finish()
    {
        buf_.push_back(0x1A);
        drain();
    }

private:
    void drain()
    {
        f_.writeAt(pos_, buf_.data(), buf_.size());
        pos_ += buf_.size();
        buf_.clear();
    }
    File& f_;
    uint64_t pos_;
    std::string buf_;
};

void normaliseSpecs(std::vector<DbfTable::FieldSpec>& fields)
{
    if (fields.empty())
        throw EDBEngineError(DBERR_INVALIDPARAM, "A table needs at least one field");
    if (fields.size() > 255)
        throw EDBEngineError(DBERR_INVALIDPARAM, "Too many fields");
    for (auto& f : fields) {
        f.name = upper(std::string(trim(f.name)));
        f.type = static_cast<char>(std::toupper(static_cast<unsigned char>(f.type)));
        if (f.name.empty() || f.name.size() > 10)
            throw EDBEngineError(DBERR_INVALIDPARAM, "Bad field name '" + f.name + "' (1 to 10 characters)");
        for (char c : f.name)
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_')
                throw EDBEngineError(DBERR_INVALIDPARAM, "Bad field name '" + f.name + "'");
        switch (f.type) {
        case 'C':
            if (f.width < 1 || f.width > 254)
                throw EDBEngineError(DBERR_INVALIDPARAM, "Bad width for field " + f.name);
            f.decimals = 0;
            break;
        case 'D': f.width = 8; f.decimals = 0; break;
        case 'L': f.width = 1; f.decimals = 0; break;
        case 'M': f.width = 10; f.decimals = 0; break;
        case 'N': case 'F':
            if (f.int16) { f.width = 6; f.decimals = 0; }
            if (f.width < 1 || f.width > 20 || f.decimals < 0 || (f.decimals > 0 && f.decimals > f.width - 2))
                throw EDBEngineError(DBERR_INVALIDPARAM, "Bad width for field " + f.name);
            break;
        default:
            throw EDBEngineError(DBERR_NOTSUPPORTED, "Field type not supported: " + std::string(1, f.type));
        }
        f.int16 = f.int16 && (f.type == 'N' || f.type == 'F');
    }
    for (size_t i = 0; i < fields.size(); ++i)
        for (size_t j = i + 1; j < fields.size(); ++j)
            if (fields[i].name == fields[j].name)
                throw EDBEngineError(DBERR_INVALIDPARAM, "Duplicate field name " + fields[i].name);
}

std::vector<FieldInfo> infosOf(const std::vector<DbfTable::FieldSpec>& specs)
{
    std::vector<FieldInfo> out;
    int off = 1;
    for (const auto& s : specs) {
        FieldInfo f;
        f.name = s.name;
        f.nativeType = s.type;
        f.width = s.width;
        f.decimals = s.decimals;
        f.offset = off;
        off += s.width;
        out.push_back(f);
    }
    return out;
}

std::string baseNameOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    std::string b = slash == std::string::npos ? path : path.substr(slash + 1);
    const auto dot = b.find_last_of('.');
    if (dot != std::string::npos)
        b.erase(dot);
    return b;
}

std::vector<mdx::TagSpec> mdxSpecs(const std::vector<TagInfo>& infos, const std::vector<std::vector<int>>& fieldLists,
                                   const std::vector<int>& keyLens)
{
    std::vector<mdx::TagSpec> out;
    for (size_t i = 0; i < infos.size(); ++i) {
        mdx::TagSpec s;
        s.name = infos[i].name;
        s.expression = infos[i].keyExpr;
        s.type = keyTypeOf(infos[i].keyType);
        s.keyLength = keyLens[i];
        s.unique = infos[i].unique;
        s.descending = infos[i].descending;
        s.isField = fieldLists[i].size() == 1;
        out.push_back(s);
    }
    return out;
}
}  // namespace

void DbfTable::create(const std::string& path, const std::vector<FieldSpec>& fieldsIn,
                      const std::vector<TagInfo>& tagsIn)
{
    std::vector<FieldSpec> fields = fieldsIn;
    normaliseSpecs(fields);
    const auto infos = infosOf(fields);
    std::vector<Tag> compiled;
    for (const auto& t : tagsIn)
        compiled.push_back(compileTag(infos, t));
    for (size_t i = 0; i < compiled.size(); ++i)
        for (size_t j = i + 1; j < compiled.size(); ++j)
            if (compiled[i].info.name == compiled[j].info.name)
                throw EDBEngineError(DBERR_INVALIDPARAM, "Duplicate tag " + compiled[i].info.name);
    bool memo = false;
    for (const auto& f : fields)
        memo = memo || f.type == 'M';
    std::vector<std::string> keyFields;
    for (const auto& t : compiled)
        if (t.fields.size() == 1)
            keyFields.push_back(infos[t.fields[0]].name);
    // Refuse to overwrite a table another program has open.
    if (fileExists(path)) {
        File rw = File::tryOpen(path, File::Mode::ReadWrite);
        const bool free = rw.isOpen() ? rw.tryLock(kLockOpen, 1, true)
                                      : File::open(path, File::Mode::ReadOnly).tryLock(kLockOpen, 1, false);
        if (!free)
            throw EDBEngineError(DBERR_FILELOCKED, "Table in use: " + path);
    }
    const std::string mdxPath = companionPath(path, ".MDX");
    const std::string dbtPath = companionPath(path, ".DBT");
    removeFile(mdxPath);
    if (memo)
        DbtFile::create(dbtPath, baseNameOf(path)).sync();
    else
        removeFile(dbtPath);
    {
        const std::string hdr = newHeader(fields, memo, !compiled.empty(), keyFields, false, 0, false);
        const std::string tmp = path + ".tmp~";
        File f = File::open(tmp, File::Mode::Create);
        f.writeAt(0, hdr.data(), hdr.size());
        const char eof = 0x1A;
        f.writeAt(hdr.size(), &eof, 1);
        f.sync();
        f.close();
        replaceFile(tmp, path);
    }
    if (!compiled.empty()) {
        std::vector<TagInfo> ti;
        std::vector<std::vector<int>> fl;
        std::vector<int> kl;
        for (const auto& t : compiled) {
            ti.push_back(t.info);
            fl.push_back(t.fields);
            kl.push_back(t.keyLen);
        }
        const std::string tmp = mdxPath + ".tmp~";
        {
            auto m = mdx::MdxFile::create(tmp, baseNameOf(path), mdxSpecs(ti, fl, kl));
            m->flush(true);
        }
        replaceFile(tmp, mdxPath);
    }
}

int DbfTable::probe(const std::string& path, bool exclusive)
{
    try {
        TableOpenMode mode;
        mode.exclusive = exclusive;
        mode.readOnly = true;
        auto t = open(path, mode);
        if (t->mdx_) {
            // Every live record has one entry in each tag: a count that
            // disagrees means the index missed changes made without it.
            HeaderLock lock(*t, false);
            t->refreshCount();
            std::optional<uint64_t> live;  // counted only when a tag holds fewer entries than records
            for (const auto& tag : t->tags_) {
                const uint64_t n = t->mdx_->count(tag.info.name);
                if (n == t->count_)
                    continue;  // every record indexed (and none deleted)
                if (!live) {
                    live = 0;
                    for (uint32_t r = 1; r <= t->count_; ++r)
                        if (t->recordPtr(r)[0] != '*')
                            ++*live;
                }
                if (n != *live)
                    throw EDBEngineError(DBERR_INDEXOUTOFDATE, "Tag " + tag.info.name + " does not match the table");
            }
        }
        return 0;
    } catch (const EDBEngineError& e) {
        return e.code() ? e.code() : DBERR_OPENFAILED;
    } catch (const std::exception&) {
        return DBERR_OPENFAILED;
    }
}

DbfTable::~DbfTable()
{
    dropMap();
    try {
        if (mdx_)
            mdx_->flush(false);
    } catch (...) {
    }
}

// ---- reading ---------------------------------------------------------------------

void DbfTable::checkRecNo(uint32_t recNo) const
{
    if (recNo < 1 || recNo > count_)
        throw EDBEngineError(DBERR_INVALIDPARAM, "Record number " + std::to_string(recNo) + " out of range in " + path_);
}

void DbfTable::checkField(int field) const
{
    if (field < 0 || field >= static_cast<int>(fields_.size()))
        throw EDBEngineError(DBERR_INVALIDPARAM, "Field number " + std::to_string(field) + " out of range in " + path_);
}

// Maps of closed tables are kept for a while: the statements of a screen
// open the same tables again and again, and a kept map spares the setting up
// of its pages. A map is taken again only for the same file (device and
// inode); what it shows is always the file's current content.
namespace {
struct KeptMap {
    uint64_t dev = 0, ino = 0;
    const char* p = nullptr;
    size_t len = 0;
};
std::mutex keptMutex;
std::vector<KeptMap> keptMaps;
constexpr size_t kKeptMaps = 8;

void keepMap(uint64_t dev, uint64_t ino, const char* p, size_t len)
{
    std::lock_guard<std::mutex> g(keptMutex);
    keptMaps.push_back({dev, ino, p, len});
    if (keptMaps.size() > kKeptMaps) {
        ::munmap(const_cast<char*>(keptMaps.front().p), keptMaps.front().len);
        keptMaps.erase(keptMaps.begin());
    }
}

bool takeKeptMap(uint64_t dev, uint64_t ino, size_t need, const char*& p, size_t& len)
{
    std::lock_guard<std::mutex> g(keptMutex);
    for (size_t i = keptMaps.size(); i-- > 0;) {
        const KeptMap& k = keptMaps[i];
        if (k.dev != dev || k.ino != ino)
            continue;
        if (k.len < need) {  // too short for the table as it is now
            ::munmap(const_cast<char*>(k.p), k.len);
            keptMaps.erase(keptMaps.begin() + static_cast<long>(i));
            continue;
        }
        p = k.p;
        len = k.len;
        keptMaps.erase(keptMaps.begin() + static_cast<long>(i));
        return true;
    }
    return false;
}
}  // namespace

void DbfTable::dropMap()
{
    if (map_) {
        // Kept only while the file is still the one at the table's path
        // (not after a pack or a restructure put a new file there).
        struct stat st {};
        if (::stat(path_.c_str(), &st) == 0 && static_cast<uint64_t>(st.st_dev) == mapDev_ &&
            static_cast<uint64_t>(st.st_ino) == mapIno_)
            keepMap(mapDev_, mapIno_, map_, mapLen_);
        else
            ::munmap(const_cast<char*>(map_), mapLen_);
    }
    map_ = nullptr;
    mapLen_ = 0;
}

// Maps the file so that it covers recNo; false when the file cannot be
// mapped (reads then go through the run cache). Only whole records the file
// holds (count_ is bounded by the file size) are ever read through the map.
bool DbfTable::mapRecords(uint32_t recNo)
{
    const uint64_t need = headerLen_ + uint64_t(recNo) * recLen_;
    if (map_ && need <= mapLen_)
        return true;
    if (mapFailed_)
        return false;
    dropMap();
    mapDev_ = fileDev_;   // known since the header was read
    mapIno_ = fileIno_;
    if (takeKeptMap(mapDev_, mapIno_, need, map_, mapLen_))
        return true;
    // Room for the records appended next, so that a table that grows is
    // not mapped again at each append.
    const uint64_t want = headerLen_ + (uint64_t(count_) + 1024) * recLen_;
    // Mapped through a descriptor of its own: a map keeps its open file
    // alive, and the table's locks belong to the table's open file, which
    // must go away when the table closes.
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat same {};
    void* p = MAP_FAILED;
    if (fd >= 0 && ::fstat(fd, &same) == 0 && static_cast<uint64_t>(same.st_dev) == mapDev_ &&
        static_cast<uint64_t>(same.st_ino) == mapIno_)
        p = ::mmap(nullptr, want, PROT_READ, MAP_SHARED, fd, 0);
    if (fd >= 0)
        ::close(fd);
    if (p == MAP_FAILED) {
        mapFailed_ = true;
        return false;
    }
    map_ = static_cast<const char*>(p);
    mapLen_ = want;
    return need <= mapLen_;
}

const char* DbfTable::recordPtr(uint32_t recNo)
{
    checkRecNo(recNo);
    if (mapRecords(recNo))
        return map_ + headerLen_ + size_t(recNo - 1) * recLen_;
    if (cacheCount_ == 0 || recNo < cacheFirst_ || recNo >= cacheFirst_ + cacheCount_) {
        // A run of records for a scan (the record right after the cached
        // ones), one record for a random access.
        const bool scanning = recNo == cacheFirst_ + cacheCount_ || recNo == 1;
        const uint32_t per = scanning ? std::max<uint32_t>(1, static_cast<uint32_t>(kCacheBytes / recLen_)) : 1;
        const uint32_t n = std::min(per, count_ - recNo + 1);
        cache_.resize(size_t(n) * recLen_);
        const size_t got = file_.readAt(headerLen_ + uint64_t(recNo - 1) * recLen_, cache_.data(), cache_.size());
        const uint32_t whole = static_cast<uint32_t>(got / recLen_);
        if (whole == 0)
            throw EDBEngineError(DBERR_FILECORRUPT, "Record " + std::to_string(recNo) + " missing in " + path_);
        cacheFirst_ = recNo;
        cacheCount_ = whole;
    }
    return cache_.data() + size_t(recNo - cacheFirst_) * recLen_;
}

void DbfTable::readRecordFresh(uint32_t recNo, std::string& out) const
{
    checkRecNo(recNo);
    out.resize(recLen_);
    file_.readExact(headerLen_ + uint64_t(recNo - 1) * recLen_, out.data(), recLen_, DBERR_FILECORRUPT);
}

bool DbfTable::isDeleted(uint32_t recNo) { return recordPtr(recNo)[0] == '*'; }

std::string_view DbfTable::rawField(uint32_t recNo, int field)
{
    checkField(field);
    const auto& f = fields_[field];
    return std::string_view(recordPtr(recNo) + f.offset, static_cast<size_t>(f.width));
}

std::string DbfTable::memoText(const char* ptr10) const
{
    const std::string_view p = trim(std::string_view(ptr10, 10));
    if (p.empty())
        return {};
    uint64_t block = 0;
    for (char c : p) {
        if (c < '0' || c > '9')
            throw EDBEngineError(DBERR_MEMOCORRUPT, "Bad memo pointer in " + path_);
        block = block * 10 + static_cast<uint64_t>(c - '0');
        if (block > 0xFFFFFFFFull)
            throw EDBEngineError(DBERR_MEMOCORRUPT, "Bad memo pointer in " + path_);
    }
    if (block == 0)
        return {};
    if (!dbt_.isOpen())
        throw EDBEngineError(DBERR_MEMOCORRUPT, "Memo file missing for " + path_);
    return dbt_.read(static_cast<uint32_t>(block));
}

QVariant DbfTable::value(uint32_t recNo, int field)
{
    checkField(field);
    const auto& f = fields_[field];
    const char* rec = recordPtr(recNo);
    const std::string_view raw(rec + f.offset, static_cast<size_t>(f.width));
    switch (f.nativeType) {
    case 'C': {
        const auto t = trimRight(raw);
        if (t.empty())
            return {};
        return fromCp1252(t);
    }
    case 'D': {
        const QDate d = parseDate(raw);
        return d.isValid() ? QVariant(d) : QVariant();
    }
    case 'N': case 'F': {
        const auto t = trim(raw);
        if (t.empty())
            return {};
        const std::string s(t);
        char* end = nullptr;
        if (f.decimals == 0 && s.find_first_of(".eE") == std::string::npos) {
            errno = 0;
            const long long v = std::strtoll(s.c_str(), &end, 10);
            if (end == s.c_str() || *end != '\0' || errno == ERANGE)
                return {};
            if (v >= INT32_MIN && v <= INT32_MAX)
                return QVariant(static_cast<int>(v));
            return QVariant(static_cast<qlonglong>(v));
        }
        const double v = std::strtod(s.c_str(), &end);
        if (end == s.c_str() || *end != '\0' || !std::isfinite(v))
            return {};
        return QVariant(v);
    }
    case 'L': {
        const char c = raw[0];
        if (c == 'T' || c == 't' || c == 'Y' || c == 'y')
            return QVariant(true);
        if (c == 'F' || c == 'f' || c == 'N' || c == 'n')
            return QVariant(false);
        return {};
    }
    case 'M': case 'B': case 'G': {
        const std::string text = memoText(raw.data());
        if (text.empty())
            return {};
        if (f.nativeType == 'M')
            return fromCp1252(text);
        return QVariant(QByteArray(text.data(), static_cast<qsizetype>(text.size())));
    }
    case 'I': case '+': {
        const auto* p = reinterpret_cast<const unsigned char*>(raw.data());
        if (!p[0] && !p[1] && !p[2] && !p[3])
            return {};
        const uint32_t u = (uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]) ^ 0x80000000u;
        return QVariant(static_cast<int>(static_cast<int32_t>(u)));
    }
    case 'O': {
        const auto* p = reinterpret_cast<const unsigned char*>(raw.data());
        uint64_t u = 0;
        for (int i = 0; i < 8; ++i)
            u = (u << 8) | p[i];
        if (u == 0)
            return {};
        u = (u & 0x8000000000000000ull) ? (u ^ 0x8000000000000000ull) : ~u;
        double d;
        std::memcpy(&d, &u, 8);
        return QVariant(d);
    }
    case '@':
        return {};  // level 7 timestamps are not read (their layout is not settled)
    default:
        return fromCp1252(trimRight(raw));
    }
}

// ---- writing ---------------------------------------------------------------------

void DbfTable::checkWritable() const
{
    if (isReadOnly())
        throw EDBEngineError(DBERR_NOTSUFFTABLERIGHTS, "Table is read-only: " + path_);
}

void DbfTable::requireExclusive(const char* what) const
{
    if (!mode_.exclusive)
        throw EDBEngineError(DBERR_NEEDEXCLACCESS, std::string(what) + " needs the table opened exclusively: " + path_);
    checkWritable();
}

void DbfTable::encodeField(const FieldInfo& f, const QVariant& v, char* dst, bool int16)
{
    const size_t w = static_cast<size_t>(f.width);
    const bool empty = v.isNull() || !v.isValid() ||
                       (v.typeId() == QMetaType::QString && v.toString().trimmed().isEmpty() && f.nativeType != 'C');
    auto bad = [&](const char* why) {
        throw EDBEngineError(DBERR_INVALIDPARAM, "Field " + f.name + ": " + why);
    };
    switch (f.nativeType) {
    case 'C': {
        std::string s;
        if (!empty) {
            if (v.typeId() == QMetaType::QDate)
                s = v.toDate().toString(QStringLiteral("yyyyMMdd")).toStdString();
            else
                s = toCp1252(v.toString());
        }
        if (s.size() > w)
            s.resize(w);
        std::memcpy(dst, s.data(), s.size());
        std::memset(dst + s.size(), ' ', w - s.size());
        return;
    }
    case 'D': {
        if (empty) {
            std::memset(dst, ' ', 8);
            return;
        }
        QDate d = v.typeId() == QMetaType::QDate || v.typeId() == QMetaType::QDateTime ? v.toDate() : dateFromText(v.toString().trimmed());
        if (!d.isValid() || d.year() < 1 || d.year() > 9999)
            bad("not a date");
        const std::string s = d.toString(QStringLiteral("yyyyMMdd")).toStdString();
        std::memcpy(dst, s.data(), 8);
        return;
    }
    case 'N': case 'F': {
        if (empty) {
            std::memset(dst, ' ', w);
            return;
        }
        std::string s;
        bool ok = false;
        if (f.decimals == 0 && (v.typeId() == QMetaType::Int || v.typeId() == QMetaType::LongLong ||
                                v.typeId() == QMetaType::UInt || v.typeId() == QMetaType::Short)) {
            s = std::to_string(v.toLongLong());
            ok = true;
        } else {
            double d = 0;
            if (v.typeId() == QMetaType::QString) {
                QString t = v.toString().trimmed();
                t.replace(QLatin1Char(','), QLatin1Char('.'));
                d = t.toDouble(&ok);
            } else if (v.typeId() == QMetaType::Bool) {
                d = v.toBool() ? 1 : 0;
                ok = true;
            } else {
                d = v.toDouble(&ok);
            }
            if (!ok || !std::isfinite(d))
                bad("not a number");
            if (f.decimals == 0) {
                const double r = std::round(d);
                if (std::fabs(r) > 9.2e18)
                    bad("number too large");
                s = std::to_string(static_cast<long long>(r));
            } else {
                s = QString::number(d, 'f', f.decimals).toStdString();
                if (s.find_first_not_of("-0.") == std::string::npos && s[0] == '-')
                    s.erase(0, 1);  // no negative zero
            }
        }
        if (int16) {
            const long long iv = std::stoll(s);
            if (iv < -32768 || iv > 32767)
                bad("value outside the 16-bit integer range");
        }
        if (s.size() > w)
            bad("number too wide for the field");
        std::memset(dst, ' ', w - s.size());
        std::memcpy(dst + (w - s.size()), s.data(), s.size());
        return;
    }
    case 'L': {
        if (empty) {
            *dst = ' ';
            return;
        }
        bool b = false;
        if (v.typeId() == QMetaType::QString) {
            const QString t = v.toString().trimmed().toUpper();
            if (t == QLatin1String("T") || t == QLatin1String("Y") || t == QLatin1String("TRUE") ||
                t == QLatin1String("1") || t == QLatin1String("O") || t == QLatin1String("OUI"))
                b = true;
            else if (t == QLatin1String("F") || t == QLatin1String("N") || t == QLatin1String("FALSE") ||
                     t == QLatin1String("0") || t == QLatin1String("NON"))
                b = false;
            else
                bad("not a logical value");
        } else {
            b = v.toBool();
        }
        *dst = b ? 'T' : 'F';
        return;
    }
    case 'I': case '+': {
        if (empty) {
            std::memset(dst, 0, 4);
            return;
        }
        bool ok = false;
        const long long iv = v.toLongLong(&ok);
        if (!ok || iv < INT32_MIN || iv > INT32_MAX)
            bad("not a 32-bit integer");
        const uint32_t u = static_cast<uint32_t>(static_cast<int32_t>(iv)) ^ 0x80000000u;
        dst[0] = static_cast<char>(u >> 24); dst[1] = static_cast<char>(u >> 16);
        dst[2] = static_cast<char>(u >> 8); dst[3] = static_cast<char>(u);
        return;
    }
    case 'O': {
        if (empty) {
            std::memset(dst, 0, 8);
            return;
        }
        bool ok = false;
        const double d = v.toDouble(&ok);
        if (!ok)
            bad("not a number");
        uint64_t u;
        std::memcpy(&u, &d, 8);
        u = (u & 0x8000000000000000ull) ? ~u : (u | 0x8000000000000000ull);
        for (int i = 7; i >= 0; --i, u >>= 8)
            dst[i] = static_cast<char>(u & 0xFF);
        return;
    }
    default:
        if (!empty)
            throw EDBEngineError(DBERR_NOTSUPPORTED, "Field " + f.name + ": writing this type is not supported");
        return;
    }
}

// Builds the record bytes; memo texts are appended to the memo file (a memo
// unchanged from `old` keeps its blocks).
void DbfTable::encodeRecord(const std::vector<QVariant>& values, std::string& rec, const std::string* old)
{
    if (values.size() > fields_.size())
        throw EDBEngineError(DBERR_INVALIDPARAM, "More values than fields in " + path_);
    rec.assign(recLen_, ' ');
    if (old)
        rec = *old;
    rec[0] = old ? (*old)[0] : ' ';
    for (size_t i = 0; i < fields_.size(); ++i) {
        const auto& f = fields_[i];
        const QVariant v = i < values.size() ? values[i] : QVariant();
        char* dst = rec.data() + f.offset;
        if (f.nativeType == 'M' || f.nativeType == 'B' || f.nativeType == 'G') {
            std::string data;
            if (!v.isNull() && v.isValid())
                data = v.typeId() == QMetaType::QByteArray ? v.toByteArray().toStdString() : toCp1252(v.toString());
            if (old && memoText(old->data() + f.offset) == data)
                continue;  // unchanged: keep the pointer
            if (data.empty()) {
                std::memset(dst, ' ', 10);
                continue;
            }
            if (!dbt_.isOpen())
                throw EDBEngineError(DBERR_MEMOCORRUPT, "Memo file missing for " + path_);
            const uint32_t block = dbt_.append(data);
            char buf[16];
            std::snprintf(buf, sizeof buf, "%10u", block);
            std::memcpy(dst, buf, 10);
            continue;
        }
        encodeField(f, v, dst, int16_[i]);
    }
}

std::string DbfTable::keyOf(int tagIdx, const char* record) const
{
    const Tag& t = tags_.at(static_cast<size_t>(tagIdx));
    if (t.info.keyType == 'D') {
        const auto& f = fields_[t.fields[0]];
        auto k = mdx::encodeDateText(std::string_view(record + f.offset, 8));
        return k ? *k : mdx::encodeBlankDate();
    }
    if (t.info.keyType == 'N') {
        const auto& f = fields_[t.fields[0]];
        auto k = mdx::encodeNumericText(std::string_view(record + f.offset, static_cast<size_t>(f.width)));
        return k ? *k : *mdx::encodeNumericText("");
    }
    std::string text;
    text.reserve(static_cast<size_t>(t.keyLen));
    for (int fi : t.fields) {
        const auto& f = fields_[fi];
        text.append(record + f.offset, static_cast<size_t>(f.width));
    }
    for (auto& c : text)
        if (c == '\0')
            c = ' ';
    return mdx::encodeCharacter(text, t.keyLen);
}

std::vector<std::optional<std::string>> DbfTable::keysOf(const char* record) const
{
    std::vector<std::optional<std::string>> keys;
    keys.reserve(tags_.size());
    for (size_t i = 0; i < tags_.size(); ++i)
        keys.emplace_back(keyOf(static_cast<int>(i), record));
    return keys;
}

std::vector<std::string> DbfTable::tagNames() const
{
    std::vector<std::string> names;
    for (const auto& t : tags_)
        names.push_back(t.info.name);
    return names;
}

void DbfTable::refreshCount()
{
    unsigned char c[4];
    file_.readExact(4, c, 4, DBERR_HEADERCORRUPT);
    uint32_t n = le32(c);
    const uint64_t fsize = file_.size();
    const uint64_t fit = fsize > headerLen_ ? (fsize - headerLen_) / recLen_ : 0;
    if (n > fit)
        n = static_cast<uint32_t>(fit);
    if (n != count_) {
        count_ = n;
        invalidateCache();
    }
}

void DbfTable::writeCount(uint32_t count)
{
    unsigned char h[7];
    todayBytes(h);
    put32(h + 3, count);
    file_.writeAt(1, h, 7);
}

uint32_t DbfTable::append(const std::vector<QVariant>& values)
{
    checkWritable();
    HeaderLock lock(*this, true);
    if (!mode_.exclusive)
        refreshCount();  // others may have appended
    std::string rec;
    encodeRecord(values, rec, nullptr);
    const uint32_t recNo = count_ + 1;
    if (recNo == 0)
        throw EDBEngineError(DBERR_WRITEERR, "Table full: " + path_);
    if (mdx_)
        guardKeys([&] { mdx_->insertRecord(tagNames(), keysOf(rec.data()), recNo); }, rec.data(), recNo);
    rec.push_back(0x1A);
    // Record first, then the count: a program killed in between leaves the
    // table as it was.
    file_.writeAt(headerLen_ + uint64_t(count_) * recLen_, rec.data(), rec.size());
    writeCount(recNo);
    count_ = recNo;
    indexWritten();
    invalidateCache();
    return recNo;
}

// After a change of the index: others must see it complete before the
// header lock goes, so it is written out at once on a shared open. On an
// exclusive open it is written by flush() or on close; a program killed
// before leaves the index marked "in update" (DBERR_INDEXOUTOFDATE, then
// regenerated) and every record intact.
void DbfTable::indexWritten()
{
    if (mdx_ && !mode_.exclusive)
        mdx_->flush(false);
}

// Runs an index change; a refusal of a unique tag is reported naming the tag
// and the table. The index is unchanged then.
void DbfTable::guardKeys(const std::function<void()>& change, const char* record, uint32_t recNo)
{
    try {
        change();
    } catch (const EDBEngineError& e) {
        if (e.code() != DBERR_KEYVIOL)
            throw;
        std::string tag;
        for (size_t i = 0; i < tags_.size() && tag.empty(); ++i)
            if (tags_[i].info.unique && mdx_->wouldViolate(tags_[i].info.name, keyOf(static_cast<int>(i), record), recNo))
                tag = tags_[i].info.name;
        throw EDBEngineError(DBERR_KEYVIOL, "Key violation: the key is already in unique tag " +
                                                (tag.empty() ? std::string("?") : tag) + " of " + fileName());
    }
}

void DbfTable::lockForWrite(uint32_t recNo, bool& tookRecordLock)
{
    tookRecordLock = false;
    if (mode_.exclusive)
        return;
    if (std::find(recordLocks_.begin(), recordLocks_.end(), recNo) != recordLocks_.end())
        return;
    if (!file_.tryLock(kLockRecord + recNo, 1, true))
        throw EDBEngineError(DBERR_LOCKED, "Record " + std::to_string(recNo) + " is locked by another user");
    tookRecordLock = true;
}

void DbfTable::update(uint32_t recNo, const std::vector<QVariant>& values)
{
    RecordWrite write(*this, recNo);
    std::string old;
    readRecordFresh(recNo, old);
    std::string rec;
    encodeRecord(values, rec, &old);
    if (mdx_ && old[0] != '*')
        guardKeys([&] { mdx_->updateRecord(tagNames(), keysOf(old.data()), keysOf(rec.data()), recNo); }, rec.data(), recNo);
    file_.writeAt(headerLen_ + uint64_t(recNo - 1) * recLen_, rec.data(), rec.size());
    indexWritten();
    invalidateCache();
}

void DbfTable::setRecordDeleted(uint32_t recNo, bool deleted)
{
    RecordWrite write(*this, recNo);
    std::string rec;
    readRecordFresh(recNo, rec);
    if ((rec[0] == '*') == deleted)
        return;
    if (mdx_) {
        const auto keys = keysOf(rec.data());
        if (deleted) {
            // The record leaves the index before it is marked.
            std::vector<std::optional<std::string>> none(keys.size());
            mdx_->updateRecord(tagNames(), keys, none, recNo);
        } else {
            std::vector<std::optional<std::string>> none(keys.size());
            guardKeys([&] { mdx_->updateRecord(tagNames(), none, keys, recNo); }, rec.data(), recNo);
        }
    }
    const char flag = deleted ? '*' : ' ';
    file_.writeAt(headerLen_ + uint64_t(recNo - 1) * recLen_, &flag, 1);
    indexWritten();
    invalidateCache();
}

void DbfTable::deleteRecord(uint32_t recNo) { setRecordDeleted(recNo, true); }
void DbfTable::undeleteRecord(uint32_t recNo) { setRecordDeleted(recNo, false); }

void DbfTable::flush()
{
    if (isReadOnly())
        return;
    if (dbt_.isOpen())
        dbt_.sync();
    file_.sync();
    if (mdx_)
        mdx_->flush(true);
}

bool DbfTable::park()
{
    if (parked_ || mode_.exclusive || readHold_ > 0 || tableLocked_ || !recordLocks_.empty() || dbt_.isOpen())
        return false;
    try {
        if (mdx_)
            mdx_->flush(false);
    } catch (const EDBEngineError&) {
        return false;
    }
    if (mdx_) {
        // The index as we leave it: another size or time when it is back
        // means a change made without us (a copy, a damage): open anew.
        struct stat st {};
        if (::stat(mdx_->path().c_str(), &st) != 0)
            return false;
        parkedIndex_ = {static_cast<int64_t>(st.st_ino), static_cast<int64_t>(st.st_size),
                        static_cast<int64_t>(st.st_mtim.tv_sec), static_cast<int64_t>(st.st_mtim.tv_nsec)};
    }
    file_.unlock(kLockOpen, 1);
    parked_ = true;
    return true;
}

bool DbfTable::unpark()
{
    if (!parked_)
        return false;
    // The shared open first, without waiting: an exclusive open of another
    // program wins, and the caller's normal open reports it.
    if (!file_.tryLock(kLockOpen, 1, false))
        return false;
    parked_ = false;
    try {
        // Still the file at our path (a pack or a restructure renames a new one there)?
        struct stat st {};
        if (::stat(path_.c_str(), &st) != 0 || static_cast<uint64_t>(st.st_dev) != fileDev_ ||
            static_cast<uint64_t>(st.st_ino) != fileIno_)
            return false;
        const uint8_t flag = mdxFlag_;
        readHeader(true);
        // An index dropped or added meanwhile: open anew.
        if ((mdxFlag_ != 0) != (flag != 0))
            return false;
        if (mdx_) {
            struct stat ist {};
            if (::stat(mdx_->path().c_str(), &ist) != 0)
                return false;
            const std::array<int64_t, 4> now = {static_cast<int64_t>(ist.st_ino), static_cast<int64_t>(ist.st_size),
                                                static_cast<int64_t>(ist.st_mtim.tv_sec),
                                                static_cast<int64_t>(ist.st_mtim.tv_nsec)};
            for (size_t i = 0; i < 4; ++i)
                if (now[i] != parkedIndex_[i])
                    return false;
            HeaderLock lock(*this, false);
            mdx_->refresh();   // the index as another program left it
        }
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void DbfTable::refresh()
{
    refreshCount();
    invalidateCache();
    if (mdx_) {
        HeaderLock lock(*this, false);
        mdx_->refresh();
    }
}

// ---- locks -----------------------------------------------------------------------

bool DbfTable::lockRecord(uint32_t recNo)
{
    checkRecNo(recNo);
    invalidateCache();
    if (std::find(recordLocks_.begin(), recordLocks_.end(), recNo) != recordLocks_.end())
        return true;
    if (!mode_.exclusive && !file_.tryLock(kLockRecord + recNo, 1, file_.writable()))
        return false;
    recordLocks_.push_back(recNo);
    return true;
}

void DbfTable::unlockRecord(uint32_t recNo)
{
    const auto it = std::find(recordLocks_.begin(), recordLocks_.end(), recNo);
    if (it == recordLocks_.end())
        return;
    recordLocks_.erase(it);
    if (!mode_.exclusive)
        file_.unlock(kLockRecord + recNo, 1);
}

bool DbfTable::lockTable()
{
    if (tableLocked_ || mode_.exclusive)
        return tableLocked_ = true;
    if (!file_.tryLock(kLockTable, 1, file_.writable()))
        return false;
    tableLocked_ = true;
    refreshCount();
    return true;
}

void DbfTable::unlockTable()
{
    if (!tableLocked_)
        return;
    tableLocked_ = false;
    if (!mode_.exclusive)
        file_.unlock(kLockTable, 1);
}

// ---- index -----------------------------------------------------------------------

std::vector<TagInfo> DbfTable::tags() const
{
    std::vector<TagInfo> out;
    for (const auto& t : tags_)
        out.push_back(t.info);
    return out;
}

std::string DbfTable::keyForSeek(const Tag& tag, const QVariant& key, bool partial) const
{
    switch (tag.info.keyType) {
    case 'D': {
        QDate d = key.typeId() == QMetaType::QDate || key.typeId() == QMetaType::QDateTime
                      ? key.toDate() : dateFromText(key.toString().trimmed());
        if (key.isNull() || !key.isValid())
            return mdx::encodeBlankDate();
        if (!d.isValid())
            throw EDBEngineError(DBERR_INVALIDPARAM, "Tag " + tag.info.name + ": key is not a date");
        return mdx::encodeDate(d.year(), d.month(), d.day());
    }
    case 'N': {
        bool ok = false;
        const double v = key.isNull() ? 0.0 : key.toDouble(&ok);
        if (!key.isNull() && !ok)
            throw EDBEngineError(DBERR_INVALIDPARAM, "Tag " + tag.info.name + ": key is not a number");
        auto k = mdx::encodeNumeric(v);
        if (!k)
            throw EDBEngineError(DBERR_INVALIDPARAM, "Tag " + tag.info.name + ": key is not a number");
        return *k;
    }
    default: {
        std::string s = key.typeId() == QMetaType::QDate ? key.toDate().toString(QStringLiteral("yyyyMMdd")).toStdString()
                                                          : toCp1252(key.toString());
        if (s.size() > static_cast<size_t>(tag.keyLen))
            s.resize(static_cast<size_t>(tag.keyLen));
        return partial ? s : mdx::encodeCharacter(s, tag.keyLen);
    }
    }
}

class DbfTable::Cursor : public TagCursor {
public:
    Cursor(DbfTable& t, size_t tag, mdx::MdxCursor c)
        : t_(t), tag_(tag), c_(std::move(c)), generation_(t.indexGeneration_), name_(t.tags_.at(tag).info.name) {}
    uint32_t first() override { return run([&] { return c_.first(); }); }
    uint32_t last() override { return run([&] { return c_.last(); }); }
    uint32_t next() override
    {
        if (!on_)
            return 0;
        return run([&] { return c_.next(); }, true);
    }
    uint32_t prior() override
    {
        if (!on_)
            return 0;
        return run([&] { return c_.prior(); }, true);
    }
    uint32_t current() const override { return on_ ? recNo_ : 0; }
    std::string_view currentKey() const override { return on_ ? std::string_view(c_.key()) : std::string_view(); }
    void scanForward(const std::function<bool(uint32_t, std::string_view)>& visit) override
    {
        // A batch of steps per hold of the header: others' changes wait
        // at most one batch, and the index is checked for them once per batch.
        constexpr int kBatch = 4096;
        while (on_) {
            IndexReadHold hold(t_);
            for (int n = 0; n < kBatch; ++n) {
                if (!on_)
                    return;
                if (!visit(recNo_, c_.key()))
                    return;
                run([&] { return c_.next(); }, true);
            }
        }
    }
    uint32_t seek(const QVariant& key, bool partial) override
    {
        const auto& tag = t_.tags_.at(tag_);
        const std::string k = t_.keyForSeek(tag, key, partial);
        const bool prefix = partial && tag.info.keyType == 'C';
        bool match = false;
        run([&] {
            if (!c_.seek(k))
                return false;
            const std::string& got = c_.key();
            match = prefix ? got.compare(0, k.size(), k) == 0 : got == k;
            return true;
        });
        return match ? recNo_ : 0;
    }

private:
    template <class F>
    uint32_t run(F f, bool fromPosition = false)
    {
        HeaderLock lock(t_, false);
        if (generation_ != t_.indexGeneration_) {
            // The index file was replaced: continue on the new one, from no
            // position (a step from the old position answers 0).
            if (!t_.mdx_ || t_.tagIndex(name_) < 0)
                throw EDBEngineError(DBERR_INVALIDHNDL, "Tag " + name_ + " no longer exists in " + t_.path_);
            tag_ = static_cast<size_t>(t_.tagIndex(name_));
            c_ = t_.mdx_->cursor(name_);
            generation_ = t_.indexGeneration_;
            on_ = false;
            recNo_ = 0;
            if (fromPosition)
                return 0;
        }
        // A step from the position reads nodes: another program's flushed
        // change must be noticed first (a batch hold checked it already).
        if (fromPosition && t_.readHold_ == 0 && t_.mdx_)
            t_.mdx_->refresh();
        on_ = f();
        recNo_ = on_ ? c_.recno() : 0;
        // An entry of a record another program appended: the table learns
        // its new count, so that the record can be read.
        if (recNo_ > t_.count_)
            t_.refreshCount();
        return recNo_;
    }
    DbfTable& t_;
    size_t tag_;
    mdx::MdxCursor c_;
    uint64_t generation_;
    std::string name_;
    bool on_ = false;
    uint32_t recNo_ = 0;
};

std::unique_ptr<TagCursor> DbfTable::openTag(std::string_view tagName)
{
    const int i = tagIndex(tagName);
    if (i < 0 || !mdx_)
        throw EDBEngineError(DBERR_INVALIDPARAM, "No tag " + std::string(tagName) + " in " + path_);
    HeaderLock lock(*this, false);
    return std::make_unique<Cursor>(*this, static_cast<size_t>(i), mdx_->cursor(tags_[i].info.name));
}

void DbfTable::takeHeaderShared()
{
    const bool turn = file_.writable();
    if (turn && !file_.lockWait(kLockTurn, 1, true, lockTimeoutMs_))
        throw EDBEngineError(DBERR_LOCKED, "Table is locked by another user: " + path_);
    const bool got = file_.lockWait(kLockHeader, 1, false, lockTimeoutMs_);
    if (turn)
        file_.unlock(kLockTurn, 1);
    if (!got)
        throw EDBEngineError(DBERR_LOCKED, "Table is locked by another user: " + path_);
}

void DbfTable::beginIndexRead()
{
    if (readHold_ > 0) {
        ++readHold_;
        return;
    }
    if (!mode_.exclusive) {
        takeHeaderShared();
        readHoldLocked_ = true;
    }
    readHold_ = 1;
    try {
        if (mdx_) {
            mdx_->refresh();  // changes flushed by others since the last read
            if (readHoldLocked_)
                mdx_->setLockedByCaller(true, true);
        }
    } catch (...) {
        endIndexRead();
        throw;
    }
}

void DbfTable::endIndexRead()
{
    if (readHold_ == 0 || --readHold_ > 0)
        return;
    if (readHoldLocked_ && mdx_)
        mdx_->setLockedByCaller(false);
    if (readHoldLocked_)
        file_.unlock(kLockHeader, 1);
    readHoldLocked_ = false;
}

// The index file object is replaced (pack, regeneration, restructure): the
// old one is kept until the table closes, so that cursors opened on it stay
// harmless; they move to the new one on their next call.
void DbfTable::retireIndex()
{
    if (mdx_) {
        mdx_->setLockedByCaller(false);
        try {
            mdx_->flush(false);
        } catch (const EDBEngineError&) {
        }
        retired_.push_back(std::move(mdx_));
    }
    ++indexGeneration_;
}

void DbfTable::setRebuildFlag(bool on)
{
    const unsigned char b = on ? 1 : 0;
    file_.writeAt(14, &b, 1);
    file_.sync();
}

// Writes a fresh index file holding the given tags, built from the records,
// and renames it over the table's index.
void DbfTable::rebuildIndexFile(const std::vector<Tag>& tags)
{
    const std::string ipath = indexPath();
    retireIndex();
    tags_ = tags;
    if (tags.empty()) {
        removeFile(ipath);
        const unsigned char zero = 0;
        file_.writeAt(28, &zero, 1);
        return;
    }
    std::vector<TagInfo> ti;
    std::vector<std::vector<int>> fl;
    std::vector<int> kl;
    for (const auto& t : tags) {
        ti.push_back(t.info);
        fl.push_back(t.fields);
        kl.push_back(t.keyLen);
    }
    uint32_t r = 0;
    auto source = [&](mdx::RecordKeys& rk) {
        while (r < count_) {
            ++r;
            const char* rec = recordPtr(r);
            if (rec[0] == '*')
                continue;
            rk.recno = r;
            rk.keys = keysOf(rec);
            return true;
        }
        return false;
    };
    mdx::RegenerateResult result;
    // Built beside the old file and renamed over it when complete.
    mdx::MdxFile::rebuild(ipath, baseNameOf(path_), mdxSpecs(ti, fl, kl), source, &result)->flush(true);
    // A unique tag keeps the first record of a key and drops the others:
    // say so rather than leave records out of the tag silently.
    for (size_t i = 0; i < result.duplicatesDropped.size(); ++i)
        if (result.duplicatesDropped[i] != 0)
            throw EDBEngineError(DBERR_KEYVIOL, "Duplicate keys in unique tag " +
                                                    (i < result.tags.size() ? result.tags[i] : std::string()) +
                                                    " of " + path_);
    const unsigned char one = 1;
    file_.writeAt(28, &one, 1);
    mdx_ = mdx::MdxFile::open(ipath, mdx::MdxFile::Mode::ReadWrite);
}

void DbfTable::regenerateIndexes()
{
    requireExclusive("Index regeneration");
    refreshCount();
    if (tags_.empty())
        return;
    const auto tags = tags_;
    setRebuildFlag(true);
    rebuildIndexFile(tags);
    setRebuildFlag(false);
}

void DbfTable::setTags(const std::vector<TagInfo>& specs)
{
    requireExclusive("Changing the index");
    std::vector<Tag> compiled;
    compileTags(specs, compiled);
    setRebuildFlag(true);
    rebuildIndexFile(compiled);
    // Field descriptor flags: a field with a tag of its own.
    const size_t descLen = level7_ ? 48 : 32, base = level7_ ? 68 : 32, flagOff = level7_ ? 37 : 31;
    for (size_t i = 0; i < fields_.size(); ++i) {
        unsigned char v = 0;
        for (const auto& t : compiled)
            if (t.fields.size() == 1 && t.fields[0] == static_cast<int>(i))
                v = 1;
        file_.writeAt(base + descLen * i + flagOff, &v, 1);
    }
    setRebuildFlag(false);
}

// Takes over a freshly written table file: locks it exclusively, renames it
// over the table and reads its header.
void DbfTable::takeOver(const std::string& tmp)
{
    File nf = File::open(tmp, File::Mode::ReadWrite);
    if (!nf.tryLock(kLockOpen, 1, true))
        throw EDBEngineError(DBERR_FILELOCKED, "Table in use: " + path_);
    replaceFile(tmp, path_);
    file_ = std::move(nf);
    recordLocks_.clear();
    readHeader(false);
}

void DbfTable::pack()
{
    requireExclusive("Pack");
    refreshCount();
    std::string hdr(headerLen_, '\0');
    file_.readExact(0, hdr.data(), hdr.size(), DBERR_HEADERCORRUPT);
    auto* h = reinterpret_cast<unsigned char*>(hdr.data());
    const bool indexed = mdx_ != nullptr;
    h[14] = indexed ? 1 : 0;
    todayBytes(h + 1);
    // New file beside the old, renamed over it when complete.
    const std::string tmp = path_ + ".tmp~";
    uint32_t live = 0;
    {
        File f = File::open(tmp, File::Mode::Create);
        RecordWriter w(f, hdr.size());
        for (uint32_t r = 1; r <= count_; ++r) {
            const char* rec = recordPtr(r);
            if (rec[0] == '*')
                continue;
            w.add(rec, recLen_);
            ++live;
        }
        w.finish();
        put32(h + 4, live);
        f.writeAt(0, hdr.data(), hdr.size());
        f.sync();
    }
    const auto tags = tags_;
    retireIndex();
    takeOver(tmp);
    if (indexed) {
        rebuildIndexFile(tags);
        setRebuildFlag(false);
    }
}

void DbfTable::restructure(const std::vector<FieldSpec>& newFieldsIn, const std::vector<int>& sources,
                           const std::vector<TagInfo>& newTags, bool packIt)
{
    requireExclusive("Restructure");
    refreshCount();
    std::vector<FieldSpec> newFields = newFieldsIn;
    normaliseSpecs(newFields);
    if (sources.size() != newFields.size())
        throw EDBEngineError(DBERR_INVALIDPARAM, "Restructure: one source per field needed");
    const auto infos = infosOf(newFields);
    std::vector<Tag> compiled;
    for (const auto& t : newTags)
        compiled.push_back(compileTag(infos, t));
    bool memo = false;
    for (const auto& f : newFields)
        memo = memo || f.type == 'M';
    // Memo file: the old one is kept (its pointers stay valid); a new one is
    // made when the table gets its first memo column.
    bool oldLayout = dbt_.isOpen() && dbt_.layout() == DbtFile::Layout::Old;
    DbtFile newDbt;
    DbtFile* target = &dbt_;
    if (memo && !dbt_.isOpen()) {
        newDbt = DbtFile::create(companionPath(path_, ".DBT"), baseNameOf(path_));
        target = &newDbt;
        oldLayout = false;
    }
    std::vector<std::string> keyFields;
    for (const auto& t : compiled)
        if (t.fields.size() == 1)
            keyFields.push_back(infos[t.fields[0]].name);
    const std::string hdr0 = newHeader(newFields, memo, !compiled.empty(), keyFields, oldLayout, 0, !compiled.empty());
    uint32_t newLen = 1;
    for (const auto& f : newFields)
        newLen += static_cast<uint32_t>(f.width);
    const std::string tmp = path_ + ".tmp~";
    uint32_t written = 0;
    {
        File f = File::open(tmp, File::Mode::Create);
        RecordWriter w(f, hdr0.size());
        std::string rec(newLen, ' ');
        for (uint32_t r = 1; r <= count_; ++r) {
            const char* old = recordPtr(r);
            if (packIt && old[0] == '*')
                continue;
            const std::string oldRec(old, recLen_);
            rec.assign(newLen, ' ');
            rec[0] = oldRec[0] == '*' ? '*' : ' ';
            for (size_t k = 0; k < newFields.size(); ++k) {
                const FieldInfo& nf = infos[k];
                char* dst = rec.data() + nf.offset;
                const int src = sources[k];
                const bool newMemo = nf.nativeType == 'M';
                if (src < 0) {
                    encodeField(nf, QVariant(), dst, newFields[k].int16);
                    continue;
                }
                const FieldInfo& of = fields_.at(static_cast<size_t>(src));
                const bool oldMemo = of.nativeType == 'M';
                if (newMemo && oldMemo) {
                    std::memcpy(dst, oldRec.data() + of.offset, 10);
                    continue;
                }
                QVariant v;
                try {
                    v = oldMemo ? QVariant(fromCp1252(memoText(oldRec.data() + of.offset)))
                                : value(r, src);
                } catch (const EDBEngineError&) {
                    v = QVariant();  // unreadable memo: the new column stays empty
                }
                if (newMemo) {
                    const std::string data = v.isNull() ? std::string() : toCp1252(v.toString());
                    if (data.empty()) {
                        std::memset(dst, ' ', 10);
                    } else {
                        char buf[16];
                        std::snprintf(buf, sizeof buf, "%10u", target->append(data));
                        std::memcpy(dst, buf, 10);
                    }
                    continue;
                }
                // A value the new type cannot hold (text into a number, a
                // number too wide) leaves the new column empty.
                try {
                    encodeField(nf, v, dst, newFields[k].int16);
                } catch (const EDBEngineError&) {
                    encodeField(nf, QVariant(), dst, newFields[k].int16);
                }
            }
            w.add(rec.data(), rec.size());
            ++written;
        }
        w.finish();
        std::string hdr = hdr0;
        put32(reinterpret_cast<unsigned char*>(hdr.data()) + 4, written);
        f.writeAt(0, hdr.data(), hdr.size());
        f.sync();
    }
    if (target->isOpen())
        target->sync();
    retireIndex();
    tags_.clear();
    const bool hadMemo = dbt_.isOpen();
    takeOver(tmp);
    if (memo && !hadMemo)
        dbt_ = std::move(newDbt);
    if (!memo && hadMemo) {
        const std::string dbtPath = dbt_.path();
        dbt_.close();
        removeFile(dbtPath);
    }
    std::vector<Tag> recompiled;
    std::vector<TagInfo> specs;
    for (const auto& t : compiled)
        specs.push_back(t.info);
    compileTags(specs, recompiled);
    rebuildIndexFile(recompiled);
    setRebuildFlag(false);
}

}  // namespace kdb
