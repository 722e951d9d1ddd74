// The patient list: the dialog's choices, printed through the preview.
#include "ReportsFixture.h"
#include "app/reports/UPrint.h"

#include <QLineEdit>
#include <QToolButton>

namespace {

class PatientListTest : public ReportsFixture {
protected:
    void SetUp() override
    {
        ReportsFixture::SetUp();
        AddPatient("000001", "MARTIN", "Luc", "M", "30 Ans");
        AddPatient("000002", "BERNARD", "Anne", "F", "41 Ans");
        AddPatient("000003", "DUPONT", "Marc", "M", "12 Ans");
        AddPatient("000004", "MOREAU", "Lise", "F", "67 Ans");
        AddPatient("000005", "BLANC", "Jules", "M", "5 Ans");
        AddPatient("000006", "DE LA TOUR", "Eve", "F", "33 Ans");
        AddPatient("000007", "DELMAS", "Noé", "M", "71 Ans");
    }
    // Prints from the dialog; the list rows ("code name age") of its pages.
    QStringList Rows(TfrmPrint& dialog, int* pageCount = nullptr, QImage* firstPage = nullptr)
    {
        const QStringList pages =
            PrintedPages([&] { QTest::mouseClick(dialog.findChild<QPushButton*>("BitBtn1"), Qt::LeftButton); },
                "list" + QString::number(++prints_),
                [&](TfrmPreview& w) {
                    if (firstPage)
                        *firstPage = w.RptPreview()->store()->renderPage(0, 96);
                });
        if (pageCount)
            *pageCount = pages.size();
        QStringList rows;
        for (const QString& page : pages)
            for (const QString& line : pdftest::Words(page))
                if (line.startsWith("00000"))
                    rows << line;
        return rows;
    }
    int prints_ = 0;
};

TEST_F(PatientListTest, LettersAndPrefixChooseThePatientsInNameOrderAndTheDialogStaysOpen)
{
    TfrmPrint dialog(practice_.context());
    dialog.show();
    int pages = 0;
    const QStringList all = Rows(dialog, &pages);
    EXPECT_EQ(all,
        QStringList({"000002 BERNARD 41 Ans", "000005 BLANC 5 Ans", "000006 DE LA TOUR 33 Ans", "000007 DELMAS 71 Ans",
            "000003 DUPONT 12 Ans", "000001 MARTIN 30 Ans", "000004 MOREAU 67 Ans"}));
    EXPECT_EQ(pages, 1);
    EXPECT_TRUE(dialog.isVisible());

    QTest::mouseClick(dialog.btnLetter('B'), Qt::LeftButton);
    QTest::mouseClick(dialog.btnLetter('M'), Qt::LeftButton);
    EXPECT_EQ(dialog.btnLetter('B')->palette().color(QPalette::ButtonText), QColor(Qt::red));
    QImage page;
    EXPECT_EQ(Rows(dialog, nullptr, &page),
        QStringList({"000002 BERNARD 41 Ans", "000005 BLANC 5 Ans", "000001 MARTIN 30 Ans", "000004 MOREAU 67 Ans"}));
    // Rows alternate white and grey from the first; sampled in the gap
    // between the name and age columns. The title band ends 190 pixels
    // under the 10 mm top margin; rows are 20 pixels high.
    const double left = 300 / 254.0 * 96, top = 100 / 254.0 * 96 + 190;
    for (int row = 0; row < 4; ++row)
        EXPECT_EQ(QColor(page.pixel(int(left + 475), int(top + 20 * row + 10))),
            row % 2 == 0 ? QColor(0xFF, 0xFF, 0xFF) : QColor(0xE5, 0xE5, 0xE5))
            << row;

    // A prefix decides alone; typed letters are upper case; a trailing blank counts.
    QTest::keyClicks(dialog.edTextSearch(), "de");
    EXPECT_EQ(Rows(dialog), QStringList({"000006 DE LA TOUR 33 Ans", "000007 DELMAS 71 Ans"}));
    QTest::keyClick(dialog.edTextSearch(), Qt::Key_Space);
    EXPECT_EQ(Rows(dialog), QStringList({"000006 DE LA TOUR 33 Ans"}));

    // Nothing matches: one page with the title band.
    dialog.edTextSearch()->setText("ZZ");
    const QStringList empty = PrintedPages([&] { dialog.BitBtn1Click(); }, "empty");
    ASSERT_EQ(empty.size(), 1);
    const QStringList lines = pdftest::Words(empty[0]);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines.mid(0, 3), QStringList({"Dr Martin", "Listing des patients", "Code Nom et prénom Age"}));
    // The footer: date and time of printing at the left, the page number.
    EXPECT_TRUE(QDateTime::fromString(lines[3].section(' ', 0, 1), "dd/MM/yyyy hh:mm:ss").isValid())
        << lines[3].toStdString();
    EXPECT_TRUE(lines[3].endsWith(" 1"));
}

}  // namespace
