#pragma once
// The pages of a built report, each kept as its recorded drawing commands
// (a QPicture in layout pixels), not as a bitmap: a page costs the size of
// its commands whatever the device it is later played on.
//
// The report adds pages while it builds them (pageAdded) and says when the
// last one is in (generationFinished). A preview control holds the store
// while it shows it and releases it when done (release), which ends the
// report's preview request.
#include "platform/report/Report.h"

#include <QObject>
#include <QPicture>

#include <vector>

class QPainter;
class QPrinter;

namespace krpt {

// A picture of a page kept as its source, drawn at each device's own
// resolution over the page's recorded commands.
struct SourcePicture {
    QRectF target;  // page coordinates, layout pixels
    QRectF clip;
    PictureSource source;
    QImage shown;  // read for the layout's own resolution
};

class PageStore : public QObject {
    Q_OBJECT
public:
    PageStore(const QString& title, const PageSetup& setup);

    const QString& title() const { return title_; }
    const PageSetup& setup() const { return setup_; }
    int pageCount() const { return static_cast<int>(pages_.size()); }
    // Whether the last page has been built.
    bool finished() const { return finished_; }
    // Bytes of the recorded commands of every page.
    qint64 storedBytes() const;

    // Plays page `index` (0-based) on a painter whose unit is the layout
    // pixel, after painting the paper white.
    void paintPage(int index, QPainter& painter) const;
    // Page `index` as an image at `dpi` dots per inch.
    QImage renderPage(int index, double dpi) const;

    // Prints the pages firstPage to lastPage (1-based, lastPage 0 for the
    // last), `copies` times in order, on the printer as it is set (printer
    // or PDF file). Raises std::runtime_error when the output cannot start.
    void print(QPrinter& printer, const PrinterSettings& settings) const;

    // ---- the report's side ---------------------------------------------------
    void setTitle(const QString& title) { title_ = title; }
    void addPage(const QPicture& page, std::vector<SourcePicture> pictures = {});
    void finish();

    // ---- the preview's side --------------------------------------------------
    void release();
    bool released() const { return released_; }

signals:
    void pageAdded(int count);
    void generationFinished(int count);
    void releasedByPreview();

private:
    QString title_;
    PageSetup setup_;
    struct Page {
        QPicture commands;
        std::vector<SourcePicture> pictures;
    };
    // Draws the page's source pictures at the painter's device resolution.
    void drawPictures(const Page& page, QPainter& painter) const;

    std::vector<Page> pages_;
    // The source pictures last read for a zoomed preview, at their sizes,
    // the most recent last.
    struct Cached {
        const SourcePicture* picture;
        QSize size;
        QImage image;
    };
    mutable std::vector<Cached> cache_;
    bool finished_ = false;
    bool released_ = false;
};

}  // namespace krpt
