// The backup screen, the archive list and the automatic backup, driven as
// the user drives them; the archives are read back by the outside unzip.
#include "tests/backup/BackupFixture.h"

#include "app/backup/BackupSet.h"
#include "app/backup/UAutoSave.h"
#include "app/backup/URestorFiles.h"
#include "app/backup/USaveRestore.h"
#include "app/main/UMain.h"

#include <QElapsedTimer>
#include <QPushButton>
#include <QProgressBar>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QThread>
#include <QStatusBar>
#include "platform/ui/Formats.h"
#include <QTest>
#include <QTreeWidget>

#include <csignal>

namespace {

void WriteFile(const QString& path, const QByteArray& bytes, const QDateTime& time = {})
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    f.close();
    if (time.isValid()) {
        f.open(QIODevice::ReadWrite);
        f.setFileTime(time, QFileDevice::FileModificationTime);
    }
}

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

}  // namespace

using Backup = BackupFixture;

TEST_F(Backup, WritesTheSchemaTablesAndTrashesTheOlderArchive)
{
    WriteFile(dest_ + "Korvale.zip", "older");
    WriteFile(DataPath + "Notes.txt", "not a table");
    TfrmSaveRestore screen(practice_.context(), TfrmSaveRestore::Mode::Backup);
    EXPECT_TRUE(screen.btnRestore()->isHidden());
    QString started;
    screen.ChooseFolder = [&](QWidget*, const QString& start) {
        started = start;
        return dest_;
    };
    QTest::mouseClick(screen.btnSave(), Qt::LeftButton);

    EXPECT_EQ(started, DataPath);
    EXPECT_EQ(messages_.Count(), 0);
    QStringList tableFiles = DataFiles().keys();
    tableFiles.removeAll("Notes.txt");
    EXPECT_GE(tableFiles.size(), 9 + 7);  // tables, indexes, memo
    tableFiles << "PROT/";  // no protocol text yet: their folder alone
    tableFiles.sort();
    EXPECT_EQ(ArchiveNames(dest_ + "Korvale.zip"), tableFiles);
    EXPECT_EQ(ReadFile(practice_.root() + "/share/Trash/files/Korvale.zip"), "older");
    // One backup per opening of the screen.
    EXPECT_FALSE(screen.btnSave()->isEnabled());
    EXPECT_TRUE(screen.btnClose()->isEnabled());
    EXPECT_TRUE(screen.pBar()->isHidden());
    EXPECT_FALSE(QFileInfo::exists(dest_ + "Korvale.zip.part"));
}

// A user whose data folder does not exist yet: the older archive goes to a
// trash made there, not into the folder the program was started from.
TEST_F(Backup, TheOlderArchiveGoesToTheUsersTrashAlsoBeforeTheDataFolderExists)
{
    WriteFile(dest_ + "Korvale.zip", "older");
    const QString data = practice_.root() + "/nouveau/.local/share";
    ScopedEnv fresh("XDG_DATA_HOME", data);
    const QString started = practice_.root() + "/lancement";
    QDir().mkpath(started);
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(started));
    TfrmSaveRestore screen(practice_.context(), TfrmSaveRestore::Mode::Backup);
    screen.ChooseFolder = [&](QWidget*, const QString&) { return dest_; };
    QTest::mouseClick(screen.btnSave(), Qt::LeftButton);
    QDir::setCurrent(before);
    EXPECT_EQ(messages_.Count(), 0);
    EXPECT_TRUE(QDir(started).isEmpty())
        << QDir(started).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).join(", ").toStdString();
    EXPECT_EQ(ReadFile(data + "/Trash/files/Korvale.zip"), "older");
    EXPECT_NE(ReadFile(dest_ + "Korvale.zip"), "older");
}

TEST_F(Backup, AFailedBackupSaysSoAndKeepsThePreviousArchive)
{
    WriteFile(dest_ + "Korvale.zip", "previous");
    QDir().mkpath(dest_ + "Korvale.zip.part");  // the archive cannot be written
    TfrmSaveRestore screen(practice_.context(), TfrmSaveRestore::Mode::Backup);
    screen.ChooseFolder = [&](QWidget*, const QString&) { return dest_; };
    screen.DoBackup();
    ASSERT_GE(messages_.Count(), 1);
    EXPECT_TRUE(messages_.Last().text.startsWith("La sauvegarde n'a pas été faite"));
    EXPECT_TRUE(messages_.Last().text.endsWith("\rL'ancienne sauvegarde reste en place."));
    EXPECT_EQ(ReadFile(dest_ + "Korvale.zip"), "previous");
}

// The folder the user chose can take no archive (here it is gone): the box
// names the file as the system writes it, and speaks of no previous archive
// when there was none.
TEST_F(Backup, AFailedFirstBackupNamesTheFileAsWrittenAndClaimsNoPreviousArchive)
{
    const QString gone = dest_ + "Ancien dossier/";
    TfrmSaveRestore screen(practice_.context(), TfrmSaveRestore::Mode::Backup);
    screen.ChooseFolder = [&](QWidget*, const QString&) { return gone; };
    QTest::mouseClick(screen.btnSave(), Qt::LeftButton);
    ASSERT_EQ(messages_.Count(), 1);
    const QString text = messages_.Last().text;
    EXPECT_TRUE(text.startsWith("La sauvegarde n'a pas été faite : ")) << text.toStdString();
    EXPECT_TRUE(text.contains(gone + "Korvale.zip")) << text.toStdString();
    EXPECT_FALSE(text.contains(QLatin1Char('\\'))) << text.toStdString();
    EXPECT_FALSE(text.contains("ancienne sauvegarde")) << text.toStdString();
    EXPECT_FALSE(QFileInfo::exists(gone)) << text.toStdString();
}

// A backup stopped before its end (the program killed) leaves its archive
// half written beside the target, and the library's work file of it: the
// next backup to that target removes them, and nothing else.
TEST_F(Backup, TheNextBackupRemovesWhatAKilledOneLeft)
{
    AddPatients(1000, 3000);
    const QString target = dest_ + "Korvale.zip";
    auto leftovers = [&] {
        QStringList left = QDir(dest_).entryList({"Korvale.zip.part*"}, QDir::Files | QDir::Hidden);
        left.sort();
        return left;
    };
    // How long a whole backup takes, then kills until one leaves its files.
    QElapsedTimer timer;
    timer.start();
    ASSERT_EQ(QProcess::execute(kChild, {"backup", DataPath, ProtDir, target}), 0);
    const qint64 full = timer.nsecsElapsed() / 1000;
    ASSERT_TRUE(QFile::remove(target));
    for (int run = 0; run < 50 && leftovers().size() < 2; ++run) {
        QProcess p;
        p.start(kChild, {"backup", DataPath, ProtDir, target});
        ASSERT_TRUE(p.waitForStarted());
        QThread::usleep(quint64(full / 4 + QRandomGenerator::global()->bounded(int(full))));
        ::kill(pid_t(p.processId()), SIGKILL);
        p.waitForFinished();
    }
    // and those of another name stay
    WriteFile(dest_ + "Korvale.zip.part.a1B2c3", "work file");
    WriteFile(dest_ + "Korvale.zip.partage", "not ours");
    WriteFile(dest_ + "Autre.zip.part.a1B2c3", "another archive's");
    ASSERT_FALSE(leftovers().filter(QRegularExpression("^Korvale\\.zip\\.part\\.\\w{6}$")).isEmpty());

    TfrmSaveRestore screen(practice_.context(), TfrmSaveRestore::Mode::Backup);
    screen.ChooseFolder = [&](QWidget*, const QString&) { return dest_; };
    QTest::mouseClick(screen.btnSave(), Qt::LeftButton);
    EXPECT_EQ(messages_.Count(), 0) << messages_.Last().text.toStdString();
    EXPECT_EQ(leftovers(), QStringList{"Korvale.zip.partage"});
    EXPECT_EQ(ReadFile(dest_ + "Autre.zip.part.a1B2c3"), "another archive's");
    EXPECT_FALSE(ArchiveNames(target).isEmpty());
}

TEST_F(Backup, CancelledFolderChoiceWritesNothing)
{
    TfrmSaveRestore screen(practice_.context(), TfrmSaveRestore::Mode::Backup);
    screen.ChooseFolder = [](QWidget*, const QString&) { return QString(); };
    screen.DoBackup();
    EXPECT_TRUE(screen.btnSave()->isEnabled());
    EXPECT_TRUE(QDir(dest_).isEmpty());
}

// The backup screen has a Close button and no cancel button: Esc does
// nothing there. The archive list is cancelled by Esc.
TEST_F(Backup, EscIsNoKeyOfTheBackupScreenAndCancelsTheArchiveList)
{
    for (const auto mode : {TfrmSaveRestore::Mode::Backup, TfrmSaveRestore::Mode::Restore}) {
        TfrmSaveRestore screen(practice_.context(), mode);
        screen.show();
        screen.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&screen));
        QWidget* focus = QApplication::focusWidget();
        QTest::keyClick(focus ? focus : &screen, Qt::Key_Escape);
        EXPECT_TRUE(screen.isVisible());
        QTest::mouseClick(screen.btnClose(), Qt::LeftButton);
        EXPECT_FALSE(screen.isVisible());
    }
    EXPECT_EQ(practice_.messages().Count(), 0);

    TfrmRestorFiles list;
    list.show();
    list.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&list));
    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &list, Qt::Key_Escape);
    EXPECT_FALSE(list.isVisible());
    EXPECT_EQ(list.result(), QDialog::Rejected);
    EXPECT_TRUE(list.FileName.isEmpty());
}

// The gradient (reflected, silver in the middle, white at the edges) fills
// the screen down to its status bar, which keeps its own height.
TEST_F(Backup, TheGradientFillsTheScreenDownToTheStatusBar)
{
    TfrmSaveRestore screen(practice_.context(), TfrmSaveRestore::Mode::Backup);
    screen.show();
    QApplication::processEvents();
    auto* status = screen.findChild<QStatusBar*>("stBar");
    ASSERT_NE(status, nullptr);
    const QImage shown = screen.grab().toImage();
    const int y = screen.height() - status->sizeHint().height() - 3;
    const QColor middle = shown.pixelColor(shown.width() / 2, y), edge = shown.pixelColor(1, y);
    EXPECT_LT(middle.green(), 0xCC) << "silver in the middle, just above the status bar";
    EXPECT_GT(edge.green(), 0xF4) << "white at the edge";
    EXPECT_EQ(status->height(), status->sizeHint().height());
}

TEST_F(Backup, ProgressMovesInManySteps)
{
    AddPatients(1000, 3000);
    TfrmSaveRestore screen(practice_.context(), TfrmSaveRestore::Mode::Backup);
    screen.ChooseFolder = [&](QWidget*, const QString&) { return dest_; };
    screen.show();
    QSet<int> positions;
    QObject::connect(screen.pBar(), &QProgressBar::valueChanged, [&](int v) {
        // Esc in the middle of the work does not close the screen.
        if (positions.isEmpty())
            QTest::keyClick(&screen, Qt::Key_Escape);
        positions.insert(v);
    });
    screen.DoBackup();
    EXPECT_TRUE(screen.isVisible());
    EXPECT_TRUE(QFileInfo::exists(dest_ + "Korvale.zip"));
    EXPECT_EQ(screen.pBar()->maximum(), 10001);
    EXPECT_TRUE(positions.contains(10001));
    EXPECT_GT(positions.size(), 3);
}

TEST(RestoreList, NewestFirstWithoutRegardToCaseAndOkOnlyWithASelection)
{
    TempPractice practice;
    const QString dir = practice.root() + "/archives/";
    QDir().mkpath(dir);
    const QDateTime t0 = QDateTime::currentDateTime().addDays(-10);
    WriteFile(dir + "Korvale.zip", "a", t0);
    WriteFile(dir + "korvale_3.zip", "b", t0.addDays(3));
    WriteFile(dir + "KORVALE12.ZIP", "c", t0.addDays(1));
    WriteFile(dir + "Korvale123.zip", "d", t0.addDays(5));
    WriteFile(dir + "Korvale.a.zip", "e", t0.addDays(5));
    WriteFile(dir + "Korvale.txt", "f", t0.addDays(5));
    WriteFile(dir + "other.zip", "g", t0.addDays(5));

    TfrmRestorFiles dialog;
    dialog.SetDirectory(dir);
    QTreeWidget* list = dialog.myListView();
    ASSERT_EQ(list->topLevelItemCount(), 4);
    EXPECT_EQ(list->topLevelItem(0)->text(0), "Korvale123.zip");  // the last volume of a set
    EXPECT_EQ(list->topLevelItem(1)->text(0), "korvale_3.zip");
    EXPECT_EQ(list->topLevelItem(2)->text(0), "KORVALE12.ZIP");
    EXPECT_EQ(list->topLevelItem(3)->text(0), "Korvale.zip");
    EXPECT_EQ(list->topLevelItem(1)->text(1), kui::DateTimeToStr(QFileInfo(dir + "korvale_3.zip").lastModified()));

    EXPECT_FALSE(dialog.btnOk()->isEnabled());
    EXPECT_FALSE(dialog.mnSelect()->isEnabled());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, QPoint(5, list->viewport()->height() - 3));
    ASSERT_EQ(practice.messages().Count(), 1);
    EXPECT_EQ(practice.messages().Last().text, "Veuillez sélectionner un fichier SVP !");
    EXPECT_EQ(dialog.result(), 0);

    list->setCurrentItem(list->topLevelItem(2));
    EXPECT_TRUE(dialog.btnOk()->isEnabled());
    QTest::mouseClick(dialog.btnOk(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.FileName, dir + "KORVALE12.ZIP");
    EXPECT_EQ(dialog.DateText, list->topLevelItem(2)->text(1));
}

// The numbered volumes the program writes on a fixed disk: one row for the
// set, its last volume (the file a restore opens), chosen by a double click.
TEST(RestoreList, ASetOfNumberedVolumesIsOfferedByItsLastOne)
{
    TempPractice practice;
    const QString dir = practice.root() + "/archives/";
    QDir().mkpath(dir);
    const QDateTime t = QDateTime::currentDateTime().addDays(-1);
    for (const char* name : {"Korvale001.zip", "Korvale002.zip", "Korvale003.zip"})
        WriteFile(dir + name, "volume", t);
    WriteFile(dir + "Korvale.zip", "a", t.addDays(-3));
    WriteFile(dir + "Korvale0001.zip", "not a volume", t);
    TfrmRestorFiles dialog;
    dialog.SetDirectory(dir);
    dialog.show();
    QTreeWidget* list = dialog.myListView();
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(list->topLevelItem(0)->text(0), "Korvale003.zip");
    EXPECT_EQ(list->topLevelItem(1)->text(0), "Korvale.zip");
    const QPoint row = list->visualItemRect(list->topLevelItem(0)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row);  // the double click's first click
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, row);
    EXPECT_EQ(practice.messages().Count(), 0);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.FileName, dir + "Korvale003.zip");
}

using AutoSave = BackupFixture;

TEST_F(AutoSave, WeekdayFolderAndSlotRotation)
{
    TfrmAutoSave window(practice_.context());
    const QString base = window.BaseName();
    const QString folder = DataPath + DayNames[size_t(DayOfWeek(QDate::currentDate()))] + "/";
    WriteFile(ProtDir + "PROT7.RTF", "{\\rtf1 texte}");
    ASSERT_TRUE(window.DoAutoSave());
    EXPECT_TRUE(ArchiveNames(folder + base + "_0.zip").contains("PROT/PROT7.RTF"));
    EXPECT_TRUE(ArchiveNames(folder + base + "_0.zip").contains("Patient.DBF"));
    for (int k = 1; k <= 4; ++k)
        WriteFile(TfrmAutoSave::SlotName(folder, base, k), "old");
    ASSERT_TRUE(window.DoAutoSave());
    EXPECT_FALSE(ArchiveNames(TfrmAutoSave::SlotName(folder, base, 5)).isEmpty());
    EXPECT_EQ(messages_.Count(), 0);

    // All ten present: the first of 1..9 older than slot 0, else slot 0.
    const QDateTime now = QDateTime::currentDateTime();
    for (int k = 0; k <= 9; ++k)
        WriteFile(TfrmAutoSave::SlotName(folder, base, k), "x", now.addSecs(-100 + k));
    EXPECT_EQ(TfrmAutoSave::ChooseSlot(folder, base), 0);
    WriteFile(TfrmAutoSave::SlotName(folder, base, 0), "x", now.addSecs(-50));
    EXPECT_EQ(TfrmAutoSave::ChooseSlot(folder, base), 1);
    WriteFile(TfrmAutoSave::SlotName(folder, base, 3), "x", now.addSecs(-200));
    EXPECT_EQ(TfrmAutoSave::ChooseSlot(folder, base), 1);
    ASSERT_TRUE(window.DoAutoSave());
    EXPECT_FALSE(ArchiveNames(TfrmAutoSave::SlotName(folder, base, 1)).isEmpty());
}

TEST(AutoSaveName, ProgramNameWithoutADotIsKeptWhole)
{
    EXPECT_EQ(TfrmAutoSave::ArchiveBaseName("/opt/korvale/korvale"), "korvale");
    EXPECT_EQ(TfrmAutoSave::ArchiveBaseName("C:/Korvale/Korvale.exe"), "Korvale");
    // So the automatic backups are offered by the restore list.
    EXPECT_TRUE(backup::IsBackupArchiveName(QFileInfo(TfrmAutoSave::SlotName("", "korvale", 7)).fileName()));
}

TEST_F(AutoSave, ClosingTheMainWindowWithYesWritesTheBackup)
{
    const QString folder = DataPath + DayNames[size_t(DayOfWeek(QDate::currentDate()))] + "/";
    {
        TfrmMain main(practice_.context());
        messages_.Clear();
        messages_.Answer(QMessageBox::Yes);
        EXPECT_TRUE(main.close());
    }
    const QString base = TfrmAutoSave::ArchiveBaseName(QCoreApplication::applicationFilePath());
    EXPECT_FALSE(ArchiveNames(TfrmAutoSave::SlotName(folder, base, 0)).isEmpty());

    // A weekday folder that cannot be made: the message, and the window stays.
    QDir(folder).removeRecursively();
    WriteFile(DataPath + DayNames[size_t(DayOfWeek(QDate::currentDate()))], "in the way");
    TfrmMain main(practice_.context());
    main.show();
    messages_.Clear();
    messages_.Answer(QMessageBox::Yes);
    EXPECT_FALSE(main.close());
    EXPECT_TRUE(main.isVisible());
    EXPECT_TRUE(messages_.Last().text.startsWith("Impossible de créer le répertoire : " + folder));
}
