// Pictures of the photo screens: JPEG decoded at a reduced scale keeps its
// content and proportions; damaged, truncated and hostile files (corpus/ and
// every cut of a sound file) give a null picture, never a crash or a huge
// allocation.
#include "platform/ui/Picture.h"
#include "tests/support/ExifJpeg.h"
#include "tests/support/TestApplication.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <QTemporaryDir>

namespace {

// A 1600 x 1200 picture: red with a blue lower-right quarter.
QByteArray QuarterJpeg(int w = 1600, int h = 1200)
{
    QImage im(w, h, QImage::Format_RGB32);
    im.fill(Qt::red);
    QPainter(&im).fillRect(w / 2, h / 2, w - w / 2, h - h / 2, Qt::blue);
    QByteArray out;
    QBuffer buf(&out);
    buf.open(QIODevice::WriteOnly);
    im.save(&buf, "JPG", 90);
    return out;
}

bool Near(QRgb c, QColor want)
{
    return std::abs(qRed(c) - want.red()) < 40 && std::abs(qGreen(c) - want.green()) < 40 &&
        std::abs(qBlue(c) - want.blue()) < 40;
}

const QString kCorpus = QStringLiteral(KORVALE_SOURCE_DIR "/tests/ui/picture-corpus/");

}  // namespace

TEST(Picture, JpegReducedToItsFrameKeepsContentAndProportions)
{
    TestApplication();
    const QByteArray jpeg = QuarterJpeg();
    for (QSize fit : {QSize(51, 56), QSize(365, 378), QSize(800, 600), QSize(1000, 1000)}) {
        const QImage im = kui::ReadPicture(jpeg, fit);
        ASSERT_FALSE(im.isNull());
        const QSize want = QSize(1600, 1200).scaled(fit, Qt::KeepAspectRatio);
        EXPECT_LE(std::abs(im.width() - want.width()), 1) << fit.width();
        EXPECT_LE(std::abs(im.height() - want.height()), 1) << fit.width();
        EXPECT_TRUE(Near(im.pixel(im.width() / 4, im.height() / 4), Qt::red));
        EXPECT_TRUE(Near(im.pixel(im.width() * 3 / 4, im.height() * 3 / 4), Qt::blue));
    }
    // Full size, and a frame larger than the picture: never enlarged.
    EXPECT_EQ(kui::ReadPicture(jpeg).size(), QSize(1600, 1200));
    EXPECT_EQ(kui::ReadPicture(jpeg, QSize(4000, 4000)).size(), QSize(1600, 1200));
}

TEST(Picture, ManyFilesDecodedSideBySideComeBackInTheirOrder)
{
    TestApplication();
    QTemporaryDir dir;
    QStringList paths;
    for (int i = 0; i < 30; ++i) {
        const QString path = dir.filePath(QStringLiteral("%1.jpg").arg(i));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(i % 7 == 3 ? QByteArray("not a picture") : QuarterJpeg(200 + 10 * i, 100));
        paths << path;
    }
    paths << dir.filePath("missing.jpg");
    const QList<QImage> images = kui::LoadPictures(paths, QSize(100, 100));
    ASSERT_EQ(images.size(), paths.size());
    for (int i = 0; i < 30; ++i) {
        if (i % 7 == 3) {
            EXPECT_TRUE(images[i].isNull()) << i;
            continue;
        }
        ASSERT_FALSE(images[i].isNull()) << i;
        EXPECT_EQ(images[i].size(), QSize(200 + 10 * i, 100).scaled(100, 100, Qt::KeepAspectRatio)) << i;
    }
    EXPECT_TRUE(images.last().isNull());
    EXPECT_TRUE(kui::LoadPictures({}).isEmpty());
}

TEST(Picture, CorpusFilesReadOrRefuse)
{
    TestApplication();
    struct Want {
        const char* file;
        QSize size;
    };
    const Want wants[] = {
        {"sound.jpg", {40, 30}},
        {"progressive.jpg", {40, 30}},
        {"gray.jpg", {40, 30}},
        {"sound.png", {40, 30}},
        {"huge.jpg", {0, 0}},
        {"huge.bmp", {0, 0}},
        {"garbage.jpg", {0, 0}},
        {"exif-broken.jpg", {40, 30}},  // an orientation block that cannot be read: as stored
    };
    for (const Want& w : wants) {
        const QImage im = kui::LoadPicture(kCorpus + w.file);
        EXPECT_EQ(im.size(), w.size) << w.file;
        if (!im.isNull()) {
            EXPECT_TRUE(Near(im.pixel(35, 25), Qt::blue) || QString(w.file) == "gray.jpg") << w.file;
        }
    }
    // Whatever else lies in the corpus (files found by fuzzing) reads without harm.
    for (const QString& f : QDir(kCorpus).entryList(QDir::Files)) {
        const QImage im = kui::LoadPicture(kCorpus + f, QSize(51, 56));
        EXPECT_LE(im.width(), 51) << f.toStdString();
    }
    EXPECT_TRUE(kui::LoadPicture(kCorpus + "absent.jpg").isNull());
    EXPECT_EQ(kui::PictureSize(kCorpus + "sound.jpg"), QSize(40, 30));
    EXPECT_EQ(kui::LoadPicture(kCorpus + "exif-turned.jpg").size(), QSize(30, 40));
    EXPECT_EQ(kui::PictureSize(kCorpus + "exif-turned.jpg"), QSize(30, 40));
}

TEST(Picture, EveryCutAndDamageOfAJpegIsHarmless)
{
    TestApplication();
    const QByteArray jpeg = QuarterJpeg(160, 120);
    QElapsedTimer t;
    t.start();
    for (qsizetype n = 0; n < jpeg.size(); n += 7) {
        const QImage im = kui::ReadPicture(jpeg.left(n), QSize(51, 56));
        if (!im.isNull()) {
            EXPECT_LE(im.width(), 51);
        }
        QByteArray damaged = jpeg;
        damaged[n] = char(~damaged[n]);
        const QImage d = kui::ReadPicture(damaged);
        if (!d.isNull()) {
            EXPECT_EQ(d.size(), QSize(160, 120));
        }
    }
}

// Each of the eight orientations a camera writes: the picture comes out as
// it was seen, at full size, reduced, and in the size read without decoding;
// a file cut short decodes in part and says so.
TEST(Picture, TheCamerasOrientationTurnsThePictureAndACutFileIsPartial)
{
    TestApplication();
    // Stored 160 x 120: red top-left quarter, the rest white.
    QImage stored(160, 120, QImage::Format_RGB32);
    stored.fill(Qt::white);
    QPainter(&stored).fillRect(0, 0, 80, 60, Qt::red);
    // Where the red quarter is seen: 0 top-left, 1 top-right, 2 bottom-right, 3 bottom-left.
    const int corner[9] = {0, 0, 1, 2, 3, 0, 1, 2, 3};
    QTemporaryDir dir;
    for (int o = 1; o <= 8; ++o) {
        const QByteArray jpeg = testpic::JpegWithOrientation(stored, o);
        bool partial = true;
        const QImage im = kui::ReadPicture(jpeg, {}, &partial);
        EXPECT_FALSE(partial) << o;
        const QSize seen = o >= 5 ? QSize(120, 160) : QSize(160, 120);
        ASSERT_EQ(im.size(), seen) << o;
        const QPoint at[4] = {{10, 10}, {seen.width() - 10, 10}, {seen.width() - 10, seen.height() - 10},
            {10, seen.height() - 10}};
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(QColor(im.pixel(at[c])).red() > 200 && QColor(im.pixel(at[c])).green() < 80, c == corner[o])
                << "orientation " << o << " corner " << c;
        const QImage small = kui::ReadPicture(jpeg, QSize(40, 40));
        EXPECT_EQ(small.width() < small.height(), o >= 5) << o;
        const QString file = dir.path() + QStringLiteral("/o%1.jpg").arg(o);
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(jpeg);
        f.close();
        EXPECT_EQ(kui::PictureSize(file), seen) << o;
    }
    QImage noise(320, 240, QImage::Format_RGB32);
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, qRgb((x * 7 + y * 13) % 256, (x * y) % 256, (x + y * 3) % 256));
    const QByteArray whole = testpic::JpegWithOrientation(noise, 1);
    bool partial = false;
    const QImage cut = kui::ReadPicture(whole.left(whole.size() / 2), {}, &partial);
    ASSERT_FALSE(cut.isNull());
    EXPECT_EQ(cut.size(), QSize(320, 240));
    EXPECT_TRUE(partial);
    // Padding a camera left before the end marker is no damage.
    const QByteArray padded = whole.left(whole.size() - 2) + QByteArray(40, 'A') + whole.right(2);
    EXPECT_FALSE(kui::ReadPicture(padded, {}, &partial).isNull());
    EXPECT_FALSE(partial);
}
