#include "platform/os/Calculator.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QThread>

namespace {

void MakeExecutable(const QString& path, const QByteArray& content = "#!/bin/sh\nexit 0\n")
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

}  // namespace

TEST(Calculator, TheFirstExecutableCandidateInOrderOfPreferenceWins)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EXPECT_EQ(kos::StartCalculator({dir.path()}), kos::CalculatorStart::NotFound);
    MakeExecutable(dir.path() + "/kcalc");
    QFile(dir.path() + "/kcalc").setPermissions(QFile::ReadOwner | QFile::WriteOwner);  // not executable
    EXPECT_TRUE(kos::FindCalculator({dir.path()}).isEmpty());
    MakeExecutable(dir.path() + "/xcalc");
    EXPECT_EQ(kos::FindCalculator({dir.path()}), dir.path() + "/xcalc");
    MakeExecutable(dir.path() + "/galculator");
    EXPECT_EQ(kos::FindCalculator({dir.path()}), dir.path() + "/galculator");
}

TEST(Calculator, AStartIsReportedAsStartedOrAsAFileThatCannotRun)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // The calculator leaves a mark to show that it ran.
    MakeExecutable(dir.path() + "/kcalc", "#!/bin/sh\ntouch \"$(dirname \"$0\")/ran\"\n");
    EXPECT_EQ(kos::StartCalculator({dir.path()}), kos::CalculatorStart::Started);
    for (int i = 0; i < 200 && !QFile::exists(dir.path() + "/ran"); ++i)
        QThread::msleep(10);
    EXPECT_TRUE(QFile::exists(dir.path() + "/ran"));
    // An executable file that is no program at all.
    MakeExecutable(dir.path() + "/gnome-calculator", QByteArray(64, '\x01'));
    EXPECT_EQ(kos::StartCalculator({dir.path()}), kos::CalculatorStart::CannotRun);
}
