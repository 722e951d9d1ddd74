#pragma once
// The memo file of a dBASE table (.DBT): an array of fixed-size blocks,
// block 0 the header.
//
// Two layouts: the older one (512-byte blocks, a memo is raw text ended by
// 0x1A 0x1A) and the newer one (block size in the header, each memo starts
// with FF FF 08 00 and its length including those 8 bytes). New memos are
// always appended at the end of the file: a block that a live record points
// to is never overwritten, so a program killed while writing a memo leaves
// every memo written before intact. The blocks of memos replaced since go
// back only when the table is packed (a new memo file holding the live memos
// alone, DbfTable::pack).
//
// The header's next-free block is kept up to date for the other programs
// that read it; appends go to the end of the file whatever it says. A file
// cut short, whose records point to blocks beyond its end, takes no memo
// that would land on those blocks (it would be read as theirs) until the
// table check has blanked their pointers (DbfTable::appendMemo).
//
// Every open holds the header against the file: a file shorter than one
// block, a block size that is none, a next-free block inside the header
// (0) or beyond the end of the file is no memo file the engine reads or
// writes (DBERR_MEMOCORRUPT naming the .DBT), until the table check mends
// it. A next-free block of 0xFFFFFFFF alone is taken (the check sets it
// to the end of the file): the first append writes it right and says so
// (takeMendedNextFree).
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/db/core/File.h"

namespace kdb {

class DbtFile {
public:
    enum class Layout { Old, New };

    // What the header of a memo file says, held against the file's size.
    struct Header {
        enum class Fault { None, Short, BlockSize, NextFreeInHeader, NextFreeBeyondEnd };
        Fault fault = Fault::None;
        uint32_t blockSize = 512;  // the one the header gives (512 when it gives none)
        uint32_t nextFree = 0;
        uint64_t fileSize = 0;
        uint32_t statedBlockSize = 0;  // bytes 20-21 as stored
        // Without a block size (or a whole header block) nothing in the file
        // can be found: the check rebuilds the header. A next-free block
        // that cannot be is only set to the end of the file.
        bool unreadable() const { return fault == Fault::Short || fault == Fault::BlockSize; }
        std::string detail() const;  // English, for the engine's error
        std::string french() const;  // for the check's report
    };
    // The header of the open file (one read of its first block).
    static Header inspect(const File& f, Layout layout);
    // Opens an existing memo file; raises EDBEngineError (DBERR_MEMOCORRUPT
    // naming it when its header does not hold, see above).
    static DbtFile open(const std::string& path, Layout layout, bool writable);
    // Opens it whatever its header says (for its repair), with the block
    // size the header gives; found: what the header says.
    static DbtFile openDamaged(const std::string& path, Layout layout, bool writable, Header& found);
    // Creates (truncates) an empty memo file (the older layout always has
    // 512-byte blocks).
    static DbtFile create(const std::string& path, const std::string& tableBaseName, uint32_t blockSize = 512,
        Layout layout = Layout::New);

    DbtFile() = default;
    bool isOpen() const { return file_.isOpen(); }
    Layout layout() const { return layout_; }
    uint32_t blockSize() const { return blockSize_; }
    const std::string& path() const { return file_.path(); }

    // The memo starting at block (raw bytes). Raises DBERR_MEMOCORRUPT when
    // the block is outside the file or its header is damaged.
    std::string read(uint32_t block) const;
    // Appends a memo at the end of the file and answers its first block.
    // The caller holds the table's header lock (appends of several programs
    // are serialised). Raises DBERR_MEMOCORRUPT when the header no longer
    // holds (damaged since the open): nothing is written.
    uint32_t append(const std::string& data);
    // Whether a memo starts at the block (its header, or text ended by an
    // end mark), for the repair's choice of a block size.
    bool holdsMemoAt(uint32_t block) const;
    // The block after the memo starting at block, as its header says (the
    // next block for a memo without one).
    uint64_t memoEnd(uint32_t block) const;
    // For the repair of a header without a block size: the one to read the
    // file with, then the header written anew with it (next-free block: the
    // end of the file).
    void setBlockSize(uint32_t size) { blockSize_ = size; }
    void writeHeader(const std::string& tableBaseName);
    // The blocks a memo of `size` bytes takes, and the block an append
    // writes it at.
    uint64_t blocksFor(size_t size) const
    {
        const uint64_t bytes = size + (layout_ == Layout::New ? 9 : 2);
        return (bytes + blockSize_ - 1) / blockSize_;
    }
    uint64_t appendBlock() const { return std::max<uint64_t>(blockCount(), 1); }
    // Runs of blocks [first, end) beyond the end of the file that the
    // table's records claim (a file cut short), looked for once per open of
    // the file (DbfTable::appendMemo).
    struct Claim {
        uint64_t first = 0, end = 0;
    };
    bool claimsKnown() const { return claims_.has_value(); }
    void setClaims(std::vector<Claim> claims) { claims_ = std::move(claims); }
    // The first claim a run of blocks [first, end) would overlap.
    const Claim* claimed(uint64_t first, uint64_t end) const
    {
        if (claims_)
            for (const Claim& c : *claims_)
                if (c.first < end && first < c.end)
                    return &c;
        return nullptr;
    }
    // The next-free block the header holds, and the blocks the file holds
    // (its size in blocks, a last partial one counted).
    uint32_t nextFree() const;
    uint64_t blockCount() const;
    // A next-free block that cannot be: the header's own block, or beyond
    // the end of the file.
    bool nextFreeImpossible() const
    {
        const uint32_t v = nextFree();
        return v == 0 || v > blockCount();
    }
    // Writes the next-free block: the end of the file.
    void mendNextFree();
    // The impossible next-free block the last appends found and wrote
    // right (none: nothing); asking clears it.
    std::optional<uint32_t> takeMendedNextFree()
    {
        const std::optional<uint32_t> v = mendedNextFree_;
        mendedNextFree_.reset();
        return v;
    }
    void sync() { file_.sync(); }
    void close() { file_.close(); }

    // The one next-free block beyond the end of the file an open takes.
    static constexpr uint32_t kNoFreeBlock = 0xFFFFFFFFu;
    // Written after the data of a new-layout memo, outside its length.
    static constexpr char kEndMark = 0x1F;
    // Upper bound for one memo (bad files never make us allocate more).
    static constexpr uint32_t kMaxMemo = 64u * 1024u * 1024u;

private:
    File file_;
    Layout layout_ = Layout::New;
    uint32_t blockSize_ = 512;
    std::optional<uint32_t> mendedNextFree_;
    std::optional<std::vector<Claim>> claims_;
};

}  // namespace kdb
