// The restore through the screen: byte for byte the backed-up tables, the
// extra files of an archive left out, the refusal while another program
// has a table open, and a restore killed at any moment.
#include "tests/backup/BackupFixture.h"

#include "app/backup/BackupSet.h"
#include "app/backup/USaveRestore.h"
#include "checker/DbCheck.h"
#include "platform/db/core/Table.h"
#include "platform/db/engine/Engine.h"
#include "resources/schema/SchemaText.h"

#include <QPushButton>
#include <QtEndian>
#include <QElapsedTimer>
#include <QThread>
#include <QRandomGenerator>
#include <QTest>

#include <csignal>

namespace {

const QString kChild = QStringLiteral(KORVALE_BINARY_DIR "/tests/backup/backup_test_child");

}  // namespace

class Restore : public BackupFixture {
protected:
    // Restores `archive` through the screen, answering Yes to both questions.
    void RestoreThroughScreen(const QString& archive)
    {
        TfrmSaveRestore screen(practice_.context(), TfrmSaveRestore::Mode::Restore);
        EXPECT_TRUE(screen.btnSave()->isHidden());
        screen.ChooseArchive = [&](QWidget*, QString& name) {
            name = archive;
            return true;
        };
        messages_.Answer(QMessageBox::Yes);
        messages_.Answer(QMessageBox::Yes);
        QTest::mouseClick(screen.btnRestore(), Qt::LeftButton);
        EXPECT_TRUE(screen.btnClose()->isEnabled());
    }
    void Backup()
    {
        TfrmSaveRestore screen(practice_.context(), TfrmSaveRestore::Mode::Backup);
        screen.ChooseFolder = [&](QWidget*, const QString&) { return dest_; };
        screen.DoBackup();
        ASSERT_TRUE(QFileInfo::exists(dest_ + "Korvale.zip"));
    }
    // The table check finds nothing to change and every table opens.
    static void ExpectSound()
    {
        TDbCheck check(nullptr);
        check.Descriptor = SchemaText();
        check.CorrectPath = DataPath;
        QStringList changes;
        check.OnFoundDiff = [&](QObject*, TChkMessage, const QString& table, bool& correct) {
            changes << table;
            correct = false;
        };
        check.CheckDatabase();
        EXPECT_TRUE(changes.isEmpty()) << changes.join(",").toStdString();
        for (const QString& name : backup::SchemaTableNames(SchemaText()))
            EXPECT_EQ(kdb::engine::openTableResult(DataPath.toStdString(), name.toStdString(), "DBASE", false), 0)
                << name.toStdString();
    }
};

// By exchanging the directories, and file by file where they cannot be
// exchanged.
TEST_F(Restore, GivesBackTheBackedUpTablesByteForByte)
{
    Backup();
    const auto saved = DataFiles();
    for (bool exchange : {true, false}) {
        SCOPED_TRACE(exchange ? "exchanged directories" : "file by file");
        messages_.Clear();
        ChangeRows();
        AddPatients(500, 30);
        ASSERT_NE(DataFiles(), saved);
        backup::TableSetRestore::UseExchange = exchange;
        RestoreThroughScreen(dest_ + "Korvale.zip");
        backup::TableSetRestore::UseExchange = true;
        EXPECT_EQ(messages_.Count(), 2);  // the two questions, nothing else
        EXPECT_EQ(DataFiles(), saved);
        EXPECT_TRUE(QDir(AppDir + "Temp/").isEmpty());
        EXPECT_FALSE(QFileInfo::exists(backup::StagingDir(DataPath)));
        EXPECT_FALSE(QFileInfo::exists(backup::PreviousDir(DataPath)));
        backup::TableSetRestore::WaitForRemoval();
        EXPECT_FALSE(QFileInfo::exists(backup::ReplacedDir(DataPath)));
        ExpectSound();
    }
}

TEST_F(Restore, AReplacementThatFailsLeavesEveryFileAndSaysSo)
{
    Backup();
    ChangeRows();
    // A folder in the way of one restored file.
    ASSERT_TRUE(QFile::remove(DataPath + "FPHOTO.DBF"));
    QDir().mkpath(DataPath + "FPHOTO.DBF/inside");
    const auto before = DataFiles();
    RestoreThroughScreen(dest_ + "Korvale.zip");
    EXPECT_EQ(DataFiles(), before);
    EXPECT_TRUE(QFileInfo(DataPath + "FPHOTO.DBF/inside").isDir());
    ASSERT_EQ(messages_.Count(), 3);
    EXPECT_TRUE(messages_.Last().text.startsWith("Les fichiers n'ont pas pu être remplacés (FPHOTO.DBF"))
        << messages_.Last().text.toStdString();
    EXPECT_TRUE(messages_.Last().text.contains("La restauration n'a pas été faite"));
    EXPECT_FALSE(QFileInfo::exists(backup::StagingDir(DataPath)));
}

TEST_F(Restore, LeavesOutTheFilesThatAreNoTable)
{
    const QString extraDir = practice_.root() + "/extra/";
    QDir().mkpath(extraDir);
    QFile notes(extraDir + "Notes.txt");
    notes.open(QIODevice::WriteOnly);
    notes.write("not a table");
    notes.close();
    const auto saved = DataFiles();
    ZipWithTool(dest_ + "Korvale.zip", {"Notes.txt"}, extraDir);
    ChangeRows();
    RestoreThroughScreen(dest_ + "Korvale.zip");
    EXPECT_FALSE(QFileInfo::exists(DataPath + "Notes.txt"));
    EXPECT_EQ(DataFiles(), saved);
    EXPECT_TRUE(QDir(AppDir + "Temp/").isEmpty());
}

TEST_F(Restore, ADamagedArchiveTouchesNothing)
{
    ZipWithTool(dest_ + "Korvale.zip");
    // One byte of the first entry's data changed: its CRC no longer matches.
    QFile zip(dest_ + "Korvale.zip");
    zip.open(QIODevice::ReadWrite);
    QByteArray bytes = zip.readAll();
    const int data =
        30 + qFromLittleEndian<quint16>(bytes.constData() + 26) + qFromLittleEndian<quint16>(bytes.constData() + 28);
    bytes[data + 40] = char(bytes[data + 40] ^ 0x55);
    zip.seek(0);
    zip.write(bytes);
    zip.close();
    ChangeRows();
    const auto before = DataFiles();
    RestoreThroughScreen(dest_ + "Korvale.zip");
    EXPECT_EQ(DataFiles(), before);
    ASSERT_GE(messages_.Count(), 3);
    EXPECT_TRUE(messages_.Last().text.contains("n'a pas été faite")) << messages_.Last().text.toStdString();
}

TEST_F(Restore, RefusedWhileAnotherProgramHasATableOpen)
{
    Backup();
    ChangeRows();
    const auto before = DataFiles();
    QProcess holder;
    holder.start(kChild, {"hold", DataPath, "Patient.DBF"});
    ASSERT_TRUE(holder.waitForReadyRead(10000));
    RestoreThroughScreen(dest_ + "Korvale.zip");
    holder.closeWriteChannel();
    holder.waitForFinished();
    EXPECT_EQ(DataFiles(), before);
    ASSERT_EQ(messages_.Count(), 3);
    EXPECT_TRUE(messages_.Last().text.startsWith("La table Patient.DBF est ouverte sur un autre poste."));
    EXPECT_TRUE(messages_.Last().text.contains("La restauration n'a pas été faite"));
}

TEST_F(Restore, KilledAtAnyMomentLeavesTheOldOrTheNewSet)
{
    AddPatients(1000, 2000);
    Backup();
    const auto newSet = DataFiles();
    ChangeRows();
    AddPatients(5000, 500);
    const auto oldSet = DataFiles();
    const QString archive = dest_ + "Korvale.zip";
    const QString temp = AppDir + "Temp/";
    QDir().mkpath(temp);

    // How long a whole restore takes, then kills spread over it and a
    // little beyond.
    QElapsedTimer timer;
    timer.start();
    {
        QProcess child;
        child.start(kChild, {"restore", DataPath, temp, archive});
        ASSERT_TRUE(child.waitForFinished(60000));
        ASSERT_EQ(child.exitCode(), 0) << child.readAllStandardError().toStdString();
    }
    const qint64 full = timer.elapsed();
    ASSERT_EQ(DataFiles(), newSet);
    int sawOld = 0, sawNew = 0;
    for (int run = 0; run < 40; ++run) {
        // Back to the old set.
        {
            QDir(DataPath).removeRecursively();
            QDir().mkpath(DataPath);
            for (auto it = oldSet.begin(); it != oldSet.end(); ++it) {
                QFile f(DataPath + it.key());
                f.open(QIODevice::WriteOnly);
                f.write(it.value());
            }
        }
        QProcess child;
        child.start(kChild, {"restore", DataPath, temp, archive});
        ASSERT_TRUE(child.waitForStarted());
        QThread::usleep(quint64(QRandomGenerator::global()->bounded(int(full * 1500 + 1))));
        ::kill(pid_t(child.processId()), SIGKILL);
        child.waitForFinished();
        const auto now = DataFiles();
        if (now == oldSet)
            ++sawOld;
        else if (now == newSet)
            ++sawNew;
        else
            FAIL() << "run " << run << ": a mix of files";
        ExpectSound();
    }
    // Kills before and after the moment of the exchange.
    EXPECT_GT(sawOld, 0);
    EXPECT_GT(sawNew, 0);
    // The next restore clears what a stopped one left beside the data.
    ASSERT_TRUE(backup::TableSetRestore::Recover(DataPath, ProtDir, temp));
    backup::TableSetRestore::WaitForRemoval();
    EXPECT_FALSE(QFileInfo::exists(backup::StagingDir(DataPath)));
    EXPECT_FALSE(QFileInfo::exists(backup::ReplacedDir(DataPath)));
}

TEST_F(Restore, BackupWaitsForATableChangedByAnotherProgram)
{
    QProcess writer;
    writer.start(kChild, {"append", DataPath});
    ASSERT_TRUE(writer.waitForReadyRead(10000));
    Backup();  // waits for the table lock, then reads the table whole
    if (writer.state() != QProcess::NotRunning) {
        ASSERT_TRUE(writer.waitForFinished(30000));
    }
    EXPECT_EQ(writer.exitCode(), 0);
    EXPECT_EQ(messages_.Count(), 0);
    const QString unzipped = practice_.root() + "/unzipped/";
    ASSERT_EQ(QProcess::execute("unzip", {"-q", dest_ + "Korvale.zip", "-d", unzipped}), 0);
    ASSERT_EQ(kdb::engine::openTableResult(unzipped.toStdString(), "Patient.DBF", "DBASE", false), 0);
    auto patients = kdb::engine::openTable(unzipped.toStdString(), "Patient.DBF");
    EXPECT_EQ(patients->recordCount(), 40u + 200u);
    EXPECT_NE(patients->findKey("CODE", QStringLiteral("900199")), 0u);
}
