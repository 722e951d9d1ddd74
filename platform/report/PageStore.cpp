#include "platform/report/PageStore.h"

#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPrinter>

#include <algorithm>
#include <stdexcept>

namespace krpt {

PageStore::PageStore(const QString& title, const PageSetup& setup) : title_(title), setup_(setup)
{
}

qint64 PageStore::storedBytes() const
{
    qint64 total = 0;
    for (const Page& page : pages_)
        total += page.commands.size();
    return total;
}

namespace {

// Plays recorded commands in the painter's current units. Playing a
// recording scales it by the device's resolution over the default one;
// that scale is undone here, the caller having set its own.
// A recording leaves out the settings its painter began with (a black pen
// set on a fresh painter is no change), so the player starts from those very
// settings, whatever its device's own (a widget's pen is its palette's).
void Play(QPainter& painter, const QPicture& page)
{
    const QPaintDevice* device = painter.device();
    painter.save();
    painter.setPen(QPen());
    painter.setBrush(QBrush());
    painter.setFont(QFont());
    painter.setBackground(QBrush(Qt::white));
    painter.setBackgroundMode(Qt::TransparentMode);
    painter.setOpacity(1);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (device && device->logicalDpiX() > 0 && device->logicalDpiY() > 0)
        painter.scale(
            double(page.logicalDpiX()) / device->logicalDpiX(), double(page.logicalDpiY()) / device->logicalDpiY());
    painter.drawPicture(0, 0, page);
    painter.restore();
}

}  // namespace

void PageStore::paintPage(int index, QPainter& painter) const
{
    if (index < 0 || index >= pageCount())
        return;
    painter.fillRect(QRectF(QPointF(0, 0), setup_.pageSize()), Qt::white);
    const Page& page = pages_[static_cast<size_t>(index)];
    Play(painter, page.commands);
    drawPictures(page, painter);
}

void PageStore::drawPictures(const Page& page, QPainter& painter) const
{
    // What a zoomed preview keeps of the pictures it read (a page's worth at
    // 200 %); larger readings, as for a printer, are read again each time.
    constexpr qint64 kKeptPixels = 16'000'000;
    constexpr size_t kKeptPictures = 8;
    const auto pixels = [](const QImage& image) { return qint64(image.width()) * image.height(); };
    for (const SourcePicture& picture : page.pictures) {
        const QSize device = painter.deviceTransform().mapRect(picture.target).size().toSize();
        QImage image = picture.shown;
        if (device.width() > picture.shown.width() + 1 || device.height() > picture.shown.height() + 1) {
            const auto hit = std::find_if(cache_.begin(), cache_.end(),
                [&](const Cached& c) { return c.picture == &picture && c.size == device; });
            if (hit != cache_.end()) {
                image = hit->image;
            } else if (picture.source) {
                const QImage read = picture.source(device);
                if (!read.isNull()) {
                    image = read;
                    if (pixels(read) <= kKeptPixels / 4) {
                        cache_.push_back({&picture, device, read});
                        qint64 kept = 0;
                        for (const Cached& c : cache_)
                            kept += pixels(c.image);
                        while (cache_.size() > 1 && (cache_.size() > kKeptPictures || kept > kKeptPixels)) {
                            kept -= pixels(cache_.front().image);
                            cache_.erase(cache_.begin());
                        }
                    }
                }
            }
        }
        if (image.isNull())
            continue;
        painter.save();
        painter.setClipRect(picture.clip, Qt::IntersectClip);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(picture.target, image);
        painter.restore();
    }
}

QImage PageStore::renderPage(int index, double dpi) const
{
    const double scale = dpi / 96.0;
    const QSizeF size = setup_.pageSize() * scale;
    QImage image(size.toSize(), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(scale, scale);
    paintPage(index, painter);
    return image;
}

void PageStore::print(QPrinter& printer, const PrinterSettings& settings) const
{
    const int first = std::max(1, settings.firstPage);
    const int last = settings.lastPage <= 0 ? pageCount() : std::min(settings.lastPage, pageCount());
    if (first > last)
        return;
    const QPageSize paper(setup_.paper == PageSetup::A5 ? QPageSize::A5 : QPageSize::A4);
    printer.setPageLayout(
        QPageLayout(paper, setup_.landscape ? QPageLayout::Landscape : QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
    printer.setFullPage(true);
    printer.setDocName(title_);
    // The copies are printed here, in order, so that every output (a file
    // included) gets them.
    const int copyCount = printer.copyCount();
    printer.setCopyCount(1);
    QPainter painter;
    if (!painter.begin(&printer)) {
        printer.setCopyCount(copyCount);
        throw std::runtime_error("L'impression n'a pas pu commencer sur " +
            (printer.outputFileName().isEmpty() ? printer.printerName() : printer.outputFileName()).toStdString());
    }
    const double scale = printer.resolution() / 96.0;
    bool firstSheet = true;
    for (int copy = 0; copy < std::max(1, settings.copies); ++copy)
        for (int page = first; page <= last; ++page) {
            if (!firstSheet)
                printer.newPage();
            firstSheet = false;
            painter.save();
            painter.scale(scale, scale);
            const Page& stored = pages_[static_cast<size_t>(page - 1)];
            Play(painter, stored.commands);
            drawPictures(stored, painter);
            painter.restore();
        }
    painter.end();
    printer.setCopyCount(copyCount);
}

void PageStore::addPage(const QPicture& page, std::vector<SourcePicture> pictures)
{
    // The cache points into the pages: it does not survive their moving.
    cache_.clear();
    pages_.push_back({page, std::move(pictures)});
    emit pageAdded(pageCount());
}

void PageStore::finish()
{
    finished_ = true;
    emit generationFinished(pageCount());
}

void PageStore::release()
{
    if (released_)
        return;
    released_ = true;
    emit releasedByPreview();
}

}  // namespace krpt
