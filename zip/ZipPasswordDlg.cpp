#include "zip/ZipPasswordDlg.h"

#include "ui_ZipPasswordDlg.h"

#include <QStyle>

TPasswordDlg::TPasswordDlg(QWidget* parent, TPasswordButtons buttons) : QDialog(parent), ui(new Ui::TPasswordDlg)
{
    ui->setupUi(this);
    QFont f = font();
    f.setPixelSize(12);
    setFont(f);
    buttons << pwbOk;
    const struct {
        QPushButton* button;
        TPasswordButton which;
        int caption;
        QStyle::StandardPixmap glyph;
        int result;
    } rows[] = {
        {ui->btnOk, pwbOk, 10152, QStyle::SP_DialogOkButton, QDialog::Accepted},
        {ui->btnCancel, pwbCancel, 10153, QStyle::SP_DialogCancelButton, 2},
        {ui->btnCancelAll, pwbCancelAll, 10157, QStyle::SP_DialogNoButton, kResultCancelAll},
        {ui->btnAbort, pwbAbort, 10158, QStyle::SP_DialogAbortButton, kResultAbort},
    };
    for (const auto& r : rows) {
        r.button->setVisible(buttons.Has(r.which));
        r.button->setText(TZipArchiver::LoadZipStr(r.caption, QString()));
        r.button->setIcon(style()->standardIcon(r.glyph));
        const int result = r.result;
        connect(r.button, &QPushButton::clicked, this, [this, result] { done(result); });
        buttonCount_ += buttons.Has(r.which);
    }
    setFixedWidth(40 + kWidthPerButton * buttonCount_);
}

TPasswordDlg::~TPasswordDlg()
{
    delete ui;
}

QLineEdit* TPasswordDlg::edPassword() const
{
    return ui->edPassword;
}

void TPasswordDlg::SetPrompt(const QString& prompt)
{
    ui->lblPrompt->setText(prompt);
}

QPushButton* TPasswordDlg::Button(TPasswordButton which) const
{
    switch (which) {
    case pwbOk:
        return ui->btnOk;
    case pwbCancel:
        return ui->btnCancel;
    case pwbCancelAll:
        return ui->btnCancelAll;
    default:
        return ui->btnAbort;
    }
}
