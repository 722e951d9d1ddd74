// The settings dialog, driven as a user would: the model of a screen test.
#include "app/main/UCalendar.h"
#include "app/main/UOption.h"
#include "app/main/UPassWord.h"
#include "app/main/USplash.h"
#include "app/main/USplashEx.h"
#include "app/global/global.h"
#include "platform/ui/IniFile.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TempPractice.h"
#include "tests/support/TestApplication.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QElapsedTimer>
#include <QPointer>
#include <QTest>
#include <QTimer>

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
    EXPECT_EQ(dlg.edSpec()->text(), "Chirurgie générale");
    EXPECT_EQ(dlg.edTel()->text(), "0400000000");

    Retype(dlg.edDet(), "Médecine du sport");
    Retype(dlg.edAdr(), "2 place Basse");
    Retype(dlg.edVille(), "Nice");
    Retype(dlg.edTel(), "0493000000");
    Retype(dlg.edEmail(), "");
    QTest::mouseClick(dlg.findChild<QPushButton*>("btnOk"), Qt::LeftButton);

    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(QString::fromUtf8(File()),
        "[PARAMS]\nIMAGE=fond.bmp\nDETAIL=Médecine du sport\nADRESSE=2 place Basse\n"
        "VILLE=Nice\nTEL=0493000000\nEMAIL=\n");
    EXPECT_EQ(PracticeDetail, "Médecine du sport");
    EXPECT_EQ(PracticeAddress, "2 place Basse");
    EXPECT_EQ(PracticeCity, "Nice");
    EXPECT_EQ(PracticePhone, "0493000000");
    EXPECT_EQ(PracticeEmail, "");
    EXPECT_EQ(practice_.messages().Count(), 0);
}

TEST_F(OptionTest, ASettingsFileThatCannotBeWrittenIsReportedAndTheDialogStays)
{
    TfrmOption dlg(practice_.context());
    dlg.show();
    // The settings file cannot be replaced: a directory stands in its place.
    ASSERT_TRUE(QFile::remove(AppDir + "KORVALE.INI"));
    ASSERT_TRUE(QDir().mkdir(AppDir + "KORVALE.INI"));
    Retype(dlg.edDet(), "Médecine du sport");
    QTest::mouseClick(dlg.findChild<QPushButton*>("btnOk"), Qt::LeftButton);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.edDet()->text(), "Médecine du sport");
    const auto& messages = practice_.messages();
    ASSERT_EQ(messages.Count(), 1);
    EXPECT_EQ(messages.Last().kind, kui::MsgKind::Error);
    EXPECT_TRUE(messages.Last().text.contains(AppDir + "KORVALE.INI"));
    EXPECT_EQ(PracticeDetail, "avant");
}

// A disk that takes only the beginning of the new file: the dialog says so,
// naming the file, stays with what was typed, and the previous file is
// whole, its five details as they were (none of the new ones alone).
TEST_F(OptionTest, AFullDiskKeepsThePreviousSettingsWholeAndSaysSo)
{
    const QByteArray before = File();
    TfrmOption dlg(practice_.context());
    dlg.show();
    Retype(dlg.edDet(), "Médecine du sport et de la montagne");
    Retype(dlg.edVille(), "Saint-Martin-de-Belleville");
    {
        ScopedFileSizeLimit disk(before.size());
        QTest::mouseClick(dlg.findChild<QPushButton*>("btnOk"), Qt::LeftButton);
    }
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.edVille()->text(), "Saint-Martin-de-Belleville");
    const auto& messages = practice_.messages();
    ASSERT_EQ(messages.Count(), 1);
    EXPECT_EQ(messages.Last().kind, kui::MsgKind::Error);
    EXPECT_EQ(messages.Last().text,
        QStringLiteral("Les paramètres n'ont pas pu être enregistrés.\rImpossible d'enregistrer le fichier « %1 » : "
                       "le disque est plein.")
            .arg(AppDir + "KORVALE.INI"));
    EXPECT_EQ(File(), before);
    EXPECT_EQ(QDir(AppDir).entryList({"*KORVALE*"}, QDir::Files | QDir::Hidden), QStringList{"KORVALE.INI"});
    EXPECT_EQ(PracticeDetail, "avant");

    // Room again: the same click saves the five.
    QTest::mouseClick(dlg.findChild<QPushButton*>("btnOk"), Qt::LeftButton);
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_TRUE(QString::fromUtf8(File()).contains("VILLE=Saint-Martin-de-Belleville\n"));
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

}  // namespace

// Counts paint events.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

TEST(SplashWindows, PaintsAndRepaintsWhileItIsShown)
{
    TestApplication();
    PaintCounter counter;
    QPointer<TfrmSplash> shown;
    int paintsBefore = -1, paintsAfter = -1;
    // The window system asks for a repaint while the splash is up.
    QTimer::singleShot(50, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* s = qobject_cast<TfrmSplash*>(w))
                shown = s;
        if (!shown)
            return;
        paintsBefore = counter.paints;
        // Its gradient and labels cover the whole window.
        for (QWidget* child : shown->findChildren<QWidget*>()) {
            child->installEventFilter(&counter);
            child->update();
        }
        QTimer::singleShot(100, [&] { paintsAfter = counter.paints; });
    });
    QElapsedTimer clock;
    clock.start();
    TfrmSplash::ShowDuring(300);
    EXPECT_GE(clock.elapsed(), 300);
    ASSERT_GE(paintsBefore, 0) << "the splash was not on the screen";
    EXPECT_GT(paintsAfter, paintsBefore);
    EXPECT_TRUE(shown.isNull()) << "freed afterwards";
}

TEST(FixedDialogs, CannotBeResized)
{
    TempPractice practice;  // the login may report its user table
    TfrmPassWord login;
    TfrmOption settings(practice.context());
    TfrmSplashEx about;
    TfrmCalendar calendar;
    for (QWidget* w : std::initializer_list<QWidget*>{&login, &settings, &about, &calendar}) {
        w->show();
        const QSize before = w->size();
        EXPECT_FALSE(before.isEmpty()) << w->metaObject()->className();
        w->resize(before + QSize(120, 80));
        EXPECT_EQ(w->size(), before) << w->metaObject()->className();
        EXPECT_FALSE(w->windowFlags().testFlag(Qt::WindowMaximizeButtonHint)) << w->metaObject()->className();
        w->close();
    }
}
