// The gradient control: fills its bounds with a colour gradient built once per
// change as a small pattern and stretched at paint. Child widgets are painted
// over it, so it serves as a background band.
#pragma once

#include "controls/DcCommon.h"

#include <QImage>
#include <QWidget>

#include <array>
#include <functional>

enum TGradientStyle : std::uint8_t {
    gsCustom,
    gsRadialC,
    gsRadialT,
    gsRadialB,
    gsRadialL,
    gsRadialR,
    gsRadialTL,
    gsRadialTR,
    gsRadialBL,
    gsRadialBR,
    gsLinearH,
    gsLinearV,
    gsReflectedH,
    gsReflectedV,
    gsDiagonalLF,
    gsDiagonalLB,
    gsDiagonalRF,
    gsDiagonalRB,
    gsArrowL,
    gsArrowR,
    gsArrowU,
    gsArrowD,
    gsDiamond,
    gsButterfly
};

// One ramp entry: blue, green, red, the byte order of a 24-bit pattern pixel.
struct TGradientColor {
    std::uint8_t Blue = 0, Green = 0, Red = 0;
    bool operator==(const TGradientColor&) const = default;
};
using TGradientColors = std::array<TGradientColor, 256>;

class TGradient;
// Builds the pattern of the custom style: resize `pattern` (24-bit pixels,
// blue-green-red bytes) and fill it from the ramp.
using TCustomGradientEvent = std::function<void(TGradient* sender, const TGradientColors& colors, QImage& pattern)>;

class TGradient : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QColor ColorBegin READ colorBeginQ WRITE setColorBegin)
    Q_PROPERTY(QColor ColorEnd READ colorEndQ WRITE setColorEnd)
    Q_PROPERTY(bool UseSysColors READ UseSysColors WRITE setUseSysColors)
    Q_PROPERTY(TGradientStyle Style READ Style WRITE setStyle)
    Q_PROPERTY(int Shift READ Shift WRITE setShift)
    Q_PROPERTY(int Rotation READ Rotation WRITE setRotation)
    Q_PROPERTY(bool Reverse READ Reverse WRITE setReverse)

public:
    using enum TGradientStyle;
    using QWidget::setStyle;

    explicit TGradient(QWidget* parent = nullptr);
    ~TGradient() override;

    TColor ColorBegin() const { return colorBegin_; }
    void setColorBegin(TColor value);
    void setColorBegin(const QColor& value) { setColorBegin(QColorToTColor(value)); }
    TColor ColorEnd() const { return colorEnd_; }
    void setColorEnd(TColor value);
    void setColorEnd(const QColor& value) { setColorEnd(QColorToTColor(value)); }
    bool UseSysColors() const { return useSysColors_; }
    void setUseSysColors(bool value);
    TGradientStyle Style() const { return style_; }
    void setStyle(TGradientStyle value);
    void setStyle(int value) { setStyle(TGradientStyle(value)); }
    int Shift() const { return shift_; }
    void setShift(int value);
    int Rotation() const { return rotation_; }
    void setRotation(int value);
    bool Reverse() const { return reverse_; }
    void setReverse(bool value);
    const TCustomGradientEvent& OnCustom() const { return onCustom_; }
    void setOnCustom(TCustomGradientEvent handler);

    void BeginUpdate();
    void EndUpdate();

    // While loading, property changes do not build the pattern; Loaded()
    // builds it once.
    void setLoading(bool loading) { loading_ = loading; }
    virtual void Loaded();

    // The current pattern (24-bit, blue-green-red bytes) and ramp.
    const QImage& Pattern() const { return pattern_; }
    const TGradientColors& Colors() const { return colors_; }
    // Number of times the pattern was built (for callers that check that
    // updates were grouped).
    int PatternBuildCount() const { return buildCount_; }

    virtual void UpdatePattern();
    virtual void UpdateSysColors();

    // The 256-entry ramp between two RGB colours with shift and rotation.
    static TGradientColors MakeRamp(TColor color1, TColor color2, int shift, int rotation);
    // Fills `pattern` by the built-in builder of `style` (not gsCustom).
    static void BuildPattern(TGradientStyle style, const TGradientColors& colors, QImage& pattern);

signals:
    // Emitted while the custom pattern is built, after OnCustom.
    void Custom(const TGradientColors& colors, QImage* pattern);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    QColor colorBeginQ() const { return TColorToQColor(colorBegin_); }
    QColor colorEndQ() const { return TColorToQColor(colorEnd_); }

    TColor colorBegin_ = clWhite;
    TColor colorEnd_ = clBtnFace;
    bool useSysColors_ = false;
    TGradientStyle style_ = gsRadialC;
    int shift_ = 0;
    int rotation_ = 0;
    bool reverse_ = false;
    TCustomGradientEvent onCustom_;
    QImage pattern_;
    QImage display_;  // the pattern in the painting format
    TGradientColors colors_{};
    int updateCount_ = 0;
    bool dirty_ = false;
    bool busy_ = false;
    bool loading_ = false;
    int buildCount_ = 0;
};
