#include "platform/zipeng/ZipCore.h"
#include "platform/zipeng/Oem850.h"

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

// The 64-bit values of an entry (extra field 0x0001): each field of the
// header at its largest value is in it, in this order.
static void ReadZip64Extra(CdEntry& en)
{
    const auto* x = reinterpret_cast<const unsigned char*>(en.extra.data());
    size_t i = 0;
    while (i + 4 <= en.extra.size()) {
        const size_t id = Get16(x + i), len = Get16(x + i + 2);
        if (i + 4 + len > en.extra.size())
            break;
        if (id == 1) {
            const unsigned char* v = x + i + 4;
            size_t left = len;
            auto take = [&](uint64_t& field) {
                if (left < 8)
                    throw JobError(errFormat, "champ 64 bits incomplet : " + en.name);
                field = uint64_t(Get32(v)) | uint64_t(Get32(v + 4)) << 32;
                v += 8;
                left -= 8;
            };
            if (en.usize == 0xFFFFFFFF)
                take(en.usize);
            if (en.csize == 0xFFFFFFFF)
                take(en.csize);
            if (en.localOffset == 0xFFFFFFFF)
                take(en.localOffset);
            return;
        }
        i += 4 + len;
    }
    throw JobError(errFormat, "champ 64 bits absent : " + en.name);
}

CentralDirectory ReadCentralDirectory(int fd, uint64_t size)
{
    if (size < kEndSize)
        throw JobError(errFormat, "ce n'est pas une archive zip (fin du répertoire central introuvable)");
    uint64_t n = std::min<uint64_t>(size, 65535 + kEndSize);
    std::vector<unsigned char> tail(n);
    if (!ReadAt(fd, tail.data(), n, size - n))
        throw JobError(errRead, "lecture impossible de la fin de l'archive");
    int64_t at = -1;
    for (int64_t i = int64_t(n) - kEndSize; i >= 0; --i)
        if (Get32(&tail[size_t(i)]) == kEndSig) {
            at = i;
            break;
        }
    if (at < 0)
        throw JobError(errFormat, "ce n'est pas une archive zip (fin du répertoire central introuvable)");
    const unsigned char* e = &tail[size_t(at)];
    uint64_t endPos = size - n + uint64_t(at);
    if (Get16(e + 4) != 0 || Get16(e + 6) != 0)
        throw JobError(errFormat, "archive en plusieurs volumes : en réunir d'abord les volumes");
    CentralDirectory cd;
    uint64_t count = Get16(e + 10);
    uint64_t cdSize = Get32(e + 12), cdOffset = Get32(e + 16);
    // A 64-bit end record stands between the directory and the classic one
    // (written by tools that stream, or asked for): a classic field at its
    // largest value is taken from it.
    unsigned char loc[20], rec[56];
    uint64_t dirEnd = endPos;
    if (endPos >= 20 && ReadAt(fd, loc, 20, endPos - 20) && Get32(loc) == kZip64LocatorSig) {
        // where the locator says, else right in front of it (bytes put in front of the archive)
        uint64_t at = uint64_t(Get32(loc + 8)) | uint64_t(Get32(loc + 12)) << 32;
        bool found = at + 56 <= endPos - 20 && ReadAt(fd, rec, 56, at) && Get32(rec) == kZip64EndSig;
        if (!found) {
            at = endPos - 20 - 56;
            found = endPos >= 76 && ReadAt(fd, rec, 56, at) && Get32(rec) == kZip64EndSig;
        }
        if (!found)
            throw JobError(errFormat, "enregistrement de fin 64 bits endommagé");
        auto get64 = [](const unsigned char* p) { return uint64_t(Get32(p)) | uint64_t(Get32(p + 4)) << 32; };
        if (Get32(loc + 4) != 0 || Get32(loc + 16) > 1 || Get32(rec + 16) != 0 || Get32(rec + 20) != 0)
            throw JobError(errFormat, "archive en plusieurs volumes : en réunir d'abord les volumes");
        if (count == 0xFFFF)
            count = get64(rec + 32);
        if (cdSize == 0xFFFFFFFF)
            cdSize = get64(rec + 40);
        if (cdOffset == 0xFFFFFFFF)
            cdOffset = get64(rec + 48);
        dirEnd = at;
    }
    uint32_t commentLen = std::min<uint64_t>(Get16(e + 20), n - uint64_t(at) - kEndSize);
    cd.comment.assign(reinterpret_cast<const char*>(e + kEndSize), commentLen);
    if (cdSize > dirEnd || count > cdSize / kCentralSize)
        throw JobError(errFormat, "taille du répertoire central hors du fichier");
    uint64_t cdStart = dirEnd - cdSize;
    if (cdOffset > cdStart)
        throw JobError(errFormat, "position du répertoire central hors du fichier");
    cd.shift = cdStart - cdOffset;
    cd.start = cdStart;
    std::vector<unsigned char> dir(cdSize);
    if (cdSize && !ReadAt(fd, dir.data(), cdSize, cdStart))
        throw JobError(errRead, "lecture impossible du répertoire central");
    size_t p = 0;
    cd.entries.reserve(size_t(count));
    EntryNames names;
    // The directory is walked to its end: the classic end record holds the
    // count of entries in 16 bits only, and some writers let it wrap past
    // 65 535 without a 64-bit record. The entries found must agree with it.
    for (uint64_t k = 0; k < count || (p + kCentralSize <= cdSize && Get32(&dir[p]) == kCentralSig); ++k) {
        if (p + kCentralSize > cdSize || Get32(&dir[p]) != kCentralSig)
            throw JobError(errFormat, "en-tête du répertoire central endommagé");
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
        const char* s = reinterpret_cast<const char*>(h + kCentralSize);
        if (p + kCentralSize + nl + xl + cl > cdSize)
            throw JobError(
                errFormat, PastDirectoryRefusal(std::string(s, std::min<size_t>(nl, cdSize - p - kCentralSize))));
        en.name.assign(s, nl);
        en.extra.assign(s + nl, xl);
        en.comment.assign(s + nl + xl, cl);
        if (en.csize == 0xFFFFFFFF || en.usize == 0xFFFFFFFF || en.localOffset == 0xFFFFFFFF)
            ReadZip64Extra(en);
        std::string refused =
            EntryRefusal({en.madeBy, en.flags, en.method, en.externalAttrs, en.csize, en.usize, en.name, en.extra});
        if (refused.empty())
            refused = names.Add(en.name);
        if (!refused.empty())
            throw JobError(errFormat, refused);
        if (en.localOffset + kLocalSize > cdOffset)
            throw JobError(errFormat, "position d'en-tête local hors de l'archive : " + en.name);
        p += kCentralSize + nl + xl + cl;
        cd.entries.push_back(std::move(en));
    }
    if ((cd.entries.size() & 0xFFFF) != (count & 0xFFFF) || cd.entries.size() < count)
        throw JobError(errFormat, "le nombre d'entrées ne correspond pas au répertoire central");
    return cd;
}

namespace {

void CheckLocalHeader(int fd, uint64_t size, CdEntry& e, uint64_t shift)
{
    unsigned char h[kLocalSize];
    uint64_t off = e.localOffset + shift;
    if (off + kLocalSize > size || !ReadAt(fd, h, kLocalSize, off) || Get32(h) != kLocalSig)
        throw JobError(errFormat, "en-tête local erroné : " + e.name);
    std::string localName(Get16(h + 26), '\0');
    if (!ReadAt(fd, localName.data(), localName.size(), off + kLocalSize))
        throw JobError(errFormat, "en-tête local erroné : " + e.name);
    if (const std::string refused = LocalNameRefusal(e.name, localName); !refused.empty())
        throw JobError(errFormat, refused);
    e.dataOffset = off + kLocalSize + Get16(h + 26) + Get16(h + 28);
}

}  // namespace

void CheckLocals(int fd, uint64_t size, std::vector<CdEntry>& entries, uint64_t shift)
{
    std::vector<size_t> order(entries.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(),
        [&](size_t a, size_t b) { return entries[a].localOffset < entries[b].localOffset; });
    for (CdEntry& e : entries)
        CheckLocalHeader(fd, size, e, shift);
    for (size_t k = 0; k < order.size(); ++k) {
        const CdEntry& e = entries[order[k]];
        const uint64_t next = k + 1 < order.size() ? entries[order[k + 1]].localOffset + shift : size;
        if (e.dataOffset + e.csize > next || e.dataOffset + e.csize > size)
            throw JobError(
                errFormat, "données chevauchant une autre entrée ou dépassant la fin de l'archive : " + e.name);
    }
}

namespace {

using zipcp::kOem850;

void PutUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

}  // namespace

bool HasHighBytes(const std::string& s)
{
    return std::any_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

std::string LatinToOem(const std::string& s)
{
    std::string out;
    out.reserve(s.size());
    for (char ch : s) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x80) {
            out += ch;
            continue;
        }
        const char16_t* hit = std::char_traits<char16_t>::find(kOem850, 128, char16_t(b));
        out += hit ? char(0x80 + (hit - kOem850)) : '_';
    }
    return out;
}

std::string OemToUtf8(const std::string& s)
{
    std::string out;
    out.reserve(s.size() * 2);
    for (char ch : s) {
        const auto b = static_cast<unsigned char>(ch);
        PutUtf8(out, b < 0x80 ? char32_t(b) : char32_t(kOem850[b - 0x80]));
    }
    return out;
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
