// The patient picker, the patient file and its find dialog, driven as a
// user does on a practice whose tables the table check created.
#include "RecordsFixture.h"

#include "app/records/UFind.h"
#include "app/records/UGetPatient.h"
#include "app/records/UPatient.h"
#include "platform/ui/data/DataControls.h"
#include "platform/ui/data/DataGrid.h"
#include "tests/support/FileSizeLimit.h"
#include "ui_UPatient.h"

#include <QAction>
#include <QClipboard>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

namespace {

using Msg = kui::RecordingMessageService;

QString FileText(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

class PatientTest : public RecordsTest {
protected:
    // A new patient typed into the form and saved; answers the messages shown.
    QStringList Save(TfrmPatient& frm, const QString& id, const QString& nom, const QString& dn,
        const QString& sexe = QStringLiteral("m"))
    {
        practice_.messages().Clear();
        Ui::TfrmPatient* ui = frm.form();
        QTest::keyClick(&frm, Qt::Key_Insert, Qt::ControlModifier);
        Type(ui->edID, id);
        Type(ui->edNom, nom);
        Type(ui->edDN, dn);
        Type(ui->edSexe, sexe);
        QTest::keyClick(ui->edGSanguin, Qt::Key_Return);  // Enter on the blood group posts
        QStringList texts;
        for (const Msg::Record& r : practice_.messages().Records())
            texts << r.text;
        return texts;
    }
    void Retype(QLineEdit* e, const QString& text)
    {
        e->setFocus();
        e->selectAll();
        QTest::keyClick(e, Qt::Key_Backspace);
        Type(e, text);
    }
};

TEST_F(PatientTest, PickerFindsByTheTypedBeginningQuotesIncludedAndReturnsOnlyAChosenRow)
{
    AddPatient("000001", "DUPONT", "JEAN");
    AddPatient("000002", "D'ALMEIDA", "ANA");
    AddPatient("000003", "DUPONT", "ALAIN");
    AddPatient("000004", "MARTIN", "LUC");
    CurrentPatientCode = "999999";

    TfrmGetPatient dlg(practice_.context());
    ShowActive(&dlg);
    Type(dlg.edNom(), "d'");
    EXPECT_EQ(dlg.edNom()->text(), "D'");
    QTest::keyClick(dlg.edNom(), Qt::Key_Return);
    EXPECT_EQ(dlg.statusText(), "  1 Patients");
    EXPECT_EQ(dlg.qPatient().fieldByName("NOM").asString(), "D'ALMEIDA");

    dlg.edNom()->clear();
    QTest::mouseClick(dlg.findChild<QPushButton*>("BitBtn1"), Qt::LeftButton);
    EXPECT_EQ(dlg.statusText(), "  4 Patients");
    QStringList order;
    for (dlg.qPatient().first(); !dlg.qPatient().eof(); dlg.qPatient().next())
        order << dlg.qPatient().fieldByName("NOM").asString() + " " + dlg.qPatient().fieldByName("PRENOM").asString();
    EXPECT_EQ(order, (QStringList{"D'ALMEIDA ANA", "DUPONT ALAIN", "DUPONT JEAN", "MARTIN LUC"}));

    Type(dlg.edNom(), "ZZ");
    QTest::keyClick(dlg.edNom(), Qt::Key_Return);
    EXPECT_EQ(dlg.statusText(), "  0 Patients");
    // A double-click with no row closes with no patient.
    dlg.grdPatientDblClick();
    EXPECT_EQ(CurrentPatientCode, "");

    TfrmGetPatient again(practice_.context());
    ShowActive(&again);
    Type(again.edNom(), "DUP");
    QTest::keyClick(again.edNom(), Qt::Key_Return);
    again.qPatient().last();
    const QRect row = again.grdPatient()->visualRect(again.grdPatient()->model()->index(1, 0));
    QTest::mouseDClick(again.grdPatient()->viewport(), Qt::LeftButton, {}, row.center());
    EXPECT_EQ(again.result(), QDialog::Accepted);
    EXPECT_EQ(CurrentPatientCode, "000001");

    TfrmGetPatient closed(practice_.context());
    ShowActive(&closed);
    QTest::keyClick(closed.edNom(), Qt::Key_Return);
    QTest::mouseClick(closed.findChild<QPushButton*>("btnClose"), Qt::LeftButton);
    EXPECT_EQ(CurrentPatientCode, "");
}

TEST_F(PatientTest, BirthDateRulesAgeAndNewCodes)
{
    const int year = QDate::currentDate().year();
    TfrmPatient frm(practice_.context());
    ShowActive(&frm);

    const QString format = "La date de naissance doit être sous la forme DD/MM/YYYY";
    const QString separator = "Le séparateur de date doit être la barre oblique '/'.";
    const QString wrong = "La date de naissance est incorrecte !";
    // Each cancel drops the refused patient: its question answered Yes.
    practice_.messages().SetDefaultAnswer(QMessageBox::Yes);
    EXPECT_EQ(Save(frm, "a1", "dupont", "1/5/1950"), QStringList{format});
    // The refused post keeps the record being inserted, focus on the date.
    EXPECT_EQ(frm.Patient().state(), kdb::DatasetState::Insert);
    EXPECT_TRUE(frm.form()->edDN->hasFocus());
    QTest::keyClick(&frm, Qt::Key_A, Qt::ControlModifier);  // cancel
    EXPECT_EQ(frm.Patient().state(), kdb::DatasetState::Browse);
    EXPECT_EQ(Save(frm, "a1", "dupont", "12-05-1950"), QStringList{separator});
    frm.btnCancelClick();
    EXPECT_EQ(Save(frm, "a1", "dupont", "12/00/1950"), QStringList{wrong});
    frm.btnCancelClick();
    EXPECT_EQ(Save(frm, "a1", "dupont", "12/13/1950"), QStringList{wrong});
    frm.btnCancelClick();
    EXPECT_EQ(Save(frm, "a1", "dupont", "31/02/1950"), QStringList{wrong});
    frm.btnCancelClick();
    EXPECT_EQ(Save(frm, "a1", "dupont", "01/02/1950", "x"), QStringList{"Le Sexe du patient est erroné !"});
    frm.btnCancelClick();
    EXPECT_EQ(Save(frm, "", "dupont", "01/02/1950"), QStringList{"Le code du patient est manquant !"});
    frm.btnCancelClick();
    EXPECT_TRUE(Rows("SELECT CODE FROM PATIENT").isEmpty());

    EXPECT_EQ(Save(frm, "a1", "  dupont", "00/00/1950"), QStringList{});
    EXPECT_EQ(Save(frm, "a2", "martin", "00/05/1960"), QStringList{});
    EXPECT_EQ(Save(frm, "a3", "d'almeida", "14/07/1970", "f"), QStringList{});
    EXPECT_EQ(Rows("SELECT CODE, ID, NOM, AGE, SEXE FROM PATIENT ORDER BY CODE"),
        (QStringList{QString("000001|A1|DUPONT|%1|M").arg(year - 1950),
            QString("000002|A2|MARTIN|%1|M").arg(year - 1960), QString("000003|A3|D'ALMEIDA|%1|F").arg(year - 1970)}));

    // 00/00/ABCD passes the check and leaves AGE as it was; the code stays.
    frm.Patient().locate("CODE", "000002");
    Retype(frm.form()->edAGE, "77");
    Retype(frm.form()->edDN, "00/00/ABCD");
    QTest::keyClick(&frm, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(Rows("SELECT CODE, DN, AGE FROM PATIENT WHERE NOM = 'MARTIN'"), QStringList{"000002|00/00/ABCD|77"});
    EXPECT_EQ(frm.Patient().fieldByName("NOM").asString(), "MARTIN");
}

TEST_F(PatientTest, AddressesAreKeptSortedInUpperCaseAndWrittenOnlyWhenNew)
{
    QFile f(AppDir + "ADR.TXT");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("LYON\nPARIS\n");
    f.close();
    TfrmPatient frm(practice_.context());
    ShowActive(&frm);
    EXPECT_EQ(frm.form()->cmbAdr->count(), 2);
    QTest::keyClick(&frm, Qt::Key_Insert, Qt::ControlModifier);
    Type(frm.form()->edID, "x");
    Type(frm.form()->edNom, "nom");
    Type(frm.form()->edDN, "01/01/1980");
    Type(frm.form()->edSexe, "f");
    Type(frm.form()->cmbAdr->lineEdit(), "marseille é");
    frm.btnPostClick();
    EXPECT_EQ(practice_.messages().Count(), 0);
    EXPECT_EQ(FileText(AppDir + "ADR.TXT"), "LYON\nMARSEILLE É\nPARIS\n");
    EXPECT_EQ(Rows("SELECT ADR FROM PATIENT"), QStringList{"MARSEILLE É"});

    // An address already listed leaves the file alone.
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("LYON\nMARSEILLE É\nPARIS\nzz-not-rewritten\n");
    f.close();
    Type(frm.form()->edTel, "0102");
    frm.btnPostClick();
    EXPECT_EQ(FileText(AppDir + "ADR.TXT"), "LYON\nMARSEILLE É\nPARIS\nzz-not-rewritten\n");
}

// An address list the disk cannot take whole: the patient is saved, the
// message says the list is not and names its file, which stays whole.
TEST_F(PatientTest, AFullDiskKeepsThePreviousAddressListWhole)
{
    QByteArray before;
    for (int i = 0; i < 3000; ++i)
        before += QStringLiteral("%1 RUE DES LILAS\n").arg(i, 5, 10, QLatin1Char('0')).toUtf8();
    QFile f(AppDir + "ADR.TXT");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(before);
    f.close();
    TfrmPatient frm(practice_.context());
    ShowActive(&frm);
    QTest::keyClick(&frm, Qt::Key_Insert, Qt::ControlModifier);
    Type(frm.form()->edID, "x");
    Type(frm.form()->edNom, "nom");
    Type(frm.form()->edDN, "01/01/1980");
    Type(frm.form()->edSexe, "f");
    Type(frm.form()->cmbAdr->lineEdit(), "1 place neuve");
    {
        ScopedFileSizeLimit disk(before.size() / 2);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_S, Qt::ControlModifier);
    }
    ASSERT_EQ(practice_.messages().Count(), 1);
    EXPECT_EQ(practice_.messages().Last().text,
        QStringLiteral("La fiche du patient est enregistrée, mais pas la liste des adresses :\r"
                       "Impossible d'enregistrer le fichier « %1 » : le disque est plein.")
            .arg(AppDir + "ADR.TXT"));
    EXPECT_EQ(Rows("SELECT NOM, ADR FROM PATIENT"), QStringList{"NOM|1 PLACE NEUVE"});
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll() == before) << "the list was cut";
}

TEST_F(PatientTest, DeleteIsRefusedForAPatientWithConsultationsOnly)
{
    AddPatient("000001", "D'ALMEIDA");
    AddPatient("000002", "DUPONT");
    Exec("INSERT INTO CONS.DBF (ID_CONS, PATIENT, DCONS) VALUES (1, '000002', :D)", {{"D", QDate(2020, 1, 1)}});
    Exec("INSERT INTO EXCOMP (NUM, PATIENT, RADIOBIO) VALUES ('000001', '000001', 'B')");

    TfrmPatient frm(practice_.context());
    frm.CodePatient = "000002";
    ShowActive(&frm);
    EXPECT_EQ(frm.form()->edNom->text(), "DUPONT");
    practice_.messages().SetDefaultAnswer(QMessageBox::Yes);
    QTest::keyClick(&frm, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(practice_.messages().Last().text,
        "Ce patient a déjà eu des consultations !\rSupprimez d'abord ses consultations.");
    EXPECT_EQ(Rows("SELECT CODE FROM PATIENT ORDER BY CODE"), (QStringList{"000001", "000002"}));

    frm.btnPrevClick();
    EXPECT_EQ(frm.form()->edNom->text(), "D'ALMEIDA");
    practice_.messages().Answer(QMessageBox::No);
    frm.btnDeleteClick();
    EXPECT_EQ(practice_.messages().Last().text, "Etes-vous sûr de vouloir supprimer cet enregistrement ?");
    EXPECT_EQ(Rows("SELECT CODE FROM PATIENT ORDER BY CODE").size(), 2);
    frm.btnDeleteClick();
    EXPECT_EQ(Rows("SELECT CODE FROM PATIENT ORDER BY CODE"), QStringList{"000002"});
    EXPECT_EQ(frm.statusText(), "1  Enregistrementss");
}

TEST_F(PatientTest, FindByNameIgnoresCaseAndByCodeIsExact)
{
    AddPatient("000001", "MARTIN");
    AddPatient("000002", "DURAND");
    AddPatient("000003", "DUBOIS");
    AddPatient("000004", "ABEL");
    TfrmPatient frm(practice_.context());
    ShowActive(&frm);
    {
        TfrmFind find(frm.Patient(), &frm);
        ShowActive(&find);
        Type(find.sName(), "du");
        QTest::keyClick(find.sName(), Qt::Key_Return);
        EXPECT_EQ(find.result(), QDialog::Accepted);
        EXPECT_EQ(frm.form()->edNom->text(), "DUBOIS");
    }
    {
        TfrmFind find(frm.Patient(), &frm);
        ShowActive(&find);
        Type(find.sCode(), "00000");
        QTest::keyClick(find.sCode(), Qt::Key_Return);
        EXPECT_EQ(practice_.messages().Last().text, "Code patient Introuvable !");
        EXPECT_TRUE(find.isVisible());
        Type(find.sName(), "ZZ");
        QTest::keyClick(find.sName(), Qt::Key_Return);
        EXPECT_EQ(practice_.messages().Last().text, "Nom patient Introuvable !");
        Type(find.sCode(), "4");
        QTest::keyClick(find.sCode(), Qt::Key_Return);
        EXPECT_EQ(frm.form()->edNom->text(), "ABEL");
    }
}

// Two workstations on one patient: the second is told another one is
// changing it; once the first has saved, the second starts from its values.
TEST_F(PatientTest, EditingTakesTheRecordLockAndStartsFromTheCurrentValues)
{
    AddPatient("000001", "DUPONT", "JEAN");
    AddPatient("000002", "MARTIN", "LUC");
    TfrmPatient frm(practice_.context());
    frm.CodePatient = "000001";
    ShowActive(&frm);

    kdb::TableDataset other;
    other.setDatabaseName(DataPath.toStdString());
    other.setTableName("Patient.DBF");
    other.setIndexFieldNames("NOM");
    other.open();
    other.edit();
    other.fieldByName("PRENOM").setAsString("PAUL");

    Type(frm.form()->edTel, "5");
    EXPECT_EQ(practice_.messages().Last().text.left(40), "Cet enregistrement est en cours de modif");
    EXPECT_EQ(frm.Patient().state(), kdb::DatasetState::Browse);
    EXPECT_EQ(frm.form()->edTel->text(), "");

    other.post();
    Type(frm.form()->edTel, "5");
    EXPECT_EQ(frm.Patient().state(), kdb::DatasetState::Edit);
    EXPECT_EQ(frm.form()->edPrenom->text(), "PAUL");  // read again under the lock
    EXPECT_THROW(other.edit(), EDBEngineError);
    frm.btnPostClick();
    EXPECT_EQ(Rows("SELECT PRENOM, TEL FROM PATIENT WHERE CODE='000001'"), QStringList{"PAUL|5"});
    other.edit();  // the lock is free again
    other.fieldByName("NOM").setAsString("DUPONTEL");
    other.post();

    // The refresh shows the other workstation's change on the same patient.
    frm.Timer1Timer();
    EXPECT_EQ(frm.form()->edNom->text(), "DUPONTEL");
    EXPECT_EQ(frm.form()->edCode->text(), "000001");
}

// Esc leaves the patient file and its typed change alone; Ctrl+A, Ctrl+Ins
// and Ctrl+Del reach their commands from a line edit and from a memo.
TEST_F(PatientTest, EscapeIsNoKeyAndTheCommandKeysWorkFromEveryEditor)
{
    AddPatient("000001", "DUPONT", "JEAN");
    AddPatient("000002", "MARTIN", "LUC");
    TfrmPatient frm(practice_.context());
    frm.CodePatient = "000001";
    ShowActive(&frm);
    Ui::TfrmPatient* ui = frm.form();

    QTest::mouseClick(ui->edPrenom, Qt::LeftButton);
    ASSERT_EQ(QApplication::focusWidget(), ui->edPrenom);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_End);
    Type(QApplication::focusWidget(), "S");
    EXPECT_EQ(frm.Patient().state(), kdb::DatasetState::Edit);
    Press(Qt::Key_Escape);
    EXPECT_TRUE(frm.isVisible());
    EXPECT_EQ(frm.Patient().state(), kdb::DatasetState::Edit);
    EXPECT_EQ(ui->edPrenom->text(), "JEANS");
    EXPECT_EQ(Rows("SELECT PRENOM FROM PATIENT WHERE CODE='000001'"), QStringList{"JEAN"});
    EXPECT_EQ(practice_.messages().Count(), 0);

    // Ctrl+A in the line edit cancels the change (not a select-all), once
    // the user said so.
    practice_.messages().Answer(QMessageBox::Yes);
    Press(Qt::Key_A, Qt::ControlModifier);
    ASSERT_EQ(practice_.messages().Count(), 1);
    EXPECT_EQ(practice_.messages().Last().text, QString::fromUtf8("Abandonner les modifications ?"));
    EXPECT_EQ(frm.Patient().state(), kdb::DatasetState::Browse);
    EXPECT_EQ(ui->edPrenom->text(), "JEAN");

    // Ctrl+Ins in a memo starts a new patient (not a copy).
    QTest::mouseClick(ui->mmAntFam->viewport(), Qt::LeftButton);
    ASSERT_EQ(QApplication::focusWidget(), ui->mmAntFam);
    Press(Qt::Key_Insert, Qt::ControlModifier);
    EXPECT_EQ(frm.Patient().state(), kdb::DatasetState::Insert);
    EXPECT_TRUE(frm.IsNewPatient());
    Type(QApplication::focusWidget(), "Z");
    EXPECT_EQ(ui->edID->text(), "Z");
    Press(Qt::Key_Escape);
    EXPECT_TRUE(frm.isVisible());
    EXPECT_EQ(frm.Patient().state(), kdb::DatasetState::Insert);
    // Ctrl+A in a memo drops the new patient, once the user said so.
    QTest::mouseClick(ui->mmAntPers->viewport(), Qt::LeftButton);
    practice_.messages().Answer(QMessageBox::Yes);
    Press(Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(practice_.messages().Count(), 2);
    EXPECT_EQ(frm.Patient().state(), kdb::DatasetState::Browse);
    EXPECT_FALSE(frm.IsNewPatient());
    EXPECT_EQ(Rows("SELECT CODE FROM PATIENT ORDER BY CODE"), (QStringList{"000001", "000002"}));

    // Ctrl+Del in a line edit asks to delete the shown patient (not a word).
    QTest::mouseClick(ui->edNom, Qt::LeftButton);
    practice_.messages().Clear();
    practice_.messages().Answer(QMessageBox::No);
    Press(Qt::Key_Delete, Qt::ControlModifier);
    ASSERT_EQ(practice_.messages().Count(), 1);
    EXPECT_EQ(practice_.messages().Last().text, "Etes-vous sûr de vouloir supprimer cet enregistrement ?");
    EXPECT_EQ(ui->edNom->text(), "DUPONT");
    EXPECT_EQ(frm.Patient().state(), kdb::DatasetState::Browse);

    // The window's close box still posts the change.
    Type(ui->edPrenom, "Y");
    const QString typed = ui->edPrenom->text();
    EXPECT_NE(typed, "JEAN");
    frm.close();
    EXPECT_FALSE(frm.isVisible());
    EXPECT_EQ(Rows("SELECT PRENOM FROM PATIENT WHERE CODE='000001'"), QStringList{typed});
}

// ADR.TXT of an older installation, in Windows-1252: its accented letters
// show and survive every save, the file staying in its encoding.
TEST_F(PatientTest, AddressesInWindows1252AreReadAndWrittenWithoutLosingALetter)
{
    const QString file = AppDir + "ADR.TXT";
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("B\xC9ZIERS\r\nAGDE\r\nS\xC8TE\r\n");
    f.close();
    TfrmPatient frm(practice_.context());
    ShowActive(&frm);
    EXPECT_EQ(frm.addresses(), (QStringList{"AGDE", QStringLiteral("BÉZIERS"), QStringLiteral("SÈTE")}));

    const auto add = [&](const QString& id, const QString& adr) {
        QTest::mouseClick(frm.form()->edNom, Qt::LeftButton);
        Press(Qt::Key_Insert, Qt::ControlModifier);
        Type(frm.form()->edID, id);
        Type(frm.form()->edNom, "nom");
        Type(frm.form()->edDN, "01/01/1980");
        Type(frm.form()->edSexe, "f");
        Type(frm.form()->cmbAdr->lineEdit(), adr);
        QTest::keyClick(frm.form()->edGSanguin, Qt::Key_Return);
    };
    add("a", QStringLiteral("nîmes"));
    EXPECT_EQ(practice_.messages().Count(), 0);
    QFile back(file);
    ASSERT_TRUE(back.open(QIODevice::ReadOnly));
    EXPECT_EQ(back.readAll(), QByteArray("AGDE\nB\xC9ZIERS\nN\xCEMES\nS\xC8TE\n"));
    back.close();
    EXPECT_EQ(Rows("SELECT ADR FROM PATIENT"), QStringList{QStringLiteral("NÎMES")});

    // read back as it was written
    TfrmPatient again(practice_.context());
    EXPECT_EQ(again.addresses(),
        (QStringList{"AGDE", QStringLiteral("BÉZIERS"), QStringLiteral("NÎMES"), QStringLiteral("SÈTE")}));
}

// In the picker, Enter on a row chooses it; Enter in the search edit
// searches; Esc does nothing.
TEST_F(PatientTest, PickerEnterOnARowChoosesIt)
{
    AddPatient("000001", "DUPONT", "JEAN");
    AddPatient("000002", "DURAND", "ANA");
    AddPatient("000003", "MARTIN", "LUC");
    TfrmGetPatient dlg(practice_.context());
    ShowActive(&dlg);
    ASSERT_EQ(QApplication::focusWidget(), dlg.edNom());
    Type(QApplication::focusWidget(), "du");
    Press(Qt::Key_Return);
    EXPECT_EQ(dlg.statusText(), "  2 Patients");
    ASSERT_EQ(QApplication::focusWidget(), dlg.grdPatient());
    Press(Qt::Key_Escape);
    EXPECT_TRUE(dlg.isVisible());
    Press(Qt::Key_Down);
    Press(Qt::Key_Return);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(CurrentPatientCode, "000002");
}

// Letters typed on the grid after a search start the next search: a name
// typed and Enter never choose the row that happened to be highlighted.
TEST_F(PatientTest, PickerLettersTypedOnTheGridGoToTheSearch)
{
    AddPatient("000001", "DUPONT", "JEAN");
    AddPatient("000002", "MARTIN", "LUC");
    TfrmGetPatient dlg(practice_.context());
    ShowActive(&dlg);
    Press(Qt::Key_Return);  // every patient
    EXPECT_EQ(dlg.statusText(), "  2 Patients");
    ASSERT_EQ(QApplication::focusWidget(), dlg.grdPatient());
    for (const QChar c : QStringLiteral("MAR"))  // each key to whatever has the focus then
        QTest::sendKeyEvent(QTest::Click, QApplication::focusWidget(), Qt::Key_unknown, QString(c), Qt::NoModifier);
    EXPECT_EQ(QApplication::focusWidget(), dlg.edNom());
    EXPECT_EQ(dlg.edNom()->text(), "MAR");
    Press(Qt::Key_Return);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.statusText(), "  1 Patients");
    Press(Qt::Key_Return);
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(CurrentPatientCode, "000002");
}

// A new patient typed, Téléphone clicked, Ctrl+A, a number, F4: the cancel
// asks first. No keeps the new patient being typed and the focus, so the
// number goes into it and F4 checks it (nothing reaches the patient shown
// before); Yes drops it. Nothing typed, or a change taken back: no question.
TEST_F(PatientTest, ACancelThatWouldDropWhatWasTypedAsksFirst)
{
    AddPatient("000001", "ANDRE", "ALAIN");
    AddPatient("000002", "MARTIN", "LUC");
    TfrmPatient frm(practice_.context());
    frm.CodePatient = "000001";
    ShowActive(&frm);
    Ui::TfrmPatient* ui = frm.form();
    const QString question = QString::fromUtf8("Abandonner les modifications ?");

    Press(Qt::Key_Insert, Qt::ControlModifier);
    ASSERT_EQ(QApplication::focusWidget(), ui->edID);
    Type(QApplication::focusWidget(), "n1");
    QTest::mouseClick(ui->edNom, Qt::LeftButton);
    Type(QApplication::focusWidget(), "nouveau");
    QTest::mouseClick(ui->edPrenom, Qt::LeftButton);
    Type(QApplication::focusWidget(), "paul");
    QTest::mouseClick(ui->edTel, Qt::LeftButton);
    ASSERT_EQ(QApplication::focusWidget(), ui->edTel);
    practice_.messages().Answer(QMessageBox::No);
    Press(Qt::Key_A, Qt::ControlModifier);
    ASSERT_EQ(practice_.messages().Count(), 1);
    EXPECT_EQ(practice_.messages().Last().text, question);
    EXPECT_EQ(practice_.messages().Last().buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(frm.Patient().state(), kdb::DatasetState::Insert);
    EXPECT_TRUE(frm.IsNewPatient());
    EXPECT_EQ(QApplication::focusWidget(), ui->edTel);
    EXPECT_EQ(ui->edNom->text(), "NOUVEAU");
    EXPECT_EQ(ui->edPrenom->text(), "PAUL");
    Type(QApplication::focusWidget(), "0601");
    EXPECT_EQ(ui->edTel->text(), "0601");
    Press(Qt::Key_F4);  // the checks of a post: the birth date is missing
    EXPECT_TRUE(frm.isVisible());
    ASSERT_EQ(practice_.messages().Count(), 2);
    EXPECT_TRUE(practice_.messages().Last().text.startsWith("La date de naissance")) << practice_.messages().Last().text.toStdString();
    EXPECT_EQ(frm.Patient().state(), kdb::DatasetState::Insert);
    EXPECT_EQ(Rows("SELECT CODE, TEL FROM PATIENT ORDER BY CODE"), (QStringList{"000001|", "000002|"}));

    // The button asks the same; Yes drops the new patient.
    practice_.messages().Answer(QMessageBox::Yes);
    QTest::mouseClick(ui->btnCancel, Qt::LeftButton);
    EXPECT_EQ(practice_.messages().Count(), 3);
    EXPECT_EQ(frm.Patient().state(), kdb::DatasetState::Browse);
    EXPECT_FALSE(frm.IsNewPatient());
    EXPECT_EQ(ui->edNom->text(), "ANDRE");
    EXPECT_EQ(Rows("SELECT CODE, TEL FROM PATIENT ORDER BY CODE"), (QStringList{"000001|", "000002|"}));

    // A new patient with nothing typed goes without a question.
    Press(Qt::Key_Insert, Qt::ControlModifier);
    ASSERT_EQ(frm.Patient().state(), kdb::DatasetState::Insert);
    Press(Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(frm.Patient().state(), kdb::DatasetState::Browse);
    // So does a change typed and taken back.
    QTest::mouseClick(ui->edTel, Qt::LeftButton);
    Type(QApplication::focusWidget(), "5");
    ASSERT_EQ(frm.Patient().state(), kdb::DatasetState::Edit);
    Press(Qt::Key_Backspace);
    EXPECT_EQ(ui->edTel->text(), "");
    Press(Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(frm.Patient().state(), kdb::DatasetState::Browse);
    EXPECT_EQ(practice_.messages().Count(), 3);
}

// Every editor of a character field stops at the field's width, the
// multi-line histories and the address included, typed or pasted: what is
// shown is what is saved.
TEST_F(PatientTest, LongTextsStopAtTheFieldsWidths)
{
    AddPatient("000001", "ANDRE", "ALAIN");
    TfrmPatient frm(practice_.context());
    frm.CodePatient = "000001";
    ShowActive(&frm);
    Ui::TfrmPatient* ui = frm.form();

    QTest::mouseClick(ui->mmAntPers->viewport(), Qt::LeftButton);
    ASSERT_EQ(QApplication::focusWidget(), ui->mmAntPers);
    QString history;
    for (int i = 0; history.size() < 168; ++i)
        history += QString::fromUtf8("appendicectomie %1 ; ").arg(i);
    Type(QApplication::focusWidget(), history.left(168));
    EXPECT_EQ(ui->mmAntPers->toPlainText(), history.left(100));
    QTest::mouseClick(ui->mmAntFam->viewport(), Qt::LeftButton);
    QApplication::clipboard()->setText("diabete\n" + QString(120, 'x'));
    Press(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(ui->mmAntFam->toPlainText(), "diabete\n" + QString(92, 'x'));
    QTest::mouseClick(ui->cmbAdr->lineEdit(), Qt::LeftButton);
    QApplication::clipboard()->setText(QString::fromUtf8("12 avenue de la République prolongée, bâtiment C"));
    Press(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(ui->cmbAdr->currentText().size(), 40);
    QTest::mouseClick(ui->edProf, Qt::LeftButton);
    Type(QApplication::focusWidget(), QString(70, 'p'));
    EXPECT_EQ(ui->edProf->text(), QString(60, 'P'));

    Press(Qt::Key_S, Qt::ControlModifier);
    ASSERT_EQ(frm.Patient().state(), kdb::DatasetState::Browse);
    EXPECT_EQ(Rows("SELECT ANTPERS FROM PATIENT"), QStringList{ui->mmAntPers->toPlainText().trimmed()});
    EXPECT_EQ(Rows("SELECT ANTFAM FROM PATIENT"), QStringList{ui->mmAntFam->toPlainText()});
    EXPECT_EQ(Rows("SELECT ADR, PROFES FROM PATIENT"), QStringList{ui->cmbAdr->currentText() + "|" + QString(60, 'P')});
    EXPECT_EQ(Rows("SELECT ADR FROM PATIENT").value(0),
        QString::fromUtf8("12 AVENUE DE LA RÉPUBLIQUE PROLONGÉE, BÂ"));
}

// Letters the table's code page lacks (Windows-1252 here) show at once as
// the table stores them, typed or pasted: the letter without its accent,
// its nearest Latin letter, or "?"; what is saved is what was shown.
TEST_F(PatientTest, LettersTheTableCannotHoldShowAsTheyAreStored)
{
    AddPatient("000001", "ANDRE", "ALAIN");
    TfrmPatient frm(practice_.context());
    frm.CodePatient = "000001";
    ShowActive(&frm);
    Ui::TfrmPatient* ui = frm.form();

    QTest::mouseClick(ui->edPrenom, Qt::LeftButton);
    Press(Qt::Key_End);
    Type(QApplication::focusWidget(), QString::fromUtf8(" Łukasz-Đorđe"));
    EXPECT_EQ(ui->edPrenom->text(), QString::fromUtf8("ALAIN LUKASZ-DORDE"));
    QTest::mouseClick(ui->mmAntPers->viewport(), Qt::LeftButton);
    QApplication::clipboard()->setText(QString::fromUtf8("β-bloquant, HbA1c ≥ 7 %,\nœdème, 38,5 °C"));
    Press(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(ui->mmAntPers->toPlainText(), QString::fromUtf8("?-bloquant, HbA1c ? 7 %,\nœdème, 38,5 °C"));
    QTest::mouseClick(ui->cmbAdr->lineEdit(), Qt::LeftButton);
    Type(QApplication::focusWidget(), QString::fromUtf8("3 ulica Łódzka"));
    EXPECT_EQ(ui->cmbAdr->currentText(), QString::fromUtf8("3 ulica Lódzka"));

    Press(Qt::Key_S, Qt::ControlModifier);
    ASSERT_EQ(frm.Patient().state(), kdb::DatasetState::Browse);
    EXPECT_EQ(Rows("SELECT PRENOM, ADR FROM PATIENT"),
        QStringList{QString::fromUtf8("ALAIN LUKASZ-DORDE|3 ULICA LÓDZKA")});
    EXPECT_EQ(Rows("SELECT ANTPERS FROM PATIENT"), QStringList{ui->mmAntPers->toPlainText()});
}

}  // namespace
