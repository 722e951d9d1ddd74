// The zip component against Debian's zip/unzip and 7z on the tables of the
// generated practice (bench_gen DIR 1):
//   zip_bench <practice dir> [work dir]
// Adds every table file of the practice (.DBF, .MDX, .DBT) at level 9 with each tool, then extracts
// our archive with each; prints times, size and time ratios, and the peak
// memory of this process.
#include "zip/ZipArch.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QThread>

#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

namespace {

double Shell(const QString& cmd)
{
    QElapsedTimer t;
    t.start();
    int rc = std::system((cmd + " >/dev/null 2>&1").toLocal8Bit().constData());
    if (rc != 0)
        std::fprintf(stderr, "failed (%d): %s\n", rc, qPrintable(cmd));
    return t.elapsed() / 1000.0;
}

qint64 Size(const QString& f)
{
    return QFileInfo(f).size();
}

// Processor time (user + system) of this process or of its ended children.
double Cpu(int who)
{
    rusage ru{};
    getrusage(who, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <practice dir> [work dir]\n", argv[0]);
        return 2;
    }
    const QString src = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    const QString work = QDir(argc > 2 ? QString::fromLocal8Bit(argv[2]) : src + "-zipbench").absolutePath();
    QStringList files;
    qint64 total = 0;
    // The tables only (what a backup holds): not the SQLite copy or the
    // markers the other benchmarks keep beside them.
    const QStringList tables{"*.DBF", "*.MDX", "*.DBT"};
    for (const QFileInfo& fi : QDir(src).entryInfoList(tables, QDir::Files, QDir::Name)) {
        files << fi.absoluteFilePath();
        total += fi.size();
    }
    if (files.isEmpty()) {
        std::fprintf(stderr, "no tables in %s (write them with bench_gen %s 1)\n", qPrintable(src), qPrintable(src));
        return 2;
    }
    QDir(work).removeRecursively();
    QDir().mkpath(work);
    Shell("cat " + src + "/* > /dev/null");  // every tool starts with the tables in the page cache
    double load[3] = {0, 0, 0};
    getloadavg(load, 3);
    std::printf("%d files, %.1f MB, %d threads, load average %.1f (times are shared with it)\n", int(files.size()),
        total / 1e6, QThread::idealThreadCount(), load[0]);

    TZipArchiver z;
    z.Unattended = true;
    z.SetDLLDirectory(QStringLiteral(KORVALE_BINARY_DIR "/lib"));
    const QString ours = work + "/ours.zip";
    z.SetZipFileName(ours);
    z.SetFSpecArgs(files);
    QElapsedTimer t;
    t.start();
    double cpu0 = Cpu(RUSAGE_SELF);
    z.Add();
    const double addOurs = t.elapsed() / 1000.0;
    const double cpuOurs = Cpu(RUSAGE_SELF) - cpu0;
    if (z.SuccessCnt != files.size()) {
        std::fprintf(stderr, "add failed: %s\n", qPrintable(z.Message));
        return 1;
    }
    cpu0 = Cpu(RUSAGE_CHILDREN);
    const double addZip = Shell("zip -9 -q -j " + work + "/zip.zip " + files.join(' '));
    const double cpuZip = Cpu(RUSAGE_CHILDREN) - cpu0;
    const double add7z = Shell("7z a -tzip -mx=9 " + work + "/7z.zip " + files.join(' '));

    z.ExtrBaseDir = work + "/x-ours";
    z.ExtrOptions = {ExtrOverWrite};
    t.restart();
    z.Extract();
    const double exOurs = t.elapsed() / 1000.0;
    if (z.SuccessCnt != files.size())
        std::fprintf(stderr, "extract failed: %s\n", qPrintable(z.Message));
    const double exUnzip = Shell("unzip -q -o " + ours + " -d " + work + "/x-unzip");
    const double ex7z = Shell("7z x -y -o" + work + "/x-7z " + ours);
    const bool same = Shell("cmp " + work + "/x-ours/Cons.DBF " + src + "/Cons.DBF") >= 0 &&
        std::system(("cmp -s " + work + "/x-ours/Cons.DBF " + src + "/Cons.DBF").toLocal8Bit().constData()) == 0;

    const qint64 sOurs = Size(ours), sZip = Size(work + "/zip.zip"), s7z = Size(work + "/7z.zip");
    std::printf("\n%-22s %10s %10s %10s\n", "", "ours", "zip -9", "7z -mx=9");
    std::printf("%-22s %10.2f %10.2f %10.2f\n", "add (s)", addOurs, addZip, add7z);
    std::printf("%-22s %10.2f %10.2f\n", "add processor (s)", cpuOurs, cpuZip);
    std::printf("%-22s %10lld %10lld %10lld\n", "archive (bytes)", sOurs, sZip, s7z);
    std::printf("%-22s %10s %10.2f %10.2f\n", "add time ratio", "", addZip / addOurs, add7z / addOurs);
    std::printf("%-22s %10s %+9.2f%% %+9.2f%%\n", "our size vs", "", 100.0 * (sOurs - sZip) / sZip,
        100.0 * (sOurs - s7z) / s7z);
    std::printf("%-22s %10.2f %10.2f %10.2f\n", "extract (s)", exOurs, exUnzip, ex7z);
    std::printf("%-22s %10s %10.2f %10.2f\n", "extract time ratio", "", exUnzip / exOurs, ex7z / exOurs);
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("peak memory of this process: %.1f MB; Cons.DBF extracted identical: %s\n", ru.ru_maxrss / 1024.0,
        same ? "yes" : "NO");
    QDir(work).removeRecursively();
    return same ? 0 : 1;
}
