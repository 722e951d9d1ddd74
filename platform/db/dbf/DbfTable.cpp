#include "platform/db/dbf/DbfTable.h"

#include <cerrno>

#include <sys/stat.h>

#include "platform/db/core/Codepage.h"
#include "platform/db/core/FileSystem.h"
#include "platform/db/core/Session.h"

#include "platform/db/dbf/DbfTableDetail.h"

namespace kdb {

// ---- open / create ---------------------------------------------------------------

std::unique_ptr<DbfTable> DbfTable::open(const std::string& path, const TableOpenMode& mode)
{
    return openTable(path, mode, true);
}

std::unique_ptr<DbfTable> DbfTable::openTable(const std::string& path, const TableOpenMode& mode, bool takeBack)
{
    for (int attempt = 0;; ++attempt) {
        std::unique_ptr<DbfTable> t(new DbfTable);
        t->path_ = path;
        t->mode_ = mode;
        t->forRepair_ = mode.forRepair && mode.exclusive;
        // Read-write when the file allows it (write locks need it), even for a
        // read-only open; a file that only opens for reading gives a read-only table.
        t->file_ = File::tryOpen(path, File::Mode::ReadWrite);
        if (!t->file_.isOpen())
            t->file_ = File::open(path, File::Mode::ReadOnly);
        // The open mode lock first: an exclusive open of another program wins.
        // An exclusive one is not refused because of the tables this program
        // keeps idle.
        bool ok = t->file_.tryLock(kLockOpen, 1, mode.exclusive);
        if (!ok && mode.exclusive && Session::instance().releaseIdleOpens())
            ok = t->file_.tryLock(kLockOpen, 1, true);
        if (!ok)
            throw EDBEngineError::tableInUse(path);
        const bool repair = t->forRepair_;
        t->readHeader(!repair);
        // A pack killed after its new files were complete: finished, and
        // the table opened anew.
        if (t->packPending_) {
            if (attempt >= 4)
                headerCorrupt(path, "a pack left unfinished cannot be completed");
            t->finishInterruptedPack();
            continue;
        }
        if (mode.exclusive && t->file_.writable() && !mode.readOnly)
            t->removeLeftovers();
        // Memo file.
        bool hasMemo = false;
        for (const auto& f : t->fields_)
            if (dbfimpl::inMemoFile(f))
                hasMemo = true;
        if (hasMemo) {
            const std::string dbtPath = companionPath(path, ".DBT");
            if (!fileExists(dbtPath) && !repair)
                throw EDBEngineError::memoCorrupt(dbtPath, "memo file missing");
            const bool oldLayout = !t->level7_ && (t->version_ & 0x08) == 0;
            const DbtFile::Layout layout = oldLayout ? DbtFile::Layout::Old : DbtFile::Layout::New;
            if (fileExists(dbtPath)) {
                if (repair)
                    t->openMemoForRepair(dbtPath, layout);
                else
                    t->dbt_ = DbtFile::open(dbtPath, layout, t->file_.writable());
            }
        }
        if (!repair)
            t->openIndex();
        // A shared open looks for a statement killed half way when it first
        // holds the header; an exclusive one takes no lock: it looks now (an
        // index "in update" was mended above, its journal with it).
        if (mode.exclusive && t->file_.writable() && !mode.readOnly && t->journalOnDisk())
            t->recoverKilledStatement(true);
        // Records after the count are taken back before anything reads the
        // table (the probe leaves them to the survey of the check).
        if (!repair && takeBack && t->bytesAfterCount_)
            t->takeBackAfterCount(false);
        return t;
    }
}

void DbfTable::readHeader(bool checkRebuild)
{
    // Size and identity in one call (the identity of an open file never changes).
    struct stat fst { };
    if (fileSystem().fstat(file_.fd(), &fst) != 0)
        throw EDBEngineError::readFailed(path_, errno, "cannot read the size");
    uint64_t fsize = static_cast<uint64_t>(fst.st_size);
    fileDev_ = static_cast<uint64_t>(fst.st_dev);
    fileIno_ = static_cast<uint64_t>(fst.st_ino);
    // The file as the header below shows it (or newer).
    knownChanges_ = changeCount(fileDev_, fileIno_);
    knownFile_ = {static_cast<int64_t>(fst.st_size), static_cast<int64_t>(fst.st_mtim.tv_sec),
        static_cast<int64_t>(fst.st_mtim.tv_nsec)};
    // The header with its field descriptions in one read as a rule.
    std::string hdr(static_cast<size_t>(std::min<uint64_t>(fsize, 2048)), '\0');
    const size_t got = hdr.empty() ? 0 : file_.readAt(0, hdr.data(), hdr.size());
    if (got < 32)
        headerCorrupt(path_, "file too short");
    const auto* h = reinterpret_cast<const unsigned char*>(hdr.data());
    dropMap();
    version_ = h[0];
    const int level = version_ & 0x07;
    if (level != 3 && level != 4)
        headerCorrupt(path_, "not a dBASE table (version byte " + std::to_string(version_) + ")");
    level7_ = level == 4;
    if (checkRebuild && h[14] == 1 && h[28] != 0 && fileExists(indexPath()))
        throw EDBEngineError::indexOutOfDate(indexPath(), "index rebuild was interrupted");
    packPending_ = h[14] == kPackCommitted;
    mdxFlag_ = h[28];
    codePage_ = codePageOfDriver(h[29]);
    count_ = le32(h + 4);
    headerLen_ = le16(h + 8);
    recLen_ = le16(h + 10);
    const size_t descStart = level7_ ? 68 : 32;
    if (headerLen_ < descStart + 1 || headerLen_ > fsize)
        headerCorrupt(path_, "bad header length");
    if (recLen_ < 2)
        headerCorrupt(path_, "bad record length");
    if (headerLen_ <= got) {
        hdr.resize(headerLen_);
    } else {
        hdr.assign(headerLen_, '\0');
        file_.readExact(0, hdr.data(), hdr.size(), DBERR_HEADERCORRUPT);
    }
    h = reinterpret_cast<const unsigned char*>(hdr.data());
    // What the header promises, held against itself.
    const HeaderScan scan = scanHeader(h, hdr.size());
    const std::string fault = headerFault(scan, h, hdr.size());
    if (!fault.empty())
        headerCorrupt(path_, fault);
    fields_.clear();
    int16_.clear();
    fields_.reserve(scan.fields.size());
    int16_.reserve(scan.fields.size());
    int off = 1;
    for (const HeaderScan::Field& d : scan.fields) {
        FieldInfo f = placedField(d.name, d.type, d.width, d.decimals, off);
        switch (f.nativeType) {
        case 'C':
            f.type = fldZSTRING;
            break;
        case 'D':
            f.type = fldDATE;
            break;
        case 'L':
            f.type = fldBOOL;
            break;
        case 'M':
            f.type = fldBLOB;
            f.subType = fldstMEMO;
            break;
        case 'B':
        case 'G':
            f.type = fldBLOB;
            break;
        case 'N':
        case 'F':
            f.type = d.int16 ? fldINT16 : fldFLOAT;
            break;
        case 'I':
            f.type = fldINT32;
            break;
        case '+':
            f.type = fldINT32;
            f.subType = fldstAUTOINC;
            break;
        case 'O':
            f.type = fldFLOAT;
            break;
        case '@':
            f.type = fldTIMESTAMP;
            break;
        default:
            f.type = fldUNKNOWN;
            break;
        }
        fields_.push_back(std::move(f));
        int16_.push_back(d.int16);
    }
    // ... and against the file: it holds the records the header counts. An
    // append of another program writes its record before the count: a
    // count read after the size may be ahead of it, so the count and then
    // the size are read again before the file is found short.
    const auto holds = [&] { return headerLen_ + uint64_t(count_) * recLen_ <= fsize; };
    if (!holds() && !forRepair_) {
        unsigned char c[4];
        file_.readExact(4, c, 4, DBERR_HEADERCORRUPT);
        count_ = le32(c);
        fsize = file_.size();
        if (!holds())
            headerCorrupt(path_,
                "the file holds fewer records than its header counts (" + std::to_string(count_) + ")");
    }
    // A short file opened for its repair: the whole records it holds.
    const uint64_t fit = fsize > headerLen_ ? (fsize - headerLen_) / recLen_ : 0;
    if (count_ > fit)
        count_ = static_cast<uint32_t>(fit);
    // More than the counted records and an end mark: records an append
    // wrote and never counted, or the rest of one (see takeBackAfterCount).
    bytesAfterCount_ = fsize > headerLen_ + uint64_t(count_) * recLen_ + 1;
    invalidateCache();
}

std::string DbfTable::indexPath() const
{
    return companionPath(path_, ".MDX");
}

void DbfTable::openIndex()
{
    for (int attempt = 0;; ++attempt) {
        try {
            openIndexFile();
            return;
        } catch (const EDBEngineError& e) {
            // Left unfinished by a program that is gone: mended, then opened
            // again (the header is looked at again under its lock first).
            // A "pending" mark was refused because this open was alone at
            // the table; whether it still is, the repair tells under the
            // header lock (another program may have opened the table since,
            // or mended the index). Each new attempt needs another program
            // killed in the middle of a change meanwhile. Found clean now,
            // it was mended by another program since: looked at once more.
            if (attempt >= 8 || e.code() != DBERR_INDEXOUTOFDATE)
                throw;
            if (!indexLeftUnfinished(true)) {
                if (attempt > 0 || mdx::MdxFile::markOf(indexPath()) != mdx::MdxFile::Mark::Clean)
                    throw;
                continue;
            }
        }
        recoverUnfinished(false);
    }
}

void DbfTable::openIndexFile()
{
    mdx_.reset();
    tags_.clear();
    const unsigned char flag = mdxFlag_;  // read with the header just before
    const std::string ipath = indexPath();
    if (flag == 0)
        return;
    try {
        HeaderLock lock(*this, false);
        // The index as read below (or newer); none: it is not opened.
        if (!lookAtIndex(ipath, knownIndex_))
            knownIndex_ = {-1, -1, -1, -1};
        knownIndexWrites_ = UINT64_MAX;  // looked at again after the first change
        try {
            // Alone at the table, an index marked "pending" is what a power
            // cut (or a program killed before its forced flush) left.
            const bool alone = mode_.exclusive || !file_.lockedByOthers(kLockOpen, 1);
            mdx_ = mdx::MdxFile::open(ipath,
                file_.writable() && !mode_.readOnly ? mdx::MdxFile::Mode::ReadWrite : mdx::MdxFile::Mode::ReadOnly,
                alone);
        } catch (const EDBEngineError& e) {
            if (e.code() == DBERR_NOSUCHFILE)
                return;  // no index file: the table opens without tags
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
                throw EDBEngineError::indexOutOfDate(ipath, "tag " + ti.name + " has a condition");
            specs.push_back(ti);
        }
        std::vector<Tag> compiled;
        compileTags(specs, compiled);
        const auto stored = mdx_->tags();
        for (size_t i = 0; i < compiled.size(); ++i) {
            const auto& c = compiled[i];
            const int len = stored[i].keyLength;
            if (keyTypeOf(c.info.keyType) != stored[i].type || (len != 0 && len != c.keyLen))
                throw EDBEngineError::indexOutOfDate(ipath, "tag " + c.info.name + " does not match the table");
            if (stored[i].type == mdx::KeyType::Character && stored[i].codePage != codePage_)
                throw EDBEngineError::indexOutOfDate(ipath, "tag " + c.info.name + " is not in the table's collation");
        }
        tags_ = std::move(compiled);
    } catch (const EDBEngineError& e) {
        mdx_.reset();
        tags_.clear();
        if (e.code() == DBERR_LOCKED)
            throw;
        throw EDBEngineError::indexOutOfDate(ipath, std::string("index out of date (") + e.what() + ")");
    }
}

DbfTable::Tag DbfTable::compileTag(const std::string& path, const std::vector<FieldInfo>& fields, const TagInfo& info)
{
    Tag t;
    t.info = info;
    t.info.name = upper(info.name);
    if (t.info.name.empty() || t.info.name.size() > 10)
        throw EDBEngineError::invalidParam(path, "bad tag name '" + info.name + "'");
    // Split "A+B+C", blanks allowed around the names.
    std::string expr = upper(info.keyExpr);
    size_t start = 0;
    for (;;) {
        const size_t plus = expr.find('+', start);
        std::string name(
            trim(std::string_view(expr).substr(start, plus == std::string::npos ? std::string::npos : plus - start)));
        int idx = -1;
        for (size_t i = 0; i < fields.size(); ++i)
            if (fields[i].name == name)
                idx = static_cast<int>(i);
        if (idx < 0)
            throw EDBEngineError::invalidParam(
                path, "tag " + t.info.name + ": key expression '" + info.keyExpr + "' names no field of the table");
        const char nt = fields[idx].nativeType;
        if (nt != 'C' && nt != 'D' && nt != 'N' && nt != 'F' && nt != 'L')
            throw EDBEngineError::invalidParam(path, "tag " + t.info.name + ": field " + name + " cannot be a key");
        t.fields.push_back(idx);
        if (plus == std::string::npos)
            break;
        start = plus + 1;
    }
    if (t.fields.size() == 1 && fields[t.fields[0]].nativeType == 'D') {
        t.info.keyType = 'D';
        t.keyLen = mdx::kDateKeyLen;
    } else if (t.fields.size() == 1 &&
        (fields[t.fields[0]].nativeType == 'N' || fields[t.fields[0]].nativeType == 'F')) {
        t.info.keyType = 'N';
        t.keyLen = mdx::kNumericKeyLen;
    } else {
        t.info.keyType = 'C';
        int len = 0;
        for (int f : t.fields)
            len += fields[f].width;
        if (len > mdx::kMaxCharKeyLen)
            throw EDBEngineError::invalidParam(path, "tag " + t.info.name + ": key longer than 100 bytes");
        t.keyLen = len;
    }
    return t;
}

void DbfTable::compileTags(const std::vector<TagInfo>& specs, std::vector<Tag>& out) const
{
    out.clear();
    for (const auto& s : specs)
        out.push_back(compileTag(path_, fields_, s));
}

namespace dbfimpl {

// The header of a new level IV table.
std::string newHeader(const std::string& path, const std::vector<DbfTable::FieldSpec>& fields, bool memo, bool indexed,
    const std::vector<std::string>& keyFields, bool oldMemoLayout, uint32_t count, bool rebuildFlag)
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
        throw EDBEngineError::invalidParam(path, "record too long");
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

void normaliseSpecs(const std::string& path, std::vector<DbfTable::FieldSpec>& fields)
{
    if (fields.empty())
        throw EDBEngineError::invalidParam(path, "a table needs at least one field");
    if (fields.size() > 255)
        throw EDBEngineError::invalidParam(path, "too many fields");
    for (auto& f : fields) {
        f.name = upper(std::string(trim(f.name)));
        f.type = static_cast<char>(std::toupper(static_cast<unsigned char>(f.type)));
        if (f.name.empty() || f.name.size() > 10)
            throw EDBEngineError::invalidParam(path, "bad field name '" + f.name + "' (1 to 10 characters)");
        for (char c : f.name)
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_')
                throw EDBEngineError::invalidParam(path, "bad field name '" + f.name + "'");
        switch (f.type) {
        case 'C':
            if (f.width < 1 || f.width > 254)
                throw EDBEngineError::invalidParam(path, "bad width for field " + f.name);
            f.decimals = 0;
            break;
        case 'D':
            f.width = 8;
            f.decimals = 0;
            break;
        case 'L':
            f.width = 1;
            f.decimals = 0;
            break;
        case 'M':
            f.width = 10;
            f.decimals = 0;
            break;
        case 'N':
        case 'F':
            if (f.int16) {
                f.width = 6;
                f.decimals = 0;
            }
            if (f.width < 1 || f.width > 20 || f.decimals < 0 || (f.decimals > 0 && f.decimals > f.width - 2))
                throw EDBEngineError::invalidParam(path, "bad width for field " + f.name);
            break;
        default:
            throw EDBEngineError::notSupported(path, "field type not supported: " + std::string(1, f.type));
        }
        f.int16 = f.int16 && (f.type == 'N' || f.type == 'F');
    }
    for (size_t i = 0; i < fields.size(); ++i)
        for (size_t j = i + 1; j < fields.size(); ++j)
            if (fields[i].name == fields[j].name)
                throw EDBEngineError::invalidParam(path, "duplicate field name " + fields[i].name);
}

std::vector<FieldInfo> infosOf(const std::vector<DbfTable::FieldSpec>& specs)
{
    std::vector<FieldInfo> out;
    int off = 1;
    for (const auto& s : specs)
        out.push_back(placedField(s.name, s.type, s.width, s.decimals, off));
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

std::vector<TagInfo> tagInfosOf(const std::string& indexPath)
{
    std::vector<TagInfo> specs;
    for (const mdx::TagSpec& s : mdx::MdxFile::readTagSpecs(indexPath)) {
        if (!s.forExpression.empty())
            throw EDBEngineError::indexOutOfDate(indexPath, "tag " + s.name + " has a condition");
        TagInfo ti;
        ti.name = s.name;
        ti.keyExpr = s.expression;
        ti.unique = s.unique;
        ti.descending = s.descending;
        specs.push_back(ti);
    }
    return specs;
}

std::vector<mdx::TagSpec> mdxSpecs(const std::vector<TagInfo>& infos, const std::vector<std::vector<int>>& fieldLists,
    const std::vector<int>& keyLens, int codePage)
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
        s.codePage = codePage;
        out.push_back(s);
    }
    return out;
}
}  // namespace dbfimpl

void DbfTable::create(
    const std::string& path, const std::vector<FieldSpec>& fieldsIn, const std::vector<TagInfo>& tagsIn)
{
    std::vector<FieldSpec> fields = fieldsIn;
    normaliseSpecs(path, fields);
    const auto infos = infosOf(fields);
    std::vector<Tag> compiled;
    for (const auto& t : tagsIn)
        compiled.push_back(compileTag(path, infos, t));
    for (size_t i = 0; i < compiled.size(); ++i)
        for (size_t j = i + 1; j < compiled.size(); ++j)
            if (compiled[i].info.name == compiled[j].info.name)
                throw EDBEngineError::invalidParam(path, "duplicate tag " + compiled[i].info.name);
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
        const auto free = [&] {
            return rw.isOpen() ? rw.tryLock(kLockOpen, 1, true)
                               : File::open(path, File::Mode::ReadOnly).tryLock(kLockOpen, 1, false);
        };
        if (!free() && !(Session::instance().releaseIdleOpens() && free()))
            throw EDBEngineError::tableInUse(path);
    }
    const std::string mdxPath = companionPath(path, ".MDX");
    const std::string dbtPath = companionPath(path, ".DBT");
    removeFile(mdxPath);
    if (memo)
        DbtFile::create(dbtPath, baseNameOf(path)).sync();
    else
        removeFile(dbtPath);
    {
        const std::string hdr = newHeader(path, fields, memo, !compiled.empty(), keyFields, false, 0, false);
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
            auto m = mdx::MdxFile::create(tmp, baseNameOf(path), mdxSpecs(ti, fl, kl, kCodePage1252));
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
        auto t = openTable(path, mode, false);
        if (t->mdx_) {
            // Every live record has one entry in each tag, a deleted one
            // may have one (kept until a pack, or given up in a unique tag,
            // or never there in a file written otherwise): a count outside
            // those bounds means the index missed changes made without it.
            HeaderLock lock(*t, false);
            t->refreshCount();
            // The whole structure first: order, depth, blocks used once, the
            // free-block list.
            t->mdx_->verify();
            std::optional<uint64_t> live;  // counted only when a tag holds fewer entries than records
            for (const auto& tag : t->tags_) {
                const uint64_t n = t->mdx_->count(tag.info.name);
                if (n == t->count_)
                    continue;  // every record indexed
                if (!live) {
                    live = 0;
                    for (uint32_t r = 1; r <= t->count_; ++r)
                        if (t->recordPtr(r)[0] != '*')
                            ++*live;
                }
                if (n < *live || n > t->count_)
                    throw EDBEngineError::indexOutOfDate(
                        t->indexPath(), "tag " + tag.info.name + " does not match the table");
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
    forceOwnChanges();
    try {
        if (mdx_)
            mdx_->flush(false);
    } catch (...) {
    }
}

}  // namespace kdb
