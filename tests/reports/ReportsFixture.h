#pragma once
// What the document tests share: a practice with its tables and practice
// details, rows written through the engine, and the preview window driven
// as a user does (wait for the last page, print to a PDF file through the
// print button, close).
#include "app/reports/UPreview.h"
#include "app/global/global.h"
#include "platform/db/dataset/Dataset.h"
#include "platform/report/PageStore.h"
#include "platform/report/PreviewView.h"
#include "platform/ui/Printer.h"
#include "tests/report/PdfText.h"
#include "tests/support/TempPractice.h"

#include <gtest/gtest.h>

#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QComboBox>
#include <QLineEdit>
#include <QApplication>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <functional>
#include <initializer_list>
#include <utility>
#include <vector>

// Runs `action` on the preview window once its last page is in, then
// closes the window (unless the action did). Counts the windows it saw.
class PreviewWatcher : public QObject {
public:
    explicit PreviewWatcher(std::function<void(TfrmPreview&)> action = {}) : action_(std::move(action))
    {
        connect(&timer_, &QTimer::timeout, this, &PreviewWatcher::Tick);
        timer_.start(5);
    }
    int seen = 0;

private:
    void Tick()
    {
        TfrmPreview* window = frmPreview;
        if (!window || window == last_ || !window->isVisible() || !window->ToolBar()->isEnabled())
            return;
        last_ = window;
        ++seen;
        QPointer<TfrmPreview> guard(window);
        if (action_)
            action_(*window);
        if (guard)
            guard->close();
    }
    std::function<void(TfrmPreview&)> action_;
    QTimer timer_;
    TfrmPreview* last_ = nullptr;
};

class ReportsFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        practice_.CreateTables();
        PractitionerName = "Dr Martin";
        SpecialityLine = "Chirurgie générale";
        PracticeDetail = "Cabinet des Tilleuls";
        PracticeAddress = "1 rue Haute";
        PracticeCity = "Lyon";
        PracticePhone = "0400000000";
        PracticeEmail = "";
    }
    void TearDown() override
    {
        TfrmPreview::RunPrintDialog = programsPrintDialog_;
        kui::CurrentPrinter().setOutputFileName({});
    }

    // Runs a statement on the practice's data directory with its parameters.
    static void Exec(const QString& sql, std::initializer_list<std::pair<const char*, QVariant>> params = {})
    {
        kdb::QueryDataset q;
        q.setDatabaseName(DataPath.toStdString());
        q.setSql(sql);
        for (const auto& [name, value] : params)
            q.params().set(name, value);
        q.execSql();
    }
    static void AddPatient(const QString& code, const QString& nom, const QString& prenom = "Jean",
        const QString& sexe = "M", const QString& age = "40 Ans", const QString& dn = {})
    {
        Exec("INSERT INTO PATIENT (CODE, NOM, PRENOM, SEXE, ADR, AGE, GS, DN) "
             "VALUES (:C, :N, :P, :S, '3 rue Basse', :AGE, 'A+', :DN)",
            {{"C", code}, {"N", nom}, {"P", prenom}, {"S", sexe}, {"AGE", age}, {"DN", dn}});
    }
    static void AddConsultation(
        const QString& patient, const QDate& date, const QString& motif, const QString& diag, const QString& trt)
    {
        Exec("INSERT INTO CONS (PATIENT, DCONS, MOTIF, DIAG, TRT1) VALUES (:P, :D, :M, :G, :T)",
            {{"P", patient}, {"D", date}, {"M", motif}, {"G", diag}, {"T", trt}});
    }

    // The file name of a PDF in the practice's temporary directory.
    QString Pdf(const QString& name) const { return practice_.root() + "/" + name + ".pdf"; }

    // Clicks Print in the preview; the print dialog, as a user would, sends
    // the pages to a PDF file, with a page range when `from` is not 0.
    static void PrintToPdf(TfrmPreview& window, const QString& file, int from = 0, int to = 0)
    {
        TfrmPreview::RunPrintDialog = [=](QPrintDialog& dialog) {
            dialog.printer()->setOutputFormat(QPrinter::PdfFormat);
            dialog.printer()->setOutputFileName(file);
            if (from > 0) {
                dialog.setPrintRange(QAbstractPrintDialog::PageRange);
                dialog.setFromTo(from, to);
            }
            return true;
        };
        QTest::mouseClick(window.Print(), Qt::LeftButton);
    }

    // Runs a print command; the preview it opens is printed to a PDF file
    // and closed. The pages' text as pdftotext lays it out.
    QStringList PrintedPages(
        const std::function<void()>& command, const QString& name, const std::function<void(TfrmPreview&)>& look = {})
    {
        const QString file = Pdf(name);
        PreviewWatcher watcher([&](TfrmPreview& window) {
            if (look)
                look(window);
            PrintToPdf(window, file);
        });
        command();
        EXPECT_EQ(watcher.seen, 1);
        return pdftest::Pages(file);
    }

    // Runs a print command; the file that the print dialog of its preview
    // proposes, as the dialog shows it (the dialog is then cancelled).
    static QString ProposedFile(const std::function<void()>& command)
    {
        QString proposed;
        PreviewWatcher watcher([&](TfrmPreview& window) {
            TfrmPreview::RunPrintDialog = [&](QPrintDialog& dialog) {
                const auto* file = dialog.findChild<QLineEdit*>("filename");
                proposed = file ? file->text() : dialog.printer()->outputFileName();
                return false;
            };
            QTest::mouseClick(window.Print(), Qt::LeftButton);
        });
        command();
        EXPECT_EQ(watcher.seen, 1);
        return proposed;
    }

    // The page the preview shows at a zoom entry (0: 200 %, 2: 100 %, 3: 75 %),
    // as it is painted on the screen, without the grey ground around it.
    static QImage ShownPage(TfrmPreview& window, int zoomEntry)
    {
        window.cmbZoom()->setCurrentIndex(zoomEntry);
        QApplication::processEvents();
        krpt::PreviewView* view = window.RptPreview();
        const double scale = view->zoom() / 100.0;
        const QSizeF page = view->store()->setup().pageSize() * scale;
        const int margin = 10;
        return view->widget()->grab(QRect(QPoint(margin, margin), page.toSize())).toImage();
    }
    // Page `page` of a PDF rasterised at `dpi`.
    QImage PrintedPage(const QString& pdf, int page, int dpi) const
    {
        const QString out = practice_.root() + "/printed";
        QFile::remove(out + ".png");
        QProcess::execute("pdftoppm", {"-r", QString::number(dpi), "-png", "-singlefile", "-f", QString::number(page),
                                          "-l", QString::number(page), pdf, out});
        return QImage(out + ".png");
    }
    // Runs the print command; the preview's first page, as shown at each
    // zoom, is compared with the printed page.
    void ExpectPreviewIsThePrint(const std::function<void()>& command, const QString& name)
    {
        struct Shown {
            int zoomEntry, dpi;
            QImage page;
        };
        std::vector<Shown> shown{{0, 192, {}}, {2, 96, {}}, {3, 72, {}}};
        const QStringList pages = PrintedPages(command, name, [&](TfrmPreview& w) {
            for (Shown& s : shown)
                s.page = ShownPage(w, s.zoomEntry);
        });
        ASSERT_FALSE(pages.isEmpty());
        ASSERT_TRUE(pages[0].contains("Dr Martin")) << pages[0].toStdString();
        for (const Shown& s : shown) {
            const QImage printed = PrintedPage(Pdf(name), 1, s.dpi);
            ASSERT_FALSE(printed.isNull());
            ASSERT_FALSE(s.page.isNull());
            EXPECT_NEAR(s.page.width(), printed.width(), 2);
            EXPECT_NEAR(s.page.height(), printed.height(), 2);
            EXPECT_LE(InkMismatch(s.page, printed), 4)
                << name.toStdString() << " at " << s.dpi << " dpi: the preview differs from the print";
        }
    }
    // The inked cells (4 x 4 pixels holding a pixel darker than light grey)
    // of either page that the other page leaves blank, a neighbouring cell
    // standing for a cell (the two rasterisers place a glyph within a pixel
    // of each other).
    static int InkMismatch(const QImage& a, const QImage& b)
    {
        const int cell = 4;
        const int cols = std::min(a.width(), b.width()) / cell, rows = std::min(a.height(), b.height()) / cell;
        const auto inked = [&](const QImage& im) {
            std::vector<char> cells(size_t(cols * rows), 0);
            for (int y = 0; y < rows * cell; ++y)
                for (int x = 0; x < cols * cell; ++x)
                    if (qGray(im.pixel(x, y)) < 192)
                        cells[size_t((y / cell) * cols + x / cell)] = 1;
            return cells;
        };
        const std::vector<char> ia = inked(a), ib = inked(b);
        const auto near = [&](const std::vector<char>& cells, int cx, int cy) {
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const int x = cx + dx, y = cy + dy;
                    if (x >= 0 && y >= 0 && x < cols && y < rows && cells[size_t(y * cols + x)])
                        return true;
                }
            return false;
        };
        int missing = 0;
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < cols; ++x) {
                const bool inA = ia[size_t(y * cols + x)], inB = ib[size_t(y * cols + x)];
                if ((inA && !near(ib, x, y)) || (inB && !near(ia, x, y)))
                    ++missing;
            }
        return missing;
    }

    TempPractice practice_;
    // The program's own print dialog, put back after each test.
    const std::function<bool(QPrintDialog&)> programsPrintDialog_ = TfrmPreview::RunPrintDialog;
};
