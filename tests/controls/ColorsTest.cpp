// Colour conversions, shades and system colours.
#include "ControlsTestSupport.h"

#include <QPalette>

using ctltest::QtTest;

namespace {

struct Hls {
    int h, s, l;
};

Hls ToHls(TColor c)
{
    std::uint8_t h, s, l;
    ColorToHLS(c, h, s, l);
    return {h, s, l};
}

}  // namespace

class ColorHlsTest : public QtTest { };

TEST_F(ColorHlsTest, PureColoursAndGreys)
{
    const struct {
        TColor color;
        Hls hls;
    } cases[] = {
        {0x0000FF, {0, 240, 120}},  // red
        {0x00FF00, {80, 240, 120}},  // green
        {0xFF0000, {160, 240, 120}},  // blue
        {0xC0C0C0, {0, 0, 181}},  // silver
    };
    for (const auto& c : cases) {
        const Hls x = ToHls(c.color);
        EXPECT_EQ(x.h, c.hls.h) << std::hex << c.color;
        EXPECT_EQ(x.s, c.hls.s) << std::hex << c.color;
        EXPECT_EQ(x.l, c.hls.l) << std::hex << c.color;
    }
    EXPECT_EQ(HLSToColor(0, 240, 120), 0x0000FFu);
    EXPECT_EQ(ToHls(clWhite).l, 240);
    EXPECT_EQ(ToHls(clBlack).l, 0);
}

TEST_F(ColorHlsTest, HueDividedBy239)
{
    // The inverse divides the hue by 239, so pure green and blue come back
    // slightly off.
    EXPECT_EQ(HLSToColor(80, 240, 120), 0x02FF00u);
    EXPECT_EQ(HLSToColor(160, 240, 120), 0xFF0004u);
    // A hue above 239 lands in the seventh sextant, painted as the first.
    EXPECT_EQ(HLSToColor(240, 240, 120), RGBColor(255, 6, 0));
}

TEST_F(ColorHlsTest, RoundTripStaysClose)
{
    for (int r = 0; r < 256; r += 51)
        for (int g = 0; g < 256; g += 51)
            for (int b = 0; b < 256; b += 51) {
                const TColor c = RGBColor(r, g, b);
                const Hls x = ToHls(c);
                const TColor back = HLSToColor(std::uint8_t(x.h), std::uint8_t(x.s), std::uint8_t(x.l));
                EXPECT_EQ(back >> 24, 0u);
                EXPECT_LE(std::abs(RedOf(back) - r), 6) << std::hex << c;
                EXPECT_LE(std::abs(GreenOf(back) - g), 6) << std::hex << c;
                EXPECT_LE(std::abs(BlueOf(back) - b), 6) << std::hex << c;
            }
}

TEST_F(ColorHlsTest, DarkerAndLighter)
{
    EXPECT_EQ(DarkerColor(0xC0C0C0, 50), 0x8B8B8Bu);
    EXPECT_EQ(LighterColor(0x808080, 100), 0xEAEAEAu);
    EXPECT_EQ(LighterColor(0x000000, 30), RGBColor(32, 32, 32));
    // Lightness past 240 is held at white, never wraps.
    EXPECT_EQ(LighterColor(0x0000FF, 255), clWhite);
    EXPECT_EQ(DarkerColor(0xFFFFFF, 255), clBlack);
}

TEST_F(ColorHlsTest, AdjustColor)
{
    EXPECT_EQ(AdjustColor(clBtnShadow, 0), clBtnShadow);

    const TColor shadow = ResolveColor(clBtnShadow);
    const TColor lighter = AdjustColor(clBtnShadow, 30);
    EXPECT_EQ(lighter >> 24, 0u) << "a system colour comes back as RGB";
    EXPECT_EQ(lighter, LighterColor(shadow, 30));
    EXPECT_EQ(AdjustColor(clBtnShadow, -30), DarkerColor(shadow, 30));

    // Amounts outside a byte are held at the range ends.
    EXPECT_EQ(AdjustColor(0x123456, 1000), AdjustColor(0x123456, 255));
    EXPECT_EQ(AdjustColor(0x123456, -1000), clBlack);
}

class SystemColorTest : public QtTest { };

TEST_F(SystemColorTest, SystemColoursFollowThePalette)
{
    const QPalette pal = QApplication::palette();
    const std::pair<TColor, QPalette::ColorRole> roles[] = {
        {clBtnFace, QPalette::Button},
        {clBtnShadow, QPalette::Dark},
        {cl3DDkShadow, QPalette::Shadow},
    };
    for (const auto& [color, role] : roles) {
        const QColor c = pal.color(QPalette::Active, role);
        EXPECT_EQ(ResolveColor(color), RGBColor(c.red(), c.green(), c.blue())) << std::hex << color;
    }
    // No colour has number 25 or above 30.
    EXPECT_EQ(SystemColor(25), 0u);
    EXPECT_EQ(SystemColor(99), 0u);
}

TEST_F(SystemColorTest, PaletteChangeIsSeen)
{
    const QPalette saved = QApplication::palette();
    QPalette pal = saved;
    pal.setColor(QPalette::Button, QColor(10, 20, 30));
    QApplication::setPalette(pal);
    EXPECT_EQ(ResolveColor(clBtnFace), RGBColor(10, 20, 30));
    QApplication::setPalette(saved);
}

TEST_F(SystemColorTest, QColorConversions)
{
    EXPECT_EQ(QColorToTColor(QColor(1, 2, 3)), 0x030201u);
    EXPECT_EQ(TColorToQColor(0x030201), QColor(1, 2, 3));
    EXPECT_EQ(QColorToTColor(QColor(Qt::transparent)), clNone);
    EXPECT_EQ(QColorToTColor(TColorToQColor(clBtnFace)), ResolveColor(clBtnFace));
    EXPECT_EQ(ResolveColor(0x01ABCDEF), 0xABCDEFu) << "the top byte of an RGB value is dropped";
}
