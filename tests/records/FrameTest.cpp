// The frames of the entry screens with a single border: the exam entry, the
// prescription editor, the appointment entry and the appointment list keep
// the size they open at, whatever the user drags or asks; and the
// prescription editor opens with its lines in hand, and a line added there
// but left untouched is never written.
#include "RecordsFixture.h"

#include "app/records/UExComp.h"
#include "app/records/UListRDV.h"
#include "app/records/UOrd.h"
#include "app/records/URDV.h"
#include "platform/ui/Messages.h"
#include "platform/ui/data/DataGrid.h"

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QStatusBar>
#include <QToolButton>

// Readable sizes in the failure messages.
inline void PrintTo(const QSize& s, std::ostream* os)
{
    *os << s.width() << "x" << s.height();
}

namespace {

// A window the user cannot resize: a bigger or a smaller size asked of it
// (what a drag of its frame asks) leaves it as it is, and it offers no
// maximise button; at that size every button shows its caption whole.
void ExpectSingleBorder(QWidget* window, const char* what)
{
    QApplication::processEvents();
    for (const QAbstractButton* b : window->findChildren<QAbstractButton*>())
        if (b->isVisibleTo(window) && !b->text().isEmpty()) {
            EXPECT_GE(b->width(), b->sizeHint().width()) << what << ": " << b->text().toStdString();
        }
    const QSize opened = window->size();
    EXPECT_EQ(window->minimumSize(), window->maximumSize()) << what;
    window->resize(opened + QSize(200, 150));
    QApplication::processEvents();
    EXPECT_EQ(window->size(), opened) << what << ": made bigger";
    window->resize(opened - QSize(100, 80));
    QApplication::processEvents();
    EXPECT_EQ(window->size(), opened) << what << ": made smaller";
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint) << what;
}

class FrameTest : public RecordsTest {
protected:
    void SetUp() override
    {
        RecordsTest::SetUp();
        AddPatient("000001", "DUPONT", "JEAN");
        Exec("INSERT INTO FBIO (CODE, LIBELLE) VALUES ('001', 'GLYCEMIE')");
        Exec("INSERT INTO FRADIO (CODE, LIBELLE) VALUES ('001', 'THORAX')");
        Exec("INSERT INTO FRDV (NUM, PATIENT, DATE_RDV, HRE_RDV, MOTIF) VALUES ('000001', '000001', :D, '09:00', "
             "'CONTROLE')",
            {{"D", QDate::currentDate()}});
        for (int n = 1; n <= 3; ++n)
            Exec("INSERT INTO FORD (CODE, NUM, MEDIC) VALUES ('1', :N, :M)",
                {{"N", n}, {"M", QString("MEDICAMENT %1").arg(n)}});
        CurrentPatientCode = "000001";
    }
    kui::ScopedMessageRecorder messages_;
};

TEST_F(FrameTest, TheEntryScreensKeepTheSizeTheyOpenAt)
{
    int heights[2] = {};
    for (const char* kind : {"B", "R"}) {
        TfrmExComp frm(practice_.context());
        frm.Patient = "000001";
        frm.RadioBio = kind;
        ShowActive(&frm);
        heights[kind[0] == 'R'] = frm.height();
        ExpectSingleBorder(&frm, kind[0] == 'R' ? "TfrmExComp radiology" : "TfrmExComp biology");
        messages_.Answer(QMessageBox::No);
        frm.close();
        EXPECT_FALSE(frm.isVisible());
    }
    EXPECT_GT(heights[1], heights[0]) << "the radiology entry, with its result on several lines, is the taller";
    {
        TfrmOrd frm(practice_.context());
        ShowActive(&frm);
        ExpectSingleBorder(&frm, "TfrmOrd");
    }
    {
        TfrmRDV frm(practice_.context());
        frm.NumRDV = "000001";
        frm.CodePatient = "000001";
        ShowActive(&frm);
        ExpectSingleBorder(&frm, "TfrmRDV");
        messages_.Answer(QMessageBox::No);
        frm.close();
        EXPECT_FALSE(frm.isVisible());
    }
    for (const auto& m : messages_.Records())
        EXPECT_TRUE(m.text.startsWith(QString::fromUtf8("Les informations modifiées"))) << m.text.toStdString();
}

// The appointment list, a child of the main window's client area: its frame
// keeps the size it opens at, and no grip in its corner offers another.
TEST_F(FrameTest, TheAppointmentListKeepsItsSize)
{
    QMdiArea area;
    area.resize(1100, 750);
    area.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&area));
    TfrmListRDV* list = ShowAppointmentList(practice_.context(), &area);
    auto* sub = qobject_cast<QMdiSubWindow*>(list->parentWidget());
    ASSERT_NE(sub, nullptr);
    ExpectSingleBorder(sub, "TfrmListRDV");
    for (const QStatusBar* bar : list->findChildren<QStatusBar*>())
        EXPECT_FALSE(bar->isSizeGripEnabled());
    EXPECT_EQ(list->grdRDV()->model()->rowCount(), 1);
    ReleaseAppointmentList();
}

// The grid has the focus when the editor opens: the arrow keys go through
// the lines of the prescription shown.
TEST_F(FrameTest, ThePrescriptionEditorOpensOnItsLines)
{
    TfrmOrd frm(practice_.context());
    ShowActive(&frm);
    EXPECT_EQ(frm.edCode()->text(), "1");
    ASSERT_EQ(QApplication::focusWidget(), frm.grdDetail());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    EXPECT_EQ(frm.tMedic()->fieldByName("MEDIC").asString().trimmed(), "MEDICAMENT 2");
    EXPECT_EQ(frm.tMedic()->state(), kdb::DatasetState::Browse);
}

// A line added and left as it came (Down past the last line, Nouvelle, the
// "+" button), its cell editor open and empty, is not written: closing the
// editor, or going to another line, leaves the prescriptions as they were.
TEST_F(FrameTest, AnUntouchedNewLineIsNeverWritten)
{
    const QString lines = "SELECT CODE, NUM, MEDIC, FORME FROM FORD ORDER BY CODE, NUM";
    const QStringList before = Rows(lines);
    ASSERT_EQ(before.size(), 3);
    {
        TfrmOrd frm(practice_.context());
        ShowActive(&frm);
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
        QApplication::processEvents();
        ASSERT_EQ(frm.tMedic()->state(), kdb::DatasetState::Insert);
        ASSERT_NE(qobject_cast<QLineEdit*>(QApplication::focusWidget()), nullptr) << "the new line's cell editor";
        QTest::mouseClick(frm.btnClose(), Qt::LeftButton);
        EXPECT_FALSE(frm.isVisible());
    }
    EXPECT_EQ(Rows(lines), before);
    {
        TfrmOrd frm(practice_.context());
        ShowActive(&frm);
        QTest::mouseClick(frm.btnNew(), Qt::LeftButton);
        QApplication::processEvents();
        ASSERT_EQ(frm.edCode()->text(), "2");
        QTest::mouseClick(frm.btnClose(), Qt::LeftButton);
        EXPECT_FALSE(frm.isVisible());
    }
    EXPECT_EQ(Rows(lines), before);
    {
        TfrmOrd frm(practice_.context());
        ShowActive(&frm);
        QTest::mouseClick(frm.btnAddLine(), Qt::LeftButton);
        QApplication::processEvents();
        ASSERT_EQ(frm.tMedic()->state(), kdb::DatasetState::Insert);
        kui::DataGrid* grid = frm.grdDetail();
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(grid->model()->index(0, 1)).center());
        EXPECT_EQ(frm.tMedic()->state(), kdb::DatasetState::Browse);
        EXPECT_EQ(grid->model()->rowCount(), 3);
        QTest::mouseClick(frm.btnClose(), Qt::LeftButton);
        EXPECT_FALSE(frm.isVisible());
    }
    EXPECT_EQ(Rows(lines), before);
    EXPECT_EQ(messages_.Count(), 0);
}

}  // namespace
