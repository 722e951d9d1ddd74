#pragma once
// Production index files of dBASE tables: up to 47 B-tree tags in one file.
//
// The library works on key BYTES and record numbers only; the table layer
// evaluates the key expression of each tag on a record, encodes the result
// with the helpers of MdxKey.h and hands the bytes over.
//
// Errors: every failure throws EDBEngineError (platform/db/core/DbError.h).
//   - damaged, foreign, half-written or truncated file: kdb::DBERR_INDEXOUTOFDATE
//     (the table layer answers by regenerating the tags);
//   - duplicate key in a unique tag: kdb::DBERR_KEYVIOL, the detail names the tag;
//   - unknown tag DBERR_NOSUCHINDEX, bad tag description DBERR_INVALIDTAG,
//     47 tags already DBERR_TOOMANYTAGS, a tag of that name DBERR_DUPTAG, a
//     change on a file opened read-only DBERR_READONLY, no index file
//     DBERR_NOSUCHFILE, key bytes of the wrong size DBERR_INVALIDKEY, a read,
//     write or rename the system refused DBERR_READERR / DBERR_WRITEERR.
//
// Crash safety: the first change after a clean state writes an "in update"
// mark into the file header, and forces it to the disk, before any node is
// touched (and before the table writes the record the change is for).  The
// mark stays on the disk until flush(true), which the table layer calls once
// it has forced its own files: the nodes are forced, then the header that
// clears the mark is written (sent to the disk at once, not waited for: a
// power cut that keeps it from the disk leaves the mark, and the index is
// compared with its table at the next open).  flush(false) writes the
// changes and leaves the mark as
// "pending": programs that have the file open read it; an open made alone
// (after a power cut, or a program killed before its forced flush) refuses
// it with DBERR_INDEXOUTOFDATE, as it refuses a file left "in update".  So a
// power cut at any instant leaves an index that matches its table, or one
// refused.  Regeneration builds a complete new file beside the old one and
// renames it over it.
//
// Several processes: every public call (cursor moves by next/prior excepted)
// first compares the header's change counter with the one it last saw (one
// small read) and drops its node cache when another process flushed changes;
// a file replaced by a regeneration is reopened by its path.  A file another
// process is changing right now (its "in update" mark set) answers
// DBERR_INDEXOUTOFDATE: locking is the table layer's job, and a writer should
// flush before it releases its lock.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/stat.h>

#include "MdxKey.h"

namespace kdb::mdx {

inline constexpr int kMaxTags = 47;
inline constexpr int kMaxTagNameLen = 10;
inline constexpr int kMaxCharKeyLen = 100;
inline constexpr int kMaxExpressionLen = 220;

// What a tag is.  The name is upper case, 1..10 characters (letters, digits,
// '_'); keyLength is 1..100 for Character, and always 8 for Date and 12 for
// Numeric (0 there means "the fixed length").
struct TagSpec {
    std::string name;
    std::string expression;  // key expression text, e.g. "CODE+NUM"
    std::string forExpression;  // FOR condition text, empty = none
    KeyType type = KeyType::Character;
    int keyLength = 0;
    bool unique = false;
    bool descending = false;
    bool isField = true;  // key is one plain field (else an expression)
    // Character tags: the code page whose collation orders the keys
    // (core/Collation.h); 0 = binary byte order (a tag without the mark).
    int codePage = 1252;
};

// One index entry.
struct Entry {
    std::string key;
    uint32_t recno = 0;
};

// A (key, recno) supplier for regeneration: fill the arguments and answer
// true, or answer false when done.  Order does not matter.
using EntrySource = std::function<bool(std::string& key, uint32_t& recno)>;

// The keys of one record for all tags at once, in the order of tags():
// an empty optional leaves the record out of that tag (FOR condition).
struct RecordKeys {
    uint32_t recno = 0;
    std::vector<std::optional<std::string>> keys;
};
using RecordSource = std::function<bool(RecordKeys& record)>;

// What a regeneration did.  A unique tag keeps the first record (lowest
// record number) of each key; the others are counted here.
struct RegenerateResult {
    std::vector<std::string> tags;  // regenerated tags
    std::vector<uint64_t> entries;  // entries written, per tag
    std::vector<uint64_t> duplicatesDropped;  // unique tags: records left out
};

class MdxFile;
namespace detail {
class Store;
}

// Ordered iteration over one tag.  Positions are in the tag's own order
// (a descending tag runs from the highest key to the lowest).  A cursor stays
// usable across changes of the file: after any change it finds its place
// again from its current (key, recno).  It must not outlive its MdxFile.
class MdxCursor {
public:
    MdxCursor(MdxCursor&&) noexcept;
    MdxCursor& operator=(MdxCursor&&) noexcept;
    ~MdxCursor();

    bool first();  // false when the tag is empty
    bool last();
    bool next();  // false at the end (cursor then invalid)
    bool prior();  // false at the start (cursor then invalid)

    // First entry not before `key` in the tag's order.  A key shorter than the
    // key length compares on its own length (prefix seek).  Answers valid().
    bool seek(std::string_view key);
    // Entry (key, recno) itself, or the first one after it.
    bool seek(std::string_view key, uint32_t recno);
    // seek(key) and the entry's key equals `key` (padded for Character tags).
    bool seekExact(std::string_view key);
    // seek(prefix) and the entry's key starts with `prefix`.
    bool seekPrefix(std::string_view prefix);
    // Last entry not after `key` in the tag's order (prefix rule as above:
    // the last entry whose key starts with a short `key`, if any).
    bool seekLast(std::string_view key);

    bool valid() const;
    const std::string& key() const;  // valid() only
    uint32_t recno() const;  // valid() only
    Entry entry() const;

    const std::string& tagName() const;

private:
    friend class MdxFile;
    struct State;
    explicit MdxCursor(std::unique_ptr<State> state);
    std::unique_ptr<State> s_;
};

class MdxFile {
public:
    enum class Mode { ReadWrite, ReadOnly };

    // A new file at `path` (replacing any file there) for the table named
    // dataFileName (base name without directory or extension, at most 16
    // characters kept), with empty tags.  The file is complete on disk on return.
    static std::unique_ptr<MdxFile> create(
        const std::string& path, const std::string& dataFileName, const std::vector<TagSpec>& tags);
    // Opens an existing file; checks the file header, the tag table and every
    // tag header.  Damaged, foreign or half-written: DBERR_INDEXOUTOFDATE.
    // alone: the caller knows that no other program has the file open; a
    // file marked "pending" (changes not forced to the disk) is then refused
    // too (DBERR_INDEXOUTOFDATE).
    static std::unique_ptr<MdxFile> open(const std::string& path, Mode mode = Mode::ReadWrite, bool alone = false);
    // The tag descriptions of a file whose nodes may be damaged or half
    // written (the "in update" mark is ignored); only the file header, the tag
    // table and the tag headers must be sound.  For regenerating a file that
    // open() refused.
    static std::vector<TagSpec> readTagSpecs(const std::string& path);
    // A complete new file from scratch: create() and regenerateAll() in one
    // step, renamed over any file at `path` only when complete.
    static std::unique_ptr<MdxFile> rebuild(const std::string& path, const std::string& dataFileName,
        const std::vector<TagSpec>& tags, const RecordSource& source, RegenerateResult* result = nullptr);

    // Writes pending changes, forced to the disk when this handle made
    // changes not forced yet (errors are swallowed; call flush() to see them).
    ~MdxFile();
    MdxFile(const MdxFile&) = delete;
    MdxFile& operator=(const MdxFile&) = delete;

    const std::string& path() const;
    std::string dataFileName() const;
    bool readOnly() const;

    // ---- tags ----
    std::vector<TagSpec> tags() const;  // in tag-table order
    std::vector<std::string> tagNames() const;
    int tagCount() const;
    bool hasTag(std::string_view name) const;  // names compare case-insensitively
    TagSpec tag(std::string_view name) const;
    // Adds an empty tag (fill it with regenerateTag).
    void addTag(const TagSpec& spec);
    // Drops a tag and frees its blocks.
    void dropTag(std::string_view name);

    // ---- entries ----
    // True when inserting `key` would break the tag's uniqueness: the tag is
    // unique and holds the key for a record other than `exceptRecno`.
    bool wouldViolate(std::string_view tag, std::string_view key, uint32_t exceptRecno = 0);
    // Inserts (key, recno); the same entry twice changes nothing.  A unique tag
    // that holds the key for another record throws DBERR_KEYVIOL and stays unchanged.  A key shorter than the key
    // length is padded (blanks for Character); a longer key, or a Date/Numeric key of the wrong size, is refused
    // (DBERR_INVALIDKEY).
    void insert(std::string_view tag, std::string_view key, uint32_t recno);
    // Removes (key, recno); false when the tag has no such entry.
    bool remove(std::string_view tag, std::string_view key, uint32_t recno);
    // The keys of one record for several tags at once: checks every unique tag
    // first and changes nothing when one refuses.  tags and keys run in
    // parallel; an empty optional leaves the record out of that tag.
    void insertRecord(
        const std::vector<std::string>& tags, const std::vector<std::optional<std::string>>& keys, uint32_t recno);
    // Replaces a record's keys (remove old, insert new) atomically: unique
    // checks first, nothing changed on refusal.
    void updateRecord(const std::vector<std::string>& tags, const std::vector<std::optional<std::string>>& oldKeys,
        const std::vector<std::optional<std::string>>& newKeys, uint32_t recno);

    // ---- lookups ----
    MdxCursor cursor(std::string_view tag);
    // First entry whose key equals `key` (padded), if any.
    std::optional<Entry> findExact(std::string_view tag, std::string_view key);
    // First entry not before `key` in the tag's order (prefix rule of MdxCursor::seek).
    std::optional<Entry> findFirstNotBefore(std::string_view tag, std::string_view key);
    bool contains(std::string_view tag, std::string_view key, uint32_t recno);
    uint64_t count(std::string_view tag);

    // ---- regeneration (bulk build of compact trees, new file renamed over the old) ----
    // One tag from the caller's entries; the other tags keep their entries
    // (they must be readable: otherwise use regenerateAll or rebuild).
    RegenerateResult regenerateTag(std::string_view tag, const EntrySource& source);
    // Every tag from the caller's records; works also after a failed change
    // (only the tag list is needed).  Other handles on the file follow the
    // new file on their next call; cursors find their place again.
    RegenerateResult regenerateAll(const RecordSource& source);

    // ---- durability ----
    // Writes the changed nodes and the header.  sync: forces the nodes (of
    // every program: call it under the lock that keeps the others from
    // changing the file) to the disk, then writes the header that clears the
    // mark; the table's own files must be forced before.  Without sync the
    // mark is left "pending".
    void flush(bool sync = true);
    // The changed nodes written and forced to the disk (every program's
    // writes to the file with them), the mark left in place: the table
    // layer forces its own files meanwhile, then calls flush(true) under the
    // same lock, which writes the header alone.
    void forceNodes();
    // Changes made through this handle and not yet forced to the disk by a
    // flush(true) (of this handle).
    bool unforced() const;
    // Sets the "in update" mark now, forced to the disk as the first change
    // would force it: a change of the table that touches no key yet must
    // be found unfinished should its program be killed (the table layer
    // keeps what it changes where the repair finds it). Cleared by the next
    // flush(true), as after any change.
    void markChanging();
    // Drops the node cache when another process changed the file (automatic
    // on every public call; exposed for the table layer after taking a lock).
    void refresh();
    // The table layer holds a lock that keeps other processes from changing
    // the file (held = true) or gave it back (false).  While held, only the
    // first public call checks the disk for changes; justChecked: the file
    // was opened or refreshed under this lock already.
    void setLockedByCaller(bool held, bool justChecked = false);
    // The table layer looked at the file's path just now (device, inode) and
    // holds a lock that keeps the file from being replaced meanwhile: the
    // next call does not look at the path again when it found this file.
    void setPathSeen(uint64_t device, uint64_t inode);
    // Writes made to the file through this handle so far (a count that only
    // grows): the table layer tells from it whether the file changed under
    // its own hand.
    uint64_t writeCount() const;
    // Nothing to force: no change of this handle nor of another program waits
    // for a forced flush (the mark on the disk is clear). One small read;
    // needs no lock (a change that starts meanwhile is not the caller's).
    bool forcedOnDisk();
    // The open file's size, times and identity (fstat: answers 0, or -1 and errno).
    int statOpenFile(struct stat* st) const;
    // Walks every tag completely and checks the whole structure (order,
    // separators, depth, counts, free list).  Throws DBERR_INDEXOUTOFDATE.
    void verify();

    // ---- an update left unfinished ----
    // The mark of a file's header as the disk holds it.
    enum class Mark { Clean, InUpdate, Replaced, Pending, None /* no file, or not an index */ };
    static Mark markOf(const std::string& path);
    // The caller holds the lock that keeps the others from changing the
    // file: like refresh(), but a file another program left "in update"
    // (killed in the middle of a change; or marked replaced, killed before
    // the new file took its place) answers false instead of raising.
    bool refreshHeld();
    // Opens a file whatever its mark, for a program that holds the table's
    // lock and found it left unfinished: verify() it, compare its entries
    // with the table, then clearMark() (or rebuild the file).
    static std::unique_ptr<MdxFile> openMarked(const std::string& path);
    // Forces the file to the disk, then clears its mark; every other open
    // of the file reads it anew.
    void clearMark();

private:
    friend class MdxCursor;
    explicit MdxFile(std::unique_ptr<detail::Store> store);
    std::unique_ptr<detail::Store> st_;
};

}  // namespace kdb::mdx
