#include "app/backup/BackupSet.h"

#include "platform/db/core/File.h"
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
    void Start(const QString& dir)
    {
        Wait();
        const std::filesystem::path path(QFile::encodeName(dir).toStdString());
        std::lock_guard lock(mutex_);
        thread_ = std::thread([path] {
            std::error_code ec;
            std::filesystem::remove_all(path, ec);  // what stays goes at the next start
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

// Puts every entry of `from` into `to` (a new directory): a hard link for a
// file, a copy where the file system has none; sub-directories the same way.
bool LinkTree(const QString& from, const QString& to, const QStringList& skip)
{
    if (!QDir().mkpath(to))
        return false;
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

bool WriteArchive(TZipArchiver& zip, const QStringList& specs, const QString& target, QString& failure, bool spanned)
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
    const QString part = spanned ? target : target + QStringLiteral(".part");
    if (!spanned)
        QFile::remove(part);
    // An archive already on a disk is not read: the component asks before
    // it overwrites it.
    zip.Designing = spanned;
    zip.SetZipFileName(part);
    zip.Designing = false;
    if (spanned)
        zip.AddOptions << AddDiskSpan;
    zip.SetFSpecArgs(specs);
    zip.ErrCode = 0;
    zip.Add();
    zip.AddOptions >> AddDiskSpan;
    const int added = zip.SuccessCnt;
    const bool complete = added > 0 && added == expected && (spanned || QFileInfo(part).isFile());
    zip.SetZipFileName(QString());
    if (!complete) {
        if (!spanned)
            QFile::remove(part);
        failure = added > 0         ? QStringLiteral("%1 fichiers sur %2 ont été archivés").arg(added).arg(expected)
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

QString StagingDir(const QString& dataPath)
{
    return WithoutSlash(dataPath) + QStringLiteral(".restaure");
}
QString PreviousDir(const QString& dataPath)
{
    return WithoutSlash(dataPath) + QStringLiteral(".precedent");
}
QString ReplacedDir(const QString& dataPath)
{
    return WithoutSlash(dataPath) + QStringLiteral(".ancien");
}

void TableSetRestore::RemoveLeftovers(const QString& dataPath)
{
    TheRemover().Wait();
    for (const QString& dir : {StagingDir(dataPath), PreviousDir(dataPath), ReplacedDir(dataPath)})
        if (QFileInfo(dir).isDir())
            QDir(dir).removeRecursively();
}

void TableSetRestore::RemoveReplacedSet(const QString& dataPath)
{
    if (QFileInfo(ReplacedDir(dataPath)).isDir())
        TheRemover().Start(ReplacedDir(dataPath));
}

void TableSetRestore::WaitForRemoval()
{
    TheRemover().Wait();
}

void TableSetRestore::Discard(const QString& dir)
{
    const QString replaced = ReplacedDir(dataPath_);
    if (std::rename(QFile::encodeName(dir).constData(), QFile::encodeName(replaced).constData()) == 0)
        TheRemover().Start(replaced);
    else
        QDir(dir).removeRecursively();
}

void TableSetRestore::ClearTemp() const
{
    const QFileInfoList entries = QDir(tempDir_).entryInfoList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QFileInfo& fi : entries)
        QFile::remove(fi.filePath());
}

TableSetRestore::Result TableSetRestore::Extract(TZipArchiver& zip)
{
    restored_.clear();
    ClearTemp();
    zip.List();
    struct Expected {
        QString name;
        uint32_t crc;
        qint64 size;
    };
    std::vector<Expected> expected;
    for (const ZipDirEntry* e : zip.ZipContents()) {
        QString name = e->FileName;
        name = name.mid(name.lastIndexOf(QLatin1Char('\\')) + 1);
        name = name.mid(name.lastIndexOf(QLatin1Char('/')) + 1);
        if (!name.isEmpty())
            expected.push_back({name, e->Crc32, qint64(e->UncompressedSize)});
    }
    if (expected.empty()) {
        detail_ = zip.ZipFileName();
        return Result::Damaged;
    }
    zip.ExtrBaseDir = tempDir_;
    zip.SetFSpecArgs({QStringLiteral("*.*")});
    zip.Extract();
    // Every extracted file read back for its check, several at a time, its
    // writing to the disk started meanwhile (no window is touched there).
    std::vector<uint32_t> crcs(expected.size());
    std::vector<qint64> sizes(expected.size(), -1);
    std::atomic<size_t> next{0};
    auto check = [&] {
        for (size_t i; (i = next++) < expected.size();) {
            const QString path = tempDir_ + expected[i].name;
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
            detail_ = e.name;
            ClearTemp();
            return Result::Damaged;
        }
        if (IsRestoredName(e.name, schema_))
            restored_ << e.name;
        else
            QFile::remove(tempDir_ + e.name);
    }
    if (restored_.isEmpty()) {
        ClearTemp();
        return Result::NoTables;
    }
    return Result::Done;
}

TableSetRestore::Result TableSetRestore::Replace()
{
    TableHold hold;
    if (!hold.Take(schema_, dataPath_, TableHold::Mode::Exclusive)) {
        detail_ = hold.BusyTable();
        return Result::TableBusy;
    }
    RemoveLeftovers(dataPath_);
    const QString staging = StagingDir(dataPath_);

    // The tables the archive brings back, by name without extension: their
    // present files all give way to the archive's.
    QStringList bases;
    for (const QString& name : restored_)
        bases << name.left(name.lastIndexOf(QLatin1Char('.'))).toUpper();
    QStringList replaced;
    const QFileInfoList present = QDir(dataPath_).entryInfoList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QFileInfo& fi : present) {
        const QString n = fi.fileName();
        const qsizetype dot = n.lastIndexOf(QLatin1Char('.'));
        if (bases.contains((dot < 0 ? n : n.left(dot)).toUpper()))
            replaced << n;
    }

    // The new data directory beside the present one: the other entries
    // linked, the restored files moved in and forced to the disk.
    bool ok = LinkTree(WithoutSlash(dataPath_), staging, replaced);
    QStringList moved;
    for (int i = 0; ok && i < restored_.size(); ++i) {
        const QString from = tempDir_ + restored_[i];
        const QString to = staging + QLatin1Char('/') + restored_[i];
        if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
            moved << to;
        else if (!CopyDurably(from, to)) {
            ok = false;
            detail_ = restored_[i] + QStringLiteral(" : ") + SystemReason();
        }
    }
    QString unsynced;
    if (ok && !SyncFiles(moved, unsynced)) {
        ok = false;
        detail_ = QFileInfo(unsynced).fileName() + QStringLiteral(" : ") + SystemReason();
    }
    ok = ok && SyncPath(staging, true);
    if (!ok) {
        if (detail_.isEmpty())
            detail_ = SystemReason();
        QDir(staging).removeRecursively();
        return Result::Failed;
    }
    if (UseExchange && ExchangeDirectories(staging)) {
        // The staging directory now holds the replaced set.
        hold.Release();
        Discard(staging);
    } else if (SwapFileByFile(staging, restored_)) {
        hold.Release();
        QDir(staging).removeRecursively();
        Discard(PreviousDir(dataPath_));
    } else {
        QDir(staging).removeRecursively();
        return Result::Failed;
    }
    ClearTemp();
    return Result::Done;
}

// One atomic step: the new directory takes the place of the data directory
// and the data directory the new one's. A stop at any moment leaves the one
// set or the other.
bool TableSetRestore::ExchangeDirectories(const QString& staging)
{
    const QByteArray a = QFile::encodeName(staging), b = QFile::encodeName(WithoutSlash(dataPath_));
    if (::renameat2(AT_FDCWD, a.constData(), AT_FDCWD, b.constData(), RENAME_EXCHANGE) != 0)
        return false;
    SyncPath(QFileInfo(b).absolutePath(), true);
    return true;
}

// Where the file system cannot exchange two directories: the replaced files
// go to a directory of previous files, the new ones take their place; any
// failure puts the previous files back.
bool TableSetRestore::SwapFileByFile(const QString& staging, const QStringList& newFiles)
{
    const QString previous = PreviousDir(dataPath_);
    if (!QDir().mkpath(previous)) {
        detail_ = SystemReason();
        return false;
    }
    QStringList moved, placed;
    auto move = [](const QString& from, const QString& to) {
        return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
    };
    bool ok = true;
    const QFileInfoList present = QDir(dataPath_).entryInfoList(QDir::Files | QDir::Hidden | QDir::System);
    QStringList bases;
    for (const QString& name : newFiles)
        bases << name.left(name.lastIndexOf(QLatin1Char('.'))).toUpper();
    for (const QFileInfo& fi : present) {
        const QString n = fi.fileName();
        const qsizetype dot = n.lastIndexOf(QLatin1Char('.'));
        if (!bases.contains((dot < 0 ? n : n.left(dot)).toUpper()))
            continue;
        if (!move(dataPath_ + n, previous + QLatin1Char('/') + n)) {
            ok = false;
            break;
        }
        moved << n;
    }
    for (int i = 0; ok && i < newFiles.size(); ++i) {
        if (!move(staging + QLatin1Char('/') + newFiles[i], dataPath_ + newFiles[i])) {
            ok = false;
            break;
        }
        placed << newFiles[i];
    }
    if (ok) {
        SyncPath(dataPath_, true);
        return true;
    }
    detail_ = SystemReason();
    for (const QString& n : placed)
        QFile::remove(dataPath_ + n);
    for (const QString& n : moved)
        move(previous + QLatin1Char('/') + n, dataPath_ + n);
    SyncPath(dataPath_, true);
    return false;
}

}  // namespace backup
