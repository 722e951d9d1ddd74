// What the screens look like: the painted rows and cell edges of the lists,
// the gradient behind the consultation's pages, the raised patient banner
// of the exam and appointment entries, the chosen line of the prescription
// choice.
#include "RecordsFixture.h"

#include "app/records/UConsul.h"
#include "app/records/UExComp.h"
#include "app/records/UListRDV.h"
#include "app/records/UOrd.h"
#include "app/records/URDV.h"
#include "app/records/USelectOrd.h"
#include "app/records/UTable.h"
#include "controls/DcLabel.h"
#include "controls/Gradient.h"
#include "platform/ui/Messages.h"
#include "platform/ui/data/DataGrid.h"
#include "ui_UConsul.h"

#include <QImage>
#include <QLabel>
#include <QTabBar>
#include <QToolButton>

namespace {

const QColor kGrey(0xEA, 0xEA, 0xEA);
const QColor kNavy(0x00, 0x00, 0x80);
const QColor kSilver(0xC0, 0xC0, 0xC0);

// Pixels of Colour in Area of Image.
int Count(const QImage& image, const QRect& area, const QColor& colour)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += image.pixelColor(x, y) == colour;
    return n;
}

// The list as painted: for each row, its background (an empty spot of every
// cell) and the two lines at the left edge of every cell but the first;
// the selected row white on navy, the even records grey, the others white.
void ExpectPaintedList(kui::DataGrid* grid, int selectedRow, bool edgeLines)
{
    QApplication::processEvents();
    const QImage image = grid->viewport()->grab().toImage();
    const QColor highlight = grid->palette().color(QPalette::Active, QPalette::Highlight);
    const QColor white = grid->palette().color(QPalette::Base);
    const int rows = grid->model()->rowCount(), columns = grid->model()->columnCount();
    ASSERT_GE(rows, 3);
    for (int row = 0; row < rows; ++row) {
        const QColor want = row == selectedRow ? kNavy : row % 2 == 1 ? kGrey : white;
        const int top = grid->rowViewportPosition(row);
        for (int column = 0; column < columns; ++column) {
            const int left = grid->columnViewportPosition(column);
            EXPECT_EQ(image.pixelColor(left + grid->columnWidth(column) - 5, top + 2), want)
                << "row " << row << ", column " << column;
            if (column == 0)
                continue;
            const int middle = top + grid->rowHeight(row) / 2;
            EXPECT_EQ(image.pixelColor(left - 2, middle) == kSilver, edgeLines) << "row " << row << ", column " << column;
            EXPECT_EQ(image.pixelColor(left - 1, middle) == highlight, edgeLines)
                << "row " << row << ", column " << column;
        }
    }
    int light = 0;
    for (int y = grid->rowViewportPosition(selectedRow); y < grid->rowViewportPosition(selectedRow) + grid->rowHeight(selectedRow); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            light += c.red() > 0xD0 && c.green() > 0xD0 && c.blue() > 0xD0;
        }
    EXPECT_GT(light, 10) << "the selected row's text is white";
}

class LookTest : public RecordsTest {
protected:
    kui::ScopedMessageRecorder messages_;
};

TEST_F(LookTest, ReferenceTableRowsAndCellEdgesArePainted)
{
    for (const char* label : {"ANGIOGRAPHIE", "CRANE", "ECHOGRAPHIE", "FEMUR"})
        Exec("INSERT INTO FRADIO (CODE, LIBELLE) VALUES (:C, :L)",
            {{"C", QString::number(Rows("SELECT CODE FROM FRADIO").size() + 1).rightJustified(3, '0')}, {"L", label}});
    TfrmTable frm(practice_.context());
    frm.DatabaseName = DataPath;
    frm.TableName = "FRADIO";
    frm.Title = "Examens Radiologiques";
    frm.CodeLength = 3;
    ShowActive(&frm);
    kui::DataGrid* grid = frm.grdTable();
    ExpectPaintedList(grid, 0, true);

    // A click on the third row: it becomes the navy one.
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(grid->model()->index(2, 1)).center());
    EXPECT_EQ(frm.qTable()->fieldByName("LIBELLE").asString().trimmed(), "ECHOGRAPHIE");
    ExpectPaintedList(grid, 2, true);
}

TEST_F(LookTest, PrescriptionLinesAreGridPaintedAsTheReferenceTable)
{
    for (int n = 1; n <= 4; ++n)
        Exec("INSERT INTO FORD (CODE, NUM, MEDIC, DOSAGE) VALUES ('1', :N, :M, '500 MG')",
            {{"N", n}, {"M", QString("MEDICAMENT %1").arg(n)}});
    TfrmOrd frm(practice_.context());
    ShowActive(&frm);
    kui::DataGrid* grid = frm.grdDetail();
    grid->clearFocus();
    ExpectPaintedList(grid, 0, true);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(grid->model()->index(3, 2)).center());
    grid->clearFocus();
    ExpectPaintedList(grid, 3, true);
}

TEST_F(LookTest, TheAppointmentListPaintsRowsWithoutCellEdges)
{
    AddPatient("000001", "DUPONT", "JEAN");
    for (int n = 1; n <= 3; ++n)
        Exec("INSERT INTO FRDV (NUM, PATIENT, DATE_RDV, HRE_RDV, MOTIF) VALUES (:N, '000001', :D, :H, 'CONTROLE')",
            {{"N", QString::number(n).rightJustified(6, '0')}, {"D", QDate::currentDate()},
                {"H", QString("%1:00").arg(8 + n, 2, 10, QChar('0'))}});
    TfrmListRDV list(practice_.context());
    ShowActive(&list);
    ExpectPaintedList(list.grdRDV(), 0, false);
}

// The choice of a prescription shows its lines on light grey, the line
// chosen white on navy as in the other lists.
TEST_F(LookTest, ThePrescriptionChoicePaintsItsChosenLine)
{
    for (int n = 1; n <= 4; ++n)
        Exec("INSERT INTO FORD (CODE, NUM, MEDIC, DOSAGE) VALUES ('1', :N, :M, '500 MG')",
            {{"N", n}, {"M", QString("MEDICAMENT %1").arg(n)}});
    TfrmSelectOrd frm(practice_.context());
    ShowActive(&frm);
    kui::DataGrid* grid = frm.grdDetail();
    EXPECT_EQ(grid->palette().color(QPalette::Base), kGrey);
    ExpectPaintedList(grid, 0, false);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(grid->model()->index(2, 1)).center());
    EXPECT_EQ(frm.qMedic()->fieldByName("MEDIC").asString().trimmed(), "MEDICAMENT 3");
    grid->clearFocus();
    ExpectPaintedList(grid, 2, false);
}

// The gradient band lies behind the controls of whichever page is chosen,
// over the whole page.
TEST_F(LookTest, TheConsultationPagesShowTheGradientOfTheChosenPage)
{
    AddPatient("000001", "DUPONT", "JEAN");
    CurrentPatientCode = "000001";
    TfrmConsul frm(practice_.context());
    ShowActive(&frm);
    Ui::TfrmConsul* ui = frm.form();
    for (int page = 0; page < ui->pgControl->count(); ++page) {
        QTabBar* tabs = ui->pgControl->tabBar();
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(page).center());
        QApplication::processEvents();
        QWidget* shown = ui->pgControl->currentWidget();
        ASSERT_EQ(shown, ui->pgControl->widget(page));
        const QImage image = shown->grab().toImage();
        const QImage band = frm.Gradient1()->grab().toImage();
        ASSERT_EQ(band.size(), image.size()) << "page " << page;
        // Where no control covers the page, the user sees the band: white at
        // the sides, silver in the middle.
        int seen = 0, silver = 0;
        for (int y = 0; y < image.height(); y += 7)
            for (int x = 0; x < image.width(); x += 7) {
                if (shown->childAt(x, y) != frm.Gradient1())
                    continue;
                ++seen;
                EXPECT_EQ(image.pixelColor(x, y), band.pixelColor(x, y)) << "page " << page << " at " << x << "," << y;
                silver += qAbs(x - image.width() / 2) < 10 && image.pixelColor(x, y).red() < 0xC8;
            }
        EXPECT_GT(seen, 20) << "page " << page;
        EXPECT_GT(silver, 0) << "page " << page;
        EXPECT_EQ(band.pixelColor(0, band.height() / 2), QColor(Qt::white));
        EXPECT_LE(band.pixelColor(band.width() / 2, band.height() / 2).red(), 0xC2);
    }
}

// The patient banner of the exam entry (opened from the consultation) and
// of the appointment entry: raised text under the title "Patient".
TEST_F(LookTest, ThePatientBannerOfTheEntriesIsRaisedText)
{
    AddPatient("000001", "DUPONT", "JEAN");
    auto expectRaised = [](QDialog& frm, const QString& title, const QString& text) {
        QApplication::processEvents();
        auto* banner = frm.findChild<QWidget*>("lPatient");
        ASSERT_NE(banner, nullptr);
        EXPECT_STREQ(banner->metaObject()->className(), "TDcLabel");
        auto* label = qobject_cast<TDcLabel*>(banner);
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->TextStyle(), tsRaised);
        EXPECT_EQ(label->text(), text);
        const QImage image = label->grab().toImage();
        const QColor light = TColorToQColor(ResolveColor(label->HighlightColor()));
        const QColor dark = TColorToQColor(ResolveColor(label->ShadowColor()));
        EXPECT_GT(Count(image, image.rect(), light), 10) << "the light copy of the text";
        EXPECT_GT(Count(image, image.rect(), dark), 10) << "the shadow copy of the text";
        QLabel* over = nullptr;
        for (QLabel* l : frm.findChildren<QLabel*>())
            if (l->text() == title)
                over = l;
        ASSERT_NE(over, nullptr);
        EXPECT_LE(over->geometry().bottom(), label->geometry().top()) << "under the title";
    };

    CurrentPatientCode = "000001";
    TfrmConsul consul(practice_.context());
    ShowActive(&consul);
    Ui::TfrmConsul* ui = consul.form();
    ui->pgControl->setCurrentWidget(ui->tsExams);
    bool seen = false;
    OnModal<TfrmExComp>([&](TfrmExComp& frm) {
        expectRaised(frm, "Patient", ui->lName->text());
        seen = true;
        frm.reject();
    });
    QTest::mouseClick(ui->btnAddRadio, Qt::LeftButton);
    EXPECT_TRUE(seen);

    TfrmRDV rdv(practice_.context());
    DialogScript script({PickPatient("DUP")});
    ShowActive(&rdv);
    expectRaised(rdv, "Patient", rdv.lPatient()->text());
    EXPECT_TRUE(rdv.lPatient()->text().startsWith("000001 - DUPONT"));
}

}  // namespace
