#pragma once
// Damaged tables: what a look over a table found, the copy of its files
// kept before any repair, and the repair itself. The engine repairs; the
// program tells the user from the report.
#include <cstdint>
#include <string>

#include "platform/db/core/DamageLog.h"

namespace kdb::engine {

struct DamageReport {
    std::string table;  // path of the table file
    std::string copyDir;  // directory holding the copy of the damaged files ("" when none)
    // What was wrong.
    uint32_t recordsAnnounced = 0;  // the header's count, when the file holds fewer records
    uint32_t recordsInFile = 0;  // whole records the file held then
    bool partialRecord = false;  // the file ended inside a record (completed with blanks)
    // Whole records after the header's count (an append killed before it
    // counted them): those that read as records, from the first on, taken
    // back; the others removed, with any bytes after them that are no record.
    uint32_t recordsTakenBack = 0;
    uint32_t recordsAfterCount = 0;  // removed
    uint64_t bytesAfterRecords = 0;  // removed (the records among them included)
    std::string headerDamage;  // what kept the header from being read, and its fix (French; "" when sound)
    bool headerUnrepairable = false;  // ... and no fix could be made: the table stays as it is
    bool memoFileLost = false;  // the memo file was missing or did not open (made anew)
    // The memo file's header gave no block size, or the file was shorter
    // than its header: what it said (French). The header is written anew
    // with the block size at which the records find their memos; when they
    // find none, nothing could be saved and the file is made anew
    // (memoFileLost).
    std::string memoHeaderDamage;
    uint32_t badMemoPointers = 0;  // memo pointers to no memo (blanked)
    // The memo file's next-free block could not be (0, or beyond its end):
    // what it was (set to the end of the file).
    bool badMemoNextFree = false;
    uint32_t memoNextFree = 0;
    uint32_t unreadableValues = 0;  // dates, numbers, logicals that did not read (blanked)
    bool staleIndex = false;  // the index did not match the table (rebuilt)
    bool indexTagsLost = false;  // ... and its tags could not be read back
    uint32_t valuesCut = 0;  // values a restructure cut or could not carry over
    // What the table holds afterwards.
    uint32_t records = 0;
    uint64_t values = 0;  // values that are not empty
    int error = 0;  // engine code of a repair that failed (0: none)

    bool shortFile() const { return recordsAnnounced > recordsInFile; }
    bool damaged() const
    {
        return shortFile() || memoFileLost || badMemoPointers > 0 || unreadableValues > 0 || staleIndex ||
            valuesCut > 0 || recordsTakenBack > 0 || recordsAfterCount > 0 || bytesAfterRecords > 0 ||
            badMemoNextFree || !headerDamage.empty() || !memoHeaderDamage.empty();
    }
};

// The copy of the damaged files (core/DamageLog.h).
using ::kdb::keepDamagedCopy;

// Looks a dBASE table of the directory over, opened exclusively, and when
// it finds damage (a header that cannot be read, a file shorter than its
// header says or holding records after its count, bad memo pointers, a lost
// memo file or one whose next-free block cannot be, values that do not
// read, a memo file whose header does not read; indexStale: an index that
// does not match the table) keeps a copy of its files (keepDamagedCopy),
// repairs it and rebuilds its index. Never raises: a table that cannot be
// opened exclusively or repaired gives its code in `error`.
DamageReport repairTable(const std::string& directory, const std::string& tableName, bool indexStale = false);

}  // namespace kdb::engine
