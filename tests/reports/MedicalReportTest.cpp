// The medical report printed through the preview's Print button into a PDF.
#include "ReportsFixture.h"
#include "app/reports/UrptConsul.h"

namespace {

class MedicalReportTest : public ReportsFixture { };

const QString Today = QDate::currentDate().toString("dd/MM/yyyy");

TEST_F(MedicalReportTest, HeaderPatientBlockAndConsultationsInTheOrderTheyWereRecorded)
{
    AddPatient("000001", "DURAND", "Marie", "F", "52 Ans");
    AddPatient("000002", "PETIT", "Paul");
    AddConsultation("000001", {2024, 1, 10}, "Toux", "Bronchite", "Sirop");
    AddConsultation("000002", {2024, 2, 1}, "Autre patient", "-", "-");
    AddConsultation("000001", {2024, 3, 5}, "Fièvre", "Grippe", "Repos");
    AddConsultation("000001", {2023, 1, 1}, "Entorse", "Cheville", "Attelle");
    QString caption;
    const QStringList pages = PrintedPages([&] { PrintMedicalReport(practice_.context(), "000001"); }, "consul",
        [&](TfrmPreview& w) { caption = w.windowTitle(); });
    EXPECT_EQ(CurrentPatientCode, "000001");
    EXPECT_EQ(caption, "Rapport médical de DURAND - 1 page");
    ASSERT_EQ(pages.size(), 1);
    // The telephone line ends with the e-mail form even without an e-mail.
    EXPECT_EQ(pdftest::Words(pages[0]),
        QStringList(
            {"Dr Martin Le " + Today, "Chirurgie générale", "Cabinet des Tilleuls", "Adresse : 1 rue Haute, Lyon",
                "Tél.: 0400000000 Email :", "RAPPORT MEDICAL", "Nom : DURAND Sexe : F", "Adresse : 3 rue Basse",
                "Age : 52 Ans G.Sanguin : A+", "Date Motif Diagnostic Traitement", "10/01/2024 Toux Bronchite Sirop",
                "05/03/2024 Fièvre Grippe Repos", "01/01/2023 Entorse Cheville Attelle", "1"}));
}

TEST_F(MedicalReportTest, ManyConsultationsFlowOverPagesAndLongTextsGrowTheirRow)
{
    AddPatient("000001", "DURAND");
    const QString longTreatment = QString("comprimé matin et soir ").repeated(8).trimmed();
    for (int i = 1; i <= 100; ++i)
        AddConsultation("000001", QDate(2020, 1, 1).addDays(i), "Motif " + QString::number(i), "Diag",
            i == 2 ? longTreatment : "Trt");
    const QStringList pages = PrintedPages([&] { PrintMedicalReport(practice_.context(), "000001"); }, "many");
    ASSERT_GE(pages.size(), 3);
    int next = 1;
    for (int p = 0; p < pages.size(); ++p) {
        const QStringList lines = pdftest::Words(pages[p]);
        EXPECT_EQ(lines.last(), QString::number(p + 1));
        EXPECT_EQ(lines.contains("RAPPORT MEDICAL"), p == 0);
        static const QRegularExpression row("^\\d\\d/\\d\\d/\\d{4} Motif (\\d+) ");
        for (const QString& line : lines) {
            if (const auto m = row.match(line); m.hasMatch()) {
                EXPECT_EQ(m.captured(1).toInt(), next++) << line.toStdString();
            }
        }
    }
    EXPECT_EQ(next, 101);
    // The wrapped treatment is printed whole, before the next consultation.
    const QString first = pages[0];
    EXPECT_EQ(first.count("comprimé"), 8);
    EXPECT_LT(first.lastIndexOf("soir"), first.indexOf("Motif 3"));
}

TEST_F(MedicalReportTest, APatientWithoutConsultationsStillGetsHisPage)
{
    AddPatient("000001", "DURAND");
    AddPatient("000002", "PETIT");
    AddConsultation("000002", {2024, 1, 10}, "Toux", "Bronchite", "Sirop");
    const QStringList pages = PrintedPages([&] { PrintMedicalReport(practice_.context(), "000001"); }, "none");
    ASSERT_EQ(pages.size(), 1);
    const QStringList lines = pdftest::Words(pages[0]);
    EXPECT_TRUE(lines.contains("Nom : DURAND Sexe : M"));
    EXPECT_EQ(lines.mid(lines.size() - 2), QStringList({"Date Motif Diagnostic Traitement", "1"}));

    // An unknown code prints an empty patient block, not the first patient's.
    const QStringList unknown = PrintedPages([&] { PrintMedicalReport(practice_.context(), "999999"); }, "unknown");
    ASSERT_EQ(unknown.size(), 1);
    EXPECT_TRUE(pdftest::Words(unknown[0]).contains("Nom : Sexe :"));
    EXPECT_FALSE(unknown[0].contains("DURAND"));
}

TEST_F(MedicalReportTest, ATableThatCannotBeReadIsReportedAndLeavesNoPreviewOpen)
{
    AddPatient("000001", "DURAND");
    ASSERT_TRUE(QFile::remove(DataPath + "Cons.DBF"));
    PreviewWatcher watcher;
    PrintMedicalReport(practice_.context(), "000001");
    EXPECT_EQ(watcher.seen, 0);
    EXPECT_EQ(frmPreview, nullptr);
    ASSERT_EQ(practice_.messages().Count(), 1);
    EXPECT_TRUE(practice_.messages().Last().text.contains("Cons", Qt::CaseInsensitive))
        << practice_.messages().Last().text.toStdString();
}

}  // namespace
