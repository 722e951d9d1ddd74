#include "USplashEx.h"
#include "ui_USplashEx.h"

#include "app/global/global.h"
#include "controls/DcLabel.h"
#include "controls/Gradient.h"
#include "platform/ui/Application.h"
#include "platform/ui/ScreenKeys.h"

#include <QPainter>
#include <QPixmap>

namespace {

// The practice's sign: a white cross on a blue tile.
QPixmap Logo()
{
    QPixmap pixmap(96, 96);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1F, 0x4E, 0x9A));
    p.drawRoundedRect(QRectF(4, 4, 88, 88), 14, 14);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(38, 18, 20, 60));
    p.drawRect(QRectF(18, 38, 60, 20));
    return pixmap;
}

}  // namespace

TfrmSplashEx::TfrmSplashEx(QWidget* parent) : QDialog(parent), ui(new Ui::TfrmSplashEx)
{
    ui->setupUi(this);
    kui::EscapeDoesNothing(this);  // closed by its title bar only
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
        Qt::WindowCloseButtonHint);
    ui->Gradient1->setColorBegin(QColor(0xFF, 0xFF, 0xFF));
    ui->Gradient1->setColorEnd(QColor(0x80, 0xA0, 0xD0));
    ui->Gradient1->setStyle(TGradient::gsDiagonalLF);
    ui->imgLogo->setPixmap(Logo());
    for (TDcLabel* l : {ui->lblTitle, ui->lblVersion, ui->lblCredit1, ui->lblCredit2}) {
        l->setTransparent(true);
        l->setAlignment(TDcLabel::taCenter);
    }
    ui->lblTitle->setTextStyle(TDcLabel::tsRaised);
    QFont f = ui->lblTitle->font();
    f.setBold(true);
    f.setPointSize(14);
    ui->lblTitle->setFont(f);
    FormCreate();
    // Every resize is refused.
    adjustSize();
    resize(size().expandedTo(QSize(400, 220)));
    kui::SetFixedBorder(this);
    kui::CentreOnScreen(this);
}

TfrmSplashEx::~TfrmSplashEx()
{
    delete ui;
}

void TfrmSplashEx::FormCreate()
{
    ui->lblVersion->setText(AppVersion);
}

QString TfrmSplashEx::VersionText() const
{
    return ui->lblVersion->text();
}
