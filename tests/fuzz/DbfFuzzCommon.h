#pragma once
// Shared by the fuzz targets: writes the input to a file of its own and reads
// a table through every path a reader uses.
#include <cstdint>
#include <cstdio>
#include <string>

#include <unistd.h>

#include "platform/db/core/File.h"
#include "platform/db/dbf/DbfTable.h"

namespace fuzzing {

inline std::string scratchDir()
{
    static const std::string dir = [] {
        char tmpl[] = "/tmp/korvale-fuzz-XXXXXX";
        const char* d = mkdtemp(tmpl);
        return std::string(d ? d : "/tmp");
    }();
    return dir;
}

inline void writeFile(const std::string& path, const uint8_t* data, size_t size)
{
    kdb::File f = kdb::File::open(path, kdb::File::Mode::Create);
    if (size)
        f.writeAt(0, data, size);
}

inline void readAll(const std::string& path)
{
    try {
        auto t = kdb::DbfTable::open(path);
        const uint32_t n = t->recordCount() < 2000 ? t->recordCount() : 2000;
        for (uint32_t r = 1; r <= n; ++r) {
            t->isDeleted(r);
            for (int f = 0; f < t->fieldCount(); ++f) {
                t->rawField(r, f);
                try {
                    t->value(r, f);
                } catch (const EDBEngineError&) {
                }
            }
        }
    } catch (const EDBEngineError&) {
    }
}

// Repairs the table as the maintenance does; a repaired table must survey
// clean and open.
inline void repairAll(const std::string& path)
{
    try {
        // A header that does not read, mended when the rest of it tells
        // how: once mended there is nothing more to mend.
        if (kdb::DbfTable::repairHeader(path, false).repairable) {
            kdb::DbfTable::repairHeader(path, true);
            if (kdb::DbfTable::repairHeader(path, false).damaged)
                __builtin_trap();
        }
    } catch (const EDBEngineError&) {
    }
    try {
        kdb::TableOpenMode mode;
        mode.exclusive = true;
        mode.forRepair = true;
        auto t = kdb::DbfTable::open(path, mode);
        if (!t->survey().damaged())
            return;
        t->repair();
        if (t->hasIndexFlag())
            t->rebuildIndexFromFile();
        if (t->survey().damaged())
            __builtin_trap();
    } catch (const EDBEngineError&) {
        return;
    }
    readAll(path);
}

}  // namespace fuzzing
