#include "platform/db/dbf/DbtFile.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/db/core/DbError.h"
#include "platform/db/dbf/LittleEndian.h"

namespace kdb {

namespace {
using dbfimpl::le16;
using dbfimpl::le32;
using dbfimpl::put32;

[[noreturn]] void corrupt(const std::string& path, const std::string& what)
{
    throw EDBEngineError::memoCorrupt(path, what);
}

// The length the header of a memo of the new layout at `start` gives (its
// 8 bytes included); nothing when no such header starts there.
std::optional<uint32_t> memoLengthAt(const File& f, uint64_t start)
{
    unsigned char h[8];
    if (f.readAt(start, h, 8) == 8 && h[0] == 0xFF && h[1] == 0xFF && h[2] == 0x08 && h[3] == 0x00)
        return le32(h + 4);
    return std::nullopt;
}
}  // namespace

namespace {
// A block size: a whole number of 512-byte sectors, as dBASE sets it.
bool blockSizeFits(uint64_t size)
{
    return size >= 512 && size <= 65024 && size % 512 == 0;
}
}  // namespace

DbtFile::Header DbtFile::inspect(const File& f, Layout layout)
{
    Header out;
    unsigned char h[512] = {};
    const size_t got = f.readAt(0, h, sizeof h);
    out.fileSize = f.size();
    out.nextFree = le32(h);
    out.statedBlockSize = le16(h + 20);
    // The block size: bytes 20-21; a writer that follows the other
    // description of the header gives it in bytes 4-7, and a header of the
    // older layout (version 3 at byte 16) has blocks of 512 bytes.
    bool sized = true;
    if (layout == Layout::New) {
        if (blockSizeFits(out.statedBlockSize))
            out.blockSize = out.statedBlockSize;
        else if (blockSizeFits(le32(h + 4)))
            out.blockSize = le32(h + 4);
        else
            sized = h[16] == 0x03;
    }
    if (got < sizeof h || out.fileSize < sizeof h) {
        out.fault = Header::Fault::Short;
        return out;
    }
    if (!sized) {
        out.fault = Header::Fault::BlockSize;
        return out;
    }
    const uint64_t blocks = (out.fileSize + out.blockSize - 1) / out.blockSize;
    if (out.nextFree == 0)
        out.fault = Header::Fault::NextFreeInHeader;
    else if (out.nextFree > blocks && out.nextFree != kNoFreeBlock)
        out.fault = Header::Fault::NextFreeBeyondEnd;
    return out;
}

std::string DbtFile::Header::detail() const
{
    switch (fault) {
    case Fault::None:
        break;
    case Fault::Short:
        return "memo file of " + std::to_string(fileSize) + " bytes, shorter than its header block";
    case Fault::BlockSize:
        return "block size " + std::to_string(statedBlockSize) + " in the memo file header is no block size";
    case Fault::NextFreeInHeader:
        return "next free block 0 of the memo file is its header";
    case Fault::NextFreeBeyondEnd:
        return "next free block " + std::to_string(nextFree) + " of the memo file lies beyond its end (" +
            std::to_string((fileSize + blockSize - 1) / blockSize) + " blocks)";
    }
    return {};
}

std::string DbtFile::Header::french() const
{
    switch (fault) {
    case Fault::None:
        break;
    case Fault::Short:
        return "fichier de " + std::to_string(fileSize) + " octets, plus court que son en-tête";
    case Fault::BlockSize:
        return "taille de bloc impossible (" + std::to_string(statedBlockSize) + ")";
    case Fault::NextFreeInHeader:
        return "premier bloc libre dans l'en-tête (0)";
    case Fault::NextFreeBeyondEnd:
        return "premier bloc libre (" + std::to_string(nextFree) + ") au-delà de la fin du fichier";
    }
    return {};
}

DbtFile DbtFile::openDamaged(const std::string& path, Layout layout, bool writable, Header& found)
{
    DbtFile d;
    d.file_ = File::open(path, writable ? File::Mode::ReadWrite : File::Mode::ReadOnly);
    d.layout_ = layout;
    found = inspect(d.file_, layout);
    d.blockSize_ = found.blockSize;
    return d;
}

DbtFile DbtFile::open(const std::string& path, Layout layout, bool writable)
{
    Header found;
    DbtFile d = openDamaged(path, layout, writable, found);
    if (found.fault != Header::Fault::None)
        corrupt(path, "damaged memo file header: " + found.detail());
    return d;
}

DbtFile DbtFile::create(const std::string& path, const std::string& tableBaseName, uint32_t blockSize, Layout layout)
{
    DbtFile d;
    d.file_ = File::open(path, File::Mode::Create);
    d.layout_ = layout;
    d.blockSize_ = layout == Layout::Old ? 512 : blockSize;
    d.writeHeader(tableBaseName);
    return d;
}

void DbtFile::writeHeader(const std::string& tableBaseName)
{
    // Block 0 holds the header alone: written whole.
    std::vector<unsigned char> h(blockSize_, 0);
    if (layout_ == Layout::Old) {
        h[16] = 0x03;
    } else {
        for (size_t i = 0; i < 8; ++i)
            h[8 + i] = i < tableBaseName.size()
                ? static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(tableBaseName[i])))
                : 0;
        h[20] = blockSize_ & 0xFF;
        h[21] = (blockSize_ >> 8) & 0xFF;
    }
    file_.writeAt(0, h.data(), h.size());
    mendNextFree();
}

uint32_t DbtFile::nextFree() const
{
    unsigned char h[4] = {};
    if (file_.readAt(0, h, 4) < 4)
        return 0;
    return le32(h);
}

uint64_t DbtFile::blockCount() const
{
    return (file_.size() + blockSize_ - 1) / blockSize_;
}

void DbtFile::mendNextFree()
{
    unsigned char nh[4];
    put32(nh, static_cast<uint32_t>(std::min<uint64_t>(std::max<uint64_t>(blockCount(), 1), 0xFFFFFFFFull)));
    file_.writeAt(0, nh, 4);
}

std::string DbtFile::read(uint32_t block) const
{
    const uint64_t size = file_.size();
    const uint64_t start = uint64_t(block) * blockSize_;
    if (block == 0 || start >= size)
        corrupt(file_.path(), "memo block " + std::to_string(block) + " out of range");
    if (layout_ == Layout::New) {
        if (const std::optional<uint32_t> found = memoLengthAt(file_, start)) {
            const uint32_t len = *found;
            if (len < 8 || len - 8 > kMaxMemo || start + len > size)
                corrupt(file_.path(), "bad memo length at block " + std::to_string(block));
            std::string out(len - 8, '\0');
            file_.readExact(start + 8, out.data(), out.size(), DBERR_MEMOCORRUPT);
            return out;
        }
        // No header: written in the older way; fall through.
    }
    std::string out;
    std::vector<char> buf(4096);
    uint64_t pos = start;
    while (pos < size) {
        const size_t n = file_.readAt(pos, buf.data(), buf.size());
        if (n == 0)
            break;
        for (size_t i = 0; i < n; ++i) {
            if (buf[i] == 0x1A) {
                out.append(buf.data(), i);
                return out;
            }
        }
        out.append(buf.data(), n);
        if (out.size() > kMaxMemo)
            corrupt(file_.path(), "unterminated memo at block " + std::to_string(block));
        pos += n;
    }
    return out;
}

bool DbtFile::holdsMemoAt(uint32_t block) const
{
    const uint64_t size = file_.size();
    const uint64_t start = uint64_t(block) * blockSize_;
    if (block == 0 || start >= size)
        return false;
    if (layout_ == Layout::New) {
        if (const std::optional<uint32_t> len = memoLengthAt(file_, start))
            return *len >= 8 && *len - 8 <= kMaxMemo && start + *len <= size;
    }
    // Text ended by an end mark, within the first few blocks.
    std::vector<char> buf(4096);
    const size_t n = file_.readAt(start, buf.data(), buf.size());
    bool text = false;
    for (size_t i = 0; i < n; ++i) {
        if (buf[i] == 0x1A)
            return text;
        text = text || buf[i] != 0;
    }
    return false;
}

uint64_t DbtFile::memoEnd(uint32_t block) const
{
    if (layout_ == Layout::New && block != 0) {
        if (const std::optional<uint32_t> stated = memoLengthAt(file_, uint64_t(block) * blockSize_)) {
            const uint64_t len = std::min<uint64_t>(*stated, kMaxMemo + 8);
            return block + std::max<uint64_t>((len + blockSize_ - 1) / blockSize_, 1);
        }
    }
    return uint64_t(block) + 1;
}

uint32_t DbtFile::append(const std::string& data)
{
    if (data.size() > kMaxMemo)
        throw EDBEngineError::invalidParam(file_.path(), "memo too long");
    // The header as another program may have left it since the open: one
    // that no longer holds is not written to.
    const Header now = inspect(file_, layout_);
    if (now.fault != Header::Fault::None)
        corrupt(file_.path(), "damaged memo file header: " + now.detail());
    // At the end of the file: a free block the header names (another
    // program's list of freed blocks) is left to it, and a next-free block
    // that counts no free block is written right below.
    // (The header and the size as just read: the caller's lock keeps them.)
    const uint64_t count = (now.fileSize + blockSize_ - 1) / blockSize_;
    const uint64_t next = std::max<uint64_t>(count, 1);
    if (now.nextFree == 0 || now.nextFree > count)
        mendedNextFree_ = now.nextFree;
    std::string block;
    if (layout_ == Layout::New) {
        block.resize(8);
        auto* p = reinterpret_cast<unsigned char*>(block.data());
        p[0] = 0xFF;
        p[1] = 0xFF;
        p[2] = 0x08;
        p[3] = 0x00;
        put32(p + 4, static_cast<uint32_t>(data.size() + 8));
        block += data;
        // Not counted in the length: an end mark for readers that look for
        // one instead of trusting the length.
        block.push_back(kEndMark);
    } else {
        block = data;
        block += "\x1A\x1A";
    }
    const uint64_t blocks = blocksFor(data.size());
    if (next + blocks > 0xFFFFFFFFull)
        throw EDBEngineError::writeFailed(file_.path(), 0, "memo file full");
    block.resize(blocks * blockSize_, '\0');
    // Data first, then the header's next-free value.
    file_.writeAt(next * blockSize_, block.data(), block.size());
    unsigned char nh[4];
    put32(nh, static_cast<uint32_t>(next + blocks));
    file_.writeAt(0, nh, 4);
    return static_cast<uint32_t>(next);
}

}  // namespace kdb
