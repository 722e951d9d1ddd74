#pragma once
// The storage seen by the SQL executor and the datasets: one open table
// reached by record number, with its fields and the single-field tags of its
// production index. Values are exchanged as QVariant:
//   character  QString, trailing blanks removed
//   memo       QString, as stored
//   date       QDate, a null QVariant for a blank date
//   numeric    int (no decimals) or double, a null QVariant when blank
//   logical    bool
#include <QVariant>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/EngineTypes.h"

namespace kdb::sql {

// Column and table names compared ignoring case (ASCII names without
// building texts).
bool sameName(const std::string& a, const std::string& b);

struct ColumnInfo {
    std::string name;        // upper case as stored
    uint16_t type = fldZSTRING;
    uint16_t subType = fldstNONE;
    int width = 0;           // characters of a character column, digits of a numeric one
    int decimals = 0;
};

struct TagInfo {
    std::string name;
    int field = -1;          // 0-based field of a single-field key, -1 for an expression key
    bool unique = false;
    bool descending = false;
};

// Walks one tag in key order. Positions are record numbers (1-based).
class TagIterator {
public:
    virtual ~TagIterator() = default;
    virtual bool first() = 0;
    virtual bool last() = 0;
    virtual bool next() = 0;
    virtual bool prior() = 0;
    // Positions on the first key not below `key` (a value of the field's kind);
    // false when there is none.
    virtual bool seek(const QVariant& key) = 0;
    // Positions as seek() does and answers whether that entry's key equals `key`.
    virtual bool seekExact(const QVariant& key) = 0;
    virtual uint32_t recNo() const = 0;
    virtual QVariant key() const = 0;
    // The key bytes of the current entry as the index holds them (a
    // character key in Windows-1252, padded with blanks); empty when off
    // either end or when the tag keeps no key bytes.
    virtual std::string_view rawKey() const { return {}; }
    // Walks forward from the current entry (included) while visit answers
    // true; stops at the end. Reads the index in batches where it can.
    virtual void scanForward(const std::function<bool(uint32_t recNo, std::string_view rawKey)>& visit) {
        if (recNo() == 0) return;
        do {
            if (!visit(recNo(), rawKey())) return;
        } while (next());
    }
};

class Source {
public:
    virtual ~Source() = default;

    virtual const std::vector<ColumnInfo>& columns() const = 0;
    virtual std::vector<TagInfo> tags() const = 0;

    // Physical records, deleted ones included; record numbers run 1..count.
    virtual uint32_t recordCount() = 0;
    virtual bool isDeleted(uint32_t recNo) = 0;
    virtual QVariant value(uint32_t recNo, int field) = 0;
    virtual std::unique_ptr<TagIterator> openTag(int tag) = 0;

    // Fast path for scans: how the stored bytes of a field read, or 0 when
    // rawField() does not answer for it:
    //   'C'  character, Windows-1252, padded with blanks (or NULs)
    //   'D'  date as "yyyyMMdd" (anything else is no date)
    //   'N'  number as ASCII text, blank for none
    virtual char rawKind(int field) const { (void)field; return 0; }
    // The stored bytes of a field of rawKind() != 0; the view lasts until the
    // next call on this source.
    virtual std::string_view rawField(uint32_t recNo, int field) { (void)recNo; (void)field; return {}; }
    // The stored record of a source whose fields all answer rawField() from
    // it: the bytes of field f are at rawOffset(f), columns()[f].width long
    // (the first byte is '*' for a deleted record). nullptr when there is none.
    virtual const char* rawRecord(uint32_t recNo) { (void)recNo; return nullptr; }
    virtual int rawOffset(int field) const { (void)field; return -1; }
    // The tag's raw keys are its field's bytes padded with blanks (a
    // character tag on one field).
    virtual bool rawKeysOf(int tag) const { (void)tag; return false; }
    // Batches of tag reads share one hold of the index (see
    // kdb::Table::beginIndexRead); no write while it is held.
    virtual void beginIndexRead() {}
    virtual void endIndexRead() {}

    // Writes take values already converted to the column's kind.
    virtual uint32_t append(const std::vector<QVariant>& values) = 0;
    virtual void update(uint32_t recNo, const std::vector<std::pair<int, QVariant>>& values) = 0;
    virtual void remove(uint32_t recNo) = 0;
    virtual void flush() = 0;

    // Column index by name (case-insensitive), -1 when absent.
    int fieldIndex(const std::string& name) const;
    // Tag of a single-field key on this field, -1 when none (a unique one first).
    int tagOnField(int field) const;
    // Tag by name (case-insensitive), -1 when absent.
    int tagByName(const std::string& name) const;
};

struct OpenMode {
    bool exclusive = false;
    bool readOnly = false;
};

// Opens tables by directory and name (with or without extension, any case).
class Catalog {
public:
    using Opener = std::function<std::shared_ptr<Source>(
        const std::string& directory, const std::string& tableName, const OpenMode& mode)>;

    static Catalog& instance();

    // Replaces the way tables are opened (tests use in-memory tables).
    void setOpener(Opener opener);
    bool hasOpener() const { return static_cast<bool>(opener_); }

    // Raises EDBEngineError DBERR_NOSUCHTABLE when the table does not exist.
    std::shared_ptr<Source> open(const std::string& directory, const std::string& tableName,
                                 const OpenMode& mode = {}) const;

    // Table name without directory and extension, upper case: "Cons.DBF" gives "CONS".
    static std::string baseName(const std::string& tableName);

private:
    Opener opener_;
};

}  // namespace kdb::sql
