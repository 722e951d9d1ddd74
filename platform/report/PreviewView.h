#pragma once
// The preview control: shows one page of an attached page store at a zoom,
// and tells each time a page becomes available.
#include <QPointer>
#include <QScrollArea>

namespace krpt {

class PageStore;

class PreviewView : public QScrollArea {
    Q_OBJECT
public:
    explicit PreviewView(QWidget* parent = nullptr);
    ~PreviewView() override;

    // Shows the store from its first page; pageAvailable follows its pages.
    void attach(PageStore* store);
    // Lets the store go (PageStore::release) and shows nothing.
    void detach();
    PageStore* store() const { return store_; }

    int pageNumber() const { return page_; }  // 1-based, 0 without pages
    void setPageNumber(int page);
    int zoom() const { return zoom_; }  // percent
    void setZoom(int percent);
    // Zoom at which the page's width fills the visible width.
    void zoomToWidth();

signals:
    void pageAvailable(int count);
    // The wheel or Page Down past the bottom of a page went on to the next
    // page (Page Up or the wheel past its top, to the previous one).
    void pageTurned(int page);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    class PageWidget;
    void relayout();
    // Goes one page on (+1) or back (-1) when the page is scrolled to that
    // end; true when it did.
    bool turnPage(int step);

    QPointer<PageStore> store_;
    PageWidget* pageWidget_;
    int page_ = 0;
    int zoom_ = 100;
    bool fitWidth_ = false;
    int wheelPastEnd_ = 0;  // wheel turned past the page's end, not yet a page
};

}  // namespace krpt
