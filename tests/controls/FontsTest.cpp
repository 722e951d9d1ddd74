// Rotated font descriptions and the outline-font test.
#include "ControlsTestSupport.h"

#include <QFontDatabase>
#include <QGuiApplication>

using ctltest::FixedFont;
using ctltest::QtTest;

class FontsTest : public QtTest { };

TEST_F(FontsTest, RotatedFontDescription)
{
    QFont f = FixedFont(17, true);
    f.setItalic(true);
    f.setUnderline(true);
    const TDcFontDescription lf = CreateRotatedFont(f, 90);
    EXPECT_EQ(lf.Escapement, 900);
    EXPECT_EQ(lf.Height, -17);
    EXPECT_EQ(lf.Weight, 700);
    EXPECT_TRUE(lf.Italic && lf.Underline && !lf.StrikeOut);
    EXPECT_EQ(CreateRotatedFont(FixedFont(12), -45).Escapement, -450);

    QFont mono(QStringLiteral("DejaVu Sans Mono"));
    mono.setFixedPitch(true);
    EXPECT_EQ(CreateRotatedFont(mono, 0).PitchAndFamily, 1);
    QFont serif(QStringLiteral("DejaVu Serif"));
    serif.setStyleHint(QFont::Serif);
    EXPECT_EQ(CreateRotatedFont(serif, 0).PitchAndFamily, 2);
}

TEST_F(FontsTest, DescriptionGivesTheFontBack)
{
    QFont f = FixedFont(21, true);
    f.setStrikeOut(true);
    const QFont back = CreateRotatedFont(f, 30).toQFont();
    EXPECT_EQ(back.family(), f.family());
    EXPECT_EQ(back.pixelSize(), 21);
    EXPECT_TRUE(back.bold());
    EXPECT_TRUE(back.strikeOut());
    EXPECT_FALSE(back.italic());
}
