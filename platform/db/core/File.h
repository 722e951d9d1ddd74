#pragma once
// File and lock primitives of the storage layer: a file descriptor that
// reads and writes whole ranges (retrying short transfers), flushes with
// fdatasync, and takes byte-range locks that belong to this open file (open-file-
// description locks: they are not lost when another descriptor of the same
// file is closed in this process). Failures raise EDBEngineError. Every call
// that moves data goes through the engine's FileSystem (core/FileSystem.h).
#include <cstdint>
#include <string>

namespace kdb {

class File {
public:
    enum class Mode { ReadOnly, ReadWrite, Create /* read-write, truncated */ };

    File() = default;
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Opens the file; raises DBERR_NOSUCHTABLE when it does not exist
    // (Mode::ReadOnly / ReadWrite), DBERR_NOTSUFFTABLERIGHTS when it cannot be
    // opened for writing, DBERR_OPENFAILED otherwise.
    static File open(const std::string& path, Mode mode);
    // Like open, but answers an invalid File instead of raising.
    static File tryOpen(const std::string& path, Mode mode);

    bool isOpen() const { return fd_ >= 0; }
    bool writable() const { return writable_; }
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    void close();

    uint64_t size() const;
    // Reads up to n bytes at offset; answers the count read (short at end of file).
    size_t readAt(uint64_t offset, void* buf, size_t n) const;
    // Reads exactly n bytes or raises the given code.
    void readExact(uint64_t offset, void* buf, size_t n, int errorCode) const;
    void writeAt(uint64_t offset, const void* buf, size_t n);
    void truncate(uint64_t size);
    void sync();

    // Byte-range locks of this open file. try* answer false when another open
    // file holds a conflicting lock; lockWait waits at most timeoutMs.
    bool tryLock(uint64_t start, uint64_t len, bool exclusive);
    bool lockWait(uint64_t start, uint64_t len, bool exclusive, int timeoutMs);
    void unlock(uint64_t start, uint64_t len);
    // Whether another open file holds any lock on the range (nothing is
    // taken; the locks of this open file do not count).
    bool lockedByOthers(uint64_t start, uint64_t len) const;

private:
    int fd_ = -1;
    bool writable_ = false;
    std::string path_;
};

// Whole-file helpers.
bool fileExists(const std::string& path);
void removeFile(const std::string& path);  // no error when it does not exist
// Replaces target by source atomically (rename) and makes the rename durable
// (fsync of the directory).
void replaceFile(const std::string& source, const std::string& target);
// fsync of the directory holding path.
void syncDirectory(const std::string& path);
// A companion file of a table: same directory and base name, the given
// extension; when a file of that name exists in any case, that name.
std::string companionPath(const std::string& tablePath, const std::string& ext);
// Looks a file up in a directory ignoring the case of its name; answers the
// existing path, or directory/name when there is none.
std::string findFileNoCase(const std::string& directory, const std::string& name);
// The same; exists tells whether the answer is an existing file.
std::string findFileNoCase(const std::string& directory, const std::string& name, bool& exists);

}  // namespace kdb
