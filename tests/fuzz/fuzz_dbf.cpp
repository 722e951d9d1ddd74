// Fuzz target: the table file reader.
#include "DbfFuzzCommon.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = fuzzing::scratchDir() + "/F.DBF";
    fuzzing::writeFile(path, data, size);
    fuzzing::readAll(path);
    fuzzing::repairAll(path);
    return 0;
}
