// The appointment entry and the appointment list, driven as a user does:
// the time reader's accepted and refused texts, one appointment per slot,
// the patient picker, the close guard; the list's day view and full view,
// its add and delete, its one instance in the main window.
#include "RecordsFixture.h"

#include "app/records/UGetPatient.h"
#include "app/records/UListRDV.h"
#include "app/main/UMain.h"
#include "app/records/URDV.h"
#include "platform/ui/IniFile.h"
#include "platform/ui/data/DataGrid.h"

#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>

namespace {

const QString kTaken = QString::fromUtf8("Ce rendez-vous a déjà été pris !\rVeuillez vérifier S.V.P.");
const QString kBadTime = QStringLiteral("L'Heure du Rendez-vous est incorrecte !");

class RDVTest : public RecordsTest {
protected:
    static std::function<void(QWidget*)> Pick(const QString& text) { return PickPatient(text); }
    static void Cancel(QWidget* w) { static_cast<QDialog*>(w)->reject(); }
    static void AddRdv(
        const QString& num, const QString& patient, const QDate& day, const QString& time, const QString& motif)
    {
        Exec("INSERT INTO FRDV (NUM, PATIENT, DATE_RDV, HRE_RDV, MOTIF) VALUES (:N, :P, :D, :H, :M)",
            {{"N", num}, {"P", patient}, {"D", day}, {"H", time}, {"M", motif}});
    }
    static QStringList Stored() { return Rows("SELECT NUM, PATIENT, DATE_RDV, HRE_RDV, MOTIF FROM FRDV ORDER BY NUM"); }
    // The list's rows as NUM values, in its order.
    static QStringList Listed(TfrmListRDV& list)
    {
        QStringList nums;
        kdb::QueryDataset& q = *list.qRDV();
        for (q.first(); !q.eof(); q.next())
            nums << q.fieldByName("NUM").asString().trimmed();
        q.first();
        return nums;
    }
    QString LastMessage() { return practice_.messages().Count() ? practice_.messages().Last().text : QString(); }
    static QString Today() { return QDate::currentDate().toString("dd/MM/yyyy"); }
};

TEST_F(RDVTest, TimesAreReadAndOneAppointmentHoldsASlot)
{
    AddPatient("000001", "DUPONT", "JEAN", "01/02/1960");
    AddPatient("000002", "MARTIN", "LUC");
    TfrmRDV frm(practice_.context());
    {
        DialogScript script({Pick("DUP")});
        frm.show();
        EXPECT_EQ(script.classes, QStringList{"TfrmGetPatient"});
    }
    EXPECT_EQ(frm.edCode()->text(), "000001");
    EXPECT_EQ(frm.lPatient()->text(), "000001 - DUPONT, " + QString::number(QDate::currentDate().year() - 1960));
    EXPECT_EQ(frm.edDate()->date(), QDate::currentDate());
    EXPECT_EQ(frm.edHre()->text(), "09:00");
    EXPECT_FALSE(frm.btnNew()->isEnabled());

    frm.edMotif()->setText("  CONTROLE ");
    for (const QString bad : {"25:00", "9h30", "0930", "", "12:60", "13 PM"}) {
        frm.edHre()->setText(bad);
        EXPECT_FALSE(frm.btnPostClick()) << bad.toStdString();
        EXPECT_EQ(LastMessage(), kBadTime) << bad.toStdString();
    }
    EXPECT_TRUE(Stored().isEmpty());

    frm.edHre()->setText(" 9 ");
    QTest::mouseClick(frm.btnPost(), Qt::LeftButton);
    EXPECT_EQ(frm.NumRDV, "000001");
    EXPECT_FALSE(frm.RdvEditing);
    EXPECT_FALSE(frm.edHre()->isEnabled());
    EXPECT_TRUE(frm.btnNew()->isEnabled() && frm.btnEdit()->isEnabled());
    EXPECT_EQ(Stored(), QStringList{"000001|000001|" + Today() + "|09:00|CONTROLE"});

    // Changes of the same appointment: its own slot is no obstacle.
    for (const auto& [typed, stored] : std::vector<std::pair<QString, QString>>{
             {"14:5", "14:05"}, {"8:30:59", "08:30"}, {"2:15 PM", "14:15"}, {"09:00", "09:00"}}) {
        QTest::mouseClick(frm.btnEdit(), Qt::LeftButton);
        EXPECT_TRUE(frm.edHre()->hasFocus() || !frm.isActiveWindow());
        frm.edHre()->setText(typed);
        EXPECT_TRUE(frm.btnPostClick()) << typed.toStdString() << " " << LastMessage().toStdString();
        EXPECT_EQ(Stored().value(0).section('|', 3, 3), stored);
    }
    EXPECT_EQ(Stored().size(), 1);

    // Another patient on the same day and time is refused; a quarter later
    // is booked.
    {
        DialogScript script({Pick("MAR")});
        QTest::mouseClick(frm.btnNew(), Qt::LeftButton);
    }
    EXPECT_TRUE(frm.NumRDV.isEmpty());
    EXPECT_EQ(frm.edCode()->text(), "000002");
    frm.edMotif()->setText("VACCIN");
    EXPECT_FALSE(frm.btnPostClick());
    EXPECT_EQ(LastMessage(), kTaken);
    EXPECT_TRUE(frm.NumRDV.isEmpty());
    EXPECT_EQ(Stored().size(), 1);
    frm.edHre()->setText("9:15");
    EXPECT_TRUE(frm.btnPostClick());
    EXPECT_EQ(frm.NumRDV, "000002");
    EXPECT_EQ(Stored().value(1), "000002|000002|" + Today() + "|09:15|VACCIN");

    // Moving it onto the first one's slot is refused too.
    frm.btnEditClick();
    frm.edHre()->setText("09:00");
    EXPECT_FALSE(frm.btnPostClick());
    EXPECT_EQ(LastMessage(), kTaken);
    practice_.messages().Answer(QMessageBox::Yes);  // the moved time dropped
    frm.btnCancelClick();
    EXPECT_EQ(LastMessage(), QString::fromUtf8("Abandonner les modifications ?"));
    EXPECT_EQ(frm.edHre()->text(), "09:15");
    EXPECT_FALSE(frm.RdvEditing);
}

// Cancelling a change of a saved appointment asks first: No keeps it as
// typed, Yes brings the stored one back; without a change, no question.
TEST_F(RDVTest, ACancelledChangeIsAskedFor)
{
    AddPatient("000001", "DUPONT", "JEAN");
    AddRdv("000001", "000001", QDate(2024, 3, 5), "10:30", "CONTROLE");
    TfrmRDV frm(practice_.context());
    frm.NumRDV = "000001";
    frm.CodePatient = "000001";
    ShowActive(&frm);
    ASSERT_EQ(frm.edMotif()->text(), "CONTROLE");
    frm.edMotif()->setFocus();
    frm.edMotif()->selectAll();
    QTest::keyClicks(frm.edMotif(), QString(60, 'V'));
    EXPECT_EQ(frm.edMotif()->text(), QString(50, 'V'));  // the column's width
    practice_.messages().Answer(QMessageBox::No);
    QTest::keyClick(frm.edMotif(), Qt::Key_Escape);
    EXPECT_EQ(LastMessage(), QString::fromUtf8("Abandonner les modifications ?"));
    EXPECT_TRUE(frm.RdvEditing);
    EXPECT_EQ(frm.edMotif()->text(), QString(50, 'V'));
    practice_.messages().Answer(QMessageBox::Yes);
    QTest::keyClick(frm.edMotif(), Qt::Key_Escape);
    EXPECT_FALSE(frm.RdvEditing);
    EXPECT_EQ(frm.edMotif()->text(), "CONTROLE");
    EXPECT_EQ(practice_.messages().Count(), 2);
    frm.btnEditClick();
    QTest::keyClick(&frm, Qt::Key_Escape);
    EXPECT_FALSE(frm.RdvEditing);
    EXPECT_EQ(practice_.messages().Count(), 2);
    EXPECT_EQ(Stored(), QStringList{"000001|000001|05/03/2024|10:30|CONTROLE"});
}

TEST_F(RDVTest, CancelledPickerAndTheCloseGuard)
{
    AddPatient("000001", "DUPONT", "JEAN");
    {
        TfrmRDV frm(practice_.context());
        DialogScript script({&Cancel});
        ShowActive(&frm);
        EXPECT_TRUE(frm.edCode()->text().isEmpty());
        frm.edMotif()->setText("BILAN");
        EXPECT_FALSE(frm.btnPostClick());
        EXPECT_EQ(LastMessage(), "Le patient est manquant !");

        // Cancel keeps the screen; No closes it without writing.
        practice_.messages().Answer(QMessageBox::Cancel);
        frm.close();
        EXPECT_TRUE(frm.isVisible());
        EXPECT_EQ(
            LastMessage(), QString::fromUtf8("Les informations modifiées n'ont pas été enregistrées.\rEnregister ?"));
        // Esc while editing a new appointment is Cancel: it closes through
        // the guard.
        practice_.messages().Answer(QMessageBox::No);
        QTest::keyClick(&frm, Qt::Key_Escape);
        EXPECT_FALSE(frm.isVisible());
    }
    EXPECT_TRUE(Stored().isEmpty());

    TfrmRDV frm(practice_.context());
    {
        DialogScript script({Pick("DUP")});
        ShowActive(&frm);
    }
    // Yes with a failing check: the message, and the screen stays.
    const int before = practice_.messages().Count();
    practice_.messages().Answer(QMessageBox::Yes);
    frm.close();
    EXPECT_TRUE(frm.isVisible());
    EXPECT_EQ(practice_.messages().Count(), before + 2);
    EXPECT_EQ(LastMessage(), "Le motif du rendez-vous est manquant !");
    // Enter moves on from the time to the reason.
    frm.edHre()->setFocus();
    QTest::keyClick(frm.edHre(), Qt::Key_Return);
    EXPECT_TRUE(frm.edMotif()->hasFocus());
    QTest::keyClicks(frm.edMotif(), "PANSEMENT");
    practice_.messages().Answer(QMessageBox::Yes);
    frm.close();
    EXPECT_FALSE(frm.isVisible());
    EXPECT_EQ(frm.result(), QDialog::Accepted);
    EXPECT_EQ(Stored(), QStringList{"000001|000001|" + Today() + "|09:00|PANSEMENT"});
}

TEST_F(RDVTest, ListOfTheDayAllAppointmentsAddAndDelete)
{
    const QDate today = QDate::currentDate();
    AddPatient("000001", "DUPONT", "JEAN");
    AddPatient("000002", "MARTIN", "LUC");
    AddRdv("000001", "000001", today, "10:00", "CONTROLE");
    AddRdv("000002", "000002", today, "09:00", "VACCIN");
    AddRdv("000003", "000002", today.addDays(1), "08:00", "BILAN");
    AddRdv("000004", "000099", today, "08:00", "ORPHELIN");  // no such patient
    DisplayRdv = true;

    TfrmMain main(practice_.context());
    main.show();
    ASSERT_NE(frmListRDV, nullptr) << "opened at start";
    TfrmListRDV* list = frmListRDV;
    main.mnRDVClick();
    EXPECT_EQ(frmListRDV, list) << "brought to front, not opened twice";
    EXPECT_EQ(main.ClientArea()->subWindowList().size(), 1);

    EXPECT_EQ(Listed(*list), (QStringList{"000002", "000001"}));
    EXPECT_EQ(list->qRDV()->fieldByName("(NOM + ', ' + PRENOM)").asString(), "MARTIN, LUC");
    EXPECT_TRUE(list->btnDelete()->isEnabled() && list->mnModif()->isEnabled());

    // All appointments, then Ctrl+T twice: back to the day in the picker.
    QTest::mouseClick(list->btnAll(), Qt::LeftButton);
    EXPECT_EQ(Listed(*list), (QStringList{"000002", "000001", "000003"}));
    EXPECT_EQ(list->mnAll()->text(), "RDV du jour");
    EXPECT_FALSE(list->edDate()->isEnabled());
    list->mnAll()->trigger();
    EXPECT_EQ(list->btnAll()->text(), "Tous les RDV");
    EXPECT_FALSE(list->btnAll()->isChecked());
    EXPECT_EQ(Listed(*list), (QStringList{"000002", "000001"}));
    list->mnAll()->trigger();
    list->mnAll()->trigger();
    list->edDate()->setDate(today.addDays(1));
    list->edDateChange();
    EXPECT_EQ(Listed(*list), QStringList{"000003"});
    list->edDate()->setDate(today);
    list->edDateChange();

    // Adding on another day keeps today's view, on the first row.
    {
        DialogScript script({Pick("DUP"), [&](QWidget* w) {
                                 auto* frm = qobject_cast<TfrmRDV*>(w);
                                 ASSERT_NE(frm, nullptr);
                                 frm->edDate()->setDate(today.addDays(2));
                                 frm->edMotif()->setText("SUIVI");
                                 frm->btnPostClick();
                                 frm->close();
                             }});
        QTest::mouseClick(list->btnAdd(), Qt::LeftButton);
        EXPECT_EQ(script.classes, (QStringList{"TfrmGetPatient", "TfrmRDV"}));
    }
    EXPECT_EQ(Rows("SELECT NUM, PATIENT FROM FRDV WHERE NUM='000005'"), QStringList{"000005|000001"});
    EXPECT_EQ(Listed(*list), (QStringList{"000002", "000001"}));
    EXPECT_EQ(list->qRDV()->recNo(), 1);

    // Changing the current row opens it; its time moved, the list follows.
    {
        DialogScript script({[&](QWidget* w) {
            auto* frm = qobject_cast<TfrmRDV*>(w);
            ASSERT_NE(frm, nullptr);
            EXPECT_EQ(frm->NumRDV, "000002");
            EXPECT_EQ(frm->edCode()->text(), "000002");
            frm->edHre()->setText("11:00");
            frm->btnPostClick();
            frm->close();
        }});
        list->btnModifClick();
    }
    EXPECT_EQ(Listed(*list), (QStringList{"000001", "000002"}));

    // Delete: No keeps it, Yes removes the current row.
    practice_.messages().Answer(QMessageBox::No);
    list->btnDeleteClick();
    EXPECT_EQ(Rows("SELECT NUM FROM FRDV").size(), 5);
    practice_.messages().Answer(QMessageBox::Yes);
    list->btnDeleteClick();
    EXPECT_EQ(LastMessage(), QString::fromUtf8("Etes-vous sûr de vouloir supprimer cet enregistrement ?"));
    EXPECT_TRUE(Rows("SELECT NUM FROM FRDV WHERE NUM='000001'").isEmpty());
    EXPECT_EQ(Listed(*list), QStringList{"000002"});

    // The start-up choice is kept in the settings file.
    list->PopMnRDVPopup();
    EXPECT_TRUE(list->mnAutoDisplay()->isChecked());
    list->mnAutoDisplay()->trigger();
    EXPECT_FALSE(DisplayRdv);
    EXPECT_FALSE(kui::TIniFile(IniDir + "KORVALE.INI").ReadBool("PARAMS", "DISPLAYRDV", true));

    // A maintenance command releases the list while it works on the tables
    // and shows it again afterwards; the command then brings it forward.
    practice_.messages().SetDefaultAnswer(QMessageBox::Ok);
    const TfrmListRDV* before = frmListRDV;
    main.mnReindexationClick();
    ASSERT_NE(frmListRDV, nullptr);
    EXPECT_NE(frmListRDV, before);
    EXPECT_TRUE(frmListRDV->qRDV()->active());
    main.mnRDVClick();
    ASSERT_NE(frmListRDV, nullptr);
    EXPECT_EQ(main.ClientArea()->subWindowList().size(), 1);
    frmListRDV->CloseWindow();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(frmListRDV, nullptr);
    DisplayRdv = true;
}

TEST_F(RDVTest, EmptyDayAndDoubleClickOnAnEmptyList)
{
    // A double click on the empty grid, not on a row, opens a new appointment.
    AddPatient("000001", "DUPONT", "JEAN");
    AddRdv("000001", "000001", QDate::currentDate().addDays(-1), "10:00", "CONTROLE");
    TfrmListRDV list(practice_.context());
    list.show();
    EXPECT_TRUE(Listed(list).isEmpty());
    EXPECT_FALSE(list.btnDelete()->isEnabled() || list.btnModif()->isEnabled() || list.mnDelete()->isEnabled() ||
        list.mnModif()->isEnabled());
    DialogScript script({&Cancel, [](QWidget* w) {
                             auto* frm = qobject_cast<TfrmRDV*>(w);
                             ASSERT_NE(frm, nullptr);
                             EXPECT_TRUE(frm->NumRDV.isEmpty());
                             EXPECT_TRUE(frm->btnPost()->isEnabled());
                             frm->btnCancelClick();
                         }});
    practice_.messages().Answer(QMessageBox::No);
    QTest::mouseDClick(list.grdRDV()->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_EQ(script.classes, (QStringList{"TfrmGetPatient", "TfrmRDV"}));
    EXPECT_EQ(Rows("SELECT NUM FROM FRDV").size(), 1);
}

}  // namespace
