#include "controls/DcLabel.h"
#include "controls/DcSetters.h"

#include <QEnterEvent>
#include <QEvent>
#include <QFontMetrics>
#include <QLayout>
#include <QPainter>

#include <algorithm>
#include <climits>
#include <cmath>
#include <numbers>

#include "controls/DcLabelText.h"

using namespace dclabel;

TDcLabel::TDcLabel(QWidget* parent) : QWidget(parent)
{
    InitializeDcCommon();
    EnsureBlinkingControlsList()->Add(this);
    updatingColor_ = true;
    color_ = clBtnFace;
    parentColor_ = true;
    if (parentWidget())
        color_ = parentColorValue();
    updatingColor_ = false;
}

TDcLabel::~TDcLabel()
{
    if (frameController_)
        frameController_->RemoveControl(this);
    if (TDcBlinkingControlsList* list = BlinkingControlsList())
        list->Remove(this);
    ReleaseBlinkingControlsList();
}

// ---------------------------------------------------------------------------
// Caption and inherited label properties
// ---------------------------------------------------------------------------

void TDcLabel::setText(const QString& text)
{
    if (StoreChanged(caption_, text))
        CMTextChanged();
}

void TDcLabel::CMTextChanged()
{
    AdjustBounds();
    Repaint();
}

Qt::Alignment TDcLabel::alignment() const
{
    Qt::Alignment a = alignment_ == taRightJustify ? Qt::AlignRight
        : alignment_ == taCenter                   ? Qt::AlignHCenter
                                                   : Qt::AlignLeft;
    a |= layout_ == tlBottom ? Qt::AlignBottom : layout_ == tlCenter ? Qt::AlignVCenter : Qt::AlignTop;
    return a;
}

void TDcLabel::setAlignment(Qt::Alignment alignment)
{
    if (alignment & Qt::AlignHCenter)
        setAlignment(taCenter);
    else if (alignment & (Qt::AlignRight | Qt::AlignTrailing))
        setAlignment(taRightJustify);
    else if (alignment & (Qt::AlignLeft | Qt::AlignLeading))
        setAlignment(taLeftJustify);
    if (alignment & Qt::AlignVCenter)
        setLayout(tlCenter);
    else if (alignment & Qt::AlignBottom)
        setLayout(tlBottom);
    else if (alignment & Qt::AlignTop)
        setLayout(tlTop);
}

void TDcLabel::setAlignment(TAlignment value)
{
    if (value <= taCenter && StoreChanged(alignment_, value))
        update();
}

void TDcLabel::setLayout(TTextLayout value)
{
    if (value <= tlBottom && StoreChanged(layout_, value))
        update();
}

void TDcLabel::setAutoSize(bool value)
{
    if (!StoreChanged(autoSize_, value))
        return;
    updateGeometry();
    AdjustBounds();
}

void TDcLabel::setWordWrap(bool value)
{
    if (!StoreChanged(wordWrap_, value))
        return;
    AdjustBounds();
    update();
}

void TDcLabel::setShowAccelChar(bool value)
{
    if (!StoreChanged(showAccelChar_, value))
        return;
    AdjustBounds();
    update();
}

void TDcLabel::setTransparent(bool value)
{
    if (StoreChanged(transparent_, value))
        update();
}

void TDcLabel::setColor(TColor value)
{
    if (!StoreChanged(color_, value))
        return;
    parentColor_ = false;
    update();
}

void TDcLabel::setParentColor(bool value)
{
    if (StoreChanged(parentColor_, value) && value)
        CMParentColorChanged();
}

void TDcLabel::setFontColor(TColor value)
{
    if (StoreChanged(fontColor_, value))
        CMFontChanged();
}

void TDcLabel::setFontName(const QString& name)
{
    if (name == font().family())
        return;
    QFont f = font();
    f.setFamily(name);
    setFont(f);
}

// ---------------------------------------------------------------------------
// Decorated label properties
// ---------------------------------------------------------------------------

void TDcLabel::setAngle(int value)
{
    if (value == angle_)
        return;
    value = value < 0 ? 360 - std::abs(value) : value % 360;
    angle_ = value;
    if (!loading_ && value != 0 && !IsTrueTypeFont(font()))
        setFontName(QStringLiteral("Verdana"));
    if (angle_ != 0 && rotation_ == roNone)
        rotation_ = roFlat;
    AdjustBounds();
    Repaint();
}

void TDcLabel::setBlinking(bool value)
{
    if (!StoreChanged(blinking_, value) || value)
        return;
    textColor_ = normalTextColor_;
    Repaint();
}

void TDcLabel::setBlinkColor(TColor value)
{
    if (StoreChanged(blinkColor_, value))
        update();
}

int TDcLabel::BlinkIntervalOff() const
{
    const TDcBlinkingControlsList* list = BlinkingControlsList();
    return list ? list->IntervalOff() : 500;
}

void TDcLabel::setBlinkIntervalOff(int value)
{
    const auto v = std::uint16_t(std::clamp(value, 0, 65535));
    TDcBlinkingControlsList* list = EnsureBlinkingControlsList();
    if (v != list->IntervalOff())
        list->setIntervalOff(v);
}

int TDcLabel::BlinkIntervalOn() const
{
    const TDcBlinkingControlsList* list = BlinkingControlsList();
    return list ? list->IntervalOn() : 500;
}

void TDcLabel::setBlinkIntervalOn(int value)
{
    const auto v = std::uint16_t(std::clamp(value, 0, 65535));
    TDcBlinkingControlsList* list = EnsureBlinkingControlsList();
    if (v != list->IntervalOn())
        list->setIntervalOn(v);
}

// The properties that only change how the label is painted.
void TDcLabel::setBevelWidth(int value)
{
    if (StoreChanged(bevelWidth_, value))
        update();
}
void TDcLabel::setBorderInner(TFrameStyleEx value)
{
    if (StoreChanged(borderInner_, value))
        update();
}
void TDcLabel::setBorderOuter(TFrameStyleEx value)
{
    if (StoreChanged(borderOuter_, value))
        update();
}
void TDcLabel::setBorderColor(TColor value)
{
    if (StoreChanged(borderColor_, value))
        update();
}
void TDcLabel::setBorderHighlight(TColor value)
{
    if (StoreChanged(borderHighlight_, value))
        update();
}
void TDcLabel::setBorderShadow(TColor value)
{
    if (StoreChanged(borderShadow_, value))
        update();
}
void TDcLabel::setBorderWidth(int value)
{
    if (StoreChanged(borderWidth_, value))
        update();
}
void TDcLabel::setFlatColor(TColor value)
{
    if (StoreChanged(flatColor_, value))
        update();
}
void TDcLabel::setFlatColorAdjustment(int value)
{
    if (StoreChanged(flatColorAdjustment_, value))
        update();
}
void TDcLabel::setCenterPoint(TCenterPoint value)
{
    if (StoreChanged(centerPoint_, value))
        update();
}
void TDcLabel::setFlyByColor(TColor value)
{
    if (StoreChanged(flyByColor_, value))
        update();
}
void TDcLabel::setLightTextStyle(bool value)
{
    if (StoreChanged(lightTextStyle_, value))
        update();
}
void TDcLabel::setHighlightColor(TColor value)
{
    if (StoreChanged(highlightColor_, value))
        update();
}
void TDcLabel::setShadowColor(TColor value)
{
    if (StoreChanged(shadowColor_, value))
        update();
}
void TDcLabel::setShadowDepth(int value)
{
    if (StoreChanged(shadowDepth_, value))
        update();
}
void TDcLabel::setTextMargin(int value)
{
    if (StoreChanged(textMargin_, value))
        update();
}
void TDcLabel::setTextStyle(TTextStyle value)
{
    if (StoreChanged(textStyle_, value))
        update();
}
void TDcLabel::setBorderSides(int value)
{
    if (StoreChanged(borderSides_, TSides(value & sdsAll)))
        update();
}

void TDcLabel::setCondenseCaption(TDcCondenseCaption value)
{
    if (value > ccWithinPath || !StoreChanged(condenseCaption_, value))
        return;
    if (value != ccNone)
        setAutoSize(false);
    update();
}

void TDcLabel::setFrameControllerNotifications(int value)
{
    frameControllerNotifications_ = TDcFrameControllerNotifications(value & fcnAll);
}

void TDcLabel::setFrameController(TDcFrameController* value)
{
    if (frameController_)
        frameController_->RemoveControl(this);
    frameController_ = value;
    if (value)
        value->AddControl(this);
}

void TDcLabel::setFlyByEnabled(bool value)
{
    if (!StoreChanged(flyByEnabled_, value))
        return;
    // Turning it off always puts the saved colour back (black when the mouse
    // never came over the label).
    if (!value) {
        flyByShown_ = false;
        setFontColor(flyBySavedColor_);
    }
    update();
}

void TDcLabel::setRotation(TRotation value)
{
    if (value == rotation_ || value > roCurve)
        return;
    if (!loading_ && value != roNone && !IsTrueTypeFont(font()))
        setFontName(QStringLiteral("Verdana"));
    rotation_ = value;
    if (value == roNone) {
        angle_ = 0;
    } else if (value == roFlat) {
        angle_ = 0;
        centerPoint_ = cpCenter;
    }
    update();
}

// ---------------------------------------------------------------------------
// Loading, notifications
// ---------------------------------------------------------------------------

void TDcLabel::Loaded()
{
    loading_ = false;
    AdjustBounds();
    if (rotation_ == roNone && angle_ != 0)
        rotation_ = roFlat;
    if (rotation_ != roNone && !IsTrueTypeFont(font()))
        setFontName(QStringLiteral("Verdana"));
    normalTextColor_ = fontColor_;
    textColor_ = fontColor_;
    update();
}

void TDcLabel::CMFontChanged()
{
    AdjustBounds();
    if (!loading_) {
        if (!blinking_) {
            normalTextColor_ = fontColor_;
            textColor_ = fontColor_;
        }
        if (angle_ != 0 && !IsTrueTypeFont(font()))
            angle_ = 0;
    }
    update();
}

TColor TDcLabel::parentColorValue() const
{
    const QWidget* p = parentWidget();
    if (!p)
        return color_;
    const QVariant own = p->property("Color");
    if (own.isValid()) {
        if (own.metaType().id() == QMetaType::QColor)
            return QColorToTColor(own.value<QColor>());
        bool ok = false;
        const uint v = own.toUInt(&ok);
        if (ok)
            return v;
    }
    return QColorToTColor(p->palette().color(p->backgroundRole()));
}

void TDcLabel::CMParentColorChanged()
{
    if (updatingColor_ || !parentColor_)
        return;
    const TColor c = parentColorValue();
    if (c != color_) {
        color_ = c;
        update();
    }
}

void TDcLabel::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    switch (event->type()) {
    case QEvent::FontChange:
        CMFontChanged();
        break;
    case QEvent::PaletteChange:
        CMParentColorChanged();
        break;
    case QEvent::EnabledChange:
    case QEvent::LayoutDirectionChange:
        update();
        break;
    default:
        break;
    }
}

bool TDcLabel::event(QEvent* event)
{
    const bool result = QWidget::event(event);
    if (event->type() == QEvent::ParentChange)
        CMParentColorChanged();
    return result;
}

void TDcLabel::enterEvent(QEnterEvent* event)
{
    QWidget::enterEvent(event);
    CMMouseEnter();
}

void TDcLabel::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    CMMouseLeave();
}

void TDcLabel::CMMouseEnter()
{
    if (flyByEnabled_ && !flyByShown_) {
        flyBySavedColor_ = fontColor_;
        flyByShown_ = true;
        setFontColor(flyByColor_);
    }
    emit OnMouseEnter(this);
}

void TDcLabel::CMMouseLeave()
{
    if (flyByEnabled_ && flyByShown_) {
        flyByShown_ = false;
        setFontColor(flyBySavedColor_);
    }
    emit OnMouseLeave(this);
}

// ---------------------------------------------------------------------------
// Blinking and frame controller
// ---------------------------------------------------------------------------

void TDcLabel::Blink(bool state)
{
    textColor_ = state ? blinkColor_ : normalTextColor_;
    Repaint();
}

void TDcLabel::CMBlink(bool state)
{
    if (blinking_)
        Blink(state);
}

void TDcLabel::FrameControllerChanged()
{
    const TDcFrameController* fc = frameController_;
    if (!fc || !fc->FrameVisible())
        return;
    const TDcFrameControllerNotifications n = frameControllerNotifications_;
    if (n & fcnOf(fcpFrameStyle))
        borderOuter_ = fc->FrameStyle();
    if (n & fcnOf(fcpFrameSides))
        borderSides_ = fc->FrameSides();
    if (n & fcnOf(fcpFrameColor)) {
        flatColor_ = fc->FrameColor();
        flatColorAdjustment_ = 0;
    }
    if (n & fcnOf(fcpColor))
        color_ = fc->Color();
    if (n & fcnOf(fcpParentColor))
        parentColor_ = fc->ParentColor();
    if (n & fcnOf(fcpColor)) {
        borderHighlight_ = LighterColor(color_, 100);
        borderShadow_ = DarkerColor(color_, 50);
    }
    update();
}

void TDcLabel::Repaint()
{
    if (isVisible())
        repaint();
    else
        update();
}

// ---------------------------------------------------------------------------
// Layout
// ---------------------------------------------------------------------------

void TDcLabel::ShrinkByBorders(TDcRect& rect, bool includeBorderWidth) const
{
    if (includeBorderWidth) {
        rect.Left += borderWidth_;
        rect.Top += borderWidth_;
        rect.Right -= borderWidth_;
        rect.Bottom -= borderWidth_;
    }
    const int by = frameExtent(borderOuter_, bevelWidth_) + frameExtent(borderInner_, bevelWidth_);
    if (HasSide(borderSides_, sdLeft))
        rect.Left += by;
    if (HasSide(borderSides_, sdTop))
        rect.Top += by;
    if (HasSide(borderSides_, sdRight))
        rect.Right -= by;
    if (HasSide(borderSides_, sdBottom))
        rect.Bottom -= by;
}

void TDcLabel::GrowByBorders(QSize& size) const
{
    const int by = frameExtent(borderOuter_, bevelWidth_) + borderWidth_ + frameExtent(borderInner_, bevelWidth_);
    int w = size.width(), h = size.height();
    if (HasSide(borderSides_, sdLeft))
        w += by;
    if (HasSide(borderSides_, sdRight))
        w += by;
    if (HasSide(borderSides_, sdTop))
        h += by;
    if (HasSide(borderSides_, sdBottom))
        h += by;
    if (rotation_ == roNone && textStyle_ == tsShadow) {
        w += shadowDepth_;
        h += shadowDepth_;
    } else if (rotation_ == roFlat && angle_ != 0 && angle_ != 180) {
        if (textStyle_ == tsShadow) {
            w += shadowDepth_ / 2;
            h += shadowDepth_ / 2;
        }
        double b = (angle_ % 90) * std::numbers::pi / 180.0;
        if (angle_ == 90 || angle_ == 270)
            b += std::numbers::pi / 2;
        const double W = w, H = h;
        w = nearest(W * std::cos(b) + H * std::sin(b));
        h = nearest(W * std::sin(b) + H * std::cos(b));
    }
    size = QSize(w, h);
}

QSize TDcLabel::AutoSizeExtent() const
{
    TDcRect r = TDcRect::fromQRect(rect());
    ShrinkByBorders(r, true);
    const int width = std::max(r.Width(), 0);
    const QSize text = measure(QFontMetrics(font()), caption_, textFlags() | condenseFlag(condenseCaption_), width);
    QSize size(condenseCaption_ != ccNone ? std::min(text.width(), width) : text.width(), text.height());
    GrowByBorders(size);
    return size.expandedTo(QSize(0, 0));
}

void TDcLabel::AdjustBounds()
{
    if (!autoSize_ || loading_ || adjusting_)
        return;
    adjusting_ = true;
    // A label placed by a layout is sized through its size hint.
    if (parentWidget() && inLayout(parentWidget()->layout(), this)) {
        updateGeometry();
        adjusting_ = false;
        return;
    }
    const QSize size = AutoSizeExtent();
    int left = x();
    TAlignment align = alignment_;
    if (layoutDirection() == Qt::RightToLeft && align != taCenter)
        align = align == taLeftJustify ? taRightJustify : taLeftJustify;
    if (align == taRightJustify)
        left += width() - size.width();
    setGeometry(left, y(), size.width(), size.height());
    updateGeometry();
    adjusting_ = false;
}

QSize TDcLabel::sizeHint() const
{
    return AutoSizeExtent();
}

QSize TDcLabel::minimumSizeHint() const
{
    return autoSize_ ? AutoSizeExtent() : QSize(0, 0);
}

QPoint TDcLabel::GetCenterPoint() const
{
    const int W = width(), H = height(), B = borderWidth_;
    if (rotation_ == roFlat)
        return {W / 2, H / 2};
    switch (centerPoint_) {
    case cpUpperLeft:
        return {B, B};
    case cpUpperCenter:
        return {W / 2, B};
    case cpUpperRight:
        return {W - B, B};
    case cpLeftCenter:
        return {B, H / 2};
    case cpRightCenter:
        return {W - B, H / 2};
    case cpLowerLeft:
        return {B, H - B};
    case cpLowerCenter:
        return {W / 2, H - B};
    case cpLowerRight:
        return {W - B, H - B};
    case cpCenter:
    default:
        return {W / 2, H / 2};
    }
}

QPoint TDcLabel::GetCurveRadius() const
{
    const int W = width(), H = height(), B2 = 2 * borderWidth_;
    switch (centerPoint_) {
    case cpUpperCenter:
    case cpLowerCenter:
        return {W / 2 - B2, H - B2};
    case cpLeftCenter:
    case cpRightCenter:
        return {W - B2, H / 2 - B2};
    case cpCenter:
        return {W / 2 - B2, H / 2 - B2};
    default:
        return {W - B2, H - B2};
    }
}
