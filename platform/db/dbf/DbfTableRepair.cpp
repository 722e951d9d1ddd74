#include "platform/db/dbf/DbfTable.h"

#include "platform/db/dbf/DbfTableDetail.h"

namespace kdb {

// ---- damage: survey and repair ---------------------------------------------------

bool DbfTable::Survey::damaged() const
{
    return countInHeader != recordsInFile || badMemoPointers > 0 || unreadableValues > 0 || memoFileLost ||
        badMemoNextFree || readableAfterCount > 0 || bytesAfterRecords > 0 || !memoHeaderDamage.empty();
}

// The files a pack, a restructure or a creation writes beside the table and
// renames over it when complete: one left behind by a program killed before
// the rename is only a part of the work (the table is still the old one; a
// pack marked complete was finished before this is called).
void DbfTable::removeLeftovers()
{
    for (const std::string& tmp :
        {path_ + ".tmp~", indexPath() + ".tmp~", companionPath(path_, ".DBT") + ".tmp~"})
        if (fileExists(tmp))
            removeFile(tmp);
}

// Walks the records as stored (the partial record a short file ends with
// included); calls visit with each record's bytes and its number (0 for the
// partial one).
DbfTable::Survey DbfTable::walkStored(const std::function<void(uint32_t recNo, std::string& rec)>& visit)
{
    Survey s;
    unsigned char c[4];
    file_.readExact(4, c, 4, DBERR_HEADERCORRUPT);
    s.countInHeader = le32(c);
    const uint64_t fsize = file_.size();
    const uint64_t body = fsize > headerLen_ ? fsize - headerLen_ : 0;
    s.recordsInFile = static_cast<uint32_t>(std::min<uint64_t>(body / recLen_, UINT32_MAX));
    count_ = std::min(s.countInHeader, s.recordsInFile);
    if (s.recordsInFile >= s.countInHeader) {
        // After the counted records: those that read as records are taken
        // back by the repair, what follows them is removed.
        const AfterCount after = lookAfterCount(s.countInHeader);
        s.readableAfterCount = after.readable;
        s.bytesAfterRecords = after.noise ? 0 : after.rest;
        count_ = s.countInHeader + after.readable;
    }
    invalidateCache();
    // The bytes of a record the file ends inside of (an end marker alone is
    // no record).
    std::string partial;
    if (s.countInHeader > s.recordsInFile) {
        partial.resize(static_cast<size_t>(body - uint64_t(s.recordsInFile) * recLen_));
        if (!partial.empty())
            file_.readExact(
                headerLen_ + uint64_t(s.recordsInFile) * recLen_, partial.data(), partial.size(), DBERR_FILECORRUPT);
        if (partial.size() == 1 && partial[0] == 0x1A)
            partial.clear();
        s.partialRecord = !partial.empty();
    }
    s.memoFileLost = !dbt_.isOpen() && std::any_of(fields_.begin(), fields_.end(), dbfimpl::inMemoFile);
    s.memoHeaderDamage = memoHeaderDamage_;
    if (dbt_.isOpen() && dbt_.nextFreeImpossible())
        s.badMemoNextFree = true, s.memoNextFree = dbt_.nextFree();
    std::string rec;
    auto look = [&](uint32_t recNo) {
        for (const FieldInfo& f : fields_) {
            const std::string_view raw(rec.data() + f.offset, static_cast<size_t>(f.width));
            if (dbfimpl::inMemoFile(f)) {
                bool bad = false;
                const bool some = !memoText(raw, &bad).empty();
                s.badMemoPointers += bad;
                s.values += some;
            } else if (!fieldReadable(f, raw)) {
                ++s.unreadableValues;
            } else if (!trim(raw).empty()) {
                ++s.values;
            }
        }
        ++s.records;
        visit(recNo, rec);
    };
    for (uint32_t r = 1; r <= count_; ++r) {
        rec.assign(recordPtr(r), recLen_);
        look(r);
    }
    if (s.partialRecord) {
        rec = partial;
        rec.resize(recLen_, ' ');
        look(0);
    }
    return s;
}

DbfTable::Survey DbfTable::survey()
{
    return walkStored([](uint32_t, std::string&) {});
}

DbfTable::Survey DbfTable::repair()
{
    requireExclusive("Repair");
    const bool memo = std::any_of(fields_.begin(), fields_.end(), dbfimpl::inMemoFile);
    if (memo && !dbt_.isOpen()) {
        // A memo file that is missing or does not open: a new empty one (every
        // pointer is bad and blanked below).
        dbt_ = DbtFile::create(companionPath(path_, ".DBT"), baseNameOf(path_));
    } else if (!memoHeaderDamage_.empty()) {
        // A header without a block size: written anew with the one at
        // which the records find their memos.
        dbt_.writeHeader(baseNameOf(path_));
    }
    memoHeaderDamage_.clear();
    uint32_t partialAt = 0;
    const Survey s = walkStored([&](uint32_t recNo, std::string& rec) {
        std::string fixed = rec;
        for (const FieldInfo& f : fields_) {
            char* dst = fixed.data() + f.offset;
            const std::string_view raw(rec.data() + f.offset, static_cast<size_t>(f.width));
            bool bad = false;
            if (dbfimpl::inMemoFile(f))
                memoText(raw, &bad);
            else
                bad = !fieldReadable(f, raw);
            if (bad)
                std::memset(dst, f.nativeType == 'I' || f.nativeType == '+' || f.nativeType == 'O' ? 0 : ' ',
                    static_cast<size_t>(f.width));
        }
        if (recNo == 0) {
            // The partial record the file ends with, completed with blanks.
            fixed.push_back(0x1A);
            partialAt = 1;
            file_.writeAt(headerLen_ + uint64_t(count_) * recLen_, fixed.data(), fixed.size());
        } else if (fixed != rec) {
            file_.writeAt(headerLen_ + uint64_t(recNo - 1) * recLen_, fixed.data(), recLen_);
        }
    });
    if (s.countInHeader > s.recordsInFile) {
        if (!partialAt) {
            const char eof = 0x1A;
            file_.writeAt(headerLen_ + uint64_t(count_) * recLen_, &eof, 1);
        }
        writeCount(s.records);
    } else if (s.readableAfterCount > 0 || s.bytesAfterRecords > 0) {
        // Records nobody counted: those that read are counted, the file
        // ends with them.
        if (s.readableAfterCount > 0)
            writeCount(s.records);
        const uint64_t end = headerLen_ + uint64_t(s.records) * recLen_;
        const char eof = 0x1A;
        file_.writeAt(end, &eof, 1);
        file_.truncate(end + 1);
    }
    if (s.badMemoNextFree)
        dbt_.mendNextFree();
    if (dbt_.isOpen())
        dbt_.sync();
    file_.sync();
    count_ = s.records;
    invalidateCache();
    dropMap();
    mapFailed_ = false;
    if (mdx_)
        regenerateIndexes();
    return s;
}

// An index that does not open (damaged, half written, out of date): rebuilt
// from the tag descriptions its file still holds; without readable ones (or
// with tags that no longer fit the table) the index file is removed. Answers
// whether the tags were kept.
bool DbfTable::rebuildIndexFromFile()
{
    requireExclusive("Index regeneration");
    std::vector<TagInfo> specs;
    bool kept = false;
    try {
        specs = tagInfosOf(indexPath());
        std::vector<Tag> compiled;
        compileTags(specs, compiled);
        kept = !specs.empty();
    } catch (const EDBEngineError&) {
        specs.clear();
    }
    setTags(specs);
    return kept;
}

}  // namespace kdb
