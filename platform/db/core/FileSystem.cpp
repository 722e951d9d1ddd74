#include "platform/db/core/FileSystem.h"

#include <atomic>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace kdb {

int FileSystem::open(const std::string& path, int flags, mode_t mode)
{
    return ::open(path.c_str(), flags, mode);
}
int FileSystem::close(int fd)
{
    return ::close(fd);
}
ssize_t FileSystem::pread(int fd, void* buf, size_t n, off_t offset)
{
    return ::pread(fd, buf, n, offset);
}
ssize_t FileSystem::preadv(int fd, const struct iovec* iov, int count, off_t offset)
{
    return ::preadv(fd, iov, count, offset);
}
ssize_t FileSystem::pwrite(int fd, const void* buf, size_t n, off_t offset)
{
    return ::pwrite(fd, buf, n, offset);
}
int FileSystem::ftruncate(int fd, off_t size)
{
    return ::ftruncate(fd, size);
}
int FileSystem::fsync(int fd)
{
    return ::fsync(fd);
}
int FileSystem::fdatasync(int fd)
{
    return ::fdatasync(fd);
}
int FileSystem::startWriteBack(int fd, off_t offset, off_t length)
{
    return ::sync_file_range(fd, offset, length, SYNC_FILE_RANGE_WRITE);
}
int FileSystem::fstat(int fd, struct stat* st)
{
    return ::fstat(fd, st);
}
int FileSystem::stat(const std::string& path, struct stat* st)
{
    return ::stat(path.c_str(), st);
}
int FileSystem::rename(const std::string& from, const std::string& to)
{
    return ::rename(from.c_str(), to.c_str());
}
int FileSystem::unlink(const std::string& path)
{
    return ::unlink(path.c_str());
}
int FileSystem::exchange(const std::string& a, const std::string& b)
{
    return ::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE);
}

namespace {
FileSystem systemFs;
std::atomic<FileSystem*> current{&systemFs};
}  // namespace

FileSystem& fileSystem()
{
    return *current.load(std::memory_order_acquire);
}

FileSystem* installFileSystem(FileSystem* fs)
{
    FileSystem* previous = current.exchange(fs ? fs : &systemFs, std::memory_order_acq_rel);
    return previous == &systemFs ? nullptr : previous;
}

}  // namespace kdb
