// Border and frame drawing, checked pixel by pixel on an image.
#include "ControlsTestSupport.h"

#include <QPainter>

using ctltest::Canvas;
using ctltest::CountColor;
using ctltest::PixelColor;
using ctltest::QtTest;

namespace {

constexpr TColor UL = 0x0000C0;  // dark red
constexpr TColor LR = 0xC00000;  // dark blue
constexpr TColor W = clWhite;

TColor Sys(TColor c)
{
    return ResolveColor(c);
}

// Paints with `draw` on a white 10 x 10 canvas and returns it.
template <typename Draw> QImage Paint(Draw draw, TDcRect* result = nullptr, int w = 10, int h = 10)
{
    QImage image = Canvas(w, h);
    QPainter p(&image);
    const TDcRect r = draw(p, TDcRect{0, 0, w, h});
    p.end();
    if (result)
        *result = r;
    return image;
}

struct Px {
    int x, y;
    TColor color;
};

// Checks the colour of each listed pixel.
void ExpectPixels(const QImage& img, std::initializer_list<Px> pixels)
{
    for (const Px& p : pixels)
        EXPECT_EQ(PixelColor(img, p.x, p.y), p.color) << "pixel " << p.x << "," << p.y;
}

// The arguments of DrawFrameStyle, every colour red unless a case says
// otherwise.
struct FrameArgs {
    TFrameStyleEx outer = fsNone, inner = fsNone;
    int bandWidth = 0;
    TSides sides = sdsAll;
    int bevelWidth = 1;
    TColor band = clRed, highlight = clRed, shadow = clRed, flat = clRed;
    int flatAdjustment = 0;
    TColor color = clRed, parent = clRed;
    bool transparent = false, softInnerFlat = false;
};

// Paints DrawFrameStyle with `a` on a white w x h canvas.
QImage PaintFrame(const FrameArgs& a, TDcRect* result = nullptr, int w = 10, int h = 10)
{
    return Paint(
        [&a](QPainter& p, TDcRect b) {
            return DrawFrameStyle(p, b, a.outer, a.inner, a.bandWidth, a.sides, a.bevelWidth, a.band, a.highlight,
                a.shadow, a.flat, a.flatAdjustment, a.color, a.parent, a.transparent, a.softInnerFlat);
        },
        result, w, h);
}

}  // namespace

class BordersTest : public QtTest { };

TEST_F(BordersTest, DrawSidesCornersTakeLowerRightColour)
{
    TDcRect r;
    const QImage img = Paint([](QPainter& p, TDcRect b) { return DrawSides(p, b, UL, LR, sdsAll); }, &r);
    EXPECT_EQ(r, (TDcRect{1, 1, 9, 9}));
    ExpectPixels(img, {{0, 0, UL}, {0, 8, UL}, {8, 0, UL}});
    EXPECT_EQ(PixelColor(img, 9, 0), LR) << "top-right corner";
    EXPECT_EQ(PixelColor(img, 0, 9), LR) << "bottom-left corner";
    ExpectPixels(img, {{9, 9, LR}, {9, 5, LR}, {5, 9, LR}});
    EXPECT_EQ(CountColor(img, W, QRect(1, 1, 8, 8)), 64) << "inside untouched";
    EXPECT_EQ(CountColor(img, UL), 17);
    EXPECT_EQ(CountColor(img, LR), 19);
}

TEST_F(BordersTest, DrawSidesOnlyChosenSides)
{
    TDcRect r;
    QImage img = Paint([](QPainter& p, TDcRect b) { return DrawSides(p, b, UL, LR, 0); }, &r);
    EXPECT_EQ(r, (TDcRect{0, 0, 10, 10}));
    EXPECT_EQ(CountColor(img, W), 100);

    img = Paint([](QPainter& p, TDcRect b) { return DrawSides(p, b, UL, LR, sdsLeft | sdsBottom); }, &r);
    EXPECT_EQ(r, (TDcRect{1, 0, 10, 9}));
    ExpectPixels(img, {{0, 0, UL}, {0, 9, LR}, {9, 9, LR}, {9, 0, W}});
    EXPECT_EQ(CountColor(img, UL), 9);
    EXPECT_EQ(CountColor(img, LR), 10);

    // clNone draws no line of that colour.
    img = Paint([](QPainter& p, TDcRect b) { return DrawSides(p, b, clNone, LR, sdsAll); }, &r);
    EXPECT_EQ(r, (TDcRect{1, 1, 9, 9}));
    EXPECT_EQ(PixelColor(img, 0, 0), W);
    EXPECT_EQ(CountColor(img, LR), 19);
}

TEST_F(BordersTest, DrawBevelRings)
{
    TDcRect r;
    QImage img = Paint([](QPainter& p, TDcRect b) { return DrawBevel(p, b, UL, LR, 3, sdsAll); }, &r);
    EXPECT_EQ(r, (TDcRect{3, 3, 7, 7}));
    ExpectPixels(img, {{2, 2, UL}, {7, 2, LR}, {3, 3, W}});

    img = Paint([](QPainter& p, TDcRect b) { return DrawBevel(p, b, UL, LR, -2, sdsAll); }, &r);
    EXPECT_EQ(r, (TDcRect{0, 0, 10, 10}));
    EXPECT_EQ(CountColor(img, W), 100);
}

TEST_F(BordersTest, ThreeDAndButtonBorders)
{
    TDcRect r;
    QImage img = Paint([](QPainter& p, TDcRect b) { return Draw3DBorder(p, b, false, sdsAll); }, &r);
    EXPECT_EQ(r, (TDcRect{2, 2, 8, 8}));
    ExpectPixels(img,
        {{0, 4, Sys(cl3DLight)}, {9, 4, Sys(cl3DDkShadow)}, {1, 4, Sys(clBtnHighlight)}, {8, 4, Sys(clBtnShadow)}});

    img = Paint([](QPainter& p, TDcRect b) { return Draw3DBorder(p, b, true, sdsAll); }, &r);
    ExpectPixels(img, {{4, 0, Sys(clBtnShadow)}, {4, 9, Sys(clBtnHighlight)}});

    img = Paint([](QPainter& p, TDcRect b) { return DrawButtonBorder(p, b, true, sdsTop); }, &r);
    EXPECT_EQ(r, (TDcRect{0, 2, 10, 10}));
    ExpectPixels(img, {{4, 0, Sys(clBtnText)}, {4, 1, Sys(clBtnShadow)}, {4, 2, W}});
}

TEST_F(BordersTest, DrawFrameSingleLineStyles)
{
    TDcRect r;
    QImage img = Paint([](QPainter& p, TDcRect b) { return DrawFrame(p, b, fsStatus, sdsAll); }, &r);
    EXPECT_EQ(r, (TDcRect{1, 1, 9, 9}));
    ExpectPixels(img, {{0, 4, Sys(clBtnShadow)}, {9, 4, Sys(clBtnHighlight)}});

    img = Paint([](QPainter& p, TDcRect b) { return DrawFrame(p, b, fsFlatBold, sdsAll); }, &r);
    EXPECT_EQ(r, (TDcRect{2, 2, 8, 8}));
    ExpectPixels(img, {{1, 1, Sys(clBtnShadow)}, {2, 2, W}});
}

TEST_F(BordersTest, GrooveCornersAllSides)
{
    const TColor ul = Sys(clBtnShadow), lr = Sys(clBtnHighlight);
    ASSERT_NE(ul, lr);
    TDcRect r;
    const QImage img = Paint([](QPainter& p, TDcRect b) { return DrawFrame(p, b, fsGroove, sdsAll); }, &r);
    EXPECT_EQ(r, (TDcRect{2, 2, 8, 8}));
    ExpectPixels(img,
        {{0, 0, ul}, {9, 0, lr}, {0, 9, lr}, {9, 9, lr}, {1, 1, lr}, {8, 1, ul}, {1, 8, ul}, {8, 8, ul}, {0, 5, ul},
            {1, 5, lr}, {8, 5, ul}, {9, 5, lr}});
    EXPECT_EQ(CountColor(img, W, QRect(2, 2, 6, 6)), 36);
}

TEST_F(BordersTest, BumpCornersLeftSideOnly)
{
    const TColor ul = Sys(clBtnHighlight), lr = Sys(clBtnShadow);
    TDcRect r;
    const QImage img = Paint([](QPainter& p, TDcRect b) { return DrawFrame(p, b, fsBump, sdsLeft); }, &r);
    EXPECT_EQ(r, (TDcRect{2, 0, 10, 10}));
    ExpectPixels(img, {{0, 0, ul}, {0, 8, ul}});
    EXPECT_EQ(PixelColor(img, 0, 9), ul) << "left without bottom: bottom-left corner in the upper-left colour";
    EXPECT_EQ(PixelColor(img, 1, 0), lr) << "left without top: pixel right of the top-left corner";
    ExpectPixels(img, {{1, 5, lr}, {1, 9, lr}});
    EXPECT_EQ(CountColor(img, W, QRect(2, 0, 8, 10)), 80);
}

TEST_F(BordersTest, GrooveCornersTopSideOnly)
{
    const TColor ul = Sys(clBtnShadow), lr = Sys(clBtnHighlight);
    const QImage img = Paint([](QPainter& p, TDcRect b) { return DrawFrame(p, b, fsGroove, sdsTop | sdsRight); });
    EXPECT_EQ(PixelColor(img, 0, 1), lr) << "top without left";
    EXPECT_EQ(PixelColor(img, 8, 9), ul) << "right without bottom";
    EXPECT_EQ(PixelColor(img, 9, 0), lr);
}

TEST_F(BordersTest, RoundedFlatBorder)
{
    constexpr TColor C = 0x408020;
    TDcRect r;
    QImage img = Paint([](QPainter& p, TDcRect b) { return DrawRoundedFlatBorder(p, b, C, sdsAll); }, &r);
    EXPECT_EQ(r, (TDcRect{2, 2, 8, 8}));
    ExpectPixels(img, {{0, 0, W}, {1, 0, W}, {9, 9, W}, {1, 1, C}, {8, 8, C}, {2, 0, C}, {9, 7, C}});
    EXPECT_EQ(CountColor(img, C), 28);

    img = Paint([](QPainter& p, TDcRect b) { return DrawRoundedFlatBorder(p, b, C, sdsLeft); }, &r);
    EXPECT_EQ(r, (TDcRect{2, 0, 10, 10}));
    EXPECT_EQ(CountColor(img, C), 10) << "a full line, no corner";
}

TEST_F(BordersTest, FrameStylePopupBandAndFlatInner)
{
    constexpr TColor hi = 0x00FF00, sh = 0x0000FF, band = 0xFF0000, flat = 0x808080;
    TDcRect r;
    const QImage img = PaintFrame({.outer = fsPopup,
                                      .inner = fsFlat,
                                      .bandWidth = 2,
                                      .bevelWidth = 3,
                                      .band = band,
                                      .highlight = hi,
                                      .shadow = sh,
                                      .flat = flat,
                                      .color = clYellow,
                                      .parent = clAqua},
        &r, 20, 20);
    EXPECT_EQ(r, (TDcRect{6, 6, 14, 14}));
    ExpectPixels(
        img, {{0, 10, hi}, {2, 10, hi}, {19, 10, sh}, {17, 10, sh}, {3, 10, band}, {4, 10, band}, {5, 10, flat}});
    EXPECT_EQ(PixelColor(img, 6, 10), W) << "the frame leaves the inside alone";
}

TEST_F(BordersTest, FrameStyleSoftInnerFlatIgnoresSides)
{
    constexpr TColor flat = 0x808080;
    TDcRect r;
    const QImage img = PaintFrame({.inner = fsFlat, .sides = sdsLeft, .flat = flat, .softInnerFlat = true}, &r);
    EXPECT_EQ(r, (TDcRect{1, 1, 9, 9}));
    EXPECT_EQ(PixelColor(img, 0, 0), W) << "soft corners";
    ExpectPixels(img, {{9, 9, W}, {0, 1, flat}, {1, 0, flat}, {9, 5, flat}, {5, 9, flat}});
    EXPECT_EQ(CountColor(img, flat), 32);
}

TEST_F(BordersTest, FrameStyleRoundedOuterFillsCorners)
{
    constexpr TColor flat = 0x808080, band = 0xFF0000, parent = 0x00FF00, own = 0x0000FF;
    FrameArgs a{.outer = fsFlatRounded, .bandWidth = 1, .band = band, .flat = flat, .color = own, .parent = parent};
    TDcRect r;
    QImage img = PaintFrame(a, &r);
    EXPECT_EQ(r, (TDcRect{3, 3, 7, 7}));
    ExpectPixels(img, {{0, 0, parent}, {1, 0, parent}, {1, 1, flat}});
    EXPECT_EQ(PixelColor(img, 2, 1), band) << "inner corner ring in the band colour";
    EXPECT_EQ(PixelColor(img, 0, 2), flat);
    EXPECT_EQ(PixelColor(img, 2, 2), band) << "the band itself";

    // Without band or inner frame the inner ring takes the control's colour.
    a.bandWidth = 0;
    img = PaintFrame(a);
    EXPECT_EQ(PixelColor(img, 2, 1), own);

    // Transparent and nothing inside: only the rounded line.
    a.transparent = true;
    img = PaintFrame(a);
    ExpectPixels(img, {{0, 0, W}, {2, 1, W}});
    EXPECT_EQ(CountColor(img, flat), 28);
}
