// The journal's switch of a restore: the journal written beside the data
// directory once the new files are gathered, each directory exchanged with
// its staging directory (or its files moved one by one), the way back when
// a step fails, and the completion of a restore stopped midway.
#include "app/backup/FileSteps.h"

#include "platform/db/core/File.h"
#include "platform/db/core/FileSystem.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace backup {

namespace steps {

namespace {

bool SameDirectory(const QString& path, quint64 dev, quint64 ino)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && quint64(st.st_dev) == dev &&
        quint64(st.st_ino) == ino;
}

// The staging directory now stands where the replaced one was.
bool Exchanged(const RestoreSet& m)
{
    return SameDirectory(m.live, m.dev, m.ino);
}

// The replaced files go to the directory of previous files, then the new
// ones take their place. Each step looks at what is where first, so that a
// replacement stopped anywhere is carried on by running this again.
bool Forward(const RestoreSet& m, QString& failure)
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
bool Backward(const RestoreSet& m)
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
bool WriteJournal(const QString& file, const std::vector<RestoreSet>& sets, QString& failure)
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

// Renames a replaced set beside its directory, under a name of its own,
// for the background removal: the names a restore works with are free at
// once, whatever the removal still has to do. The set stays where it is
// when the renaming fails.
QString ForRemoval(const QString& dir, const QString& live)
{
    static int count = 0;
    const QString replaced = ReplacedDir(live) +
        QStringLiteral(".%1-%2-%3").arg(QDateTime::currentMSecsSinceEpoch()).arg(::getpid()).arg(++count);
    if (!Exists(replaced) && Move(dir, replaced))
        return replaced;
    return dir;
}

// What a finished replacement leaves: the replaced set and the staging
// directory's rest, for the background removal.
void Discard(const RestoreSet& m, QStringList& removals)
{
    if (Exchanged(m)) {
        removals << ForRemoval(m.staging, m.live);  // the staging directory holds the replaced set
    } else {
        QDir(m.staging).removeRecursively();  // links to the files kept
        removals << ForRemoval(m.previous, m.live);
    }
}

}  // namespace

bool Complete(const QString& dataPath, const QString& protDir, QString* failure)
{
    QStringList removals;
    QString journal = JournalFile(dataPath);
    for (const QString& other : JournalFiles(dataPath))
        if (!Exists(journal) && Exists(other))
            journal = other;
    std::vector<RestoreSet> sets;
    QByteArray text;
    {
        QFile f(journal);
        if (f.open(QIODevice::ReadOnly))
            text = f.readAll();
    }
    if (ParseJournal(text, sets)) {
        // Only the data directory and the protocol texts' folder are ever
        // replaced: a journal naming another directory is not followed.
        for (const RestoreSet& m : sets) {
            if (m.live != RealDir(dataPath) && (protDir.isEmpty() || m.live != RealDir(protDir))) {
                if (failure)
                    *failure = QStringLiteral("%1 nomme le dossier %2").arg(QFileInfo(journal).fileName(), m.live);
                return false;
            }
        }
        QString why;
        for (const RestoreSet& m : sets) {
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
        for (const RestoreSet& m : sets)
            Discard(m, removals);
    } else if (Exists(journal)) {
        // It is renamed in place only once whole: a damaged journal is kept
        // for whoever looks into it, and nothing is moved.
        if (failure)
            *failure = QStringLiteral("le journal %1 est illisible").arg(journal);
        return false;
    }
    for (const QString& file : JournalFiles(dataPath))
        QFile::remove(file + QStringLiteral(".part"));
    QStringList dirs{dataPath};
    if (!protDir.isEmpty())
        dirs << protDir;
    for (const QString& dir : dirs) {
        for (const QString& left : RestoreLeftovers(dir)) {
            if (removals.contains(left))
                continue;
            // the staging and previous names free at once; a replaced set
            // has a name of its own already
            const bool named = left.endsWith(QStringLiteral(".restaure")) || left.endsWith(QStringLiteral(".precedent"));
            removals << (named ? ForRemoval(left, RealDir(dir)) : left);
        }
    }
    StartRemoval(removals);
    return true;
}

}  // namespace steps

using namespace steps;

namespace {

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
    WaitRemoval();
}

void TableSetRestore::ClearTemp() const
{
    ClearFolder(tempDir_, kLockName);
}

TableSetRestore::Result TableSetRestore::Replace()
{
    // A data directory this user cannot write (a read-only disk, its rights
    // taken away) is said as such: no table of it opens exclusively, which
    // is no table open on another workstation.
    if (::access(QFile::encodeName(dataPath_).constData(), W_OK) != 0) {
        detail_ = QDir::toNativeSeparators(WithoutSlash(dataPath_)) + QStringLiteral(" : ") + SystemReason();
        return Result::Failed;
    }
    TableHold hold;
    if (!hold.Take(schema_, dataPath_, TableHold::Mode::Exclusive)) {
        detail_ = hold.BusyTable();
        const std::string file = kdb::findFileNoCase(dataPath_.toStdString(), detail_.toStdString());
        return OpenHere(QString::fromStdString(file)) ? Result::TableBusyHere : Result::TableBusy;
    }
    // A restore stopped earlier is finished first; what earlier restores
    // replaced goes meanwhile, never waited for.
    if (!Complete(dataPath_, protDir_, &detail_))
        return Result::Failed;

    ForgetReason();
    if (writeback_)
        writeback_->Wait();
    std::vector<RestoreSet> sets = PlanSets(dataPath_, restored_, carriesTexts_, protDir_, texts_);
    std::vector<bool> exchange;
    bool ok = Gather(sets, exchange, UseExchange, tempDir_, detail_);
    // Nothing moves unless every restored table opens where it will stand.
    const Result tables = ok ? CheckTables(sets.front().staging) : Result::Done;
    const QString journal = JournalFile(dataPath_);
    QString why;
    ok = ok && tables == Result::Done && WriteJournal(journal, sets, why);
    if (!ok) {
        if (detail_.isEmpty())
            detail_ = why.isEmpty() ? SystemReason() : why;
        for (const RestoreSet& m : sets)
            if (!m.staging.isEmpty())
                QDir(m.staging).removeRecursively();
        if (tables != Result::Done)
            return tables;
        // a full disk is no failure of the archive, nor of the files
        if (ReasonErrno() == ENOSPC || ReasonErrno() == EDQUOT) {
            reason_.clear();
            detail_ = RealDir(dataPath_);
            return Result::NoSpace;
        }
        return Result::Failed;
    }

    // From here on the journal says where every file goes.
    for (size_t i = 0; i < sets.size(); ++i) {
        const RestoreSet& m = sets[i];
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
            for (const RestoreSet& m : sets) {
                removals << ForRemoval(m.staging, m.live);
                if (Exists(m.previous))
                    removals << ForRemoval(m.previous, m.live);
            }
            StartRemoval(removals);
        }
        return Result::Failed;
    }
    if (!RemoveJournal(journal)) {
        detail_ = QFileInfo(journal).fileName() + QStringLiteral(" : ") + SystemReason();
        return Result::Failed;
    }
    hold.Release();
    for (const RestoreSet& m : sets)
        Discard(m, removals);
    StartRemoval(removals);
    ClearTemp();
    return Result::Done;
}

}  // namespace backup
