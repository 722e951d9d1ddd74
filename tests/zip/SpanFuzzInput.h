#pragma once
// A volume set made of untrusted bytes, joined by the zip component: shared
// by fuzz_span and the replay of tests/zip/span-corpus. The input: one byte
// for the number of volumes (1 to 4), then for each volume but the last its
// length (32 bits, little-endian, cut to what is left), then the bytes of
// the volumes one after the other. The volumes are the numbered files
// S001.zip ... of a directory on a drive taken as fixed, so no disk is ever
// asked for; the last one is listed (its directory may run over volumes),
// then joined.
#include "zip/ZipArch.h"

#include "platform/os/Volumes.h"

#include <QDir>
#include <QFile>

#include <cstdint>

namespace spanfuzz {

// Every path on one fixed drive, the root of the file system.
class OneFixedDrive : public kos::VolumeService {
public:
    QString RootOf(const QString&) override { return QStringLiteral("/"); }
    QString CurrentRoot(const QString& root) override { return root; }
    kos::DriveType TypeOf(const QString&) override { return kos::DriveType::Fixed; }
    bool Query(const QString&, kos::VolumeState& state, kos::VolumeError& error) override
    {
        state = {QStringLiteral("FUZZ"), 1, qint64(1) << 40, qint64(1) << 40};
        error = kos::VolumeError::None;
        return true;
    }
    bool Space(const QString&, qint64& free, qint64& total) override
    {
        free = total = qint64(1) << 40;
        return true;
    }
    bool SetLabel(const QString&, const QString&) override { return false; }
    int Format(const QString&, const QString&) override { return -3; }
};

// Writes the volumes of Data into Dir and joins them; the result of
// ReadSpan, with the joined file's name in Joined (empty after a failure)
// and the count of entries the listing of the set found in Listed.
inline int JoinHostileSet(
    const uint8_t* data, size_t size, const QString& dir, QString* joined = nullptr, int* listed = nullptr)
{
    if (size == 0)
        return -1;
    const int volumes = 1 + data[0] % 4;
    size_t at = 1;
    QList<uint32_t> lengths;
    for (int v = 0; v + 1 < volumes; ++v) {
        uint32_t length = 0;
        for (int i = 0; i < 4 && at < size; ++i, ++at)
            length |= uint32_t(data[at]) << (8 * i);
        lengths << length;
    }
    QList<QByteArray> parts;
    for (uint32_t length : lengths) {
        const size_t take = length < size - at ? length : size - at;
        parts << QByteArray(reinterpret_cast<const char*>(data + at), qsizetype(take));
        at += take;
    }
    parts << QByteArray(reinterpret_cast<const char*>(data + at), qsizetype(size - at));
    QDir(dir).removeRecursively();
    QDir().mkpath(dir);
    for (int v = 0; v < parts.size(); ++v) {
        QFile f(TZipArchiver::NumberedName(dir + QStringLiteral("/S.zip"), v));
        if (!f.open(QIODevice::WriteOnly))
            return -1;
        f.write(parts[v]);
    }
    OneFixedDrive drive;
    kos::ScopedVolumes use(drive);
    TZipArchiver z;
    z.Unattended = true;
    z.TempDir = dir;
    z.SetZipFileName(TZipArchiver::NumberedName(dir + QStringLiteral("/S.zip"), int(parts.size()) - 1));
    if (listed)
        *listed = z.Count();
    QString out = dir + QStringLiteral("/");
    const int r = z.ReadSpan(TZipArchiver::NumberedName(dir + QStringLiteral("/S.zip"), int(parts.size()) - 1), out);
    if (joined)
        *joined = out;
    return r;
}

}  // namespace spanfuzz
