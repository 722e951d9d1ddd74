// Colour, border and font routines of the decorated controls and the
// start-up facts they read (DcCommon.h).
#include "controls/DcCommon.h"
#include "controls/DcSetters.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <cmath>

// ---------------------------------------------------------------------------
// Colours
// ---------------------------------------------------------------------------

namespace {

QPalette systemPalette()
{
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return QGuiApplication::palette();
    return QPalette();
}

// The colour halfway between two colours.
QColor blend(const QColor& a, const QColor& b)
{
    return QColor((a.red() + b.red()) / 2, (a.green() + b.green()) / 2, (a.blue() + b.blue()) / 2);
}

int roundEven(double x)
{
    return int(std::nearbyint(x));
}

}  // namespace

TColor SystemColor(int index)
{
    const QPalette pal = systemPalette();
    const auto c = [&pal](QPalette::ColorGroup group, QPalette::ColorRole role) { return pal.color(group, role); };
    constexpr auto A = QPalette::Active;
    constexpr auto I = QPalette::Inactive;
    constexpr auto D = QPalette::Disabled;
    QColor q;
    switch (index) {
    case 0:
        q = c(A, QPalette::Button);
        break;  // scroll bar
    case 1:
        q = c(A, QPalette::Dark);
        break;  // desktop
    case 2:
        q = c(A, QPalette::Highlight);
        break;  // active caption
    case 3:
        q = c(I, QPalette::Highlight);
        break;  // inactive caption
    case 4:
        q = c(A, QPalette::Window);
        break;  // menu
    case 5:
        q = c(A, QPalette::Base);
        break;  // window
    case 6:
        q = c(A, QPalette::Shadow);
        break;  // window frame
    case 7:
        q = c(A, QPalette::WindowText);
        break;  // menu text
    case 8:
        q = c(A, QPalette::WindowText);
        break;  // window text
    case 9:
        q = c(A, QPalette::HighlightedText);
        break;  // caption text
    case 10:
        q = c(A, QPalette::Button);
        break;  // active border
    case 11:
        q = c(I, QPalette::Button);
        break;  // inactive border
    case 12:
        q = c(A, QPalette::Mid);
        break;  // application work space
    case 13:
        q = c(A, QPalette::Highlight);
        break;  // highlight
    case 14:
        q = c(A, QPalette::HighlightedText);
        break;  // highlight text
    case 15:
        q = c(A, QPalette::Button);
        break;  // button face
    case 16:
        q = c(A, QPalette::Dark);
        break;  // button shadow
    case 17:
        q = c(D, QPalette::WindowText);
        break;  // grey text
    case 18:
        q = c(A, QPalette::ButtonText);
        break;  // button text
    case 19:
        q = c(I, QPalette::HighlightedText);
        break;  // inactive caption text
    case 20:
        q = c(A, QPalette::Light);
        break;  // button highlight
    case 21:
        q = c(A, QPalette::Shadow);
        break;  // 3D dark shadow
    case 22:
        q = c(A, QPalette::Midlight);
        break;  // 3D light
    case 23:
        q = c(A, QPalette::ToolTipText);
        break;  // info text
    case 24:
        q = c(A, QPalette::ToolTipBase);
        break;  // info background
    case 26:
        q = c(A, QPalette::Link);
        break;  // hot-tracked item
    case 27:
        q = blend(c(A, QPalette::Highlight), c(A, QPalette::Base));
        break;  // active caption gradient end
    case 28:
        q = blend(c(I, QPalette::Highlight), c(I, QPalette::Base));
        break;  // inactive caption gradient end
    case 29:
        q = c(A, QPalette::Highlight);
        break;  // menu highlight
    case 30:
        q = c(A, QPalette::Window);
        break;  // menu bar
    default:
        return 0;
    }
    return RGBColor(q.red(), q.green(), q.blue());
}

TColor ResolveColor(TColor color)
{
    if (color & 0x80000000u)
        return SystemColor(int(color & 0xFF));
    return color & 0xFFFFFFu;
}

QColor TColorToQColor(TColor color)
{
    if (color == clNone)
        return QColor();
    const TColor rgb = ResolveColor(color);
    return QColor(RedOf(rgb), GreenOf(rgb), BlueOf(rgb));
}

TColor QColorToTColor(const QColor& color)
{
    if (!color.isValid() || color.alpha() == 0)
        return clNone;
    return RGBColor(color.red(), color.green(), color.blue());
}

void ColorToHLS(TColor color, std::uint8_t& h, std::uint8_t& s, std::uint8_t& l)
{
    const TColor rgb = ResolveColor(color);
    const double r = RedOf(rgb) / 255.0;
    const double g = GreenOf(rgb) / 255.0;
    const double b = BlueOf(rgb) / 255.0;
    const double mx = std::max({r, g, b});
    const double mn = std::min({r, g, b});
    const double ll = (mx + mn) / 2;
    double hh = 0, ss = 0;
    if (mx != mn) {
        const double d = mx - mn;
        ss = ll < 0.5 ? d / (mx + mn) : d / (2 - mx - mn);
        if (r == mx)
            hh = (g - b) / d;
        else if (g == mx)
            hh = 2 + (b - r) / d;
        else
            hh = 4 + (r - g) / d;
        hh /= 6;
        if (hh < 0)
            hh += 1;
    }
    h = std::uint8_t(std::clamp(roundEven(240 * hh), 0, 255));
    s = std::uint8_t(std::clamp(roundEven(240 * ss), 0, 255));
    l = std::uint8_t(std::clamp(roundEven(240 * ll), 0, 255));
}

TColor HLSToColor(std::uint8_t H, std::uint8_t S, std::uint8_t L)
{
    const double h = H / 239.0;
    const double s = S / 240.0;
    const double l = L / 240.0;
    const double v = l < 0.5 ? l * (1 + s) : l + s - l * s;
    if (v <= 0)
        return clBlack;
    const double m = 2 * l - v;
    const double sv = (v - m) / v;
    const double h6 = 6 * h;
    const int sextant = int(h6);
    const double f = h6 - sextant;
    const double t = v * sv * f;
    const double rising = m + t;
    const double falling = v - t;
    double r, g, b;
    switch (sextant) {
    case 1:
        r = falling;
        g = v;
        b = m;
        break;
    case 2:
        r = m;
        g = v;
        b = rising;
        break;
    case 3:
        r = m;
        g = falling;
        b = v;
        break;
    case 4:
        r = rising;
        g = m;
        b = v;
        break;
    case 5:
        r = v;
        g = m;
        b = falling;
        break;
    default:
        r = v;
        g = rising;
        b = m;
        break;
    }
    const auto part = [](double x) { return std::clamp(roundEven(255 * std::min(x, 1.0)), 0, 255); };
    return RGBColor(part(r), part(g), part(b));
}

TColor DarkerColor(TColor color, std::uint8_t amount)
{
    std::uint8_t h, s, l;
    ColorToHLS(color, h, s, l);
    return HLSToColor(h, s, std::uint8_t(std::max(int(l) - int(amount), 0)));
}

TColor LighterColor(TColor color, std::uint8_t amount)
{
    std::uint8_t h, s, l;
    ColorToHLS(color, h, s, l);
    return HLSToColor(h, s, std::uint8_t(std::min(int(l) + int(amount), 255)));
}

TColor AdjustColor(TColor color, int amount)
{
    amount = std::clamp(amount, -255, 255);
    if (amount > 0)
        return LighterColor(color, std::uint8_t(amount));
    if (amount < 0)
        return DarkerColor(color, std::uint8_t(-amount));
    return color;
}

TColor ULFrameColor(TFrameStyle style)
{
    switch (style) {
    case fsFlat:
        return cl3DDkShadow;
    case fsGroove:
        return clBtnShadow;
    case fsBump:
        return clBtnHighlight;
    case fsStatus:
        return clBtnShadow;
    case fsPopup:
        return clBtnHighlight;
    case fsFlatBold:
        return clBtnShadow;
    default:
        return clNone;
    }
}

TColor LRFrameColor(TFrameStyle style)
{
    switch (style) {
    case fsFlat:
        return cl3DDkShadow;
    case fsGroove:
        return clBtnHighlight;
    case fsBump:
        return clBtnShadow;
    case fsStatus:
        return clBtnHighlight;
    case fsPopup:
        return clBtnShadow;
    case fsFlatBold:
        return clBtnShadow;
    default:
        return clNone;
    }
}

// ---------------------------------------------------------------------------
// Borders
// ---------------------------------------------------------------------------

namespace {

// A line from (x1, y) towards (x2, y), end point excluded.
void hLine(QPainter& p, int x1, int x2, int y, const QColor& c)
{
    if (x2 > x1)
        p.fillRect(x1, y, x2 - x1, 1, c);
    else if (x2 < x1)
        p.fillRect(x2 + 1, y, x1 - x2, 1, c);
}

// A line from (x, y1) towards (x, y2), end point excluded.
void vLine(QPainter& p, int x, int y1, int y2, const QColor& c)
{
    if (y2 > y1)
        p.fillRect(x, y1, 1, y2 - y1, c);
    else if (y2 < y1)
        p.fillRect(x, y2 + 1, 1, y1 - y2, c);
}

void pixel(QPainter& p, int x, int y, const QColor& c)
{
    p.fillRect(x, y, 1, 1, c);
}

TDcRect shrink(TDcRect r, TSides sides, int by)
{
    if (HasSide(sides, sdLeft))
        r.Left += by;
    if (HasSide(sides, sdTop))
        r.Top += by;
    if (HasSide(sides, sdRight))
        r.Right -= by;
    if (HasSide(sides, sdBottom))
        r.Bottom -= by;
    return r;
}

// Corner fill of a rounded flat frame: a one-pixel ring.
TDcRect ring(QPainter& p, const TDcRect& r, TColor color, TSides sides)
{
    return DrawBevel(p, r, color, color, 1, sides);
}

}  // namespace

TDcRect DrawSides(QPainter& canvas, const TDcRect& b, TColor ulColor, TColor lrColor, TSides sides)
{
    if (ulColor != clNone) {
        const QColor c = TColorToQColor(ulColor);
        if (HasSide(sides, sdLeft))
            vLine(canvas, b.Left, b.Top, b.Bottom, c);
        if (HasSide(sides, sdTop))
            hLine(canvas, b.Left, b.Right, b.Top, c);
    }
    if (lrColor != clNone) {
        const QColor c = TColorToQColor(lrColor);
        if (HasSide(sides, sdRight))
            vLine(canvas, b.Right - 1, b.Top, b.Bottom, c);
        if (HasSide(sides, sdBottom))
            hLine(canvas, b.Left, b.Right, b.Bottom - 1, c);
    }
    return shrink(b, sides, 1);
}

TDcRect DrawBevel(QPainter& canvas, const TDcRect& bounds, TColor ulColor, TColor lrColor, int width, TSides sides)
{
    TDcRect r = bounds;
    for (int i = 0; i < width; ++i)
        r = DrawSides(canvas, r, ulColor, lrColor, sides);
    return r;
}

TDcRect Draw3DBorder(QPainter& canvas, const TDcRect& bounds, bool sunken, TSides sides)
{
    TDcRect r = sunken ? DrawBevel(canvas, bounds, clBtnShadow, clBtnHighlight, 1, sides)
                       : DrawBevel(canvas, bounds, cl3DLight, cl3DDkShadow, 1, sides);
    return sunken ? DrawBevel(canvas, r, cl3DDkShadow, cl3DLight, 1, sides)
                  : DrawBevel(canvas, r, clBtnHighlight, clBtnShadow, 1, sides);
}

TDcRect DrawButtonBorder(QPainter& canvas, const TDcRect& bounds, bool down, TSides sides)
{
    TDcRect r = down ? DrawBevel(canvas, bounds, clBtnText, clBtnText, 1, sides)
                     : DrawBevel(canvas, bounds, clBtnHighlight, cl3DDkShadow, 1, sides);
    return down ? DrawBevel(canvas, r, clBtnShadow, clBtnShadow, 1, sides)
                : DrawBevel(canvas, r, cl3DLight, clBtnShadow, 1, sides);
}

TDcRect DrawFrame(QPainter& canvas, const TDcRect& b, TFrameStyle style, TSides sides)
{
    const TColor ul = ULFrameColor(style);
    const TColor lr = LRFrameColor(style);
    switch (style) {
    case fsFlat:
    case fsStatus:
    case fsPopup:
        return DrawSides(canvas, b, ul, lr, sides);
    case fsFlatBold:
        return DrawBevel(canvas, b, ul, lr, 2, sides);
    case fsLowered:
    case fsRaised:
        return Draw3DBorder(canvas, b, style == fsLowered, sides);
    case fsButtonDown:
    case fsButtonUp:
        return DrawButtonBorder(canvas, b, style == fsButtonDown, sides);
    case fsGroove:
    case fsBump: {
        const QColor ulc = TColorToQColor(ul);
        const QColor lrc = TColorToQColor(lr);
        const bool left = HasSide(sides, sdLeft), top = HasSide(sides, sdTop);
        const bool right = HasSide(sides, sdRight), bottom = HasSide(sides, sdBottom);
        if (right)
            pixel(canvas, b.Right - 1, b.Top, lrc);
        if (top && !right)
            pixel(canvas, b.Right - 1, b.Top, ulc);
        if (bottom)
            pixel(canvas, b.Left, b.Bottom - 1, lrc);
        if (left && !bottom)
            pixel(canvas, b.Left, b.Bottom - 1, ulc);
        if (top && !left)
            pixel(canvas, b.Left, b.Top + 1, lrc);
        if (left && !top)
            pixel(canvas, b.Left + 1, b.Top, lrc);
        if (bottom && !right)
            pixel(canvas, b.Right - 1, b.Bottom - 2, ulc);
        if (right && !bottom)
            pixel(canvas, b.Right - 2, b.Bottom - 1, ulc);
        DrawSides(canvas, {b.Left + 1, b.Top + 1, b.Right, b.Bottom}, lr, lr, sides);
        DrawSides(canvas, {b.Left, b.Top, b.Right - 1, b.Bottom - 1}, ul, ul, sides);
        return shrink(b, sides, 2);
    }
    default:
        return b;
    }
}

TDcRect DrawRoundedFlatBorder(QPainter& canvas, const TDcRect& b, TColor color, TSides sides)
{
    const bool left = HasSide(sides, sdLeft), top = HasSide(sides, sdTop);
    const bool right = HasSide(sides, sdRight), bottom = HasSide(sides, sdBottom);
    const int l2 = left ? 2 : 0, t2 = top ? 2 : 0, r2 = right ? 2 : 0, b2 = bottom ? 2 : 0;
    if (color != clNone) {
        const QColor c = TColorToQColor(color);
        if (left)
            vLine(canvas, b.Left, b.Top + t2, b.Bottom - b2, c);
        if (top)
            hLine(canvas, b.Left + l2, b.Right - r2, b.Top, c);
        if (right)
            vLine(canvas, b.Right - 1, b.Top + t2, b.Bottom - b2, c);
        if (bottom)
            hLine(canvas, b.Left + l2, b.Right - r2, b.Bottom - 1, c);
        if (left && top)
            pixel(canvas, b.Left + 1, b.Top + 1, c);
        if (top && right)
            pixel(canvas, b.Right - 2, b.Top + 1, c);
        if (right && bottom)
            pixel(canvas, b.Right - 2, b.Bottom - 2, c);
        if (left && bottom)
            pixel(canvas, b.Left + 1, b.Bottom - 2, c);
    }
    return {b.Left + l2, b.Top + t2, b.Right - r2, b.Bottom - b2};
}

TDcRect DrawFrameStyle(QPainter& canvas, const TDcRect& bounds, TFrameStyleEx borderOuter, TFrameStyleEx borderInner,
    int borderWidth, TSides borderSides, int bevelWidth, TColor borderColor, TColor borderHighlight,
    TColor borderShadow, TColor flatColor, int flatColorAdjustment, TColor color, TColor parentColor, bool transparent,
    bool softInnerFlat)
{
    TDcRect r = bounds;
    const TSides sides = borderSides;
    const auto flat = [&] { return AdjustColor(flatColor, flatColorAdjustment); };

    // The frame styles drawn alike by the outer and the inner frame.
    const auto plainFrame = [&](TFrameStyleEx style) -> TDcRect {
        switch (style) {
        case fsFlat:
            return DrawBevel(canvas, r, flat(), flat(), 1, sides);
        case fsFlatBold:
            return DrawBevel(canvas, r, flat(), flat(), 2, sides);
        case fsPopup:
            return DrawBevel(canvas, r, borderHighlight, borderShadow, bevelWidth, sides);
        case fsStatus:
            return DrawBevel(canvas, r, borderShadow, borderHighlight, bevelWidth, sides);
        default:
            return DrawFrame(canvas, r, style, sides);
        }
    };

    // Outer frame.
    if (borderOuter == fsFlatRounded) {
        const bool band = borderWidth > 0 || borderInner != fsNone;
        if (!transparent) {
            const TDcRect inner = ring(canvas, r, parentColor, sides);
            ring(canvas, inner, band ? borderColor : color, sides);
        } else if (band) {
            ring(canvas, {r.Left + 1, r.Top + 1, r.Right - 1, r.Bottom - 1}, borderColor, sides);
        }
        r = DrawRoundedFlatBorder(canvas, r, flat(), sides);
    } else {
        r = plainFrame(borderOuter);
    }

    // Band.
    if (borderWidth > 0)
        r = DrawBevel(canvas, r, borderColor, borderColor, borderWidth, sides);

    // Inner frame.
    if (borderInner == fsFlat && softInnerFlat) {
        const QColor c = TColorToQColor(flat());
        if (flat() != clNone) {
            vLine(canvas, r.Left, r.Top + 1, r.Bottom - 1, c);
            hLine(canvas, r.Left + 1, r.Right - 1, r.Top, c);
            vLine(canvas, r.Right - 1, r.Top + 1, r.Bottom - 1, c);
            hLine(canvas, r.Left + 1, r.Right - 1, r.Bottom - 1, c);
        }
        r = {r.Left + 1, r.Top + 1, r.Right - 1, r.Bottom - 1};
    } else if (borderInner == fsFlatRounded) {
        const TDcRect inner = ring(canvas, r, borderColor, sides);
        if (!transparent)
            ring(canvas, inner, color, sides);
        r = DrawRoundedFlatBorder(canvas, r, flat(), sides);
    } else {
        r = plainFrame(borderInner);
    }
    return r;
}

// ---------------------------------------------------------------------------
// Fonts
// ---------------------------------------------------------------------------

namespace {

double screenDpiY()
{
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            return screen->logicalDotsPerInchY();
    }
    return 96.0;
}

}  // namespace

int FontHeight(const QFont& font)
{
    if (font.pixelSize() > 0)
        return -font.pixelSize();
    return -roundEven(font.pointSizeF() * screenDpiY() / 72.0);
}

QFont TDcFontDescription::toQFont() const
{
    QFont f(FaceName);
    if (Height != 0)
        f.setPixelSize(std::abs(Height));
    f.setWeight(Weight >= 700 ? QFont::Bold : QFont::Normal);
    f.setItalic(Italic);
    f.setUnderline(Underline);
    f.setStrikeOut(StrikeOut);
    if ((PitchAndFamily & 3) == 1)
        f.setFixedPitch(true);
    return f;
}

TDcFontDescription CreateRotatedFont(const QFont& font, int angle)
{
    TDcFontDescription lf;
    lf.Height = FontHeight(font);
    lf.Width = 0;
    lf.Escapement = angle * 10;
    lf.Orientation = 0;
    lf.Weight = font.bold() ? 700 : 400;
    lf.Italic = font.italic();
    lf.Underline = font.underline();
    lf.StrikeOut = font.strikeOut();
    lf.CharSet = 1;  // the default character set
    if (font.fixedPitch() || font.styleHint() == QFont::Monospace || font.styleHint() == QFont::TypeWriter)
        lf.PitchAndFamily = 1;
    else if (font.styleHint() != QFont::AnyStyle)
        lf.PitchAndFamily = 2;
    else
        lf.PitchAndFamily = 0;
    lf.FaceName = font.family();
    return lf;
}

bool IsTrueTypeFont(const QFont& font)
{
    const QFontInfo info(font);
    return QFontDatabase::isSmoothlyScalable(info.family(), info.styleName());
}

// ---------------------------------------------------------------------------
// Start-up facts
// ---------------------------------------------------------------------------

bool HighColorDisplay = false;
std::uint8_t XPColorScheme = 0;

std::uint8_t GetXPColorScheme()
{
    // The desktop colour scheme of the older system has no counterpart here.
    return 0;
}

bool IsHighColorDisplay()
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return false;
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen && screen->depth() > 8;
}

void InitializeDcCommon()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    HighColorDisplay = IsHighColorDisplay();
    XPColorScheme = GetXPColorScheme();
}
