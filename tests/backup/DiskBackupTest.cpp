// A backup to a folder on a removable drive: the disk question, the archive
// spread over several disks, and the restore that asks for them again.
#include "tests/backup/BackupFixture.h"

#include "app/backup/USaveRestore.h"
#include "app/main/UMain.h"
#include "platform/os/Paths.h"
#include "tests/support/TestFiles.h"
#include "tests/support/FakeVolumes.h"
#include "zip/ZipArch.h"

#include <QDirIterator>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

namespace {

// Answers every box; a disk prompt first puts the disk it asks for into the
// drive, as the user would.
class DiskSwapper : public kui::MessageService {
public:
    DiskSwapper(ktest::FakeVolumes& volumes, const QString& drive) : volumes_(volumes), drive_(drive) { }
    kui::MsgButton Show(const kui::MsgRequest& r) override
    {
        texts << r.text;
        if (r.text == QStringLiteral("Insérer une disquette dans le lecteur SVP.")) {
            // The first answer finds the drive empty: the question comes back.
            if (texts.count(r.text) == 2)
                volumes_.Insert(drive_, disks[0]);
            return QMessageBox::Ok;
        }
        static const QRegularExpression volume(QStringLiteral("^Insérer le volume n°(\\d+) sur (\\d+)"));
        if (auto m = volume.match(r.text); m.hasMatch()) {
            if (m.captured(1).toInt() == missing)
                return QMessageBox::Cancel;  // the user does not have that disk
            volumes_.Insert(drive_, disks[m.captured(1).toInt() - 1]);
            return QMessageBox::Ok;
        }
        if (r.text.startsWith(QStringLiteral("Insérer le dernier disque"))) {
            volumes_.Insert(drive_, last);
            return QMessageBox::Ok;
        }
        if (r.buttons & QMessageBox::Yes)
            return QMessageBox::Yes;
        return QMessageBox::Ok;
    }
    QStringList texts;
    QVector<ktest::FakeDisk*> disks;
    ktest::FakeDisk* last = nullptr;
    int missing = 0;  // the volume the user cannot give

private:
    ktest::FakeVolumes& volumes_;
    QString drive_;
};

}  // namespace

using DiskBackup = BackupFixture;

TEST_F(DiskBackup, SpreadsTheArchiveOverDisksAndRestoresFromThem)
{
    AddPatients(1000, 400);
    ktest::FakeVolumes volumes(practice_.root() + "/media");
    kos::ScopedVolumes use(volumes);
    const QString drive = volumes.AddDrive("usb", kos::DriveType::Removable);
    DiskSwapper swapper(volumes, drive);
    for (int i = 0; i < 30; ++i)
        swapper.disks << volumes.NewDisk(QString("disk%1").arg(i + 1), 12000);
    volumes.Insert(drive, swapper.disks[0]);
    QDir().mkpath(drive + "Sauvegardes");
    volumes.Eject(drive);
    auto* previous = kui::SetMessageService(&swapper);
    Touch(ProtDir + "PROT1.RTF", "{\\rtf1 texte sauvegardé}");
    const auto saved = DataFiles();

    {
        TfrmSaveRestore screen(practice_.context(), TfrmSaveRestore::Mode::Backup);
        screen.ZipArchiver1()->MinFreeVolumeSize = 4096;
        screen.ChooseFolder = [&](QWidget*, const QString&) { return drive + "Sauvegardes"; };
        QTest::mouseClick(screen.btnSave(), Qt::LeftButton);
    }
    // The disk question until a disk is readable, then the disks one by one.
    ASSERT_GE(swapper.texts.size(), 4) << swapper.texts.join("|").toStdString();
    EXPECT_EQ(swapper.texts[0], "Insérer une disquette dans le lecteur SVP.");
    EXPECT_EQ(swapper.texts[1], "Insérer une disquette dans le lecteur SVP.");
    EXPECT_TRUE(swapper.texts[2].startsWith("Insérer le volume n°1 sur ")) << swapper.texts[2].toStdString();
    EXPECT_TRUE(swapper.texts[2].endsWith("\ndans le lecteur: " + drive)) << swapper.texts[2].toStdString();
    int used = 0;
    for (ktest::FakeDisk* d : swapper.disks)
        if (QFileInfo::exists(volumes.FilesOf(*d) + "Sauvegardes/Korvale.zip")) {
            ++used;
            EXPECT_EQ(d->label, QString("PKBACK# %1").arg(used, 3, 10, QChar('0')));
            swapper.last = d;
        }
    ASSERT_GE(used, 2) << swapper.texts.join("|").toStdString();
    for (const QString& t : swapper.texts)
        EXPECT_FALSE(t.startsWith("La sauvegarde n'a pas été faite")) << t.toStdString();

    ChangeRows();
    ASSERT_NE(DataFiles(), saved);
    Touch(ProtDir + "PROT1.RTF", "{\\rtf1 texte changé}");
    Touch(ProtDir + "PROT2.RTF", "{\\rtf1 texte d'après}");
    swapper.texts.clear();
    // The restore from the disks, the last one in the drive when the
    // archive is chosen.
    auto restoreFromDisks = [&] {
        TfrmSaveRestore screen(practice_.context(), TfrmSaveRestore::Mode::Restore);
        screen.ChooseArchive = [&](QWidget*, QString& name) {
            volumes.Insert(drive, swapper.last);
            name = drive + "Sauvegardes/Korvale.zip";
            return true;
        };
        QTest::mouseClick(screen.btnRestore(), Qt::LeftButton);
    };
    restoreFromDisks();
    EXPECT_EQ(DataFiles(), saved) << swapper.texts.join("|").toStdString();
    // The protocol texts came over the disks with the tables.
    EXPECT_EQ(QDir(ProtDir).entryList(QDir::Files), QStringList{"PROT1.RTF"});
    QFile text(ProtDir + "PROT1.RTF");
    ASSERT_TRUE(text.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(text.readAll()), "{\\rtf1 texte sauvegardé}");
    EXPECT_TRUE(
        swapper.texts.contains(QString("Insérer le volume n°1 sur %1\ndans le lecteur: %2").arg(used).arg(drive)))
        << swapper.texts.join("|").toStdString();

    // A disk of the set the user does not have: the restore stops, the box
    // names the volume and says nothing was restored.
    ChangeRows();
    const auto before = DataFiles();
    swapper.texts.clear();
    swapper.missing = 1;
    restoreFromDisks();
    kui::SetMessageService(previous);
    EXPECT_EQ(DataFiles(), before);
    ASSERT_FALSE(swapper.texts.isEmpty());
    EXPECT_EQ(swapper.texts.last(),
        "La restauration a été annulée : le volume n°1 de la sauvegarde n'a pas été inséré."
        "\rLa restauration n'a pas été faite : vos données n'ont pas été modifiées.")
        << swapper.texts.join("|").toStdString();
}

TEST_F(DiskBackup, CancellingTheDiskQuestionWritesNothing)
{
    ktest::FakeVolumes volumes(practice_.root() + "/media");
    kos::ScopedVolumes use(volumes);
    const QString drive = volumes.AddDrive("usb", kos::DriveType::Removable);
    ktest::FakeDisk* disk = volumes.NewDisk("disk1", 1 << 20);
    volumes.Insert(drive, disk);
    TfrmSaveRestore screen(practice_.context(), TfrmSaveRestore::Mode::Backup);
    screen.ChooseFolder = [&](QWidget*, const QString&) { return drive; };
    messages_.Answer(QMessageBox::Cancel);
    screen.DoBackup();
    ASSERT_EQ(messages_.Count(), 1);
    EXPECT_EQ(messages_.Last().text, "Insérer une disquette dans le lecteur SVP.");
    EXPECT_TRUE(QDir(drive).isEmpty());
    EXPECT_TRUE(screen.btnSave()->isEnabled());
}

// A backup onto removable disks writes the archive whole into a work file
// before it copies it onto the disks. Killed midway, it leaves that file
// in the program's own work folder only, never in the system's temporary
// folder, and the next start removes it.
TEST_F(DiskBackup, AKilledBackupLeavesNothingAfterTheNextStart)
{
    AddPatients(1000, 400);
    const QString system = QDir::tempPath() + "/";  // the practice's own ($TMPDIR)
    auto archives = [&] {
        QStringList found;
        QDirIterator it(system, {"*.zip"}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            found << it.next();
        return found;
    };
    QStringList works;
    // the archive of the tables alone, then with a protocol text
    for (const bool texts : {false, true}) {
        SCOPED_TRACE(texts ? "with a protocol text" : "the tables alone");
        if (texts)
            Touch(ProtDir + "PROT1.RTF", "{\\rtf1 texte}");
        QProcess p;
        p.start(kChild, {"diskbackup", DataPath, ProtDir, practice_.root() + (texts ? "/media2" : "/media1")});
        ASSERT_TRUE(p.waitForStarted());
        const QString work = kos::PrivateTempDir() + QString::number(p.processId()) + "/";
        ASSERT_TRUE(p.waitForFinished(120000));
        ASSERT_EQ(p.exitStatus(), QProcess::CrashExit) << p.readAllStandardOutput().toStdString();
        EXPECT_EQ(p.readAllStandardOutput(), "volume 2\n");
        works << work;
        // the work file of this backup, and nothing outside the work folders
        const QStringList left = archives();
        EXPECT_EQ(left.filter(QRegularExpression("^" + QRegularExpression::escape(work) + "zip\\w{6}\\.zip$")).size(), 1)
            << left.join(" ").toStdString();
        for (const QString& file : left)
            EXPECT_TRUE(file.startsWith(works[0]) || file.startsWith(works.last())) << file.toStdString();
    }

    // the next start
    practice_.context().autoBackup = [] {};
    {
        TfrmMain next(practice_.context());
        EXPECT_FALSE(next.TerminateRequested());
    }
    EXPECT_EQ(archives(), QStringList());
    for (const QString& work : works)
        EXPECT_FALSE(QFileInfo::exists(work)) << work.toStdString();
}
