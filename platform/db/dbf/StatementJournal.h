#pragma once
// The journal of a statement that changes several records of a dBASE table:
// the records as they were before it, kept in a file beside the table
// ("<table>.JNL") from before its first write until its changes are on the
// disk. A journal found by the next program at the table belongs to a
// statement killed half way: its records are put back, and the statement
// happened wholly or not at all. The table's own files stay as any dBASE
// program expects them.
//
// Layout (integers little-endian):
//   0   4  "KJNL"
//   4   2  the table's header length
//   6   2  the table's record length
//   8   4  the table's record count when the journal was written
//   12  4  n, the number of records kept
//   16     n times: the record number (4 bytes), then the record's bytes
//          (deletion flag first), as many as the record length
//   end 8  a checksum (64-bit FNV-1a) of every byte before it
// A file of any other size or checksum is no journal: a program killed
// while writing it had changed nothing yet.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/db/core/File.h"

namespace kdb::journal {

struct Image {
    uint32_t recNo = 0;
    std::string bytes;  // the stored record, as long as the record length
};

struct Journal {
    uint16_t headerLength = 0;
    uint16_t recordLength = 0;
    uint32_t recordCount = 0;
    std::vector<Image> images;
};

// The journal's name beside a table: the table's base name, ".JNL" (".jnl"
// for a table whose extension is in small letters).
std::string pathFor(const std::string& tablePath);

// Reads a journal from its bytes; nothing when they are not a whole one.
std::optional<Journal> decode(std::string_view bytes);

// Writes a journal into a new file, piece by piece (a statement of many
// records is never held twice in memory), and forces it to the disk with
// the directory that holds it.
class Writer {
public:
    // Raises EDBEngineError (naming the journal) when the file cannot be
    // made or written.
    Writer(
        const std::string& path, uint16_t headerLength, uint16_t recordLength, uint32_t recordCount, uint32_t images);
    void add(uint32_t recNo, std::string_view bytes);
    // Completes the file and forces it (and its directory entry) to the disk.
    void finish();

private:
    void put(const void* p, size_t n);
    void drain();
    File file_;
    std::string path_;
    std::string buffer_;
    uint64_t at_ = 0;
    uint64_t hash_;
};

}  // namespace kdb::journal
