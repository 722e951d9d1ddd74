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

namespace {

// Text flags, with the values of the system's text drawing call.
constexpr int kTextLeft = 0x0;
constexpr int kTextCenter = 0x1;
constexpr int kTextRight = 0x2;
constexpr int kTextWordBreak = 0x10;
constexpr int kTextExpandTabs = 0x40;
constexpr int kTextNoPrefix = 0x800;
constexpr int kTextPathEllipsis = 0x4000;
constexpr int kTextEndEllipsis = 0x8000;
constexpr int kTextRtlReading = 0x20000;

// Reference point of a text start: horizontal and vertical placement.
enum class TextAlign { LeftTop, CenterTop, LeftBaseline, CenterBaseline };

int nearest(double x)
{
    return int(std::nearbyint(x));
}

int qtTextFlags(int flags)
{
    int q = Qt::AlignTop;
    if (flags & kTextRight)
        q |= Qt::AlignRight;
    else if (flags & kTextCenter)
        q |= Qt::AlignHCenter;
    else
        q |= Qt::AlignLeft;
    if (flags & kTextExpandTabs)
        q |= Qt::TextExpandTabs;
    if (flags & kTextWordBreak)
        q |= Qt::TextWordWrap;
    if (!(flags & kTextNoPrefix))
        q |= Qt::TextShowMnemonic;
    return q;
}

int condenseFlag(TDcCondenseCaption condense)
{
    switch (condense) {
    case ccAtEnd: return kTextEndEllipsis;
    case ccWithinPath: return kTextPathEllipsis;
    default: return 0;
    }
}

// Shortens a one-line caption that does not fit `width` as the condense flag
// says: the end replaced by an ellipsis, or the middle of a path, keeping its
// last component.
QString condense(const QString &text, const QFontMetrics &fm, int width, int flags)
{
    if ((flags & kTextWordBreak) || !(flags & (kTextEndEllipsis | kTextPathEllipsis)) ||
        text.contains(QLatin1Char('\n')) || fm.horizontalAdvance(text) <= width)
        return text;
    if (flags & kTextEndEllipsis)
        return fm.elidedText(text, Qt::ElideRight, width);
    const int cut = int(std::max(text.lastIndexOf(QLatin1Char('\\')), text.lastIndexOf(QLatin1Char('/'))));
    if (cut <= 0)
        return fm.elidedText(text, Qt::ElideMiddle, width);
    const QString tail = text.mid(cut);
    const int room = width - fm.horizontalAdvance(tail);
    if (room <= fm.horizontalAdvance(QStringLiteral("...")))
        return fm.elidedText(text, Qt::ElideLeft, width);
    return fm.elidedText(text.left(cut), Qt::ElideRight, room) + tail;
}

// The width and height the caption takes when drawn with `flags` in a
// rectangle `width` wide (an empty caption measures as one blank).
QSize measure(const QFontMetrics &fm, QString text, int flags, int width)
{
    if (text.isEmpty() || (!(flags & kTextNoPrefix) && text == QLatin1String("&")))
        text += QLatin1Char(' ');
    const int limit = (flags & kTextWordBreak) ? std::max(width, 1) : INT_MAX / 4;
    const QString shown = condense(text, fm, width, flags);
    const QRect r = fm.boundingRect(QRect(0, 0, limit, INT_MAX / 4), qtTextFlags(flags & ~(kTextRight | kTextCenter)), shown);
    return r.size();
}

// Draws `text` with its reference point at `p`, turned by `angle` degrees
// counter-clockwise, clipped to `clip`.
void drawTurned(QPainter &painter, const QRect &clip, QPoint p, const QString &text, double angle, TextAlign align)
{
    const QFontMetrics fm(painter.font());
    painter.save();
    painter.setClipRect(clip);
    painter.translate(p);
    if (angle != 0)
        painter.rotate(-angle);
    int x = 0, y = 0;
    if (align == TextAlign::CenterTop || align == TextAlign::CenterBaseline)
        x = -fm.horizontalAdvance(text) / 2;
    if (align == TextAlign::LeftTop || align == TextAlign::CenterTop)
        y = fm.ascent();
    painter.drawText(QPoint(x, y), text);
    painter.restore();
}

// The passes under a raised or recessed caption: the first colour one pixel
// down-right, the second one pixel up-left (shadow then highlight when raised,
// the other way round when recessed); the light style leaves out the pass on
// the lit side. Other styles have no such pass.
template <typename Pass>
void reliefPasses(TTextStyle style, bool light, TColor highlight, TColor shadow, Pass pass)
{
    if (style != tsRaised && style != tsRecessed)
        return;
    const TColor first = style == tsRaised ? shadow : highlight;
    const TColor second = style == tsRaised ? highlight : shadow;
    if (!(light && style == tsRaised))
        pass(first, 1, 1);
    if (!(light && style == tsRecessed))
        pass(second, -1, -1);
}

// True when `widget` is placed by a layout of its parent.
bool inLayout(const QLayout *layout, const QWidget *widget)
{
    if (!layout)
        return false;
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        if (item->widget() == widget || inLayout(item->layout(), widget))
            return true;
    }
    return false;
}

int frameExtent(TFrameStyleEx style, int bevelWidth)
{
    switch (style) {
    case fsNone: return 0;
    case fsFlat: return 1;
    case fsStatus:
    case fsPopup: return bevelWidth;
    default: return 2;
    }
}

} // namespace

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

// ---------------------------------------------------------------------------
// Painting
// ---------------------------------------------------------------------------

int TDcLabel::textFlags() const
{
    TAlignment align = m_alignment;
    const bool rtl = layoutDirection() == Qt::RightToLeft;
    if (rtl && align != taCenter)
        align = align == taLeftJustify ? taRightJustify : taLeftJustify;
    int flags = (align == taRightJustify ? kTextRight : align == taCenter ? kTextCenter : kTextLeft) | kTextExpandTabs;
    if (rtl)
        flags |= kTextRtlReading;
    if (m_wordWrap)
        flags |= kTextWordBreak;
    if (!m_showAccelChar)
        flags |= kTextNoPrefix;
    return flags;
}

void TDcLabel::ApplyLayout(const QString &text, int flags, TDcRect &rect) const
{
    if (m_layout != tlTop) {
        const QSize m = measure(QFontMetrics(font()), text, flags | condenseFlag(m_condenseCaption), rect.Width());
        const int dy = m_layout == tlBottom ? rect.Height() - m.height() : (rect.Height() - m.height()) / 2;
        rect.Top += dy;
        rect.Bottom += dy;
    }
    if ((flags & kTextRight) && m_textStyle == tsShadow) {
        rect.Left -= m_shadowDepth;
        rect.Right -= m_shadowDepth;
    }
    if (m_layout == tlBottom && m_textStyle == tsShadow) {
        rect.Top -= m_shadowDepth;
        rect.Bottom -= m_shadowDepth;
    }
}

void TDcLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    TDcRect r{0, 0, width(), height()};
    r = DrawFrameStyle(painter, r, m_borderOuter, m_borderInner, m_borderWidth, m_borderSides, m_bevelWidth,
                       m_borderColor, m_borderHighlight, m_borderShadow, m_flatColor, m_flatColorAdjustment,
                       m_color, parentColorValue(), m_transparent, false);
    if (!m_transparent && r.Width() > 0 && r.Height() > 0 && m_color != clNone)
        painter.fillRect(r.toQRect(), TColorToQColor(m_color));
    painter.setBrush(Qt::NoBrush);
    if (m_rotation == roCurve)
        DrawCurvedText(painter);
    else
        DrawStyledText(painter);
}

void TDcLabel::DrawStyledText(QPainter &painter)
{
    const int s = m_shadowDepth / 2;
    TDcRect r = TDcRect::fromQRect(rect());
    ShrinkByBorders(r, true);
    r.Left += m_textMargin;
    r.Top += m_textMargin;
    r.Right -= m_textMargin;
    r.Bottom -= m_textMargin;

    const int flags = textFlags();
    const int condenseBits = condenseFlag(m_condenseCaption);
    painter.setFont(font());
    const QFontMetrics fm(font());
    QPoint p = GetCenterPoint();
    const QString caption = GetLabelText();
    const bool flat = m_rotation == roFlat;
    TextAlign align = TextAlign::LeftTop;

    if (flat) {
        const double a = m_angle * std::numbers::pi / 180.0 + std::numbers::pi / 2;
        const double q = fm.height() / 4.0;
        const int t = m_textStyle == tsShadow ? s : 0;
        const int W = fm.horizontalAdvance(caption) + t;
        const int H = fm.height() + t;
        const bool centred = flags & kTextCenter;
        const bool right = flags & kTextRight;
        switch (m_angle) {
        case 0:
            if (centred)
                align = TextAlign::CenterTop;
            else if (right)
                p.setX(r.Right - W - t);
            else
                p.setX(r.Left + t);
            p.setY(p.y() - H / 2);
            break;
        case 90:
            p.setX(p.x() - nearest(q * std::cos(a)));
            p.setY(centred ? r.Bottom - (r.Bottom - W) / 2 : right ? r.Top + W + t : r.Bottom - t);
            align = TextAlign::LeftBaseline;
            break;
        case 180:
            p.setX(centred ? r.Right - (r.Right - W) / 2 : right ? r.Left + W : r.Right - t);
            p.setY(p.y() - H / 4);
            align = TextAlign::LeftBaseline;
            break;
        case 270:
            p.setX(p.x() - nearest(q * std::cos(a)));
            p.setY(centred ? (r.Bottom - W) / 2 : right ? r.Bottom - W - t : r.Top + t);
            align = TextAlign::LeftBaseline;
            break;
        default:
            p.setX(p.x() - nearest(q * std::cos(a)));
            p.setY(p.y() + nearest(q * std::sin(a)));
            align = TextAlign::CenterBaseline;
            break;
        }
        painter.setFont(CreateRotatedFont(font(), m_angle).toQFont());
    }

    const QRect clip = r.toQRect();
    const double turn = CreateRotatedFont(font(), m_angle).Escapement / 10.0;
    // One pass of the caption in `color`, moved by (dx, dy).
    const auto pass = [&](TColor color, int dx, int dy) {
        painter.setPen(TColorToQColor(color));
        if (flat) {
            drawTurned(painter, clip.translated(dx, dy), p + QPoint(dx, dy), caption, turn, align);
            return;
        }
        TDcRect r2 = r;
        ApplyLayout(caption, flags, r2);
        r2.Left += dx;
        r2.Right += dx;
        r2.Top += dy;
        r2.Bottom += dy;
        const QString shown = condense(caption, QFontMetrics(painter.font()), r2.Width(), flags | condenseBits);
        painter.drawText(r2.toQRect(), qtTextFlags(flags), shown);
    };
    // Flat passes other than the raised and recessed ones keep the clip
    // rectangle where it is and move only the start point.
    const auto flatPass = [&](TColor color, int dx, int dy) {
        painter.setPen(TColorToQColor(color));
        drawTurned(painter, clip, p + QPoint(dx, dy), caption, turn, align);
    };

    if (!isEnabled()) {
        if (flat) {
            flatPass(clBtnHighlight, 1, 1);
            flatPass(clBtnShadow, 0, 0);
        } else {
            pass(clBtnHighlight, 1, 1);
            pass(clBtnShadow, 0, 0);
        }
        return;
    }

    reliefPasses(m_textStyle, m_lightTextStyle, m_highlightColor, m_shadowColor, pass);
    if (m_textStyle == tsShadow) {
        if (flat)
            flatPass(m_shadowColor, s, s);
        else
            pass(m_shadowColor, m_shadowDepth, m_shadowDepth);
    }
    if (flat)
        flatPass(m_textColor, m_textStyle == tsShadow ? -s : 0, m_textStyle == tsShadow ? -s : 0);
    else
        pass(m_textColor, 0, 0);
}

void TDcLabel::DrawCurvedText(QPainter &painter)
{
    const QString text = GetLabelText();
    const QPoint p = GetCenterPoint();
    const QPoint radius = GetCurveRadius();
    painter.setFont(font());
    const QFontMetrics fm(font());
    double a = m_angle * std::numbers::pi / 180.0;
    const TDcFontDescription description = CreateRotatedFont(font(), 0);
    const int yy = fm.height();
    const int step = fm.horizontalAdvance(QLatin1Char('w')) + 2;
    const QRect all = rect();
    const auto out = [&](TColor color, int x, int y, const QString &c, double turn) {
        painter.setPen(TColorToQColor(color));
        drawTurned(painter, all, QPoint(x, y), c, turn, TextAlign::CenterBaseline);
    };

    for (const QChar ch : text) {
        const QString c(ch);
        const int x = p.x() - nearest(std::sin(a) * (radius.x() - yy));
        const int y = p.y() - nearest(std::cos(a) * (radius.y() - yy));
        TDcFontDescription lf = description;
        lf.Escapement = nearest(a * 1800 / std::numbers::pi);
        painter.setFont(lf.toQFont());
        const double turn = lf.Escapement / 10.0;
        const auto shifted = [&](TColor color, int dx, int dy) { out(color, x + dx, y + dy, c, turn); };
        reliefPasses(m_textStyle, m_lightTextStyle, m_highlightColor, m_shadowColor, shifted);
        if (m_textStyle == tsShadow)
            shifted(m_shadowColor, m_shadowDepth, m_shadowDepth);
        TColor color = m_textColor;
        if (!isEnabled()) {
            out(clBtnHighlight, x + 1, y + 1, c, turn);
            color = clBtnShadow;
        }
        out(color, x, y, c, turn);
        if (radius.x() != 0)
            a -= double(step) / radius.x();
    }
}
