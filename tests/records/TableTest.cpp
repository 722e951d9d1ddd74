// The reference-table editor on the exam lists: code allocation, renaming,
// deletion, bad labels, driven as a user does.
#include "RecordsFixture.h"

#include "app/main/UMain.h"
#include "app/records/UOrd.h"
#include "app/records/UTable.h"

#include "platform/ui/Messages.h"
#include "platform/ui/data/DataGrid.h"

#include <QClipboard>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QToolButton>

namespace {

class TableTest : public RecordsTest {
protected:
    void SetUp() override
    {
        RecordsTest::SetUp();
        frm_ = std::make_unique<TfrmTable>(practice_.context());
        frm_->DatabaseName = DataPath;
        frm_->TableName = "FRADIO";
        frm_->Title = "Examens Radiologiques";
        frm_->CodeLength = 3;
    }
    static void AddRow(const QString& table, const QString& code, const QString& label)
    {
        Exec("INSERT INTO " + table + " (CODE, LIBELLE) VALUES (:C, :L)", {{"C", code}, {"L", label}});
    }
    // Nouveau, the label typed, Enter (Valider is the default button).
    void Add(const QString& label)
    {
        QTest::mouseClick(frm_->btnAdd(), Qt::LeftButton);
        Type(frm_->edDesig(), label);
        QTest::keyClick(frm_->edDesig(), Qt::Key_Return);
    }
    QString Current(const char* field) const { return frm_->qTable()->fieldByName(field).asString().trimmed(); }

    std::unique_ptr<TfrmTable> frm_;
    kui::ScopedMessageRecorder messages_;
};

TEST_F(TableTest, CodesFillGapsLabelsAreUpperCaseCutAndKeepTheirQuotes)
{
    ShowActive(frm_.get());
    EXPECT_EQ(frm_->stBar()->currentMessage(), " Nbre Enregistrements : 0");
    EXPECT_FALSE(frm_->btnDelete()->isEnabled());
    EXPECT_FALSE(frm_->btnModif()->isEnabled());

    // A label of blanks is refused; the panel stays and every tool is off.
    QTest::mouseClick(frm_->btnAdd(), Qt::LeftButton);
    EXPECT_EQ(frm_->lMode()->text(), "INSERTION");
    EXPECT_FALSE(frm_->btnAdd()->isEnabled());
    Type(frm_->edDesig(), "   ");
    QTest::mouseClick(frm_->btnOk(), Qt::LeftButton);
    ASSERT_EQ(messages_.Count(), 1);
    EXPECT_EQ(messages_.Last().text, QString::fromUtf8("Le libellé est manquant !"));
    EXPECT_TRUE(frm_->pnlSaisie()->isVisible());
    EXPECT_TRUE(Rows("SELECT * FROM FRADIO").isEmpty());
    QTest::keyClick(frm_.get(), Qt::Key_Escape);
    EXPECT_FALSE(frm_->pnlSaisie()->isVisible());
    EXPECT_TRUE(frm_->isVisible());

    Add("radio du thorax");
    EXPECT_EQ(Rows("SELECT CODE, LIBELLE FROM FRADIO"), QStringList{"001|RADIO DU THORAX"});
    EXPECT_EQ(frm_->stBar()->currentMessage(), " Nbre Enregistrements : 1");

    // 001, 002, 004: the gap first, then after the highest.
    AddRow("FRADIO", "002", "ECHOGRAPHIE");
    AddRow("FRADIO", "004", "SCANNER");
    Add("l'abdomen sans préparation");
    Add(QString(70, 'X'));
    EXPECT_EQ(Rows("SELECT CODE, LIBELLE FROM FRADIO ORDER BY CODE"),
        (QStringList{"001|RADIO DU THORAX", "002|ECHOGRAPHIE", "003|L'ABDOMEN SANS PRÉPARATION", "004|SCANNER",
            "005|" + QString(60, 'X')}));
    // The list shows the row just written; a quote is found as typed.
    EXPECT_EQ(Current("CODE"), "005");
    EXPECT_EQ(Rows("SELECT CODE FROM FRADIO WHERE LIBELLE='L''ABDOMEN SANS PRÉPARATION'"), QStringList{"003"});
}

TEST_F(TableTest, RenamingKeepsTheCodeAndTheChosenOrderStays)
{
    AddRow("FBIO", "001", "UREE");
    AddRow("FBIO", "002", "GLYCEMIE");
    frm_->TableName = "FBIO";
    frm_->Title = "Examens Biologiques";
    ShowActive(frm_.get());
    EXPECT_EQ(Current("CODE"), "002");  // label order

    // Code order from the title, kept after a change.
    frm_->grdTable()->horizontalHeader()->sectionClicked(0);
    EXPECT_EQ(Current("CODE"), "001");
    QTest::mouseClick(frm_->btnModif(), Qt::LeftButton);
    EXPECT_EQ(frm_->lMode()->text(), "MODIFICATION");
    EXPECT_EQ(frm_->edCode()->text(), "001");
    frm_->edDesig()->clear();
    Type(frm_->edDesig(), "zinc");
    QTest::mouseClick(frm_->btnOk(), Qt::LeftButton);
    EXPECT_EQ(Rows("SELECT CODE, LIBELLE FROM FBIO ORDER BY CODE"), (QStringList{"001|ZINC", "002|GLYCEMIE"}));
    EXPECT_EQ(Current("CODE"), "001");
    frm_->qTable()->first();
    EXPECT_EQ(Current("CODE"), "001");  // still in code order, ZINC first
}

TEST_F(TableTest, DeletionAsksAndAFreedCodeStillUsedByExamsIsNotGivenAgain)
{
    AddRow("FRADIO", "001", "THORAX");
    AddRow("FRADIO", "002", "CRANE");
    Exec("INSERT INTO EXCOMP (NUM, PATIENT, RADIOBIO, CODE, RESULTAT) VALUES ('000001', '000001', 'R', '001', 'RAS')");
    ShowActive(frm_.get());
    frm_->grdTable()->horizontalHeader()->sectionClicked(0);

    messages_.Answer(QMessageBox::No);
    QTest::mouseClick(frm_->btnDelete(), Qt::LeftButton);
    EXPECT_EQ(messages_.Last().text, QString::fromUtf8("Ce code est utilisé par 1 examen, qui n'aura plus de nom "
                                                       "d'examen.\rEtes-vous sûr de vouloir supprimer cet "
                                                       "enregistrement ?"));
    EXPECT_EQ(Rows("SELECT CODE FROM FRADIO").size(), 2);
    messages_.Answer(QMessageBox::Yes);
    QTest::mouseClick(frm_->btnDelete(), Qt::LeftButton);
    EXPECT_EQ(Rows("SELECT CODE FROM FRADIO"), QStringList{"002"});
    // The exam keeps its code; the next label gets 003, not 001.
    Add("IRM");
    EXPECT_EQ(Rows("SELECT CODE FROM FRADIO ORDER BY CODE"), (QStringList{"002", "003"}));
    EXPECT_EQ(Rows("SELECT CODE FROM EXCOMP"), QStringList{"001"});

    // Deleting the last rows leaves Modifier and Supprimer off.
    messages_.SetDefaultAnswer(QMessageBox::Yes);
    QTest::mouseClick(frm_->btnDelete(), Qt::LeftButton);
    QTest::mouseClick(frm_->btnDelete(), Qt::LeftButton);
    EXPECT_TRUE(Rows("SELECT CODE FROM FRADIO").isEmpty());
    EXPECT_FALSE(frm_->btnDelete()->isEnabled());
    EXPECT_FALSE(frm_->PopMenu()->actions().at(2)->isEnabled());
}

// The question before deleting a biology code says how many biology exams
// use it (a radiology exam of the same code is not one of them).
TEST_F(TableTest, DeletingACodeInUseSaysHowManyExamsUseIt)
{
    AddRow("FBIO", "011", "GLYCEMIE");
    AddRow("FBIO", "012", "UREE");
    for (int i = 1; i <= 417; ++i)
        Exec("INSERT INTO EXCOMP (NUM, PATIENT, RADIOBIO, CODE, RESULTAT) VALUES (:N, '000001', 'B', '011', '1')",
            {{"N", QString("%1").arg(i, 6, 10, QChar('0'))}});
    Exec("INSERT INTO EXCOMP (NUM, PATIENT, RADIOBIO, CODE, RESULTAT) VALUES ('001000', '000001', 'R', '012', 'RAS')");
    frm_->TableName = "FBIO";
    frm_->Title = "Examens Biologiques";
    ShowActive(frm_.get());
    ASSERT_EQ(Current("CODE"), "011");
    messages_.Answer(QMessageBox::No);
    QTest::mouseClick(frm_->btnDelete(), Qt::LeftButton);
    ASSERT_EQ(messages_.Count(), 1);
    EXPECT_EQ(messages_.Last().text, QString::fromUtf8("Ce code est utilisé par 417 examens, qui n'auront plus de nom "
                                                       "d'examen.\rEtes-vous sûr de vouloir supprimer cet "
                                                       "enregistrement ?"));
    EXPECT_EQ(messages_.Last().buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(Rows("SELECT CODE FROM FBIO ORDER BY CODE"), (QStringList{"011", "012"}));
    // A code no biology exam uses: the plain question.
    frm_->qTable()->next();
    ASSERT_EQ(Current("CODE"), "012");
    messages_.Answer(QMessageBox::Yes);
    QTest::mouseClick(frm_->btnDelete(), Qt::LeftButton);
    EXPECT_EQ(messages_.Last().text, QString::fromUtf8("Etes-vous sûr de vouloir supprimer cet enregistrement ?"));
    EXPECT_EQ(Rows("SELECT CODE FROM FBIO"), QStringList{"011"});
}

// The label stops at its 60 characters, typed or pasted. Annuler, Esc and
// closing the dialog ask before they drop a typed label: No keeps it, Yes
// drops it; an untouched label goes without a question.
TEST_F(TableTest, TheLabelStopsAtItsWidthAndATypedLabelIsNotDroppedWithoutAQuestion)
{
    frm_->TableName = "FBIO";
    frm_->Title = "Examens Biologiques";
    ShowActive(frm_.get());
    QTest::mouseClick(frm_->btnAdd(), Qt::LeftButton);
    ASSERT_EQ(QApplication::focusWidget(), frm_->edDesig());
    QString label;
    for (int i = 1; label.size() < 79; ++i)
        label += QString::fromUtf8("dosage sérique %1 ").arg(i);
    QApplication::clipboard()->setText(label.left(79));
    QTest::keyClick(frm_->edDesig(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(frm_->edDesig()->text().size(), 60);
    QTest::keyClicks(frm_->edDesig(), "x");
    EXPECT_EQ(frm_->edDesig()->text().size(), 60);

    const QString question = QString::fromUtf8("Abandonner les modifications ?");
    messages_.Answer(QMessageBox::No);
    QTest::keyClick(frm_->edDesig(), Qt::Key_Escape);
    ASSERT_EQ(messages_.Count(), 1);
    EXPECT_EQ(messages_.Last().text, question);
    EXPECT_TRUE(frm_->pnlSaisie()->isVisible());
    messages_.Answer(QMessageBox::No);
    QTest::mouseClick(frm_->btnCancel(), Qt::LeftButton);
    EXPECT_EQ(messages_.Count(), 2);
    EXPECT_TRUE(frm_->pnlSaisie()->isVisible());
    messages_.Answer(QMessageBox::No);
    QTest::mouseClick(frm_->btnClose(), Qt::LeftButton);
    EXPECT_EQ(messages_.Count(), 3);
    EXPECT_TRUE(frm_->isVisible());
    QTest::keyClick(frm_->edDesig(), Qt::Key_Return);  // Valider
    const QString stored = label.left(60).toUpper().trimmed();
    EXPECT_EQ(Rows("SELECT CODE, LIBELLE FROM FBIO"), QStringList{"001|" + stored});
    EXPECT_EQ(Current("LIBELLE"), stored);

    // Modifier: untouched, Annuler asks nothing; changed, Yes drops it.
    QTest::mouseClick(frm_->btnModif(), Qt::LeftButton);
    QTest::mouseClick(frm_->btnCancel(), Qt::LeftButton);
    EXPECT_FALSE(frm_->pnlSaisie()->isVisible());
    EXPECT_EQ(messages_.Count(), 3);
    QTest::mouseClick(frm_->btnModif(), Qt::LeftButton);
    frm_->edDesig()->selectAll();
    QTest::keyClicks(frm_->edDesig(), "Z");
    messages_.Answer(QMessageBox::Yes);
    QTest::mouseClick(frm_->btnClose(), Qt::LeftButton);
    EXPECT_EQ(messages_.Count(), 4);
    EXPECT_FALSE(frm_->isVisible());
    EXPECT_EQ(Rows("SELECT LIBELLE FROM FBIO"), QStringList{stored});
}

TEST_F(TableTest, EveryCodeTakenGivesAMessageAndWritesNothing)
{
    // Width 1: ten codes, 0 to 9.
    frm_->CodeLength = 1;
    for (int i = 0; i < 10; ++i)
        AddRow("FRADIO", QString::number(i), "EXAMEN " + QString::number(i));
    ShowActive(frm_.get());
    Add("ONZIEME");
    ASSERT_EQ(messages_.Count(), 1);
    EXPECT_EQ(messages_.Last().text, "Plus aucun code libre dans la table FRADIO");
    EXPECT_EQ(Rows("SELECT CODE FROM FRADIO").size(), 10);
    EXPECT_TRUE(frm_->pnlSaisie()->isVisible());
}

TEST_F(RecordsTest, TheMainWindowOpensTheExamListsAndThePrescriptions)
{
    TfrmMain main(practice_.context());
    QStringList titles;
    const auto look = [&](QWidget* w) {
        titles << w->windowTitle();
        static_cast<QDialog*>(w)->close();
    };
    DialogScript script({look, look, look});
    main.mnExRadioClick();
    main.mnExBioClick();
    main.mnOrdonnancesClick();
    EXPECT_EQ(script.classes, (QStringList{"TfrmTable", "TfrmTable", "TfrmOrd"}));
    EXPECT_EQ(titles, (QStringList{"Examens Radiologiques", "Examens Biologiques", "Saisie des Ordonnances"}));
}

}  // namespace
