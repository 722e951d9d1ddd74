// TIcon: icon-file bytes, checked on loading.
#include "zip/ZipIcon.h"

#include <QFile>

namespace {

uint32_t Get(const QByteArray& b, qsizetype at, int n)
{
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = v << 8 | static_cast<unsigned char>(b[at + i]);
    return v;
}

// An icon file: reserved 0, type 1, at least one image, every image's data
// inside the file.
bool IsIconFile(const QByteArray& b)
{
    if (b.size() < 6 || Get(b, 0, 2) != 0 || Get(b, 2, 2) != 1)
        return false;
    const qsizetype count = Get(b, 4, 2);
    if (count == 0 || b.size() < 6 + 16 * count)
        return false;
    for (qsizetype i = 0; i < count; ++i) {
        const qint64 size = Get(b, 6 + 16 * i + 8, 4), offset = Get(b, 6 + 16 * i + 12, 4);
        if (size == 0 || offset < 6 + 16 * count || offset + size > b.size())
            return false;
    }
    return true;
}

}  // namespace

bool TIcon::LoadFromFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) && LoadFromBytes(f.readAll());
}

bool TIcon::LoadFromBytes(const QByteArray& bytes)
{
    if (!IsIconFile(bytes))
        return false;
    data_ = bytes;
    return true;
}

void TIcon::SaveToStream(QIODevice& stream) const
{
    stream.write(data_);
}
