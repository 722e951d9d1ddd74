// Text routines the decorated label shares between its layout and its
// painting: the text flags of the system's text drawing call, condensing,
// measuring and turned drawing of the caption. Internal to the label.
#pragma once

#include "controls/DcLabel.h"

#include <QFontMetrics>
#include <QLayout>
#include <QPainter>

#include <algorithm>
#include <climits>
#include <cmath>

namespace dclabel {

// Text flags, with the values of the system's text drawing call.
inline constexpr int kTextLeft = 0x0;
inline constexpr int kTextCenter = 0x1;
inline constexpr int kTextRight = 0x2;
inline constexpr int kTextWordBreak = 0x10;
inline constexpr int kTextExpandTabs = 0x40;
inline constexpr int kTextNoPrefix = 0x800;
inline constexpr int kTextPathEllipsis = 0x4000;
inline constexpr int kTextEndEllipsis = 0x8000;
inline constexpr int kTextRtlReading = 0x20000;

// Reference point of a text start: horizontal and vertical placement.
enum class TextAlign { LeftTop, CenterTop, LeftBaseline, CenterBaseline };

inline int nearest(double x)
{
    return int(std::nearbyint(x));
}

inline int qtTextFlags(int flags)
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

inline int condenseFlag(TDcCondenseCaption condense)
{
    switch (condense) {
    case ccAtEnd:
        return kTextEndEllipsis;
    case ccWithinPath:
        return kTextPathEllipsis;
    default:
        return 0;
    }
}

// Shortens a one-line caption that does not fit `width` as the condense flag
// says: the end replaced by an ellipsis, or the middle of a path, keeping its
// last component.
inline QString condense(const QString& text, const QFontMetrics& fm, int width, int flags)
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
inline QSize measure(const QFontMetrics& fm, QString text, int flags, int width)
{
    if (text.isEmpty() || (!(flags & kTextNoPrefix) && text == QLatin1String("&")))
        text += QLatin1Char(' ');
    const int limit = (flags & kTextWordBreak) ? std::max(width, 1) : INT_MAX / 4;
    const QString shown = condense(text, fm, width, flags);
    const QRect r =
        fm.boundingRect(QRect(0, 0, limit, INT_MAX / 4), qtTextFlags(flags & ~(kTextRight | kTextCenter)), shown);
    return r.size();
}

// Draws `text` with its reference point at `p`, turned by `angle` degrees
// counter-clockwise, clipped to `clip`.
inline void drawTurned(
    QPainter& painter, const QRect& clip, QPoint p, const QString& text, double angle, TextAlign align)
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
inline void reliefPasses(TTextStyle style, bool light, TColor highlight, TColor shadow, Pass pass)
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
inline bool inLayout(const QLayout* layout, const QWidget* widget)
{
    if (!layout)
        return false;
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (item->widget() == widget || inLayout(item->layout(), widget))
            return true;
    }
    return false;
}

inline int frameExtent(TFrameStyleEx style, int bevelWidth)
{
    switch (style) {
    case fsNone:
        return 0;
    case fsFlat:
        return 1;
    case fsStatus:
    case fsPopup:
        return bevelWidth;
    default:
        return 2;
    }
}

}  // namespace dclabel
