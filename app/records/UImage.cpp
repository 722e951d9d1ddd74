#include "UImage.h"
#include "platform/ui/ScreenKeys.h"

#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

TfrmImage::TfrmImage(const QPixmap& picture, const QString& patient, QWidget* parent)
    : QDialog(parent), xImage_(new QLabel)
{
    setObjectName(QStringLiteral("frmImage"));
    kui::EscapeDoesNothing(this);  // no cancel button: Esc does nothing
    setWindowTitle(QStringLiteral("Photo - ") + patient);
    xImage_->setObjectName(QStringLiteral("xImage"));
    xImage_->setPixmap(picture);
    xImage_->resize(picture.size());
    auto* box = new QScrollArea(this);
    box->setObjectName(QStringLiteral("ScrollBox1"));
    box->setWidget(xImage_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(box);
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    box->setMinimumSize(1, 1);
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
}
