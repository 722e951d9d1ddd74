// The gradient control: its ramp, its pattern builders, its updates and its
// painting.
#include "ControlsTestSupport.h"

#include "controls/Gradient.h"

#include <QSignalSpy>

using ctltest::PixelColor;
using ctltest::QtTest;

namespace {

TColor Entry(const TGradientColors& ramp, int i)
{
    const TGradientColor& e = ramp[std::size_t(i)];
    return RGBColor(e.Red, e.Green, e.Blue);
}

// A ramp whose entry i is the grey 255 - i, so that a pixel tells its index.
const TGradientColors& IndexRamp()
{
    static const TGradientColors ramp = TGradient::MakeRamp(clWhite, clBlack, 0, 0);
    return ramp;
}

int IndexAt(const QImage& pattern, int x, int y)
{
    return 255 - pattern.pixelColor(x, y).red();
}

}  // namespace

class GradientRampTest : public QtTest { };

TEST_F(GradientRampTest, PlainRamp)
{
    const TGradientColors& r = IndexRamp();
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(Entry(r, i), RGBColor(255 - i, 255 - i, 255 - i)) << i;

    const TGradientColors up = TGradient::MakeRamp(RGBColor(0, 100, 200), RGBColor(200, 100, 0), 0, 0);
    EXPECT_EQ(Entry(up, 0), RGBColor(0, 100, 200));
    EXPECT_EQ(Entry(up, 255), RGBColor(200, 100, 0));
    EXPECT_EQ(Entry(up, 128), RGBColor(100, 100, 100));  // 128 * 200 / 255 = 100.4
    EXPECT_EQ(Entry(up, 2), RGBColor(1, 100, 199)) << "division truncates towards zero";
}

TEST_F(GradientRampTest, Shift)
{
    const TColor a = RGBColor(0, 0, 0), b = RGBColor(200, 100, 5);
    TGradientColors r = TGradient::MakeRamp(a, b, 100, 0);
    for (int i : {0, 100, 255})
        EXPECT_EQ(Entry(r, i), b) << i;
    r = TGradient::MakeRamp(a, b, -100, 0);
    for (int i : {0, 100, 255})
        EXPECT_EQ(Entry(r, i), a) << i;

    // Colour 1 moves half-way; 2.5 rounds away from zero.
    r = TGradient::MakeRamp(a, b, 50, 0);
    EXPECT_EQ(Entry(r, 0), RGBColor(100, 50, 3));
    EXPECT_EQ(Entry(r, 255), b);
    // Colour 2 moves half-way back; -2.5 rounds away from zero too.
    r = TGradient::MakeRamp(a, b, -50, 0);
    EXPECT_EQ(Entry(r, 0), a);
    EXPECT_EQ(Entry(r, 255), RGBColor(100, 50, 2));
}

TEST_F(GradientRampTest, Rotation)
{
    const TColor a = RGBColor(0, 0, 0), b = RGBColor(255, 254, 128);
    TGradientColors r = TGradient::MakeRamp(a, b, 0, 100);
    EXPECT_EQ(Entry(r, 0), b);
    EXPECT_EQ(Entry(r, 255), a);
    EXPECT_EQ(Entry(r, 128), RGBColor(127, 126, 63));

    // 50 % gives 128 (127.5 rounded up): the peak is at index 127.
    r = TGradient::MakeRamp(a, b, 0, 50);
    EXPECT_EQ(Entry(r, 126), RGBColor(252, 252, 126));
    EXPECT_EQ(Entry(r, 127), b);
    EXPECT_EQ(Entry(r, 255), a);

    r = TGradient::MakeRamp(a, b, 0, -50);
    EXPECT_EQ(Entry(r, 128), a);
    EXPECT_EQ(Entry(r, 64), RGBColor(128, 127, 64));
}

class GradientPatternTest : public QtTest { };

TEST_F(GradientPatternTest, ReflectedRowsMirror)
{
    QImage p;
    TGradient::BuildPattern(gsReflectedH, IndexRamp(), p);
    for (int k = 0; k < 256; ++k)
        ASSERT_EQ(IndexAt(p, 0, 511 - k), IndexAt(p, 0, k)) << k;
}

class GradientControlTest : public QtTest {
protected:
    static QImage Render(TGradient& g)
    {
        QImage image(g.size(), QImage::Format_RGB32);
        image.fill(Qt::magenta);
        g.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        return image;
    }
};

TEST_F(GradientControlTest, ANewGradientPaintsWhiteCentreAndButtonFaceCorners)
{
    TGradient g;
    const QImage img = Render(g);
    EXPECT_EQ(PixelColor(img, 50, 50), clWhite) << "white centre";
    // The corner pixels sample the pattern one step inside its corners,
    // within a unit of the button face.
    const TColor face = ResolveColor(clBtnFace);
    for (auto [x, y] : {std::pair{0, 0}, {99, 0}, {0, 99}, {99, 99}}) {
        const TColor c = PixelColor(img, x, y);
        EXPECT_LE(std::abs(RedOf(c) - RedOf(face)), 1) << x << "," << y;
        EXPECT_LE(std::abs(GreenOf(c) - GreenOf(face)), 1) << x << "," << y;
        EXPECT_LE(std::abs(BlueOf(c) - BlueOf(face)), 1) << x << "," << y;
    }
}

TEST_F(GradientControlTest, ShiftAndRotationAreClamped)
{
    TGradient g;
    for (auto [set, kept] : {std::pair{120, 100}, {-101, -100}}) {
        g.setShift(set);
        g.setRotation(set);
        EXPECT_EQ(g.Shift(), kept) << set;
        EXPECT_EQ(g.Rotation(), kept) << set;
    }
    g.setStyle(99);
    EXPECT_EQ(g.Style(), gsRadialC) << "an unknown style is refused";
}

TEST_F(GradientControlTest, ReverseSwapsBeforeShift)
{
    TGradient g;
    g.setStyle(gsLinearH);
    g.setColorBegin(clRed);
    g.setColorEnd(clBlue);
    EXPECT_EQ(Entry(g.Colors(), 0), clRed);
    g.setReverse(true);
    EXPECT_EQ(Entry(g.Colors(), 0), clBlue);
    EXPECT_EQ(Entry(g.Colors(), 255), clRed);
    g.setShift(100);
    EXPECT_EQ(Entry(g.Colors(), 0), clRed) << "the shift moves the swapped first colour";

    g.resize(256, 10);
    g.setShift(0);
    const QImage img = Render(g);
    EXPECT_EQ(PixelColor(img, 0, 5), clBlue);
    EXPECT_EQ(PixelColor(img, 255, 5), clRed);
}

TEST_F(GradientControlTest, PatternIsStretched)
{
    TGradient g;
    g.setStyle(gsLinearV);
    g.setColorBegin(clBlack);
    g.setColorEnd(clWhite);
    g.resize(40, 512);
    const QImage img = Render(g);
    EXPECT_EQ(PixelColor(img, 0, 0), clBlack);
    EXPECT_EQ(PixelColor(img, 39, 511), clWhite);
    EXPECT_EQ(PixelColor(img, 20, 256), PixelColor(img, 0, 256)) << "rows are uniform";
    EXPECT_EQ(PixelColor(img, 0, 256), Entry(g.Colors(), 128));
}

TEST_F(GradientControlTest, UpdatesAreGrouped)
{
    TGradient g;
    const int built = g.PatternBuildCount();
    g.setStyle(gsDiamond);
    EXPECT_EQ(g.PatternBuildCount(), built + 1);
    g.setStyle(gsDiamond);
    EXPECT_EQ(g.PatternBuildCount(), built + 1) << "an unchanged value builds nothing";

    g.BeginUpdate();
    g.BeginUpdate();
    g.setColorBegin(clRed);
    g.setColorEnd(clNavy);
    g.setShift(20);
    g.EndUpdate();
    EXPECT_EQ(g.PatternBuildCount(), built + 1);
    g.EndUpdate();
    EXPECT_EQ(g.PatternBuildCount(), built + 2);
    EXPECT_EQ(Entry(g.Colors(), 255), clNavy);
    g.BeginUpdate();
    g.EndUpdate();
    EXPECT_EQ(g.PatternBuildCount(), built + 2) << "nothing changed, nothing built";

    g.setLoading(true);
    g.setStyle(gsArrowL);
    g.setRotation(30);
    EXPECT_EQ(g.PatternBuildCount(), built + 2);
    g.Loaded();
    EXPECT_EQ(g.PatternBuildCount(), built + 3);
    EXPECT_EQ(g.Pattern().size(), QSize(129, 256));
}

TEST_F(GradientControlTest, CustomStyle)
{
    TGradient g;
    g.setColorBegin(clRed);
    g.setColorEnd(clLime);
    g.setStyle(gsCustom);
    g.resize(10, 10);
    QImage img = Render(g);
    EXPECT_EQ(PixelColor(img, 2, 2), clRed);
    EXPECT_EQ(PixelColor(img, 7, 2), clLime);
    EXPECT_EQ(PixelColor(img, 7, 7), clRed);

    int calls = 0;
    g.setOnCustom([&calls](TGradient* sender, const TGradientColors& colors, QImage& pattern) {
        ++calls;
        EXPECT_NE(sender, nullptr);
        pattern = QImage(3, 1, QImage::Format_BGR888);
        for (int x = 0; x < 3; ++x)
            pattern.setPixelColor(x, 0,
                QColor(colors[std::size_t(x * 127)].Red, colors[std::size_t(x * 127)].Green,
                    colors[std::size_t(x * 127)].Blue));
    });
    EXPECT_EQ(calls, 1);
    QSignalSpy spy(&g, &TGradient::Custom);
    g.setReverse(true);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(spy.count(), 1);
    img = Render(g);
    EXPECT_EQ(PixelColor(img, 0, 0), clLime);
}

TEST_F(GradientControlTest, SystemColours)
{
    TGradient g;
    g.setUseSysColors(true);

    const QPalette saved = QApplication::palette();
    QPalette pal = saved;
    pal.setColor(QPalette::Active, QPalette::Highlight, QColor(200, 10, 20));
    QApplication::setPalette(pal);
    QApplication::processEvents();
    EXPECT_EQ(ResolveColor(g.ColorBegin()), RGBColor(200, 10, 20)) << "settings change followed";
    EXPECT_TRUE(g.UseSysColors());

    g.setColorBegin(clBlack);
    EXPECT_FALSE(g.UseSysColors());
    QApplication::setPalette(saved);
    QApplication::processEvents();
    EXPECT_EQ(g.ColorBegin(), clBlack);
}

TEST_F(GradientControlTest, ChildrenArePaintedOverIt)
{
    TGradient g;
    g.setStyle(gsLinearH);
    g.setColorBegin(clBlack);
    g.setColorEnd(clBlack);
    auto* child = new QWidget(&g);
    child->setGeometry(10, 10, 20, 20);
    child->setAutoFillBackground(true);
    QPalette pal = child->palette();
    pal.setColor(QPalette::Window, QColor(0, 255, 0));
    child->setPalette(pal);
    child->show();
    const QImage img = Render(g);
    EXPECT_EQ(PixelColor(img, 5, 5), clBlack);
    EXPECT_EQ(PixelColor(img, 15, 15), clLime);
}

TEST_F(GradientControlTest, PropertiesByName)
{
    TGradient g;
    EXPECT_TRUE(g.setProperty("Style", QVariant::fromValue(gsReflectedH)));
    EXPECT_EQ(g.Style(), gsReflectedH);
    EXPECT_FALSE(g.setProperty("GradientOldName", 3)) << "an old name is kept aside, not applied";
}
