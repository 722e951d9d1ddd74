#include "platform/os/Files.h"
#include "platform/os/Paths.h"
#include "platform/os/SystemError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
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

// Why a write into `dir` failed, from the system's error number.
QString WriteFailure(int error, const QString& dir)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return QStringLiteral("le disque est plein");
    case EROFS:
        return QStringLiteral("le disque est en lecture seule");
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("le dossier « %1 » n'existe pas").arg(QDir::toNativeSeparators(dir));
    case EACCES:
    case EPERM:
        return QStringLiteral("le dossier « %1 » ne peut pas être écrit (accès refusé)")
            .arg(QDir::toNativeSeparators(dir));
    default:
        return QString::fromStdString(SystemErrorText(error));
    }
}

bool WriteAll(int fd, const QByteArray& bytes)
{
    const char* at = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, at, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        at += n;
        left -= n;
    }
    return true;
}

void SyncDirectory(const QByteArray& dir)
{
    const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        (void)::fsync(fd);
        ::close(fd);
    }
}

// Gives the complete file `temp` the name `target` without replacing any
// file: 0, or the error number (EEXIST: the name is taken).
int ClaimName(const QByteArray& temp, const QByteArray& target)
{
    if (::renameat2(AT_FDCWD, temp.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return errno;
    // A file system that cannot rename so: a second link to the file, which
    // fails too when the name is taken.
    if (::link(temp.constData(), target.constData()) == 0) {
        (void)::unlink(temp.constData());
        return 0;
    }
    if (errno != EPERM && errno != EOPNOTSUPP)
        return errno;
    // Nor links: the name is taken by an empty file of this program's own,
    // which the complete one then replaces.
    const int fd = ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return errno;
    ::close(fd);
    if (::rename(temp.constData(), target.constData()) == 0)
        return 0;
    const int failed = errno;
    (void)::unlink(target.constData());
    return failed;
}

}  // namespace

WholeFileResult WriteFileWhole(
    const QString& fileName, const std::function<bool(QByteArray& chunk)>& next, WholeFileName how, QString* error)
{
    const auto fail = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("Impossible d'enregistrer le fichier « %1 » : %2.")
                         .arg(QDir::toNativeSeparators(fileName), why);
        return WholeFileResult::Failed;
    };
    QString targetName = fileName;
    if (const QFileInfo link(fileName); link.isSymLink() && !link.canonicalFilePath().isEmpty())
        targetName = link.canonicalFilePath();
    const QString dir = QFileInfo(targetName).absolutePath();
    const QByteArray target = Native(targetName);
    struct stat existing { };
    const bool exists = ::stat(target.constData(), &existing) == 0;
    if (exists && how == WholeFileName::Claim)
        return WholeFileResult::NameTaken;
    // A read-only file stays as it is, whoever runs the program.
    if (exists && (existing.st_mode & S_IWUSR) == 0)
        return fail(QStringLiteral("le fichier est en lecture seule"));

    // The new file, beside the old one (the same file system, so that the
    // rename is one step): created with the mode files get here, or the
    // mode of the file it replaces.
    QByteArray temp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temp = Native(dir + QStringLiteral("/.") + QFileInfo(targetName).fileName() + QLatin1Char('.') +
            QString::number(QRandomGenerator::global()->generate(), 36) + QStringLiteral(".tmp"));
        fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return fail(WriteFailure(errno, dir));
    }
    if (fd < 0)
        return fail(WriteFailure(EEXIST, dir));
    const auto abandon = [&](int failed) {
        if (fd >= 0)
            ::close(fd);
        (void)::unlink(temp.constData());
        errno = failed;
    };
    if (exists && how == WholeFileName::Replace)
        (void)::fchmod(fd, existing.st_mode & 07777);
    for (;;) {
        QByteArray chunk;
        if (!next(chunk)) {
            abandon(0);
            return fail(QStringLiteral("ce qu'il doit contenir n'a pas pu être lu"));
        }
        if (chunk.isEmpty())
            break;
        if (!WriteAll(fd, chunk)) {
            const int failed = errno;
            abandon(failed);
            return fail(WriteFailure(failed, dir));
        }
    }
    // On the disk before it takes the name: a power cut leaves the old file
    // or the new one, never a part of it.
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const int failed = errno;
        fd = -1;
        abandon(failed);
        return fail(WriteFailure(failed, dir));
    }
    fd = -1;
    if (how == WholeFileName::Claim) {
        if (const int failed = ClaimName(temp, target); failed != 0) {
            abandon(failed);
            if (failed == EEXIST)
                return WholeFileResult::NameTaken;
            return fail(WriteFailure(failed, dir));
        }
    } else if (::rename(temp.constData(), target.constData()) != 0) {
        const int failed = errno;
        abandon(failed);
        return fail(failed == EACCES || failed == EPERM ? QStringLiteral("le fichier existant ne peut pas être remplacé")
                                                        : WriteFailure(failed, dir));
    }
    SyncDirectory(Native(dir));
    return WholeFileResult::Written;
}

bool WriteFileWhole(const QString& fileName, const QByteArray& data, QString* error)
{
    bool handed = false;
    const auto next = [&](QByteArray& chunk) {
        if (!handed)
            chunk = data;
        handed = true;
        return true;
    };
    return WriteFileWhole(fileName, next, WholeFileName::Replace, error) == WholeFileResult::Written;
}

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
