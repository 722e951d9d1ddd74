// The documents asked for from the patient file and the consultation screen
// as a user does: the command, the preview, the printed page.
#include "ReportsFixture.h"
#include "app/reports/UArretTrv.h"
#include "app/records/UConsul.h"
#include "app/records/UPatient.h"
#include "app/global/NextCodeDb.h"

#include <QAction>
#include <QLineEdit>

namespace {

class FromTheScreensTest : public ReportsFixture {
protected:
    void SetUp() override
    {
        InstallDatabaseKeyColumns();
        ReportsFixture::SetUp();
        AddPatient("000001", "DURAND", "Marie", "F");
        AddPatient("000002", "PETIT", "Paul");
        AddConsultation("000001", {2024, 1, 10}, "Toux", "Bronchite", "Sirop");
        AddConsultation("000002", {2024, 2, 1}, "Entorse", "Cheville", "Attelle");
    }
};

TEST_F(FromTheScreensTest, CtrlRInThePatientFilePrintsTheShownPatientsReport)
{
    TfrmPatient frm(practice_.context());
    frm.CodePatient = "000002";
    frm.show();
    QApplication::setActiveWindow(&frm);
    (void)QTest::qWaitForWindowActive(&frm, 1000);
    const QStringList pages = PrintedPages([&] { QTest::keyClick(&frm, Qt::Key_R, Qt::ControlModifier); }, "patient");
    EXPECT_EQ(CurrentPatientCode, "000002");
    ASSERT_EQ(pages.size(), 1);
    const QStringList lines = pdftest::Words(pages[0]);
    EXPECT_TRUE(lines.contains("Nom : PETIT Sexe : M"));
    EXPECT_TRUE(lines.contains("01/02/2024 Entorse Cheville Attelle"));
    EXPECT_FALSE(pages[0].contains("DURAND"));
}

TEST_F(FromTheScreensTest, TheConsultationScreensPrintMenuPrintsTheCertificate)
{
    CurrentPatientCode = "000001";
    TfrmConsul frm(practice_.context());
    // The certificate dialog is modal: OK on a two-day leave.
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<TfrmArretTrv*>(QApplication::activeModalWidget())) {
            answer.stop();
            dialog->edNbDays()->setText("2");
            QTest::mouseClick(dialog->findChild<QPushButton*>("btnOk"), Qt::LeftButton);
        }
    });
    answer.start(5);
    const QStringList pages = PrintedPages([&] { frm.findChild<QAction*>("mnArretTrv")->trigger(); }, "certificate");
    ASSERT_EQ(pages.size(), 1);
    const QStringList lines = pdftest::Words(pages[0]);
    EXPECT_TRUE(lines.contains("Mme DURAND Marie Mme DURAND Marie"));
    EXPECT_TRUE(lines.contains("2 Jours 2 Jours"));
}

}  // namespace
