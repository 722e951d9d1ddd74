// Where the screens open and whether their lists are readable at their
// size: the screens the layout says are centred on the screen are, whatever
// window opened them; the appointment list opens in the middle of the main
// window's client area at its designed size; and no list hides a column
// behind a horizontal scroll bar, cuts a title or a date, or leaves its last
// column too narrow to read.
#include "RecordsFixture.h"

#include "app/backup/URestorFiles.h"
#include "app/main/UMain.h"
#include "app/main/UOption.h"
#include "app/records/UConsul.h"
#include "app/records/UExComp.h"
#include "app/records/UGetPatient.h"
#include "app/records/UListProt.h"
#include "app/records/UListRDV.h"
#include "app/records/UOrd.h"
#include "app/records/URDV.h"
#include "app/records/USelectOrd.h"
#include "app/records/UTable.h"
#include "platform/ui/Messages.h"
#include "ui_UConsul.h"

#include <QFile>
#include <QHeaderView>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QTableView>
#include <QTabBar>
#include <QTreeView>

namespace {

// Every list of Window that the user sees: no horizontal scroll bar, each
// title and each date whole, the last column at least eight characters.
void ExpectReadableLists(QWidget* window, const char* what)
{
    QApplication::processEvents();
    static const QRegularExpression date(QStringLiteral("^\\d\\d/\\d\\d/\\d{4}( \\d\\d:\\d\\d)?$"));
    int seen = 0;
    for (QAbstractItemView* view : window->findChildren<QAbstractItemView*>()) {
        auto* table = qobject_cast<QTableView*>(view);
        auto* tree = qobject_cast<QTreeView*>(view);
        if ((!table && !tree) || !view->isVisibleTo(window) || !view->model())
            continue;
        ++seen;
        const QString name = QString::fromLatin1(what) + "/" + view->objectName();
        const QHeaderView* header = table ? table->horizontalHeader() : tree->header();
        const int columns = view->model()->columnCount();
        EXPECT_FALSE(view->horizontalScrollBar()->isVisible()) << name.toStdString() << ": a column is behind a scroll bar";
        int total = 0;
        for (int c = 0; c < columns; ++c)
            total += header->sectionSize(c);
        EXPECT_LE(total, view->viewport()->width()) << name.toStdString();
        const QFontMetrics fm = view->fontMetrics();
        for (int c = 0; c < columns; ++c) {
            const int width = header->sectionSize(c);
            if (!header->isHidden()) {
                EXPECT_GE(width, header->sectionSizeHint(c)) << name.toStdString() << ": title of column " << c;
            }
            for (int r = 0; r < std::min(view->model()->rowCount(), 30); ++r) {
                const QString text = view->model()->index(r, c).data().toString().trimmed();
                if (date.match(text).hasMatch()) {
                    EXPECT_GE(width, fm.horizontalAdvance(text) + 6) << name.toStdString() << ": " << text.toStdString();
                }
            }
        }
        EXPECT_GE(header->sectionSize(columns - 1), 8 * fm.averageCharWidth()) << name.toStdString() << ": last column";
    }
    EXPECT_GT(seen, 0) << what;
}

// The window's middle against the screen's (its top-left corner when it is
// larger than the screen).
void ExpectCentredOnScreen(QWidget* w, const char* what)
{
    const QRect area = w->screen()->availableGeometry();
    const QRect frame = w->frameGeometry();
    if (frame.width() <= area.width())
        EXPECT_NEAR(frame.center().x(), area.center().x(), 2) << what;
    else
        EXPECT_EQ(frame.left(), area.left()) << what;
    if (frame.height() <= area.height())
        EXPECT_NEAR(frame.center().y(), area.center().y(), 2) << what;
    else
        EXPECT_EQ(frame.top(), area.top()) << what;
}

class PlacementTest : public RecordsTest {
protected:
    void SetUp() override
    {
        RecordsTest::SetUp();
        AddPatient("000001", "DUPONT-LAGARDE", "JEAN-BAPTISTE", "10/10/1950");
        const QDate day(2023, 12, 28);
        for (int n = 1; n <= 3; ++n) {
            Exec("INSERT INTO CONS (ID_CONS, PATIENT, DCONS, MOTIF) VALUES (:I, '000001', :D, :M)",
                {{"I", n}, {"D", day.addDays(n)}, {"M", "DOULEURS ABDOMINALES RECIDIVANTES"}});
            Exec("INSERT INTO EXCOMP (NUM, PATIENT, DATE_EX, RADIOBIO, CODE, RESULTAT) VALUES (:N, '000001', :D, 'B', '001', "
                 "'NORMAL')",
                {{"N", QString::number(n).rightJustified(6, '0')}, {"D", day.addDays(n)}});
            Exec("INSERT INTO FRDV (NUM, PATIENT, DATE_RDV, HRE_RDV, MOTIF) VALUES (:N, '000001', :D, :H, 'CONTROLE')",
                {{"N", QString::number(n).rightJustified(6, '0')}, {"D", QDate::currentDate()},
                    {"H", QString("%1:30").arg(8 + n, 2, 10, QChar('0'))}});
            Exec("INSERT INTO FPROT (NUM, DATE_PRT, CODE, NOM, CLINIQUE, OPERATEUR) VALUES (:N, :D, '000001', "
                 "'DUPONT-LAGARDE', 'CLINIQUE DU PARC', 'DR MARTIN')",
                {{"N", QString::number(n).rightJustified(6, '0')}, {"D", day.addDays(n)}});
            Exec("INSERT INTO FORD (CODE, NUM, MEDIC, FORME, DOSAGE, QTE, POSOLOGIE) VALUES ('1', :N, "
                 "'AMOXICILLINE ACIDE CLAVULANIQUE', 'COMPRIME', '1 G', '2 BOITES', '3 FOIS PAR JOUR')",
                {{"N", n}});
        }
        Exec("INSERT INTO FBIO (CODE, LIBELLE) VALUES ('001', 'NUMERATION FORMULE SANGUINE')");
        Exec("INSERT INTO FRADIO (CODE, LIBELLE) VALUES ('001', 'RADIOGRAPHIE DU THORAX')");
        CurrentPatientCode = "000001";
    }
    kui::ScopedMessageRecorder messages_;
};

// Opened from a window standing in a corner of the screen, the screens the
// layout centres on the screen are centred on the screen, not on it.
TEST_F(PlacementTest, ScreensCentredOnTheScreenWhateverWindowOpensThem)
{
    QWidget corner;
    corner.setGeometry(0, 0, 300, 200);
    corner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&corner));

    {
        TfrmTable frm(practice_.context(), &corner);
        frm.DatabaseName = DataPath;
        frm.TableName = "FBIO";
        frm.Title = "Examens Biologiques";
        frm.CodeLength = 3;
        ShowActive(&frm);
        ExpectCentredOnScreen(&frm, "TfrmTable");
        ExpectReadableLists(&frm, "TfrmTable");
    }
    for (const char* kind : {"B", "R"}) {
        TfrmExComp frm(practice_.context(), &corner);
        frm.Patient = "000001";
        frm.RadioBio = kind;
        ShowActive(&frm);
        ExpectCentredOnScreen(&frm, "TfrmExComp");
        messages_.Answer(QMessageBox::No);
        frm.close();
        EXPECT_FALSE(frm.isVisible());
    }
    {
        TfrmOrd frm(practice_.context(), &corner);
        ShowActive(&frm);
        ExpectCentredOnScreen(&frm, "TfrmOrd");
        ExpectReadableLists(&frm, "TfrmOrd");
    }
    {
        TfrmRDV frm(practice_.context(), &corner);
        frm.NumRDV = "000001";
        frm.CodePatient = "000001";
        ShowActive(&frm);
        ExpectCentredOnScreen(&frm, "TfrmRDV");
        messages_.Answer(QMessageBox::No);
        frm.close();
        EXPECT_FALSE(frm.isVisible());
    }
    {
        TfrmOption frm(practice_.context(), &corner);
        ShowActive(&frm);
        ExpectCentredOnScreen(&frm, "TfrmOption");
    }
}

// The appointment list opens in the middle of the client area at its size,
// its four columns in view, and stays there while the main window grows
// to its maximised size.
TEST_F(PlacementTest, TheAppointmentListOpensInTheMiddleOfTheClientArea)
{
    TfrmMain main(practice_.context());
    main.resize(1000, 700);
    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    TfrmListRDV* list = ShowAppointmentList(practice_.context(), main.ClientArea());
    auto* sub = qobject_cast<QMdiSubWindow*>(list->parentWidget());
    ASSERT_NE(sub, nullptr);
    QApplication::processEvents();
    auto expectCentred = [&] {
        const QRect room = main.ClientArea()->viewport()->rect();
        EXPECT_NEAR(sub->geometry().center().x(), room.center().x(), 1);
        EXPECT_NEAR(sub->geometry().center().y(), room.center().y(), 1);
    };
    expectCentred();
    EXPECT_GE(list->width(), 640);
    EXPECT_GE(list->height(), 440);
    ExpectReadableLists(list, "TfrmListRDV");

    main.resize(1200, 800);
    QApplication::processEvents();
    expectCentred();

    // Moved by the user, it stays where it was put.
    sub->move(10, 10);
    main.resize(1100, 750);
    QApplication::processEvents();
    EXPECT_EQ(sub->pos(), QPoint(10, 10));
    ReleaseAppointmentList();
}

TEST_F(PlacementTest, TheListsOfTheScreensShowTheirColumns)
{
    {
        TfrmConsul frm(practice_.context());
        ShowActive(&frm);
        Ui::TfrmConsul* ui = frm.form();
        ExpectReadableLists(&frm, "TfrmConsul");
        QTabBar* tabs = ui->pgControl->tabBar();
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(ui->pgControl->indexOf(ui->tsExams)).center());
        ASSERT_EQ(ui->pgControl->currentWidget(), ui->tsExams);
        ExpectReadableLists(&frm, "TfrmConsul, Ex. Compl.");
        EXPECT_GE(ui->grdBio->width(), 2 * ui->grdDates->width()) << "the exams beside their dates";
    }
    {
        TfrmGetPatient frm(practice_.context());
        ShowActive(&frm);
        Type(frm.edNom(), "DUP");
        QTest::keyClick(frm.edNom(), Qt::Key_Return);
        ExpectReadableLists(&frm, "TfrmGetPatient");
        frm.reject();
    }
    {
        TfrmListProt frm(practice_.context());
        ShowActive(&frm);
        ExpectReadableLists(&frm, "TfrmListProt");
    }
    {
        TfrmSelectOrd frm(practice_.context());
        ShowActive(&frm);
        ExpectReadableLists(&frm, "TfrmSelectOrd");
    }
    {
        QFile(DataPath + "Korvale_12.zip").open(QIODevice::WriteOnly);
        TfrmRestorFiles frm;
        ShowActive(&frm);
        ExpectReadableLists(&frm, "TfrmRestorFiles");
    }
}

}  // namespace
