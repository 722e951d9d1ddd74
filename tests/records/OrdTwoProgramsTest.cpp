// Two programs on one data directory add exams and prescriptions at the
// same time: no exam number, prescription number or line number is given
// twice, and nothing is lost.
#include "RecordsFixture.h"

#include "app/records/UExComp.h"
#include "app/records/UOrd.h"

#include "app/global/AppContext.h"
#include "platform/ui/Messages.h"
#include "platform/ui/data/DataControls.h"

#include <QDateEdit>
#include <QPlainTextEdit>
#include <QSet>

namespace {

constexpr int kRounds = 12;

// One workstation, run in its own process by the test below.
TEST(OrdWorker, DISABLED_Workstation)
{
    const QString mark = StartWorker();
    if (mark.isEmpty())
        GTEST_SKIP() << "run by RecordsTest.TwoProgramsAddExamsAndPrescriptionsWithoutSharingANumber";
    kui::ScopedMessageRecorder messages;
    AppContext context;
    const QDate first = mark == "A" ? QDate(2020, 1, 1) : QDate(2021, 1, 1);

    TfrmExComp exam(context);
    exam.Patient = "000001";
    exam.RadioBio = "R";
    ShowActive(&exam);
    TfrmOrd ord(context);
    ShowActive(&ord);
    for (int i = 0; i < kRounds; ++i) {
        exam.btnNewClick();
        exam.edDate()->setDate(first.addDays(i));
        exam.cmbExamen()->setCurrentIndex(0);
        exam.mmResultat()->setPlainText(mark + QString::number(i));
        ASSERT_TRUE(exam.btnPostClick()) << messages.Count();

        // A prescription of two lines, the second added after the first
        // was saved.
        ord.btnNewClick();
        ord.tMedic()->fieldByName("MEDIC").setAsString(mark + QString::number(i));
        ord.btnPostClick();
        ord.btnAddLineClick();
        ord.tMedic()->fieldByName("MEDIC").setAsString(mark + QString::number(i));
        ord.btnPostClick();
    }
    EXPECT_EQ(messages.Count(), 0);
}

TEST_F(RecordsTest, TwoProgramsAddExamsAndPrescriptionsWithoutSharingANumber)
{
    AddPatient("000001", "DUPONT");
    Exec("INSERT INTO FRADIO (CODE, LIBELLE) VALUES ('001', 'THORAX')");
    RunWorkers("OrdWorker", {"A", "B"});
    const QStringList nums = Rows("SELECT NUM FROM EXCOMP");
    EXPECT_EQ(nums.size(), 2 * kRounds);
    EXPECT_EQ(QSet<QString>(nums.begin(), nums.end()).size(), 2 * kRounds);
    EXPECT_EQ(Rows("SELECT NUM FROM EXCOMP WHERE RESULTAT LIKE 'A%'").size(), kRounds);

    // Every prescription holds the two lines of one round of one program.
    const QStringList lines = Rows("SELECT CODE, NUM, MEDIC FROM FORD");
    EXPECT_EQ(lines.size(), 4 * kRounds);
    QSet<QString> keys;
    QMap<QString, QSet<QString>> medicsOf;
    for (const QString& line : lines) {
        const QStringList f = line.split('|');
        keys.insert(f[0] + "|" + f[1]);
        medicsOf[f[0]].insert(f[2]);
    }
    EXPECT_EQ(keys.size(), 4 * kRounds);
    EXPECT_EQ(medicsOf.size(), 2 * kRounds);
    for (auto it = medicsOf.begin(); it != medicsOf.end(); ++it)
        EXPECT_EQ(it.value().size(), 1) << it.key().toStdString();
}

}  // namespace
