#include "platform/os/Calculator.h"

#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kos {

namespace {

// Starts the program in a grandchild of this process, so that it belongs to
// no one here, and answers 0 or the errno of the failed fork or exec. The
// exec's errno comes back through a pipe that the exec closes when it works.
int SpawnDetached(const char* file)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return errno;
    const pid_t child = ::fork();
    if (child < 0) {
        const int err = errno;
        ::close(fds[0]);
        ::close(fds[1]);
        return err;
    }
    if (child == 0) {
        // Only async-signal-safe calls from here on.
        ::close(fds[0]);
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild != 0) {
            if (grandchild < 0) {
                const int err = errno;
                (void)!::write(fds[1], &err, sizeof err);
            }
            ::_exit(0);
        }
        char* const argv[] = {const_cast<char*>(file), nullptr};
        ::execv(file, argv);
        const int err = errno;
        (void)!::write(fds[1], &err, sizeof err);
        ::_exit(127);
    }
    ::close(fds[1]);
    int err = 0;
    ssize_t n;
    do
        n = ::read(fds[0], &err, sizeof err);
    while (n < 0 && errno == EINTR);
    ::close(fds[0]);
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) { }
    return n == static_cast<ssize_t>(sizeof err) ? err : 0;
}

}  // namespace

QStringList CalculatorCandidates()
{
    return {QStringLiteral("gnome-calculator"), QStringLiteral("kcalc"), QStringLiteral("galculator"),
        QStringLiteral("qalculate-gtk"), QStringLiteral("mate-calc"), QStringLiteral("xcalc")};
}

QString FindCalculator(const QStringList& searchPaths)
{
    for (const QString& name : CalculatorCandidates()) {
        const QString path = QStandardPaths::findExecutable(name, searchPaths);
        if (!path.isEmpty())
            return path;
    }
    return {};
}

CalculatorStart StartCalculator(const QStringList& searchPaths)
{
    const QString path = FindCalculator(searchPaths);
    if (path.isEmpty())
        return CalculatorStart::NotFound;
    switch (SpawnDetached(QFile::encodeName(path).constData())) {
    case 0:
        return CalculatorStart::Started;
    case ENOMEM:
    case EAGAIN:
        return CalculatorStart::OutOfMemory;
    case ENOENT:
        return CalculatorStart::NotFound;
    default:
        return CalculatorStart::CannotRun;
    }
}

}  // namespace kos
