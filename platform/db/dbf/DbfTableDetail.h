#pragma once
// Shared by the source files of DbfTable only: byte helpers, the header
// lock, the guard of a record write and the pieces that write new files.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <QDate>

#include "platform/db/dbf/DbfTable.h"
#include "platform/db/dbf/LittleEndian.h"
#include "platform/db/mdx/MdxFile.h"

namespace kdb {

namespace dbfimpl {

inline constexpr uint8_t kLanguageDriver = 0x57;
inline constexpr char kInt16Marker = 'S';
inline constexpr size_t kInt16MarkerOffset = 24;
inline constexpr size_t kCacheBytes = 64 * 1024;

// Memo, binary and OLE columns: their values live in the memo file.
inline bool inMemoFile(const FieldInfo& f)
{
    return f.nativeType == 'M' || f.nativeType == 'B' || f.nativeType == 'G';
}

inline std::string upper(std::string s)
{
    for (auto& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

inline std::string_view trimRight(std::string_view s)
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

inline std::string_view trim(std::string_view s)
{
    s = trimRight(s);
    while (!s.empty() && (s.front() == ' ' || s.front() == '\0'))
        s.remove_prefix(1);
    return s;
}

[[noreturn]] inline void headerCorrupt(const std::string& path, const std::string& what)
{
    throw EDBEngineError::headerCorrupt(path, what);
}

inline void todayBytes(unsigned char* p)
{
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    p[0] = static_cast<unsigned char>(std::clamp(tm.tm_year, 0, 255));
    p[1] = static_cast<unsigned char>(tm.tm_mon + 1);
    p[2] = static_cast<unsigned char>(tm.tm_mday);
}

inline mdx::KeyType keyTypeOf(char c)
{
    return c == 'D' ? mdx::KeyType::Date : c == 'N' ? mdx::KeyType::Numeric : mdx::KeyType::Character;
}

inline QDate parseDate(std::string_view s)
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
inline QDate dateFromText(const QString& t)
{
    for (const char* f : {"yyyyMMdd", "yyyy-MM-dd", "dd/MM/yyyy", "d/M/yyyy"}) {
        const QDate d = QDate::fromString(t, QString::fromLatin1(f));
        if (d.isValid())
            return d;
    }
    return {};
}

// The block a stored memo pointer names: 0 for none (blanks, or 0),
// nothing for bytes that are no block number.
inline std::optional<uint32_t> memoBlockOf(std::string_view pointer)
{
    const std::string_view p = trim(pointer);
    uint64_t block = 0;
    for (char c : p) {
        if (c < '0' || c > '9')
            return std::nullopt;
        block = block * 10 + static_cast<uint64_t>(c - '0');
        if (block > 0xFFFFFFFFull)
            return std::nullopt;
    }
    return static_cast<uint32_t>(block);
}

// A memo block number, right-aligned in the field's bytes.
inline void putMemoPointer(char* dst, int width, uint32_t block)
{
    char buf[16];
    const int n = std::snprintf(buf, sizeof buf, "%u", block);
    const int w = std::max(width, n);
    std::memset(dst, ' ', static_cast<size_t>(w - n));
    std::memcpy(dst + (w - n), buf, static_cast<size_t>(n));
}

// ---- what a header promises (DbfTableHeader.cpp) ----------------------------
// The header of a table file as stored: its counts and lengths, and its
// field descriptions read up to their end mark (0x0D) or the end of the
// bytes given, whichever comes first.
struct HeaderScan {
    bool table = false;  // a dBASE level III/IV or level 7 version byte
    bool level7 = false;
    size_t descStart = 32, descLen = 32;
    size_t end = 0;  // offset of the end mark (0: none in the bytes given)
    uint32_t count = 0;
    uint16_t headerLen = 0, recLen = 0;
    struct Field {
        size_t at = 0;  // offset of the description
        std::string name;
        char type = 0;  // upper case
        int width = 0, decimals = 0;
        bool int16 = false;  // N(6,0) with the 16-bit integer marker
    };
    std::vector<Field> fields;
    uint32_t widths = 0;  // 1 + the fields' widths
};
HeaderScan scanHeader(const unsigned char* b, size_t n);
// The width a type fixes (0: the field's own, -1: no dBASE type).
int typeWidth(char type);
// A width (and decimals) the field's type can have.
bool widthFits(const HeaderScan::Field& f);
// The header length ends at the field descriptions: right after the end
// mark, or after NUL bytes an older writer left there, or after a level 7
// table's field properties. The first n bytes of the file are in b.
bool headerLengthEndsDescriptions(const HeaderScan& s, const unsigned char* b, size_t n);
// The first thing the header gets wrong about itself, for the engine's
// error (English); "" when it holds together. The file's size against the
// header is the caller's.
std::string headerFault(const HeaderScan& s, const unsigned char* b, size_t n);

// The header of a new level IV table.
std::string newHeader(const std::string& path, const std::vector<DbfTable::FieldSpec>& fields, bool memo, bool indexed,
    const std::vector<std::string>& keyFields, bool oldMemoLayout, uint32_t count, bool rebuildFlag);

// Writes records to a new table file in large chunks.
class RecordWriter {
public:
    RecordWriter(File& f, uint64_t start) : f_(f), pos_(start) { }
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

// A column at its place in the record: after the ones before it (offset,
// moved on past it).
inline FieldInfo placedField(const std::string& name, char type, int width, int decimals, int& offset)
{
    FieldInfo f;
    f.name = name;
    f.nativeType = type;
    f.width = width;
    f.decimals = decimals;
    f.offset = offset;
    offset += width;
    return f;
}

// Checks and normalises the columns of a new table (names upper case,
// fixed widths of fixed types).
void normaliseSpecs(const std::string& path, std::vector<DbfTable::FieldSpec>& fields);
std::vector<FieldInfo> infosOf(const std::vector<DbfTable::FieldSpec>& specs);
std::string baseNameOf(const std::string& path);
std::vector<mdx::TagSpec> mdxSpecs(const std::vector<TagInfo>& infos, const std::vector<std::vector<int>>& fieldLists,
    const std::vector<int>& keyLens, int codePage);
// The tags an index file holds, as descriptions (DBERR_INDEXOUTOFDATE for a
// tag with a condition, which the engine does not keep).
std::vector<TagInfo> tagInfosOf(const std::string& indexPath);

}  // namespace dbfimpl

using namespace dbfimpl;

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
        if (t.statementHeld_)
            return;  // the statement of this open holds the header exclusively
        t.checkNoStatementLeft();
        if (t.readHold_ > 0) {
            // The batch of reads holds the header already; a change in the
            // middle of it would give the hold away.
            if (exclusive && t.file_.writable())
                throw EDBEngineError::locked(t.path_, "table is being read in a batch");
            return;
        }
        if (t.mode_.exclusive) {
            changing_ = exclusive && t.file_.writable();
            return;
        }
        const bool write = exclusive && t.file_.writable();
        if (write && !t.tableLocked_) {
            if (!t.file_.lockWait(kLockTable, 1, false, lockTimeoutMs_))
                throw EDBEngineError::locked(t.path_, "table is locked by another user");
            tableHeld_ = true;
        }
        for (int attempt = 0;; ++attempt) {
            // Through the turnstile: a program that changes the table again
            // and again cannot keep one that waits from its turn.
            if (!t.takeHeaderInTurn(write)) {
                release();
                throw EDBEngineError::locked(t.path_, "table is locked by another user");
            }
            headerHeld_ = true;
            changing_ = write;
            if (!t.mdx_) {
                // No index to be found "in update": a statement killed half
                // way is told by its journal, undone before anything else.
                if (!t.journalOnDisk())
                    return;
                // (again: another program killed in the middle of a
                // statement meanwhile)
                if (attempt >= 8)
                    throw EDBEngineError::locked(t.path_, "a statement left unfinished is being undone");
                try {
                    if (write) {
                        t.recoverKilledStatement(true);
                        return;
                    }
                    changing_ = false;
                    t.file_.unlock(kLockHeader, 1);
                    headerHeld_ = false;
                    t.recoverKilledStatement(false);
                } catch (...) {
                    release();
                    throw;
                }
                continue;
            }
            t.mdx_->setLockedByCaller(true);
            try {
                // The index as the disk holds it now; left unfinished by a
                // program that is gone (no change runs while the header is
                // held), it is mended here and looked at again.
                if (t.mdx_->refreshHeld())
                    return;
                // (again: another program killed in the middle of a change
                // while this one mended the last)
                if (attempt >= 8)
                    throw EDBEngineError::indexOutOfDate(t.indexPath(), "update interrupted");
                if (write) {
                    t.recoverUnfinished(true);
                    if (t.mdx_->refreshHeld())
                        return;
                    throw EDBEngineError::indexOutOfDate(t.indexPath(), "update interrupted");
                }
                // Read: the header is given back and taken exclusively.
                changing_ = false;
                t.mdx_->setLockedByCaller(false);
                t.file_.unlock(kLockHeader, 1);
                headerHeld_ = false;
                t.recoverUnfinished(false);
            } catch (...) {
                release();
                throw;
            }
        }
    }
    ~HeaderLock() { release(); }
    bool holds() const { return headerHeld_; }
    HeaderLock(const HeaderLock&) = delete;
    HeaderLock& operator=(const HeaderLock&) = delete;

private:
    void release()
    {
        if (changing_)
            t_.noteOwnChange();  // still under the header lock
        changing_ = false;
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
    bool changing_ = false;  // a change of the table: noted on release
};

// The header held exclusively for a repair, taken here (through the
// turnstile: a change still at work finishes first) unless the caller holds
// it or the open is exclusive. A table this open cannot write raises
// `readOnly` (it cannot be repaired from here).
class DbfTable::RepairHold {
public:
    RepairHold(DbfTable& t, bool headerHeld, const EDBEngineError& readOnly) : t_(t)
    {
        if (headerHeld || t.mode_.exclusive)
            return;
        if (!t.file_.writable())
            throw readOnly;
        if (!t.takeHeaderInTurn(true))
            throw EDBEngineError::locked(t.path_, "table is locked by another user");
        took_ = true;
    }
    ~RepairHold()
    {
        if (took_)
            t_.file_.unlock(kLockHeader, 1);
    }
    RepairHold(const RepairHold&) = delete;
    RepairHold& operator=(const RepairHold&) = delete;

private:
    DbfTable& t_;
    bool took_ = false;
};

// What a change of one existing record holds while it runs: the header
// lock, a fresh record count, and the record's own lock unless this table
// already holds it (released first, when the change is done).
class DbfTable::RecordWrite {
public:
    RecordWrite(DbfTable& t, uint32_t recNo) : t_(t), recNo_(recNo), header_(writable(t), true)
    {
        if (!t.statementHeld_) {  // (a statement's count is fresh: nobody appends meanwhile)
            t.refreshCount();
            t.takeBackBeforeWrite();
        }
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

}  // namespace kdb
