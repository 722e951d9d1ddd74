#include "platform/os/Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace kos {

namespace {

QString EnvPath(const char* name)
{
    const QByteArray value = qgetenv(name);
    if (value.isEmpty())
        return {};
    const QString path = QString::fromLocal8Bit(value);
    // Relative values are ignored, as the base-directory convention asks.
    if (!QDir::isAbsolutePath(path))
        return {};
    return path;
}

}  // namespace

QString WithTrailingSlash(const QString& path)
{
    if (path.isEmpty() || path.endsWith(QLatin1Char('/')))
        return path;
    return path + QLatin1Char('/');
}

QString ProgramHomeDir()
{
    const QByteArray home = qgetenv("KORVALE_HOME");
    if (!home.isEmpty())
        return WithTrailingSlash(QDir::cleanPath(QDir(QString::fromLocal8Bit(home)).absolutePath()));
    QString base = EnvPath("XDG_DATA_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return WithTrailingSlash(QDir::cleanPath(base + QStringLiteral("/korvale")));
}

QString ConfigHomeDir()
{
    QString base = EnvPath("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return WithTrailingSlash(QDir::cleanPath(base + QStringLiteral("/korvale")));
}

QString PrivateTempDir()
{
    return WithTrailingSlash(QDir::cleanPath(
        QDir::tempPath() + QStringLiteral("/korvale-") + QString::number(static_cast<qulonglong>(::getuid()))));
}

QString ProcessTempDir()
{
    return PrivateTempDir() + QString::number(static_cast<qint64>(::getpid())) + QLatin1Char('/');
}

void RemoveEndedProcessTempDirs()
{
    const QDir dir(PrivateTempDir());
    for (const QString& name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks)) {
        bool numeric = false;
        const qint64 pid = name.toLongLong(&numeric);
        if (!numeric || pid <= 0 || name != QString::number(pid))
            continue;
        // The process is gone when no signal can reach it at all.
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)
            continue;
        QDir(dir.filePath(name)).removeRecursively();
    }
}

namespace {
// The candidates that are folders, absolute, with a trailing slash, each once.
QStringList ExistingDirs(const QStringList& candidates)
{
    QStringList result;
    for (const QString& c : candidates) {
        const QFileInfo info(c);
        if (info.isDir()) {
            const QString path = WithTrailingSlash(QDir::cleanPath(info.absoluteFilePath()));
            if (!result.contains(path))
                result << path;
        }
    }
    return result;
}
}  // namespace

QStringList ShippedDirs()
{
    QStringList candidates;
#ifdef KORVALE_SHIPPED_DIR
    candidates << QStringLiteral(KORVALE_SHIPPED_DIR);
#endif
    if (QCoreApplication::instance())
        candidates << QCoreApplication::applicationDirPath() + QStringLiteral("/../share/korvale");
    return ExistingDirs(candidates);
}

QString ProgramLibraryDir()
{
    QStringList candidates;
#ifdef KORVALE_LIBRARY_DIR
    candidates << QStringLiteral(KORVALE_LIBRARY_DIR);
#endif
    if (QCoreApplication::instance())
        candidates << QCoreApplication::applicationDirPath() + QStringLiteral("/../lib/korvale");
    const QStringList dirs = ExistingDirs(candidates);
    return dirs.isEmpty() ? QString() : dirs.first();
}

}  // namespace kos
