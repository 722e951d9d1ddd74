// The work certificate dialog and its two copies side by side, printed
// through the preview; the shared name line and age rules.
#include "app/reports/ReportCommon.h"
#include "ReportsFixture.h"
#include "app/reports/UArretTrv.h"

#include <QComboBox>
#include <QDateEdit>
#include <QFileInfo>
#include <QLineEdit>

namespace {

class CertificateTest : public ReportsFixture {
protected:
    void SetUp() override
    {
        ReportsFixture::SetUp();
        AddPatient("000001", "DURAND", "Marie", "F");
        AddPatient("000002", "PETIT", "Paul", "X");
        CurrentPatientCode = "000001";
    }
    // Fills the dialog and presses OK; the printed page's lines.
    QStringList Certificate(int type, const QString& days, int unit, const QString& name, QSizeF* paper = nullptr)
    {
        TfrmArretTrv dialog(practice_.context());
        dialog.show();
        dialog.cmbType()->setCurrentIndex(type);
        dialog.edNbDays()->setText(days);
        dialog.cmbDays()->setCurrentIndex(unit);
        dialog.edDate()->setDate({2025, 4, 2});
        dialog.edDateEtab()->setDate({2025, 4, 1});
        const QStringList pages =
            PrintedPages([&] { QTest::mouseClick(dialog.findChild<QPushButton*>("btnOk"), Qt::LeftButton); }, name);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        if (paper)
            *paper = pdftest::PageSizes(Pdf(name)).value(0);
        EXPECT_EQ(pages.size(), 1);
        return pdftest::Words(pages.value(0));
    }
    // The line printed once in each copy, side by side.
    static QString Twice(const QString& line) { return line + " " + line; }
};

TEST_F(CertificateTest, TheThreeKindsPrintTwoCopiesSideBySideOnALandscapeSheet)
{
    QSizeF paper;
    const QStringList leave = Certificate(0, "10", 0, "leave", &paper);
    EXPECT_GT(paper.width(), paper.height());
    EXPECT_EQ(leave,
        QStringList({Twice("PROLONGATION D'ARRET DE TRAVAIL"), Twice("Dr Martin"), Twice("Chirurgie générale"),
            Twice("Cabinet des Tilleuls"), Twice("Tél.: 0400000000"), Twice("Je soussigné cerifie que :"),
            Twice("Mme DURAND Marie"), Twice("Nécessite un arrêt de travail de :"), Twice("10 Jours"),
            Twice("A compter du : 02/04/2025"), Twice("Lyon, le 01/04/2025"), Twice("Adresse : 1 rue Haute, Lyon")}));

    PracticeEmail = "cabinet@example.org";
    CurrentPatientCode = "000002";
    const QStringList longer = Certificate(1, "1", 1, "longer");
    EXPECT_TRUE(longer.contains(Twice("Tél.: 0400000000 Email : cabinet@example.org")));
    EXPECT_TRUE(longer.contains(Twice("Mr PETIT Paul")));
    EXPECT_TRUE(longer.contains(Twice("Nécessite une prolongation d'arrêt de travail de :")));
    EXPECT_TRUE(longer.contains(Twice("1 Mois")));
    EXPECT_TRUE(longer.contains(Twice("A compter du : 02/04/2025")));
    EXPECT_EQ(longer.first(), Twice("PROLONGATION D'ARRET DE TRAVAIL"));

    // Return to work: the phrase, the return date, no start-date line,
    // whatever the disabled duration holds.
    const QStringList back = Certificate(2, "abc", 0, "back");
    EXPECT_EQ(back.first(), Twice("PROLONGATION D'ARRET DE TRAVAIL"));
    EXPECT_TRUE(back.contains(Twice("Nécessite une reprise de travail à partir du :")));
    EXPECT_TRUE(back.contains(Twice("02/04/2025")));
    EXPECT_FALSE(back.join('\n').contains("A compter du"));
}

TEST_F(CertificateTest, OneDayIsSingularAndDurationsThatAreNotWholeDaysAreRefusedWithAMessage)
{
    EXPECT_TRUE(Certificate(0, "1", 0, "one").contains(Twice("1 Jour")));
    EXPECT_TRUE(Certificate(0, "2", 0, "two").contains(Twice("2 Jours")));
    EXPECT_TRUE(Certificate(0, "1.5", 1, "months").contains(Twice("1.5 Mois")));

    for (const auto& [text, message] :
        {std::pair<QString, QString>{"abc", "Le nombre de jours ou de mois doit être numérique !"},
            {"1.5", "Le nombre de jours doit être un nombre entier !"}}) {
        TfrmArretTrv dialog(practice_.context());
        dialog.show();
        dialog.edNbDays()->setText(text);
        practice_.messages().Clear();
        PreviewWatcher watcher;
        QTest::mouseClick(dialog.findChild<QPushButton*>("btnOk"), Qt::LeftButton);
        ASSERT_EQ(practice_.messages().Count(), 1);
        EXPECT_EQ(practice_.messages().Last().text, message);
        EXPECT_EQ(practice_.messages().Last().kind, kui::MsgKind::Error);
        EXPECT_EQ(watcher.seen, 0);
        EXPECT_EQ(frmPreview, nullptr);
        EXPECT_NE(dialog.result(), QDialog::Accepted);
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(dialog.focusWidget(), dialog.edNbDays());
    }
}

TEST_F(CertificateTest, DialogStartsOnTodayAndTomorrowAndReturnToWorkDisablesTheDuration)
{
    TfrmArretTrv dialog(practice_.context());
    EXPECT_EQ(dialog.edDateEtab()->date(), QDate::currentDate());
    EXPECT_EQ(dialog.edDate()->date(), QDate::currentDate().addDays(1));
    dialog.cmbType()->setCurrentIndex(2);
    EXPECT_FALSE(dialog.edNbDays()->isEnabled());
    EXPECT_FALSE(dialog.cmbDays()->isEnabled());
    dialog.cmbType()->setCurrentIndex(1);
    EXPECT_TRUE(dialog.edNbDays()->isEnabled());
}

TEST(DocumentTexts, NameLineAndAgeRules)
{
    EXPECT_EQ(PatientNameLine("F", "DURAND", "Marie"), "Mme DURAND  Marie");
    for (const QString sexe : {"f", "X"})
        EXPECT_EQ(PatientNameLine(sexe, "DURAND", "Marie"), "Mr DURAND  Marie") << sexe.toStdString();
    const QDate today(2025, 6, 15);
    EXPECT_EQ(AgeText("15/06/1980", "stocké", today), "45 Ans");
    EXPECT_EQ(AgeText("01/01/2025", "3 mois", today), "3 mois");
    EXPECT_EQ(AgeText("00/00/1950", "stocké", today), "75 Ans");
    EXPECT_EQ(AgeText("00/00/ABCD", "stocké", today), "stocké");
    EXPECT_EQ(AgeText("00/00/0000", "stocké", today), "stocké");
}

// Each kind of certificate is proposed a file of its kind, the patient and
// the date it is made out.
TEST_F(CertificateTest, EachKindIsProposedAFileOfItsKindPatientAndDate)
{
    const QStringList kinds{QString::fromUtf8("Arrêt de travail"), QString::fromUtf8("Prolongation d'arrêt de travail"),
        "Reprise de travail"};
    for (int type = 0; type < 3; ++type) {
        TfrmArretTrv dialog(practice_.context());
        dialog.show();
        dialog.cmbType()->setCurrentIndex(type);
        dialog.edNbDays()->setText("3");
        dialog.edDateEtab()->setDate({2025, 4, 1});
        const QString proposed =
            ProposedFile([&] { QTest::mouseClick(dialog.findChild<QPushButton*>("btnOk"), Qt::LeftButton); });
        EXPECT_EQ(QFileInfo(proposed).fileName(), kinds[type] + " DURAND Marie 2025-04-01.pdf");
    }
}

}  // namespace
