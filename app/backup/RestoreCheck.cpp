// The restore's checking: the archive's tables and protocol texts
// extracted into the temporary folder, each one checked by the library
// against the size and CRC of its entry; a failure told by what it is (the
// archive damaged, a volume missing, the disk full, a wrong password); the
// restored tables opened as the engine opens them.
#include "app/backup/FileSteps.h"

#include "platform/db/core/Table.h"
#include "platform/db/engine/Engine.h"
#include "platform/zipeng/ZipEngAbi.h"
#include "zip/ZipArch.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace backup {

namespace {

// Bytes the user may still write on the file system of `dir`; -1 when
// the system does not say (a file system of no stated size, as a tmpfs
// without a limit or some shares, answers 0 for everything: no answer).
qint64 FreeBytes(const QString& dir)
{
    struct statvfs vs;
    if (::statvfs(QFile::encodeName(dir).constData(), &vs) != 0 || vs.f_blocks == 0)
        return -1;
    return qint64(vs.f_bavail) * qint64(vs.f_frsize);
}

bool SameFileSystem(const QString& a, const QString& b)
{
    struct stat sa, sb;
    return ::stat(QFile::encodeName(a).constData(), &sa) == 0 && ::stat(QFile::encodeName(b).constData(), &sb) == 0 &&
        sa.st_dev == sb.st_dev;
}

// A size as the user reads it: kilobytes below ten megabytes, rounded up
// for what is needed and down for what is left.
QString Size(qint64 bytes, bool up)
{
    const qint64 unit = bytes < 10'000'000 ? 1000 : 1'000'000;
    return QStringLiteral("%1 %2").arg((bytes + (up ? unit - 1 : 0)) / unit).arg(unit == 1000 ? "Ko" : "Mo");
}

// The first failure the archive library reported during an extraction:
// its code, its text, and the entry it skipped.
struct LibraryFailure {
    int32_t code = 0;
    QString text, entry;
};

// A component message id about writing the joined copy of a set.
bool JoinWriteFailure(int id)
{
    return id == 11009 || id == 11010 || id == 11027 || id == 11028 || id == 11029 || id == 11030;
}

}  // namespace

TableSetRestore::Writeback::Writeback(QStringList paths)
    : thread([paths = std::move(paths)] {
          // Each file's writing started, not waited for: the gathering then
          // finds most of it done.
          for (const QString& path : paths) {
              const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
              if (fd < 0)
                  continue;
              ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
              ::close(fd);
          }
      })
{
}

TableSetRestore::Result TableSetRestore::Unreadable(const TZipArchiver& zip, const QString& archive)
{
    detail_.clear();
    reason_ = zip.Message;
    const QFileInfo chosen(archive);
    switch (zip.ErrCode) {
    case 11007:  // a disk asked for and not given
        if (zip.IsSpanned && zip.DiskNr >= 0)
            detail_ = QStringLiteral("n°%1").arg(zip.DiskNr + 1);
        return Result::Cancelled;
    case 11001:  // a file that does not open: a volume of the set, or the archive itself
        if (!chosen.exists())
            return Result::NotFound;
        if (QFileInfo(zip.InFileName).absoluteFilePath() != chosen.absoluteFilePath()) {
            detail_ = QFileInfo(zip.InFileName).fileName();
            return Result::VolumeMissing;
        }
        reason_ = QStringLiteral("le fichier ne s'ouvre pas (droits de lecture ?)");
        return Result::CannotRead;
    case 11036:
    case 11037:
    case 11038:
    case 11045:
    case 11046: {
        // No end of the directory here: a set's first or middle volume, or
        // a set whose last volume is missing ("Korvale002.zip" when the
        // set goes on to "Korvale003.zip").
        const QString base = chosen.completeBaseName();
        const bool numbered = base.size() > 3 && base.right(3).toInt() > 0 &&
            std::all_of(base.end() - 3, base.end(), [](QChar c) { return c.isDigit(); });
        if (numbered || zip.ErrCode != 11036) {
            if (numbered)
                detail_ = base.chopped(3) + TZipArchiver::VolumeDigits(base.right(3).toInt()) + QLatin1Char('.') +
                    chosen.suffix();
            return Result::VolumeMissing;
        }
        reason_ = QStringLiteral("la fin de son répertoire central manque (fichier coupé, ou qui n'est pas "
                                 "une archive zip)");
        return Result::Damaged;
    }
    case 10103:
        return Result::CannotRead;
    default:
        break;
    }
    if (zip.ErrCode == 10205) {
        // an odd entry: the rule's own words
        reason_ = zip.Message.section(QStringLiteral(" : "), 1);
        return Result::Damaged;
    }
    if (JoinWriteFailure(zip.ErrCode)) {
        const qint64 free = FreeBytes(tempDir_);
        if (free >= 0 && free < zip.FileSize + (1 << 20)) {
            detail_ = tempDir_;
            return Result::NoSpace;
        }
        return Result::CannotRead;
    }
    reason_ = QStringLiteral("son répertoire central ne se lit pas (%1)").arg(zip.Message);
    return Result::Damaged;
}

TableSetRestore::Result TableSetRestore::Extract(TZipArchiver& zip)
{
    restored_.clear();
    restoredEntries_.clear();
    texts_.clear();
    carriesTexts_ = false;
    detail_.clear();
    reason_.clear();
    if (!lock_) {
        lock_ = std::make_unique<Lock>();
        if (!lock_->Take(tempDir_)) {
            lock_.reset();
            return Result::InProgress;
        }
    }
    ClearTemp();
    const QString archive = zip.ZipFileName();
    if (archive.isEmpty() || !QFileInfo(archive).isFile()) {
        detail_ = archive;
        return Result::NotFound;
    }
    zip.ErrCode = 0;
    zip.Message.clear();
    zip.List();
    if (zip.ZipFileName().isEmpty())
        return Unreadable(zip, archive);
    struct Expected {
        QString entry;  // the name in the archive
        QString name;  // the file extracted into the temporary folder
        qint64 size, packed;
        bool text;
    };
    // Only what is restored is extracted: the tables of the schema, and the
    // protocol texts of a "PROT" folder. Two entries that would both be the
    // same file (in two folders, or named in two cases) leave nobody to
    // tell which one is meant.
    std::vector<Expected> expected;
    bool anyTable = false;
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
        const bool text = inProt && !protDir_.isEmpty() && IsProtocolTextName(name);
        const bool table = !inProt && IsRestoredName(name, schema_);
        if (!text && !table)
            continue;
        for (const Expected& other : expected) {
            if (other.name.compare(name, Qt::CaseInsensitive) == 0) {
                reason_ = QStringLiteral("deux entrées pour le même fichier : %1 et %2").arg(other.entry, entry);
                return Result::Damaged;
            }
        }
        anyTable = anyTable || table;
        expected.push_back({entry, name, qint64(e->UncompressedSize), qint64(e->CompressedSize), text});
    }
    if (!anyTable)
        return Result::NoTables;

    // Room for the extracted files (and for the joined copy of a set) on
    // the disk of the temporary folder, and for the restored files on the
    // data directory's when they must be copied there.
    qint64 unpacked = 0, packed = 0;
    for (const Expected& e : expected) {
        unpacked += e.size;
        packed += e.packed + 30 + 2 * e.entry.size();
    }
    const qint64 needed = unpacked + (zip.TotalDisks != 0 ? packed : 0);
    for (const QString& dir : {tempDir_, SameFileSystem(tempDir_, dataPath_) ? QString() : dataPath_}) {
        const qint64 free = dir.isEmpty() ? -1 : FreeBytes(dir);
        const qint64 want = dir == tempDir_ ? needed : unpacked;
        if (free >= 0 && free < want) {
            detail_ = dir;
            reason_ = QStringLiteral("il faut %1, il en reste %2").arg(Size(want, true), Size(free, false));
            return Result::NoSpace;
        }
    }

    // The library's own report of a failure: the first one tells the cause.
    LibraryFailure failure;
    const auto onMessage = zip.OnMessage;
    const auto onSkipped = zip.OnExtractSkipped;
    const QString tempDir = zip.TempDir;
    zip.OnMessage = [&](TZipArchiver* z, int code, const QString& text) {
        if (code != 0 && failure.code == 0) {
            failure.code = code;
            failure.text = text;
        }
        if (onMessage)
            onMessage(z, code, text);
    };
    zip.OnExtractSkipped = [&](TZipArchiver* z, const QString& forFile, UnZipSkipTypes type, int error) {
        if (failure.entry.isEmpty()) {
            failure.entry = QString(forFile).replace(QLatin1Char('\\'), QLatin1Char('/'));
            if (failure.code == 0)
                failure.code = error;
        }
        if (onSkipped)
            onSkipped(z, forFile, type, error);
    };
    QStringList specs;
    for (const Expected& e : expected)
        specs << e.entry;
    zip.ExtrBaseDir = tempDir_;
    zip.TempDir = tempDir_;  // the joined copy of a set, on the disk checked above
    zip.ErrCode = 0;
    zip.Message.clear();
    zip.SetFSpecArgs(specs);
    zip.Extract();
    zip.OnMessage = onMessage;
    zip.OnExtractSkipped = onSkipped;
    zip.TempDir = tempDir;
    // The library writes a file under its name only once its size and CRC
    // are those of its entry, and each name comes from one entry only: a
    // file of the right size in the emptied temporary folder is the entry's.
    std::vector<qint64> sizes(expected.size(), -1);
    QStringList written;
    for (size_t i = 0; i < expected.size(); ++i) {
        const QString path = tempDir_ + expected[i].name;
        const QFileInfo fi(path);
        if (!fi.isFile() || fi.isSymLink())
            continue;  // a link is no table
        sizes[i] = fi.size();
        written << path;
    }
    for (size_t i = 0; i < expected.size(); ++i) {
        const Expected& e = expected[i];
        if (sizes[i] == e.size && zip.SuccessCnt == int(expected.size())) {
            (e.text ? texts_ : restored_) << e.name;
            if (!e.text)
                restoredEntries_ << e.entry;
            continue;
        }
        ClearTemp();
        if (failure.code != 0 || !failure.entry.isEmpty())
            return LibraryFailed(failure.code, failure.text, failure.entry);
        if (zip.ErrCode >= 10000 && zip.ErrCode != 10502)
            return Unreadable(zip, archive);  // the component's own failure (joining a set)
        detail_ = e.entry;
        reason_ = sizes[i] < 0 ? QStringLiteral("elle n'a pas été extraite")
                               : QStringLiteral("sa taille diffère de celle que l'archive donne");
        return Result::Damaged;
    }
    writeback_ = std::make_unique<Writeback>(written);
    return Result::Done;
}

TableSetRestore::Result TableSetRestore::LibraryFailed(int32_t code, const QString& text, const QString& entry)
{
    detail_ = entry;
    reason_ = text;
    // the library's text ends with the entry's name, said once
    if (!entry.isEmpty() && reason_.endsWith(QStringLiteral(" : ") + entry))
        reason_.chop(entry.size() + 3);
    switch (code) {
    case zipeng::errSpace:
        detail_ = tempDir_;
        return Result::NoSpace;
    case zipeng::errPassword:
        return Result::WrongPassword;
    case zipeng::errCancelled:
        return Result::Cancelled;
    case zipeng::errWrite:
        // the folder the files are written into is at fault, not the archive
        detail_ = tempDir_;
        return Result::CannotWrite;
    case zipeng::errOpen:
        return Result::CannotRead;
    case zipeng::errMethod:
        // A sound archive of another writer's method (bzip2, LZMA, AES) is
        // no damaged one: the user must not throw it away.
        reason_ = QStringLiteral("l'entrée %1 est enregistrée d'une façon que le programme ne lit pas (%2)")
                      .arg(entry, reason_);
        return Result::CannotRead;
    case zipeng::errCrc:
        if (reason_.isEmpty())
            reason_ = QStringLiteral("données endommagées (erreur de CRC)");
        return Result::Damaged;
    default:
        return Result::Damaged;
    }
}

TableSetRestore::Result TableSetRestore::CheckTables(const QString& dir)
{
    QStringList bases;
    for (const QString& name : restored_)
        bases << name.left(name.lastIndexOf(QLatin1Char('.'))).toUpper();
    // The entry of the archive a file of the staging directory came from.
    auto entryOf = [&](const QString& file) {
        for (int i = 0; i < restored_.size(); ++i)
            if (restored_[i].compare(file, Qt::CaseInsensitive) == 0)
                return restoredEntries_[i];
        return QString();
    };
    for (const QString& table : SchemaTableNames(schema_)) {
        if (!bases.contains(table.left(table.lastIndexOf(QLatin1Char('.'))).toUpper()))
            continue;
        try {
            kdb::engine::OpenOptions options;
            options.readOnly = true;
            options.driverType = "DBASE";
            kdb::engine::openTable(dir.toStdString(), table.toStdString(), options);
        } catch (const EDBEngineError& e) {
            const QString file = QFileInfo(QString::fromStdString(e.file())).fileName();
            detail_ = entryOf(file);
            switch (e.code()) {
            case kdb::DBERR_NOSUCHTABLE:
                detail_ = table;
                reason_ = QStringLiteral("la sauvegarde a les autres fichiers de cette table, pas la table");
                break;
            case kdb::DBERR_MEMOCORRUPT:
                reason_ = QStringLiteral("le fichier mémo de la table %1 est illisible ou absent").arg(table);
                break;
            case kdb::DBERR_INDEXCORRUPT:
            case kdb::DBERR_INDEXOUTOFDATE:
            case kdb::DBERR_INVALIDTAG:
            case kdb::DBERR_NOSUCHINDEX:
                reason_ = QStringLiteral("l'index de la table %1 est illisible ou ne lui correspond pas").arg(table);
                break;
            case kdb::DBERR_HEADERCORRUPT:
                reason_ = QStringLiteral("son en-tête n'est pas celui d'une table");
                break;
            default:
                reason_ =
                    QStringLiteral("ce n'est pas une table que le programme peut ouvrir, erreur %1").arg(e.code());
                break;
            }
            // a file the archive lacks (the memo of a table): the table's entry
            if (detail_.isEmpty())
                detail_ = entryOf(table);
            if (detail_.isEmpty())
                detail_ = table;
            return Result::Damaged;
        }
    }
    return Result::Done;
}

}  // namespace backup
