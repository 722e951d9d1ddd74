// The backup's part: the table files of the schema, the tables held in one
// state while they are read, and the archive written under a temporary
// name and put in place once complete.
#include "app/backup/BackupSet.h"
#include "app/backup/FileSteps.h"

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

#include <algorithm>
#include <cstdio>

namespace backup {

using steps::SyncPath;
using steps::SystemReason;
using steps::WithoutSlash;

namespace {

const QString kTableLine = QStringLiteral("object Table:");

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

QFileInfoList BackupArchives(const QString& dir)
{
    QFileInfoList archives;
    QFileInfo last;
    int lastNumber = 0;
    for (const QFileInfo& fi : QDir(dir).entryInfoList(QDir::Files | QDir::Hidden)) {
        const QString name = fi.fileName();
        if (IsBackupArchiveName(name)) {
            archives << fi;
            continue;
        }
        // "Korvale" and three digits: a volume of the set of "Korvale.zip"
        bool number = false;
        const int n = name.mid(7, 3).toInt(&number);
        if (name.size() == 14 && name.startsWith(QLatin1String("Korvale"), Qt::CaseInsensitive) &&
            name.endsWith(QLatin1String(".zip"), Qt::CaseInsensitive) && number && n > lastNumber &&
            std::all_of(name.begin() + 7, name.begin() + 10, [](QChar c) { return c.isDigit(); })) {
            last = fi;
            lastNumber = n;
        }
    }
    if (lastNumber > 0)
        archives << last;
    return archives;
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

// What a backup of `target` stopped before its end (the program killed, the
// power cut) left beside it: the archive being written ("<target>.part")
// and the library's work file of that one ("<target>.part.XXXXXX").
void RemoveLeftovers(const QString& target)
{
    const QFileInfo fi(target);
    const QString part = fi.fileName() + QStringLiteral(".part");
    const QDir dir(fi.absolutePath());
    for (const QString& name :
        dir.entryList({part + QStringLiteral(".*")}, QDir::Files | QDir::Hidden | QDir::System)) {
        const QStringView tail = QStringView(name).mid(part.size() + 1);
        if (tail.size() == 6 && std::all_of(tail.begin(), tail.end(), [](QChar c) {
                return c.isDigit() || (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                    (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
            }))
            QFile::remove(dir.filePath(name));
    }
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
    if (!spanned)
        RemoveLeftovers(target);
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

}  // namespace backup
