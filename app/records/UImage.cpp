#include "UImage.h"
#include "platform/ui/ScreenKeys.h"

#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

TfrmImage::TfrmImage(const QPixmap& picture, const QString& patient, QWidget* parent)
    : QDialog(parent), picture_(picture), xImage_(new QLabel), box_(new QScrollArea(this))
{
    setObjectName(QStringLiteral("frmImage"));
    kui::EscapeDoesNothing(this);  // no cancel button: Esc does nothing
    setWindowTitle(QStringLiteral("Photo - ") + patient);
    xImage_->setObjectName(QStringLiteral("xImage"));
    xImage_->setAlignment(Qt::AlignCenter);
    box_->setObjectName(QStringLiteral("ScrollBox1"));
    box_->setWidget(xImage_);
    box_->setWidgetResizable(true);
    box_->setAlignment(Qt::AlignCenter);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(box_);
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    box_->setMinimumSize(1, 1);
    setMinimumSize(1, 1);
    int w = 640, h = 480;
    bool heightChanged = false;
    if (picture.height() < h) {
        h = picture.height() + 40;
        heightChanged = true;
    }
    if (picture.width() < w)
        w = picture.width() + (heightChanged ? 13 : 30);
    resize(w, h);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    FitPicture();
}

void TfrmImage::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    FitPicture();
}

void TfrmImage::FitPicture()
{
    if (picture_.isNull())
        return;
    const QSize room = box_->maximumViewportSize() - QSize(2, 2);
    if (picture_.width() <= room.width() && picture_.height() <= room.height()) {
        xImage_->setPixmap(picture_);
        return;
    }
    xImage_->setPixmap(picture_.scaled(room.expandedTo(QSize(1, 1)), Qt::KeepAspectRatio, Qt::SmoothTransformation));
}
