// Where each document's blocks fall on its page, as the preview shows it:
// inside the margins of its own page setup.
#include "ReportsFixture.h"
#include "app/reports/UArretTrv.h"
#include "app/reports/UPrint.h"
#include "app/reports/UrptConsul.h"

namespace {

class PlacementTest : public ReportsFixture {
protected:
    // The first page of the document a command previews, at 96 dpi.
    QImage FirstPage(const std::function<void()>& command)
    {
        QImage page;
        PreviewWatcher watcher([&](TfrmPreview& w) { page = w.RptPreview()->store()->renderPage(0, 96); });
        command();
        return page;
    }
    static double Mm(double mm) { return mm / 25.4 * 96; }
};

TEST_F(PlacementTest, EachDocumentKeepsToItsPaperAndMargins)
{
    AddPatient("000001", "DURAND", "Marie", "F");
    AddConsultation("000001", {2024, 1, 10}, "Toux", "Bronchite", "Sirop");
    CurrentPatientCode = "000001";

    // Medical report: A4 portrait, 10 mm all round; the date at the right margin.
    const QImage consul = FirstPage([&] { PrintMedicalReport(practice_.context(), "000001"); });
    EXPECT_EQ(consul.size(), QSize(794, 1123));
    QRect ink = pdftest::DarkBounds(consul);
    EXPECT_NEAR(ink.left(), Mm(10), 3);
    EXPECT_NEAR(ink.top(), Mm(10), 5);
    EXPECT_NEAR(ink.right(), Mm(200), 3);
    EXPECT_NEAR(ink.bottom(), Mm(287), 12);  // the page number of the footer

    // Patient list: 30 mm at the left, 20 mm at the right (the shaded bar).
    TfrmPrint dialog(practice_.context());
    const QImage list = FirstPage([&] { dialog.BitBtn1Click(); });
    EXPECT_EQ(list.size(), QSize(794, 1123));
    ink = pdftest::DarkBounds(list);
    EXPECT_NEAR(ink.left(), Mm(30), 3);
    QRect bar;
    for (int y = 0; y < list.height(); ++y)
        for (int x = 0; x < list.width(); ++x)
            if (QColor(list.pixel(x, y)) == QColor(0xC0, 0xC0, 0xC0))
                bar |= QRect(x, y, 1, 1);
    EXPECT_NEAR(bar.left(), Mm(30), 2);
    EXPECT_NEAR(bar.right(), Mm(190), 3);
    EXPECT_GT(bar.top(), ink.top());

    // Certificate: A4 landscape, the two copies filling the width between
    // 10 mm at the left and 4 mm at the right; the address lines at the foot.
    TfrmArretTrv certificate(practice_.context());
    const QImage sheet = FirstPage([&] { certificate.btnOkClick(); });
    EXPECT_EQ(sheet.size(), QSize(1123, 794));
    ink = pdftest::DarkBounds(sheet);
    EXPECT_NEAR(ink.left(), Mm(10), 3);
    EXPECT_NEAR(ink.right(), Mm(293), 3);
    EXPECT_NEAR(ink.bottom(), Mm(200), 12);
    // The second copy: ink in the right half, the left copy's mirror.
    const QRect right = pdftest::DarkBounds(sheet.copy(sheet.width() / 2, 0, sheet.width() / 2, sheet.height()));
    EXPECT_NEAR(right.top(), pdftest::DarkBounds(sheet.copy(0, 0, sheet.width() / 2, sheet.height())).top(), 1);
}

}  // namespace
