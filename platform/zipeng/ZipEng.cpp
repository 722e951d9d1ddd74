// libzipeng: the add job. Files are read on the calling thread in chunks of
// 1 MB; worker threads deflate the chunks (each primed with the last 32 KB
// of the chunk before it, so the chunks of a file join into one deflate
// stream); the calling thread writes them in order, sends every callback
// and patches each local header once its file is complete. The archive is
// written to a temporary file beside the target and replaces it only when
// complete.
#include "platform/os/SystemError.h"
#include "platform/zipeng/ZipCore.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace zipeng {
namespace {

constexpr size_t kChunk = 1 << 20;
constexpr size_t kDict = 32768;

struct SourceFile {
    std::string path;  // as opened
    std::string name;  // as stored
    uint64_t size = 0;
    time_t mtime = 0;
    mode_t mode = 0;
    bool isDir = false;
    bool oemName = false;  // the name was no UTF-8: stored in the OEM code page, as a FAT host's
    const ZipFileSpec* fileSpec = nullptr;
    std::string password;  // empty: not encrypted
};

struct NewEntry {
    CdEntry cd;
    uint64_t headerOffset = 0;
};

// A small pool of threads running queued jobs.
class Pool {
public:
    explicit Pool(unsigned n)
    {
        for (unsigned i = 0; i < n; ++i)
            threads_.emplace_back([this] { Run(); });
    }
    ~Pool()
    {
        {
            std::lock_guard l(m_);
            stop_ = true;
        }
        cv_.notify_all();
        for (auto& t : threads_)
            t.join();
    }
    void Post(std::function<void()> job)
    {
        {
            std::lock_guard l(m_);
            jobs_.push_back(std::move(job));
        }
        cv_.notify_one();
    }

private:
    void Run()
    {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock l(m_);
                cv_.wait(l, [this] { return stop_ || !jobs_.empty(); });
                if (jobs_.empty())
                    return;
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            job();
        }
    }
    std::mutex m_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> jobs_;
    std::vector<std::thread> threads_;
    bool stop_ = false;
};

struct Chunk {
    size_t file = 0;
    bool first = false, last = false;
    std::vector<unsigned char> in, dict, out;
    uint32_t crc = 0;
    bool failed = false;
    bool skipped = false;  // the file could not be opened
    bool done = false;
    std::mutex m;
    std::condition_variable cv;
};

void DeflateChunk(Chunk& c, int level)
{
    thread_local std::unique_ptr<z_stream, void (*)(z_stream*)> zs(nullptr, [](z_stream* s) {
        deflateEnd(s);
        delete s;
    });
    thread_local int zsLevel = -1;
    if (!zs || zsLevel != level) {
        zs.reset(new z_stream{});
        if (deflateInit2(zs.get(), level, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) {
            zs.reset();
            c.failed = true;
            return;
        }
        zsLevel = level;
    } else {
        deflateReset(zs.get());
    }
    z_stream* s = zs.get();
    if (!c.dict.empty())
        deflateSetDictionary(s, c.dict.data(), uInt(c.dict.size()));
    c.out.resize(deflateBound(s, c.in.size()) + 64);
    s->next_in = c.in.data();
    s->avail_in = uInt(c.in.size());
    s->next_out = c.out.data();
    s->avail_out = uInt(c.out.size());
    int r = deflate(s, c.last ? Z_FINISH : Z_SYNC_FLUSH);
    if ((c.last && r != Z_STREAM_END) || (!c.last && r != Z_OK) || s->avail_in != 0)
        c.failed = true;
    c.out.resize(c.out.size() - s->avail_out);
    c.crc = Crc32(0, c.in.data(), c.in.size());
}

std::string Str(const char* s)
{
    return s ? s : "";
}

bool IsHidden(const std::string& base)
{
    return !base.empty() && base[0] == '.';
}

std::string BaseName(const std::string& p)
{
    auto k = p.find_last_of('/');
    return k == std::string::npos ? p : p.substr(k + 1);
}

bool HasWildcard(const std::string& s)
{
    return s.find_first_of("*?") != std::string::npos;
}

// The name stored for a path: relative to the root directory when under it,
// else without its leading slashes and "./" parts.
std::string StoredName(const std::string& path, const std::string& root, bool junk)
{
    if (junk)
        return BaseName(path);
    std::string r = path;
    if (!root.empty()) {
        std::string rt = root.back() == '/' ? root : root + "/";
        if (r.compare(0, rt.size(), rt) == 0)
            r = r.substr(rt.size());
    }
    while (r.compare(0, 2, "./") == 0)
        r.erase(0, 2);
    while (!r.empty() && r[0] == '/')
        r.erase(0, 1);
    return r;
}

// Moves a file to the user's trash (the freedesktop layout: files/ and
// info/*.trashinfo under $XDG_DATA_HOME/Trash); false when it cannot be
// moved there by a rename (another file system), the file being left alone.
bool MoveToTrash(const std::string& path)
{
    const char* xdg = getenv("XDG_DATA_HOME");
    const char* home = getenv("HOME");
    std::string trash = xdg && *xdg ? std::string(xdg) + "/Trash"
        : home                      ? std::string(home) + "/.local/share/Trash"
                                    : "";
    if (trash.empty())
        return false;
    for (const std::string& d : {trash.substr(0, trash.rfind('/')), trash, trash + "/files", trash + "/info"})
        mkdir(d.c_str(), 0700);
    char real[PATH_MAX];
    if (!realpath(path.c_str(), real))
        return false;
    std::string base = BaseName(path), name = base;
    for (int k = 2; k < 10000; ++k) {
        std::string info = trash + "/info/" + name + ".trashinfo";
        int fd = open(info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            name = base + "." + std::to_string(k);
            continue;
        }
        char when[32];
        time_t now = time(nullptr);
        strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%S", localtime(&now));
        std::string text = std::string("[Trash Info]\nPath=") + real + "\nDeletionDate=" + when + "\n";
        bool ok = WriteAll(fd, text.data(), text.size());
        close(fd);
        if (ok && rename(path.c_str(), (trash + "/files/" + name).c_str()) == 0)
            return true;
        unlink(info.c_str());
        return false;
    }
    return false;
}

class AddJob {
public:
    AddJob(ZipParams* p) : p_(p), rep_(p->callback, p->handle, p->caller, kVersion, true) { }
    int32_t Run();

private:
    void Collect();
    void Walk(const std::string& dir, const std::string& mask, bool recurse, const ZipFileSpec& fileSpec, int depth);
    void AddPath(const std::string& path, const struct stat& st, const ZipFileSpec& fileSpec);
    bool Excluded(const SourceFile& f) const;
    std::string PasswordFor(const ZipFileSpec& fileSpec, const std::string& name);
    void WriteArchive(int out, const CentralDirectory* old, int oldFd);
    void CopyOld(int out, int oldFd, CdEntry e, uint64_t shift, uint64_t& pos);
    void CompressAll(int out, uint64_t& pos);
    void WriteCentral(int out, uint64_t pos);
    void Check(bool ok, int32_t code, const std::string& what)
    {
        if (!ok)
            throw JobError(code, what);
    }
    void CheckCancel()
    {
        if (rep_.Cancelled())
            throw JobError(errCancelled, "annulé");
    }

    ZipParams* p_;
    Reporter rep_;
    std::vector<SourceFile> files_;
    std::map<std::string, size_t> byName_;
    std::vector<NewEntry> written_;
    std::string askedPassword_;
    bool askedOnce_ = false;
    time_t fromDate_ = 0;
    std::vector<std::string> suffixes_;
};

void AddJob::AddPath(const std::string& path, const struct stat& st, const ZipFileSpec& fileSpec)
{
    SourceFile f;
    f.path = path;
    f.isDir = S_ISDIR(st.st_mode);
    f.name = StoredName(path, Str(fileSpec.rootDir), p_->junkDirs != 0);
    if (f.isDir) {
        if (p_->junkDirs || f.name.empty())
            return;
        f.name += "/";
    }
    if (f.name.empty())
        return;
    // A name is flagged UTF-8 only when it is; readers refuse an archive
    // whose flagged names do not decode.
    if (HasHighBytes(f.name) && !IsUtf8(f.name)) {
        f.name = LatinToOem(f.name);
        f.oemName = true;
    }
    f.size = f.isDir ? 0 : uint64_t(st.st_size);
    f.mtime = st.st_mtime;
    f.mode = st.st_mode;
    f.fileSpec = &fileSpec;
    if (p_->fromDate && !f.isDir && f.mtime < fromDate_)
        return;
    if (Excluded(f))
        return;
    if (byName_.count(f.name))
        return;
    byName_[f.name] = files_.size();
    files_.push_back(std::move(f));
}

bool AddJob::Excluded(const SourceFile& f) const
{
    for (int i = 0; i < p_->exclCount && p_->excl; ++i) {
        std::string m = Str(p_->excl[i]);
        if (MatchMask(f.name, m) || MatchMask(BaseName(f.path), m) || MatchMask(f.path, m))
            return true;
    }
    return false;
}

void AddJob::Walk(const std::string& dir, const std::string& mask, bool recurse, const ZipFileSpec& fileSpec, int depth)
{
    if (depth > 64)
        return;
    DIR* d = opendir(dir.empty() ? "." : dir.c_str());
    if (!d)
        return;
    std::vector<std::string> names;
    while (dirent* de = readdir(d)) {
        std::string n = de->d_name;
        if (n == "." || n == "..")
            continue;
        if (IsHidden(n) && !p_->hiddenFiles)
            continue;
        names.push_back(n);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    for (const auto& n : names) {
        std::string path = dir.empty() ? n : (dir.back() == '/' ? dir + n : dir + "/" + n);
        struct stat st;
        if (lstat(path.c_str(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            if (recurse) {
                if (!p_->noDirEntries)
                    AddPath(path, st, fileSpec);
                Walk(path, mask, recurse, fileSpec, depth + 1);
            }
        } else if (S_ISREG(st.st_mode) && MatchMask(n, mask)) {
            AddPath(path, st, fileSpec);
        }
    }
}

void AddJob::Collect()
{
    for (int i = 0; i < p_->specCount; ++i) {
        const ZipFileSpec& s = p_->fileSpecs[i];
        std::string fileSpec = Str(s.fileSpec);
        std::replace(fileSpec.begin(), fileSpec.end(), '\\', '/');
        if (fileSpec.empty())
            continue;
        std::string root = Str(s.rootDir);
        std::string path =
            (fileSpec[0] != '/' && !root.empty()) ? (root.back() == '/' ? root : root + "/") + fileSpec : fileSpec;
        bool recurse = s.recurse != 0;
        struct stat st;
        if (!HasWildcard(path) && stat(path.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode)) {
                if (!p_->noDirEntries)
                    AddPath(path, st, s);
                Walk(path, "*", true, s, 0);
            } else if (S_ISREG(st.st_mode)) {
                AddPath(path, st, s);
            }
            continue;
        }
        auto k = path.find_last_of('/');
        std::string dir = k == std::string::npos ? "" : path.substr(0, k == 0 ? 1 : k);
        std::string mask = k == std::string::npos ? path : path.substr(k + 1);
        if (HasWildcard(dir)) {
            rep_.Message(errParams, "jokers non admis dans un nom de dossier : " + fileSpec);
            continue;
        }
        size_t before = files_.size();
        Walk(dir, mask, recurse, s, 0);
        if (files_.size() == before && !HasWildcard(mask))
            rep_.Message(errOpen, "fichier introuvable : " + fileSpec);
    }
}

std::string AddJob::PasswordFor(const ZipFileSpec& fileSpec, const std::string& name)
{
    if (fileSpec.encrypt == 0)
        return {};
    if (fileSpec.password && *fileSpec.password)
        return fileSpec.password;
    if (p_->password && *p_->password)
        return p_->password;
    if (!askedOnce_) {
        askedOnce_ = true;
        CallbackRecord r = rep_.Send(actPassword, 1, 1, name);
        CheckCancel();
        if (r.value1 == 1)
            askedPassword_.assign(r.text, strnlen(r.text, sizeof r.text));
    }
    if (askedPassword_.empty())
        throw JobError(errPassword, "aucun mot de passe donné pour les fichiers chiffrés");
    return askedPassword_;
}

void AddJob::CopyOld(int out, int oldFd, CdEntry e, uint64_t shift, uint64_t& pos)
{
    // the archive is rewritten in the classic format: an entry read from a
    // 64-bit record that needs one cannot be kept
    Check(e.usize <= kMaxClassic && e.csize <= kMaxClassic, errLimit,
        "entrée de plus de 4 Go, que l'archive réécrite ne peut garder : " + e.name);
    uint64_t len = e.dataOffset - (e.localOffset + shift) + e.csize;
    if (e.flags & 8) {
        unsigned char d[4];
        len += (ReadAt(oldFd, d, 4, e.dataOffset + e.csize) && Get32(d) == kDescriptorSig) ? 16 : 12;
    }
    std::vector<unsigned char> buf(std::min<uint64_t>(len, kChunk));
    uint64_t src = e.localOffset + shift, left = len;
    NewEntry ne{e, pos};
    while (left > 0) {
        size_t n = size_t(std::min<uint64_t>(left, buf.size()));
        Check(ReadAt(oldFd, buf.data(), n, src), errRead, "lecture impossible de l'archive");
        Check(WriteAll(out, buf.data(), n), errWrite, "écriture impossible de l'archive");
        src += n;
        left -= n;
    }
    ne.cd.localOffset = pos;
    pos += len;
    Check(pos <= kMaxClassic, errLimit, "l'archive dépasserait 4 Go");
    written_.push_back(std::move(ne));
}

void AddJob::CompressAll(int out, uint64_t& pos)
{
    unsigned nThreads = std::max(1u, std::min(std::thread::hardware_concurrency(), 32u));
    Pool pool(nThreads);
    const size_t maxInFlight = nThreads * 3;
    std::deque<std::shared_ptr<Chunk>> inFlight;
    int level = std::clamp(p_->level, 0, 9);

    struct FileState {
        int fd = -1;
        uint64_t read = 0;
        std::vector<unsigned char> tail;  // last 32 KB read
        bool stored = false;
        std::string password;
        std::unique_ptr<ZipCrypto> crypto;
        NewEntry entry;
        uint32_t crc = 0;
        uint64_t csize = 0, usize = 0;
        bool headerDone = false;
    };
    std::vector<FileState> st(files_.size());

    auto storedSuffix = [&](const std::string& name) {
        std::string lower = name;
        for (auto& c : lower)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        for (const auto& s : suffixes_)
            if (lower.size() >= s.size() && lower.compare(lower.size() - s.size(), s.size(), s) == 0)
                return true;
        return false;
    };

    // Writes one finished chunk, in file order.
    auto emit = [&](Chunk& c) {
        FileState& fs = st[c.file];
        SourceFile& f = files_[c.file];
        if (c.skipped) {
            rep_.Message(errOpen, "ouverture impossible de " + f.path);
            CheckCancel();
            rep_.Send(actSkipped, errOpen, skipGeneralError, f.name);
            CheckCancel();
            f.name.clear();
            return;
        }
        if (c.first) {
            rep_.Send(actNewFile, 0, intptr_t(f.size), f.name);
            CheckCancel();
        }
        Check(!c.failed, errParams, "échec de la compression : " + f.name);
        // A file whose first chunk does not shrink is stored whole, chunks
        // deflated ahead of time included: deflating it would only make it larger.
        bool storeIt = fs.stored || (c.first && c.out.size() >= c.in.size());
        std::vector<unsigned char>& data = storeIt ? c.in : c.out;
        if (c.first) {
            fs.stored = storeIt;
            CdEntry& e = fs.entry.cd;
            bool enc = !fs.password.empty();
            e.name = f.name;
            e.method = storeIt ? 0 : 8;
            e.flags = uint16_t((enc ? 1 | 8 : 0) | (level >= 8 && !storeIt ? 2 : 0));
            if (!f.oemName && HasHighBytes(f.name))
                e.flags |= 0x800;
            e.needed = storeIt && !enc ? 10 : 20;
            const bool dos = p_->forceDos || f.oemName;
            e.madeBy = dos ? 20 : (3 << 8) | 30;
            e.externalAttrs = dos ? (f.isDir ? 0x10 : 0x20) : uint32_t(f.mode & 0xFFFF) << 16 | (f.isDir ? 0x10 : 0);
            e.dosTime = ToDosTime(f.mtime);
            fs.entry.headerOffset = pos;
            e.localOffset = pos;
            unsigned char h[kLocalSize]{};
            Put32(h, kLocalSig);
            Put16(h + 4, e.needed);
            Put16(h + 6, e.flags);
            Put16(h + 8, e.method);
            Put32(h + 10, e.dosTime);
            Put16(h + 26, uint32_t(f.name.size()));
            Check(WriteAll(out, h, kLocalSize) && WriteAll(out, f.name.data(), f.name.size()), errWrite,
                "écriture impossible de l'archive");
            pos += kLocalSize + f.name.size();
            if (enc) {
                fs.crypto = std::make_unique<ZipCrypto>(fs.password);
                unsigned char eh[12];
                std::random_device rd;
                for (int i = 0; i < 11; ++i)
                    eh[i] = uint8_t(rd());
                eh[11] = uint8_t(e.dosTime >> 8);
                fs.crypto->Encrypt(eh, 12);
                Check(WriteAll(out, eh, 12), errWrite, "écriture impossible de l'archive");
                pos += 12;
                fs.csize += 12;
            }
        }
        if (fs.crypto)
            fs.crypto->Encrypt(data.data(), data.size());
        Check(WriteAll(out, data.data(), data.size()), errWrite, "écriture impossible de l'archive");
        pos += data.size();
        fs.csize += data.size();
        fs.crc = fs.usize == 0 ? c.crc : uint32_t(crc32_combine(fs.crc, c.crc, z_off_t(c.in.size())));
        fs.usize += c.in.size();
        Check(pos <= kMaxClassic, errLimit, "l'archive dépasserait 4 Go : " + f.name);
        if (!c.in.empty()) {
            rep_.Send(actProgress, 0, intptr_t(c.in.size()), "");
            CheckCancel();
        }
        if (c.last) {
            CdEntry& e = fs.entry.cd;
            e.crc = fs.crc;
            e.csize = fs.csize;
            e.usize = fs.usize;
            Check(e.usize <= kMaxClassic && e.csize <= kMaxClassic, errLimit, "fichier de plus de 4 Go : " + f.name);
            unsigned char t[16];
            if (e.flags & 8) {
                Put32(t, kDescriptorSig);
                Put32(t + 4, e.crc);
                Put32(t + 8, uint32_t(e.csize));
                Put32(t + 12, uint32_t(e.usize));
                Check(WriteAll(out, t, 16), errWrite, "écriture impossible de l'archive");
                pos += 16;
            } else {
                Put32(t, e.crc);
                Put32(t + 4, uint32_t(e.csize));
                Put32(t + 8, uint32_t(e.usize));
                Check(pwrite(out, t, 12, off_t(fs.entry.headerOffset + 14)) == 12, errWrite,
                    "écriture impossible de l'archive");
            }
            written_.push_back(std::move(fs.entry));
        }
    };

    auto drainOne = [&]() {
        auto c = inFlight.front();
        inFlight.pop_front();
        {
            std::unique_lock l(c->m);
            c->cv.wait(l, [&] { return c->done; });
        }
        emit(*c);
    };

    for (size_t i = 0; i < files_.size(); ++i) {
        SourceFile& f = files_[i];
        FileState& fs = st[i];
        fs.password = f.isDir ? std::string() : PasswordFor(*f.fileSpec, f.name);
        fs.stored = f.isDir || level == 0 || storedSuffix(f.name);
        if (!f.isDir) {
            fs.fd = open(f.path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fs.fd < 0) {
                auto c = std::make_shared<Chunk>();
                c->file = i;
                c->first = c->last = c->skipped = c->done = true;
                inFlight.push_back(c);
                continue;
            }
        }
        bool first = true;
        for (;;) {
            auto c = std::make_shared<Chunk>();
            c->file = i;
            c->first = first;
            uint64_t want = std::min<uint64_t>(kChunk, f.size > fs.read ? f.size - fs.read : 0);
            c->in.resize(want);
            size_t got = 0;
            if (want) {
                ssize_t r;
                while (got < want && (r = pread(fs.fd, c->in.data() + got, want - got, off_t(fs.read + got))) > 0)
                    got += size_t(r);
                c->in.resize(got);
            }
            fs.read += got;
            c->last = got < kChunk || fs.read >= f.size;
            if (!first)
                c->dict = fs.tail;
            if (!c->last) {
                size_t k = std::min(kDict, c->in.size());
                fs.tail.assign(c->in.end() - ptrdiff_t(k), c->in.end());
            }
            first = false;
            bool last = c->last;
            if (fs.stored) {
                c->crc = Crc32(0, c->in.data(), c->in.size());
                c->done = true;
            } else {
                pool.Post([c, level] {
                    DeflateChunk(*c, level);
                    std::lock_guard l(c->m);
                    c->done = true;
                    c->cv.notify_all();
                });
            }
            inFlight.push_back(c);
            while (inFlight.size() >= maxInFlight)
                drainOne();
            if (last)
                break;
        }
        if (fs.fd >= 0) {
            close(fs.fd);
            fs.fd = -1;
        }
    }
    while (!inFlight.empty())
        drainOne();
}

void AddJob::WriteCentral(int out, uint64_t pos)
{
    Check(written_.size() <= size_t(kMaxEntries), errLimit, "plus de 65 535 entrées");
    uint64_t start = pos;
    std::string buf;
    for (const auto& ne : written_) {
        CdEntry e = ne.cd;
        // the directory is classic: the 64-bit values of an entry copied
        // from a 64-bit archive are in its header now
        for (size_t i = 0; i + 4 <= e.extra.size();) {
            const auto* x = reinterpret_cast<const unsigned char*>(e.extra.data()) + i;
            const size_t len = 4 + Get16(x + 2);
            if (i + len > e.extra.size())
                break;
            if (Get16(x) == 1)
                e.extra.erase(i, len);
            else
                i += len;
        }
        unsigned char h[kCentralSize]{};
        Put32(h, kCentralSig);
        Put16(h + 4, e.madeBy);
        Put16(h + 6, e.needed);
        Put16(h + 8, e.flags);
        Put16(h + 10, e.method);
        Put32(h + 12, e.dosTime);
        Put32(h + 16, e.crc);
        Put32(h + 20, uint32_t(e.csize));
        Put32(h + 24, uint32_t(e.usize));
        Put16(h + 28, uint32_t(e.name.size()));
        Put16(h + 30, uint32_t(e.extra.size()));
        Put16(h + 32, uint32_t(e.comment.size()));
        Put16(h + 36, e.internalAttrs);
        Put32(h + 38, e.externalAttrs);
        Put32(h + 42, uint32_t(e.localOffset));
        buf.append(reinterpret_cast<char*>(h), kCentralSize);
        buf += e.name;
        buf += e.extra;
        buf += e.comment;
    }
    Check(start + buf.size() <= kMaxClassic, errLimit, "l'archive dépasserait 4 Go");
    std::string comment = Str(p_->comment).substr(0, 65535);
    unsigned char end[kEndSize]{};
    Put32(end, kEndSig);
    Put16(end + 8, uint32_t(written_.size()));
    Put16(end + 10, uint32_t(written_.size()));
    Put32(end + 12, uint32_t(buf.size()));
    Put32(end + 16, uint32_t(start));
    Put16(end + 20, uint32_t(comment.size()));
    buf.append(reinterpret_cast<char*>(end), kEndSize);
    buf += comment;
    Check(WriteAll(out, buf.data(), buf.size()), errWrite, "écriture impossible de l'archive");
}

int32_t AddJob::Run()
{
    std::string archive = Str(p_->archive);
    if (p_->check != kBlockCheck || archive.empty()) {
        rep_.Message(errParams, "bloc de paramètres erroné");
        return 0;
    }
    if (p_->fromDate) {
        int mm = 0, dd = 0, yy = 0;
        std::string d(p_->date, 8);
        if (sscanf(d.c_str(), "%d %d %d", &mm, &dd, &yy) == 3) {
            struct tm tm { };
            tm.tm_year = (yy < 80 ? yy + 100 : yy);
            tm.tm_mon = mm - 1;
            tm.tm_mday = dd;
            tm.tm_isdst = -1;
            fromDate_ = mktime(&tm);
        }
    }
    for (std::string s = Str(p_->storeSuffixes); !s.empty();) {
        auto k = s.find(':');
        std::string one = s.substr(0, k);
        for (auto& c : one)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        if (!one.empty())
            suffixes_.push_back(one);
        s = k == std::string::npos ? "" : s.substr(k + 1);
    }
    int oldFd = -1;
    std::string tmp;
    int out = -1;
    try {
        Collect();
        // the existing archive: its entries are kept unless replaced
        CentralDirectory old;
        bool haveOld = false;
        oldFd = open(archive.c_str(), O_RDONLY | O_CLOEXEC);
        if (oldFd >= 0) {
            struct stat ast;
            fstat(oldFd, &ast);
            old = ReadCentralDirectory(oldFd, uint64_t(ast.st_size));
            haveOld = true;
            CheckLocals(oldFd, uint64_t(ast.st_size), old.entries, old.shift);
        }
        // update / freshen against the old entries
        std::vector<bool> keepOld(old.entries.size(), true);
        std::map<std::string, size_t> oldByName;
        for (size_t i = 0; i < old.entries.size(); ++i)
            oldByName[old.entries[i].name] = i;
        std::vector<SourceFile> chosen;
        for (auto& f : files_) {
            auto it = oldByName.find(f.name);
            if (it == oldByName.end()) {
                if (p_->freshen && !p_->update)
                    continue;
            } else {
                bool newer = ToDosTime(f.mtime) > old.entries[it->second].dosTime;
                if ((p_->update || p_->freshen) && !newer)
                    continue;
                keepOld[it->second] = false;
            }
            chosen.push_back(std::move(f));
        }
        files_ = std::move(chosen);
        size_t kept = std::count(keepOld.begin(), keepOld.end(), true);
        if (files_.empty()) {
            rep_.Message(errNothing, "rien à faire");
            if (oldFd >= 0)
                close(oldFd);
            return 0;
        }
        Check(files_.size() + kept <= size_t(kMaxEntries), errLimit, "plus de 65 535 entrées");
        uint64_t total = 0;
        for (const auto& f : files_) {
            Check(f.size <= kMaxClassic, errLimit, "fichier de plus de 4 Go : " + f.path);
            Check(f.name.size() <= 65535, errLimit, "nom trop long : " + f.path);
            total += f.size;
        }
        rep_.Send(actTotalFiles, 0, intptr_t(files_.size()), "");
        CheckCancel();
        rep_.Send(actTotalSize, 0, intptr_t(std::min<uint64_t>(total, INT32_MAX)), "");
        CheckCancel();

        // write beside the target, then replace
        tmp = archive + ".XXXXXX";
        out = mkstemp(tmp.data());
        Check(out >= 0, errWrite, "création impossible de l'archive temporaire à côté de " + archive);
        uint64_t pos = 0;
        if (haveOld) {
            // what stands in front of the archive (a self-extractor's
            // program) is kept, and the offsets count from the file's start
            uint64_t front = uint64_t(-1);
            for (const auto& e : old.entries)
                front = std::min(front, e.localOffset + old.shift);
            if (old.entries.empty())
                front = old.start;
            std::vector<unsigned char> buf(std::min<uint64_t>(front, kChunk));
            while (pos < front) {
                size_t n = size_t(std::min<uint64_t>(front - pos, buf.size()));
                Check(ReadAt(oldFd, buf.data(), n, pos), errRead, "lecture impossible de l'archive");
                Check(WriteAll(out, buf.data(), n), errWrite, "écriture impossible de l'archive");
                pos += n;
            }
        }
        for (size_t i = 0; haveOld && i < old.entries.size(); ++i)
            if (keepOld[i])
                CopyOld(out, oldFd, old.entries[i], old.shift, pos);
        CompressAll(out, pos);
        files_.erase(std::remove_if(files_.begin(), files_.end(), [](const SourceFile& f) { return f.name.empty(); }),
            files_.end());
        WriteCentral(out, pos);
        Check(fsync(out) == 0, errWrite, "écriture impossible de l'archive");
        struct stat ost;
        if (oldFd >= 0 && fstat(oldFd, &ost) == 0)
            fchmod(out, ost.st_mode & 07777);
        else
            fchmod(
                out, 0644 & ~[] {
                    mode_t m = umask(0);
                    umask(m);
                    return m;
                }());
        close(out);
        out = -1;
        if (oldFd >= 0) {
            close(oldFd);
            oldFd = -1;
        }
        Check(rename(tmp.c_str(), archive.c_str()) == 0, errWrite, "remplacement impossible de " + archive);
        tmp.clear();
        if (p_->zipTime) {
            uint32_t newest = 0;
            for (const auto& ne : written_)
                newest = std::max(newest, ne.cd.dosTime);
            struct timespec ts[2];
            ts[0].tv_sec = ts[1].tv_sec = FromDosTime(newest);
            ts[0].tv_nsec = ts[1].tv_nsec = 0;
            utimensat(AT_FDCWD, archive.c_str(), ts, 0);
        }
        if (p_->move)
            for (const auto& f : files_) {
                if (f.isDir)
                    continue;
                if (p_->howToDelete ? !MoveToTrash(f.path) : unlink(f.path.c_str()) != 0)
                    rep_.Message(errWrite, "archivé mais non supprimé : " + f.path);
            }
        rep_.Send(actEndOfBatch, 0, 0, "");
        return int32_t(files_.size());
    } catch (const JobError& e) {
        if (e.code != errCancelled)
            rep_.Message(e.code, e.what());
    } catch (const std::exception& e) {
        rep_.Message(errParams, kos::ExceptionReason(e));
    }
    if (out >= 0)
        close(out);
    if (oldFd >= 0)
        close(oldFd);
    if (!tmp.empty())
        unlink(tmp.c_str());
    return 0;
}

}  // namespace
}  // namespace zipeng

extern "C" {
__attribute__((visibility("default"))) int32_t ZipEngExec(zipeng::ZipParams* params)
{
    if (!params)
        return 0;
    zipeng::AddJob job(params);
    return job.Run();
}

__attribute__((visibility("default"))) int32_t GetZipEngVersion()
{
    return zipeng::kVersion;
}
}
