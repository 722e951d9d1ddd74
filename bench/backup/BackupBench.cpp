// Backup and restore of the generated practice through the backup screen,
// beside the outside zip -9 and unzip on the same files:
//   bench_backup [scale] [work directory]
// scale 1 (default) is the 20-year practice of bench/gen. Goals: the backup
// at least 6 times faster than zip -9 with at most 0.5 % more bytes; the
// restore (its files forced to the disk) in at most a third of unzip's time
// (which forces nothing), the best of three rounds each.
#include "app/backup/BackupSet.h"
#include "app/backup/USaveRestore.h"
#include "app/global/AppContext.h"
#include "app/global/global.h"
#include "platform/ui/Messages.h"
#include "resources/schema/SchemaText.h"

#include "bench/gen/Practice.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

double Run(const QString& program, const QStringList& args)
{
    QElapsedTimer t;
    t.start();
    if (QProcess::execute(program, args) != 0) {
        std::fprintf(stderr, "%s failed\n", qPrintable(program));
        std::exit(1);
    }
    return t.nsecsElapsed() / 1e9;
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const double scale = argc > 1 ? std::atof(argv[1]) : 1.0;
    QTemporaryDir tmp(argc > 2 ? QString::fromLocal8Bit(argv[2]) + "/bench_backup-XXXXXX" : QString());
    const QString root = tmp.path() + '/';
    AppDir = root;
    DataPath = root + "Data/";
    QDir().mkpath(DataPath);
    std::printf("writing the practice (scale %.2f)...\n", scale);
    kbench::writePractice(DataPath.toStdString(), scale, false);
    qint64 dataBytes = 0;
    QStringList files;
    for (const QFileInfo& fi : QDir(DataPath).entryInfoList(QDir::Files)) {
        dataBytes += fi.size();
        files << fi.filePath();
    }
    std::printf("%lld files, %.1f MB\n", qlonglong(files.size()), dataBytes / 1e6);

    AppContext context;
    context.schema = SchemaText();
    kui::ScopedMessageRecorder messages;
    messages.SetDefaultAnswer(QMessageBox::Yes);

    const QString dest = root + "dest/";
    QDir().mkpath(dest);
    QElapsedTimer t;
    double backupTime = 0;
    {
        TfrmSaveRestore screen(context, TfrmSaveRestore::Mode::Backup);
        screen.ChooseFolder = [&](QWidget*, const QString&) { return dest; };
        t.start();
        screen.DoBackup();
        backupTime = t.nsecsElapsed() / 1e9;
    }
    const qint64 ours = QFileInfo(dest + "Korvale.zip").size();

    const QString ref = root + "ref.zip";
    const double zipTime = Run("zip", QStringList{"-9", "-r", "-j", "-q", ref} + files);
    const qint64 theirs = QFileInfo(ref).size();

    // The restore and unzip in turn, each from a disk with nothing left to
    // write (the practice and the archives just written are flushed first),
    // the best of three rounds of each.
    const int rounds = 3;
    double restoreTime = 1e9, unzipTime = 1e9;
    const QString out = root + "unzipped/";
    for (int round = 0; round < rounds; ++round) {
        messages.Clear();
        ::sync();
        {
            TfrmSaveRestore screen(context, TfrmSaveRestore::Mode::Restore);
            screen.ChooseArchive = [&](QWidget*, QString& name) {
                name = dest + "Korvale.zip";
                return true;
            };
            t.start();
            screen.btnRestoreClick();
            restoreTime = std::min(restoreTime, t.nsecsElapsed() / 1e9);
        }
        if (messages.Count() != 2)
            std::fprintf(stderr, "unexpected message: %s\n", qPrintable(messages.Last().text));
        // The replaced set goes in the background: gone before unzip is timed.
        backup::TableSetRestore::WaitForRemoval();
        QDir(out).removeRecursively();
        ::sync();
        unzipTime = std::min(unzipTime, Run("unzip", {"-q", "-o", ref, "-d", out}));
    }

    std::printf("backup  : %.2f s, %lld bytes | zip -9: %.2f s, %lld bytes | %.1fx faster, %+.3f %% bytes\n",
        backupTime, qlonglong(ours), zipTime, qlonglong(theirs), zipTime / backupTime,
        100.0 * double(ours - theirs) / double(theirs));
    std::printf(
        "restore : %.2f s | unzip: %.2f s | %.2f of unzip's time\n", restoreTime, unzipTime, restoreTime / unzipTime);
    const bool met = zipTime / backupTime >= 6 && ours <= theirs * 1.005 && restoreTime <= unzipTime / 3;
    std::printf("goals %s\n", met ? "met" : "NOT met");
    return 0;
}
