// The medical report of a patient with many consultations, previewed as
// the program does it (preview window, offscreen):
//
//   korvale_report_bench [consultations...]     (default: 100 1000)
//
// For each count: time until page 1 is painted in the preview window, time
// until the last page is built, pages per second, milliseconds per page,
// the page store's size (recorded drawing commands) against the same pages
// as 300 dpi bitmaps, and the process's peak memory.
#include "app/reports/UPreview.h"
#include "app/reports/UrptConsul.h"
#include "app/global/global.h"
#include "platform/db/dataset/Dataset.h"
#include "platform/report/PageStore.h"
#include "platform/report/PreviewView.h"
#include "tests/support/TempPractice.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>

namespace {

long PeakKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void Fill(int consultations)
{
    kdb::QueryDataset q;
    q.setDatabaseName(DataPath.toStdString());
    q.setSql("INSERT INTO PATIENT (CODE, NOM, PRENOM, SEXE, ADR, AGE, GS) "
             "VALUES ('000001', 'DURAND', 'Marie', 'F', '3 rue Basse', '52 Ans', 'A+')");
    q.execSql();
    q.setSql("INSERT INTO CONS (PATIENT, DCONS, MOTIF, DIAG, TRT1) VALUES ('000001', :D, :M, :G, :T)");
    for (int i = 0; i < consultations; ++i) {
        q.setParamDate("D", QDate(2000, 1, 1).addDays(i));
        q.setParamText("M", "Douleurs abdominales " + QString::number(i));
        q.setParamText("G", "Gastrite, à revoir dans quinze jours");
        q.setParamText("T", i % 3 ? "Oméprazole 20 mg le matin pendant un mois" : "Repos");
        q.execSql();
    }
}

// Milliseconds since the clock started, to the microsecond: page 1 comes
// within a few milliseconds, where whole ones would hide a tenth of the run.
double Ms(const QElapsedTimer& clock)
{
    return clock.nsecsElapsed() / 1e6;
}

// Watches for the preview window: the time its first page is painted, the
// time the last page is in, the store's figures; closes it then.
class Watch : public QObject {
public:
    explicit Watch(QElapsedTimer& clock) : clock_(clock)
    {
        connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
        timer_.start(0);
    }
    double firstPaintedMs = -1, lastPageMs = -1;
    qint64 storedBytes = 0;
    int pages = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && firstPaintedMs < 0 && frmPreview &&
            frmPreview->RptPreview()->pageNumber() >= 1)
            firstPaintedMs = Ms(clock_);
        return QObject::eventFilter(watched, event);
    }

private:
    void Tick()
    {
        TfrmPreview* w = frmPreview;
        if (!w)
            return;
        if (!hooked_) {
            hooked_ = true;
            w->RptPreview()->widget()->installEventFilter(this);
            connect(w->RptPreview(), &krpt::PreviewView::pageAvailable, this, [this, w](int) {
                const krpt::PageStore* store = w->RptPreview()->store();
                if (store && store->finished() && lastPageMs < 0) {
                    lastPageMs = Ms(clock_);
                    pages = store->pageCount();
                    storedBytes = store->storedBytes();
                }
            });
        }
        if (lastPageMs >= 0 && firstPaintedMs >= 0) {
            timer_.stop();
            w->close();
        }
    }
    QElapsedTimer& clock_;
    QTimer timer_;
    bool hooked_ = false;
};

void Run(int consultations, bool quiet = false)
{
    TempPractice practice;
    practice.CreateTables();
    PracticeCity = "Lyon";
    Fill(consultations);
    QElapsedTimer clock;
    Watch watch(clock);
    clock.start();
    PrintMedicalReport(practice.context(), "000001");
    if (quiet)
        return;
    const double total = watch.lastPageMs;
    const double bitmapBytes = 2480.0 * 3508 * 4 * watch.pages;
    std::printf("%6d consultations: %4d pages; page 1 painted %6.1f ms; last page %7.1f ms (page 1 at %4.1f %%); "
                "%6.1f pages/s, %5.2f ms/page; store %7.1f kB (%5.1f kB/page, %.4f %% of 300 dpi bitmaps); "
                "peak memory %ld kB\n",
        consultations, watch.pages, watch.firstPaintedMs, total, total > 0 ? 100.0 * watch.firstPaintedMs / total : 0.0,
        watch.pages / (total / 1000.0), total / watch.pages, watch.storedBytes / 1024.0,
        watch.storedBytes / 1024.0 / watch.pages, 100.0 * watch.storedBytes / bitmapBytes, PeakKb());
    const double share = total > 0 ? watch.firstPaintedMs / total : 1;
    std::printf("        goal page 1 before a tenth of the run: %s\n", share < 0.1 ? "met" : "not met");
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i)
        counts.push_back(std::atoi(argv[i]));
    if (counts.empty())
        counts = {100, 1000};
    // A first small run loads the fonts and the plugins.
    Run(10, true);
    for (const int count : counts)
        Run(count);
    return 0;
}
