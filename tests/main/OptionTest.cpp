// The settings dialog, driven as a user would: the model of a screen test.
#include "UOption.h"
#include "USplash.h"
#include "USplashEx.h"
#include "app/global/global.h"
#include "platform/ui/IniFile.h"
#include "tests/support/TempPractice.h"
#include "tests/support/TestApplication.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {

class OptionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        PractitionerName = "Dr Martin";
        SpecialityLine = "Chirurgie générale";
        PracticeDetail = "avant";
        PracticeEmail = "avant@example.org";
        kui::TIniFile ini(AppDir + "KORVALE.INI");
        ini.WriteString("PARAMS", "IMAGE", "fond.bmp");
        ini.WriteString("PARAMS", "DETAIL", "Cabinet");
        ini.WriteString("PARAMS", "ADRESSE", "1 rue Haute");
        ini.WriteString("PARAMS", "VILLE", "Lyon");
        ini.WriteString("PARAMS", "TEL", "0400000000");
        ini.WriteString("PARAMS", "EMAIL", "cabinet@example.org");
    }
    QByteArray File() const
    {
        QFile f(AppDir + "KORVALE.INI");
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static void Retype(QLineEdit* edit, const QString& text)
    {
        edit->setFocus();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        // One key press per character, accented ones included.
        for (const QChar c : text)
            QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }

    TempPractice practice_;
};

TEST_F(OptionTest, OkWritesTheFiveTypedDetailsInOrderAndSharesThem)
{
    TfrmOption dlg(practice_.context());
    dlg.show();
    EXPECT_EQ(dlg.edDoc()->text(), "Dr Martin");
    EXPECT_EQ(dlg.edSpec()->text(), "Chirurgie générale");
    EXPECT_EQ(dlg.edDet()->text(), "Cabinet");
    EXPECT_EQ(dlg.edTel()->text(), "0400000000");
    EXPECT_EQ(dlg.edEmail()->text(), "cabinet@example.org");

    Retype(dlg.edDet(), "Médecine du sport");
    Retype(dlg.edAdr(), "2 place Basse");
    Retype(dlg.edVille(), "Nice");
    Retype(dlg.edTel(), "0493000000");
    Retype(dlg.edEmail(), "");
    QTest::mouseClick(dlg.findChild<QPushButton*>("btnOk"), Qt::LeftButton);

    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(QString::fromUtf8(File()), "[PARAMS]\nIMAGE=fond.bmp\nDETAIL=Médecine du sport\nADRESSE=2 place Basse\n"
                                         "VILLE=Nice\nTEL=0493000000\nEMAIL=\n");
    EXPECT_EQ(PracticeDetail, "Médecine du sport");
    EXPECT_EQ(PracticeAddress, "2 place Basse");
    EXPECT_EQ(PracticeCity, "Nice");
    EXPECT_EQ(PracticePhone, "0493000000");
    EXPECT_EQ(PracticeEmail, "");
    EXPECT_EQ(practice_.messages().Count(), 0);
}

TEST_F(OptionTest, CancelWritesNothingAndChangesNoSharedDetail)
{
    const QByteArray before = File();
    TfrmOption dlg(practice_.context());
    dlg.show();
    Retype(dlg.edDet(), "changé");
    Retype(dlg.edEmail(), "autre@example.org");
    QTest::mouseClick(dlg.findChild<QPushButton*>("btnCancel"), Qt::LeftButton);
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
    EXPECT_EQ(File(), before);
    EXPECT_EQ(PracticeDetail, "avant");
    EXPECT_EQ(PracticeEmail, "avant@example.org");
}

TEST_F(OptionTest, TheReadOnlyFieldsCannotBeTypedIntoAndAreNeverWritten)
{
    TfrmOption dlg(practice_.context());
    dlg.show();
    dlg.edDoc()->setFocus();
    QTest::keyClicks(dlg.edDoc(), "XYZ");
    EXPECT_EQ(dlg.edDoc()->text(), "Dr Martin");
    QTest::mouseClick(dlg.findChild<QPushButton*>("btnOk"), Qt::LeftButton);
    const kui::TIniFile ini(AppDir + "KORVALE.INI");
    EXPECT_EQ(ini.ReadSection("PARAMS"), (QStringList{"IMAGE", "DETAIL", "ADRESSE", "VILLE", "TEL", "EMAIL"}));
    EXPECT_FALSE(File().contains("Dr Martin"));
    EXPECT_FALSE(File().contains("Chirurgie"));
    EXPECT_EQ(PractitionerName, "Dr Martin");
}

TEST_F(OptionTest, EnterMovesToTheNextFieldInsteadOfClosing)
{
    TfrmOption dlg(practice_.context());
    dlg.show();
    QApplication::setActiveWindow(&dlg);
    dlg.edDet()->setFocus();
    QTest::keyClick(dlg.edDet(), Qt::Key_Return);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_TRUE(dlg.edAdr()->hasFocus());
    dlg.edEmail()->setFocus();
    QTest::keyClick(dlg.edEmail(), Qt::Key_Enter);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_TRUE(dlg.findChild<QPushButton*>("btnOk")->hasFocus());
}

} // namespace

TEST(SplashWindows, ShowTheVersionText)
{
    TestApplication();
    const QString saved = AppVersion;
    AppVersion = "Korvale 3.1";
    TfrmSplash splash;
    EXPECT_EQ(splash.VersionText(), "Korvale 3.1");
    EXPECT_EQ(splash.size(), QSize(337, 104));
    TfrmSplashEx about;
    EXPECT_EQ(about.VersionText(), "Korvale 3.1");
    EXPECT_EQ(about.windowTitle(), "A propos ...");
    EXPECT_EQ(about.minimumSize(), about.maximumSize());
    AppVersion = saved;
}
