#include "FaultFileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

#include <strings.h>
#include <unistd.h>

namespace kdbtest {

namespace {
// The name of a file opened before the file system was installed.
std::string linkedPath(int fd)
{
    std::error_code ec;
    const auto p = std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), ec);
    return ec ? std::string() : p.string();
}

bool containsNoCase(const std::string& hay, const std::string& needle)
{
    if (needle.empty())
        return true;
    auto it = std::search(hay.begin(), hay.end(), needle.begin(), needle.end(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    });
    return it != hay.end();
}
}  // namespace

// ---- TrackingFileSystem -----------------------------------------------------------

int TrackingFileSystem::open(const std::string& path, int flags, mode_t mode)
{
    const int fd = FileSystem::open(path, flags, mode);
    if (fd >= 0) {
        std::lock_guard<std::mutex> g(paths_m_);
        paths_[fd] = path;
    }
    return fd;
}

int TrackingFileSystem::close(int fd)
{
    {
        std::lock_guard<std::mutex> g(paths_m_);
        paths_.erase(fd);
    }
    return FileSystem::close(fd);
}

std::string TrackingFileSystem::pathOf(int fd) const
{
    std::lock_guard<std::mutex> g(paths_m_);
    auto it = paths_.find(fd);
    return it == paths_.end() ? linkedPath(fd) : it->second;
}

// ---- FaultFileSystem ------------------------------------------------------------

void FaultFileSystem::add(const Rule& rule)
{
    std::lock_guard<std::mutex> g(m_);
    Armed a;
    a.rule = rule;
    a.left = rule.bytes;
    rules_.push_back(a);
}

int FaultFileSystem::faults() const
{
    std::lock_guard<std::mutex> g(m_);
    return faults_;
}

FaultFileSystem::Armed* FaultFileSystem::match(Op op, const std::string& a, const std::string& b)
{
    std::lock_guard<std::mutex> g(m_);
    for (Armed& r : rules_) {
        if (r.rule.op != op || !(containsNoCase(a, r.rule.path) || (!b.empty() && containsNoCase(b, r.rule.path))))
            continue;
        if (r.fired && !r.rule.lasting)
            continue;
        if (r.seen++ < r.rule.after)
            continue;
        return &r;
    }
    return nullptr;
}

int FaultFileSystem::fail(Armed& r)
{
    std::lock_guard<std::mutex> g(m_);
    r.fired = true;
    ++faults_;
    errno = r.rule.err;
    return -1;
}

ssize_t FaultFileSystem::pread(int fd, void* buf, size_t n, off_t offset)
{
    Armed* r = match(Op::Read, pathOf(fd));
    if (!r)
        return FileSystem::pread(fd, buf, n, offset);
    if (r->rule.bytes < 0)
        return fail(*r);
    // Short: the first faulted call hands back at most `bytes`, the file then
    // seems to end.
    std::lock_guard<std::mutex> g(m_);
    ++faults_;
    const bool first = !r->fired;
    r->fired = true;
    if (!first)
        return 0;
    return ::pread(fd, buf, std::min<size_t>(n, static_cast<size_t>(r->rule.bytes)), offset);
}

ssize_t FaultFileSystem::preadv(int fd, const struct iovec* iov, int count, off_t offset)
{
    bool reads = false;
    {
        std::lock_guard<std::mutex> g(m_);
        for (const Armed& r : rules_)
            reads = reads || r.rule.op == Op::Read;
    }
    // While reads may fail, one buffer per call (a short read, as the
    // system may answer): the faults of pread apply.
    if (count == 1 || reads)
        return pread(fd, iov[0].iov_base, iov[0].iov_len, offset);
    return FileSystem::preadv(fd, iov, count, offset);
}

ssize_t FaultFileSystem::pwrite(int fd, const void* buf, size_t n, off_t offset)
{
    Armed* r = match(Op::Write, pathOf(fd));
    if (!r)
        return FileSystem::pwrite(fd, buf, n, offset);
    if (r->left < 0 || (r->left == 0 && n > 0))
        return fail(*r);
    // A disk that fills up: the call takes what room is left.
    std::lock_guard<std::mutex> g(m_);
    const size_t k = std::min<size_t>(n, static_cast<size_t>(r->left));
    const ssize_t w = ::pwrite(fd, buf, k, offset);
    if (w > 0)
        r->left -= w;
    if (k < n)
        ++faults_;
    return w;
}

int FaultFileSystem::fsync(int fd)
{
    if (Armed* r = match(Op::Sync, pathOf(fd)))
        return fail(*r);
    return FileSystem::fsync(fd);
}

int FaultFileSystem::fdatasync(int fd)
{
    if (Armed* r = match(Op::Sync, pathOf(fd)))
        return fail(*r);
    return FileSystem::fdatasync(fd);
}

int FaultFileSystem::rename(const std::string& from, const std::string& to)
{
    if (Armed* r = match(Op::Rename, from, to))
        return fail(*r);
    return FileSystem::rename(from, to);
}

// ---- SyncJournal ----------------------------------------------------------------

namespace {
std::string readWhole(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
}  // namespace

SyncJournal::SyncJournal(const std::string& directory) : dir_(directory)
{
    for (const auto& e : std::filesystem::directory_iterator(directory))
        if (e.is_regular_file())
            start_[e.path().filename().string()] = readWhole(e.path());
}

std::string SyncJournal::name(const std::string& path) const
{
    const std::filesystem::path p(path);
    if (std::filesystem::path(p).parent_path().lexically_normal() != std::filesystem::path(dir_).lexically_normal())
        return {};
    return p.filename().string();
}

size_t SyncJournal::size() const
{
    std::lock_guard<std::mutex> g(m_);
    return events_.size();
}

std::map<std::string, std::string> SyncJournal::stateAfter(size_t count) const
{
    return statesAfter(count).front();
}

std::vector<std::map<std::string, std::string>> SyncJournal::statesAfter(size_t count) const
{
    std::lock_guard<std::mutex> g(m_);
    std::map<std::string, std::string> synced = start_, written = start_;
    for (size_t i = 0; i < count && i < events_.size(); ++i) {
        const Event& e = events_[i];
        if (e.removed) {
            synced.erase(e.path);
            written.erase(e.path);
            continue;
        }
        if (e.synced)
            synced[e.path] = e.content;
        written[e.path] = e.content;
    }
    std::vector<std::string> open;  // files whose writes may or may not be on the disk
    for (const auto& [name, content] : written) {
        const auto s = synced.find(name);
        if (s == synced.end() || s->second != content)
            open.push_back(name);
    }
    std::vector<std::map<std::string, std::string>> states;
    for (size_t pick = 0; pick < (size_t(1) << open.size()); ++pick) {
        std::map<std::string, std::string> files = synced;
        for (size_t k = 0; k < open.size(); ++k)
            if (pick & (size_t(1) << k))
                files[open[k]] = written.at(open[k]);
        states.push_back(std::move(files));
    }
    return states;
}

void SyncJournal::record(int fd, bool synced)
{
    const std::string n = name(pathOf(fd));
    std::lock_guard<std::mutex> g(m_);
    struct stat st { };
    if (n.empty() || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return;
    std::string content(static_cast<size_t>(st.st_size), '\0');
    size_t done = 0;
    while (done < content.size()) {
        const ssize_t r = ::pread(fd, content.data() + done, content.size() - done, static_cast<off_t>(done));
        if (r <= 0)
            break;
        done += static_cast<size_t>(r);
    }
    content.resize(done);
    events_.push_back({n, std::move(content), false, synced});
}

int SyncJournal::fsync(int fd)
{
    const int rc = FileSystem::fsync(fd);
    if (rc == 0)
        record(fd, true);
    return rc;
}

int SyncJournal::fdatasync(int fd)
{
    const int rc = FileSystem::fdatasync(fd);
    if (rc == 0)
        record(fd, true);
    return rc;
}

ssize_t SyncJournal::pwrite(int fd, const void* buf, size_t n, off_t offset)
{
    const ssize_t rc = FileSystem::pwrite(fd, buf, n, offset);
    if (rc > 0)
        record(fd, false);
    return rc;
}

int SyncJournal::ftruncate(int fd, off_t size)
{
    const int rc = FileSystem::ftruncate(fd, size);
    if (rc == 0)
        record(fd, false);
    return rc;
}

int SyncJournal::rename(const std::string& from, const std::string& to)
{
    const int rc = FileSystem::rename(from, to);
    if (rc != 0)
        return rc;
    std::lock_guard<std::mutex> g(m_);
    const std::string a = name(from), b = name(to);
    if (a.empty() || b.empty())
        return rc;
    // The source as last synced (or as it was at the start), and as written.
    bool exists = false, changed = false;
    std::string synced, written;
    if (auto st = start_.find(a); st != start_.end()) {
        exists = true;
        synced = written = st->second;
    }
    for (const Event& e : events_) {
        if (e.path != a)
            continue;
        exists = !e.removed;
        changed = !e.removed && !e.synced;
        written = e.content;
        if (e.synced)
            synced = e.content;
    }
    events_.push_back({a, {}, true});
    if (exists) {
        events_.push_back({b, synced, false, true});
        if (changed)
            events_.push_back({b, written, false, false});
    }
    return rc;
}

int SyncJournal::unlink(const std::string& path)
{
    const int rc = FileSystem::unlink(path);
    if (rc == 0) {
        std::lock_guard<std::mutex> g(m_);
        const std::string n = name(path);
        if (!n.empty())
            events_.push_back({n, {}, true});
    }
    return rc;
}

void writeState(const std::string& directory, const std::map<std::string, std::string>& files)
{
    std::filesystem::remove_all(directory);
    std::filesystem::create_directories(directory);
    for (const auto& [name, content] : files) {
        std::ofstream out(std::filesystem::path(directory) / name, std::ios::binary);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
    }
}

}  // namespace kdbtest
