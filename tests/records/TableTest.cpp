// The reference-table editor on the exam lists: code allocation, renaming,
// deletion, bad labels, driven as a user does.
#include "RecordsFixture.h"

#include "app/main/UMain.h"
#include "app/records/UOrd.h"
#include "app/records/UTable.h"

#include "platform/ui/Messages.h"
#include "platform/ui/data/DataGrid.h"

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
    EXPECT_EQ(messages_.Last().text, QString::fromUtf8("Etes-vous sûr de vouloir supprimer cet enregistrement ?"));
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
