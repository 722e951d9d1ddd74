#include "platform/os/Paths.h"
#include "tests/support/ScopedEnv.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <unistd.h>

TEST(ProgramHomeDir, TakesTheVariableWithATrailingSlash)
{
    ScopedEnv home("KORVALE_HOME", "/srv/practice//cabinet");
    EXPECT_EQ(kos::ProgramHomeDir(), QString("/srv/practice/cabinet/"));
}

TEST(ProgramHomeDir, FallsBackToTheDataHome)
{
    ScopedEnv home("KORVALE_HOME", nullptr);
    {
        ScopedEnv data("XDG_DATA_HOME", "/data/home");
        EXPECT_EQ(kos::ProgramHomeDir(), QString("/data/home/korvale/"));
    }
    {
        ScopedEnv data("XDG_DATA_HOME", "relative/ignored");
        EXPECT_EQ(kos::ProgramHomeDir(), QDir::homePath() + "/.local/share/korvale/");
    }
}

TEST(ConfigHomeDir, UsesTheConfigHomeOrItsDefault)
{
    {
        ScopedEnv cfg("XDG_CONFIG_HOME", "/cfg");
        EXPECT_EQ(kos::ConfigHomeDir(), QString("/cfg/korvale/"));
    }
    ScopedEnv cfg("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(kos::ConfigHomeDir(), QDir::homePath() + "/.config/korvale/");
}

TEST(PrivateTempDir, IsPerUserUnderTheSystemTemporaryDirectory)
{
    const QString dir = kos::PrivateTempDir();
    EXPECT_TRUE(dir.startsWith(QDir::tempPath() + "/korvale-"));
    EXPECT_TRUE(dir.endsWith('/'));
    EXPECT_TRUE(dir.contains(QString::number(::getuid())));
}

TEST(ProcessTempDir, EachProgramHasItsOwnAndOnlyEndedOnesAreRemoved)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    ScopedEnv tmpdir("TMPDIR", tmp.path().toLocal8Bit().constData());
    const QString mine = kos::ProcessTempDir();
    EXPECT_TRUE(mine.startsWith(kos::PrivateTempDir()));
    EXPECT_EQ(mine, kos::PrivateTempDir() + QString::number(::getpid()) + "/");

    // A program that has ended, one still running (the parent of this one),
    // and a directory that is nobody's.
    QProcess ended;
    ended.start("/bin/true");
    ASSERT_TRUE(ended.waitForStarted());
    const qint64 endedPid = ended.processId();
    ASSERT_TRUE(ended.waitForFinished());
    const QString gone = kos::PrivateTempDir() + QString::number(endedPid) + "/";
    const QString running = kos::PrivateTempDir() + QString::number(::getppid()) + "/";
    const QString other = kos::PrivateTempDir() + "notes/";
    for (const QString& d : {mine, gone, running, other}) {
        ASSERT_TRUE(QDir().mkpath(d));
        QFile f(d + "_QSQL001.DBF");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    kos::RemoveEndedProcessTempDirs();
    EXPECT_FALSE(QFileInfo::exists(gone));
    EXPECT_TRUE(QFileInfo::exists(mine + "_QSQL001.DBF"));
    EXPECT_TRUE(QFileInfo::exists(running + "_QSQL001.DBF"));
    EXPECT_TRUE(QFileInfo::exists(other + "_QSQL001.DBF"));
}
