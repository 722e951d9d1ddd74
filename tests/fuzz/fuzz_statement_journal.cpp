// Fuzz target: the journal a statement killed half way leaves beside its
// table, read at the next open: the input is the journal of a sound table of
// eight records (CODE C(6), NUM N(4)), without an index (the journal is put
// back when it reads as whole) or, when the first byte is odd, with one (a
// journal found with an index in service is set aside unread).
#include <filesystem>

#include "DbfFuzzCommon.h"

namespace {
void makeTable(const std::string& path, bool indexed)
{
    std::vector<kdb::TagInfo> tags;
    if (indexed)
        tags.push_back({"CODE", "CODE", 'C', true, false});
    kdb::DbfTable::create(path, {{"CODE", 'C', 6, 0, false}, {"NUM", 'N', 4, 0, false}}, tags);
    auto t = kdb::DbfTable::open(path, {true, false});
    for (int i = 1; i <= 8; ++i)
        t->append({QString("C%1").arg(i), i});
    t->flush();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const bool indexed = data[0] & 1;
    const std::string dir = fuzzing::scratchDir();
    const std::string table = dir + "/J.DBF";
    try {
        makeTable(table, indexed);
    } catch (const EDBEngineError&) {
        return 0;
    }
    fuzzing::writeFile(dir + "/J.JNL", data + 1, size - 1);
    try {
        kdb::DbfTable::open(table, {true, false}).reset();
    } catch (const EDBEngineError&) {
    }
    // Put back or set aside: never there for the next open.
    if (kdb::fileExists(dir + "/J.JNL") && kdb::DbfTable::probe(table, true) == 0)
        __builtin_trap();
    fuzzing::readAll(table);
    std::filesystem::remove_all(dir + "/Damaged");  // the copies of what was set aside
    return 0;
}
