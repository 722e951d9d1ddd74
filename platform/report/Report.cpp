// Laying the bands out page after page.
#include "platform/report/Report.h"

#include "platform/db/dataset/Dataset.h"
#include "platform/report/PageStore.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPainter>
#include <QPicture>

#include <algorithm>

namespace krpt {

Report::Report(QObject* parent) : QObject(parent)
{
}

Report::~Report() = default;

Band& Report::band(BandKind kind)
{
    if (Band* existing = findBand(kind))
        return *existing;
    bands_.push_back(std::make_unique<Band>(kind));
    return *bands_.back();
}

Band* Report::findBand(BandKind kind) const
{
    for (const auto& b : bands_)
        if (b->kind == kind)
            return b.get();
    return nullptr;
}

void Report::freePageStore()
{
    store_.reset();
}

void Report::preview()
{
    store_ = std::make_unique<PageStore>(title, page);
    PageStore& store = *store_;
    if (!onPreview) {
        // Nobody to show the pages to: they are built, and not waited on.
        generate(store, false);
        return;
    }
    QEventLoop wait;
    connect(&store, &PageStore::releasedByPreview, &wait, &QEventLoop::quit);
    generate(store, true);
    if (!store.released())
        wait.exec();
}

std::unique_ptr<PageStore> Report::build()
{
    auto store = std::make_unique<PageStore>(title, page);
    generate(*store, false);
    return store;
}

namespace {

// One band laid out for one printing: where each enabled element goes and
// the band's height once its growing elements have grown.
struct Placed {
    const Element* element;
    QRectF rect;
};
struct BandLayout {
    std::vector<Placed> items;
    double height = 0;
};

BandLayout LayOut(const Band& band, const PrintContext& context)
{
    BandLayout layout;
    std::vector<const Element*> elements;
    for (const auto& e : band.elements())
        if (e->enabled)
            elements.push_back(e.get());
    std::stable_sort(elements.begin(), elements.end(),
        [](const Element* a, const Element* b) { return a->rect.top() < b->rect.top(); });
    // An element moves down by the largest growth of the elements that end
    // above its top (each counted with its own move).
    struct Grower {
        double bottom, push;
    };
    std::vector<Grower> growers;
    double maxPush = 0;
    for (const Element* e : elements) {
        double shift = 0;
        for (const Grower& g : growers)
            if (g.bottom <= e->rect.top() + 0.01)
                shift = std::max(shift, g.push);
        QRectF r = e->rect.translated(0, shift);
        const double grow = e->stretchToBand ? 0 : std::max(0.0, e->neededHeight(context) - e->rect.height());
        if (grow > 0) {
            r.setHeight(r.height() + grow);
            growers.push_back({e->rect.bottom(), shift + grow});
        }
        maxPush = std::max(maxPush, shift + grow);
        layout.items.push_back({e, r});
    }
    layout.height = band.height + maxPush;
    for (Placed& p : layout.items)
        if (p.element->stretchToBand)
            p.rect.setBottom(std::max(p.rect.bottom(), p.element->rect.bottom() + maxPush));
    return layout;
}

class PageBuilder {
public:
    PageBuilder(Report& report, PageStore& store, bool interactive)
        : report_(report), store_(store), interactive_(interactive), content_(report.page.contentRect())
    {
        context_.printedAt = QDateTime::currentDateTime();
        context_.placeSource = [this](const QRectF& target, const QRectF& clip, const PictureSource& source,
                                   const QImage& shown) { pictures_.push_back({target, clip, source, shown}); };
    }

    // False once the preview has let the store go: building stops.
    bool alive() const { return !store_.released(); }

    void start() { openPage(); }

    void print(Band* band)
    {
        if (!band || !alive())
            return;
        if (band->beforePrint)
            band->beforePrint(*band);
        BandLayout layout = LayOut(*band, context_);
        if (y_ + layout.height > footerTop() && y_ > pageTop_ + 0.01) {
            closePage(false);
            if (!alive())
                return;
            openPage();
            // The page header may have filled labels the band reads: lay out again.
            layout = LayOut(*band, context_);
        }
        draw(*band, layout);
    }

    void finish()
    {
        if (alive())
            closePage(true);
    }

private:
    double footerHeight()
    {
        Band* footer = report_.findBand(BandKind::PageFooter);
        return footer ? footer->height : 0;
    }
    double footerTop() { return content_.bottom() - footerHeight(); }

    void openPage()
    {
        picture_ = std::make_unique<QPicture>();
        painter_ = std::make_unique<QPainter>(picture_.get());
        painter_->setRenderHint(QPainter::Antialiasing);
        painter_->setRenderHint(QPainter::TextAntialiasing);
        y_ = content_.top();
        if (context_.pageNumber > 1 || report_.firstPageHeader)
            print(report_.findBand(BandKind::PageHeader));
        pageTop_ = y_;
    }

    void closePage(bool last)
    {
        Band* footer = report_.findBand(BandKind::PageFooter);
        if (footer && (!last || report_.lastPageFooter)) {
            if (footer->beforePrint)
                footer->beforePrint(*footer);
            const BandLayout layout = LayOut(*footer, context_);
            y_ = content_.bottom() - layout.height;
            draw(*footer, layout);
        }
        painter_->end();
        painter_.reset();
        // The page's bounds are the paper, whatever was drawn on it.
        picture_->setBoundingRect(QRect(QPoint(0, 0), report_.page.pageSize().toSize()));
        store_.addPage(*picture_, std::move(pictures_));
        pictures_.clear();
        picture_.reset();
        ++context_.pageNumber;
        if (interactive_)
            QCoreApplication::processEvents();
    }

    void draw(const Band& band, const BandLayout& layout)
    {
        QPainter& p = *painter_;
        const QRectF area(content_.left(), y_, content_.width(), layout.height);
        if (band.background.isValid())
            p.fillRect(area, band.background);
        p.save();
        p.translate(area.topLeft());
        for (const Placed& item : layout.items) {
            p.save();
            item.element->draw(p, item.rect, context_);
            p.restore();
        }
        p.restore();
        const Band::Frame& f = band.frame;
        if (f.top || f.bottom || f.left || f.right) {
            p.save();
            p.setPen(QPen(f.color, f.width));
            if (f.top)
                p.drawLine(area.topLeft(), area.topRight());
            if (f.bottom)
                p.drawLine(area.bottomLeft(), area.bottomRight());
            if (f.left)
                p.drawLine(area.topLeft(), area.bottomLeft());
            if (f.right)
                p.drawLine(area.topRight(), area.bottomRight());
            p.restore();
        }
        y_ += layout.height;
    }

    Report& report_;
    PageStore& store_;
    bool interactive_;
    QRectF content_;
    PrintContext context_;
    std::unique_ptr<QPicture> picture_;
    std::unique_ptr<QPainter> painter_;
    std::vector<SourcePicture> pictures_;
    double y_ = 0;
    double pageTop_ = 0;
};

}  // namespace

void Report::generate(PageStore& store, bool interactive)
{
    if (beforePrint)
        beforePrint();
    store.setTitle(title);
    if (interactive && onPreview)
        onPreview(store);
    PageBuilder builder(*this, store, interactive);
    builder.start();
    builder.print(findBand(BandKind::Title));

    Band* detail = findBand(BandKind::Detail);
    Band* subDetail = findBand(BandKind::SubDetail);
    const auto printLevel = [&] {
        builder.print(detail);
        if (subDetail && subDetail->dataset && subDetail->dataset->active()) {
            kdb::Dataset& rows = *subDetail->dataset;
            for (rows.first(); !rows.eof() && builder.alive(); rows.next())
                builder.print(subDetail);
        }
    };
    if (dataset) {
        if (dataset->active())
            for (dataset->first(); !dataset->eof() && builder.alive(); dataset->next())
                printLevel();
    } else if (needData) {
        while (builder.alive() && needData())
            printLevel();
    } else {
        printLevel();
    }
    builder.print(findBand(BandKind::Summary));
    builder.finish();
    if (afterPrint)
        afterPrint();
    store.finish();
}

}  // namespace krpt
