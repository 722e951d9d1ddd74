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

#include "core/DbError.h"

namespace kdb::mdx::detail {

// ---------------------------------------------------------------- helpers

void throwCorrupt(const std::string& path, const std::string& why)
{
    throw EDBEngineError(kdb::DBERR_INDEXOUTOFDATE,
                         "Index endommagé ou périmé : " + path + " (" + why + ")");
}

void throwError(int code, const std::string& message) { throw EDBEngineError(code, message); }

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

std::string sysMessage(const std::string& what, const std::string& path)
{
    return what + " " + path + " : " + std::strerror(errno);
}

uint32_t nkeys(const uint8_t* b) { return rd32(b); }

}  // namespace

int itemLength(int keyLength) { return (4 + keyLength + 3) & ~3; }

int maxKeysFor(uint32_t blockBytes, int itemLen) { return static_cast<int>((blockBytes - 12) / itemLen); }

void writeToday(uint8_t* p)
{
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    p[0] = static_cast<uint8_t>(tm.tm_year);
    p[1] = static_cast<uint8_t>(tm.tm_mon + 1);
    p[2] = static_cast<uint8_t>(tm.tm_mday);
}

TagSpec normaliseSpec(const TagSpec& in)
{
    TagSpec s = in;
    s.name = upperAscii(in.name);
    bool nameOk = !s.name.empty() && s.name.size() <= static_cast<size_t>(kMaxTagNameLen)
                  && !(s.name[0] >= '0' && s.name[0] <= '9');
    for (char c : s.name)
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
            nameOk = false;
    if (!nameOk)
        throwError(ERR_INVALIDTAG, "Nom d'index incorrect : \"" + in.name
                                       + "\" (1 à 10 lettres, chiffres ou _)");
    if (s.expression.empty() || s.expression.size() > static_cast<size_t>(kMaxExpressionLen)
        || !printableText(s.expression))
        throwError(ERR_INVALIDTAG, "Expression de clé incorrecte pour l'index " + s.name);
    if (s.forExpression.size() > static_cast<size_t>(kMaxExpressionLen) || !printableText(s.forExpression))
        throwError(ERR_INVALIDTAG, "Condition incorrecte pour l'index " + s.name);
    switch (s.type) {
    case KeyType::Character:
        if (s.keyLength < 1 || s.keyLength > kMaxCharKeyLen)
            throwError(ERR_INVALIDTAG, "Longueur de clé incorrecte pour l'index " + s.name
                                           + " (1 à 100 caractères)");
        break;
    case KeyType::Date:
    case KeyType::Numeric:
        if (s.keyLength != 0 && s.keyLength != fixedKeyLength(s.type))
            throwError(ERR_INVALIDTAG, "Longueur de clé incorrecte pour l'index " + s.name);
        s.keyLength = fixedKeyLength(s.type);
        break;
    default:
        throwError(ERR_INVALIDTAG, "Type de clé inconnu pour l'index " + s.name);
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

namespace {

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
    return t;
}

// ---------------------------------------------------------------- open / header

Store::~Store()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::unique_ptr<Store> Store::openPath(const std::string& path, MdxFile::Mode mode, bool ignoreMark)
{
    std::unique_ptr<Store> st(new Store);
    st->path_ = path;
    st->readOnly_ = mode == MdxFile::Mode::ReadOnly;
    st->fd_ = ::open(path.c_str(), (st->readOnly_ ? O_RDONLY : O_RDWR) | O_CLOEXEC);
    if (st->fd_ < 0) {
        if (errno == ENOENT)
            throwError(ERR_NOSUCHFILE, "Fichier d'index introuvable : " + path);
        if (errno == EACCES || errno == EROFS || errno == EPERM)
            throwError(kdb::DBERR_NOTSUFFTABLERIGHTS, sysMessage("Accès refusé au fichier d'index", path));
        throwError(ERR_IO, sysMessage("Impossible d'ouvrir le fichier d'index", path));
    }
    st->loadHeader(ignoreMark);
    st->loadTags();
    return st;
}

void Store::loadHeader(bool ignoreMark)
{
    struct stat sb{};
    if (::fstat(fd_, &sb) != 0)
        throwError(ERR_IO, sysMessage("Lecture impossible du fichier d'index", path_));
    diskBytes_ = static_cast<uint64_t>(sb.st_size);
    inode_ = static_cast<uint64_t>(sb.st_ino);
    device_ = static_cast<uint64_t>(sb.st_dev);
    // The header and the blocks right after it (the first tag headers, as a
    // rule) in one read.
    constexpr size_t kFirstRead = 8192;
    std::unique_ptr<uint8_t[]> first(new uint8_t[kFirstRead]);
    uint8_t* h = first.get();
    const ssize_t got = ::pread(fd_, h, kFirstRead, 0);
    if (got < 0)
        throwError(ERR_IO, sysMessage("Lecture impossible du fichier d'index", path_));
    if (static_cast<size_t>(got) < kHeaderBytes)
        throwCorrupt(path_, "fichier trop court");
    const uint32_t bp = rd16(h + H_BLOCKPAGES);
    const uint32_t bb = rd16(h + H_BLOCKBYTES);
    if (h[H_ENTRIES] != 0x30 || h[H_ENTRYLEN] != H_TAGENTRY)
        throwCorrupt(path_, "ce n'est pas un fichier d'index");
    if (bp < 2 || bp > 64 || bb != bp * kPageBytes)
        throwCorrupt(path_, "taille de bloc incorrecte");
    const uint32_t pages = rd32(h + H_PAGES);
    if (pages < kFirstBlockPage || (pages - kFirstBlockPage) % bp != 0)
        throwCorrupt(path_, "nombre de pages incorrect");
    if (uint64_t(pages) * kPageBytes > diskBytes_)
        throwCorrupt(path_, "fichier tronqué");
    if (rd16(h + H_TAGSINUSE) > kMaxTags)
        throwCorrupt(path_, "nombre d'index incorrect");
    if (!ignoreMark && h[H_MARK] != MARK_CLEAN)
        throwCorrupt(path_, h[H_MARK] == MARK_REPLACED ? "fichier remplacé"
                                                       : "mise à jour interrompue");
    std::memcpy(hdr_, h, kHeaderBytes);
    blockPages_ = bp;
    blockBytes_ = bb;
    const uint32_t freeHead = rd32(h + H_FREEHEAD);
    if (freeHead != 0 && !validPage(freeHead))
        throwCorrupt(path_, "liste des blocs libres incorrecte");
    if (rd32(h + H_FREECOUNT) > pages / bp)
        throwCorrupt(path_, "nombre de blocs libres incorrect");
    for (uint32_t p = kFirstBlockPage; uint64_t(p) * kPageBytes + bb <= static_cast<uint64_t>(got) && validPage(p);
         p += bp) {
        if (cache_.count(p))
            continue;
        Block blk;
        blk.data.reset(new uint8_t[bb]);
        std::memcpy(blk.data.get(), h + size_t(p) * kPageBytes, bb);
        cache_.emplace(p, std::move(blk));
    }
}

void Store::loadTags()
{
    tags_.clear();
    const int n = rd16(hdr_ + H_TAGSINUSE);
    for (int i = 0; i < n; ++i) {
        const uint8_t* e = hdr_ + H_TAGTABLE + H_TAGENTRY * i;
        if (!hasNul(e + TE_NAME, 11) || e[TE_NAME] == 0)
            throwCorrupt(path_, "nom d'index incorrect");
        TagState t;
        t.spec.name = cString(e + TE_NAME, 11);
        for (unsigned char c : t.spec.name)
            if (c <= 0x20 || c >= 0x7F)
                throwCorrupt(path_, "nom d'index incorrect");
        const std::string& name = t.spec.name;
        for (const TagState& o : tags_)
            if (o.spec.name == name)
                throwCorrupt(path_, "index " + name + " en double");
        t.headerPage = rd32(e + TE_HEADER);
        if (!validPage(t.headerPage))
            throwCorrupt(path_, "en-tête de l'index " + name + " hors du fichier");
        const uint8_t type = e[TE_TYPE];
        if (type != 'C' && type != 'N' && type != 'D')
            throwCorrupt(path_, "type de clé inconnu pour l'index " + name);
        const uint8_t* b = readBlock(t.headerPage);
        if (b[TH_TYPE] != type)
            throwCorrupt(path_, "type de clé incohérent pour l'index " + name);
        t.type = static_cast<KeyType>(type);
        t.keyLen = rd16(b + TH_KEYLEN);
        const bool lenOk = t.type == KeyType::Character ? (t.keyLen >= 1 && t.keyLen <= kMaxCharKeyLen)
                                                        : t.keyLen == fixedKeyLength(t.type);
        if (!lenOk)
            throwCorrupt(path_, "longueur de clé incorrecte pour l'index " + name);
        t.itemLen = rd16(b + TH_ITEMLEN);
        if (t.itemLen < t.keyLen + 4 || 8 + 2 * uint32_t(t.itemLen) + 4 > blockBytes_)
            throwCorrupt(path_, "longueur d'entrée incorrecte pour l'index " + name);
        t.maxKeysStored = rd16(b + TH_MAXKEYS);
        if (t.maxKeysStored < 2 || 8 + uint32_t(t.maxKeysStored) * t.itemLen > blockBytes_)
            throwCorrupt(path_, "nombre de clés par bloc incorrect pour l'index " + name);
        t.capLeaf = std::min<int>(t.maxKeysStored, static_cast<int>((blockBytes_ - 8) / t.itemLen));
        t.capInterior = std::min<int>(t.maxKeysStored, static_cast<int>((blockBytes_ - 12) / t.itemLen));
        if (t.capInterior < 2)
            throwCorrupt(path_, "nombre de clés par bloc incorrect pour l'index " + name);
        if (!hasNul(b + TH_EXPR, TH_EXPRLEN))
            throwCorrupt(path_, "expression de l'index " + name + " incorrecte");
        t.spec.expression = cString(b + TH_EXPR, TH_EXPRLEN);
        if (b[TH_HASFOR] == 1) {
            const size_t room = blockBytes_ - TH_FOREXPR;
            if (!hasNul(b + TH_FOREXPR, room))
                throwCorrupt(path_, "condition de l'index " + name + " incorrecte");
            t.spec.forExpression = cString(b + TH_FOREXPR, room);
        }
        t.spec.type = t.type;
        t.spec.keyLength = t.keyLen;
        t.descending = (b[TH_FLAGS] & FLAG_DESCENDING) != 0;
        t.unique = (b[TH_FLAGS] & FLAG_UNIQUE) != 0 || b[TH_UNIQUE] == 1;
        t.spec.descending = t.descending;
        t.spec.unique = t.unique;
        t.spec.isField = b[TH_ISFIELD] == 1;
        const uint32_t root = rd32(b + TH_ROOT);
        if (!validPage(root) || root == t.headerPage)
            throwCorrupt(path_, "racine de l'index " + name + " hors du fichier");
        const uint32_t first = rd32(b + TH_FIRSTLEAF), last = rd32(b + TH_LASTLEAF);
        if ((first != 0 && !validPage(first)) || (last != 0 && !validPage(last)))
            throwCorrupt(path_, "premier ou dernier bloc de l'index " + name + " hors du fichier");
        tags_.push_back(std::move(t));
        checkNode(tags_.back(), readBlock(root), root);
    }
}

std::string Store::dataName() const { return cString(hdr_ + H_DATANAME, 16); }

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
        throwError(ERR_NOSUCHINDEX, "Index inconnu : " + std::string(name) + " dans " + path_);
    return tags_[static_cast<size_t>(i)];
}

void Store::checkUsable() const
{
    if (broken_)
        throwCorrupt(path_, "une mise à jour a échoué, l'index doit être régénéré");
}

void Store::syncWithDisk(bool force)
{
    checkUsable();
    if (dirty_)
        return;   // the file is ours until the next flush
    if (held_ && checkedInHold_ && !force)
        return;   // nobody else can have changed it since the last check
    checkedInHold_ = false;
    // Another file put in place under the same name (a restore, a copy).
    struct stat sb{};
    if (::stat(path_.c_str(), &sb) == 0
        && (static_cast<uint64_t>(sb.st_ino) != inode_ || static_cast<uint64_t>(sb.st_dev) != device_)) {
        reopen();
        return;
    }
    uint8_t b[64];
    const ssize_t got = ::pread(fd_, b, sizeof b, 0);
    if (got != static_cast<ssize_t>(sizeof b))
        throwCorrupt(path_, "fichier tronqué");
    if (b[H_MARK] == MARK_REPLACED) {
        reopen();
        return;
    }
    if (b[H_MARK] != MARK_CLEAN)
        throwCorrupt(path_, "mise à jour en cours ou interrompue");
    if (rd32(b + H_COUNTER) != rd32(hdr_ + H_COUNTER))
        reload();
    checkedInHold_ = held_;
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
    const int nfd = ::open(path_.c_str(), (readOnly_ ? O_RDONLY : O_RDWR) | O_CLOEXEC);
    if (nfd < 0)
        throwError(errno == ENOENT ? ERR_NOSUCHFILE : ERR_IO,
                   sysMessage("Impossible de rouvrir le fichier d'index", path_));
    ::close(fd_);
    fd_ = nfd;
    broken_ = false;
    reload();
}

// ---------------------------------------------------------------- blocks

bool Store::validPage(uint32_t page) const
{
    const uint32_t pages = rd32(hdr_ + H_PAGES);
    return page >= kFirstBlockPage && (page - kFirstBlockPage) % blockPages_ == 0
           && uint64_t(page) + blockPages_ <= pages;
}

const uint8_t* Store::readBlock(uint32_t page)
{
    auto it = cache_.find(page);
    if (it != cache_.end())
        return it->second.data.get();
    if (!validPage(page))
        throwCorrupt(path_, "pointeur de bloc " + std::to_string(page) + " hors du fichier");
    const uint64_t off = uint64_t(page) * kPageBytes;
    if (off + blockBytes_ > diskBytes_)
        throwCorrupt(path_, "fichier tronqué");
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
    ssize_t got = count == 1 ? ::pread(fd_, iov[0].iov_base, blockBytes_, static_cast<off_t>(off))
                             : ::preadv(fd_, iov.data(), static_cast<int>(count), static_cast<off_t>(off));
    if (got < 0)
        throwError(ERR_IO, sysMessage("Lecture impossible du fichier d'index", path_));
    const uint32_t whole = static_cast<uint32_t>(static_cast<size_t>(got) / blockBytes_);
    if (whole == 0)
        throwCorrupt(path_, "fichier tronqué");
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
        throwCorrupt(path_, "bloc " + std::to_string(page) + " de l'index " + t.spec.name + " incorrect");
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
            throwCorrupt(path_, "liste des blocs libres incorrecte");
        for (const TagState& o : tags_)
            if (o.headerPage == page || root(o) == page)
                throwCorrupt(path_, "bloc libre " + std::to_string(page) + " encore utilisé");
        uint8_t* w = writeBlock(page);
        const uint32_t next = rd32(w + 4);
        if (next != 0 && !validPage(next))
            throwCorrupt(path_, "liste des blocs libres incorrecte");
        wr32(hdr_ + H_FREEHEAD, next);
        wr32(hdr_ + H_FREECOUNT, count - 1);
        std::memset(w, 0, blockBytes_);
    } else {
        page = rd32(hdr_ + H_PAGES);
        if (uint64_t(page) + blockPages_ > 0xFFFFFFFFull / kPageBytes)
            throwError(ERR_IO, "Fichier d'index trop grand : " + path_);
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
    const int c = compareKeys(t.type, a, b);
    return t.descending ? -c : c;
}

int Store::compareEntry(const TagState& t, std::string_view key, uint32_t recno, const Target& target) const
{
    const int c = compareKey(t, key, target.key);
    if (c != 0)
        return c;
    return recno < target.recno ? -1 : (recno > target.recno ? 1 : 0);
}

// ---------------------------------------------------------------- navigation

namespace {

inline std::string_view keyAt(const TagState& t, const uint8_t* b, uint32_t i)
{
    return std::string_view(reinterpret_cast<const char*>(b + 8 + size_t(i) * t.itemLen + 4),
                            static_cast<size_t>(t.keyLen));
}
inline uint32_t ptrAt(const TagState& t, const uint8_t* b, uint32_t i)
{
    return rd32(b + 8 + size_t(i) * t.itemLen);
}

}  // namespace

// The first index of [lo, hi) where `before` no longer holds (it holds on a
// leading run of the range): the binary searches of a descent.
template <typename Before>
uint32_t firstNotBefore(uint32_t lo, uint32_t hi, Before before)
{
    while (lo < hi) {
        const uint32_t mid = (lo + hi) / 2;
        if (before(mid))
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

void Store::checkDepth(const TagState& t, size_t depth) const
{
    if (depth > size_t(kMaxDepth))
        throwCorrupt(path_, "arbre de l'index " + t.spec.name + " trop profond");
}

const uint8_t* Store::readNode(const TagState& t, uint32_t page, size_t depth)
{
    checkDepth(t, depth);
    const uint8_t* b = readBlock(page);
    checkNode(t, b, page);
    return b;
}

bool Store::maxEntry(const TagState& t, uint32_t page, std::string& key, uint32_t& recno)
{
    for (size_t depth = 0;; ++depth) {
        const uint8_t* b = readNode(t, page, depth);
        const uint32_t n = nkeys(b);
        if (isLeaf(t, b)) {
            if (n == 0)
                return false;
            key.assign(keyAt(t, b, n - 1));
            recno = ptrAt(t, b, n - 1);
            return true;
        }
        page = ptrAt(t, b, n);
    }
}

void Store::descend(const TagState& t, const Target& target, std::vector<Level>& path)
{
    path.clear();
    uint32_t page = root(t);
    std::string mk;
    uint32_t mr = 0;
    for (;;) {
        const uint8_t* b = readNode(t, page, path.size());
        const uint32_t n = nkeys(b);
        if (isLeaf(t, b)) {
            const uint32_t at = firstNotBefore(0, n, [&](uint32_t i) {
                return compareEntry(t, keyAt(t, b, i), ptrAt(t, b, i), target) < 0;
            });
            path.push_back({page, static_cast<int>(at)});
            return;
        }
        // First key not before the target's key.
        const uint32_t lo = firstNotBefore(0, n, [&](uint32_t i) {
            return compareKey(t, keyAt(t, b, i), target.key) < 0;
        });
        uint32_t idx = lo;
        if (lo < n && target.recno != 0 && compareKey(t, keyAt(t, b, lo), target.key) == 0) {
            // Equal keys: the record number decides among the children.
            const uint32_t end = firstNotBefore(lo, n, [&](uint32_t i) {
                return compareKey(t, keyAt(t, b, i), target.key) <= 0;
            });
            if (target.recno == kAfterAll) {
                idx = end;
            } else {
                idx = firstNotBefore(lo, end, [&](uint32_t i) {
                    return !maxEntry(t, ptrAt(t, b, i), mk, mr) || compareEntry(t, mk, mr, target) < 0;
                });
            }
        }
        path.push_back({page, static_cast<int>(idx)});
        page = ptrAt(t, b, idx);
    }
}

void Store::descendEdge(const TagState& t, std::vector<Level>& path, bool rightmost)
{
    uint32_t page;
    if (path.empty()) {
        page = root(t);
    } else {
        const uint8_t* b = readBlock(path.back().page);
        page = ptrAt(t, b, static_cast<uint32_t>(path.back().idx));
    }
    for (;;) {
        const uint8_t* b = readNode(t, page, path.size());
        const uint32_t n = nkeys(b);
        if (isLeaf(t, b)) {
            path.push_back({page, rightmost ? static_cast<int>(n) - 1 : 0});
            return;
        }
        path.push_back({page, rightmost ? static_cast<int>(n) : 0});
        page = ptrAt(t, b, rightmost ? n : 0);
    }
}

namespace {
constexpr int kMaxEmptyLeaves = 4096;
}

bool Store::leaveLeaf(const TagState& t, std::vector<Level>& path, bool backward, int skipped)
{
    path.pop_back();
    for (; !path.empty(); path.pop_back()) {
        Level& up = path.back();
        if (backward ? up.idx > 0 : uint32_t(up.idx) < nkeys(readBlock(up.page))) {
            up.idx += backward ? -1 : 1;
            descendEdge(t, path, backward);
            if (skipped + 1 > kMaxEmptyLeaves)
                throwCorrupt(path_, "blocs vides en trop dans l'index " + t.spec.name);
            return true;
        }
    }
    return false;
}

bool Store::settleForward(const TagState& t, std::vector<Level>& path)
{
    for (int skipped = 0; !path.empty(); ++skipped) {
        const uint8_t* b = readBlock(path.back().page);
        if (path.back().idx >= 0 && uint32_t(path.back().idx) < nkeys(b))
            return true;
        if (!leaveLeaf(t, path, false, skipped))
            return false;
    }
    return false;
}

bool Store::stepForward(const TagState& t, std::vector<Level>& path)
{
    if (path.empty())
        return false;
    ++path.back().idx;
    return settleForward(t, path);
}

bool Store::stepBackward(const TagState& t, std::vector<Level>& path)
{
    if (path.empty())
        return false;
    --path.back().idx;
    for (int skipped = 0;; ++skipped) {
        const uint8_t* b = readBlock(path.back().page);
        const int n = static_cast<int>(nkeys(b));
        if (path.back().idx >= 0 && n > 0) {
            if (path.back().idx >= n)
                path.back().idx = n - 1;
            return true;
        }
        if (!leaveLeaf(t, path, true, skipped))
            return false;
    }
}

bool Store::gotoFirst(const TagState& t, std::vector<Level>& path)
{
    path.clear();
    descendEdge(t, path, false);
    return settleForward(t, path);
}

bool Store::gotoLast(const TagState& t, std::vector<Level>& path)
{
    path.clear();
    descendEdge(t, path, true);
    if (path.back().idx >= 0)
        return true;
    path.back().idx = 0;   // empty leaf: step back from it
    return stepBackward(t, path);
}

std::string_view Store::entryKey(const TagState& t, const std::vector<Level>& path)
{
    return keyAt(t, readBlock(path.back().page), static_cast<uint32_t>(path.back().idx));
}

uint32_t Store::entryRecno(const TagState& t, const std::vector<Level>& path)
{
    return ptrAt(t, readBlock(path.back().page), static_cast<uint32_t>(path.back().idx));
}

// ---------------------------------------------------------------- changes

void Store::pwriteAll(const uint8_t* data, size_t len, uint64_t offset)
{
    while (len > 0) {
        const ssize_t w = ::pwrite(fd_, data, len, static_cast<off_t>(offset));
        if (w < 0) {
            if (errno == EINTR)
                continue;
            throwError(ERR_IO, sysMessage("Écriture impossible dans le fichier d'index", path_));
        }
        data += w;
        len -= static_cast<size_t>(w);
        offset += static_cast<uint64_t>(w);
    }
}

void Store::beginChange()
{
    checkUsable();
    if (readOnly_)
        throwError(ERR_READONLY, "Fichier d'index ouvert en lecture seule : " + path_);
    if (!markOnDisk_) {
        // The mark is in the file before any node changes and before the
        // table writes the record the change is for (a killed program leaves
        // it behind; the system's cache keeps the write order for readers).
        hdr_[H_MARK] = MARK_INUPDATE;
        pwriteAll(hdr_, kPageBytes, 0);
        markOnDisk_ = true;
    }
    dirty_ = true;
    ++generation_;
}

void Store::touchTag(TagState& t)
{
    uint8_t* h = writeBlock(t.headerPage);
    ++h[TH_SERIAL];
}

namespace {

struct Interior {
    std::vector<std::string> keys;
    std::vector<uint32_t> children;
};

Interior decodeInterior(const TagState& t, const uint8_t* b)
{
    Interior in;
    const uint32_t n = nkeys(b);
    in.keys.reserve(n + 1);
    in.children.reserve(n + 2);
    for (uint32_t i = 0; i < n; ++i) {
        in.keys.emplace_back(keyAt(t, b, i));
        in.children.push_back(ptrAt(t, b, i));
    }
    in.children.push_back(ptrAt(t, b, n));
    return in;
}

void encodeInterior(const TagState& t, uint8_t* w, uint32_t blockBytes, const std::string* keys,
                    const uint32_t* children, size_t nKeys)
{
    if (8 + nKeys * size_t(t.itemLen) + 4 > blockBytes)
        throwError(kdb::DBERR_INDEXOUTOFDATE, "Bloc d'index trop plein pour l'index " + t.spec.name);
    std::memset(w, 0, blockBytes);
    wr32(w, static_cast<uint32_t>(nKeys));
    for (size_t i = 0; i < nKeys; ++i) {
        uint8_t* e = w + 8 + i * size_t(t.itemLen);
        wr32(e, children[i]);
        std::memcpy(e + 4, keys[i].data(), size_t(t.keyLen));
    }
    wr32(w + 8 + nKeys * size_t(t.itemLen), children[nKeys]);
}

}  // namespace

bool Store::insertEntry(TagState& t, std::string_view key, uint32_t recno)
{
    std::vector<Level> path;
    const Target target{key, recno};
    descend(t, target, path);
    const Level leaf = path.back();
    const uint8_t* b = readBlock(leaf.page);
    const uint32_t n = nkeys(b);
    const uint32_t idx = static_cast<uint32_t>(leaf.idx);
    if (idx < n && compareEntry(t, keyAt(t, b, idx), ptrAt(t, b, idx), target) == 0)
        return false;

    beginChange();
    const size_t il = size_t(t.itemLen);
    std::vector<uint8_t> item(il, 0);
    wr32(item.data(), recno);
    std::memcpy(item.data() + 4, key.data(), size_t(t.keyLen));

    if (n < uint32_t(t.capLeaf)) {
        uint8_t* w = writeBlock(leaf.page);
        std::memmove(w + 8 + (idx + 1) * il, w + 8 + idx * il, (n - idx) * il);
        std::memcpy(w + 8 + idx * il, item.data(), il);
        wr32(w, n + 1);
    } else {
        bool rightmost = true, leftmost = true;
        for (size_t l = 0; l + 1 < path.size(); ++l) {
            const uint32_t pn = nkeys(readBlock(path[l].page));
            if (uint32_t(path[l].idx) != pn)
                rightmost = false;
            if (path[l].idx != 0)
                leftmost = false;
        }
        const uint32_t total = n + 1;
        std::vector<uint8_t> all(total * il);
        std::memcpy(all.data(), b + 8, idx * il);
        std::memcpy(all.data() + idx * il, item.data(), il);
        std::memcpy(all.data() + (idx + 1) * il, b + 8 + idx * il, (n - idx) * il);
        uint32_t m = total / 2;
        if (rightmost && idx == n)
            m = n;
        else if (leftmost && idx == 0)
            m = 1;
        const uint32_t left = allocBlock(t);
        uint8_t* wl = writeBlock(left);
        std::memset(wl, 0, blockBytes_);
        wr32(wl, m);
        std::memcpy(wl + 8, all.data(), m * il);
        uint8_t* wr = writeBlock(leaf.page);
        std::memset(wr, 0, blockBytes_);
        wr32(wr, total - m);
        std::memcpy(wr + 8, all.data() + m * il, (total - m) * il);
        const std::string sep(reinterpret_cast<const char*>(all.data() + (m - 1) * il + 4), size_t(t.keyLen));
        insertIntoParent(t, path, path.size() - 1, sep, left, rightmost);
        refreshEdges(t);
    }
    uint8_t* h = writeBlock(t.headerPage);
    h[TH_HASKEYS] = 1;
    touchTag(t);
    if (t.countKnown)
        ++t.count;
    return true;
}

void Store::insertIntoParent(TagState& t, std::vector<Level>& path, size_t level, const std::string& sepKey,
                             uint32_t leftPage, bool appendHint)
{
    if (level == 0) {
        const uint32_t newRoot = allocBlock(t);
        const std::string keys[1] = {sepKey};
        const uint32_t children[2] = {leftPage, path[0].page};
        encodeInterior(t, writeBlock(newRoot), blockBytes_, keys, children, 1);
        wr32(writeBlock(t.headerPage) + TH_ROOT, newRoot);
        return;
    }
    Level& parent = path[level - 1];
    Interior in = decodeInterior(t, readBlock(parent.page));
    const size_t at = static_cast<size_t>(parent.idx);
    in.keys.insert(in.keys.begin() + static_cast<long>(at), sepKey);
    in.children.insert(in.children.begin() + static_cast<long>(at), leftPage);
    const size_t total = in.keys.size();
    if (total <= size_t(t.capInterior)) {
        encodeInterior(t, writeBlock(parent.page), blockBytes_, in.keys.data(), in.children.data(), total);
        return;
    }
    // Split: the left part (new block) keeps keys [0, m) and children [0, m];
    // key m goes up; the right part stays in place.
    const size_t m = appendHint ? total - 2 : total / 2;
    const uint32_t left = allocBlock(t);
    encodeInterior(t, writeBlock(left), blockBytes_, in.keys.data(), in.children.data(), m);
    encodeInterior(t, writeBlock(parent.page), blockBytes_, in.keys.data() + m + 1, in.children.data() + m + 1,
                   total - m - 1);
    insertIntoParent(t, path, level - 1, in.keys[m], left, appendHint);
}

bool Store::removeEntry(TagState& t, std::string_view key, uint32_t recno)
{
    std::vector<Level> path;
    const Target target{key, recno};
    descend(t, target, path);
    const Level leaf = path.back();
    const uint8_t* b = readBlock(leaf.page);
    const uint32_t n = nkeys(b);
    const uint32_t idx = static_cast<uint32_t>(leaf.idx);
    if (idx >= n || compareEntry(t, keyAt(t, b, idx), ptrAt(t, b, idx), target) != 0)
        return false;

    beginChange();
    const size_t il = size_t(t.itemLen);
    uint8_t* w = writeBlock(leaf.page);
    std::memmove(w + 8 + idx * il, w + 8 + (idx + 1) * il, (n - idx - 1) * il);
    std::memset(w + 8 + (n - 1) * il, 0, blockBytes_ - (8 + (n - 1) * il));
    wr32(w, n - 1);
    bool structural = false;
    if (n - 1 == 0 && path.size() > 1) {
        freeBlock(t, leaf.page);
        removeChild(t, path, path.size() - 2);
        structural = true;
    } else if (idx == n - 1 && n - 1 > 0 && path.size() > 1) {
        const std::string newMax(keyAt(t, w, n - 2));
        updateSeparator(t, path, path.size() - 1, newMax);
    }
    if (structural) {
        // A root left with a single child gives way to it.
        for (int guard = 0; guard <= kMaxDepth; ++guard) {
            const uint32_t r = root(t);
            const uint8_t* rb = readBlock(r);
            if (isLeaf(t, rb) || nkeys(rb) != 0)
                break;
            const uint32_t only = ptrAt(t, rb, 0);
            freeBlock(t, r);
            wr32(writeBlock(t.headerPage) + TH_ROOT, only);
        }
        refreshEdges(t);
    }
    const uint8_t* rb = readBlock(root(t));
    uint8_t* h = writeBlock(t.headerPage);
    h[TH_HASKEYS] = (isLeaf(t, rb) && nkeys(rb) == 0) ? 0 : 1;
    touchTag(t);
    if (t.countKnown && t.count > 0)
        --t.count;
    return true;
}

void Store::removeChild(TagState& t, std::vector<Level>& path, size_t level)
{
    Level& node = path[level];
    Interior in = decodeInterior(t, readBlock(node.page));
    const size_t i = static_cast<size_t>(node.idx);
    if (in.children.size() == 1) {
        if (level == 0) {   // the root lost its last child: it becomes an empty leaf
            std::memset(writeBlock(node.page), 0, blockBytes_);
            return;
        }
        freeBlock(t, node.page);
        removeChild(t, path, level - 1);
        return;
    }
    const size_t n = in.keys.size();
    if (i < n) {
        in.keys.erase(in.keys.begin() + static_cast<long>(i));
        in.children.erase(in.children.begin() + static_cast<long>(i));
        encodeInterior(t, writeBlock(node.page), blockBytes_, in.keys.data(), in.children.data(), n - 1);
    } else {
        const std::string newMax = in.keys[n - 1];
        in.keys.pop_back();
        in.children.pop_back();
        encodeInterior(t, writeBlock(node.page), blockBytes_, in.keys.data(), in.children.data(), n - 1);
        updateSeparator(t, path, level, newMax);
    }
}

void Store::updateSeparator(TagState& t, std::vector<Level>& path, size_t level, const std::string& newMax)
{
    while (level > 0) {
        const Level& parent = path[level - 1];
        const uint8_t* pb = readBlock(parent.page);
        if (uint32_t(parent.idx) < nkeys(pb)) {
            uint8_t* w = writeBlock(parent.page);
            std::memcpy(w + 8 + size_t(parent.idx) * t.itemLen + 4, newMax.data(), size_t(t.keyLen));
            return;
        }
        --level;
    }
}

void Store::refreshEdges(TagState& t)
{
    std::vector<Level> path;
    descendEdge(t, path, false);
    const uint32_t first = path.back().page;
    path.clear();
    descendEdge(t, path, true);
    const uint32_t last = path.back().page;
    const uint8_t* h = readBlock(t.headerPage);
    if (rd32(h + TH_FIRSTLEAF) != first || rd32(h + TH_LASTLEAF) != last) {
        uint8_t* w = writeBlock(t.headerPage);
        wr32(w + TH_FIRSTLEAF, first);
        wr32(w + TH_LASTLEAF, last);
    }
}

void Store::collectPages(const TagState& t, std::vector<uint32_t>& pages)
{
    // Depth-first walk; a page met twice means a loop or a shared block.
    std::unordered_set<uint32_t> seen;
    struct Frame { uint32_t page; int depth; };
    std::vector<Frame> stack{{root(t), 0}};
    while (!stack.empty()) {
        const Frame f = stack.back();
        stack.pop_back();
        checkDepth(t, size_t(f.depth));
        if (!seen.insert(f.page).second)
            throwCorrupt(path_, "bloc " + std::to_string(f.page) + " atteint deux fois dans l'index " + t.spec.name);
        pages.push_back(f.page);
        const uint8_t* b = readBlock(f.page);
        checkNode(t, b, f.page);
        if (isLeaf(t, b))
            continue;
        const uint32_t n = nkeys(b);
        for (uint32_t i = 0; i <= n; ++i)
            stack.push_back({ptrAt(t, b, i), f.depth + 1});
    }
}

uint64_t Store::countEntries(TagState& t)
{
    if (t.countKnown)
        return t.count;
    std::vector<uint32_t> pages;
    collectPages(t, pages);
    uint64_t total = 0;
    for (uint32_t p : pages) {
        const uint8_t* b = readBlock(p);
        if (isLeaf(t, b))
            total += nkeys(b);
    }
    t.count = total;
    t.countKnown = true;
    return total;
}

void Store::addTag(const TagSpec& raw)
{
    const TagSpec spec = normaliseSpec(raw);
    if (tags_.size() >= size_t(kMaxTags))
        throwError(ERR_TOOMANYTAGS, "Trop d'index dans " + path_ + " (47 au plus)");
    if (tagIndex(spec.name) >= 0)
        throwError(ERR_DUPTAG, "L'index " + spec.name + " existe déjà dans " + path_);
    beginChange();
    TagState t = makeTagState(spec, blockBytes_);
    const uint32_t headerPage = allocBlock(t);
    const uint32_t rootPage = allocBlock(t);
    fillTagHeader(writeBlock(headerPage), blockBytes_, t, rootPage, 2 * blockPages_, rootPage, rootPage, false);
    const int n = static_cast<int>(tags_.size());
    fillTagEntry(hdr_ + H_TAGTABLE + H_TAGENTRY * n, t, headerPage);
    wr16(hdr_ + H_TAGSINUSE, static_cast<uint16_t>(n + 1));
    rebuildThreads(hdr_, n + 1);
    loadTags();
}

void Store::dropTag(std::string_view name)
{
    const int index = tagIndex(name);
    if (index < 0)
        throwError(ERR_NOSUCHINDEX, "Index inconnu : " + std::string(name) + " dans " + path_);
    TagState& t = tags_[static_cast<size_t>(index)];
    std::vector<uint32_t> pages;
    collectPages(t, pages);
    beginChange();
    for (uint32_t p : pages)
        freeBlock(t, p);
    const uint32_t headerPage = t.headerPage;
    t.headerPage = 0;
    freeBlock(t, headerPage);
    const int n = static_cast<int>(tags_.size());
    uint8_t* table = hdr_ + H_TAGTABLE;
    std::memmove(table + H_TAGENTRY * index, table + H_TAGENTRY * (index + 1),
                 size_t(H_TAGENTRY) * size_t(n - index - 1));
    std::memset(table + H_TAGENTRY * (n - 1), 0, H_TAGENTRY);
    wr16(hdr_ + H_TAGSINUSE, static_cast<uint16_t>(n - 1));
    rebuildThreads(hdr_, n - 1);
    loadTags();
}

void Store::flush(bool sync)
{
    checkUsable();
    if (!dirty_)
        return;
    try {
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
            it->second.dirty = false;
        }
        writeRun();
        dirtyPages_.clear();
        if (sync && ::fdatasync(fd_) != 0)
            throwError(ERR_IO, sysMessage("Écriture impossible dans le fichier d'index", path_));
        hdr_[H_MARK] = MARK_CLEAN;
        wr32(hdr_ + H_COUNTER, rd32(hdr_ + H_COUNTER) + 1);
        writeToday(hdr_ + H_UPDATED);
        pwriteAll(hdr_, kHeaderBytes, 0);
        if (sync && ::fdatasync(fd_) != 0)
            throwError(ERR_IO, sysMessage("Écriture impossible dans le fichier d'index", path_));
        diskBytes_ = std::max<uint64_t>(diskBytes_, uint64_t(rd32(hdr_ + H_PAGES)) * kPageBytes);
        markOnDisk_ = false;
        dirty_ = false;
    } catch (...) {
        broken_ = true;
        throw;
    }
}

// ---------------------------------------------------------------- verification

void Store::verify()
{
    checkUsable();
    std::unordered_set<uint32_t> used;
    for (TagState& t : tags_) {
        if (!used.insert(t.headerPage).second)
            throwCorrupt(path_, "en-tête de l'index " + t.spec.name + " partagé");
        std::string prevKey;
        uint32_t prevRecno = 0;
        bool havePrev = false;
        uint64_t entries = 0, nodes = 0;
        int leafDepth = -1;
        uint32_t firstLeaf = 0, lastLeaf = 0;
        // Recursive walk; returns through prevKey the largest entry seen.
        std::function<void(uint32_t, int, bool)> walk = [&](uint32_t page, int depth, bool isRoot) {
            checkDepth(t, size_t(depth));
            if (!used.insert(page).second)
                throwCorrupt(path_, "bloc " + std::to_string(page) + " atteint deux fois");
            ++nodes;
            const uint8_t* b = readBlock(page);
            checkNode(t, b, page);
            const uint32_t n = nkeys(b);
            if (isLeaf(t, b)) {
                if (leafDepth < 0)
                    leafDepth = depth;
                else if (leafDepth != depth)
                    throwCorrupt(path_, "feuilles à des profondeurs différentes dans l'index " + t.spec.name);
                if (n == 0 && !isRoot)
                    throwCorrupt(path_, "bloc vide dans l'index " + t.spec.name);
                if (firstLeaf == 0)
                    firstLeaf = page;
                lastLeaf = page;
                for (uint32_t i = 0; i < n; ++i) {
                    const std::string_view k = keyAt(t, b, i);
                    const uint32_t r = ptrAt(t, b, i);
                    if (r == 0)
                        throwCorrupt(path_, "numéro d'enregistrement nul dans l'index " + t.spec.name);
                    if (havePrev) {
                        const int c = compareEntry(t, k, r, Target{prevKey, prevRecno});
                        if (c <= 0 || (t.unique && compareKey(t, k, prevKey) == 0))
                            throwCorrupt(path_, "clés dans le désordre dans l'index " + t.spec.name);
                    }
                    prevKey.assign(k);
                    prevRecno = r;
                    havePrev = true;
                    ++entries;
                }
                // Bytes after the last entry must be zero (leaf test of readers).
                const size_t end = 8 + size_t(n) * t.itemLen;
                if (end + 4 <= blockBytes_ && rd32(b + end) != 0)
                    throwCorrupt(path_, "fin de bloc non nulle dans l'index " + t.spec.name);
                return;
            }
            const Interior in = decodeInterior(t, b);
            for (size_t i = 0; i < in.children.size(); ++i) {
                walk(in.children[i], depth + 1, false);
                if (i < in.keys.size() && (!havePrev || compareKey(t, in.keys[i], prevKey) != 0))
                    throwCorrupt(path_, "séparateur incorrect dans l'index " + t.spec.name);
            }
        };
        walk(root(t), 0, true);
        const uint8_t* h = readBlock(t.headerPage);
        if (rd32(h + TH_SIZE) != (nodes + 1) * blockPages_)
            throwCorrupt(path_, "taille de l'index " + t.spec.name + " incorrecte");
        if (rd32(h + TH_FIRSTLEAF) != firstLeaf || rd32(h + TH_LASTLEAF) != lastLeaf)
            throwCorrupt(path_, "premier ou dernier bloc de l'index " + t.spec.name + " incorrect");
        if ((h[TH_HASKEYS] != 0) != (entries > 0))
            throwCorrupt(path_, "indicateur de clés de l'index " + t.spec.name + " incorrect");
        if (t.countKnown && t.count != entries)
            throwCorrupt(path_, "compte de l'index " + t.spec.name + " incorrect");
        t.count = entries;
        t.countKnown = true;
    }
    uint32_t page = rd32(hdr_ + H_FREEHEAD);
    uint32_t freeBlocks = 0;
    while (page != 0) {
        if (!validPage(page) || !used.insert(page).second)
            throwCorrupt(path_, "liste des blocs libres incorrecte");
        ++freeBlocks;
        page = rd32(readBlock(page) + 4);
    }
    if (freeBlocks != rd32(hdr_ + H_FREECOUNT))
        throwCorrupt(path_, "nombre de blocs libres incorrect");
}

// ---------------------------------------------------------------- bulk build

void Store::sortRun(const TagState& tag, Run& run, uint64_t& dropped)
{
    const size_t n = run.size();
    const size_t kl = size_t(tag.keyLen);
    std::vector<uint32_t> order(n);
    for (size_t i = 0; i < n; ++i)
        order[i] = static_cast<uint32_t>(i);
    auto keyOf = [&](uint32_t i) {
        return std::string_view(reinterpret_cast<const char*>(run.keys.data() + size_t(i) * kl), kl);
    };
    auto cmpKey = [&](std::string_view a, std::string_view b) {
        const int c = compareKeys(tag.type, a, b);
        return tag.descending ? -c : c;
    };
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        const int c = cmpKey(keyOf(a), keyOf(b));
        if (c != 0)
            return c < 0;
        return run.recnos[a] < run.recnos[b];
    });
    Run out;
    out.keyLen = run.keyLen;
    out.keys.reserve(run.keys.size());
    out.recnos.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        const uint32_t cur = order[i];
        if (!out.recnos.empty()) {
            const std::string_view last(reinterpret_cast<const char*>(out.keys.data() + out.keys.size() - kl), kl);
            if (cmpKey(last, keyOf(cur)) == 0) {
                if (out.recnos.back() == run.recnos[cur])
                    continue;   // the same entry twice
                if (tag.unique) {
                    ++dropped;
                    continue;
                }
            }
        }
        out.keys.insert(out.keys.end(), run.keys.begin() + static_cast<long>(size_t(cur) * kl),
                        run.keys.begin() + static_cast<long>(size_t(cur) * kl + kl));
        out.recnos.push_back(run.recnos[cur]);
    }
    run = std::move(out);
}

namespace {

// Appends blocks to a new file through a buffer.
class BlockWriter {
public:
    BlockWriter(int fd, const std::string& path, uint32_t blockBytes) : fd_(fd), path_(path), bb_(blockBytes) {}
    void append(const uint8_t* block)
    {
        buf_.insert(buf_.end(), block, block + bb_);
        if (buf_.size() >= (4u << 20))
            drain();
    }
    void drain()
    {
        writeAt(buf_.data(), buf_.size(), offset_);
        offset_ += buf_.size();
        buf_.clear();
    }
    void writeAt(const uint8_t* data, size_t len, uint64_t off)
    {
        while (len > 0) {
            const ssize_t w = ::pwrite(fd_, data, len, static_cast<off_t>(off));
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                throwError(ERR_IO, sysMessage("Écriture impossible dans le fichier d'index", path_));
            }
            data += w;
            len -= size_t(w);
            off += uint64_t(w);
        }
    }
    void setOffset(uint64_t off) { offset_ = off; }

private:
    int fd_;
    std::string path_;
    uint32_t bb_;
    std::vector<uint8_t> buf_;
    uint64_t offset_ = 0;
};

}  // namespace

void Store::buildFile(const std::string& path, const std::string& dataName, const uint8_t* created,
                      const std::vector<TagSpec>& specs, const std::vector<Run>& runs, uint32_t counter,
                      int oldFd)
{
    const std::string tmp = path + ".new";
    const int fd = ::open(tmp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (errno == EACCES || errno == EROFS || errno == EPERM)
            throwError(kdb::DBERR_NOTSUFFTABLERIGHTS, sysMessage("Création impossible du fichier d'index", tmp));
        throwError(ERR_IO, sysMessage("Création impossible du fichier d'index", tmp));
    }
    try {
        const uint32_t bp = kDefaultBlockPages, bb = bp * kPageBytes;
        std::vector<uint8_t> hdr(kHeaderBytes, 0);
        hdr[H_VERSION] = 2;
        if (created)
            std::memcpy(hdr.data() + H_CREATED, created, 3);
        else
            writeToday(hdr.data() + H_CREATED);
        std::memcpy(hdr.data() + H_DATANAME, dataName.data(), std::min<size_t>(dataName.size(), 16));
        wr16(hdr.data() + H_BLOCKPAGES, static_cast<uint16_t>(bp));
        wr16(hdr.data() + H_BLOCKBYTES, static_cast<uint16_t>(bb));
        hdr[H_PRODUCTION] = 1;
        hdr[H_ENTRIES] = 0x30;
        hdr[H_ENTRYLEN] = H_TAGENTRY;
        wr16(hdr.data() + H_TAGSINUSE, static_cast<uint16_t>(specs.size()));
        writeToday(hdr.data() + H_UPDATED);
        wr32(hdr.data() + H_COUNTER, counter);

        BlockWriter out(fd, tmp, bb);
        out.setOffset(uint64_t(kFirstBlockPage) * kPageBytes);
        uint32_t next = kFirstBlockPage;
        std::vector<std::pair<uint32_t, std::vector<uint8_t>>> tagHeaders;
        std::vector<uint8_t> block(bb);
        struct Node { uint32_t page; int64_t maxEntry; };

        for (size_t ti = 0; ti < specs.size(); ++ti) {
            const TagState t = makeTagState(specs[ti], bb);
            const Run& run = runs[ti];
            const size_t il = size_t(t.itemLen), kl = size_t(t.keyLen);
            const uint32_t headerPage = next;
            next += bp;
            std::memset(block.data(), 0, bb);
            out.append(block.data());   // placeholder, written at the end
            uint64_t nodes = 0;

            const size_t n = run.size();
            const size_t cap = size_t(t.capLeaf);
            const size_t leaves = std::max<size_t>(1, (n + cap - 1) / cap);
            std::vector<Node> level;
            level.reserve(leaves);
            size_t pos = 0;
            for (size_t l = 0; l < leaves; ++l) {
                const size_t cnt = n / leaves + (l < n % leaves ? 1 : 0);
                std::memset(block.data(), 0, bb);
                wr32(block.data(), static_cast<uint32_t>(cnt));
                for (size_t j = 0; j < cnt; ++j, ++pos) {
                    uint8_t* e = block.data() + 8 + j * il;
                    wr32(e, run.recnos[pos]);
                    std::memcpy(e + 4, run.keys.data() + pos * kl, kl);
                }
                level.push_back({next, static_cast<int64_t>(pos) - 1});
                out.append(block.data());
                next += bp;
                ++nodes;
            }
            const uint32_t firstLeaf = level.front().page, lastLeaf = level.back().page;
            const size_t fan = size_t(t.capInterior) + 1;
            while (level.size() > 1) {
                const size_t cnt = level.size();
                const size_t parents = (cnt + fan - 1) / fan;
                std::vector<Node> up;
                up.reserve(parents);
                size_t ci = 0;
                for (size_t p = 0; p < parents; ++p) {
                    const size_t k = cnt / parents + (p < cnt % parents ? 1 : 0);
                    std::memset(block.data(), 0, bb);
                    wr32(block.data(), static_cast<uint32_t>(k - 1));
                    for (size_t j = 0; j + 1 < k; ++j) {
                        uint8_t* e = block.data() + 8 + j * il;
                        const Node& c = level[ci + j];
                        wr32(e, c.page);
                        std::memcpy(e + 4, run.keys.data() + size_t(c.maxEntry) * kl, kl);
                    }
                    wr32(block.data() + 8 + (k - 1) * il, level[ci + k - 1].page);
                    up.push_back({next, level[ci + k - 1].maxEntry});
                    out.append(block.data());
                    next += bp;
                    ++nodes;
                    ci += k;
                }
                level.swap(up);
            }
            std::vector<uint8_t> th(bb);
            fillTagHeader(th.data(), bb, t, level.front().page, static_cast<uint32_t>((nodes + 1) * bp), firstLeaf,
                          lastLeaf, n > 0);
            tagHeaders.emplace_back(headerPage, std::move(th));
            fillTagEntry(hdr.data() + H_TAGTABLE + H_TAGENTRY * ti, t, headerPage);
        }
        out.drain();
        for (auto& [page, th] : tagHeaders)
            out.writeAt(th.data(), th.size(), uint64_t(page) * kPageBytes);
        rebuildThreads(hdr.data(), static_cast<int>(specs.size()));
        wr32(hdr.data() + H_PAGES, next);
        out.writeAt(hdr.data(), hdr.size(), 0);
        if (::fsync(fd) != 0)
            throwError(ERR_IO, sysMessage("Écriture impossible dans le fichier d'index", tmp));
    } catch (...) {
        ::close(fd);
        ::unlink(tmp.c_str());
        throw;
    }
    ::close(fd);

    // Tell readers of the old file that it is being replaced.
    const uint8_t replaced = MARK_REPLACED;
    if (oldFd >= 0) {
        (void)!::pwrite(oldFd, &replaced, 1, H_MARK);
    } else {
        const int ofd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (ofd >= 0) {
            uint8_t probe[32];
            if (::pread(ofd, probe, sizeof probe, 0) == static_cast<ssize_t>(sizeof probe)
                && probe[H_ENTRIES] == 0x30 && probe[H_ENTRYLEN] == H_TAGENTRY)
                (void)!::pwrite(ofd, &replaced, 1, H_MARK);
            ::close(ofd);
        }
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        const std::string msg = sysMessage("Remplacement impossible du fichier d'index", path);
        ::unlink(tmp.c_str());
        throwError(ERR_IO, msg);
    }
    const size_t slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}

}  // namespace kdb::mdx::detail
