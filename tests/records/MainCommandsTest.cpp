// The main window's commands that open the record screens: the picker
// first, then the screen for the chosen patient, nothing when cancelled.
#include "RecordsFixture.h"

#include "app/records/UConsul.h"
#include "app/records/UGetPatient.h"
#include "app/main/UMain.h"
#include "app/records/UPatient.h"
#include "platform/ui/data/DataControls.h"
#include "ui_UConsul.h"
#include "ui_UPatient.h"

#include <QAction>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

namespace {

class MainCommandsTest : public RecordsTest {
protected:
    static std::function<void(QWidget*)> Pick(const QString& text) { return PickPatient(text); }
    // In the patient file: the name shown, then the file closed.
    static std::function<void(QWidget*)> ReadName(QString& shownName)
    {
        return [&shownName](QWidget* w) {
            auto* frm = qobject_cast<TfrmPatient*>(w);
            ASSERT_NE(frm, nullptr);
            shownName = frm->form()->edNom->text();
            frm->btnFermerClick();
        };
    }
};

TEST_F(MainCommandsTest, PatientsAndConsultationsOpenTheChosenPatientAndNothingWhenCancelled)
{
    AddPatient("000001", "D'ALMEIDA", "ANA");
    AddPatient("000002", "MARTIN", "LUC");
    TfrmMain main(practice_.context());

    QString shownName;
    {
        DialogScript script({Pick("MAR"), ReadName(shownName)});
        main.btnPatientClick();
        EXPECT_EQ(script.classes, (QStringList{"TfrmGetPatient", "TfrmPatient"}));
    }
    EXPECT_EQ(shownName, "MARTIN");
    EXPECT_EQ(CurrentPatientCode, "000002");

    QString header;
    {
        DialogScript script({Pick("D'"), [&](QWidget* w) {
                                 auto* frm = qobject_cast<TfrmConsul*>(w);
                                 ASSERT_NE(frm, nullptr);
                                 header = frm->form()->lName->text();
                                 QTest::keyClick(frm, Qt::Key_F4);
                                 if (frm->isVisible())
                                     frm->reject();
                             }});
        main.btnConsulClick();
        EXPECT_EQ(script.classes, (QStringList{"TfrmGetPatient", "TfrmConsul"}));
    }
    EXPECT_TRUE(header.startsWith("000001 - D'ALMEIDA ANA, ")) << header.toStdString();

    for (void (TfrmMain::*command)() : {&TfrmMain::btnPatientClick, &TfrmMain::btnConsulClick}) {
        DialogScript script({[](QWidget* w) { static_cast<QDialog*>(w)->reject(); }});
        (main.*command)();
        EXPECT_EQ(script.classes, QStringList{"TfrmGetPatient"});
        EXPECT_EQ(CurrentPatientCode, "");
    }
}

// The patient table without the index the patient file needs (its .MDX
// gone, or written by another program without one): the file is not shown
// empty; the user is told in French which table lacks its index and to run
// Outils / Réindexation, which mends it. Every box is French.
TEST_F(MainCommandsTest, APatientTableWithoutItsIndexIsSaidSoAndReindexingMendsIt)
{
    AddPatient("000001", "D'ALMEIDA", "ANA");
    AddPatient("000002", "MARTIN", "LUC");
    {
        // written by a program that keeps no index
        ASSERT_TRUE(QFile::remove(DataPath + "Patient.MDX"));
        QFile f(DataPath + "Patient.DBF");
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.seek(28);
        f.write("\0", 1);
    }
    TfrmMain main(practice_.context());
    auto* button = main.findChild<QToolButton*>("btnPatient");
    ASSERT_NE(button, nullptr);
    practice_.messages().Clear();
    {
        DialogScript script({Pick("MAR")});
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_EQ(script.classes, QStringList{"TfrmGetPatient"});  // no empty patient file
    }
    ASSERT_EQ(practice_.messages().Count(), 1);
    const QString text = practice_.messages().Last().text;
    EXPECT_TRUE(text.contains("Patient.DBF")) << text.toStdString();
    EXPECT_TRUE(text.contains("index")) << text.toStdString();
    EXPECT_TRUE(text.contains("Outils / Réindexation")) << text.toStdString();
    EXPECT_FALSE(text.contains("not found")) << text.toStdString();

    practice_.messages().Clear();
    main.findChild<QAction*>("mnReindexation")->trigger();
    EXPECT_EQ(practice_.messages().Last().text, "Contrôle de la base de données terminé !");
    QString shownName;
    {
        DialogScript script({Pick("MAR"), ReadName(shownName)});
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_EQ(script.classes, (QStringList{"TfrmGetPatient", "TfrmPatient"}));
    }
    EXPECT_EQ(shownName, "MARTIN");
}

// A patient table whose header does not say what the file holds: the
// picker says so in French, naming it, and nothing is written to it.
TEST_F(MainCommandsTest, APatientTableWithAWrongHeaderIsRefusedInFrenchAndNotWritten)
{
    AddPatient("000001", "MARTIN", "LUC");
    QFile f(DataPath + "Patient.DBF");
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    QByteArray b = f.readAll();
    const int header = static_cast<unsigned char>(b[8]) | (static_cast<unsigned char>(b[9]) << 8);
    b[8] = static_cast<char>((header + 32) & 0xFF);
    b[9] = static_cast<char>((header + 32) >> 8);
    f.seek(0);
    f.write(b);
    f.close();
    TfrmMain main(practice_.context());
    practice_.messages().Clear();
    {
        DialogScript script({[](QWidget* w) {
            auto* picker = qobject_cast<TfrmGetPatient*>(w);
            ASSERT_NE(picker, nullptr);
            picker->edNom()->setText("MAR");
            QTest::keyClick(picker->edNom(), Qt::Key_Return);
            picker->reject();
        }});
        QTest::mouseClick(main.findChild<QToolButton*>("btnPatient"), Qt::LeftButton);
    }
    ASSERT_GE(practice_.messages().Count(), 1);
    const QString text = practice_.messages().Last().text;
    EXPECT_TRUE(text.contains("Patient.DBF")) << text.toStdString();
    EXPECT_TRUE(text.contains("Contrôle de la base de données")) << text.toStdString();
    QFile again(DataPath + "Patient.DBF");
    ASSERT_TRUE(again.open(QIODevice::ReadOnly));
    EXPECT_EQ(again.readAll(), b);
}

// Patients another program appended without writing its count: the picker
// finds them and the patient file shows them; a new patient goes after
// them.
TEST_F(MainCommandsTest, PatientsAfterTheCountAreFoundAndShown)
{
    AddPatient("000001", "DUBOIS", "ANNE");
    AddPatient("000002", "PETIT", "JEAN");
    AddPatient("000003", "MARTIN", "LUC");
    {
        QFile f(DataPath + "Patient.DBF");
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.seek(4);
        f.write("\x01\0\0\0", 4);
    }
    TfrmMain main(practice_.context());
    QString shownName;
    {
        DialogScript script({Pick("MAR"), ReadName(shownName)});
        QTest::mouseClick(main.findChild<QToolButton*>("btnPatient"), Qt::LeftButton);
        EXPECT_EQ(script.classes, (QStringList{"TfrmGetPatient", "TfrmPatient"}));
    }
    EXPECT_EQ(shownName, "MARTIN");
    AddPatient("000004", "ROUX", "EVE");
    EXPECT_EQ(Rows("SELECT CODE, NOM FROM PATIENT ORDER BY CODE"),
        (QStringList{"000001|DUBOIS", "000002|PETIT", "000003|MARTIN", "000004|ROUX"}));
}

}  // namespace
