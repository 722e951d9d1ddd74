// Fuzz target: the rich-text reader, then the writer and the reader again
// on what was read, which reads whole. The damaged files it finds go to tests/rtf/corpus.
#include "platform/rtf/Rtf.h"

#include "tests/fuzz/FuzzApplication.h"

#include <QGuiApplication>
#include <QTextDocument>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    EnsureFuzzApplication<QGuiApplication>("fuzz_rtf");
    QTextDocument doc;
    krtf::ReadRtf(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)), doc);
    QTextDocument again;
    if (krtf::ReadRtf(krtf::WriteRtf(doc), again) != krtf::RtfDamage::Whole)
        std::abort();
    if (again.toPlainText() != doc.toPlainText())
        std::abort();
    return 0;
}
