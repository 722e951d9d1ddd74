// Fuzz target: the plain-text list files of the program directory (the
// address list), read as UTF-8 or Windows-1252 and written back. Whatever
// the bytes, writing the text read and reading it again gives the same
// text. The inputs it finds go to tests/ui/text-corpus.
#include "platform/ui/TextFile.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    kui::TextEncoding found = kui::TextEncoding::Utf8;
    const QString text = kui::DecodeText(bytes, &found);
    const QStringList lines = kui::DecodeLines(bytes);
    for (const QString& line : lines)
        if (line.isEmpty() || line.contains(u'\n'))
            std::abort();
    const QByteArray written = kui::EncodeText(text, found);
    if (kui::DecodeText(written) != text)
        std::abort();
    return 0;
}
