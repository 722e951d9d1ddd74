#include "platform/os/Calculator.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

namespace {

void MakeExecutable(const QString& path)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("#!/bin/sh\nexit 0\n");
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace

TEST(Calculator, NoneOnTheSearchPathIsNotFound)
{
    QTemporaryDir empty;
    ASSERT_TRUE(empty.isValid());
    EXPECT_TRUE(kos::FindCalculator({empty.path()}).isEmpty());
    EXPECT_EQ(kos::StartCalculator({empty.path()}), kos::CalculatorStart::NotFound);
}

TEST(Calculator, TheFirstCandidateInOrderOfPreferenceWins)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    MakeExecutable(dir.path() + "/xcalc");
    EXPECT_EQ(kos::FindCalculator({dir.path()}), dir.path() + "/xcalc");
    MakeExecutable(dir.path() + "/galculator");
    EXPECT_EQ(kos::FindCalculator({dir.path()}), dir.path() + "/galculator");
}

TEST(Calculator, ANonExecutableFileIsNotACalculator)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile f(dir.path() + "/kcalc");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    EXPECT_TRUE(kos::FindCalculator({dir.path()}).isEmpty());
}
