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
// that read it; appends go to the end of the file whatever it says, so a
// value that cannot be (0, or beyond the end of the file, as a damaged
// header has it) never stops them: the append writes it right and says so
// (takeMendedNextFree).
#include <cstdint>
#include <optional>
#include <string>

#include "platform/db/core/File.h"

namespace kdb {

class DbtFile {
public:
    enum class Layout { Old, New };

    // Opens an existing memo file; raises EDBEngineError (DBERR_MEMOCORRUPT
    // for a damaged header).
    static DbtFile open(const std::string& path, Layout layout, bool writable);
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
    // Appends a memo and answers its first block. The caller holds the
    // table's header lock (appends of several programs are serialised).
    uint32_t append(const std::string& data);
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

    // Written after the data of a new-layout memo, outside its length.
    static constexpr char kEndMark = 0x1F;
    // Upper bound for one memo (bad files never make us allocate more).
    static constexpr uint32_t kMaxMemo = 64u * 1024u * 1024u;

private:
    File file_;
    Layout layout_ = Layout::New;
    uint32_t blockSize_ = 512;
    std::optional<uint32_t> mendedNextFree_;
};

}  // namespace kdb
