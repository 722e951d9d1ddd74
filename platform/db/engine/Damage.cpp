#include "platform/db/engine/Damage.h"

#include <ctime>
#include <filesystem>
#include <system_error>

#include "platform/db/core/File.h"
#include "platform/db/dbf/DbfTable.h"

namespace kdb::engine {

namespace {
std::string today()
{
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[16];
    std::strftime(buf, sizeof buf, "%Y-%m-%d", &tm);
    return buf;
}
}  // namespace

std::string keepDamagedCopy(const std::string& tablePath)
{
    namespace fs = std::filesystem;
    const fs::path table(tablePath);
    const fs::path dir = table.parent_path();
    const std::string base = table.stem().string();
    std::vector<fs::path> files{table};
    for (const char* ext : {".DBT", ".MDX"}) {
        bool exists = false;
        const std::string p = findFileNoCase(dir.empty() ? "." : dir.string(), base + ext, exists);
        if (exists)
            files.emplace_back(p);
    }
    const std::string day = today();
    fs::path target;
    for (int n = 1;; ++n) {
        target = dir / "Damaged" / (n == 1 ? day : day + "-" + std::to_string(n));
        if (!fs::exists(target / table.filename()))
            break;
    }
    std::error_code ec;
    fs::create_directories(target, ec);
    for (const fs::path& f : files)
        if (!ec)
            fs::copy_file(f, target / f.filename(), fs::copy_options::overwrite_existing, ec);
    if (ec)
        throw EDBEngineError::writeFailed(target.string(), ec.value(), "cannot keep a copy of the damaged table");
    return target.string();
}

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
        }
        r.memoFileLost = s.memoFileLost;
        r.badMemoPointers = s.badMemoPointers;
        r.unreadableValues = s.unreadableValues;
        r.records = s.records;
        r.values = s.values;
        if (!r.damaged())
            return r;
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
