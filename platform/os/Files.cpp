#include "platform/os/Files.h"
#include "platform/os/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace kos {

namespace {

// Iterative wildcard match with one level of back-tracking on "*".
bool Glob(QStringView name, QStringView mask)
{
    qsizetype n = 0, m = 0;
    qsizetype starMask = -1, starName = 0;
    while (n < name.size()) {
        if (m < mask.size() && mask[m] == QLatin1Char('*')) {
            starMask = m++;
            starName = n;
        } else if (m < mask.size() &&
            (mask[m] == QLatin1Char('?') || mask[m].toCaseFolded() == name[n].toCaseFolded())) {
            ++m;
            ++n;
        } else if (starMask >= 0) {
            m = starMask + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == QLatin1Char('*'))
        ++m;
    return m == mask.size();
}

QByteArray Native(const QString& path)
{
    return QFile::encodeName(path);
}

}  // namespace

bool MatchesDosMask(const QString& name, const QString& mask)
{
    if (name.isEmpty() || mask.isEmpty())
        return false;
    if (Glob(name, mask))
        return true;
    if (mask.endsWith(QLatin1String(".*")) && !name.contains(QLatin1Char('.')))
        return Glob(name, QStringView(mask).chopped(2));
    return false;
}

void DeleteFilesByMask(const QString& dir, const QString& mask)
{
    if (dir.isEmpty())
        return;
    const QDir d(dir);
    const QStringList names = d.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        if (!MatchesDosMask(name, mask))
            continue;
        // unlink() removes files and links, never directories.
        (void)::unlink(Native(dir + name).constData());
    }
}

void ClearReadOnlyFlags(const QString& dir)
{
    if (dir.isEmpty())
        return;
    const QDir d(dir);
    const QStringList names = d.entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        const QByteArray path = Native(dir + name);
        struct stat st { };
        if (::lstat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        if (st.st_uid != ::geteuid())
            continue;
        if ((st.st_mode & S_IWUSR) == 0)
            (void)::chmod(path.constData(), (st.st_mode & 07777) | S_IWUSR);
    }
}

bool EnsureDirectory(const QString& dir, bool privateDir)
{
    if (dir.isEmpty())
        return false;
    const QString clean = QDir::cleanPath(dir);
    const QByteArray path = Native(clean);
    struct stat st { };
    if (::lstat(path.constData(), &st) == 0) {
        if (!privateDir) {
            // A link to a directory is accepted for the ordinary directories.
            struct stat target { };
            return ::stat(path.constData(), &target) == 0 && S_ISDIR(target.st_mode);
        }
        if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
            return false;
        if ((st.st_mode & 077) != 0 && ::chmod(path.constData(), 0700) != 0)
            return false;
        return true;
    }
    const QString parent = QFileInfo(clean).path();
    if (parent != clean && !QFileInfo(parent).isDir() && !QDir().mkpath(parent))
        return false;
    if (::mkdir(path.constData(), privateDir ? 0700 : 0777) != 0 && errno != EEXIST)
        return false;
    struct stat created { };
    if (::stat(path.constData(), &created) != 0 || !S_ISDIR(created.st_mode))
        return false;
    if (privateDir)
        return EnsureDirectory(clean, true);
    return true;
}

int CopyMissingShippedFiles(const QString& mask, const QString& destDir)
{
    return CopyMissingShippedFiles(mask, destDir, ShippedDirs());
}

int CopyMissingShippedFiles(const QString& mask, const QString& destDir, const QStringList& sourceDirs)
{
    int copied = 0;
    for (const QString& dir : sourceDirs) {
        const QString src = WithTrailingSlash(dir);
        const QDir d(src);
        const QStringList names = d.entryList(QDir::Files | QDir::NoDotAndDotDot);
        for (const QString& name : names) {
            if (!MatchesDosMask(name, mask))
                continue;
            const QString target = destDir + name;
            if (QFileInfo::exists(target))
                continue;
            if (QFile::copy(src + name, target)) {
                QFile::setPermissions(target, QFile::permissions(target) | QFile::WriteOwner | QFile::ReadOwner);
                ++copied;
            }
        }
    }
    return copied;
}

}  // namespace kos
