#include "platform/db/dbf/DbfTable.h"

#include <cerrno>
#include <cmath>
#include <mutex>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/db/core/Codepage.h"

#include "platform/db/dbf/DbfTableDetail.h"

namespace kdb {

// ---- reading ---------------------------------------------------------------------

void DbfTable::checkRecNo(uint32_t recNo) const
{
    if (recNo < 1 || recNo > count_)
        throw EDBEngineError::invalidParam(path_, "record number " + std::to_string(recNo) + " out of range");
}

void DbfTable::checkField(int field) const
{
    if (field < 0 || field >= static_cast<int>(fields_.size()))
        throw EDBEngineError::invalidParam(path_, "field number " + std::to_string(field) + " out of range");
}

// Maps of closed tables are kept for a while: the statements of a screen
// open the same tables again and again, and a kept map spares the setting up
// of its pages. A map is taken again only for the same file (device and
// inode); what it shows is always the file's current content.
namespace {
struct KeptMap {
    uint64_t dev = 0, ino = 0;
    const char* p = nullptr;
    size_t len = 0;
};
std::mutex keptMutex;
std::vector<KeptMap> keptMaps;
constexpr size_t kKeptMaps = 8;

void keepMap(uint64_t dev, uint64_t ino, const char* p, size_t len)
{
    std::lock_guard<std::mutex> g(keptMutex);
    keptMaps.push_back({dev, ino, p, len});
    if (keptMaps.size() > kKeptMaps) {
        ::munmap(const_cast<char*>(keptMaps.front().p), keptMaps.front().len);
        keptMaps.erase(keptMaps.begin());
    }
}

bool takeKeptMap(uint64_t dev, uint64_t ino, size_t need, const char*& p, size_t& len)
{
    std::lock_guard<std::mutex> g(keptMutex);
    for (size_t i = keptMaps.size(); i-- > 0;) {
        const KeptMap& k = keptMaps[i];
        if (k.dev != dev || k.ino != ino)
            continue;
        if (k.len < need) {  // too short for the table as it is now
            ::munmap(const_cast<char*>(k.p), k.len);
            keptMaps.erase(keptMaps.begin() + static_cast<long>(i));
            continue;
        }
        p = k.p;
        len = k.len;
        keptMaps.erase(keptMaps.begin() + static_cast<long>(i));
        return true;
    }
    return false;
}
}  // namespace

void DbfTable::dropMap()
{
    if (map_) {
        // Kept only while the file is still the one at the table's path
        // (not after a pack or a restructure put a new file there).
        struct stat st { };
        if (::stat(path_.c_str(), &st) == 0 && static_cast<uint64_t>(st.st_dev) == mapDev_ &&
            static_cast<uint64_t>(st.st_ino) == mapIno_)
            keepMap(mapDev_, mapIno_, map_, mapLen_);
        else
            ::munmap(const_cast<char*>(map_), mapLen_);
    }
    map_ = nullptr;
    mapLen_ = 0;
    mapChunk_ = SIZE_MAX;
    mapChunkCount_ = mapChunkNext_ = 0;
    mapChunkSwitches_ = mapChunkBackward_ = 0;
}

void DbfTable::touchMapChunk(size_t chunk)
{
    ++mapChunkSwitches_;
    if (mapChunk_ != SIZE_MAX && chunk + 1 < mapChunk_)  // a step back to the previous chunk is still a walk forward
        ++mapChunkBackward_;
    mapChunk_ = chunk;
    for (size_t i = 0; i < mapChunkCount_; ++i)
        if (mapChunks_[i] == chunk)
            return;
    if (mapChunkCount_ < kMapChunksHeld) {
        mapChunks_[mapChunkCount_++] = chunk;
        return;
    }
    const size_t old = mapChunks_[mapChunkNext_];
    mapChunks_[mapChunkNext_] = chunk;
    mapChunkNext_ = (mapChunkNext_ + 1) % kMapChunksHeld;
    // A walk that jumps about the file (an index order) would read the
    // released pages again and again: only a walk that goes forward
    // releases the chunks behind it.
    if (!releaseBehind_ || mapChunkBackward_ * 16 > mapChunkSwitches_)
        return;
    const size_t from = old << kMapChunkShift;
    if (from < mapLen_)
        ::madvise(const_cast<char*>(map_) + from, std::min(size_t(1) << kMapChunkShift, mapLen_ - from), MADV_DONTNEED);
}

// Maps the file so that it covers recNo; false when the file cannot be
// mapped (reads then go through the run cache). Only whole records the file
// holds (count_ is bounded by the file size) are ever read through the map.
bool DbfTable::mapRecords(uint32_t recNo, bool mayMake)
{
    const uint64_t need = headerLen_ + uint64_t(recNo) * recLen_;
    if (map_ && need <= mapLen_)
        return true;
    if (mapFailed_)
        return false;
    dropMap();
    mapDev_ = fileDev_;  // known since the header was read
    mapIno_ = fileIno_;
    if (takeKeptMap(mapDev_, mapIno_, need, map_, mapLen_))
        return true;
    if (!mayMake)
        return false;
    // Room for the records appended next, so that a table that grows is
    // not mapped again at each append.
    const uint64_t want = headerLen_ + (uint64_t(count_) + 1024) * recLen_;
    // Mapped through a descriptor of its own: a map keeps its open file
    // alive, and the table's locks belong to the table's open file, which
    // must go away when the table closes.
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat same { };
    void* p = MAP_FAILED;
    if (fd >= 0 && ::fstat(fd, &same) == 0 && static_cast<uint64_t>(same.st_dev) == mapDev_ &&
        static_cast<uint64_t>(same.st_ino) == mapIno_)
        p = ::mmap(nullptr, want, PROT_READ, MAP_SHARED, fd, 0);
    if (fd >= 0)
        ::close(fd);
    if (p == MAP_FAILED) {
        mapFailed_ = true;
        return false;
    }
    map_ = static_cast<const char*>(p);
    mapLen_ = want;
    return need <= mapLen_;
}

const char* DbfTable::recordPtr(uint32_t recNo)
{
    checkRecNo(recNo);
    // A scan maps the file at once; a table read here and there (a one-row
    // statement of a program that has just started) reads its first few
    // records one at a time, and is mapped (an open of its own, and the
    // setting up of its pages) only when read more than that.
    const bool scan = recNo == 1 || (cacheCount_ != 0 && recNo == cacheFirst_ + cacheCount_);
    if (!map_ && !scan && singleReads_ < kSingleReads && !mapRecords(recNo, false)) {
        // Read afresh each time, as through the map, but within one hold of
        // the table (no other program changes a record meanwhile).
        if (readHold_ > 0 && singleHold_ == holdCount_ && cacheCount_ == 1 && cacheFirst_ == recNo)
            return cache_.data();
        ++singleReads_;
        cache_.resize(recLen_);
        file_.readExact(headerLen_ + uint64_t(recNo - 1) * recLen_, cache_.data(), recLen_, DBERR_FILECORRUPT);
        cacheFirst_ = recNo;
        cacheCount_ = 1;
        singleHold_ = readHold_ > 0 ? holdCount_ : 0;
        return cache_.data();
    }
    if (mapRecords(recNo)) {
        const size_t at = headerLen_ + size_t(recNo - 1) * recLen_;
        if ((at >> kMapChunkShift) != mapChunk_)
            touchMapChunk(at >> kMapChunkShift);
        return map_ + at;
    }
    if (cacheCount_ == 0 || recNo < cacheFirst_ || recNo >= cacheFirst_ + cacheCount_) {
        // A run of records for a scan (the record right after the cached
        // ones), one record for a random access.
        const bool scanning = recNo == cacheFirst_ + cacheCount_ || recNo == 1;
        const uint32_t per = scanning ? std::max<uint32_t>(1, static_cast<uint32_t>(kCacheBytes / recLen_)) : 1;
        const uint32_t n = std::min(per, count_ - recNo + 1);
        cache_.resize(size_t(n) * recLen_);
        const size_t got = file_.readAt(headerLen_ + uint64_t(recNo - 1) * recLen_, cache_.data(), cache_.size());
        const uint32_t whole = static_cast<uint32_t>(got / recLen_);
        if (whole == 0)
            throw EDBEngineError::fileCorrupt(path_, "record " + std::to_string(recNo) + " missing");
        cacheFirst_ = recNo;
        cacheCount_ = whole;
    }
    return cache_.data() + size_t(recNo - cacheFirst_) * recLen_;
}

void DbfTable::readRecordFresh(uint32_t recNo, std::string& out) const
{
    checkRecNo(recNo);
    out.resize(recLen_);
    file_.readExact(headerLen_ + uint64_t(recNo - 1) * recLen_, out.data(), recLen_, DBERR_FILECORRUPT);
}

bool DbfTable::isDeleted(uint32_t recNo)
{
    return recordPtr(recNo)[0] == '*';
}

std::string_view DbfTable::rawField(uint32_t recNo, int field)
{
    checkField(field);
    const auto& f = fields_[field];
    return std::string_view(recordPtr(recNo) + f.offset, static_cast<size_t>(f.width));
}

// The memo text a stored pointer designates. A pointer that is not a block
// number, a block beyond the memo file or a damaged block (or no memo file)
// reads as empty and sets *bad.
std::string DbfTable::memoText(std::string_view pointer, bool* bad) const
{
    if (bad)
        *bad = false;
    const std::optional<uint32_t> block = memoBlockOf(pointer);
    if (block && *block == 0)
        return {};
    if (block && dbt_.isOpen()) {
        try {
            return dbt_.read(*block);
        } catch (const EDBEngineError& e) {
            if (e.code() != DBERR_MEMOCORRUPT)
                throw;
        }
    }
    if (bad)
        *bad = true;
    return {};
}

QVariant DbfTable::value(uint32_t recNo, int field)
{
    checkField(field);
    return decodeField(fields_[field], recordPtr(recNo));
}

bool DbfTable::fieldReadable(const FieldInfo& f, std::string_view raw)
{
    if (trim(raw).empty())
        return true;
    switch (f.nativeType) {
    case 'D':
        return parseDate(raw).isValid();
    case 'N':
    case 'F':
        return !decodeNumber(f, raw).isNull();
    case 'L':
        return std::string_view("TtYyFfNn?").find(raw[0]) != std::string_view::npos;
    default:
        return true;
    }
}

QVariant DbfTable::decodeNumber(const FieldInfo& f, std::string_view raw)
{
    const auto t = trim(raw);
    if (t.empty())
        return {};
    const std::string s(t);
    char* end = nullptr;
    if (f.decimals == 0 && s.find_first_of(".eE") == std::string::npos) {
        errno = 0;
        const long long v = std::strtoll(s.c_str(), &end, 10);
        if (end == s.c_str() || *end != '\0' || errno == ERANGE)
            return {};
        if (v >= INT32_MIN && v <= INT32_MAX)
            return QVariant(static_cast<int>(v));
        return QVariant(static_cast<qlonglong>(v));
    }
    const double v = std::strtod(s.c_str(), &end);
    if (end == s.c_str() || *end != '\0' || !std::isfinite(v))
        return {};
    return QVariant(v);
}

QVariant DbfTable::decodeField(const FieldInfo& f, const char* rec) const
{
    return decodeBytes(f, std::string_view(rec + f.offset, static_cast<size_t>(f.width)));
}

QVariant DbfTable::valueOf(int field, std::string_view stored) const
{
    checkField(field);
    const auto& f = fields_[field];
    if (stored.size() != static_cast<size_t>(f.width))
        throw EDBEngineError::invalidParam(path_, "stored bytes of another width");
    return decodeBytes(f, stored);
}

QVariant DbfTable::decodeBytes(const FieldInfo& f, std::string_view raw) const
{
    switch (f.nativeType) {
    case 'C': {
        const auto t = trimRight(raw);
        if (t.empty())
            return {};
        return fromCodePage(codePage_, t);
    }
    case 'D': {
        const QDate d = parseDate(raw);
        return d.isValid() ? QVariant(d) : QVariant();
    }
    case 'N':
    case 'F':
        return decodeNumber(f, raw);
    case 'L': {
        const char c = raw[0];
        if (c == 'T' || c == 't' || c == 'Y' || c == 'y')
            return QVariant(true);
        if (c == 'F' || c == 'f' || c == 'N' || c == 'n')
            return QVariant(false);
        return {};
    }
    case 'M':
    case 'B':
    case 'G': {
        const std::string text = memoText(raw);
        if (text.empty())
            return {};
        if (f.nativeType == 'M')
            return fromCodePage(codePage_, text);
        return QVariant(QByteArray(text.data(), static_cast<qsizetype>(text.size())));
    }
    case 'I':
    case '+': {
        const auto* p = reinterpret_cast<const unsigned char*>(raw.data());
        if (!p[0] && !p[1] && !p[2] && !p[3])
            return {};
        const uint32_t u = (uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]) ^ 0x80000000u;
        return QVariant(static_cast<int>(static_cast<int32_t>(u)));
    }
    case 'O': {
        const auto* p = reinterpret_cast<const unsigned char*>(raw.data());
        uint64_t u = 0;
        for (int i = 0; i < 8; ++i)
            u = (u << 8) | p[i];
        if (u == 0)
            return {};
        u = (u & 0x8000000000000000ull) ? (u ^ 0x8000000000000000ull) : ~u;
        double d;
        std::memcpy(&d, &u, 8);
        return QVariant(d);
    }
    case '@':
        return {};  // level 7 timestamps are not read (their layout is not settled)
    default:
        return fromCodePage(codePage_, trimRight(raw));
    }
}

}  // namespace kdb
