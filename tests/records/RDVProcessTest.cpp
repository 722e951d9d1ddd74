// Two programs book the same slot at the same moment, round after round:
// each slot ends with exactly one appointment, and the other program is
// told the slot is taken.
#include "RecordsFixture.h"

#include "app/records/URDV.h"

#include <QCoreApplication>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QSet>
#include <QThread>

namespace {

constexpr int kRounds = 40;
const QDate kFirstDay(2030, 1, 7);

// Waits until the file exists.
bool WaitFor(const QString& path)
{
    for (int i = 0; i < 60000 && !QFile::exists(path); ++i)
        QThread::usleep(500);
    return QFile::exists(path);
}

void Touch(const QString& path)
{
    QFile f(path);
    (void)f.open(QIODevice::WriteOnly);
}

// One workstation (run in its own process by the test below): in each
// round, waits for the other one, then books 09:00 of the round's day.
TEST(RdvWorker, DISABLED_Workstation)
{
    const QString mark = StartWorker();
    if (mark.isEmpty())
        GTEST_SKIP() << "run by RDVProcessTest.OneAppointmentPerSlotBetweenTwoPrograms";
    const QString other = mark == "A" ? "B" : "A";
    kui::ScopedMessageRecorder messages;
    AppContext context;
    DialogScript pickerCancelled({});  // every picker is cancelled

    TfrmRDV frm(context);
    frm.show();
    int booked = 0, refused = 0;
    for (int round = 0; round < kRounds; ++round) {
        if (round > 0)
            frm.btnNewClick();
        frm.edCode()->setText(mark == "A" ? "000001" : "000002");
        frm.edDate()->setDate(kFirstDay.addDays(round));
        frm.edHre()->setText("09:00");
        frm.edMotif()->setText(mark);
        messages.Clear();
        Touch(AppDir + "ready-" + mark + QString::number(round));
        ASSERT_TRUE(WaitFor(AppDir + "ready-" + other + QString::number(round)));
        if (frm.btnPostClick()) {
            ++booked;
        } else {
            ASSERT_EQ(messages.Count(), 1);
            ASSERT_EQ(
                messages.Last().text, QString::fromUtf8("Ce rendez-vous a déjà été pris !\rVeuillez vérifier S.V.P."));
            ++refused;
        }
    }
    EXPECT_EQ(booked + refused, kRounds);
}

using RDVProcessTest = RecordsTest;

TEST_F(RDVProcessTest, OneAppointmentPerSlotBetweenTwoPrograms)
{
    AddPatient("000001", "DUPONT");
    AddPatient("000002", "MARTIN");
    RunWorkers("RdvWorker", {"A", "B"});
    const QStringList booked = Rows("SELECT DATE_RDV, HRE_RDV FROM FRDV ORDER BY DATE_RDV");
    EXPECT_EQ(booked.size(), kRounds);
    EXPECT_EQ(QSet<QString>(booked.begin(), booked.end()).size(), kRounds);
    const QStringList nums = Rows("SELECT NUM FROM FRDV");
    EXPECT_EQ(QSet<QString>(nums.begin(), nums.end()).size(), kRounds);
}

}  // namespace
