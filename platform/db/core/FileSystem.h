#pragma once
// The system calls through which the engine reaches its files.
//
// Every open, read, write, resize, sync, rename and removal of a table,
// memo or index file goes through the current FileSystem. The default one
// calls the system; a test installs another (one that fails the Nth write,
// runs out of space, reads short, refuses a rename or a sync, or records
// what reached the disk) and puts the default back when done.
//
// The calls answer and set errno exactly as the system calls they stand for,
// so that the callers keep one error path. Byte-range locks and the memory
// map of a table stay outside: they move no data to or from the disk.
#include <string>

#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>

namespace kdb {

class FileSystem {
public:
    virtual ~FileSystem() = default;

    virtual int open(const std::string& path, int flags, mode_t mode = 0666);
    virtual int close(int fd);
    virtual ssize_t pread(int fd, void* buf, size_t n, off_t offset);
    virtual ssize_t preadv(int fd, const struct iovec* iov, int count, off_t offset);
    virtual ssize_t pwrite(int fd, const void* buf, size_t n, off_t offset);
    virtual int ftruncate(int fd, off_t size);
    virtual int fsync(int fd);
    virtual int fdatasync(int fd);
    // Starts writing a range of the file out to the disk and returns at
    // once (sync_file_range): nothing is forced, the disk gets it sooner.
    virtual int startWriteBack(int fd, off_t offset, off_t length);
    virtual int fstat(int fd, struct stat* st);
    virtual int stat(const std::string& path, struct stat* st);
    virtual int rename(const std::string& from, const std::string& to);
    virtual int unlink(const std::string& path);
    // Exchanges two paths in one step (renameat2 with RENAME_EXCHANGE);
    // fails with EINVAL where the file system cannot do it.
    virtual int exchange(const std::string& a, const std::string& b);
};

// The file system the engine uses now.
FileSystem& fileSystem();

// Makes `fs` the engine's file system (nullptr: the system's own) and
// answers the one it replaces. The caller keeps `fs` alive while installed.
FileSystem* installFileSystem(FileSystem* fs);

// Installs a file system for the lifetime of the object.
class ScopedFileSystem {
public:
    explicit ScopedFileSystem(FileSystem& fs) : previous_(installFileSystem(&fs)) { }
    ~ScopedFileSystem() { installFileSystem(previous_); }
    ScopedFileSystem(const ScopedFileSystem&) = delete;
    ScopedFileSystem& operator=(const ScopedFileSystem&) = delete;

private:
    FileSystem* previous_;
};

}  // namespace kdb
