// What the preview window paints is the page that prints: each document's
// first page grabbed from the preview at 200, 100 and 75 % and compared
// with the same page printed to a PDF and rasterised at the matching
// resolution (the practitioner's name of the letterhead included).
#include "ReportsFixture.h"
#include "app/records/UPhoto.h"
#include "app/reports/UPrint.h"
#include "app/reports/URptProtocole.h"
#include "app/reports/UrptConsul.h"
#include "platform/ui/Messages.h"

#include <QPainter>
#include <QToolButton>

namespace {

class PreviewMatchesPrintTest : public ReportsFixture { };

}  // namespace

TEST_F(PreviewMatchesPrintTest, MedicalReportPatientListAndProtocol)
{
    AddPatient("000001", "DURAND", "Marie", "F", "52 Ans");
    AddConsultation("000001", {2024, 1, 10}, "Toux", "Bronchite", "Sirop");
    ExpectPreviewIsThePrint([&] { PrintMedicalReport(practice_.context(), "000001"); }, "consul");

    TfrmPrint dialog(practice_.context());
    dialog.show();
    ExpectPreviewIsThePrint(
        [&] { QTest::mouseClick(dialog.findChild<QPushButton*>("BitBtn1"), Qt::LeftButton); }, "list");
    dialog.close();

    Exec("INSERT INTO FPROT (NUM, DATE_PRT, CODE, NOM, PRENOM, AGE, CLINIQUE, OPERATEUR, AIDE, ANEST, DIAG, INTERV) "
         "VALUES ('000001', :D, '000001', 'DURAND', 'MARIE', '52', 'CLINIQUE DU PARC', 'DR MARTIN', 'DR AIDE', "
         "'DR SOMMEIL', 'Hernie', 'Cure')",
        {{"D", QDate(2024, 1, 2)}});
    ExpectPreviewIsThePrint([&] { PrintProtocol(practice_.context(), "000001"); }, "protocol");
}

TEST_F(PreviewMatchesPrintTest, PhotoSheetsPrintedFromThePhotoScreen)
{
    kui::ScopedMessageRecorder messages;
    AddPatient("000001", "DURAND", "Marie", "F", "52 Ans");
    CurrentPatientCode = "000001";
    QImage photo(800, 600, QImage::Format_RGB32);
    photo.fill(QColor(40, 90, 160));
    QPainter(&photo).fillRect(0, 0, 400, 300, QColor(230, 200, 40));
    ASSERT_TRUE(photo.save(PhotoDir + "a.jpg", "JPG", 95));
    Exec("INSERT INTO FPHOTO (CODE, NUM, PHOTO) VALUES ('000001', '1', 'a.jpg')");

    TfrmPhoto frm(practice_.context());
    frm.show();
    QTest::mouseClick(frm.Image(1), Qt::LeftButton);
    QTest::mouseClick(frm.findChild<QToolButton*>("btnAddtoPrint"), Qt::LeftButton);
    ASSERT_EQ(frm.PrintList, QStringList({"a.jpg"}));
    ExpectPreviewIsThePrint([&] { QTest::mouseClick(frm.btnPrint(), Qt::LeftButton); }, "photos");
}
