// Fuzz target of the index file reader: the input is written as a file, then
// opened, checked, scanned, sought and changed.
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "tests/db/mdx/MdxExercise.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = "/tmp/mdx-fuzz-" + std::to_string(::getpid()) + ".mdx";
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out)
        return 0;
    std::fwrite(data, 1, size, out);
    std::fclose(out);
    mdxtest::exerciseFile(path);
    return 0;
}
