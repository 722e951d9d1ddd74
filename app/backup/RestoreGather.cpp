// The restore's gathering: the new files of each directory a restore
// replaces files in, put together beside it (its staging directory) before
// anything of the present set moves.
#include "app/backup/FileSteps.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace backup::steps {

namespace {

// A restored file with no previous file of its name (a new protocol text,
// a table's memo or index that was missing) takes the owner, group and
// rights of the files beside it: a file of the same table first, else one
// of the files it replaces, else any file of the directory. In a directory
// without files, the rights the directory gives its own entries (a folder
// shared by a group: group write), and its group where new files inherit
// it (setgid). Never the rights the archive carried.
void TakeRightsOfNeighbours(const RestoreSet& m, const QString& name, const QString& path)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString base = (dot < 0 ? name : name.left(dot)).toUpper() + QLatin1Char('.');
    QString like;
    const QFileInfoList files = QDir(m.live).entryInfoList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    for (const QFileInfo& fi : files)
        if (!fi.isSymLink() && fi.fileName().toUpper().startsWith(base))
            like = fi.filePath();
    for (const QString& old : m.oldNames)
        if (like.isEmpty() && QFileInfo(In(m.live, old)).isFile())
            like = In(m.live, old);
    for (const QFileInfo& fi : files)
        if (like.isEmpty() && !fi.isSymLink() && !fi.fileName().startsWith(QLatin1Char('.')))
            like = fi.filePath();
    if (!like.isEmpty()) {
        CopyAttributes(like, path, false);
        return;
    }
    struct stat dir;
    if (::stat(QFile::encodeName(m.live).constData(), &dir) != 0)
        return;
    const QByteArray p = QFile::encodeName(path);
    if ((dir.st_mode & S_ISGID) && ::chown(p.constData(), uid_t(-1), dir.st_gid) != 0) {
        // The user is not a member of that group: the rights alone.
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::chmod(p.constData(), dir.st_mode & 0666 & ~mask);
}

// Copies a file and forces it to the disk.
bool CopyDurably(const QString& from, const QString& to)
{
    QFile::remove(to);
    if (!QFile::copy(from, to))
        return false;
    return SyncPath(to, false);
}

// Forces the files' data to the disk: the writing of every one is started
// first, then each is waited for, the disk working on all of them at once.
bool SyncFiles(const QStringList& paths, QString& failed)
{
    std::vector<int> fds;
    bool ok = true;
    for (const QString& path : paths) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
        if (fd < 0) {
            failed = path;
            ok = false;
            break;
        }
        ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
        fds.push_back(fd);
    }
    for (size_t i = 0; i < fds.size(); ++i) {
        if (ok && ::fdatasync(fds[i]) != 0) {
            failed = paths[qsizetype(i)];
            ok = false;
        }
        ::close(fds[i]);
    }
    return ok;
}

// Puts every entry of `from` into `to` (a new directory with the same owner,
// group and mode): a hard link for a file, a copy where the file system has
// none; sub-directories the same way.
bool LinkTree(const QString& from, const QString& to, const QStringList& skip)
{
    if (!QDir().mkpath(to))
        return false;
    CopyAttributes(from, to, true);
    const QFileInfoList entries =
        QDir(from).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& fi : entries) {
        if (skip.contains(fi.fileName()))
            continue;
        const QString target = to + QLatin1Char('/') + fi.fileName();
        if (fi.isSymLink()) {
            if (!QFile::link(fi.symLinkTarget(), target))
                return false;
        } else if (fi.isDir()) {
            if (!LinkTree(fi.filePath(), target, {}))
                return false;
        } else if (::link(QFile::encodeName(fi.filePath()).constData(), QFile::encodeName(target).constData()) != 0 &&
            !CopyDurably(fi.filePath(), target)) {
            return false;
        }
    }
    return true;
}

// Whether the file system of `dir` makes hard links (a file of `dir` linked
// into `staging`, made here, and unlinked again); true for a directory
// without files.
bool HardLinks(const QString& dir, const QString& staging)
{
    if (!QFileInfo(staging).isDir() && !QDir().mkpath(staging))
        return false;
    const QFileInfoList files = QDir(dir).entryInfoList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QFileInfo& fi : files) {
        if (fi.isSymLink())
            continue;
        const QByteArray probe = QFile::encodeName(staging + QStringLiteral("/.lien"));
        ::unlink(probe.constData());
        if (::link(QFile::encodeName(fi.filePath()).constData(), probe.constData()) != 0)
            return false;
        ::unlink(probe.constData());
        return true;
    }
    return true;
}

}  // namespace

std::vector<RestoreSet> PlanSets(const QString& dataPath, const QStringList& restored, bool withTexts,
    const QString& protDir, const QStringList& texts)
{
    std::vector<RestoreSet> sets;
    {
        // The tables the archive brings back, by name without extension:
        // their present files all give way to the archive's.
        RestoreSet data;
        data.live = RealDir(dataPath);
        data.newNames = restored;
        QStringList bases;
        for (const QString& name : restored)
            bases << name.left(name.lastIndexOf(QLatin1Char('.'))).toUpper();
        for (const QFileInfo& fi : QDir(data.live).entryInfoList(QDir::Files | QDir::Hidden | QDir::System)) {
            const QString n = fi.fileName();
            const qsizetype dot = n.lastIndexOf(QLatin1Char('.'));
            if (bases.contains((dot < 0 ? n : n.left(dot)).toUpper()))
                data.oldNames << n;
        }
        sets.push_back(data);
    }
    if (withTexts) {
        // The archive's protocol texts replace all of the present ones: a
        // text whose protocol is not in the archive goes with the rows.
        if (!QFileInfo(protDir).isDir())
            QDir().mkpath(protDir);
        RestoreSet set;
        set.live = RealDir(protDir);
        set.oldNames = ProtocolTexts(set.live);
        set.newNames = texts;
        if (!set.oldNames.isEmpty() || !set.newNames.isEmpty())
            sets.push_back(set);
    }
    return sets;
}

bool Gather(std::vector<RestoreSet>& sets, std::vector<bool>& exchange, bool useExchange, const QString& tempDir,
    QString& detail)
{
    // A file system without hard links (FAT, some shares) cannot exchange
    // directories either: there the staging directory holds the restored
    // files alone, and nothing else of the data directory (the weekday
    // backups) is copied.
    bool ok = true;
    exchange.clear();
    for (RestoreSet& m : sets) {
        m.staging = StagingDir(m.live);
        m.previous = PreviousDir(m.live);
        // a staging directory inside the directory is never exchanged with it
        exchange.push_back(useExchange && !InsideDir(m.staging, m.live) && HardLinks(m.live, m.staging));
        if (exchange.back()) {
            ok = LinkTree(m.live, m.staging, m.oldNames);
        } else {
            ok = QFileInfo(m.staging).isDir() || QDir().mkpath(m.staging);
            CopyAttributes(m.live, m.staging, true);
        }
        QStringList moved;
        for (int i = 0; ok && i < m.newNames.size(); ++i) {
            const QString& name = m.newNames[i];
            const QString from = tempDir + name, to = In(m.staging, name);
            if (!Move(from, to) && !CopyDurably(from, to)) {
                ok = false;
                detail = name + QStringLiteral(" : ") + SystemReason();
                break;
            }
            if (m.oldNames.contains(name))
                CopyAttributes(In(m.live, name), to, false);
            else
                TakeRightsOfNeighbours(m, name, to);
            moved << to;
        }
        QString unsynced;
        if (ok && !SyncFiles(moved, unsynced)) {
            ok = false;
            detail = QFileInfo(unsynced).fileName() + QStringLiteral(" : ") + SystemReason();
        }
        ok = ok && SyncPath(m.staging, true);
        struct stat st;
        if (ok && ::stat(QFile::encodeName(m.staging).constData(), &st) == 0) {
            m.dev = quint64(st.st_dev);
            m.ino = quint64(st.st_ino);
        }
        if (!ok)
            break;
    }
    return ok;
}

}  // namespace backup::steps
