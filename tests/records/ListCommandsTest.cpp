// The commands of a list follow the rows it shows: the appointment list's
// Modifier and Supprimer when another day is picked or every appointment is
// shown; the consultation's exam buttons when another exam date is chosen.
#include "RecordsFixture.h"

#include "app/records/UConsul.h"
#include "app/records/UListRDV.h"
#include "platform/ui/Messages.h"
#include "platform/ui/data/DataGrid.h"

#include <QAction>
#include <QDateEdit>
#include <QPushButton>
#include <QTabBar>
#include <QToolButton>

#include "ui_UConsul.h"

namespace {

class ListCommandsTest : public RecordsTest {
protected:
    static bool Commands(TfrmListRDV& list)
    {
        const bool on = list.btnDelete()->isEnabled();
        EXPECT_EQ(list.btnModif()->isEnabled(), on);
        EXPECT_EQ(list.mnDelete()->isEnabled(), on);
        EXPECT_EQ(list.mnModif()->isEnabled(), on);
        return on;
    }
    kui::ScopedMessageRecorder messages_;
};

TEST_F(ListCommandsTest, ModifierAndSupprimerFollowTheRowsShown)
{
    AddPatient("000001", "DUPONT", "JEAN");
    Exec("INSERT INTO FRDV (NUM, PATIENT, DATE_RDV, HRE_RDV, MOTIF) VALUES ('000001', '000001', :D, '10:00', "
         "'CONTROLE')",
        {{"D", QDate::currentDate().addDays(-1)}});
    TfrmListRDV list(practice_.context());
    ShowActive(&list);
    ASSERT_EQ(list.grdRDV()->model()->rowCount(), 0) << "nothing today";
    EXPECT_FALSE(Commands(list));

    // The day before, picked with the arrow key in the date picker.
    list.edDate()->setFocus();
    QTest::keyClick(list.edDate(), Qt::Key_Down);
    ASSERT_EQ(list.edDate()->date(), QDate::currentDate().addDays(-1));
    ASSERT_EQ(list.grdRDV()->model()->rowCount(), 1);
    EXPECT_TRUE(Commands(list));
    QTest::keyClick(list.edDate(), Qt::Key_Up);
    ASSERT_EQ(list.grdRDV()->model()->rowCount(), 0);
    EXPECT_FALSE(Commands(list));

    // Every appointment, then back to the empty day.
    QTest::mouseClick(list.btnAll(), Qt::LeftButton);
    ASSERT_EQ(list.grdRDV()->model()->rowCount(), 1);
    EXPECT_TRUE(Commands(list));
    QTest::mouseClick(list.btnAll(), Qt::LeftButton);
    ASSERT_EQ(list.grdRDV()->model()->rowCount(), 0);
    EXPECT_FALSE(Commands(list));
    EXPECT_EQ(messages_.Count(), 0);
}

// Choosing another date of the exams page: the change and delete buttons of
// each kind are there when that date has an exam of the kind.
TEST_F(ListCommandsTest, TheExamButtonsFollowTheDateChosen)
{
    AddPatient("000001", "DUPONT", "JEAN");
    Exec("INSERT INTO FBIO (CODE, LIBELLE) VALUES ('001', 'GLYCEMIE')");
    Exec("INSERT INTO FRADIO (CODE, LIBELLE) VALUES ('001', 'THORAX')");
    const auto exam = [](const char* num, const char* kind, QDate date) {
        Exec("INSERT INTO EXCOMP (NUM, PATIENT, DATE_EX, RADIOBIO, CODE, RESULTAT) VALUES "
             "(:N, '000001', :D, :K, '001', 'NORMAL')",
            {{"N", num}, {"D", date}, {"K", kind}});
    };
    exam("000001", "B", QDate(2024, 1, 10));
    exam("000002", "R", QDate(2024, 1, 10));
    exam("000003", "B", QDate(2024, 3, 5));
    CurrentPatientCode = "000001";
    TfrmConsul frm(practice_.context());
    ShowActive(&frm);
    Ui::TfrmConsul* ui = frm.form();
    QTabBar* tabs = ui->pgControl->tabBar();
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(ui->pgControl->indexOf(ui->tsExams)).center());
    ASSERT_EQ(ui->pgControl->currentWidget(), ui->tsExams);
    const auto buttons = [ui](bool bio) {
        QToolButton* edit = bio ? ui->btnEditBio : ui->btnEditRadio;
        QToolButton* del = bio ? ui->btnDelBio : ui->btnDelRadio;
        EXPECT_EQ(edit->isEnabled(), del->isEnabled());
        return del->isEnabled();
    };
    // The last date: a biology exam only.
    ASSERT_EQ(frm.qExRadioBio().fieldByName("DATE_EX").asDate(), QDate(2024, 3, 5));
    EXPECT_TRUE(buttons(true));
    EXPECT_FALSE(buttons(false));

    // The first date, clicked: its radiology exam can be changed.
    kui::DataGrid* dates = ui->grdDates;
    QTest::mouseClick(dates->viewport(), Qt::LeftButton, {}, dates->visualRect(dates->model()->index(0, 0)).center());
    ASSERT_EQ(frm.qExRadioBio().fieldByName("DATE_EX").asDate(), QDate(2024, 1, 10));
    ASSERT_EQ(frm.qExRadio().recordCount(), 1);
    EXPECT_TRUE(buttons(true));
    EXPECT_TRUE(buttons(false));

    // Back to the last one with the arrow key.
    QTest::keyClick(dates, Qt::Key_Down);
    ASSERT_EQ(frm.qExRadioBio().fieldByName("DATE_EX").asDate(), QDate(2024, 3, 5));
    EXPECT_FALSE(buttons(false));
    EXPECT_EQ(messages_.Count(), 0);
}

}  // namespace
