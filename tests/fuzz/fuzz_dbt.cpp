// Fuzz target: the memo file reader, behind a sound table whose records point
// at blocks 1 to 8 of the memo file (both memo layouts, chosen by the first
// input byte).
#include <cstring>

#include "DbfFuzzCommon.h"

namespace {
std::string table(bool oldLayout)
{
    std::string h(32 + 32 + 1, '\0');
    h[0] = oldLayout ? '\x83' : '\x8B';
    h[4] = 8;
    h[8] = static_cast<char>(h.size());
    h[10] = 11;
    std::memcpy(&h[32], "TXT", 3);
    h[32 + 11] = 'M';
    h[32 + 16] = 10;
    h[64] = '\x0D';
    for (int i = 1; i <= 8; ++i) {
        char rec[12];
        std::snprintf(rec, sizeof rec, " %10d", i);
        h.append(rec, 11);
    }
    h.push_back('\x1A');
    return h;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const bool oldLayout = data[0] & 1;
    const std::string dir = fuzzing::scratchDir();
    const std::string t = table(oldLayout);
    fuzzing::writeFile(dir + "/M.DBF", reinterpret_cast<const uint8_t*>(t.data()), t.size());
    fuzzing::writeFile(dir + "/M.DBT", data + 1, size - 1);
    fuzzing::readAll(dir + "/M.DBF");
    fuzzing::repairAll(dir + "/M.DBF");
    return 0;
}
