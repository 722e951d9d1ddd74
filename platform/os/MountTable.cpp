// The kernel's mount table, read field by field.
#include "platform/os/MountTable.h"

#include <QFile>
#include <QList>

namespace kos {

namespace {

// A field with its \ooo escapes turned back into bytes, as UTF-8 text.
QString Unescape(const QByteArray& field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field[i];
        if (c == '\\' && i + 3 < field.size()) {
            const char a = field[i + 1], b = field[i + 2], d = field[i + 3];
            if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && d >= '0' && d <= '7') {
                out += char(((a - '0') << 6) | ((b - '0') << 3) | (d - '0'));
                i += 3;
                continue;
            }
        }
        out += c;
    }
    return QString::fromUtf8(out);
}

QString Trimmed(QString point)
{
    while (point.size() > 1 && point.endsWith(QLatin1Char('/')))
        point.chop(1);
    return point;
}

// Whether Point is Path or one of its parents.
bool Holds(const QString& point, const QString& path)
{
    if (point == QLatin1String("/"))
        return path.startsWith(QLatin1Char('/'));
    return path == point || (path.startsWith(point) && path.at(point.size()) == QLatin1Char('/'));
}

}  // namespace

std::vector<MountEntry> ParseMountInfo(const QByteArray& text)
{
    std::vector<MountEntry> mounts;
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        const qsizetype dash = f.indexOf(QByteArray("-"), 6);
        if (f.size() < 7 || dash < 6 || dash + 2 >= f.size() || !f[2].contains(':') || !f[4].startsWith('/'))
            continue;
        MountEntry e;
        e.device = QString::fromLatin1(f[2]);
        e.mountPoint = Trimmed(Unescape(f[4]));
        e.fsType = Unescape(f[dash + 1]);
        e.source = Unescape(f[dash + 2]);
        mounts.push_back(std::move(e));
    }
    return mounts;
}

std::vector<MountEntry> ReadMountInfo(const QString& path)
{
    QFile f(path);
    // The kernel's files report no size: read until the end.
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return ParseMountInfo(f.readAll());
}

const MountEntry* MountHolding(const std::vector<MountEntry>& mounts, const QString& path)
{
    const MountEntry* best = nullptr;
    for (const MountEntry& e : mounts)
        if (Holds(e.mountPoint, path) && (!best || e.mountPoint.size() >= best->mountPoint.size()))
            best = &e;
    return best;
}

const MountEntry* MountAt(const std::vector<MountEntry>& mounts, const QString& point)
{
    const QString p = Trimmed(point);
    const MountEntry* found = nullptr;
    for (const MountEntry& e : mounts)
        if (e.mountPoint == p)
            found = &e;
    return found;
}

}  // namespace kos
