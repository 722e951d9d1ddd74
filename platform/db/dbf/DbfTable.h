#pragma once
// dBASE tables (.DBF) with their memo file (.DBT) and production index
// (.MDX).
//
// Reads tables of level III, IV and 7; writes level IV tables (version byte
// 0x03, or 0x8B with a memo file; a table opened in another level keeps its
// level). Text is read and written in the code page the table's language
// driver byte names (437, 850 or Windows-1252; core/Codepage.h); the tables
// created here are Windows-1252, driver byte 0x57.  Restructuring a table
// of another code page converts its text to Windows-1252.  Character tags
// are ordered by the collation of the table's code page (core/Collation.h);
// an index ordered otherwise (an older file in byte order) opens with
// DBERR_INDEXOUTOFDATE so that it is regenerated.
//
// The 16-bit integer column is stored as a numeric field N(6,0) whose
// descriptor carries the marker byte 'S' at offset 24 (a byte the format
// leaves reserved); a numeric field of no decimals, width 6 or less, with
// that marker is reported as fldINT16, any other numeric one as fldFLOAT.
//
// Production index: keys are built here from the records (key expressions
// "FIELD" or "FIELD+FIELD+..."), the tag file itself is the mdx layer's.
// Every append, update, delete and undelete keeps all tags up to date; a
// deleted record keeps its index entries until the table is packed (so
// other programs that bring it back find it in their index): the readers
// of a tag skip deleted records, and in a unique tag a deleted record's key
// gives way to a live record that takes it.
//
// Multi-user: byte-range locks far beyond the end of the .DBF (see
// DbfTable.cpp) for the open mode, the header (held while appending and
// while the index changes) and each record. Crash safety: the record is
// written before the header count, memos before the record, the index is
// marked "in update" before it changes and cleared after; against a power
// cut the mark is forced to the disk before the table changes and cleared
// only by flush() once the table is forced (mdx/MdxFile.h; an open with
// changes not forced forces them when it closes or parks); pack, restructure
// and regeneration write new files and rename them over the old ones, with
// header byte 14 set while the table's index is being rebuilt after such a
// replacement (a table found with it set opens with DBERR_INDEXOUTOFDATE);
// the ".tmp~" files a killed rewrite leaves are removed at the next
// exclusive open.
//
// Damage: every open holds the header against itself and the file (the
// field descriptions end where the header length says, each has a dBASE
// type and a width that type can have, the record length is 1 + the
// widths, the file holds the counted records): a header that breaks one of
// these is refused with DBERR_HEADERCORRUPT, never read nor written, until
// the table check mends it (repairHeader). Records found after the count
// (written by an append that never counted them) are never written over:
// the open, every write and a look-up through the index that meets them
// take them back first, as many as read as records, and remove what
// follows, keeping a copy and logging it (core/DamageLog.h). A memo file
// whose header does not hold is refused as well (DbtFile.h). A memo
// pointer to nothing reads as an empty memo (the record can still be
// changed), but no memo is written where a record points beyond the end
// of a memo file cut short; a value that does not read is kept as stored
// by every write that does not assign it. survey() finds such damage and a short file,
// repair() mends it (engine/Damage.h keeps a copy of the files first).
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/db/core/Codepage.h"
#include "platform/db/core/File.h"
#include "platform/db/core/Table.h"
#include "platform/db/dbf/DbtFile.h"

namespace kdb {

namespace mdx {
class MdxFile;
struct RegenerateResult;
}  // namespace mdx

class DbfTable : public Table {
public:
    // A column to create.
    struct FieldSpec {
        std::string name;  // at most 10 characters, stored upper case
        char type = 'C';  // 'C', 'D', 'N', 'F', 'L', 'M'
        int width = 0;  // C: 1..254; N/F: 1..20; D, L, M: fixed (ignored)
        int decimals = 0;
        bool int16 = false;  // N(6,0) reported as fldINT16
    };

    // Opens the table file at path. Raises EDBEngineError: DBERR_NOSUCHTABLE,
    // DBERR_FILELOCKED (exclusive conflict), DBERR_HEADERCORRUPT (damaged or
    // foreign file), DBERR_MEMOCORRUPT (memo file missing or damaged),
    // DBERR_INDEXOUTOFDATE (the production index is damaged, half-updated
    // or does not match the table).
    static std::unique_ptr<DbfTable> open(const std::string& path, const TableOpenMode& mode = {});
    // Creates the table (overwriting the table, its memo file and its index)
    // with the given tags (none: no index file).
    static void create(const std::string& path, const std::vector<FieldSpec>& fields, const std::vector<TagInfo>& tags);
    // Probe: the engine code of opening the table (0 when it opens). Checks
    // the index deeper than open(): its whole structure (free-block list
    // included) and every tag's entry count against the table.
    static int probe(const std::string& path, bool exclusive);

    ~DbfTable() override;

    // ---- Table ----
    std::string tableType() const override { return "DBASE"; }
    std::string filePath() const override { return path_; }
    bool isExclusive() const override { return mode_.exclusive; }
    bool isReadOnly() const override { return mode_.readOnly || !file_.writable(); }
    const std::vector<FieldInfo>& fields() const override { return fields_; }
    uint32_t recordSize() const override { return recLen_; }
    int codePage() const override { return codePage_; }
    uint32_t recordCount() const override { return count_; }
    bool isDeleted(uint32_t recNo) override;
    QVariant value(uint32_t recNo, int field) override;
    QVariant valueOf(int field, std::string_view stored) const override;
    void releaseBehindReads(bool on) override
    {
        // a walk's direction is judged from here on
        if (on && !releaseBehind_)
            mapChunkSwitches_ = mapChunkBackward_ = 0;
        releaseBehind_ = on;
    }
    std::string_view rawField(uint32_t recNo, int field) override;
    // The layout's text is Windows-1252: a table of another code page is
    // read through its values.
    bool hasDbfLayout() const override { return codePage_ == kCodePage1252; }
    const char* rawRecord(uint32_t recNo) override
    {
        if (map_ && recNo >= 1 && recNo <= count_ && headerLen_ + uint64_t(recNo) * recLen_ <= mapLen_) {
            const size_t at = headerLen_ + size_t(recNo - 1) * recLen_;
            if ((at >> kMapChunkShift) != mapChunk_)
                touchMapChunk(at >> kMapChunkShift);
            return map_ + at;
        }
        return recordPtr(recNo);
    }
    uint32_t append(const std::vector<QVariant>& values) override;
    void update(uint32_t recNo, const std::vector<QVariant>& values) override;
    void updateFields(uint32_t recNo, const std::vector<std::pair<int, QVariant>>& values) override;
    void checkFields(
        uint32_t recNo, const std::vector<std::pair<int, QVariant>>& values, std::set<std::string>& taken) override;
    void deleteRecord(uint32_t recNo) override;
    void undeleteRecord(uint32_t recNo) override;
    std::string storedRecord(uint32_t recNo) override;
    void restoreRecord(uint32_t recNo, const std::string& stored) override;
    void flush() override;
    void refresh() override;
    bool lockRecord(uint32_t recNo) override;
    void unlockRecord(uint32_t recNo) override;
    bool holdsRecordLock(uint32_t recNo) const override { return recordLocks_.count(recNo) != 0; }
    bool lockTable() override;
    void unlockTable() override;
    std::vector<TagInfo> tags() const override;
    std::unique_ptr<TagCursor> openTag(std::string_view tagName) override;
    void beginIndexRead() override;
    void endIndexRead() override;
    bool park(bool keepOpen) override;
    bool releaseOpen() override;
    bool unpark() override;
    // A statement holds the header exclusively (DbfTableStatement.cpp); one
    // of several records keeps them in a journal beside the table
    // (StatementJournal.h), which the next program at the table finds when
    // the statement was killed half way: the index is marked "in update"
    // before the journal is written, and cleared only once the changes are
    // forced and the journal is gone; a table without an index is looked at
    // for a journal at each hold of its header.
    void beginStatement() override;
    void endStatement() noexcept override;
    void keepForRecovery(const std::vector<uint32_t>& recNos) override;

    // ---- dBASE specifics ----
    uint8_t versionByte() const { return version_; }
    bool hasMemoFile() const { return dbt_.isOpen(); }
    bool hasIndex() const { return mdx_ != nullptr; }
    bool hasIndexFlag() const { return mdxFlag_ != 0; }  // the header says the table has a production index
    std::string indexPath() const;  // path of the .MDX (whether it exists or not)
    // Rebuilds every tag from the records (exclusive open needed).
    void regenerateIndexes();
    // Removes the deleted records (exclusive open needed) and rebuilds the
    // tags. A memo file gets only the memos of the records kept, its blocks
    // one after another: the new table and memo file are written beside the
    // old ones, the old table marked (header byte 14 = 2) once both are
    // complete, then the memo file and the table renamed over the old ones;
    // an open that finds the mark finishes the renames.
    void pack();
    // Replaces the set of tags (exclusive open needed) and builds them; an
    // empty set removes the index file.
    void setTags(const std::vector<TagInfo>& tags);
    // Rewrites the table with a new set of fields (exclusive open needed):
    // sources[k] is the position of the existing field whose values fill new
    // field k (converted), or -1 for an empty new field. Memo columns keep
    // their memo blocks. Deleted records are dropped when packIt is set. The
    // tags are then rebuilt from newTags. A column whose type, width and
    // decimals stay keeps its stored bytes. Answers how many values did not
    // fit their new column (cut, or left empty), calling beforeCut with that
    // count, when there are any, while the old files are still in place.
    uint32_t restructure(const std::vector<FieldSpec>& newFields, const std::vector<int>& sources,
        const std::vector<TagInfo>& newTags, bool packIt, const std::function<void(uint32_t cut)>& beforeCut = {});
    // A header that keeps the table from opening, and what can be made of
    // it from the rest of the header: a header length that cannot be (read
    // again from where the field descriptions end), a field without a width
    // (the width of its type, or, for one text or number field, what the
    // record length leaves).
    struct HeaderRepair {
        bool damaged = false;
        bool repairable = false;  // with the fixes below
        std::string what;  // for the user, French: what is wrong, and the fix
    };
    // Looks at the header of the table file at path (nobody else may have
    // it open: DBERR_FILELOCKED); with write, makes the fixes when it can.
    static HeaderRepair repairHeader(const std::string& path, bool write);
    // What a look over every stored record finds.
    struct Survey {
        uint32_t countInHeader = 0;  // records the header announces
        // Whole records the file holds (more than the count: an append
        // killed before it counted its record).
        uint32_t recordsInFile = 0;
        bool partialRecord = false;  // the file ends inside an announced record
        bool memoFileLost = false;  // memo columns without a memo file that opens
        // The memo file's header gave no block size (or the file is shorter
        // than its header): what it said (French); the repair writes it
        // anew with the block size at which the records find their memos,
        // or makes the file anew when they find none (memoFileLost).
        std::string memoHeaderDamage;
        uint32_t badMemoPointers = 0;  // pointers to no memo (or to a damaged one)
        // The memo file's next-free block cannot be (0, or beyond the end of
        // the file): what it is.
        bool badMemoNextFree = false;
        uint32_t memoNextFree = 0;
        // Whole records after the count that read as records, from the
        // first on (taken back by the repair; the others are removed).
        uint32_t readableAfterCount = 0;
        // Bytes after those that are no record (the rest of a record cut
        // short, or records that do not read; removed by the repair).
        uint64_t bytesAfterRecords = 0;
        uint32_t unreadableValues = 0;  // dates, numbers, logicals that do not read
        uint32_t records = 0;  // records the table holds (once repaired)
        uint64_t values = 0;  // values (not empty) they hold
        bool damaged() const;
    };
    // Reads every record, changes nothing.
    Survey survey();
    // Exclusive open needed. Repairs what survey() finds: a short file gets
    // its partial last record completed with blanks and the count of the
    // records it holds; records after the count are taken back as far as
    // they read as records, the rest removed; bad memo pointers and values
    // that do not read are blanked; a missing memo file is made anew
    // (empty), a next-free block beyond its end set to its end, a memo
    // header without a block size written anew. The index,
    // when open, is regenerated. Answers what was found.
    Survey repair();
    // Exclusive open needed: rebuilds the index from the tag descriptions
    // its file holds even when it does not open; without readable ones the
    // index file is removed. Answers whether tags were kept.
    bool rebuildIndexFromFile();
    // The key bytes of a record for a tag (as handed to the index).
    std::string keyOf(int tag, const char* record) const;

    // How long a change waits for the locks of other programs before it
    // fails with DBERR_LOCKED (milliseconds; 15 000 by default).
    static void setLockTimeout(int ms) { lockTimeoutMs_ = ms; }

    // Locks live at these offsets of the .DBF (far beyond any data).
    static constexpr uint64_t kLockBase = uint64_t(1) << 40;
    static constexpr uint64_t kLockOpen = kLockBase;  // shared by every open, exclusive for an exclusive one
    static constexpr uint64_t kLockTable = kLockBase + 1;  // lockTable(): exclusive; every change takes it shared
    static constexpr uint64_t kLockHeader =
        kLockBase + 2;  // exclusive while the count or the index change, shared while the index is read
    static constexpr uint64_t kLockTurn =
        kLockBase + 3;  // turnstile: taken before the header lock, so that a waiting reader gets its turn
    static constexpr uint64_t kLockRecord = kLockBase + 16;  // + record number

    // Header byte 14 of a table whose pack has written its new files and
    // is putting them in place.
    static constexpr uint8_t kPackCommitted = 2;

private:
    struct Tag {
        TagInfo info;
        std::vector<int> fields;
        int keyLen = 0;
    };
    class Cursor;
    class HeaderLock;
    class RecordWrite;
    class RepairHold;
    friend class Cursor;

    DbfTable() = default;
    // takeBack: records found after the count are taken back at the open
    // (the probe leaves them to the survey of the table check).
    static std::unique_ptr<DbfTable> openTable(const std::string& path, const TableOpenMode& mode, bool takeBack);
    void readHeader(bool checkRebuild);
    // A pack killed between the renames of its new files: puts the ones
    // not in place yet in place (DbfTableRebuild.cpp).
    void finishInterruptedPack();
    // Takes back the records after the count that read as records and
    // removes what follows them, keeping a copy and logging it (see
    // DbfTable.h above; DbfTableRecover.cpp). headerHeld: the caller holds
    // the header exclusively; otherwise it is taken here (made exclusive
    // for the while in a batch of reads).
    void takeBackAfterCount(bool headerHeld);
    // Before a write, under the header held exclusively: records after the
    // count taken back (one look at the file's size when there are none).
    void takeBackBeforeWrite();
    bool recordReads(const char* rec) const;
    // What follows the counted records: how many read as records from the
    // first on, the bytes after those, and whether those bytes are only
    // end-of-file or NUL bytes shorter than a record (no damage).
    struct AfterCount {
        uint32_t readable = 0;
        uint64_t rest = 0;
        bool noise = true;
    };
    AfterCount lookAfterCount(uint32_t counted);
    // How many of the whole records from offset `from` on read as records,
    // from the first on.
    uint32_t readableAfter(uint64_t from, uint64_t whole);
    // Compares the index with the records (tags_, header held exclusively):
    // unmarked when it matches, else built anew; answers the log's words.
    std::string matchIndexToRecords(const std::string& ipath);
    void openIndex();
    void openIndexFile();
    // The index is left unfinished by a program that is gone: marked "in
    // update" (or "replaced" with no new file in its place), or "pending"
    // when nobody else is at the table (alone). Asked under the header lock.
    bool indexLeftUnfinished(bool alone) const;
    // Mends such an index under the header held exclusively (taken here
    // unless headerHeld), keeping a copy of the files and logging what it
    // did (DbfTableRecover.cpp). Raises when it cannot be mended from here.
    void recoverUnfinished(bool headerHeld);
    void compileTags(const std::vector<TagInfo>& specs, std::vector<Tag>& out) const;
    static Tag compileTag(const std::string& path, const std::vector<FieldInfo>& fields, const TagInfo& info);
    const char* recordPtr(uint32_t recNo);
    void readRecordFresh(uint32_t recNo, std::string& out) const;
    void checkRecNo(uint32_t recNo) const;
    void checkField(int field) const;
    void checkWritable() const;
    void requireExclusive(const char* what) const;
    void invalidateCache() { cacheCount_ = 0; }
    // Maps the file so that it covers recNo (a map kept from an earlier open
    // of the file is taken back; a new one is made only when mayMake).
    bool mapRecords(uint32_t recNo, bool mayMake = true);
    void dropMap();
    void takeHeaderShared();
    // The header lock (shared or exclusive) through the turnstile, waiting at
    // most the lock timeout; answers false when it was not had in time.
    bool takeHeaderInTurn(bool exclusive);
    void refreshCount();
    // The header's count as read: held against the file's size.
    void takeCount(uint32_t n);
    void writeCount(uint32_t count);
    void encodeRecord(const std::vector<QVariant>& values, std::string& rec, const std::string* old);
    void encodeField(const FieldInfo& f, const QVariant& v, char* dst, bool int16) const
    {
        encodeField(f, v, dst, int16, codePage_);
    }
    void encodeField(const FieldInfo& f, const QVariant& v, char* dst, bool int16, int codePage) const;
    void takeOver(const std::string& tmp);
    std::string memoText(std::string_view pointer, bool* bad = nullptr) const;
    // Appends a memo to the memo file, never on a block a record points to:
    // a memo that would land on a block beyond the end of a file cut short
    // that a record points to is refused (DBERR_MEMOCORRUPT) until the
    // check blanks those pointers. Logs the next-free block it mends.
    uint32_t appendMemo(const std::string& data);
    // The blocks beyond the end of the memo file the records (deleted ones
    // too) claim.
    std::vector<DbtFile::Claim> memoClaims();
    // Opened for its repair: a memo file whose header does not read is
    // opened at the block size at which the records find the most memos
    // (none found: left closed, to be made anew), and noted.
    void openMemoForRepair(const std::string& dbtPath, DbtFile::Layout layout);
    QVariant decodeField(const FieldInfo& f, const char* record) const;
    QVariant decodeBytes(const FieldInfo& f, std::string_view stored) const;
    static QVariant decodeNumber(const FieldInfo& f, std::string_view raw);
    // False for stored bytes that do not read as a value of the field's type
    // (a date "20231399", a number "  1.2.3" or "****"); blanks read.
    static bool fieldReadable(const FieldInfo& f, std::string_view raw);
    void encodeInto(size_t field, const QVariant& v, std::string& rec, const std::string* old);
    void writeChanged(uint32_t recNo, const std::string& old, const std::string& rec);
    std::vector<std::optional<std::string>> keysOf(const char* record) const;
    std::vector<std::string> tagNames() const;
    void lockForWrite(uint32_t recNo, bool& tookRecordLock);
    void setRebuildFlag(bool on);
    void indexWritten();
    void indexWrittenAfterFailure() noexcept;  // indexWritten() with its errors dropped
    void forceOwnChanges() noexcept;  // flush() when this open changed the index since its last one
    void retireIndex();
    void guardKeys(const std::function<void()>& change, const char* record, uint32_t recNo);
    bool giveWay(const char* record, uint32_t recNo);
    void rebuildIndexFile(const std::vector<Tag>& tags);
    mdx::RegenerateResult writeIndexFromRecords(const std::string& ipath, const std::vector<Tag>& tags);
    void setRecordDeleted(uint32_t recNo, bool deleted);
    // ---- statements (DbfTableStatement.cpp) ----
    std::string journalPath() const;
    bool journalOnDisk() const;
    // Under the header held exclusively (or on an exclusive open): a journal
    // beside the table is that of a statement whose program was killed (a
    // program at work holds the header while its journal exists); its
    // records are put back (unless apply is false: a copy is kept) and it
    // goes. Answers what was done, for the repair log ("" when there was
    // nothing to put back).
    std::string undoKilledStatement(bool apply = true);
    // The same, logged, the header taken exclusively here unless
    // headerHeld; for a table without an index (with one, found in
    // service, the journal is not applied).
    void recoverKilledStatement(bool headerHeld);
    // In flush(), once the changes are forced: the journal of this open's
    // statement goes.
    void dropJournal();
    // Raises when a statement of this open could not be undone (see
    // statementLeft_).
    void checkNoStatementLeft() const;
    void removeLeftovers();
    Survey walkStored(const std::function<void(uint32_t recNo, std::string& rec)>& visit);
    std::string keyForSeek(const Tag& tag, const QVariant& key, bool partial) const;

    static inline int lockTimeoutMs_ = 15000;
    std::string path_;
    TableOpenMode mode_;
    File file_;
    DbtFile dbt_;
    std::unique_ptr<mdx::MdxFile> mdx_;
    std::vector<std::unique_ptr<mdx::MdxFile>> retired_;
    uint64_t indexGeneration_ = 0;
    std::vector<FieldInfo> fields_;
    std::vector<bool> int16_;
    std::vector<Tag> tags_;
    uint8_t version_ = 0x03;
    uint8_t mdxFlag_ = 0;  // header byte 28: the table has a production index
    int codePage_ = kCodePage1252;  // of header byte 29, the language driver
    uint16_t headerLen_ = 0;
    uint16_t recLen_ = 0;
    uint32_t count_ = 0;
    bool forRepair_ = false;  // opened for its repair: a short file is read as far as it goes
    std::string memoHeaderDamage_;  // opened for its repair: what the memo file's header said (see Survey)
    bool packPending_ = false;  // header byte 14 says a pack is putting its files in place
    bool bytesAfterCount_ = false;  // the header was read from a file longer than its records and end mark
    bool level7_ = false;
    bool tableLocked_ = false;
    std::unordered_set<uint32_t> recordLocks_;
    // Read cache: a run of consecutive records.
    std::string cache_;
    uint32_t cacheFirst_ = 0;
    uint32_t cacheCount_ = 0;
    std::string scratch_;
    // Read-only map of the file for reads (records appended since it was
    // made are mapped again when read; writes go through the file and are
    // seen through the map at once).
    const char* map_ = nullptr;
    size_t mapLen_ = 0;
    // With releaseBehindReads(), the pages of the map a read walks through
    // are given back behind it: the map holds a few chunks of the file at a
    // time, so that reading a large table from end to end does not keep all
    // of it in memory.
    static constexpr int kMapChunkShift = 23;  // 8 MiB
    static constexpr size_t kMapChunksHeld = 6;
    size_t mapChunk_ = SIZE_MAX;  // the chunk read last
    std::array<size_t, kMapChunksHeld> mapChunks_{};
    size_t mapChunkCount_ = 0, mapChunkNext_ = 0;
    uint64_t mapChunkSwitches_ = 0, mapChunkBackward_ = 0;
    bool releaseBehind_ = false;
    void touchMapChunk(size_t chunk);
    uint64_t mapDev_ = 0, mapIno_ = 0;
    uint64_t fileDev_ = 0, fileIno_ = 0;  // identity of file_, read with the header
    bool parked_ = false;
    bool openKept_ = false;  // parked with the shared open still taken
    // The files as this open last knew them: looked at just before its
    // header (the table file) or its index was read, and at the end of each
    // change made through it, under the header lock (so that no change of
    // another program falls in between). The index: inode, size, time (s,
    // ns); the table file: size, time (s, ns).
    std::array<int64_t, 4> knownIndex_{};
    std::array<int64_t, 3> knownFile_{};
    // The file's change count in this program (see changeCount) when this
    // open last knew its files: another open of the file in this program
    // that changed it since makes it count again, whatever the file times
    // (too coarse for two changes close together) say.
    uint64_t knownChanges_ = 0;
    // The index's write count (mdx::MdxFile::writeCount) when knownIndex_
    // was last read: a change that did not write the index leaves it as is.
    uint64_t knownIndexWrites_ = UINT64_MAX;
    // Changes made to the file of this identity through any open of this
    // program; noteOwnChange() counts one more.
    static uint64_t changeCount(uint64_t dev, uint64_t ino);
    void noteOwnChange() noexcept;
    static bool lookAtIndex(const std::string& path, std::array<int64_t, 4>& out);
    bool mapFailed_ = false;
    // Records read one at a time (not in a run) before the file is mapped.
    static constexpr uint32_t kSingleReads = 4;
    uint32_t singleReads_ = 0;
    uint64_t singleHold_ = 0;  // the batch of reads the record read last was read in (0: none)
    // Batched index reads (beginIndexRead): depth, and whether the shared
    // header lock is held for them.
    int readHold_ = 0;
    bool readHoldLocked_ = false;
    uint64_t holdCount_ = 0;  // batches of reads begun (the outermost ones)
    // A statement (beginStatement): depth, and its exclusive hold of the
    // header, within which the locks of the calls it makes are had already
    // (and the index is written out only when the statement ends).
    int statementDepth_ = 0;
    std::unique_ptr<HeaderLock> statementLock_;
    bool statementHeld_ = false;
    // The journal of this open's statement is on the disk.
    bool journalKept_ = false;
    // A statement of this open could not be put back (a disk refusing its
    // writes): its journal stays for the next open of the table, and this
    // one answers no more.
    bool statementLeft_ = false;
};

}  // namespace kdb
