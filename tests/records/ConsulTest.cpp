// The consultation screen with its pick lists and photos, driven as a user
// does.
#include "RecordsFixture.h"

#include "app/records/UConsul.h"
#include "app/records/UGetOldInfos.h"
#include "app/records/UGetPatient.h"
#include "app/main/UMain.h"
#include "platform/ui/data/DataGrid.h"
#include "ui_UConsul.h"

#include <QAction>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QToolButton>

namespace {

class ConsulTest : public RecordsTest {
protected:
    void SetUp() override
    {
        RecordsTest::SetUp();
        AddPatient("000001", "D'ALMEIDA", "ANA", "00/00/1950", "74");
        AddPatient("000002", "DUPONT", "JEAN", "10/10/1980");
    }
    // A new consultation typed and saved.
    static void NewConsultation(TfrmConsul& frm, const QString& date, const QString& motif, const QString& diag = {})
    {
        Ui::TfrmConsul* ui = frm.form();
        ShowActive(&frm);
        QTest::keyClick(&frm, Qt::Key_Insert, Qt::ControlModifier);
        ui->edDate->selectAll();
        Type(ui->edDate, date);
        Type(ui->edMotif, motif);
        Type(ui->edDiag, diag);
        QTest::keyClick(&frm, Qt::Key_S, Qt::ControlModifier);
    }
};

TEST_F(ConsulTest, StatesNumberingAndReselectionOfTheSavedRow)
{
    CurrentPatientCode = "000001";
    TfrmConsul frm(practice_.context());
    ShowActive(&frm);
    Ui::TfrmConsul* ui = frm.form();
    EXPECT_EQ(ui->lName->text(), "000001 - D'ALMEIDA ANA, 74");  // 00/00/1950: the stored AGE
    // No consultation: New only.
    EXPECT_TRUE(ui->btnAdd->isEnabled());
    EXPECT_FALSE(ui->btnEdit->isEnabled());
    EXPECT_FALSE(ui->btnDelete->isEnabled());
    EXPECT_FALSE(ui->btnPost->isEnabled());
    EXPECT_TRUE(ui->edMotif->isReadOnly());

    NewConsultation(frm, "15/03/2024", "toux d'hiver", "bronchite");
    EXPECT_EQ(frm.ConsState(), u'B');
    EXPECT_EQ(frm.ConsId(), "1");
    // A bad date keeps the state and shows the plain box.
    QTest::keyClick(&frm, Qt::Key_Insert, Qt::ControlModifier);
    EXPECT_EQ(frm.ConsState(), u'I');
    EXPECT_EQ(ui->edDate->text(), QDate::currentDate().toString("dd/MM/yyyy"));
    ui->edDate->setText("31/02/2024");
    frm.btnPostClick();
    EXPECT_EQ(practice_.messages().Last().text, "Date de consultation incorrecte !");
    EXPECT_EQ(practice_.messages().Last().kind, kui::MsgKind::Plain);
    EXPECT_EQ(frm.ConsState(), u'I');
    practice_.messages().Answer(QMessageBox::Yes);  // the typed date dropped
    QTest::keyClick(&frm, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(practice_.messages().Last().text, QString::fromUtf8("Abandonner les modifications ?"));
    EXPECT_EQ(frm.ConsState(), u'B');
    EXPECT_EQ(ui->edMotif->toPlainText(), "toux d'hiver");

    // Another patient's consultation takes the next number.
    {
        CurrentPatientCode = "000002";
        TfrmConsul second(practice_.context());
        ShowActive(&second);
        NewConsultation(second, "01/01/2024", QString(300, u'x'));
        EXPECT_EQ(second.ConsId(), "2");
    }
    CurrentPatientCode = "000001";
    ShowActive(&frm);
    // An earlier date is saved and stays selected although it sorts first.
    NewConsultation(frm, "01/02/2020", "ancienne");
    EXPECT_EQ(frm.ConsId(), "3");
    EXPECT_EQ(frm.qConsul().recNo(), 1);
    EXPECT_EQ(ui->edMotif->toPlainText(), "ancienne");
    EXPECT_EQ(Rows("SELECT ID_CONS, PATIENT, MOTIF FROM CONS.DBF ORDER BY ID_CONS"),
        (QStringList{"1|000001|toux d'hiver", "2|000002|" + QString(100, u'x'), "3|000001|ancienne"}));

    // Modify: the editors open, the save updates that row only.
    frm.btnEditClick();
    EXPECT_EQ(frm.ConsState(), u'E');
    EXPECT_FALSE(ui->edMotif->isReadOnly());
    ui->edMotif->moveCursor(QTextCursor::End);
    Type(ui->edMotif, " bis");
    frm.btnPostClick();
    EXPECT_EQ(Rows("SELECT MOTIF FROM CONS.DBF WHERE ID_CONS=3"), QStringList{"ancienne bis"});

    // Delete asks, then removes the shown one.
    practice_.messages().Answer(QMessageBox::Yes);
    frm.btnDeleteClick();
    EXPECT_EQ(practice_.messages().Last().text, "Etes-vous sûr de vouloir supprimer cette consultation ?");
    EXPECT_EQ(Rows("SELECT ID_CONS FROM CONS.DBF ORDER BY ID_CONS"), (QStringList{"1", "2"}));
    EXPECT_EQ(frm.ConsId(), "1");
}

TEST_F(ConsulTest, PickListsOfferEarlierValuesOnlyWhileEditing)
{
    CurrentPatientCode = "000001";
    TfrmConsul frm(practice_.context());
    ShowActive(&frm);
    Ui::TfrmConsul* ui = frm.form();

    // No earlier value: the title row and one empty row; the empty row empties.
    QTest::keyClick(&frm, Qt::Key_Insert, Qt::ControlModifier);
    Type(ui->edMotif, "a effacer");
    int rows = -1;
    OnNextDialog([&](QWidget* w) {
        auto* dlg = static_cast<TfrmGetOldInfos*>(w);
        rows = dlg->grid()->rowCount();
        EXPECT_EQ(dlg->windowTitle(), "Motifs");
        dlg->grid()->setCurrentCell(1, 0);
        dlg->accept();
    });
    frm.btnGetMotifClick();
    EXPECT_EQ(rows, 2);
    EXPECT_EQ(ui->edMotif->toPlainText(), "");
    Type(ui->edMotif, "grippe");
    frm.btnPostClick();
    NewConsultation(frm, "02/02/2024", "angine");

    // While browsing, a chosen value changes nothing.
    OnNextDialog([](QWidget* w) {
        auto* dlg = static_cast<TfrmGetOldInfos*>(w);
        dlg->grid()->setCurrentCell(1, 0);
        dlg->accept();
    });
    frm.btnGetMotifClick();
    EXPECT_EQ(ui->edMotif->toPlainText(), "angine");
    // While editing, the list spans every earlier reason, sorted.
    frm.btnEditClick();
    QStringList listed;
    OnNextDialog([&](QWidget* w) {
        auto* dlg = static_cast<TfrmGetOldInfos*>(w);
        for (int r = 1; r < dlg->grid()->rowCount() - 1; ++r)
            listed << dlg->grid()->item(r, 0)->text();
        dlg->grid()->setCurrentCell(2, 0);
        QTest::mouseDClick(
            dlg->grid()->viewport(), Qt::LeftButton, {}, dlg->grid()->visualItemRect(dlg->grid()->item(2, 0)).center());
    });
    frm.btnGetMotifClick();
    EXPECT_EQ(listed, (QStringList{"angine", "grippe"}));
    EXPECT_EQ(ui->edMotif->toPlainText(), "grippe");
}

TEST_F(ConsulTest, CancelledPickerLeavesAnEmptyScreenAndPhotosLoadSkippingBadFiles)
{
    QImage img(40, 30, QImage::Format_RGB32);
    img.fill(Qt::red);
    ASSERT_TRUE(img.save(PhotoDir + "a.png"));
    QFile bad(PhotoDir + "bad.png");
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("not a picture");
    bad.close();
    Exec("INSERT INTO FPHOTO (CODE, NUM, PHOTO) VALUES ('000001', '3', 'a.png')");
    Exec("INSERT INTO FPHOTO (CODE, NUM, PHOTO) VALUES ('000001', '4', 'bad.png')");
    Exec("INSERT INTO FPHOTO (CODE, NUM, PHOTO) VALUES ('000001', '5', 'missing.png')");
    Exec("INSERT INTO FPHOTO (CODE, NUM, PHOTO) VALUES ('000002', '6', 'a.png')");

    CurrentPatientCode = "000001";
    TfrmConsul frm(practice_.context());
    ShowActive(&frm);
    frm.form()->pgControl->setCurrentWidget(frm.form()->tsPhotos);
    EXPECT_FALSE(frm.Image(3)->pixmap().isNull());
    EXPECT_EQ(frm.Image(3)->toolTip(), "a.png");
    // The viewer fits a small picture.
    QString caption;
    QSize size;
    {
        DialogScript script({[&](QWidget* w) {
            caption = w->windowTitle();
            size = w->size();
            static_cast<QDialog*>(w)->reject();
        }});
        QTest::mouseDClick(frm.Image(3), Qt::LeftButton);
        QTest::mouseDClick(frm.Image(4), Qt::LeftButton);  // no picture: no viewer
        EXPECT_EQ(script.classes, QStringList{"TfrmImage"});
    }
    EXPECT_EQ(caption, "Photo - " + frm.form()->lName->text());
    EXPECT_EQ(size, QSize(40 + 13, 30 + 40));
    EXPECT_TRUE(frm.Image(4)->pixmap().isNull());
    EXPECT_TRUE(frm.Image(5)->pixmap().isNull());
    EXPECT_TRUE(frm.Image(6)->pixmap().isNull());

    ShowActive(&frm);
    OnNextDialog([](QWidget* w) { static_cast<QDialog*>(w)->reject(); });
    QTest::keyClick(&frm, Qt::Key_F3);
    EXPECT_EQ(CurrentPatientCode, "");
    EXPECT_EQ(frm.form()->lName->text(), "");
    EXPECT_EQ(frm.qConsul().recordCount(), 0);
    EXPECT_TRUE(frm.Image(3)->pixmap().isNull());  // reloaded for no patient
    // No consultation is started for no patient.
    ShowActive(&frm);
    QTest::keyClick(&frm, Qt::Key_Insert, Qt::ControlModifier);
    EXPECT_EQ(frm.ConsState(), u'B');
    EXPECT_FALSE(frm.form()->btnAdd->isEnabled());
}

TEST_F(ConsulTest, ExamsPageListsTheDatesAndDeletesAnExam)
{
    Exec("INSERT INTO FBIO (CODE, LIBELLE) VALUES ('001', 'Glycémie')");
    Exec("INSERT INTO FRADIO (CODE, LIBELLE) VALUES ('002', 'Thorax')");
    const auto exam = [](const char* num, const char* kind, const char* code, QDate date, const char* result) {
        Exec("INSERT INTO EXCOMP (NUM, PATIENT, DATE_EX, RADIOBIO, CODE, RESULTAT) VALUES "
             "(:NUM, '000001', :D, :K, :C, :R)",
            {{"NUM", num}, {"D", date}, {"K", kind}, {"C", code}, {"R", result}});
    };
    exam("000001", "B", "001", QDate(2024, 1, 10), "1.0");
    exam("000002", "R", "002", QDate(2024, 1, 10), "normal");
    exam("000003", "B", "001", QDate(2024, 3, 5), "1.2");
    exam("000004", "B", "001", QDate(2024, 3, 5), "other patient");
    Exec("UPDATE EXCOMP SET PATIENT='000002' WHERE NUM='000004'");

    CurrentPatientCode = "000001";
    TfrmConsul frm(practice_.context());
    ShowActive(&frm);
    Ui::TfrmConsul* ui = frm.form();
    // Add is always there; Modify waits for the exam lists.
    EXPECT_TRUE(ui->btnAddBio->isEnabled());
    EXPECT_FALSE(ui->btnEditRadio->isEnabled());
    ui->pgControl->setCurrentWidget(ui->tsExams);
    EXPECT_EQ(frm.qExRadioBio().recordCount(), 2);
    EXPECT_EQ(frm.qExRadioBio().fieldByName("DATE_EX").asDate(), QDate(2024, 3, 5));
    EXPECT_EQ(Rows("SELECT NUM FROM EXCOMP WHERE PATIENT='000001'").size(), 3);
    ASSERT_EQ(frm.qExBio().recordCount(), 1);
    EXPECT_EQ(frm.qExBio().fieldByName("LibExamen").asString(), "Glycémie");
    EXPECT_EQ(frm.qExRadio().recordCount(), 0);
    EXPECT_TRUE(ui->btnDelBio->isEnabled());
    EXPECT_FALSE(ui->btnDelRadio->isEnabled());

    practice_.messages().Answer(QMessageBox::Yes);
    frm.btnDelBioClick();
    EXPECT_EQ(practice_.messages().Last().text, "Etes-vous sûr de vouloir supprimer cet examen ?");
    EXPECT_EQ(Rows("SELECT NUM FROM EXCOMP ORDER BY NUM"), (QStringList{"000001", "000002", "000004"}));
    // The date is gone: the lists follow the last remaining date.
    EXPECT_EQ(frm.qExRadioBio().fieldByName("DATE_EX").asDate(), QDate(2024, 1, 10));
    EXPECT_EQ(frm.qExRadio().fieldByName("libExamen").asString(), "Thorax");
    EXPECT_TRUE(ui->btnDelBio->isEnabled());
    EXPECT_TRUE(ui->btnDelRadio->isEnabled());
}

// Two workstations modifying one consultation: the second is told another
// one is changing it and writes nothing; once the first has saved (or
// cancelled, or closed), the second starts from the saved values.
TEST_F(ConsulTest, ModifyTakesTheRecordLockAndStartsFromTheCurrentValues)
{
    CurrentPatientCode = "000001";
    TfrmConsul first(practice_.context());
    NewConsultation(first, "15/03/2024", "toux", "rhume");
    TfrmConsul second(practice_.context());
    ShowActive(&second);
    ASSERT_EQ(second.ConsId(), "1");

    ShowActive(&first);
    first.btnEditClick();
    ASSERT_EQ(first.ConsState(), u'E');
    ShowActive(&second);
    second.btnEditClick();
    ASSERT_GT(practice_.messages().Count(), 0);
    EXPECT_EQ(practice_.messages().Last().text.left(40), "Cet enregistrement est en cours de modif");
    EXPECT_EQ(second.ConsState(), u'B');
    EXPECT_TRUE(second.form()->edMotif->isReadOnly());

    ShowActive(&first);
    first.form()->edMotif->moveCursor(QTextCursor::End);
    Type(first.form()->edMotif, " grasse");
    first.btnPostClick();
    EXPECT_EQ(first.ConsState(), u'B');

    // the second starts from the first's save, and its own is kept
    ShowActive(&second);
    second.btnEditClick();
    ASSERT_EQ(second.ConsState(), u'E');
    EXPECT_EQ(second.form()->edMotif->toPlainText(), "toux grasse");
    second.form()->edDiag->selectAll();
    Type(second.form()->edDiag, "bronchite");
    ShowActive(&first);
    first.btnEditClick();  // held by the second now
    EXPECT_EQ(first.ConsState(), u'B');
    ShowActive(&second);
    second.btnPostClick();
    EXPECT_EQ(Rows("SELECT MOTIF, DIAG FROM CONS.DBF WHERE ID_CONS=1"), QStringList{"toux grasse|bronchite"});

    // cancel and close give the lock back
    second.btnEditClick();
    second.btnCancelClick();
    ShowActive(&first);
    first.btnEditClick();
    EXPECT_EQ(first.ConsState(), u'E');
    practice_.messages().Answer(QMessageBox::No);  // closing asks first
    first.close();
    ShowActive(&second);
    second.btnEditClick();
    EXPECT_EQ(second.ConsState(), u'E');
}

// A click on a row of the history grid.
void ClickHistory(TfrmConsul& frm, int row)
{
    kui::DataGrid* grid = frm.form()->grdConsul;
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(grid->model()->index(row, 1)).center());
}

const QString kSaveQuestion = QStringLiteral("Les informations modifiées n'ont pas été enregistrées.\rEnregistrer ?");

// A consultation being typed survives Esc; closing, a click on the history
// and choosing another patient ask first: Cancel keeps the text, No drops
// it, Yes saves it.
TEST_F(ConsulTest, ATypedConsultationIsNeverDroppedWithoutAQuestion)
{
    CurrentPatientCode = "000001";
    TfrmConsul frm(practice_.context());
    NewConsultation(frm, "10/01/2024", "premiere");
    NewConsultation(frm, "20/01/2024", "seconde");
    ASSERT_EQ(frm.qConsul().recordCount(), 2);
    Ui::TfrmConsul* ui = frm.form();
    practice_.messages().Clear();

    QTest::mouseClick(ui->edMotif->viewport(), Qt::LeftButton);
    Press(Qt::Key_Insert, Qt::ControlModifier);
    ASSERT_EQ(frm.ConsState(), u'I');
    ASSERT_EQ(QApplication::focusWidget(), ui->edMotif);
    Type(QApplication::focusWidget(), "douleur");
    Press(Qt::Key_Escape);
    EXPECT_TRUE(frm.isVisible());
    EXPECT_EQ(frm.ConsState(), u'I');
    EXPECT_EQ(ui->edMotif->toPlainText(), "douleur");
    EXPECT_EQ(practice_.messages().Count(), 0);

    // Closing: Cancel stays with the text.
    practice_.messages().Answer(QMessageBox::Cancel);
    QTest::mouseClick(ui->btnFermer, Qt::LeftButton);
    ASSERT_EQ(practice_.messages().Count(), 1);
    EXPECT_EQ(practice_.messages().Last().text, kSaveQuestion);
    EXPECT_EQ(practice_.messages().Last().buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    EXPECT_TRUE(frm.isVisible());
    EXPECT_EQ(ui->edMotif->toPlainText(), "douleur");
    // F4 from the memo: the same question.
    QTest::mouseClick(ui->edMotif->viewport(), Qt::LeftButton);
    practice_.messages().Answer(QMessageBox::Cancel);
    Press(Qt::Key_F4);
    EXPECT_EQ(practice_.messages().Count(), 2);
    EXPECT_TRUE(frm.isVisible());

    // A click on the other consultation: Cancel keeps the text and the row.
    practice_.messages().Answer(QMessageBox::Cancel);
    ClickHistory(frm, 0);
    EXPECT_EQ(practice_.messages().Count(), 3);
    EXPECT_EQ(frm.ConsState(), u'I');
    EXPECT_EQ(ui->edMotif->toPlainText(), "douleur");
    EXPECT_EQ(frm.qConsul().recNo(), 2);
    // No drops it and shows the row clicked.
    practice_.messages().Answer(QMessageBox::No);
    ClickHistory(frm, 0);
    EXPECT_EQ(practice_.messages().Count(), 4);
    EXPECT_EQ(frm.ConsState(), u'B');
    EXPECT_EQ(ui->edMotif->toPlainText(), "premiere");
    EXPECT_EQ(Rows("SELECT MOTIF FROM CONS.DBF ORDER BY ID_CONS"), (QStringList{"premiere", "seconde"}));

    // Yes saves it, then shows the row clicked.
    QTest::mouseClick(ui->btnAdd, Qt::LeftButton);
    Type(ui->edMotif, "fievre");
    practice_.messages().Answer(QMessageBox::Yes);
    ClickHistory(frm, 1);
    EXPECT_EQ(practice_.messages().Count(), 5);
    EXPECT_EQ(frm.ConsState(), u'B');
    EXPECT_EQ(Rows("SELECT MOTIF FROM CONS.DBF ORDER BY ID_CONS"), (QStringList{"premiere", "seconde", "fievre"}));

    // A modified consultation is asked for too, before the patient picker.
    QTest::mouseClick(ui->btnEdit, Qt::LeftButton);
    ASSERT_EQ(frm.ConsState(), u'E');
    ui->edMotif->moveCursor(QTextCursor::End);
    Type(ui->edMotif, "!");
    practice_.messages().Answer(QMessageBox::Cancel);
    Press(Qt::Key_F3);
    EXPECT_EQ(practice_.messages().Count(), 6);
    EXPECT_EQ(frm.ConsState(), u'E');
    EXPECT_EQ(CurrentPatientCode, "000001");

    // Yes with a refused date: its message, and the screen stays as typed.
    ui->edDate->selectAll();
    Type(ui->edDate, "31/02/2024");
    practice_.messages().Answer(QMessageBox::Yes);
    Press(Qt::Key_F4);
    EXPECT_EQ(practice_.messages().Count(), 8);
    EXPECT_EQ(practice_.messages().Last().text, "Date de consultation incorrecte !");
    EXPECT_TRUE(frm.isVisible());
    EXPECT_EQ(frm.ConsState(), u'E');
    EXPECT_TRUE(ui->edMotif->toPlainText().endsWith("!"));
    ui->edDate->selectAll();
    Type(ui->edDate, "20/01/2024");

    // Closing with Yes saves and closes.
    practice_.messages().Answer(QMessageBox::Yes);
    Press(Qt::Key_F4);
    EXPECT_FALSE(frm.isVisible());
    EXPECT_EQ(frm.result(), QDialog::Accepted);
    EXPECT_EQ(Rows("SELECT MOTIF FROM CONS.DBF ORDER BY ID_CONS"),
        (QStringList{"premiere", ui->edMotif->toPlainText(), "fievre"}));
    EXPECT_TRUE(Rows("SELECT MOTIF FROM CONS.DBF ORDER BY ID_CONS").at(1).endsWith("!"));
}

// Ctrl+Ins and Ctrl+A reach their commands from the memos and line edits.
TEST_F(ConsulTest, CommandKeysWorkWhateverEditorHasTheFocus)
{
    CurrentPatientCode = "000001";
    TfrmConsul frm(practice_.context());
    ShowActive(&frm);
    Ui::TfrmConsul* ui = frm.form();
    QTest::mouseClick(ui->edMotif->viewport(), Qt::LeftButton);
    ASSERT_EQ(QApplication::focusWidget(), ui->edMotif);
    Press(Qt::Key_Insert, Qt::ControlModifier);
    EXPECT_EQ(frm.ConsState(), u'I');
    Type(QApplication::focusWidget(), "vertiges");
    QTest::mouseClick(ui->edDate, Qt::LeftButton);
    ASSERT_EQ(QApplication::focusWidget(), ui->edDate);
    practice_.messages().Answer(QMessageBox::Yes);
    Press(Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(frm.ConsState(), u'B');
    EXPECT_EQ(ui->edMotif->toPlainText(), "");
    EXPECT_EQ(practice_.messages().Count(), 1);

    QTest::mouseClick(ui->edDate, Qt::LeftButton);
    Press(Qt::Key_Insert, Qt::ControlModifier);
    EXPECT_EQ(frm.ConsState(), u'I');
    Type(ui->edMotif, "vertiges");
    ui->pgControl->setCurrentWidget(ui->tsDiag);
    QTest::mouseClick(ui->edTA, Qt::LeftButton);
    Type(QApplication::focusWidget(), "12/8");
    QTest::mouseClick(ui->edDiag->viewport(), Qt::LeftButton);
    Press(Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(frm.ConsState(), u'B');
    EXPECT_EQ(Rows("SELECT MOTIF, TA FROM CONS.DBF"), QStringList{"vertiges|12/8"});
}

// The title row of a pick list can be neither clicked, reached by the keys
// nor chosen.
TEST_F(ConsulTest, ThePickListTitleRowCannotBeChosen)
{
    CurrentPatientCode = "000001";
    TfrmConsul frm(practice_.context());
    NewConsultation(frm, "10/01/2024", "angine");
    Ui::TfrmConsul* ui = frm.form();
    QTest::mouseClick(ui->btnAdd, Qt::LeftButton);
    Type(ui->edMotif, "garde");
    bool stayed = false;
    OnNextDialog([&](QWidget* w) {
        auto* dlg = static_cast<TfrmGetOldInfos*>(w);
        QTableWidget* grid = dlg->grid();
        const QPoint title = grid->visualItemRect(grid->item(0, 0)).center();
        QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, title);
        stayed = dlg->isVisible();
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, title);
        QTest::keyClick(grid, Qt::Key_Up);
        QTest::mouseClick(dlg->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
    });
    QTest::mouseClick(ui->btnGetMotif, Qt::LeftButton);
    EXPECT_TRUE(stayed);
    EXPECT_EQ(ui->edMotif->toPlainText(), "angine");
}

// Ctrl+A and the cancel button ask before they drop a typed consultation:
// No keeps it as typed, the focus in its editor; Yes drops it. Nothing
// typed, or a change taken back, goes without a question.
TEST_F(ConsulTest, ACancelThatWouldDropWhatWasTypedAsksFirst)
{
    CurrentPatientCode = "000001";
    TfrmConsul frm(practice_.context());
    NewConsultation(frm, "10/01/2024", "premiere");
    Ui::TfrmConsul* ui = frm.form();
    practice_.messages().Clear();
    const QString question = QString::fromUtf8("Abandonner les modifications ?");

    QTest::mouseClick(ui->edMotif->viewport(), Qt::LeftButton);
    Press(Qt::Key_Insert, Qt::ControlModifier);
    ASSERT_EQ(QApplication::focusWidget(), ui->edMotif);
    Type(QApplication::focusWidget(), "douleur");
    practice_.messages().Answer(QMessageBox::No);
    Press(Qt::Key_A, Qt::ControlModifier);
    ASSERT_EQ(practice_.messages().Count(), 1);
    EXPECT_EQ(practice_.messages().Last().text, question);
    EXPECT_EQ(practice_.messages().Last().buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(frm.ConsState(), u'I');
    EXPECT_EQ(QApplication::focusWidget(), ui->edMotif);
    Type(QApplication::focusWidget(), " thoracique");
    EXPECT_EQ(ui->edMotif->toPlainText(), "douleur thoracique");

    // The button: Yes drops it, the consultation shown before is back.
    practice_.messages().Answer(QMessageBox::Yes);
    QTest::mouseClick(ui->btnCancel, Qt::LeftButton);
    EXPECT_EQ(practice_.messages().Count(), 2);
    EXPECT_EQ(frm.ConsState(), u'B');
    EXPECT_EQ(ui->edMotif->toPlainText(), "premiere");
    EXPECT_EQ(Rows("SELECT MOTIF FROM CONS.DBF"), QStringList{"premiere"});

    // Nothing typed: no question, for a new one or a change.
    Press(Qt::Key_Insert, Qt::ControlModifier);
    Press(Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(frm.ConsState(), u'B');
    QTest::mouseClick(ui->btnEdit, Qt::LeftButton);
    ASSERT_EQ(frm.ConsState(), u'E');
    Press(Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(frm.ConsState(), u'B');
    // A change taken back: no question either.
    QTest::mouseClick(ui->btnEdit, Qt::LeftButton);
    ui->edMotif->moveCursor(QTextCursor::End);
    Type(ui->edMotif, "!");
    Press(Qt::Key_Backspace);
    Press(Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(frm.ConsState(), u'B');
    EXPECT_EQ(practice_.messages().Count(), 2);
}

// The memos stop at their columns' widths, typed or pasted: the reason at
// 100 characters, the diagnosis at 250; what is shown is what is saved.
TEST_F(ConsulTest, LongTextsStopAtTheColumnsWidths)
{
    CurrentPatientCode = "000001";
    TfrmConsul frm(practice_.context());
    ShowActive(&frm);
    Ui::TfrmConsul* ui = frm.form();
    QTest::mouseClick(ui->edMotif->viewport(), Qt::LeftButton);
    Press(Qt::Key_Insert, Qt::ControlModifier);
    QString reason;
    for (int i = 0; reason.size() < 130; ++i)
        reason += QString::fromUtf8("douleur épigastrique %1, ").arg(i);
    Type(QApplication::focusWidget(), reason.left(130));
    EXPECT_EQ(ui->edMotif->toPlainText(), reason.left(100));

    ui->pgControl->setCurrentWidget(ui->tsDiag);
    QTest::mouseClick(ui->edDiag->viewport(), Qt::LeftButton);
    ASSERT_EQ(QApplication::focusWidget(), ui->edDiag);
    QString diagnosis;
    for (int i = 0; diagnosis.size() < 314; ++i)
        diagnosis += QString("gastrite chronique stade %1\n").arg(i);
    QApplication::clipboard()->setText(diagnosis.left(314));
    Press(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(ui->edDiag->toPlainText(), diagnosis.left(250));
    Press(Qt::Key_S, Qt::ControlModifier);
    ASSERT_EQ(frm.ConsState(), u'B');
    EXPECT_EQ(Rows("SELECT MOTIF FROM CONS.DBF"), QStringList{ui->edMotif->toPlainText().trimmed()});
    EXPECT_EQ(Rows("SELECT DIAG FROM CONS.DBF"), QStringList{ui->edDiag->toPlainText().trimmed()});
    EXPECT_EQ(ui->edDiag->toPlainText(), diagnosis.left(250));
}

// A sign or a letter CONS.DBF's code page lacks is shown as it will be
// stored as it is typed or pasted, in the memos and in the one-line boxes.
TEST_F(ConsulTest, SignsTheTableCannotHoldShowAsTheyAreStored)
{
    CurrentPatientCode = "000001";
    TfrmConsul frm(practice_.context());
    ShowActive(&frm);
    Ui::TfrmConsul* ui = frm.form();
    QTest::mouseClick(ui->edMotif->viewport(), Qt::LeftButton);
    Press(Qt::Key_Insert, Qt::ControlModifier);
    Type(QApplication::focusWidget(), QString::fromUtf8("fièvre → 39 °C"));
    EXPECT_EQ(ui->edMotif->toPlainText(), QString::fromUtf8("fièvre ? 39 °C"));
    ui->pgControl->setCurrentWidget(ui->tsDiag);
    QTest::mouseClick(ui->edTrt->viewport(), Qt::LeftButton);
    QApplication::clipboard()->setText(QString::fromUtf8("β2-mimétique\nsi SpO₂ ≤ 92 %"));
    Press(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(ui->edTrt->toPlainText(), QString::fromUtf8("?2-mimétique\nsi SpO2 ? 92 %"));
    QTest::mouseClick(ui->edTA, Qt::LeftButton);
    Type(QApplication::focusWidget(), QString::fromUtf8("12⁄8"));
    EXPECT_EQ(ui->edTA->text(), QString::fromUtf8("12?8"));
    Press(Qt::Key_S, Qt::ControlModifier);
    ASSERT_EQ(frm.ConsState(), u'B');
    EXPECT_EQ(Rows("SELECT MOTIF, TA FROM CONS.DBF"), QStringList{QString::fromUtf8("fièvre ? 39 °C|12?8")});
    EXPECT_EQ(Rows("SELECT TRT1 FROM CONS.DBF"), QStringList{ui->edTrt->toPlainText()});
    EXPECT_EQ(ui->edTrt->toPlainText(), QString::fromUtf8("?2-mimétique\nsi SpO2 ? 92 %"));
}

}  // namespace
