// The decorated label painted into images: text style passes, shadows,
// rotation, the disabled look, background and border.
#include "ControlsTestSupport.h"

#include "controls/DcLabel.h"

#include <QSet>

#include <memory>

using ctltest::BoxOf;
using ctltest::CountColor;
using ctltest::PixelColor;
using ctltest::QtTest;

namespace {

constexpr TColor BG = 0x563412;  // canvas behind a transparent label
constexpr TColor TEXT = 0x0000FF;
constexpr TColor SHADOW = 0xFF00FF;
constexpr TColor LIGHT = 0x00FF00;

using Points = QSet<std::pair<int, int>>;

Points PixelsOf(const QImage& image, TColor color)
{
    Points set;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (PixelColor(image, x, y) == color)
                set.insert({x, y});
    return set;
}

Points Shifted(const Points& points, int dx, int dy)
{
    Points out;
    for (const auto& [x, y] : points)
        out.insert({x + dx, y + dy});
    return out;
}

QFont SharpFont(int pixelSize = 18)
{
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(pixelSize);
    f.setBold(true);
    f.setStyleStrategy(QFont::NoAntialias);
    return f;
}

class LabelPaintTest : public QtTest {
protected:
    void SetUp() override
    {
        label = std::make_unique<TDcLabel>();
        label->setAutoSize(false);
        label->resize(160, 50);
        label->setFont(SharpFont());
        label->setText(QStringLiteral("Korvale"));
        label->setTransparent(true);
        label->setFontColor(TEXT);
        label->setShadowColor(SHADOW);
        label->setHighlightColor(LIGHT);
    }

    QImage Render() const
    {
        QImage image = ctltest::Canvas(label->width(), label->height(), BG);
        label->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        return image;
    }

    // The text pixels of the label painted without a style.
    Points PlainText()
    {
        const TTextStyle saved = label->TextStyle();
        label->setTextStyle(tsNormal);
        const Points p = PixelsOf(Render(), TEXT);
        label->setTextStyle(saved);
        return p;
    }

    std::unique_ptr<TDcLabel> label;
};

}  // namespace

TEST_F(LabelPaintTest, PlainTextIsPaintedInTheTextColour)
{
    const QImage img = Render();
    const Points text = PixelsOf(img, TEXT);
    EXPECT_GT(text.size(), 50);
    EXPECT_EQ(CountColor(img, BG) + text.size(), img.width() * img.height())
        << "a transparent label paints nothing but its text";
}

TEST_F(LabelPaintTest, ShadowSitsShadowDepthBelowRight)
{
    const Points plain = PlainText();
    label->setTextStyle(tsShadow);
    label->setShadowDepth(3);
    const QImage img = Render();
    EXPECT_EQ(PixelsOf(img, TEXT), plain) << "top-left text stays where plain text is";
    const Points shadow = PixelsOf(img, SHADOW);
    ASSERT_FALSE(shadow.isEmpty());
    const Points expected = Shifted(plain, 3, 3);
    EXPECT_TRUE(expected.contains(shadow));
    for (const auto& p : expected)
        EXPECT_TRUE(PixelColor(img, p.first, p.second) == SHADOW || PixelColor(img, p.first, p.second) == TEXT);
}

TEST_F(LabelPaintTest, ShadowOfRightBottomTextSitsWherePlainTextWould)
{
    label->setAlignment(taRightJustify);
    label->setLayout(tlBottom);
    label->setShadowDepth(4);
    const Points plain = PlainText();
    const QRect plainBox = BoxOf(Render(), TEXT);
    EXPECT_GE(plainBox.right(), label->width() - 6);
    EXPECT_GE(plainBox.bottom(), label->height() - 8);

    label->setTextStyle(tsShadow);
    const QImage img = Render();
    EXPECT_EQ(PixelsOf(img, TEXT), Shifted(plain, -4, -4));
    EXPECT_TRUE(plain.contains(PixelsOf(img, SHADOW)));
    for (const auto& p : plain)
        EXPECT_TRUE(PixelColor(img, p.first, p.second) == SHADOW || PixelColor(img, p.first, p.second) == TEXT);
}

TEST_F(LabelPaintTest, RaisedAndRecessedPasses)
{
    const Points plain = PlainText();
    struct Case {
        TTextStyle style;
        bool light;
        int shadowAt;  // offset of the ShadowColor copy, 0 = none
        int lightAt;  // offset of the HighlightColor copy, 0 = none
    } cases[] = {
        {tsRaised, false, +1, -1},
        {tsRecessed, false, -1, +1},
        {tsRaised, true, 0, -1},
        {tsRecessed, true, 0, +1},
    };
    for (const Case& c : cases) {
        label->setTextStyle(c.style);
        label->setLightTextStyle(c.light);
        const QImage img = Render();
        EXPECT_EQ(PixelsOf(img, TEXT), plain) << int(c.style) << c.light;
        const Points shadow = PixelsOf(img, SHADOW), light = PixelsOf(img, LIGHT);
        if (c.shadowAt == 0) {
            EXPECT_TRUE(shadow.isEmpty()) << int(c.style);
        } else {
            EXPECT_FALSE(shadow.isEmpty());
            EXPECT_TRUE(Shifted(plain, c.shadowAt, c.shadowAt).contains(shadow)) << int(c.style);
        }
        ASSERT_FALSE(light.isEmpty());
        EXPECT_TRUE(Shifted(plain, c.lightAt, c.lightAt).contains(light)) << int(c.style) << c.light;
    }
}

TEST_F(LabelPaintTest, DisabledLookIgnoresTheStyle)
{
    const Points plain = PlainText();
    const TColor hi = ResolveColor(clBtnHighlight), sh = ResolveColor(clBtnShadow);
    ASSERT_NE(hi, sh);
    for (TTextStyle style : {tsNormal, tsShadow, tsRaised}) {
        label->setTextStyle(style);
        label->setEnabled(false);
        const QImage img = Render();
        EXPECT_TRUE(PixelsOf(img, TEXT).isEmpty());
        EXPECT_TRUE(PixelsOf(img, SHADOW).isEmpty());
        EXPECT_EQ(PixelsOf(img, sh), plain) << int(style);
        const Points copy = PixelsOf(img, hi);
        ASSERT_FALSE(copy.isEmpty());
        EXPECT_TRUE(Shifted(plain, 1, 1).contains(copy)) << int(style);
        label->setEnabled(true);
    }
}

TEST_F(LabelPaintTest, OpaqueBackgroundAndBorder)
{
    label->setTransparent(false);
    label->setColor(clYellow);
    label->setText(QString());
    QImage img = Render();
    EXPECT_EQ(CountColor(img, clYellow), img.width() * img.height());

    label->setBorderOuter(fsFlat);
    label->setFlatColor(clGray);
    label->setFlatColorAdjustment(0);
    img = Render();
    EXPECT_EQ(PixelColor(img, 0, 0), clGray);
    EXPECT_EQ(PixelColor(img, 159, 49), clGray);
    EXPECT_EQ(PixelColor(img, 1, 1), clYellow);
    EXPECT_EQ(CountColor(img, clGray), 2 * 160 + 2 * 48);

    // A transparent label keeps its border but not its background.
    label->setTransparent(true);
    img = Render();
    EXPECT_EQ(PixelColor(img, 0, 0), clGray);
    EXPECT_EQ(PixelColor(img, 1, 1), BG);
}

TEST_F(LabelPaintTest, TextMarginAndBordersMoveTheText)
{
    const QRect plain = BoxOf(Render(), TEXT);
    label->setTextMargin(5);
    label->setBorderOuter(fsPopup);
    label->setBevelWidth(3);
    EXPECT_EQ(BoxOf(Render(), TEXT), plain.translated(8, 8));
}

TEST_F(LabelPaintTest, BlinkColourIsPainted)
{
    label->setBlinkColor(clLime);
    label->setBlinking(true);
    label->Blink(true);
    const QImage img = Render();
    EXPECT_TRUE(PixelsOf(img, TEXT).isEmpty());
    EXPECT_GT(CountColor(img, clLime), 50);
    label->Blink(false);
    EXPECT_GT(CountColor(Render(), TEXT), 50);
}

TEST_F(LabelPaintTest, VerticalCentredText)
{
    label->resize(60, 200);
    label->setAlignment(taCenter);
    label->setAngle(90);
    ASSERT_EQ(label->Rotation(), roFlat);
    const QImage img = Render();
    const QRect box = BoxOf(img, TEXT);
    ASSERT_FALSE(box.isNull());
    EXPECT_GT(box.height(), 2 * box.width()) << "the text runs upwards";
    EXPECT_NEAR(box.center().y(), 100, 4);
    EXPECT_NEAR(box.center().x(), 30, 6);
}

TEST_F(LabelPaintTest, FlatShadowSplitsTheDepth)
{
    label->resize(160, 160);
    label->setAlignment(taCenter);
    label->setAngle(30);
    const Points plain = PlainText();
    ASSERT_FALSE(plain.isEmpty());
    label->setTextStyle(tsShadow);
    label->setShadowDepth(2);
    const QImage img = Render();
    EXPECT_EQ(PixelsOf(img, TEXT), Shifted(plain, -1, -1));
    EXPECT_TRUE(Shifted(plain, 1, 1).contains(PixelsOf(img, SHADOW)));
}

TEST_F(LabelPaintTest, CurvedText)
{
    label->resize(160, 160);
    label->setRotation(roCurve);
    label->setTransparent(false);
    label->setColor(clWhite);
    label->setText(QString());
    QImage img = Render();
    EXPECT_EQ(CountColor(img, clWhite), 160 * 160) << "an empty curved caption paints only the background";

    label->setText(QStringLiteral("Korvale"));
    img = Render();
    EXPECT_GT(CountColor(img, TEXT), 30);
    const QRect box = BoxOf(img, TEXT);
    EXPECT_LT(box.bottom(), 80) << "the curve starts upright above the centre and turns clockwise";
    EXPECT_GT(box.right(), 80);

    // A disabled curved label still shows its style passes.
    label->setTextStyle(tsShadow);
    label->setEnabled(false);
    img = Render();
    EXPECT_GT(CountColor(img, SHADOW), 10);
    EXPECT_GT(CountColor(img, ResolveColor(clBtnShadow)), 10);
    EXPECT_EQ(CountColor(img, TEXT), 0);
}

TEST_F(LabelPaintTest, CondensedCaptionStaysInside)
{
    label->setText(QStringLiteral("Un texte beaucoup trop long pour ce label"));
    label->setCondenseCaption(ccAtEnd);
    const QRect box = BoxOf(Render(), TEXT);
    EXPECT_LT(box.right(), 160);
    EXPECT_GT(box.width(), 100);
}
