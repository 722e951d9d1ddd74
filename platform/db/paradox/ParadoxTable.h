#pragma once
// Paradox tables (.DB files, versions 3.x to 7) as kdb::Table.
//
// Reading: every common field type (alpha, date, short, long, number,
// money, logical, autoincrement, time, timestamp, BCD, bytes). Memo and
// binary fields give only the part stored inside the record (the leader);
// the companion blob file is not read. Keyed tables (with a primary index
// file) are read-only: writing them would leave their index stale.
//
// Writing: unkeyed tables of alpha, date, short, long, autoincrement,
// number, money and logical fields; records appended, updated and deleted in
// place. A deletion removes the record from its data block (the format has
// no deletion flag); the open table keeps the record numbers it handed out
// stable until refresh(): the removed record reads as deleted, and
// undeleteRecord() appends its saved contents again at the end of the file.
// The header's record count, block counts, free-block list and the
// autoincrement counter (int32 at byte offset 73) are kept right. The
// counter holds the last value handed out; a record appended with a blank
// autoincrement field gets counter + 1, one appended with an explicit value
// raises the counter to that value when it is higher. An update that leaves
// the autoincrement field blank keeps the stored value.
//
// Text is Windows-1252 whatever code page the header names.
//
// Table protection (this engine's own scheme; files protected by other
// programs are refused with DBERR_NOTSUPPORTED):
//   * A random 32-byte table key encrypts every data block: the block bytes
//     are XOR-ed with a ChaCha20 key stream whose nonce is the block number.
//     The header stays clear, so the record count and the autoincrement
//     counter remain readable (the table checker reads offset 73).
//   * The table declares one or two passwords. For each a 64-byte slot in
//     the header's protection area (256 bytes, after the field names) holds a
//     16-byte random salt and the table key XOR-ed with a key derived from
//     the password and the salt (Argon2id, small memory cost: the passwords
//     of the shipped tables are part of the program, the scheme keeps other
//     tools and casual readers out, nothing more).
//   * A 16-byte check value (a keyed hash of the table key) detects a wrong
//     password; its first four bytes (never 0) are stored as the header's
//     password checksum (0x5C, 0x25 = FF00FF00), which marks the table as
//     protected for every reader. The number of extra passwords is at 0x3D.
//   * Opening: each password of Session is tried against each slot;
//     when none fits the session's password handler is called, and the open
//     is tried again each time it answers retry (at most 8 calls, and only
//     while the handler changes the session's passwords). When nothing fits
//     the open fails with EDBEngineError kInvalidPassword.
//   * A rewritten block reuses its key stream: someone holding two versions
//     of the file can learn the XOR of the two plaintexts of that block.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/db/core/DbError.h"
#include "platform/db/core/EngineTypes.h"
#include "platform/db/core/Table.h"

namespace kdb {

// One field of a table to create: type letter 'A' (alpha, size 1-255),
// 'D' date, 'S' short, 'I' long, '+' autoincrement, 'N' number, '$' money,
// 'L' logical. Names: 1-25 characters, unique ignoring case.
struct ParadoxField {
    std::string name;
    char type = 'A';
    int size = 0;  // alpha only
};

struct ParadoxCreateOptions {
    // Zero, one or two table passwords (each 1-255 bytes).
    std::vector<std::string> passwords;
    // Data block size in KiB (1 to 32).
    int blockSizeKiB = 2;
};

class ParadoxTable : public Table {
public:
    // Engine code of a protected table that no password of the session opens.
    static constexpr int kInvalidPassword = DBERR_INVALIDPASSWORD;

    // Opens the .DB file at path; raises EDBEngineError (DBERR_NOSUCHTABLE,
    // DBERR_FILELOCKED, DBERR_HEADERCORRUPT, kInvalidPassword, ...). A
    // protected table consults Session::instance().
    static std::unique_ptr<Table> open(const std::string& path, const TableOpenMode& mode = {});
    // Creates (overwrites) the .DB file at path from the descriptors:
    // fldZSTRING (units1 = width), fldDATE, fldINT16, fldINT32 (subType
    // fldstAUTOINC: autoincrement), fldFLOAT, fldBOOL. Indexes are refused.
    static void create(const std::string& path, const TableDesc& desc);
    // Creates (overwrites) the .DB file at path.
    static void create(
        const std::string& path, const std::vector<ParadoxField>& fields, const ParadoxCreateOptions& options = {});
};

}  // namespace kdb
