#include "platform/ui/Formats.h"

#include <gtest/gtest.h>

#include "tests/support/TestApplication.h"

#include <QDateTime>
#include <QLocale>
#include <QProcess>
#include <QTemporaryDir>

#include <clocale>
#include <cstdio>
#include <cstdlib>

using namespace kui;

TEST(Formats, DatesAreDayMonthYearWithLeadingZeros)
{
    EXPECT_EQ(DateToStr(QDate(2026, 12, 5)), "05/12/2026");
    EXPECT_EQ(DateToStr(QDate()), "");
    bool ok = false;
    EXPECT_EQ(StrToDate("5/3/2024", &ok), QDate(2024, 3, 5));
    EXPECT_TRUE(ok);
    EXPECT_EQ(StrToDate(" 25/12/2009 ", &ok), QDate(2009, 12, 25));
    EXPECT_EQ(StrToDate("01/02/10", &ok), QDate(QDate::currentDate().year() / 100 * 100 + 10, 2, 1));
}

TEST(Formats, MalformedOrImpossibleDatesAreRefused)
{
    for (const char* text : {"", "31/02/2024", "2024-03-05", "5.3.2024", "00/01/2020", "12/13/2020", "1/1/123",
             "aa/bb/cccc", "1/1/2020x"}) {
        bool ok = true;
        EXPECT_FALSE(StrToDate(text, &ok).isValid()) << text;
        EXPECT_FALSE(ok) << text;
    }
}

TEST(Formats, TimesAreHoursAndMinutes)
{
    EXPECT_EQ(TimeToStr(QTime(8, 5, 59)), "08:05");
    bool ok = false;
    EXPECT_EQ(StrToTime("8:05", &ok), QTime(8, 5));
    EXPECT_TRUE(ok);
    EXPECT_EQ(StrToTime("23:59:30"), QTime(23, 59, 30));
    EXPECT_FALSE(StrToTime("24:00", &ok).isValid());
    EXPECT_FALSE(ok);
    EXPECT_FALSE(StrToTime("8h05").isValid());
    EXPECT_EQ(DateTimeToStr(QDateTime(QDate(2026, 1, 2), QTime(9, 7))), "02/01/2026 09:07");
}

TEST(Formats, NumbersUseAPointAndBlankThousands)
{
    EXPECT_EQ(FloatToStr(12.5), "12.5");
    EXPECT_EQ(FloatToStr(-0.25), "-0.25");
    EXPECT_EQ(FormatFloat(1234567.891, 2, true), "1 234 567.89");
    EXPECT_EQ(FormatFloat(-1234.5, 2, true), "-1 234.50");
    EXPECT_EQ(FormatFloat(999, 0, true), "999");
    EXPECT_EQ(FormatFloat(1234.5, 1), "1234.5");
}

TEST(Formats, TextToNumberAcceptsOnlyThePointForm)
{
    bool ok = false;
    EXPECT_DOUBLE_EQ(StrToFloat("12.5", &ok), 12.5);
    EXPECT_TRUE(ok);
    EXPECT_DOUBLE_EQ(StrToFloat(" -3 ", &ok), -3);
    EXPECT_DOUBLE_EQ(StrToFloat("1e3", &ok), 1000);
    EXPECT_DOUBLE_EQ(StrToFloat(".5", &ok), 0.5);
    EXPECT_DOUBLE_EQ(StrToFloat("12.", &ok), 12);
    for (const char* bad : {"12,5", "", " ", "1 000", "inf", "nan", "1e999", "abc", "1.2.3", "+", "."}) {
        ok = true;
        EXPECT_EQ(StrToFloat(bad, &ok), 0.0) << bad;
        EXPECT_FALSE(ok) << bad;
    }
    EXPECT_EQ(StrToInt("-42", &ok), -42);
    EXPECT_TRUE(ok);
    EXPECT_EQ(StrToInt("4.2", &ok), 0);
    EXPECT_FALSE(ok);
}

// Run in a child process started with a French desktop locale: the C
// library's conversions and printing keep the process formats' ".".
TEST(FrenchDesktop, DISABLED_Child)
{
    InstallProcessFormats();
    TestApplication();
    EXPECT_STREQ(std::localeconv()->decimal_point, ".");
    char printed[32];
    std::snprintf(printed, sizeof printed, "%.2f", 1234.5);
    EXPECT_STREQ(printed, "1234.50");
    EXPECT_EQ(std::strtod("12.75", nullptr), 12.75);
    EXPECT_EQ(FormatFloat(1234.5, 2, true), "1 234.50");
    EXPECT_EQ(StrToFloat("12.75"), 12.75);
    // Day names still come from the French locale.
    EXPECT_EQ(QLocale().dayName(1), "lundi");
}

TEST(Formats, TheDecimalSeparatorStaysADotUnderAFrenchDesktop)
{
    TestApplication();
    QTemporaryDir locales;
    ASSERT_TRUE(locales.isValid());
    QProcess localedef;
    localedef.start("localedef", {"-i", "fr_FR", "-f", "UTF-8", locales.path() + "/fr_FR.UTF-8"});
    if (!localedef.waitForFinished(30000) || localedef.exitCode() != 0)
        GTEST_SKIP() << "no French locale can be built here";
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LOCPATH", locales.path());
    env.insert("LC_ALL", "fr_FR.UTF-8");
    env.insert("LANG", "fr_FR.UTF-8");
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
        {"--gtest_also_run_disabled_tests", "--gtest_filter=FrenchDesktop.DISABLED_Child"});
    ASSERT_TRUE(child.waitForFinished(30000));
    const QByteArray output = child.readAllStandardOutput();
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
}
