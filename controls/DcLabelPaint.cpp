// The painting of the decorated label.
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

// ---------------------------------------------------------------------------
// Painting
// ---------------------------------------------------------------------------

int TDcLabel::textFlags() const
{
    TAlignment align = alignment_;
    const bool rtl = layoutDirection() == Qt::RightToLeft;
    if (rtl && align != taCenter)
        align = align == taLeftJustify ? taRightJustify : taLeftJustify;
    int flags = (align == taRightJustify ? kTextRight : align == taCenter ? kTextCenter : kTextLeft) | kTextExpandTabs;
    if (rtl)
        flags |= kTextRtlReading;
    if (wordWrap_)
        flags |= kTextWordBreak;
    if (!showAccelChar_)
        flags |= kTextNoPrefix;
    return flags;
}

void TDcLabel::ApplyLayout(const QString& text, int flags, TDcRect& rect) const
{
    if (layout_ != tlTop) {
        const QSize m = measure(QFontMetrics(font()), text, flags | condenseFlag(condenseCaption_), rect.Width());
        const int dy = layout_ == tlBottom ? rect.Height() - m.height() : (rect.Height() - m.height()) / 2;
        rect.Top += dy;
        rect.Bottom += dy;
    }
    if ((flags & kTextRight) && textStyle_ == tsShadow) {
        rect.Left -= shadowDepth_;
        rect.Right -= shadowDepth_;
    }
    if (layout_ == tlBottom && textStyle_ == tsShadow) {
        rect.Top -= shadowDepth_;
        rect.Bottom -= shadowDepth_;
    }
}

void TDcLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    TDcRect r{0, 0, width(), height()};
    r = DrawFrameStyle(painter, r, borderOuter_, borderInner_, borderWidth_, borderSides_, bevelWidth_, borderColor_,
        borderHighlight_, borderShadow_, flatColor_, flatColorAdjustment_, color_, parentColorValue(), transparent_,
        false);
    if (!transparent_ && r.Width() > 0 && r.Height() > 0 && color_ != clNone)
        painter.fillRect(r.toQRect(), TColorToQColor(color_));
    painter.setBrush(Qt::NoBrush);
    if (rotation_ == roCurve)
        DrawCurvedText(painter);
    else
        DrawStyledText(painter);
}

void TDcLabel::DrawStyledText(QPainter& painter)
{
    const int s = shadowDepth_ / 2;
    TDcRect r = TDcRect::fromQRect(rect());
    ShrinkByBorders(r, true);
    r.Left += textMargin_;
    r.Top += textMargin_;
    r.Right -= textMargin_;
    r.Bottom -= textMargin_;

    const int flags = textFlags();
    const int condenseBits = condenseFlag(condenseCaption_);
    painter.setFont(font());
    const QFontMetrics fm(font());
    QPoint p = GetCenterPoint();
    const QString caption = GetLabelText();
    const bool flat = rotation_ == roFlat;
    TextAlign align = TextAlign::LeftTop;

    if (flat) {
        const double a = angle_ * std::numbers::pi / 180.0 + std::numbers::pi / 2;
        const double q = fm.height() / 4.0;
        const int t = textStyle_ == tsShadow ? s : 0;
        const int W = fm.horizontalAdvance(caption) + t;
        const int H = fm.height() + t;
        const bool centred = flags & kTextCenter;
        const bool right = flags & kTextRight;
        switch (angle_) {
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
        painter.setFont(CreateRotatedFont(font(), angle_).toQFont());
    }

    const QRect clip = r.toQRect();
    const double turn = CreateRotatedFont(font(), angle_).Escapement / 10.0;
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

    reliefPasses(textStyle_, lightTextStyle_, highlightColor_, shadowColor_, pass);
    if (textStyle_ == tsShadow) {
        if (flat)
            flatPass(shadowColor_, s, s);
        else
            pass(shadowColor_, shadowDepth_, shadowDepth_);
    }
    if (flat)
        flatPass(textColor_, textStyle_ == tsShadow ? -s : 0, textStyle_ == tsShadow ? -s : 0);
    else
        pass(textColor_, 0, 0);
}

void TDcLabel::DrawCurvedText(QPainter& painter)
{
    const QString text = GetLabelText();
    const QPoint p = GetCenterPoint();
    const QPoint radius = GetCurveRadius();
    painter.setFont(font());
    const QFontMetrics fm(font());
    double a = angle_ * std::numbers::pi / 180.0;
    const TDcFontDescription description = CreateRotatedFont(font(), 0);
    const int yy = fm.height();
    const int step = fm.horizontalAdvance(QLatin1Char('w')) + 2;
    const QRect all = rect();
    const auto out = [&](TColor color, int x, int y, const QString& c, double turn) {
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
        reliefPasses(textStyle_, lightTextStyle_, highlightColor_, shadowColor_, shifted);
        if (textStyle_ == tsShadow)
            shifted(shadowColor_, shadowDepth_, shadowDepth_);
        TColor color = textColor_;
        if (!isEnabled()) {
            out(clBtnHighlight, x + 1, y + 1, c, turn);
            color = clBtnShadow;
        }
        out(color, x, y, c, turn);
        if (radius.x() != 0)
            a -= double(step) / radius.x();
    }
}
