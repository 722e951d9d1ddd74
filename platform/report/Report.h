#pragma once
// The banded report layer every printed document is built on.
//
// A report is a list of bands (title, page header, detail, sub-detail,
// summary, page footer) holding printable elements. It is driven either by a
// dataset (one detail band per row) or by a need-data event, or, with
// neither, prints its detail band once. Building a report lays its bands out
// page after page and records each page as drawing commands in a PageStore
// (PageStore.h); the preview control (PreviewView.h) shows a store and the
// store prints itself on a printer or into a PDF file.
//
// Lengths: the page setup is given in tenths of a millimetre; everything
// placed on a page (element and band geometry, font sizes) is in layout
// pixels at 96 per inch, mapped to the resolution of each device, so a page
// looks the same on screen, on paper and in a PDF.
//
// Events run on the GUI thread while the pages are built: a band's
// beforePrint may change its elements' captions, enabled state, geometry,
// its own height and background, and these take effect for that printing.
#include <QColor>
#include <QDateTime>
#include <QFont>
#include <QImage>
#include <QObject>
#include <QRectF>
#include <QString>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QPainter;
class QTextDocument;

namespace kdb {
class Dataset;
}

namespace krpt {

class PageStore;

// Layout pixels of a length in tenths of a millimetre.
double TenthsToPx(double tenths);

// Page size, orientation and margins, in tenths of a millimetre.
struct PageSetup {
    enum Paper { A4, A5 };
    Paper paper = A4;
    bool landscape = false;
    int bottomMargin = 100;
    int pageLength = 2970;
    int topMargin = 100;
    int pageWidth = 2100;
    int leftMargin = 100;
    int rightMargin = 100;
    int columnSpace = 0;

    // The seven values in their stored order: bottom margin, page length,
    // top margin, page width, left margin, right margin, column space.
    static PageSetup FromValues(Paper paper, bool landscape, const std::array<int, 7>& values);

    // The page and the area inside the margins, in layout pixels.
    QSizeF pageSize() const;
    QRectF contentRect() const;
};

// A font of a layout: family and size in points as the layout gives them,
// sized in layout pixels, outline only (never a bitmap face), unhinted so
// that its widths scale linearly from one device to another. Arial resolves
// through fontconfig to a face of the same metrics (Liberation Sans).
QFont LayoutFont(const QString& family = QStringLiteral("Arial"), double pointSize = 10, bool bold = false,
    bool underline = false, bool italic = false);

// Reads a picture again, reduced to fit a size in device pixels (never
// enlarged); null when it cannot be read.
using PictureSource = std::function<QImage(QSize fit)>;

// What an element knows of the page it is printed on.
struct PrintContext {
    int pageNumber = 1;
    QDateTime printedAt;
    // Set while pages are recorded: takes a picture that the page store
    // draws from its source at each device's resolution (target and clip in
    // page coordinates, `shown` the picture read for the layout's own).
    std::function<void(const QRectF& target, const QRectF& clip, const PictureSource& source, const QImage& shown)>
        placeSource;
};

// A printable element of a band.
class Element {
public:
    virtual ~Element() = default;

    QString name;
    QRectF rect;  // inside its band, layout pixels
    bool enabled = true;  // a disabled element does not print
    // A grown band stretches the element to its bottom (vertical rules).
    bool stretchToBand = false;

    // Height the element needs at its width: more than rect.height() makes
    // the band grow and pushes the elements below it down.
    virtual double neededHeight(const PrintContext& context) const;
    virtual void draw(QPainter& painter, const QRectF& area, const PrintContext& context) const = 0;
};

// A text: caption, font, alignment, colour; with wordWrap it wraps at its
// width and, with autoStretch, grows with its text.
class Label : public Element {
public:
    QString caption;
    QFont font = LayoutFont();
    Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignTop;
    QColor color = Qt::black;
    QColor background;  // invalid: transparent
    bool wordWrap = false;
    bool autoStretch = false;

    // The text printed; a label prints its caption.
    virtual QString text(const PrintContext& context) const;
    double neededHeight(const PrintContext& context) const override;
    void draw(QPainter& painter, const QRectF& area, const PrintContext& context) const override;
};

// The text of a column of the current row of a dataset; wraps and grows
// with its text.
class DbText : public Label {
public:
    DbText();
    kdb::Dataset* dataset = nullptr;
    std::string field;
    QString text(const PrintContext& context) const override;
};

// The number of the page being printed, through format ("%1").
class PageNumber : public Label {
public:
    QString format = QStringLiteral("%1");
    QString text(const PrintContext& context) const override;
};

// The date and time the printing started.
class PrintDate : public Label {
public:
    QString format = QStringLiteral("dd/MM/yyyy hh:mm:ss");
    QString text(const PrintContext& context) const override;
};

class Shape : public Element {
public:
    enum Kind { Rectangle, HorizontalLine, VerticalLine, Circle };
    Kind kind = Rectangle;
    double penWidth = 1;
    QColor penColor = Qt::black;
    Qt::PenStyle penStyle = Qt::SolidLine;
    QColor fill;  // invalid: not filled
    void draw(QPainter& painter, const QRectF& area, const PrintContext& context) const override;
};

// A picture read from a file: stretched to the element, or at its own size
// (96 pixels per inch) from the element's corner.
class Image : public Element {
public:
    // Where the picture can be read again at a finer resolution: a printer
    // or a zoomed preview gets it at its own resolution, `picture` serving
    // the layout's. Drawn over what the page holds at its place.
    PictureSource source;
    // Reads the picture; false when the file cannot be read (nothing prints).
    bool loadFromFile(const QString& fileName);
    // Takes a picture already read (null: nothing prints).
    void setPicture(const QImage& picture) { picture_ = picture; }
    const QImage& picture() const { return picture_; }
    int pictureWidth() const { return picture_.width(); }
    int pictureHeight() const { return picture_.height(); }
    bool stretch = false;
    void draw(QPainter& painter, const QRectF& area, const PrintContext& context) const override;

private:
    QImage picture_;
};

// A formatted text held in a text document, growing with its content.
class RichText : public Element {
public:
    RichText();
    ~RichText() override;
    QTextDocument& document() { return *document_; }
    QColor background;
    double neededHeight(const PrintContext& context) const override;
    void draw(QPainter& painter, const QRectF& area, const PrintContext& context) const override;

private:
    std::unique_ptr<QTextDocument> document_;
};

enum class BandKind { Title, PageHeader, Detail, SubDetail, Summary, PageFooter };

class Band {
public:
    explicit Band(BandKind kind) : kind(kind) { }
    const BandKind kind;
    double height = 20;  // layout pixels
    QColor background;  // invalid: transparent
    struct Frame {
        bool top = false, bottom = false, left = false, right = false;
        double width = 1;
        QColor color = Qt::black;
    } frame;
    // Sub-detail: the dataset whose rows it prints, from the first, each
    // time the detail level prints.
    kdb::Dataset* dataset = nullptr;
    // Runs before each printing of the band.
    std::function<void(Band&)> beforePrint;

    // Adds an element; the band owns it.
    template <class T> T& add(const QString& name, const QRectF& rect)
    {
        auto element = std::make_unique<T>();
        element->name = name;
        element->rect = rect;
        T& ref = *element;
        elements_.push_back(std::move(element));
        return ref;
    }
    Label& addLabel(const QString& name, const QString& caption, const QRectF& rect, const QFont& font = LayoutFont(),
        Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignTop);
    DbText& addDbText(const QString& name, kdb::Dataset* dataset, const std::string& field, const QRectF& rect,
        const QFont& font = LayoutFont());
    Shape& addShape(const QString& name, Shape::Kind kind, const QRectF& rect);

    Element* find(const QString& name) const;
    Label* label(const QString& name) const { return dynamic_cast<Label*>(find(name)); }
    const std::vector<std::unique_ptr<Element>>& elements() const { return elements_; }

private:
    std::vector<std::unique_ptr<Element>> elements_;
};

// Where the printed pages go: the printer chosen in the print dialog
// (index among the machine's printers, -1 for a file), copies and range.
struct PrinterSettings {
    int printerIndex = -1;
    int copies = 1;
    int firstPage = 1;
    int lastPage = 0;  // 0: the last page
};

class Report : public QObject {
    Q_OBJECT
public:
    explicit Report(QObject* parent = nullptr);
    ~Report() override;

    QString title;  // shown by the preview window
    // The name proposed for a file the document is printed into, without
    // its extension; empty: the title.
    QString fileName;
    PageSetup page;
    bool firstPageHeader = true;
    bool lastPageFooter = true;
    PrinterSettings printerSettings;

    // One detail band per row of the dataset, from its first row ...
    kdb::Dataset* dataset = nullptr;
    // ... or one per true answer, asked before each detail band.
    std::function<bool()> needData;

    std::function<void()> beforePrint;  // before the first page (open the datasets)
    std::function<void()> afterPrint;  // after the last page (close them)
    // Receives the page store of a preview request, before its first page.
    std::function<void(PageStore&)> onPreview;

    // The band of a kind, created empty on first use (one of each kind).
    Band& band(BandKind kind);
    Band* findBand(BandKind kind) const;

    // Builds the pages into a new page store handed to onPreview, page
    // after page while the event loop keeps running, and returns once the
    // store is released (PageStore::release); without onPreview, returns
    // once the pages are built. The store stays with the report until
    // freePageStore() or the report's end.
    void preview();
    // Builds every page at once, without preview (no events processed).
    std::unique_ptr<PageStore> build();

    PageStore* pageStore() const { return store_.get(); }
    void freePageStore();

private:
    void generate(PageStore& store, bool interactive);

    std::vector<std::unique_ptr<Band>> bands_;
    std::unique_ptr<PageStore> store_;
};

}  // namespace krpt
