// libunzeng: the extract and test job. The directory is checked before any
// byte is written (sizes and offsets inside the file, no two entries
// sharing data); each file is inflated into a temporary file beside its
// target, never past the size its entry declares, and renamed onto the
// target once its CRC checks. Names that would leave the base directory
// are refused.
#include "platform/os/SystemError.h"
#include "platform/zipeng/ZipCore.h"

#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <random>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace zipeng {
namespace {

constexpr size_t kBlock = 1 << 20;
constexpr uint64_t kBackgroundWrite = 8 << 20;  // a file this large is written by a second thread

std::string Str(const char* s)
{
    return s ? s : "";
}

// The entry's name as a safe relative path, or empty when it would leave
// the base directory (absolute, drive letter, "..").
std::string SafeRelative(std::string name)
{
    std::replace(name.begin(), name.end(), '\\', '/');
    if (name.empty() || name[0] == '/' || (name.size() >= 2 && name[1] == ':'))
        return {};
    std::string out, part;
    size_t i = 0;
    while (i <= name.size()) {
        size_t k = name.find('/', i);
        if (k == std::string::npos)
            k = name.size();
        part = name.substr(i, k - i);
        i = k + 1;
        if (part.empty() || part == ".")
            continue;
        if (part == ".." || part.find('\0') != std::string::npos)
            return {};
        if (!out.empty())
            out += '/';
        out += part;
    }
    return out;
}

// A link's target joined to the link's directory stays inside the base
// directory. The link's directory is a real one (nothing is created through
// a link), so ".." may lead its target, climbing no higher than the base;
// after a name, a ".." would climb out of wherever that name leads (a link
// made earlier, to "." for one) and is refused.
bool LinkStaysInside(const std::string& linkDir, const std::string& target)
{
    if (target.empty() || target[0] == '/')
        return false;
    int depth = 0;
    for (size_t i = 0; i < linkDir.size();) {
        size_t k = linkDir.find('/', i);
        if (k == std::string::npos)
            k = linkDir.size();
        if (k > i)
            ++depth;
        i = k + 1;
    }
    bool named = false;
    for (size_t i = 0; i <= target.size();) {
        size_t k = target.find('/', i);
        if (k == std::string::npos)
            k = target.size();
        const std::string part = target.substr(i, k - i);
        i = k + 1;
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (named || --depth < 0)
                return false;
        } else {
            named = true;
        }
    }
    return true;
}

// The refusal of an entry stored by a method this library does not read,
// with the method's name where it is a known one.
std::string MethodRefused(const CdEntry& e)
{
    static const struct {
        uint16_t method;
        const char* name;
    } known[] = {{1, "Shrink"}, {6, "Implode"}, {9, "Deflate64"}, {12, "bzip2"}, {14, "LZMA"}, {93, "Zstandard"},
        {95, "XZ"}, {96, "JPEG"}, {97, "WavPack"}, {98, "PPMd"}, {99, "chiffrement AES"}};
    std::string text = "méthode de compression " + std::to_string(e.method);
    for (const auto& k : known)
        if (k.method == e.method)
            text += std::string(" (") + k.name + ")";
    return text + " non prise en charge : " + e.name;
}

// The code and text of a write that failed (errno): a full disk, a quota
// reached or a file larger than the disk takes is told apart from other
// failures.
int32_t WriteFailure(std::string& why)
{
    if (errno == ENOSPC || errno == EDQUOT || errno == EFBIG) {
        why = errno == ENOSPC ? std::string("espace disque insuffisant") : kos::SystemErrorText(errno);
        return errSpace;
    }
    why = "écriture impossible du fichier (" + kos::SystemErrorText(errno) + ")";
    return errWrite;
}

// The writing of an extracted file by a second thread: the system takes
// one block into its cache while the next is inflated. A few blocks at most
// wait, their buffers used again; the first write that fails stops the
// writing and keeps its errno.
class BackgroundWriter {
public:
    explicit BackgroundWriter(int fd) : fd_(fd), thread_([this] { Run(); }) { }
    ~BackgroundWriter() { Finish(); }
    BackgroundWriter(const BackgroundWriter&) = delete;
    BackgroundWriter& operator=(const BackgroundWriter&) = delete;

    // A copy of the block goes to the writer; false (errno set) once a
    // write has failed.
    bool Put(const unsigned char* data, size_t n)
    {
        std::vector<unsigned char> block;
        {
            std::unique_lock lock(mutex_);
            roomCv_.wait(lock, [&] { return queue_.size() < kWaiting || error_ != 0; });
            if (error_ != 0) {
                errno = error_;
                return false;
            }
            if (!free_.empty()) {
                block = std::move(free_.back());
                free_.pop_back();
            }
        }
        block.assign(data, data + n);
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(block));
        }
        workCv_.notify_one();
        return true;
    }
    // Waits for every block; false (errno set) when one was not written.
    bool Finish()
    {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        workCv_.notify_one();
        if (thread_.joinable())
            thread_.join();
        if (error_ != 0) {
            errno = error_;
            return false;
        }
        return true;
    }

private:
    static constexpr size_t kWaiting = 3;
    static constexpr uint64_t kWriteBehind = 32 << 20;
    void Run()
    {
        for (;;) {
            std::vector<unsigned char> block;
            {
                std::unique_lock lock(mutex_);
                workCv_.wait(lock, [&] { return !queue_.empty() || done_; });
                if (queue_.empty())
                    return;
                block = std::move(queue_.front());
                queue_.pop_front();
            }
            const bool ok = error_ != 0 || WriteAll(fd_, block.data(), block.size());
            // The disk starts on what is written while the rest is
            // inflated: whoever forces the file to the disk afterwards finds
            // most of the work done.
            written_ += block.size();
            if (ok && written_ - started_ >= kWriteBehind) {
                sync_file_range(fd_, off_t(started_), off_t(written_ - started_), SYNC_FILE_RANGE_WRITE);
                started_ = written_;
            }
            {
                std::lock_guard lock(mutex_);
                if (!ok)
                    error_ = errno != 0 ? errno : EIO;
                free_.push_back(std::move(block));
            }
            roomCv_.notify_one();
        }
    }
    uint64_t written_ = 0, started_ = 0;
    int fd_;
    std::mutex mutex_;
    std::condition_variable workCv_, roomCv_;
    std::deque<std::vector<unsigned char>> queue_;
    std::vector<std::vector<unsigned char>> free_;
    bool done_ = false;
    int error_ = 0;
    std::thread thread_;
};

// A file descriptor closed with its holder.
struct Fd {
    int fd = -1;
    explicit Fd(int f = -1) : fd(f) { }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd()
    {
        if (fd >= 0)
            close(fd);
    }
};

class ExtractJob {
public:
    explicit ExtractJob(UnzParams* p) : p_(p), rep_(p->callback, p->handle, p->caller, kVersion, false) { }
    int32_t Run();

private:
    bool Selected(const CdEntry& e) const;
    bool One(CdEntry& e, int index);
    int OpenBeneath(const std::string& relDir);
    bool Password(const CdEntry& e, std::unique_ptr<ZipCrypto>& crypto);
    bool Stream(const CdEntry& e, ZipCrypto* crypto, int outFd, uint32_t& crc, std::string& why, int32_t& code);
    void Skip(const CdEntry& e, int reason, int32_t code, const std::string& text)
    {
        if (!text.empty())
            rep_.Message(code, text);
        rep_.Send(actSkipped, code, reason, e.name);
    }

    UnzParams* p_;
    Reporter rep_;
    int fd_ = -1;
    uint64_t size_ = 0;
    std::string base_;
    int baseFd_ = -1;
    std::string lastPassword_;
    int askLeft_ = 0;
    bool noMoreAsking_ = false;
    bool quiet_ = false;  // a password tried on a whole entry: no progress reported
    std::unique_ptr<inflate_state> inflater_ = std::make_unique<inflate_state>();
    std::vector<unsigned char> in_ = std::vector<unsigned char>(kBlock), out_ = std::vector<unsigned char>(kBlock);
};

bool ExtractJob::Selected(const CdEntry& e) const
{
    if (p_->specCount <= 0 || !p_->fileSpecs)
        return true;
    for (int i = 0; i < p_->specCount; ++i) {
        std::string m = Str(p_->fileSpecs[i].fileSpec);
        if (m.empty())
            continue;
        if (MatchMask(e.name, m))
            return true;
        if (m.find_first_of("/\\") == std::string::npos) {
            auto k = e.name.find_last_of('/');
            if (k != std::string::npos && MatchMask(e.name.substr(k + 1), m))
                return true;
        }
    }
    return false;
}

// Opens (making what is missing) the directory Rel beneath the base
// directory, one name at a time from the base's descriptor, following no
// link: where a file is created is where its name says, whatever links
// earlier entries made. -1 when a part is a link or no directory.
int ExtractJob::OpenBeneath(const std::string& rel)
{
    int fd = fcntl(baseFd_, F_DUPFD_CLOEXEC, 0);
    for (size_t i = 0; fd >= 0 && i < rel.size();) {
        size_t k = rel.find('/', i);
        if (k == std::string::npos)
            k = rel.size();
        const std::string part = rel.substr(i, k - i);
        i = k + 1;
        if (part.empty() || part == ".")
            continue;
        const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        int next = openat(fd, part.c_str(), flags);
        if (next < 0 && errno == ENOENT && mkdirat(fd, part.c_str(), 0777) == 0)
            next = openat(fd, part.c_str(), flags);
        close(fd);
        fd = next;
    }
    return fd;
}

bool ExtractJob::Password(const CdEntry& e, std::unique_ptr<ZipCrypto>& crypto)
{
    unsigned char head[12];
    if (!ReadAt(fd_, head, 12, e.dataOffset))
        return false;
    unsigned char check = (e.flags & 8) ? uint8_t(e.dosTime >> 8) : uint8_t(e.crc >> 24);
    // The header's check byte lets one wrong password in 256 through: a
    // password not proven yet must also read the whole entry, so that a
    // wrong one is never taken for damaged data.
    auto opens = [&](const std::string& pw) {
        auto c = std::make_unique<ZipCrypto>(pw);
        unsigned char h[12];
        std::memcpy(h, head, 12);
        c->Decrypt(h, 12);
        if (h[11] != check)
            return std::unique_ptr<ZipCrypto>();
        return c;
    };
    auto tryOne = [&](const std::string& pw, bool proven) {
        auto c = opens(pw);
        if (!c)
            return false;
        if (!proven) {
            auto probe = opens(pw);
            uint32_t crc = 0;
            std::string why;
            int32_t code = 0;
            quiet_ = true;
            const bool whole = Stream(e, probe.get(), -1, crc, why, code) && crc == e.crc;
            quiet_ = false;
            if (!whole)
                return false;
        }
        crypto = std::move(c);
        return true;
    };
    if (!lastPassword_.empty() && tryOne(lastPassword_, true))
        return true;
    std::string given = Str(p_->password);
    if (!given.empty() && given != lastPassword_ && tryOne(given, false)) {
        lastPassword_ = given;
        return true;
    }
    while (!noMoreAsking_ && askLeft_ > 0) {
        CallbackRecord r = rep_.Send(actPassword, 0, askLeft_, e.name);
        if (rep_.Cancelled())
            return false;
        if (r.action == 0)
            noMoreAsking_ = true;
        askLeft_ = int(std::min<intptr_t>(r.value2, 15));
        if (r.value1 != 1) {
            if (r.value2 == 0)
                askLeft_ = 0;
            break;
        }
        std::string pw(r.text, strnlen(r.text, sizeof r.text));
        if (tryOne(pw, false)) {
            lastPassword_ = pw;
            return true;
        }
        --askLeft_;
    }
    return false;
}

bool ExtractJob::Stream(const CdEntry& e, ZipCrypto* crypto, int outFd, uint32_t& crc, std::string& why, int32_t& code)
{
    code = errFormat;
    uint64_t pos = e.dataOffset + (crypto ? 12 : 0);
    uint64_t left = e.csize - (crypto ? 12 : 0);
    uint64_t produced = 0;
    crc = 0;
    std::optional<BackgroundWriter> writer;
    if (outFd >= 0 && e.usize >= kBackgroundWrite)
        writer.emplace(outFd);
    inflate_state* st = inflater_.get();
    if (e.method == 8)
        isal_inflate_init(st);
    bool finished = false;
    while (!finished) {
        size_t n = size_t(std::min<uint64_t>(left, kBlock));
        if (n && !ReadAt(fd_, in_.data(), n, pos)) {
            why = "lecture impossible des données compressées";
            code = errRead;
            return false;
        }
        pos += n;
        left -= n;
        if (crypto)
            crypto->Decrypt(in_.data(), n);
        auto emit = [&](const unsigned char* d, size_t m) {
            if (produced + m > e.usize) {
                why = "plus de données que l'entrée n'en déclare";
                return false;
            }
            produced += m;
            crc = Crc32(crc, d, m);
            if (outFd >= 0 && !(writer ? writer->Put(d, m) : WriteAll(outFd, d, m))) {
                code = WriteFailure(why);
                return false;
            }
            if (m && !quiet_)
                rep_.Send(actProgress, 0, intptr_t(m), "");
            return !rep_.Cancelled();
        };
        if (e.method == 0) {
            if (!emit(in_.data(), n))
                return false;
            finished = left == 0;
            continue;
        }
        st->next_in = in_.data();
        st->avail_in = uint32_t(n);
        do {
            st->next_out = out_.data();
            st->avail_out = uint32_t(out_.size());
            int r = isal_inflate(st);
            if (r < 0) {
                why = "données compressées endommagées";
                return false;
            }
            if (!emit(out_.data(), out_.size() - st->avail_out))
                return false;
            if (st->block_state == ISAL_BLOCK_FINISH) {
                finished = true;
                break;
            }
        } while (st->avail_out == 0 || st->avail_in > 0);
        if (!finished && left == 0) {
            why = "fin prématurée des données compressées";
            return false;
        }
    }
    if (writer && !writer->Finish()) {
        code = WriteFailure(why);
        return false;
    }
    if (produced != e.usize) {
        why = "taille différente de celle que l'entrée déclare";
        return false;
    }
    return true;
}

bool ExtractJob::One(CdEntry& e, int index)
{
    bool test = p_->test != 0;
    std::string rel = SafeRelative(e.name);
    bool isDir = !e.name.empty() && (e.name.back() == '/' || e.name.back() == '\\');
    if (rel.empty()) {
        if (isDir && e.usize == 0)
            return false;
        Skip(e, skipGeneralError, errUnsafeName, "nom dangereux refusé : " + e.name);
        return false;
    }
    if (!p_->dirNames) {
        if (isDir)
            return false;
        auto k = rel.find_last_of('/');
        if (k != std::string::npos)
            rel = rel.substr(k + 1);
    }
    std::string target = base_ + "/" + rel;
    if (isDir) {
        if (!test && Fd(OpenBeneath(rel)).fd < 0)
            Skip(e, skipGeneralError, errUnsafeName, "dossier refusé : " + e.name);
        return false;
    }
    if (e.method != 0 && e.method != 8) {
        Skip(e, skipCompressionUnknown, errMethod, MethodRefused(e));
        return false;
    }
    uint32_t host = e.madeBy >> 8;
    bool isLink = host == 3 && ((e.externalAttrs >> 16) & S_IFMT) == S_IFLNK;
    if (isLink && e.usize > 4096) {
        Skip(e, skipGeneralError, errUnsafeName, "lien refusé : " + e.name);
        return false;
    }
    const size_t slash = rel.find_last_of('/');
    const std::string relDir = slash == std::string::npos ? std::string() : rel.substr(0, slash);
    const std::string leaf = slash == std::string::npos ? rel : rel.substr(slash + 1);
    Fd dirFd;
    if (!test) {
        dirFd.fd = OpenBeneath(relDir);
        if (dirFd.fd < 0) {
            Skip(e, skipGeneralError, errUnsafeName,
                "nom passant par un lien ou sortant du dossier de destination : " + e.name);
            return false;
        }
        struct stat st;
        bool exists = fstatat(dirFd.fd, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        if (exists && !S_ISREG(st.st_mode)) {
            Skip(e, skipFileExists, errUnsafeName, "pas un fichier ordinaire : " + target);
            return false;
        }
        time_t etime = FromDosTime(e.dosTime);
        bool older = exists && st.st_mtime < etime;
        if ((p_->freshen || p_->update) && exists && !older) {
            Skip(e, skipOnFreshen, 0, "");
            return false;
        }
        if (p_->freshen && !p_->update && !exists) {
            Skip(e, skipOnFreshen, 0, "");
            return false;
        }
        if (exists && !p_->overwrite && !p_->freshen && !p_->update) {
            CallbackRecord r = rep_.Send(actOverwrite, (older ? 1 << 16 : 0) | (index & 0xFFFF), 0, e.name);
            if (rep_.Cancelled())
                return false;
            if ((r.value2 & 0xFF) == 0) {
                Skip(e, skipNoOverwrite, 0, "");
                return false;
            }
        }
        // a file system of no stated size (f_blocks 0) says nothing of its room
        struct statvfs vs;
        if (fstatvfs(dirFd.fd, &vs) == 0 && vs.f_blocks != 0 && uint64_t(vs.f_bavail) * vs.f_frsize < e.usize) {
            Skip(e, skipGeneralError, errSpace, "espace disque insuffisant : " + e.name);
            return false;
        }
    }
    rep_.Send(actNewFile, 0, intptr_t(std::min<uint64_t>(e.usize, INTPTR_MAX)), e.name);
    if (rep_.Cancelled())
        return false;
    std::unique_ptr<ZipCrypto> crypto;
    if (e.flags & 1) {
        if (e.csize < 12 || !Password(e, crypto)) {
            if (!rep_.Cancelled())
                Skip(e, skipBadPassword, errPassword, "mot de passe erroné ou absent : " + e.name);
            return false;
        }
    }
    std::string tmp;
    int outFd = -1;
    if (!test) {
        // a fresh name beside the target, in the directory opened above
        static const char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
        std::random_device random;
        for (int attempt = 0; outFd < 0 && attempt < 100 && leaf.size() < 240; ++attempt) {
            tmp = "." + leaf + ".";
            for (int i = 0; i < 6; ++i)
                tmp += kDigits[random() % 36];
            outFd = openat(dirFd.fd, tmp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (outFd < 0 && errno != EEXIST)
                break;
        }
        if (outFd < 0) {
            std::string why;
            const int32_t code = WriteFailure(why);
            Skip(e, skipGeneralError, code, why + " : création impossible d'un fichier à côté de " + target);
            return false;
        }
    }
    uint32_t crc = 0;
    std::string why;
    int32_t code = errFormat;
    bool ok = Stream(e, crypto.get(), outFd, crc, why, code);
    std::string linkTo;
    if (ok && isLink && outFd >= 0) {
        // the link's target, as extracted: it must stay inside the base directory
        std::vector<char> t(size_t(e.usize));
        if (ReadAt(outFd, t.data(), t.size(), 0))
            linkTo.assign(t.begin(), t.end());
        if (!LinkStaysInside(relDir, linkTo)) {
            close(outFd);
            unlinkat(dirFd.fd, tmp.c_str(), 0);
            Skip(e, skipGeneralError, errUnsafeName, "lien refusé : " + e.name);
            return false;
        }
    }
    bool keep = ok && crc == e.crc;
    if (ok && crc != e.crc) {
        CallbackRecord r = rep_.Send(actCrcError, int32_t(crc), intptr_t(e.crc), e.name);
        keep = r.value1 == 1 && !test;
        if (!keep)
            rep_.Send(actSkipped, errCrc, skipGeneralError, e.name);
    }
    if (!ok && !rep_.Cancelled())
        Skip(e, skipGeneralError, code, why + " : " + e.name);
    if (outFd >= 0) {
        if (keep) {
            struct timespec ts[2];
            ts[0].tv_sec = ts[1].tv_sec = FromDosTime(e.dosTime);
            ts[0].tv_nsec = ts[1].tv_nsec = 0;
            futimens(outFd, ts);
            mode_t um = umask(0);
            umask(um);
            mode_t mode = host == 3 && (e.externalAttrs >> 16) ? ((e.externalAttrs >> 16) & 0777) : 0666;
            fchmod(outFd, mode & ~um);
        }
        // what the disk refuses last (a close on a full network share, a
        // rename) is said as any write failure
        bool written = close(outFd) == 0;
        if (keep && written && isLink) {
            unlinkat(dirFd.fd, tmp.c_str(), 0);
            unlinkat(dirFd.fd, leaf.c_str(), 0);
            written = symlinkat(linkTo.c_str(), dirFd.fd, leaf.c_str()) == 0;
        } else if (keep && written) {
            written = renameat(dirFd.fd, tmp.c_str(), dirFd.fd, leaf.c_str()) == 0;
        }
        if (keep && !written) {
            std::string failed;
            const int32_t failure = WriteFailure(failed);
            Skip(e, skipGeneralError, failure, failed + " : " + target);
            keep = false;
        }
        if (!keep)
            unlinkat(dirFd.fd, tmp.c_str(), 0);
    }
    return keep || (test && ok && crc == e.crc);
}

int32_t ExtractJob::Run()
{
    std::string archive = Str(p_->archive);
    if (p_->check != kBlockCheck || archive.empty()) {
        rep_.Message(errParams, "bloc de paramètres erroné");
        return 0;
    }
    askLeft_ = std::clamp(p_->passwordReqCount, 0, 15);
    int count = 0;
    try {
        fd_ = open(archive.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0)
            throw JobError(errOpen, "ouverture impossible de " + archive);
        struct stat st;
        fstat(fd_, &st);
        size_ = uint64_t(st.st_size);
        CentralDirectory cd = ReadCentralDirectory(fd_, size_);
        // Bytes in front of the archive (a self-extracting program) move
        // every offset; an end record whose directory offset is wrong moves
        // none: the first local header is then where the directory says,
        // and the fault is the end record's, not the first entry's.
        if (cd.shift != 0 && !cd.entries.empty()) {
            const uint64_t first = std::min_element(cd.entries.begin(), cd.entries.end(), [](const CdEntry& a,
                const CdEntry& b) { return a.localOffset < b.localOffset; })->localOffset;
            unsigned char sig[4];
            const bool shifted = ReadAt(fd_, sig, 4, first + cd.shift) && Get32(sig) == kLocalSig;
            if (!shifted && ReadAt(fd_, sig, 4, first) && Get32(sig) == kLocalSig)
                throw JobError(errFormat, "position du répertoire central erronée (enregistrement de fin)");
        }
        CheckLocals(fd_, size_, cd.entries, cd.shift);
        // names of FAT hosts not flagged UTF-8 are in their OEM code page
        for (CdEntry& e : cd.entries)
            if (!(e.flags & 0x800) && (e.madeBy >> 8) == 0 && HasHighBytes(e.name))
                e.name = OemToUtf8(e.name);
        base_ = Str(p_->baseDir);
        std::replace(base_.begin(), base_.end(), '\\', '/');
        if (base_.empty())
            base_ = ".";
        while (base_.size() > 1 && base_.back() == '/')
            base_.pop_back();
        if (!p_->test) {
            // (the reason of a folder that cannot be made is the one to tell)
            const int made = mkdir(base_.c_str(), 0777) == 0 || errno == EEXIST ? 0 : errno;
            char real[PATH_MAX];
            if (!realpath(base_.c_str(), real))
                throw JobError(
                    errWrite, "dossier inutilisable (" + kos::SystemErrorText(made ? made : errno) + ") : " + base_);
            base_ = real;
            baseFd_ = open(real, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (baseFd_ < 0)
                throw JobError(errWrite, "dossier inutilisable (" + kos::SystemErrorText(errno) + ") : " + base_);
        }
        std::vector<size_t> chosen;
        uint64_t total = 0;
        for (size_t i = 0; i < cd.entries.size(); ++i)
            if (Selected(cd.entries[i])) {
                chosen.push_back(i);
                total += cd.entries[i].usize;
            }
        rep_.Send(actTotalFiles, 0, intptr_t(chosen.size()), "");
        rep_.Send(actTotalSize, 0, intptr_t(std::min<uint64_t>(total, INT32_MAX)), "");
        for (size_t i : chosen) {
            if (rep_.Cancelled())
                break;
            if (One(cd.entries[i], int(i)))
                ++count;
        }
        if (!rep_.Cancelled())
            rep_.Send(actEndOfBatch, 0, 0, "");
    } catch (const JobError& e) {
        rep_.Message(e.code, e.what());
    } catch (const std::exception& e) {
        rep_.Message(errParams, kos::ExceptionReason(e));
    }
    if (fd_ >= 0)
        close(fd_);
    if (baseFd_ >= 0)
        close(baseFd_);
    return rep_.Cancelled() ? 0 : count;
}

}  // namespace
}  // namespace zipeng

extern "C" {
__attribute__((visibility("default"))) int32_t UnzEngExec(zipeng::UnzParams* params)
{
    if (!params)
        return 0;
    zipeng::ExtractJob job(params);
    return job.Run();
}

__attribute__((visibility("default"))) int32_t GetUnzEngVersion()
{
    return zipeng::kVersion;
}
}
