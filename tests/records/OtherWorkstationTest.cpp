// Records another workstation deleted or changed while a screen showed
// them, that workstation being korvale-sql, a program of its own, on the
// same data directory. Starting to change or saving such a record says so
// in French, naming it, keeps what was typed on the screen and writes
// nothing into a deleted row; a list out of date says so, is read again
// and recreates nothing.
#include "ProtFixture.h"

#include "app/records/UConsul.h"
#include "app/records/UExComp.h"
#include "app/global/AppContext.h"
#include "app/records/OtherWorkstation.h"
#include "app/records/UListProt.h"
#include "app/records/UListRDV.h"
#include "app/records/UOrd.h"
#include "app/records/UPROT.h"
#include "app/records/UPatient.h"
#include "app/records/UPhoto.h"
#include "app/records/URDV.h"
#include "app/records/UTable.h"
#include "platform/db/database/Database.h"
#include "platform/ui/Messages.h"
#include "platform/ui/data/DataGrid.h"
#include "ui_UConsul.h"
#include "ui_UPatient.h"

#include <QDateEdit>
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QToolButton>

namespace {

class OtherWorkstationTest : public ProtFixture {
protected:
    // One statement run by the other workstation; answers what korvale-sql
    // prints (the rows it changed).
    static QString OtherWorkstation(const QString& statement)
    {
        QProcess p;
        p.start(QStringLiteral(KORVALE_SQL_TOOL), {DataPath, statement});
        EXPECT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }
    // A field of the deleted record of `table` whose `key` column holds
    // `value`, as the file keeps it; "<none>" when no deleted record has it.
    static QString DeletedRecordValue(const char* table, const char* key, const QString& value, const char* field)
    {
        auto t = kdb::Database::of(DataPath.toStdString()).openTable(table);
        t->refresh();
        const int k = t->fieldIndex(key), f = t->fieldIndex(field);
        for (uint32_t r = 1; r <= t->recordCount(); ++r)
            if (t->isDeleted(r) && t->value(r, k).toString().trimmed() == value)
                return t->value(r, f).toString();
        return QStringLiteral("<none>");
    }
    QString LastMessage() { return practice_.messages().Count() ? practice_.messages().Last().text : QString(); }
    kui::MsgKind LastKind()
    {
        return practice_.messages().Count() ? practice_.messages().Last().kind : kui::MsgKind::Plain;
    }
    static QString Today() { return QDate::currentDate().toString(QStringLiteral("dd/MM/yyyy")); }
    // A double click on a row of a list, as the user gives it.
    static void DoubleClickRow(kui::DataGrid* grid, int row)
    {
        QApplication::processEvents();
        const QPoint at = grid->visualRect(grid->model()->index(row, 1)).center();
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, at);
    }
    static QString Deleted(const QString& what, bool feminine = false)
    {
        return what +
            (feminine ? QStringLiteral(" a été supprimée sur un autre poste.")
                      : QStringLiteral(" a été supprimé sur un autre poste."));
    }
    static QString Changed(const QString& what, bool feminine = false)
    {
        return what +
            (feminine ? QStringLiteral(" a été modifiée sur un autre poste.")
                      : QStringLiteral(" a été modifié sur un autre poste."));
    }
    const QString kNotSaved =
        QStringLiteral("\nLes modifications n'ont pas été enregistrées ; elles restent affichées.");
    const QString kListUpdated = QStringLiteral("\nLa liste a été mise à jour.");
    const QString kCheckAgain = QStringLiteral("\nVérifiez-le dans la liste, puis recommencez.");
    // What a save refused for a patient deleted elsewhere says.
    QString PatientGone(const QString& who) { return Deleted(who) + kNotSaved; }
};

// A message service that lets the other workstation act while a question is
// on the screen, then answers it as the recording service does.
class ActingWhileAsked : public kui::RecordingMessageService {
public:
    ActingWhileAsked() : previous_(kui::SetMessageService(this)) { }
    ~ActingWhileAsked() override { kui::SetMessageService(previous_); }
    kui::MsgButton Show(const kui::MsgRequest& request) override
    {
        if (act && request.kind == kui::MsgKind::Confirmation)
            std::exchange(act, nullptr)();
        return RecordingMessageService::Show(request);
    }
    std::function<void()> act;

private:
    kui::MessageService* previous_;
};

}  // namespace

// The patient shown is deleted elsewhere: the first key is refused with the
// patient's name and the screen moves on; a save that finds the record
// deleted keeps the typed number on the screen and writes nothing.
TEST_F(OtherWorkstationTest, APatientDeletedElsewhereIsNeitherChangedNorWrittenInto)
{
    AddPatient("000001", "DUPONT", "JEAN");
    AddPatient("000002", "MARTIN", "LUC");
    TfrmPatient frm(practice_.context());
    frm.CodePatient = "000001";
    ShowActive(&frm);
    ASSERT_EQ(frm.form()->edNom->text(), "DUPONT");

    EXPECT_EQ(OtherWorkstation("DELETE FROM PATIENT WHERE CODE='000001'"), "1");
    Type(frm.form()->edTel, "0");
    EXPECT_EQ(LastMessage(), Deleted("Le patient DUPONT JEAN (code 000001)") + kListUpdated);
    EXPECT_EQ(LastKind(), kui::MsgKind::Warning);
    Keys("612");  // typed on after the box: no editor has them
    EXPECT_EQ(frm.Patient().state(), kdb::DatasetState::Browse);
    EXPECT_EQ(frm.form()->edNom->text(), "MARTIN");
    EXPECT_EQ(frm.form()->edTel->text(), "");
    EXPECT_EQ(DeletedRecordValue("PATIENT", "CODE", "000001", "TEL"), "");

    // MARTIN typed into, then deleted through the very table that edits
    // him (another screen of this program holding the same open).
    Type(frm.form()->edTel, "0612");
    ASSERT_EQ(frm.Patient().state(), kdb::DatasetState::Edit);
    frm.Patient().table()->deleteRecord(frm.Patient().physicalRecNo());
    practice_.messages().Clear();
    QTest::mouseClick(frm.form()->btnPost, Qt::LeftButton);
    EXPECT_EQ(LastMessage(), Deleted("Le patient MARTIN LUC (code 000002)") + kNotSaved);
    EXPECT_EQ(practice_.messages().Count(), 1);
    EXPECT_EQ(frm.Patient().state(), kdb::DatasetState::Edit);
    EXPECT_EQ(frm.form()->edTel->text(), "0612");
    EXPECT_EQ(DeletedRecordValue("PATIENT", "CODE", "000002", "TEL"), "");
    EXPECT_TRUE(Rows("SELECT CODE FROM PATIENT").isEmpty());
}

// The refresh of every five seconds that finds the patient shown deleted
// elsewhere says so rather than showing another patient in silence, and
// leaves no editor the focus; deleting a patient deleted elsewhere says so
// and asks nothing.
TEST_F(OtherWorkstationTest, ThePatientFileTellsAPatientDeletedElsewhereWhenItRefreshesOrDeletes)
{
    AddPatient("000002", "MARTIN", "LUC");
    AddPatient("000003", "PETIT", "PAUL");
    AddPatient("000004", "ROBERT", "ANNE");
    TfrmPatient frm(practice_.context());
    frm.CodePatient = "000002";
    ShowActive(&frm);
    QTest::mouseClick(frm.form()->edTel, Qt::LeftButton);
    OtherWorkstation("DELETE FROM PATIENT WHERE CODE='000002'");
    EXPECT_TRUE(QTest::qWaitFor([&] { return practice_.messages().Count() > 0; }, 8000));
    EXPECT_EQ(LastMessage(), Deleted("Le patient MARTIN LUC (code 000002)") + kListUpdated);
    EXPECT_EQ(frm.form()->edNom->text(), "PETIT");
    Keys("7");
    EXPECT_EQ(frm.Patient().state(), kdb::DatasetState::Browse);

    practice_.messages().Clear();
    OtherWorkstation("DELETE FROM PATIENT WHERE CODE='000003'");
    practice_.messages().Answer(QMessageBox::Yes);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(practice_.messages().Count(), 1);
    EXPECT_EQ(LastMessage(), Deleted("Le patient PETIT PAUL (code 000003)") + kListUpdated);
    EXPECT_EQ(Rows("SELECT CODE, TEL FROM PATIENT"), QStringList{"000004|"});
}

// A reference code deleted elsewhere while its label is changed here is
// not written again: Valider says so, naming it, and the typed label stays.
TEST_F(OtherWorkstationTest, AReferenceCodeDeletedElsewhereIsNotRecreated)
{
    Exec("INSERT INTO FBIO (CODE, LIBELLE) VALUES ('011', 'NFS')");
    Exec("INSERT INTO FBIO (CODE, LIBELLE) VALUES ('012', 'VS')");
    TfrmTable frm(practice_.context());
    frm.TableName = "FBIO";
    frm.Title = "Examens Biologiques";
    frm.DatabaseName = DataPath;
    frm.CodeLength = 3;
    ShowActive(&frm);
    ASSERT_EQ(frm.edCode()->text(), "");
    QTest::mouseClick(frm.btnModif(), Qt::LeftButton);
    ASSERT_EQ(frm.edCode()->text(), "011");
    Keys(" PLAQUETTES");
    OtherWorkstation("DELETE FROM FBIO WHERE CODE='011'");
    QTest::mouseClick(frm.btnOk(), Qt::LeftButton);
    EXPECT_EQ(LastMessage(), Deleted(QString::fromUtf8("Le code 011 « NFS »")) + kNotSaved + kListUpdated);
    EXPECT_TRUE(frm.pnlSaisie()->isVisible());
    EXPECT_EQ(frm.edDesig()->text(), "NFS PLAQUETTES");
    EXPECT_EQ(Rows("SELECT CODE, LIBELLE FROM FBIO"), QStringList{"012|VS"});
}

// The history of the consultation screen out of date: Modify on a changed
// consultation says so and starts from what it is now; on a deleted one it
// says so and drops it from the history; Delete stops at both.
TEST_F(OtherWorkstationTest, TheConsultationHistoryOutOfDateSaysSoAndIsReadAgain)
{
    AddPatient("000001", "DUPONT", "JEAN");
    Exec("INSERT INTO CONS.DBF (ID_CONS, PATIENT, DCONS, MOTIF) VALUES (1, '000001', :D, 'toux')",
        {{"D", QDate(2024, 3, 15)}});
    Exec("INSERT INTO CONS.DBF (ID_CONS, PATIENT, DCONS, MOTIF) VALUES (2, '000001', :D, 'fievre')",
        {{"D", QDate(2024, 3, 20)}});
    CurrentPatientCode = "000001";
    TfrmConsul frm(practice_.context());
    ShowActive(&frm);
    ASSERT_EQ(frm.ConsId(), "2");

    OtherWorkstation("UPDATE CONS.DBF SET MOTIF='fievre et toux' WHERE ID_CONS=2");
    QTest::mouseClick(frm.form()->btnEdit, Qt::LeftButton);
    EXPECT_EQ(LastMessage(), Changed("La consultation du 20/03/2024 de DUPONT JEAN", true) + kListUpdated);
    EXPECT_EQ(frm.ConsState(), u'E');
    EXPECT_EQ(frm.form()->edMotif->toPlainText(), "fievre et toux");
    QTest::mouseClick(frm.form()->btnCancel, Qt::LeftButton);
    practice_.messages().Clear();

    OtherWorkstation("DELETE FROM CONS.DBF WHERE ID_CONS=2");
    QTest::mouseClick(frm.form()->btnEdit, Qt::LeftButton);
    EXPECT_EQ(LastMessage(), Deleted("La consultation du 20/03/2024 de DUPONT JEAN", true) + kListUpdated);
    EXPECT_EQ(frm.ConsState(), u'B');
    EXPECT_EQ(frm.qConsul().recordCount(), 1);
    EXPECT_EQ(frm.ConsId(), "1");
    EXPECT_EQ(frm.form()->edMotif->toPlainText(), "toux");

    // Delete: a changed consultation is not deleted, no question is asked.
    practice_.messages().Clear();
    OtherWorkstation("UPDATE CONS.DBF SET DIAG='rhume' WHERE ID_CONS=1");
    practice_.messages().Answer(QMessageBox::Yes);
    QTest::mouseClick(frm.form()->btnDelete, Qt::LeftButton);
    EXPECT_EQ(practice_.messages().Count(), 1);
    EXPECT_EQ(
        LastMessage(), Changed("La consultation du 15/03/2024 de DUPONT JEAN", true) + kListUpdated + kCheckAgain);
    EXPECT_EQ(Rows("SELECT ID_CONS, DIAG FROM CONS.DBF"), QStringList{"1|rhume"});

    practice_.messages().Clear();
    OtherWorkstation("DELETE FROM CONS.DBF WHERE ID_CONS=1");
    QTest::mouseClick(frm.form()->btnDelete, Qt::LeftButton);
    EXPECT_EQ(practice_.messages().Count(), 1);
    EXPECT_EQ(LastMessage(), Deleted("La consultation du 15/03/2024 de DUPONT JEAN", true) + kListUpdated);
    EXPECT_TRUE(frm.qConsul().isEmpty());
    EXPECT_TRUE(frm.ConsId().isEmpty());
}

// An exam of the consultation screen deleted elsewhere is not opened; an
// exam entry whose exam is deleted while it is typed into writes nothing
// and recreates nothing; one opened on a deleted exam closes.
TEST_F(OtherWorkstationTest, AnExamDeletedElsewhereIsNotOpenedNorRecreated)
{
    AddPatient("000001", "DUPONT", "JEAN");
    Exec("INSERT INTO FRADIO (CODE, LIBELLE) VALUES ('002', 'Thorax')");
    const auto exam = [](const char* num) {
        Exec("INSERT INTO EXCOMP (NUM, PATIENT, DATE_EX, RADIOBIO, CODE, RESULTAT) VALUES "
             "(:N, '000001', :D, 'R', '002', 'normal')",
            {{"N", num}, {"D", QDate(2024, 1, 10)}});
    };
    exam("000001");
    CurrentPatientCode = "000001";
    {
        TfrmConsul frm(practice_.context());
        ShowActive(&frm);
        frm.form()->pgControl->setCurrentWidget(frm.form()->tsExams);
        ASSERT_EQ(frm.qExRadio().recordCount(), 1);
        OtherWorkstation("DELETE FROM EXCOMP WHERE NUM='000001'");
        DialogScript script({});
        QTest::mouseClick(frm.form()->btnEditRadio, Qt::LeftButton);
        EXPECT_TRUE(script.classes.isEmpty()) << script.classes.join(',').toStdString();
        EXPECT_EQ(LastMessage(), Deleted("L'examen Thorax du 10/01/2024") + kListUpdated);
        EXPECT_FALSE(frm.qExRadio().active() && !frm.qExRadio().isEmpty());
        EXPECT_FALSE(frm.form()->btnEditRadio->isEnabled());
    }
    EXPECT_TRUE(Rows("SELECT NUM FROM EXCOMP").isEmpty());

    exam("000002");
    practice_.messages().Clear();
    {
        TfrmExComp frm(practice_.context());
        frm.Num = "000002";
        frm.Patient = "000001";
        frm.RadioBio = "R";
        ShowActive(&frm);
        ASSERT_EQ(frm.mmResultat()->toPlainText(), "normal");
        OtherWorkstation("DELETE FROM EXCOMP WHERE NUM='000002'");
        frm.mmResultat()->moveCursor(QTextCursor::End);
        Type(frm.mmResultat(), " revu");
        QTest::mouseClick(frm.btnPost(), Qt::LeftButton);
        EXPECT_EQ(LastMessage(), Deleted("L'examen Thorax de DUPONT JEAN du 10/01/2024") + kNotSaved);
        EXPECT_EQ(frm.mmResultat()->toPlainText(), "normal revu");
        EXPECT_TRUE(frm.btnPost()->isEnabled());
        EXPECT_TRUE(Rows("SELECT NUM FROM EXCOMP").isEmpty());
        EXPECT_EQ(DeletedRecordValue("EXCOMP", "NUM", "000002", "RESULTAT"), "normal");
    }

    // Opened on an exam deleted since the list showed it (the list read
    // just before): said so, closed, nothing written.
    practice_.messages().Clear();
    TfrmExComp gone(practice_.context());
    gone.Num = "000002";
    gone.Patient = "000001";
    gone.RadioBio = "R";
    gone.show();
    QApplication::processEvents();
    EXPECT_EQ(LastMessage(), Deleted("L'examen n° 000002"));
    EXPECT_FALSE(gone.isVisible());
    EXPECT_TRUE(Rows("SELECT NUM FROM EXCOMP").isEmpty());
}

// The appointment list out of date: a moved appointment is not opened at
// its old time, a deleted one is neither opened nor booked again, a delete
// of either stops with the list read again.
TEST_F(OtherWorkstationTest, TheAppointmentListOutOfDateRecreatesNothing)
{
    const QDate today = QDate::currentDate();
    AddPatient("000001", "DUPONT", "JEAN");
    AddPatient("000002", "MARTIN", "LUC");
    const auto rdv = [today](const char* num, const char* patient, const char* time, const char* motif) {
        Exec("INSERT INTO FRDV (NUM, PATIENT, DATE_RDV, HRE_RDV, MOTIF) VALUES (:N, :P, :D, :H, :M)",
            {{"N", num}, {"P", patient}, {"D", today}, {"H", time}, {"M", motif}});
    };
    rdv("000001", "000001", "10:00", "CONTROLE");
    rdv("000002", "000002", "11:00", "VACCIN");
    rdv("000003", "000002", "15:00", "BILAN");
    TfrmListRDV list(practice_.context());
    ShowActive(&list);
    const auto listed = [&list] {
        QStringList rows;
        kdb::QueryDataset& q = *list.qRDV();
        for (q.first(); !q.eof(); q.next())
            rows << q.fieldByName("NUM").asString().trimmed() + "|" + q.fieldByName("HRE_RDV").asString().trimmed();
        return rows;
    };
    ASSERT_EQ(listed(), (QStringList{"000001|10:00", "000002|11:00", "000003|15:00"}));

    OtherWorkstation("UPDATE FRDV SET HRE_RDV='08:30' WHERE NUM='000002'");
    {
        DialogScript script({});
        DoubleClickRow(list.grdRDV(), 1);
        EXPECT_TRUE(script.classes.isEmpty()) << script.classes.join(',').toStdString();
    }
    EXPECT_EQ(
        LastMessage(), Changed("Le rendez-vous de MARTIN LUC du " + Today() + " à 11:00") + kListUpdated + kCheckAgain);
    EXPECT_EQ(listed(), (QStringList{"000002|08:30", "000001|10:00", "000003|15:00"}));

    practice_.messages().Clear();
    OtherWorkstation("DELETE FROM FRDV WHERE NUM='000001'");
    {
        DialogScript script({});
        DoubleClickRow(list.grdRDV(), 1);
        EXPECT_TRUE(script.classes.isEmpty()) << script.classes.join(',').toStdString();
    }
    EXPECT_EQ(LastMessage(), Deleted("Le rendez-vous de DUPONT JEAN du " + Today() + " à 10:00") + kListUpdated);
    EXPECT_EQ(listed(), (QStringList{"000002|08:30", "000003|15:00"}));
    EXPECT_EQ(Rows("SELECT NUM FROM FRDV ORDER BY NUM"), (QStringList{"000002", "000003"}));

    // Delete: no question about a row that is gone.
    practice_.messages().Clear();
    QTest::mouseClick(list.grdRDV()->viewport(), Qt::LeftButton, {},
        list.grdRDV()->visualRect(list.grdRDV()->model()->index(0, 1)).center());
    ASSERT_EQ(list.qRDV()->fieldByName("NUM").asString(), "000002");
    OtherWorkstation("DELETE FROM FRDV WHERE NUM='000002'");
    practice_.messages().Answer(QMessageBox::Yes);
    QTest::mouseClick(list.btnDelete(), Qt::LeftButton);
    EXPECT_EQ(practice_.messages().Count(), 1);
    EXPECT_EQ(LastMessage(), Deleted("Le rendez-vous de MARTIN LUC du " + Today() + " à 08:30") + kListUpdated);
    EXPECT_EQ(listed(), QStringList{"000003|15:00"});
    EXPECT_EQ(Rows("SELECT NUM FROM FRDV"), QStringList{"000003"});
}

// The appointment entry: a save of an appointment deleted while it was
// typed into keeps the text and books nothing; an entry opened on a
// deleted appointment closes instead of offering today at 09:00.
TEST_F(OtherWorkstationTest, AnAppointmentDeletedElsewhereIsNotBookedAgain)
{
    AddPatient("000001", "DUPONT", "JEAN");
    Exec("INSERT INTO FRDV (NUM, PATIENT, DATE_RDV, HRE_RDV, MOTIF) VALUES ('000007', '000001', :D, '10:00', "
         "'CONTROLE')",
        {{"D", QDate(2030, 5, 6)}});
    {
        TfrmRDV frm(practice_.context());
        frm.NumRDV = "000007";
        frm.CodePatient = "000001";
        ShowActive(&frm);
        ASSERT_EQ(frm.edHre()->text(), "10:00");
        OtherWorkstation("DELETE FROM FRDV WHERE NUM='000007'");
        frm.edMotif()->end(false);
        Type(frm.edMotif(), " URGENT");
        QTest::mouseClick(frm.btnPost(), Qt::LeftButton);
        EXPECT_EQ(LastMessage(), Deleted("Le rendez-vous de DUPONT JEAN du 06/05/2030 à 10:00") + kNotSaved);
        EXPECT_EQ(frm.edMotif()->text(), "CONTROLE URGENT");
        EXPECT_TRUE(frm.btnPost()->isEnabled());
        EXPECT_TRUE(Rows("SELECT NUM FROM FRDV").isEmpty());
        EXPECT_EQ(DeletedRecordValue("FRDV", "NUM", "000007", "MOTIF"), "CONTROLE");

        // Cancel (once its question is answered) says so again and keeps
        // the text; Edit then refuses.
        practice_.messages().Clear();
        practice_.messages().Answer(QMessageBox::Yes);
        QTest::mouseClick(frm.btnCancel(), Qt::LeftButton);
        EXPECT_EQ(LastMessage(), Deleted("Le rendez-vous de DUPONT JEAN du 06/05/2030 à 10:00"));
        EXPECT_EQ(frm.edMotif()->text(), "CONTROLE URGENT");
        EXPECT_FALSE(frm.btnPost()->isEnabled());
        practice_.messages().Clear();
        QTest::mouseClick(frm.btnEdit(), Qt::LeftButton);
        EXPECT_EQ(practice_.messages().Count(), 1);
        EXPECT_FALSE(frm.btnPost()->isEnabled());
        frm.close();
    }
    EXPECT_TRUE(Rows("SELECT NUM FROM FRDV").isEmpty());

    practice_.messages().Clear();
    TfrmRDV gone(practice_.context());
    gone.NumRDV = "000007";
    gone.CodePatient = "000001";
    DialogScript script({});  // no patient picker either
    gone.show();
    QApplication::processEvents();
    EXPECT_EQ(LastMessage(), Deleted("Le rendez-vous n° 000007"));
    EXPECT_FALSE(gone.isVisible());
    EXPECT_TRUE(script.classes.isEmpty());
    EXPECT_TRUE(Rows("SELECT NUM FROM FRDV").isEmpty());
}

// The protocol list and the protocol entry: the same rules.
TEST_F(OtherWorkstationTest, ProtocolsDeletedOrChangedElsewhere)
{
    AddProtocol("000001", QDate(2024, 2, 1), "DUPONT", "CLINIQUE A");
    AddProtocol("000002", QDate(2024, 2, 8), "MARTIN", "CLINIQUE B");
    {
        TfrmListProt list(practice_.context());
        ShowActive(&list);
        ASSERT_EQ(list.qPROT()->recordCount(), 2);
        OtherWorkstation("DELETE FROM FPROT WHERE NUM='000001'");
        DialogScript script({});
        QTest::mouseClick(list.btnModif(), Qt::LeftButton);
        EXPECT_TRUE(script.classes.isEmpty()) << script.classes.join(',').toStdString();
        EXPECT_EQ(LastMessage(), Deleted("Le protocole n° 000001 de DUPONT JEAN du 01/02/2024") + kListUpdated);
        EXPECT_EQ(list.qPROT()->recordCount(), 1);

        practice_.messages().Clear();
        OtherWorkstation("UPDATE FPROT SET CLINIQUE='CLINIQUE C' WHERE NUM='000002'");
        practice_.messages().Answer(QMessageBox::Yes);
        QTest::mouseClick(list.btnDelete(), Qt::LeftButton);
        EXPECT_EQ(practice_.messages().Count(), 1);
        EXPECT_EQ(
            LastMessage(), Changed("Le protocole n° 000002 de MARTIN JEAN du 08/02/2024") + kListUpdated + kCheckAgain);
        EXPECT_EQ(Rows("SELECT NUM, CLINIQUE FROM FPROT"), QStringList{"000002|CLINIQUE C"});
    }

    practice_.messages().Clear();
    TfrmPROT frm(practice_.context());
    frm.NumProt = "000002";
    ShowActive(&frm);
    QTest::mouseClick(frm.btnEdit(), Qt::LeftButton);
    ASSERT_TRUE(frm.btnPost()->isEnabled());
    OtherWorkstation("DELETE FROM FPROT WHERE NUM='000002'");
    frm.edClinique()->end(false);
    Type(frm.edClinique(), " NORD");
    QTest::mouseClick(frm.btnPost(), Qt::LeftButton);
    EXPECT_EQ(LastMessage(), Deleted("Le protocole n° 000002 de MARTIN JEAN du 08/02/2024") + kNotSaved);
    EXPECT_EQ(frm.edClinique()->text(), "CLINIQUE C NORD");
    EXPECT_TRUE(frm.btnPost()->isEnabled());
    EXPECT_TRUE(Rows("SELECT NUM FROM FPROT").isEmpty());
    EXPECT_EQ(DeletedRecordValue("FPROT", "NUM", "000002", "CLINIQUE"), "CLINIQUE C");
}

// A prescription line deleted elsewhere: typing into it is refused with
// its medicine named, the grid drops it, nothing is written into it.
// A prescription another workstation deleted whole since it was shown takes
// no new line, which would bring its number back with that line alone; a
// prescription this screen emptied itself still does.
TEST_F(OtherWorkstationTest, APrescriptionDeletedElsewhereIsNotBroughtBackByANewLine)
{
    Exec("INSERT INTO FORD (CODE, NUM, MEDIC) VALUES ('1', 1, 'DOLIPRANE')");
    Exec("INSERT INTO FORD (CODE, NUM, MEDIC) VALUES ('1', 2, 'AMOXICILLINE')");
    Exec("INSERT INTO FORD (CODE, NUM, MEDIC) VALUES ('2', 1, 'VENTOLINE')");
    kui::ScopedMessageRecorder messages;
    TfrmOrd frm(practice_.context());
    ShowActive(&frm);
    QTest::mouseClick(frm.navOrd()->firstButton(), Qt::LeftButton);
    ASSERT_EQ(frm.edCode()->text(), "1");

    OtherWorkstation("DELETE FROM FORD WHERE CODE='1'");
    QTest::mouseClick(frm.btnAddLine(), Qt::LeftButton);
    Keys("aspirine");
    QTest::mouseClick(frm.btnPost(), Qt::LeftButton);
    ASSERT_EQ(messages.Count(), 1);
    EXPECT_EQ(messages.Last().text, Deleted(QString::fromUtf8("L'ordonnance n° 1"), true) + kNotSaved);
    EXPECT_EQ(frm.tMedic()->state(), kdb::DatasetState::Insert);
    EXPECT_EQ(frm.tMedic()->fieldByName("MEDIC").asString(), "aspirine");
    EXPECT_EQ(Rows("SELECT CODE, MEDIC FROM FORD"), QStringList{"2|VENTOLINE"});

    // Prescription 2 emptied here, then given a line.
    messages.Answer(QMessageBox::Yes);
    QTest::mouseClick(frm.btnCancel(), Qt::LeftButton);
    QTest::mouseClick(frm.navOrd()->lastButton(), Qt::LeftButton);
    ASSERT_EQ(frm.edCode()->text(), "2");
    messages.Answer(QMessageBox::Yes);
    QTest::mouseClick(frm.btnDelLine(), Qt::LeftButton);
    QTest::mouseClick(frm.btnAddLine(), Qt::LeftButton);
    Keys("salbutamol");
    QTest::mouseClick(frm.btnPost(), Qt::LeftButton);
    EXPECT_EQ(Rows("SELECT CODE, MEDIC FROM FORD"), QStringList{"2|SALBUTAMOL"});
}

TEST_F(OtherWorkstationTest, APrescriptionLineDeletedElsewhereIsNotTypedInto)
{
    Exec("INSERT INTO FORD (CODE, NUM, MEDIC) VALUES ('1', 1, 'DOLIPRANE')");
    Exec("INSERT INTO FORD (CODE, NUM, MEDIC) VALUES ('1', 2, 'AMOXICILLINE')");
    kui::ScopedMessageRecorder messages;
    TfrmOrd frm(practice_.context());
    ShowActive(&frm);
    ASSERT_EQ(frm.edCode()->text(), "1");
    ASSERT_EQ(frm.tMedic()->recordCount(), 2);

    OtherWorkstation("DELETE FROM FORD WHERE CODE='1' AND NUM=1");
    kui::DataGrid* grid = frm.grdDetail();
    grid->setFocus();
    QApplication::processEvents();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(grid->model()->index(0, 2)).center());
    Keys("1");
    QApplication::processEvents();
    ASSERT_EQ(messages.Count(), 1);
    EXPECT_EQ(messages.Records().first().text, Deleted("Le médicament DOLIPRANE de l'ordonnance n° 1"));
    EXPECT_EQ(messages.Records().first().kind, kui::MsgKind::Warning);
    EXPECT_EQ(frm.tMedic()->recordCount(), 1);
    EXPECT_EQ(frm.tMedic()->fieldByName("MEDIC").asString(), "AMOXICILLINE");
    QTest::mouseClick(frm.btnPost(), Qt::LeftButton);
    EXPECT_EQ(Rows("SELECT NUM, MEDIC, DOSAGE FROM FORD"), QStringList{"2|AMOXICILLINE|"});
    EXPECT_EQ(DeletedRecordValue("FORD", "MEDIC", "DOLIPRANE", "DOSAGE"), "");
}

// A consultation or an exam saved for a patient another workstation deleted
// while it was typed is not written (it would name nobody): the save says so,
// naming the patient, and what was typed stays on the screen.
TEST_F(OtherWorkstationTest, NoConsultationNorExamIsSavedForAPatientDeletedElsewhere)
{
    AddPatient("000001", "DUPONT", "JEAN");
    AddPatient("000002", "MARTIN", "LUC");
    Exec("INSERT INTO FRADIO (CODE, LIBELLE) VALUES ('002', 'Thorax')");
    {
        CurrentPatientCode = "000001";
        TfrmConsul frm(practice_.context());
        ShowActive(&frm);
        QTest::mouseClick(frm.form()->edMotif->viewport(), Qt::LeftButton);
        Press(Qt::Key_Insert, Qt::ControlModifier);
        ASSERT_EQ(frm.ConsState(), u'I');
        Keys("douleur");
        EXPECT_EQ(OtherWorkstation("DELETE FROM PATIENT WHERE CODE='000001'"), "1");
        Press(Qt::Key_S, Qt::ControlModifier);
        ASSERT_EQ(practice_.messages().Count(), 1);
        EXPECT_EQ(LastMessage(), PatientGone("Le patient DUPONT JEAN (code 000001)"));
        EXPECT_EQ(LastKind(), kui::MsgKind::Warning);
        EXPECT_EQ(frm.ConsState(), u'I');
        EXPECT_EQ(frm.form()->edMotif->toPlainText(), "douleur");
        EXPECT_TRUE(Rows("SELECT ID_CONS FROM CONS.DBF").isEmpty());
        practice_.messages().Answer(QMessageBox::No);  // closing: the consultation is not saved
        frm.close();
    }
    EXPECT_TRUE(Rows("SELECT ID_CONS FROM CONS.DBF").isEmpty());

    practice_.messages().Clear();
    TfrmExComp exam(practice_.context());
    exam.Patient = "000002";
    exam.RadioBio = "R";
    ShowActive(&exam);
    exam.cmbExamen()->setCurrentIndex(exam.cmbExamen()->findText("Thorax"));
    Type(exam.mmResultat(), "normal");
    OtherWorkstation("DELETE FROM PATIENT WHERE CODE='000002'");
    QTest::mouseClick(exam.btnPost(), Qt::LeftButton);
    ASSERT_EQ(practice_.messages().Count(), 1);
    EXPECT_EQ(LastMessage(), PatientGone("Le patient MARTIN LUC (code 000002)"));
    EXPECT_EQ(exam.mmResultat()->toPlainText(), "normal");
    EXPECT_TRUE(exam.btnPost()->isEnabled());
    EXPECT_TRUE(exam.Num.isEmpty());
    EXPECT_TRUE(Rows("SELECT NUM FROM EXCOMP").isEmpty());
    practice_.messages().Answer(QMessageBox::No);
    exam.close();
}

// An appointment, new or changed, for a patient deleted elsewhere: the
// list, which shows the patient's name, would never show it.
TEST_F(OtherWorkstationTest, NoAppointmentIsBookedForAPatientDeletedElsewhere)
{
    AddPatient("000001", "DUPONT", "JEAN");
    AddPatient("000002", "MARTIN", "ANNE");
    Exec("UPDATE PATIENT SET SEXE='F' WHERE CODE='000002'");
    Exec("INSERT INTO FRDV (NUM, PATIENT, DATE_RDV, HRE_RDV, MOTIF) VALUES ('000001', '000002', :D, '10:00', "
         "'CONTROLE')",
        {{"D", QDate(2030, 5, 6)}});
    {
        TfrmRDV frm(practice_.context());
        {
            DialogScript script({PickPatient("DUP")});
            ShowActive(&frm);
        }
        ASSERT_EQ(frm.edCode()->text(), "000001");
        frm.edHre()->setText("11:00");
        Type(frm.edMotif(), "VACCIN");
        OtherWorkstation("DELETE FROM PATIENT WHERE CODE='000001'");
        QTest::mouseClick(frm.btnPost(), Qt::LeftButton);
        EXPECT_EQ(LastMessage(), PatientGone("Le patient DUPONT JEAN (code 000001)"));
        EXPECT_EQ(frm.edMotif()->text(), "VACCIN");
        EXPECT_TRUE(frm.NumRDV.isEmpty());
        EXPECT_TRUE(frm.btnPost()->isEnabled());
        EXPECT_EQ(Rows("SELECT NUM FROM FRDV"), QStringList{"000001"});
        practice_.messages().Answer(QMessageBox::No);
        frm.close();
    }

    practice_.messages().Clear();
    TfrmRDV frm(practice_.context());
    frm.NumRDV = "000001";
    frm.CodePatient = "000002";
    ShowActive(&frm);
    frm.edMotif()->end(false);
    Type(frm.edMotif(), " URGENT");
    OtherWorkstation("DELETE FROM PATIENT WHERE CODE='000002'");
    QTest::mouseClick(frm.btnPost(), Qt::LeftButton);
    EXPECT_EQ(LastMessage(), Deleted("La patiente MARTIN ANNE (code 000002)", true) + kNotSaved);
    EXPECT_EQ(frm.edMotif()->text(), "CONTROLE URGENT");
    EXPECT_EQ(Rows("SELECT NUM, MOTIF FROM FRDV"), QStringList{"000001|CONTROLE"});
    practice_.messages().Answer(QMessageBox::No);
    frm.close();
}

// A protocol given a patient deleted elsewhere is not written; a protocol
// whose patient left the patient file long ago keeps its name and is still
// changed.
TEST_F(OtherWorkstationTest, NoProtocolIsWrittenForAPatientDeletedElsewhere)
{
    AddPatient("000001", "DUPONT", "JEAN");
    AddProtocol("000007", QDate(2020, 1, 6), "ANCIEN", "CLINIQUE A");  // its patient 000123 is no more
    TfrmPROT::RunPatientPicker = [](AppContext&, QWidget*) { CurrentPatientCode = "000001"; };
    {
        TfrmPROT frm(practice_.context());
        ShowActive(&frm);
        Type(frm.edClinique(), "les tilleuls");
        Type(frm.edAnest(), "dr anest");
        frm.edDiag()->setPlainText("Appendicite");
        frm.edInterv()->setPlainText("Appendicectomie");
        QTest::mouseClick(frm.btnFindPatient(), Qt::LeftButton);
        ASSERT_EQ(frm.edNom()->text(), "DUPONT");
        OtherWorkstation("DELETE FROM PATIENT WHERE CODE='000001'");
        QTest::mouseClick(frm.btnPost(), Qt::LeftButton);
        EXPECT_EQ(LastMessage(), PatientGone("Le patient DUPONT JEAN (code 000001)"));
        EXPECT_EQ(frm.edClinique()->text(), "LES TILLEULS");
        EXPECT_TRUE(frm.NumProt.isEmpty());
        EXPECT_TRUE(frm.btnPost()->isEnabled());
        EXPECT_EQ(Column("NUM"), QStringList{"000007"});
        practice_.messages().Answer(QMessageBox::No);
        frm.close();
    }
    TfrmPROT::RunPatientPicker = nullptr;

    practice_.messages().Clear();
    TfrmPROT old(practice_.context());
    old.NumProt = "000007";
    ShowActive(&old);
    QTest::mouseClick(old.btnEdit(), Qt::LeftButton);
    old.edClinique()->end(false);
    Type(old.edClinique(), " NORD");
    QTest::mouseClick(old.btnPost(), Qt::LeftButton);
    EXPECT_EQ(practice_.messages().Count(), 0);
    EXPECT_EQ(Rows("SELECT NUM, CODE, CLINIQUE FROM FPROT"), QStringList{"000007|000123|CLINIQUE A NORD"});
}

// Photos of a patient deleted elsewhere: an added photo is neither filed
// under the patient nor left in the photo folder; saving the slots writes
// nothing.
TEST_F(OtherWorkstationTest, NoPhotoIsFiledForAPatientDeletedElsewhere)
{
    AddPatient("000001", "DUPONT", "MARIE");
    Exec("UPDATE PATIENT SET SEXE='F' WHERE CODE='000001'");
    QTemporaryDir camera;
    const auto photo = [&camera](const QString& name, int tint) {
        QImage im(64, 48, QImage::Format_RGB32);
        im.fill(QColor(tint, 100, 200));
        const QString path = camera.filePath(name);
        EXPECT_TRUE(im.save(path, "JPG"));
        return path;
    };
    QStringList chosen{photo("IMG_0001.JPG", 10), photo("IMG_0002.JPG", 90)};
    practice_.context().choosePicture = [&chosen](QWidget*) { return chosen.isEmpty() ? QString() : chosen.takeFirst(); };
    CurrentPatientCode = "000001";
    TfrmPhoto frm(practice_.context());
    ShowActive(&frm);
    auto* add = frm.findChild<QToolButton*>("btnAdd");
    ASSERT_NE(add, nullptr);
    QTest::mouseClick(add, Qt::LeftButton);
    ASSERT_EQ(Rows("SELECT NUM, PHOTO FROM FPHOTO"), QStringList{"1|IMG_0001.JPG"});

    // The photo is deleted from its slot here, the patient elsewhere; then a
    // photo is added and the slots saved.
    QTest::mouseClick(frm.Image(1), Qt::LeftButton);
    practice_.messages().Answer(QMessageBox::Yes);
    QTest::mouseClick(frm.btnDelete(), Qt::LeftButton);
    ASSERT_TRUE(frm.btnPost()->isEnabled());
    OtherWorkstation("DELETE FROM PATIENT WHERE CODE='000001'");
    practice_.messages().Clear();
    QTest::mouseClick(add, Qt::LeftButton);
    ASSERT_EQ(practice_.messages().Count(), 1);
    const QString gone = Deleted("La patiente DUPONT MARIE (code 000001)", true) + kNotSaved;
    EXPECT_EQ(LastMessage(), gone);
    EXPECT_FALSE(frm.SelectedImage()->HasPicture());
    EXPECT_EQ(QDir(PhotoDir).entryList(QDir::Files | QDir::Hidden), QStringList{"IMG_0001.JPG"});
    QTest::mouseClick(frm.btnPost(), Qt::LeftButton);
    EXPECT_EQ(LastMessage(), gone);
    EXPECT_TRUE(frm.btnPost()->isEnabled());
    EXPECT_EQ(Rows("SELECT NUM, PHOTO FROM FPHOTO"), QStringList{"1|IMG_0001.JPG"});
}

// The patient is held while a row naming it is written: a deletion on
// another workstation waits for the row, then finds it.
TEST_F(OtherWorkstationTest, APatientHeldForAWriteIsDeletedOnlyAfterIt)
{
    AddPatient("000001", "DUPONT", "JEAN");
    QProcess other;
    {
        const records::PatientHold hold("000001");
        ASSERT_TRUE(hold.Present());
        other.start(QStringLiteral(KORVALE_SQL_TOOL), {DataPath, "DELETE FROM PATIENT WHERE CODE='000001'"});
        ASSERT_TRUE(other.waitForStarted(10000));
        EXPECT_FALSE(other.waitForFinished(1500)) << "the deletion did not wait";
        Exec("INSERT INTO CONS.DBF (ID_CONS, PATIENT, DCONS) VALUES (1, '000001', :D)", {{"D", QDate(2024, 1, 2)}});
    }
    ASSERT_TRUE(other.waitForFinished(60000));
    EXPECT_EQ(other.exitCode(), 0) << other.readAllStandardError().toStdString();
    EXPECT_TRUE(Rows("SELECT CODE FROM PATIENT").isEmpty());
    const records::PatientHold after("000001");
    EXPECT_FALSE(after.Present());
    EXPECT_EQ(after.GoneText(), PatientGone("Le patient DUPONT JEAN (code 000001)"));
}

// The patient file's delete: a consultation another workstation saves while
// the question is asked keeps its patient.
TEST_F(OtherWorkstationTest, APatientGivenAConsultationWhileItsDeleteIsAskedIsKept)
{
    AddPatient("000001", "DUPONT", "JEAN");
    TfrmPatient frm(practice_.context());
    frm.CodePatient = "000001";
    ShowActive(&frm);
    ActingWhileAsked asked;
    asked.act = [] {
        OtherWorkstation("INSERT INTO CONS.DBF (ID_CONS, PATIENT, DCONS, MOTIF) VALUES (1, '000001', '01/02/2024', "
                         "'toux')");
    };
    asked.Answer(QMessageBox::Yes);
    QTest::mouseClick(frm.form()->edNom, Qt::LeftButton);
    Press(Qt::Key_Delete, Qt::ControlModifier);
    ASSERT_EQ(asked.Count(), 2);
    EXPECT_EQ(asked.Records()[0].text, "Etes-vous sûr de vouloir supprimer cet enregistrement ?");
    EXPECT_EQ(asked.Last().text, "Ce patient a déjà eu des consultations !\rSupprimez d'abord ses consultations.");
    EXPECT_EQ(Rows("SELECT CODE FROM PATIENT"), QStringList{"000001"});
    EXPECT_EQ(frm.form()->edNom->text(), "DUPONT");
}
