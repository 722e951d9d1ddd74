#include "platform/zipeng/ZipCore.h"

#include <isa-l/crc.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace zipeng {

uint32_t Crc32(uint32_t crc, const void* data, size_t len)
{
    return crc32_gzip_refl(crc, static_cast<const unsigned char*>(data), len);
}

uint32_t ToDosTime(time_t t)
{
    struct tm tm { };
    localtime_r(&t, &tm);
    if (tm.tm_year < 80)
        return (1 << 21) | (1 << 16);  // 1980-01-01 00:00
    if (tm.tm_year > 207)
        tm.tm_year = 207;
    return uint32_t(tm.tm_year - 80) << 25 | uint32_t(tm.tm_mon + 1) << 21 | uint32_t(tm.tm_mday) << 16 |
        uint32_t(tm.tm_hour) << 11 | uint32_t(tm.tm_min) << 5 | uint32_t(tm.tm_sec / 2);
}

time_t FromDosTime(uint32_t dos)
{
    struct tm tm { };
    tm.tm_year = int((dos >> 25) & 0x7F) + 80;
    tm.tm_mon = std::max(0, int((dos >> 21) & 0x0F) - 1);
    tm.tm_mday = std::max(1, int((dos >> 16) & 0x1F));
    tm.tm_hour = int((dos >> 11) & 0x1F);
    tm.tm_min = int((dos >> 5) & 0x3F);
    tm.tm_sec = int(dos & 0x1F) * 2;
    tm.tm_isdst = -1;
    return mktime(&tm);
}

ZipCrypto::ZipCrypto(const std::string& password) : keys_{0x12345678, 0x23456789, 0x34567890}
{
    for (unsigned char c : password)
        Update(c);
}

void ZipCrypto::Update(unsigned char c)
{
    keys_[0] = ~Crc32(~keys_[0], &c, 1);
    keys_[1] = (keys_[1] + (keys_[0] & 0xFF)) * 134775813u + 1;
    unsigned char k = uint8_t(keys_[1] >> 24);
    keys_[2] = ~Crc32(~keys_[2], &k, 1);
}

void ZipCrypto::Encrypt(unsigned char* p, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        unsigned char t = DecryptByte();
        Update(p[i]);
        p[i] ^= t;
    }
}

void ZipCrypto::Decrypt(unsigned char* p, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        p[i] ^= DecryptByte();
        Update(p[i]);
    }
}

bool ReadAt(int fd, void* buf, size_t n, uint64_t off)
{
    auto* p = static_cast<char*>(buf);
    while (n > 0) {
        ssize_t r = pread(fd, p, n, off_t(off));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        p += r;
        n -= size_t(r);
        off += uint64_t(r);
    }
    return true;
}

bool WriteAll(int fd, const void* buf, size_t n)
{
    auto* p = static_cast<const char*>(buf);
    while (n > 0) {
        ssize_t r = write(fd, p, n);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        p += r;
        n -= size_t(r);
    }
    return true;
}

CentralDirectory ReadCentralDirectory(int fd, uint64_t size)
{
    if (size < kEndSize)
        throw JobError(errFormat, "not a zip archive (no end of central directory)");
    uint64_t n = std::min<uint64_t>(size, 65535 + kEndSize);
    std::vector<unsigned char> tail(n);
    if (!ReadAt(fd, tail.data(), n, size - n))
        throw JobError(errRead, "cannot read the end of the archive");
    int64_t at = -1;
    for (int64_t i = int64_t(n) - kEndSize; i >= 0; --i)
        if (Get32(&tail[size_t(i)]) == kEndSig) {
            at = i;
            break;
        }
    if (at < 0)
        throw JobError(errFormat, "not a zip archive (no end of central directory)");
    const unsigned char* e = &tail[size_t(at)];
    uint64_t endPos = size - n + uint64_t(at);
    if (Get16(e + 4) != 0 || Get16(e + 6) != 0)
        throw JobError(errFormat, "multi-volume archive: join its volumes first");
    CentralDirectory cd;
    uint32_t count = Get16(e + 10);
    uint64_t cdSize = Get32(e + 12), cdOffset = Get32(e + 16);
    // A 64-bit end record (written by tools that stream) is accepted while
    // the classic record still holds the true values.
    unsigned char loc[20], rec[4];
    uint64_t dirEnd = endPos;
    if (endPos >= 20 && ReadAt(fd, loc, 20, endPos - 20) && Get32(loc) == kZip64LocatorSig) {
        if (count == 0xFFFF || cdSize == 0xFFFFFFFF || cdOffset == 0xFFFFFFFF)
            throw JobError(errLimit, "archive in the 64-bit format: more than 4 GB or 65 535 entries");
        if (endPos < 76 || !ReadAt(fd, rec, 4, endPos - 76) || Get32(rec) != kZip64EndSig)
            throw JobError(errFormat, "damaged 64-bit end of central directory");
        dirEnd = endPos - 76;
    }
    uint32_t commentLen = std::min<uint64_t>(Get16(e + 20), n - uint64_t(at) - kEndSize);
    cd.comment.assign(reinterpret_cast<const char*>(e + kEndSize), commentLen);
    if (cdSize > dirEnd || uint64_t(count) * kCentralSize > cdSize)
        throw JobError(errFormat, "central directory size out of the file");
    uint64_t cdStart = dirEnd - cdSize;
    if (cdOffset > cdStart)
        throw JobError(errFormat, "central directory offset out of the file");
    cd.shift = cdStart - cdOffset;
    cd.start = cdStart;
    std::vector<unsigned char> dir(cdSize);
    if (cdSize && !ReadAt(fd, dir.data(), cdSize, cdStart))
        throw JobError(errRead, "cannot read the central directory");
    size_t p = 0;
    cd.entries.reserve(count);
    for (uint32_t k = 0; k < count; ++k) {
        if (p + kCentralSize > cdSize || Get32(&dir[p]) != kCentralSig)
            throw JobError(errFormat, "damaged central directory header");
        const unsigned char* h = &dir[p];
        CdEntry en;
        en.madeBy = Get16(h + 4);
        en.needed = Get16(h + 6);
        en.flags = Get16(h + 8);
        en.method = Get16(h + 10);
        en.dosTime = Get32(h + 12);
        en.crc = Get32(h + 16);
        en.csize = Get32(h + 20);
        en.usize = Get32(h + 24);
        size_t nl = Get16(h + 28), xl = Get16(h + 30), cl = Get16(h + 32);
        en.diskStart = Get16(h + 34);
        en.internalAttrs = Get16(h + 36);
        en.externalAttrs = Get32(h + 38);
        en.localOffset = Get32(h + 42);
        if (p + kCentralSize + nl + xl + cl > cdSize)
            throw JobError(errFormat, "central directory header out of the directory");
        const char* s = reinterpret_cast<const char*>(h + kCentralSize);
        en.name.assign(s, nl);
        en.extra.assign(s + nl, xl);
        en.comment.assign(s + nl + xl, cl);
        if (en.csize == 0xFFFFFFFF || en.usize == 0xFFFFFFFF || en.localOffset == 0xFFFFFFFF)
            throw JobError(errLimit, "entry in the 64-bit format: more than 4 GB");
        if (en.localOffset + kLocalSize > cdOffset)
            throw JobError(errFormat, "local header offset out of the archive");
        p += kCentralSize + nl + xl + cl;
        cd.entries.push_back(std::move(en));
    }
    return cd;
}

void CheckLocal(int fd, uint64_t size, CdEntry& e, uint64_t shift, uint64_t next)
{
    unsigned char h[kLocalSize];
    uint64_t off = e.localOffset + shift;
    if (off + kLocalSize > size || !ReadAt(fd, h, kLocalSize, off) || Get32(h) != kLocalSig)
        throw JobError(errFormat, "bad local header: " + e.name);
    uint64_t data = off + kLocalSize + Get16(h + 26) + Get16(h + 28);
    if (Get16(h + 26) != e.name.size())
        throw JobError(errFormat, "local and central names differ: " + e.name);
    if (data + e.csize > next + shift || data + e.csize > size)
        throw JobError(errFormat, "entry data overlap or pass the end of the archive: " + e.name);
    e.dataOffset = data;
}

bool MatchMask(const std::string& name, const std::string& mask)
{
    auto norm = [](char c) { return c == '\\' ? '/' : char(std::tolower(static_cast<unsigned char>(c))); };
    size_t n = 0, m = 0, starM = std::string::npos, starN = 0;
    while (n < name.size()) {
        if (m < mask.size() && (mask[m] == '?' || norm(mask[m]) == norm(name[n]))) {
            ++n;
            ++m;
        } else if (m < mask.size() && mask[m] == '*') {
            starM = m++;
            starN = n;
        } else if (starM != std::string::npos) {
            m = starM + 1;
            n = ++starN;
        } else
            return false;
    }
    while (m < mask.size() && mask[m] == '*')
        ++m;
    if (m + 2 == mask.size() && mask[m] == '.' && mask[m + 1] == '*')
        return true;
    return m == mask.size();
}

CallbackRecord Reporter::Send(int32_t action, int32_t v1, intptr_t v2, const std::string& text)
{
    CallbackRecord r{};
    r.handle = handle_;
    r.caller = caller_;
    r.version = version_;
    r.isZip = isZip_ ? 1 : 0;
    r.action = action;
    r.value1 = v1;
    r.value2 = v2;
    std::memcpy(r.text, text.data(), std::min(text.size(), sizeof r.text - 1));
    if (cb_ && cb_(&r) == -1)
        cancelled_ = true;
    return r;
}

}  // namespace zipeng
