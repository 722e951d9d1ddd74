#include "platform/db/dbf/StatementJournal.h"

#include <cctype>
#include <cstring>

#include "platform/db/core/DbError.h"
#include "platform/db/dbf/LittleEndian.h"

namespace kdb::journal {

namespace {

constexpr char kMagic[4] = {'K', 'J', 'N', 'L'};
constexpr size_t kHead = 16;
constexpr size_t kTail = 8;
constexpr uint64_t kFnvOffset = 0xcbf29ce484222325ull;
constexpr uint64_t kFnvPrime = 0x100000001b3ull;

uint64_t fnv(uint64_t h, const unsigned char* p, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        h ^= p[i];
        h *= kFnvPrime;
    }
    return h;
}

using dbfimpl::le16;
using dbfimpl::le32;
using dbfimpl::put16;
using dbfimpl::put32;

}  // namespace

std::string pathFor(const std::string& tablePath)
{
    const auto slash = tablePath.find_last_of('/');
    const auto dot = tablePath.find_last_of('.');
    const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    const std::string base = hasExt ? tablePath.substr(0, dot) : tablePath;
    const bool lower = hasExt && std::islower(static_cast<unsigned char>(tablePath.back()));
    return base + (lower ? ".jnl" : ".JNL");
}

std::optional<Journal> decode(std::string_view bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    if (bytes.size() < kHead + kTail || std::memcmp(p, kMagic, 4) != 0)
        return std::nullopt;
    Journal j;
    j.headerLength = le16(p + 4);
    j.recordLength = le16(p + 6);
    j.recordCount = le32(p + 8);
    const uint32_t n = le32(p + 12);
    if (j.recordLength == 0)
        return std::nullopt;
    const uint64_t entry = 4 + uint64_t(j.recordLength);
    if ((bytes.size() - kHead - kTail) / entry != n || (bytes.size() - kHead - kTail) % entry != 0)
        return std::nullopt;
    uint64_t stored = 0;
    for (size_t i = 0; i < kTail; ++i)
        stored |= uint64_t(p[bytes.size() - kTail + i]) << (8 * i);
    if (fnv(kFnvOffset, p, bytes.size() - kTail) != stored)
        return std::nullopt;
    j.images.reserve(n);
    const unsigned char* at = p + kHead;
    for (uint32_t i = 0; i < n; ++i, at += entry) {
        Image im;
        im.recNo = le32(at);
        im.bytes.assign(reinterpret_cast<const char*>(at + 4), j.recordLength);
        j.images.push_back(std::move(im));
    }
    return j;
}

Writer::Writer(
    const std::string& path, uint16_t headerLength, uint16_t recordLength, uint32_t recordCount, uint32_t images)
    : file_(File::open(path, File::Mode::Create)), path_(path), hash_(kFnvOffset)
{
    unsigned char h[kHead];
    std::memcpy(h, kMagic, 4);
    put16(h + 4, headerLength);
    put16(h + 6, recordLength);
    put32(h + 8, recordCount);
    put32(h + 12, images);
    put(h, sizeof h);
}

void Writer::add(uint32_t recNo, std::string_view bytes)
{
    unsigned char n[4];
    put32(n, recNo);
    put(n, 4);
    put(bytes.data(), bytes.size());
}

void Writer::finish()
{
    for (size_t i = 0; i < kTail; ++i)
        buffer_.push_back(static_cast<char>(hash_ >> (8 * i)));
    drain();
    file_.sync();
    file_.close();
    syncDirectory(path_);
}

void Writer::put(const void* p, size_t n)
{
    hash_ = fnv(hash_, static_cast<const unsigned char*>(p), n);
    buffer_.append(static_cast<const char*>(p), n);
    if (buffer_.size() >= (size_t(1) << 20))
        drain();
}

void Writer::drain()
{
    if (buffer_.empty())
        return;
    file_.writeAt(at_, buffer_.data(), buffer_.size());
    at_ += buffer_.size();
    buffer_.clear();
}

}  // namespace kdb::journal
