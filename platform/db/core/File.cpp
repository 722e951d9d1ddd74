#include "platform/db/core/File.h"

#include <cctype>
#include <map>
#include <mutex>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/db/core/DbError.h"
#include "platform/db/core/FileSystem.h"

namespace kdb {

File::~File()
{
    close();
}

File::File(File&& other) noexcept : fd_(other.fd_), writable_(other.writable_), path_(std::move(other.path_))
{
    other.fd_ = -1;
}

File& File::operator=(File&& other) noexcept
{
    if (this != &other) {
        close();
        fd_ = other.fd_;
        writable_ = other.writable_;
        path_ = std::move(other.path_);
        other.fd_ = -1;
    }
    return *this;
}

void File::close()
{
    if (fd_ >= 0) {
        fileSystem().close(fd_);
        fd_ = -1;
    }
}

File File::tryOpen(const std::string& path, Mode mode)
{
    File f;
    int flags = O_CLOEXEC;
    switch (mode) {
    case Mode::ReadOnly:
        flags |= O_RDONLY;
        break;
    case Mode::ReadWrite:
        flags |= O_RDWR;
        break;
    case Mode::Create:
        flags |= O_RDWR | O_CREAT | O_TRUNC;
        break;
    }
    f.fd_ = fileSystem().open(path, flags, 0666);
    f.writable_ = mode != Mode::ReadOnly;
    f.path_ = path;
    return f;
}

File File::open(const std::string& path, Mode mode)
{
    File f = tryOpen(path, mode);
    if (!f.isOpen()) {
        if (errno == ENOENT)
            throw EDBEngineError::noSuchTable(path);
        if (errno == EACCES || errno == EROFS || errno == EPERM)
            throw EDBEngineError::notWritable(path, errno);
        throw EDBEngineError::openFailed(path, errno);
    }
    struct stat st { };
    if (fileSystem().fstat(f.fd_, &st) == 0 && S_ISDIR(st.st_mode))
        throw EDBEngineError::openFailed(path, 0, "not a file");
    return f;
}

uint64_t File::size() const
{
    struct stat st { };
    if (fileSystem().fstat(fd_, &st) != 0)
        throw EDBEngineError::readFailed(path_, errno, "cannot read the size");
    return static_cast<uint64_t>(st.st_size);
}

size_t File::readAt(uint64_t offset, void* buf, size_t n) const
{
    size_t done = 0;
    auto* p = static_cast<char*>(buf);
    while (done < n) {
        const ssize_t r = fileSystem().pread(fd_, p + done, n - done, static_cast<off_t>(offset + done));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            throw EDBEngineError::readFailed(path_, errno);
        }
        if (r == 0)
            break;
        done += static_cast<size_t>(r);
    }
    return done;
}

void File::readExact(uint64_t offset, void* buf, size_t n, int errorCode) const
{
    if (readAt(offset, buf, n) != n)
        throw EDBEngineError(errorCode, path_, "unexpected end of file");
}

void File::writeAt(uint64_t offset, const void* buf, size_t n)
{
    size_t done = 0;
    const auto* p = static_cast<const char*>(buf);
    while (done < n) {
        const ssize_t r = fileSystem().pwrite(fd_, p + done, n - done, static_cast<off_t>(offset + done));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            throw EDBEngineError::writeFailed(path_, errno);
        }
        done += static_cast<size_t>(r);
    }
}

void File::truncate(uint64_t size)
{
    if (fileSystem().ftruncate(fd_, static_cast<off_t>(size)) != 0)
        throw EDBEngineError::writeFailed(path_, errno, "cannot resize");
}

void File::sync()
{
    // The data and what reading it back needs (the size); the file's times
    // need not reach the disk.
    if (fileSystem().fdatasync(fd_) != 0 && errno != EINVAL && errno != EROFS)
        throw EDBEngineError::writeFailed(path_, errno, "cannot flush");
}

namespace {
struct flock lockRange(uint64_t start, uint64_t len, short type)
{
    struct flock fl { };
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(start);
    fl.l_len = static_cast<off_t>(len);
    fl.l_pid = 0;
    return fl;
}

bool setLock(int fd, uint64_t start, uint64_t len, short type, bool wait)
{
    struct flock fl = lockRange(start, len, type);
    for (;;) {
        if (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) == 0)
            return true;
        if (errno == EINTR && wait)
            continue;
        if (errno == EAGAIN || errno == EACCES || errno == EINTR)
            return false;
        if (errno == EINVAL) {
            // Open-file-description locks unknown to this file system: fall
            // back to process-associated locks.
            if (::fcntl(fd, wait ? F_SETLKW : F_SETLK, &fl) == 0)
                return true;
            if (errno == EAGAIN || errno == EACCES)
                return false;
        }
        return false;
    }
}
}  // namespace

bool File::lockedByOthers(uint64_t start, uint64_t len) const
{
    struct flock fl = lockRange(start, len, F_WRLCK);
    if (::fcntl(fd_, F_OFD_GETLK, &fl) != 0) {
        if (errno != EINVAL)
            return true;  // unknown: as if held
        fl = lockRange(start, len, F_WRLCK);
        if (::fcntl(fd_, F_GETLK, &fl) != 0)
            return true;
    }
    return fl.l_type != F_UNLCK;
}

bool File::tryLock(uint64_t start, uint64_t len, bool exclusive)
{
    return setLock(fd_, start, len, exclusive ? F_WRLCK : F_RDLCK, false);
}

bool File::lockWait(uint64_t start, uint64_t len, bool exclusive, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int pauseUs = 20;
    for (;;) {
        if (tryLock(start, len, exclusive))
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(pauseUs));
        pauseUs = pauseUs < 5000 ? pauseUs * 2 : 5000;
    }
}

void File::unlock(uint64_t start, uint64_t len)
{
    setLock(fd_, start, len, F_UNLCK, false);
}

bool fileExists(const std::string& path)
{
    struct stat st { };
    return fileSystem().stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

void removeFile(const std::string& path)
{
    if (fileSystem().unlink(path) != 0 && errno != ENOENT)
        throw EDBEngineError::writeFailed(path, errno, "cannot delete");
}

void syncDirectory(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    FileSystem& fs = fileSystem();
    const int fd = fs.open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fs.fsync(fd);
        fs.close(fd);
    }
}

void replaceFile(const std::string& source, const std::string& target)
{
    if (fileSystem().rename(source, target) != 0)
        throw EDBEngineError::writeFailed(target, errno, "cannot replace");
    syncDirectory(target);
}

namespace {
// Names found by a directory listing, so that the statements that name a
// table in another case than its file's do not list the directory each
// time; an entry is used only while its file exists.
std::mutex foundMutex;
std::map<std::string, std::string> foundNames;  // directory + '\n' + upper-case name -> path
std::string foundKey(const std::string& dir, const std::string& name)
{
    std::string k = dir + '\n';
    for (char c : name)
        k.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    return k;
}
}  // namespace

std::string findFileNoCase(const std::string& directory, const std::string& name)
{
    bool exists = false;
    return findFileNoCase(directory, name, exists);
}

std::string findFileNoCase(const std::string& directory, const std::string& name, bool& exists)
{
    exists = true;
    std::string dir = directory.empty() ? "." : directory;
    const std::string exact = dir + (dir.back() == '/' ? "" : "/") + name;
    if (fileExists(exact))
        return exact;
    const std::string key = foundKey(dir, name);
    {
        std::lock_guard<std::mutex> g(foundMutex);
        auto it = foundNames.find(key);
        if (it != foundNames.end()) {
            if (fileExists(it->second))
                return it->second;
            foundNames.erase(it);
        }
    }
    if (DIR* d = ::opendir(dir.c_str())) {
        std::string found;
        while (dirent* e = ::readdir(d)) {
            if (::strcasecmp(e->d_name, name.c_str()) == 0) {
                found = dir + (dir.back() == '/' ? "" : "/") + e->d_name;
                if (fileExists(found))
                    break;
                found.clear();
            }
        }
        ::closedir(d);
        if (!found.empty()) {
            std::lock_guard<std::mutex> g(foundMutex);
            if (foundNames.size() > 256)
                foundNames.clear();
            foundNames[key] = found;
            return found;
        }
    }
    exists = false;
    return exact;
}

std::string companionPath(const std::string& tablePath, const std::string& ext)
{
    const auto slash = tablePath.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : tablePath.substr(0, slash);
    const std::string file = slash == std::string::npos ? tablePath : tablePath.substr(slash + 1);
    const auto dot = file.find_last_of('.');
    const std::string base = dot == std::string::npos ? file : file.substr(0, dot);
    const std::string tableExt = dot == std::string::npos ? "" : file.substr(dot);
    // A new companion takes the case of the table's own extension.
    const bool lower = !tableExt.empty() && std::islower(static_cast<unsigned char>(tableExt.back()));
    std::string e = ext;
    for (auto& c : e)
        c = static_cast<char>(
            lower ? std::tolower(static_cast<unsigned char>(c)) : std::toupper(static_cast<unsigned char>(c)));
    return findFileNoCase(dir, base + e);
}

}  // namespace kdb
