#include "UOption.h"
#include "ui_UOption.h"

#include "app/global/global.h"
#include "controls/Gradient.h"
#include "platform/ui/Application.h"
#include "platform/ui/IniFile.h"
#include "platform/ui/Messages.h"
#include "platform/ui/WaitCursor.h"

#include <QKeyEvent>
#include <QShowEvent>

#include <optional>

TfrmOption::TfrmOption(AppContext& context, QWidget* parent)
    : QDialog(parent), context_(context), ui(new Ui::TfrmOption)
{
    ui->setupUi(this);
    kui::CentreOnScreenWhenShown(this);
    ui->Gradient1->setColorBegin(QColor(0xF4, 0xF7, 0xFC));
    ui->Gradient1->setColorEnd(QColor(0x9D, 0xB7, 0xDD));
    ui->Gradient1->setStyle(TGradient::gsLinearV);

    // The read-only fields: grey bold text.
    for (QLineEdit* e : {ui->edDoc, ui->edSpec}) {
        QFont f = e->font();
        f.setBold(true);
        e->setFont(f);
        QPalette p = e->palette();
        p.setColor(QPalette::Text, Qt::gray);
        e->setPalette(p);
    }
    for (QLineEdit* e : {ui->edDoc, ui->edSpec, ui->edDet, ui->edAdr, ui->edVille, ui->edTel, ui->edEmail})
        e->installEventFilter(this);

    connect(ui->btnOk, &QPushButton::clicked, this, &TfrmOption::btnOkClick);
    connect(ui->btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    kui::SetFixedBorder(this);
}

TfrmOption::~TfrmOption()
{
    delete ui;
}

QLineEdit* TfrmOption::edDoc() const
{
    return ui->edDoc;
}
QLineEdit* TfrmOption::edSpec() const
{
    return ui->edSpec;
}
QLineEdit* TfrmOption::edDet() const
{
    return ui->edDet;
}
QLineEdit* TfrmOption::edAdr() const
{
    return ui->edAdr;
}
QLineEdit* TfrmOption::edVille() const
{
    return ui->edVille;
}
QLineEdit* TfrmOption::edTel() const
{
    return ui->edTel;
}
QLineEdit* TfrmOption::edEmail() const
{
    return ui->edEmail;
}

void TfrmOption::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TfrmOption::FormShow()
{
    kui::WaitCursor wait;
    section_ = IniKeys::Params;
    fileName_ = AppDir + IniKeys::FileName;
    ui->edDoc->setText(PractitionerName);
    ui->edSpec->setText(SpecialityLine);
    const kui::TIniFile ini(fileName_);
    ui->edDet->setText(ini.ReadString(section_, IniKeys::Detail));
    ui->edAdr->setText(ini.ReadString(section_, IniKeys::Adresse));
    ui->edVille->setText(ini.ReadString(section_, IniKeys::Ville));
    ui->edTel->setText(ini.ReadString(section_, IniKeys::Tel));
    ui->edEmail->setText(ini.ReadString(section_, IniKeys::Email));
}

void TfrmOption::btnOkClick()
{
    {
        std::optional<kui::WaitCursor> wait(std::in_place);
        // Prepared by FormShow; a dialog never shown still writes the file
        // of the program directory.
        if (section_.isEmpty()) {
            section_ = IniKeys::Params;
            fileName_ = AppDir + IniKeys::FileName;
        }
        kui::TIniFile ini(fileName_);
        // The five together: a file that cannot take them keeps the previous five.
        const bool written = ini.WriteStrings(section_,
            {{IniKeys::Detail, ui->edDet->text()}, {IniKeys::Adresse, ui->edAdr->text()},
                {IniKeys::Ville, ui->edVille->text()}, {IniKeys::Tel, ui->edTel->text()},
                {IniKeys::Email, ui->edEmail->text()}});
        if (!written) {
            // Nothing is taken over: the dialog stays open with what was typed.
            wait.reset();
            kui::MsgError(QStringLiteral("Les paramètres n'ont pas pu être enregistrés.\r") + ini.ErrorText(), this);
            return;
        }
        PracticeDetail = ui->edDet->text();
        PracticeAddress = ui->edAdr->text();
        PracticeCity = ui->edVille->text();
        PracticePhone = ui->edTel->text();
        PracticeEmail = ui->edEmail->text();
    }
    accept();
}

bool TfrmOption::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (edStatutKeyPress(static_cast<QWidget*>(watched), key))
            return true;
    }
    return QDialog::eventFilter(watched, event);
}

bool TfrmOption::edStatutKeyPress(QWidget* edit, int key)
{
    if (key != Qt::Key_Return && key != Qt::Key_Enter)
        return false;
    // The next control in tab order that takes the focus, wrapping round.
    QWidget* next = edit->nextInFocusChain();
    while (next && next != edit &&
        (!(next->focusPolicy() & Qt::TabFocus) || !next->isEnabled() || !next->isVisibleTo(this) ||
            next->window() != this))
        next = next->nextInFocusChain();
    if (next)
        next->setFocus(Qt::TabFocusReason);
    return true;
}
