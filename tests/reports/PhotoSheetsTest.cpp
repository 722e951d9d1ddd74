// The photo sheets printed from the photo screen's queue into a PDF: the
// pages' text, and the photos found on the rendered pages in their frames,
// in queue order, with their proportions kept.
#include "ReportsFixture.h"
#include "app/records/UPhoto.h"
#include "app/records/UGetPatient.h"
#include "platform/ui/Messages.h"
#include "tests/support/ExifJpeg.h"

#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QProcess>
#include <QToolButton>

namespace {

class PhotoSheetsTest : public ReportsFixture {
protected:
    // A photo of one colour in PhotoDir, recorded in slot `num`.
    void AddPhoto(int num, const QString& name, QSize size, QColor colour)
    {
        QImage im(size, QImage::Format_RGB32);
        im.fill(colour);
        ASSERT_TRUE(im.save(PhotoDir + name, "JPG", 95));
        Exec("INSERT INTO FPHOTO (CODE, NUM, PHOTO) VALUES ('000001', :N, :P)",
            {{"N", QString::number(num)}, {"P", name}});
    }
    // The page rendered at 96 dpi (one layout pixel a pixel).
    QImage Render(const QString& pdf, int page)
    {
        const QString out = practice_.root() + "/page";
        QProcess::execute("pdftoppm",
            {"-r", "96", "-png", "-singlefile", "-f", QString::number(page), "-l", QString::number(page), pdf, out});
        return QImage(out + ".png");
    }
    // The bounding box of the pixels near a colour.
    static QRect Find(const QImage& page, QColor colour)
    {
        QRect box;
        for (int y = 0; y < page.height(); ++y)
            for (int x = 0; x < page.width(); ++x) {
                const QColor c = page.pixelColor(x, y);
                if (std::abs(c.red() - colour.red()) < 30 && std::abs(c.green() - colour.green()) < 30 &&
                    std::abs(c.blue() - colour.blue()) < 30)
                    box |= QRect(x, y, 1, 1);
            }
        return box;
    }
};

}  // namespace

TEST_F(PhotoSheetsTest, FivePhotosOnTwoPagesInQueueOrderWithTheirProportions)
{
    kui::ScopedMessageRecorder messages;
    AddPatient("000001", "DURAND", "Marie", "F", "52 Ans", "00/00/1971");
    CurrentPatientCode = "000001";
    const QColor red(220, 0, 0), green(0, 200, 0), blue(0, 0, 220), magenta(200, 0, 200), cyan(0, 200, 200);
    AddPhoto(1, "a.jpg", {1600, 1200}, red);
    AddPhoto(2, "b.jpg", {1200, 1600}, green);
    AddPhoto(3, "c.jpg", {730, 378}, blue);
    AddPhoto(4, "d.jpg", {300, 200}, magenta);
    AddPhoto(5, "e.jpg", {400, 800}, cyan);
    AddPhoto(6, "gone.jpg", {10, 10}, Qt::black);

    TfrmPhoto frm(practice_.context());
    for (int n : {1, 2, 3, 4, 5}) {
        frm.Image1Click(frm.Image(n));
        frm.btnAddtoPrintClick();
    }
    ASSERT_EQ(frm.PrintList, QStringList({"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg"}));
    const QStringList pages = PrintedPages([&] { frm.btnPrintClick(); }, "photos");
    ASSERT_EQ(pages.size(), 2);
    const int age = QDate::currentDate().year() - 1971;
    for (const QString& page : pages) {
        const QStringList lines = pdftest::Words(page);
        ASSERT_GE(lines.size(), 7);
        EXPECT_EQ(lines.mid(0, 7),
            QStringList({"Dr Martin", "Chirurgie générale", "Cabinet des Tilleuls", "Adresse : 1 rue Haute, Lyon",
                "Tél.: 0400000000", "Patient : Mme DURAND Marie", QStringLiteral("Age : %1 Ans").arg(age)}));
    }

    const QString pdf = Pdf("photos");
    const QImage one = Render(pdf, 1), two = Render(pdf, 2);
    ASSERT_FALSE(one.isNull());
    const QRect a = Find(one, red), b = Find(one, green), c = Find(one, blue), d = Find(one, magenta);
    const QRect e = Find(two, cyan);
    ASSERT_TRUE(a.isValid() && b.isValid() && c.isValid() && d.isValid() && e.isValid());
    EXPECT_FALSE(Find(two, red).isValid());
    // Top left, top right, bottom left, bottom right; the fifth at the top left of page 2.
    EXPECT_NEAR(a.top(), b.top(), 2);
    EXPECT_GT(b.left(), a.right());
    EXPECT_NEAR(c.left(), a.left(), 2);
    EXPECT_GT(c.top(), b.bottom());
    EXPECT_NEAR(d.top(), c.top(), 2);
    EXPECT_GT(d.left(), c.right());
    EXPECT_NEAR(e.topLeft().x(), a.topLeft().x(), 2);
    EXPECT_NEAR(e.topLeft().y(), a.topLeft().y(), 2);
    // Reduced to 365 x 273, 284 x 378, 365 x 189; 300 x 200 unchanged; 189 x 378.
    const auto near = [](QRect r, int w, int h) {
        EXPECT_NEAR(r.width(), w, 3);
        EXPECT_NEAR(r.height(), h, 3);
    };
    near(a, 365, 273);
    near(b, 284, 378);
    near(c, 365, 189);
    near(d, 300, 200);
    near(e, 189, 378);
    EXPECT_EQ(messages.Count(), 0);
}

TEST_F(PhotoSheetsTest, ChoosingAnotherPatientEmptiesTheQueueSoASheetCarriesOnePatientsPhotos)
{
    kui::ScopedMessageRecorder messages;
    AddPatient("000001", "DURAND", "Marie", "F", "52 Ans");
    AddPatient("000002", "PETIT", "Paul", "M", "40 Ans");
    CurrentPatientCode = "000001";
    const QColor red(220, 0, 0), blue(0, 0, 220);
    AddPhoto(1, "durand.jpg", {400, 300}, red);
    {
        QImage im(400, 300, QImage::Format_RGB32);
        im.fill(blue);
        ASSERT_TRUE(im.save(PhotoDir + "petit.jpg", "JPG", 95));
        Exec("INSERT INTO FPHOTO (CODE, NUM, PHOTO) VALUES ('000002', '1', 'petit.jpg')");
    }
    TfrmPhoto frm(practice_.context());
    frm.show();
    QTest::mouseClick(frm.Image(1), Qt::LeftButton);
    QTest::mouseClick(frm.findChild<QToolButton*>("btnAddtoPrint"), Qt::LeftButton);
    ASSERT_EQ(frm.PrintList, QStringList({"durand.jpg"}));

    // The patient picker, answered as a user does: the name typed, Enter,
    // the row chosen.
    QTimer picker;
    QObject::connect(&picker, &QTimer::timeout, [&] {
        auto* w = qobject_cast<TfrmGetPatient*>(QApplication::activeModalWidget());
        if (!w || !w->isVisible())
            return;
        picker.stop();
        w->edNom()->setText("PETIT");
        QTest::keyClick(w->edNom(), Qt::Key_Return);
        w->grdPatientDblClick();
    });
    picker.start(5);
    QTest::mouseClick(frm.findChild<QToolButton*>("btnGetPatient"), Qt::LeftButton);
    ASSERT_EQ(CurrentPatientCode, "000002");
    EXPECT_TRUE(frm.PrintList.isEmpty());
    EXPECT_EQ(frm.StatusPanel(2), QStringLiteral("0 Photos à imprimer"));
    EXPECT_FALSE(frm.btnPrint()->isEnabled());

    QTest::mouseClick(frm.Image(1), Qt::LeftButton);
    QTest::mouseClick(frm.findChild<QToolButton*>("btnAddtoPrint"), Qt::LeftButton);
    const QStringList pages = PrintedPages([&] { QTest::mouseClick(frm.btnPrint(), Qt::LeftButton); }, "petit");
    ASSERT_EQ(pages.size(), 1);
    EXPECT_TRUE(pdftest::Words(pages[0]).contains("Patient : Mr PETIT Paul"));
    const QImage page = Render(Pdf("petit"), 1);
    EXPECT_TRUE(Find(page, blue).isValid());
    EXPECT_FALSE(Find(page, red).isValid()) << "another patient's photo on PETIT's sheet";
}

TEST_F(PhotoSheetsTest, PhotosPrintUprightAtThePrintersResolution)
{
    kui::ScopedMessageRecorder messages;
    AddPatient("000001", "DURAND", "Marie", "F", "52 Ans");
    CurrentPatientCode = "000001";
    // 1600 x 1200 stored, red on the left half, taken with the camera turned
    // a quarter to the right: a portrait photo with red at the top.
    QImage stored(1600, 1200, QImage::Format_RGB32);
    stored.fill(QColor(0, 0, 220));
    QPainter(&stored).fillRect(0, 0, 800, 1200, QColor(220, 0, 0));
    {
        QFile f(PhotoDir + "portrait.jpg");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(testpic::JpegWithOrientation(stored, 6, 95));
    }
    Exec("INSERT INTO FPHOTO (CODE, NUM, PHOTO) VALUES ('000001', '1', 'portrait.jpg')");
    TfrmPhoto frm(practice_.context());
    frm.show();
    QTest::mouseClick(frm.Image(1), Qt::LeftButton);
    QTest::mouseClick(frm.findChild<QToolButton*>("btnAddtoPrint"), Qt::LeftButton);
    PrintedPages([&] { QTest::mouseClick(frm.btnPrint(), Qt::LeftButton); }, "portrait");

    // Upright: 284 x 378 layout pixels, red above blue.
    const QImage page = Render(Pdf("portrait"), 1);
    const QRect red = Find(page, QColor(220, 0, 0)), blue = Find(page, QColor(0, 0, 220));
    ASSERT_TRUE(red.isValid() && blue.isValid());
    const QRect photo = red | blue;
    EXPECT_NEAR(photo.width(), 284, 3);
    EXPECT_NEAR(photo.height(), 378, 3);
    EXPECT_LT(red.center().y(), blue.center().y());
    EXPECT_NEAR(red.width(), photo.width(), 3);

    // The photo is embedded with all its pixels (the printer's resolution
    // is finer), not at the 96 per inch of the screen.
    const QString list = pdftest::Run("pdfimages", {"-list", Pdf("portrait")});
    const QStringList lines = list.split('\n', Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 3) << list.toStdString();
    const QStringList image = lines[2].simplified().split(' ');
    ASSERT_GE(image.size(), 14) << list.toStdString();
    EXPECT_EQ(image[3].toInt(), 1200) << list.toStdString();  // width
    EXPECT_EQ(image[4].toInt(), 1600) << list.toStdString();  // height
    EXPECT_GE(image[12].toInt(), 300) << list.toStdString();  // x-ppi
}
