// libFuzzer target of the zip component's join of multi-volume sets: the
// input is cut into numbered volume files (tests/zip/SpanFuzzInput.h) and
// joined. Its corpus: tests/zip/span-corpus.
#include "tests/zip/SpanFuzzInput.h"

#include "tests/fuzz/FuzzApplication.h"

#include <QApplication>
#include <QTemporaryDir>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    EnsureFuzzApplication<QApplication>("fuzz_span");
    static QTemporaryDir dir;
    spanfuzz::JoinHostileSet(data, size, dir.filePath(QStringLiteral("set")));
    return 0;
}
