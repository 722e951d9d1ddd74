#pragma once
// The memo file of a dBASE table (.DBT): an array of fixed-size blocks,
// block 0 the header.
//
// Two layouts: the older one (512-byte blocks, a memo is raw text ended by
// 0x1A 0x1A) and the newer one (block size in the header, each memo starts
// with FF FF 08 00 and its length including those 8 bytes). New memos are
// always appended at the end of the file: a block that a live record points
// to is never overwritten, so a program killed while writing a memo leaves
// every memo written before intact.
#include <cstdint>
#include <string>

#include "platform/db/core/File.h"

namespace kdb {

class DbtFile {
public:
    enum class Layout { Old, New };

    // Opens an existing memo file; raises EDBEngineError (DBERR_MEMOCORRUPT
    // for a damaged header).
    static DbtFile open(const std::string& path, Layout layout, bool writable);
    // Creates (truncates) an empty memo file of the new layout.
    static DbtFile create(const std::string& path, const std::string& tableBaseName, uint32_t blockSize = 512);

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
};

}  // namespace kdb
