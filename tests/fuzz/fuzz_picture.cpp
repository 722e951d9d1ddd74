// Fuzz target: the picture reader (the camera's orientation block, a stream
// cut short), full size and reduced to a thumbnail.
// The damaged files it finds go to tests/ui/picture-corpus.
#include "platform/ui/Picture.h"

#include "tests/fuzz/FuzzApplication.h"

#include <QGuiApplication>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    EnsureFuzzApplication<QGuiApplication>("fuzz_picture");
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    bool partial = false;
    const QImage full = kui::ReadPicture(bytes, {}, &partial);
    const QImage thumb = kui::ReadPicture(bytes, QSize(51, 56), &partial);
    if (!thumb.isNull() && (thumb.width() > 51 || thumb.height() > 56))
        std::abort();
    if (!full.isNull() && (full.width() > kui::kMaxPictureSide || full.height() > kui::kMaxPictureSide))
        std::abort();
    return 0;
}
