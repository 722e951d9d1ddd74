#pragma once
// A zip component with every event recorded, and the boxes answered.
#include "zip/ZipArch.h"

#include "platform/ui/Messages.h"
#include "tests/support/TestApplication.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

struct ZipEvents {
    QStringList messages;  // OnMessage texts, with their code when not 0
    QStringList progress;  // "kind:name:size"
    int dirUpdates = 0;
    QList<int> seqNos;
    QStringList skipped;  // "name:type"

    void Attach(TZipArchiver& z)
    {
        z.OnMessage = [this](TZipArchiver*, int code, const QString& text) {
            messages << (code ? QString::number(code, 16) + QLatin1Char(':') : QString()) + text;
        };
        z.OnProgress = [this](TZipArchiver*, ProgressType t, const QString& name, qint64 size) {
            static const char* kinds[] = {"new", "upd", "end", "files", "size"};
            progress << QStringLiteral("%1:%2:%3").arg(QLatin1String(kinds[t]), name).arg(size);
        };
        z.OnDirUpdate = [this](TZipArchiver*) { ++dirUpdates; };
        z.OnNewName = [this](TZipArchiver*, int seq, const ZipDirEntry&) { seqNos << seq; };
        z.OnExtractSkipped = [this](TZipArchiver*, const QString& name, UnZipSkipTypes t, int) {
            skipped << QStringLiteral("%1:%2").arg(name).arg(int(t));
        };
    }
};

inline int Shell(const QString& cmd)
{
    return std::system((cmd + QStringLiteral(" >/dev/null 2>&1")).toLocal8Bit().constData());
}

inline QByteArray FileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void PutFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
}
