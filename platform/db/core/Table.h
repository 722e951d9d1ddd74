#pragma once
// The abstract table: one open table file (a cursor on it) as every layer
// above the storage sees it. The dBASE layer (dbf/DbfTable) and the Paradox
// layer implement it; the dataset and SQL layers and the engine calls use it.
//
// Records are numbered from 1 (physical order). A deleted record keeps its
// number until the table is packed. Field positions are 0-based indexes into
// fields().
//
// Values are QVariant:
//   character   QString, trailing blanks trimmed (null QVariant when blank)
//   memo        QString (null QVariant when there is no memo)
//   date        QDate (a null QVariant for an empty date)
//   numeric     int for a field without decimals (qlonglong when it does not
//               fit an int), double otherwise; null QVariant when blank
//   logical     bool; null QVariant when not set
// When writing, a null (or invalid) QVariant stores the empty value; a text
// longer than its column is cut to the width (never an error); values are
// converted leniently (a QString "12" into a numeric field, a QDate into a
// character field as "yyyyMMdd" and so on); a value that cannot be converted
// raises EDBEngineError.
//
// Errors are raised as EDBEngineError (core/DbError.h).
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <QVariant>

#include "platform/db/core/DbError.h"
#include "platform/db/core/EngineTypes.h"

namespace kdb {

// Names of fields, tags and tables compared ignoring case.
bool sameName(std::string_view a, std::string_view b);

// One column of an open table.
struct FieldInfo {
    std::string name;  // as stored (dBASE: upper case)
    uint16_t type = fldUNKNOWN;  // logical type: fldZSTRING, fldDATE, fldBLOB, ...
    uint16_t subType = fldstNONE;  // fldstMEMO for a memo, ...
    char nativeType = 0;  // the file's own type letter ('C','D','N','L','M', ...)
    int width = 0;  // bytes in the record (dBASE: the descriptor length)
    int decimals = 0;  // numeric decimals
    int offset = 0;  // offset of the field in the raw record (after the deletion flag for dBASE)
};

// One tag of the table's production index.
struct TagInfo {
    std::string name;  // tag name, upper case
    std::string keyExpr;  // "FIELD" or "FIELD+FIELD"
    char keyType = 'C';  // 'C' character, 'D' date, 'N' numeric
    bool unique = false;
    bool descending = false;
};

// How a table is opened.
struct TableOpenMode {
    bool exclusive = false;  // fails with DBERR_FILELOCKED while another program has it open
    bool readOnly = false;
    // dBASE: opens a damaged table to repair it (exclusive): its production
    // index is neither opened nor kept up to date, a missing memo file is no
    // error (every memo pointer is then bad).
    bool forRepair = false;
    // With readOnly: the caller only reads, and a read-write open of the
    // table that the program keeps idle may serve it (Database), so that
    // its reads and its writes go through one open.
    bool readsOnly = false;
};

// Ordered walk over one tag. Every call answers a 1-based record number, or
// 0 when there is none (before the first / after the last entry). The cursor
// follows the tag's order (a descending tag walks from the highest key);
// walk it backwards with last()/prior().
class TagCursor {
public:
    virtual ~TagCursor() = default;
    virtual uint32_t first() = 0;
    virtual uint32_t last() = 0;
    virtual uint32_t next() = 0;
    virtual uint32_t prior() = 0;
    // The record under the cursor (0 when off either end).
    virtual uint32_t current() const = 0;
    // Positions the cursor on the first entry whose key is >= key (in tag
    // order) and answers its record number when that entry matches the key
    // (exactly, or as a prefix when partial is true for a character tag),
    // else 0 with the cursor left on that nearest following entry (or off the
    // end). O(log n).
    virtual uint32_t seek(const QVariant& key, bool partial = false) = 0;
    // The key bytes of the entry under the cursor as the index holds them
    // (a character key padded with blanks to the key length); empty when off
    // either end, or when the table does not keep key bytes.
    virtual std::string_view currentKey() const { return {}; }
    // Walks forward from the entry under the cursor (that entry included)
    // while visit answers true, handing each entry's record number and key
    // bytes (as currentKey()); the key view lasts until the next step. The
    // index is read under one hold per batch of entries rather than one per
    // step. Leaves the cursor on the last entry visited (off the end when the
    // walk ran past the last entry).
    virtual void scanForward(const std::function<bool(uint32_t recNo, std::string_view key)>& visit);
};

class Table {
public:
    virtual ~Table() = default;
    Table() = default;
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    // ---- identity -----------------------------------------------------------
    virtual std::string tableType() const = 0;  // "DBASE" or "PARADOX"
    virtual std::string filePath() const = 0;  // full path of the table file
    std::string fileName() const;  // file name without directory
    virtual bool isExclusive() const = 0;
    virtual bool isReadOnly() const = 0;

    // ---- structure ----------------------------------------------------------
    virtual const std::vector<FieldInfo>& fields() const = 0;
    int fieldCount() const { return static_cast<int>(fields().size()); }
    // 0-based position of the field, compared ignoring ASCII case; -1 when none.
    int fieldIndex(std::string_view name) const;
    // Bytes of one raw record (dBASE: including the deletion flag).
    virtual uint32_t recordSize() const = 0;
    // The code page its text is stored in (core/Codepage.h): a character
    // the code page lacks is written as '?'.
    virtual int codePage() const { return 1252; }

    // ---- records ------------------------------------------------------------
    // Physical record count (deleted records included), as last read.
    virtual uint32_t recordCount() const = 0;
    virtual bool isDeleted(uint32_t recNo) = 0;
    // One field value (see the top of this file). recNo out of range or a bad
    // field raises EDBEngineError.
    virtual QVariant value(uint32_t recNo, int field) = 0;
    // All field values of a record.
    virtual std::vector<QVariant> record(uint32_t recNo);
    // Fast path for scans: the field's bytes as stored in the record (no
    // conversion, no allocation). The view stays valid until the next call on
    // this table. For a memo it is the stored block pointer, not the text.
    virtual std::string_view rawField(uint32_t recNo, int field) = 0;
    // rawField() answers the .DBF layout: character bytes in Windows-1252
    // padded with blanks, dates "yyyyMMdd", numbers as ASCII text; the
    // character tags on one field hold that field's bytes as keys.
    virtual bool hasDbfLayout() const { return false; }
    // With the .DBF layout: the stored record (deletion flag first, then the
    // fields at their offsets), valid until the next call on this table;
    // nullptr from a table without that layout.
    virtual const char* rawRecord(uint32_t recNo)
    {
        (void)recNo;
        return nullptr;
    }
    // The value of a field from its stored bytes as rawField() answers them
    // (the same value value() gives for a record holding them); for a memo,
    // the memo its stored block pointer names (a changed memo is written to
    // new blocks: the pointer read with a record gives that record's memo).
    // The default raises EDBEngineError DBERR_NOTSUPPORTED: such a table
    // answers values from its records only.
    virtual QVariant valueOf(int field, std::string_view stored) const;
    // While on, a walk forward through the records gives back, behind it,
    // the memory that held the records it read (they are not read again
    // soon: a long scan then holds a bounded part of a large table);
    // reads stay valid. Off by default.
    virtual void releaseBehindReads(bool on) { (void)on; }
    // How rawField() reads for the field with the .DBF layout: 'C' character
    // bytes, 'D' a date "yyyyMMdd" (anything else is no date), 'N' a number
    // as ASCII text (blank for none); 0 when its bytes are not read directly
    // (memo, logical, a table without that layout).
    char rawKind(int field) const;

    // Appends a record from values given in field order (missing trailing
    // values are empty) and answers its record number. The record reaches
    // the file before the header count. Keeps every tag up to date; a
    // duplicate key in a unique tag raises EDBEngineError DBERR_KEYVIOL and
    // appends nothing.
    virtual uint32_t append(const std::vector<QVariant>& values) = 0;
    // Replaces every field of the record (same rules as append). A field
    // given the value its stored bytes read as keeps those bytes: a value
    // that does not read (a damaged date or number, read as empty) is not
    // blanked by handing back what was read.
    virtual void update(uint32_t recNo, const std::vector<QVariant>& values) = 0;
    // Changes only the given fields (0-based position, value) of the record;
    // every other field keeps its stored bytes.
    virtual void updateFields(uint32_t recNo, const std::vector<std::pair<int, QVariant>>& values);
    // Raises, without writing anything, what updateFields() would raise
    // for these values: a value its column cannot hold, a key a unique tag
    // refuses. A statement that changes several records checks each with
    // the same `taken`, the unique keys the records checked before take:
    // two records taking one key are refused too. The default checks
    // nothing.
    virtual void checkFields(
        uint32_t recNo, const std::vector<std::pair<int, QVariant>>& values, std::set<std::string>& taken)
    {
        (void)recNo;
        (void)values;
        (void)taken;
    }
    // Marks the record deleted / live again.
    virtual void deleteRecord(uint32_t recNo) = 0;
    virtual void undeleteRecord(uint32_t recNo) = 0;
    // A statement that changes several records puts back those it changed
    // when a later one fails: storedRecord() answers a record as it is
    // stored (the deletion flag included), restoreRecord() writes those
    // bytes back with their keys. storedRecord() answers an empty string
    // from a table that keeps no such bytes (the caller then puts the record
    // back from its values).
    virtual std::string storedRecord(uint32_t recNo)
    {
        (void)recNo;
        return {};
    }
    virtual void restoreRecord(uint32_t recNo, const std::string& stored);

    // The data written so far reach the disk (fsync of the table and its
    // companion files).
    virtual void flush() = 0;
    // Re-reads the header so that records appended by another program are
    // seen (recordCount() grows).
    virtual void refresh() = 0;

    // ---- multi-user locks (held by this open table, released on close) -----
    // Non-blocking: false when another program holds the lock.
    virtual bool lockRecord(uint32_t recNo) = 0;
    virtual void unlockRecord(uint32_t recNo) = 0;
    // Whether this open holds the record's lock (taken by lockRecord).
    virtual bool holdsRecordLock(uint32_t recNo) const
    {
        (void)recNo;
        return false;
    }
    // The table (header) lock: excludes appends and table locks of others.
    virtual bool lockTable() = 0;
    virtual void unlockTable() = 0;

    // ---- statements that change records ------------------------------------
    // An UPDATE or a DELETE holds the table from its reading of the rows to
    // the flush of its changes: between beginStatement() and the matching
    // endStatement() no other program changes the table or reads it (both
    // wait, as for the change of one record), so the statement finds and
    // changes its rows at one moment, and the others see all of its changes
    // or none. Raises DBERR_LOCKED when the table is not had within the lock
    // timeout. Calls nest; the default holds nothing.
    virtual void beginStatement() { }
    virtual void endStatement() noexcept { }
    // Called under the statement's hold, with the records locked, before
    // the first of them is written: what they hold is kept where the next
    // program at the table finds it, so that a statement killed half way is
    // undone there (all of its changes or none, also across a crash). The
    // next flush() drops it once the changes are on the disk; a statement
    // that ends without that flush has its records put back. The default
    // keeps nothing.
    virtual void keepForRecovery(const std::vector<uint32_t>& recNos) { (void)recNos; }

    // ---- production index ---------------------------------------------------
    virtual std::vector<TagInfo> tags() const = 0;
    // 0-based position of the tag, ignoring case; -1 when none.
    int tagIndex(std::string_view tagName) const;
    // The field a tag's key is made of alone, -1 for a key of several fields.
    int tagField(const TagInfo& tag) const
    {
        return tag.keyExpr.find('+') == std::string::npos ? fieldIndex(tag.keyExpr) : -1;
    }
    // The ascending tag whose key is the field alone (a unique one first);
    // -1 when there is none.
    int tagOnField(int field) const;
    // The tag's keys (currentKey()) are its one character field's bytes as
    // rawField() reads them, padded with blanks.
    bool tagKeysAreFieldBytes(int tag) const;
    // A cursor over the tag (EDBEngineError when there is no such tag). The
    // cursor reads the tag as it is when each call is made.
    virtual std::unique_ptr<TagCursor> openTag(std::string_view tagName) = 0;
    // Convenience: the first live record (in tag order) whose key matches,
    // or 0 (a deleted record keeps its entries until the table is packed).
    uint32_t findKey(std::string_view tagName, const QVariant& key, bool partial = false);
    // Between beginIndexRead() and the matching endIndexRead() (calls nest),
    // the tag cursors of this table read the index under one shared hold
    // taken by the outermost begin, instead of one per call; another program's
    // change waits meanwhile, so hold it over a bounded batch of reads only.
    // No change may be made through this table while it is held.
    virtual void beginIndexRead() { }
    virtual void endIndexRead() { }

    // Idle keeping of a shared open between uses. park() gives back every
    // lock of the table (another program may then open it exclusively, pack
    // or restructure it) and answers false when the table cannot be kept
    // (exclusive open, locks or a read batch held). With keepOpen the shared
    // open stays taken until releaseOpen() gives it back as well: nobody can
    // open the table exclusively meanwhile, so that no file can have been
    // put in its place when it is taken back. unpark() takes the table back:
    // when its shared open was given back, takes it again without waiting
    // and makes sure the file is still the same one, re-reading what may
    // have changed; false: the table must be closed and opened anew.
    virtual bool park(bool keepOpen)
    {
        (void)keepOpen;
        return false;
    }
    // False when the open could not be given back (the table is then closed).
    virtual bool releaseOpen() { return false; }
    virtual bool unpark() { return false; }
};

// Holds a table for one statement that changes records (see
// Table::beginStatement).
class StatementHold {
public:
    explicit StatementHold(Table& t) : t_(t) { t_.beginStatement(); }
    ~StatementHold() { t_.endStatement(); }
    StatementHold(const StatementHold&) = delete;
    StatementHold& operator=(const StatementHold&) = delete;

private:
    Table& t_;
};

// Holds the index of a table for a batch of reads (see Table::beginIndexRead).
class IndexReadHold {
public:
    explicit IndexReadHold(Table& t) : t_(t) { t_.beginIndexRead(); }
    ~IndexReadHold() { t_.endIndexRead(); }
    IndexReadHold(const IndexReadHold&) = delete;
    IndexReadHold& operator=(const IndexReadHold&) = delete;

private:
    Table& t_;
};

}  // namespace kdb
