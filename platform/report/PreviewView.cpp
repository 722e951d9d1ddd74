#include "platform/report/PreviewView.h"

#include "platform/report/PageStore.h"

#include <QKeyEvent>
#include <QPainter>
#include <QWheelEvent>
#include <QScrollBar>

#include <cmath>
#include <cstdlib>

namespace krpt {

// The page at the current zoom, on a grey ground.
class PreviewView::PageWidget : public QWidget {
public:
    explicit PageWidget(PreviewView* view) : view_(view) { }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(0x80, 0x80, 0x80));
        PageStore* store = view_->store();
        if (!store || view_->pageNumber() < 1)
            return;
        const double scale = view_->zoom() / 100.0;
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.translate(Margin, Margin);
        painter.scale(scale, scale);
        store->paintPage(view_->pageNumber() - 1, painter);
    }

public:
    static constexpr int Margin = 10;

private:
    PreviewView* view_;
};

PreviewView::PreviewView(QWidget* parent) : QScrollArea(parent), pageWidget_(new PageWidget(this))
{
    setWidget(pageWidget_);
    setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    setBackgroundRole(QPalette::Dark);
}

PreviewView::~PreviewView()
{
    if (store_)
        store_->release();
}

void PreviewView::attach(PageStore* store)
{
    if (store_ == store)
        return;
    detach();
    store_ = store;
    page_ = 0;
    if (!store)
        return;
    connect(store, &PageStore::pageAdded, this, [this](int count) {
        if (page_ == 0)
            setPageNumber(1);
        emit pageAvailable(count);
    });
    connect(store, &PageStore::generationFinished, this, [this](int count) {
        if (page_ == 0 && count > 0)
            setPageNumber(1);
        emit pageAvailable(count);
    });
    if (store->pageCount() > 0)
        setPageNumber(1);
    relayout();
}

void PreviewView::detach()
{
    if (!store_)
        return;
    PageStore* store = store_;
    disconnect(store, nullptr, this, nullptr);
    store_ = nullptr;
    page_ = 0;
    store->release();
    relayout();
}

void PreviewView::setPageNumber(int page)
{
    const int count = store_ ? store_->pageCount() : 0;
    page_ = count == 0 ? 0 : std::clamp(page, 1, count);
    pageWidget_->update();
}

void PreviewView::setZoom(int percent)
{
    fitWidth_ = false;
    zoom_ = std::max(1, percent);
    relayout();
}

void PreviewView::zoomToWidth()
{
    fitWidth_ = true;
    relayout();
}

void PreviewView::resizeEvent(QResizeEvent* event)
{
    QScrollArea::resizeEvent(event);
    if (fitWidth_)
        relayout();
}

bool PreviewView::turnPage(int step)
{
    QScrollBar* bar = verticalScrollBar();
    const int count = store_ ? store_->pageCount() : 0;
    const int target = page_ + step;
    if (page_ < 1 || target < 1 || target > count)
        return false;
    if (step > 0 ? bar->value() < bar->maximum() : bar->value() > bar->minimum())
        return false;
    setPageNumber(target);
    // The next page from its top, the previous one from its bottom.
    bar->setValue(step > 0 ? bar->minimum() : bar->maximum());
    emit pageTurned(target);
    return true;
}

void PreviewView::wheelEvent(QWheelEvent* event)
{
    const int dy = event->angleDelta().y();
    QScrollBar* bar = verticalScrollBar();
    const bool atEnd = dy < 0 ? bar->value() >= bar->maximum() : bar->value() <= bar->minimum();
    if (dy != 0 && atEnd) {
        // A whole notch past the end turns the page (a touchpad sends many
        // small steps).
        wheelPastEnd_ = (wheelPastEnd_ < 0) == (dy < 0) ? wheelPastEnd_ + dy : dy;
        if (std::abs(wheelPastEnd_) >= QWheelEvent::DefaultDeltasPerStep) {
            wheelPastEnd_ = 0;
            turnPage(dy < 0 ? 1 : -1);
        }
        event->accept();
        return;
    }
    wheelPastEnd_ = 0;
    QScrollArea::wheelEvent(event);
}

void PreviewView::keyPressEvent(QKeyEvent* event)
{
    if ((event->key() == Qt::Key_PageDown && turnPage(1)) || (event->key() == Qt::Key_PageUp && turnPage(-1))) {
        event->accept();
        return;
    }
    QScrollArea::keyPressEvent(event);
}

void PreviewView::relayout()
{
    const QSizeF page = store_ ? store_->setup().pageSize() : QSizeF(0, 0);
    if (fitWidth_ && page.width() > 0) {
        const int available = viewport()->width() - 2 * PageWidget::Margin - verticalScrollBar()->sizeHint().width();
        zoom_ = std::max(1, static_cast<int>(std::floor(100.0 * available / page.width())));
    }
    const double scale = zoom_ / 100.0;
    pageWidget_->resize(static_cast<int>(std::ceil(page.width() * scale)) + 2 * PageWidget::Margin,
        static_cast<int>(std::ceil(page.height() * scale)) + 2 * PageWidget::Margin);
    pageWidget_->update();
}

}  // namespace krpt
