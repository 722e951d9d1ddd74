#pragma once
// The archive reader of the self-extracting program: the header record the
// zip component writes behind the program (magic "KZV", option flags, its
// length, four texts of at most 255 Latin-1 characters), the archive behind
// it, and the data of its entries (stored or deflated). Everything read is
// checked; a damaged or hostile archive ends in an SfxError whose text is
// French and meant for the user. No Qt: the program is small and stands alone.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace sfx {

struct SfxError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Where the bytes come from: the program's own file, or memory.
class Source {
public:
    virtual ~Source() = default;
    virtual uint64_t Size() const = 0;
    // Exactly n bytes at off, or false.
    virtual bool Read(uint64_t off, void* buf, size_t n) const = 0;
};

class MemorySource : public Source {
public:
    MemorySource(const unsigned char* data, size_t size) : data_(data), size_(size) { }
    uint64_t Size() const override { return size_; }
    bool Read(uint64_t off, void* buf, size_t n) const override;

private:
    const unsigned char* data_;
    size_t size_;
};

class FileSource : public Source {
public:
    explicit FileSource(int fd);
    uint64_t Size() const override { return size_; }
    bool Read(uint64_t off, void* buf, size_t n) const override;

private:
    int fd_;
    uint64_t size_ = 0;
};

// Option flags of the header record.
enum : uint8_t {
    kAskCmdLine = 0x01,
    kAskFiles = 0x02,
    kHideOverwriteBox = 0x04,
    kOverwriteAlways = 0x08,
    kOverwriteNever = 0x10,
    kNoSizeCheck = 0x20,
    kAutoRun = 0x40,
    kNoSuccessMsg = 0x80,
};

struct Header {
    uint8_t flags = 0;
    uint32_t length = 0;  // L: the archive starts L bytes after the record's start
    std::string caption, defaultDir, commandLine, message;  // UTF-8
};

// The header record at `start`.
Header ReadHeader(const Source& src, uint64_t start);

struct Entry {
    std::string name;  // relative, "/"-separated, checked: no "..", no absolute path
    bool isDir = false;
    uint16_t method = 0;  // 0 stored, 8 deflated
    uint32_t crc = 0;
    uint64_t csize = 0, usize = 0;
    uint64_t dataPos = 0;  // file position of the entry's data
    uint32_t mode = 0;  // permission bits, 0 when the archive gives none
    uint32_t dosTime = 0;
    bool encrypted = false;  // traditional zip encryption: csize counts its 12-byte header
    uint8_t checkByte = 0;  // the last byte of that header, decrypted, with the right password
    std::string password;  // set by the program once it fits
};

// The central directory of the archive that begins at `archiveStart` and
// ends at the end of the source. The stored offsets may count from the start
// of the file (a converted archive) or from `archiveStart` (appended as it
// was): both are found from where the central directory lies.
std::vector<Entry> ReadDirectory(const Source& src, uint64_t archiveStart);

// The entry's data, handed to `sink` in pieces; false from the sink stops
// with an error. The size and CRC are checked at the end. An encrypted entry
// is decrypted with its `password`.
void ReadData(const Source& src, const Entry& e, const std::function<bool(const char*, size_t)>& sink);

// Whether a password opens an encrypted entry: its header's check byte,
// then the whole data read and checked.
bool PasswordFits(const Source& src, const Entry& e, const std::string& password);

// The whole reading of an image (header record at 0, the archive behind it),
// every entry's data checked; the fuzz target and the replay of its corpus.
void CheckImage(const unsigned char* data, size_t size);

// Whether an entry name stays inside the directory it is extracted to.
bool SafeName(const std::string& name);

// Latin-1 to UTF-8.
std::string FromLatin1(const std::string& s);

}  // namespace sfx
