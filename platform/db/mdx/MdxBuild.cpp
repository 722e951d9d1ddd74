// Bulk build: sorted runs of entries written as compact trees into a new
// file that is renamed over the old one.
#include "MdxStore.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "platform/db/core/DbError.h"
#include "platform/db/core/File.h"
#include "platform/db/core/FileSystem.h"

namespace kdb::mdx::detail {

// ---------------------------------------------------------------- bulk build

void Store::sortRun(const TagState& tag, Run& run, uint64_t& dropped)
{
    const size_t n = run.size();
    const size_t kl = size_t(tag.keyLen);
    std::vector<uint32_t> order(n);
    for (size_t i = 0; i < n; ++i)
        order[i] = static_cast<uint32_t>(i);
    auto keyOf = [&](uint32_t i) {
        return std::string_view(reinterpret_cast<const char*>(run.keys.data() + size_t(i) * kl), kl);
    };
    auto cmpKey = [&](std::string_view a, std::string_view b) {
        const int c = compareKeys(tag.type, a, b, tag.collation);
        return tag.descending ? -c : c;
    };
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        const int c = cmpKey(keyOf(a), keyOf(b));
        if (c != 0)
            return c < 0;
        return run.recnos[a] < run.recnos[b];
    });
    Run out;
    out.keyLen = run.keyLen;
    out.keys.reserve(run.keys.size());
    out.recnos.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        const uint32_t cur = order[i];
        if (!out.recnos.empty()) {
            const std::string_view last(reinterpret_cast<const char*>(out.keys.data() + out.keys.size() - kl), kl);
            if (cmpKey(last, keyOf(cur)) == 0) {
                if (out.recnos.back() == run.recnos[cur])
                    continue;  // the same entry twice
                if (tag.unique) {
                    ++dropped;
                    continue;
                }
            }
        }
        out.keys.insert(out.keys.end(), run.keys.begin() + static_cast<long>(size_t(cur) * kl),
            run.keys.begin() + static_cast<long>(size_t(cur) * kl + kl));
        out.recnos.push_back(run.recnos[cur]);
    }
    run = std::move(out);
}

namespace {

// Appends blocks to a new file through a buffer.
class BlockWriter {
public:
    BlockWriter(int fd, const std::string& path, uint32_t blockBytes) : fd_(fd), path_(path), bb_(blockBytes) { }
    void append(const uint8_t* block)
    {
        buf_.insert(buf_.end(), block, block + bb_);
        if (buf_.size() >= (4u << 20))
            drain();
    }
    void drain()
    {
        writeAt(buf_.data(), buf_.size(), offset_);
        offset_ += buf_.size();
        buf_.clear();
    }
    void writeAt(const uint8_t* data, size_t len, uint64_t off) { writeAll(fd_, path_, data, len, off); }
    void setOffset(uint64_t off) { offset_ = off; }

private:
    int fd_;
    std::string path_;
    uint32_t bb_;
    std::vector<uint8_t> buf_;
    uint64_t offset_ = 0;
};

}  // namespace

void Store::buildFile(const std::string& path, const std::string& dataName, const uint8_t* created,
    const std::vector<TagSpec>& specs, const std::vector<Run>& runs, uint32_t counter)
{
    kdb::FileSystem& fs = kdb::fileSystem();
    const std::string tmp = path + ".new";
    const int fd = fs.open(tmp, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (errno == EACCES || errno == EROFS || errno == EPERM)
            throw EDBEngineError::notWritable(tmp, errno);
        throw EDBEngineError::writeFailed(tmp, errno, "cannot create");
    }
    try {
        const uint32_t bp = kDefaultBlockPages, bb = bp * kPageBytes;
        std::vector<uint8_t> hdr(kHeaderBytes, 0);
        hdr[H_VERSION] = 2;
        if (created)
            std::memcpy(hdr.data() + H_CREATED, created, 3);
        else
            writeToday(hdr.data() + H_CREATED);
        std::memcpy(hdr.data() + H_DATANAME, dataName.data(), std::min<size_t>(dataName.size(), 16));
        wr16(hdr.data() + H_BLOCKPAGES, static_cast<uint16_t>(bp));
        wr16(hdr.data() + H_BLOCKBYTES, static_cast<uint16_t>(bb));
        hdr[H_PRODUCTION] = 1;
        hdr[H_ENTRIES] = 0x30;
        hdr[H_ENTRYLEN] = H_TAGENTRY;
        wr16(hdr.data() + H_TAGSINUSE, static_cast<uint16_t>(specs.size()));
        writeToday(hdr.data() + H_UPDATED);
        wr32(hdr.data() + H_COUNTER, counter);

        BlockWriter out(fd, tmp, bb);
        out.setOffset(uint64_t(kFirstBlockPage) * kPageBytes);
        uint32_t next = kFirstBlockPage;
        std::vector<std::pair<uint32_t, std::vector<uint8_t>>> tagHeaders;
        std::vector<uint8_t> block(bb);
        struct Node {
            uint32_t page;
            int64_t maxEntry;
        };

        for (size_t ti = 0; ti < specs.size(); ++ti) {
            const TagState t = makeTagState(specs[ti], bb);
            const Run& run = runs[ti];
            const size_t il = size_t(t.itemLen), kl = size_t(t.keyLen);
            const uint32_t headerPage = next;
            next += bp;
            std::memset(block.data(), 0, bb);
            out.append(block.data());  // placeholder, written at the end
            uint64_t nodes = 0;

            const size_t n = run.size();
            const size_t cap = size_t(t.capLeaf);
            const size_t leaves = std::max<size_t>(1, (n + cap - 1) / cap);
            std::vector<Node> level;
            level.reserve(leaves);
            size_t pos = 0;
            for (size_t l = 0; l < leaves; ++l) {
                const size_t cnt = n / leaves + (l < n % leaves ? 1 : 0);
                std::memset(block.data(), 0, bb);
                wr32(block.data(), static_cast<uint32_t>(cnt));
                for (size_t j = 0; j < cnt; ++j, ++pos) {
                    uint8_t* e = block.data() + 8 + j * il;
                    wr32(e, run.recnos[pos]);
                    std::memcpy(e + 4, run.keys.data() + pos * kl, kl);
                }
                level.push_back({next, static_cast<int64_t>(pos) - 1});
                out.append(block.data());
                next += bp;
                ++nodes;
            }
            const uint32_t firstLeaf = level.front().page, lastLeaf = level.back().page;
            const size_t fan = size_t(t.capInterior) + 1;
            while (level.size() > 1) {
                const size_t cnt = level.size();
                const size_t parents = (cnt + fan - 1) / fan;
                std::vector<Node> up;
                up.reserve(parents);
                size_t ci = 0;
                for (size_t p = 0; p < parents; ++p) {
                    const size_t k = cnt / parents + (p < cnt % parents ? 1 : 0);
                    std::memset(block.data(), 0, bb);
                    wr32(block.data(), static_cast<uint32_t>(k - 1));
                    for (size_t j = 0; j + 1 < k; ++j) {
                        uint8_t* e = block.data() + 8 + j * il;
                        const Node& c = level[ci + j];
                        wr32(e, c.page);
                        std::memcpy(e + 4, run.keys.data() + size_t(c.maxEntry) * kl, kl);
                    }
                    wr32(block.data() + 8 + (k - 1) * il, level[ci + k - 1].page);
                    up.push_back({next, level[ci + k - 1].maxEntry});
                    out.append(block.data());
                    next += bp;
                    ++nodes;
                    ci += k;
                }
                level.swap(up);
            }
            std::vector<uint8_t> th(bb);
            fillTagHeader(th.data(), bb, t, level.front().page, static_cast<uint32_t>((nodes + 1) * bp), firstLeaf,
                lastLeaf, n > 0);
            tagHeaders.emplace_back(headerPage, std::move(th));
            fillTagEntry(hdr.data() + H_TAGTABLE + H_TAGENTRY * ti, t, headerPage);
        }
        out.drain();
        for (auto& [page, th] : tagHeaders)
            out.writeAt(th.data(), th.size(), uint64_t(page) * kPageBytes);
        rebuildThreads(hdr.data(), static_cast<int>(specs.size()));
        wr32(hdr.data() + H_PAGES, next);
        out.writeAt(hdr.data(), hdr.size(), 0);
        if (fs.fsync(fd) != 0)
            throw EDBEngineError::writeFailed(tmp, errno, "cannot flush");
    } catch (...) {
        fs.close(fd);
        fs.unlink(tmp);
        throw;
    }
    fs.close(fd);

    // Tell readers of the old file that it is being replaced; a failed
    // rename gives the old file its mark back (it stays in use).
    const int ofd = fs.open(path, O_RDWR | O_CLOEXEC);
    uint8_t oldMark = MARK_CLEAN;
    bool marked = false;
    if (ofd >= 0) {
        uint8_t probe[64];
        const uint8_t replaced = MARK_REPLACED;
        if (fs.pread(ofd, probe, sizeof probe, 0) == static_cast<ssize_t>(sizeof probe) && probe[H_ENTRIES] == 0x30 &&
            probe[H_ENTRYLEN] == H_TAGENTRY) {
            oldMark = probe[H_MARK];
            marked = fs.pwrite(ofd, &replaced, 1, H_MARK) == 1;
        }
    }
    if (fs.rename(tmp, path) != 0) {
        const int err = errno;
        if (marked)
            (void)!fs.pwrite(ofd, &oldMark, 1, H_MARK);
        if (ofd >= 0)
            fs.close(ofd);
        fs.unlink(tmp);
        throw EDBEngineError::writeFailed(path, err, "cannot replace");
    }
    if (ofd >= 0)
        fs.close(ofd);
    kdb::syncDirectory(path);
}

}  // namespace kdb::mdx::detail
