#include "app/global/global.h"
#include "platform/ui/IniFile.h"
#include "platform/ui/Messages.h"
#include "tests/support/TempPractice.h"
#include "tests/support/TestApplication.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QWidget>

TEST(PadLeft, PadsToTheWidthAndNeverCuts)
{
    EXPECT_EQ(PadLeft("42", "0", 6), "000042");
    EXPECT_EQ(PadLeft("1234567", "0", 6), "1234567");
    EXPECT_EQ(PadLeft("123456", "0", 6), "123456");
    EXPECT_EQ(PadLeft("", "0", 3), "000");
    EXPECT_EQ(PadLeft("7", "ab", 3), "abab7");  // the pad is prepended whole
    EXPECT_EQ(PadLeft("7", "0", -2), "7");
}

TEST(IsNumeric, PointDecimalsOnly)
{
    EXPECT_TRUE(IsNumeric("12.5"));
    EXPECT_TRUE(IsNumeric("-3"));
    EXPECT_TRUE(IsNumeric(" 37.2 "));
    EXPECT_FALSE(IsNumeric("12,5"));
    EXPECT_FALSE(IsNumeric(""));
    EXPECT_FALSE(IsNumeric("12/8"));
    EXPECT_FALSE(IsNumeric("abc"));
}

TEST(Dates, YearAndSqlForm)
{
    EXPECT_EQ(DateToSqlString(QDate(2009, 12, 25)), "12/25/2009");
    EXPECT_EQ(DateToSqlString(QDate(2010, 2, 1)), "2/1/2010");
    EXPECT_EQ(DateToSqlString(QDate(2024, 3, 5)), "3/5/2024");
    EXPECT_EQ(YearOf(QDate(1999, 12, 31)), 1999);
}

TEST(DayNames, SundayFirstInTheWeekdayNumbering)
{
    EXPECT_EQ(DayNames[DayOfWeek(QDate(2026, 12, 6))], "Dimanche");  // a Sunday
    EXPECT_EQ(DayNames[DayOfWeek(QDate(2026, 12, 7))], "Lundi");
    EXPECT_EQ(DayNames[DayOfWeek(QDate(2026, 12, 5))], "Samedi");
}

TEST(ShowError, IsTheErrorBoxWithOneOkButton)
{
    TestApplication();
    kui::ScopedMessageRecorder rec;
    ShowError("Date incorrecte");
    ASSERT_EQ(rec.Count(), 1);
    EXPECT_EQ(rec.Last().kind, kui::MsgKind::Error);
    EXPECT_EQ(rec.Last().text, "Date incorrecte");
    EXPECT_EQ(rec.Last().buttons, kui::MsgButtons(QMessageBox::Ok));
}

namespace {

class FormPositionTest : public ::testing::Test {
protected:
    TempPractice practice_;
};

}  // namespace

TEST_F(FormPositionTest, SaveWritesTheFourKeysInOrderUnderTheWindowName)
{
    QWidget form;
    form.setObjectName("frmChoix");
    form.setGeometry(30, 40, 300, 200);
    SaveFormPosition(&form);
    const kui::TIniFile ini(AppDir + "KORVALE.INI");
    EXPECT_EQ(ini.ReadSection("frmChoix"), (QStringList{"TOP", "LEFT", "WIDTH", "HEIGHT"}));
    EXPECT_EQ(ini.ReadInteger("frmChoix", "TOP", -1), form.y());
    EXPECT_EQ(ini.ReadInteger("frmChoix", "LEFT", -1), form.x());
    EXPECT_EQ(ini.ReadInteger("frmChoix", "WIDTH", -1), 300);
    EXPECT_EQ(ini.ReadInteger("frmChoix", "HEIGHT", -1), 200);
}

TEST_F(FormPositionTest, RestoreBringsBackPositionAndSize)
{
    kui::TIniFile ini(AppDir + "KORVALE.INI");
    ini.WriteInteger("frmChoix", "TOP", 55);
    ini.WriteInteger("frmChoix", "LEFT", 66);
    ini.WriteInteger("frmChoix", "WIDTH", 321);
    ini.WriteInteger("frmChoix", "HEIGHT", 234);
    QWidget form;
    form.setObjectName("frmChoix");
    form.setGeometry(1, 2, 100, 100);
    RestoreFormPosition(&form);
    EXPECT_EQ(form.pos(), QPoint(66, 55));
    EXPECT_EQ(form.size(), QSize(321, 234));
}

TEST_F(FormPositionTest, NoSectionLeavesTheWindowWhereItIs)
{
    kui::TIniFile(AppDir + "KORVALE.INI").WriteInteger("other", "TOP", 5);
    QWidget form;
    form.setObjectName("frmChoix");
    form.setGeometry(10, 20, 150, 120);
    const QPoint pos = form.pos();
    RestoreFormPosition(&form);
    EXPECT_EQ(form.pos(), pos);
    EXPECT_EQ(form.size(), QSize(150, 120));
}

TEST_F(FormPositionTest, AFixedBorderWindowGetsOnlyItsPositionBack)
{
    kui::TIniFile ini(AppDir + "KORVALE.INI");
    ini.WriteInteger("dlgFixed", "TOP", 70);
    ini.WriteInteger("dlgFixed", "LEFT", 80);
    ini.WriteInteger("dlgFixed", "WIDTH", 500);
    ini.WriteInteger("dlgFixed", "HEIGHT", 400);
    QWidget form;
    form.setObjectName("dlgFixed");
    form.setFixedSize(200, 100);
    RestoreFormPosition(&form);
    EXPECT_EQ(form.pos(), QPoint(80, 70));
    EXPECT_EQ(form.size(), QSize(200, 100));
}

TEST_F(FormPositionTest, DamagedValuesFallBackToTheCurrentOnes)
{
    QFile f(AppDir + "KORVALE.INI");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[frmChoix]\nTOP=abc\nLEFT=12\nWIDTH=\nHEIGHT=9x\n");
    f.close();
    QWidget form;
    form.setObjectName("frmChoix");
    form.setGeometry(5, 6, 140, 130);
    const int y = form.y();
    RestoreFormPosition(&form);
    EXPECT_EQ(form.pos(), QPoint(12, y));
    EXPECT_EQ(form.size(), QSize(140, 130));
}
