#include "platform/os/Paths.h"
#include "tests/support/ScopedEnv.h"

#include <gtest/gtest.h>

#include <QDir>


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
