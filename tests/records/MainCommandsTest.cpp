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

#include <QLineEdit>
#include <QPushButton>

namespace {

class MainCommandsTest : public RecordsTest {
protected:
    static std::function<void(QWidget*)> Pick(const QString& text) { return PickPatient(text); }
};

TEST_F(MainCommandsTest, PatientsAndConsultationsOpenTheChosenPatientAndNothingWhenCancelled)
{
    AddPatient("000001", "D'ALMEIDA", "ANA");
    AddPatient("000002", "MARTIN", "LUC");
    TfrmMain main(practice_.context());

    QString shownName;
    {
        DialogScript script({Pick("MAR"), [&](QWidget* w) {
                                 auto* frm = qobject_cast<TfrmPatient*>(w);
                                 ASSERT_NE(frm, nullptr);
                                 shownName = frm->form()->edNom->text();
                                 frm->btnFermerClick();
                             }});
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

}  // namespace
