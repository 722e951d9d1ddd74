#include "platform/db/dbf/DbtFile.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/db/core/DbError.h"

namespace kdb {

namespace {
uint32_t le32(const unsigned char* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24);
}
uint16_t le16(const unsigned char* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
void put32(unsigned char* p, uint32_t v)
{
    p[0] = v & 0xFF;
    p[1] = (v >> 8) & 0xFF;
    p[2] = (v >> 16) & 0xFF;
    p[3] = (v >> 24) & 0xFF;
}

[[noreturn]] void corrupt(const std::string& path, const std::string& what)
{
    throw EDBEngineError::memoCorrupt(path, what);
}
}  // namespace

DbtFile DbtFile::open(const std::string& path, Layout layout, bool writable)
{
    DbtFile d;
    d.file_ = File::open(path, writable ? File::Mode::ReadWrite : File::Mode::ReadOnly);
    d.layout_ = layout;
    unsigned char h[32] = {};
    if (d.file_.readAt(0, h, sizeof h) < sizeof h)
        corrupt(path, "header too short");
    if (layout == Layout::New) {
        uint32_t bs = le16(h + 20);
        if (bs == 0 || bs % 512 != 0)
            bs = 512;
        d.blockSize_ = bs;
    } else {
        d.blockSize_ = 512;
    }
    return d;
}

DbtFile DbtFile::create(const std::string& path, const std::string& tableBaseName, uint32_t blockSize, Layout layout)
{
    DbtFile d;
    d.file_ = File::open(path, File::Mode::Create);
    d.layout_ = layout;
    d.blockSize_ = layout == Layout::Old ? 512 : blockSize;
    std::vector<unsigned char> h(d.blockSize_, 0);
    put32(h.data(), 1);
    if (layout == Layout::Old) {
        h[16] = 0x03;
    } else {
        for (size_t i = 0; i < 8; ++i)
            h[8 + i] = i < tableBaseName.size()
                ? static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(tableBaseName[i])))
                : 0;
        h[20] = d.blockSize_ & 0xFF;
        h[21] = (d.blockSize_ >> 8) & 0xFF;
    }
    d.file_.writeAt(0, h.data(), h.size());
    return d;
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
        unsigned char h[8];
        if (file_.readAt(start, h, 8) == 8 && h[0] == 0xFF && h[1] == 0xFF && h[2] == 0x08 && h[3] == 0x00) {
            const uint32_t len = le32(h + 4);
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

uint32_t DbtFile::append(const std::string& data)
{
    if (data.size() > kMaxMemo)
        throw EDBEngineError::invalidParam(file_.path(), "memo too long");
    // At the end of the file: a free block the header names (another
    // program's list of freed blocks) is left to it, and a value beyond the
    // end (a damaged header) is written right below.
    const uint32_t stated = nextFree();
    uint64_t next = std::max<uint64_t>(blockCount(), 1);
    if (nextFreeImpossible())
        mendedNextFree_ = stated;
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
    const uint64_t blocks = (block.size() + blockSize_ - 1) / blockSize_;
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
