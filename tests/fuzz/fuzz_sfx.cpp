// libFuzzer target of the self-extracting program's reader: the input is a
// header record followed by an archive, read as the program reads itself
// (every entry's data inflated and checked). Corpus: tests/zip/sfx-corpus.
#include "zip/sfx/SfxReader.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    try {
        sfx::CheckImage(data, size);
    } catch (const sfx::SfxError&) {
    }
    return 0;
}
