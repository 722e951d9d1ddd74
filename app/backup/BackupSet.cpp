#include "app/backup/BackupSet.h"
#include "app/backup/RestoreJournal.h"

#include "platform/db/core/File.h"
#include "platform/db/core/FileSystem.h"
#include "platform/db/core/Table.h"
#include "platform/db/database/Database.h"
#include "platform/db/engine/Engine.h"
#include "platform/os/Files.h"
#include "zip/ZipArch.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <mutex>
#include <thread>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace backup {

namespace {

const QString kTableLine = QStringLiteral("object Table:");

QString WithoutSlash(const QString& dir)
{
    QString d = dir;
    while (d.size() > 1 && d.endsWith(QLatin1Char('/')))
        d.chop(1);
    return d;
}

QString SystemReason()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool SyncPath(const QString& path, bool directory)
{
    const int fd = ::open(QFile::encodeName(path).constData(), (directory ? O_DIRECTORY : 0) | O_RDONLY);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
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

// The removal of a replaced data directory, away from the user's wait. One
// at a time; the program waits for it before it ends.
class Remover {
public:
    ~Remover() { Wait(); }
    void Start(const QStringList& dirs)
    {
        Wait();
        if (dirs.isEmpty())
            return;
        std::vector<std::filesystem::path> paths;
        for (const QString& dir : dirs)
            paths.emplace_back(QFile::encodeName(dir).toStdString());
        std::lock_guard lock(mutex_);
        thread_ = std::thread([paths] {
            for (const auto& path : paths) {
                std::error_code ec;
                std::filesystem::remove_all(path, ec);  // what stays goes at the next start
            }
        });
    }
    void Wait()
    {
        std::lock_guard lock(mutex_);
        if (thread_.joinable())
            thread_.join();
    }

private:
    std::mutex mutex_;
    std::thread thread_;
};

Remover& TheRemover()
{
    static Remover remover;
    return remover;
}

// Copies a file and forces it to the disk.
bool CopyDurably(const QString& from, const QString& to)
{
    QFile::remove(to);
    if (!QFile::copy(from, to))
        return false;
    return SyncPath(to, false);
}

// Starts writing a file's data to the disk without waiting: the wait in
// SyncFiles then finds most of it done.
void StartWriting(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0)
        return;
    ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    ::close(fd);
}

uint32_t FileCrc(const QString& path, qint64& size)
{
    QFile f(path);
    size = -1;
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    uLong crc = crc32(0, nullptr, 0);
    QByteArray buf(1 << 20, Qt::Uninitialized);
    size = 0;
    for (;;) {
        const qint64 got = f.read(buf.data(), buf.size());
        if (got < 0) {
            size = -1;
            return 0;
        }
        if (got == 0)
            break;
        crc = crc32_z(crc, reinterpret_cast<const Bytef*>(buf.constData()), size_t(got));
        size += got;
    }
    return uint32_t(crc);
}

}  // namespace

QStringList SchemaTableNames(const QStringList& schema)
{
    QStringList names;
    for (const QString& line : schema)
        if (line.contains(kTableLine))
            names << line.mid(13, 50).trimmed();
    return names;
}

QStringList BackupFileSpecs(const QStringList& schema, const QString& dataPath)
{
    QStringList specs;
    for (const QString& name : SchemaTableNames(schema)) {
        const qsizetype dot = name.indexOf(QLatin1Char('.'));
        if (dot >= 0)
            specs << dataPath + name.left(dot + 1) + QLatin1Char('*');
    }
    return specs;
}

bool IsRestoredName(const QString& name, const QStringList& schema)
{
    const QString trimmed = name.trimmed();
    const qsizetype dot = trimmed.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return false;
    const QString part = trimmed.left(dot + 1);
    for (const QString& line : schema)
        if (line.contains(part, Qt::CaseSensitive))
            return true;
    return false;
}

bool IsBackupArchiveName(const QString& name)
{
    for (const char* mask : {"Korvale??.zip", "Korvale?.zip", "Korvale.zip"})
        if (kos::MatchesDosMask(name, QLatin1String(mask)) && !name.mid(7, name.size() - 11).contains(QLatin1Char('.')))
            return true;
    return false;
}

// ---------------------------------------------------------------- TableHold

TableHold::TableHold() = default;
TableHold::~TableHold()
{
    Release();
}

void TableHold::Release()
{
    for (auto& t : tables_)
        if (t)
            t->unlockTable();
    tables_.clear();
}

bool TableHold::Take(const QStringList& schema, const QString& dataPath, Mode mode, int waitMs)
{
    Release();
    busy_.clear();
    // Our own idle tables go first: they must not count as another user.
    kdb::Database::of(dataPath.toStdString()).closeIdleTables();
    const std::string dir = dataPath.toStdString();
    for (const QString& name : SchemaTableNames(schema)) {
        bool exists = false;
        kdb::findFileNoCase(dir, name.toStdString(), exists);
        if (!exists)
            continue;
        kdb::engine::OpenOptions options;
        options.exclusive = mode == Mode::Exclusive;
        std::unique_ptr<kdb::Table> table;
        try {
            table = kdb::engine::openTable(dir, name.toStdString(), options);
        } catch (const EDBEngineError& e) {
            if (e.code() == kdb::DBERR_FILELOCKED || e.code() == kdb::DBERR_LOCKED) {
                busy_ = name;
                Release();
                return false;
            }
            // A damaged table is taken as its files are: nobody can use it.
            continue;
        }
        if (mode == Mode::TableLock) {
            QDeadlineTimer deadline(waitMs);
            while (!table->lockTable()) {
                if (deadline.hasExpired()) {
                    busy_ = name;
                    Release();
                    return false;
                }
                QCoreApplication::processEvents();
                QThread::msleep(20);
            }
        }
        tables_.push_back(std::move(table));
    }
    return true;
}

// ---------------------------------------------------------------- archives

namespace {

// Adds the protocol texts of `protDir` to `archive` under "PROT/"; the
// folder alone when it holds none, so that the restore of this archive
// knows the texts it brings back (none) and removes the present ones.
bool AddProtocolTexts(TZipArchiver& zip, const QString& protDir, const QString& archive, QString& failure)
{
    const QString dir = WithoutSlash(protDir);
    QStringList specs;
    for (const QString& name : ProtocolTexts(dir))
        specs << dir + QLatin1Char('/') + name;
    const bool none = specs.isEmpty();
    if (none)
        specs << dir;
    zip.Designing = true;
    zip.SetZipFileName(archive);
    zip.Designing = false;
    const AddOpts options = zip.AddOptions;
    zip.AddOptions << AddDirNames;
    if (none)
        zip.AddOptions << AddSeparateDirs;
    zip.RootDir = QFileInfo(dir).path();
    zip.SetFSpecArgsExcl(none ? QStringList{QFileInfo(dir).fileName() + QStringLiteral("/?*")} : QStringList{});
    zip.SetFSpecArgs(specs);
    zip.ErrCode = 0;
    zip.Message.clear();
    zip.Add();
    zip.AddOptions = options;
    zip.RootDir.clear();
    zip.SetFSpecArgsExcl({});
    const int added = zip.SuccessCnt;
    if (added != specs.size() || !QFileInfo(archive).isFile()) {
        // The component's own message tells the cause (the archive that
        // cannot be written, say); the texts are blamed only without one.
        failure = !zip.Message.isEmpty() ? zip.Message
            : none                       ? QStringLiteral("le dossier des textes de protocoles n'a pas été archivé")
                   : QStringLiteral("%1 textes de protocoles sur %2 ont été archivés").arg(added).arg(specs.size());
        return false;
    }
    return true;
}

}  // namespace

bool WriteArchive(TZipArchiver& zip, const QStringList& specs, const QString& target, QString& failure, bool spanned,
    const QString& protDir)
{
    // The files the masks take, counted before: an archive that
    // holds fewer (a file that could not be read) is no backup.
    int expected = 0;
    for (const QString& spec : specs) {
        const QFileInfo fi(spec);
        for (const QString& name : QDir(fi.path()).entryList(QDir::Files | QDir::Hidden))
            if (kos::MatchesDosMask(name, fi.fileName()))
                ++expected;
    }
    const bool withTexts = !protDir.isEmpty() && QFileInfo(protDir).isDir();
    // An archive spread over disks is written whole first, then copied
    // onto the disks; the component asks before it overwrites an archive
    // already on a disk.
    const QString part = spanned ? (withTexts ? zip.MakeTempFileName() : target) : target + QStringLiteral(".part");
    const bool direct = spanned && !withTexts;
    if (!direct)
        QFile::remove(part);
    bool textsDone = !withTexts || AddProtocolTexts(zip, protDir, part, failure);
    int added = 0;
    if (textsDone) {
        zip.Designing = direct;
        zip.SetZipFileName(part);
        zip.Designing = false;
        if (direct)
            zip.AddOptions << AddDiskSpan;
        zip.SetFSpecArgs(specs);
        zip.ErrCode = 0;
        zip.Add();
        zip.AddOptions >> AddDiskSpan;
        added = zip.SuccessCnt;
    }
    bool complete = textsDone && added > 0 && added == expected && (direct || QFileInfo(part).isFile());
    if (complete && spanned && !direct) {
        zip.SetZipFileName(QString());
        complete = zip.WriteSpan(part, target) == 0;
        if (!complete)
            failure = zip.Message.isEmpty() ? QStringLiteral("l'archive n'a pas pu être écrite sur les disques")
                                            : zip.Message;
        QFile::remove(part);
        zip.SetZipFileName(QString());
        return complete;
    }
    zip.SetZipFileName(QString());
    if (!complete) {
        if (!direct)
            QFile::remove(part);
        if (textsDone)
            failure = added > 0 ? QStringLiteral("%1 fichiers sur %2 ont été archivés").arg(added).arg(expected)
                : zip.Message.isEmpty() ? QStringLiteral("aucun fichier n'a été archivé")
                                        : zip.Message;
        return false;
    }
    if (spanned)
        return true;
    if (QFileInfo::exists(target) && zip.EraseFile(target, htdAllowUndo) != 0 && !QFile::remove(target)) {
        failure = QStringLiteral("l'ancienne sauvegarde %1 ne peut pas être remplacée").arg(target);
        QFile::remove(part);
        return false;
    }
    if (std::rename(QFile::encodeName(part).constData(), QFile::encodeName(target).constData()) != 0) {
        failure = SystemReason();
        QFile::remove(part);
        return false;
    }
    SyncPath(QFileInfo(target).absolutePath(), true);
    return true;
}

// ---------------------------------------------------------------- restore

const QString kProtocolFolder = QStringLiteral("PROT");

bool IsProtocolTextName(const QString& name)
{
    if (name.size() <= 8 || !name.startsWith(QLatin1String("PROT"), Qt::CaseInsensitive) ||
        !name.endsWith(QLatin1String(".RTF"), Qt::CaseInsensitive))
        return false;
    for (const QChar c : QStringView(name).mid(4, name.size() - 8))
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

QStringList ProtocolTexts(const QString& protDir)
{
    QStringList texts;
    if (protDir.isEmpty())
        return texts;
    for (const QString& name : QDir(protDir).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name))
        if (IsProtocolTextName(name))
            texts << name;
    return texts;
}

QString RealDir(const QString& dir)
{
    const QString plain = WithoutSlash(dir);
    const QString real = QFileInfo(plain).canonicalFilePath();
    return real.isEmpty() ? plain : real;
}

QString StagingDir(const QString& dir)
{
    return RealDir(dir) + QStringLiteral(".restaure");
}
QString PreviousDir(const QString& dir)
{
    return RealDir(dir) + QStringLiteral(".precedent");
}
QString ReplacedDir(const QString& dir)
{
    return RealDir(dir) + QStringLiteral(".ancien");
}
QString JournalFile(const QString& dataPath)
{
    return RealDir(dataPath) + QStringLiteral(".restauration");
}

namespace {

std::string Native(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

// Every rename of a restore goes through the engine's file system, so that
// a test can stop the program at any one of them.
bool Move(const QString& from, const QString& to)
{
    return kdb::fileSystem().rename(Native(from), Native(to)) == 0;
}

bool Exists(const QString& path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

// A new directory or file of a restore takes the owner, group and mode of
// the one it stands for (a folder shared by a group keeps its group, its
// setgid bit and its rights). What the user may not change stays as it is.
void CopyAttributes(const QString& like, const QString& path, bool directory)
{
    struct stat st;
    if (::stat(QFile::encodeName(like).constData(), &st) != 0)
        return;
    const QByteArray p = QFile::encodeName(path);
    if (::chown(p.constData(), st.st_uid, st.st_gid) != 0 && ::chown(p.constData(), uid_t(-1), st.st_gid) != 0) {
        // Not a member of that group: the mode alone.
    }
    ::chmod(p.constData(), st.st_mode & (directory ? 07777 : 0777));
}

// A restored file with no previous file of its name takes the group of a
// directory whose new files inherit it (setgid).
void InheritGroup(const QString& dir, const QString& path)
{
    struct stat st;
    if (::stat(QFile::encodeName(dir).constData(), &st) != 0 || !(st.st_mode & S_ISGID))
        return;
    if (::chown(QFile::encodeName(path).constData(), uid_t(-1), st.st_gid) != 0) {
        // The user is not a member of that group: nothing more to do.
    }
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

using SetMove = RestoreSet;

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

bool SameDirectory(const QString& path, quint64 dev, quint64 ino)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && quint64(st.st_dev) == dev &&
        quint64(st.st_ino) == ino;
}

// The staging directory now stands where the replaced one was.
bool Exchanged(const SetMove& m)
{
    return SameDirectory(m.live, m.dev, m.ino);
}

QString In(const QString& dir, const QString& name)
{
    return dir + QLatin1Char('/') + name;
}

// The replaced files go to the directory of previous files, then the new
// ones take their place. Each step looks at what is where first, so that a
// replacement stopped anywhere is carried on by running this again.
bool Forward(const SetMove& m, QString& failure)
{
    if (Exchanged(m))
        return true;
    if (!QFileInfo(m.previous).isDir() && !QDir().mkpath(m.previous)) {
        failure = m.previous + QStringLiteral(" : ") + SystemReason();
        return false;
    }
    for (const QString& name : m.oldNames) {
        // Still the old file unless the new one of that name has left the
        // staging directory already.
        if (!Exists(In(m.live, name)) || (m.newNames.contains(name) && !Exists(In(m.staging, name))))
            continue;
        if (!Move(In(m.live, name), In(m.previous, name))) {
            failure = name + QStringLiteral(" : ") + SystemReason();
            return false;
        }
    }
    for (const QString& name : m.newNames) {
        if (!Exists(In(m.staging, name)))
            continue;
        if (!Move(In(m.staging, name), In(m.live, name))) {
            failure = name + QStringLiteral(" : ") + SystemReason();
            return false;
        }
    }
    SyncPath(m.live, true);
    return true;
}

// Undoes Forward (or the exchange): the new files back to the staging
// directory, the previous ones back in place.
bool Backward(const SetMove& m)
{
    if (Exchanged(m)) {
        if (kdb::fileSystem().exchange(Native(m.staging), Native(m.live)) != 0)
            return false;
        SyncPath(QFileInfo(m.live).absolutePath(), true);
        return true;
    }
    bool ok = true;
    for (const QString& name : m.newNames)
        if (Exists(In(m.live, name)) && !Exists(In(m.staging, name)) &&
            (!m.oldNames.contains(name) || Exists(In(m.previous, name))))
            ok = Move(In(m.live, name), In(m.staging, name)) && ok;
    for (const QString& name : m.oldNames)
        if (Exists(In(m.previous, name)) && !Exists(In(m.live, name)))
            ok = Move(In(m.previous, name), In(m.live, name)) && ok;
    SyncPath(m.live, true);
    return ok;
}

// The journal, written whole under a temporary name and renamed in place
// before the first file moves.
bool WriteJournal(const QString& file, const std::vector<SetMove>& sets, QString& failure)
{
    const QByteArray text = JournalText(sets);
    const QString part = file + QStringLiteral(".part");
    QFile f(part);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(text) != text.size() || !f.flush() ||
        ::fsync(f.handle()) != 0) {
        failure = QFileInfo(file).fileName() + QStringLiteral(" : ") + SystemReason();
        f.close();
        QFile::remove(part);
        return false;
    }
    f.close();
    if (!Move(part, file)) {
        failure = QFileInfo(file).fileName() + QStringLiteral(" : ") + SystemReason();
        QFile::remove(part);
        return false;
    }
    SyncPath(QFileInfo(file).absolutePath(), true);
    return true;
}

bool RemoveJournal(const QString& file)
{
    if (kdb::fileSystem().unlink(Native(file)) != 0 && errno != ENOENT)
        return false;
    SyncPath(QFileInfo(file).absolutePath(), true);
    return true;
}

// Renames a replaced set beside its directory for the background removal;
// the set stays where it is when the renaming fails.
QString ForRemoval(const QString& dir, const QString& live)
{
    const QString replaced = ReplacedDir(live);
    if (!Exists(replaced) && Move(dir, replaced))
        return replaced;
    return dir;
}

// What a finished replacement leaves: the replaced set and the staging
// directory's rest, for the background removal.
void Discard(const SetMove& m, QStringList& removals)
{
    if (Exchanged(m)) {
        removals << ForRemoval(m.staging, m.live);  // the staging directory holds the replaced set
    } else {
        QDir(m.staging).removeRecursively();  // links to the files kept
        removals << ForRemoval(m.previous, m.live);
    }
}

void ClearFolder(const QString& dir, const QString& keep)
{
    const QFileInfoList entries =
        QDir(dir).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& fi : entries) {
        if (fi.fileName() == keep)
            continue;
        if (fi.isDir() && !fi.isSymLink())
            QDir(fi.filePath()).removeRecursively();
        else
            QFile::remove(fi.filePath());
    }
}

const QString kLockName = QStringLiteral(".verrou");

// Carries out a journal left by a stopped restore, then lets the leftovers
// of stopped restores go. The caller holds the restore lock.
bool Complete(const QString& dataPath, const QString& protDir, QString* failure)
{
    TheRemover().Wait();
    QStringList removals;
    const QString journal = JournalFile(dataPath);
    std::vector<SetMove> sets;
    QByteArray text;
    {
        QFile f(journal);
        if (f.open(QIODevice::ReadOnly))
            text = f.readAll();
    }
    if (ParseJournal(text, sets)) {
        // Only the data directory and the protocol texts' folder are ever
        // replaced: a journal naming another directory is not followed.
        for (const SetMove& m : sets) {
            if (m.live != RealDir(dataPath) && (protDir.isEmpty() || m.live != RealDir(protDir))) {
                if (failure)
                    *failure = QStringLiteral("%1 nomme le dossier %2").arg(QFileInfo(journal).fileName(), m.live);
                return false;
            }
        }
        QString why;
        for (const SetMove& m : sets) {
            if (!Forward(m, why)) {
                if (failure)
                    *failure = why;
                return false;
            }
        }
        if (!RemoveJournal(journal)) {
            if (failure)
                *failure = QFileInfo(journal).fileName() + QStringLiteral(" : ") + SystemReason();
            return false;
        }
        for (const SetMove& m : sets)
            Discard(m, removals);
    } else if (Exists(journal)) {
        // It is renamed in place only once whole: a damaged journal is kept
        // for whoever looks into it, and nothing is moved.
        if (failure)
            *failure = QStringLiteral("le journal %1 est illisible").arg(journal);
        return false;
    }
    QFile::remove(journal + QStringLiteral(".part"));
    QStringList dirs{dataPath};
    if (!protDir.isEmpty())
        dirs << protDir;
    for (const QString& dir : dirs)
        for (const QString& left : {StagingDir(dir), PreviousDir(dir), ReplacedDir(dir)})
            if (QFileInfo(left).isDir() && !removals.contains(left))
                removals << left;
    TheRemover().Start(removals);
    return true;
}

// Whether a file is open in this very program (a table still held by one
// of its own windows, not by another workstation).
bool OpenHere(const QString& path)
{
    struct stat target;
    if (::stat(QFile::encodeName(path).constData(), &target) != 0)
        return false;
    const QString fds = QStringLiteral("/proc/self/fd/");
    for (const QString& fd : QDir(fds).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        struct stat st;
        if (::stat(QFile::encodeName(fds + fd).constData(), &st) == 0 && st.st_dev == target.st_dev &&
            st.st_ino == target.st_ino)
            return true;
    }
    return false;
}

}  // namespace

// The lock every restore holds on its temporary folder from the extraction
// to the end: a second restore, or a start-up's clean-up, on another
// workstation sharing the folder waits for it to end.
struct TableSetRestore::Lock {
    int fd = -1;
    ~Lock()
    {
        if (fd >= 0)
            ::close(fd);
    }
    // False when another program holds it.
    bool Take(const QString& dir)
    {
        fd = ::open(QFile::encodeName(dir + kLockName).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0)
            return true;  // a folder where nothing can be created: the extraction says so
        struct flock fl { };
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        if (::fcntl(fd, F_OFD_SETLK, &fl) == 0)
            return true;
        if (errno == EINVAL && ::fcntl(fd, F_SETLK, &fl) == 0)
            return true;
        const bool busy = errno == EAGAIN || errno == EACCES;
        if (busy) {
            ::close(fd);
            fd = -1;
        }
        return !busy;
    }
};

TableSetRestore::TableSetRestore(
    const QStringList& schema, const QString& dataPath, const QString& tempDir, const QString& protDir)
    : schema_(schema), dataPath_(dataPath), tempDir_(tempDir), protDir_(protDir)
{
}

TableSetRestore::~TableSetRestore() = default;

bool TableSetRestore::Recover(const QString& dataPath, const QString& protDir, const QString& tempDir, QString* failure)
{
    Lock lock;
    const bool withTemp = !tempDir.isEmpty() && QFileInfo(tempDir).isDir();
    if (withTemp && !lock.Take(tempDir))
        return true;  // a restore is running on another workstation
    const bool ok = Complete(dataPath, protDir, failure);
    if (withTemp)
        ClearFolder(tempDir, kLockName);
    return ok;
}

void TableSetRestore::WaitForRemoval()
{
    TheRemover().Wait();
}

void TableSetRestore::ClearTemp() const
{
    ClearFolder(tempDir_, kLockName);
}

TableSetRestore::Result TableSetRestore::Extract(TZipArchiver& zip)
{
    restored_.clear();
    texts_.clear();
    carriesTexts_ = false;
    if (!lock_) {
        lock_ = std::make_unique<Lock>();
        if (!lock_->Take(tempDir_)) {
            lock_.reset();
            return Result::InProgress;
        }
    }
    ClearTemp();
    zip.List();
    struct Expected {
        QString entry;  // the name in the archive
        QString name;  // the file extracted into the temporary folder
        uint32_t crc;
        qint64 size;
        bool text;
    };
    // Only what is restored is extracted: the tables of the schema, and the
    // protocol texts of a "PROT" folder.
    std::vector<Expected> expected;
    QStringList seen;
    bool anyFile = false, anyTable = false;
    for (const ZipDirEntry* e : zip.ZipContents()) {
        QString entry = e->FileName;
        entry.replace(QLatin1Char('\\'), QLatin1Char('/'));
        const qsizetype slash = entry.lastIndexOf(QLatin1Char('/'));
        const QString name = entry.mid(slash + 1);
        const QString folder = slash < 0 ? QString() : entry.left(slash);
        const bool inProt =
            folder.mid(folder.lastIndexOf(QLatin1Char('/')) + 1).compare(kProtocolFolder, Qt::CaseInsensitive) == 0;
        if (inProt && !protDir_.isEmpty())
            carriesTexts_ = true;
        if (name.isEmpty())
            continue;
        anyFile = true;
        const bool text = inProt && !protDir_.isEmpty() && IsProtocolTextName(name);
        const bool table = !inProt && IsRestoredName(name, schema_);
        if ((!text && !table) || seen.contains(name, Qt::CaseInsensitive))
            continue;
        seen << name;
        anyTable = anyTable || table;
        expected.push_back({entry, name, e->Crc32, qint64(e->UncompressedSize), text});
    }
    if (!anyFile) {
        detail_ = zip.ZipFileName();
        return Result::Damaged;
    }
    if (!anyTable)
        return Result::NoTables;
    QStringList specs;
    for (const Expected& e : expected)
        specs << e.entry;
    zip.ExtrBaseDir = tempDir_;
    zip.SetFSpecArgs(specs);
    zip.Extract();
    // Every extracted file read back for its check, several at a time, its
    // writing to the disk started meanwhile (no window is touched there).
    std::vector<uint32_t> crcs(expected.size());
    std::vector<qint64> sizes(expected.size(), -1);
    std::atomic<size_t> next{0};
    auto check = [&] {
        for (size_t i; (i = next++) < expected.size();) {
            const QString path = tempDir_ + expected[i].name;
            if (QFileInfo(path).isSymLink())
                continue;  // a link is no table
            crcs[i] = FileCrc(path, sizes[i]);
            StartWriting(path);
        }
    };
    std::vector<std::thread> workers;
    const size_t count = std::min<size_t>(expected.size(), std::max(2u, std::thread::hardware_concurrency()));
    for (size_t i = 1; i < count; ++i)
        workers.emplace_back(check);
    check();
    for (std::thread& w : workers)
        w.join();
    for (size_t i = 0; i < expected.size(); ++i) {
        const Expected& e = expected[i];
        if (sizes[i] != e.size || crcs[i] != e.crc) {
            detail_ = e.entry;
            ClearTemp();
            return Result::Damaged;
        }
        (e.text ? texts_ : restored_) << e.name;
    }
    return Result::Done;
}

TableSetRestore::Result TableSetRestore::Replace()
{
    TableHold hold;
    if (!hold.Take(schema_, dataPath_, TableHold::Mode::Exclusive)) {
        detail_ = hold.BusyTable();
        const std::string file = kdb::findFileNoCase(dataPath_.toStdString(), detail_.toStdString());
        return OpenHere(QString::fromStdString(file)) ? Result::TableBusyHere : Result::TableBusy;
    }
    // A restore stopped earlier is finished first.
    if (!Complete(dataPath_, protDir_, &detail_))
        return Result::Failed;
    TheRemover().Wait();

    // The tables the archive brings back, by name without extension: their
    // present files all give way to the archive's.
    std::vector<SetMove> sets;
    {
        SetMove data;
        data.live = RealDir(dataPath_);
        data.newNames = restored_;
        QStringList bases;
        for (const QString& name : restored_)
            bases << name.left(name.lastIndexOf(QLatin1Char('.'))).toUpper();
        for (const QFileInfo& fi : QDir(data.live).entryInfoList(QDir::Files | QDir::Hidden | QDir::System)) {
            const QString n = fi.fileName();
            const qsizetype dot = n.lastIndexOf(QLatin1Char('.'));
            if (bases.contains((dot < 0 ? n : n.left(dot)).toUpper()))
                data.oldNames << n;
        }
        sets.push_back(data);
    }
    if (carriesTexts_) {
        // The archive's protocol texts replace all of the present ones: a
        // text whose protocol is not in the archive goes with the rows.
        if (!QFileInfo(protDir_).isDir())
            QDir().mkpath(protDir_);
        SetMove texts;
        texts.live = RealDir(protDir_);
        texts.oldNames = ProtocolTexts(texts.live);
        texts.newNames = texts_;
        if (!texts.oldNames.isEmpty() || !texts.newNames.isEmpty())
            sets.push_back(texts);
    }

    // The new directories beside the present ones: the restored files
    // moved in and forced to the disk; where the directories are to be
    // exchanged, the other entries linked in. A file system without hard
    // links (FAT, some shares) cannot exchange directories either: there
    // the staging directory holds the restored files alone, and nothing
    // else of the data directory (the weekday backups) is copied.
    bool ok = true;
    std::vector<bool> exchange;
    for (SetMove& m : sets) {
        m.staging = StagingDir(m.live);
        m.previous = PreviousDir(m.live);
        exchange.push_back(UseExchange && HardLinks(m.live, m.staging));
        if (exchange.back()) {
            ok = LinkTree(m.live, m.staging, m.oldNames);
        } else {
            ok = QFileInfo(m.staging).isDir() || QDir().mkpath(m.staging);
            CopyAttributes(m.live, m.staging, true);
        }
        QStringList moved;
        for (int i = 0; ok && i < m.newNames.size(); ++i) {
            const QString& name = m.newNames[i];
            const QString from = tempDir_ + name, to = In(m.staging, name);
            if (!Move(from, to) && !CopyDurably(from, to)) {
                ok = false;
                detail_ = name + QStringLiteral(" : ") + SystemReason();
                break;
            }
            if (m.oldNames.contains(name))
                CopyAttributes(In(m.live, name), to, false);
            else
                InheritGroup(m.live, to);
            moved << to;
        }
        QString unsynced;
        if (ok && !SyncFiles(moved, unsynced)) {
            ok = false;
            detail_ = QFileInfo(unsynced).fileName() + QStringLiteral(" : ") + SystemReason();
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
    const QString journal = JournalFile(dataPath_);
    QString why;
    ok = ok && WriteJournal(journal, sets, why);
    if (!ok) {
        if (detail_.isEmpty())
            detail_ = why.isEmpty() ? SystemReason() : why;
        for (const SetMove& m : sets)
            if (!m.staging.isEmpty())
                QDir(m.staging).removeRecursively();
        return Result::Failed;
    }

    // From here on the journal says where every file goes.
    for (size_t i = 0; i < sets.size(); ++i) {
        const SetMove& m = sets[i];
        if (exchange[i] && kdb::fileSystem().exchange(Native(m.staging), Native(m.live)) == 0) {
            SyncPath(QFileInfo(m.live).absolutePath(), true);
            continue;
        }
        if (!Forward(m, why)) {
            ok = false;
            detail_ = why;
            break;
        }
    }
    QStringList removals;
    if (!ok) {
        // Everything back as it was; what cannot go back is finished at the
        // next start from the journal.
        bool back = true;
        for (auto it = sets.rbegin(); it != sets.rend(); ++it)
            back = Backward(*it) && back;
        if (back && RemoveJournal(journal)) {
            for (const SetMove& m : sets) {
                removals << m.staging;
                if (Exists(m.previous))
                    removals << m.previous;
            }
            TheRemover().Start(removals);
        }
        return Result::Failed;
    }
    if (!RemoveJournal(journal)) {
        detail_ = QFileInfo(journal).fileName() + QStringLiteral(" : ") + SystemReason();
        return Result::Failed;
    }
    hold.Release();
    for (const SetMove& m : sets)
        Discard(m, removals);
    TheRemover().Start(removals);
    ClearTemp();
    return Result::Done;
}

}  // namespace backup
