// Fuzz target: any bytes given as a .DB file must end in a table or an
// engine error, never a crash, a hang or a sanitizer report.
#include <cstdint>
#include <cstdio>
#include <string>

#include <unistd.h>

#include "platform/db/core/DbError.h"
#include "platform/db/engine/Engine.h"
#include "platform/db/paradox/ParadoxTable.h"

namespace {

std::string scratchPath()
{
    return "/tmp/korvale_paradox_fuzz_" + std::to_string(::getpid()) + ".DB";
}

void exercise(const std::string& path)
{
    try {
        auto t = kdb::ParadoxTable::open(path, {false, true});
        for (uint32_t r = 1; r <= t->recordCount() && r <= 2000; ++r)
            for (int f = 0; f < t->fieldCount(); ++f) {
                (void)t->rawField(r, f);
                (void)t->value(r, f);
            }
    } catch (const EDBEngineError&) {
        return;
    }
    try {
        auto t = kdb::ParadoxTable::open(path);
        const uint32_t n = t->recordCount();
        t->append({});
        if (n > 0) {
            t->update(1, t->record(1));
            t->deleteRecord(n);
            t->undeleteRecord(n);
        }
        t->refresh();
        for (uint32_t r = 1; r <= t->recordCount() && r <= 2000; ++r)
            (void)t->record(r);
    } catch (const EDBEngineError&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = scratchPath();
    static bool ready = [] {
        // The passwords of the corpus's protected seeds.
        kdb::Session::instance().addPassword("/Kelvar/");
        return true;
    }();
    (void)ready;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    exercise(path);
    return 0;
}
