#include "MainFixture.h"
#include "tests/support/TestFiles.h"

#include "controls/DcLabel.h"
#include "platform/db/core/Session.h"
#include "platform/os/Files.h"
#include "platform/os/Paths.h"
#include "platform/ui/Formats.h"
#include "platform/ui/IniFile.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <unistd.h>
#include <QImage>

#include <sys/stat.h>

using StartupTest = MainFixture;

TEST_F(StartupTest, FirstStartCreatesTheDirectoriesAndTheDatabaseBeforeTheLogin)
{
    TfrmMain& frm = Create();
    EXPECT_TRUE(frm.CreationCompleted());
    EXPECT_FALSE(frm.TerminateRequested());
    EXPECT_EQ(IniDir, config_ + "korvale/");
    EXPECT_EQ(AppDir, home_);
    EXPECT_EQ(DataPath, home_ + "Data/");
    EXPECT_EQ(ProtDir, home_ + "PROT/");
    EXPECT_EQ(PhotoDir, home_ + "PHOTOS/");
    EXPECT_EQ(TempPath, kos::ProcessTempDir());
    for (const QString& d : {IniDir, AppDir, DataPath, ProtDir, PhotoDir, TempPath})
        EXPECT_TRUE(QFileInfo(d).isDir()) << d.toStdString();

    EXPECT_EQ(steps_, (QStringList{"check:" + DataPath, "login"}));
    const auto& session = *practice_.context().session;
    EXPECT_EQ(QString::fromStdString(session.privateDir()), TempPath.chopped(1));
    EXPECT_EQ(QString::fromStdString(session.netDir()), AppDir);
    ASSERT_GE(messages_.Count(), 1);
    EXPECT_EQ(messages_.Records()[0].kind, kui::MsgKind::Information);
    EXPECT_EQ(messages_.Records()[0].text, "Création de la base de données terminée !");
    EXPECT_EQ(messages_.Count(), 1);
}

TEST_F(StartupTest, CaptionStatusBarAndBanner)
{
    ASSERT_TRUE(QDir().mkpath(home_));
    kui::TIniFile ini(home_ + "KORVALE.INI");
    ini.WriteString("PARAMS", "DOCTEUR", "Dr Martin");
    ini.WriteString("PARAMS", "SPECIALITE", "Chirurgie");
    ini.WriteString("PARAMS", "VILLE", "Lyon");
    ini.WriteString("PARAMS", "EMAIL", "c@example.org");
    TfrmMain& frm = Create();
    EXPECT_EQ(frm.windowTitle(), "Suivi des patients - Korvale 3.1");
    EXPECT_EQ(frm.StatusPanelText(0), QDate::currentDate().toString("dd/MM/yyyy"));
    EXPECT_EQ(SpecialityLine, "Chirurgie");
    EXPECT_EQ(frm.UserLabel()->text(), "Dr Martin");
    EXPECT_EQ(PracticeCity, "Lyon");
    EXPECT_EQ(PracticeEmail, "c@example.org");
    EXPECT_TRUE(frm.windowState() & Qt::WindowMaximized);
}

TEST_F(StartupTest, DisplayRdvComesFromTheConfigurationHomeDefaultingToTrue)
{
    Create();
    EXPECT_TRUE(DisplayRdv);
    frm_.reset();
    kui::TIniFile(config_ + "korvale/KORVALE.INI").WriteBool("PARAMS", "DISPLAYRDV", false);
    Create();
    EXPECT_FALSE(DisplayRdv);
}

TEST_F(StartupTest, AnUncreatableDirectoryShowsTheErrorAndAbandonsTheRest)
{
    // A file where the data directory should be.
    ASSERT_TRUE(QDir().mkpath(home_));
    Touch(home_ + "Data");
    TfrmMain& frm = Create();
    ASSERT_EQ(messages_.Count(), 1);
    EXPECT_EQ(messages_.Last().kind, kui::MsgKind::Error);
    EXPECT_EQ(messages_.Last().text, "Impossible de créer le répertoire : " + home_ + "Data/\r");
    EXPECT_TRUE(steps_.isEmpty());  // no check, no session, no login
    EXPECT_FALSE(QFileInfo::exists(home_ + "PROT"));
    EXPECT_FALSE(frm.CreationCompleted());
    EXPECT_TRUE(frm.TerminateRequested());
    EXPECT_NE(frm.windowTitle(), "Suivi des patients - Korvale 3.1");
}

TEST_F(StartupTest, AnUncreatableConfigurationHomeStopsAtTheFirstStep)
{
    Touch(practice_.root() + "/config");
    TfrmMain& frm = Create();
    ASSERT_EQ(messages_.Count(), 1);
    EXPECT_EQ(messages_.Last().text, "Impossible de créer le répertoire : " + config_ + "korvale/\r");
    EXPECT_FALSE(QFileInfo::exists(home_));
    EXPECT_TRUE(frm.TerminateRequested());
}

TEST_F(StartupTest, ARefusedLoginEndsTheProgramAfterTheRemainingSteps)
{
    loginResult_ = false;
    TfrmMain& frm = Create();
    EXPECT_TRUE(frm.TerminateRequested());
    EXPECT_EQ(frm.windowTitle(), "Suivi des patients - Korvale 3.1");
}

TEST_F(StartupTest, EngineLeftoversAndThePrivateDirectoryAreCleaned)
{
    ASSERT_TRUE(QDir().mkpath(home_ + "Data"));
    ASSERT_TRUE(kos::EnsureDirectory(kos::PrivateTempDir(), true));
    // This program's work directory, left by an earlier program of the same
    // number; that of another program still running (the parent of this
    // test); that of a program that has ended.
    const QString temp = kos::ProcessTempDir();
    const QString running = kos::PrivateTempDir() + QString::number(::getppid()) + "/";
    QProcess ended;
    ended.start("/bin/true");
    ASSERT_TRUE(ended.waitForStarted());
    const QString gone = kos::PrivateTempDir() + QString::number(ended.processId()) + "/";
    ASSERT_TRUE(ended.waitForFinished());
    for (const QString& f : {home_ + "_QS001.DBF", home_ + "DelX.tmp", home_ + "PDOXUSRS.NET", home_ + "Patient.TXT",
             home_ + "Data/_tmp.DBF", home_ + "Data/PARADOX.LCK", home_ + "Data/Patient.DBF", temp + "work.tmp",
             running + "work.tmp", gone + "work.tmp", config_ + "korvale/PDOXUSRS.LCK"}) {
        QDir().mkpath(QFileInfo(f).path());
        Touch(f);
    }
    Create();
    EXPECT_FALSE(QFileInfo::exists(home_ + "_QS001.DBF"));
    EXPECT_FALSE(QFileInfo::exists(home_ + "DelX.tmp"));
    EXPECT_FALSE(QFileInfo::exists(home_ + "PDOXUSRS.NET"));
    EXPECT_FALSE(QFileInfo::exists(home_ + "Data/_tmp.DBF"));
    EXPECT_FALSE(QFileInfo::exists(home_ + "Data/PARADOX.LCK"));
    EXPECT_FALSE(QFileInfo::exists(temp + "work.tmp"));
    EXPECT_TRUE(QFileInfo::exists(running + "work.tmp"));
    EXPECT_FALSE(QFileInfo::exists(gone));
    EXPECT_FALSE(QFileInfo::exists(config_ + "korvale/PDOXUSRS.LCK"));
    EXPECT_TRUE(QFileInfo::exists(home_ + "Patient.TXT"));
    EXPECT_TRUE(QFileInfo::exists(home_ + "Data/Patient.DBF"));
}

TEST_F(StartupTest, ReadOnlyFilesOfTheProgramAndDataDirectoriesBecomeWritable)
{
    ASSERT_TRUE(QDir().mkpath(home_ + "Data"));
    Touch(home_ + "ADR.TXT");
    Touch(home_ + "Data/Patient.DBF");
    ::chmod(QFile::encodeName(home_ + "ADR.TXT").constData(), 0444);
    ::chmod(QFile::encodeName(home_ + "Data/Patient.DBF").constData(), 0444);
    Create();
    EXPECT_TRUE(QFileInfo(home_ + "ADR.TXT").permissions() & QFile::WriteOwner);
    EXPECT_TRUE(QFileInfo(home_ + "Data/Patient.DBF").permissions() & QFile::WriteOwner);
}

TEST_F(StartupTest, TheWelcomePictureIsBuiltInOrTakenFromTheProgramDirectory)
{
    TfrmMain& builtIn = Create();
    EXPECT_FALSE(builtIn.BackgroundPicture().isNull());
    const QSize builtInSize = builtIn.BackgroundPicture().size();
    frm_.reset();

    QImage picture(7, 5, QImage::Format_RGB32);
    picture.fill(Qt::green);
    ASSERT_TRUE(picture.save(home_ + "fond.bmp", "BMP"));
    kui::TIniFile(home_ + "KORVALE.INI").WriteString("PARAMS", "IMAGE", "fond.bmp");
    TfrmMain& frm = Create();
    EXPECT_EQ(frm.BackgroundPicture().size(), QSize(7, 5));
    EXPECT_NE(builtInSize, QSize(7, 5));
    EXPECT_TRUE(frm.CreationCompleted());
}

TEST_F(StartupTest, ADamagedWelcomePictureIsReportedAndTheLastStepsSkipped)
{
    ASSERT_TRUE(QDir().mkpath(home_ + "Data"));
    QFile bad(home_ + "fond.bmp");
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("BM not a picture");
    bad.close();
    Touch(home_ + "ro.txt");
    ::chmod(QFile::encodeName(home_ + "ro.txt").constData(), 0444);
    kui::TIniFile(home_ + "KORVALE.INI").WriteString("PARAMS", "IMAGE", "fond.bmp");
    TfrmMain& frm = Create();
    ASSERT_EQ(messages_.Count(), 1);
    EXPECT_EQ(messages_.Last().kind, kui::MsgKind::Plain);
    EXPECT_TRUE(messages_.Last().text.contains("fond.bmp"));
    EXPECT_FALSE(frm.CreationCompleted());
    EXPECT_FALSE(frm.TerminateRequested());  // logged in: the window opens
    EXPECT_FALSE(QFileInfo(home_ + "ro.txt").permissions() & QFile::WriteOwner);
}

TEST_F(StartupTest, AFailingTableCheckIsReportedAndTheProgramDoesNotOpenWithoutLogin)
{
    practice_.context().checkDatabase = [] { throw std::runtime_error("Création impossible"); };
    TfrmMain& frm = Create();
    ASSERT_EQ(messages_.Count(), 1);
    EXPECT_EQ(messages_.Last().kind, kui::MsgKind::Plain);
    EXPECT_EQ(messages_.Last().text, "Création impossible");
    EXPECT_TRUE(steps_.isEmpty());  // no login
    EXPECT_TRUE(frm.TerminateRequested());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);  // cursor restored
}

TEST_F(StartupTest, DirectoriesAreCreatedInOrderUpToTheFirstFailure)
{
    ASSERT_TRUE(QDir().mkpath(home_));
    Touch(home_ + "PHOTOS");  // PROT comes before, the private directory after
    TfrmMain& frm = Create();
    ASSERT_EQ(messages_.Count(), 2);  // the database creation, then the error
    EXPECT_EQ(messages_.Last().text, "Impossible de créer le répertoire : " + home_ + "PHOTOS/\r");
    EXPECT_TRUE(QFileInfo(home_ + "Data").isDir());
    EXPECT_TRUE(QFileInfo(home_ + "PROT").isDir());
    EXPECT_FALSE(QFileInfo::exists(kos::PrivateTempDir()));
    EXPECT_EQ(steps_, QStringList{"check:" + home_ + "Data/"});
    EXPECT_TRUE(frm.TerminateRequested());
}
