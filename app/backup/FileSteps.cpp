#include "app/backup/FileSteps.h"

#include "platform/db/core/FileSystem.h"
#include "platform/os/SystemError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <deque>
#include <filesystem>
#include <mutex>
#include <thread>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace backup {

namespace steps {

namespace {

// The removal of replaced sets, away from the user's wait: a queue worked
// through by one thread, which the program waits for before it ends. Asking
// for a removal never waits.
class Remover {
public:
    ~Remover() { Wait(); }
    void Start(const QStringList& dirs)
    {
        if (dirs.isEmpty())
            return;
        bool start = false;
        {
            std::lock_guard lock(mutex_);
            for (const QString& dir : dirs)
                queue_.emplace_back(QFile::encodeName(dir).toStdString());
            start = !running_;
            running_ = true;
        }
        if (!start)
            return;
        if (thread_.joinable())
            thread_.join();  // a worker that has ended
        thread_ = std::thread([this] { Run(); });
    }
    void Wait()
    {
        if (thread_.joinable())
            thread_.join();
    }

private:
    void Run()
    {
        for (;;) {
            std::filesystem::path path;
            {
                std::lock_guard lock(mutex_);
                if (queue_.empty()) {
                    running_ = false;
                    return;
                }
                path = queue_.front();
                queue_.pop_front();
            }
            std::error_code ec;
            std::filesystem::remove_all(path, ec);  // what stays goes at the next start
        }
    }
    std::mutex mutex_;
    std::deque<std::filesystem::path> queue_;
    bool running_ = false;
    std::thread thread_;
};

Remover& TheRemover()
{
    static Remover remover;
    return remover;
}

}  // namespace

const QString kLockName = QStringLiteral(".verrou");

QString WithoutSlash(const QString& dir)
{
    QString d = dir;
    while (d.size() > 1 && d.endsWith(QLatin1Char('/')))
        d.chop(1);
    return d;
}

namespace {
thread_local int lastReason = 0;
}  // namespace

QString SystemReason()
{
    lastReason = errno;
    return QString::fromStdString(kos::SystemErrorText(lastReason));
}

int ReasonErrno()
{
    return lastReason;
}

void ForgetReason()
{
    lastReason = 0;
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

std::string Native(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

bool Move(const QString& from, const QString& to)
{
    return kdb::fileSystem().rename(Native(from), Native(to)) == 0;
}

bool Exists(const QString& path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

QString In(const QString& dir, const QString& name)
{
    return dir + QLatin1Char('/') + name;
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

void StartRemoval(const QStringList& dirs)
{
    TheRemover().Start(dirs);
}

void WaitRemoval()
{
    TheRemover().Wait();
}

}  // namespace steps

QString RealDir(const QString& dir)
{
    const QString plain = steps::WithoutSlash(dir);
    const QString real = QFileInfo(plain).canonicalFilePath();
    return real.isEmpty() ? plain : real;
}

namespace {

// Whether a restore's own directories and journal stand beside `real` (the
// data directory or the texts' folder, its links followed): its parent is
// on the same file system and this user may create entries there. A folder
// that is the root of a mounted share, or a shared folder whose parent only
// the administrator writes, gets them inside it, hidden, and its files are
// then replaced one by one.
bool Beside(const QString& real)
{
    const QByteArray path = QFile::encodeName(real);
    const QByteArray parent = QFile::encodeName(QFileInfo(real).absolutePath());
    struct stat self, up;
    if (::stat(path.constData(), &self) != 0 || ::stat(parent.constData(), &up) != 0)
        return true;
    return self.st_dev == up.st_dev && ::access(parent.constData(), W_OK | X_OK) == 0;
}

// Where a restore keeps `what` ("restaure", "precedent", ...) for `dir`.
QString Working(const QString& dir, const QString& what)
{
    const QString real = RealDir(dir);
    return real + (Beside(real) ? QStringLiteral(".") : QStringLiteral("/.")) + what;
}

}  // namespace

QString StagingDir(const QString& dir)
{
    return Working(dir, QStringLiteral("restaure"));
}
QString PreviousDir(const QString& dir)
{
    return Working(dir, QStringLiteral("precedent"));
}
QString ReplacedDir(const QString& dir)
{
    return Working(dir, QStringLiteral("ancien"));
}
QString JournalFile(const QString& dataPath)
{
    return Working(dataPath, QStringLiteral("restauration"));
}
QStringList JournalFiles(const QString& dataPath)
{
    const QString real = RealDir(dataPath);
    QStringList both{JournalFile(dataPath)};
    for (const QString& other : {real + QStringLiteral(".restauration"), real + QStringLiteral("/.restauration")})
        if (!both.contains(other))
            both << other;
    return both;
}

bool InsideDir(const QString& path, const QString& dir)
{
    return QFileInfo(path).absolutePath() == RealDir(dir);
}

QStringList RestoreLeftovers(const QString& dir)
{
    const QFileInfo real(RealDir(dir));
    QStringList left;
    // beside the directory, and inside it (where they go when they cannot
    // stand beside it), wherever the last restore put them
    const struct {
        QString folder, prefix;
    } places[] = {{real.absolutePath(), real.fileName() + QLatin1Char('.')}, {real.filePath(), QStringLiteral(".")}};
    for (const auto& place : places) {
        const QString& p = place.prefix;
        const QStringList names =
            QDir(place.folder)
                .entryList({p + QStringLiteral("restaure"), p + QStringLiteral("precedent"), p + QStringLiteral("ancien*")},
                    QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks);
        for (const QString& name : names)
            if (name.startsWith(p))  // the filter takes no account of case
                left << place.folder + QLatin1Char('/') + name;
    }
    return left;
}

TableSetRestore::Lock::~Lock()
{
    if (fd >= 0)
        ::close(fd);
}

bool TableSetRestore::Lock::Take(const QString& dir)
{
    fd = ::open(QFile::encodeName(dir + steps::kLockName).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
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

}  // namespace backup
