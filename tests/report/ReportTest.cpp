// The report layer: band order and page breaks, growing texts, page setups
// on screen and in a PDF, the preview hand-off, printing ranges and copies,
// the fonts of a layout.
#include "PdfText.h"
#include "platform/report/PageStore.h"
#include "platform/report/PreviewView.h"
#include "platform/report/Report.h"
#include "tests/support/TestApplication.h"

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QImage>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTimer>

using namespace krpt;

namespace {

// A report of `count` rows driven by need-data: page header "En-tête",
// title "Titre du rapport", rows "Ligne n", summary "Fin du rapport",
// footer "Page n".
class RowsReport {
public:
    explicit RowsReport(int count, double rowHeight = 20) : count_(count)
    {
        report.needData = [this] { return row_ < count_ ? (++row_, true) : false; };
        report.beforePrint = [this] {
            row_ = 0;
            ++opened;
        };
        report.afterPrint = [this] { ++closed; };
        report.band(BandKind::PageHeader).addLabel("lHeader", "En-tête", {0, 0, 300, 18});
        report.band(BandKind::Title).addLabel("lTitle", "Titre du rapport", {0, 0, 300, 18});
        Band& detail = report.band(BandKind::Detail);
        detail.height = rowHeight;
        detail.addLabel("lRow", {}, {0, 0, 300, 18});
        detail.beforePrint = [this](Band& band) { band.label("lRow")->caption = "Ligne " + QString::number(row_); };
        report.band(BandKind::Summary).addLabel("lSummary", "Fin du rapport", {0, 0, 300, 18});
        report.band(BandKind::PageFooter).add<PageNumber>("lPage", {0, 0, 300, 18}).format = "Page %1";
    }
    Report report;
    int opened = 0, closed = 0;

private:
    int count_;
    int row_ = 0;
};

QString PrintToPdf(const PageStore& store, const QString& file, PrinterSettings settings = {})
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(file);
    store.print(printer, settings);
    return file;
}

using pdftest::DarkBounds;

class ReportTest : public ::testing::Test {
protected:
    void SetUp() override { TestApplication(); }
    QTemporaryDir dir_;
    QString Pdf(const QString& name) const { return dir_.filePath(name + ".pdf"); }
};

TEST_F(ReportTest, BandsComeInTheirOrderOnEveryPageAndRowsFlowOnToTheNextPages)
{
    RowsReport rows(120);
    const auto store = rows.report.build();
    EXPECT_EQ(rows.opened, 1);
    EXPECT_EQ(rows.closed, 1);
    ASSERT_TRUE(store->finished());
    const QStringList pages = pdftest::Pages(PrintToPdf(*store, Pdf("rows")));
    ASSERT_EQ(pages.size(), store->pageCount());
    ASSERT_GE(pages.size(), 3);
    int expectedRow = 1;
    for (int p = 0; p < pages.size(); ++p) {
        const QStringList lines = pdftest::Lines(pages[p]);
        SCOPED_TRACE(p + 1);
        ASSERT_GE(lines.size(), 3);
        EXPECT_EQ(lines.first(), "En-tête");
        EXPECT_EQ(lines.last(), "Page " + QString::number(p + 1));
        int i = 1;
        if (p == 0) {
            EXPECT_EQ(lines[i++], "Titre du rapport");
        }
        for (; i < lines.size() - 1 && lines[i].startsWith("Ligne"); ++i)
            EXPECT_EQ(lines[i], "Ligne " + QString::number(expectedRow++));
        if (p == pages.size() - 1) {
            EXPECT_EQ(lines[i++], "Fin du rapport");
        }
        EXPECT_EQ(i, lines.size() - 1);
    }
    EXPECT_EQ(expectedRow, 121);
}

TEST_F(ReportTest, FirstPageHeaderAndLastPageFooterOptionsAndAnEmptyReport)
{
    RowsReport rows(80);
    rows.report.firstPageHeader = false;
    rows.report.lastPageFooter = false;
    const auto store = rows.report.build();
    const QStringList pages = pdftest::Pages(PrintToPdf(*store, Pdf("options")));
    ASSERT_GE(pages.size(), 2);
    EXPECT_EQ(pdftest::Lines(pages.first()).first(), "Titre du rapport");
    EXPECT_EQ(pdftest::Lines(pages.first()).last(), "Page 1");
    EXPECT_EQ(pdftest::Lines(pages.last()).first(), "En-tête");
    EXPECT_EQ(pdftest::Lines(pages.last()).last(), "Fin du rapport");

    RowsReport none(0);
    const auto empty = none.report.build();
    const QStringList one = pdftest::Pages(PrintToPdf(*empty, Pdf("empty")));
    ASSERT_EQ(one.size(), 1);
    EXPECT_EQ(pdftest::Lines(one[0]), QStringList({"En-tête", "Titre du rapport", "Fin du rapport", "Page 1"}));
}

TEST_F(ReportTest, AGrowingTextPushesWhatIsBelowItAndNotWhatIsBesideIt)
{
    Report report;
    Band& detail = report.band(BandKind::Detail);
    detail.height = 60;
    Label& text = detail.addLabel("lLong", {}, {0, 0, 200, 18});
    text.wordWrap = text.autoStretch = true;
    text.caption = QString("mot ").repeated(60).trimmed();
    Shape& below = detail.addShape("shpBelow", Shape::Rectangle, {220, 30, 50, 20});
    below.fill = Qt::black;
    Shape& beside = detail.addShape("shpBeside", Shape::Rectangle, {400, 0, 50, 20});
    beside.fill = Qt::black;
    report.band(BandKind::Summary).addLabel("lAfter", "Après", {0, 0, 100, 18});

    const auto store = report.build();
    const QImage page = store->renderPage(0, 96);
    const QRectF content = report.page.contentRect();
    // The wrapped text is several lines high: the rectangle below moved by
    // as much; the one beside it did not.
    const QRect belowBox = DarkBounds(page.copy(QRectF(content.left() + 220, content.top(), 50, 400).toRect()));
    const QRect besideBox = DarkBounds(page.copy(QRectF(content.left() + 400, content.top(), 50, 400).toRect()));
    EXPECT_NEAR(besideBox.top(), 0, 1);
    const QFontMetricsF metrics(text.font);
    const double wrapped = metrics.boundingRect(QRectF(0, 0, 200, 1e6), Qt::TextWordWrap, text.caption).height();
    ASSERT_GT(wrapped, 5 * 18);
    EXPECT_NEAR(belowBox.top(), 30 + wrapped - 18, 2);
    // The next band follows the grown band.
    const QStringList lines = pdftest::Lines(pdftest::Pages(PrintToPdf(*store, Pdf("grow"))).value(0));
    EXPECT_EQ(lines.last(), "Après");
    EXPECT_EQ(lines.join(' ').count("mot"), 60);
}

TEST_F(ReportTest, EachPageSetupPutsTheContentInsideItsMarginsOnScreenAndInThePdf)
{
    struct Case {
        PageSetup setup;
        QSizeF points;
    };
    const Case cases[] = {
        {PageSetup::FromValues(PageSetup::A4, false, {100, 2970, 100, 2100, 100, 100, 0}), {595.3, 841.9}},
        {PageSetup::FromValues(PageSetup::A4, false, {100, 2970, 100, 2100, 300, 200, 0}), {595.3, 841.9}},
        {PageSetup::FromValues(PageSetup::A4, true, {100, 2100, 100, 2970, 100, 40, 0}), {841.9, 595.3}},
        {PageSetup::FromValues(PageSetup::A5, false, {150, 2100, 150, 1480, 150, 150, 0}), {419.5, 595.3}},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(n);
        Report report;
        report.page = c.setup;
        const double width = c.setup.contentRect().width();
        Band& title = report.band(BandKind::Title);
        title.height = 40;
        title.addShape("top", Shape::Rectangle, {0, 0, width, 40}).fill = Qt::black;
        Band& footer = report.band(BandKind::PageFooter);
        footer.height = 40;
        footer.addShape("bottom", Shape::Rectangle, {0, 0, width, 40}).fill = Qt::black;
        const auto store = report.build();

        // Millimetres of the setup, at 96 pixels per inch.
        const auto px = [](int tenths) { return tenths / 254.0 * 96; };
        const QRectF expected(px(c.setup.leftMargin), px(c.setup.topMargin),
            px(c.setup.pageWidth - c.setup.leftMargin - c.setup.rightMargin),
            px(c.setup.pageLength - c.setup.topMargin - c.setup.bottomMargin));
        const QImage screen = store->renderPage(0, 96);
        EXPECT_NEAR(screen.width(), px(c.setup.pageWidth), 1);
        EXPECT_NEAR(screen.height(), px(c.setup.pageLength), 1);
        const QRect onScreen = DarkBounds(screen);
        EXPECT_NEAR(onScreen.left(), expected.left(), 1.5);
        EXPECT_NEAR(onScreen.top(), expected.top(), 1.5);
        EXPECT_NEAR(onScreen.right() + 1, expected.right(), 1.5);
        EXPECT_NEAR(onScreen.bottom() + 1, expected.bottom(), 1.5);

        const QString pdf = PrintToPdf(*store, Pdf("setup" + QString::number(n)));
        const QList<QSizeF> sizes = pdftest::PageSizes(pdf);
        ASSERT_EQ(sizes.size(), 1);
        EXPECT_NEAR(sizes[0].width(), c.points.width(), 1);
        EXPECT_NEAR(sizes[0].height(), c.points.height(), 1);
        // The PDF page drawn at 96 dpi puts the blocks where the screen does.
        const QString png = dir_.filePath("setup" + QString::number(n));
        pdftest::Run("pdftoppm", {"-r", "96", "-png", "-singlefile", pdf, png});
        const QRect onPaper = DarkBounds(QImage(png + ".png"));
        EXPECT_NEAR(onPaper.left(), onScreen.left(), 1.5);
        EXPECT_NEAR(onPaper.top(), onScreen.top(), 1.5);
        EXPECT_NEAR(onPaper.right(), onScreen.right(), 1.5);
        EXPECT_NEAR(onPaper.bottom(), onScreen.bottom(), 1.5);
        ++n;
    }
}

TEST_F(ReportTest, PreviewShowsPageOneWhileTheRestIsBuiltAndReturnsOnlyWhenReleased)
{
    RowsReport rows(30, 2000);  // one row per page
    PreviewView view;
    view.resize(600, 800);
    std::vector<std::pair<int, bool>> available;  // count, generation finished
    bool detached = false;
    rows.report.onPreview = [&](PageStore& store) {
        view.attach(&store);
        view.show();
    };
    QObject::connect(&view, &PreviewView::pageAvailable, [&](int count) {
        available.emplace_back(count, view.store()->finished());
        if (view.store()->finished())
            QTimer::singleShot(50, [&] {
                detached = true;
                view.detach();
            });
    });
    rows.report.preview();
    EXPECT_TRUE(detached);
    ASSERT_GE(available.size(), 31u);
    EXPECT_EQ(available.front(), std::make_pair(1, false));
    for (int i = 0; i < 30; ++i)
        EXPECT_EQ(available[i].first, i + 1);
    EXPECT_EQ(available.back(), std::make_pair(32, true));  // title and summary pages included
    ASSERT_NE(rows.report.pageStore(), nullptr);
    EXPECT_TRUE(rows.report.pageStore()->released());

    // Released while pages are still being built: building stops there and
    // the datasets are closed all the same.
    RowsReport early(30, 2000);
    early.report.onPreview = [&](PageStore& store) { view.attach(&store); };
    QMetaObject::Connection c = QObject::connect(&view, &PreviewView::pageAvailable, [&](int count) {
        if (count == 3)
            view.detach();
    });
    early.report.preview();
    QObject::disconnect(c);
    EXPECT_EQ(early.report.pageStore()->pageCount(), 3);
    EXPECT_EQ(early.closed, 1);
}

TEST_F(ReportTest, PrintingARangeWithCopiesPrintsThoseStoredPagesInOrderEachTime)
{
    RowsReport rows(5, 2000);
    rows.report.firstPageHeader = true;
    const auto store = rows.report.build();
    ASSERT_EQ(store->pageCount(), 7);
    PrinterSettings settings;
    settings.firstPage = 3;
    settings.lastPage = 4;
    settings.copies = 2;
    const QStringList pages = pdftest::Pages(PrintToPdf(*store, Pdf("range"), settings));
    QStringList rowsPrinted;
    for (const QString& page : pages)
        rowsPrinted << pdftest::Lines(page).value(1);
    EXPECT_EQ(rowsPrinted, QStringList({"Ligne 2", "Ligne 3", "Ligne 2", "Ligne 3"}));
}

TEST_F(ReportTest, LayoutFontsAreOutlineFacesWithTheMetricsOfTheirNames)
{
    EXPECT_EQ(QFontInfo(LayoutFont("Arial", 10)).family(), "Liberation Sans");
    Report report;
    Band& title = report.band(BandKind::Title);
    title.addLabel("a", "Arial", {0, 0, 200, 20}, LayoutFont("Arial", 10));
    title.addLabel("v", "Verdana", {0, 20, 200, 20}, LayoutFont("Verdana", 10, true));
    const QString fonts = pdftest::Fonts(PrintToPdf(*report.build(), Pdf("fonts")));
    EXPECT_TRUE(fonts.contains("LiberationSans")) << fonts.toStdString();
    EXPECT_FALSE(fonts.contains("Type 3")) << fonts.toStdString();
}

TEST_F(ReportTest, ATextLineHasTheSameLengthOnScreenAndInThePdf)
{
    Report report;
    report.band(BandKind::Title)
        .addLabel(
            "a", QString("Rapport médical de DUPONT Jean ").repeated(3), {0, 0, 700, 20}, LayoutFont("Arial", 10));
    const auto store = report.build();
    const QRect screen = DarkBounds(store->renderPage(0, 96));
    const QString png = dir_.filePath("line");
    pdftest::Run("pdftoppm", {"-r", "96", "-png", "-singlefile", PrintToPdf(*store, Pdf("line")), png});
    const QRect paper = DarkBounds(QImage(png + ".png"));
    ASSERT_GT(screen.width(), 500);
    EXPECT_NEAR(paper.left(), screen.left(), 1.5);
    EXPECT_NEAR(paper.right(), screen.right(), 3);
}

TEST_F(ReportTest, PicturesShapesAndRichTextArePrinted)
{
    QImage red(40, 20, QImage::Format_RGB32);
    red.fill(Qt::red);
    const QString file = dir_.filePath("red.png");
    ASSERT_TRUE(red.save(file));
    Report report;
    Band& title = report.band(BandKind::Title);
    title.height = 300;
    Image& stretched = title.add<Image>("imgStretch", {0, 0, 200, 100});
    ASSERT_TRUE(stretched.loadFromFile(file));
    stretched.stretch = true;
    Image& own = title.add<Image>("imgOwn", {300, 0, 200, 100});
    ASSERT_TRUE(own.loadFromFile(file));
    EXPECT_EQ(own.pictureWidth(), 40);
    EXPECT_FALSE(title.add<Image>("imgMissing", {0, 0, 10, 10}).loadFromFile(dir_.filePath("absent.png")));
    Shape& circle = title.addShape("circle", Shape::Circle, {0, 150, 100, 100});
    circle.fill = Qt::blue;
    RichText& rich = title.add<RichText>("rich", {300, 150, 200, 20});
    rich.document().setHtml("<p><b>Texte riche</b></p><p>deuxième paragraphe</p><p>troisième</p>");
    Band& summary = report.band(BandKind::Summary);
    summary.addLabel("after", "Suite", {0, 0, 100, 18});
    summary.frame.top = summary.frame.left = true;
    summary.frame.color = Qt::green;
    summary.frame.width = 2;

    const auto store = report.build();
    const QImage page = store->renderPage(0, 96);
    const QPointF o = report.page.contentRect().topLeft();
    const auto at = [&](double x, double y) { return QColor(page.pixel(QPointF(o.x() + x, o.y() + y).toPoint())); };
    EXPECT_EQ(at(190, 90), QColor(Qt::red));  // stretched over the element
    EXPECT_EQ(at(335, 15), QColor(Qt::red));  // own size ...
    EXPECT_EQ(at(345, 25), QColor(Qt::white));  // ... and no more
    EXPECT_EQ(at(50, 200), QColor(Qt::blue));  // inside the circle
    EXPECT_EQ(at(3, 153), QColor(Qt::white));  // outside it, in the corner
    // The summary's frame: along its top edge across the page, and its left edge.
    int greenRow = -1;
    for (int y = int(o.y() + 300); y < int(o.y() + 400) && greenRow < 0; ++y)
        if (QColor(page.pixel(int(o.x() + 400), y)) == QColor(Qt::green))
            greenRow = y;
    EXPECT_GE(greenRow - o.y(), 300);
    EXPECT_EQ(QColor(page.pixel(int(report.page.contentRect().right() - 2), greenRow)), QColor(Qt::green));
    EXPECT_EQ(QColor(page.pixel(int(o.x()), greenRow + 10)), QColor(Qt::green));
    const QStringList lines = pdftest::Words(pdftest::Pages(PrintToPdf(*store, Pdf("pictures"))).value(0));
    ASSERT_GE(lines.size(), 4);
    EXPECT_EQ(lines.mid(lines.size() - 4), QStringList({"Texte riche", "deuxième paragraphe", "troisième", "Suite"}));
}

}  // namespace
