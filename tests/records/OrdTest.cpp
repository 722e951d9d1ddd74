// The prescription editor: numbers of prescriptions and lines, lines typed
// in the grid, deletions, driven as a user does.
#include "RecordsFixture.h"

#include "app/records/UOrd.h"

#include "platform/ui/Messages.h"
#include "platform/ui/data/DataControls.h"
#include "platform/ui/data/DataGrid.h"

#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>

namespace {

class OrdTest : public RecordsTest {
protected:
    static void AddLine(const QString& code, int num, const QString& medic, const QString& dosage = {})
    {
        Exec("INSERT INTO FORD (CODE, NUM, MEDIC, DOSAGE) VALUES (:C, :N, :M, :D)",
            {{"C", code}, {"N", num}, {"M", medic}, {"D", dosage}});
    }
    // Types into the cell editor the grid has opened and leaves the cell
    // as Enter does: the text is handed to the grid, the editor closed.
    static void TypeInCell(QAbstractItemView* grid, const QString& text)
    {
        QApplication::processEvents();
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        ASSERT_NE(editor, nullptr);
        for (const QChar c : text)
            QTest::sendKeyEvent(QTest::Click, editor, Qt::Key_unknown, QString(c), Qt::NoModifier);
        if (editor->text() != text)
            editor->setText(text);
        emit grid->itemDelegate()->commitData(editor);
        emit grid->itemDelegate()->closeEditor(editor, QAbstractItemDelegate::NoHint);
    }
    // A click on a cell of the grid.
    static void ClickCell(QAbstractItemView* grid, int row, int column)
    {
        QApplication::processEvents();
        const QRect cell = grid->visualRect(grid->model()->index(row, column));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
    }
    static void Key(Qt::Key key)
    {
        QApplication::processEvents();
        QWidget* w = QApplication::focusWidget();
        ASSERT_NE(w, nullptr);
        QTest::keyClick(w, key);
    }
    // The cell editor the grid has open (null when none).
    static QLineEdit* OpenEditor(QAbstractItemView* grid)
    {
        QApplication::processEvents();
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        return editor && grid->isAncestorOf(editor) ? editor : nullptr;
    }
    static QStringList Lines()
    {
        return Rows("SELECT CODE, NUM, MEDIC, DOSAGE, POSOLOGIE FROM FORD ORDER BY CODE, NUM");
    }
    kui::ScopedMessageRecorder messages_;
};

TEST_F(OrdTest, ANewPrescriptionTypedInTheGridWithItsNumbers)
{
    TfrmOrd frm(practice_.context());
    ShowActive(&frm);
    EXPECT_FALSE(frm.grdDetail()->isEnabled());

    QTest::mouseClick(frm.btnNew(), Qt::LeftButton);
    EXPECT_EQ(frm.edCode()->text(), "1");
    EXPECT_TRUE(frm.btnPost()->isEnabled());
    EXPECT_FALSE(frm.btnAddLine()->isEnabled());  // the list is still empty
    TypeInCell(frm.grdDetail(), "doliprane l'été");
    QTest::mouseClick(frm.btnPost(), Qt::LeftButton);
    EXPECT_EQ(Rows("SELECT CODE, NUM, MEDIC FROM FORD"), QStringList{"1|1|DOLIPRANE L'éTé"});
    EXPECT_TRUE(frm.btnAddLine()->isEnabled());
    EXPECT_FALSE(frm.OrdIsNew);

    // A second line by the button, a third by Down past the last one.
    QTest::mouseClick(frm.btnAddLine(), Qt::LeftButton);
    TypeInCell(frm.grdDetail(), "amoxicilline");
    QTest::keyClick(frm.grdDetail(), Qt::Key_Down);
    TypeInCell(frm.grdDetail(), "ventoline");
    QTest::mouseClick(frm.btnPost(), Qt::LeftButton);
    EXPECT_EQ(Rows("SELECT NUM, MEDIC FROM FORD WHERE CODE='1' ORDER BY NUM"),
        (QStringList{"1|DOLIPRANE L'éTé", "2|AMOXICILLINE", "3|VENTOLINE"}));
    EXPECT_EQ(Rows("SELECT MEDIC FROM FORD WHERE MEDIC='DOLIPRANE L''éTé'").size(), 1);

    // Cancelling the first line of a new prescription goes back to the last.
    QTest::mouseClick(frm.btnNew(), Qt::LeftButton);
    EXPECT_EQ(frm.edCode()->text(), "2");
    messages_.Answer(QMessageBox::Yes);
    QTest::mouseClick(frm.btnCancel(), Qt::LeftButton);
    EXPECT_EQ(messages_.Last().text, QString::fromUtf8("Etes-vous sûr de vouloir annuler ?"));
    EXPECT_EQ(frm.edCode()->text(), "1");
    EXPECT_EQ(Rows("SELECT DISTINCT CODE FROM FORD"), QStringList{"1"});
}

TEST_F(OrdTest, NumbersFollowTheGreatestAndAChangedLineMovesToTheEnd)
{
    for (int i = 1; i <= 10; ++i)
        AddLine(QString::number(i), 1, "MEDIC " + QString::number(i));
    AddLine("9", 2, "SIROP", "5ML");
    AddLine("9", 3, "GOUTTES");
    TfrmOrd frm(practice_.context());
    ShowActive(&frm);
    EXPECT_EQ(frm.edCode()->text(), "9");  // the last in text order
    EXPECT_EQ(TfrmOrd::NewOrdCode(), 11);

    // Line 1 of prescription 9 changed: it becomes line 4.
    frm.tMedic()->first();
    ASSERT_EQ(frm.tMedic()->fieldByName("NUM").asInteger(), 1);
    frm.grdDetail()->setFocus();
    frm.grdDetail()->setCurrentIndex(frm.grdDetail()->model()->index(0, 2));
    QTest::keyClick(frm.grdDetail(), Qt::Key_F2);
    TypeInCell(frm.grdDetail(), "1CP");
    QTest::mouseClick(frm.btnPost(), Qt::LeftButton);
    EXPECT_EQ(Rows("SELECT NUM, MEDIC, DOSAGE FROM FORD WHERE CODE='9' ORDER BY NUM"),
        (QStringList{"2|SIROP|5ML", "3|GOUTTES|", "4|MEDIC 9|1CP"}));
}

TEST_F(OrdTest, DeletingALineAndAWholePrescription)
{
    AddLine("1", 1, "A");
    AddLine("2", 1, "B");
    AddLine("2", 2, "C");
    TfrmOrd frm(practice_.context());
    ShowActive(&frm);
    ASSERT_EQ(frm.edCode()->text(), "2");

    frm.tMedic()->last();
    messages_.Answer(QMessageBox::Yes);
    QTest::mouseClick(frm.btnDelLine(), Qt::LeftButton);
    EXPECT_EQ(messages_.Last().text, QString::fromUtf8("Etes-vous sûr de vouloir supprimer ce médicament ?"));
    EXPECT_EQ(Rows("SELECT CODE, NUM, MEDIC FROM FORD ORDER BY MEDIC"), (QStringList{"1|1|A", "2|1|B"}));

    // A line being added, deleted before it is saved: it alone goes.
    QTest::mouseClick(frm.btnAddLine(), Qt::LeftButton);
    Keys("sirop");
    messages_.Answer(QMessageBox::Yes);
    QTest::mouseClick(frm.btnDelLine(), Qt::LeftButton);
    EXPECT_EQ(Rows("SELECT CODE, NUM, MEDIC FROM FORD ORDER BY MEDIC"), (QStringList{"1|1|A", "2|1|B"}));
    EXPECT_EQ(frm.tMedic()->state(), kdb::DatasetState::Browse);

    // Yes then No deletes nothing; two Yes delete the prescription.
    messages_.Answer(QMessageBox::Yes);
    messages_.Answer(QMessageBox::No);
    QTest::mouseClick(frm.btnDelete(), Qt::LeftButton);
    EXPECT_EQ(Rows("SELECT CODE FROM FORD").size(), 2);
    messages_.Answer(QMessageBox::Yes);
    messages_.Answer(QMessageBox::Yes);
    QTest::mouseClick(frm.btnDelete(), Qt::LeftButton);
    EXPECT_EQ(messages_.Last().text, QString::fromUtf8("Confirmer la suppression de cette Ordonnance ?"));
    EXPECT_EQ(Rows("SELECT CODE, MEDIC FROM FORD"), QStringList{"1|A"});
    EXPECT_EQ(frm.edCode()->text(), "1");
}

TEST_F(OrdTest, ALineChangedStaysInItsPrescriptionWhenTheNavigatorMoves)
{
    AddLine("1", 1, "ASPIRINE");
    AddLine("2", 1, "DOLIPRANE");
    TfrmOrd frm(practice_.context());
    ShowActive(&frm);
    ASSERT_EQ(frm.edCode()->text(), "2");
    QTest::mouseClick(frm.navOrd()->priorButton(), Qt::LeftButton);
    ASSERT_EQ(frm.edCode()->text(), "1");

    // The dosage typed and left with Enter, then the next prescription.
    ClickCell(frm.grdDetail(), 0, 2);
    Keys("500MG");
    Key(Qt::Key_Return);
    EXPECT_TRUE(frm.btnPost()->isEnabled());
    QTest::mouseClick(frm.navOrd()->nextButton(), Qt::LeftButton);
    EXPECT_EQ(frm.edCode()->text(), "2");
    EXPECT_EQ(Lines(), (QStringList{"1|2|ASPIRINE|500MG|", "2|1|DOLIPRANE||"}));
    EXPECT_EQ(frm.tMedic()->fieldByName("MEDIC").asString().trimmed(), "DOLIPRANE");

    // The cell editor still open when the previous one is asked for.
    ClickCell(frm.grdDetail(), 0, 2);
    Keys("1G");
    ASSERT_NE(OpenEditor(frm.grdDetail()), nullptr);
    QTest::mouseClick(frm.navOrd()->priorButton(), Qt::LeftButton);
    EXPECT_EQ(frm.edCode()->text(), "1");
    EXPECT_EQ(Lines(), (QStringList{"1|2|ASPIRINE|500MG|", "2|2|DOLIPRANE|1G|"}));
    EXPECT_EQ(messages_.Count(), 0);
}

TEST_F(OrdTest, WhatTheOpenCellEditorHoldsIsSavedWholeOrRefusedAsItIsTyped)
{
    TfrmOrd frm(practice_.context());
    ShowActive(&frm);

    // Enregistrer clicked while the editor of the new line is open.
    QTest::mouseClick(frm.btnNew(), Qt::LeftButton);
    Keys("aspirine");
    ASSERT_NE(OpenEditor(frm.grdDetail()), nullptr);
    QTest::mouseClick(frm.btnPost(), Qt::LeftButton);
    EXPECT_EQ(Lines(), QStringList{"1|1|ASPIRINE||"});

    // Down past the last line with the editor open keeps the line typed.
    QTest::mouseClick(frm.btnAddLine(), Qt::LeftButton);
    Keys("amoxicilline");
    Key(Qt::Key_Down);
    Keys("ventoline");
    QTest::mouseClick(frm.btnPost(), Qt::LeftButton);
    EXPECT_EQ(Lines(), (QStringList{"1|1|ASPIRINE||", "1|2|AMOXICILLINE||", "1|3|VENTOLINE||"}));

    // A cell takes no more than its column holds: what is stored is what
    // the editor shows.
    ClickCell(frm.grdDetail(), 0, 4);
    Keys(QString::fromUtf8("1 gél. matin, midi et soir pendant 10 jours"));
    QLineEdit* editor = OpenEditor(frm.grdDetail());
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->maxLength(), 20);
    EXPECT_EQ(editor->text(), QString::fromUtf8("1 gél. matin, midi e"));
    QTest::mouseClick(frm.btnPost(), Qt::LeftButton);
    EXPECT_EQ(Rows("SELECT POSOLOGIE FROM FORD WHERE MEDIC='ASPIRINE'"), QStringList{editor->text()});
    ClickCell(frm.grdDetail(), 0, 0);
    Keys(QString(45, QLatin1Char('x')));
    ASSERT_NE(OpenEditor(frm.grdDetail()), nullptr);
    EXPECT_EQ(OpenEditor(frm.grdDetail())->text().size(), 40);
    EXPECT_EQ(messages_.Count(), 0);
}

TEST_F(OrdTest, ALineBeingTypedIsNeverDroppedByEscOrByClosing)
{
    {
        TfrmOrd frm(practice_.context());
        ShowActive(&frm);
        QTest::mouseClick(frm.btnNew(), Qt::LeftButton);
        Keys("aspirine");
        Key(Qt::Key_Escape);  // closes the cell editor, the text stays in the line
        EXPECT_EQ(OpenEditor(frm.grdDetail()), nullptr);
        EXPECT_EQ(frm.tMedic()->fieldByName("MEDIC").asString(), "aspirine");
        Key(Qt::Key_Escape);
        if (frm.isVisible())
            QTest::mouseClick(frm.btnClose(), Qt::LeftButton);
        EXPECT_FALSE(frm.isVisible());
    }
    EXPECT_EQ(Lines(), QStringList{"1|1|ASPIRINE||"});

    // Fermer clicked with the editor of a new line open.
    TfrmOrd frm(practice_.context());
    ShowActive(&frm);
    QTest::mouseClick(frm.btnNew(), Qt::LeftButton);
    Keys("ventoline");
    ASSERT_NE(OpenEditor(frm.grdDetail()), nullptr);
    QTest::mouseClick(frm.btnClose(), Qt::LeftButton);
    EXPECT_FALSE(frm.isVisible());
    EXPECT_EQ(Lines(), (QStringList{"1|1|ASPIRINE||", "2|1|VENTOLINE||"}));
    EXPECT_EQ(messages_.Count(), 0);
}

// A letter FORD's code page lacks is shown in the cell as it is stored.
TEST_F(OrdTest, ALetterTheTableCannotHoldIsShownInTheCellAsItIsStored)
{
    TfrmOrd frm(practice_.context());
    ShowActive(&frm);
    QTest::mouseClick(frm.btnNew(), Qt::LeftButton);
    Keys(QString::fromUtf8("łactulose ≤ 3"));
    QLineEdit* editor = OpenEditor(frm.grdDetail());
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->text(), QString::fromUtf8("lactulose ? 3"));
    QTest::mouseClick(frm.btnPost(), Qt::LeftButton);
    EXPECT_EQ(Lines(), QStringList{QString::fromUtf8("1|1|LACTULOSE ? 3||")});
}

// A question box asked while a cell is being typed in, a real one over the
// screen: No leaves the cell editor open with its text, so the next keys go
// on where the user was; Yes to Annuler drops the change for good.
TEST_F(OrdTest, AQuestionWhileACellIsTypedLeavesItAsItWas)
{
    AddLine("1", 1, "ASPIRINE", "500 MG");
    kui::MessageService* recorder = kui::SetMessageService(nullptr);  // real boxes
    const auto answer = [](QMessageBox::StandardButton button) {
        return [button](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            ASSERT_NE(box, nullptr);
            box->button(button)->click();
        };
    };
    {
        TfrmOrd frm(practice_.context());
        ShowActive(&frm);
        ClickCell(frm.grdDetail(), 0, 2);
        Keys("250");
        ASSERT_NE(OpenEditor(frm.grdDetail()), nullptr);
        {
            DialogScript script({answer(QMessageBox::No), answer(QMessageBox::No)});
            QTest::mouseClick(frm.btnCancel(), Qt::LeftButton);
            ShowActive(&frm);  // the box gone, the window manager gives the screen back its focus
            Keys(" M");
            QTest::mouseClick(frm.btnDelLine(), Qt::LeftButton);
            ShowActive(&frm);
            Keys("G");
            EXPECT_EQ(script.classes, (QStringList{"QMessageBox", "QMessageBox"}));
        }
        QLineEdit* editor = OpenEditor(frm.grdDetail());
        ASSERT_NE(editor, nullptr);
        EXPECT_EQ(editor->text(), "250 MG");
        {
            DialogScript script({answer(QMessageBox::Yes)});
            QTest::mouseClick(frm.btnCancel(), Qt::LeftButton);
            ShowActive(&frm);
        }
        EXPECT_EQ(OpenEditor(frm.grdDetail()), nullptr);
        EXPECT_EQ(frm.tMedic()->state(), kdb::DatasetState::Browse);
        EXPECT_EQ(frm.tMedic()->fieldByName("DOSAGE").asString(), "500 MG");
        QTest::mouseClick(frm.btnClose(), Qt::LeftButton);
        EXPECT_FALSE(frm.isVisible());
    }
    kui::SetMessageService(recorder);
    EXPECT_EQ(Lines(), QStringList{"1|1|ASPIRINE|500 MG|"});
}

}  // namespace
