// The appointment list's commands follow the rows it shows: another day
// picked, or every appointment shown, enables Modifier and Supprimer when
// rows are there and disables them when none is.
#include "RecordsFixture.h"

#include "app/records/UListRDV.h"
#include "platform/ui/Messages.h"
#include "platform/ui/data/DataGrid.h"

#include <QAction>
#include <QDateEdit>
#include <QPushButton>
#include <QToolButton>

namespace {

class RDVViewTest : public RecordsTest {
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

TEST_F(RDVViewTest, ModifierAndSupprimerFollowTheRowsShown)
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

}  // namespace
