// The index file store: tag descriptions, the header, the block cache and
// the writing of changed blocks.
#include "MdxStore.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <functional>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <unordered_set>
#include <utility>

#include "platform/db/core/Collation.h"
#include "platform/db/core/DbError.h"
#include "platform/db/core/FileSystem.h"

namespace kdb::mdx::detail {

// ---------------------------------------------------------------- helpers

void throwCorrupt(const std::string& path, const std::string& why)
{
    throw EDBEngineError::indexOutOfDate(path, "damaged or out-of-date index (" + why + ")");
}

std::string upperAscii(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

namespace {

bool printableText(std::string_view s)
{
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7F)
            return false;
    return true;
}

std::string cString(const uint8_t* p, size_t max)
{
    size_t n = 0;
    while (n < max && p[n] != 0)
        ++n;
    return std::string(reinterpret_cast<const char*>(p), n);
}

bool hasNul(const uint8_t* p, size_t max)
{
    for (size_t i = 0; i < max; ++i)
        if (p[i] == 0)
            return true;
    return false;
}

}  // namespace

int itemLength(int keyLength)
{
    return (4 + keyLength + 3) & ~3;
}

int maxKeysFor(uint32_t blockBytes, int itemLen)
{
    return static_cast<int>((blockBytes - 12) / itemLen);
}

void writeToday(uint8_t* p)
{
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    p[0] = static_cast<uint8_t>(tm.tm_year);
    p[1] = static_cast<uint8_t>(tm.tm_mon + 1);
    p[2] = static_cast<uint8_t>(tm.tm_mday);
}

TagSpec normaliseSpec(const TagSpec& in, const std::string& path)
{
    TagSpec s = in;
    s.name = upperAscii(in.name);
    bool nameOk = !s.name.empty() && s.name.size() <= static_cast<size_t>(kMaxTagNameLen) &&
        !(s.name[0] >= '0' && s.name[0] <= '9');
    for (char c : s.name)
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
            nameOk = false;
    if (!nameOk)
        throw EDBEngineError::invalidTag(path, "bad tag name \"" + in.name + "\" (1 to 10 letters, digits or _)");
    if (s.expression.empty() || s.expression.size() > static_cast<size_t>(kMaxExpressionLen) ||
        !printableText(s.expression))
        throw EDBEngineError::invalidTag(path, "bad key expression for tag " + s.name);
    if (s.forExpression.size() > static_cast<size_t>(kMaxExpressionLen) || !printableText(s.forExpression))
        throw EDBEngineError::invalidTag(path, "bad condition for tag " + s.name);
    switch (s.type) {
    case KeyType::Character:
        if (s.keyLength < 1 || s.keyLength > kMaxCharKeyLen)
            throw EDBEngineError::invalidTag(path, "bad key length for tag " + s.name + " (1 to 100 characters)");
        break;
    case KeyType::Date:
    case KeyType::Numeric:
        if (s.keyLength != 0 && s.keyLength != fixedKeyLength(s.type))
            throw EDBEngineError::invalidTag(path, "bad key length for tag " + s.name);
        s.keyLength = fixedKeyLength(s.type);
        break;
    default:
        throw EDBEngineError::invalidTag(path, "unknown key type for tag " + s.name);
    }
    return s;
}

void rebuildThreads(uint8_t* header, int tagCount)
{
    for (int i = 0; i < kMaxTags; ++i) {
        uint8_t* e = header + H_TAGTABLE + H_TAGENTRY * i;
        e[TE_LEFT] = e[TE_RIGHT] = e[TE_PARENT] = 0;
    }
    auto nameOf = [&](int i) { return header + H_TAGTABLE + H_TAGENTRY * i + TE_NAME; };
    for (int i = 1; i < tagCount; ++i) {
        int cur = 0;
        for (;;) {
            uint8_t* ce = header + H_TAGTABLE + H_TAGENTRY * cur;
            const bool left = std::strncmp(reinterpret_cast<const char*>(nameOf(i)),
                                  reinterpret_cast<const char*>(nameOf(cur)), 11) < 0;
            uint8_t& link = ce[left ? TE_LEFT : TE_RIGHT];
            if (link == 0) {
                link = static_cast<uint8_t>(i + 1);
                header[H_TAGTABLE + H_TAGENTRY * i + TE_PARENT] = static_cast<uint8_t>(cur + 1);
                break;
            }
            cur = link - 1;
        }
    }
}

void fillTagEntry(uint8_t* e, const TagState& t, uint32_t headerPage)
{
    std::memset(e, 0, H_TAGENTRY);
    wr32(e + TE_HEADER, headerPage);
    std::memcpy(e + TE_NAME, t.spec.name.data(), std::min<size_t>(t.spec.name.size(), 10));
    e[TE_FORMAT] = 0x10;
    e[TE_RESERVED19] = 0x02;
    e[TE_TYPE] = static_cast<uint8_t>(t.type);
}

void fillTagHeader(uint8_t* b, uint32_t blockBytes, const TagState& t, uint32_t root, uint32_t sizePages,
    uint32_t firstLeaf, uint32_t lastLeaf, bool hasKeys)
{
    std::memset(b, 0, blockBytes);
    wr32(b + TH_ROOT, root);
    wr32(b + TH_SIZE, sizePages);
    uint8_t flags = 0;
    if (t.descending)
        flags |= FLAG_DESCENDING;
    if (t.type == KeyType::Character)
        flags |= FLAG_STRING;
    if (t.unique)
        flags |= FLAG_UNIQUE;
    b[TH_FLAGS] = flags;
    b[TH_TYPE] = static_cast<uint8_t>(t.type);
    wr16(b + TH_KEYLEN, static_cast<uint16_t>(t.keyLen));
    wr16(b + TH_MAXKEYS, static_cast<uint16_t>(t.maxKeysStored));
    wr16(b + TH_SECTYPE, t.type == KeyType::Date ? 1 : 0);
    wr16(b + TH_ITEMLEN, static_cast<uint16_t>(t.itemLen));
    b[TH_SERIAL] = 1;
    b[TH_UNIQUE] = t.unique ? 1 : 0;
    std::memcpy(b + TH_EXPR, t.spec.expression.data(), std::min<size_t>(t.spec.expression.size(), TH_EXPRLEN - 1));
    if (!t.spec.forExpression.empty()) {
        b[TH_HASFOR] = 1;
        std::memcpy(b + TH_FOREXPR, t.spec.forExpression.data(),
            std::min<size_t>(t.spec.forExpression.size(), blockBytes - TH_FOREXPR - 1));
    }
    b[TH_HASKEYS] = hasKeys ? 1 : 0;
    wr32(b + TH_FIRSTLEAF, firstLeaf);
    wr32(b + TH_LASTLEAF, lastLeaf);
    writeToday(b + TH_DATE);
    b[TH_ISFIELD] = t.spec.isField ? 1 : 0;
    if (t.collation) {
        std::memcpy(b + kCollationMarkOffset, kCollationMark, sizeof kCollationMark);
        wr16(b + kCollationMarkOffset + 2, static_cast<uint16_t>(t.collation->codePage()));
    }
}

namespace {
// The collation of a Character tag of a code page (0: byte order).
const Collation* collationFor(KeyType type, int codePage)
{
    return type == KeyType::Character && codePage != 0 ? &Collation::forCodePage(codePage) : nullptr;
}
}  // namespace

TagState Store::makeTagState(const TagSpec& spec, uint32_t blockBytes)
{
    TagState t;
    t.spec = spec;
    t.type = spec.type;
    t.keyLen = spec.keyLength;
    t.itemLen = itemLength(spec.keyLength);
    t.maxKeysStored = maxKeysFor(blockBytes, t.itemLen);
    t.capLeaf = t.maxKeysStored;
    t.capInterior = t.maxKeysStored;
    t.descending = spec.descending;
    t.unique = spec.unique;
    t.collation = collationFor(spec.type, spec.codePage);
    if (t.collation)
        t.spec.codePage = t.collation->codePage();
    return t;
}

// ---------------------------------------------------------------- open / header

Store::~Store()
{
    if (fd_ >= 0)
        kdb::fileSystem().close(fd_);
}

std::unique_ptr<Store> Store::openPath(
    const std::string& path, MdxFile::Mode mode, bool ignoreMark, bool alone, bool specsOnly)
{
    std::unique_ptr<Store> st(new Store);
    st->path_ = path;
    st->specsOnly_ = specsOnly;
    st->acceptPending_ = !alone;
    st->readOnly_ = mode == MdxFile::Mode::ReadOnly;
    st->fd_ = kdb::fileSystem().open(path, (st->readOnly_ ? O_RDONLY : O_RDWR) | O_CLOEXEC);
    if (st->fd_ < 0) {
        if (errno == ENOENT)
            throw EDBEngineError::noSuchFile(path);
        if (errno == EACCES || errno == EROFS || errno == EPERM)
            throw EDBEngineError::notWritable(path, errno);
        throw EDBEngineError::openFailed(path, errno);
    }
    st->loadHeader(ignoreMark);
    st->loadTags();
    // From now on a pending mark is another open's: a power cut ends this one too.
    st->acceptPending_ = true;
    return st;
}

void Store::loadHeader(bool ignoreMark)
{
    struct stat sb { };
    if (kdb::fileSystem().fstat(fd_, &sb) != 0)
        throw EDBEngineError::readFailed(path_, errno);
    diskBytes_ = static_cast<uint64_t>(sb.st_size);
    inode_ = static_cast<uint64_t>(sb.st_ino);
    device_ = static_cast<uint64_t>(sb.st_dev);
    // The header and the blocks right after it (the first tag headers, as a
    // rule) in one read.
    constexpr size_t kFirstRead = 8192;
    std::unique_ptr<uint8_t[]> first(new uint8_t[kFirstRead]);
    uint8_t* h = first.get();
    const ssize_t got = kdb::fileSystem().pread(fd_, h, kFirstRead, 0);
    if (got < 0)
        throw EDBEngineError::readFailed(path_, errno);
    if (static_cast<size_t>(got) < kHeaderBytes)
        throwCorrupt(path_, "file too short");
    const uint32_t bp = rd16(h + H_BLOCKPAGES);
    const uint32_t bb = rd16(h + H_BLOCKBYTES);
    if (h[H_ENTRIES] != 0x30 || h[H_ENTRYLEN] != H_TAGENTRY)
        throwCorrupt(path_, "not an index file");
    if (bp < 2 || bp > 64 || bb != bp * kPageBytes)
        throwCorrupt(path_, "bad block size");
    const uint32_t pages = rd32(h + H_PAGES);
    if (pages < kFirstBlockPage || (pages - kFirstBlockPage) % bp != 0)
        throwCorrupt(path_, "bad page count");
    if (uint64_t(pages) * kPageBytes > diskBytes_)
        throwCorrupt(path_, "truncated file");
    if (rd16(h + H_TAGSINUSE) > kMaxTags)
        throwCorrupt(path_, "bad tag count");
    if (!ignoreMark && h[H_MARK] != MARK_CLEAN && !(h[H_MARK] == MARK_PENDING && acceptPending_))
        throwCorrupt(path_,
            h[H_MARK] == MARK_REPLACED      ? "file replaced"
                : h[H_MARK] == MARK_PENDING ? "changes not forced to the disk"
                                            : "update interrupted");
    diskMark_ = h[H_MARK];
    std::memcpy(hdr_, h, kHeaderBytes);
    blockPages_ = bp;
    blockBytes_ = bb;
    const uint32_t freeHead = rd32(h + H_FREEHEAD);
    if (freeHead != 0 && !validPage(freeHead))
        throwCorrupt(path_, "bad free block list");
    if (rd32(h + H_FREECOUNT) > pages / bp)
        throwCorrupt(path_, "bad free block count");
    for (uint32_t p = kFirstBlockPage; uint64_t(p) * kPageBytes + bb <= static_cast<uint64_t>(got) && validPage(p);
         p += bp) {
        if (cache_.count(p))
            continue;
        Block blk;
        blk.data.reset(new uint8_t[bb]);
        std::memcpy(blk.data.get(), h + size_t(p) * kPageBytes, bb);
        cache_.emplace(p, std::move(blk));
    }
    if (!ignoreMark)
        checkFreeList();
}

// A list that loops or runs into a block twice would hand the same block
// out again and again: the tags that get it would overwrite each other. (A
// count that disagrees with the list only stops a change cleanly.)
void Store::checkFreeList()
{
    const uint32_t blocks = (rd32(hdr_ + H_PAGES) - kFirstBlockPage) / blockPages_;
    std::unordered_set<uint32_t> seen;
    uint32_t page = rd32(hdr_ + H_FREEHEAD);
    while (page != 0) {
        if (!validPage(page) || !seen.insert(page).second || seen.size() > blocks)
            throwCorrupt(path_, "bad free block list");
        page = rd32(readBlock(page) + 4);
    }
}

void Store::loadTags()
{
    tags_.clear();
    const int n = rd16(hdr_ + H_TAGSINUSE);
    for (int i = 0; i < n; ++i) {
        const uint8_t* e = hdr_ + H_TAGTABLE + H_TAGENTRY * i;
        if (!hasNul(e + TE_NAME, 11) || e[TE_NAME] == 0)
            throwCorrupt(path_, "bad tag name");
        TagState t;
        t.spec.name = cString(e + TE_NAME, 11);
        for (unsigned char c : t.spec.name)
            if (c <= 0x20 || c >= 0x7F)
                throwCorrupt(path_, "bad tag name");
        const std::string& name = t.spec.name;
        for (const TagState& o : tags_)
            if (o.spec.name == name)
                throwCorrupt(path_, "tag " + name + " twice");
        t.headerPage = rd32(e + TE_HEADER);
        if (!validPage(t.headerPage))
            throwCorrupt(path_, "header of tag " + name + " outside the file");
        const uint8_t type = e[TE_TYPE];
        if (type != 'C' && type != 'N' && type != 'D')
            throwCorrupt(path_, "unknown key type in tag " + name);
        const uint8_t* b = readBlock(t.headerPage);
        if (b[TH_TYPE] != type)
            throwCorrupt(path_, "inconsistent key type in tag " + name);
        t.type = static_cast<KeyType>(type);
        t.keyLen = rd16(b + TH_KEYLEN);
        const bool lenOk = t.type == KeyType::Character ? (t.keyLen >= 1 && t.keyLen <= kMaxCharKeyLen)
                                                        : t.keyLen == fixedKeyLength(t.type);
        if (!lenOk)
            throwCorrupt(path_, "bad key length in tag " + name);
        t.itemLen = rd16(b + TH_ITEMLEN);
        if (t.itemLen < t.keyLen + 4 || 8 + 2 * uint32_t(t.itemLen) + 4 > blockBytes_)
            throwCorrupt(path_, "bad entry length in tag " + name);
        t.maxKeysStored = rd16(b + TH_MAXKEYS);
        if (t.maxKeysStored < 2 || 8 + uint32_t(t.maxKeysStored) * t.itemLen > blockBytes_)
            throwCorrupt(path_, "bad keys per block in tag " + name);
        t.capLeaf = std::min<int>(t.maxKeysStored, static_cast<int>((blockBytes_ - 8) / t.itemLen));
        t.capInterior = std::min<int>(t.maxKeysStored, static_cast<int>((blockBytes_ - 12) / t.itemLen));
        if (t.capInterior < 2)
            throwCorrupt(path_, "bad keys per block in tag " + name);
        if (!hasNul(b + TH_EXPR, TH_EXPRLEN))
            throwCorrupt(path_, "bad expression in tag " + name);
        t.spec.expression = cString(b + TH_EXPR, TH_EXPRLEN);
        if (b[TH_HASFOR] == 1) {
            const size_t room = blockBytes_ - TH_FOREXPR;
            if (!hasNul(b + TH_FOREXPR, room))
                throwCorrupt(path_, "bad condition in tag " + name);
            t.spec.forExpression = cString(b + TH_FOREXPR, room);
        }
        t.spec.type = t.type;
        t.spec.keyLength = t.keyLen;
        t.descending = (b[TH_FLAGS] & FLAG_DESCENDING) != 0;
        t.unique = (b[TH_FLAGS] & FLAG_UNIQUE) != 0 || b[TH_UNIQUE] == 1;
        t.spec.descending = t.descending;
        t.spec.unique = t.unique;
        t.spec.isField = b[TH_ISFIELD] == 1;
        const bool marked = std::memcmp(b + kCollationMarkOffset, kCollationMark, sizeof kCollationMark) == 0;
        t.spec.codePage = marked && t.type == KeyType::Character ? rd16(b + kCollationMarkOffset + 2) : 0;
        t.collation = collationFor(t.type, t.spec.codePage);
        if (specsOnly_) {
            // the descriptions alone: a tree a change cut short may point
            // anywhere, the tag is built anew from them
            tags_.push_back(std::move(t));
            continue;
        }
        const uint32_t root = rd32(b + TH_ROOT);
        if (!validPage(root) || root == t.headerPage)
            throwCorrupt(path_, "root of tag " + name + " outside the file");
        const uint32_t first = rd32(b + TH_FIRSTLEAF), last = rd32(b + TH_LASTLEAF);
        if ((first != 0 && !validPage(first)) || (last != 0 && !validPage(last)))
            throwCorrupt(path_, "first or last leaf of tag " + name + " outside the file");
        tags_.push_back(std::move(t));
        checkNode(tags_.back(), readBlock(root), root);
    }
}

std::string Store::dataName() const
{
    return cString(hdr_ + H_DATANAME, 16);
}

int Store::tagIndex(std::string_view name) const
{
    const std::string up = upperAscii(name);
    for (size_t i = 0; i < tags_.size(); ++i)
        if (tags_[i].spec.name == up)
            return static_cast<int>(i);
    return -1;
}

TagState& Store::tagRef(std::string_view name)
{
    const int i = tagIndex(name);
    if (i < 0)
        throw EDBEngineError::noSuchIndex(path_, name);
    return tags_[static_cast<size_t>(i)];
}

void Store::checkUsable() const
{
    if (broken_)
        throwCorrupt(path_, "a change failed: the index must be regenerated");
}

void Store::syncWithDisk(bool force)
{
    const bool pathSeen = pathSeen_;  // for this check only
    pathSeen_ = false;
    checkUsable();
    if (dirty_ || openedMarked_)
        return;  // the file is ours until the next flush
    if (held_ && checkedInHold_ && !force)
        return;  // nobody else can have changed it since the last check
    checkedInHold_ = false;
    // Another file put in place under the same name (a restore, a copy).
    struct stat sb { };
    if (!pathSeen && kdb::fileSystem().stat(path_, &sb) == 0 &&
        (static_cast<uint64_t>(sb.st_ino) != inode_ || static_cast<uint64_t>(sb.st_dev) != device_)) {
        reopen();
        return;
    }
    uint8_t b[64];
    const ssize_t got = kdb::fileSystem().pread(fd_, b, sizeof b, 0);
    if (got != static_cast<ssize_t>(sizeof b))
        throwCorrupt(path_, "truncated file");
    if (b[H_MARK] == MARK_REPLACED) {
        reopen();
        return;
    }
    if (b[H_MARK] != MARK_CLEAN && b[H_MARK] != MARK_PENDING)
        throwCorrupt(path_, "update in progress or interrupted");
    diskMark_ = b[H_MARK];
    if (rd32(b + H_COUNTER) != rd32(hdr_ + H_COUNTER))
        reload();
    checkedInHold_ = held_;
}

bool Store::syncHeld()
{
    const bool pathSeen = pathSeen_;  // for this check only
    pathSeen_ = false;
    if (dirty_ || markOnDisk_ || openedMarked_)
        return true;  // the file is ours until the next flush
    uint8_t b[64];
    if (kdb::fileSystem().pread(fd_, b, sizeof b, 0) != static_cast<ssize_t>(sizeof b))
        throwCorrupt(path_, "truncated file");
    // Nobody changes the file while the caller holds the lock: a mark other
    // than these is a change that will never end.
    const bool settled = b[H_MARK] == MARK_CLEAN || b[H_MARK] == MARK_PENDING;
    // Another file put in place under the same name (the index rebuilt by
    // the program that mended it, a restore) is looked for when this one
    // does not read as settled; in place of a settled one it is seen by the
    // next use of the index.
    struct stat sb { };
    const bool otherFile = (!settled || broken_) && !pathSeen && kdb::fileSystem().stat(path_, &sb) == 0 &&
        (static_cast<uint64_t>(sb.st_ino) != inode_ || static_cast<uint64_t>(sb.st_dev) != device_);
    if (!settled && !otherFile)
        return false;
    if (otherFile) {
        // The file put in place, left unfinished in its turn by a program
        // killed after the rename: the caller mends it first.
        const int mark = markAt(path_);
        if (mark >= 0 && mark != MARK_CLEAN && mark != MARK_PENDING)
            return false;
    }
    if (otherFile || (broken_ && rd32(b + H_COUNTER) != rd32(hdr_ + H_COUNTER))) {
        // Replaced, or mended since (by another program, or by this one
        // through another open): the file as it is now. A change of this
        // open that failed, with nobody at the file since, stays an error:
        // what it wrote may not be on the disk.
        reopen();
    } else if (broken_) {
        checkUsable();
    } else {
        diskMark_ = b[H_MARK];
        if (rd32(b + H_COUNTER) != rd32(hdr_ + H_COUNTER))
            reload();
    }
    checkedInHold_ = held_;
    return true;
}

int Store::markAt(const std::string& path)
{
    const int fd = kdb::fileSystem().open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    uint8_t b[64];
    const bool got = kdb::fileSystem().pread(fd, b, sizeof b, 0) == static_cast<ssize_t>(sizeof b);
    kdb::fileSystem().close(fd);
    if (!got || b[H_ENTRIES] != 0x30 || b[H_ENTRYLEN] != H_TAGENTRY)
        return -1;
    return b[H_MARK];
}

void Store::clearMark()
{
    if (readOnly_)
        throw EDBEngineError::readOnly(path_);
    try {
        forceToDisk();
        hdr_[H_MARK] = MARK_CLEAN;
        wr32(hdr_ + H_COUNTER, rd32(hdr_ + H_COUNTER) + 1);
        pwriteAll(hdr_, kHeaderBytes, 0);
        forceToDisk();
    } catch (...) {
        broken_ = true;
        throw;
    }
    diskMark_ = MARK_CLEAN;
    markOnDisk_ = dirty_ = unforced_ = openedMarked_ = false;
}

bool Store::forcedOnDisk()
{
    if (broken_ || dirty_ || unforced_ || unsynced_)
        return false;
    uint8_t b[64];
    return kdb::fileSystem().pread(fd_, b, sizeof b, 0) == static_cast<ssize_t>(sizeof b) && b[H_MARK] == MARK_CLEAN;
}

int Store::statOpenFile(struct stat* st) const
{
    return kdb::fileSystem().fstat(fd_, st);
}

void Store::reload()
{
    cache_.clear();
    dirtyPages_.clear();
    markOnDisk_ = dirty_ = false;
    ++generation_;
    std::vector<TagState> known = tags_;
    try {
        loadHeader(false);
        loadTags();
    } catch (...) {
        // Keep the last known tag list: regeneration still needs it.
        tags_ = std::move(known);
        cache_.clear();
        broken_ = true;
        throw;
    }
}

void Store::reopen()
{
    const int nfd = kdb::fileSystem().open(path_, (readOnly_ ? O_RDONLY : O_RDWR) | O_CLOEXEC);
    if (nfd < 0)
        throw errno == ENOENT ? EDBEngineError::noSuchFile(path_)
                              : EDBEngineError::openFailed(path_, errno, "cannot reopen");
    kdb::fileSystem().close(fd_);
    fd_ = nfd;
    unsynced_ = false;
    broken_ = false;
    reload();
}

// ---------------------------------------------------------------- blocks

bool Store::validPage(uint32_t page) const
{
    const uint32_t pages = rd32(hdr_ + H_PAGES);
    return page >= kFirstBlockPage && (page - kFirstBlockPage) % blockPages_ == 0 &&
        uint64_t(page) + blockPages_ <= pages;
}

const uint8_t* Store::readBlock(uint32_t page)
{
    auto it = cache_.find(page);
    if (it != cache_.end())
        return it->second.data.get();
    if (!validPage(page))
        throwCorrupt(path_, "block pointer " + std::to_string(page) + " outside the file");
    const uint64_t off = uint64_t(page) * kPageBytes;
    if (off + blockBytes_ > diskBytes_)
        throwCorrupt(path_, "truncated file");
    // Read ahead only while the reads run on sequentially (a scan of the
    // leaves): a lookup reads the one block it needs, a scan doubles its
    // read at each step up to 32 blocks.
    const uint64_t pagesEnd = std::min<uint64_t>(rd32(hdr_ + H_PAGES), diskBytes_ / kPageBytes);
    if (page == nextSeqPage_)
        readAhead_ = std::min<uint32_t>(readAhead_ * 2, 32);
    else
        readAhead_ = 1;
    uint32_t count = readAhead_;
    while (count > 1 && uint64_t(page) + uint64_t(count) * blockPages_ > pagesEnd)
        --count;
    // Every block is read straight into a buffer of its own (no zero fill:
    // a block not read whole is dropped below).
    std::vector<Block> fresh(count);
    std::vector<struct iovec> iov(count);
    for (uint32_t i = 0; i < count; ++i) {
        fresh[i].data.reset(new uint8_t[blockBytes_]);
        iov[i].iov_base = fresh[i].data.get();
        iov[i].iov_len = blockBytes_;
    }
    ssize_t got = count == 1
        ? kdb::fileSystem().pread(fd_, iov[0].iov_base, blockBytes_, static_cast<off_t>(off))
        : kdb::fileSystem().preadv(fd_, iov.data(), static_cast<int>(count), static_cast<off_t>(off));
    if (got < 0)
        throw EDBEngineError::readFailed(path_, errno);
    const uint32_t whole = static_cast<uint32_t>(static_cast<size_t>(got) / blockBytes_);
    if (whole == 0)
        throwCorrupt(path_, "truncated file");
    nextSeqPage_ = page + whole * blockPages_;
    const uint8_t* result = nullptr;
    for (uint32_t i = 0; i < whole; ++i) {
        const uint32_t p = page + i * blockPages_;
        auto found = cache_.find(p);
        if (found != cache_.end()) {
            if (i == 0)
                result = found->second.data.get();
            continue;
        }
        const uint8_t* d = fresh[i].data.get();
        cache_.emplace(p, std::move(fresh[i]));
        if (i == 0)
            result = d;
    }
    return result;
}

uint8_t* Store::writeBlock(uint32_t page)
{
    readBlock(page);
    Block& blk = cache_.find(page)->second;
    if (!blk.dirty) {
        blk.dirty = true;
        dirtyPages_.push_back(page);
    }
    return blk.data.get();
}

void Store::checkNode(const TagState& t, const uint8_t* b, uint32_t page) const
{
    const uint32_t n = nkeys(b);
    if (n > uint32_t(t.maxKeysStored) || 8 + uint64_t(n) * t.itemLen > blockBytes_)
        throwCorrupt(path_, "bad block " + std::to_string(page) + " in tag " + t.spec.name);
}

bool Store::isLeaf(const TagState& t, const uint8_t* b) const
{
    const uint64_t off = 8 + uint64_t(nkeys(b)) * t.itemLen;
    if (off + 4 > blockBytes_)
        return true;
    return rd32(b + off) == 0;
}

uint32_t Store::allocBlock(TagState& t)
{
    uint32_t page = rd32(hdr_ + H_FREEHEAD);
    if (page != 0) {
        const uint32_t count = rd32(hdr_ + H_FREECOUNT);
        if (!validPage(page) || count == 0)
            throwCorrupt(path_, "bad free block list");
        for (const TagState& o : tags_)
            if (o.headerPage == page || root(o) == page)
                throwCorrupt(path_, "free block " + std::to_string(page) + " still in use");
        uint8_t* w = writeBlock(page);
        const uint32_t next = rd32(w + 4);
        if (next != 0 && !validPage(next))
            throwCorrupt(path_, "bad free block list");
        wr32(hdr_ + H_FREEHEAD, next);
        wr32(hdr_ + H_FREECOUNT, count - 1);
        std::memset(w, 0, blockBytes_);
    } else {
        page = rd32(hdr_ + H_PAGES);
        if (uint64_t(page) + blockPages_ > 0xFFFFFFFFull / kPageBytes)
            throw EDBEngineError::writeFailed(path_, 0, "index file too large");
        wr32(hdr_ + H_PAGES, page + blockPages_);
        Block blk;
        blk.data.reset(new uint8_t[blockBytes_]);
        std::memset(blk.data.get(), 0, blockBytes_);
        blk.dirty = true;
        cache_.erase(page);
        cache_.emplace(page, std::move(blk));
        dirtyPages_.push_back(page);
    }
    if (t.headerPage != 0) {
        uint8_t* h = writeBlock(t.headerPage);
        wr32(h + TH_SIZE, rd32(h + TH_SIZE) + blockPages_);
    }
    return page;
}

void Store::freeBlock(TagState& t, uint32_t page)
{
    uint8_t* w = writeBlock(page);
    std::memset(w, 0, blockBytes_);
    wr32(w + 4, rd32(hdr_ + H_FREEHEAD));
    wr32(hdr_ + H_FREEHEAD, page);
    wr32(hdr_ + H_FREECOUNT, rd32(hdr_ + H_FREECOUNT) + 1);
    if (t.headerPage != 0) {
        uint8_t* h = writeBlock(t.headerPage);
        const uint32_t size = rd32(h + TH_SIZE);
        wr32(h + TH_SIZE, size >= blockPages_ ? size - blockPages_ : 0);
    }
}

// ---------------------------------------------------------------- order

int Store::compareKey(const TagState& t, std::string_view a, std::string_view b) const
{
    const int c = compareKeys(t.type, a, b, t.collation);
    return t.descending ? -c : c;
}

int Store::compareEntry(const TagState& t, std::string_view key, uint32_t recno, const Target& target) const
{
    const int c = compareKey(t, key, target.key);
    if (c != 0)
        return c;
    return recno < target.recno ? -1 : (recno > target.recno ? 1 : 0);
}

// ---------------------------------------------------------------- writing

void writeAll(int fd, const std::string& path, const uint8_t* data, size_t len, uint64_t offset)
{
    while (len > 0) {
        const ssize_t w = kdb::fileSystem().pwrite(fd, data, len, static_cast<off_t>(offset));
        if (w < 0) {
            if (errno == EINTR)
                continue;
            throw EDBEngineError::writeFailed(path, errno);
        }
        data += w;
        len -= static_cast<size_t>(w);
        offset += static_cast<uint64_t>(w);
    }
}

void Store::pwriteAll(const uint8_t* data, size_t len, uint64_t offset)
{
    unsynced_ = true;
    nodesForced_ = false;
    ++writes_;
    writeAll(fd_, path_, data, len, offset);
}

// The order of the writes against a power cut (whatever part of the writes
// not forced to the disk reaches it): the first change after a clean state
// writes the "in update" mark and forces it to the disk before any node, and
// before the table writes the record the change is for. The mark then stays
// set on the disk, as "in update" while a change runs (a killed program
// leaves it) or as "pending" between changes (other programs read the file;
// only an open that finds no other program at the table refuses it), until
// a forced flush has forced the table, then the nodes, and clears it. Later
// changes before that flush force nothing.
//
// Several programs: changes and forced flushes run under the table's header
// lock, and forcing a file forces every program's writes to it; so a flush
// that clears the mark covers the changes of the others too, and the next
// change, reading the header, finds the mark cleared and sets it again.
void Store::beginChange()
{
    checkUsable();
    if (readOnly_)
        throw EDBEngineError::readOnly(path_);
    if (!markOnDisk_) {
        hdr_[H_MARK] = MARK_INUPDATE;
        pwriteAll(hdr_, kPageBytes, 0);
        if (diskMark_ == MARK_CLEAN) {
            try {
                forceToDisk();
            } catch (...) {
                broken_ = true;  // the others find the mark: regenerated
                throw;
            }
        }
        diskMark_ = MARK_INUPDATE;
        markOnDisk_ = true;
    }
    unforced_ = true;
    dirty_ = true;
    ++generation_;
}

void Store::forceToDisk()
{
    if (kdb::fileSystem().fdatasync(fd_) != 0)
        throw EDBEngineError::writeFailed(path_, errno, "cannot flush");
    unsynced_ = false;
}

// The changed blocks, in runs of neighbours; they count as written only when
// every run is.
void Store::writeNodes()
{
    std::sort(dirtyPages_.begin(), dirtyPages_.end());
    dirtyPages_.erase(std::unique(dirtyPages_.begin(), dirtyPages_.end()), dirtyPages_.end());
    std::vector<uint8_t> run;
    uint32_t runStart = 0, runNext = 0;
    auto writeRun = [&] {
        if (!run.empty())
            pwriteAll(run.data(), run.size(), uint64_t(runStart) * kPageBytes);
        run.clear();
    };
    for (uint32_t p : dirtyPages_) {
        auto it = cache_.find(p);
        if (it == cache_.end())
            continue;
        if (run.empty() || p != runNext || run.size() >= (1u << 20)) {
            writeRun();
            runStart = p;
        }
        run.insert(run.end(), it->second.data.get(), it->second.data.get() + blockBytes_);
        runNext = p + blockPages_;
    }
    writeRun();
    for (uint32_t p : dirtyPages_) {
        auto it = cache_.find(p);
        if (it != cache_.end())
            it->second.dirty = false;
    }
    dirtyPages_.clear();
}

void Store::forceNodes()
{
    checkUsable();
    if (!dirty_)
        syncWithDisk(true);  // the mark another program's changes left
    if (dirty_ || diskMark_ == MARK_PENDING) {
        try {
            writeNodes();
            forceToDisk();
        } catch (...) {
            broken_ = true;
            throw;
        }
    }
    nodesForced_ = true;
}

void Store::flush(bool sync)
{
    checkUsable();
    // forceNodes() just forced the nodes under the caller's lock (and read
    // the mark on the disk when it had no change of its own).
    const bool nodesForced = sync && std::exchange(nodesForced_, false);
    if (sync && !dirty_ && !nodesForced)
        syncWithDisk(true);  // the mark another program's changes left
    if (!dirty_ && !(sync && diskMark_ == MARK_PENDING)) {
        if (sync && unsynced_)
            forceToDisk();
        if (sync)
            unforced_ = false;
        return;
    }
    try {
        const bool changed = dirty_;
        writeNodes();
        // The blocks are on the disk before the header that clears the mark.
        if (sync && !nodesForced)
            forceToDisk();
        hdr_[H_MARK] = sync ? MARK_CLEAN : MARK_PENDING;
        if (changed) {
            wr32(hdr_ + H_COUNTER, rd32(hdr_ + H_COUNTER) + 1);
            writeToday(hdr_ + H_UPDATED);
        }
        pwriteAll(hdr_, kHeaderBytes, 0);
        if (sync) {
            // The header that clears the mark is written out at once but not
            // waited for: everything it vouches for is on the disk already.
            // Should a power cut keep it from the disk, the mark is found
            // there and the index compared with the table, which it matches.
            (void)kdb::fileSystem().startWriteBack(fd_, 0, kHeaderBytes);
            unsynced_ = false;
            unforced_ = false;
        }
        diskBytes_ = std::max<uint64_t>(diskBytes_, uint64_t(rd32(hdr_ + H_PAGES)) * kPageBytes);
        diskMark_ = hdr_[H_MARK];
        markOnDisk_ = false;
        dirty_ = false;
    } catch (...) {
        broken_ = true;
        throw;
    }
}

}  // namespace kdb::mdx::detail
