#include "controls/Gradient.h"
#include "controls/DcSetters.h"

#include <QEvent>
#include <QMetaMethod>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// a * b / c rounded to the nearest integer, halves away from zero.
int MulDiv(int a, int b, int c)
{
    const long long p = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return int(p >= 0 ? (p + half) / c : (p - half) / c);
}

// Distance from the middle of a 362-wide span (columns 180 and 181 both 0).
int mid(int t)
{
    return t <= 180 ? 180 - t : t - 181;
}

int radial(int dx, int dy)
{
    return int(std::lround(std::sqrt(double(dx * dx + dy * dy))));
}

// Fills a pattern of w x h pixels, each the ramp entry of index(x, y).
template <typename Index> void fill(QImage& pattern, int w, int h, const TGradientColors& colors, Index index)
{
    pattern = QImage(w, h, QImage::Format_BGR888);
    for (int y = 0; y < h; ++y) {
        uchar* line = pattern.scanLine(y);
        for (int x = 0; x < w; ++x) {
            const int i = std::clamp(index(x, y), 0, 255);
            std::memcpy(line + 3 * x, &colors[std::size_t(i)], 3);
        }
    }
}

}  // namespace

static_assert(sizeof(TGradientColor) == 3, "a ramp entry is one 24-bit pixel");

TGradient::TGradient(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(100, 100);
    InitializeDcCommon();
    UpdatePattern();
}

TGradient::~TGradient() = default;

void TGradient::setColorBegin(TColor value)
{
    if (!StoreChanged(colorBegin_, value))
        return;
    useSysColors_ = false;
    UpdatePattern();
}

void TGradient::setColorEnd(TColor value)
{
    if (!StoreChanged(colorEnd_, value))
        return;
    useSysColors_ = false;
    UpdatePattern();
}

void TGradient::setUseSysColors(bool value)
{
    if (StoreChanged(useSysColors_, value) && value)
        UpdateSysColors();
}

void TGradient::setStyle(TGradientStyle value)
{
    if (value <= gsButterfly && StoreChanged(style_, value))
        UpdatePattern();
}

void TGradient::setShift(int value)
{
    if (StoreChanged(shift_, std::clamp(value, -100, 100)))
        UpdatePattern();
}

void TGradient::setRotation(int value)
{
    if (StoreChanged(rotation_, std::clamp(value, -100, 100)))
        UpdatePattern();
}

void TGradient::setReverse(bool value)
{
    if (StoreChanged(reverse_, value))
        UpdatePattern();
}

void TGradient::setOnCustom(TCustomGradientEvent handler)
{
    onCustom_ = std::move(handler);
    if (style_ == gsCustom)
        UpdatePattern();
}

void TGradient::BeginUpdate()
{
    ++updateCount_;
}

void TGradient::EndUpdate()
{
    if (updateCount_ > 0)
        --updateCount_;
    if (updateCount_ == 0 && dirty_)
        UpdatePattern();
}

void TGradient::Loaded()
{
    loading_ = false;
    UpdatePattern();
}

void TGradient::UpdateSysColors()
{
    BeginUpdate();
    setColorBegin(SystemColor(SysColorActiveCaption));
    setColorEnd(SystemColor(SysColorGradientActiveCaption));
    useSysColors_ = true;
    EndUpdate();
}

TGradientColors TGradient::MakeRamp(TColor color1, TColor color2, int shift, int rotation)
{
    const TColor c1 = ResolveColor(color1);
    const TColor c2 = ResolveColor(color2);
    int b1[3] = {RedOf(c1), GreenOf(c1), BlueOf(c1)};
    int b2[3] = {RedOf(c2), GreenOf(c2), BlueOf(c2)};
    shift = std::clamp(shift, -100, 100);
    rotation = std::clamp(rotation, -100, 100);
    for (int k = 0; k < 3; ++k) {
        if (shift >= 1)
            b1[k] = (b1[k] + MulDiv(b2[k] - b1[k], shift, 100)) & 0xFF;
        else if (shift < 0)
            b2[k] = (b2[k] + MulDiv(b2[k] - b1[k], shift, 100)) & 0xFF;
    }
    const int rot = MulDiv(255, rotation, 100);

    TGradientColors ramp{};
    for (int k = 0; k < 3; ++k) {
        const int s = b1[k], e = b2[k], d = e - s;
        for (int i = 0; i < 256; ++i) {
            int v;
            if (rot == 0) {
                v = s + (i * d) / 255;
            } else if (rot > 0) {
                const int m = 255 - rot;
                v = i < m ? s + (i * d) / m : s + (d * (255 - i)) / rot;
            } else {
                const int a = -rot;
                v = i <= a ? e - (i * d) / a : e - (d * (255 - i)) / (255 - a);
            }
            const auto byte = std::uint8_t(v & 0xFF);
            TGradientColor& entry = ramp[std::size_t(i)];
            (k == 0 ? entry.Red : k == 1 ? entry.Green : entry.Blue) = byte;
        }
    }
    return ramp;
}

void TGradient::BuildPattern(TGradientStyle style, const TGradientColors& c, QImage& p)
{
    switch (style) {
    case gsRadialC:
        fill(p, 362, 362, c, [](int x, int y) { return radial(mid(x), 180 - y); });
        break;
    case gsRadialT:
        fill(p, 362, 181, c, [](int x, int y) { return radial(mid(x), y); });
        break;
    case gsRadialB:
        fill(p, 362, 181, c, [](int x, int y) { return radial(mid(x), 180 - y); });
        break;
    case gsRadialL:
        fill(p, 181, 362, c, [](int x, int y) { return radial(x, mid(y)); });
        break;
    case gsRadialR:
        fill(p, 181, 362, c, [](int x, int y) { return radial(180 - x, mid(y)); });
        break;
    case gsRadialTL:
        fill(p, 181, 181, c, [](int x, int y) { return radial(x, y); });
        break;
    case gsRadialTR:
        fill(p, 181, 181, c, [](int x, int y) { return radial(180 - x, y); });
        break;
    case gsRadialBL:
        fill(p, 181, 181, c, [](int x, int y) { return radial(x, 180 - y); });
        break;
    case gsRadialBR:
        fill(p, 181, 181, c, [](int x, int y) { return radial(180 - x, 180 - y); });
        break;
    case gsLinearH:
        fill(p, 256, 1, c, [](int x, int) { return x; });
        break;
    case gsLinearV:
        fill(p, 1, 256, c, [](int, int y) { return y; });
        break;
    case gsReflectedH:
        fill(p, 1, 512, c, [](int, int y) { return y <= 255 ? 255 - y : y - 256; });
        break;
    case gsReflectedV:
        fill(p, 512, 1, c, [](int x, int) { return x <= 255 ? 255 - x : x - 256; });
        break;
    case gsDiagonalLF:
        fill(p, 128, 129, c, [](int x, int y) { return x + y; });
        break;
    case gsDiagonalLB:
        fill(p, 128, 129, c, [](int x, int y) { return y - x + 127; });
        break;
    case gsDiagonalRF:
        fill(p, 256, 256, c, [](int x, int y) { return x + y < 255 ? 255 - (x + y) : x + y - 255; });
        break;
    case gsDiagonalRB:
        fill(p, 256, 256, c, [](int x, int y) { return std::abs(x - y); });
        break;
    case gsArrowL:
        fill(p, 129, 256, c, [](int x, int y) { return y <= 127 ? 255 - (x + y) : y - x; });
        break;
    case gsArrowR:
        fill(p, 129, 256, c, [](int x, int y) { return y <= 127 ? x - y + 127 : x + y - 128; });
        break;
    case gsArrowU:
        fill(p, 256, 129, c, [](int x, int y) { return x <= 127 ? 255 - (x + y) : x - y; });
        break;
    case gsArrowD:
        fill(p, 256, 129, c, [](int x, int y) { return x <= 127 ? y - x + 127 : x + y - 128; });
        break;
    case gsDiamond:
        fill(p, 256, 256, c, [](int x, int y) {
            if (y < 128)
                return x < 128 ? 255 - (x + y) : x - y;
            return x < 128 ? y - x : x + y - 255;
        });
        break;
    case gsButterfly:
        fill(p, 256, 256, c, [](int x, int y) {
            if (y < 128)
                return x < 128 ? x - y + 128 : 383 - (x + y);
            return x < 128 ? x + y - 128 : y - x + 128;
        });
        break;
    case gsCustom:
        break;
    }
}

void TGradient::UpdatePattern()
{
    dirty_ = true;
    if (loading_ || updateCount_ != 0)
        return;
    dirty_ = false;

    TColor color1 = colorBegin_, color2 = colorEnd_;
    if (reverse_)
        std::swap(color1, color2);
    // The ramp's ends after the shift: the custom checker uses them too.
    const TGradientColors shifted = MakeRamp(color1, color2, shift_, 0);
    colors_ = MakeRamp(color1, color2, shift_, rotation_);

    busy_ = true;
    if (style_ != gsCustom) {
        BuildPattern(style_, colors_, pattern_);
    } else if (onCustom_ || isSignalConnected(QMetaMethod::fromSignal(&TGradient::Custom))) {
        if (pattern_.format() != QImage::Format_BGR888)
            pattern_ = QImage(1, 1, QImage::Format_BGR888);
        if (onCustom_)
            onCustom_(this, colors_, pattern_);
        emit Custom(colors_, &pattern_);
    } else {
        const TGradientColor first = shifted[0], last = shifted[255];
        pattern_ = QImage(2, 2, QImage::Format_BGR888);
        std::memcpy(pattern_.scanLine(0), &first, 3);
        std::memcpy(pattern_.scanLine(0) + 3, &last, 3);
        std::memcpy(pattern_.scanLine(1), &last, 3);
        std::memcpy(pattern_.scanLine(1) + 3, &first, 3);
    }
    // Kept in the screen's pixel format so that painting is one stretched
    // copy.
    display_ = pattern_.isNull() ? QImage() : pattern_.convertToFormat(QImage::Format_RGB32);
    busy_ = false;
    ++buildCount_;
    update();
}

void TGradient::paintEvent(QPaintEvent*)
{
    if (busy_ || display_.isNull())
        return;
    QPainter painter(this);
    painter.drawImage(rect(), display_);
}

bool TGradient::event(QEvent* event)
{
    const bool result = QWidget::event(event);
    // The system's colours changed: the palette of the application.
    const QEvent::Type type = event->type();
    if ((type == QEvent::ApplicationPaletteChange || type == QEvent::PaletteChange) && useSysColors_)
        UpdateSysColors();
    return result;
}
