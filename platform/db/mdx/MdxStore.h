#pragma once
// Inner part of the index file: the on-disk layout, the block cache and the
// B-tree operations.  Not for use outside this library.

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "MdxFile.h"

namespace kdb::mdx::detail {

// ---- layout ----
inline constexpr uint32_t kPageBytes = 512;
inline constexpr uint32_t kHeaderBytes = 2048;  // pages 0-3
inline constexpr uint32_t kFirstBlockPage = 4;
inline constexpr uint32_t kDefaultBlockPages = 2;
inline constexpr int kMaxDepth = 40;

// File header offsets.
enum : uint32_t {
    H_VERSION = 0,
    H_CREATED = 1,
    H_DATANAME = 4,
    H_BLOCKPAGES = 20,
    H_BLOCKBYTES = 22,
    H_PRODUCTION = 24,
    H_ENTRIES = 25,
    H_ENTRYLEN = 26,
    H_TAGSINUSE = 28,
    H_PAGES = 32,
    H_FREEHEAD = 36,
    H_FREECOUNT = 40,
    H_UPDATED = 44,
    H_MARK = 47,  // reserved byte of the format: 0 clean, 1 in update, 2 replaced
    H_COUNTER = 48,  // in the unused area: change counter, raised on every flush
    H_TAGTABLE = 544,
    H_TAGENTRY = 32
};
// MARK_PENDING: changes complete in the file, not all forced to the disk yet
// (see Store::beginChange).
enum : uint8_t { MARK_CLEAN = 0, MARK_INUPDATE = 1, MARK_REPLACED = 2, MARK_PENDING = 3 };

// Tag table entry offsets.
enum : uint32_t {
    TE_HEADER = 0,
    TE_NAME = 4,
    TE_FORMAT = 15,
    TE_LEFT = 16,
    TE_RIGHT = 17,
    TE_PARENT = 18,
    TE_RESERVED19 = 19,
    TE_TYPE = 20
};

// Tag header block offsets.
enum : uint32_t {
    TH_ROOT = 0,
    TH_SIZE = 4,
    TH_FLAGS = 8,
    TH_TYPE = 9,
    TH_KEYLEN = 12,
    TH_MAXKEYS = 14,
    TH_SECTYPE = 16,
    TH_ITEMLEN = 18,
    TH_SERIAL = 20,
    TH_UNIQUE = 23,
    TH_EXPR = 24,
    TH_EXPRLEN = 221,
    TH_HASFOR = 245,
    TH_HASKEYS = 246,
    TH_FIRSTLEAF = 248,
    TH_LASTLEAF = 252,
    TH_DATE = 257,
    TH_ISFIELD = 480,
    TH_FOREXPR = 762
};
enum : uint8_t { FLAG_DESCENDING = 0x08, FLAG_STRING = 0x10, FLAG_DISTINCT = 0x20, FLAG_UNIQUE = 0x40 };

inline uint32_t rd32(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline uint16_t rd16(const uint8_t* p)
{
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
inline void wr32(uint8_t* p, uint32_t v)
{
    std::memcpy(p, &v, 4);
}
inline void wr16(uint8_t* p, uint16_t v)
{
    std::memcpy(p, &v, 2);
}

// Writes the whole range or throws DBERR_WRITEERR naming `path`.
void writeAll(int fd, const std::string& path, const uint8_t* data, size_t len, uint64_t offset);
// Throws DBERR_INDEXOUTOFDATE for the file at `path`.
[[noreturn]] void throwCorrupt(const std::string& path, const std::string& why);

// Upper-cases ASCII letters.
std::string upperAscii(std::string_view s);
// Checks and completes a tag description (upper-case name, fixed key lengths).
TagSpec normaliseSpec(const TagSpec& spec, const std::string& path);
int itemLength(int keyLength);
int maxKeysFor(uint32_t blockBytes, int itemLen);
// Writes today's date as YY MM DD.
void writeToday(uint8_t* p);
// Threads of the tag table: a binary search tree by name, entry 1 the root.
void rebuildThreads(uint8_t* header, int tagCount);

// One tag as the store keeps it.
struct TagState {
    TagSpec spec;
    uint32_t headerPage = 0;
    int keyLen = 0;
    int itemLen = 0;
    int capLeaf = 0;  // keys a leaf may hold when this library writes it
    int capInterior = 0;  // keys an interior node may hold (plus its last child)
    int maxKeysStored = 0;  // limit a node read from the file must respect
    bool descending = false;
    bool unique = false;
    KeyType type = KeyType::Character;
    const Collation* collation = nullptr;  // Character keys; null = byte order
    bool countKnown = false;
    uint64_t count = 0;
};

// Nodes: a key count, then items of (record number or child page, key bytes);
// an interior node ends with the page of its last child.
inline uint32_t nkeys(const uint8_t* b)
{
    return rd32(b);
}
inline std::string_view keyAt(const TagState& t, const uint8_t* b, uint32_t i)
{
    return std::string_view(
        reinterpret_cast<const char*>(b + 8 + size_t(i) * t.itemLen + 4), static_cast<size_t>(t.keyLen));
}
inline uint32_t ptrAt(const TagState& t, const uint8_t* b, uint32_t i)
{
    return rd32(b + 8 + size_t(i) * t.itemLen);
}

// The tag table entry and the tag header block of a tag.
void fillTagEntry(uint8_t* e, const TagState& t, uint32_t headerPage);
void fillTagHeader(uint8_t* b, uint32_t blockBytes, const TagState& t, uint32_t root, uint32_t sizePages,
    uint32_t firstLeaf, uint32_t lastLeaf, bool hasKeys);

// A position target: (key, recno); recno 0 = before every entry of the key,
// kAfterAll = after every entry of the key.  `key` may be shorter than the
// key length for Character tags (prefix).
inline constexpr uint64_t kAfterAll = uint64_t(1) << 32;
struct Target {
    std::string_view key;
    uint64_t recno = 0;
};

struct Level {
    uint32_t page = 0;
    int idx = 0;  // entry (leaf) or child (interior) index
};

// Sorted entries of one tag for the bulk builder.
struct Run {
    int keyLen = 0;
    std::vector<uint8_t> keys;  // n * keyLen
    std::vector<uint32_t> recnos;  // n
    size_t size() const { return recnos.size(); }
};

class Store {
public:
    ~Store();

    // alone: no other program has the file open (a pending mark is then left
    // over and refused). specsOnly: the tags' descriptions only, their
    // trees not looked at (to build them anew).
    static std::unique_ptr<Store> openPath(const std::string& path, MdxFile::Mode mode, bool ignoreMark,
        bool alone = false, bool specsOnly = false);
    // Builds a complete file at `path` (through a temporary file renamed over
    // it).  runs[i] holds the sorted entries of specs[i].
    static void buildFile(const std::string& path, const std::string& dataName, const uint8_t* created,
        const std::vector<TagSpec>& specs, const std::vector<Run>& runs, uint32_t counter);
    // Sorts and de-duplicates entries for a tag; counts unique keys dropped.
    static void sortRun(const TagState& tag, Run& run, uint64_t& dropped);
    static TagState makeTagState(const TagSpec& spec, uint32_t blockBytes);

    // ---- state ----
    const std::string& path() const { return path_; }
    bool readOnly() const { return readOnly_; }
    std::string dataName() const;
    const uint8_t* header() const { return hdr_; }
    uint64_t generation() const { return generation_; }
    uint32_t counter() const { return rd32(hdr_ + H_COUNTER); }
    const std::vector<TagState>& tags() const { return tags_; }
    TagState& tagRef(std::string_view name);  // throws DBERR_NOSUCHINDEX
    int tagIndex(std::string_view name) const;  // -1 when missing
    void checkUsable() const;  // throws when broken
    void syncWithDisk(bool force = false);  // refresh check of every public call
    // The refresh check of a caller holding the table's lock: false when the
    // file is left "in update" (or marked replaced without having been) by
    // a program that is gone, instead of an error.
    bool syncHeld();
    // The mark of the file at path as the disk holds it (-1: no index header).
    static int markAt(const std::string& path);
    // Forces the file, then clears its mark (the change counter goes up, so
    // that every other open reloads it).
    void clearMark();
    // Opened whatever its mark under the caller's lock (MdxFile::openMarked):
    // nobody else changes the file, its mark is not looked at again.
    void setOpenedMarked() { openedMarked_ = true; }
    // While held, the caller keeps other processes from changing the file:
    // only the first check of the hold goes to the disk.
    void setHeld(bool held, bool justChecked)
    {
        held_ = held;
        checkedInHold_ = held && justChecked;
    }
    // The caller looked at the file's path just now and found the file this
    // store has open (device, inode), under a lock that keeps it from being
    // replaced: the next check of the disk does not look at the path again.
    void setPathSeen(uint64_t device, uint64_t inode) { pathSeen_ = device == device_ && inode == inode_; }
    // Writes made to the file through this store so far.
    uint64_t writes() const { return writes_; }
    // No change of this store or of another program waits to be forced:
    // the mark on the disk (one small read, no lock needed) is clear.
    bool forcedOnDisk();
    int statOpenFile(struct stat* st) const;
    void reload();  // re-reads header and tags, drops the cache
    void reopen();  // after the file was replaced

    // ---- tag header fields ----
    uint32_t root(const TagState& t) { return rd32(readBlock(t.headerPage) + TH_ROOT); }

    // ---- navigation ----
    // Descends to the leaf position of the first entry >= target; path gets one
    // Level per node, the leaf last (idx may equal the leaf's key count).
    void descend(const TagState& t, const Target& target, std::vector<Level>& path);
    // Moves a leaf position that may be past its leaf's end onto the next entry;
    // false at the end of the tag.
    bool settleForward(const TagState& t, std::vector<Level>& path);
    bool stepForward(const TagState& t, std::vector<Level>& path);
    bool stepBackward(const TagState& t, std::vector<Level>& path);
    bool gotoFirst(const TagState& t, std::vector<Level>& path);
    bool gotoLast(const TagState& t, std::vector<Level>& path);
    std::string_view entryKey(const TagState& t, const std::vector<Level>& path);
    uint32_t entryRecno(const TagState& t, const std::vector<Level>& path);
    // Compares an entry with a target in the tag's order.
    int compareEntry(const TagState& t, std::string_view key, uint32_t recno, const Target& target) const;
    int compareKey(const TagState& t, std::string_view a, std::string_view b) const;

    // ---- changes ----
    void beginChange();
    // Inserts (key, recno); false when the entry already exists.  No unique check.
    bool insertEntry(TagState& t, std::string_view key, uint32_t recno);
    bool removeEntry(TagState& t, std::string_view key, uint32_t recno);
    uint64_t countEntries(TagState& t);
    void addTag(const TagSpec& spec);
    void dropTag(std::string_view name);
    void flush(bool sync);
    // The first half of flush(true): the changed nodes written and the file
    // forced (every program's writes to it with ours); the mark stays until
    // the flush(true) that follows under the same lock writes the header.
    void forceNodes();
    // Changes made through this store not forced to the disk yet.
    bool unforced() const { return unforced_; }
    void verify();
    void markBroken() { broken_ = true; }

    // ---- blocks ----
    const uint8_t* readBlock(uint32_t page);
    uint8_t* writeBlock(uint32_t page);
    uint32_t blockBytes() const { return blockBytes_; }

private:
    Store() = default;
    void loadHeader(bool ignoreMark);
    void loadTags();
    // Walks the free-block list: every link inside the file, none twice.
    void checkFreeList();
    bool validPage(uint32_t page) const;
    void checkNode(const TagState& t, const uint8_t* b, uint32_t page) const;
    // Throws when a walk of the tag has gone deeper than a sound tree can be.
    void checkDepth(const TagState& t, size_t depth) const;
    // Node `page` of the tag, met `depth` levels below the root, read and checked.
    const uint8_t* readNode(const TagState& t, uint32_t page, size_t depth);
    bool isLeaf(const TagState& t, const uint8_t* b) const;
    uint32_t allocBlock(TagState& t);
    void freeBlock(TagState& t, uint32_t page);
    void descendEdge(const TagState& t, std::vector<Level>& path, bool rightmost);
    // Leaves an exhausted leaf (the last Level of path) for the nearest entry
    // of the next leaf in the walking direction; false past the tag's end.
    // `skipped` counts the leaves left so far (too many: a damaged tag).
    bool leaveLeaf(const TagState& t, std::vector<Level>& path, bool backward, int skipped);
    // Largest entry below a node (key, recno); false for an empty subtree.
    bool maxEntry(const TagState& t, uint32_t page, std::string& key, uint32_t& recno);
    void insertIntoParent(TagState& t, std::vector<Level>& path, size_t level, const std::string& sepKey,
        uint32_t leftPage, bool appendHint);
    void removeChild(TagState& t, std::vector<Level>& path, size_t level);
    void updateSeparator(TagState& t, std::vector<Level>& path, size_t level, const std::string& newMax);
    void refreshEdges(TagState& t);
    void touchTag(TagState& t);
    void collectPages(const TagState& t, std::vector<uint32_t>& pages);
    void pwriteAll(const uint8_t* data, size_t len, uint64_t offset);
    void writeNodes();
    void forceToDisk();

    struct Block {
        std::unique_ptr<uint8_t[]> data;
        bool dirty = false;
    };

    std::string path_;
    int fd_ = -1;
    bool readOnly_ = false;
    uint8_t hdr_[kHeaderBytes] = {};
    uint32_t blockPages_ = kDefaultBlockPages;
    uint32_t blockBytes_ = kDefaultBlockPages * kPageBytes;
    uint64_t diskBytes_ = 0;  // size of the file on disk
    uint64_t inode_ = 0, device_ = 0;  // identity of the open file
    std::vector<TagState> tags_;
    std::unordered_map<uint32_t, Block> cache_;
    std::vector<uint32_t> dirtyPages_;
    uint64_t generation_ = 1;
    bool held_ = false;
    bool checkedInHold_ = false;
    bool pathSeen_ = false;  // see setPathSeen
    bool specsOnly_ = false;  // see openPath
    uint64_t writes_ = 0;
    uint32_t nextSeqPage_ = 0;  // page after the last read from the disk
    uint32_t readAhead_ = 1;  // blocks of the last read
    bool markOnDisk_ = false;  // this store wrote the "in update" mark since its last flush
    uint8_t diskMark_ = MARK_CLEAN;  // the mark as the file holds it (last read or written)
    bool acceptPending_ = true;  // a pending mark is another open's (false: left over)
    bool unforced_ = false;  // changed the file since its last forced flush
    bool dirty_ = false;  // changes in the cache not in the file yet
    bool unsynced_ = false;  // written since the file was last forced to the disk
    bool broken_ = false;
    bool openedMarked_ = false;
    // forceNodes() forced every write made to the file so far (none since):
    // the flush(true) that follows writes the header alone.
    bool nodesForced_ = false;
};

}  // namespace kdb::mdx::detail
