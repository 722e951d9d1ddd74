// The prescription choice screen and the A5 prescription it prints through
// the preview, read back from the PDF.
#include "ReportsFixture.h"

#include "app/records/USelectOrd.h"
#include "platform/ui/Messages.h"
#include "platform/ui/data/DataControls.h"

#include <QDateEdit>
#include <QFileInfo>
#include <QLineEdit>
#include <QToolButton>

namespace {

class OrdonnanceTest : public ReportsFixture {
protected:
    void SetUp() override
    {
        ReportsFixture::SetUp();
        AddPatient("000001", "DURAND", "Marie", "F", "40 Ans", "00/00/1950");
        AddPatient("000002", "PETIT", "Paul", "M", "8 mois", "");
        Line("12", 2, "AMOXICILLINE", "GELULE", "500MG", "1 BOITE", "3 PAR JOUR");
        Line("12", 1, "DOLIPRANE", "", "", "", "SI DOULEUR");
        Line("12", 3, "L'EAU THERMALE", "SPRAY");
        Line("2", 1, "SIROP");
        Line("1", 1, "VENTOLINE");
    }
    static void Line(const QString& code, int num, const QString& medic, const QString& forme = {},
        const QString& dosage = {}, const QString& qte = {}, const QString& poso = {})
    {
        Exec("INSERT INTO FORD (CODE, NUM, MEDIC, FORME, DOSAGE, QTE, POSOLOGIE) VALUES (:C, :N, :M, :F, :D, :Q, :P)",
            {{"C", code}, {"N", num}, {"M", medic}, {"F", forme}, {"D", dosage}, {"Q", qte}, {"P", poso}});
    }
};

TEST_F(OrdonnanceTest, TheChosenPrescriptionPrintsOnAnA5SheetWithItsLinesInOrder)
{
    CurrentPatientCode = "000001";
    TfrmSelectOrd frm(practice_.context());
    frm.show();
    EXPECT_EQ(frm.edCode()->text(), "2");  // the last in text order
    EXPECT_EQ(frm.qMedic()->recordCount(), 1);
    // Only digits reach the search; 1 finds the first number beginning with 1.
    QTest::keyClicks(frm.edNum(), "a1");
    EXPECT_EQ(frm.edNum()->text(), "1");
    EXPECT_EQ(frm.edCode()->text(), "1");
    QTest::keyClicks(frm.edNum(), "2");
    EXPECT_EQ(frm.edCode()->text(), "12");
    EXPECT_EQ(frm.qMedic()->recordCount(), 3);
    frm.edDate()->setDate({2025, 6, 30});

    // Esc prints the shown prescription.
    const QStringList pages = PrintedPages([&] { QTest::keyClick(&frm, Qt::Key_Escape); }, "ordonnance");
    ASSERT_EQ(pages.size(), 1);
    const QSizeF paper = pdftest::PageSizes(Pdf("ordonnance")).value(0);
    EXPECT_NEAR(paper.width(), 148 / 25.4 * 72, 2);  // points
    EXPECT_NEAR(paper.height(), 210 / 25.4 * 72, 2);
    const QStringList words = pdftest::Words(pages.value(0));
    const int age = QDate::currentDate().year() - 1950;
    EXPECT_EQ(words,
        (QStringList{"Dr Martin", "Chirurgie générale", "Cabinet des Tilleuls", "Tél.: 0400000000", "Ordonnance",
            "Lyon, le 30/06/2025", "Mme DURAND Marie " + QString::number(age) + " Ans", "1 - DOLIPRANE, SI DOULEUR",
            "2 - AMOXICILLINE, GELULE, 500MG, 1 BOITE, 3 PAR JOUR", "3 - L'EAU THERMALE, SPRAY", "1 rue Haute, Lyon"}));
}

TEST_F(OrdonnanceTest, EmailLineStoredAgeAndAPatientWithoutRow)
{
    PracticeEmail = "cabinet@example.org";
    CurrentPatientCode = "000002";
    TfrmSelectOrd frm(practice_.context());
    frm.show();
    QStringList words = pdftest::Words(PrintedPages([&] { QTest::keyClick(&frm, Qt::Key_Return); }, "petit").value(0));
    EXPECT_TRUE(words.contains("Tél.: 0400000000 Email : cabinet@example.org"));
    EXPECT_TRUE(words.contains("Mr PETIT Paul 8 mois"));
    EXPECT_TRUE(words.contains("1 - SIROP"));

    PracticeEmail = "   ";
    CurrentPatientCode = "999999";
    words = pdftest::Words(PrintedPages([&] { frm.btnPrintClick(); }, "nobody").value(0));
    EXPECT_TRUE(words.contains("Tél.: 0400000000"));
    EXPECT_TRUE(words.contains("Ordonnance"));
    EXPECT_FALSE(words.join(' ').contains("Mr "));
}

// A number that no prescription begins with prints nothing and says so,
// naming it, whether Esc, Enter or Imprimer asks; once a prescription is
// found again, or chosen with the navigator, it prints.
TEST_F(OrdonnanceTest, ANumberWithoutAPrescriptionPrintsNothingAndSaysSo)
{
    CurrentPatientCode = "000001";
    TfrmSelectOrd frm(practice_.context());
    frm.show();
    QTest::keyClicks(frm.edNum(), "77");
    EXPECT_EQ(frm.edNum()->text(), "77");
    {
        PreviewWatcher watcher;
        QTest::keyClick(frm.edNum(), Qt::Key_Escape);
        QTest::keyClick(frm.edNum(), Qt::Key_Return);
        QTest::mouseClick(frm.btnPrint(), Qt::LeftButton);
        QApplication::processEvents();
        EXPECT_EQ(watcher.seen, 0);
    }
    ASSERT_EQ(practice_.messages().Count(), 3);
    EXPECT_EQ(practice_.messages().Last().text,
        QString::fromUtf8("Aucune ordonnance ne porte un numéro commençant par 77.\rRien n'a été imprimé."));
    EXPECT_TRUE(frm.isVisible());

    // A digit typed over the number: found, printed.
    QTest::keyClicks(QApplication::focusWidget(), "2");
    EXPECT_EQ(frm.edNum()->text(), "2");
    EXPECT_EQ(frm.edCode()->text(), "2");
    QStringList words =
        pdftest::Words(PrintedPages([&] { QTest::keyClick(&frm, Qt::Key_Escape); }, "trouvee").value(0));
    EXPECT_TRUE(words.contains("1 - SIROP"));

    // No match again, then the navigator: the prescription chosen prints.
    frm.edNum()->selectAll();
    QTest::keyClicks(frm.edNum(), "9");
    ASSERT_EQ(frm.edNum()->text(), "9");
    auto* navigator = frm.findChild<kui::DataNavigator*>("navOrd");
    ASSERT_NE(navigator, nullptr);
    QTest::mouseClick(navigator->lastButton(), Qt::LeftButton);
    EXPECT_EQ(frm.edCode()->text(), "2");
    words = pdftest::Words(PrintedPages([&] { QTest::keyClick(&frm, Qt::Key_Return); }, "choisie").value(0));
    EXPECT_TRUE(words.contains("1 - SIROP"));
    EXPECT_EQ(practice_.messages().Count(), 3);
}

// The print dialog proposes a file named after the prescription, the
// patient and the date of issue.
TEST_F(OrdonnanceTest, ThePrescriptionIsProposedAFileOfItsPatientAndDate)
{
    CurrentPatientCode = "000001";
    TfrmSelectOrd frm(practice_.context());
    frm.show();
    frm.edDate()->setDate({2026, 12, 7});
    const QString proposed = ProposedFile([&] { QTest::keyClick(&frm, Qt::Key_Escape); });
    EXPECT_EQ(QFileInfo(proposed).fileName(), "Ordonnance DURAND Marie 2026-12-07.pdf");
}

}  // namespace

// The prescription's letterhead shows in the preview as it prints, at
// every zoom.
TEST_F(OrdonnanceTest, ThePreviewShowsThePageThatPrints)
{
    CurrentPatientCode = "000001";
    TfrmSelectOrd frm(practice_.context());
    frm.show();
    QTest::keyClicks(frm.edNum(), "12");
    ASSERT_EQ(frm.edCode()->text(), "12");
    ExpectPreviewIsThePrint([&] { QTest::keyClick(&frm, Qt::Key_Escape); }, "ordonnance-vue");
}
