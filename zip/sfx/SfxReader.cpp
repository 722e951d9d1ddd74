// The self-extracting program's reader: header record, central directory,
// entry data. Every length and offset is checked against the file before it
// is used.
#include "zip/sfx/SfxReader.h"

#include "platform/zipeng/EntryRules.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace sfx {
namespace {

constexpr uint32_t kEndSig = 0x06054B50;
constexpr uint32_t kCentralSig = 0x02014B50;
constexpr uint32_t kLocalSig = 0x04034B50;
constexpr size_t kBlock = 65536;
// Deflate gives at most about 1032 bytes for one compressed byte: a larger
// stated size is a lie meant to fill the disk.
constexpr uint64_t kMaxRatio = 1032;

uint16_t Get16(const unsigned char* p)
{
    return uint16_t(p[0] | p[1] << 8);
}
uint32_t Get32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The traditional zip stream cipher.
class Keys {
public:
    explicit Keys(const std::string& password)
    {
        for (unsigned char c : password)
            Update(c);
    }
    void Decrypt(unsigned char* p, size_t n)
    {
        for (size_t i = 0; i < n; ++i) {
            const unsigned t = (k_[2] & 0xFFFF) | 2;
            p[i] = static_cast<unsigned char>(p[i] ^ ((t * (t ^ 1)) >> 8));
            Update(p[i]);
        }
    }

private:
    static uint32_t Crc(uint32_t k, unsigned char c) { return ~uint32_t(crc32(~k & 0xFFFFFFFFu, &c, 1)); }
    void Update(unsigned char c)
    {
        k_[0] = Crc(k_[0], c);
        k_[1] = (k_[1] + (k_[0] & 0xFF)) * 134775813u + 1;
        k_[2] = Crc(k_[2], static_cast<unsigned char>(k_[1] >> 24));
    }
    uint32_t k_[3] = {0x12345678, 0x23456789, 0x34567890};
};

[[noreturn]] void Fail(const std::string& text)
{
    throw SfxError(text);
}

void ReadOrFail(const Source& src, uint64_t off, void* buf, size_t n)
{
    if (off > src.Size() || n > src.Size() - off || !src.Read(off, buf, n))
        Fail("archive tronquée");
}

}  // namespace

bool MemorySource::Read(uint64_t off, void* buf, size_t n) const
{
    if (off > size_ || n > size_ - off)
        return false;
    if (n)
        std::memcpy(buf, data_ + off, n);
    return true;
}

FileSource::FileSource(int fd) : fd_(fd)
{
    struct stat st;
    if (fstat(fd, &st) == 0 && st.st_size > 0)
        size_ = uint64_t(st.st_size);
}

bool FileSource::Read(uint64_t off, void* buf, size_t n) const
{
    auto* p = static_cast<char*>(buf);
    while (n > 0) {
        ssize_t got = pread(fd_, p, n, off_t(off));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        p += got;
        off += uint64_t(got);
        n -= size_t(got);
    }
    return true;
}

std::string FromLatin1(const std::string& s)
{
    std::string out;
    out.reserve(s.size());
    for (unsigned char c : s) {
        if (c < 0x80) {
            out += char(c);
        } else {
            out += char(0xC0 | c >> 6);
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

Header ReadHeader(const Source& src, uint64_t start)
{
    unsigned char fixed[8];
    if (start > src.Size() || src.Size() - start < 8 || !src.Read(start, fixed, 8))
        Fail("en-tête du programme absent (fichier tronqué)");
    if (std::memcmp(fixed, "KZV", 3) != 0 || fixed[4] != 0 || fixed[5] != 1)
        Fail("en-tête du programme non reconnu");
    Header h;
    h.flags = fixed[3];
    h.length = Get16(fixed + 6);
    if (h.length < 12 || h.length > src.Size() - start)
        Fail("longueur d'en-tête incohérente");
    std::string rec(h.length, '\0');
    ReadOrFail(src, start, rec.data(), rec.size());
    size_t pos = 8;
    std::string* texts[4] = {&h.caption, &h.defaultDir, &h.commandLine, &h.message};
    for (std::string* t : texts) {
        if (pos >= rec.size())
            Fail("longueur d'en-tête incohérente");
        size_t n = static_cast<unsigned char>(rec[pos++]);
        if (n > rec.size() - pos)
            Fail("longueur d'en-tête incohérente");
        std::string raw = rec.substr(pos, n);
        if (raw.find('\0') != std::string::npos)
            Fail("texte d'en-tête invalide");
        *t = FromLatin1(raw);
        pos += n;
    }
    return h;
}

bool SafeName(const std::string& name)
{
    if (name.empty() || name.front() == '/' || name.find('\0') != std::string::npos)
        return false;
    if (name.size() >= 2 && name[1] == ':')  // a drive letter
        return false;
    size_t b = 0;
    while (b <= name.size()) {
        size_t e = name.find('/', b);
        if (e == std::string::npos)
            e = name.size();
        std::string part = name.substr(b, e - b);
        if (part.empty() || part == "." || part == "..")
            return false;
        for (unsigned char c : part)
            if (c < 0x20)
                return false;
        b = e + 1;
    }
    return true;
}

std::vector<Entry> ReadDirectory(const Source& src, uint64_t archiveStart)
{
    const uint64_t size = src.Size();
    if (archiveStart > size || size - archiveStart < 22)
        Fail("archive absente ou tronquée");
    // the end record: the one whose comment ends the file
    const uint64_t tailStart = std::max<uint64_t>(archiveStart, size >= 65557 ? size - 65557 : 0);
    std::string tail(size_t(size - tailStart), '\0');
    ReadOrFail(src, tailStart, tail.data(), tail.size());
    const auto* t = reinterpret_cast<const unsigned char*>(tail.data());
    int64_t found = -1;
    for (int64_t i = int64_t(tail.size()) - 22; i >= 0; --i) {
        if (Get32(t + i) == kEndSig && uint64_t(i) + 22 + Get16(t + i + 20) == tail.size()) {
            found = i;
            break;
        }
    }
    if (found < 0)
        Fail("fin de l'archive introuvable (archive tronquée ou endommagée)");
    const unsigned char* end = t + found;
    const uint64_t endPos = tailStart + uint64_t(found);
    if (Get16(end + 4) != 0 || Get16(end + 6) != 0 || Get16(end + 8) != Get16(end + 10))
        Fail("archive en plusieurs volumes non prise en charge");
    const unsigned total = Get16(end + 10);
    const uint64_t cdSize = Get32(end + 12);
    const uint64_t cdOffset = Get32(end + 16);
    if (total == 0xFFFF || cdOffset == 0xFFFFFFFF || cdSize == 0xFFFFFFFF)
        Fail("format ZIP64 non pris en charge");
    if (cdSize > endPos - archiveStart)
        Fail("répertoire central incohérent");
    const uint64_t cdPos = endPos - cdSize;
    if (cdOffset > cdPos)
        Fail("répertoire central incohérent");
    const uint64_t shift = cdPos - cdOffset;
    std::string cd(size_t(cdSize), '\0');
    ReadOrFail(src, cdPos, cd.data(), cd.size());
    const auto* c = reinterpret_cast<const unsigned char*>(cd.data());

    std::vector<Entry> entries;
    std::vector<std::pair<uint64_t, uint64_t>> spans;  // local header .. end of data
    zipeng::EntryNames names;
    size_t pos = 0;
    for (unsigned k = 0; k < total; ++k) {
        if (cd.size() - pos < 46 || Get32(c + pos) != kCentralSig)
            Fail("en-tête central endommagé");
        const unsigned char* h = c + pos;
        const size_t nameLen = Get16(h + 28), extraLen = Get16(h + 30), commentLen = Get16(h + 32);
        const char* stored = reinterpret_cast<const char*>(h + 46);
        if (cd.size() - pos - 46 < nameLen + extraLen + commentLen)
            Fail(zipeng::PastDirectoryRefusal(std::string(stored, std::min(nameLen, cd.size() - pos - 46))));
        const std::string raw(stored, nameLen);
        Entry e;
        e.name = raw;
        pos += 46 + nameLen + extraLen + commentLen;
        std::replace(e.name.begin(), e.name.end(), '\\', '/');
        const uint16_t flags = Get16(h + 8);
        e.method = Get16(h + 10);
        e.dosTime = Get32(h + 12);
        e.crc = Get32(h + 16);
        e.csize = Get32(h + 20);
        e.usize = Get32(h + 24);
        const uint64_t localOffset = Get32(h + 42);
        // the odd entries, judged as every reader of the program judges them
        std::string refused = zipeng::EntryRefusal({Get16(h + 4), flags, e.method, Get32(h + 38), e.csize, e.usize, raw,
            std::string(stored + nameLen, extraLen)});
        if (refused.empty())
            refused = names.Add(raw);
        if (!refused.empty())
            Fail(refused);
        if (e.method == 99 || (flags & 0x40))
            Fail("chiffrement AES ou fort non pris en charge : « " + e.name + " »");
        if (e.method != 0 && e.method != 8)
            Fail("méthode de compression " + std::to_string(e.method) + " non prise en charge : " + e.name);
        e.encrypted = flags & 1;
        e.checkByte = static_cast<uint8_t>((flags & 8) ? e.dosTime >> 8 : e.crc >> 24);
        if (e.csize == 0xFFFFFFFF || e.usize == 0xFFFFFFFF || localOffset == 0xFFFFFFFF)
            Fail("format ZIP64 non pris en charge");
        if (Get16(h + 34) != 0)
            Fail("archive en plusieurs volumes non prise en charge");
        if (!e.name.empty() && e.name.back() == '/') {
            e.isDir = true;
            while (!e.name.empty() && e.name.back() == '/')
                e.name.pop_back();
        }
        if (!SafeName(e.name))
            Fail("nom de fichier refusé : « " + e.name + " »");
        if (Get16(h + 4) >> 8 == 3) {  // made on Unix: the mode in the high half
            const uint32_t m = Get32(h + 38) >> 16;
            if ((m & 0170000) == 0120000)
                Fail("lien symbolique refusé : « " + e.name + " »");
            e.mode = m & 0777;
        }
        const uint64_t header = e.encrypted ? 12 : 0;
        if (e.csize < header ||
            (e.method == 0 ? e.usize != e.csize - header : e.usize > (e.csize - header) * kMaxRatio + 64))
            Fail("tailles incohérentes : « " + e.name + " »");
        // the local header, inside the archive and before the central directory
        const uint64_t lh = localOffset + shift;
        if (lh < archiveStart || lh > cdPos || cdPos - lh < 30)
            Fail("position d'un fichier incohérente : « " + e.name + " »");
        unsigned char l[30];
        ReadOrFail(src, lh, l, 30);
        if (Get32(l) != kLocalSig)
            Fail("en-tête local endommagé : « " + e.name + " »");
        std::string localName(Get16(l + 26), '\0');
        ReadOrFail(src, lh + 30, localName.data(), localName.size());
        if (const std::string differs = zipeng::LocalNameRefusal(raw, localName); !differs.empty())
            Fail(differs);
        e.dataPos = lh + 30 + Get16(l + 26) + Get16(l + 28);
        if (e.dataPos > cdPos || e.csize > cdPos - e.dataPos)
            Fail("données hors de l'archive : « " + e.name + " »");
        spans.emplace_back(lh, e.dataPos + e.csize);
        entries.push_back(std::move(e));
    }
    // the directory read to its end: a count that wrapped past 65 535, or
    // bytes the count leaves out, would leave entries unseen
    if (pos != cd.size())
        Fail("répertoire central incohérent (le nombre d'entrées ne correspond pas)");
    // entries sharing their data multiply what a small file unpacks to
    std::sort(spans.begin(), spans.end());
    for (size_t i = 1; i < spans.size(); ++i)
        if (spans[i].first < spans[i - 1].second)
            Fail("fichiers superposés dans l'archive");
    return entries;
}

void ReadData(const Source& src, const Entry& e, const std::function<bool(const char*, size_t)>& sink)
{
    std::string in(kBlock, '\0');
    uint32_t crc = crc32(0, nullptr, 0);
    uint64_t produced = 0;
    uint64_t left = e.csize;
    uint64_t at = e.dataPos;
    std::unique_ptr<Keys> keys;
    if (e.encrypted) {
        unsigned char head[12];
        if (left < 12)
            Fail("données endommagées (tronquées) : « " + e.name + " »");
        ReadOrFail(src, at, head, 12);
        keys = std::make_unique<Keys>(e.password);
        keys->Decrypt(head, 12);
        if (head[11] != e.checkByte)
            Fail("mot de passe erroné : « " + e.name + " »");
        at += 12;
        left -= 12;
    }
    // the next piece of the data, decrypted when it is
    auto next = [&](size_t n) {
        ReadOrFail(src, at, in.data(), n);
        if (keys)
            keys->Decrypt(reinterpret_cast<unsigned char*>(in.data()), n);
        at += n;
        left -= n;
    };
    auto give = [&](const char* p, size_t n) {
        produced += n;
        if (produced > e.usize)
            Fail("données endommagées (taille dépassée) : « " + e.name + " »");
        crc = crc32(crc, reinterpret_cast<const Bytef*>(p), uInt(n));
        if (n && !sink(p, n))
            Fail("écriture impossible : « " + e.name + " »");
    };
    if (e.method == 0) {
        while (left > 0) {
            size_t n = size_t(std::min<uint64_t>(left, kBlock));
            next(n);
            give(in.data(), n);
        }
    } else {
        z_stream z{};
        if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
            Fail("mémoire insuffisante");
        std::string out(kBlock, '\0');
        int rc = Z_OK;
        try {
            while (rc != Z_STREAM_END) {
                if (z.avail_in == 0) {
                    if (left == 0)
                        Fail("données endommagées (tronquées) : « " + e.name + " »");
                    size_t n = size_t(std::min<uint64_t>(left, kBlock));
                    next(n);
                    z.next_in = reinterpret_cast<Bytef*>(in.data());
                    z.avail_in = uInt(n);
                }
                z.next_out = reinterpret_cast<Bytef*>(out.data());
                z.avail_out = uInt(out.size());
                rc = inflate(&z, Z_NO_FLUSH);
                if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR)
                    Fail("données endommagées : « " + e.name + " »");
                give(out.data(), out.size() - z.avail_out);
            }
        } catch (...) {
            inflateEnd(&z);
            throw;
        }
        inflateEnd(&z);
    }
    if (produced != e.usize || crc != e.crc)
        Fail("données endommagées (erreur de CRC) : « " + e.name + " »");
}

bool PasswordFits(const Source& src, const Entry& e, const std::string& password)
{
    Entry tried = e;
    tried.password = password;
    try {
        ReadData(src, tried, [](const char*, size_t) { return true; });
        return true;
    } catch (const SfxError&) {
        return false;
    }
}

void CheckImage(const unsigned char* data, size_t size)
{
    MemorySource src(data, size);
    Header h = ReadHeader(src, 0);
    for (const Entry& e : ReadDirectory(src, h.length))
        if (!e.isDir)
            ReadData(src, e, [](const char*, size_t) { return true; });
}

}  // namespace sfx
