// The exam entry in its two variants, alone and from the consultation
// screen: checks, numbering, the duplicate guard and the close guard.
#include "RecordsFixture.h"

#include "app/records/UConsul.h"
#include "app/records/UExComp.h"
#include "ui_UConsul.h"

#include "platform/ui/Messages.h"
#include "platform/ui/data/DataControls.h"

#include <QClipboard>
#include <QDateEdit>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>

namespace {

class ExCompTest : public RecordsTest {
protected:
    void SetUp() override
    {
        RecordsTest::SetUp();
        AddPatient("000001", "D'ALMEIDA", "ANA");
        Exec("INSERT INTO FRADIO (CODE, LIBELLE) VALUES ('001', 'THORAX')");
        Exec("INSERT INTO FRADIO (CODE, LIBELLE) VALUES ('002', 'CRANE')");
        Exec("INSERT INTO FBIO (CODE, LIBELLE) VALUES ('001', 'GLYCEMIE')");
    }
    static void Choose(TfrmExComp& frm, const QString& label)
    {
        const int i = frm.cmbExamen()->findText(label);
        ASSERT_GE(i, 0) << label.toStdString();
        frm.cmbExamen()->setCurrentIndex(i);
    }
    static void Result(TfrmExComp& frm, const QString& text)
    {
        frm.mmResultat()->clear();
        Type(frm.mmResultat(), text);
    }
    kui::ScopedMessageRecorder messages_;
};

TEST_F(ExCompTest, ChecksNumbersAndTheDuplicateGuard)
{
    TfrmExComp frm(practice_.context());
    frm.Patient = "000001";
    frm.RadioBio = "R";
    ShowActive(&frm);
    EXPECT_EQ(frm.lExamen()->text(), QString::fromUtf8("Examens complémentaires Radiologiques"));
    EXPECT_EQ(frm.cmbExamen()->count(), 2);
    EXPECT_EQ(frm.cmbExamen()->itemText(0), "CRANE");
    EXPECT_TRUE(frm.btnPost()->isEnabled());
    EXPECT_FALSE(frm.btnNew()->isEnabled());

    // Nothing chosen: the exam is reported before the result.
    QTest::mouseClick(frm.btnPost(), Qt::LeftButton);
    EXPECT_EQ(messages_.Last().text, QString::fromUtf8("L'Examen complémentaire est manquant !"));
    Choose(frm, "THORAX");
    Result(frm, "   ");
    QTest::mouseClick(frm.btnPost(), Qt::LeftButton);
    EXPECT_EQ(messages_.Last().text, QString::fromUtf8("Le résultat de l'examen est manquant !"));
    EXPECT_TRUE(Rows("SELECT * FROM EXCOMP").isEmpty());

    frm.edDate()->setDate({2024, 3, 5});
    Result(frm, "Pas d'opacité");
    QTest::mouseClick(frm.btnPost(), Qt::LeftButton);
    EXPECT_EQ(frm.Num, "000001");
    EXPECT_EQ(Rows("SELECT NUM, PATIENT, DATE_EX, RADIOBIO, CODE, RESULTAT FROM EXCOMP"),
        QStringList{"000001|000001|05/03/2024|R|001|Pas d'opacité"});
    EXPECT_FALSE(frm.btnPost()->isEnabled());
    EXPECT_TRUE(frm.btnEdit()->isEnabled());
    EXPECT_FALSE(frm.mmResultat()->isEnabled());

    // Edit and save: the same row; a result longer than its column is cut.
    QTest::mouseClick(frm.btnEdit(), Qt::LeftButton);
    EXPECT_EQ(frm.cmbExamen()->currentText(), "THORAX");
    Result(frm, QString(120, 'R'));
    QTest::mouseClick(frm.btnPost(), Qt::LeftButton);
    EXPECT_EQ(Rows("SELECT NUM, RESULTAT FROM EXCOMP"), QStringList{"000001|" + QString(100, 'R')});

    // The same exam on the same day is refused; another day is not.
    QTest::mouseClick(frm.btnNew(), Qt::LeftButton);
    frm.edDate()->setDate({2024, 3, 5});
    Choose(frm, "THORAX");
    Result(frm, "encore");
    messages_.Clear();
    QTest::mouseClick(frm.btnPost(), Qt::LeftButton);
    ASSERT_EQ(messages_.Count(), 1);
    EXPECT_EQ(messages_.Last().text, QString::fromUtf8("Cet examen a déjà été saisi !\rVeuillez vérifier S.V.P."));
    EXPECT_TRUE(frm.Num.isEmpty());
    frm.edDate()->setDate({2024, 3, 6});
    QTest::mouseClick(frm.btnPost(), Qt::LeftButton);
    EXPECT_EQ(frm.Num, "000002");

    // A changed exam is not compared: moved onto the first one's day.
    QTest::mouseClick(frm.btnEdit(), Qt::LeftButton);
    frm.edDate()->setDate({2024, 3, 5});
    QTest::mouseClick(frm.btnPost(), Qt::LeftButton);
    EXPECT_EQ(
        Rows("SELECT NUM, DATE_EX FROM EXCOMP ORDER BY NUM"), (QStringList{"000001|05/03/2024", "000002|05/03/2024"}));
}

// The result stops at its column's width, typed or pasted. Cancelling a
// change of a saved exam asks first: No keeps it, Yes brings the stored exam
// back; without a change, no question. Closing asks the close guard's
// question alone.
TEST_F(ExCompTest, TheResultStopsAtItsWidthAndACancelledChangeIsAskedFor)
{
    TfrmExComp frm(practice_.context());
    frm.Patient = "000001";
    frm.RadioBio = "R";
    ShowActive(&frm);
    Choose(frm, "THORAX");
    frm.edDate()->setDate({2024, 3, 5});
    QString report;
    for (int i = 1; report.size() < 150; ++i)
        report += QString::fromUtf8("Opacité basale droite %1, ").arg(i);
    Result(frm, report.left(150));
    EXPECT_EQ(frm.mmResultat()->toPlainText(), report.left(100));
    QTest::mouseClick(frm.btnPost(), Qt::LeftButton);
    ASSERT_EQ(frm.Num, "000001");
    const QStringList stored{"000001|" + report.left(100).trimmed()};
    EXPECT_EQ(Rows("SELECT NUM, RESULTAT FROM EXCOMP"), stored);

    QTest::mouseClick(frm.btnEdit(), Qt::LeftButton);
    QTest::mouseClick(frm.mmResultat()->viewport(), Qt::LeftButton);
    frm.mmResultat()->selectAll();
    QApplication::clipboard()->setText(QString(130, 'N'));
    QTest::keyClick(frm.mmResultat(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(frm.mmResultat()->toPlainText(), QString(100, 'N'));
    const int asked = messages_.Count();
    messages_.Answer(QMessageBox::No);
    QTest::keyClick(frm.mmResultat(), Qt::Key_Escape);
    ASSERT_EQ(messages_.Count(), asked + 1);
    EXPECT_EQ(messages_.Last().text, QString::fromUtf8("Abandonner les modifications ?"));
    EXPECT_TRUE(frm.btnPost()->isEnabled());
    EXPECT_EQ(frm.mmResultat()->toPlainText(), QString(100, 'N'));
    EXPECT_EQ(QApplication::focusWidget(), frm.mmResultat());
    messages_.Answer(QMessageBox::Yes);
    QTest::mouseClick(frm.btnCancel(), Qt::LeftButton);
    EXPECT_EQ(messages_.Count(), asked + 2);
    EXPECT_FALSE(frm.btnPost()->isEnabled());
    EXPECT_EQ(frm.mmResultat()->toPlainText(), report.left(100).trimmed());

    // No change: Esc cancels without a question.
    QTest::mouseClick(frm.btnEdit(), Qt::LeftButton);
    QTest::keyClick(&frm, Qt::Key_Escape);
    EXPECT_FALSE(frm.btnPost()->isEnabled());
    EXPECT_EQ(messages_.Count(), asked + 2);
    // A change, then closing: the close guard's question only; No keeps
    // the stored exam.
    QTest::mouseClick(frm.btnEdit(), Qt::LeftButton);
    Result(frm, "Normal");
    messages_.Answer(QMessageBox::No);
    frm.close();
    EXPECT_FALSE(frm.isVisible());
    EXPECT_EQ(messages_.Count(), asked + 3);
    EXPECT_EQ(Rows("SELECT NUM, RESULTAT FROM EXCOMP"), stored);
}

TEST_F(ExCompTest, NewThenEscapeAsksAndNoWritesNothing)
{
    TfrmExComp frm(practice_.context());
    frm.Patient = "000001";
    frm.RadioBio = "B";
    ShowActive(&frm);
    EXPECT_EQ(frm.lExamen()->text(), QString::fromUtf8("Examens complémentaires Biologiques"));
    Choose(frm, "GLYCEMIE");
    Result(frm, "1,05");
    // Cancel keeps the screen open; No closes it without writing.
    messages_.Answer(QMessageBox::Cancel);
    QTest::keyClick(&frm, Qt::Key_Escape);
    EXPECT_TRUE(frm.isVisible());
    EXPECT_EQ(messages_.Last().text,
        QString::fromUtf8("Les informations modifiées n'ont pas été enregistrées.\rEnregister ?"));
    messages_.Answer(QMessageBox::No);
    QTest::keyClick(&frm, Qt::Key_Escape);
    EXPECT_FALSE(frm.isVisible());
    EXPECT_TRUE(Rows("SELECT * FROM EXCOMP").isEmpty());

    // Yes saves on the way out.
    TfrmExComp again(practice_.context());
    again.Patient = "000001";
    again.RadioBio = "B";
    ShowActive(&again);
    Choose(again, "GLYCEMIE");
    Result(again, "0,98");
    messages_.Answer(QMessageBox::Yes);
    again.close();
    EXPECT_EQ(Rows("SELECT RADIOBIO, CODE, RESULTAT FROM EXCOMP"), QStringList{"B|001|0,98"});
}

TEST_F(ExCompTest, TheConsultationScreenAddsAndChangesExamsWithTheirLabels)
{
    CurrentPatientCode = "000001";
    TfrmConsul consul(practice_.context());
    ShowActive(&consul);
    Ui::TfrmConsul* ui = consul.form();
    ui->pgControl->setCurrentWidget(ui->tsExams);
    EXPECT_TRUE(ui->btnAddRadio->isEnabled());
    EXPECT_FALSE(ui->btnEditRadio->isEnabled());

    QString banner;
    OnModal<TfrmExComp>([&](TfrmExComp& w) {
        auto* frm = &w;
        banner = frm->lPatient()->text();
        Choose(*frm, "CRANE");
        Result(*frm, "normal");
        QTest::mouseClick(frm->btnPost(), Qt::LeftButton);
        frm->close();
    });
    QTest::mouseClick(ui->btnAddRadio, Qt::LeftButton);
    EXPECT_EQ(banner, ui->lName->text());
    ASSERT_TRUE(consul.qExRadio().active());
    EXPECT_EQ(consul.qExRadio().fieldByName("libExamen").asString().trimmed(), "CRANE");
    EXPECT_TRUE(ui->btnEditRadio->isEnabled());

    OnModal<TfrmExComp>([&](TfrmExComp& w) {
        auto* frm = &w;
        EXPECT_EQ(frm->Num, "000001");
        Result(*frm, "fracture");
        QTest::mouseClick(frm->btnPost(), Qt::LeftButton);
        frm->close();
    });
    QTest::mouseClick(ui->btnEditRadio, Qt::LeftButton);
    EXPECT_EQ(consul.qExRadio().fieldByName("RESULTAT").asString().trimmed(), "fracture");
    EXPECT_EQ(Rows("SELECT NUM FROM EXCOMP").size(), 1);
}

}  // namespace
