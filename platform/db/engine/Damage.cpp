#include "platform/db/engine/Damage.h"

#include <ctime>
#include <filesystem>
#include <system_error>

#include "platform/db/core/File.h"
#include "platform/db/dbf/DbfTable.h"

namespace kdb::engine {

DamageReport repairTable(const std::string& directory, const std::string& tableName, bool indexStale)
{
    DamageReport r;
    bool exists = false;
    const std::string path = findFileNoCase(directory.empty() ? "." : directory, tableName, exists);
    const auto dot = path.find_last_of('.');
    std::string ext = dot == std::string::npos ? std::string() : path.substr(dot);
    for (auto& c : ext)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (!exists || ext != ".DBF")
        return r;
    r.table = path;
    try {
        // A header that keeps the table from opening: kept as found, then
        // mended when the rest of the header tells how.
        const DbfTable::HeaderRepair header = DbfTable::repairHeader(path, false);
        if (header.damaged) {
            r.headerDamage = header.what;
            r.copyDir = keepDamagedCopy(path);
            if (!header.repairable) {
                r.headerUnrepairable = true;
                r.error = DBERR_HEADERCORRUPT;
                return r;
            }
            DbfTable::repairHeader(path, true);
        }
        TableOpenMode mode;
        mode.exclusive = true;
        mode.forRepair = true;
        auto t = DbfTable::open(path, mode);
        const DbfTable::Survey s = t->survey();
        // A short file's index holds entries of records it lost: rebuilt
        // with the repair, and not a damage of its own.
        r.staleIndex = indexStale && s.countInHeader <= s.recordsInFile;
        if (s.countInHeader > s.recordsInFile) {
            r.recordsAnnounced = s.countInHeader;
            r.recordsInFile = s.recordsInFile;
            r.partialRecord = s.partialRecord;
        } else {
            r.recordsTakenBack = s.readableAfterCount;
            r.recordsAfterCount = s.recordsInFile - s.countInHeader - s.readableAfterCount;
            r.bytesAfterRecords = s.bytesAfterRecords;
        }
        r.memoFileLost = s.memoFileLost;
        r.memoHeaderDamage = s.memoHeaderDamage;
        r.badMemoPointers = s.badMemoPointers;
        r.badMemoNextFree = s.badMemoNextFree;
        r.memoNextFree = s.memoNextFree;
        r.unreadableValues = s.unreadableValues;
        r.records = s.records;
        r.values = s.values;
        if (!r.damaged())
            return r;
        if (r.copyDir.empty())
            r.copyDir = keepDamagedCopy(path);
        if (s.damaged())
            t->repair();
        if (t->hasIndexFlag())
            r.indexTagsLost = !t->rebuildIndexFromFile() && r.staleIndex;
    } catch (const EDBEngineError& e) {
        r.error = e.code() ? e.code() : DBERR_OPENFAILED;
    } catch (const std::exception&) {
        r.error = DBERR_OPENFAILED;
    }
    return r;
}

}  // namespace kdb::engine
