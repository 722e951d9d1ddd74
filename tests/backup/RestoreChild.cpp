// The second program of the restore tests:
//   backup_test_child hold <dataPath> <table>   opens the table (shared),
//       prints "ready" and keeps it open until its input closes;
//   backup_test_child append <dataPath>   holds the patient table's lock
//       while it appends 200 patients one by one, then lets it go;
//   backup_test_child restore <dataPath> <tempDir> <archive>
//       restores the archive, prints "done" when the files are replaced;
//   backup_test_child backup <dataPath> <protDir> <archive>   writes the backup
//       archive of the tables and protocol texts as the screens do, prints
//       "done" when it is in place;
//   backup_test_child kill <n> <exchange|files> <dataPath> <tempDir> <archive> <protDir>
//       restores the archive with its protocol texts, the directories
//       exchanged or replaced file by file, and is killed at the n-th rename
//       (from 1); prints "renames <count>" when it got through;
//   backup_test_child diskbackup <dataPath> <protDir> <media>   the backup
//       screen writes the archive onto the disks of a removable drive made
//       under <media>, in a program started as the program starts; killed
//       when the second disk is asked for, after printing "volume 2".
#include "app/backup/BackupSet.h"
#include "app/backup/USaveRestore.h"
#include "app/global/AppContext.h"
#include "app/global/global.h"
#include "platform/db/core/Session.h"
#include "platform/os/Paths.h"
#include "platform/ui/Messages.h"
#include "tests/support/FakeVolumes.h"
#include "platform/db/core/FileSystem.h"
#include "platform/db/core/Table.h"
#include "platform/db/engine/Engine.h"
#include "resources/schema/SchemaText.h"
#include "zip/ZipArch.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>

namespace {

// The file system of the engine, killing the program at the n-th rename.
class KillingFileSystem : public kdb::FileSystem {
public:
    explicit KillingFileSystem(int at) : at_(at) { }
    int rename(const std::string& from, const std::string& to) override
    {
        Step();
        return kdb::FileSystem::rename(from, to);
    }
    int exchange(const std::string& a, const std::string& b) override
    {
        Step();
        return kdb::FileSystem::exchange(a, b);
    }
    int count = 0;

private:
    void Step()
    {
        if (++count == at_)
            ::raise(SIGKILL);
    }
    int at_;
};

// Answers the backup screen's boxes as the user would, a disk into the
// drive for each disk asked for; the program is killed when the second
// one is asked for (the archive is then whole in its work file).
class DiskUser : public kui::MessageService {
public:
    DiskUser(ktest::FakeVolumes& volumes, const QString& drive) : volumes_(volumes), drive_(drive)
    {
        for (int i = 0; i < 8; ++i)
            disks_ << volumes_.NewDisk(QStringLiteral("disk%1").arg(i + 1), 12000);
    }
    kui::MsgButton Show(const kui::MsgRequest& r) override
    {
        static const QRegularExpression volume(QStringLiteral("^Insérer le volume n°(\\d+)"));
        if (r.text == QStringLiteral("Insérer une disquette dans le lecteur SVP.")) {
            volumes_.Insert(drive_, disks_[0]);
        } else if (auto m = volume.match(r.text); m.hasMatch()) {
            const int number = m.captured(1).toInt();
            if (number == 2) {
                std::printf("volume 2\n");
                std::fflush(stdout);
                ::raise(SIGKILL);
            }
            volumes_.Insert(drive_, disks_[number - 1]);
        }
        return (r.buttons & QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
    }

private:
    ktest::FakeVolumes& volumes_;
    QString drive_;
    QList<ktest::FakeDisk*> disks_;
};

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args[1] == "hold") {
        auto table = kdb::engine::openTable(args[2].toStdString(), args[3].toStdString());
        std::printf("ready\n");
        std::fflush(stdout);
        std::string line;
        std::getline(std::cin, line);
        return 0;
    }
    if (args.size() == 3 && args[1] == "append") {
        auto table = kdb::engine::openTable(args[2].toStdString(), "Patient.DBF");
        if (!table->lockTable())
            return 1;
        std::printf("ready\n");
        std::fflush(stdout);
        for (int i = 0; i < 200; ++i) {
            const QString code = QString::number(900000 + i);
            table->append({code, code, QStringLiteral("LOCKED%1").arg(i)});
            QThread::msleep(5);
        }
        table->flush();
        table->unlockTable();
        return 0;
    }
    if (args.size() == 5 && args[1] == "restore") {
        TZipArchiver zip;
        zip.Unattended = true;
        zip.SetZipFileName(args[4]);
        backup::TableSetRestore restore(SchemaText(), args[2], args[3]);
        auto r = restore.Extract(zip);
        if (r == backup::TableSetRestore::Result::Done)
            r = restore.Replace();
        std::printf(r == backup::TableSetRestore::Result::Done ? "done\n" : "failed\n");
        return r == backup::TableSetRestore::Result::Done ? 0 : 1;
    }
    if (args.size() == 5 && args[1] == "backup") {
        TZipArchiver zip;
        zip.Unattended = true;
        QString failure;
        const bool ok =
            backup::WriteArchive(zip, backup::BackupFileSpecs(SchemaText(), args[2]), args[4], failure, false, args[3]);
        std::printf(ok ? "done\n" : "failed: %s\n", qPrintable(failure));
        return ok ? 0 : 1;
    }
    if (args.size() == 8 && args[1] == "kill") {
        KillingFileSystem fs(args[2].toInt());
        kdb::ScopedFileSystem installed(fs);
        backup::TableSetRestore::UseExchange = args[3] == "exchange";
        TZipArchiver zip;
        zip.Unattended = true;
        zip.SetZipFileName(args[6]);
        backup::TableSetRestore restore(SchemaText(), args[4], args[5], args[7]);
        auto r = restore.Extract(zip);
        if (r == backup::TableSetRestore::Result::Done)
            r = restore.Replace();
        backup::TableSetRestore::WaitForRemoval();
        std::printf("renames %d\n", fs.count);
        return r == backup::TableSetRestore::Result::Done ? 0 : 1;
    }
    if (args.size() == 5 && args[1] == "diskbackup") {
        // the shared variables as the start sets them
        DataPath = args[2];
        ProtDir = args[3];
        TempPath = kos::ProcessTempDir();
        QDir().mkpath(TempPath);
        QDir().mkpath(args[4]);
        ktest::FakeVolumes volumes(args[4]);
        kos::ScopedVolumes use(volumes);
        const QString drive = volumes.AddDrive(QStringLiteral("usb"), kos::DriveType::Removable);
        DiskUser user(volumes, drive);
        kui::MessageService* previous = kui::SetMessageService(&user);
        AppContext context;
        context.session = &kdb::Session::instance();
        context.schema = SchemaText();
        context.messages = &user;
        {
            TfrmSaveRestore screen(context, TfrmSaveRestore::Mode::Backup);
            screen.ZipArchiver1()->MinFreeVolumeSize = 4096;
            screen.ChooseFolder = [&](QWidget*, const QString&) { return drive; };
            QTest::mouseClick(screen.btnSave(), Qt::LeftButton);
        }
        kui::SetMessageService(previous);
        std::printf("not killed\n");
        return 1;
    }
    return 2;
}
