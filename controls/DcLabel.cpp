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

TDcLabel::TDcLabel(QWidget *parent) : QWidget(parent)
{
    InitializeDcCommon();
    EnsureBlinkingControlsList()->Add(this);
    m_updatingColor = true;
    m_color = clBtnFace;
    m_parentColor = true;
    if (parentWidget())
        m_color = parentColorValue();
    m_updatingColor = false;
}

TDcLabel::~TDcLabel()
{
    if (m_frameController)
        m_frameController->RemoveControl(this);
    if (TDcBlinkingControlsList *list = BlinkingControlsList())
        list->Remove(this);
    ReleaseBlinkingControlsList();
}

// ---------------------------------------------------------------------------
// Caption and inherited label properties
// ---------------------------------------------------------------------------

void TDcLabel::setText(const QString &text)
{
    if (StoreChanged(m_caption, text))
        CMTextChanged();
}

void TDcLabel::CMTextChanged()
{
    AdjustBounds();
    Repaint();
}

Qt::Alignment TDcLabel::alignment() const
{
    Qt::Alignment a = m_alignment == taRightJustify ? Qt::AlignRight
                    : m_alignment == taCenter       ? Qt::AlignHCenter
                                                    : Qt::AlignLeft;
    a |= m_layout == tlBottom ? Qt::AlignBottom : m_layout == tlCenter ? Qt::AlignVCenter : Qt::AlignTop;
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
    if (value <= taCenter && StoreChanged(m_alignment, value))
        update();
}

void TDcLabel::setLayout(TTextLayout value)
{
    if (value <= tlBottom && StoreChanged(m_layout, value))
        update();
}

void TDcLabel::setAutoSize(bool value)
{
    if (!StoreChanged(m_autoSize, value))
        return;
    updateGeometry();
    AdjustBounds();
}

void TDcLabel::setWordWrap(bool value)
{
    if (!StoreChanged(m_wordWrap, value))
        return;
    AdjustBounds();
    update();
}

void TDcLabel::setShowAccelChar(bool value)
{
    if (!StoreChanged(m_showAccelChar, value))
        return;
    AdjustBounds();
    update();
}

void TDcLabel::setTransparent(bool value)
{
    if (StoreChanged(m_transparent, value))
        update();
}

void TDcLabel::setColor(TColor value)
{
    if (!StoreChanged(m_color, value))
        return;
    m_parentColor = false;
    update();
}

void TDcLabel::setParentColor(bool value)
{
    if (StoreChanged(m_parentColor, value) && value)
        CMParentColorChanged();
}

void TDcLabel::setFontColor(TColor value)
{
    if (StoreChanged(m_fontColor, value))
        CMFontChanged();
}

void TDcLabel::setFontName(const QString &name)
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
    if (value == m_angle)
        return;
    value = value < 0 ? 360 - std::abs(value) : value % 360;
    m_angle = value;
    if (!m_loading && value != 0 && !IsTrueTypeFont(font()))
        setFontName(QStringLiteral("Verdana"));
    if (m_angle != 0 && m_rotation == roNone)
        m_rotation = roFlat;
    AdjustBounds();
    Repaint();
}

void TDcLabel::setBlinking(bool value)
{
    if (!StoreChanged(m_blinking, value) || value)
        return;
    m_textColor = m_normalTextColor;
    Repaint();
}

void TDcLabel::setBlinkColor(TColor value)
{
    if (StoreChanged(m_blinkColor, value))
        update();
}

int TDcLabel::BlinkIntervalOff() const
{
    const TDcBlinkingControlsList *list = BlinkingControlsList();
    return list ? list->IntervalOff() : 500;
}

void TDcLabel::setBlinkIntervalOff(int value)
{
    const auto v = std::uint16_t(std::clamp(value, 0, 65535));
    TDcBlinkingControlsList *list = EnsureBlinkingControlsList();
    if (v != list->IntervalOff())
        list->setIntervalOff(v);
}

int TDcLabel::BlinkIntervalOn() const
{
    const TDcBlinkingControlsList *list = BlinkingControlsList();
    return list ? list->IntervalOn() : 500;
}

void TDcLabel::setBlinkIntervalOn(int value)
{
    const auto v = std::uint16_t(std::clamp(value, 0, 65535));
    TDcBlinkingControlsList *list = EnsureBlinkingControlsList();
    if (v != list->IntervalOn())
        list->setIntervalOn(v);
}

// The properties that only change how the label is painted.
void TDcLabel::setBevelWidth(int value) { if (StoreChanged(m_bevelWidth, value)) update(); }
void TDcLabel::setBorderInner(TFrameStyleEx value) { if (StoreChanged(m_borderInner, value)) update(); }
void TDcLabel::setBorderOuter(TFrameStyleEx value) { if (StoreChanged(m_borderOuter, value)) update(); }
void TDcLabel::setBorderColor(TColor value) { if (StoreChanged(m_borderColor, value)) update(); }
void TDcLabel::setBorderHighlight(TColor value) { if (StoreChanged(m_borderHighlight, value)) update(); }
void TDcLabel::setBorderShadow(TColor value) { if (StoreChanged(m_borderShadow, value)) update(); }
void TDcLabel::setBorderWidth(int value) { if (StoreChanged(m_borderWidth, value)) update(); }
void TDcLabel::setFlatColor(TColor value) { if (StoreChanged(m_flatColor, value)) update(); }
void TDcLabel::setFlatColorAdjustment(int value) { if (StoreChanged(m_flatColorAdjustment, value)) update(); }
void TDcLabel::setCenterPoint(TCenterPoint value) { if (StoreChanged(m_centerPoint, value)) update(); }
void TDcLabel::setFlyByColor(TColor value) { if (StoreChanged(m_flyByColor, value)) update(); }
void TDcLabel::setLightTextStyle(bool value) { if (StoreChanged(m_lightTextStyle, value)) update(); }
void TDcLabel::setHighlightColor(TColor value) { if (StoreChanged(m_highlightColor, value)) update(); }
void TDcLabel::setShadowColor(TColor value) { if (StoreChanged(m_shadowColor, value)) update(); }
void TDcLabel::setShadowDepth(int value) { if (StoreChanged(m_shadowDepth, value)) update(); }
void TDcLabel::setTextMargin(int value) { if (StoreChanged(m_textMargin, value)) update(); }
void TDcLabel::setTextStyle(TTextStyle value) { if (StoreChanged(m_textStyle, value)) update(); }
void TDcLabel::setBorderSides(int value) { if (StoreChanged(m_borderSides, TSides(value & sdsAll))) update(); }

void TDcLabel::setCondenseCaption(TDcCondenseCaption value)
{
    if (value > ccWithinPath || !StoreChanged(m_condenseCaption, value))
        return;
    if (value != ccNone)
        setAutoSize(false);
    update();
}

void TDcLabel::setFrameControllerNotifications(int value)
{
    m_frameControllerNotifications = TDcFrameControllerNotifications(value & fcnAll);
}

void TDcLabel::setFrameController(TDcFrameController *value)
{
    if (m_frameController)
        m_frameController->RemoveControl(this);
    m_frameController = value;
    if (value)
        value->AddControl(this);
}

void TDcLabel::setFlyByEnabled(bool value)
{
    if (!StoreChanged(m_flyByEnabled, value))
        return;
    // Turning it off always puts the saved colour back (black when the mouse
    // never came over the label).
    if (!value) {
        m_flyByShown = false;
        setFontColor(m_flyBySavedColor);
    }
    update();
}

void TDcLabel::setRotation(TRotation value)
{
    if (value == m_rotation || value > roCurve)
        return;
    if (!m_loading && value != roNone && !IsTrueTypeFont(font()))
        setFontName(QStringLiteral("Verdana"));
    m_rotation = value;
    if (value == roNone) {
        m_angle = 0;
    } else if (value == roFlat) {
        m_angle = 0;
        m_centerPoint = cpCenter;
    }
    update();
}

// ---------------------------------------------------------------------------
// Loading, notifications
// ---------------------------------------------------------------------------

void TDcLabel::Loaded()
{
    m_loading = false;
    AdjustBounds();
    if (m_rotation == roNone && m_angle != 0)
        m_rotation = roFlat;
    if (m_rotation != roNone && !IsTrueTypeFont(font()))
        setFontName(QStringLiteral("Verdana"));
    m_normalTextColor = m_fontColor;
    m_textColor = m_fontColor;
    update();
}

void TDcLabel::CMFontChanged()
{
    AdjustBounds();
    if (!m_loading) {
        if (!m_blinking) {
            m_normalTextColor = m_fontColor;
            m_textColor = m_fontColor;
        }
        if (m_angle != 0 && !IsTrueTypeFont(font()))
            m_angle = 0;
    }
    update();
}

TColor TDcLabel::parentColorValue() const
{
    const QWidget *p = parentWidget();
    if (!p)
        return m_color;
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
    if (m_updatingColor || !m_parentColor)
        return;
    const TColor c = parentColorValue();
    if (c != m_color) {
        m_color = c;
        update();
    }
}

void TDcLabel::changeEvent(QEvent *event)
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

bool TDcLabel::event(QEvent *event)
{
    const bool result = QWidget::event(event);
    if (event->type() == QEvent::ParentChange)
        CMParentColorChanged();
    return result;
}

void TDcLabel::enterEvent(QEnterEvent *event)
{
    QWidget::enterEvent(event);
    CMMouseEnter();
}

void TDcLabel::leaveEvent(QEvent *event)
{
    QWidget::leaveEvent(event);
    CMMouseLeave();
}

void TDcLabel::CMMouseEnter()
{
    if (m_flyByEnabled && !m_flyByShown) {
        m_flyBySavedColor = m_fontColor;
        m_flyByShown = true;
        setFontColor(m_flyByColor);
    }
    emit OnMouseEnter(this);
}

void TDcLabel::CMMouseLeave()
{
    if (m_flyByEnabled && m_flyByShown) {
        m_flyByShown = false;
        setFontColor(m_flyBySavedColor);
    }
    emit OnMouseLeave(this);
}

// ---------------------------------------------------------------------------
// Blinking and frame controller
// ---------------------------------------------------------------------------

void TDcLabel::Blink(bool state)
{
    m_textColor = state ? m_blinkColor : m_normalTextColor;
    Repaint();
}

void TDcLabel::CMBlink(bool state)
{
    if (m_blinking)
        Blink(state);
}

void TDcLabel::FrameControllerChanged()
{
    const TDcFrameController *fc = m_frameController;
    if (!fc || !fc->FrameVisible())
        return;
    const TDcFrameControllerNotifications n = m_frameControllerNotifications;
    if (n & fcnOf(fcpFrameStyle))
        m_borderOuter = fc->FrameStyle();
    if (n & fcnOf(fcpFrameSides))
        m_borderSides = fc->FrameSides();
    if (n & fcnOf(fcpFrameColor)) {
        m_flatColor = fc->FrameColor();
        m_flatColorAdjustment = 0;
    }
    if (n & fcnOf(fcpColor))
        m_color = fc->Color();
    if (n & fcnOf(fcpParentColor))
        m_parentColor = fc->ParentColor();
    if (n & fcnOf(fcpColor)) {
        m_borderHighlight = LighterColor(m_color, 100);
        m_borderShadow = DarkerColor(m_color, 50);
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

void TDcLabel::ShrinkByBorders(TDcRect &rect, bool includeBorderWidth) const
{
    if (includeBorderWidth) {
        rect.Left += m_borderWidth;
        rect.Top += m_borderWidth;
        rect.Right -= m_borderWidth;
        rect.Bottom -= m_borderWidth;
    }
    const int by = frameExtent(m_borderOuter, m_bevelWidth) + frameExtent(m_borderInner, m_bevelWidth);
    if (HasSide(m_borderSides, sdLeft))
        rect.Left += by;
    if (HasSide(m_borderSides, sdTop))
        rect.Top += by;
    if (HasSide(m_borderSides, sdRight))
        rect.Right -= by;
    if (HasSide(m_borderSides, sdBottom))
        rect.Bottom -= by;
}

void TDcLabel::GrowByBorders(QSize &size) const
{
    const int by = frameExtent(m_borderOuter, m_bevelWidth) + m_borderWidth +
                   frameExtent(m_borderInner, m_bevelWidth);
    int w = size.width(), h = size.height();
    if (HasSide(m_borderSides, sdLeft))
        w += by;
    if (HasSide(m_borderSides, sdRight))
        w += by;
    if (HasSide(m_borderSides, sdTop))
        h += by;
    if (HasSide(m_borderSides, sdBottom))
        h += by;
    if (m_rotation == roNone && m_textStyle == tsShadow) {
        w += m_shadowDepth;
        h += m_shadowDepth;
    } else if (m_rotation == roFlat && m_angle != 0 && m_angle != 180) {
        if (m_textStyle == tsShadow) {
            w += m_shadowDepth / 2;
            h += m_shadowDepth / 2;
        }
        double b = (m_angle % 90) * std::numbers::pi / 180.0;
        if (m_angle == 90 || m_angle == 270)
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
    const QSize text = measure(QFontMetrics(font()), m_caption, textFlags() | condenseFlag(m_condenseCaption), width);
    QSize size(m_condenseCaption != ccNone ? std::min(text.width(), width) : text.width(), text.height());
    GrowByBorders(size);
    return size.expandedTo(QSize(0, 0));
}

void TDcLabel::AdjustBounds()
{
    if (!m_autoSize || m_loading || m_adjusting)
        return;
    m_adjusting = true;
    // A label placed by a layout is sized through its size hint.
    if (parentWidget() && inLayout(parentWidget()->layout(), this)) {
        updateGeometry();
        m_adjusting = false;
        return;
    }
    const QSize size = AutoSizeExtent();
    int left = x();
    TAlignment align = m_alignment;
    if (layoutDirection() == Qt::RightToLeft && align != taCenter)
        align = align == taLeftJustify ? taRightJustify : taLeftJustify;
    if (align == taRightJustify)
        left += width() - size.width();
    setGeometry(left, y(), size.width(), size.height());
    updateGeometry();
    m_adjusting = false;
}

QSize TDcLabel::sizeHint() const
{
    return AutoSizeExtent();
}

QSize TDcLabel::minimumSizeHint() const
{
    return m_autoSize ? AutoSizeExtent() : QSize(0, 0);
}

QPoint TDcLabel::GetCenterPoint() const
{
    const int W = width(), H = height(), B = m_borderWidth;
    if (m_rotation == roFlat)
        return {W / 2, H / 2};
    switch (m_centerPoint) {
    case cpUpperLeft: return {B, B};
    case cpUpperCenter: return {W / 2, B};
    case cpUpperRight: return {W - B, B};
    case cpLeftCenter: return {B, H / 2};
    case cpRightCenter: return {W - B, H / 2};
    case cpLowerLeft: return {B, H - B};
    case cpLowerCenter: return {W / 2, H - B};
    case cpLowerRight: return {W - B, H - B};
    case cpCenter:
    default: return {W / 2, H / 2};
    }
}

QPoint TDcLabel::GetCurveRadius() const
{
    const int W = width(), H = height(), B2 = 2 * m_borderWidth;
    switch (m_centerPoint) {
    case cpUpperCenter:
    case cpLowerCenter: return {W / 2 - B2, H - B2};
    case cpLeftCenter:
    case cpRightCenter: return {W - B2, H / 2 - B2};
    case cpCenter: return {W / 2 - B2, H / 2 - B2};
    default: return {W - B2, H - B2};
    }
}
