// The grid model, the grid, the data-aware editors and the navigator over
// datasets of in-memory tables.
#include <gtest/gtest.h>

#include <QApplication>
#include <QBrush>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include "tests/db/dataset/PracticeDatasets.h"
#include "platform/db/core/Codepage.h"
#include "platform/ui/data/DataControls.h"
#include "platform/ui/data/DataGrid.h"
#include "platform/ui/data/DatasetModel.h"
#include "tests/support/TestApplication.h"

using namespace kdb;
using namespace kui;
using namespace kdbtest;

namespace {

class DataAwareUi : public PracticeDatasets {
protected:
    void SetUp() override
    {
        TestApplication();
        PracticeDatasets::SetUp();
    }
    void Open(TableDataset& t, const char* table)
    {
        t.setDatabase(db.database);
        t.setTableName(table);
        t.open();
    }
    void Open(QueryDataset& q, const QString& sql)
    {
        q.setDatabase(db.database);
        q.setSql(sql);
        q.open();
    }
};

std::vector<GridColumn> pickerColumns()
{
    return {{"NOM", "Nom"}, {"PRENOM", "Prénom"}, {"DN", "Date Nais.", Qt::AlignCenter, Qt::AlignCenter},
        {"PROFES", "Profession"}, {"ADR", "Adresse"}};
}

TEST_F(DataAwareUi, ModelShowsColumnsTitlesAndValues)
{
    QueryDataset q;
    Open(q, "SELECT CODE, NOM,PRENOM, DN, ADR, PROFES FROM PATIENT WHERE NOM LIKE 'DU%' ORDER BY NOM, PRENOM");
    DatasetModel m(&q);
    m.setColumns(pickerColumns());
    EXPECT_EQ(m.columnCount(), 5);
    EXPECT_EQ(m.rowCount(), 3);
    EXPECT_EQ(m.headerData(2, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>(), Qt::AlignCenter);
    EXPECT_EQ(m.data(m.index(0, 1)).toString(), "ALAIN");
    EXPECT_EQ(m.data(m.index(1, 2)).toString(), "01/02/1960");
    EXPECT_EQ(m.data(m.index(1, 2), Qt::TextAlignmentRole).value<Qt::Alignment>(), Qt::AlignCenter);
    EXPECT_FALSE(m.flags(m.index(0, 0)) & Qt::ItemIsEditable);  // a query is read-only
    // reopening with another text resets the model
    q.close();
    q.setSql("SELECT * FROM PATIENT WHERE NOM LIKE 'M%'");
    q.open();
    EXPECT_EQ(m.rowCount(), 1);
    EXPECT_EQ(m.data(m.index(0, 0)).toString(), "MARTIN");
}

TEST_F(DataAwareUi, RowPaintHooks)
{
    QueryDataset q;
    Open(q, "SELECT * FROM FBIO ORDER BY CODE");
    db.get("FBIO")->append({"003", "UREE"});
    q.close();
    q.open();
    DatasetModel m(&q);
    m.setRowPaint(alternateRowColors());
    auto bg = [&](int row) { return m.data(m.index(row, 0), Qt::BackgroundRole).value<QBrush>().color(); };
    auto fg = [&](int row) { return m.data(m.index(row, 0), Qt::ForegroundRole).value<QBrush>().color(); };
    EXPECT_EQ(bg(0), QColor(0, 0, 0x80));  // selected: white on dark blue
    EXPECT_EQ(fg(0), QColor(Qt::white));
    EXPECT_EQ(bg(1), QColor(0xEA, 0xEA, 0xEA));  // record 2
    EXPECT_FALSE(m.data(m.index(2, 0), Qt::BackgroundRole).isValid());  // record 3: default
    QSignalSpy changed(&m, &QAbstractItemModel::dataChanged);
    q.next();
    EXPECT_GE(changed.count(), 2);  // the old and the new current row repaint
    EXPECT_EQ(bg(1), QColor(0, 0, 0x80));
    EXPECT_FALSE(m.data(m.index(0, 0), Qt::BackgroundRole).isValid());
    m.setRowPaint(selectedRowColors());
    EXPECT_FALSE(m.data(m.index(0, 0), Qt::BackgroundRole).isValid());
    EXPECT_FALSE(m.data(m.index(2, 0), Qt::BackgroundRole).isValid());
}

TEST_F(DataAwareUi, LargeTableIsReadOnDemand)
{
    auto big = db.add("BIG.DBF", {{"CODE", 'C', 6}, {"NOM", 'C', 30}});
    for (int i = 0; i < 200000; ++i)
        big->append({QString::number(i).rightJustified(6, '0'), "X"});
    TableDataset t;
    t.setDatabase(db.database);
    t.setTableName("BIG");
    big->valueReads = 0;
    t.open();
    DatasetModel m(&t);
    int first = m.rowCount();
    EXPECT_GT(first, 0);
    EXPECT_LE(first, 512);
    EXPECT_TRUE(m.canFetchMore({}));
    for (int r = 0; r < 40; ++r)
        for (int c = 0; c < m.columnCount(); ++c)
            (void)m.data(m.index(r, c));
    EXPECT_LT(big->valueReads, 1000);  // what a screenful costs, not the table
    m.fetchMore({});
    EXPECT_EQ(m.rowCount(), first + 256);
    t.moveToRow(2000);  // the cursor reads further: the model follows
    EXPECT_GE(m.rowCount(), 2001);
    EXPECT_EQ(m.data(m.index(2000, 0)).toString(), "002000");
    t.last();
    EXPECT_EQ(m.rowCount(), 200000);
    EXPECT_FALSE(m.canFetchMore({}));

    // Moved to a record far on, the grid shows the rows around it and reads
    // those before them when it is scrolled to its top.
    t.close();
    t.open();
    DataGrid grid;
    grid.bind(&t, {{"CODE", "Code"}});
    grid.resize(300, 200);
    big->valueReads = 0;
    ASSERT_TRUE(t.gotoRecord(150001));
    EXPECT_LT(big->valueReads, 1000);
    EXPECT_EQ(grid.model()->data(grid.model()->index(t.currentRow(), 0)).toString(), "150000");
    const int before = t.currentRow();
    grid.verticalScrollBar()->setValue(grid.verticalScrollBar()->minimum());
    EXPECT_GT(t.currentRow(), before);
    EXPECT_EQ(grid.currentIndex().row(), t.currentRow());
    EXPECT_EQ(grid.model()->data(grid.model()->index(t.currentRow() - 1, 0)).toString(), "149999");
    EXPECT_EQ(t.fieldByName("CODE").asString(), "150000");
}

TEST_F(DataAwareUi, InPlaceEditingPostsWhenTheRowChanges)
{
    TableDataset lines;
    openPrescriptionOne(lines);
    DataGrid grid;
    DatasetModel* m = grid.bind(&lines,
        {{"MEDIC", "Médicament", {}, Qt::AlignLeft, true}, {"FORME", "Forme", {}, Qt::AlignLeft, true}, {"NUM", "N°"}});
    ASSERT_EQ(m->rowCount(), 2);
    EXPECT_TRUE(m->flags(m->index(0, 0)) & Qt::ItemIsEditable);
    EXPECT_FALSE(m->flags(m->index(0, 2)) & Qt::ItemIsEditable);
    EXPECT_TRUE(m->setData(m->index(1, 1), "SIROP"));
    EXPECT_EQ(lines.state(), DatasetState::Edit);
    EXPECT_EQ(lines.currentRow(), 1);
    EXPECT_EQ(m->data(m->index(1, 1)).toString(), "SIROP");
    grid.selectRow(0);  // leaving the row posts it
    EXPECT_EQ(lines.state(), DatasetState::Browse);
    EXPECT_EQ(lines.currentRow(), 0);
    EXPECT_EQ(db.get("FORD")->value(2, 3).toString(), "SIROP");
    lines.last();
    EXPECT_EQ(grid.currentIndex().row(), 1);  // the selection follows the cursor

    QueryDataset ro;
    Open(ro, "SELECT * FROM FORD");
    DataGrid roGrid;
    DatasetModel* rm = roGrid.bind(&ro, {{"MEDIC", "Médicament", {}, Qt::AlignLeft, true}});
    EXPECT_FALSE(rm->setData(rm->index(0, 0), "X"));
}

// A cell editor closed on the text it opened with: no edit of the row, and
// a new row nobody typed in is dropped when left.
TEST_F(DataAwareUi, ACellLeftAsItWasChangesNothing)
{
    TableDataset lines;
    openPrescriptionOne(lines);
    DataGrid grid;
    DatasetModel* m = grid.bind(&lines, {{"MEDIC", "Médicament", {}, Qt::AlignLeft, true}});
    ASSERT_EQ(m->rowCount(), 2);
    const uint32_t stored = db.get("FORD")->recordCount();
    const QString medic = m->data(m->index(1, 0), Qt::EditRole).toString();
    EXPECT_TRUE(m->setData(m->index(1, 0), medic));
    EXPECT_EQ(lines.state(), DatasetState::Browse);

    lines.append();
    ASSERT_EQ(lines.state(), DatasetState::Insert);
    const int added = lines.currentRow();
    EXPECT_TRUE(m->setData(m->index(added, 0), QString()));
    EXPECT_FALSE(lines.modified());
    lines.checkBrowseMode();
    EXPECT_EQ(lines.state(), DatasetState::Browse);
    EXPECT_EQ(m->rowCount(), 2);
    EXPECT_EQ(db.get("FORD")->recordCount(), stored);
}

TEST_F(DataAwareUi, BadValueInGridIsRefusedWithItsMessage)
{
    TableDataset rdv;
    Open(rdv, "FRDV");
    DatasetModel m(&rdv);
    m.setColumns({{"DATE_RDV", "Date", {}, Qt::AlignLeft, true}});
    QSignalSpy failed(&m, &DatasetModel::editFailed);
    EXPECT_FALSE(m.setData(m.index(0, 0), "32/13/2024"));
    EXPECT_EQ(failed.count(), 1);
    EXPECT_FALSE(m.lastError().isEmpty());
    EXPECT_TRUE(m.setData(m.index(0, 0), "06/03/2024"));
    rdv.post();
    EXPECT_EQ(db.get("FRDV")->value(1, 2).toDate(), QDate(2024, 3, 6));
}

TEST_F(DataAwareUi, LineEditFollowsTheRecordAndWritesUpperCase)
{
    TableDataset p;
    p.setDatabase(db.database);
    p.setTableName("Patient");
    p.setIndexFieldNames("NOM");
    p.open();
    DataLineEdit ed;
    ed.setUpperCase(true);
    ed.setFocusColour(QColor(0xAA, 0xEE, 0xFF));
    ed.bind(&p, "NOM");
    EXPECT_EQ(ed.text(), "D'ARC");
    EXPECT_EQ(ed.maxLength(), 30);
    p.next();
    EXPECT_EQ(ed.text(), "DUPONT");
    ed.clear();
    QTest::keyClicks(&ed, "lebon");
    EXPECT_EQ(ed.text(), "LEBON");
    EXPECT_EQ(p.state(), DatasetState::Edit);
    EXPECT_EQ(p.fieldByName("NOM").asString(), "LEBON");
    p.cancel();
    EXPECT_EQ(ed.text(), "DUPONT");

    QFocusEvent in(QEvent::FocusIn);
    QApplication::sendEvent(&ed, &in);
    EXPECT_EQ(ed.palette().color(QPalette::Base), QColor(0xAA, 0xEE, 0xFF));
    QFocusEvent out(QEvent::FocusOut);
    QApplication::sendEvent(&ed, &out);
    EXPECT_NE(ed.palette().color(QPalette::Base), QColor(0xAA, 0xEE, 0xFF));
}

TEST_F(DataAwareUi, ARefusedValueIsReportedAndTheFieldShownAgain)
{
    TableDataset ord;
    Open(ord, "FORD");
    DataLineEdit ed;
    ed.bind(&ord, "NUM");
    const QString before = ed.text();
    ASSERT_FALSE(before.isEmpty());
    QSignalSpy failed(&ed, &DataLineEdit::writeFailed);
    ed.setFocus();
    ed.end(false);
    QTest::keyClicks(&ed, "x");
    ASSERT_EQ(failed.count(), 1);
    EXPECT_FALSE(failed.at(0).at(0).toString().isEmpty());
    EXPECT_EQ(ed.text(), before);
    EXPECT_EQ(ord.fieldByName("NUM").asString(), before);
}

TEST_F(DataAwareUi, MemoAndComboWriteTheirField)
{
    TableDataset prot;
    Open(prot, "FPROT");
    DataMemo memo;
    memo.bind(&prot, "DIAG");
    EXPECT_EQ(memo.toPlainText(), "APPENDICITE");
    memo.setPlainText("PERITONITE\nSECONDE LIGNE");
    EXPECT_EQ(prot.state(), DatasetState::Edit);
    prot.post();
    EXPECT_EQ(db.get("FPROT")->value(1, 10).toString(), "PERITONITE\nSECONDE LIGNE");

    DataComboBox combo;
    combo.setUpperCase(true);
    combo.addItems({"CLINIQUE DU PARC", "HOPITAL NORD"});
    combo.bind(&prot, "CLINIQUE");
    EXPECT_EQ(combo.currentText(), "CLINIQUE DU PARC");
    combo.setCurrentText("hopital nord");
    EXPECT_EQ(prot.fieldByName("CLINIQUE").asString(), "HOPITAL NORD");
    prot.cancel();
    combo.setReadOnly(true);
    combo.setCurrentText("AUTRE");
    EXPECT_EQ(prot.state(), DatasetState::Browse);
    EXPECT_EQ(combo.currentText(), "CLINIQUE DU PARC");
}

// A memo of a character field stops at the field's width whatever way the
// text comes in: keys, Enter, a paste in the middle, a composed text, or the
// program; what it shows is what the field holds, and undo takes a cut
// paste back whole.
TEST_F(DataAwareUi, MemoOfACharacterFieldStopsAtItsWidth)
{
    TableDataset p;
    prepare(p, "Patient", "NOM");
    p.open();
    const int width = p.fieldByName("ANTPERS").size();
    ASSERT_GT(width, 20);
    DataMemo memo;
    memo.bind(&p, "ANTPERS");
    EXPECT_EQ(PlainTextMaxLength(&memo), width);
    memo.show();
    memo.setFocus();

    QTest::keyClicks(&memo, QString(width - 3, 'a'));
    QTest::keyClicks(&memo, "bcdefg");
    EXPECT_EQ(memo.toPlainText(), QString(width - 3, 'a') + "bcd");
    QTest::keyClick(&memo, Qt::Key_Return);
    EXPECT_EQ(memo.toPlainText().size(), width);
    EXPECT_EQ(p.state(), DatasetState::Edit);
    EXPECT_EQ(p.fieldByName("ANTPERS").asString(), memo.toPlainText());

    // A paste between two words keeps what fits and both words.
    memo.selectAll();
    QTest::keyClick(&memo, Qt::Key_Delete);
    QTest::keyClicks(&memo, "debut fin");
    memo.moveCursor(QTextCursor::StartOfLine);
    for (int i = 0; i < 6; ++i)
        QTest::keyClick(&memo, Qt::Key_Right);
    QApplication::clipboard()->setText(QString(2 * width, 'X'));
    QTest::keyClick(&memo, Qt::Key_V, Qt::ControlModifier);
    const QString pasted = "debut " + QString(width - 9, 'X') + "fin";
    EXPECT_EQ(memo.toPlainText(), pasted);
    EXPECT_EQ(memo.textCursor().position(), width - 3);
    EXPECT_EQ(p.fieldByName("ANTPERS").asString(), pasted);
    QTest::keyClick(&memo, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(memo.toPlainText(), "debut fin");
    EXPECT_EQ(p.fieldByName("ANTPERS").asString(), "debut fin");

    // A composed text (input method) is cut the same way.
    memo.moveCursor(QTextCursor::End);
    QInputMethodEvent composed;
    composed.setCommitString(QString(width, QChar(0xE9)));
    QApplication::sendEvent(&memo, &composed);
    EXPECT_EQ(memo.toPlainText(), "debut fin" + QString(width - 9, QChar(0xE9)));

    // A text the program sets is cut at its end.
    memo.setPlainText(QString(width + 10, 'y'));
    EXPECT_EQ(memo.toPlainText(), QString(width, 'y'));
    EXPECT_EQ(p.fieldByName("ANTPERS").asString(), QString(width, 'y'));
    p.cancel();

    // A plain editor takes the limit it is given; 0 lifts it.
    QPlainTextEdit plain;
    SetPlainTextMaxLength(&plain, 5);
    QTest::keyClicks(&plain, "abcdefgh");
    EXPECT_EQ(plain.toPlainText(), "abcde");
    SetPlainTextMaxLength(&plain, 3);
    EXPECT_EQ(plain.toPlainText(), "abc");
    SetPlainTextMaxLength(&plain, 0);
    QTest::keyClicks(&plain, "def");
    EXPECT_EQ(plain.toPlainText(), "abcdef");
}

// An editor given a code page shows at once what the table will store of
// a character it lacks, typed, pasted or set; the limit of a memo and the
// code page work together, and undo takes back the change whole.
TEST_F(DataAwareUi, EditorsOfACodePageShowWhatTheTableStores)
{
    // Keys of any letter, each with its text.
    const auto type = [](QWidget* w, const QString& text) {
        for (const QChar c : text)
            QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
    };
    QTextEdit rich;
    SetCodePage(&rich, kdb::kCodePage1252);
    type(&rich, QString::fromUtf8("SpO₂ ≥ 95"));
    EXPECT_EQ(rich.toPlainText(), QString::fromUtf8("SpO2 ? 95"));
    QApplication::clipboard()->setText(QString::fromUtf8("\nβ → α"));
    QTest::keyClick(&rich, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(rich.toPlainText(), QString::fromUtf8("SpO2 ? 95\n? ? ?"));
    QTest::keyClick(&rich, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(rich.toPlainText(), QString::fromUtf8("SpO2 ? 95"));

    QPlainTextEdit plain;
    plain.setPlainText(QString::fromUtf8("Łódź"));
    SetCodePage(&plain, kdb::kCodePage437);
    SetPlainTextMaxLength(&plain, 6);
    EXPECT_EQ(plain.toPlainText(), QString::fromUtf8("Lódz"));
    plain.moveCursor(QTextCursor::End);
    type(&plain, QString::fromUtf8("Àœil"));
    EXPECT_EQ(plain.toPlainText(), QString::fromUtf8("LódzA?"));

    QLineEdit line;
    SetCodePage(&line, kdb::kCodePage1252);
    type(&line, QString::fromUtf8("Ørsted ≈"));
    EXPECT_EQ(line.text(), QString::fromUtf8("Ørsted ?"));
    line.setText(QString::fromUtf8("Łaba"));
    EXPECT_EQ(line.text(), QString::fromUtf8("Laba"));
}

// The address combo of a character field takes no more than its width,
// typed or pasted.
TEST_F(DataAwareUi, ComboOfACharacterFieldStopsAtItsWidth)
{
    TableDataset p;
    prepare(p, "Patient", "NOM");
    p.open();
    const int width = p.fieldByName("ADR").size();
    DataComboBox combo;
    combo.bind(&p, "ADR");
    ASSERT_NE(combo.lineEdit(), nullptr);
    combo.lineEdit()->selectAll();
    QApplication::clipboard()->setText(QString(width + 15, 'R'));
    QTest::keyClick(combo.lineEdit(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(combo.currentText(), QString(width, 'R'));
    EXPECT_EQ(p.fieldByName("ADR").asString(), QString(width, 'R'));
    QTest::keyClicks(combo.lineEdit(), "S");
    EXPECT_EQ(combo.currentText(), QString(width, 'R'));
    p.cancel();
}

TEST_F(DataAwareUi, LookupComboShowsLabelsAndKeepsCodes)
{
    QueryDataset bio;
    Open(bio, "SELECT * FROM FBIO.DBF ORDER BY LIBELLE");
    TableDataset exams;
    Open(exams, "EXCOMP");
    DataLookupComboBox cmb;
    cmb.setListSource(&bio, "CODE", "LIBELLE");
    ASSERT_EQ(cmb.count(), 2);
    EXPECT_EQ(cmb.itemText(0), "GLYCEMIE");
    EXPECT_EQ(cmb.currentIndex(), -1);  // no selection until bound or set
    cmb.bind(&exams, "CODE");
    EXPECT_EQ(cmb.currentText(), "NFS");  // exam 1 has code 001
    exams.next();
    EXPECT_EQ(cmb.currentText(), "GLYCEMIE");
    cmb.activated(1);  // the user picks NFS
    EXPECT_EQ(exams.state(), DatasetState::Edit);
    EXPECT_EQ(exams.fieldByName("CODE").asString(), "001");
    exams.cancel();
    DataLookupComboBox unbound;
    unbound.setListSource(&bio, "CODE", "LIBELLE");
    unbound.setKeyValue("002");
    EXPECT_EQ(unbound.currentText(), "GLYCEMIE");
    EXPECT_EQ(unbound.keyValue().toString(), "002");
    unbound.setKeyValue("999");
    EXPECT_FALSE(unbound.keyValue().isValid());
}

TEST_F(DataAwareUi, NavigatorEnablesByPosition)
{
    QueryDataset ord;
    ord.setDatabase(db.database);
    ord.setSql(QStringList{"SELECT DISTINCT CODE FROM FORD", "ORDER BY CODE"});
    ord.open();
    DataNavigator nav;
    nav.bind(&ord);
    EXPECT_FALSE(nav.firstButton()->isEnabled());
    EXPECT_TRUE(nav.nextButton()->isEnabled());
    nav.lastButton()->click();
    EXPECT_EQ(ord.fieldByName("CODE").asString(), "2");
    EXPECT_FALSE(nav.nextButton()->isEnabled());
    EXPECT_TRUE(nav.priorButton()->isEnabled());
    nav.priorButton()->click();
    EXPECT_EQ(ord.fieldByName("CODE").asString(), "10");
    ord.close();
    EXPECT_FALSE(nav.priorButton()->isEnabled());
    EXPECT_FALSE(nav.lastButton()->isEnabled());
}

}  // namespace
