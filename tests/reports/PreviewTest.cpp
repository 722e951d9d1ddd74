// The preview window over reports of known page counts: filling in while
// the pages are built, navigation, page number, zoom kept between windows,
// F10 and the print button with a range and copies, several windows and
// their toolbars.
#include "app/reports/ReportCommon.h"
#include "ReportsFixture.h"
#include "platform/report/Report.h"
#include "platform/ui/IniFile.h"
#include "platform/ui/Messages.h"

#include <QComboBox>
#include <QDir>
#include <QScrollBar>
#include <QWheelEvent>
#include <QLineEdit>
#include <QToolButton>

namespace {

// A report whose rows "Ligne n" take a page each.
class PagesReport {
public:
    explicit PagesReport(int pages)
    {
        report.title = "Essai";
        report.needData = [this, pages] { return row < pages ? (++row, true) : false; };
        krpt::Band& detail = report.band(krpt::BandKind::Detail);
        detail.height = report.page.contentRect().height();
        detail.addLabel("lRow", {}, {0, 0, 300, 20});
        detail.beforePrint = [this](krpt::Band& band) {
            band.label("lRow")->caption = "Ligne " + QString::number(row);
            if (onRow)
                onRow(row);
        };
    }
    krpt::Report report;
    int row = 0;
    std::function<void(int)> onRow;
};

class PreviewTest : public ReportsFixture {
protected:
    // Opens the report in a preview; `action` runs once its last page is in.
    void Preview(PagesReport& pages, const std::function<void(TfrmPreview&)>& action)
    {
        PreviewWatcher watcher(action);
        PreviewReport(practice_.context(), pages.report);
        EXPECT_EQ(watcher.seen, 1);
    }
    static QStringList PrintedRows(const QString& pdf)
    {
        QStringList rows;
        for (const QString& page : pdftest::Pages(pdf))
            rows << pdftest::Lines(page).value(0);
        return rows;
    }
    // The toolbar band is graded from top to bottom, each row of one colour,
    // and its buttons carry their icons.
    static void ExpectToolbarDrawn(TfrmPreview& w)
    {
        QWidget* band = w.ToolBar();
        QImage image(band->size(), QImage::Format_RGB32);
        image.fill(Qt::magenta);
        band->render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);
        const int last = image.height() - 2, right = image.width() - 1;
        for (const int y : {1, last})
            EXPECT_EQ(image.pixel(0, y), image.pixel(right, y)) << "row " << y;
        const auto lightness = [&image](int y) { return QColor(image.pixel(0, y)).lightness(); };
        EXPECT_GT(lightness(1), lightness(last));
        for (const QAbstractButton* button : std::initializer_list<QAbstractButton*>{w.sbFirstPage(),
                 w.sbPreviousPage(), w.sbNextPage(), w.sbLastPage(), w.Print(), w.findChild<QPushButton*>("btnClose")})
            EXPECT_FALSE(button->icon().isNull()) << button->objectName().toStdString();
    }
    static void TypePage(TfrmPreview& w, const QString& page)
    {
        w.sePage()->setFocus();
        w.sePage()->selectAll();
        QTest::keyClicks(w.sePage(), page);
        QTest::keyClick(w.sePage(), Qt::Key_Return);
    }
};

TEST_F(PreviewTest, TheWindowShowsPageOneWhileLaterPagesAreStillBeingBuilt)
{
    PagesReport pages(12);
    QString caption, status;
    bool toolbar = true;
    int shown = 0;
    pages.onRow = [&](int row) {
        if (row == 5 && frmPreview) {
            caption = frmPreview->windowTitle();
            status = frmPreview->StatusText(1);
            toolbar = frmPreview->ToolBar()->isEnabled();
            shown = frmPreview->RptPreview()->pageNumber();
        }
    };
    Preview(pages, [&](TfrmPreview& w) {
        EXPECT_EQ(w.windowTitle(), "Essai - 12 pages");
        EXPECT_EQ(w.StatusText(1), "");
        EXPECT_EQ(w.cursor().shape(), Qt::ArrowCursor);
    });
    // Row 5 is being laid out: pages 1 to 3 are done.
    EXPECT_EQ(caption, "Essai - 3 pages");
    EXPECT_EQ(status, "Impression en cours ...");
    EXPECT_FALSE(toolbar);
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(frmPreview, nullptr);
}

TEST_F(PreviewTest, NavigationOfOneAndOfFivePagesAndThePageNumberKeptWithinBounds)
{
    PagesReport one(1);
    Preview(one, [](TfrmPreview& w) {
        EXPECT_EQ(w.windowTitle(), "Essai - 1 page");
        for (QWidget* off : std::initializer_list<QWidget*>{
                 w.sePage(), w.sbFirstPage(), w.sbPreviousPage(), w.sbNextPage(), w.sbLastPage()})
            EXPECT_FALSE(off->isEnabled()) << off->objectName().toStdString();
        EXPECT_TRUE(w.Print()->isEnabled());
        EXPECT_TRUE(w.SpinEditCopies()->isEnabled());
        EXPECT_EQ(w.StatusText(0), "Page : 1/1");
    });

    PagesReport five(5);
    Preview(five, [](TfrmPreview& w) {
        const auto state = [&w] {
            return QString("%1%2%3%4 %5 %6")
                .arg(w.sbFirstPage()->isEnabled())
                .arg(w.sbPreviousPage()->isEnabled())
                .arg(w.sbNextPage()->isEnabled())
                .arg(w.sbLastPage()->isEnabled())
                .arg(w.StatusText(0))
                .arg(w.RptPreview()->pageNumber());
        };
        EXPECT_EQ(state(), "0011 Page : 1/5 1");
        QTest::mouseClick(w.sbLastPage(), Qt::LeftButton);
        EXPECT_EQ(state(), "1100 Page : 5/5 5");
        QTest::mouseClick(w.sbPreviousPage(), Qt::LeftButton);
        EXPECT_EQ(state(), "1111 Page : 4/5 4");
        QTest::mouseClick(w.sbFirstPage(), Qt::LeftButton);
        QTest::mouseClick(w.sbNextPage(), Qt::LeftButton);
        EXPECT_EQ(state(), "1111 Page : 2/5 2");
        TypePage(w, "9");
        EXPECT_EQ(state(), "1100 Page : 5/5 5");
        TypePage(w, "0");
        EXPECT_EQ(state(), "0011 Page : 1/5 1");
        TypePage(w, "3");
        EXPECT_EQ(state(), "1111 Page : 3/5 3");
    });
}

TEST_F(PreviewTest, TheZoomChosenIsTheOneOfTheNextWindow)
{
    PagesReport first(1);
    Preview(first, [](TfrmPreview& w) {
        w.cmbZoom()->setCurrentIndex(1);
        EXPECT_EQ(w.RptPreview()->zoom(), 150);
    });
    EXPECT_EQ(kui::TIniFile(AppDir + "KORVALE.INI").ReadInteger("INFORMATIONS", "NBLIGNE", -1), 1);
    PagesReport second(1);
    Preview(second, [](TfrmPreview& w) {
        EXPECT_EQ(w.cmbZoom()->currentIndex(), 1);
        EXPECT_EQ(w.RptPreview()->zoom(), 150);
        w.resize(900, 700);
        w.cmbZoom()->setCurrentIndex(6);
        // The page fills the visible width.
        const int pageWidth = w.RptPreview()->widget()->width();
        EXPECT_NEAR(pageWidth, w.RptPreview()->viewport()->width(), 40);
    });
    PagesReport third(1);
    Preview(third, [](TfrmPreview& w) { EXPECT_EQ(w.cmbZoom()->currentText(), "Largeur de page"); });
}

TEST_F(PreviewTest, PrintWritesTheRangeTheCopiesTimesAndF10PrintsToo)
{
    PagesReport five(5);
    const QString ranged = Pdf("ranged"), f10 = Pdf("f10"), cancelled = Pdf("cancelled");
    Preview(five, [&](TfrmPreview& w) {
        w.SpinEditCopies()->setValue(2);
        PrintToPdf(w, ranged, 2, 3);
        EXPECT_EQ(w.Report->printerSettings.copies, 2);
        EXPECT_EQ(w.Report->printerSettings.firstPage, 2);
        EXPECT_EQ(w.Report->printerSettings.lastPage, 3);

        w.SpinEditCopies()->setValue(1);
        TfrmPreview::RunPrintDialog = [&](QPrintDialog& dialog) {
            dialog.printer()->setOutputFileName(f10);
            return true;
        };
        QTest::keyClick(&w, Qt::Key_F10);

        TfrmPreview::RunPrintDialog = [&](QPrintDialog& dialog) {
            dialog.printer()->setOutputFileName(cancelled);
            return false;
        };
        QTest::mouseClick(w.Print(), Qt::LeftButton);
    });
    EXPECT_EQ(PrintedRows(ranged), QStringList({"Ligne 2", "Ligne 3", "Ligne 2", "Ligne 3"}));
    EXPECT_EQ(PrintedRows(f10), QStringList({"Ligne 1", "Ligne 2", "Ligne 3", "Ligne 4", "Ligne 5"}));
    EXPECT_FALSE(QFile::exists(cancelled));
}

TEST_F(PreviewTest, SeveralPreviewsAreOpenAtOnceEachWithItsOwnPages)
{
    PagesReport outer(2), inner(3);
    int windowsOpen = 0;
    QString innerCaption;
    Preview(outer, [&](TfrmPreview& first) {
        ExpectToolbarDrawn(first);
        // A second document asked for while the first is shown.
        PreviewWatcher watcher([&](TfrmPreview& second) {
            windowsOpen = first.isVisible() + second.isVisible();
            innerCaption = second.windowTitle();
            ExpectToolbarDrawn(second);
        });
        PreviewReport(practice_.context(), inner.report);
        EXPECT_TRUE(first.isVisible());
        EXPECT_EQ(first.windowTitle(), "Essai - 2 pages");
    });
    EXPECT_EQ(windowsOpen, 2);
    EXPECT_EQ(innerCaption, "Essai - 3 pages");
    EXPECT_EQ(outer.report.pageStore(), nullptr);
}

}  // namespace

namespace {

// A wheel turn over the shown page (negative: towards the user, down the page).
void Wheel(QWidget* target, int delta)
{
    const QPointF at(target->width() / 2.0, target->height() / 2.0);
    QWheelEvent event(at, target->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
        Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &event);
}

}  // namespace

TEST_F(PreviewTest, TheWheelAndPageDownGoOnToTheNextPageAtTheEndOfAPage)
{
    PagesReport three(3);
    Preview(three, [](TfrmPreview& w) {
        w.cmbZoom()->setCurrentIndex(0);  // 200 %: a page is taller than the window
        QApplication::processEvents();
        QScrollBar* bar = w.RptPreview()->verticalScrollBar();
        ASSERT_GT(bar->maximum(), 0);
        // The page keys reach the page.
        QWidget* focused = QApplication::focusWidget();
        ASSERT_TRUE(focused == w.RptPreview() || w.RptPreview()->isAncestorOf(focused));
        while (bar->value() < bar->maximum())
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageDown);
        EXPECT_EQ(w.RptPreview()->pageNumber(), 1);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageDown);
        EXPECT_EQ(w.RptPreview()->pageNumber(), 2);
        EXPECT_EQ(bar->value(), 0);
        EXPECT_EQ(w.sePage()->value(), 2);
        EXPECT_EQ(w.StatusText(0), "Page : 2/3");
        EXPECT_TRUE(w.sbPreviousPage()->isEnabled());

        // The wheel down to the bottom of page 2, then on to page 3.
        for (int i = 0; i < 200 && bar->value() < bar->maximum(); ++i)
            Wheel(w.RptPreview()->viewport(), -120);
        EXPECT_EQ(w.RptPreview()->pageNumber(), 2);
        Wheel(w.RptPreview()->viewport(), -120);
        EXPECT_EQ(w.RptPreview()->pageNumber(), 3);
        EXPECT_EQ(w.StatusText(0), "Page : 3/3");
        EXPECT_FALSE(w.sbNextPage()->isEnabled());
        // Past the last page nothing turns; up from the top goes back.
        for (int i = 0; i < 200 && bar->value() < bar->maximum(); ++i)
            Wheel(w.RptPreview()->viewport(), -120);
        Wheel(w.RptPreview()->viewport(), -120);
        EXPECT_EQ(w.RptPreview()->pageNumber(), 3);
        bar->setValue(0);
        Wheel(w.RptPreview()->viewport(), 120);
        EXPECT_EQ(w.RptPreview()->pageNumber(), 2);
        EXPECT_EQ(bar->value(), bar->maximum());
        EXPECT_EQ(w.sePage()->value(), 2);
        // A touchpad's small steps past the end turn the page once they make a notch.
        Wheel(w.RptPreview()->viewport(), -40);
        Wheel(w.RptPreview()->viewport(), -40);
        EXPECT_EQ(w.RptPreview()->pageNumber(), 2);
        Wheel(w.RptPreview()->viewport(), -40);
        EXPECT_EQ(w.RptPreview()->pageNumber(), 3);
    });
}

TEST_F(PreviewTest, EachDocumentIsProposedAFileOfItsTitleAndAnExistingFileIsOnlyReplacedOnYes)
{
    kui::ScopedMessageRecorder messages;
    const QString folder = practice_.root() + "/sorties";
    QDir().mkpath(folder);
    // The first document goes to a file the user names.
    PagesReport first(1);
    Preview(first, [&](TfrmPreview& w) { PrintToPdf(w, folder + "/premier.pdf"); });
    ASSERT_TRUE(QFile::exists(folder + "/premier.pdf"));

    // The next one is proposed a file of its own title in that folder.
    PagesReport second(2);
    second.report.title = "Rapport médical de DURAND/PETIT";
    QString proposed;
    Preview(second, [&](TfrmPreview& w) {
        TfrmPreview::RunPrintDialog = [&](QPrintDialog& dialog) {
            proposed = dialog.printer()->outputFileName();
            return true;
        };
        QTest::mouseClick(w.Print(), Qt::LeftButton);
    });
    EXPECT_EQ(proposed, folder + "/Rapport médical de DURAND_PETIT.pdf");
    EXPECT_EQ(pdftest::Pages(folder + "/premier.pdf").size(), 1) << "the first document was overwritten";
    EXPECT_EQ(pdftest::Pages(proposed).size(), 2);
    EXPECT_EQ(messages.Count(), 0);

    // Printing onto an existing file asks first; No keeps the file as it was.
    PagesReport third(3);
    Preview(third, [&](TfrmPreview& w) {
        messages.Answer(QMessageBox::No);
        PrintToPdf(w, folder + "/premier.pdf");
        ASSERT_EQ(messages.Count(), 1);
        EXPECT_EQ(messages.Last().text,
            QStringLiteral("Le fichier %1 existe déjà.\nVoulez-vous le remplacer ?").arg(folder + "/premier.pdf"));
        EXPECT_EQ(pdftest::Pages(folder + "/premier.pdf").size(), 1);
        messages.Answer(QMessageBox::Yes);
        PrintToPdf(w, folder + "/premier.pdf");
    });
    EXPECT_EQ(pdftest::Pages(folder + "/premier.pdf").size(), 3);
}

// Home and End, sent where the focus is, go to the first and the last page;
// the page number box keeps them for its text.
TEST_F(PreviewTest, HomeAndEndGoToTheFirstAndTheLastPage)
{
    PagesReport five(5);
    Preview(five, [](TfrmPreview& w) {
        QWidget* focused = QApplication::focusWidget();
        ASSERT_TRUE(focused == w.RptPreview() || w.RptPreview()->isAncestorOf(focused));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_End);
        EXPECT_EQ(w.RptPreview()->pageNumber(), 5);
        EXPECT_EQ(w.sePage()->value(), 5);
        EXPECT_EQ(w.StatusText(0), "Page : 5/5");
        EXPECT_FALSE(w.sbLastPage()->isEnabled());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Home);
        EXPECT_EQ(w.RptPreview()->pageNumber(), 1);
        EXPECT_EQ(w.StatusText(0), "Page : 1/5");
        EXPECT_FALSE(w.sbFirstPage()->isEnabled());

        QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageDown);
        w.sePage()->setFocus();
        ASSERT_TRUE(w.sePage()->isAncestorOf(QApplication::focusWidget()) || QApplication::focusWidget() == w.sePage());
        const int shown = w.RptPreview()->pageNumber();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_End);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Home);
        EXPECT_EQ(w.RptPreview()->pageNumber(), shown);
    });
}

// A document is proposed a file of its own name (its kind, the patient,
// its date) in the folder a document was last printed into, also after the
// program is started again; a folder gone since gives the home folder. The
// print dialog shows the proposal.
TEST_F(PreviewTest, ADocumentIsProposedAFileOfItsOwnNameInTheFolderLastUsed)
{
    kui::ScopedMessageRecorder messages;
    const QString folder = practice_.root() + "/ordonnances";
    QDir().mkpath(folder);
    const auto proposal = [this](PagesReport& pages) {
        QString printer, shown, docName;
        Preview(pages, [&](TfrmPreview& w) {
            TfrmPreview::RunPrintDialog = [&](QPrintDialog& dialog) {
                printer = dialog.printer()->outputFileName();
                docName = dialog.printer()->docName();
                if (auto* file = dialog.findChild<QLineEdit*>("filename"))
                    shown = file->text();
                return false;
            };
            QTest::mouseClick(w.Print(), Qt::LeftButton);
        });
        // Without a printer, or after a file, the dialog opens on the file;
        // else the file is what it offers when "print to file" is chosen.
        EXPECT_TRUE(printer.isEmpty() || printer == shown) << printer.toStdString();
        return QStringList{shown, docName};
    };

    PagesReport first(1);
    first.report.fileName = DocumentFileName("Ordonnance", "DUPONT ", "Jean", QDate(2026, 12, 7));
    EXPECT_EQ(proposal(first),
        (QStringList{QDir::home().filePath("Ordonnance DUPONT Jean 2026-12-07.pdf"), "Ordonnance DUPONT Jean 2026-12-07"}));
    Preview(first, [&](TfrmPreview& w) { PrintToPdf(w, folder + "/choisi.pdf"); });
    ASSERT_TRUE(QFile::exists(folder + "/choisi.pdf"));

    // The program started again: the printer remembers no file.
    kui::CurrentPrinter().setOutputFileName({});
    PagesReport second(1);
    second.report.fileName = DocumentFileName(QString::fromUtf8("Protocole opératoire"), "D'ALMEIDA", "Ana/Maria");
    EXPECT_EQ(proposal(second).value(0), folder + "/Protocole opératoire D'ALMEIDA Ana_Maria.pdf");

    // A folder removed since: the home folder.
    kui::CurrentPrinter().setOutputFileName({});
    ASSERT_TRUE(QFile::remove(folder + "/choisi.pdf") && QDir().rmdir(folder));
    PagesReport third(1);
    EXPECT_EQ(proposal(third).value(0), QDir::home().filePath("Essai.pdf"));  // no name of its own: the title
    EXPECT_EQ(messages.Count(), 0);
}
