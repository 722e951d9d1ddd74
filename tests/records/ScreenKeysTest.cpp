// Esc on the screens that give it no meaning (no cancel button, no Esc of
// their own) does nothing; on a dialog with a cancel button it cancels. The
// command keys of a screen reach their command from any control.
#include "RecordsFixture.h"

#include "app/main/UOption.h"
#include "app/main/USplashEx.h"
#include "app/records/UImage.h"
#include "app/records/UListProt.h"
#include "app/records/UListRDV.h"
#include "app/records/UOrd.h"
#include "app/records/UPhoto.h"
#include "app/reports/UArretTrv.h"
#include "app/reports/UPrint.h"

#include <QDateEdit>
#include <QPushButton>
#include <QPixmap>

#include <memory>

namespace {

class ScreenKeysTest : public RecordsTest { };

// Shows the screen, presses Esc where the focus is; whether it is still shown.
bool ShownAfterEscape(QDialog& screen)
{
    ShowActive(&screen);
    QWidget* focus = QApplication::focusWidget();
    QTest::keyClick(focus ? focus : &screen, Qt::Key_Escape);
    return screen.isVisible();
}

TEST_F(ScreenKeysTest, EscDoesNothingOnTheScreensWithoutACancelButton)
{
    AddPatient("000001", "DUPONT", "JEAN");
    CurrentPatientCode = "000001";
    std::vector<std::unique_ptr<QDialog>> screens;
    screens.push_back(std::make_unique<TfrmOrd>(practice_.context()));
    screens.push_back(std::make_unique<TfrmPhoto>(practice_.context()));
    screens.push_back(std::make_unique<TfrmListProt>(practice_.context()));
    screens.push_back(std::make_unique<TfrmPrint>(practice_.context()));
    screens.push_back(std::make_unique<TfrmSplashEx>(nullptr));
    QPixmap picture(40, 30);
    picture.fill(Qt::red);
    screens.push_back(std::make_unique<TfrmImage>(picture, QStringLiteral("000001 - DUPONT JEAN")));
    for (const auto& screen : screens) {
        EXPECT_TRUE(ShownAfterEscape(*screen)) << screen->metaObject()->className();
        screen->hide();
    }
    EXPECT_EQ(practice_.messages().Count(), 0);

    // A dialog with a cancel button is cancelled by Esc.
    TfrmOption option(practice_.context());
    EXPECT_FALSE(ShownAfterEscape(option));
    EXPECT_EQ(option.result(), QDialog::Rejected);
    TfrmArretTrv certificate(practice_.context());
    EXPECT_FALSE(ShownAfterEscape(certificate));
}

// Ctrl+Del in the appointment list's date picker deletes the appointment
// (not the date's next word); Ctrl+T from it shows all appointments.
TEST_F(ScreenKeysTest, AppointmentListKeysWorkFromTheDatePicker)
{
    AddPatient("000001", "DUPONT", "JEAN");
    // The click that gives the picker the focus may step its day (on its
    // arrows' side): each day around today holds an appointment to delete.
    for (int day = -1; day <= 1; ++day)
        Exec("INSERT INTO FRDV (NUM, PATIENT, DATE_RDV, HRE_RDV, MOTIF) VALUES (:N, '000001', :D, '10:00', 'VU')",
            {{"N", QString::number(day + 2).rightJustified(6, '0')}, {"D", QDate::currentDate().addDays(day)}});
    TfrmListRDV list(practice_.context());
    ShowActive(&list);
    QTest::mouseClick(list.edDate(), Qt::LeftButton);
    ASSERT_TRUE(
        list.edDate()->isAncestorOf(QApplication::focusWidget()) || QApplication::focusWidget() == list.edDate());
    const QString shown = list.edDate()->text();
    practice_.messages().Answer(QMessageBox::No);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Delete, Qt::ControlModifier);
    ASSERT_EQ(practice_.messages().Count(), 1);
    EXPECT_EQ(practice_.messages().Last().text, "Etes-vous sûr de vouloir supprimer cet enregistrement ?");
    EXPECT_EQ(list.edDate()->text(), shown);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_T, Qt::ControlModifier);
    EXPECT_TRUE(list.btnAll()->isChecked());
}

}  // namespace
