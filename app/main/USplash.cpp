#include "USplash.h"
#include "ui_USplash.h"

#include "app/global/global.h"
#include "controls/DcLabel.h"
#include "controls/Gradient.h"
#include "platform/ui/Application.h"

#include <QEventLoop>
#include <QTimer>

TfrmSplash::TfrmSplash(QWidget* parent) : QWidget(parent), ui(new Ui::TfrmSplash)
{
    ui->setupUi(this);
    setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint);
    setFixedSize(337, 104);
    ui->Gradient1->setColorBegin(QColor(0x10, 0x30, 0x80));
    ui->Gradient1->setColorEnd(QColor(0xA0, 0xC0, 0xF0));
    ui->Gradient1->setStyle(TGradient::gsLinearH);
    for (TDcLabel* l : {ui->lblLoading, ui->lblVersion}) {
        l->setTransparent(true);
        l->setAlignment(TDcLabel::taCenter);
        l->setLayout(TDcLabel::tlCenter);
        l->setFontColor(QColor(Qt::white));
        l->setShadowColor(QColor(Qt::black));
        l->setTextStyle(TDcLabel::tsShadow);
    }
    QFont f = ui->lblVersion->font();
    f.setBold(true);
    f.setPointSize(14);
    ui->lblVersion->setFont(f);
    kui::CentreOnScreen(this);
    FormCreate();
}

void TfrmSplash::ShowDuring(int milliseconds)
{
    TfrmSplash splash;
    splash.show();
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    // Only what the splash needs: no key or mouse reaches a window meanwhile.
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

TfrmSplash::~TfrmSplash()
{
    delete ui;
}

void TfrmSplash::FormCreate()
{
    ui->lblVersion->setText(AppVersion);
}

QString TfrmSplash::VersionText() const
{
    return ui->lblVersion->text();
}
