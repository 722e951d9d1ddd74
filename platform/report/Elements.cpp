// The printable elements and the page setup.
#include "platform/report/Report.h"

#include "platform/db/dataset/Dataset.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QTextDocument>

#include <cmath>

namespace krpt {

double TenthsToPx(double tenths)
{
    return tenths * 96.0 / 254.0;
}

PageSetup PageSetup::FromValues(Paper paper, bool landscape, const std::array<int, 7>& values)
{
    PageSetup setup;
    setup.paper = paper;
    setup.landscape = landscape;
    setup.bottomMargin = values[0];
    setup.pageLength = values[1];
    setup.topMargin = values[2];
    setup.pageWidth = values[3];
    setup.leftMargin = values[4];
    setup.rightMargin = values[5];
    setup.columnSpace = values[6];
    return setup;
}

QSizeF PageSetup::pageSize() const
{
    return {TenthsToPx(pageWidth), TenthsToPx(pageLength)};
}

QRectF PageSetup::contentRect() const
{
    const QSizeF size = pageSize();
    const double left = TenthsToPx(leftMargin), top = TenthsToPx(topMargin);
    return {left, top, size.width() - left - TenthsToPx(rightMargin), size.height() - top - TenthsToPx(bottomMargin)};
}

QFont LayoutFont(const QString& family, double pointSize, bool bold, bool underline, bool italic)
{
    QFont font(family);
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(pointSize * 96.0 / 72.0))));
    font.setBold(bold);
    font.setUnderline(underline);
    font.setItalic(italic);
    font.setStyleStrategy(QFont::StyleStrategy(QFont::ForceOutline | QFont::PreferQuality));
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setKerning(false);
    return font;
}

double Element::neededHeight(const PrintContext&) const
{
    return rect.height();
}

// ---- Label ----------------------------------------------------------------

QString Label::text(const PrintContext&) const
{
    return caption;
}

static int TextFlags(const Label& label)
{
    return int(label.alignment) | (label.wordWrap ? Qt::TextWordWrap : 0);
}

double Label::neededHeight(const PrintContext& context) const
{
    if (!autoStretch)
        return rect.height();
    const QFontMetricsF metrics(font);
    const QRectF bounds = metrics.boundingRect(QRectF(0, 0, rect.width(), 1e6), TextFlags(*this), text(context));
    return std::max(rect.height(), std::ceil(bounds.height()));
}

void Label::draw(QPainter& painter, const QRectF& area, const PrintContext& context) const
{
    if (background.isValid())
        painter.fillRect(area, background);
    painter.setFont(font);
    painter.setPen(color);
    painter.drawText(area, TextFlags(*this), text(context));
}

DbText::DbText()
{
    wordWrap = true;
    autoStretch = true;
}

QString DbText::text(const PrintContext&) const
{
    if (!dataset || !dataset->active() || (dataset->eof() && dataset->bof()))
        return {};
    const kdb::Field* f = dataset->findField(field);
    return f ? f->asString().trimmed() : QString();
}

QString PageNumber::text(const PrintContext& context) const
{
    return format.arg(context.pageNumber);
}

QString PrintDate::text(const PrintContext& context) const
{
    return context.printedAt.toString(format);
}

// ---- Shape, Image, RichText -------------------------------------------------

void Shape::draw(QPainter& painter, const QRectF& area, const PrintContext&) const
{
    QPen pen(penColor, penWidth, penStyle);
    pen.setCapStyle(Qt::FlatCap);
    painter.setPen(pen);
    painter.setBrush(fill.isValid() ? QBrush(fill) : Qt::NoBrush);
    // The pen is drawn inside the element.
    const double half = penWidth / 2;
    switch (kind) {
    case Rectangle:
        painter.drawRect(area.adjusted(half, half, -half, -half));
        break;
    case Circle:
        painter.drawEllipse(area.adjusted(half, half, -half, -half));
        break;
    case HorizontalLine:
        painter.drawLine(QPointF(area.left(), area.center().y()), QPointF(area.right(), area.center().y()));
        break;
    case VerticalLine:
        painter.drawLine(QPointF(area.center().x(), area.top()), QPointF(area.center().x(), area.bottom()));
        break;
    }
}

bool Image::loadFromFile(const QString& fileName)
{
    picture_ = QImage(fileName);
    return !picture_.isNull();
}

void Image::draw(QPainter& painter, const QRectF& area, const PrintContext& context) const
{
    if (picture_.isNull())
        return;
    if (source && context.placeSource) {
        const QRectF target = stretch ? area : QRectF(area.topLeft(), QSizeF(picture_.width(), picture_.height()));
        const QTransform toPage = painter.worldTransform();
        context.placeSource(toPage.mapRect(target), toPage.mapRect(area), source, picture_);
        return;
    }
    if (stretch) {
        painter.drawImage(area, picture_);
    } else {
        painter.save();
        painter.setClipRect(area);
        painter.drawImage(QRectF(area.topLeft(), QSizeF(picture_.width(), picture_.height())), picture_);
        painter.restore();
    }
}

RichText::RichText() : document_(std::make_unique<QTextDocument>())
{
    document_->setDocumentMargin(0);
}

RichText::~RichText() = default;

double RichText::neededHeight(const PrintContext&) const
{
    document_->setTextWidth(rect.width());
    return std::max(rect.height(), std::ceil(document_->size().height()));
}

void RichText::draw(QPainter& painter, const QRectF& area, const PrintContext&) const
{
    if (background.isValid())
        painter.fillRect(area, background);
    document_->setTextWidth(area.width());
    painter.save();
    painter.translate(area.topLeft());
    document_->drawContents(&painter, QRectF(QPointF(0, 0), area.size()));
    painter.restore();
}

// ---- Band ------------------------------------------------------------------

Label& Band::addLabel(
    const QString& name, const QString& caption, const QRectF& rect, const QFont& font, Qt::Alignment alignment)
{
    Label& label = add<Label>(name, rect);
    label.caption = caption;
    label.font = font;
    label.alignment = alignment;
    return label;
}

DbText& Band::addDbText(
    const QString& name, kdb::Dataset* source, const std::string& fieldName, const QRectF& rect, const QFont& font)
{
    DbText& text = add<DbText>(name, rect);
    text.dataset = source;
    text.field = fieldName;
    text.font = font;
    return text;
}

Shape& Band::addShape(const QString& name, Shape::Kind kind, const QRectF& rect)
{
    Shape& shape = add<Shape>(name, rect);
    shape.kind = kind;
    return shape;
}

Element* Band::find(const QString& name) const
{
    for (const auto& element : elements_)
        if (element->name == name)
            return element.get();
    return nullptr;
}

}  // namespace krpt
