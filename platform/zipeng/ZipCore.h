#pragma once
// What the two archive libraries share: the record layouts of the zip
// format, CRC-32, MS-DOS dates, the traditional zip encryption, the
// central-directory reader and the callback helper.
#include "platform/zipeng/EntryRules.h"
#include "platform/zipeng/ZipEngAbi.h"

#include <cstdint>
#include <ctime>
#include <stdexcept>
#include <string>
#include <vector>

namespace zipeng {

constexpr uint32_t kLocalSig = 0x04034B50;
constexpr uint32_t kCentralSig = 0x02014B50;
constexpr uint32_t kEndSig = 0x06054B50;
constexpr uint32_t kDescriptorSig = 0x08074B50;
constexpr uint32_t kZip64EndSig = 0x06064B50;
constexpr uint32_t kZip64LocatorSig = 0x07064B50;
constexpr int kLocalSize = 30, kCentralSize = 46, kEndSize = 22;
constexpr uint64_t kMaxClassic = 0xFFFFFFFEull;  // largest size or offset of the classic format
constexpr int kMaxEntries = 65535;

inline uint16_t Get16(const unsigned char* p)
{
    return uint16_t(p[0] | p[1] << 8);
}
inline uint32_t Get32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void Put16(unsigned char* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void Put32(unsigned char* p, uint32_t v)
{
    Put16(p, v);
    Put16(p + 2, v >> 16);
}

uint32_t Crc32(uint32_t crc, const void* data, size_t len);

// MS-DOS date and time (date in the high word) <-> local time.
uint32_t ToDosTime(time_t t);
time_t FromDosTime(uint32_t dos);

// The traditional zip stream cipher.
class ZipCrypto {
public:
    explicit ZipCrypto(const std::string& password);
    unsigned char DecryptByte() const
    {
        unsigned t = (keys_[2] & 0xFFFF) | 2;
        return uint8_t((t * (t ^ 1)) >> 8);
    }
    void Encrypt(unsigned char* p, size_t n);
    void Decrypt(unsigned char* p, size_t n);

private:
    void Update(unsigned char c);
    uint32_t keys_[3];
};

// An error of a job: the code sent with action 4 and the text.
struct JobError : std::runtime_error {
    JobError(int32_t code, const std::string& text) : std::runtime_error(text), code(code) { }
    int32_t code;
};

// One entry of a central directory as the libraries use it.
struct CdEntry {
    uint16_t madeBy = 0, needed = 0, flags = 0, method = 0;
    uint32_t dosTime = 0, crc = 0;
    uint64_t csize = 0, usize = 0;
    uint16_t diskStart = 0, internalAttrs = 0;
    uint32_t externalAttrs = 0;
    uint64_t localOffset = 0;
    std::string name, extra, comment;
    uint64_t dataOffset = 0;  // filled by CheckLocals: first byte of the data
};

struct CentralDirectory {
    std::vector<CdEntry> entries;
    std::string comment;
    uint64_t shift = 0;  // bytes in front of the archive (a self-extractor's stub)
    uint64_t start = 0;  // where the central directory begins in the file
};

// Reads the central directory of an archive (fd open for reading, size its
// length). Throws JobError on any damage: missing end record, sizes or
// offsets outside the file, too many entries for the file's size, and an
// entry that breaks one of the rules of EntryRules.h.
CentralDirectory ReadCentralDirectory(int fd, uint64_t size);
// Reads the local header of every entry, checks it against the central
// entry (its name the same bytes) and sets dataOffset; then refuses data
// that overlaps the following entry's header (or runs past the end of the
// file). Every header is checked before any extent, so that an entry whose
// offset points at another one's header, or into it, is the one named, not
// the sound entry it lands on.
void CheckLocals(int fd, uint64_t size, std::vector<CdEntry>& entries, uint64_t shift);

// Reads or writes exactly n bytes at an offset; false on a short transfer.
bool ReadAt(int fd, void* buf, size_t n, uint64_t off);
bool WriteAll(int fd, const void* buf, size_t n);

// Names: whether a name has bytes above 127 (IsUtf8: EntryRules.h); a name
// of another encoding (taken as Latin-1) in the OEM code page 850 of the
// archives' FAT hosts, '_' for a character it lacks; and back to UTF-8.
bool HasHighBytes(const std::string& s);
std::string LatinToOem(const std::string& s);
std::string OemToUtf8(const std::string& s);

// Old-style masks: "*" and "?", case-insensitive; "/" and "\" are equal.
bool MatchMask(const std::string& name, const std::string& mask);

// The callback side of a job: builds the records, sends them on the
// calling thread and remembers a cancel answer.
class Reporter {
public:
    Reporter(Callback cb, void* handle, void* caller, int32_t version, bool isZip)
        : cb_(cb), handle_(handle), caller_(caller), version_(version), isZip_(isZip)
    {
    }
    // Sends a record; returns it (answers included). Sets Cancelled() when
    // the component answers -1.
    CallbackRecord Send(int32_t action, int32_t v1, intptr_t v2, const std::string& text);
    void Message(int32_t code, const std::string& text) { Send(actMessage, code, 0, text); }
    bool Cancelled() const { return cancelled_; }

private:
    Callback cb_;
    void* handle_;
    void* caller_;
    int32_t version_;
    bool isZip_;
    bool cancelled_ = false;
};

}  // namespace zipeng
