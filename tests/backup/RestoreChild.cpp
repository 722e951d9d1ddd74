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
//       (from 1); prints "renames <count>" when it got through.
#include "app/backup/BackupSet.h"
#include "platform/db/core/FileSystem.h"
#include "platform/db/core/Table.h"
#include "platform/db/engine/Engine.h"
#include "resources/schema/SchemaText.h"
#include "zip/ZipArch.h"

#include <QApplication>
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
    return 2;
}
