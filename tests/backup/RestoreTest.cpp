// The restore through the screen: byte for byte the backed-up tables, the
// extra files of an archive left out, the refusal while another program
// has a table open, and a restore killed at any moment.
#include "tests/backup/BackupFixture.h"

#include "app/backup/BackupSet.h"
#include "app/backup/USaveRestore.h"
#include "app/main/UMain.h"
#include "app/records/UListRDV.h"
#include "platform/db/dataset/Dataset.h"
#include "zip/ZipArch.h"
#include "checker/DbCheck.h"
#include "platform/db/core/Table.h"
#include "platform/db/database/Database.h"
#include "platform/db/engine/Engine.h"
#include "resources/schema/SchemaText.h"

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <QtEndian>
#include <QElapsedTimer>
#include <QThread>
#include <QRandomGenerator>
#include <QTest>

#include <csignal>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

class Restore : public BackupFixture {
protected:
    // Restores `archive` through the screen, answering Yes to both questions.
    // The restore through the screen, by exchanging the directories or file
    // by file (as where they cannot be exchanged).
    void RestoreBy(bool exchange, const QString& archive)
    {
        backup::TableSetRestore::UseExchange = exchange;
        RestoreThroughScreen(archive);
        backup::TableSetRestore::UseExchange = true;
    }

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
    BackupThroughScreen();
    const auto saved = DataFiles();
    for (bool exchange : {true, false}) {
        SCOPED_TRACE(exchange ? "exchanged directories" : "file by file");
        messages_.Clear();
        ChangeRows();
        AddPatients(500, 30);
        ASSERT_NE(DataFiles(), saved);
        RestoreBy(exchange, dest_ + "Korvale.zip");
        EXPECT_EQ(messages_.Count(), 2);  // the two questions, nothing else
        EXPECT_EQ(DataFiles(), saved);
        EXPECT_TRUE(QDir(AppDir + "Temp/").isEmpty());
        EXPECT_FALSE(QFileInfo::exists(backup::StagingDir(DataPath)));
        EXPECT_FALSE(QFileInfo::exists(backup::PreviousDir(DataPath)));
        backup::TableSetRestore::WaitForRemoval();
        EXPECT_EQ(backup::RestoreLeftovers(DataPath), QStringList());
        ExpectSound();
    }
}

TEST_F(Restore, AReplacementThatFailsLeavesEveryFileAndSaysSo)
{
    BackupThroughScreen();
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
    BackupThroughScreen();
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
    BackupThroughScreen();
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
    EXPECT_EQ(backup::RestoreLeftovers(DataPath), QStringList());
}

TEST_F(Restore, BackupWaitsForATableChangedByAnotherProgram)
{
    QProcess writer;
    writer.start(kChild, {"append", DataPath});
    ASSERT_TRUE(writer.waitForReadyRead(10000));
    BackupThroughScreen();  // waits for the table lock, then reads the table whole
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

// ---------------------------------------------------------------- sets

namespace {

void PutFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(bytes);
}

// The files of a directory (not its sub-directories), by name.
QMap<QString, QByteArray> FilesOf(const QString& dir)
{
    QMap<QString, QByteArray> files;
    for (const QFileInfo& fi : QDir(dir).entryInfoList(QDir::Files)) {
        QFile f(fi.filePath());
        f.open(QIODevice::ReadOnly);
        files.insert(fi.fileName(), f.readAll());
    }
    return files;
}

// Puts a directory back to exactly these files.
void PutBack(const QString& dir, const QMap<QString, QByteArray>& files)
{
    for (const QFileInfo& fi : QDir(dir).entryInfoList(QDir::Files))
        QFile::remove(fi.filePath());
    for (auto it = files.begin(); it != files.end(); ++it)
        PutFile(dir + it.key(), it.value());
}

// One protocol row and its text.
void AddProtocol(int num, const QByteArray& text)
{
    auto prot = kdb::engine::openTable(DataPath.toStdString(), "FPROT.DBF");
    prot->append({QString::number(num), QDate(2021, 3, num), QStringLiteral("100001"), QStringLiteral("NOM1")});
    prot->flush();
    PutFile(ProtDir + QStringLiteral("PROT%1.RTF").arg(num), text);
}

QStringList ProtocolNumbers()
{
    kdb::Database::of(DataPath.toStdString()).closeIdleTables();
    auto prot = kdb::engine::openTable(DataPath.toStdString(), "FPROT.DBF");
    QStringList nums;
    for (uint32_t r = 1; r <= prot->recordCount(); ++r)
        if (!prot->isDeleted(r))
            nums << prot->value(r, prot->fieldIndex("NUM")).toString().trimmed();
    nums.sort();
    return nums;
}

QString Plain(const QString& dir)
{
    return dir.endsWith('/') ? dir.chopped(1) : dir;
}

// A group other than the user's own to share the practice with (root may
// take any); 0 when there is none.
gid_t SecondGroup()
{
    if (::getuid() == 0)
        return 4242;
    gid_t groups[64];
    const int n = ::getgroups(64, groups);
    gid_t group = 0;
    for (int i = 0; i < n; ++i)
        if (groups[i] != ::getegid())
            group = groups[i];
    return group;
}

}  // namespace

// The texts of the protocols come back with their rows: the text of a
// protocol made after the backup goes with its row, a changed text is the
// backed-up one again.
TEST_F(Restore, ProtocolTextsComeBackWithTheirRows)
{
    AddProtocol(1, "{\\rtf1 premier}");
    AddProtocol(2, "{\\rtf1 second}");
    BackupThroughScreen();
    EXPECT_TRUE(ArchiveNames(dest_ + "Korvale.zip").contains("PROT/PROT1.RTF"));
    EXPECT_TRUE(ArchiveNames(dest_ + "Korvale.zip").contains("PROT/PROT2.RTF"));
    const auto savedData = DataFiles();
    const auto savedTexts = FilesOf(ProtDir);
    for (bool exchange : {true, false}) {
        SCOPED_TRACE(exchange ? "exchanged directories" : "file by file");
        messages_.Clear();
        AddProtocol(3, "{\\rtf1 troisième, après la sauvegarde}");
        PutFile(ProtDir + "PROT1.RTF", "{\\rtf1 premier, modifié}");
        PutFile(ProtDir + "Notes.txt", "pas un texte de protocole");
        kdb::Database::of(DataPath.toStdString()).closeIdleTables();
        RestoreBy(exchange, dest_ + "Korvale.zip");
        EXPECT_EQ(messages_.Count(), 2) << messages_.Last().text.toStdString();
        EXPECT_EQ(DataFiles(), savedData);
        EXPECT_EQ(ProtocolNumbers(), (QStringList{"1", "2"}));
        auto texts = FilesOf(ProtDir);
        EXPECT_EQ(texts.take("Notes.txt"), "pas un texte de protocole");  // not a text: left alone
        EXPECT_EQ(texts, savedTexts);
        backup::TableSetRestore::WaitForRemoval();
        EXPECT_EQ(backup::RestoreLeftovers(ProtDir), QStringList());
        QFile::remove(ProtDir + "Notes.txt");
    }
}

// An archive of the data directory made by the outside zip, with the
// weekday backups inside it and no protocol text: the tables come back, the
// protocol texts stay as they are.
TEST_F(Restore, AnArchiveOfTheDataFolderByZipRestoresTheTables)
{
    AddProtocol(1, "{\\rtf1 premier}");
    for (const char* day : {"Lundi", "Mardi"}) {
        QDir().mkpath(DataPath + day);
        PutFile(DataPath + day + "/Korvale_0.zip", QByteArray("sauvegarde du ") + day);
    }
    const auto savedData = DataFiles();
    QProcess zip;
    zip.setWorkingDirectory(AppDir);
    zip.start("zip", {"-q", "-9", "-r", dest_ + "Korvale.zip", "Data"});
    ASSERT_TRUE(zip.waitForFinished());
    ASSERT_EQ(zip.exitCode(), 0);
    ChangeRows();
    AddProtocol(2, "{\\rtf1 second}");
    const auto texts = FilesOf(ProtDir);
    RestoreThroughScreen(dest_ + "Korvale.zip");
    EXPECT_EQ(messages_.Count(), 2) << messages_.Last().text.toStdString();
    EXPECT_EQ(DataFiles(), savedData);
    EXPECT_EQ(FilesOf(ProtDir), texts);
    EXPECT_EQ(FilesOf(DataPath + "Mardi/").value("Korvale_0.zip"), "sauvegarde du Mardi");
    EXPECT_TRUE(QDir(AppDir + "Temp/").isEmpty());
}

// A data directory that is a link to the practice's shared folder stays the
// link, and the folder it names is restored.
TEST_F(Restore, ALinkedDataDirectoryIsRestoredWhereItPoints)
{
    const QString shared = practice_.root() + "/partage/Donnees";
    QDir().mkpath(practice_.root() + "/partage");
    ASSERT_TRUE(QDir().rename(Plain(DataPath), shared));
    ASSERT_TRUE(QFile::link(shared, Plain(DataPath)));
    BackupThroughScreen();
    const auto saved = DataFiles();
    for (bool exchange : {true, false}) {
        SCOPED_TRACE(exchange ? "exchanged directories" : "file by file");
        messages_.Clear();
        ChangeRows();
        RestoreBy(exchange, dest_ + "Korvale.zip");
        EXPECT_EQ(messages_.Count(), 2) << messages_.Last().text.toStdString();
        const QFileInfo link(Plain(DataPath));
        EXPECT_TRUE(link.isSymLink());
        EXPECT_EQ(link.symLinkTarget(), shared);
        EXPECT_EQ(FilesOf(shared + "/"), saved);
        backup::TableSetRestore::WaitForRemoval();
        EXPECT_EQ(QDir(practice_.root() + "/partage").entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
            QStringList{"Donnees"});
        ExpectSound();
    }
}

// A data directory that is the root of a mounted share (here a link to a
// disk of its own): nothing can be made beside it on that disk, so the
// restore works inside it, file by file, and leaves nothing there.
TEST_F(Restore, ADataDirectoryOnADiskOfItsOwnIsRestored)
{
    const QString shared = practice_.root() + "/partage";
    QDir().mkpath(shared);
    const QByteArray where = QFile::encodeName(shared);
    if (::mount("tmpfs", where.constData(), "tmpfs", 0, "size=64m") != 0)
        GTEST_SKIP() << "no disk can be mounted here";
    struct Unmount {
        QByteArray path;
        ~Unmount() { ::umount2(path.constData(), MNT_DETACH); }
    } unmount{where};
    for (const QString& name : QDir(DataPath).entryList(QDir::Files))
        ASSERT_TRUE(QFile::copy(DataPath + name, shared + "/" + name));
    ASSERT_TRUE(QDir(Plain(DataPath)).removeRecursively());
    ASSERT_TRUE(QFile::link(shared, Plain(DataPath)));
    BackupThroughScreen();
    const auto saved = DataFiles();
    ChangeRows();
    messages_.Clear();
    RestoreThroughScreen(dest_ + "Korvale.zip");
    EXPECT_EQ(messages_.Count(), 2) << messages_.Last().text.toStdString();
    EXPECT_TRUE(QFileInfo(Plain(DataPath)).isSymLink());
    EXPECT_EQ(FilesOf(shared + "/"), saved);
    backup::TableSetRestore::WaitForRemoval();
    QStringList present = QDir(shared).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    present.sort();
    EXPECT_EQ(present, QStringList(saved.keys()));
    EXPECT_EQ(backup::RestoreLeftovers(DataPath), QStringList());
    EXPECT_FALSE(QFileInfo::exists(backup::JournalFile(DataPath)));
    ExpectSound();
}

// A data directory shared by a group (setgid, rights of the group) keeps its
// group and mode, and the restored files those of the files they replace.
TEST_F(Restore, AGroupSharedDataDirectoryKeepsItsGroupAndMode)
{
    const gid_t group = SecondGroup();
    if (group == 0)
        GTEST_SKIP() << "no second group to share the data directory with";
    const QByteArray dir = QFile::encodeName(Plain(DataPath));
    ASSERT_EQ(::chown(dir.constData(), uid_t(-1), group), 0);
    ASSERT_EQ(::chmod(dir.constData(), 02770), 0);
    for (const QString& name : DataFiles().keys()) {
        const QByteArray file = QFile::encodeName(DataPath + name);
        ASSERT_EQ(::chown(file.constData(), uid_t(-1), group), 0);
        ASSERT_EQ(::chmod(file.constData(), 0660), 0);
    }
    BackupThroughScreen();
    const auto saved = DataFiles();
    for (bool exchange : {true, false}) {
        SCOPED_TRACE(exchange ? "exchanged directories" : "file by file");
        messages_.Clear();
        ChangeRows();
        RestoreBy(exchange, dest_ + "Korvale.zip");
        EXPECT_EQ(messages_.Count(), 2) << messages_.Last().text.toStdString();
        EXPECT_EQ(DataFiles(), saved);
        struct stat st;
        ASSERT_EQ(::stat(dir.constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 02770u);
        EXPECT_EQ(st.st_gid, group);
        for (const QString& name : saved.keys()) {
            ASSERT_EQ(::stat(QFile::encodeName(DataPath + name).constData(), &st), 0);
            EXPECT_EQ(st.st_gid, group) << name.toStdString();
            EXPECT_EQ(st.st_mode & 0777, 0660u) << name.toStdString();
        }
    }
}

// Files a restore brings with no file of their name before them (a new
// protocol text, the memo file of a table that had lost it) take the rights
// of the files beside them, not the archive's: in a practice shared by a
// group (folders 2775, files 664, umask 002) the group may write them.
TEST_F(Restore, NewFilesTakeTheRightsOfTheFilesBesideThem)
{
    const gid_t group = SecondGroup();
    if (group == 0)
        GTEST_SKIP() << "no second group to share the practice with";
    AddProtocol(1, "{\\rtf1 premier}");
    AddProtocol(2, "{\\rtf1 second}");
    // the archive made where the group could not write: its files 0644
    for (const QString& dir : {DataPath, ProtDir})
        for (const QString& name : QDir(dir).entryList(QDir::Files))
            ASSERT_EQ(::chmod(QFile::encodeName(dir + name).constData(), 0644), 0);
    BackupThroughScreen();
    const mode_t umask = ::umask(002);
    for (const QString& dir : {DataPath, ProtDir}) {
        ASSERT_EQ(::chown(QFile::encodeName(Plain(dir)).constData(), uid_t(-1), group), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(Plain(dir)).constData(), 02775), 0);
        for (const QString& name : QDir(dir).entryList(QDir::Files)) {
            ASSERT_EQ(::chown(QFile::encodeName(dir + name).constData(), uid_t(-1), group), 0);
            ASSERT_EQ(::chmod(QFile::encodeName(dir + name).constData(), 0664), 0);
        }
    }
    for (bool exchange : {true, false}) {
        SCOPED_TRACE(exchange ? "exchanged directories" : "file by file");
        messages_.Clear();
        ASSERT_TRUE(QFile::remove(ProtDir + "PROT2.RTF"));
        ASSERT_TRUE(QFile::remove(DataPath + "FPROT.DBT"));
        RestoreBy(exchange, dest_ + "Korvale.zip");
        EXPECT_EQ(messages_.Count(), 2) << messages_.Last().text.toStdString();
        for (const QString& file : {ProtDir + "PROT2.RTF", DataPath + "FPROT.DBT", DataPath + "Cons.DBF"}) {
            struct stat st;
            ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0) << file.toStdString();
            EXPECT_EQ(st.st_gid, group) << file.toStdString();
            EXPECT_EQ(st.st_mode & 0777, 0664u) << file.toStdString();
        }
    }
    ::umask(umask);
}

// The program killed at each rename of a restore, on both replacement
// paths; the next start leaves the old set or the new one, tables and
// protocol texts together, and nothing beside them.
TEST_F(Restore, KilledAtEveryRenameTheNextStartLeavesOneWholeSet)
{
    AddProtocol(1, "{\\rtf1 premier}");
    AddProtocol(2, "{\\rtf1 second}");
    BackupThroughScreen();
    const auto newData = DataFiles();
    const auto newTexts = FilesOf(ProtDir);
    ChangeRows();
    AddPatients(500, 30);
    AddProtocol(3, "{\\rtf1 troisième}");
    PutFile(ProtDir + "PROT1.RTF", "{\\rtf1 premier, modifié}");
    kdb::Database::of(DataPath.toStdString()).closeIdleTables();
    const auto oldData = DataFiles();
    const auto oldTexts = FilesOf(ProtDir);
    const QString temp = AppDir + "Temp/";
    QDir().mkpath(temp);
    for (const char* path : {"exchange", "files"}) {
        SCOPED_TRACE(path);
        int sawOld = 0, sawNew = 0, renames = 0;
        for (int at = 1; at < 400; ++at) {
            PutBack(DataPath, oldData);
            PutBack(ProtDir, oldTexts);
            QProcess child;
            child.start(kChild, {"kill", QString::number(at), path, DataPath, temp, dest_ + "Korvale.zip", ProtDir});
            ASSERT_TRUE(child.waitForFinished(60000));
            const bool killed = child.exitStatus() == QProcess::CrashExit;
            if (!killed) {
                ASSERT_EQ(child.exitCode(), 0) << child.readAllStandardError().toStdString();
                renames = QString::fromUtf8(child.readAllStandardOutput()).section(' ', 1).trimmed().toInt();
            }
            // The next start of the program.
            {
                TfrmMain main(practice_.context());
                ASSERT_TRUE(main.CreationCompleted());
            }
            backup::TableSetRestore::WaitForRemoval();
            const auto data = DataFiles();
            const auto texts = FilesOf(ProtDir);
            if (data == oldData && texts == oldTexts)
                ++sawOld;
            else if (data == newData && texts == newTexts)
                ++sawNew;
            else
                FAIL() << "killed at rename " << at << ": neither the old set nor the new one";
            for (const QString& dir : {DataPath, ProtDir})
                EXPECT_EQ(backup::RestoreLeftovers(dir), QStringList()) << at;
            EXPECT_FALSE(QFileInfo::exists(backup::JournalFile(DataPath))) << at;
            EXPECT_TRUE(QDir(temp).isEmpty()) << at;
            ExpectSound();
            if (!killed)
                break;
        }
        EXPECT_GT(renames, 4);
        EXPECT_EQ(sawOld + sawNew, renames + 1);
        EXPECT_GT(sawOld, 0);
        EXPECT_GT(sawNew, 0);
    }
    EXPECT_EQ(messages_.Count(), 0) << messages_.Last().text.toStdString();
}

// Files a restore killed after its extraction left in the temporary folder
// are gone at the next start.
TEST_F(Restore, TheNextStartEmptiesTheTemporaryFolder)
{
    QDir().mkpath(AppDir + "Temp/Data");
    PutFile(AppDir + "Temp/Cons.DBF", QByteArray(4096, 'x'));
    PutFile(AppDir + "Temp/Data/Patient.DBF", QByteArray(4096, 'y'));
    {
        TfrmMain main(practice_.context());
        ASSERT_TRUE(main.CreationCompleted());
    }
    EXPECT_TRUE(QDir(AppDir + "Temp/").isEmpty());
}

// ---------------------------------------------------------------- program

// Restaure from the main window's menu while the appointment list is open
// (as after every start): the list lets its tables go, the restore is done
// and the list shows the restored appointments again.
TEST_F(Restore, FromTheMainWindowWithTheAppointmentListOpen)
{
    auto rdv = [](int num, const QString& patient) {
        auto table = kdb::engine::openTable(DataPath.toStdString(), "FRDV.DBF");
        table->append({QString::number(num), patient, QDate::currentDate(),
            QStringLiteral("09:%1").arg(num, 2, 10, QLatin1Char('0')), QStringLiteral("Contrôle")});
        table->flush();
    };
    rdv(1, "100002");
    rdv(2, "100003");
    BackupThroughScreen();
    const auto saved = DataFiles();
    ChangeRows();
    rdv(3, "100004");
    kdb::Database::of(DataPath.toStdString()).closeIdleTables();

    TfrmMain main(practice_.context());
    ASSERT_TRUE(main.CreationCompleted());
    main.show();
    ASSERT_NE(frmListRDV, nullptr) << "the list opens at start";
    ASSERT_TRUE(frmListRDV->qRDV()->active());
    EXPECT_EQ(frmListRDV->qRDV()->recordCount(), 3);

    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto* screen = qobject_cast<TfrmSaveRestore*>(QApplication::activeModalWidget());
        ASSERT_NE(screen, nullptr);
        seen = true;
        screen->ChooseArchive = [&](QWidget*, QString& name) {
            name = dest_ + "Korvale.zip";
            return true;
        };
        messages_.Answer(QMessageBox::Yes);
        messages_.Answer(QMessageBox::Yes);
        QTest::mouseClick(screen->btnRestore(), Qt::LeftButton);
        QTest::mouseClick(screen->btnClose(), Qt::LeftButton);
    });
    QAction* restore = main.findChild<QAction*>("Restaurer1");
    ASSERT_NE(restore, nullptr);
    restore->trigger();
    ASSERT_TRUE(seen);
    ASSERT_EQ(messages_.Count(), 2) << messages_.Last().text.toStdString();  // the two questions
    EXPECT_EQ(DataFiles(), saved);
    ASSERT_NE(frmListRDV, nullptr) << "the list is shown again";
    ASSERT_TRUE(frmListRDV->qRDV()->active());
    EXPECT_EQ(frmListRDV->qRDV()->recordCount(), 2);
    main.hide();
}

// A library put in the practice's folder (shared, writable by its users) is
// never loaded by the backup and restore screens.
TEST_F(Restore, ALibraryInThePracticeFolderIsNeverLoaded)
{
    const QString marker = practice_.root() + "/loaded.txt";
    ScopedEnv mark("KORVALE_TEST_MARKER", marker);
    for (const char* lib : {"libzipeng.so", "libunzeng.so"})
        ASSERT_TRUE(QFile::copy(QStringLiteral(KORVALE_BINARY_DIR "/tests/backup/marker/") + lib, AppDir + lib));
    BackupThroughScreen();
    ChangeRows();
    RestoreThroughScreen(dest_ + "Korvale.zip");
    EXPECT_EQ(messages_.Count(), 2) << messages_.Last().text.toStdString();
    EXPECT_FALSE(QFileInfo::exists(marker));
    // The stand-in does leave its mark when it is loaded.
    TZipArchiver zip;
    zip.Unattended = true;
    zip.SetDLLDirectory(AppDir);
    zip.LoadZipEng();
    EXPECT_TRUE(QFileInfo::exists(marker));
}

// A table still open in this very program (the appointment list shown with
// no main window to close it) is named as such, never blamed on another
// workstation.
TEST_F(Restore, ATableOpenInThisProgramIsNotBlamedOnAnotherWorkstation)
{
    BackupThroughScreen();
    ChangeRows();
    const auto before = DataFiles();
    ShowAppointmentList(practice_.context(), nullptr);
    ASSERT_NE(frmListRDV, nullptr);
    ASSERT_TRUE(frmListRDV->qRDV()->active());
    RestoreThroughScreen(dest_ + "Korvale.zip");
    ReleaseAppointmentList();
    EXPECT_EQ(DataFiles(), before);
    ASSERT_EQ(messages_.Count(), 3);
    EXPECT_TRUE(messages_.Last().text.startsWith("La table FRDV.DBF est encore ouverte dans ce programme."))
        << messages_.Last().text.toStdString();
    EXPECT_FALSE(messages_.Last().text.contains("autre poste"));
    EXPECT_TRUE(messages_.Last().text.contains("La restauration n'a pas été faite"));
}
