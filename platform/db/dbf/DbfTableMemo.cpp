// The memo file seen from the table: where a new memo may go, and the
// block size of a memo file whose header lost it, told by the records.
#include "platform/db/dbf/DbfTable.h"

#include "platform/db/core/DamageLog.h"
#include "platform/db/dbf/DbfTableDetail.h"

namespace kdb {

namespace {

// Calls visit with each memo block the record points to (blanks, 0 and
// bytes that are no block number left out).
template <class Visit>
void eachMemoBlock(const std::vector<FieldInfo>& fields, const char* rec, Visit visit)
{
    for (const FieldInfo& f : fields) {
        if (!inMemoFile(f))
            continue;
        const std::optional<uint32_t> block =
            memoBlockOf(std::string_view(rec + f.offset, static_cast<size_t>(f.width)));
        if (block && *block != 0)
            visit(*block);
    }
}

}  // namespace

std::vector<DbtFile::Claim> DbfTable::memoClaims()
{
    const uint64_t end = dbt_.blockCount();
    std::vector<DbtFile::Claim> claims;
    uint32_t lastWithin = 0;
    for (uint32_t r = 1; r <= count_; ++r)
        eachMemoBlock(fields_, recordPtr(r), [&](uint32_t block) {
            if (block >= end)
                claims.push_back({block, uint64_t(block) + 1});
            else
                lastWithin = std::max(lastWithin, block);
        });
    // Of the memos within the file, the last one alone can run past its
    // end (cut short): it ends where its header says.
    if (lastWithin != 0) {
        const uint64_t last = dbt_.memoEnd(lastWithin);
        if (last > end)
            claims.push_back({end, last});
    }
    return claims;
}

uint32_t DbfTable::appendMemo(const std::string& data)
{
    // Looked for once per open of the memo file (the appends of every
    // program go to its end, never where a record already points), and
    // again before a refusal (the check may have mended the file since).
    if (!dbt_.claimsKnown())
        dbt_.setClaims(memoClaims());
    const uint64_t at = dbt_.appendBlock(), blocks = dbt_.blocksFor(data.size());
    if (dbt_.claimed(at, at + blocks)) {
        dbt_.setClaims(memoClaims());
        if (const DbtFile::Claim* c = dbt_.claimed(at, at + blocks))
            throw EDBEngineError::memoCorrupt(dbt_.path(),
                "memo file cut short: a record points to block " + std::to_string(c->first) +
                    ", beyond its end, where a new memo would go");
    }
    const uint32_t block = dbt_.append(data);
    if (const std::optional<uint32_t> stated = dbt_.takeMendedNextFree())
        logDamage(path_,
            "fichier des mémos : premier bloc libre impossible (" + std::to_string(*stated) +
                "), remis à la fin du fichier par l'écriture d'un mémo");
    return block;
}

void DbfTable::openMemoForRepair(const std::string& dbtPath, DbtFile::Layout layout)
{
    DbtFile::Header found;
    dbt_ = DbtFile::openDamaged(dbtPath, layout, file_.writable(), found);
    if (!found.unreadable())
        return;  // a next-free block that cannot be: surveyed as such
    memoHeaderDamage_ = found.french();
    // The blocks some records point to (a sample is enough to tell).
    std::vector<uint32_t> pointers;
    constexpr size_t kSample = 256;
    for (uint32_t r = 1; r <= count_ && pointers.size() < kSample; ++r)
        eachMemoBlock(fields_, recordPtr(r), [&](uint32_t block) { pointers.push_back(block); });
    // The block size at which they find the most memos: the one the
    // header gives, then every size dBASE sets (1 to 32 sectors); on a tie
    // the header's, else the smaller.
    std::vector<uint32_t> sizes{found.blockSize};
    if (layout == DbtFile::Layout::New)
        for (uint32_t k = 1; k <= 32; ++k)
            if (k * 512 != found.blockSize)
                sizes.push_back(k * 512);
    uint32_t best = 0;
    size_t bestFound = 0;
    for (uint32_t size : sizes) {
        dbt_.setBlockSize(size);
        size_t n = 0;
        for (uint32_t block : pointers)
            n += dbt_.holdsMemoAt(block);
        if (n > bestFound)
            best = size, bestFound = n;
    }
    if (bestFound == 0) {
        dbt_.close();  // nothing to save: the repair makes the file anew
        return;
    }
    dbt_.setBlockSize(best);
}

}  // namespace kdb
