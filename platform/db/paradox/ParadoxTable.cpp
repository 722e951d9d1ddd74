#include "platform/db/paradox/ParadoxTable.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <set>

#include "platform/db/core/Codepage.h"
#include "platform/db/core/File.h"
#include "platform/db/engine/Engine.h"
#include "platform/db/paradox/PxCrypt.h"
#include "platform/db/paradox/PxFormat.h"

namespace kdb {

using namespace paradox;

namespace {

// Lock bytes far beyond any table data (the locks are advisory).
constexpr uint64_t kLockBase = uint64_t{1} << 40;
constexpr uint64_t kOpenLock = kLockBase;  // shared by every open, exclusive for an exclusive open
constexpr uint64_t kTableLock = kLockBase + 1;  // lockTable(); appends take it shared for a moment
constexpr uint64_t kWriteLock = kLockBase + 2;  // held while the file is being changed
constexpr uint64_t kRecordLocks = kLockBase + 16;
constexpr int kWriteLockWaitMs = 5000;
constexpr uint32_t kGone = 0xFFFFFFFFu;
constexpr int kMaxHandlerCalls = 8;
constexpr uint32_t kMaxBlocks = 0xFFFF;

[[noreturn]] void damaged(const std::string& path, const std::string& what)
{
    throw EDBEngineError::fileCorrupt(path, what);
}

[[noreturn]] void changedElsewhere(const std::string& path)
{
    throw EDBEngineError::locked(path, "the table was changed by another program; its records were renumbered");
}

FieldInfo fieldInfoOf(const PxField& f)
{
    FieldInfo i;
    i.name = fromCp1252(f.name).toStdString();
    i.width = f.length;
    i.offset = f.offset;
    switch (f.code) {
    case ftAlpha:
        i.type = fldZSTRING;
        i.nativeType = 'A';
        break;
    case ftDate:
        i.type = fldDATE;
        i.nativeType = 'D';
        break;
    case ftShort:
        i.type = fldINT16;
        i.nativeType = 'S';
        break;
    case ftLong:
        i.type = fldINT32;
        i.nativeType = 'I';
        break;
    case ftAutoInc:
        i.type = fldINT32;
        i.subType = fldstAUTOINC;
        i.nativeType = '+';
        break;
    case ftMoney:
        i.type = fldFLOAT;
        i.nativeType = '$';
        i.decimals = 2;
        break;
    case ftNumber:
        i.type = fldFLOAT;
        i.nativeType = 'N';
        break;
    case ftLogical:
        i.type = fldBOOL;
        i.nativeType = 'L';
        break;
    case ftMemo:
        i.type = fldBLOB;
        i.subType = fldstMEMO;
        i.nativeType = 'M';
        break;
    case ftFmtMemo:
        i.type = fldBLOB;
        i.subType = fldstMEMO;
        i.nativeType = 'F';
        break;
    case ftBlob:
        i.type = fldBLOB;
        i.nativeType = 'B';
        break;
    case ftOle:
        i.type = fldBLOB;
        i.nativeType = 'O';
        break;
    case ftGraphic:
        i.type = fldBLOB;
        i.nativeType = 'G';
        break;
    case ftTime:
        i.type = fldTIME;
        i.nativeType = 'T';
        break;
    case ftTimestamp:
        i.type = fldTIMESTAMP;
        i.nativeType = '@';
        break;
    case ftBcd:
        i.type = fldBCD;
        i.nativeType = '#';
        i.decimals = f.size;
        break;
    case ftBytes:
        i.type = fldUNKNOWN;
        i.nativeType = 'Y';
        break;
    default:
        break;
    }
    return i;
}

bool isBlobCode(uint8_t c)
{
    return c == ftMemo || c == ftBlob || c == ftFmtMemo || c == ftOle || c == ftGraphic;
}

class PxTable final : public ParadoxTable {
public:
    PxTable(std::string path, const TableOpenMode& mode) : path_(std::move(path)), mode_(mode) { }
    ~PxTable() override = default;

    void openFile();

    // ---- Table ------------------------------------------------------------
    std::string tableType() const override { return "PARADOX"; }
    std::string filePath() const override { return path_; }
    bool isExclusive() const override { return mode_.exclusive; }
    bool isReadOnly() const override { return mode_.readOnly; }
    const std::vector<FieldInfo>& fields() const override { return fields_; }
    uint32_t recordSize() const override { return hdr_.recordSize; }
    uint32_t recordCount() const override { return static_cast<uint32_t>(map_.size()); }
    bool isDeleted(uint32_t recNo) override;
    QVariant value(uint32_t recNo, int field) override;
    std::string_view rawField(uint32_t recNo, int field) override;
    uint32_t append(const std::vector<QVariant>& values) override;
    void update(uint32_t recNo, const std::vector<QVariant>& values) override;
    void deleteRecord(uint32_t recNo) override;
    void undeleteRecord(uint32_t recNo) override;
    void flush() override;
    void refresh() override;
    bool lockRecord(uint32_t recNo) override;
    void unlockRecord(uint32_t recNo) override;
    bool lockTable() override;
    void unlockTable() override;
    std::vector<TagInfo> tags() const override { return {}; }
    std::unique_ptr<TagCursor> openTag(std::string_view tagName) override;

private:
    struct ChainEntry {
        uint16_t block;
        uint16_t count;
    };

    void unlockProtection();
    void readDynamicHeader(const std::vector<uint8_t>& bytes);
    void loadChain();
    void resetMap();
    uint32_t physicalBlocks() const;
    uint64_t blockPos(uint16_t b) const { return hdr_.headerSize + uint64_t{b - 1u} * hdr_.blockSize; }
    uint32_t capacity() const { return (hdr_.blockSize - kBlockHeader) / hdr_.recordSize; }
    void readBlock(uint16_t b, std::vector<uint8_t>& buf) const;
    void writeBlock(uint16_t b, const std::vector<uint8_t>& buf);
    // Writes the changed block `now`; should the write fail, part written
    // or not, the block as it `was` goes back before the error goes on.
    void rewriteBlock(uint16_t b, const std::vector<uint8_t>& now, const std::vector<uint8_t>& was);
    void writeHeader();
    std::pair<size_t, uint32_t> locate(uint32_t ordinal) const;
    const uint8_t* recordPtr(uint32_t recNo);
    void checkRecNo(uint32_t recNo) const;
    void checkField(int field) const;
    void checkWritable() const;
    template <class Op> void writeOp(Op op);
    // A write to the existing record recNo: writeOp after a check of the
    // number, which is checked again once the table is current.
    template <class Op> void recordWriteOp(uint32_t recNo, Op op);
    // The fixed part of the header as the file holds it now.
    std::vector<uint8_t> readFixedHeader() const;
    // Takes the header and the block chain from the file again.
    void reloadHeader();
    void syncWithDisk();
    void encodeRecord(
        const std::vector<QVariant>& values, std::vector<uint8_t>& rec, const uint8_t* old, int32_t& counter) const;
    uint32_t appendRaw(const std::vector<uint8_t>& rec);
    void removeAt(uint32_t ordinal);
    uint16_t allocateBlock();
    void freeBlock(uint16_t b);
    bool inChain(uint16_t b) const;
    void rebuildStarts();

    std::string path_;
    TableOpenMode mode_;
    File file_;
    PxHeader hdr_;
    std::vector<FieldInfo> fields_;
    std::optional<TableKey> key_;
    std::vector<ChainEntry> chain_;
    std::vector<uint32_t> start_;  // first ordinal of each chain entry
    uint32_t physCount_ = 0;
    std::vector<uint32_t> map_;  // record number - 1 -> ordinal in chain order, or kGone
    std::map<uint32_t, std::vector<uint8_t>> gone_;  // removed records, by record number
    uint16_t cacheBlock_ = 0;
    std::vector<uint8_t> cache_;
    bool stale_ = false;
    bool tableLocked_ = false;
    std::set<uint32_t> recordLocks_;
};

// ---- opening ----------------------------------------------------------------

void PxTable::openFile()
{
    if (!fileExists(path_))
        throw EDBEngineError::noSuchTable(path_);
    const bool wantWrite = !mode_.readOnly || mode_.exclusive;
    file_ = File::tryOpen(path_, wantWrite ? File::Mode::ReadWrite : File::Mode::ReadOnly);
    if (!file_.isOpen())
        file_ = File::open(path_, mode_.readOnly ? File::Mode::ReadOnly : File::Mode::ReadWrite);
    if (!file_.tryLock(kOpenLock, 1, mode_.exclusive && file_.writable()))
        throw EDBEngineError::tableInUse(path_);

    if (!file_.lockWait(kWriteLock, 1, false, kWriteLockWaitMs))
        throw EDBEngineError::locked(path_, "table busy");
    try {
        const uint64_t size = file_.size();
        std::vector<uint8_t> head(static_cast<size_t>(std::min<uint64_t>(size, 0x58)));
        file_.readExact(0, head.data(), head.size(), DBERR_HEADERCORRUPT);
        if (head.size() >= 4) {
            const size_t headerSize = getU16(&head[hHeaderSize]);
            if (headerSize > head.size() && headerSize <= size) {
                head.resize(headerSize);
                file_.readExact(0, head.data(), head.size(), DBERR_HEADERCORRUPT);
            }
        }
        hdr_ = parseHeader(head, size);
        fields_.clear();
        for (const PxField& f : hdr_.fields)
            fields_.push_back(fieldInfoOf(f));
    } catch (...) {
        file_.unlock(kWriteLock, 1);
        throw;
    }
    file_.unlock(kWriteLock, 1);
    // The password handler may ask the user: no lock is held meanwhile.
    if (hdr_.checksum != 0)
        unlockProtection();
    refresh();
}

void PxTable::unlockProtection()
{
    const uint8_t* area = hdr_.raw.data() + hdr_.cryptInfoOffset;
    if (!isOwnProtection(area, hdr_.raw.size() - hdr_.cryptInfoOffset) || protectionChecksum(area) != hdr_.checksum)
        throw EDBEngineError::notSupported(path_, "the table is protected by a scheme this engine does not know");
    auto& session = Session::instance();
    for (int calls = 0;; ++calls) {
        key_ = unlock(area, kCryptInfoSize, session.passwords());
        if (key_)
            return;
        const Session::PasswordHandler handler = session.passwordHandler();
        if (!handler || calls >= kMaxHandlerCalls)
            break;
        const std::set<std::string> before(session.passwords().begin(), session.passwords().end());
        bool retry = false;
        handler(retry);
        const std::set<std::string> after(session.passwords().begin(), session.passwords().end());
        if (!retry || before == after)
            break;
    }
    throw EDBEngineError::invalidPassword(path_);
}

void PxTable::readDynamicHeader(const std::vector<uint8_t>& b)
{
    if (getU16(&b[hRecordSize]) != hdr_.recordSize || getU16(&b[hHeaderSize]) != hdr_.headerSize ||
        getU16(&b[hNumFields]) != hdr_.fields.size() || b[hMaxTableSize] * 1024u != hdr_.blockSize)
        throw EDBEngineError::headerCorrupt(path_, "the table was restructured by another program");
    std::copy(b.begin(), b.end(), hdr_.raw.begin());
    hdr_.numRecords = getU32(&b[hNumRecords]);
    hdr_.fileBlocks = getU16(&b[hFileBlocks]);
    hdr_.firstBlock = getU16(&b[hFirstBlock]);
    hdr_.lastBlock = getU16(&b[hLastBlock]);
    hdr_.autoInc = static_cast<int32_t>(getU32(&b[hAutoInc]));
    hdr_.firstFree = getU16(&b[hFirstFree]);
}

uint32_t PxTable::physicalBlocks() const
{
    const uint64_t size = file_.size();
    if (size <= hdr_.headerSize)
        return 0;
    return static_cast<uint32_t>(std::min<uint64_t>((size - hdr_.headerSize) / hdr_.blockSize, kMaxBlocks));
}

void PxTable::loadChain()
{
    chain_.clear();
    cacheBlock_ = 0;
    const uint32_t phys = physicalBlocks();
    std::vector<bool> seen(phys + 1, false);
    const uint32_t rs = hdr_.recordSize;
    uint16_t b = hdr_.firstBlock;
    uint16_t prev = 0;
    while (b != 0) {
        if (b > phys)
            damaged(path_, "block " + std::to_string(b) + " lies beyond the end of the file");
        if (seen[b])
            damaged(path_, "the block chain loops at block " + std::to_string(b));
        seen[b] = true;
        uint8_t raw[kBlockHeader];
        file_.readExact(blockPos(b), raw, sizeof(raw), DBERR_FILECORRUPT);
        if (key_)
            cryptBlock(raw, sizeof(raw), b, *key_);
        const BlockHead h = getBlockHead(raw);
        const int32_t used = int32_t{h.addDataSize} + static_cast<int32_t>(rs);
        if (used < 0 || used % static_cast<int32_t>(rs) != 0 || static_cast<uint32_t>(used) / rs > capacity())
            damaged(path_, "block " + std::to_string(b) + " has an impossible record count");
        chain_.push_back({b, static_cast<uint16_t>(static_cast<uint32_t>(used) / rs)});
        prev = b;
        b = h.next;
    }
    if (!chain_.empty())
        hdr_.lastBlock = prev;
    else
        hdr_.firstBlock = hdr_.lastBlock = 0;
    rebuildStarts();
}

void PxTable::rebuildStarts()
{
    start_.resize(chain_.size());
    uint32_t n = 0;
    for (size_t i = 0; i < chain_.size(); ++i) {
        start_[i] = n;
        n += chain_[i].count;
    }
    physCount_ = n;
}

void PxTable::resetMap()
{
    map_.resize(physCount_);
    for (uint32_t i = 0; i < physCount_; ++i)
        map_[i] = i;
    gone_.clear();
    stale_ = false;
}

// ---- block and header I/O ----------------------------------------------------

void PxTable::readBlock(uint16_t b, std::vector<uint8_t>& buf) const
{
    buf.resize(hdr_.blockSize);
    file_.readExact(blockPos(b), buf.data(), buf.size(), DBERR_FILECORRUPT);
    if (key_)
        cryptBlock(buf.data(), buf.size(), b, *key_);
}

void PxTable::writeBlock(uint16_t b, const std::vector<uint8_t>& buf)
{
    if (key_) {
        std::vector<uint8_t> enc(buf);
        cryptBlock(enc.data(), enc.size(), b, *key_);
        file_.writeAt(blockPos(b), enc.data(), enc.size());
    } else {
        file_.writeAt(blockPos(b), buf.data(), buf.size());
    }
    if (b == cacheBlock_)
        cacheBlock_ = 0;
}

void PxTable::rewriteBlock(uint16_t b, const std::vector<uint8_t>& now, const std::vector<uint8_t>& was)
{
    try {
        writeBlock(b, now);
    } catch (const EDBEngineError&) {
        try {
            writeBlock(b, was);
        } catch (const EDBEngineError&) {
        }
        throw;
    }
}

void PxTable::writeHeader()
{
    uint8_t* r = hdr_.raw.data();
    putU32(r + hNumRecords, physCount_);
    putU16(r + hNextBlock, hdr_.fileBlocks);
    putU16(r + hFileBlocks, hdr_.fileBlocks);
    putU16(r + hFirstBlock, chain_.empty() ? 0 : chain_.front().block);
    putU16(r + hLastBlock, chain_.empty() ? 0 : chain_.back().block);
    putU16(r + hMaxBlocks, hdr_.fileBlocks);
    putU32(r + hAutoInc, static_cast<uint32_t>(hdr_.autoInc));
    putU16(r + hFirstFree, hdr_.firstFree);
    r[hChangeCount1] = static_cast<uint8_t>(r[hChangeCount1] + 1);
    hdr_.numRecords = physCount_;
    hdr_.firstBlock = chain_.empty() ? 0 : chain_.front().block;
    hdr_.lastBlock = chain_.empty() ? 0 : chain_.back().block;
    file_.writeAt(0, r, std::min<size_t>(hdr_.raw.size(), hFixedEnd));
}

std::pair<size_t, uint32_t> PxTable::locate(uint32_t ordinal) const
{
    const auto it = std::upper_bound(start_.begin(), start_.end(), ordinal);
    const size_t ci = static_cast<size_t>(it - start_.begin()) - 1;
    return {ci, ordinal - start_[ci]};
}

void PxTable::checkRecNo(uint32_t recNo) const
{
    if (recNo == 0 || recNo > map_.size())
        throw EDBEngineError::invalidParam(path_, "record number " + std::to_string(recNo) + " out of range");
}

void PxTable::checkField(int field) const
{
    if (field < 0 || field >= static_cast<int>(fields_.size()))
        throw EDBEngineError::invalidParam(path_, "field number " + std::to_string(field) + " out of range");
}

const uint8_t* PxTable::recordPtr(uint32_t recNo)
{
    checkRecNo(recNo);
    const uint32_t ord = map_[recNo - 1];
    if (ord == kGone)
        return gone_.at(recNo).data();
    const auto [ci, slot] = locate(ord);
    const ChainEntry& e = chain_[ci];
    if (cacheBlock_ != e.block) {
        cacheBlock_ = 0;
        readBlock(e.block, cache_);
        const BlockHead h = getBlockHead(cache_.data());
        if (int32_t{h.addDataSize} != (static_cast<int32_t>(e.count) - 1) * static_cast<int32_t>(hdr_.recordSize))
            changedElsewhere(path_);
        cacheBlock_ = e.block;
    }
    return cache_.data() + kBlockHeader + size_t{slot} * hdr_.recordSize;
}

// ---- reading -------------------------------------------------------------------

bool PxTable::isDeleted(uint32_t recNo)
{
    checkRecNo(recNo);
    return map_[recNo - 1] == kGone;
}

QVariant PxTable::value(uint32_t recNo, int field)
{
    checkField(field);
    const uint8_t* rec = recordPtr(recNo);
    const PxField& f = hdr_.fields[static_cast<size_t>(field)];
    return decodeValue(f, rec + f.offset);
}

std::string_view PxTable::rawField(uint32_t recNo, int field)
{
    checkField(field);
    const uint8_t* rec = recordPtr(recNo);
    const PxField& f = hdr_.fields[static_cast<size_t>(field)];
    return {reinterpret_cast<const char*>(rec + f.offset), f.length};
}

std::unique_ptr<TagCursor> PxTable::openTag(std::string_view tagName)
{
    throw EDBEngineError::invalidParam(path_, "no such tag " + std::string(tagName));
}

// ---- writing -------------------------------------------------------------------

void PxTable::checkWritable() const
{
    if (mode_.readOnly || !file_.writable())
        throw EDBEngineError::notWritable(path_, 0);
    if (hdr_.keyFields != 0 || hdr_.fileType == 0)
        throw EDBEngineError::notSupported(path_, "keyed tables are read-only in this engine");
}

template <class Op> void PxTable::writeOp(Op op)
{
    checkWritable();
    const bool sharedTable = !tableLocked_;
    if (sharedTable && !file_.tryLock(kTableLock, 1, false))
        throw EDBEngineError::locked(path_, "the table is locked by another program");
    if (!file_.lockWait(kWriteLock, 1, true, kWriteLockWaitMs)) {
        if (sharedTable)
            file_.unlock(kTableLock, 1);
        throw EDBEngineError::locked(path_, "the table is busy");
    }
    const auto release = [&] {
        file_.unlock(kWriteLock, 1);
        if (sharedTable)
            file_.unlock(kTableLock, 1);
    };
    uint32_t countBefore = 0;
    bool synced = false;
    try {
        cacheBlock_ = 0;
        syncWithDisk();
        synced = true;
        countBefore = physCount_;
        op();
    } catch (...) {
        cacheBlock_ = 0;
        if (synced) {
            // The memory copy of the header and chain may be half changed:
            // take them from the file again.
            try {
                reloadHeader();
                if (physCount_ != countBefore) {
                    resetMap();
                    stale_ = true;
                }
            } catch (const EDBEngineError&) {
            }
        }
        release();
        throw;
    }
    release();
}

template <class Op> void PxTable::recordWriteOp(uint32_t recNo, Op op)
{
    checkRecNo(recNo);
    writeOp([&] {
        if (stale_) {
            stale_ = false;
            changedElsewhere(path_);
        }
        checkRecNo(recNo);
        op();
    });
}

std::vector<uint8_t> PxTable::readFixedHeader() const
{
    std::vector<uint8_t> now(std::min<size_t>(hdr_.raw.size(), hFixedEnd));
    file_.readExact(0, now.data(), now.size(), DBERR_HEADERCORRUPT);
    return now;
}

void PxTable::reloadHeader()
{
    readDynamicHeader(readFixedHeader());
    loadChain();
}

void PxTable::syncWithDisk()
{
    const std::vector<uint8_t> now = readFixedHeader();
    if (std::equal(now.begin(), now.end(), hdr_.raw.begin()))
        return;
    const std::vector<ChainEntry> old = chain_;
    const uint32_t oldCount = physCount_;
    readDynamicHeader(now);
    loadChain();
    bool appendsOnly = chain_.size() >= old.size();
    for (size_t i = 0; appendsOnly && i < old.size(); ++i) {
        const bool last = i + 1 == old.size();
        appendsOnly = chain_[i].block == old[i].block &&
            (last ? chain_[i].count >= old[i].count : chain_[i].count == old[i].count);
    }
    if (appendsOnly) {
        for (uint32_t ord = oldCount; ord < physCount_; ++ord)
            map_.push_back(ord);
    } else {
        resetMap();
        stale_ = true;
    }
}

void PxTable::encodeRecord(
    const std::vector<QVariant>& values, std::vector<uint8_t>& rec, const uint8_t* old, int32_t& counter) const
{
    rec.assign(hdr_.recordSize, 0);
    for (size_t i = 0; i < hdr_.fields.size(); ++i) {
        const PxField& f = hdr_.fields[i];
        const QVariant v = i < values.size() ? values[i] : QVariant();
        uint8_t* p = rec.data() + f.offset;
        const bool blank = v.isNull() || !v.isValid() ||
            (v.typeId() == QMetaType::QString && v.toString().trimmed().isEmpty() && f.code != ftAlpha);
        if (f.code == ftAutoInc) {
            if (!blank) {
                encodeValue(f, v, p);
                counter = std::max(counter, decodeValue(f, p).toInt());
            } else if (old && !isBlank(f, old + f.offset)) {
                std::memcpy(p, old + f.offset, f.length);
            } else {
                if (counter == 0x7FFFFFFF)
                    throw EDBEngineError::invalidParam(path_, "the autoincrement counter is exhausted");
                ++counter;
                encodeValue(f, QVariant(counter), p);
            }
        } else if (isBlobCode(f.code)) {
            if (old && (blank || v == decodeValue(f, old + f.offset)))
                std::memcpy(p, old + f.offset, f.length);
            else if (!blank)
                encodeValue(f, v, p);  // raises: not supported
        } else {
            encodeValue(f, v, p);
        }
    }
}

bool PxTable::inChain(uint16_t b) const
{
    return std::any_of(chain_.begin(), chain_.end(), [b](const ChainEntry& e) { return e.block == b; });
}

uint16_t PxTable::allocateBlock()
{
    const uint32_t phys = physicalBlocks();
    if (hdr_.firstFree != 0) {
        const uint16_t b = hdr_.firstFree;
        hdr_.firstFree = 0;
        if (b <= phys && b <= hdr_.fileBlocks && !inChain(b)) {
            std::vector<uint8_t> buf;
            readBlock(b, buf);
            const uint16_t next = getU16(buf.data());
            if (next != b && next <= phys && !inChain(next))
                hdr_.firstFree = next;
            return b;
        }
    }
    // Every block of the chain lies inside the file (loadChain checks it).
    const uint32_t top = std::max<uint32_t>(hdr_.fileBlocks, phys);
    if (top >= kMaxBlocks)
        throw EDBEngineError::writeFailed(path_, 0, "the table is full");
    hdr_.fileBlocks = static_cast<uint16_t>(top + 1);
    return hdr_.fileBlocks;
}

void PxTable::freeBlock(uint16_t b)
{
    std::vector<uint8_t> buf(hdr_.blockSize, 0);
    putU16(buf.data(), hdr_.firstFree);
    writeBlock(b, buf);
    hdr_.firstFree = b;
}

uint32_t PxTable::appendRaw(const std::vector<uint8_t>& rec)
{
    const uint32_t rs = hdr_.recordSize;
    std::vector<uint8_t> buf;
    if (!chain_.empty() && chain_.back().count < capacity()) {
        ChainEntry& e = chain_.back();
        readBlock(e.block, buf);
        const std::vector<uint8_t> was = buf;
        std::memcpy(buf.data() + kBlockHeader + size_t{e.count} * rs, rec.data(), rs);
        BlockHead h = getBlockHead(buf.data());
        h.addDataSize = static_cast<int16_t>(e.count * rs);
        putBlockHead(buf.data(), h);
        rewriteBlock(e.block, buf, was);
        ++e.count;
    } else {
        const uint16_t nb = allocateBlock();
        buf.assign(hdr_.blockSize, 0);
        putBlockHead(buf.data(), {0, chain_.empty() ? uint16_t{0} : chain_.back().block, 0});
        std::memcpy(buf.data() + kBlockHeader, rec.data(), rs);
        writeBlock(nb, buf);
        if (!chain_.empty()) {
            const uint16_t last = chain_.back().block;
            readBlock(last, buf);
            const std::vector<uint8_t> was = buf;
            BlockHead h = getBlockHead(buf.data());
            h.next = nb;
            putBlockHead(buf.data(), h);
            rewriteBlock(last, buf, was);
        }
        chain_.push_back({nb, 1});
    }
    rebuildStarts();
    writeHeader();
    return physCount_ - 1;
}

void PxTable::removeAt(uint32_t ordinal)
{
    const uint32_t rs = hdr_.recordSize;
    const auto [ci, slot] = locate(ordinal);
    ChainEntry& e = chain_[ci];
    std::vector<uint8_t> buf;
    readBlock(e.block, buf);
    const std::vector<uint8_t> was = buf;
    uint8_t* recs = buf.data() + kBlockHeader;
    std::memmove(recs + size_t{slot} * rs, recs + size_t{slot + 1u} * rs, size_t{e.count - slot - 1u} * rs);
    std::memset(recs + size_t{e.count - 1u} * rs, 0, rs);
    --e.count;
    BlockHead h = getBlockHead(buf.data());
    h.addDataSize = static_cast<int16_t>((static_cast<int32_t>(e.count) - 1) * static_cast<int32_t>(rs));
    if (e.count > 0 || chain_.size() == 1) {
        putBlockHead(buf.data(), h);
        rewriteBlock(e.block, buf, was);
    } else if (ci == 0) {
        // The first block stays first: the next block's records move into it.
        const ChainEntry nextEntry = chain_[1];
        std::vector<uint8_t> nbuf;
        readBlock(nextEntry.block, nbuf);
        const BlockHead nh = getBlockHead(nbuf.data());
        std::memcpy(recs, nbuf.data() + kBlockHeader, size_t{nextEntry.count} * rs);
        h.next = nh.next;
        h.addDataSize = static_cast<int16_t>((static_cast<int32_t>(nextEntry.count) - 1) * static_cast<int32_t>(rs));
        putBlockHead(buf.data(), h);
        writeBlock(e.block, buf);
        if (nh.next != 0) {
            std::vector<uint8_t> after;
            readBlock(nh.next, after);
            BlockHead ah = getBlockHead(after.data());
            ah.prev = e.block;
            putBlockHead(after.data(), ah);
            writeBlock(nh.next, after);
        }
        e.count = nextEntry.count;
        chain_.erase(chain_.begin() + 1);
        freeBlock(nextEntry.block);
    } else {
        const uint16_t prevBlock = chain_[ci - 1].block;
        const uint16_t nextBlock = ci + 1 < chain_.size() ? chain_[ci + 1].block : 0;
        std::vector<uint8_t> other;
        readBlock(prevBlock, other);
        BlockHead ph = getBlockHead(other.data());
        ph.next = nextBlock;
        putBlockHead(other.data(), ph);
        writeBlock(prevBlock, other);
        if (nextBlock != 0) {
            readBlock(nextBlock, other);
            BlockHead nh = getBlockHead(other.data());
            nh.prev = prevBlock;
            putBlockHead(other.data(), nh);
            writeBlock(nextBlock, other);
        }
        const uint16_t freed = e.block;
        chain_.erase(chain_.begin() + static_cast<std::ptrdiff_t>(ci));
        freeBlock(freed);
    }
    rebuildStarts();
    writeHeader();
}

uint32_t PxTable::append(const std::vector<QVariant>& values)
{
    uint32_t recNo = 0;
    writeOp([&] {
        int32_t counter = hdr_.autoInc;
        std::vector<uint8_t> rec;
        encodeRecord(values, rec, nullptr, counter);
        const int32_t before = hdr_.autoInc;
        hdr_.autoInc = counter;
        try {
            const uint32_t ord = appendRaw(rec);
            map_.push_back(ord);
            recNo = static_cast<uint32_t>(map_.size());
        } catch (...) {
            hdr_.autoInc = before;
            throw;
        }
    });
    return recNo;
}

void PxTable::update(uint32_t recNo, const std::vector<QVariant>& values)
{
    recordWriteOp(recNo, [&] {
        const uint32_t ord = map_[recNo - 1];
        if (ord == kGone)
            throw EDBEngineError::invalidParam(path_, "record " + std::to_string(recNo) + " is deleted");
        const auto [ci, slot] = locate(ord);
        const uint16_t b = chain_[ci].block;
        std::vector<uint8_t> buf;
        readBlock(b, buf);
        const std::vector<uint8_t> was = buf;
        uint8_t* p = buf.data() + kBlockHeader + size_t{slot} * hdr_.recordSize;
        int32_t counter = hdr_.autoInc;
        std::vector<uint8_t> rec;
        encodeRecord(values, rec, p, counter);
        std::memcpy(p, rec.data(), rec.size());
        rewriteBlock(b, buf, was);
        if (counter != hdr_.autoInc) {
            hdr_.autoInc = counter;
            writeHeader();
        }
    });
}

void PxTable::deleteRecord(uint32_t recNo)
{
    recordWriteOp(recNo, [&] {
        const uint32_t ord = map_[recNo - 1];
        if (ord == kGone)
            return;
        const auto [ci, slot] = locate(ord);
        std::vector<uint8_t> buf;
        readBlock(chain_[ci].block, buf);
        const uint8_t* p = buf.data() + kBlockHeader + size_t{slot} * hdr_.recordSize;
        std::vector<uint8_t> saved(p, p + hdr_.recordSize);
        removeAt(ord);
        gone_[recNo] = std::move(saved);
        map_[recNo - 1] = kGone;
        for (uint32_t& m : map_)
            if (m != kGone && m > ord)
                --m;
    });
}

void PxTable::undeleteRecord(uint32_t recNo)
{
    recordWriteOp(recNo, [&] {
        const auto it = gone_.find(recNo);
        if (map_[recNo - 1] != kGone || it == gone_.end())
            return;
        map_[recNo - 1] = appendRaw(it->second);
        gone_.erase(it);
    });
}

void PxTable::flush()
{
    if (file_.writable())
        file_.sync();
}

void PxTable::refresh()
{
    if (!file_.lockWait(kWriteLock, 1, false, kWriteLockWaitMs))
        throw EDBEngineError::locked(path_, "the table is busy");
    try {
        reloadHeader();
        resetMap();
    } catch (...) {
        file_.unlock(kWriteLock, 1);
        throw;
    }
    file_.unlock(kWriteLock, 1);
}

// ---- locks -----------------------------------------------------------------------

bool PxTable::lockRecord(uint32_t recNo)
{
    checkRecNo(recNo);
    if (recordLocks_.count(recNo))
        return true;
    if (!file_.tryLock(kRecordLocks + recNo, 1, true))
        return false;
    recordLocks_.insert(recNo);
    return true;
}

void PxTable::unlockRecord(uint32_t recNo)
{
    if (recordLocks_.erase(recNo))
        file_.unlock(kRecordLocks + recNo, 1);
}

bool PxTable::lockTable()
{
    if (tableLocked_)
        return true;
    if (!file_.tryLock(kTableLock, 1, true))
        return false;
    tableLocked_ = true;
    return true;
}

void PxTable::unlockTable()
{
    if (tableLocked_) {
        file_.unlock(kTableLock, 1);
        tableLocked_ = false;
    }
}

}  // namespace

std::unique_ptr<Table> ParadoxTable::open(const std::string& path, const TableOpenMode& mode)
{
    auto t = std::make_unique<PxTable>(path, mode);
    t->openFile();
    return t;
}

}  // namespace kdb
