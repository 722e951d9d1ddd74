// libFuzzer target of the zip component's directory reader: the input is
// written to a file and listed (end record search, central directory).
#include "zip/ZipArch.h"

#include "tests/fuzz/FuzzApplication.h"

#include <QApplication>
#include <QTemporaryDir>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    EnsureFuzzApplication<QApplication>("fuzz_zipdir");
    static QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("in.zip"));
    QFile f(file);
    if (!f.open(QIODevice::WriteOnly))
        return 0;
    f.write(reinterpret_cast<const char*>(data), qint64(size));
    f.close();
    TZipArchiver z;
    z.Unattended = true;
    z.UseDirOnlyEntries = (size & 1) != 0;
    z.SetZipFileName(file);
    for (const ZipDirEntry* e : z.ZipContents())
        (void)e->FileName.size();
    return 0;
}
