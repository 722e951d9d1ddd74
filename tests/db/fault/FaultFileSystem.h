#pragma once
// File systems for the tests of failures: one that injects faults into the
// engine's system calls, one that keeps what each sync forced to the disk so
// that a test can put together the files a power cut would leave.
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/db/core/FileSystem.h"

namespace kdbtest {

// Knows the name of every open file.
class TrackingFileSystem : public kdb::FileSystem {
public:
    int open(const std::string& path, int flags, mode_t mode) override;
    int close(int fd) override;

protected:
    std::string pathOf(int fd) const;

private:
    mutable std::mutex paths_m_;
    std::map<int, std::string> paths_;
};

// Fails chosen calls: the Nth write to a file, every write past a number of
// bytes (a full disk), a read that comes back short, a rename, a sync.
class FaultFileSystem : public TrackingFileSystem {
public:
    enum class Op { Read, Write, Sync, Rename };
    struct Rule {
        Op op = Op::Write;
        // Part of the file's name (for a rename: either name), compared
        // ignoring case; empty for every file.
        std::string path;
        int after = 0;  // matching calls that succeed before the first fault
        int err = EIO;  // errno of a failed call
        // Write: bytes the disk still takes (the call that crosses the limit
        // writes up to it, the next ones fail with err). Read: bytes the
        // faulted call hands back, the file then seeming to end. -1: none.
        int64_t bytes = -1;
        bool lasting = true;  // every later matching call fails too
    };

    void add(const Rule& rule);
    int faults() const;  // calls failed or cut short so far

    ssize_t pread(int fd, void* buf, size_t n, off_t offset) override;
    ssize_t preadv(int fd, const struct iovec* iov, int count, off_t offset) override;
    ssize_t pwrite(int fd, const void* buf, size_t n, off_t offset) override;
    int fsync(int fd) override;
    int fdatasync(int fd) override;
    int rename(const std::string& from, const std::string& to) override;

private:
    struct Armed {
        Rule rule;
        int seen = 0;
        bool fired = false;
        int64_t left = -1;
    };
    // The rule that applies to this call, or nullptr; counts the call.
    Armed* match(Op op, const std::string& a, const std::string& b = {});
    // Fails the call as the rule says: -1 and errno.
    int fail(Armed& rule);

    mutable std::mutex m_;
    std::vector<Armed> rules_;
    int faults_ = 0;
};

// Keeps, at every write and every sync of a file, the file's whole content.
// A power cut at any instant finds each file as its last sync left it, or as
// the writes since made it (the system may have written them out already).
// A rename takes the synced and the written content of its source along.
class SyncJournal : public TrackingFileSystem {
public:
    struct Event {
        std::string path;
        std::string content;
        bool removed = false;
        bool synced = true;  // false: written, not forced to the disk
    };
    // Takes the files of `directory` as they are now as the starting point.
    explicit SyncJournal(const std::string& directory);

    size_t size() const;
    // Every file as a power cut right after event `count - 1` leaves it
    // (count 0: the starting point): file name -> content.
    std::map<std::string, std::string> stateAfter(size_t count) const;
    // Every state a power cut right after event `count - 1` may leave: each
    // file written since its last sync as synced or as written, in every
    // combination; the first state is stateAfter(count).
    std::vector<std::map<std::string, std::string>> statesAfter(size_t count) const;

    ssize_t pwrite(int fd, const void* buf, size_t n, off_t offset) override;
    int ftruncate(int fd, off_t size) override;

    int fsync(int fd) override;
    int fdatasync(int fd) override;
    int rename(const std::string& from, const std::string& to) override;
    int unlink(const std::string& path) override;

private:
    void record(int fd, bool synced);
    std::string name(const std::string& path) const;

    mutable std::mutex m_;
    std::string dir_;
    std::map<std::string, std::string> start_;
    std::vector<Event> events_;
};

// Writes the files of a state into `directory` (emptied first).
void writeState(const std::string& directory, const std::map<std::string, std::string>& files);

}  // namespace kdbtest
